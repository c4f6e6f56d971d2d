// The main window's bars: the main toolbar (docks on any side), the RunTime
// and Configuration toolbars (the top or the bottom), and the status bar
// (message pane, CAP, NUM, SCRL) along the bottom. At start the main
// toolbar and the RunTime toolbar beside it share the top row and the
// Configuration toolbar docks at the bottom; the user drags each by its
// gripper to another side or out into a window of its own. The View menu
// shows and hides each bar. Other bars (the tree bar) dock through the same
// docking.
#pragma once
#include <windows.h>
#include <functional>
#include "CmdUI.h"
#include "ControlBar.h"
#include "ToolBar.h"

class CFrameBars {
public:
    enum Bar { MainBar, RunTimeBar, ConfigBar, StatusBar, BarCount };
    static const UINT ViewMainToolbar = 59392;
    static const UINT ViewRunTimeToolbar = 32779;
    static const UINT ViewConfigToolbar = 32781;
    static const UINT ViewStatusBar = 59393;

    // Makes the four bars and docks the toolbars at their places; false
    // when any cannot be made.
    bool Create(HINSTANCE instance, HWND frame);
    // Places the status bar and the docked bars in the client area and
    // returns what is left between them.
    RECT Layout(const RECT &client);
    bool Visible(Bar bar) const;
    void Toggle(Bar bar);
    // The View command for a bar, or BarCount when id is none.
    static Bar BarOfCommand(UINT id);
    // Each button takes the state the frame's chain gives its command.
    void UpdateButtons(const std::function<CCmdUI(UINT)> &state);
    // A toolbar button's tooltip (TTN_GETDISPINFO); false when not one of ours.
    bool OnNotify(NMHDR *header);
    // The message pane's text ("Ready" when empty) and the key indicators.
    void SetMessage(const char *text);
    void UpdateIndicators();
    CToolBar &Toolbar(Bar bar) { return m_toolbars[bar]; }
    CDockManager &Docking() { return m_dock; }

private:
    CToolBar m_toolbars[StatusBar];
    HWND m_status = NULL;
    bool m_statusVisible = true;
    CDockManager m_dock;
};
