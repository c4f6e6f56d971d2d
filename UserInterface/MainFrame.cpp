#include "MainFrame.h"
#include "WindowClass.h"
#include "AboutBox.h"
#include "ScopeCallback.h"
#include <commctrl.h>
#include "resource.h"
#include "DataMonitorDlg.h"
#include "SetupSheet.h"
#include "TemplatesDlg.h"

const char CMainFrame::ClassName[] = "TolvaneMainFrame";

namespace {
const char kViewClass[] = "TolvaneObjectView";
const UINT kPollMs = 10000;
}

// --- the view --------------------------------------------------------------------------

CObjectView::CObjectView(HINSTANCE instance, CUserInterfaceDoc &document)
    : m_doc(document), m_instance(instance),
      m_forms{CObjectForm(document, KindChannel), CObjectForm(document, KindDevice), CObjectForm(document, KindDataBlock)},
      m_panes{CFormPane(instance, m_forms[0]), CFormPane(instance, m_forms[1]), CFormPane(instance, m_forms[2])},
      m_driver(instance, document),
      m_stats{CStatsPane(instance, document, document.Texts(), KindDriver),
              CStatsPane(instance, document, document.Texts(), KindChannel),
              CStatsPane(instance, document, document.Texts(), KindDevice),
              CStatsPane(instance, document, document.Texts(), KindDataBlock)}
{
}

void CObjectView::SetMenuOwner(HWND owner)
{
    m_menuOwner = owner;
    for (CFormPane &pane : m_panes)
        pane.SetMenuOwner(owner);
    for (CStatsPane &pane : m_stats)
        pane.SetMenuOwner(owner);
    m_driver.SetMenuOwner(owner);
}

CFormPane *CObjectView::ShownPane()
{
    for (CFormPane &pane : m_panes)
        if (pane.Window() == m_shown)
            return &pane;
    return nullptr;
}

// A form is shown only when it is not on show already; the others hide.
void CObjectView::ShowForm(HWND form)
{
    if (form == m_shown && IsWindowVisible(form))
        return;
    for (CFormPane &pane : m_panes)
        if (pane.Window() != form && IsWindowVisible(pane.Window())) {
            // Hiding commits what the combo boxes hold.
            pane.CommitCombos();
            ShowWindow(pane.Window(), SW_HIDE);
        }
    for (CStatsPane &pane : m_stats)
        if (pane.Window() != form)
            pane.Hide();
    if (m_driver.Window() != form)
        ShowWindow(m_driver.Window(), SW_HIDE);
    m_shown = form;
    m_doc.SetHelpContext(199999);
    for (CStatsPane &pane : m_stats)
        if (pane.Window() == form) {
            pane.Show();
            return;
        }
    ShowWindow(form, SW_SHOW);
}

