#include "XActionProcessor.h"
#include "S7Lock.h"
#include "S7Library.h"
#include "ServerMsg.h"
#include <cstdio>

namespace {

const char kReceiveLockName[] = "VELTRANE_QOR_XACTION_PROCESSOR_RECEIVE_LOCK";
const char kClassMiddle[] = "_{A87274E5-05D1-4362-8F5E-5E5DD20F4CE4}_";
constexpr UINT_PTR kSilentTimer = 1;     // 500 ms: polls for events whose notice was missed
constexpr UINT_PTR kRunOutTimer = 2;     // 25 ms: drains the library while shutting down
constexpr ULONGLONG kRunOutMs = 1200;

} // namespace

CXActionProcessor::CXActionProcessor(IClock *clock)
    : m_clock(clock ? clock : SystemClock()), m_mutexName(kReceiveLockName)
{
    InitializeCriticalSection(&m_listLock);
    InitializeCriticalSection(&m_stateLock);
    m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_windowReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Any process of any user may take the receive lock.
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof(sa), &sd, FALSE};
    m_receiveMutex = CreateMutexA(&sa, FALSE, m_mutexName.c_str());
}

CXActionProcessor::~CXActionProcessor()
{
    Stop();
    // Let open connections finish and close before the threads go.
    if (m_receiveThread)
        for (int i = 0; i < 1200 && m_resources.GetCount() > 0; ++i)
            Sleep(100);
    StopThreads();
    // Connection objects abort through the VFD object, so they go first.
    m_resources.Clear();
    delete m_vfd;
    if (m_stopEvent)
        CloseHandle(m_stopEvent);
    if (m_windowReady)
        CloseHandle(m_windowReady);
    if (m_receiveMutex)
        CloseHandle(m_receiveMutex);
    S7DebugOutput("CXActionProcessor::~CXActionProcessor() - Shutdown Complete for vfd=%s\n", m_vfdName.c_str());
    DeleteCriticalSection(&m_stateLock);
    DeleteCriticalSection(&m_listLock);
}

void CXActionProcessor::StopThreads()
{
    if (m_receiveThread) {
        InterlockedExchange(&m_shutdownRequested, 1);
        for (int i = 0; i < 100 && !m_runOutDone; ++i)
            Sleep(10);
    }
    InterlockedExchange(&m_stop, 1);
    SetEvent(m_stopEvent);
    if (m_receiveThreadId)
        PostThreadMessageA(m_receiveThreadId, WM_NULL, 0, 0);
    for (HANDLE *thread : {&m_receiveThread, &m_timeoutThread}) {
        if (!*thread)
            continue;
        if (WaitForSingleObject(*thread, 10000) != WAIT_OBJECT_0)
            TerminateThread(*thread, 1);
        CloseHandle(*thread);
        *thread = nullptr;
    }
}

bool CXActionProcessor::Start(const char *cpName, const char *vfdName, HANDLE completion, S7ErrorRecord *error)
{
    S7ErrorRecord local;
    if (!error)
        error = &local;
    ClearS7ErrorRecord(error);
    if (!cpName || !vfdName)
        return false;
    {
        Locked state(&m_stateLock);
        if (m_state == StateRunning)
            Stop();
        if (!m_vfd)
            m_vfd = new CQORVFD;
        HRESULT hr = S_OK;
        if (!m_vfd->IsOpen() || m_vfd->GetCpName() != cpName || m_vfd->GetVfdName() != vfdName) {
            if (m_vfd->IsOpen())
                m_vfd->Close(error);
            hr = m_vfd->Open(cpName, vfdName, error);
            // A window that exists already listens to the new descriptor.
            if (SUCCEEDED(hr) && m_window)
                m_vfd->SetWindowMessage(m_window, kEventMessage, error);
        }
        if (FAILED(hr))
            return false;
        m_cpName = cpName;
        m_vfdName = vfdName;
        m_completion = completion;
        InterlockedExchange(&m_stop, 0);
        ResetEvent(m_stopEvent);
        InterlockedExchange(&m_state, StateRunning);
        if (!m_receiveThread)
            m_receiveThread = CreateThread(nullptr, 0, ReceiveThread, this, 0, &m_receiveThreadId);
        if (!m_timeoutThread)
            m_timeoutThread = CreateThread(nullptr, 0, TimeoutThread, this, 0, nullptr);
        if (!m_receiveThread || !m_timeoutThread) {
            m_vfd->Close(error);
            InterlockedExchange(&m_state, StateIdle);
            return false;
        }
    }
    // The window must be registered with the library before the first
    // request, or its first events would wait for the silent tick.
    HANDLE waits[2] = {m_windowReady, m_receiveThread};
    if (WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0)
        return true;
    Locked state(&m_stateLock);
    m_vfd->Close(error);
    InterlockedExchange(&m_state, StateIdle);
    return false;
}

