#include "EventServer.h"
#include <new>
#include "AleronLibrary.h"
#include "AreaBrowser.h"
#include "Subscription.h"
#include "ClassFactory.h"
#include "ConnectionPoint.h"
#include "ImpIOPCCommon.h"
#include "OpcCommon.h"
#include "OpcKit.h"
#include "TearOff.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvEventServer, CObject)

// IOPCEventServer as a tear-off: its IUnknown is the event server's.
class COPCDrvEventServer::CImpIOPCEventServer final : public CTearOff<IOPCEventServer> {
public:
    CImpIOPCEventServer(COPCDrvEventServer *owner)
        : CTearOff<IOPCEventServer>(static_cast<IUnknown *>(owner)), m_methods(owner)
    {
    }

    STDMETHODIMP GetStatus(OPCEVENTSERVERSTATUS **status) override { return m_methods.GetStatus(status); }
    STDMETHODIMP CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle,
                                         REFIID riid, LPUNKNOWN *result, DWORD *revisedBufferTime,
                                         DWORD *revisedMaxSize) override
    {
        return m_methods.CreateEventSubscription(active, bufferTime, maxSize, clientHandle, riid, result,
                                                 revisedBufferTime, revisedMaxSize);
    }
    STDMETHODIMP QueryAvailableFilters(DWORD *mask) override { return m_methods.QueryAvailableFilters(mask); }
    STDMETHODIMP QueryEventCategories(DWORD eventType, DWORD *count, DWORD **ids, LPWSTR **texts) override
    {
        return m_methods.QueryEventCategories(eventType, count, ids, texts);
    }
    STDMETHODIMP QueryConditionNames(DWORD category, DWORD *count, LPWSTR **names) override
    {
        return m_methods.QueryConditionNames(category, count, names);
    }
    STDMETHODIMP QuerySubConditionNames(LPWSTR condition, DWORD *count, LPWSTR **names) override
    {
        return m_methods.QuerySubConditionNames(condition, count, names);
    }
    STDMETHODIMP QuerySourceConditions(LPWSTR source, DWORD *count, LPWSTR **names) override
    {
        return m_methods.QuerySourceConditions(source, count, names);
    }
    STDMETHODIMP QueryEventAttributes(DWORD category, DWORD *count, DWORD **ids, LPWSTR **texts,
                                      VARTYPE **types) override
    {
        return m_methods.QueryEventAttributes(category, count, ids, texts, types);
    }
    STDMETHODIMP TranslateToItemIDs(LPWSTR source, DWORD category, LPWSTR condition, LPWSTR subCondition,
                                    DWORD count, DWORD *attributeIds, LPWSTR **itemIds, LPWSTR **nodeNames,
                                    CLSID **clsids) override
    {
        return m_methods.TranslateToItemIDs(source, category, condition, subCondition, count, attributeIds, itemIds,
                                            nodeNames, clsids);
    }
    STDMETHODIMP GetConditionState(LPWSTR source, LPWSTR condition, DWORD count, DWORD *attributeIds,
                                   OPCCONDITIONSTATE **state) override
    {
        return m_methods.GetConditionState(source, condition, count, attributeIds, state);
    }
    STDMETHODIMP EnableConditionByArea(DWORD count, LPWSTR *areas) override
    {
        return m_methods.EnableConditionByArea(count, areas);
    }
    STDMETHODIMP EnableConditionBySource(DWORD count, LPWSTR *sources) override
    {
        return m_methods.EnableConditionBySource(count, sources);
    }
    STDMETHODIMP DisableConditionByArea(DWORD count, LPWSTR *areas) override
    {
        return m_methods.DisableConditionByArea(count, areas);
    }
    STDMETHODIMP DisableConditionBySource(DWORD count, LPWSTR *sources) override
    {
        return m_methods.DisableConditionBySource(count, sources);
    }
    STDMETHODIMP AckCondition(DWORD count, LPWSTR acknowledger, LPWSTR comment, LPWSTR *sources,
                              LPWSTR *conditions, FILETIME *activeTimes, DWORD *cookies, HRESULT **errors) override
    {
        return m_methods.AckCondition(count, acknowledger, comment, sources, conditions, activeTimes, cookies,
                                      errors);
    }
    STDMETHODIMP CreateAreaBrowser(REFIID riid, LPUNKNOWN *result) override
    {
        return m_methods.CreateAreaBrowser(riid, result);
    }

private:
    aleron::CEventServerMethods m_methods;
};

COPCDrvEventServer::COPCDrvEventServer()
{
    InitializeCriticalSection(&m_lock);
    m_vendor = aleron::FormatVendorText("QOR", aleron::VersionMajor, aleron::VersionMinor, aleron::VersionBuild);
    m_position = g_ClassFactory.AddServer(this);
    m_connectSink = aleron::AcquireConnectSink();
}