bool CObjectView::Create(HINSTANCE instance, HWND parent)
{
    // The forms' own colour around them.
    if (!RegisterWindowClass(instance, kViewClass, Proc))
        return false;
    m_hwnd = CreateWindowExA(WS_EX_CLIENTEDGE | WS_EX_CONTROLPARENT, kViewClass, "",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0, 10, 10, parent, NULL, instance,
                             this);
    if (!m_hwnd)
        return false;
    m_stats[KindDataBlock].OnMonitor([this] { OpenDataMonitor(m_hwnd); });
    // Getting Started and Troubleshooting open their topics of the located help file.
    if (m_toolHelp) {
        auto topic = [this](const std::string &target) { m_toolHelp->Display(m_hwnd, target); };
        for (CStatsPane &pane : m_stats) {
            pane.SetHelpFile(m_toolHelp->HelpFile());
            pane.OnHelp(topic);
        }
        m_driver.SetHelpFile(m_toolHelp->HelpFile());
        m_driver.OnHelp(topic);
    }
    std::vector<HWND> forms;
    for (CFormPane &pane : m_panes) {
        Equip(pane);
        if (!pane.CreatePane(m_hwnd))
            return false;
        forms.push_back(pane.Window());
    }
    for (CStatsPane &pane : m_stats) {
        if (!pane.CreatePane(m_hwnd))
            return false;
        forms.push_back(pane.Window());
    }
    if (!m_driver.CreatePane(m_hwnd))
        return false;
    forms.push_back(m_driver.Window());
    for (HWND form : forms)
        SetWindowPos(form, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    m_formWindows = forms;
    // A rate change before the first form shows is no change.
    m_doc.TakeRateChanged();
    if (m_help)
        m_help->Create(instance, m_hwnd, HelpRect());
    return true;
}

void CObjectView::OpenDataMonitor(HWND owner)
{
    CDataMonitorDlg monitor(m_instance, m_doc.Server(), m_doc.DataBlock().GetHandle());
    // Help's pop-up from the located context-help file.
    if (m_toolHelp)
        monitor.OnHelp([this](const std::string &) { m_toolHelp->ShowPopupTopic(m_hwnd, "s7DataMonitor.htm"); });
    monitor.DoModal(GetAncestor(owner, GA_ROOT));
}

void CObjectView::Equip(CFormPane &pane)
{
    // The Help button's pop-up, with the located context-help file (the
    // button is enabled only with a handler).
    if (m_toolHelp)
        pane.OnHelp([this, &pane](const std::string &) {
            m_toolHelp->Display(GetAncestor(pane.Window(), GA_ROOT),
                                pane.Form().HelpTopic(m_toolHelp->ContextHelpFile()));
        });
    // The block's data monitor is modal over the window that holds the pane.
    if (pane.Form().Kind() == KindDataBlock)
        pane.OnMonitor([this, &pane] { OpenDataMonitor(pane.Window()); });
}

// Below the tallest pane, to the view's bottom; at least a few lines high.
RECT CObjectView::HelpRect() const
{
    RECT client;
    GetClientRect(m_hwnd, &client);
    LONG top = 0;
    for (HWND form : m_formWindows) {
        RECT rect;
        GetWindowRect(form, &rect);
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
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_CONTEXTMENU:
        // The editing commands in configuration mode, Reset in statistics mode.
        if (self && self->m_menuOwner)
            ShowPopupMenu(self->m_instance, self->m_doc.Mode() == 1 ? IDR_FORM_POPUP : IDR_STATS_POPUP,
                          self->m_menuOwner, lParam);
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
    if (!m_hwnd)
        return;
    int kind = m_doc.Kind();
    if (kind < KindDriver || kind > KindDataBlock)
        kind = KindDriver;
    if (m_doc.Mode() == 0) {
        ShowForm(m_stats[kind].Window());
        m_stats[kind].UpdateTitle();
    } else if (kind == KindDriver) {
        m_driver.Refresh();
        ShowForm(m_driver.Window());
    } else {
        CFormPane &pane = m_panes[kind - 1];
        pane.Form().Refresh();
        pane.Fill();
        ShowForm(pane.Window());
    }
    m_doc.UpdateEnabling();
}

bool CObjectView::OnUpdateCmdUI(CCmdUI &ui)
{
    switch (ui.Id()) {
    case ID_RESET_COUNTERS:
        ui.Enable(m_doc.Mode() == 0);
        return true;
    case ID_SERVER_WINDOW:
        ui.Enable(true);
        return true;
    }
    return false;
}

bool CObjectView::OnCmdMsg(UINT id)
{
    switch (id) {
    case ID_RESET_COUNTERS: {
        int kind = m_doc.Kind();
        if (m_doc.Mode() == 0 && kind >= KindDriver && kind <= KindDataBlock)
            m_stats[kind].Form().Reset();
        return true;
    }
    case ID_SERVER_WINDOW:
        ToggleServerWindow();
        return true;
    }
    return false;
}

void CObjectView::ToggleServerWindow()
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return;
    VARIANT_BOOL visible = VARIANT_FALSE;
    HRESULT hr = server->get_Visible(&visible);
    if (SUCCEEDED(hr))
        hr = server->put_Visible(visible ? VARIANT_FALSE : VARIANT_TRUE);
    if (FAILED(hr))
        m_doc.ShowError(hr);
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
    if (!Create(m_instance, ClassName, IDR_MAINFRAME, m_doc.Title(), 760, 520))
        return false;
    // The window starts in the middle of the screen.
    RECT frame, work;
    GetWindowRect(m_hwnd, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(m_hwnd, NULL, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return true;
}

bool CMainFrame::OnCreate()
{
    if (!m_bars.Create(m_instance, m_hwnd))
        return false;
    if (!m_bar.Create(m_hwnd) || !m_view.Create(m_instance, m_hwnd))
        return false;
    m_bars.Docking().Dock(m_bar, m_bar.Sizes().Side());
    m_bars.Docking().OnChanged([this] { Layout(); });
    m_tree.reset(new CTreeManager(m_instance, m_bar.Tree()));
    m_doc.SetTree(*m_tree);
    m_view.SetMenuOwner(m_hwnd);
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
    RECT client;
    GetClientRect(m_hwnd, &client);
    // The view takes what the bars leave.
    RECT rest = m_bars.Layout(client);
    // Painted anew where it lands: the bits Wine copies along with a moved
    // window leave its forms' labels cut.
    SetWindowPos(m_view.Window(), NULL, rest.left, rest.top, rest.right - rest.left, rest.bottom - rest.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
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
        // A floating tree has its own window to be active in.
        SetFocus(m_bar.Side() == DockFloat ? m_view.Window() : m_bar.Tree());
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
        ui.SetCheck(m_bars.Docking().Shown(m_bar));
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
        ui.Enable(m_doc.Server() != nullptr);
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
    case CmdTemplates:
        RunTemplatesDialog(m_instance, m_hwnd, m_doc);
        return true;
    case CmdSetup:
        RunSetupSheet(m_instance, m_hwnd, m_doc, m_bar.Tree());
        return true;
    case IDM_TREE_BROWSER:
        m_bars.Docking().Show(m_bar, !m_bars.Docking().Shown(m_bar));
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
    HWND form = m_view.ShownForm();
    HWND first = form ? GetNextDlgTabItem(form, NULL, FALSE) : NULL;
    SetFocus(first ? first : m_view.Window());
}
