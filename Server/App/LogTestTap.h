// For tests of the server program only: when the environment variable
// QOR_TEST_LOG_FILE names a file, every line the message log shows is also
// appended to that file (severity, a tab, the text), and fatal message boxes
// and the close question are written there instead of being shown, so that
// a test in another process can read what the server logged and nothing
// waits for an answer. Without the variable nothing changes.
#pragma once
#include <windows.h>
#include <string>
#include "LogView.h"
#include "ServerMsg.h"

class CLogTestTap : public ILogView, public IMessageBoxSeam {
public:
    static const char Variable[];
    // Null when the variable is not set or the file cannot be opened.
    static CLogTestTap *FromEnvironment();
    ~CLogTestTap() override;

    // The view the lines go on to (the main window), null for none.
    void SetView(ILogView *view) { m_view = view; }
    void Write(const std::string &line);

    BOOL PostLine(LONG severity, LogLineRecord *record) override;
    void ClearLines() override;
    void Show(const std::string &text, const std::string &caption) override;

private:
    explicit CLogTestTap(HANDLE file) : m_file(file) {}
    HANDLE m_file;
    ILogView *volatile m_view = nullptr;
};
