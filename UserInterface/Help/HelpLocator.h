// Where the help files lie. The installed programs find a help file through
// five registry folders; the help window searches a name the way the HTML
// help system does. Both see the registry and the disk through seams.
#pragma once
#include <windows.h>
#include <string>

// The registry and the file system as the installed-file search sees them.
class IHelpLocator {
public:
    virtual ~IHelpLocator() = default;
    // The REG_SZ value (null name: the key's default value); false when missing.
    virtual bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) = 0;
    virtual bool FileExists(const std::string &path) = 0;
};

// What the help window's search needs besides.
class IHelpFileSystem : public IHelpLocator {
public:
    virtual std::string ProgramFolder() = 0;   // without a trailing backslash
    virtual std::string CurrentFolder() = 0;
    virtual std::string WindowsFolder() = 0;
    // The profile file's value (empty when missing).
    virtual std::string ProfileString(const char *file, const char *section, const std::string &key) = 0;
    // The prompt with OK and Cancel and a stop icon; true for OK.
    virtual bool Prompt(const std::string &text) = 0;
    // The not-found message, exclamation icon.
    virtual void NotFound(const std::string &text) = 0;
    virtual std::string FullPath(const std::string &path) = 0;
};

class CHelpLocator : public IHelpFileSystem {
public:
    bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) override;
    bool FileExists(const std::string &path) override;
    std::string ProgramFolder() override;
    std::string CurrentFolder() override;
    std::string WindowsFolder() override;
    std::string ProfileString(const char *file, const char *section, const std::string &key) override;
    bool Prompt(const std::string &text) override;
    void NotFound(const std::string &text) override;
    std::string FullPath(const std::string &path) override;
};

// The file in the first of the five installation folders that holds it,
// else the bare name.
std::string FindInstalledHelpFile(IHelpLocator &locator, const char *name);

// The help window's search: the full path, or empty after the not-found
// message (string 20736 with the name).
std::string FindHelpFile(IHelpFileSystem &files, const std::string &name);

extern const char HelpNotFoundText[];  // string 20736
