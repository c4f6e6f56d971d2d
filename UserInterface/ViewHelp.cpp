#include "ViewHelp.h"

void CViewHelp::Create(HINSTANCE instance, HWND view, const RECT &rect)
{
    m_button = CreateWindowA("BUTTON", "Getting Started....", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 130, 24,
                             view, reinterpret_cast<HMENU>(static_cast<INT_PTR>(GettingStartedId)), instance, NULL);
    if (m_button)
        SendMessageA(m_button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const std::string file = FindHelpFile(m_files, m_help.ContextHelpFile());
    if (file.empty())
        return;
    if (!m_pane.Create(view, rect, 0, DWORD(ShownTopic)))
        return;
    m_pane.SetHelpFile(file);
    ShowTopic(ShownTopic);
}

void CViewHelp::Move(const RECT &rect)
{
    if (m_pane.Window())
        MoveWindow(m_pane.Window(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void CViewHelp::ShowTopic(DWORD topic)
{
    if (!m_pane.Window() || topic == m_topic)
        return;
    if (SUCCEEDED(m_pane.NavigateTopic(topic)))
        m_topic = topic;
}

void CViewHelp::ShowGettingStarted(bool show, int x, int y)
{
    if (!m_button)
        return;
    SetWindowPos(m_button, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(m_button, show ? SW_SHOW : SW_HIDE);
}

bool CViewHelp::OnCommand(HWND view, int id)
{
    if (id != GettingStartedId)
        return false;
    ShowTopic(CommandTopicBase + id);
    m_help.ShowTopic(view, "start_s72.htm");
    return true;
}
