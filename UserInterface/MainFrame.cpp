#include "MainFrame.h"
#include "AboutBox.h"
#include "ScopeCallback.h"
#include <commctrl.h>
#include "resource.h"

const char CMainFrame::ClassName[] = "TolvaneMainFrame";

namespace {
const char kViewClass[] = "TolvaneObjectView";
const UINT kPollMs = 10000;
const char *const kKindNames[] = {"I/O Driver", "Channel", "Device", "Data Block"};
}

// --- the view --------------------------------------------------------------------------

CObjectView::CObjectView(HINSTANCE instance, CUserInterfaceDoc &document)
    : m_doc(document),
      m_forms{CObjectForm(document, KindChannel), CObjectForm(document, KindDevice), CObjectForm(document, KindDataBlock)},
      m_panes{CFormPane(instance, m_forms[0]), CFormPane(instance, m_forms[1]), CFormPane(instance, m_forms[2])}
{
}

void CObjectView::SetMenuOwner(HWND owner)
{
    for (CFormPane &pane : m_panes)
        pane.SetMenuOwner(owner);
}

void CObjectView::ShowPane(CFormPane *pane)
{
    if (pane == m_shown)
        return;
    if (m_shown) {
        // Hiding commits what the combo boxes hold.
        m_shown->CommitCombos();
        ShowWindow(m_shown->Window(), SW_HIDE);
    }
    m_shown = pane;
    m_doc.SetHelpContext(199999);
    if (pane)
        ShowWindow(pane->Window(), SW_SHOW);
}

