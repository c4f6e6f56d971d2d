#include "TracewellConnect.h"
#include <deque>
#include "DriverApp.h"
#include "DriverAppHost.h"
#include "PeerGone.h"
#include "ServerMsg.h"
#include "TypeInfoDispatch.h"

namespace {

// The server's string 40023.
const char kTypeInfoFailed[] = "Failed to load type information for interface %s";

class CLock {
public:
    explicit CLock(CRITICAL_SECTION &section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~CLock() { LeaveCriticalSection(&m_section); }
    CLock(const CLock &) = delete;
    CLock &operator=(const CLock &) = delete;

private:
    CRITICAL_SECTION &m_section;
};

} // namespace

// One connection: its frame queue, its events and its sender thread. The
// object and the thread each hold a reference.
struct CTracewellConnect::Session {
    struct Item {
        BSTR frame;
        int direction;
    };
    Session()
    {
        InitializeCriticalSection(&lock);
        stop = CreateEventA(NULL, FALSE, FALSE, NULL);
        data = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    ~Session()
    {
        Drop(*this);
        if (stream) {
            // Never unmarshalled: the stream's hold on the callback goes too.
            LARGE_INTEGER start = {};
            stream->Seek(start, STREAM_SEEK_SET, NULL);
            CoReleaseMarshalData(stream);
            stream->Release();
        }
        for (HANDLE handle : {stop, data, thread})
            if (handle)
                CloseHandle(handle);
        DeleteCriticalSection(&lock);
    }
    bool Stopping() const { return stopping != 0; }
    void RequestStop()
    {
        InterlockedExchange(&stopping, 1);
        SetEvent(stop);
    }

    CRITICAL_SECTION lock;
    std::deque<Item> queue;
    HANDLE stop = NULL, data = NULL, thread = NULL;
    IStream *stream = nullptr;   // the callback, marshalled for the sender thread
    volatile LONG stopping = 0;
    volatile LONG ended = 0;     // the sender thread is done with the tool
};

CTracewellConnect::CTracewellConnect(IDriverAppHost *owner, DWORD stopWaitMs)
    : m_owner(owner), m_stopWaitMs(stopWaitMs)
{
    InitializeCriticalSection(&m_lock);
    LogMessage(SeverityDebug3, "Creating new CTracewellConnect Object (0x%p) at %ld ms\n", static_cast<void *>(this),
               long(GetTickCount()));
}

CTracewellConnect::~CTracewellConnect()
{
    std::shared_ptr<Session> session;
    {
        CLock guard(m_lock);
        session.swap(m_session);
    }
    if (session) {
        session->RequestStop();
        // Waits for the thread; one stuck in the tool keeps the session.
        WaitForSingleObject(session->thread, m_stopWaitMs);
    }
    if (m_typeInfo)
        m_typeInfo->Release();
    DeleteCriticalSection(&m_lock);
}

bool CTracewellConnect::Initialize(ITypeLib *typeLib)
{
    if (!typeLib || FAILED(typeLib->GetTypeInfoOfGuid(IID_ITracewellConnect, &m_typeInfo)) || !m_typeInfo) {
        m_typeInfo = nullptr;
        ServerMessage line;
        line.severity = SeverityFatal;
        char text[128];
        wsprintfA(text, kTypeInfoFailed, "ITracewellConnect");
        line.text = text;
        line.eventLog = TRUE;
        PostServerMessage(line);
        return false;
    }
    return true;
}

bool CTracewellConnect::IsConnected() const
{
    CLock guard(m_lock);
    return m_session && !m_session->ended;
}

void CTracewellConnect::Drop(Session &session)
{
    CLock guard(session.lock);
    for (Session::Item &item : session.queue)
        SysFreeString(item.frame);
    session.queue.clear();
}

void CTracewellConnect::Send(const BYTE *data, WORD length, int direction)
{
    if (!data || length == 0)
        return;
    std::shared_ptr<Session> session;
    {
        CLock guard(m_lock);
        session = m_session;
    }
    if (!session || session->Stopping() || session->ended)
        return;
    BSTR frame = SysAllocStringByteLen(reinterpret_cast<const char *>(data), length);
    if (!frame)
        return;
    {
        CLock guard(session->lock);
        if (session->Stopping()) {
            SysFreeString(frame);
            return;
        }
        session->queue.push_back(Session::Item{frame, direction});
    }
    SetEvent(session->data);
}

DWORD WINAPI CTracewellConnect::SenderThread(void *parameter)
{
    std::unique_ptr<std::shared_ptr<Session>> held(static_cast<std::shared_ptr<Session> *>(parameter));
    Session &session = **held;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    ITracewellSink *sink = nullptr;
    IStream *stream = session.stream;
    session.stream = nullptr;
    if (FAILED(CoGetInterfaceAndReleaseStream(stream, IID_ITracewellSink, reinterpret_cast<void **>(&sink))) ||
        !sink) {
        InterlockedExchange(&session.ended, 1);
        Drop(session);
        CoUninitialize();
        return 1;
    }
    HANDLE events[2] = {session.stop, session.data};
    bool gone = false;
    while (!gone && !session.Stopping() && WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        for (;;) {
            Session::Item item;
            {
                // The tool is called outside the lock: Send on the scan
                // threads never waits for it.
                CLock guard(session.lock);
                if (session.Stopping() || session.queue.empty())
                    break;
                item = session.queue.front();
                session.queue.pop_front();
            }
            HRESULT hr = item.direction == 1 ? sink->FrameSent(item.frame) : sink->FrameReceived(item.frame);
            SysFreeString(item.frame);
            if (IsPeerGone(hr)) {
                // Nobody will disconnect it: the next tool may connect.
                gone = true;
                break;
            }
        }
    }
    InterlockedExchange(&session.ended, 1);
    sink->Release();
    Drop(session);
    CoUninitialize();
    return 0;
}

STDMETHODIMP CTracewellConnect::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    return m_owner ? m_owner->ModuleQueryInterface(iid, out) : E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CTracewellConnect::AddRef() { return m_owner ? m_owner->ModuleAddRef() : 1; }

STDMETHODIMP_(ULONG) CTracewellConnect::Release() { return m_owner ? m_owner->ModuleRelease() : 1; }

STDMETHODIMP CTracewellConnect::GetTypeInfoCount(UINT *count) { return TypeInfoDispatch::Count(count); }

STDMETHODIMP CTracewellConnect::GetTypeInfo(UINT index, LCID, ITypeInfo **info)
{
    return TypeInfoDispatch::Info(m_typeInfo, index, info);
}

STDMETHODIMP CTracewellConnect::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids)
{
    return TypeInfoDispatch::Ids(m_typeInfo, iid, names, count, ids);
}

STDMETHODIMP CTracewellConnect::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                       EXCEPINFO *exception, UINT *argError)
{
    return TypeInfoDispatch::Call(static_cast<ITracewellConnect *>(this), m_typeInfo, id, iid, flags, params, result,
                                  exception, argError);
}

