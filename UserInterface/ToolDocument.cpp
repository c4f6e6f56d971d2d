#include "ToolDocument.h"

namespace {

std::string FromBstr(BSTR text)
{
    int length = text ? int(SysStringLen(text)) : 0;
    if (!length)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, NULL, 0, NULL, NULL);
    std::string result(size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &result[0], bytes, NULL, NULL);
    return result;
}

} // namespace

CToolDocument::CToolDocument(CServerConnection &connection, IMessageSink &messages, IErrorTexts &texts)
    : m_connection(connection), m_messages(messages), m_texts(texts)
{
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

bool CToolDocument::ReadServerStatus()
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
    if (path != m_path) {
        m_path = path;
        if (m_titleChanged)
            m_titleChanged();
    }
    return true;
}