bool CObjectView::Create(HINSTANCE instance, HWND parent)
{
    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, kViewClass, &wc)) {
        wc.lpfnWndProc = Proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        // The panes' own colour around them.
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kViewClass;
        if (!RegisterClassA(&wc))
            return false;
    }
    m_hwnd = CreateWindowExA(WS_EX_CLIENTEDGE | WS_EX_CONTROLPARENT, kViewClass, "",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0, 10, 10, parent, NULL, instance,
                             this);
    if (!m_hwnd)
        return false;
    for (CFormPane &pane : m_panes) {
        // The Help button's pop-up, with the located context-help file (the
        // button is enabled only with a handler).
        if (m_toolHelp)
            pane.OnHelp([this, &pane](const std::string &) {
                m_toolHelp->Display(m_hwnd, pane.Form().HelpTopic(m_toolHelp->ContextHelpFile()));
            });
        if (!pane.CreatePane(m_hwnd))
            return false;
        SetWindowPos(pane.Window(), NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    if (m_help)
        m_help->Create(instance, m_hwnd, HelpRect());
    return true;
}

// Below the tallest pane, to the view's bottom; at least a few lines high.
RECT CObjectView::HelpRect() const
{
    RECT client;
    GetClientRect(m_hwnd, &client);
    LONG top = 0;
    for (const CFormPane &pane : m_panes) {
        RECT rect;
        GetWindowRect(pane.Window(), &rect);
        if (rect.bottom - rect.top > top)
            top = rect.bottom - rect.top;
    }
    top += 6;
    if (client.bottom - top < 90)
        top = client.bottom > 90 ? client.bottom - 90 : 0;
    RECT rect = {0, top, client.right, client.bottom};
    return rect;
}

LRESULT CALLBACK CObjectView::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams));
    CObjectView *self = reinterpret_cast<CObjectView *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT:
        if (self) {
            self->Paint();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(hwnd, NULL, TRUE);
        return 0;
    case WM_SIZE:
        if (self && self->m_help)
            self->m_help->Move(self->HelpRect());
        return 0;
    case WM_COMMAND:
        if (self && self->m_help && self->m_help->OnCommand(hwnd, LOWORD(wParam)))
            return 0;
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void CObjectView::Refresh()
{
    int kind = m_doc.Kind();
    m_lines.clear();
    if (m_doc.Mode() == 1 && kind >= KindChannel && kind <= KindDataBlock && m_hwnd) {
        CFormPane &pane = m_panes[kind - 1];
        pane.Form().Refresh();
        pane.Fill();
        if (m_help)
            m_help->ShowGettingStarted(false, 12, 84);
        ShowPane(&pane);
        m_doc.UpdateEnabling();
        return;
    }
    ShowPane(nullptr);
    if (m_help)
        m_help->ShowGettingStarted(kind == KindDriver && m_doc.Mode() == 1, 12, 84);
    if (kind == KindDriver) {
        m_heading = "I/O Driver QOR";
        m_lines.push_back({"Configuration file", m_doc.Title()});
        m_lines.push_back({"Polling", m_doc.Running() ? "running" : "stopped"});
    } else {
        CObjectItem &item = kind == KindChannel ? static_cast<CObjectItem &>(m_doc.Channel())
                            : kind == KindDevice ? static_cast<CObjectItem &>(m_doc.Device())
                                                 : static_cast<CObjectItem &>(m_doc.DataBlock());
        m_heading = std::string(kKindNames[kind]) + " " + item.GetName();
        m_lines.push_back({"Statistics", "the statistics panes are not in the tool yet"});
    }
    if (m_doc.Mode() == 0)
        m_heading = "Statistics mode: " + m_heading;
    m_doc.UpdateEnabling();
    if (m_hwnd)
        InvalidateRect(m_hwnd, NULL, TRUE);
}

void CObjectView::Paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    SetBkMode(dc, TRANSPARENT);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTA bold;
    GetObjectA(font, sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    HFONT heading = CreateFontIndirectA(&bold);
    HGDIOBJ old = SelectObject(dc, heading);
    TextOutA(dc, 12, 10, m_heading.c_str(), int(m_heading.size()));
    SelectObject(dc, font);
    int y = 36;
    for (const auto &line : m_lines) {
        std::string label = line.first + ":";
        TextOutA(dc, 12, y, label.c_str(), int(label.size()));
        TextOutA(dc, 170, y, line.second.c_str(), int(line.second.size()));
        y += 18;
    }
    if (GetFocus() == m_hwnd) {
        RECT client;
        GetClientRect(m_hwnd, &client);
        InflateRect(&client, -3, -3);
        DrawFocusRect(dc, &client);
    }
    SelectObject(dc, old);
    DeleteObject(heading);
    EndPaint(m_hwnd, &ps);
}

// --- the frame -------------------------------------------------------------------------

CMainFrame::CMainFrame(HINSTANCE instance, CUserInterfaceDoc &document, IProfile &profile)
    : m_doc(document), m_bar(instance, profile), m_view(instance, document), m_browser(document)
{
    m_instance = instance;
}

bool CMainFrame::CreateFrame()
{
    SetRoute({&m_view, &m_doc});
    return Create(m_instance, ClassName, IDR_MAINFRAME, m_doc.Title(), 760, 520);
}

bool CMainFrame::OnCreate()
{
    if (!m_bars.Create(m_instance, m_hwnd))
        return false;
    if (!m_bar.Create(m_hwnd) || !m_view.Create(m_instance, m_hwnd))
        return false;
    m_tree.reset(new CTreeManager(m_instance, m_bar.Tree()));
    m_doc.SetTree(*m_tree);
    m_view.SetMenuOwner(m_hwnd);
    m_bar.OnResized([this] { Layout(); });
    m_bar.OnTreeNotify([this](NMHDR *header, LRESULT *result) { return OnTreeNotify(header, result); });
    // A pane commits its pending edit when it loses the focus.
    m_browser.OnKillFocus([] {
        if (HWND focus = GetFocus())
            SendMessageA(focus, WM_KILLFOCUS, 0, 0);
    });
    ShowWindow(m_bar.Window(), SW_SHOW);
    SetTimer(m_hwnd, PollTimer, kPollMs, NULL);
    SetTimer(m_hwnd, BarsTimer, 250, NULL);
    return true;
}

void CMainFrame::Layout()
{
    RECT whole;
    GetClientRect(m_hwnd, &whole);
    // The tree bar and the view share what the toolbars and status bar leave.
    RECT client = m_bars.Layout(whole);
    int top = client.top;
    client.bottom -= top;
    int barWidth = m_barVisible ? m_bar.DockedWidth() : 0;
    if (barWidth > client.right - 20)
        barWidth = client.right > 40 ? client.right - 20 : client.right;
    int barLeft = m_bar.DockedLeft() ? 0 : client.right - barWidth;
    int viewLeft = m_bar.DockedLeft() ? barWidth : 0;
    MoveWindow(m_bar.Window(), barLeft, top, barWidth, client.bottom, TRUE);
    MoveWindow(m_view.Window(), viewLeft, top, client.right - barWidth, client.bottom, TRUE);
}

void CMainFrame::OnSize(int, int) { Layout(); }

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == PollTimer)
            m_doc.TimerPoll();
        else if (wParam == BarsTimer)
            UpdateBars();
        return 0;
    case WM_NOTIFY:
        if (m_bars.OnNotify(reinterpret_cast<NMHDR *>(lParam)))
            return 0;
        break;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lParam) && LOWORD(lParam) == 0)
            UpdateRecentFiles(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_SETFOCUS:
        SetFocus(m_bar.Tree());
        return 0;
    case WM_HELP:
        // F1 on a control or menu item: its context-help pop-up, unless a
        // modifier is held.
        if (m_help && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0)
            m_help->ShowPopup(reinterpret_cast<HELPINFO *>(lParam)->iCtrlId);
        return TRUE;
    case WM_COMMAND:
        if (!lParam || HIWORD(wParam) == 0) {
            // A server call inside a command pumps messages: a command that
            // arrives meanwhile would act on a half-done selection, so it
            // waits until the running one is over.
            if (m_commandDepth > 0) {
                m_deferred.push_back(LOWORD(wParam));
                return 0;
            }
            ++m_commandDepth;
            LRESULT result = CFrameWnd::WindowProc(message, wParam, lParam);
            --m_commandDepth;
            for (WORD id : m_deferred)
                PostMessageA(m_hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
            m_deferred.clear();
            // Buttons and keys change states the bars show at once.
            UpdateBars();
            return result;
        }
        break;
    }
    return CFrameWnd::WindowProc(message, wParam, lParam);
}

