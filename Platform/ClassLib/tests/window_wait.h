// Waits for windows of another process, for the programs that drive a
// program's windows from outside (end-to-end tests, picture scripts).
#pragma once
#include <windows.h>
#include <string.h>

// The visible window that find returns, polled every 100 ms for up to ms.
template <class Find> HWND WaitForVisible(Find find, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = find();
        if (hwnd && IsWindowVisible(hwnd))
            return hwnd;
        if (GetTickCount() - start > ms)
            return NULL;
        Sleep(100);
    }
}

// A control with the text inside a visible top window (a visible control
// only, when visibleOnly), polled every 50 ms for up to ms.
inline HWND WaitForControlText(const char *text, DWORD ms, bool visibleOnly)
{
    struct Search {
        const char *text;
        bool visibleOnly;
        HWND found;
        static BOOL CALLBACK Child(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            char buffer[256] = "";
            GetWindowTextA(hwnd, buffer, sizeof buffer);
            if ((s.visibleOnly && !IsWindowVisible(hwnd)) || strcmp(buffer, s.text) != 0)
                return TRUE;
            s.found = hwnd;
            return FALSE;
        }
        static BOOL CALLBACK Top(HWND hwnd, LPARAM param)
        {
            if (IsWindowVisible(hwnd))
                EnumChildWindows(hwnd, Child, param);
            return reinterpret_cast<Search *>(param)->found == NULL;
        }
    } search{text, visibleOnly, NULL};
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(Search::Top, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start > ms)
            return search.found;
        Sleep(50);
    }
}
