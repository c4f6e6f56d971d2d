// The log view: where shown lines of the message log go. The main window's
// list view implements ILogView; every line reaches it as message 1026 on
// the window's own thread, carrying a heap LogLineRecord that the window
// frees. Tests install the recording view of LogTestDoubles.h instead.
#pragma once
#include <windows.h>
#include <string>

// The user message plus 2: wParam is the severity, lParam a LogLineRecord *.
const UINT WM_SERVER_LOG_LINE = WM_USER + 2;

struct LogLineRecord {
    std::string text;
    SYSTEMTIME time;
};

class ILogView {
public:
    virtual ~ILogView() {}
    // Hands a shown line to the view's thread without waiting for it. TRUE:
    // the view owns record now; FALSE: the caller still does.
    virtual BOOL PostLine(LONG severity, LogLineRecord *record) = 0;
    // Empties the view (called on the view's thread).
    virtual void ClearLines() = 0;
};

// The rows of a log view, newest at index 0: what the view does on message
// 1026 is written against this so that it runs the same on a list view and in
// a test.
class ILogList {
public:
    virtual ~ILogList() {}
    virtual int GetCount() = 0;
    virtual void DeleteItem(int index) = 0;
    virtual void InsertItem(int index, LONG severity, const std::string &text, const std::string &date,
                            const std::string &time) = 0;
};

// Formats time in the user's locale as date and time and splits it at the
// first blank into the "Date" and "Time" columns.
void SplitLogTime(const SYSTEMTIME &time, std::string &date, std::string &timeText);

// One line arriving at the view: at maximum lines or more the last row goes,
// then the line is inserted on top.
void ShowLogLine(ILogList &list, DWORD maximum, LONG severity, const LogLineRecord &record);

// Posts message 1026 with the record to window; FALSE when it cannot be
// posted (the record is still the caller's).
BOOL PostLogLine(HWND window, LONG severity, LogLineRecord *record);
// The window's handler of message 1026: shows the line and frees the record.
void OnLogLineMessage(ILogList &list, DWORD maximum, WPARAM wParam, LPARAM lParam);
