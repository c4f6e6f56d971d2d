#include "FrameWnd.h"

namespace {

// The menu item's state as the update handler set it.
class CMenuCmdUI : public CCmdUI {
public:
    CMenuCmdUI(HMENU menu, UINT id) : CCmdUI(id), m_menu(menu) {}
    void Enable(bool on) override
    {
        CCmdUI::Enable(on);
        EnableMenuItem(m_menu, Id(), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    }
    void SetCheck(int check) override
    {
        CCmdUI::SetCheck(check);
        CheckMenuItem(m_menu, Id(), MF_BYCOMMAND | (check ? MF_CHECKED : MF_UNCHECKED));
    }

private:
    HMENU m_menu;
};

} // namespace

CFrameWnd::~CFrameWnd()
{
    if (m_hwnd && IsWindow(m_hwnd)) {
        SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
    }
}

bool CFrameWnd::RegisterFrameClass(HINSTANCE instance, const char *className, UINT resourceId)
{
    m_instance = instance;
    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, className, &wc)) {
        wc.lpfnWndProc = StaticProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(resourceId));
        if (!wc.hIcon)
            wc.hIcon = LoadIcon(NULL, IDI_APPLICATION);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = className;
        if (!RegisterClassA(&wc))
            return false;
    }
    m_accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(resourceId));
    return true;
}

bool CFrameWnd::Create(HINSTANCE instance, const char *className, UINT resourceId, const std::string &title,
                       int width, int height)
{
    if (!RegisterFrameClass(instance, className, resourceId))
        return false;
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(resourceId));
    HWND hwnd = CreateWindowExA(0, className, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, width, height, NULL, menu, instance, this);
    if (!hwnd && menu)
        DestroyMenu(menu);
    return hwnd != NULL;
}

bool CFrameWnd::CreateChild(HINSTANCE instance, const char *className, UINT resourceId, HWND parent,
                            const RECT &rect, DWORD style)
{
    if (!RegisterFrameClass(instance, className, resourceId))
        return false;
    return CreateWindowExA(0, className, "", WS_CHILD | style, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, parent, NULL, instance, this) != NULL;
}

LRESULT CALLBACK CFrameWnd::StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CFrameWnd *self = reinterpret_cast<CFrameWnd *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<CFrameWnd *>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
    }
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    LRESULT result = self->WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->m_hwnd = NULL;
    }
    return result;
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate() ? 0 : -1;
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lParam))
            UpdateMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_COMMAND:
        // Notifications of child controls other than menus and accelerators
        // are the controls' owners' business.
        if (lParam == 0 || HIWORD(wParam) == 0 || HIWORD(wParam) == 1) {
            if (RouteCommand(LOWORD(wParam)))
                return 0;
        }
        break;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcA(m_hwnd, message, wParam, lParam);
}

CCmdUI CFrameWnd::QueryState(UINT id)
{
    CCmdUI ui(id);
    for (CCmdTarget *target : m_route)
        if (target->OnUpdateCmdUI(ui))
            return ui;
    OnUpdateCmdUI(ui);
    return ui;
}

bool CFrameWnd::RouteCommand(UINT id)
{
    if (!QueryState(id).Enabled())
        return false;
    for (CCmdTarget *target : m_route)
        if (target->OnCmdMsg(id))
            return true;
    return OnCmdMsg(id);
}

void CFrameWnd::UpdateMenu(HMENU menu)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        UINT id = GetMenuItemID(menu, i);
        if (id == 0 || id == UINT(-1))
            continue;  // separators and submenus
        CMenuCmdUI ui(menu, id);
        bool known = false;
        for (CCmdTarget *target : m_route)
            if ((known = target->OnUpdateCmdUI(ui)))
                break;
        if (!known)
            OnUpdateCmdUI(ui);
    }
}

namespace {

bool IsClass(HWND hwnd, const char *name)
{
    char className[32] = "";
    return hwnd && GetClassNameA(hwnd, className, sizeof className) && lstrcmpiA(className, name) == 0;
}

} // namespace

int CFrameWnd::Run()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (PreTranslateMessage(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return int(msg.wParam);
}

bool CFrameWnd::PreTranslateMessage(MSG &msg)
{
    // An edit field keeps its own Delete key.
    bool editKey = msg.message == WM_KEYDOWN && msg.wParam == VK_DELETE && IsClass(msg.hwnd, "Edit");
    if (!editKey && m_accelerators && m_hwnd && TranslateAcceleratorA(m_hwnd, m_accelerators, &msg))
        return true;
    // Keyboard navigation inside the child dialogs (the panes): the
    // outermost dialog below the frame takes it.
    HWND dialog = NULL;
    for (HWND up = GetParent(msg.hwnd); up && up != m_hwnd; up = GetParent(up))
        if (IsClass(up, "#32770"))
            dialog = up;
    return dialog && IsDialogMessageA(dialog, &msg);
}
