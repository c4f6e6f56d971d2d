#include "Subscription.h"
#include "Guarded.h"
#include <process.h>
#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <vector>
#include "ConnectionPoint.h"
#include "EventSpace.h"
#include "OpcKit.h"
#include "TearOff.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvEventSubscription, CObject)

namespace aleron {

// One forwarded record.
struct CEventObj {
    std::wstring message;
    std::wstring source;
    DWORD eventCode;
    FILETIME time;   // when it was queued
};

struct SubscriptionCore {
    CRITICAL_SECTION lock;   // everything below
    bool running = true;     // cleared when the subscription goes
    bool gate = false;       // a client's sink is advised: records queue and flow
    BOOL active = FALSE;
    DWORD bufferTime = 0;
    DWORD maxSize = 0;       // events per OnEvent; 0: no limit
    OPCHANDLE clientHandle = 0;
    DWORD eventType = OPC_ALL_EVENTS;
    std::vector<DWORD> categories;
    std::vector<std::wstring> areas, sources;
    bool refresh = false;
    std::deque<CEventObj> queue;
    HANDLE notify = nullptr;     // auto-reset: records or a refresh wait
    HANDLE shutdown = nullptr;   // set by the event thread as it ends
    CImpIConnectionPoint *point = nullptr;   // the IOPCEventSink point, AddRef'd

    SubscriptionCore() { InitializeCriticalSection(&lock); }
    ~SubscriptionCore()
    {
        if (point)
            point->Release();
        if (notify)
            CloseHandle(notify);
        if (shutdown)
            CloseHandle(shutdown);
        DeleteCriticalSection(&lock);
    }

    // A record from the I/O server: queued only while the subscription is
    // active and a client's sink is connected. No filter applies.
    void Message(BSTR text, LONG eventCode, BSTR source)
    {
        EnterCriticalSection(&lock);
        try {
            if (running && gate && active) {
                CEventObj record{text, source ? source : L"", DWORD(eventCode), {}};
                CoFileTimeNow(&record.time);
                queue.push_back(std::move(record));
                SetEvent(notify);
            }
        } catch (...) {
        }
        LeaveCriticalSection(&lock);
    }
};

namespace {

// What the I/O server's worker calls; it only reaches the shared core, so a
// call after the subscription has gone does nothing.
class CAlarmSink final : public IAlarmMessageSink {
public:
    explicit CAlarmSink(std::shared_ptr<SubscriptionCore> core) : m_core(std::move(core)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IAlarmMessageSink))
            return E_NOINTERFACE;
        *out = static_cast<IAlarmMessageSink *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG count = InterlockedDecrement(&m_refs);
        if (count == 0)
            delete this;
        return ULONG(count);
    }
    STDMETHODIMP OnMessage(BSTR text, LONG eventCode, BSTR source) override { return Take(text, eventCode, source); }
    STDMETHODIMP OnMessage2(BSTR text, LONG eventCode, BSTR source) override
    {
        return Take(text, eventCode, source);
    }

private:
    HRESULT Take(BSTR text, LONG eventCode, BSTR source)
    {
        if (!text)
            return E_INVALIDARG;
        m_core->Message(text, eventCode, source);
        return S_OK;
    }
    volatile LONG m_refs = 0;
    std::shared_ptr<SubscriptionCore> m_core;
};

void LogError(const char *format, HRESULT hr)
{
    char text[256];
    snprintf(text, sizeof text, format, unsigned(hr));
    ReportError(text);
}

// The records as the client receives them; a record whose code is not in
// the event space is left out (no empty slots). The strings stay the
// records' and the tables' own for the call.
std::vector<ONEVENTSTRUCT> MakeEvents(std::vector<CEventObj> &records)
{
    static wchar_t noActor[] = L"";
    std::vector<ONEVENTSTRUCT> events;
    events.reserve(records.size());
    for (CEventObj &record : records) {
        DWORD category = 0;
        const wchar_t *condition = nullptr, *subCondition = nullptr;
        if (!DescribeEventCode(record.eventCode, &category, &condition, &subCondition))
            continue;
        ONEVENTSTRUCT e = {};
        e.szSource = &record.source[0];
        e.ftTime = record.time;
        e.szMessage = &record.message[0];
        e.dwEventType = OPC_SIMPLE_EVENT;
        e.dwEventCategory = category;
        e.szConditionName = const_cast<LPWSTR>(condition);
        e.szSubconditionName = const_cast<LPWSTR>(subCondition);
        e.szActorID = noActor;
        events.push_back(e);
    }
    return events;
}

