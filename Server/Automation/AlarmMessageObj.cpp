#include "AlarmMessageObj.h"
#include "ConfigObject.h"
#include <deque>
#include <new>
#include <process.h>

QOR_IMPLEMENT_DYNAMIC(CAlarmMessageObj, CObject)

// What the worker shares with its connection. The worker holds its own
// reference, so a worker that is still inside a client call when the stop
// gives up on it finds its queue and events alive when the call returns.
struct CAlarmMessageObj::Shared {
    struct Item {
        std::string text, source;
        DWORD eventCode, eventParameter;
    };

    CRITICAL_SECTION lock;
    std::deque<Item> queue;
    HANDLE messageEvent = nullptr;   // auto-reset: new items, or the stop
    HANDLE endedEvent = nullptr;     // auto-reset: the worker has ended
    IStream *stream = nullptr;       // the callback marshalled for the worker
    volatile LONG connected = 0;

    Shared()
    {
        InitializeCriticalSection(&lock);
        messageEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        endedEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Shared()
    {
        if (stream) {
            // Never unmarshalled (the worker did not start or failed first).
            CoReleaseMarshalData(stream);
            stream->Release();
        }
        if (messageEvent)
            CloseHandle(messageEvent);
        if (endedEvent)
            CloseHandle(endedEvent);
        DeleteCriticalSection(&lock);
    }
    bool IsConnected() const { return InterlockedCompareExchange(const_cast<volatile LONG *>(&connected), 0, 0) != 0; }
    // The head of the queue, under the lock; false when empty.
    bool Take(Item &item)
    {
        EnterCriticalSection(&lock);
        bool any = !queue.empty();
        if (any) {
            item = std::move(queue.front());
            queue.pop_front();
        }
        LeaveCriticalSection(&lock);
        return any;
    }
};

namespace {

struct WorkerStart {
    std::shared_ptr<CAlarmMessageObj::Shared> shared;
};

void Deliver(IAlarmMessageSink *sink, const CAlarmMessageObj::Shared::Item &item)
{
    BSTR text = SysAllocString(ConfigValue::Widen(item.text).c_str());
    BSTR source = SysAllocString(ConfigValue::Widen(item.source).c_str());
    // The client's result is of no interest; its failure must not end the
    // connection.
    if (item.eventParameter != 0)
        sink->OnMessage(text, LONG(item.eventCode), source);
    else
        sink->OnMessage2(text, LONG(item.eventCode), source);
    SysFreeString(text);
    SysFreeString(source);
}

unsigned __stdcall WorkerThread(void *argument)
{
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart *>(argument));
    std::shared_ptr<CAlarmMessageObj::Shared> shared = std::move(start->shared);
    start.reset();

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        SetEvent(shared->endedEvent);
        return unsigned(-1);
    }
    IAlarmMessageSink *sink = nullptr;
    IStream *stream = shared->stream;
    shared->stream = nullptr;   // the call below releases it, success or not
    if (FAILED(CoGetInterfaceAndReleaseStream(stream, IID_IAlarmMessageSink, reinterpret_cast<void **>(&sink))) ||
        !sink) {
        CoUninitialize();
        SetEvent(shared->endedEvent);
        return unsigned(-2);
    }
    while (shared->IsConnected()) {
        WaitForSingleObject(shared->messageEvent, INFINITE);
        CAlarmMessageObj::Shared::Item item;
        while (shared->IsConnected() && shared->Take(item)) {
            try {
                Deliver(sink, item);
            } catch (...) {
            }
        }
    }
    sink->Release();
    CoUninitialize();
    SetEvent(shared->endedEvent);
    return 0;
}

} // namespace

CAlarmMessageObj::CAlarmMessageObj() : m_shared(new (std::nothrow) Shared) {}

CAlarmMessageObj::~CAlarmMessageObj() { Stop(); }

bool CAlarmMessageObj::Created() const { return m_shared && m_shared->messageEvent && m_shared->endedEvent; }

bool CAlarmMessageObj::IsConnected() const { return m_shared && m_shared->IsConnected(); }

HRESULT CAlarmMessageObj::Connect(IUnknown *callback, LONG value)
{
    if (!Created())
        return E_OUTOFMEMORY;
    if (IsConnected())
        return HRESULT(0x80040201);
    if (value == 0)
        return E_INVALIDARG;
    m_value = value;
    if (!callback)
        return E_POINTER;

    IAlarmMessageSink *sink = nullptr;
    HRESULT hr = callback->QueryInterface(IID_IAlarmMessageSink, reinterpret_cast<void **>(&sink));
    if (FAILED(hr) || !sink)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = CoMarshalInterThreadInterfaceInStream(IID_IAlarmMessageSink, sink, &m_shared->stream);
    if (FAILED(hr)) {
        m_shared->stream = nullptr;
        sink->Release();
        return hr;
    }
    // Connected before the worker starts: the worker loops only while the
    // connection is connected.
    InterlockedExchange(&m_shared->connected, 1);
    WorkerStart *start = new (std::nothrow) WorkerStart{m_shared};
    unsigned id = 0;
    HANDLE thread = start ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerThread, start, 0, &id)) : nullptr;
    if (!thread) {
        delete start;
        InterlockedExchange(&m_shared->connected, 0);
        CoReleaseMarshalData(m_shared->stream);
        m_shared->stream->Release();
        m_shared->stream = nullptr;
        sink->Release();
        return E_FAIL;
    }
    m_thread = thread;
    m_callback = sink;
    return S_OK;
}

void CAlarmMessageObj::Stop()
{
    if (!IsConnected())
        return;
    InterlockedExchange(&m_shared->connected, 0);
    SetEvent(m_shared->messageEvent);
    // The worker may be inside a client call that does not come back. It
    // is not terminated (that could leave the locks it holds owned): it
    // keeps its own reference to the shared state and ends on its own
    // when the call returns.
    HANDLE waits[2] = {m_shared->endedEvent, m_thread};
    WaitForMultipleObjects(2, waits, FALSE, StopWaitMs);
    CloseHandle(m_thread);
    m_thread = nullptr;
    if (m_callback)
        m_callback->Release();
    m_callback = nullptr;
    EnterCriticalSection(&m_shared->lock);
    m_shared->queue.clear();
    LeaveCriticalSection(&m_shared->lock);
    // A new connection of this object gets state of its own.
    m_shared.reset(new (std::nothrow) Shared);
}

bool CAlarmMessageObj::Post(const std::string &text, const std::string &source, DWORD eventCode,
                            DWORD eventParameter)
{
    if (!m_shared)
        return false;
    bool added = true;
    EnterCriticalSection(&m_shared->lock);
    try {
        m_shared->queue.push_back(Shared::Item{text, source, eventCode, eventParameter});
    } catch (...) {
        added = false;
    }
    LeaveCriticalSection(&m_shared->lock);
    if (added)
        SetEvent(m_shared->messageEvent);
    return added;
}

HRESULT CAlarmMessageObj::SetValue(LONG value)
{
    if (value == 0)
        return E_INVALIDARG;
    m_value = value;
    return S_OK;
}
