#include "InPlaceFrame.h"
#include <windowsx.h>
#include <algorithm>

namespace {
const char kClass[] = "ClassLibInPlaceFrame";
const int kGrip = 8;  // the corner of the border that sizes the document
}

CInPlaceFrameWnd::CInPlaceFrameWnd(HINSTANCE instance, UINT menuId, const int (&groups)[3])
    : m_menuId(menuId), m_groups{groups[0], groups[1], groups[2]}
{
    m_instance = instance;
}

CInPlaceFrameWnd::~CInPlaceFrameWnd()
{
    DestroyInPlace();
    if (m_menu)
        DestroyMenu(m_menu);
}

RECT CInPlaceFrameWnd::Inflated(const RECT &rect)
{
    RECT outer = rect;
    InflateRect(&outer, BorderWidth, BorderWidth);
    return outer;
}

bool CInPlaceFrameWnd::CreateInPlace(HWND parent, const RECT &position, const RECT &clip)
{
    if (m_hwnd)
        return true;
    m_position = position;
    if (!CreateChild(m_instance, kClass, m_menuId, parent, Inflated(position), WS_CLIPCHILDREN | WS_CLIPSIBLINGS))
        return false;
    SetObjectRects(position, clip);
    ShowWindow(m_hwnd, SW_SHOW);
    return true;
}

void CInPlaceFrameWnd::DestroyInPlace()
{
    if (m_hwnd && IsWindow(m_hwnd))
        ::DestroyWindow(m_hwnd);
    m_hwnd = NULL;
}

void CInPlaceFrameWnd::SetObjectRects(const RECT &position, const RECT &clip)
{
    m_position = position;
    if (!m_hwnd)
        return;
    RECT outer = Inflated(position);
    MoveWindow(m_hwnd, outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top, TRUE);
    // What the container's clip rectangle leaves of the window, in its own
    // coordinates; nothing at all when the object is scrolled out of sight.
    RECT visible;
    if (IntersectRect(&visible, &outer, &clip))
        OffsetRect(&visible, -outer.left, -outer.top);
    else
        SetRectEmpty(&visible);
    SetWindowRgn(m_hwnd, CreateRectRgnIndirect(&visible), TRUE);
}

std::vector<int> CInPlaceFrameWnd::SharedPositions(const OLEMENUGROUPWIDTHS &container, const int (&groups)[3])
{
    // Groups in the menu bar: file (container), edit (object), container,
    // object, window (container), help (object).
    std::vector<int> positions;
    int at = 0;
    for (int group = 0; group < 3; ++group) {
        at += int(container.width[group * 2]);
        for (int i = 0; i < groups[group]; ++i)
            positions.push_back(at++);
    }
    return positions;
}

bool CInPlaceFrameWnd::MergeMenus(IOleInPlaceFrame *frame)
{
    if (m_shared || !frame)
        return m_shared != NULL;
    if (!m_menu)
        m_menu = LoadMenuA(m_instance, MAKEINTRESOURCEA(m_menuId));
    if (!m_menu)
        return false;
    m_shared = CreateMenu();
    OLEMENUGROUPWIDTHS widths{};
    // The container fills its three groups first.
    if (FAILED(frame->InsertMenus(m_shared, &widths)))
        widths = OLEMENUGROUPWIDTHS{};
    for (int group = 0; group < 3; ++group)
        widths.width[group * 2 + 1] = 0;
    std::vector<int> positions = SharedPositions(widths, m_groups);
    int count = GetMenuItemCount(m_menu);
    size_t popup = 0;
    for (int group = 0; group < 3; ++group)
        for (int i = 0; i < m_groups[group] && int(popup) < count; ++i, ++popup) {
            char text[128] = "";
            GetMenuStringA(m_menu, UINT(popup), text, sizeof text, MF_BYPOSITION);
            InsertMenuA(m_shared, UINT(positions[popup]), MF_BYPOSITION | MF_POPUP,
                        UINT_PTR(GetSubMenu(m_menu, int(popup))), text);
            ++widths.width[group * 2 + 1];
        }
    m_widths = widths;
    m_descriptor = OleCreateMenuDescriptor(m_shared, &m_widths);
    frame->SetMenu(m_shared, m_descriptor, m_hwnd);
    return true;
}

