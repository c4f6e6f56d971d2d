#include "Registry.h"
#include <cstdio>
#include <cstring>

CRegistry::CRegistry()
    : m_root(HKEY_LOCAL_MACHINE), m_remoteRoot(false), m_access(KEY_READ), m_key(NULL), m_index(0)
{
}

CRegistry::~CRegistry()
{
    CloseKey();
    if (m_remoteRoot)
        RegCloseKey(m_root);
}

LONG CRegistry::OpenKey(const char *subKey, const char *machine, unsigned long access)
{
    m_index = 0;
    if (access != KEY_READ)
        m_access = access;
    CloseKey();
    if (machine && *machine) {
        HKEY remote = NULL;
        LONG rc = RegConnectRegistryA(machine, m_root, &remote);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (m_remoteRoot)
            RegCloseKey(m_root);
        m_root = remote;
        m_remoteRoot = true;
    }
    DWORD disposition = 0;
    return RegCreateKeyExA(m_root, subKey ? subKey : "", 0, NULL, REG_OPTION_NON_VOLATILE,
                           m_access, NULL, &m_key, &disposition);
}

LONG CRegistry::NextKeyName(char *name)
{
    if (!name)
        return ERROR_INVALID_PARAMETER;
    char buffer[MaxKeyName + 1];
    DWORD size = sizeof(buffer);
    LONG rc = m_key ? RegEnumKeyExA(m_key, m_index, buffer, &size, NULL, NULL, NULL, NULL)
                    : ERROR_INVALID_HANDLE;
    if (rc != ERROR_SUCCESS) {
        name[0] = '\0';
        m_index = 0;
        return rc;
    }
    memcpy(name, buffer, size + 1);
    ++m_index;
    return ERROR_SUCCESS;
}

LONG CRegistry::DeleteKey(const char *subKey)
{
    return RegDeleteKeyA(m_root, subKey);
}

void CRegistry::CloseKey()
{
    if (m_key) {
        RegCloseKey(m_key);
        m_key = NULL;
    }
}

LONG CRegistry::ReadValue(const char *name, char *text, unsigned long *length)
{
    if (!text || !length || *length == 0)
        return ERROR_INVALID_PARAMETER;
    memset(text, 0, *length);
    if (!m_key)
        return ERROR_INVALID_HANDLE;

    char buffer[MaxTextBytes];
    DWORD capacity = *length < DWORD(MaxTextBytes) ? DWORD(*length) : DWORD(MaxTextBytes);
    DWORD type = REG_NONE;
    DWORD size = capacity;
    LONG rc = RegQueryValueExA(m_key, name, NULL, &type, reinterpret_cast<BYTE *>(buffer), &size);
    if (rc == ERROR_MORE_DATA && type == REG_DWORD) {
        DWORD value = 0;
        size = sizeof(value);
        rc = RegQueryValueExA(m_key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
        if (rc == ERROR_SUCCESS)
            memcpy(buffer, &value, sizeof(value));
    }
    if (rc != ERROR_SUCCESS)
        return rc;

    switch (type) {
    case REG_NONE:
    case REG_SZ:
        // The terminator must land inside the caller's buffer: after the
        // bytes, unless the registry's bytes already end with one.
        if (size > 0 && buffer[size - 1] == '\0') {
            memcpy(text, buffer, size);
        } else if (size < *length) {
            memcpy(text, buffer, size);
            text[size] = '\0';
        } else {
            return ERROR_MORE_DATA;
        }
        *length = size;
        return ERROR_SUCCESS;
    case REG_DWORD: {
        DWORD value;
        memcpy(&value, buffer, sizeof(value));
        char hex[9];
        int n = snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(value));
        if (static_cast<unsigned long>(n) + 1 > *length)
            return ERROR_MORE_DATA;
        memcpy(text, hex, n + 1);
        *length = n + 1;
        return ERROR_SUCCESS;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

LONG CRegistry::ReadValue(const char *name, unsigned long *value)
{
    if (!value)
        return ERROR_INVALID_PARAMETER;
    if (!m_key)
        return ERROR_INVALID_HANDLE;
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG rc = RegQueryValueExA(m_key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &size);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && type != REG_DWORD))
        return ERROR_INVALID_PARAMETER;
    if (rc != ERROR_SUCCESS)
        return rc;
    *value = data;
    return ERROR_SUCCESS;
}

LONG CRegistry::WriteValue(const char *name, const char *text)
{
    if (!text)
        return ERROR_INVALID_PARAMETER;
    if (!m_key)
        return ERROR_INVALID_HANDLE;
    return RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>(strlen(text)));
}

LONG CRegistry::WriteValue(const char *name, unsigned long value)
{
    if (!m_key)
        return ERROR_INVALID_HANDLE;
    DWORD data = value;
    return RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), sizeof(data));
}
