// Bars that dock on the sides of a frame or float in a small window of
// their own (a mini frame). CControlBar is what a bar tells the docking;
// CDockManager docks one frame's bars, lays them out, floats them, and
// follows a drag by a bar's gripper or by its mini frame's caption to the
// side (or the floating place) where the bar is let go. Which side and row
// a drop takes and where the bars go is CDockLayout's; this moves windows.
#pragma once
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "DockLayout.h"

class CDockManager;

class CControlBar {
public:
    // Pixels across a docked bar's leading end that its gripper takes.
    static const int GripperSize = 8;

    virtual ~CControlBar() = default;
    virtual HWND BarWindow() const = 0;
    // The size the bar wants for the request.
    virtual SIZE RequestLayout(const CBarRequest &request) = 0;
    // The caption of its floating window.
    virtual std::string FloatingCaption() const = 0;
    // Whether the user may size its floating window.
    virtual bool SizableFloating() const { return false; }
    // The bar now stands on side, or floats (DockFloat): it may change its shape.
    virtual void OnPlaced(DockSide side) {}

    // The sides it may dock on (alignment bits).
    void SetAllowedSides(DWORD align) { m_allowed = align & AlignAny; }
    DWORD AllowedSides() const { return m_allowed; }
    // The side it stands on; DockFloat while it floats or before it is placed.
    DockSide Side() const { return m_side; }
    // The alignment bits of the side it is docked on; while it floats, of
    // the side it last docked on (0 when it never docked).
    DWORD AlignStyle() const { return AlignOf(m_side != DockFloat ? m_side : m_lastDocked); }
    CDockManager *Manager() const { return m_manager; }

protected:
    // A press on the gripper at a screen point: the drag that follows moves
    // the bar. False when the mouse did not move far enough to be a drag.
    bool StartDrag(POINT screen);
    // The gripper across the leading end of client: the left end of a
    // horizontal bar, the top of a vertical one.
    static RECT GripperRect(const RECT &client, bool horizontal);
    static void DrawGripper(HDC dc, const RECT &client, bool horizontal);

private:
    friend class CDockManager;
    CDockManager *m_manager = nullptr;
    DWORD m_allowed = AlignAny;
    DockSide m_side = DockFloat, m_lastDocked = DockFloat;
};

class CDockManager {
public:
    CDockManager();
    ~CDockManager();
    CDockManager(const CDockManager &) = delete;
    CDockManager &operator=(const CDockManager &) = delete;

    // frame: the window in whose client area the bars dock.
    void Attach(HINSTANCE instance, HWND frame);
    HWND Frame() const { return m_frame; }
    // The frame's sides that take bars (alignment bits).
    void EnableDocking(DWORD align) { m_enabled = align & AlignAny; }
    // The frame lays itself out again (Layout) when a bar moved, showed,
    // hid or changed its size.
    void OnChanged(std::function<void()> handler) { m_changed = std::move(handler); }

    // Docks the bar on side. at (the frame's client coordinates) chooses
    // the row and the place along it, as a drop there would; without it the
    // bar takes a new row on the inside.
    void Dock(CControlBar &bar, DockSide side, const RECT *at = nullptr);
    // Floats the bar in its mini frame, whose top-left corner goes to at
    // (screen coordinates).
    void Float(CControlBar &bar, POINT at);
    void Show(CControlBar &bar, bool show);
    bool Shown(const CControlBar &bar) const;
    // The bar's floating window, or NULL while it is docked.
    HWND MiniFrame(const CControlBar &bar) const;

    // Places the shown docked bars in area (the frame's client
    // coordinates); returns what is left.
    RECT Layout(const RECT &area);
    // A bar changed its size: the frame lays out again.
    void Changed();

    // Follows the mouse from a press at screen point in window from (which
    // takes the capture) until the button goes up, then docks or floats the
    // bar where it was let go; Escape, the right button or a lost capture
    // leave it where it was. False when nothing moved.
    bool Drag(CControlBar &bar, HWND from, POINT screen);

private:
    struct Slot;
    Slot &SlotOf(CControlBar &bar);
    const Slot *FindSlot(const CControlBar &bar) const;
    RECT ScreenArea() const;
    void Place(Slot &slot, const CDockLayout::Place &place);
    void DestroyMiniFrame(Slot &slot);
    // The rectangle that shows where the bar would go for a drop at point.
    RECT TrackRect(CControlBar &bar, POINT point, POINT grab, CDockLayout::Place *place) const;
    static LRESULT CALLBACK MiniFrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMiniFrameMessage(Slot &slot, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_instance = NULL;
    HWND m_frame = NULL;
    DWORD m_enabled = AlignAny;
    RECT m_area{};
    std::vector<std::unique_ptr<Slot>> m_slots;
    CDockLayout m_layout;
    std::function<void()> m_changed;
};
