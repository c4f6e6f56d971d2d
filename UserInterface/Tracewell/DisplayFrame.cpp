#include "DisplayFrame.h"
#include <commctrl.h>
#include <cstdlib>
#include <string>
#include "ScopeOptions.h"
#include "WindowObject.h"
#include "resource.h"

const char ScopeFrameTitle[] = "Tracewell";

namespace {
const char FrameClass[] = "TracewellFrame";
const DWORD FrameStyle = WS_OVERLAPPEDWINDOW;
// Repaints for new bytes come at most this often, so that a steady stream of
// appends leaves the window's queue free for input between them.
const UINT_PTR UpdateTimer = 1;
const UINT UpdateInterval = 25;

struct ToolButton {
    UINT id;
    BYTE style;
    const char *tip;
};
const ToolButton ToolButtons[] = {
    {ID_RUN_PAUSE, BTNS_CHECK, "Pause"},
    {ID_VIEW_FONT_TOGGLE, BTNS_CHECK, "Hexadecimal / ASCII"},
    {ID_VIEW_TOPMOST, BTNS_CHECK, "Always on Top"},
    {ID_VIEW_CLEAR, BTNS_BUTTON, "Clear"},
};

// The four button images, drawn rather than stored: pause bars, "0x", two
// stacked windows, a cross.
HBITMAP ToolbarBitmap()
{
    const int w = 16 * 4, h = 16;
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    ReleaseDC(NULL, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    RECT all = {0, 0, w, h};
    HBRUSH mask = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &all, mask);
    DeleteObject(mask);
    HBRUSH ink = CreateSolidBrush(RGB(0, 0, 128));
    RECT bar1 = {4, 3, 7, 13}, bar2 = {9, 3, 12, 13};
    FillRect(dc, &bar1, ink);
    FillRect(dc, &bar2, ink);
    HFONT font = CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 128));
    RECT hex = {16, 0, 32, 16};
    DrawTextA(dc, "0x", 2, &hex, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    RECT back = {34, 2, 44, 10}, front = {38, 6, 48, 14};
    FillRect(dc, &back, white);
    FrameRect(dc, &back, ink);
    FillRect(dc, &front, white);
    FrameRect(dc, &front, ink);
    RECT title = {38, 6, 48, 8};
    FillRect(dc, &title, ink);
    DeleteObject(white);
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(192, 0, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, 52, 4, NULL);
    LineTo(dc, 60, 12);
    MoveToEx(dc, 60, 4, NULL);
    LineTo(dc, 52, 12);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    DeleteObject(ink);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    return bitmap;
}

long FieldValue(HWND dialog, int id)
{
    char text[32] = {0};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return strtol(text, nullptr, 10);
}
}  // namespace

bool CDisplayFrame::Create(HWND parent)
{
    HINSTANCE module = m_library.Module();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA wc = {};
    if (!GetClassInfoA(module, FrameClass, &wc)) {
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.hIcon = LoadIcon(NULL, IDI_APPLICATION);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = FrameClass;
        if (!RegisterClassA(&wc))
            return false;
    }
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_SCOPEFRAME));
    m_hwnd = CreateWindowExA(0, FrameClass, ScopeFrameTitle, FrameStyle, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                             parent, menu, module, this);
    if (!m_hwnd) {
        if (menu)
            DestroyMenu(menu);
        return false;
    }
    m_ownedByWindow = true;
    return true;
}

bool CDisplayFrame::CreateToolbar()
{
    m_toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, NULL,
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0,
                                m_hwnd, reinterpret_cast<HMENU>(IDR_SCOPETOOLBAR), m_library.Module(), NULL);
    if (!m_toolbar)
        return false;
    SendMessageA(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    m_images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 4, 0);
    HBITMAP bitmap = ToolbarBitmap();
    ImageList_AddMasked(m_images, bitmap, RGB(255, 0, 255));
    DeleteObject(bitmap);
    SendMessageA(m_toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_images));
    TBBUTTON buttons[6] = {};
    int count = 0, image = 0;
    for (const ToolButton &tool : ToolButtons) {
        if (tool.id == ID_VIEW_FONT_TOGGLE || tool.id == ID_VIEW_CLEAR) {
            buttons[count].fsStyle = BTNS_SEP;
            ++count;
        }
        buttons[count].iBitmap = image++;
        buttons[count].idCommand = int(tool.id);
        buttons[count].fsState = TBSTATE_ENABLED;
        buttons[count].fsStyle = tool.style;
        ++count;
    }
    SendMessageA(m_toolbar, TB_ADDBUTTONSA, count, reinterpret_cast<LPARAM>(buttons));
    SendMessageA(m_toolbar, TB_AUTOSIZE, 0, 0);
    return true;
}

