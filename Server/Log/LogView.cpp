#include "LogView.h"
#include <memory>

void SplitLogTime(const SYSTEMTIME &time, std::string &date, std::string &timeText)
{
    char datePart[128] = "";
    char timePart[128] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, NULL, datePart, sizeof(datePart));
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, NULL, timePart, sizeof(timePart));
    std::string both = std::string(datePart) + " " + timePart;
    size_t blank = both.find(' ');
    date = both.substr(0, blank);
    timeText = both.substr(blank + 1);
}

void ShowLogLine(ILogList &list, DWORD maximum, LONG severity, const LogLineRecord &record)
{
    int count = list.GetCount();
    // An empty list has no last row to drop, whatever the limit says.
    if (count > 0 && DWORD(count) >= maximum)
        list.DeleteItem(count - 1);
    std::string date, time;
    SplitLogTime(record.time, date, time);
    list.InsertItem(0, severity, record.text, date, time);
}

BOOL PostLogLine(HWND window, LONG severity, LogLineRecord *record)
{
    if (!window || !record)
        return FALSE;
    return PostMessageA(window, WM_SERVER_LOG_LINE, WPARAM(severity), reinterpret_cast<LPARAM>(record));
}

void OnLogLineMessage(ILogList &list, DWORD maximum, WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<LogLineRecord> record(reinterpret_cast<LogLineRecord *>(lParam));
    if (record)
        ShowLogLine(list, maximum, LONG(wParam), *record);
}
