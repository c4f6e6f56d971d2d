#include "TestLog.h"
#include <windows.h>

bool AppendTestLog(const std::string &line)
{
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("QOR_TEST_LOG_FILE", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    // Appends only, shared with every other process writing the same file.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::string text = std::to_string(GetCurrentProcessId()) + "\t" + line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
    return true;
}