// OnEvent in batches of at most maxSize (0: one batch), in order; an
// exception in one call does not stop the next.
void Deliver(IOPCEventSink *sink, OPCHANDLE clientHandle, DWORD maxSize, std::vector<ONEVENTSTRUCT> &events)
{
    for (size_t at = 0; at < events.size();) {
        size_t left = events.size() - at;
        size_t n = maxSize == 0 || maxSize >= left ? left : maxSize;
        try {
            sink->OnEvent(clientHandle, FALSE, FALSE, DWORD(n), &events[at]);
        } catch (...) {
        }
        at += n;
    }
}

unsigned RunEventThread(SubscriptionCore &core)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        ReportError("Fatal Error. Unable to initialize COM for OPC event server thread");
        SetEvent(core.shutdown);
        return 1;
    }
    for (;;) {
        WaitForSingleObject(core.notify, INFINITE);
        std::vector<CEventObj> batch;
        CImpIConnectionPoint *point = nullptr;
        EnterCriticalSection(&core.lock);
        if (!core.running) {
            LeaveCriticalSection(&core.lock);
            break;
        }
        OPCHANDLE clientHandle = core.clientHandle;
        DWORD maxSize = core.maxSize;
        try {
            if (!core.gate) {
                core.queue.clear();
            } else if (!core.queue.empty()) {
                batch.assign(std::make_move_iterator(core.queue.begin()), std::make_move_iterator(core.queue.end()));
                core.queue.clear();
                point = core.point;
                if (point)
                    point->AddRef();
            } else if (core.refresh) {
                core.refresh = false;   // a refresh has nothing to deliver
            }
        } catch (...) {
        }
        LeaveCriticalSection(&core.lock);

        // The client is called outside the lock: it may call the
        // subscription from OnEvent.
        if (point) {
            if (IUnknown *sink = point->AcquireSink()) {
                try {
                    std::vector<ONEVENTSTRUCT> events = MakeEvents(batch);
                    Deliver(static_cast<IOPCEventSink *>(sink), clientHandle, maxSize, events);
                } catch (...) {
                }
                sink->Release();
            }
            point->Release();
        }

        EnterCriticalSection(&core.lock);
        if (core.running && (core.refresh || !core.queue.empty()))
            SetEvent(core.notify);
        LeaveCriticalSection(&core.lock);
    }
    CoUninitialize();
    SetEvent(core.shutdown);
    return 0;
}

// HandleCallbacks: the thread shares the core and holds the library, so
// it may outlive its subscription (a client still in OnEvent).
unsigned __stdcall HandleCallbacks(void *arg)
{
    auto *shared = static_cast<std::shared_ptr<SubscriptionCore> *>(arg);
    std::shared_ptr<SubscriptionCore> core = std::move(*shared);
    delete shared;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HandleCallbacks), &self);
    unsigned code = RunEventThread(*core);
    core.reset();
    if (self)
        FreeLibraryAndExitThread(self, code);
    return code;
}

// Copies of stored texts in task memory (null for none).
HRESULT CopyTexts(const std::vector<std::wstring> &texts, LPWSTR **out)
{
    *out = nullptr;
    if (texts.empty())
        return S_OK;
    auto *array = static_cast<LPWSTR *>(CoTaskMemAlloc(texts.size() * sizeof(LPWSTR)));
    if (!array)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < texts.size(); ++i) {
        array[i] = AllocWideCopy(texts[i].c_str(), g_pIMalloc);
        if (!array[i]) {
            for (size_t j = 0; j < i; ++j)
                CoTaskMemFree(array[j]);
            CoTaskMemFree(array);
            return E_OUTOFMEMORY;
        }
    }
    *out = array;
    return S_OK;
}

HRESULT TakeTexts(DWORD count, LPWSTR *texts, std::vector<std::wstring> *out)
{
    if (count && !texts)
        return E_INVALIDARG;
    std::vector<std::wstring> list;
    for (DWORD i = 0; i < count; ++i) {
        if (!texts[i])
            return E_INVALIDARG;
        list.push_back(texts[i]);
    }
    out->swap(list);
    return S_OK;
}

// The core's lock for one scope.
class CoreLock {
public:
    explicit CoreLock(SubscriptionCore &core) : m_core(core) { EnterCriticalSection(&m_core.lock); }
    ~CoreLock() { LeaveCriticalSection(&m_core.lock); }
    CoreLock(const CoreLock &) = delete;
    CoreLock &operator=(const CoreLock &) = delete;

private:
    SubscriptionCore &m_core;
};

} // namespace
} // namespace aleron