void CDisplayFrame::Show()
{
    const SIZE client = m_view.FirstShow();
    RECT frame = {0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&frame, FrameStyle, TRUE, 0);
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (width > work.right - work.left)
        width = work.right - work.left;
    if (height > work.bottom - work.top)
        height = work.bottom - work.top;
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    SetWindowPos(m_hwnd, NULL, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SyncToolbar();
    ShowWindow(m_hwnd, SW_SHOW);
    UpdateWindow(m_hwnd);
}

void CDisplayFrame::Layout()
{
    RECT client;
    GetClientRect(m_hwnd, &client);
    int top = 0;
    if (m_toolbar && IsWindowVisible(m_toolbar)) {
        SendMessageA(m_toolbar, TB_AUTOSIZE, 0, 0);
        RECT bar;
        GetWindowRect(m_toolbar, &bar);
        top = bar.bottom - bar.top;
    }
    if (m_view.Window())
        MoveWindow(m_view.Window(), 0, top, client.right, client.bottom - top > 0 ? client.bottom - top : 0, TRUE);
}

bool CDisplayFrame::IsChecked(UINT id) const
{
    switch (id) {
    case ID_VIEW_TOOLBAR: return m_toolbar && IsWindowVisible(m_toolbar);
    case ID_VIEW_HEX: return m_library.Settings().hexFont;
    case ID_VIEW_ASCII: return !m_library.Settings().hexFont;
    case ID_VIEW_TOPMOST: return m_library.Topmost();
    case ID_RUN_PAUSE: return m_library.Paused();
    case ID_VIEW_FONT_TOGGLE: return m_library.Settings().hexFont;
    default: return false;
    }
}

void CDisplayFrame::UpdateMenu(HMENU menu)
{
    for (UINT id : {ID_VIEW_TOOLBAR, ID_VIEW_HEX, ID_VIEW_ASCII, ID_VIEW_TOPMOST, ID_RUN_PAUSE})
        CheckMenuItem(menu, id, MF_BYCOMMAND | (IsChecked(id) ? MF_CHECKED : MF_UNCHECKED));
}

void CDisplayFrame::SyncToolbar()
{
    if (!m_toolbar)
        return;
    for (UINT id : {ID_RUN_PAUSE, ID_VIEW_FONT_TOGGLE, ID_VIEW_TOPMOST})
        SendMessageA(m_toolbar, TB_CHECKBUTTON, id, MAKELONG(IsChecked(id) ? TRUE : FALSE, 0));
}

void CDisplayFrame::OnCommand(UINT id)
{
    ScopeSettings &settings = m_library.Settings();
    switch (id) {
    case ID_CONFIGURE_OPTIONS:
        RunOptions();
        break;
    case ID_COLOR_SEND_FORE:
    case ID_COLOR_SEND_BACK:
    case ID_COLOR_RECV_FORE:
    case ID_COLOR_RECV_BACK: {
        const int which = int(id - ID_COLOR_SEND_FORE);
        uint32_t colour = settings.Colour(which);
        if (m_library.Ui().ChooseColour(m_hwnd, colour)) {
            settings.Colour(which) = colour;
            m_view.Redraw();
            m_library.SaveColour(which);
        }
        break;
    }
    case ID_VIEW_HEX:
    case ID_VIEW_ASCII:
    case ID_VIEW_FONT_TOGGLE: {
        const bool hex = id == ID_VIEW_FONT_TOGGLE ? !settings.hexFont : id == ID_VIEW_HEX;
        if (hex != settings.hexFont) {
            settings.hexFont = hex;
            m_view.Redraw();
        }
        SyncToolbar();
        break;
    }
    case ID_VIEW_TOPMOST:
        m_library.SetTopmost(!m_library.Topmost());
        SetWindowPos(m_hwnd, m_library.Topmost() ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SyncToolbar();
        break;
    case ID_VIEW_CLEAR:
        m_library.ClearRing();
        m_view.Cleared();
        break;
    case ID_RUN_PAUSE:
        m_library.SetPaused(!m_library.Paused());
        SyncToolbar();
        m_view.Redraw();
        break;
    case ID_VIEW_TOOLBAR:
        if (m_toolbar)
            ShowWindow(m_toolbar, IsWindowVisible(m_toolbar) ? SW_HIDE : SW_SHOW);
        Layout();
        break;
    }
}

// Shows the ring as it is; the update stays pending (appends post nothing)
// until the timer ends the interval.
void CDisplayFrame::ShowUpdate()
{
    m_shownAppends = m_library.Appends();
    m_view.Update();
    SetTimer(m_hwnd, UpdateTimer, UpdateInterval, NULL);
}

void CDisplayFrame::RunOptions()
{
    CScopeOptions options(m_library);
    options.Begin();
    const INT_PTR result = DialogBoxParamA(m_library.Module(), MAKEINTRESOURCEA(IDD_SCOPEOPTIONS), m_hwnd,
                                           OptionsProc, reinterpret_cast<LPARAM>(&options));
    options.End();
    if (result == CScopeOptions::Applied) {
        m_view.Resized();
    } else if (result == CScopeOptions::Failed) {
        PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
    }
}

INT_PTR CALLBACK CDisplayFrame::OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    CScopeOptions *options = reinterpret_cast<CScopeOptions *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        options = reinterpret_cast<CScopeOptions *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemInt(dialog, IDC_COLUMN_WIDTH, UINT(options->Width()), FALSE);
        SetDlgItemInt(dialog, IDC_MAXIMUM_LINES, UINT(options->Lines()), FALSE);
        return TRUE;
    case WM_COMMAND:
        if (!options)
            break;
        if (HIWORD(wParam) == EN_KILLFOCUS) {
            const int id = LOWORD(wParam);
            if (id == IDC_COLUMN_WIDTH && !options->LeaveWidth(FieldValue(dialog, id), dialog))
                SetDlgItemInt(dialog, id, UINT(options->Width()), FALSE);
            if (id == IDC_MAXIMUM_LINES && !options->LeaveLines(FieldValue(dialog, id), dialog))
                SetDlgItemInt(dialog, id, UINT(options->Lines()), FALSE);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK) {
            // Enter inside a field must not bypass the field's own check.
            if (GetFocus() != GetDlgItem(dialog, IDOK))
                return TRUE;
            const CScopeOptions::Result result = options->Ok(dialog);
            if (result != CScopeOptions::Stay)
                EndDialog(dialog, result);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, CScopeOptions::Unchanged);
            return TRUE;
        }
        break;
    case WM_HELP: {
        HWND frame = GetParent(dialog);
        CDisplayFrame *self = reinterpret_cast<CDisplayFrame *>(GetWindowLongPtrA(frame, GWLP_USERDATA));
        if (self)
            self->OnHelp(dialog, *reinterpret_cast<HELPINFO *>(lParam));
        return TRUE;
    }
    }
    return FALSE;
}

