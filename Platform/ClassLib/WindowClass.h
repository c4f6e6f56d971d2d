// The class layer's own small windows: their window class, registered once
// per module, and the object behind each window.
#pragma once
#include <windows.h>

// Registers className (the arrow cursor, the system colour background behind
// it, the button face unless told) unless the module has it already; false
// when it cannot be.
inline bool RegisterWindowClass(HINSTANCE instance, const char *className, WNDPROC proc, UINT style = 0,
                                int background = COLOR_BTNFACE)
{
    WNDCLASSA wc = {};
    if (GetClassInfoA(instance, className, &wc))
        return true;
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(INT_PTR(background + 1));
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

// The object a window was made for: its creation parameter, which the
// window keeps from WM_NCCREATE on (null before, and once it is cleared).
template <class T> T *WindowObject(HWND hwnd, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams));
    return reinterpret_cast<T *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
