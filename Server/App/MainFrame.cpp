#include "MainFrame.h"
#include <commctrl.h>
#include <memory>
#include "ServerMsg.h"
#include "resource.h"

const char CMainFrame::ClassName[] = "QORServerFrame";
const char CMainFrame::ShutdownQuestion[] =
    "Shutting down the server will cause unpredictable results with connected clients\n\n"
    "\tClick \"Yes\" to shutdown the server\n\tClick \"No\" to hide the server window\n"
    "\tClick \"Cancel\" to take no action";

namespace {

const int kStatusPanes = 4;

// The severity of a line as its icon; lines of unknown severity show as information.
int SeverityImage(LONG severity)
{
    return severity >= 0 && severity < CServerMsg::SeverityCount ? int(severity) : 0;
}

int TextWidth(HWND window, const char *sample)
{
    HDC dc = GetDC(window);
    SIZE size = {};
    HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageA(window, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32A(dc, sample, int(strlen(sample)), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size.cx;
}

} // namespace

CMainFrame::CMainFrame(IMainFrameOwner *owner) : m_owner(owner) {}

CMainFrame::~CMainFrame()
{
    if (m_hwnd) {
        SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
    if (m_images)
        ImageList_Destroy(m_images);
}

bool CMainFrame::Create(HINSTANCE instance, const std::string &title)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, ClassName, &wc)) {
        wc = WNDCLASSA();
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
        if (!wc.hIcon)
            wc.hIcon = LoadIconA(NULL, MAKEINTRESOURCEA(32512));
        wc.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));
        wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
        wc.lpszClassName = ClassName;
        if (!RegisterClassA(&wc))
            return false;
    }
    int width = 470, height = 250;
    int left = GetSystemMetrics(SM_CXSCREEN) / 2 - 235;
    int top = GetSystemMetrics(SM_CYSCREEN) / 3 - 125;
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_hwnd = CreateWindowExA(0, ClassName, title.c_str(), WS_OVERLAPPEDWINDOW, left, top, width, height, NULL, menu,
                             instance, this);
    if (!m_hwnd)
        return false;

    m_list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                             WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                             m_hwnd, NULL, instance, NULL);
    m_status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, m_hwnd,
                               NULL, instance, NULL);
    if (!m_list)
        return false;
    if (m_status) {
        int edges[kStatusPanes] = {200, 270, 340, -1};
        SendMessageA(m_status, SB_SETPARTS, kStatusPanes, LPARAM(edges));
        SendMessageA(m_status, SB_SETTEXTA, 0, LPARAM("Ready"));
    }

    // One icon per severity: information, warning, error, fatal, three debug levels.
    m_images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, CServerMsg::SeverityCount, 0);
    const LPCSTR icons[CServerMsg::SeverityCount] = {
        MAKEINTRESOURCEA(32516), MAKEINTRESOURCEA(32515), MAKEINTRESOURCEA(32513), MAKEINTRESOURCEA(32513),
        MAKEINTRESOURCEA(32514), MAKEINTRESOURCEA(32514), MAKEINTRESOURCEA(32514),
    };
    if (m_images) {
        for (LPCSTR icon : icons)
            ImageList_AddIcon(m_images, LoadIconA(NULL, icon));
        ListView_SetImageList(m_list, m_images, LVSIL_SMALL);
    }

    struct Column {
        const char *name;
        int width;
    } columns[] = {
        {"Message", TextWidth(m_list, "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM") + 15},
        {"Date", TextWidth(m_list, "  12/11/67  ")},
        {"Time", TextWidth(m_list, "  12:00:00 AM  ")},
    };
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char *>(columns[i].name);
        column.cx = columns[i].width;
        column.iSubItem = i;
        SendMessageA(m_list, LVM_INSERTCOLUMNA, i, LPARAM(&column));
    }
    Layout();
    // Hidden at first: nothing of the list is drawn until the window shows.
    SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
    return true;
}

void CMainFrame::Show(bool show)
{
    if (!m_hwnd)
        return;
    ShowWindow(m_hwnd, show ? SW_SHOW : SW_HIDE);
    if (show)
        SetForegroundWindow(m_hwnd);
}

void CMainFrame::SetTitle(const std::string &title)
{
    if (m_hwnd)
        SetWindowTextA(m_hwnd, title.c_str());
}

BOOL CMainFrame::PostLine(LONG severity, LogLineRecord *record) { return PostLogLine(m_hwnd, severity, record); }

void CMainFrame::ClearLines()
{
    if (m_list)
        ListView_DeleteAllItems(m_list);
}

int CMainFrame::GetCount() { return m_list ? ListView_GetItemCount(m_list) : 0; }

void CMainFrame::DeleteItem(int index)
{
    if (m_list)
        ListView_DeleteItem(m_list, index);
}

