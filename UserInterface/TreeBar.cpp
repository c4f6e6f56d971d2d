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

int ReadInt(IProfile &profile, const char *entry, int fallback)
{
    std::string text = profile.GetString(kSection, entry, std::string());
    char *end = nullptr;
    long value = strtol(text.c_str(), &end, 10);
    return text.empty() || *end ? fallback : int(value);
}

int AtLeast(int value, int least) { return value < least ? least : value; }

} // namespace

// --- the sizes -------------------------------------------------------------------------

void CTreeBarLayout::Load(IProfile &profile, SIZE size)
{
    m_docked = m_floating = size;
    // A size too small to grab again would lose the bar.
    m_floating.cx = AtLeast(ReadInt(profile, kFloatingX, m_floating.cx), MinWidth);
    m_floating.cy = AtLeast(ReadInt(profile, kFloatingY, m_floating.cy), MinWidth);
    m_docked.cx = AtLeast(ReadInt(profile, kDockedX, m_docked.cx), MinWidth);
    m_docked.cy = AtLeast(ReadInt(profile, kDockedY, m_docked.cy), MinWidth);
    DWORD state = DWORD(ReadInt(profile, kState, int(AlignLeft))) & 0xFF00;
    m_side = state == AlignRight ? DockRight : DockLeft;
}

void CTreeBarLayout::Save(IProfile &profile, DWORD style) const
{
    profile.WriteString(kSection, kState, std::to_string(style & 0xFF00));
    profile.WriteString(kSection, kFloatingX, std::to_string(m_floating.cx));
    profile.WriteString(kSection, kFloatingY, std::to_string(m_floating.cy));
    profile.WriteString(kSection, kDockedX, std::to_string(m_docked.cx));
    profile.WriteString(kSection, kDockedY, std::to_string(m_docked.cy));
}

SIZE CTreeBarLayout::Request(const CBarRequest &request)
{
    switch (request.kind) {
    case CBarRequest::Docked:
        if (!request.stretch)
            return m_docked;
        return request.horizontal ? SIZE{FullLength, m_docked.cy} : SIZE{m_docked.cx, FullLength};
    case CBarRequest::FloatLength:
        m_floating.cy = AtLeast(request.length, 0);
        if (request.commit)
            m_docked.cy = AtLeast(request.length, MinWidth);
        break;
    case CBarRequest::FloatWidth:
        m_floating.cx = AtLeast(request.length, 0);
        m_docked.cx = AtLeast(request.length, MinWidth);
        break;
    case CBarRequest::Floating:
        break;
    }
    return m_floating;
}

void CTreeBarLayout::SetDockedWidth(int width) { m_docked.cx = AtLeast(width, MinWidth); }

// --- the bar ---------------------------------------------------------------------------

CTreeBar::CTreeBar(HINSTANCE instance, IProfile &profile) : CDialog(instance, TemplateId), m_profile(profile)
{
    SetAllowedSides(AlignLeft | AlignRight);
}

int CTreeBar::DraggedWidth(bool dockedLeft, int width, int startX, int endX)
{
    int result = dockedLeft ? endX : width - (endX - startX);
    return result < MinWidth ? MinWidth : result;
}

bool CTreeBar::OnEdge(bool dockedLeft, int width, int x)
{
    return dockedLeft ? x > width - EdgeGrip && x < width + EdgeGrip : x > -EdgeGrip && x < EdgeGrip;
}

bool CTreeBar::Create(HWND frame)
{
    if (!CDialog::Create(frame))
        return false;
    // The template's size is the default until the profile says otherwise.
    RECT rect;
    GetWindowRect(Window(), &rect);
    m_layout.Load(m_profile, SIZE{rect.right - rect.left, rect.bottom - rect.top});
    m_resizeCursor = LoadCursorA(m_instance, MAKEINTRESOURCEA(kResizeCursor));
    if (!m_resizeCursor)
        m_resizeCursor = LoadCursor(NULL, IDC_SIZEWE);
    return true;
}

void CTreeBar::SaveState() { m_layout.Save(m_profile, AlignStyle()); }

SIZE CTreeBar::RequestLayout(const CBarRequest &request)
{
    SIZE size = m_layout.Request(request);
    if (request.kind == CBarRequest::FloatWidth)
        InvalidateRect(Window(), NULL, TRUE);
    return size;
}

void CTreeBar::OnPlaced(DockSide)
{
    // The gripper and the resize edge are a docked bar's only.
    LayoutTree();
    InvalidateRect(Window(), NULL, TRUE);
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
    POINT at = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    RECT client;
    GetClientRect(Window(), &client);
    bool dockedLeft = Side() == DockLeft;
    switch (message) {
    case WM_SIZE:
        LayoutTree();
        return false;
    case WM_PAINT: {
        if (!Docked())
            return false;
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(Window(), &paint);
        DrawGripper(dc, client, false);
        EndPaint(Window(), &paint);
        *result = TRUE;
        return true;
    }
    case WM_SETCURSOR:
        if (Docked() && !m_dragging && LOWORD(lParam) == HTCLIENT) {
            POINT point;
            GetCursorPos(&point);
            ScreenToClient(Window(), &point);
            if (OnEdge(dockedLeft, client.right, point.x)) {
                SetCursor(m_resizeCursor);
                SetWindowLongPtrA(Window(), DWLP_MSGRESULT, TRUE);
                *result = TRUE;
                return true;
            }
        }
        return false;
    case WM_LBUTTONDOWN: {
        if (!Docked())
            return false;
        if (!OnEdge(dockedLeft, client.right, at.x)) {
            // The gripper along the top moves the bar.
            RECT grip = GripperRect(client, false);
            if (!PtInRect(&grip, at))
                return false;
            ClientToScreen(Window(), &at);
            StartDrag(at);
            *result = 0;
            return true;
        }
        m_dragging = true;
        m_dragStart = at.x;
        SetCapture(Window());
        SetCursor(m_resizeCursor);
        DrawTracker(m_lastTrack = at.x);
        *result = 0;
        return true;
    }
    case WM_MOUSEMOVE:
        if (!m_dragging)
            return false;
        DrawTracker(m_lastTrack);
        DrawTracker(m_lastTrack = at.x);
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
            m_layout.SetDockedWidth(DraggedWidth(dockedLeft, client.right, m_dragStart, at.x));
            if (Manager())
                Manager()->Changed();
        }
        *result = 0;
        return true;
    }
    return false;
}
