// The program's profile: values by section and entry. Programs keep it in
// the registry, one subkey per section (under HKEY_CURRENT_USER, since a user
// may not write the program's folder). IProfile (texts) and IProfileStore
// (numbers) are the seams that tests fill from memory.
#pragma once
#include <windows.h>
#include <string>

class IProfile {
public:
    virtual ~IProfile() = default;
    // The value, or fallback when the section or entry is missing.
    virtual std::string GetString(const std::string &section, const std::string &entry,
                                  const std::string &fallback) = 0;
    // False when the value could not be written.
    virtual bool WriteString(const std::string &section, const std::string &entry,
                             const std::string &value) = 0;
};

class IProfileStore {
public:
    virtual ~IProfileStore() = default;
    // The stored DWORD, or defaultValue when the value is missing or of another type.
    virtual unsigned long ReadInt(const char *section, const char *entry, unsigned long defaultValue) = 0;
    // True when the value was written.
    virtual bool WriteInt(const char *section, const char *entry, unsigned long value) = 0;
};

class CRegistryProfile : public IProfile, public IProfileStore {
public:
    // root\key is the profile ("Software\Company\Program"); sections are its
    // subkeys.
    CRegistryProfile(HKEY root, const std::string &key) : m_root(root), m_key(key) {}
    std::string GetString(const std::string &section, const std::string &entry,
                          const std::string &fallback) override;
    bool WriteString(const std::string &section, const std::string &entry, const std::string &value) override;
    unsigned long ReadInt(const char *section, const char *entry, unsigned long defaultValue) override;
    bool WriteInt(const char *section, const char *entry, unsigned long value) override;
    // key\section, the registry key of one section.
    std::string SectionKey(const char *section) const { return m_key + "\\" + section; }

private:
    HKEY m_root;
    std::string m_key;
};

// The per-user profile of an application:
// HKEY_CURRENT_USER\Software\<registry key>\<application>\<section>.
class CUserProfile : public CRegistryProfile {
public:
    CUserProfile(const char *registryKey, const char *application)
        : CRegistryProfile(HKEY_CURRENT_USER, std::string("Software\\") + registryKey + "\\" + application)
    {
    }
};
