// CToolBar: a row of buttons that docks and floats (CControlBar). A small
// window of its own carries the gripper and holds the common-controls
// toolbar; the buttons' commands and notifications go on to the frame
// wherever the bar stands. Docked on the left or the right it stands
// upright, one button under the other.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "CmdUI.h"
#include "ControlBar.h"

class CToolBar : public CControlBar {
public:
    struct Button {
        UINT id;
        int image;         // a standard small image, or -1 for a text button
        const char *text;  // the label of a text button
        const char *tip;
    };

    CToolBar() = default;
    ~CToolBar() override;
    CToolBar(const CToolBar &) = delete;
    CToolBar &operator=(const CToolBar &) = delete;

    // Makes the bar, hidden until it is docked or floated, as a child of
    // frame, which receives the buttons' WM_COMMAND and WM_NOTIFY; id is the
    // toolbar control's id.
    bool Create(HINSTANCE instance, HWND frame, UINT id, const std::string &caption, const Button *buttons,
                int count);
    HWND BarWindow() const override { return m_hwnd; }
    HWND Control() const { return m_toolbar; }
    SIZE RequestLayout(const CBarRequest &request) override;
    std::string FloatingCaption() const override { return m_caption; }
    void OnPlaced(DockSide side) override;

    // Each button takes the state that state gives its command.
    void UpdateButtons(const std::function<CCmdUI(UINT)> &state);
    // A button's tooltip (TTN_GETDISPINFO); false when the button is not
    // one of this bar's.
    bool OnNotify(NMHDR *header) const;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool Gripper() const { return Side() != DockFloat; }
    bool Upright() const { return Side() == DockLeft || Side() == DockRight; }
    // The size of the bar's window standing upright or not, with or
    // without the gripper.
    SIZE BarSize(bool upright, bool gripper) const;
    void PlaceControl();

    HWND m_hwnd = NULL, m_toolbar = NULL, m_frame = NULL;
    std::string m_caption;
    std::vector<Button> m_buttons;
};
