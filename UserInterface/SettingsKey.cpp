#include "SettingsKey.h"

const char CRegistrySettingsKey::DriverKey[] = "SOFTWARE\\Veltrane\\Drivers\\QOR";

bool CRegistrySettingsKey::Open(const std::string &subKey, const std::string &machine)
{
    Close();
    HKEY root = HKEY_LOCAL_MACHINE;
    if (!machine.empty()) {
        std::string name = machine.compare(0, 2, "\\\\") == 0 ? machine : "\\\\" + machine;
        if (RegConnectRegistryA(name.c_str(), HKEY_LOCAL_MACHINE, &m_root) != ERROR_SUCCESS) {
            m_root = NULL;
            return false;
        }
        root = m_root;
    }
    std::string path = subKey.empty() ? std::string(DriverKey) : std::string(DriverKey) + "\\" + subKey;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &m_key, nullptr) != ERROR_SUCCESS) {
        m_key = NULL;
        Close();
        return false;
    }
    return true;
}

void CRegistrySettingsKey::Close()
{
    if (m_key)
        RegCloseKey(m_key);
    if (m_root)
        RegCloseKey(m_root);
    m_key = m_root = NULL;
}

bool CRegistrySettingsKey::ReadText(const std::string &name, std::string &text)
{
    // Template texts are read into a 128-byte buffer.
    char buffer[129] = "";
    DWORD type = 0, size = 128;
    if (!m_key || RegQueryValueExA(m_key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) !=
                      ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    buffer[size < 128 ? size : 128] = 0;
    text = buffer;
    return true;
}

bool CRegistrySettingsKey::ReadNumber(const std::string &name, DWORD &value)
{
    DWORD type = 0, size = sizeof value, read = 0;
    if (!m_key || RegQueryValueExA(m_key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&read), &size) !=
                      ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    value = read;
    return true;
}

bool CRegistrySettingsKey::WriteText(const std::string &name, const std::string &text)
{
    return m_key && RegSetValueExA(m_key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                   DWORD(text.size() + 1)) == ERROR_SUCCESS;
}

bool CRegistrySettingsKey::WriteNumber(const std::string &name, DWORD value)
{
    return m_key && RegSetValueExA(m_key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                   sizeof value) == ERROR_SUCCESS;
}
