// CTreeBar: the bar that holds the tree control (template 103, tree 1000).
// It docks on the left or the right of the main window (left unless the
// profile says right) and floats in a mini frame when dragged there by its
// gripper; docked, the user sizes it by dragging its inner edge. Its sizes
// and side live in the profile section "Misc" (CTreeBarLayout).
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "ControlBar.h"
#include "Dialog.h"
#include "Profile.h"

// The tree bar's sizes: what it asks of the frame's layout, docked and
// floating, and their profile entries.
class CTreeBarLayout {
public:
    static const int MinWidth = 20;

    // The sizes start as size and then take the profile's values (none
    // below MinWidth); the side comes from "DockedDialogState".
    void Load(IProfile &profile, SIZE size);
    // "DockedDialogState" (style's alignment bits), then the floating and
    // the docked sizes.
    void Save(IProfile &profile, DWORD style) const;
    // The side the profile named: the right for its right alignment, else
    // the left.
    DockSide Side() const { return m_side; }
    SIZE Request(const CBarRequest &request);
    SIZE Docked() const { return m_docked; }
    SIZE Floating() const { return m_floating; }
    // The width a drag of the inner edge gave; never below MinWidth.
    void SetDockedWidth(int width);

private:
    SIZE m_docked{200, 400}, m_floating{200, 400};
    DockSide m_side = DockLeft;
};

class CTreeBar : public CDialog, public CControlBar {
public:
    static const UINT TemplateId = 103;
    static const int TreeId = 1000;
    static const int EdgeGrip = 15;   // pixels from the inner edge that start a resize
    static const int MinWidth = CTreeBarLayout::MinWidth;
    static const int Margin = 10;     // between the bar and the tree

    CTreeBar(HINSTANCE instance, IProfile &profile);

    // Makes the bar a child of frame and reads the sizes from the profile.
    bool Create(HWND frame);
    HWND Tree() const { return Item(TreeId); }
    const CTreeBarLayout &Sizes() const { return m_layout; }
    // Tree notifications, for the browser.
    void OnTreeNotify(std::function<bool(NMHDR *, LRESULT *)> handler) { m_notify = std::move(handler); }
    // Writes the side and sizes to the profile.
    void SaveState();

    HWND BarWindow() const override { return Window(); }
    SIZE RequestLayout(const CBarRequest &request) override;
    std::string FloatingCaption() const override { return "Tree Browser"; }
    bool SizableFloating() const override { return true; }
    void OnPlaced(DockSide side) override;

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
    bool Docked() const { return Side() == DockLeft || Side() == DockRight; }
    void LayoutTree();
    void DrawTracker(int x);

    IProfile &m_profile;
    CTreeBarLayout m_layout;
    bool m_dragging = false;
    int m_dragStart = 0, m_lastTrack = -1;
    HCURSOR m_resizeCursor = NULL;
    std::function<bool(NMHDR *, LRESULT *)> m_notify;
};
