// What the stand-ins of the HMI libraries record: one line per call (fields
// separated by tabs) appended to the file that the environment variable
// QOR_HMI_RECORD names, so that a test, in this process or another, can read
// what the server asked of them. Without the variable nothing is recorded.
#pragma once
#include <windows.h>
#include <string>

inline std::string HmiEnvironment(const char *name, const char *byDefault)
{
    char value[512];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value))
        return byDefault;
    return std::string(value, length);
}

inline void HmiRecord(const std::string &line)
{
    std::string path = HmiEnvironment("QOR_HMI_RECORD", "");
    if (path.empty())
        return;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, NULL);
    CloseHandle(file);
}
