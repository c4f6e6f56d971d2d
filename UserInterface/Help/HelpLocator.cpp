#include "HelpLocator.h"
#include <vector>

const char HelpNotFoundText[] =
    "Cannot find the \"%1\" file. Check to see that the file exists on your disk. If it doesn't, you need to "
    "reinstall it.";

bool CHelpLocator::ReadFolder(HKEY root, const char *key, const char *value, std::string &folder)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    char text[MAX_PATH + 1] = {0};
    DWORD type = 0, size = MAX_PATH;
    const LONG rc = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(text), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    folder = text;
    return true;
}

bool CHelpLocator::FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string CHelpLocator::ProgramFolder()
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder = path;
    const size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string CHelpLocator::CurrentFolder()
{
    char path[MAX_PATH] = {0};
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

std::string CHelpLocator::WindowsFolder()
{
    char path[MAX_PATH] = {0};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string CHelpLocator::ProfileString(const char *file, const char *section, const std::string &key)
{
    char text[1024] = {0};
    GetPrivateProfileStringA(section, key.c_str(), "", text, sizeof(text), file);
    return text;
}

bool CHelpLocator::Prompt(const std::string &text)
{
    return MessageBoxA(GetActiveWindow(), text.c_str(), NULL, MB_OKCANCEL | MB_ICONSTOP) == IDOK;
}

void CHelpLocator::NotFound(const std::string &text)
{
    MessageBoxA(GetActiveWindow(), text.c_str(), NULL, MB_OK | MB_ICONEXCLAMATION);
}

std::string CHelpLocator::FullPath(const std::string &path)
{
    char full[MAX_PATH] = {0};
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, NULL);
    return n && n < MAX_PATH ? std::string(full) : path;
}

std::string FindInstalledHelpFile(IHelpLocator &locator, const char *name)
{
    struct Place {
        HKEY root;
        const char *key;
        const char *value;
    };
    static const Place places[] = {
        {HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QOR", "NlsPath"},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\BASPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\BASPATH", nullptr},
    };
    for (const Place &place : places) {
        std::string folder;
        if (!locator.ReadFolder(place.root, place.key, place.value, folder) || folder.empty())
            continue;
        const std::string path = folder + "\\" + name;
        if (locator.FileExists(path))
            return path;
    }
    return name;
}

static std::string Joined(const std::string &folder, const std::string &name)
{
    if (folder.empty())
        return name;
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

static std::string Located(IHelpFileSystem &files, const std::string &name)
{
    if (name.empty())
        return std::string();
    if (files.FileExists(name))
        return name;
    std::string path = name;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    const size_t slash = path.find_last_of('\\');
    const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<std::string> candidates = {Joined(files.ProgramFolder(), part), Joined(files.CurrentFolder(), part)};
    std::string folder;
    if (files.ReadFolder(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\HTML Help", part.c_str(), folder))
        candidates.push_back(Joined(folder, part));
    if (!files.ReadFolder(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Setup", "SharedDir",
                          folder))
        folder = files.WindowsFolder();
    candidates.push_back(Joined(Joined(folder, "Help"), part));
    for (const std::string &candidate : candidates)
        if (files.FileExists(candidate))
            return candidate;

    // "hh.ini": a path, optionally a comma and a prompt to ask for the disk.
    const std::string entry = files.ProfileString("hh.ini", "files", part);
    if (entry.empty())
        return std::string();
    const size_t comma = entry.find(',');
    const std::string where = entry.substr(0, comma);
    const std::string prompt = comma == std::string::npos ? std::string() : entry.substr(comma + 1);
    while (!files.FileExists(where)) {
        // Cancel means the file is not there: taking the path anyway would
        // only fail later with a less helpful message.
        if (prompt.empty() || !files.Prompt(prompt))
            return std::string();
    }
    return where;
}

std::string FindHelpFile(IHelpFileSystem &files, const std::string &name)
{
    const std::string found = Located(files, name);
    if (!found.empty())
        return files.FullPath(found);
    // The program's string 20736 where it has one.
    char loaded[512];
    std::string text = LoadStringA(GetModuleHandleA(NULL), 20736, loaded, sizeof loaded) ? loaded : HelpNotFoundText;
    if (text.find("%1") != std::string::npos)
        text.replace(text.find("%1"), 2, name);
    files.NotFound(text);
    return std::string();
}
