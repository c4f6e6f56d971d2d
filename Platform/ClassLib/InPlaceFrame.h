// CInPlaceFrameWnd: the frame of a document active inside a container's
// window. It is a child of the container's site window at the object's
// place, with a hatched resize border around the document (dragging its
// corner asks the container for a new place), routes the commands of its
// menu like the program's own frame, and merges that menu into the menu
// bar the container shares with it: the menu's popups go into the edit,
// object and help groups between the container's file, container and
// window groups.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <functional>
#include <vector>
#include "FrameWnd.h"

class CInPlaceFrameWnd : public CFrameWnd {
public:
    static const int BorderWidth = 4;  // the hatched border around the document

    // menuId: the in-place menu and accelerators; groups: how many of the
    // menu's popups, in order, go into the edit, object and help groups.
    CInPlaceFrameWnd(HINSTANCE instance, UINT menuId, const int (&groups)[3]);
    ~CInPlaceFrameWnd() override;

    // Makes the window in parent with the document at position (parent's
    // client coordinates), clipped to clip.
    bool CreateInPlace(HWND parent, const RECT &position, const RECT &clip);
    void DestroyInPlace();
    // The container moved or clipped the object.
    void SetObjectRects(const RECT &position, const RECT &clip);
    // Where the document is, in the parent's client coordinates.
    RECT Position() const { return m_position; }

    // The shared menu: made and handed to the container's frame (null: it
    // is taken back and the container's own menu returns).
    bool MergeMenus(IOleInPlaceFrame *frame);
    void UnmergeMenus(IOleInPlaceFrame *frame);
    HMENU SharedMenu() const { return m_shared; }
    // The widths of the six groups as the shared menu holds them.
    const OLEMENUGROUPWIDTHS &Widths() const { return m_widths; }

    // The user dragged the border's corner to a new size of the document.
    void OnPositionChanged(std::function<void(const RECT &)> handler) { m_positionChanged = std::move(handler); }

    // The shared menu's layout from the container's groups and this
    // frame's: where each of this frame's popups goes (an index into the
    // shared menu), in the menu's order.
    static std::vector<int> SharedPositions(const OLEMENUGROUPWIDTHS &container, const int (&groups)[3]);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The document's place inside the border changed to width x height.
    void OnSize(int width, int height) override {}
    // The window goes with the activation, not the program.
    void OnDestroy() override {}
    void OnClose() override {}

private:
    void PaintBorder();
    static RECT Inflated(const RECT &rect);

    UINT m_menuId;
    int m_groups[3];
    HMENU m_menu = NULL;     // the in-place menu whose popups are lent
    HMENU m_shared = NULL;
    HOLEMENU m_descriptor = NULL;
    OLEMENUGROUPWIDTHS m_widths{};
    RECT m_position{};
    bool m_dragging = false;
    POINT m_dragStart{};
    RECT m_dragFrom{};
    std::function<void(const RECT &)> m_positionChanged;
};
