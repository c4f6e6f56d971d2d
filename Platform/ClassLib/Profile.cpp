#include "Profile.h"
#include <windows.h>

CUserProfile::CUserProfile(const char *registryKey, const char *application)
    : m_base(std::string("Software\\") + registryKey + "\\" + application)
{
}

std::string CUserProfile::SectionKey(const char *section) const
{
    return m_base + "\\" + section;
}

unsigned long CUserProfile::ReadInt(const char *section, const char *entry, unsigned long defaultValue)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return defaultValue;
    DWORD type = 0, value = 0, size = sizeof(value);
    const LONG rc = RegQueryValueExA(key, entry, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return defaultValue;
    return value;
}

bool CUserProfile::WriteInt(const char *section, const char *entry, unsigned long value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    const DWORD data = value;
    const LONG rc = RegSetValueExA(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), sizeof(data));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
