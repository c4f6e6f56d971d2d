#include "HelpBrowser.h"
#include "HelpTopics.h"

bool CTextHelpBrowser::Create(HWND parent, int id, const RECT &rect, StateSink sink)
{
    m_sink = std::move(sink);
    m_edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, rect.left,
                             rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), NULL, NULL);
    if (!m_edit)
        return false;
    SendMessageA(m_edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return true;
}

std::string CTextHelpBrowser::Text() const
{
    if (!m_edit)
        return std::string();
    std::string text(GetWindowTextLengthA(m_edit) + 1, '\0');
    text.resize(GetWindowTextA(m_edit, &text[0], static_cast<int>(text.size())));
    return text;
}

HRESULT CTextHelpBrowser::Show(const std::string &url)
{
    std::string file, page;
    if (!SplitHelpUrl(url, file, page))
        return E_INVALIDARG;  // only pages of help files have a text form
    if (file != m_file || !m_reader.IsOpen()) {
        m_file.clear();
        const HRESULT hr = m_reader.Open(file.c_str());
        if (FAILED(hr))
            return hr;
        m_file = file;
    }
    std::string html;
    const HRESULT hr = m_reader.ReadStream(("/" + page).c_str(), html);
    if (FAILED(hr))
        return hr;
    std::string title;
    const std::string text = PlainTextFromHtml(html, &title);
    if (m_edit)
        SetWindowTextA(m_edit, text.c_str());
    return S_OK;
}

void CTextHelpBrowser::Notify()
{
    if (!m_sink)
        return;
    m_sink(NoticeForward, !m_history.empty() && m_at + 1 < m_history.size());
    m_sink(NoticeBack, !m_history.empty() && m_at > 0);
}

HRESULT CTextHelpBrowser::Navigate(const std::string &url)
{
    const HRESULT hr = Show(url);
    if (FAILED(hr))
        return hr;
    if (!m_history.empty())
        m_history.resize(m_at + 1);
    m_history.push_back(url);
    m_at = m_history.size() - 1;
    Notify();
    return S_OK;
}

HRESULT CTextHelpBrowser::Back()
{
    if (m_history.empty() || m_at == 0)
        return S_FALSE;
    const HRESULT hr = Show(m_history[m_at - 1]);
    if (SUCCEEDED(hr))
        --m_at;
    Notify();
    return hr;
}

HRESULT CTextHelpBrowser::Forward()
{
    if (m_history.empty() || m_at + 1 >= m_history.size())
        return S_FALSE;
    const HRESULT hr = Show(m_history[m_at + 1]);
    if (SUCCEEDED(hr))
        ++m_at;
    Notify();
    return hr;
}
