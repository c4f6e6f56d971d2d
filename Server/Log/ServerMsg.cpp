#include "ServerMsg.h"
#include <cstdarg>
#include <cstdio>
#include <memory>
#include "EventLog.h"
#include "Registry.h"

namespace {

std::atomic<CServerMsg *> g_serverMsg(nullptr);

// The registry values in the order they are read; reading stops at the first
// one missing. Severity -1 marks "DriverMaximumMessages".
const struct {
    const char *name;
    LONG severity;
    DWORD byDefault;
} Settings[] = {
    {"LogErrors", SeverityError, 1},   {"LogWarnings", SeverityWarning, 1}, {"LogInfo", SeverityInfo, 0},
    {"LogDebug1", SeverityDebug1, 0}, {"LogDebug2", SeverityDebug2, 0},   {"LogDebug3", SeverityDebug3, 0},
    {"DriverMaximumMessages", -1, CServerMsg::DefaultMaximumMessages},
};

const DWORD DefaultEventIds[CServerMsg::SeverityCount] = {
    0x41040000, 0x81040001, 0xC1040002, 0xC1040003, 0x41040004, 0x41040005, 0x41040006,
};

bool knownSeverity(LONG severity) { return severity >= 0 && severity < CServerMsg::SeverityCount; }

class SystemMessageBox : public IMessageBoxSeam {
public:
    void Show(const std::string &text, const std::string &caption) override
    {
        MessageBoxA(NULL, text.c_str(), caption.c_str(), MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
    }
};
SystemMessageBox g_systemMessageBox;

struct PendingBox {
    IMessageBoxSeam *seam;
    std::string text;
    std::string caption;
};

DWORD WINAPI showBoxThread(LPVOID parameter)
{
    std::unique_ptr<PendingBox> box(static_cast<PendingBox *>(parameter));
    box->seam->Show(box->text, box->caption);
    return 0;
}

} // namespace

const char CServerMsg::FatalAdvice[] = "Please shutdown the server and use the Event Viewer to identify the problem.";

CServerMsg::CServerMsg(const char *driverName)
    : m_driverName(driverName ? driverName : ""), m_maximumMessages(DefaultMaximumMessages), m_eventLog(nullptr),
      m_view(nullptr), m_messageBox(&g_systemMessageBox), m_unattended(false), m_mainThread(GetCurrentThreadId())
{
    InitializeCriticalSection(&m_viewLock);
    InitializeCriticalSection(&m_sinkLock);
    m_switches[SeverityFatal] = 1;
    for (const auto &setting : Settings)
        if (setting.severity >= 0)
            m_switches[setting.severity] = setting.byDefault;

    CRegistry reg;
    if (reg.OpenKey(settingsKey().c_str()) == ERROR_SUCCESS) {
        for (const auto &setting : Settings) {
            unsigned long value = 0;
            if (reg.ReadValue(setting.name, &value) != ERROR_SUCCESS)
                break;
            if (setting.severity >= 0)
                m_switches[setting.severity] = value;
            else
                m_maximumMessages = value;
        }
    }
    CServerMsg *none = nullptr;
    g_serverMsg.compare_exchange_strong(none, this);
}

CServerMsg::~CServerMsg()
{
    CServerMsg *self = this;
    g_serverMsg.compare_exchange_strong(self, nullptr);

    CRegistry reg;
    if (reg.OpenKey(settingsKey().c_str(), NULL, KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
        for (const auto &setting : Settings)
            reg.WriteValue(setting.name, static_cast<unsigned long>(setting.severity >= 0 ? m_switches[setting.severity].load()
                                                                                  : m_maximumMessages.load()));
    }
    delete m_eventLog;
    DeleteCriticalSection(&m_sinkLock);
    DeleteCriticalSection(&m_viewLock);
}

std::string CServerMsg::settingsKey() const
{
    return "Software\\Veltrane\\Drivers\\" + m_driverName + "\\DriverDefaults";
}

BOOL CServerMsg::OpenEventLog()
{
    if (!m_eventLog)
        m_eventLog = new CEventLog(m_driverName.c_str());
    return m_eventLog != nullptr;
}

DWORD CServerMsg::DefaultEventId(LONG severity)
{
    return knownSeverity(severity) ? DefaultEventIds[severity] : DefaultEventIds[SeverityInfo];
}

WORD CServerMsg::EventType(LONG severity)
{
    switch (severity) {
    case SeverityWarning:
        return EVENTLOG_WARNING_TYPE;
    case SeverityError:
    case SeverityFatal:
        return EVENTLOG_ERROR_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

BOOL CServerMsg::IsShown(LONG severity) const
{
    if (severity == SeverityFatal)
        return TRUE;
    return knownSeverity(severity) && m_switches[severity] != 0;
}

BOOL CServerMsg::GetSwitch(LONG severity) const { return IsShown(severity); }

void CServerMsg::SetSwitch(LONG severity, BOOL on)
{
    if (knownSeverity(severity) && severity != SeverityFatal)
        m_switches[severity] = on ? 1 : 0;
}

DWORD CServerMsg::GetMessageText(DWORD id, std::string &text) const
{
    text.clear();
    if (!m_eventLog)
        return ERROR_INVALID_HANDLE;
    return m_eventLog->GetMessageText(id, text);
}

void CServerMsg::SetView(ILogView *view)
{
    EnterCriticalSection(&m_viewLock);
    m_view = view;
    LeaveCriticalSection(&m_viewLock);
}

void CServerMsg::AddEventSink(IServerEventSink *sink)
{
    if (!sink)
        return;
    EnterCriticalSection(&m_sinkLock);
    m_sinks.push_back(sink);
    LeaveCriticalSection(&m_sinkLock);
}

void CServerMsg::RemoveEventSink(IServerEventSink *sink)
{
    EnterCriticalSection(&m_sinkLock);
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it)
        if (*it == sink) {
            m_sinks.erase(it);
            break;
        }
    LeaveCriticalSection(&m_sinkLock);
}

void CServerMsg::SetMessageBox(IMessageBoxSeam *seam) { m_messageBox = seam ? seam : &g_systemMessageBox; }

void CServerMsg::AddMessage(ServerMessage message)
{
    SYSTEMTIME now;
    GetLocalTime(&now);

    if (message.text.empty() && message.messageId != 0 && GetMessageText(message.messageId, message.text) != 0)
        return;

    if (message.sendEvent) {
        // Sinks are called under the lock so that a removed sink is never
        // called again once RemoveEventSink has returned.
        EnterCriticalSection(&m_sinkLock);
        for (IServerEventSink *sink : m_sinks)
            sink->Broadcast(message.text, message.source, message.eventCode, message.eventParameter);
        LeaveCriticalSection(&m_sinkLock);
    }

    if (!IsShown(message.severity))
        return;

    std::unique_ptr<LogLineRecord> record(new LogLineRecord{message.text, now});
    EnterCriticalSection(&m_viewLock);
    if (m_view && m_view->PostLine(message.severity, record.get()))
        record.release();
    LeaveCriticalSection(&m_viewLock);

    const bool fatal = message.severity == SeverityFatal;
    if (message.eventLog || fatal) {
        DWORD id = message.messageId ? message.messageId : DefaultEventId(message.severity);
        // The default ids show their one insertion string; a line posted
        // without an event text must not reach the event log empty.
        const std::string &insertion = message.eventText.empty() ? message.text : message.eventText;
        ReportEventStrings(m_eventLog, id, EventType(message.severity), 0, NULL, insertion.c_str(), NULL);
    }

    if (fatal)
        ShowFatal(message.text + "\n" + FatalAdvice);
}

void CServerMsg::ShowFatal(const std::string &text)
{
    // Nobody answers a box when unattended, and a worker thread held by one
    // would stop its part of the server: only the main thread waits for it.
    if (m_unattended)
        return;
    IMessageBoxSeam *seam = m_messageBox;
    if (GetCurrentThreadId() == m_mainThread) {
        seam->Show(text, m_driverName);
        return;
    }
    PendingBox *box = new PendingBox{seam, text, m_driverName};
    HANDLE thread = CreateThread(NULL, 0, showBoxThread, box, 0, NULL);
    if (thread)
        CloseHandle(thread);
    else
        delete box;
}

void CServerMsg::Clear()
{
    EnterCriticalSection(&m_viewLock);
    if (m_view)
        m_view->ClearLines();
    LeaveCriticalSection(&m_viewLock);
    ServerMessage message;
    message.text = "Message log cleared";
    AddMessage(message);
}

CServerMsg *GetServerMsg() { return g_serverMsg.load(); }

void PostServerMessage(const ServerMessage &message)
{
    if (CServerMsg *log = GetServerMsg())
        log->AddMessage(message);
}

void LogMessage(LONG severity, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    ServerMessage message;
    message.severity = severity;
    message.text = text;
    PostServerMessage(message);
}
