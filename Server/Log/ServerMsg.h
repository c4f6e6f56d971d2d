// The server's one reporting channel. Every part of the server posts lines
// here with a severity; the log decides, by the registry switches, what is
// shown, written to the event log and forwarded to Alarm & Event clients.
#pragma once
#include <windows.h>
#include <string>

enum MessageSeverity {
    SeverityInfo = 0,
    SeverityWarning = 1,
    SeverityError = 2,
    SeverityFatal = 3,
    SeverityDebug1 = 4,
    SeverityDebug2 = 5,
    SeverityDebug3 = 6,
    // Never shown: carries an event to the Alarm & Event connections only.
    SeverityEventOnly = -1,
};

struct ServerMessage {
    LONG severity = SeverityInfo;
    std::string text;          // empty: the text of messageId from the message table
    BOOL eventLog = FALSE;     // also write to the NT event log
    DWORD messageId = 0;       // event-log id (0: the severity's default) and text key
    std::string eventText;     // insertion string for the event log
    BOOL sendEvent = FALSE;    // forward to the Alarm & Event connections
    std::string source;        // object the line concerns
    DWORD eventCode = 0;       // CEventCode value
    DWORD eventParameter = 0;
};

class CServerMsg;

// The process's message log; null until one is created at start-up.
CServerMsg *GetServerMsg();

// Posts a line through the process's message log (does nothing without one).
void PostServerMessage(const ServerMessage &message);
// printf-style convenience for a plain line of the given severity.
void LogMessage(LONG severity, const char *format, ...) __attribute__((format(printf, 2, 3)));
