// Every message box and question of Setup passes through one reporter, so
// that tests see what the user would have been shown and can answer it.
#pragma once
#include <windows.h>
#include <string>

class CSetupReporter {
public:
    virtual ~CSetupReporter() = default;
    // Shows text titled title with MessageBox style; returns the button chosen.
    virtual int Show(HWND owner, const std::string &text, const std::string &title, UINT style) = 0;
};

// The production reporter: message boxes. With the test variable
// "QOR_TEST_LOG_FILE" set it appends each box to that file instead, and
// answers from the test-only list in "QOR_TEST_ANSWERS" (comma-separated
// yes, no, ok, cancel; when the list runs out, the box's default button).
class CBoxReporter : public CSetupReporter {
public:
    int Show(HWND owner, const std::string &text, const std::string &title, UINT style) override;
};

// The one process-wide production reporter.
CSetupReporter &DefaultReporter();

// True when the test variable names a log file; the file's path in path.
bool TestLogFile(std::string &path);
// Appends one line to the test log file (no-op without the variable).
void AppendTestLog(const std::string &line);

// The failure boxes of the installation, titled "I/O Server Setup Error".
void ShowSetupError(CSetupReporter &reporter, HWND owner, const std::string &text);
void ShowSetupError(CSetupReporter &reporter, HWND owner, const std::string &text, long code);
