#include "ConnResource.h"
#include "S7Lock.h"
#include "Clock.h"

namespace {

volatile LONG g_staleConfirmations;

class TickClock : public IClock {
public:
    ULONGLONG NowMs() override { return GetTickCount64(); }
};

} // namespace

IClock *SystemClock()
{
    static TickClock clock;
    return &clock;
}

LONG CConnectionResource::StaleConfirmations() { return g_staleConfirmations; }

CConnectionResource::CConnectionResource(IResourceOwner *owner, CQORVFD *vfd, const char *connName)
    : m_owner(owner), m_vfd(vfd), m_conn(new CQORCONN(vfd, connName)), m_name(connName ? connName : "")
{
    InitializeCriticalSection(&m_lock);
}

CConnectionResource::~CConnectionResource()
{
    delete m_conn;
    DeleteCriticalSection(&m_lock);
}

HRESULT CConnectionResource::OpenConnection(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    HRESULT hr = m_conn->LookUpReference(error);
    if (FAILED(hr) && hr != QOR_E_HAS_REFERENCE)
        return hr;
    hr = m_conn->Initiate(error);
    return hr == QOR_E_CONNECTED ? S_OK : hr;
}

bool CConnectionResource::IsBusy()
{
    return m_coarse != CoarseIdle || m_marked;
}

void CConnectionResource::RestartTry()
{
    m_request->m_timeLeftMs = static_cast<LONG>(m_request->GetTimeout());
}

// Completes the request, frees the resource and tells the processor.
void CConnectionResource::Finish(LONG state, LONG subStatus, WORD detail)
{
    m_coarse = CoarseIdle;
    m_detail = detail;
    if (CXAction *request = m_request) {
        m_request = nullptr;
        request->Complete(state, subStatus);
        if (m_owner)
            m_owner->SignalCompletion();
    }
}

LONG CConnectionResource::StartRequest(CXAction *request)
{
    Locked lock(&m_lock);
    if (!m_owner) {
        m_detail = DetailNoProcessor;
        return RES_UNUSABLE;
    }
    if (m_request || m_coarse != CoarseIdle)
        return RES_BUSY;
    m_request = request;
    InterlockedExchange(&m_used, 1);
    request->Complete(CXAction::StateStarted, CXAction::SubInProgress);
    m_coarse = CoarseBusy;
    m_detail = DetailInitial;
    request->m_retriesLeft = request->GetRetries();
    RestartTry();
    LONG result = Send(true);
    if (result != RES_OK && result != RES_PENDING)
        Finish(CXAction::StateCompleted, CXAction::SubError, m_detail);
    return result;
}

LONG CConnectionResource::Send(bool mayInitiate)
{
    LONG state = m_conn->GetState();
    bool comingUp = state == CQORCONN::Connecting;
    if (!m_request)
        return comingUp ? RES_PENDING : E_FAIL;
    S7ErrorRecord error{};
    switch (state) {
    case CQORCONN::Connected: {
        HRESULT hr = m_conn->Send(m_request, &error);
        if (SUCCEEDED(hr)) {
            m_detail = DetailSent;
            return RES_OK;
        }
        m_request->StoreError(error.returnCode ? error : S7ErrorRecord{static_cast<DWORD>(hr), 0, 0, "", ""});
        m_detail = DetailSendFailed;
        return RES_SEND_FAILED;
    }
    case CQORCONN::Connecting:
        m_detail = DetailConnecting;
        return RES_PENDING;
    default:
        if (mayInitiate) {
            HRESULT hr = m_conn->Initiate(&error);
            if (SUCCEEDED(hr)) {
                m_detail = DetailConnecting;
                return RES_PENDING;
            }
            m_request->StoreError(error);
        }
        m_detail = DetailBroken;
        return RES_UNUSABLE;
    }
}

void CConnectionResource::Retry()
{
    if (m_request->m_retriesLeft <= 0) {
        Finish(CXAction::StateTimedOut, CXAction::SubError, DetailRetriesExhausted);
        return;
    }
    --m_request->m_retriesLeft;
    m_request->SetOrderId(m_owner->NextOrderId());
    LONG result = Send(false);
    m_request->OnRetry();
    if (result == RES_OK)
        RestartTry();
    else
        Finish(CXAction::StateTimedOut, CXAction::SubError, m_detail);
}

