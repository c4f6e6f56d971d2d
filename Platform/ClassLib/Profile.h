// The per-user profile of an application: integer values under
// HKEY_CURRENT_USER\Software\<registry key>\<application>\<section>, read with
// a default when missing and written at once.
#pragma once
#include <string>

// What settings code reads and writes; tests put a table behind it.
class IProfileStore {
public:
    virtual ~IProfileStore() = default;
    // The stored DWORD, or defaultValue when the value is missing or of another type.
    virtual unsigned long ReadInt(const char *section, const char *entry, unsigned long defaultValue) = 0;
    // True when the value was written.
    virtual bool WriteInt(const char *section, const char *entry, unsigned long value) = 0;
};

class CUserProfile : public IProfileStore {
public:
    CUserProfile(const char *registryKey, const char *application);
    unsigned long ReadInt(const char *section, const char *entry, unsigned long defaultValue) override;
    bool WriteInt(const char *section, const char *entry, unsigned long value) override;
    // "Software\<registry key>\<application>\<section>".
    std::string SectionKey(const char *section) const;

private:
    std::string m_base;
};
