#include "ToolDocument.h"
#include "BstrText.h"


CToolDocument::CToolDocument(CServerConnection &connection, IMessageSink &messages, IErrorTexts &texts)
    : m_connection(connection), m_messages(messages), m_texts(texts)
{
}

void CToolDocument::ShowError(HRESULT code)
{
    if (ServerUnreachable(code))
        m_connection.MarkLost();
    ShowServerError(m_messages, m_texts, code);
}

void CToolDocument::ShowText(const std::string &text)
{
    m_messages.Box(text, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
}

void CToolDocument::RefreshServerStatus()
{
    ReadServerStatus();
}

void CToolDocument::RelabelItem(CObjectItem &, const std::string &)
{
    // The tree browser joins later; until then there is no label to change.
}

bool CToolDocument::ReadServerStatus(bool *pathChanged)
{
    IQORDriver *server = m_connection.Server();
    if (!server)
        return false;
    VARIANT_BOOL running = VARIANT_FALSE;
    HRESULT hr = server->get_Running(&running);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    m_running = running != VARIANT_FALSE;
    BSTR name = nullptr;
    hr = server->get_FullConfigFileName(&name);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    std::string path = FromBstr(name);
    SysFreeString(name);
    if (pathChanged)
        *pathChanged = path != m_path;
    SetPath(path);
    return true;
}

void CToolDocument::SetPath(const std::string &path)
{
    if (path == m_path)
        return;
    m_path = path;
    if (m_titleChanged)
        m_titleChanged();
}
