#include "FrameBars.h"
#include <commctrl.h>

namespace {

typedef CToolBar::Button Button;

const Button MainButtons[] = {
    {57600, STD_FILENEW, nullptr, "New configuration"},
    {57601, STD_FILEOPEN, nullptr, "Open a configuration file"},
    {57603, STD_FILESAVE, nullptr, "Save the configuration"},
    {57604, STD_REPLACE, nullptr, "Save the configuration under a new name"},
    {57667, STD_HELP, nullptr, "Help Topics"},
};
const Button RunTimeButtons[] = {
    {32793, -1, "Start", "Start polling"},
    {32794, -1, "Stop", "Stop polling"},
    {32777, -1, "Config", "Configuration mode"},
    {32778, -1, "Stats", "Statistics mode"},
    {32795, -1, "Reset", "Reset the statistics"},
    {32786, -1, "Templates", "Templates"},
    {32788, -1, "Setup", "Setup"},
    {32789, -1, "Server", "Connect to an I/O server (OLE Server)"},
    {32787, -1, "Tracewell", "Open or close the data monitor Tracewell"},
};
const Button ConfigButtons[] = {
    {32771, -1, "Add Channel", "Add a channel"},
    {32772, -1, "Add Device", "Add a device to the selected channel"},
    {32773, -1, "Add Block", "Add a data block to the selected device"},
    {32775, -1, "Delete", "Delete the selected object"},
};

struct ToolbarLayout {
    const Button *buttons;
    int count;
    UINT id;
    const char *caption;  // its floating window's
    DWORD sides;
};
const ToolbarLayout Toolbars[] = {
    {MainButtons, int(sizeof MainButtons / sizeof *MainButtons), 128, "Main Toolbar", AlignAny},
    {RunTimeButtons, int(sizeof RunTimeButtons / sizeof *RunTimeButtons), 132, "RunTime Toolbar",
     AlignTop | AlignBottom},
    {ConfigButtons, int(sizeof ConfigButtons / sizeof *ConfigButtons), 130, "Configuration Toolbar",
     AlignTop | AlignBottom},
};

bool MakeToolbar(HINSTANCE instance, HWND frame, CToolBar &bar, const ToolbarLayout &layout)
{
    if (!bar.Create(instance, frame, layout.id, layout.caption, layout.buttons, layout.count))
        return false;
    bar.SetAllowedSides(layout.sides);
    return true;
}

} // namespace

bool CFrameBars::Create(HINSTANCE instance, HWND frame)
{
    bool made = MakeToolbar(instance, frame, m_toolbars[MainBar], Toolbars[MainBar]);
    m_status = CreateWindowExA(0, STATUSCLASSNAMEA, "Ready", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                               frame, HMENU(UINT_PTR(59393)), instance, NULL);
    made = made && m_status && MakeToolbar(instance, frame, m_toolbars[RunTimeBar], Toolbars[RunTimeBar]) &&
           MakeToolbar(instance, frame, m_toolbars[ConfigBar], Toolbars[ConfigBar]);
    if (!made)
        return false;
    UpdateIndicators();
    m_dock.Attach(instance, frame);
    m_dock.EnableDocking(AlignAny);
    // The RunTime toolbar goes beside the main toolbar: where that one
    // stands, one pixel on, so that the row puts it after it.
    CToolBar &main = m_toolbars[MainBar];
    m_dock.Dock(main, DockTop);
    RECT client;
    GetClientRect(frame, &client);
    Layout(client);
    RECT at;
    GetWindowRect(main.BarWindow(), &at);
    MapWindowPoints(NULL, frame, reinterpret_cast<POINT *>(&at), 2);
    OffsetRect(&at, 1, 0);
    m_dock.Dock(m_toolbars[RunTimeBar], main.Side(), &at);
    m_dock.Dock(m_toolbars[ConfigBar], DockBottom);
    return true;
}

CFrameBars::Bar CFrameBars::BarOfCommand(UINT id)
{
    switch (id) {
    case ViewMainToolbar:
        return MainBar;
    case ViewRunTimeToolbar:
        return RunTimeBar;
    case ViewConfigToolbar:
        return ConfigBar;
    case ViewStatusBar:
        return StatusBar;
    }
    return BarCount;
}

bool CFrameBars::Visible(Bar bar) const
{
    return bar == StatusBar ? m_statusVisible : m_dock.Shown(m_toolbars[bar]);
}

void CFrameBars::Toggle(Bar bar)
{
    if (bar != StatusBar) {
        m_dock.Show(m_toolbars[bar], !m_dock.Shown(m_toolbars[bar]));
        return;
    }
    m_statusVisible = !m_statusVisible;
    ShowWindow(m_status, m_statusVisible ? SW_SHOW : SW_HIDE);
}

RECT CFrameBars::Layout(const RECT &client)
{
    // The status bar along the bottom; the docked bars in what it leaves.
    RECT rest = client;
    if (m_statusVisible) {
        SendMessageA(m_status, WM_SIZE, 0, 0);
        RECT status;
        GetWindowRect(m_status, &status);
        rest.bottom -= status.bottom - status.top;
        int width = client.right - client.left;
        int parts[4] = {width - 3 * 50 - 20, width - 2 * 50 - 20, width - 50 - 20, -1};
        if (parts[0] < 10)
            parts[0] = 10;
        SendMessageA(m_status, SB_SETPARTS, 4, LPARAM(parts));
    }
    if (rest.bottom < rest.top)
        rest.bottom = rest.top;
    return m_dock.Layout(rest);
}

void CFrameBars::UpdateButtons(const std::function<CCmdUI(UINT)> &state)
{
    for (CToolBar &bar : m_toolbars)
        bar.UpdateButtons(state);
}

bool CFrameBars::OnNotify(NMHDR *header)
{
    for (CToolBar &bar : m_toolbars)
        if (bar.OnNotify(header))
            return true;
    return false;
}

void CFrameBars::SetMessage(const char *text)
{
    SendMessageA(m_status, SB_SETTEXTA, 0, LPARAM(text && *text ? text : "Ready"));
}

void CFrameBars::UpdateIndicators()
{
    struct Key {
        int vk;
        const char *text;
    } const keys[] = {{VK_CAPITAL, "CAP"}, {VK_NUMLOCK, "NUM"}, {VK_SCROLL, "SCRL"}};
    for (int i = 0; i < 3; ++i) {
        bool on = (GetKeyState(keys[i].vk) & 1) != 0;
        SendMessageA(m_status, SB_SETTEXTA, WPARAM(i + 1), LPARAM(on ? keys[i].text : ""));
    }
}