void CMainFrame::InsertItem(int index, LONG severity, const std::string &text, const std::string &date,
                            const std::string &time)
{
    if (!m_list)
        return;
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.iImage = SeverityImage(severity);
    item.pszText = const_cast<char *>(text.c_str());
    int at = int(SendMessageA(m_list, LVM_INSERTITEMA, 0, LPARAM(&item)));
    if (at < 0)
        return;
    const std::string *columns[] = {&date, &time};
    for (int i = 0; i < 2; ++i) {
        LVITEMA sub = {};
        sub.iSubItem = i + 1;
        sub.pszText = const_cast<char *>(columns[i]->c_str());
        SendMessageA(m_list, LVM_SETITEMTEXTA, at, LPARAM(&sub));
    }
}

std::string CMainFrame::ItemText(int index, int column)
{
    char text[1024] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(m_list, LVM_GETITEMTEXTA, index, LPARAM(&item));
    return text;
}

bool CMainFrame::GetLogRow(int index, int &image, std::string &message, std::string &date, std::string &time)
{
    if (!m_list || index < 0 || index >= GetCount())
        return false;
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    if (!SendMessageA(m_list, LVM_GETITEMA, 0, LPARAM(&item)))
        return false;
    image = item.iImage;
    message = ItemText(index, 0);
    date = ItemText(index, 1);
    time = ItemText(index, 2);
    return true;
}

bool CMainFrame::OnClose()
{
    bool close = false;
    if (m_owner->CanCloseWithoutAsking()) {
        close = true;
    } else if (IsVisible()) {
        switch (m_owner->AskShutdown(m_hwnd, ShutdownQuestion)) {
        case IDYES:
            close = true;
            break;
        case IDNO:
            m_owner->HideThroughAutomation();
            return false;
        default:
            LogMessage(SeverityInfo, "Shutdown request denied");
            return false;
        }
    } else {
        LogMessage(SeverityInfo, "Shutdown request denied");
        return false;
    }
    if (close) {
        m_owner->StopDriver();
        DestroyWindow(m_hwnd);
    }
    return close;
}

void CMainFrame::Layout()
{
    if (!m_hwnd)
        return;
    RECT client;
    GetClientRect(m_hwnd, &client);
    int statusHeight = 0;
    if (m_status) {
        SendMessageA(m_status, WM_SIZE, 0, 0);
        RECT bar;
        GetWindowRect(m_status, &bar);
        statusHeight = bar.bottom - bar.top;
    }
    if (m_list)
        MoveWindow(m_list, 0, 0, client.right, client.bottom - statusHeight, TRUE);
}

void CMainFrame::UpdateMenu(HMENU menu)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        UINT id = GetMenuItemID(menu, i);
        if (id == UINT(-1) || id == 0)
            continue;
        bool enabled = true, checked = false;
        if (id == ID_APP_EXIT)
            enabled = m_owner->CanCloseWithoutAsking();
        else if (!m_owner->CommandState(id, enabled, checked))
            continue;
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
        reinterpret_cast<CMainFrame *>(create->lpCreateParams)->m_hwnd = hwnd;
    }
    auto *self = reinterpret_cast<CMainFrame *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT CMainFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SERVER_LOG_LINE: {
        // Each line moves every row below it, and Wine invalidates each moved
        // row (about a millisecond of the thread that also serves every
        // automation call, per line): a hidden list is never drawn, a shown
        // one once per line.
        bool shown = IsVisible();
        if (shown)
            SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
        OnLogLineMessage(*this, m_maximum, wParam, lParam);
        if (shown)
            SendMessageA(m_list, WM_SETREDRAW, TRUE, 0);
        return 0;
    }
    case WM_SHOWWINDOW:
        SendMessageA(m_list, WM_SETREDRAW, wParam ? TRUE : FALSE, 0);
        break;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_CLOSE:
        m_owner->CloseAnswered(OnClose());
        return 0;
    case WM_INITMENUPOPUP:
        UpdateMenu(HMENU(wParam));
        return 0;
    case WM_COMMAND: {
        UINT id = LOWORD(wParam);
        if (id == ID_APP_EXIT) {
            if (m_owner->CanCloseWithoutAsking())
                PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
            return 0;
        }
        if (m_owner->OnCommand(m_hwnd, id))
            return 0;
        break;
    }
    case WM_DESTROY: {
        // Lines still queued for the list view are freed here; the message
        // log learns from the owner that the view is gone.
        MSG pending;
        while (PeekMessageA(&pending, m_hwnd, WM_SERVER_LOG_LINE, WM_SERVER_LOG_LINE, PM_REMOVE))
            delete reinterpret_cast<LogLineRecord *>(pending.lParam);
        m_list = NULL;
        m_status = NULL;
        PostQuitMessage(0);
        return 0;
    }
    case WM_NCDESTROY: {
        HWND hwnd = m_hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        m_hwnd = NULL;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcA(m_hwnd, message, wParam, lParam);
}