COPCDrvEventServer::~COPCDrvEventServer()
{
    // A client connected to IOPCShutdown hears that the server goes.
    if (m_shutdownPoint) {
        if (IUnknown *sink = m_shutdownPoint->AcquireSink()) {
            try {
                static_cast<IOPCShutdown *>(sink)->ShutdownRequest(L"");
            } catch (...) {
            }
            sink->Release();
        }
    }
    delete m_container;
    if (m_shutdownPoint) {
        m_shutdownPoint->DetachOwner();  // a client may hold the point longer
        m_shutdownPoint->Release();
    }
    delete m_common;
    delete m_eventServer;
    if (m_connectSink)
        m_connectSink->Release();
    g_ClassFactory.RemoveServer(m_position);
    DeleteCriticalSection(&m_lock);
}

STDMETHODIMP COPCDrvEventServer::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    try {
        IUnknown *found = nullptr;
        if (IsEqualIID(iid, IID_IUnknown))
            found = static_cast<IUnknown *>(this);
        else if (IsEqualIID(iid, IID_IOPCEventServer))
            found = EventServerPart();
        else if (IsEqualIID(iid, IID_IOPCCommon))
            found = CommonPart();
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            found = ContainerPart();
        else
            return E_NOINTERFACE;
        if (!found)
            return E_OUTOFMEMORY;
        found->AddRef();
        *out = found;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP_(ULONG) COPCDrvEventServer::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) COPCDrvEventServer::Release()
{
    LONG count = InterlockedDecrement(&m_refs);
    if (count == 0)
        delete this;
    return ULONG(count);
}

IUnknown *COPCDrvEventServer::EventServerPart()
{
    EnterCriticalSection(&m_lock);
    if (!m_eventServer)
        m_eventServer = new (std::nothrow) CImpIOPCEventServer(this);
    IUnknown *part = m_eventServer;
    LeaveCriticalSection(&m_lock);
    return part;
}

IUnknown *COPCDrvEventServer::CommonPart()
{
    EnterCriticalSection(&m_lock);
    if (!m_common)
        m_common = new (std::nothrow) CImpIOPCCommon(static_cast<IUnknown *>(this));
    IUnknown *part = m_common;
    LeaveCriticalSection(&m_lock);
    return part;
}

IUnknown *COPCDrvEventServer::ContainerPart()
{
    EnterCriticalSection(&m_lock);
    if (!m_shutdownPoint) {
        m_shutdownPoint = new (std::nothrow) CImpIConnectionPoint(static_cast<IUnknown *>(this), IID_IOPCShutdown,
                                                                  nullptr);
        if (m_shutdownPoint)
            m_shutdownPoint->AddRef();
    }
    if (m_shutdownPoint && !m_container) {
        CImpIConnectionPoint *points[1] = {m_shutdownPoint};
        m_container = new (std::nothrow) CImpIConnectionPointContainer(static_cast<IUnknown *>(this), points, 1);
    }
    IUnknown *part = m_container;
    LeaveCriticalSection(&m_lock);
    return part;
}

IDriver *COPCDrvEventServer::Driver() { return g_ClassFactory.AcquireDriver(); }

FILETIME COPCDrvEventServer::StartTime() { return g_ftLibraryStart; }

HRESULT COPCDrvEventServer::CreateSubscription(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle,
                                               REFIID riid, IUnknown **result, DWORD *revisedBufferTime,
                                               DWORD *revisedMaxSize)
{
    EnterCriticalSection(&m_lock);
    HRESULT hr = E_OUTOFMEMORY;
    COPCDrvEventSubscription *made =
        new (std::nothrow) COPCDrvEventSubscription(static_cast<IUnknown *>(this), m_connectSink);
    if (made) {
        made->AddRef();
        hr = made->Start();
        if (SUCCEEDED(hr)) {
            // The buffer time and size are taken as asked.
            made->SetInitialState(active, bufferTime, maxSize, clientHandle);
            *revisedBufferTime = bufferTime;
            *revisedMaxSize = maxSize;
            hr = made->QueryInterface(riid, reinterpret_cast<void **>(result));
        }
        made->Release();
    }
    LeaveCriticalSection(&m_lock);
    return hr;
}

HRESULT COPCDrvEventServer::CreateBrowser(REFIID riid, IUnknown **result)
{
    COPCDrvEventAreaBrowser *made =
        new (std::nothrow) COPCDrvEventAreaBrowser(this, static_cast<IUnknown *>(this));
    if (!made)
        return E_OUTOFMEMORY;
    made->AddRef();
    HRESULT hr = made->QueryInterface(riid, reinterpret_cast<void **>(result));
    made->Release();
    return hr;
}