void CConnectionResource::Age(DWORD elapsedMs)
{
    Locked lock(&m_lock);
    if (!IsBusy() || !m_request)
        return;
    if (m_detail == DetailConnecting) {
        LONG result = Send(false);
        if (result == RES_OK)
            RestartTry();
        else if (result != RES_PENDING)
            Finish(CXAction::StateCompleted, CXAction::SubError, m_detail);
    } else if (m_detail == DetailOutOfOrder) {
        Retry();
    }
    if (!m_request)
        return;
    if (m_request->m_timeLeftMs > static_cast<LONG>(elapsedMs)) {
        if (!m_request->IsHeld())
            m_request->m_timeLeftMs -= static_cast<LONG>(elapsedMs);
        return;
    }
    if (m_request->IsHeld())
        return;
    m_request->OnTimeout();
    if (m_conn->GetState() == CQORCONN::Connecting) {
        S7ErrorRecord error;
        m_conn->Abort(&error);
    }
    Retry();
}

HRESULT CConnectionResource::HandleEvent(DWORD connRef, WORD orderId, int eventCode)
{
    Locked lock(&m_lock);
    S7ErrorRecord error;
    ClearS7ErrorRecord(&error);
    HRESULT result = m_vfd->HandleEvent(connRef, orderId, eventCode, &error, this);
    // Without a request an event changes only the resource's own state.
    switch (result) {
    case QOR_S7_CONNECTED:
        if (m_request) {
            m_request->m_retriesLeft = m_request->GetRetries();
            RestartTry();
        }
        break;
    case QOR_S7_ABORTED:
        if (m_request && error.returnCode)
            m_request->StoreError(error);
        Finish(CXAction::StateFailed, CXAction::SubError, DetailClosed);
        break;
    case QOR_S7_READ_DONE:
    case QOR_S7_WRITE_DONE:
    case QOR_S7_MULT_WRITE_DONE:
        Finish(CXAction::StateCompleted, CXAction::SubSuccess, DetailCompleted);
        break;
    case QOR_S7_CNF_ERROR:
    case QOR_S7_DISCARDED:
    case QOR_S7_OTHER_DISCARDED:
        if (m_request)
            m_request->StoreError(error);
        Finish(CXAction::StateCompleted, CXAction::SubError, DetailFailed);
        break;
    case QOR_S7_STALE_READ:
    case QOR_S7_STALE_OTHER:
        InterlockedIncrement(&g_staleConfirmations);
        if (m_request)
            m_detail = DetailOutOfOrder;
        else
            Finish(CXAction::StateFailed, CXAction::SubError, DetailFailed);
        break;
    default:
        break;
    }
    return result;
}

void CConnectionResource::Close()
{
    Locked lock(&m_lock);
    S7ErrorRecord error;
    m_conn->Abort(&error);
    Finish(CXAction::StateFailed, CXAction::SubCancelled, DetailClosed);
}

bool CConnectionResource::Cancel(WORD orderId, bool anyOrderId, bool markForClosing)
{
    Locked lock(&m_lock);
    if (!m_request || (!anyOrderId && m_request->GetOrderId() != orderId))
        return false;
    if (markForClosing)
        Mark();
    Finish(CXAction::StateFailed, CXAction::SubCancelled, m_detail);
    return true;
}

// ---- CResourceLink / CResourceList --------------------------------------------

void CResourceLink::Unlock()
{
    if (m_owner != GetCurrentThreadId())
        return;
    if (InterlockedDecrement(&m_lockCount) < 0) {
        S7DebugOutput("CResourceLink::Unlock() Lock count went negative !\n");
        InterlockedExchange(&m_lockCount, 0);
    }
}

CResourceList::CResourceList() { InitializeCriticalSection(&m_cs); }

CResourceList::~CResourceList()
{
    Clear();
    DeleteCriticalSection(&m_cs);
}

void CResourceList::Clear()
{
    Locked lock(&m_cs);
    for (CResourceLink *chain : {m_first, m_purge})
        while (chain) {
            CResourceLink *next = chain->m_next;
            delete chain->m_resource;
            delete chain;
            chain = next;
        }
    m_first = m_last = m_purge = nullptr;
    m_count = 0;
}

bool CResourceList::LockList()
{
    DWORD me = GetCurrentThreadId();
    for (int tries = 0;; ++tries) {
        {
            Locked lock(&m_cs);
            if (InterlockedCompareExchange(&m_lockCount, 1, 0) == 0) {
                m_owner = me;
                return true;
            }
            if (m_owner == me) {
                InterlockedIncrement(&m_lockCount);
                return true;
            }
        }
        if (tries >= 249) {
            S7DebugOutput("CResourceList::LockList - timeout\n");
            return false;
        }
        Sleep(1);
    }
}

void CResourceList::UnlockList()
{
    Locked lock(&m_cs);
    if (m_owner != GetCurrentThreadId())
        return;
    if (InterlockedDecrement(&m_lockCount) < 0) {
        S7DebugOutput("CResourceList::UnlockList() Lock count went negative !\n");
        InterlockedExchange(&m_lockCount, 0);
    }
}

