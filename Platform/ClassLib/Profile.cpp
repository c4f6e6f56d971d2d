#include "Profile.h"
#include <vector>

std::string CRegistryProfile::GetString(const std::string &section, const std::string &entry,
                                        const std::string &fallback)
{
    HKEY key;
    std::string path = m_key + "\\" + section;
    if (RegOpenKeyExA(m_root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return fallback;
    DWORD type = 0, size = 0;
    std::string value = fallback;
    if (RegQueryValueExA(key, entry.c_str(), NULL, &type, NULL, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<char> text(size_t(size) + 1, '\0');
        if (RegQueryValueExA(key, entry.c_str(), NULL, &type, reinterpret_cast<BYTE *>(text.data()), &size) ==
            ERROR_SUCCESS)
            value = text.data();
    }
    RegCloseKey(key);
    return value;
}

bool CRegistryProfile::WriteString(const std::string &section, const std::string &entry, const std::string &value)
{
    HKEY key;
    std::string path = m_key + "\\" + section;
    if (RegCreateKeyExA(m_root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, entry.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             DWORD(value.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