// The recent files stand above the separator before "E&xit".
void CMainFrame::UpdateRecentFiles(HMENU menu)
{
    for (UINT i = 0; i < CUserInterfaceDoc::RecentCount; ++i)
        DeleteMenu(menu, CmdRecentFile1 + i, MF_BYCOMMAND);
    int exitPosition = -1;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        if (GetMenuItemID(menu, i) == CmdAppExit)
            exitPosition = i;
    if (exitPosition < 1)
        return;
    const std::vector<std::string> &recent = m_doc.RecentFiles();
    for (size_t i = 0; i < recent.size(); ++i) {
        std::string text = "&" + std::to_string(i + 1) + " " + recent[i];
        InsertMenuA(menu, UINT(exitPosition - 1 + int(i)), MF_BYPOSITION | MF_STRING, CmdRecentFile1 + i,
                    text.c_str());
    }
}

bool CMainFrame::OnUpdateCmdUI(CCmdUI &ui)
{
    switch (ui.Id()) {
    case IDM_TREE_BROWSER:
        ui.Enable(true);
        ui.SetCheck(m_barVisible);
        return true;
    case CmdAppExit:
    case CmdRefresh:
    case CmdNextPane:
        ui.Enable(true);
        return true;
    case IDM_HELP_TOPICS:
        ui.Enable(m_help != nullptr);
        return true;
    case CmdTemplates:
    case CmdSetup:
        // Their windows are not in the tool yet.
        ui.Enable(false);
        return true;
    case IDM_ABOUT:
        ui.Enable(true);
        return true;
    case IDM_TRACEWELL:
        // Only with the server's data-monitor connection.
        ui.Enable(m_scope != nullptr);
        ui.SetCheck(m_scope && m_scope->WindowOpen());
        return true;
    }
    CFrameBars::Bar bar = CFrameBars::BarOfCommand(ui.Id());
    if (bar != CFrameBars::BarCount) {
        ui.Enable(true);
        ui.SetCheck(m_bars.Visible(bar));
        return true;
    }
    return false;
}