void CInPlaceFrameWnd::UnmergeMenus(IOleInPlaceFrame *frame)
{
    if (!m_shared)
        return;
    if (frame)
        frame->SetMenu(NULL, NULL, NULL);
    if (m_descriptor)
        OleDestroyMenuDescriptor(m_descriptor);
    m_descriptor = NULL;
    // The lent popups come back before the shared menu goes; the
    // container's own it takes back itself.
    std::vector<int> positions = SharedPositions(m_widths, m_groups);
    for (auto at = positions.rbegin(); at != positions.rend(); ++at)
        RemoveMenu(m_shared, UINT(*at), MF_BYPOSITION);
    if (frame)
        frame->RemoveMenus(m_shared);
    DestroyMenu(m_shared);
    m_shared = NULL;
    m_widths = OLEMENUGROUPWIDTHS{};
}

LRESULT CInPlaceFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCALCSIZE: {
        // The border is the non-client area; the document fills the rest.
        RECT *rect = reinterpret_cast<RECT *>(lParam);
        InflateRect(rect, -BorderWidth, -BorderWidth);
        return 0;
    }
    case WM_NCPAINT:
        PaintBorder();
        return 0;
    case WM_NCHITTEST: {
        POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        RECT window;
        GetWindowRect(m_hwnd, &window);
        if (at.x >= window.right - kGrip && at.y >= window.bottom - kGrip)
            return HTBOTTOMRIGHT;
        RECT inner = window;
        InflateRect(&inner, -BorderWidth, -BorderWidth);
        if (!PtInRect(&inner, at))
            return HTBORDER;
        break;
    }
    case WM_NCLBUTTONDOWN:
        if (wParam == HTBOTTOMRIGHT) {
            // The corner is tracked here: a child's size is the container's
            // to give, so the container only hears the wish.
            m_dragging = true;
            GetCursorPos(&m_dragStart);
            m_dragFrom = m_position;
            SetCapture(m_hwnd);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (m_dragging)
            SetCursor(LoadCursor(NULL, IDC_SIZENWSE));
        break;
    case WM_LBUTTONUP:
        if (m_dragging) {
            m_dragging = false;
            ReleaseCapture();
            POINT now;
            GetCursorPos(&now);
            RECT wanted = m_dragFrom;
            wanted.right = std::max(wanted.left + kGrip * 4, LONG(wanted.right + now.x - m_dragStart.x));
            wanted.bottom = std::max(wanted.top + kGrip * 4, LONG(wanted.bottom + now.y - m_dragStart.y));
            if (m_positionChanged && !EqualRect(&wanted, &m_dragFrom))
                m_positionChanged(wanted);
            return 0;
        }
        break;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTBOTTOMRIGHT) {
            SetCursor(LoadCursor(NULL, IDC_SIZENWSE));
            return TRUE;
        }
        break;
    }
    return CFrameWnd::WindowProc(message, wParam, lParam);
}

void CInPlaceFrameWnd::PaintBorder()
{
    HDC dc = GetWindowDC(m_hwnd);
    if (!dc)
        return;
    RECT window;
    GetWindowRect(m_hwnd, &window);
    OffsetRect(&window, -window.left, -window.top);
    RECT inner = window;
    InflateRect(&inner, -BorderWidth, -BorderWidth);
    HRGN outer = CreateRectRgnIndirect(&window), hole = CreateRectRgnIndirect(&inner);
    CombineRgn(outer, outer, hole, RGN_DIFF);
    HBRUSH hatch = CreateHatchBrush(HS_BDIAGONAL, GetSysColor(COLOR_WINDOWFRAME));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    FillRgn(dc, outer, hatch);
    // The sizing handle in the corner.
    RECT grip = {window.right - kGrip, window.bottom - kGrip, window.right, window.bottom};
    FillRect(dc, &grip, GetSysColorBrush(COLOR_WINDOWFRAME));
    DeleteObject(hatch);
    DeleteObject(outer);
    DeleteObject(hole);
    ReleaseDC(m_hwnd, dc);
}
