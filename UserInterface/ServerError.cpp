#include "ServerError.h"
#include "EventLog.h"

const char ToolCaption[] = "Tolvane";

CMessageTableTexts::CMessageTableTexts(const char *driver) : m_log(new CEventLog(driver)) {}

CMessageTableTexts::~CMessageTableTexts() = default;

bool CMessageTableTexts::Text(HRESULT code, std::string &text)
{
    return m_log->GetMessageText(DWORD(code), text) == 0;
}

void ShowServerError(IMessageSink &messages, IErrorTexts &texts, HRESULT code)
{
    if (code == HRESULT(0x8001010D))
        return;
    std::string text;
    if (!texts.Text(code, text) || text.empty())
        text = "Unknown Error";
    messages.Box(text, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
}
