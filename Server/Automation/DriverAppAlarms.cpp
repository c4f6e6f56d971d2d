// The automation object's Alarm & Event connections (IConnectSink): the
// list of connections and the broadcast of forwarded log records to them.
#include "DriverAppAlarms.h"
#include "AlarmMessageObj.h"
#include "DriverAppGuard.h"
#include "ServerMsg.h"
#include <algorithm>
#include <new>

namespace {
const HRESULT kNoConnection = HRESULT(0x80040200);
}

CDriverApp::CConnectSinkPart::CConnectSinkPart(CDriverApp *owner) : m_owner(owner)
{
    InitializeCriticalSection(&m_lock);
    if (CServerMsg *log = GetServerMsg())
        log->AddEventSink(this);
}

CDriverApp::CConnectSinkPart::~CConnectSinkPart()
{
    if (CServerMsg *log = GetServerMsg())
        log->RemoveEventSink(this);
    // The server's end stops every connection still open.
    for (;;) {
        EnterCriticalSection(&m_lock);
        CAlarmMessageObj *connection = m_connections.empty() ? nullptr : m_connections.front();
        LeaveCriticalSection(&m_lock);
        if (!connection)
            break;
        StopAndDelete(connection);
    }
    DeleteCriticalSection(&m_lock);
}

HRESULT CDriverApp::CConnectSinkPart::QueryInterface(REFIID iid, void **out)
{
    return m_owner->QueryInterface(iid, out);
}
ULONG CDriverApp::CConnectSinkPart::AddRef() { return m_owner->AddRef(); }
ULONG CDriverApp::CConnectSinkPart::Release() { return m_owner->Release(); }

CAlarmMessageObj *CDriverApp::CConnectSinkPart::Find(LONG connection) const
{
    return LiveObjectAs<CAlarmMessageObj>(uint32_t(connection));
}

void CDriverApp::CConnectSinkPart::StopAndDelete(CAlarmMessageObj *connection)
{
    EnterCriticalSection(&m_lock);
    m_connections.erase(std::remove(m_connections.begin(), m_connections.end(), connection), m_connections.end());
    LeaveCriticalSection(&m_lock);
    // Waits for the worker: never under the list lock, which the posting
    // threads take.
    connection->Stop();
    delete connection;
}

STDMETHODIMP CDriverApp::CConnectSinkPart::Connect(REFIID callbackIid, IUnknown *callback, LONG value,
                                                   LONG *connection)
{
    return Guarded("IConnectSink::Connect", [&]() -> HRESULT {
        if (connection)
            *connection = 0;
        if (!callback || !connection)
            return E_POINTER;
        if (!IsEqualIID(callbackIid, IID_IAlarmMessageSink))
            return kNoConnection;
        std::unique_ptr<CAlarmMessageObj> made(new (std::nothrow) CAlarmMessageObj);
        if (!made || !made->Created())
            return E_OUTOFMEMORY;
        HRESULT hr = made->Connect(callback, value);
        if (FAILED(hr))
            return hr;
        CAlarmMessageObj *added = made.get();
        EnterCriticalSection(&m_lock);
        try {
            m_connections.push_back(added);
            made.release();
        } catch (...) {
        }
        LeaveCriticalSection(&m_lock);
        if (made)
            return E_OUTOFMEMORY;   // made's destructor stops it
        *connection = added->ClientHandle();
        LogMessage(SeverityDebug1, "Alarm & Event server component connected");
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::CConnectSinkPart::Disconnect(LONG connection)
{
    return Guarded("IConnectSink::Disconnect", [&]() -> HRESULT {
        CAlarmMessageObj *found = Find(connection);
        if (!found || !found->IsConnected())
            return kNoConnection;
        StopAndDelete(found);
        LogMessage(SeverityDebug1, "Alarm & Event server component disconnected");
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::CConnectSinkPart::put_Value(LONG connection, LONG value)
{
    return Guarded("IConnectSink::put_Value", [&]() -> HRESULT {
        CAlarmMessageObj *found = Find(connection);
        if (!found)
            return kNoConnection;
        return found->SetValue(value);
    });
}

STDMETHODIMP CDriverApp::CConnectSinkPart::get_Value(LONG connection, LONG *value)
{
    return Guarded("IConnectSink::get_Value", [&]() -> HRESULT {
        if (!value)
            return E_POINTER;
        CAlarmMessageObj *found = Find(connection);
        if (!found)
            return kNoConnection;
        *value = found->Value();
        return S_OK;
    });
}

void CDriverApp::CConnectSinkPart::Broadcast(const std::string &text, const std::string &source, DWORD eventCode,
                                             DWORD eventParameter)
{
    EnterCriticalSection(&m_lock);
    for (CAlarmMessageObj *connection : m_connections)
        connection->Post(text, source, eventCode, eventParameter);
    LeaveCriticalSection(&m_lock);
}

size_t CDriverApp::CConnectSinkPart::ConnectionCount() const
{
    EnterCriticalSection(&m_lock);
    size_t n = m_connections.size();
    LeaveCriticalSection(&m_lock);
    return n;
}