using namespace aleron;

class COPCDrvEventSubscription::CImpIOPCEventSubscriptionMgt final : public CTearOff<IOPCEventSubscriptionMgt> {
public:
    explicit CImpIOPCEventSubscriptionMgt(COPCDrvEventSubscription *owner)
        : CTearOff<IOPCEventSubscriptionMgt>(static_cast<IUnknown *>(owner)), m_owner(owner)
    {
    }

    STDMETHODIMP SetFilter(DWORD eventType, DWORD categoryCount, DWORD *categories, DWORD, DWORD, DWORD areaCount,
                           LPWSTR *areas, DWORD sourceCount, LPWSTR *sources) override
    {
        return Guarded([&]() -> HRESULT {
            SubscriptionCore &core = Core();
            CoreLock lock(core);
            if (core.refresh)
                return OPC_E_BUSY;
            if (categoryCount && !categories)
                return E_INVALIDARG;
            std::vector<std::wstring> areaList, sourceList;
            HRESULT hr = TakeTexts(areaCount, areas, &areaList);
            if (SUCCEEDED(hr))
                hr = TakeTexts(sourceCount, sources, &sourceList);
            if (FAILED(hr))
                return hr;
            // Kept as set; it selects nothing.
            core.eventType = eventType;
            core.categories.assign(categories, categories + categoryCount);
            core.areas.swap(areaList);
            core.sources.swap(sourceList);
            return S_OK;
        });
    }
    STDMETHODIMP GetFilter(DWORD *eventType, DWORD *categoryCount, DWORD **categories, DWORD *lowSeverity,
                           DWORD *highSeverity, DWORD *areaCount, LPWSTR **areas, DWORD *sourceCount,
                           LPWSTR **sources) override
    {
        if (!eventType || !categoryCount || !categories || !lowSeverity || !highSeverity || !areaCount || !areas ||
            !sourceCount || !sources)
            return E_INVALIDARG;
        *eventType = *categoryCount = *lowSeverity = *highSeverity = *areaCount = *sourceCount = 0;
        *categories = nullptr;
        *areas = *sources = nullptr;
        return Guarded([&]() -> HRESULT {
            SubscriptionCore &core = Core();
            CoreLock lock(core);
            DWORD *codes = nullptr;
            if (!core.categories.empty()) {
                codes = static_cast<DWORD *>(CoTaskMemAlloc(core.categories.size() * sizeof(DWORD)));
                if (!codes)
                    return E_OUTOFMEMORY;
                memcpy(codes, core.categories.data(), core.categories.size() * sizeof(DWORD));
            }
            LPWSTR *areaCopies = nullptr, *sourceCopies = nullptr;
            HRESULT hr = CopyTexts(core.areas, &areaCopies);
            if (SUCCEEDED(hr))
                hr = CopyTexts(core.sources, &sourceCopies);
            if (FAILED(hr)) {
                CoTaskMemFree(codes);
                for (size_t i = 0; areaCopies && i < core.areas.size(); ++i)
                    CoTaskMemFree(areaCopies[i]);
                CoTaskMemFree(areaCopies);
                return hr;
            }
            *eventType = core.eventType;
            *categoryCount = DWORD(core.categories.size());
            *categories = codes;
            *lowSeverity = 0;
            *highSeverity = 1000;
            *areaCount = DWORD(core.areas.size());
            *areas = areaCopies;
            *sourceCount = DWORD(core.sources.size());
            *sources = sourceCopies;
            return S_OK;
        });
    }
    STDMETHODIMP SelectReturnedAttributes(DWORD, DWORD, DWORD *attributeIds) override
    {
        return attributeIds ? E_NOTIMPL : E_INVALIDARG;
    }
    STDMETHODIMP GetReturnedAttributes(DWORD, DWORD *count, DWORD **attributeIds) override
    {
        if (count)
            *count = 0;
        if (attributeIds)
            *attributeIds = nullptr;
        return count && attributeIds ? E_NOTIMPL : E_INVALIDARG;
    }
    STDMETHODIMP Refresh(DWORD connection) override
    {
        return Guarded([&]() -> HRESULT {
            if (!m_owner->IsClientConnection(connection))
                return E_FAIL;
            SubscriptionCore &core = Core();
            CoreLock lock(core);
            if (core.refresh)
                return OPC_E_BUSY;
            core.refresh = true;
            SetEvent(core.notify);
            return S_OK;
        });
    }
    STDMETHODIMP CancelRefresh(DWORD connection) override
    {
        return Guarded([&]() -> HRESULT {
            if (!m_owner->IsClientConnection(connection))
                return E_FAIL;
            SubscriptionCore &core = Core();
            CoreLock lock(core);
            if (!core.refresh)
                return E_FAIL;
            core.refresh = false;
            return S_OK;
        });
    }
    STDMETHODIMP GetState(BOOL *active, DWORD *bufferTime, DWORD *maxSize, OPCHANDLE *clientHandle) override
    {
        if (!active || !bufferTime || !maxSize || !clientHandle)
            return E_INVALIDARG;
        SubscriptionCore &core = Core();
        CoreLock lock(core);
        *active = core.active;
        *bufferTime = core.bufferTime;
        *maxSize = core.maxSize;
        *clientHandle = core.clientHandle;
        return S_OK;
    }
    STDMETHODIMP SetState(BOOL *active, DWORD *bufferTime, DWORD *maxSize, OPCHANDLE clientHandle,
                          DWORD *revisedBufferTime, DWORD *revisedMaxSize) override
    {
        if (revisedBufferTime)
            *revisedBufferTime = 0;
        if (revisedMaxSize)
            *revisedMaxSize = 0;
        if (!revisedBufferTime || !revisedMaxSize)
            return E_INVALIDARG;
        SubscriptionCore &core = Core();
        CoreLock lock(core);
        if (active)
            core.active = *active ? TRUE : FALSE;
        if (bufferTime)
            *revisedBufferTime = core.bufferTime = *bufferTime;
        if (maxSize)
            *revisedMaxSize = core.maxSize = *maxSize;
        core.clientHandle = clientHandle;
        return S_OK;
    }

private:
    SubscriptionCore &Core() { return *m_owner->m_core; }
    COPCDrvEventSubscription *m_owner;
};