bool CMainFrame::OnCmdMsg(UINT id)
{
    switch (id) {
    case CmdAppExit:
        PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
        return true;
    case CmdRefresh:
        m_browser.Refresh();
        m_view.Refresh();
        return true;
    case CmdNextPane:
        NextPane();
        return true;
    case IDM_HELP_TOPICS:
        if (m_help)
            m_help->HelpTopics();
        return true;
    case IDM_TREE_BROWSER:
        m_barVisible = !m_barVisible;
        ShowWindow(m_bar.Window(), m_barVisible ? SW_SHOW : SW_HIDE);
        Layout();
        return true;
    case IDM_ABOUT:
        ShowAboutBox(m_instance, m_hwnd);
        return true;
    case IDM_TRACEWELL:
        if (m_scope)
            m_scope->Toggle();
        return true;
    }
    CFrameBars::Bar bar = CFrameBars::BarOfCommand(id);
    if (bar != CFrameBars::BarCount) {
        m_bars.Toggle(bar);
        Layout();
        return true;
    }
    return false;
}

bool CMainFrame::OnTreeNotify(NMHDR *header, LRESULT *result)
{
    *result = 0;
    switch (header->code) {
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW:
        m_browser.OnSelChanged(reinterpret_cast<NMTREEVIEWA *>(header)->itemNew.hItem);
        return true;
    case TVN_ITEMEXPANDEDA:
    case TVN_ITEMEXPANDEDW: {
        NMTREEVIEWA *tree = reinterpret_cast<NMTREEVIEWA *>(header);
        if (tree->action & TVE_EXPAND)
            m_browser.OnExpanded(tree->itemNew.hItem);
        return true;
    }
    case NM_DBLCLK:
        m_browser.OnDoubleClick();
        return true;
    case NM_RCLICK:
        TreePopup();
        *result = 1;
        return true;
    }
    return false;
}

void CMainFrame::TreePopup()
{
    TVHITTESTINFO hit = {};
    GetCursorPos(&hit.pt);
    POINT screen = hit.pt;
    ScreenToClient(m_bar.Tree(), &hit.pt);
    HTREEITEM item = TreeView_HitTest(m_bar.Tree(), &hit);
    if (!item || !(hit.flags & TVHT_ONITEM))
        return;
    HMENU menu = LoadMenuA(m_instance, MAKEINTRESOURCEA(IDR_TREE_POPUP));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    int state = m_browser.TracewellState(item);
    CheckMenuItem(popup, CmdTracewellOn, MF_BYCOMMAND | (state == 1 ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(popup, CmdTracewellOff, MF_BYCOMMAND | (state == 0 ? MF_CHECKED : MF_UNCHECKED));
    UINT id = UINT(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, screen.x, screen.y, 0,
                                  m_hwnd, NULL));
    DestroyMenu(menu);
    // The tree's commands lead the help window to their topics too.
    if (id)
        m_doc.SetHelpContext(DWORD(100000 + id));
    if (id == CmdTracewellOn || id == CmdTracewellOff)
        m_browser.SetTracewell(item, id == CmdTracewellOn);
}

void CMainFrame::OnClose()
{
    // Closing the program may lose an unsaved configuration.
    if (!m_doc.SaveModified())
        return;
    DestroyWindow(m_hwnd);
}

void CMainFrame::UpdateBars()
{
    m_bars.UpdateButtons([this](UINT id) { return QueryState(id); });
    m_bars.UpdateIndicators();
}

void CMainFrame::OnDestroy()
{
    KillTimer(m_hwnd, PollTimer);
    KillTimer(m_hwnd, BarsTimer);
    // The data monitor window goes with the program.
    if (m_scope) {
        m_scope->Destroy();
        if (m_scope->WindowOpen())
            m_scope->Toggle();
        m_scope = nullptr;
    }
    m_bar.SaveState();
    static CNullTreeManager none;
    m_doc.SetTree(none);
    m_tree.reset();
    PostQuitMessage(0);
}

void CMainFrame::NextPane()
{
    if (GetFocus() != m_bar.Tree()) {
        SetFocus(m_bar.Tree());
        return;
    }
    // Into the pane's first field, or the view itself when it shows none.
    CFormPane *pane = m_view.ShownPane();
    HWND first = pane ? GetNextDlgTabItem(pane->Window(), NULL, FALSE) : NULL;
    SetFocus(first ? first : m_view.Window());
}
