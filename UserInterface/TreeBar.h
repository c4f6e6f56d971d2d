// CTreeBar: the bar at the side of the main window that holds the tree
// control (template 103, tree 1000). It docks left, or right when the profile
// says so, and the user sizes it by dragging its inner edge; its sizes and
// side live in the profile section "Misc". It does not float: the floating
// sizes are kept as read.
#pragma once
#include <windows.h>
#include <functional>
#include "Dialog.h"
#include "Profile.h"

class CTreeBar : public CDialog {
public:
    static const UINT TemplateId = 103;
    static const int TreeId = 1000;
    static const int EdgeGrip = 15;   // pixels from the inner edge that start a resize
    static const int MinWidth = 20;
    static const int Margin = 10;     // between the bar and the tree
    // Alignment bits of "DockedDialogState".
    static const DWORD AlignLeft = 0x1000, AlignRight = 0x4000;

    CTreeBar(HINSTANCE instance, IProfile &profile);

    // Makes the bar a child of frame and reads the sizes from the profile.
    bool Create(HWND frame);
    HWND Tree() const { return Item(TreeId); }
    bool DockedLeft() const { return m_align != AlignRight; }
    int DockedWidth() const { return m_docked.cx; }
    SIZE FloatingSize() const { return m_floating; }
    // The frame lays out again after a resize by the edge.
    void OnResized(std::function<void()> handler) { m_resized = std::move(handler); }
    // Tree notifications, for the browser.
    void OnTreeNotify(std::function<bool(NMHDR *, LRESULT *)> handler) { m_notify = std::move(handler); }
    // Writes the side and sizes to the profile.
    void SaveState();

    // The width after dragging the inner edge from startX to endX (the bar's
    // client coordinates): docked left, the distance from the left edge;
    // docked right, the width less the movement. Never below MinWidth.
    static int DraggedWidth(bool dockedLeft, int width, int startX, int endX);
    // Whether a press at x (client coordinates) lies on the inner edge.
    static bool OnEdge(bool dockedLeft, int width, int x);

protected:
    BOOL OnInitDialog() override;
    bool OnNotify(NMHDR *header, LRESULT *result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) override;
    // Enter and Escape in the tree leave the bar alone.
    void OnOK() override {}
    void OnCancel() override {}

private:
    void LayoutTree();
    void DrawTracker(int x);
    int ReadInt(const char *entry, int fallback);

    IProfile &m_profile;
    DWORD m_align = AlignLeft;
    SIZE m_docked{200, 400}, m_floating{200, 400};
    bool m_dragging = false;
    int m_dragStart = 0, m_lastTrack = -1;
    HCURSOR m_resizeCursor = NULL;
    std::function<void()> m_resized;
    std::function<bool(NMHDR *, LRESULT *)> m_notify;
};
