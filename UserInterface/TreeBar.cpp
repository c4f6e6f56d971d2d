#include "TreeBar.h"
#include <stdlib.h>
#include <string>

namespace {
const char kSection[] = "Misc";
const char kState[] = "DockedDialogState";
const char kFloatingX[] = "FloatingDlgCXSize";
const char kFloatingY[] = "FloatingDlgCYSize";
const char kDockedX[] = "DockedDlgCXSize";
const char kDockedY[] = "DockedDlgCYSize";
const WORD kResizeCursor = 104;
}

CTreeBar::CTreeBar(HINSTANCE instance, IProfile &profile) : CDialog(instance, TemplateId), m_profile(profile) {}

int CTreeBar::DraggedWidth(bool dockedLeft, int width, int startX, int endX)
{
    int result = dockedLeft ? endX : width - (endX - startX);
    return result < MinWidth ? MinWidth : result;
}

bool CTreeBar::OnEdge(bool dockedLeft, int width, int x)
{
    return dockedLeft ? x > width - EdgeGrip && x < width + EdgeGrip : x > -EdgeGrip && x < EdgeGrip;
}

int CTreeBar::ReadInt(const char *entry, int fallback)
{
    std::string text = m_profile.GetString(kSection, entry, std::string());
    char *end = nullptr;
    long value = strtol(text.c_str(), &end, 10);
    return text.empty() || *end ? fallback : int(value);
}

bool CTreeBar::Create(HWND frame)
{
    if (!CDialog::Create(frame))
        return false;
    // The template's size is the default until the profile says otherwise.
    RECT rect;
    GetWindowRect(Window(), &rect);
    m_docked = m_floating = SIZE{rect.right - rect.left, rect.bottom - rect.top};
    m_floating.cx = ReadInt(kFloatingX, m_floating.cx);
    m_floating.cy = ReadInt(kFloatingY, m_floating.cy);
    m_docked.cx = ReadInt(kDockedX, m_docked.cx);
    m_docked.cy = ReadInt(kDockedY, m_docked.cy);
    if (m_docked.cx < MinWidth)
        m_docked.cx = MinWidth;
    m_align = (DWORD(ReadInt(kState, int(AlignLeft))) & 0xFF00) == AlignRight ? AlignRight : AlignLeft;
    m_resizeCursor = LoadCursorA(m_instance, MAKEINTRESOURCEA(kResizeCursor));
    if (!m_resizeCursor)
        m_resizeCursor = LoadCursor(NULL, IDC_SIZEWE);
    return true;
}

void CTreeBar::SaveState()
{
    m_profile.WriteString(kSection, kState, std::to_string(m_align & 0xFF00));
    m_profile.WriteString(kSection, kFloatingX, std::to_string(m_floating.cx));
    m_profile.WriteString(kSection, kFloatingY, std::to_string(m_floating.cy));
    m_profile.WriteString(kSection, kDockedX, std::to_string(m_docked.cx));
    m_profile.WriteString(kSection, kDockedY, std::to_string(m_docked.cy));
}

BOOL CTreeBar::OnInitDialog()
{
    LayoutTree();
    return FALSE;
}

void CTreeBar::LayoutTree()
{
    RECT client;
    GetClientRect(Window(), &client);
    int width = client.right - 2 * Margin, height = client.bottom - 2 * Margin;
    MoveWindow(Tree(), Margin, Margin, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
}

bool CTreeBar::OnNotify(NMHDR *header, LRESULT *result)
{
    return header->idFrom == UINT_PTR(TreeId) && m_notify && m_notify(header, result);
}

void CTreeBar::DrawTracker(int x)
{
    // An inverted bar over the frame's client area, drawn twice to take away.
    HWND frame = GetParent(Window());
    RECT bar;
    GetWindowRect(Window(), &bar);
    POINT origin{bar.left, bar.top};
    ScreenToClient(frame, &origin);
    HDC dc = GetDCEx(frame, NULL, DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    if (!dc)
        dc = GetDC(frame);
    PatBlt(dc, origin.x + x - 2, origin.y, 4, bar.bottom - bar.top, DSTINVERT);
    ReleaseDC(frame, dc);
}

bool CTreeBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result)
{
    int x = short(LOWORD(lParam));
    RECT client;
    GetClientRect(Window(), &client);
    switch (message) {
    case WM_SIZE:
        LayoutTree();
        return false;
    case WM_SETCURSOR:
        if (!m_dragging && LOWORD(lParam) == HTCLIENT) {
            POINT point;
            GetCursorPos(&point);
            ScreenToClient(Window(), &point);
            if (OnEdge(DockedLeft(), client.right, point.x)) {
                SetCursor(m_resizeCursor);
                SetWindowLongPtrA(Window(), DWLP_MSGRESULT, TRUE);
                *result = TRUE;
                return true;
            }
        }
        return false;
    case WM_LBUTTONDOWN:
        if (!OnEdge(DockedLeft(), client.right, x))
            return false;
        m_dragging = true;
        m_dragStart = x;
        SetCapture(Window());
        SetCursor(m_resizeCursor);
        DrawTracker(m_lastTrack = x);
        *result = 0;
        return true;
    case WM_MOUSEMOVE:
        if (!m_dragging)
            return false;
        DrawTracker(m_lastTrack);
        DrawTracker(m_lastTrack = x);
        *result = 0;
        return true;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (!m_dragging)
            return false;
        m_dragging = false;
        DrawTracker(m_lastTrack);
        if (message == WM_LBUTTONUP) {
            ReleaseCapture();
            m_docked.cx = DraggedWidth(DockedLeft(), client.right, m_dragStart, x);
            if (m_resized)
                m_resized();
        }
        *result = 0;
        return true;
    }
    return false;
}
