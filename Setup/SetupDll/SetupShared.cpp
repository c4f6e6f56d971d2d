#include "SetupShared.h"

namespace {

bool IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

bool DriverRunning()
{
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "QOR_InputLock");
    if (!mutex)
        return false;
    CloseHandle(mutex);
    return true;
}

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
