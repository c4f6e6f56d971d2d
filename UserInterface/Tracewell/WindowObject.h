// The C++ object behind one of the monitor's windows: taken from the creation
// parameter at WM_NCCREATE and kept in the window's user data.
#pragma once
#include <windows.h>

template <class T>
T *WindowObject(HWND hwnd, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        T *object = static_cast<T *>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        return object;
    }
    return reinterpret_cast<T *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
