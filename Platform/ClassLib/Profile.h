// The program's profile: text values by section and entry. Programs keep it
// in the registry under HKEY_CURRENT_USER, one subkey per section, since a
// user may not write the program's folder. IProfile is the seam that tests
// fill from memory.
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

class CRegistryProfile : public IProfile {
public:
    // root\key is the profile ("Software\Company\Program"); sections are its
    // subkeys.
    CRegistryProfile(HKEY root, const std::string &key) : m_root(root), m_key(key) {}
    std::string GetString(const std::string &section, const std::string &entry,
                          const std::string &fallback) override;
    bool WriteString(const std::string &section, const std::string &entry, const std::string &value) override;

private:
    HKEY m_root;
    std::string m_key;
};
