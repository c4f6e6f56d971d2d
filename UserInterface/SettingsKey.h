// A key under the driver's registry key "SOFTWARE\Veltrane\Drivers\QOR" on
// the server's machine, as the Setup sheet's Advanced page and the templates
// use it. The seam lets tests hold the values in memory.
#pragma once
#include <windows.h>
#include <string>

class ISettingsKey {
public:
    virtual ~ISettingsKey() = default;
    // Opens (or makes) the driver key's subkey (empty: the driver key itself)
    // on machine (empty: this one); false when it cannot.
    virtual bool Open(const std::string &subKey, const std::string &machine) = 0;
    virtual void Close() = 0;
    // False when the value is missing or of the other kind.
    virtual bool ReadText(const std::string &name, std::string &text) = 0;
    virtual bool ReadNumber(const std::string &name, DWORD &value) = 0;
    virtual bool WriteText(const std::string &name, const std::string &text) = 0;
    virtual bool WriteNumber(const std::string &name, DWORD value) = 0;
};

class CRegistrySettingsKey : public ISettingsKey {
public:
    static const char DriverKey[];  // "SOFTWARE\Veltrane\Drivers\QOR"
    ~CRegistrySettingsKey() override { Close(); }
    bool Open(const std::string &subKey, const std::string &machine) override;
    void Close() override;
    bool ReadText(const std::string &name, std::string &text) override;
    bool ReadNumber(const std::string &name, DWORD &value) override;
    bool WriteText(const std::string &name, const std::string &text) override;
    bool WriteNumber(const std::string &name, DWORD value) override;

private:
    HKEY m_root = NULL, m_key = NULL;
};
