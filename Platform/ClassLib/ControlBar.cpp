#include "ControlBar.h"
#include <stdlib.h>
#include "WindowClass.h"

namespace {

const char kMiniFrameClass[] = "QorMiniFrame";
const DWORD kMiniFrameExStyle = WS_EX_TOOLWINDOW;

DWORD MiniFrameStyle(bool sizable)
{
    return WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (sizable ? WS_THICKFRAME : WS_BORDER);
}

// The mini frame's outer size around a client area of size client.
SIZE MiniFrameSize(SIZE client, bool sizable)
{
    RECT rect = {0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&rect, MiniFrameStyle(sizable), FALSE, kMiniFrameExStyle);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// A frame drawn twice over the screen takes itself away again.
void InvertFrame(const RECT &r)
{
    HDC dc = GetDCEx(NULL, NULL, DCX_WINDOW | DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    if (!dc)
        dc = GetDC(NULL);
    const int t = 3;
    int width = r.right - r.left, height = r.bottom - r.top;
    PatBlt(dc, r.left, r.top, width, t, DSTINVERT);
    PatBlt(dc, r.left, r.bottom - t, width, t, DSTINVERT);
    PatBlt(dc, r.left, r.top + t, t, height - 2 * t, DSTINVERT);
    PatBlt(dc, r.right - t, r.top + t, t, height - 2 * t, DSTINVERT);
    ReleaseDC(NULL, dc);
}

POINT MessagePoint(LPARAM lParam)
{
    return POINT{short(LOWORD(lParam)), short(HIWORD(lParam))};
}

} // namespace

// --- the bar ---------------------------------------------------------------------------

bool CControlBar::StartDrag(POINT screen)
{
    return m_manager && m_manager->Drag(*this, BarWindow(), screen);
}

RECT CControlBar::GripperRect(const RECT &client, bool horizontal)
{
    RECT rect = client;
    if (horizontal)
        rect.right = rect.left + GripperSize;
    else
        rect.bottom = rect.top + GripperSize;
    return rect;
}

void CControlBar::DrawGripper(HDC dc, const RECT &client, bool horizontal)
{
    RECT grip = GripperRect(client, horizontal);
    for (int offset : {2, 5}) {
        RECT line = horizontal ? RECT{grip.left + offset, grip.top + 2, grip.left + offset + 3, grip.bottom - 2}
                               : RECT{grip.left + 2, grip.top + offset, grip.right - 2, grip.top + offset + 3};
        DrawEdge(dc, &line, BDR_RAISEDINNER, BF_RECT);
    }
}

// --- the manager -----------------------------------------------------------------------

struct CDockManager::Slot {
    CControlBar *bar;
    int id;
    bool shown;
    HWND mini;
};

CDockManager::CDockManager()
    : m_layout(
          [this](int id, bool horizontal) {
              CBarRequest request;
              request.horizontal = horizontal;
              request.stretch = true;
              return m_slots[size_t(id)]->bar->RequestLayout(request);
          },
          [this](int id) { return m_slots[size_t(id)]->shown; })
{
}

CDockManager::~CDockManager()
{
    // The bars may be gone already: only the mini frames are the manager's.
    for (std::unique_ptr<Slot> &slot : m_slots) {
        if (slot->mini && IsWindow(slot->mini)) {
            SetWindowLongPtrA(slot->mini, GWLP_USERDATA, 0);
            DestroyWindow(slot->mini);
        }
    }
}

void CDockManager::Attach(HINSTANCE instance, HWND frame)
{
    m_instance = instance;
    m_frame = frame;
    RegisterWindowClass(instance, kMiniFrameClass, MiniFrameProc);
}

CDockManager::Slot &CDockManager::SlotOf(CControlBar &bar)
{
    for (std::unique_ptr<Slot> &slot : m_slots)
        if (slot->bar == &bar)
            return *slot;
    m_slots.emplace_back(new Slot{&bar, int(m_slots.size()), true, NULL});
    bar.m_manager = this;
    return *m_slots.back();
}

const CDockManager::Slot *CDockManager::FindSlot(const CControlBar &bar) const
{
    for (const std::unique_ptr<Slot> &slot : m_slots)
        if (slot->bar == &bar)
            return slot.get();
    return nullptr;
}

bool CDockManager::Shown(const CControlBar &bar) const
{
    const Slot *slot = FindSlot(bar);
    return slot && slot->shown;
}

HWND CDockManager::MiniFrame(const CControlBar &bar) const
{
    const Slot *slot = FindSlot(bar);
    return slot ? slot->mini : NULL;
}

void CDockManager::Dock(CControlBar &bar, DockSide side, const RECT *at)
{
    CDockLayout::Place place;
    place.side = side;
    if (at) {
        POINT corner = {at->left, at->top};
        place = m_layout.PlaceOn(side, m_area, corner, corner);
    }
    Place(SlotOf(bar), place);
}

void CDockManager::Place(Slot &slot, const CDockLayout::Place &place)
{
    m_layout.Move(slot.id, place);
    DestroyMiniFrame(slot);
    slot.bar->m_side = slot.bar->m_lastDocked = place.side;
    slot.bar->OnPlaced(place.side);
    ShowWindow(slot.bar->BarWindow(), slot.shown ? SW_SHOWNA : SW_HIDE);
    Changed();
}

void CDockManager::DestroyMiniFrame(Slot &slot)
{
    if (!slot.mini)
        return;
    HWND mini = slot.mini;
    slot.mini = NULL;
    SetParent(slot.bar->BarWindow(), m_frame);
    SetWindowLongPtrA(mini, GWLP_USERDATA, 0);
    DestroyWindow(mini);
}

void CDockManager::Float(CControlBar &bar, POINT at)
{
    Slot &slot = SlotOf(bar);
    HWND window = bar.BarWindow();
    bool sizable = bar.SizableFloating();
    if (!slot.mini) {
        slot.mini = CreateWindowExA(kMiniFrameExStyle, kMiniFrameClass, bar.FloatingCaption().c_str(),
                                    MiniFrameStyle(sizable), at.x, at.y, 100, 100, m_frame, NULL, m_instance, &slot);
        if (!slot.mini)
            return;  // it stays where it is
        SetParent(window, slot.mini);
    }
    m_layout.Remove(slot.id);
    bar.m_side = DockFloat;
    bar.OnPlaced(DockFloat);
    CBarRequest request;
    request.kind = CBarRequest::Floating;
    SIZE size = bar.RequestLayout(request);
    SIZE outer = MiniFrameSize(size, sizable);
    SetWindowPos(slot.mini, NULL, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(slot.mini, &client);
    MoveWindow(window, 0, 0, client.right, client.bottom, TRUE);
    ShowWindow(window, SW_SHOWNA);
    ShowWindow(slot.mini, slot.shown ? SW_SHOWNA : SW_HIDE);
    Changed();
}

void CDockManager::Show(CControlBar &bar, bool show)
{
    Slot &slot = SlotOf(bar);
    slot.shown = show;
    if (slot.mini)
        ShowWindow(slot.mini, show ? SW_SHOWNA : SW_HIDE);
    else if (bar.Side() != DockFloat)
        ShowWindow(bar.BarWindow(), show ? SW_SHOWNA : SW_HIDE);
    Changed();
}

RECT CDockManager::Layout(const RECT &area)
{
    m_area = area;
    std::vector<std::pair<int, RECT>> rects;
    RECT rest = m_layout.Arrange(area, &rects);
    for (const std::pair<int, RECT> &placed : rects) {
        HWND window = m_slots[size_t(placed.first)]->bar->BarWindow();
        RECT now;
        GetWindowRect(window, &now);
        MapWindowPoints(NULL, m_frame, reinterpret_cast<POINT *>(&now), 2);
        const RECT &r = placed.second;
        // Painted anew: the bits copied along with a moved window may be stale.
        if (!EqualRect(&now, &r))
            SetWindowPos(window, NULL, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
    return rest;
}

void CDockManager::Changed()
{
    if (m_changed)
        m_changed();
    else if (m_frame)
        Layout(m_area);
}

RECT CDockManager::ScreenArea() const
{
    RECT area = m_area;
    MapWindowPoints(m_frame, NULL, reinterpret_cast<POINT *>(&area), 2);
    return area;
}

RECT CDockManager::TrackRect(CControlBar &bar, POINT point, POINT grab, CDockLayout::Place *place) const
{
    RECT area = ScreenArea();
    POINT lead = {point.x - grab.x, point.y - grab.y};
    *place = m_layout.DropTarget(area, bar.AllowedSides() & m_enabled, point, lead);
    CBarRequest request;
    SIZE size;
    if (place->side == DockFloat) {
        request.kind = CBarRequest::Floating;
        size = MiniFrameSize(bar.RequestLayout(request), bar.SizableFloating());
    } else {
        request.horizontal = IsHorizontal(place->side);
        size = bar.RequestLayout(request);
    }
    // The mouse keeps its place on the bar as far as the new shape allows.
    if (grab.x >= size.cx)
        lead.x = point.x - (size.cx - 1);
    if (grab.y >= size.cy)
        lead.y = point.y - (size.cy - 1);
    if (place->side != DockFloat)
        *place = m_layout.PlaceOn(place->side, area, point, lead);
    return RECT{lead.x, lead.y, lead.x + size.cx, lead.y + size.cy};
}

bool CDockManager::Drag(CControlBar &bar, HWND from, POINT screen)
{
    Slot &slot = SlotOf(bar);
    RECT start;
    GetWindowRect(slot.mini ? slot.mini : bar.BarWindow(), &start);
    POINT grab = {screen.x - start.left, screen.y - start.top};
    SetCapture(from);
    const int slackX = GetSystemMetrics(SM_CXDRAG), slackY = GetSystemMetrics(SM_CYDRAG);
    bool moved = false, dropped = false, drawn = false;
    RECT track = {};
    CDockLayout::Place target;
    while (GetCapture() == from) {
        MSG msg;
        if (GetMessageA(&msg, NULL, 0, 0) <= 0) {
            PostQuitMessage(int(msg.wParam));
            break;
        }
        if (msg.message == WM_MOUSEMOVE || msg.message == WM_LBUTTONUP) {
            POINT point = MessagePoint(msg.lParam);
            ClientToScreen(msg.hwnd, &point);
            // A click that does not move is no drag.
            if (moved || abs(point.x - screen.x) > slackX || abs(point.y - screen.y) > slackY) {
                moved = true;
                RECT next = TrackRect(bar, point, grab, &target);
                if (!drawn || !EqualRect(&next, &track)) {
                    if (drawn)
                        InvertFrame(track);
                    InvertFrame(track = next);
                    drawn = true;
                }
            }
            if (msg.message == WM_LBUTTONUP) {
                dropped = moved;
                break;
            }
        } else if ((msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) || msg.message == WM_RBUTTONDOWN) {
            break;
        } else if ((msg.message < WM_MOUSEFIRST || msg.message > WM_MOUSELAST) &&
                   (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)) {
            // Other input waits out the drag; everything else goes on.
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (drawn)
        InvertFrame(track);
    if (GetCapture() == from)
        ReleaseCapture();
    if (!dropped)
        return false;
    if (target.side == DockFloat)
        Float(bar, POINT{track.left, track.top});
    else
        Place(slot, target);
    return true;
}

LRESULT CALLBACK CDockManager::MiniFrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Slot *slot = WindowObject<Slot>(hwnd, message, lParam);
    if (!slot || !slot->bar->m_manager)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return slot->bar->m_manager->OnMiniFrameMessage(*slot, hwnd, message, wParam, lParam);
}

LRESULT CDockManager::OnMiniFrameMessage(Slot &slot, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CControlBar &bar = *slot.bar;
    switch (message) {
    case WM_NCLBUTTONDOWN:
        // The caption moves the bar the way its gripper does.
        if (wParam == HTCAPTION) {
            Drag(bar, hwnd, MessagePoint(lParam));
            return 0;
        }
        break;
    case WM_SIZE:
        // Not while it is made: the bar still stands docked then.
        if (GetParent(bar.BarWindow()) == hwnd)
            MoveWindow(bar.BarWindow(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SIZING: {
        // The bar decides its size; the edge not dragged stays.
        RECT *rect = reinterpret_cast<RECT *>(lParam);
        SIZE frame = MiniFrameSize(SIZE{0, 0}, bar.SizableFloating());
        CBarRequest request;
        request.kind = CBarRequest::Floating;
        SIZE size = bar.RequestLayout(request);
        bool left = wParam == WMSZ_LEFT || wParam == WMSZ_TOPLEFT || wParam == WMSZ_BOTTOMLEFT;
        bool top = wParam == WMSZ_TOP || wParam == WMSZ_TOPLEFT || wParam == WMSZ_TOPRIGHT;
        if (wParam != WMSZ_TOP && wParam != WMSZ_BOTTOM) {
            request.kind = CBarRequest::FloatWidth;
            request.length = rect->right - rect->left - frame.cx;
            size = bar.RequestLayout(request);
        }
        if (wParam != WMSZ_LEFT && wParam != WMSZ_RIGHT) {
            request.kind = CBarRequest::FloatLength;
            request.length = rect->bottom - rect->top - frame.cy;
            size = bar.RequestLayout(request);
        }
        if (left)
            rect->left = rect->right - (size.cx + frame.cx);
        else
            rect->right = rect->left + size.cx + frame.cx;
        if (top)
            rect->top = rect->bottom - (size.cy + frame.cy);
        else
            rect->bottom = rect->top + size.cy + frame.cy;
        return TRUE;
    }
    case WM_EXITSIZEMOVE: {
        // The size the user let go of is the one the bar keeps.
        RECT client;
        GetClientRect(hwnd, &client);
        CBarRequest request;
        request.kind = CBarRequest::FloatLength;
        request.commit = true;
        request.length = client.bottom;
        bar.RequestLayout(request);
        return 0;
    }
    case WM_CLOSE:
        Show(bar, false);
        return 0;
    case WM_DESTROY:
        // Going with its owner, the frame: the bar stays the frame's.
        if (GetParent(bar.BarWindow()) == hwnd) {
            ShowWindow(bar.BarWindow(), SW_HIDE);
            SetParent(bar.BarWindow(), m_frame);
        }
        slot.mini = NULL;
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