STDMETHODIMP CTracewellConnect::Connect(IUnknown *sink, LONG, LONG *cookie)
{
    if (!sink || !cookie)
        return SetDriverErrorInfo(E_INVALIDARG);
    {
        // Connected (or connecting) from here: a second Connect, even one
        // that comes in while this one waits for the tool, is refused.
        CLock guard(m_lock);
        if (m_connecting || (m_session && !m_session->ended))
            return SetDriverErrorInfo(E_UNEXPECTED);
        m_connecting = true;
    }
    HRESULT hr = StartSession(sink);
    {
        CLock guard(m_lock);
        m_connecting = false;
    }
    if (FAILED(hr))
        return SetDriverErrorInfo(hr);
    *cookie = 0;
    return S_OK;
}

HRESULT CTracewellConnect::StartSession(IUnknown *sink)
{
    // The calls to the tool run outside the lock: Send keeps going meanwhile.
    // The reference QueryInterface adds is given up once the stream holds
    // its own; the caller's pointer stays the caller's.
    ITracewellSink *typed = nullptr;
    if (FAILED(sink->QueryInterface(IID_ITracewellSink, reinterpret_cast<void **>(&typed))) || !typed)
        return E_FAIL;
    auto session = std::make_shared<Session>();
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_ITracewellSink, typed, &session->stream);
    typed->Release();
    if (FAILED(hr) || !session->stream || !session->stop || !session->data)
        return E_FAIL;
    auto *threadReference = new std::shared_ptr<Session>(session);
    session->thread = CreateThread(NULL, 0, SenderThread, threadReference, 0, NULL);
    if (!session->thread) {
        delete threadReference;
        return E_FAIL;
    }
    CLock guard(m_lock);
    m_session = session;
    return S_OK;
}

STDMETHODIMP CTracewellConnect::Disconnect(LONG cookie)
{
    std::shared_ptr<Session> session;
    {
        CLock guard(m_lock);
        if (cookie != 0 || !m_session || m_session->ended)
            return SetDriverErrorInfo(E_UNEXPECTED);
        session.swap(m_session);
    }
    // The thread frees what is still queued without calling the tool.
    session->RequestStop();
    return S_OK;
}
