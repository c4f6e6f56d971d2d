#include "FrameBars.h"
#include <commctrl.h>
#include <string>

namespace {

struct Button {
    UINT id;
    int image;        // a standard image, or -1 for a text button
    const char *text; // the button's label (text buttons only)
    const char *tip;
};

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
};
const ToolbarLayout Toolbars[] = {
    {MainButtons, int(sizeof MainButtons / sizeof *MainButtons), 128},
    {RunTimeButtons, int(sizeof RunTimeButtons / sizeof *RunTimeButtons), 132},
    {ConfigButtons, int(sizeof ConfigButtons / sizeof *ConfigButtons), 130},
};

const Button *FindButton(UINT id)
{
    for (const ToolbarLayout &bar : Toolbars)
        for (int i = 0; i < bar.count; ++i)
            if (bar.buttons[i].id == id)
                return &bar.buttons[i];
    return nullptr;
}

HWND MakeToolbar(HINSTANCE instance, HWND frame, const ToolbarLayout &layout)
{
    HWND bar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_LIST | CCS_NODIVIDER |
                                   CCS_NORESIZE | CCS_NOPARENTALIGN,
                               0, 0, 0, 0, frame, HMENU(UINT_PTR(layout.id)), instance, NULL);
    if (!bar)
        return NULL;
    SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(bar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    SendMessageA(bar, TB_ADDBITMAP, 0, LPARAM(&standard));
    for (int i = 0; i < layout.count; ++i) {
        const Button &b = layout.buttons[i];
        TBBUTTON button = {};
        button.idCommand = int(b.id);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
        if (b.image >= 0) {
            button.iBitmap = b.image;
        } else {
            button.iBitmap = I_IMAGENONE;
            button.fsStyle |= BTNS_SHOWTEXT;
            button.iString = SendMessageA(bar, TB_ADDSTRINGA, 0, LPARAM((std::string(b.text) + '\0').c_str()));
        }
        SendMessageA(bar, TB_ADDBUTTONSA, 1, LPARAM(&button));
    }
    SendMessageA(bar, TB_AUTOSIZE, 0, 0);
    return bar;
}

SIZE ToolbarSize(HWND bar)
{
    SIZE size = {0, 0};
    SendMessageA(bar, TB_GETMAXSIZE, 0, LPARAM(&size));
    DWORD buttons = DWORD(SendMessageA(bar, TB_GETBUTTONSIZE, 0, 0));
    if (size.cy < HIWORD(buttons))
        size.cy = HIWORD(buttons);
    size.cy += 4;
    return size;
}

} // namespace

bool CFrameBars::Create(HINSTANCE instance, HWND frame)
{
    m_windows[MainBar] = MakeToolbar(instance, frame, Toolbars[0]);
    m_windows[StatusBar] = CreateWindowExA(0, STATUSCLASSNAMEA, "Ready", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0,
                                           0, 0, 0, frame, HMENU(UINT_PTR(59393)), instance, NULL);
    m_windows[RunTimeBar] = MakeToolbar(instance, frame, Toolbars[1]);
    m_windows[ConfigBar] = MakeToolbar(instance, frame, Toolbars[2]);
    for (HWND window : m_windows)
        if (!window)
            return false;
    UpdateIndicators();
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

void CFrameBars::Toggle(Bar bar)
{
    m_visible[bar] = !m_visible[bar];
    ShowWindow(m_windows[bar], m_visible[bar] ? SW_SHOW : SW_HIDE);
}

RECT CFrameBars::Layout(const RECT &client)
{
    RECT rest = client;
    // Top row: the main toolbar, the RunTime toolbar beside it.
    int rowHeight = 0;
    int x = client.left;
    for (Bar bar : {MainBar, RunTimeBar}) {
        if (!m_visible[bar])
            continue;
        SIZE size = ToolbarSize(m_windows[bar]);
        MoveWindow(m_windows[bar], x, client.top, size.cx + 4, size.cy, TRUE);
        x += size.cx + 12;
        if (size.cy > rowHeight)
            rowHeight = size.cy;
    }
    rest.top += rowHeight;
    if (m_visible[StatusBar]) {
        SendMessageA(m_windows[StatusBar], WM_SIZE, 0, 0);
        RECT status;
        GetWindowRect(m_windows[StatusBar], &status);
        rest.bottom -= status.bottom - status.top;
        int width = client.right - client.left;
        int parts[4] = {width - 3 * 50 - 20, width - 2 * 50 - 20, width - 50 - 20, -1};
        if (parts[0] < 10)
            parts[0] = 10;
        SendMessageA(m_windows[StatusBar], SB_SETPARTS, 4, LPARAM(parts));
    }
    if (m_visible[ConfigBar]) {
        SIZE size = ToolbarSize(m_windows[ConfigBar]);
        rest.bottom -= size.cy;
        MoveWindow(m_windows[ConfigBar], client.left, rest.bottom, client.right - client.left, size.cy, TRUE);
    }
    if (rest.bottom < rest.top)
        rest.bottom = rest.top;
    return rest;
}

void CFrameBars::UpdateButtons(const std::function<CCmdUI(UINT)> &state)
{
    for (int t = 0; t < 3; ++t) {
        HWND bar = m_windows[t == 0 ? MainBar : t == 1 ? RunTimeBar : ConfigBar];
        if (!bar)
            continue;
        for (int i = 0; i < Toolbars[t].count; ++i) {
            UINT id = Toolbars[t].buttons[i].id;
            CCmdUI ui = state(id);
            SendMessageA(bar, TB_ENABLEBUTTON, id, MAKELPARAM(ui.Enabled() ? TRUE : FALSE, 0));
            // A command whose handler says nothing of a check is not pressed.
            SendMessageA(bar, TB_CHECKBUTTON, id, MAKELPARAM(ui.Checked() > 0 ? TRUE : FALSE, 0));
        }
    }
}

bool CFrameBars::OnNotify(NMHDR *header)
{
    if (header->code != TTN_GETDISPINFOA && header->code != TTN_GETDISPINFOW)
        return false;
    const Button *button = FindButton(UINT(header->idFrom));
    if (!button)
        return false;
    if (header->code == TTN_GETDISPINFOA) {
        NMTTDISPINFOA *info = reinterpret_cast<NMTTDISPINFOA *>(header);
        info->hinst = NULL;
        info->lpszText = const_cast<char *>(button->tip);
    } else {
        NMTTDISPINFOW *info = reinterpret_cast<NMTTDISPINFOW *>(header);
        info->hinst = NULL;
        MultiByteToWideChar(CP_ACP, 0, button->tip, -1, info->szText, int(sizeof info->szText / sizeof(WCHAR)));
        info->lpszText = info->szText;
    }
    return true;
}

void CFrameBars::SetMessage(const char *text)
{
    SendMessageA(m_windows[StatusBar], SB_SETTEXTA, 0, LPARAM(text && *text ? text : "Ready"));
}

void CFrameBars::UpdateIndicators()
{
    struct Key {
        int vk;
        const char *text;
    } const keys[] = {{VK_CAPITAL, "CAP"}, {VK_NUMLOCK, "NUM"}, {VK_SCROLL, "SCRL"}};
    for (int i = 0; i < 3; ++i) {
        bool on = (GetKeyState(keys[i].vk) & 1) != 0;
        SendMessageA(m_windows[StatusBar], SB_SETTEXTA, WPARAM(i + 1), LPARAM(on ? keys[i].text : ""));
    }
}
