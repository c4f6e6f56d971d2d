// The server's one reporting channel. Every part of the server posts lines
// here with a severity; the log decides, by the registry switches, what is
// shown, written to the event log and forwarded to Alarm & Event clients.
#pragma once
#include <windows.h>
#include <atomic>
#include <string>
#include <vector>
#include "LogView.h"

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

// The Alarm & Event connections, as the message log sees them: every line
// posted with send event set is broadcast to each sink, whatever the
// severity switches say. Called on the posting thread, which must not wait
// for a client; a sink must not post forwarded lines while it holds a lock
// that its Broadcast takes.
class IServerEventSink {
public:
    virtual ~IServerEventSink() {}
    virtual void Broadcast(const std::string &text, const std::string &source, DWORD eventCode,
                           DWORD eventParameter) = 0;
};

// Shows a fatal line to the user; the default is the system's message box.
class IMessageBoxSeam {
public:
    virtual ~IMessageBoxSeam() {}
    virtual void Show(const std::string &text, const std::string &caption) = 0;
};

class CEventLog;

// The message log. One exists per process (the first one made becomes the
// process's, see GetServerMsg); its settings live under HKLM
// "Software\Veltrane\Drivers\<driver>\DriverDefaults".
class CServerMsg {
public:
    enum { DefaultMaximumMessages = 200, SeverityCount = 7 };

    // Defaults, then the registry values in their order, stopping at the
    // first one missing.
    explicit CServerMsg(const char *driverName = "QOR");
    // Writes all seven settings back and closes the event log.
    ~CServerMsg();
    CServerMsg(const CServerMsg &) = delete;
    CServerMsg &operator=(const CServerMsg &) = delete;

    // Opens the event log with the driver name as source (and with it the
    // message table); true when created.
    BOOL OpenEventLog();
    CEventLog *GetEventLog() const { return m_eventLog; }

    // The log entry: text lookup, forwarding, view, event log, fatal box.
    void AddMessage(ServerMessage message);
    // Empties the view and posts "Message log cleared".
    void Clear();

    // The message table's text for id; 0 or the lookup's error.
    DWORD GetMessageText(DWORD id, std::string &text) const;

    // Whether lines of severity are shown (fatal always).
    BOOL IsShown(LONG severity) const;
    // The switch of severity 0-2 or 4-6 ("LogInfo" ... "LogDebug3").
    BOOL GetSwitch(LONG severity) const;
    void SetSwitch(LONG severity, BOOL on);
    void ToggleSwitch(LONG severity) { SetSwitch(severity, !GetSwitch(severity)); }
    DWORD GetMaximumMessages() const { return m_maximumMessages; }

    // The log view; NULL detaches it. Lines posted while none is set are
    // dropped after the event log has had them.
    void SetView(ILogView *view);
    void AddEventSink(IServerEventSink *sink);
    void RemoveEventSink(IServerEventSink *sink);
    // NULL restores the system's message box. The seam must outlive any box
    // still open when it is replaced.
    void SetMessageBox(IMessageBoxSeam *seam);
    // While unattended (a service, or a start that nobody at the desktop
    // made) no message box is shown: nobody could answer it.
    void SetUnattended(BOOL on) { m_unattended = on != FALSE; }
    // The thread on which a fatal box may be modal; by default the thread
    // that made the log. Any other thread shows it without waiting.
    void SetMainThread(DWORD threadId) { m_mainThread = threadId; }
    const std::string &GetDriverName() const { return m_driverName; }

    static DWORD DefaultEventId(LONG severity);
    static WORD EventType(LONG severity);
    static const char FatalAdvice[];

private:
    void ShowFatal(const std::string &text);
    std::string settingsKey() const;

    std::string m_driverName;
    std::atomic<DWORD> m_switches[SeverityCount];
    std::atomic<DWORD> m_maximumMessages;
    CEventLog *m_eventLog;
    CRITICAL_SECTION m_viewLock;
    ILogView *m_view;
    CRITICAL_SECTION m_sinkLock;
    std::vector<IServerEventSink *> m_sinks;
    std::atomic<IMessageBoxSeam *> m_messageBox;
    std::atomic<bool> m_unattended;
    std::atomic<DWORD> m_mainThread;
};

// The process's message log; null until one is created at start-up.
CServerMsg *GetServerMsg();

// Posts a line through the process's message log (does nothing without one).
void PostServerMessage(const ServerMessage &message);
// printf-style convenience for a plain line of the given severity.
void LogMessage(LONG severity, const char *format, ...) __attribute__((format(printf, 2, 3)));
