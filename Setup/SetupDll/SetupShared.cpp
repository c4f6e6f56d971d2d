#include "SetupShared.h"

#include <cstring>

bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string RegText(HKEY root, const char *key, const char *value)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::string();
    char buffer[1024] = "";
    DWORD size = sizeof buffer - 1, type = 0;
    std::string text;
    if (RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(buffer), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ))
        text.assign(buffer, strnlen(buffer, size));
    RegCloseKey(handle);
    return text;
}

bool MutexExists(const char *name)
{
    // The least access that opens it; a server under another account (the
    // service) refuses even that, and its refusal says the mutex is there.
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (!mutex)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(mutex);
    return true;
}

bool DriverRunning() { return MutexExists("QOR_InputLock"); }

bool CreateFolderLevels(const std::string &path)
{
    // Below the drive ("C:\") or the share, each level in turn.
    size_t start = path.size() > 2 && path[1] == ':' ? 3 : 0;
    if (path.compare(0, 2, "\\\\") == 0) {
        size_t server = path.find('\\', 2);
        size_t share = server == std::string::npos ? std::string::npos : path.find('\\', server + 1);
        start = share == std::string::npos ? path.size() : share + 1;
    }
    for (size_t slash = path.find('\\', start);; slash = path.find('\\', slash + 1)) {
        std::string level = path.substr(0, slash);
        // A file in the way fails here too, with ERROR_ALREADY_EXISTS.
        if (!IsFolder(level) && !CreateDirectoryA(level.c_str(), NULL))
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

std::string SystemFolder()
{
    char buffer[MAX_PATH];
    UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::string(buffer, length) : std::string();
}
