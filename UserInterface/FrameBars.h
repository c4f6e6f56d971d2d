// The main window's bars: the main toolbar and the RunTime toolbar in one
// row at the top, the Configuration toolbar in a row at the bottom, and the
// status bar (message pane, CAP, NUM, SCRL) below it. The toolbars stay in
// their rows; the View menu shows and hides each bar.
#pragma once
#include <windows.h>
#include <functional>
#include "CmdUI.h"

class CFrameBars {
public:
    enum Bar { MainBar, RunTimeBar, ConfigBar, StatusBar, BarCount };
    static const UINT ViewMainToolbar = 59392;
    static const UINT ViewRunTimeToolbar = 32779;
    static const UINT ViewConfigToolbar = 32781;
    static const UINT ViewStatusBar = 59393;

    // Makes the four bars; false when any cannot be made.
    bool Create(HINSTANCE instance, HWND frame);
    // Places the bars in the client area and returns what is left between them.
    RECT Layout(const RECT &client);
    bool Visible(Bar bar) const { return m_visible[bar]; }
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
    HWND Window(Bar bar) const { return m_windows[bar]; }

private:
    HWND m_windows[BarCount] = {};
    bool m_visible[BarCount] = {true, true, true, true};
};
