#include "ServiceMode.h"
#include "ServerMsg.h"

namespace {

const char kServiceName[] = "Hadrel";
// The name the control handler is registered under.
const char kHandlerName[] = "QOR Server";
const DWORD kEndWaitMs = 5000;

SERVICE_STATUS g_status;
SERVICE_STATUS_HANDLE g_statusHandle = NULL;
// Set by a stop or shutdown control, or when the window closed anyway.
HANDLE g_stopEvent = NULL;
// The main window answered a close (auto-reset).
HANDLE g_answered = NULL;
volatile LONG g_closed = 0;
HANDLE g_thread = NULL;
bool (*g_postClose)() = nullptr;

void Report(DWORD state)
{
    g_status.dwCurrentState = state;
    if (g_statusHandle)
        SetServiceStatus(g_statusHandle, &g_status);
}

void WINAPI ControlHandler(DWORD control)
{
    if ((control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) && g_stopEvent)
        SetEvent(g_stopEvent);
    Report(g_status.dwCurrentState);
}

// Posts the close and waits for the window's answer: true when it closed.
bool CloseMainWindow()
{
    if (g_closed)
        return true;
    ResetEvent(g_answered);
    // Before the main window exists the close cannot be posted yet.
    while (!(g_postClose && g_postClose())) {
        if (WaitForSingleObject(g_answered, 100) == WAIT_OBJECT_0 || g_closed)
            return g_closed != 0;
    }
    WaitForSingleObject(g_answered, INFINITE);
    return g_closed != 0;
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    g_status = SERVICE_STATUS();
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = SERVICE_START_PENDING;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    g_status.dwWaitHint = 10000;
    g_statusHandle = RegisterServiceCtrlHandlerA(kHandlerName, ControlHandler);
    if (!g_statusHandle)
        return;
    Report(SERVICE_START_PENDING);
    HANDLE stop = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!stop) {
        Report(SERVICE_STOPPED);
        return;
    }
    g_stopEvent = stop;
    for (;;) {
        Report(SERVICE_RUNNING);
        WaitForSingleObject(stop, INFINITE);
        Report(SERVICE_STOP_PENDING);
        if (CloseMainWindow())
            break;
        // Refused (clients still hold the hidden server): it keeps running
        // and serving, so it must not say it stopped.
    }
    g_stopEvent = NULL;
    CloseHandle(stop);
    Report(SERVICE_STOPPED);
}

DWORD WINAPI DispatcherThread(void *)
{
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char *>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table))
        LogMessage(SeverityError, "Error starting Service Control Dispatcher");
    return 0;
}

} // namespace

void SetServiceCloseRequest(bool (*postClose)()) { g_postClose = postClose; }

bool StartServiceDispatcher()
{
    if (CServerMsg *log = GetServerMsg())
        log->SetUnattended(TRUE);
    if (!g_answered)
        g_answered = CreateEventA(NULL, FALSE, FALSE, NULL);
    g_thread = CreateThread(NULL, 0, DispatcherThread, nullptr, 0, NULL);
    return g_thread != NULL;
}

void ServiceCloseAnswered(bool closed)
{
    if (!g_answered)
        return;
    if (closed) {
        InterlockedExchange(&g_closed, 1);
        // A window closed for another reason ends the service too.
        if (HANDLE stop = g_stopEvent)
            SetEvent(stop);
    }
    SetEvent(g_answered);
}

void EndServiceDispatcher()
{
    if (!g_thread)
        return;
    ServiceCloseAnswered(true);
    WaitForSingleObject(g_thread, kEndWaitMs);
    CloseHandle(g_thread);
    g_thread = NULL;
}
