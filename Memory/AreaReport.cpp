#include <string.h>
#include "EventLog.h"
#include "SharedArea.h"

// Failures are rare, so the event source is registered for each report
// rather than held by every area of every process.
void ReportAreaFailure(const char *eventSource, DWORD eventId, const char *objectName, DWORD error)
{
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                   sizeof(text), NULL);
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        text[--length] = 0;
    CEventLog log(eventSource);
    ReportEventStrings(&log, eventId, EVENTLOG_ERROR_TYPE, 0, NULL, objectName, text, NULL);
}
