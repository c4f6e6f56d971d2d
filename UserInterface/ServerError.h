// The server's result codes as message boxes, with the text the
// message-table library holds for the code.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include "UiSinks.h"

class CEventLog;

// Where the text of a result code comes from.
class IErrorTexts {
public:
    virtual ~IErrorTexts() = default;
    // False when there is no text for code.
    virtual bool Text(HRESULT code, std::string &text) = 0;
};

// The message-table library named by the driver's "ErrorDll" value.
class CMessageTableTexts : public IErrorTexts {
public:
    explicit CMessageTableTexts(const char *driver = "QOR");
    ~CMessageTableTexts() override;
    bool Text(HRESULT code, std::string &text) override;

private:
    std::unique_ptr<CEventLog> m_log;
};

// Shows the text for code with an exclamation icon, "Unknown Error" when
// there is none. A call refused during an input-synchronous call
// (0x8001010D) shows nothing: the user's own action is still running.
void ShowServerError(IMessageSink &messages, IErrorTexts &texts, HRESULT code);

// The caption of the tool's message boxes.
extern const char ToolCaption[];
