// Test helper: the strings of a task-memory array, freeing array and strings.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <string>
#include <vector>

inline std::vector<std::wstring> TakeStrings(LPWSTR *names, DWORD count)
{
    std::vector<std::wstring> out;
    for (DWORD i = 0; i < count; ++i) {
        out.push_back(names[i]);
        CoTaskMemFree(names[i]);
    }
    CoTaskMemFree(names);
    return out;
}
