#include "Profile.h"
#include <vector>

std::string CRegistryProfile::GetString(const std::string &section, const std::string &entry,
                                        const std::string &fallback)
{
    HKEY key;
    if (RegOpenKeyExA(m_root, SectionKey(section.c_str()).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
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

unsigned long CRegistryProfile::ReadInt(const char *section, const char *entry, unsigned long defaultValue)
{
    HKEY key;
    if (RegOpenKeyExA(m_root, SectionKey(section).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return defaultValue;
    DWORD type = 0, value = 0, size = sizeof(value);
    const LONG rc = RegQueryValueExA(key, entry, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return defaultValue;
    return value;
}

// Writes one value into its section, creating the section's key.
static bool WriteValue(HKEY root, const std::string &path, const char *entry, DWORD type, const void *data,
                       DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExA(key, entry, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool CRegistryProfile::WriteString(const std::string &section, const std::string &entry, const std::string &value)
{
    return WriteValue(m_root, SectionKey(section.c_str()), entry.c_str(), REG_SZ, value.c_str(),
                      DWORD(value.size() + 1));
}

bool CRegistryProfile::WriteInt(const char *section, const char *entry, unsigned long value)
{
    const DWORD data = value;
    return WriteValue(m_root, SectionKey(section), entry, REG_DWORD, &data, sizeof(data));
}