void CXActionProcessor::Stop()
{
    Locked state(&m_stateLock);
    if (m_state == StateRunning)
        InterlockedExchange(&m_state, StateStopping);
    m_completion = nullptr;
}

WORD CXActionProcessor::NextOrderId()
{
    for (;;) {
        LONG last = m_lastOrderId;
        LONG next = last >= 65535 ? 1 : last + 1;
        if (InterlockedCompareExchange(&m_lastOrderId, next, last) == last)
            return static_cast<WORD>(next);
    }
}

HRESULT CXActionProcessor::SignalCompletion()
{
    HANDLE event = m_completion;
    if (event && !SetEvent(event))
        return QOR_E_SIGNAL;
    return S_OK;
}

bool CXActionProcessor::FindResource(CXAction *request, CResourceLink **link)
{
    if (request->HasConnectionReference())
        return m_resources.FindByReference(request->GetConnectionReference(), link);
    if (request->HasConnectionName())
        return m_resources.FindByName(request->GetConnectionName(), link);
    *link = nullptr;
    return true;
}

LONG CXActionProcessor::Submit(CXAction *request)
{
    if (!request)
        return SubmitFailed;
    Locked list(&m_listLock);
    Locked state(&m_stateLock);
    if (m_state != StateRunning) {
        request->Complete(CXAction::StateFailed, CXAction::SubError);
        return SubmitNotRunning;
    }
    request->SetOrderId(NextOrderId());
    LONG result = (request->GetKind() == CXAction::KindConnectionStatus ||
                   request->GetKind() == CXAction::KindConnectionState)
                      ? SubmitQuery(request)
                      : SubmitReadWrite(request);
    m_resources.LockCheck();
    return result;
}

// A query carries a completion value; the answer replaces it. A connection
// without a resource is idle and not in use.
LONG CXActionProcessor::SubmitQuery(CXAction *request)
{
    if (!request->HasCompletionValue())
        return 0;
    CResourceLink *link = nullptr;
    LONG answer;
    if (!FindResource(request, &link)) {
        request->Complete(CXAction::StateCompleted, CXAction::SubError);
        return SubmitFailed;
    }
    bool busy = link && link->m_resource->IsBusy();
    if (request->GetKind() == CXAction::KindConnectionState)
        answer = link ? LONG(link->m_resource->GetCoarseState()) : LONG(CConnectionResource::CoarseIdle);
    else
        answer = busy ? 1 : 0;
    if (link)
        link->Unlock();
    request->SetCompletionValue(answer);
    request->Complete(CXAction::StateCompleted, CXAction::SubNone);
    return answer;
}

LONG CXActionProcessor::SubmitReadWrite(CXAction *request)
{
    CResourceLink *link = nullptr;
    // A list that cannot be locked fails the request; it never goes on unlocked.
    if (!FindResource(request, &link)) {
        request->Complete(CXAction::StateCompleted, CXAction::SubError);
        return SubmitFailed;
    }
    CConnectionResource *resource = link ? link->m_resource : nullptr;
    if (!resource) {
        if (!request->HasConnectionName()) {
            request->Complete(CXAction::StateCompleted, CXAction::SubError);
            return SubmitFailed;
        }
        resource = new CConnectionResource(this, m_vfd, request->GetConnectionName());
        S7ErrorRecord error;
        ClearS7ErrorRecord(&error);
        HRESULT hr = resource->OpenConnection(&error);
        if (FAILED(hr)) {
            delete resource;
            request->StoreError(error.returnCode ? error : S7ErrorRecord{static_cast<DWORD>(hr), 0, 0, "", ""});
            request->Complete(CXAction::StateCompleted, CXAction::SubError);
            return hr < 0 && hr != SubmitBusy ? hr : SubmitFailed;
        }
        link = m_resources.Add(resource, resource->GetReference(), request->GetConnectionName());
        if (!link) {
            delete resource;
            request->Complete(CXAction::StateCompleted, CXAction::SubError);
            return SubmitFailed;
        }
        m_resources.TryLockLink(link);
    }
    LONG result;
    if (resource->IsBusy()) {
        result = SubmitBusy;
    } else {
        result = resource->StartRequest(request);
        if (result == RES_OK || result == RES_PENDING) {
            result = request->GetOrderId();
        } else if (result == RES_BUSY) {
            result = SubmitBusy;     // nothing was started
        } else {
            // The request ended as failed: never answer "busy" for it.
            if (request->GetState() < CXAction::StateCompleted)
                request->Complete(CXAction::StateCompleted, CXAction::SubError);
            if (result == RES_UNUSABLE || result >= 0)
                result = SubmitFailed;
        }
    }
    link->Unlock();
    return result;
}