void CDisplayFrame::OnHelp(HWND owner, const HELPINFO &info)
{
    ScopeHelpInput input = {};
    input.modifierHeld = GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
    input.kind = info.iContextType == HELPINFO_MENUITEM ? ScopeHelpKind::Menu : ScopeHelpKind::Control;
    input.id = info.iCtrlId;
    input.mouse = info.MousePos;
    if (info.iContextType == HELPINFO_WINDOW && info.hItemHandle)
        GetWindowRect(static_cast<HWND>(info.hItemHandle), &input.control);
    input.isToolbar = info.iContextType == HELPINFO_WINDOW && info.iCtrlId == IDR_SCOPETOOLBAR;
    const ScopeHelpRequest request = ScopeHelpFor(input);
    if (!request.show)
        return;
    const std::string file = FindScopeHelpFile(m_library.HelpLocator());
    const HRESULT hr = m_library.HelpControl().ShowTopic(file, request.id + ScopeHelpIdOffset, request.point);
    if (FAILED(hr))
        m_library.Ui().Message(owner, ScopeHelpErrorText(hr, file, request.id).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CALLBACK CDisplayFrame::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDisplayFrame *frame = WindowObject<CDisplayFrame>(hwnd, message, lParam);
    if (!frame)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    frame->m_hwnd = hwnd;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        // A frame whose creation failed belongs to the opener still.
        if (frame->m_ownedByWindow)
            delete frame;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return frame->Handle(message, wParam, lParam);
}

LRESULT CDisplayFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (!CreateToolbar() || !m_view.Create(m_hwnd))
            return -1;
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_INITMENUPOPUP:
        UpdateMenu(GetMenu(m_hwnd));
        return 0;
    case WM_NOTIFY: {
        NMHDR *header = reinterpret_cast<NMHDR *>(lParam);
        if (header->code == TTN_GETDISPINFOA) {
            NMTTDISPINFOA *tip = reinterpret_cast<NMTTDISPINFOA *>(lParam);
            for (const ToolButton &tool : ToolButtons)
                if (tool.id == header->idFrom)
                    tip->lpszText = const_cast<char *>(tool.tip);
        }
        return 0;
    }
    case WM_SCOPE_UPDATE:
        InterlockedIncrement(&m_library.Counters().updatesHandled);
        ShowUpdate();
        return 0;
    case WM_TIMER:
        if (wParam == UpdateTimer) {
            KillTimer(m_hwnd, UpdateTimer);
            // Appends from here on post again; those made meanwhile are
            // shown now unless one of them has already posted.
            m_library.UpdateTaken();
            if (m_library.Appends() != m_shownAppends && m_library.ClaimUpdate())
                ShowUpdate();
        }
        return 0;
    case WM_HELP:
        OnHelp(m_hwnd, *reinterpret_cast<HELPINFO *>(lParam));
        return TRUE;
    case WM_DESTROY:
        m_library.FrameDestroyed();
        if (m_images) {
            ImageList_Destroy(m_images);
            m_images = NULL;
        }
        return 0;
    }
    return DefWindowProcA(m_hwnd, message, wParam, lParam);
}
