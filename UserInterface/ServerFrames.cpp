#include "ServerFrames.h"
#include "AboutBox.h"
#include "resource.h"

const int CInPlaceFrame::Groups[3] = {1, 1, 1};

CInPlaceFrame::CInPlaceFrame(HINSTANCE instance, CUserInterfaceDoc &document, std::function<void()> endInPlace)
    : CInPlaceFrameWnd(instance, IDR_SRVR_INPLACE, Groups), m_doc(document), m_view(instance, document),
      m_endInPlace(std::move(endInPlace))
{
    SetRoute({&m_view, &m_doc});
}

CInPlaceFrame::~CInPlaceFrame() { DestroyInPlace(); }

bool CInPlaceFrame::OnCreate()
{
    m_previous = &m_doc.Tree();
    m_doc.SetTree(m_noTree);
    if (!m_view.Create(m_instance, m_hwnd))
        return false;
    m_view.SetMenuOwner(m_hwnd);
    RECT client;
    GetClientRect(m_hwnd, &client);
    OnSize(client.right, client.bottom);
    m_view.Refresh();
    return true;
}

void CInPlaceFrame::OnSize(int width, int height)
{
    if (m_view.Window())
        MoveWindow(m_view.Window(), 0, 0, width, height, TRUE);
}

void CInPlaceFrame::OnDestroy()
{
    if (m_previous)
        m_doc.SetTree(*m_previous);
    m_previous = nullptr;
}

bool CInPlaceFrame::OnUpdateCmdUI(CCmdUI &ui)
{
    switch (ui.Id()) {
    case ID_END_INPLACE:
    case IDM_ABOUT:
        ui.Enable(true);
        return true;
    }
    return false;
}

bool CInPlaceFrame::OnCmdMsg(UINT id)
{
    switch (id) {
    case ID_END_INPLACE:
        // The activation's end destroys this window; nothing of it is used after.
        if (m_endInPlace)
            m_endInPlace();
        return true;
    case IDM_ABOUT:
        ShowAboutBox(m_instance, m_hwnd);
        return true;
    }
    return false;
}

CEmbeddedFrame::CEmbeddedFrame(HINSTANCE instance, CUserInterfaceDoc &document, IProfile &profile,
                               CCmdTarget &serverCommands, std::function<void()> close)
    : CMainFrame(instance, document, profile), m_doc(document), m_serverCommands(serverCommands),
      m_close(std::move(close))
{
}

bool CEmbeddedFrame::CreateEmbedded()
{
    if (!CreateFrame())
        return false;
    SetRoute({&View(), &m_doc, &m_serverCommands});
    // The embedded menu and its keys in place of the program's own.
    HMENU menu = LoadMenuA(m_instance, MAKEINTRESOURCEA(IDR_SRVR_EMBEDDED));
    HMENU old = GetMenu(m_hwnd);
    if (menu && SetMenu(m_hwnd, menu) && old)
        DestroyMenu(old);
    m_accelerators = LoadAcceleratorsA(m_instance, MAKEINTRESOURCEA(IDR_SRVR_EMBEDDED));
    return true;
}

void CEmbeddedFrame::OnClose()
{
    if (m_close)
        m_close();
}