bool CXActionProcessor::IsConnectionInUse(const char *connName)
{
    Locked list(&m_listLock);
    CResourceLink *link = nullptr;
    bool inUse = false;
    if (m_resources.FindByName(connName, &link) && link) {
        inUse = link->m_resource->IsBusy();
        link->Unlock();
    }
    m_resources.LockCheck();
    return inUse;
}

bool CXActionProcessor::GetResourceState(const char *connName, WORD *coarse, WORD *detail)
{
    Locked list(&m_listLock);
    CResourceLink *link = nullptr;
    bool found = m_resources.FindByName(connName, &link) && link;
    if (found) {
        *coarse = link->m_resource->GetCoarseState();
        *detail = link->m_resource->GetDetailState();
        link->Unlock();
    }
    m_resources.LockCheck();
    return found;
}

DWORD CXActionProcessor::CancelByOrderId(WORD orderId, bool markForClosing)
{
    Locked list(&m_listLock);
    DWORD result = 16;
    m_resources.ForEach([&](CResourceLink *link) {
        if (result == 16 && link->m_resource->Cancel(orderId, false, markForClosing))
            result = 0;
    });
    m_resources.LockCheck();
    return result;
}

DWORD CXActionProcessor::CancelByConnection(const char *connName)
{
    Locked list(&m_listLock);
    CResourceLink *link = nullptr;
    DWORD result = 16;
    if (m_resources.FindByName(connName, &link) && link) {
        link->m_resource->Mark();
        link->m_resource->Cancel(0, true, true);
        link->Unlock();
        result = 0;
    }
    m_resources.LockCheck();
    return result;
}

HRESULT CXActionProcessor::RecvLoop()
{
    Locked list(&m_listLock);
    if (m_stop || !m_vfd || !m_vfd->IsOpen())
        return S_OK;
    DWORD wait = WaitForSingleObject(m_receiveMutex, INFINITE);
    // An owner that died left the lock free; its state is ours to take.
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return HRESULT_FROM_WIN32(GetLastError());
    DWORD connRef = 0;
    WORD orderId = 0;
    int eventCode = 0;
    S7ErrorRecord error;
    HRESULT hr = m_vfd->Receive(&connRef, &orderId, &eventCode, &error);
    if (hr == S_OK) {
        CResourceLink *link = nullptr;
        if (m_resources.FindByReference(connRef, &link) && link) {
            link->m_resource->HandleEvent(connRef, orderId, eventCode);
            link->Unlock();
        } else {
            m_vfd->HandleEvent(connRef, orderId, eventCode, &error, nullptr);
            S7DebugOutput("CXActionProcessor::RecvLoop - ERROR No matching resource found - for vfd=%s "
                          "nConnRef=%d, nOrderId=%d\n",
                          m_vfdName.c_str(), static_cast<int>(connRef), static_cast<int>(orderId));
        }
    }
    m_resources.LockCheck();
    ReleaseMutex(m_receiveMutex);
    return hr;
}