bool CResourceList::TryLockLink(CResourceLink *link)
{
    Locked lock(&m_cs);
    DWORD me = GetCurrentThreadId();
    if (InterlockedCompareExchange(&link->m_lockCount, 1, 0) == 0) {
        link->m_owner = me;
        return true;
    }
    if (link->m_owner == me) {
        InterlockedIncrement(&link->m_lockCount);
        return true;
    }
    return false;
}

CResourceLink *CResourceList::Add(CConnectionResource *resource, DWORD connRef, const char *connName)
{
    if (!LockList())
        return nullptr;
    CResourceLink *link = new CResourceLink;
    link->m_resource = resource;
    link->m_connRef = connRef;
    link->m_connName = connName ? connName : "";
    link->m_id = m_nextId++;
    link->m_prev = m_last;
    if (m_last)
        m_last->m_next = link;
    else
        m_first = link;
    m_last = link;
    InterlockedIncrement(&m_count);
    UnlockList();
    return link;
}

// Hand over hand: each link locked in turn; a link another thread holds makes
// the walk let go of the list, wait 1 ms and start again.
template <typename Match> bool CResourceList::Find(Match &&match, CResourceLink **found)
{
    *found = nullptr;
    for (int restarts = 0;; ++restarts) {
        if (!LockList())
            return false;
        bool blocked = false;
        for (CResourceLink *link = m_first; link; link = link->m_next) {
            if (!TryLockLink(link)) {
                blocked = true;
                break;
            }
            if (match(link)) {
                *found = link;
                UnlockList();
                return true;
            }
            link->Unlock();
        }
        UnlockList();
        if (!blocked)
            return true;
        if (restarts >= 249) {
            S7DebugOutput("CResourceList::LockList - timeout\n");
            return false;
        }
        Sleep(1);
    }
}

bool CResourceList::FindByReference(DWORD connRef, CResourceLink **found)
{
    return Find([&](CResourceLink *l) { return l->m_connRef == connRef; }, found);
}

bool CResourceList::FindByName(const char *connName, CResourceLink **found)
{
    std::string name = connName ? connName : "";
    return Find([&](CResourceLink *l) { return l->m_connName == name; }, found);
}

bool CResourceList::Remove(CResourceLink *link)
{
    if (!LockList())
        return false;
    if (link->m_prev)
        link->m_prev->m_next = link->m_next;
    else
        m_first = link->m_next;
    if (link->m_next)
        link->m_next->m_prev = link->m_prev;
    else
        m_last = link->m_prev;
    InterlockedDecrement(&m_count);
    link->m_prev = nullptr;
    link->m_next = m_purge;
    link->m_purgeCountdownMs = 5000;
    m_purge = link;
    UnlockList();
    return true;
}

void CResourceList::AgePurgeList(DWORD elapsedMs)
{
    if (!LockList())
        return;
    for (CResourceLink **at = &m_purge; *at;) {
        CResourceLink *link = *at;
        link->m_purgeCountdownMs -= static_cast<LONG>(elapsedMs);
        // A link some thread still holds waits until it is let go.
        if (link->m_purgeCountdownMs <= 0 && link->m_lockCount == 0) {
            *at = link->m_next;
            delete link->m_resource;
            delete link;
        } else {
            at = &link->m_next;
        }
    }
    UnlockList();
}

LONG CResourceList::GetPurgeCount() const
{
    LONG n = 0;
    for (CResourceLink *link = m_purge; link; link = link->m_next)
        ++n;
    return n;
}

void CResourceList::Dump()
{
    S7DebugOutput("List lock count %ld number in list %ld, thread %lX\n", static_cast<long>(m_lockCount),
                  static_cast<long>(m_count), static_cast<unsigned long>(m_owner));
    for (CResourceLink *link = m_first; link; link = link->m_next)
        S7DebugOutput("  Link lock count %ld, thread %lX\n", static_cast<long>(link->m_lockCount),
                      static_cast<unsigned long>(link->m_owner));
}

void CResourceList::LockCheck()
{
    Locked lock(&m_cs);
    DWORD me = GetCurrentThreadId();
    for (CResourceLink *chain : {m_first, m_purge})
        for (CResourceLink *link = chain; link; link = link->m_next)
            if (link->m_lockCount > 0 && link->m_owner == me) {
                S7DebugOutput("**** Lock check LOCK Found ****\n");
                Dump();
                InterlockedExchange(&link->m_lockCount, 0);
            }
    if (m_lockCount > 0 && m_owner == me) {
        S7DebugOutput("**** Lock check List LOCK Found ****\n");
        InterlockedExchange(&m_lockCount, 0);
    }
}
