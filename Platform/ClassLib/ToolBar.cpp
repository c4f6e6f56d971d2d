#include "ToolBar.h"
#include <commctrl.h>
#include <algorithm>
#include "WindowClass.h"

namespace {
const char kBarClass[] = "QorToolBar";
const int kPad = 2;  // between the bar's edge and its buttons
}

CToolBar::~CToolBar()
{
    if (m_hwnd && IsWindow(m_hwnd)) {
        SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
}

bool CToolBar::Create(HINSTANCE instance, HWND frame, UINT id, const std::string &caption, const Button *buttons,
                      int count)
{
    m_frame = frame;
    m_caption = caption;
    m_buttons.assign(buttons, buttons + count);
    // Redrawn whole when sized: the gripper runs along an edge.
    if (!RegisterWindowClass(instance, kBarClass, Proc, CS_HREDRAW | CS_VREDRAW))
        return false;
    m_hwnd = CreateWindowExA(0, kBarClass, caption.c_str(), WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, frame, NULL,
                             instance, this);
    if (!m_hwnd)
        return false;
    m_toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_LIST |
                                    CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
                                0, 0, 0, 0, m_hwnd, HMENU(UINT_PTR(id)), instance, NULL);
    if (!m_toolbar)
        return false;
    SendMessageA(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(m_toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    SendMessageA(m_toolbar, TB_ADDBITMAP, 0, LPARAM(&standard));
    for (const Button &b : m_buttons) {
        TBBUTTON button = {};
        button.idCommand = int(b.id);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
        if (b.image >= 0) {
            button.iBitmap = b.image;
        } else {
            button.iBitmap = I_IMAGENONE;
            button.fsStyle |= BTNS_SHOWTEXT;
            button.iString = SendMessageA(m_toolbar, TB_ADDSTRINGA, 0, LPARAM((std::string(b.text) + '\0').c_str()));
        }
        SendMessageA(m_toolbar, TB_ADDBUTTONSA, 1, LPARAM(&button));
    }
    SendMessageA(m_toolbar, TB_AUTOSIZE, 0, 0);
    return true;
}

SIZE CToolBar::BarSize(bool upright, bool gripper) const
{
    int along = 0, across = 0;
    int count = int(SendMessageA(m_toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        RECT r = {};
        SendMessageA(m_toolbar, TB_GETITEMRECT, WPARAM(i), LPARAM(&r));
        int width = r.right - r.left, height = r.bottom - r.top;
        along += upright ? height : width;
        across = std::max(across, upright ? width : height);
    }
    int grip = gripper ? GripperSize : 0;
    return upright ? SIZE{across + 2 * kPad, along + grip + 2 * kPad}
                   : SIZE{along + grip + 2 * kPad, across + 2 * kPad};
}

SIZE CToolBar::RequestLayout(const CBarRequest &request)
{
    // A toolbar keeps its buttons' size: docked with its gripper, floating
    // in one row.
    if (request.kind == CBarRequest::Docked)
        return BarSize(!request.horizontal, true);
    return BarSize(false, false);
}

void CToolBar::OnPlaced(DockSide)
{
    // Upright, each button wraps to the next row. The buttons go in again
    // with their states, so that the control lays them out anew.
    bool upright = Upright();
    int count = int(SendMessageA(m_toolbar, TB_BUTTONCOUNT, 0, 0));
    std::vector<TBBUTTON> buttons(size_t(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        SendMessageA(m_toolbar, TB_GETBUTTON, WPARAM(i), LPARAM(&buttons[size_t(i)]));
        BYTE &state = buttons[size_t(i)].fsState;
        state = upright ? BYTE(state | TBSTATE_WRAP) : BYTE(state & ~TBSTATE_WRAP);
    }
    for (int i = count - 1; i >= 0; --i)
        SendMessageA(m_toolbar, TB_DELETEBUTTON, WPARAM(i), 0);
    if (count > 0)
        SendMessageA(m_toolbar, TB_ADDBUTTONSA, WPARAM(count), LPARAM(buttons.data()));
    SendMessageA(m_toolbar, TB_AUTOSIZE, 0, 0);
    PlaceControl();
    InvalidateRect(m_hwnd, NULL, TRUE);
}

void CToolBar::PlaceControl()
{
    bool upright = Upright(), gripper = Gripper();
    SIZE size = BarSize(upright, false);
    int x = kPad + (gripper && !upright ? GripperSize : 0);
    int y = kPad + (gripper && upright ? GripperSize : 0);
    MoveWindow(m_toolbar, x, y, size.cx - 2 * kPad, size.cy - 2 * kPad, TRUE);
}

void CToolBar::UpdateButtons(const std::function<CCmdUI(UINT)> &state)
{
    for (const Button &b : m_buttons) {
        CCmdUI ui = state(b.id);
        SendMessageA(m_toolbar, TB_ENABLEBUTTON, b.id, MAKELPARAM(ui.Enabled() ? TRUE : FALSE, 0));
        // A command whose handler says nothing of a check is not pressed.
        SendMessageA(m_toolbar, TB_CHECKBUTTON, b.id, MAKELPARAM(ui.Checked() > 0 ? TRUE : FALSE, 0));
    }
}

bool CToolBar::OnNotify(NMHDR *header) const
{
    if (header->code != TTN_GETDISPINFOA && header->code != TTN_GETDISPINFOW)
        return false;
    auto button = std::find_if(m_buttons.begin(), m_buttons.end(),
                               [header](const Button &b) { return b.id == UINT(header->idFrom); });
    if (button == m_buttons.end())
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

LRESULT CALLBACK CToolBar::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CToolBar *self = WindowObject<CToolBar>(hwnd, message, lParam);
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_SIZE:
        if (self->m_toolbar)
            self->PlaceControl();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT client;
        GetClientRect(hwnd, &client);
        if (self->Gripper())
            DrawGripper(dc, client, !self->Upright());
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        RECT client;
        GetClientRect(hwnd, &client);
        RECT grip = GripperRect(client, !self->Upright());
        POINT point = {short(LOWORD(lParam)), short(HIWORD(lParam))};
        if (self->Gripper() && PtInRect(&grip, point)) {
            ClientToScreen(hwnd, &point);
            self->StartDrag(point);
        }
        return 0;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
        // The buttons belong to the frame, wherever the bar stands.
        return SendMessageA(self->m_frame, message, wParam, lParam);
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
