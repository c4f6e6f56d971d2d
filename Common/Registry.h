// CRegistry: one open registry key at a time under HKEY_LOCAL_MACHINE (or a
// remote machine's root). Every call answers the Win32 error of the failing
// registry call (0 on success) and logs nothing: callers preset defaults and
// keep them when a value is missing.
#pragma once
#include <windows.h>
#include "CommonApi.h"

class QOR_COMMON_API CRegistry {
public:
    // The size of the internal buffer through which text values are read.
    enum { MaxTextBytes = 1024, MaxKeyName = 511 };

    CRegistry();
    ~CRegistry();
    CRegistry(const CRegistry &) = delete;
    CRegistry &operator=(const CRegistry &) = delete;

    // Creates or opens subKey under the root key (connecting to machine first
    // when one is named) and keeps it open; a key already open is closed.
    // An access other than KEY_READ becomes the stored access level.
    LONG OpenKey(const char *subKey, const char *machine = NULL, unsigned long access = KEY_READ);
    // The subkey name at the enumeration index; at the end or on an error the
    // name is empty, the index returns to 0 and the error is answered.
    LONG NextKeyName(char *name);
    // Deletes subKey under the root key (not under the open key).
    LONG DeleteKey(const char *subKey);
    void CloseKey();

    // Text form of a value: REG_SZ and REG_NONE as their bytes, REG_DWORD as
    // "%x". *length is the size of text in bytes; the text is always
    // terminated inside it, and a value that does not fit answers
    // ERROR_MORE_DATA with text empty. On success *length is the byte count
    // read (the registry's count for REG_SZ/REG_NONE).
    LONG ReadValue(const char *name, char *text, unsigned long *length);
    // A REG_DWORD value; another type answers ERROR_INVALID_PARAMETER and
    // leaves *value as it was.
    LONG ReadValue(const char *name, unsigned long *value);
    LONG WriteValue(const char *name, const char *text);
    LONG WriteValue(const char *name, unsigned long value);

    void SetAccessLevel(unsigned long access) { m_access = access; }
    unsigned long GetAccessLevel() const { return m_access; }
    void SetRootKey(HKEY root) { m_root = root; }
    HKEY GetRootKey() const { return m_root; }
    HKEY GetKeyValue() const { return m_key; }

private:
    HKEY m_root;
    bool m_remoteRoot;
    REGSAM m_access;
    HKEY m_key;
    DWORD m_index;
};

// The driver's registry key, with the driver acronym.
#define QOR_DRIVER_KEY "Software\\Veltrane\\Drivers\\QOR"
