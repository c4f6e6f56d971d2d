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
    UpdateWindow(Window());
    return true;
}

void CStatusBox::Hide()
{
    if (Window())
        ShowWindow(Window(), SW_HIDE);
}
