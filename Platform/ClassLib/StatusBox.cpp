#include "StatusBox.h"

BOOL CStatusBox::OnInitDialog()
{
    // Centred over the screen: the box stands for the program while it waits.
    RECT box;
    GetWindowRect(Window(), &box);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top)) / 2;
    SetWindowPos(Window(), HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    HWND icon = Item(IconId);
    if (icon && !SendMessageA(icon, STM_GETICON, 0, 0))
        SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIcon(NULL, IDI_INFORMATION)), 0);
    return FALSE;
}

bool CStatusBox::Show(HWND parent, const std::string &text)
{
    if (!Window() && !Create(parent))
        return false;
    SetItemText(TextId, text);
    ShowWindow(Window(), SW_SHOWNA);
    SetWindowPos(Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The text is a child window: paint it with the box, now.
    RedrawWindow(Window(), NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return true;
}

void CStatusBox::Hide()
{
    if (Window())
        ShowWindow(Window(), SW_HIDE);
}

void CStatusBox::Hold(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageA(&msg);
        DWORD passed = GetTickCount() - start;
        if (passed >= ms)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - passed, QS_PAINT);
    }
}
