// Serialises all S7 traffic of one VFD: opens it, keeps one resource per
// connection, starts each request on its connection's resource, receives the
// library's events on a hidden window and ages pending requests and idle
// connections on a 1 ms timeout thread.
#pragma once
#include "Clock.h"
#include "ConnResource.h"
#include <string>

class CXActionProcessor : private IResourceOwner {
public:
    enum State : LONG { StateIdle = 0, StateStopping = 2, StateRunning = 3 };
    // Submit's answers beside an order id.
    enum : LONG { SubmitFailed = -1, SubmitBusy = -3, SubmitNotRunning = -4 };
    static constexpr UINT kEventMessage = 1025;      // posted by the library per event
    static constexpr LONG kIdleCloseMs = 10000;

    // clock: the time of timeouts and idle closing (null: the tick count).
    explicit CXActionProcessor(IClock *clock = nullptr);
    virtual ~CXActionProcessor();
    CXActionProcessor(const CXActionProcessor &) = delete;
    CXActionProcessor &operator=(const CXActionProcessor &) = delete;

    // Opens the CP/VFD and starts both threads; completion (may be null) is
    // set whenever a request completes.
    bool Start(const char *cpName, const char *vfdName, HANDLE completion, S7ErrorRecord *error = nullptr);
    // Requests submitted from now on fail; open connections close.
    void Stop();
    // The request's order id (1..65535) when started or pending; SubmitBusy
    // when its connection is busy and the request was left untouched;
    // SubmitNotRunning; any other negative value: the request completed as
    // failed. Kinds 1 and 2 answer their query at once.
    LONG Submit(CXAction *request);
    bool IsConnectionInUse(const char *connName);
    // 0, or 16 when no resource matches; the request completes as cancelled.
    DWORD CancelByOrderId(WORD orderId, bool markForClosing = false);
    DWORD CancelByConnection(const char *connName);
    HRESULT SignalCompletion() override;
    // Receives and dispatches one library event.
    HRESULT RecvLoop();

    LONG GetState() const { return m_state; }
    ULONG GetTickCounter() const { return m_ticks; }
    LONG GetResourceCount() const { return m_resources.GetCount(); }
    // The coarse and detail state of a connection's resource; false without one.
    bool GetResourceState(const char *connName, WORD *coarse, WORD *detail);
    const std::string &GetCpName() const { return m_cpName; }
    const std::string &GetVfdName() const { return m_vfdName; }

private:
    WORD NextOrderId() override;
    LONG SubmitQuery(CXAction *request);
    LONG SubmitReadWrite(CXAction *request);
    bool FindResource(CXAction *request, CResourceLink **link);
    void TimeoutTick(DWORD elapsedMs);
    static DWORD WINAPI ReceiveThread(void *self);
    static DWORD WINAPI TimeoutThread(void *self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    DWORD ReceiveWindowLoop();
    void StopThreads();

    IClock *m_clock;
    volatile LONG m_state = StateIdle;
    std::string m_cpName, m_vfdName;
    HANDLE m_completion = nullptr;
    CQORVFD *m_vfd = nullptr;
    CResourceList m_resources;
    volatile LONG m_lastOrderId = 0;
    std::string m_mutexName;
    HANDLE m_receiveMutex = nullptr;
    HANDLE m_stopEvent = nullptr;
    HANDLE m_windowReady = nullptr;
    HWND volatile m_window = nullptr;     // the receive window while it exists
    CRITICAL_SECTION m_listLock;
    CRITICAL_SECTION m_stateLock;
    HANDLE m_receiveThread = nullptr;
    DWORD m_receiveThreadId = 0;
    HANDLE m_timeoutThread = nullptr;
    volatile LONG m_stop = 0;
    volatile LONG m_shutdownRequested = 0;
    volatile LONG m_runOutDone = 0;
    volatile ULONG m_ticks = 0;
};