COPCDrvEventSubscription::COPCDrvEventSubscription(IUnknown *server, IConnectSink *connectSink)
    : m_server(server), m_connectSink(connectSink), m_core(new (std::nothrow) SubscriptionCore)
{
    InitializeCriticalSection(&m_connectLock);
    InitializeCriticalSection(&m_partsLock);
    if (m_server)
        m_server->AddRef();
    if (m_connectSink)
        m_connectSink->AddRef();
}

COPCDrvEventSubscription::~COPCDrvEventSubscription()
{
    // A client still holding the point no longer reaches this object.
    if (m_point)
        m_point->DetachOwner();
    // The I/O server stops calling before anything goes.
    if (m_cookie)
        DisconnectAlarmSink();
    if (m_core) {
        EnterCriticalSection(&m_core->lock);
        m_core->running = false;
        m_core->gate = false;
        m_core->queue.clear();
        LeaveCriticalSection(&m_core->lock);
        if (m_core->notify)
            SetEvent(m_core->notify);
    }
    if (m_thread) {
        // The thread ends at its next wake-up, which was just given. A
        // release from the client's OnEvent runs on the thread itself, and
        // a thread held in a client's call past the wait is left to end
        // by itself: it owns the core it uses.
        if (GetCurrentThreadId() != m_threadId)
            WaitForSingleObject(m_core->shutdown, 10000);
        CloseHandle(m_thread);
    }
    delete m_container;
    if (m_point)
        m_point->Release();
    delete m_mgt;
    if (m_alarmSink)
        m_alarmSink->Release();
    if (m_connectSink)
        m_connectSink->Release();
    if (m_server)
        m_server->Release();
    DeleteCriticalSection(&m_partsLock);
    DeleteCriticalSection(&m_connectLock);
}

HRESULT COPCDrvEventSubscription::Start()
{
    if (m_core)
        m_alarmSink = new (std::nothrow) CAlarmSink(m_core);
    if (!m_alarmSink) {
        ReportError("Unable to create callback sink");
        return E_OUTOFMEMORY;
    }
    m_alarmSink->AddRef();
    m_core->shutdown = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_core->shutdown) {
        ReportError("Unable to create event thread shutdown event");
        return E_FAIL;
    }
    m_core->notify = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_core->notify) {
        ReportError("Unable to create event thread notification event");
        return E_FAIL;
    }
    // The thread waits for records from the start; nothing queues before a
    // client's sink is advised.
    auto *arg = new (std::nothrow) std::shared_ptr<SubscriptionCore>(m_core);
    if (arg)
        m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, HandleCallbacks, arg, 0, &m_threadId));
    if (!m_thread) {
        delete arg;
        ReportError("Unable to create event thread");
        return E_FAIL;
    }
    return S_OK;
}