void CXActionProcessor::TimeoutTick(DWORD elapsedMs)
{
    Locked list(&m_listLock);
    bool stopping = m_state == StateStopping;
    m_resources.ForEach([&](CResourceLink *link) {
        CConnectionResource *resource = link->m_resource;
        resource->Age(elapsedMs);
        bool used = resource->TakeUsed();
        if (!resource->IsCoarseBusy() && !used) {
            link->m_busyTimeMs = 0;
            if (resource->IsMarked()) {
                resource->Close();
                m_resources.Remove(link);
                return;
            }
            // "Never" is its own flag, and the countdown expires at or
            // below 0, so that a large step of time cannot skip it.
            if (!link->m_idleNever)
                link->m_idleCountdownMs -= static_cast<LONG>(elapsedMs);
            if ((!link->m_idleNever && link->m_idleCountdownMs <= 0) || stopping)
                resource->Mark();
        } else {
            link->m_busyTimeMs += static_cast<LONG>(elapsedMs);
            if (link->m_busyTimeMs > 59999) {
                link->m_busyTimeMs = 0;
                S7DebugOutput("Time Since Idle Timeout exeration \n");
            }
            link->m_idleCountdownMs = kIdleCloseMs;
            link->m_idleNever = false;
        }
    });
    m_resources.LockCheck();
    m_resources.AgePurgeList(elapsedMs);
}

DWORD WINAPI CXActionProcessor::TimeoutThread(void *self)
{
    auto *p = static_cast<CXActionProcessor *>(self);
    ULONGLONG previous = p->m_clock->NowMs();
    while (!p->m_stop) {
        WaitForSingleObject(p->m_stopEvent, 1);
        if (p->m_stop)
            break;
        ULONGLONG now = p->m_clock->NowMs();
        DWORD elapsed = static_cast<DWORD>(now - previous);
        previous = now;
        if (p->m_state != StateIdle)
            p->TimeoutTick(elapsed);
        InterlockedIncrement(reinterpret_cast<volatile LONG *>(&p->m_ticks));
    }
    return 0;
}

LRESULT CALLBACK CXActionProcessor::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == kEventMessage) {
        if (auto *p = reinterpret_cast<CXActionProcessor *>(GetWindowLongPtrA(window, GWLP_USERDATA)))
            p->RecvLoop();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI CXActionProcessor::ReceiveThread(void *self)
{
    return static_cast<CXActionProcessor *>(self)->ReceiveWindowLoop();
}

DWORD CXActionProcessor::ReceiveWindowLoop()
{
    char className[256];
    snprintf(className, sizeof(className), "%llX%s%s", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this)),
             kClassMiddle, m_vfdName.c_str());
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc)) {
        // A box here would hold the receive thread (and a service) until
        // someone answers it; the log's fatal path never waits on a worker.
        LogMessage(SeverityFatal, "fatal error, can't register a window class.");
        return static_cast<DWORD>(-3);
    }
    HWND window = CreateWindowA(className, className, 0, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (!window) {
        LogMessage(SeverityFatal, "atal error, can't create a RcvWindow.");
        UnregisterClassA(className, instance);
        return static_cast<DWORD>(-4);
    }
    S7ErrorRecord error;
    m_window = window;
    m_vfd->SetWindowMessage(window, kEventMessage, &error);
    SetTimer(window, kSilentTimer, 500, nullptr);
    SetTimer(window, kRunOutTimer, 25, nullptr);
    SetEvent(m_windowReady);

    bool silent = false;
    bool runOutStarted = false;
    ULONGLONG runOutStart = 0;
    MSG msg;
    while (!m_stop && !m_runOutDone) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        if (msg.hwnd == window && msg.message == kEventMessage) {
            silent = false;
            if (m_shutdownRequested)
                runOutStart = GetTickCount64();
            DispatchMessageA(&msg);
        } else if (msg.hwnd == window && msg.message == WM_TIMER && msg.wParam == kSilentTimer) {
            if (!silent)
                silent = true;
            else
                RecvLoop();
        } else if (msg.hwnd == window && msg.message == WM_TIMER && msg.wParam == kRunOutTimer) {
            if (!m_shutdownRequested)
                continue;
            if (!runOutStarted) {
                runOutStarted = true;
                runOutStart = GetTickCount64();
            } else if (GetTickCount64() - runOutStart < kRunOutMs) {
                RecvLoop();
            } else {
                InterlockedExchange(&m_shutdownRequested, 0);
                InterlockedExchange(&m_runOutDone, 1);
            }
        } else {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    m_window = nullptr;
    KillTimer(window, kSilentTimer);
    KillTimer(window, kRunOutTimer);
    DestroyWindow(window);
    UnregisterClassA(className, instance);
    return 0;
}
