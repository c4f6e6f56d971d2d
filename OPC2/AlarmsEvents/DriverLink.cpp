#include "DriverLink.h"
#include "EventLog.h"

namespace aleron {

CDriverLink::CDriverLink() { InitializeCriticalSection(&m_lock); }

CDriverLink::~CDriverLink()
{
    // At unload the pointers' apartment may be gone: they are not released.
    DeleteCriticalSection(&m_lock);
}

void CDriverLink::Hold(CEventLog *eventLog)
{
    EnterCriticalSection(&m_lock);
    ++m_holders;
    if (!m_driver) {
        HRESULT hr = CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                      reinterpret_cast<void **>(&m_driver));
        if (SUCCEEDED(hr) && m_driver)
            hr = m_driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&m_connectSink));
        if (FAILED(hr)) {
            if (m_driver)
                m_driver->Release();
            m_driver = nullptr;
            m_connectSink = nullptr;
            ReportEventStrings(eventLog, kNoDriverEventId, EVENTLOG_ERROR_TYPE, 0, nullptr,
                               "Unable to connection to Hadrel", nullptr);
        }
    }
    LeaveCriticalSection(&m_lock);
}

void CDriverLink::Unhold()
{
    IQORDriver *driver = nullptr;
    IConnectSink *connectSink = nullptr;
    EnterCriticalSection(&m_lock);
    if (m_holders > 0 && --m_holders == 0) {
        driver = m_driver;
        connectSink = m_connectSink;
        m_driver = nullptr;
        m_connectSink = nullptr;
    }
    LeaveCriticalSection(&m_lock);
    // Released outside the lock: the last release lets the I/O server end,
    // and the call may take its time.
    if (connectSink)
        connectSink->Release();
    if (driver)
        driver->Release();
}

LONG CDriverLink::Holders() const
{
    EnterCriticalSection(&m_lock);
    LONG n = m_holders;
    LeaveCriticalSection(&m_lock);
    return n;
}

IDriver *CDriverLink::Driver() const
{
    EnterCriticalSection(&m_lock);
    IDriver *driver = m_driver;
    if (driver)
        driver->AddRef();
    LeaveCriticalSection(&m_lock);
    return driver;
}

IConnectSink *CDriverLink::ConnectSink() const
{
    EnterCriticalSection(&m_lock);
    IConnectSink *sink = m_connectSink;
    if (sink)
        sink->AddRef();
    LeaveCriticalSection(&m_lock);
    return sink;
}

} // namespace aleron