void COPCDrvEventSubscription::SetInitialState(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle)
{
    CoreLock lock(*m_core);
    m_core->active = active ? TRUE : FALSE;
    m_core->bufferTime = bufferTime;
    m_core->maxSize = maxSize;
    m_core->clientHandle = clientHandle;
}

IAlarmMessageSink *COPCDrvEventSubscription::AlarmSink() const { return m_alarmSink; }

STDMETHODIMP COPCDrvEventSubscription::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    try {
        IUnknown *found = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            found = static_cast<IUnknown *>(this);
        } else if (IsEqualIID(iid, IID_IOPCEventSubscriptionMgt)) {
            EnterCriticalSection(&m_partsLock);
            if (!m_mgt)
                m_mgt = new (std::nothrow) CImpIOPCEventSubscriptionMgt(this);
            found = m_mgt;
            LeaveCriticalSection(&m_partsLock);
        } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
            found = ContainerPart();
        } else {
            return E_NOINTERFACE;
        }
        if (!found)
            return E_OUTOFMEMORY;
        found->AddRef();
        *out = found;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP_(ULONG) COPCDrvEventSubscription::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) COPCDrvEventSubscription::Release()
{
    LONG count = InterlockedDecrement(&m_refs);
    if (count == 0)
        delete this;
    return ULONG(count);
}

IUnknown *COPCDrvEventSubscription::ContainerPart()
{
    EnterCriticalSection(&m_partsLock);
    if (!m_point && m_core) {
        m_point = new (std::nothrow) CImpIConnectionPoint(static_cast<IUnknown *>(this), IID_IOPCEventSink,
                                                          &COPCDrvEventSubscription::PointCallback);
        if (m_point) {
            m_point->AddRef();
            m_point->AddRef();   // the event thread's, through the core
            CoreLock lock(*m_core);
            m_core->point = m_point;
        }
    }
    if (m_point && !m_container) {
        CImpIConnectionPoint *points[1] = {m_point};
        m_container = new (std::nothrow) CImpIConnectionPointContainer(static_cast<IUnknown *>(this), points, 1);
    }
    IUnknown *part = m_container;
    LeaveCriticalSection(&m_partsLock);
    return part;
}

bool COPCDrvEventSubscription::IsClientConnection(DWORD cookie)
{
    EnterCriticalSection(&m_partsLock);
    CImpIConnectionPoint *point = m_point;
    if (point)
        point->AddRef();
    LeaveCriticalSection(&m_partsLock);
    if (!point)
        return false;
    bool ours = point->Cookie() == cookie && point->IsConnected();
    point->Release();
    return ours;
}

HRESULT COPCDrvEventSubscription::PointCallback(IUnknown *owner, BOOL connect)
{
    auto *self = static_cast<COPCDrvEventSubscription *>(owner);
    return connect ? self->ConnectAlarmSink() : self->DisconnectAlarmSink();
}

HRESULT COPCDrvEventSubscription::ConnectAlarmSink()
{
    EnterCriticalSection(&m_connectLock);
    HRESULT hr = S_OK;
    // Held already when a client's sink was refused after the connection.
    if (!m_cookie) {
        LONG cookie = 0;
        hr = m_connectSink && m_alarmSink ? m_connectSink->Connect(IID_IAlarmMessageSink, m_alarmSink, 1, &cookie)
                                          : E_FAIL;
        if (SUCCEEDED(hr))
            m_cookie = cookie;
        else
            LogError("Unable to connect alarm sink to I/O server (0x%08X)", hr);
    }
    if (SUCCEEDED(hr)) {
        CoreLock lock(*m_core);
        m_core->gate = true;
    }
    LeaveCriticalSection(&m_connectLock);
    return hr;
}

HRESULT COPCDrvEventSubscription::DisconnectAlarmSink()
{
    EnterCriticalSection(&m_connectLock);
    if (m_core) {
        CoreLock lock(*m_core);
        m_core->gate = false;
        m_core->queue.clear();
    }
    LONG cookie = m_cookie;
    m_cookie = 0;
    HRESULT hr = CONNECT_E_NOCONNECTION;
    // Not under the core's lock: the server's stop waits for its worker,
    // which may be queueing a record here.
    if (cookie && m_connectSink) {
        hr = m_connectSink->Disconnect(cookie);
        if (FAILED(hr))
            LogError("Unable to disconnect alarm sink from I/O server (0x%08X)", hr);
    }
    LeaveCriticalSection(&m_connectLock);
    return hr;
}
