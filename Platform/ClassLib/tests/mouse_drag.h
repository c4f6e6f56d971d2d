// Drags with the left mouse button, as posted messages, for the programs
// that drive windows (tests, picture scripts). While the button is down the
// messages go to the window pressed on, which a drag captures the mouse
// for. Points are screen coordinates.
#pragma once
#include <windows.h>

inline LPARAM ClientPoint(HWND window, POINT point)
{
    ScreenToClient(window, &point);
    return MAKELPARAM(point.x, point.y);
}

inline POINT ScreenPoint(HWND window, LONG x, LONG y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return point;
}

// Where window stands in parent's client area.
inline RECT RectInClient(HWND window, HWND parent)
{
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(NULL, parent, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

// The press at from on target (its client or non-client area, as its hit
// test answers), moves in steps, and the release at to.
inline void PostDrag(HWND target, POINT from, POINT to, int steps = 4)
{
    DWORD_PTR hit = HTCLIENT;
    SendMessageTimeoutA(target, WM_NCHITTEST, 0, MAKELPARAM(from.x, from.y), SMTO_ABORTIFHUNG, 5000, &hit);
    if (hit == HTCLIENT)
        PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(target, from));
    else
        PostMessageA(target, WM_NCLBUTTONDOWN, WPARAM(hit), MAKELPARAM(from.x, from.y));
    for (int i = 1; i <= steps; ++i) {
        POINT step = {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
        PostMessageA(target, WM_MOUSEMOVE, MK_LBUTTON, ClientPoint(target, step));
    }
    PostMessageA(target, WM_LBUTTONUP, 0, ClientPoint(target, to));
}

// A point on a window's caption, as its hit test finds it; {-1, -1} when
// it has none.
inline POINT CaptionPoint(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        DWORD_PTR hit = HTNOWHERE;
        SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(rect.left + 12, y), SMTO_ABORTIFHUNG, 5000, &hit);
        if (hit == HTCAPTION)
            return POINT{rect.left + 12, y};
    }
    return POINT{-1, -1};
}

// A point on a docked bar's gripper: across the left end of a lying bar,
// the top of an upright one.
inline POINT GripperPoint(HWND bar)
{
    RECT rect;
    GetWindowRect(bar, &rect);
    if (rect.right - rect.left > rect.bottom - rect.top)
        return POINT{rect.left + 3, (rect.top + rect.bottom) / 2};
    return POINT{(rect.left + rect.right) / 2, rect.top + 3};
}

// Drags a docking bar to to: by its mini frame's caption while it floats,
// else by its gripper.
inline void PostBarDrag(HWND bar, POINT to)
{
    HWND parent = GetParent(bar);
    char name[32] = "";
    GetClassNameA(parent, name, sizeof name);
    if (lstrcmpiA(name, "QorMiniFrame") == 0)
        PostDrag(parent, CaptionPoint(parent), to);
    else
        PostDrag(bar, GripperPoint(bar), to);
}
