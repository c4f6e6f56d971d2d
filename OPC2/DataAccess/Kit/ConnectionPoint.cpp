#include "ConnectionPoint.h"

#include <new>

#include "Enumerators.h"

QOR_IMPLEMENT_DYNAMIC(CImpIConnectionPoint, CObject)

CImpIConnectionPoint::CImpIConnectionPoint(IUnknown *owner, REFIID connectionIid, ConnectCallback callback)
    : m_iid(connectionIid), m_pSink(nullptr), m_pUnkOwner(owner), m_pfnCallback(callback), m_bEnabled(1), m_cRef(0)
{
    InitializeCriticalSection(&m_cs);
    InitializeCriticalSection(&m_ownerLock);
}

CImpIConnectionPoint::~CImpIConnectionPoint()
{
    DisconnectSink();
    DeleteCriticalSection(&m_ownerLock);
    DeleteCriticalSection(&m_cs);
}

void CImpIConnectionPoint::DetachOwner()
{
    EnterCriticalSection(&m_ownerLock);
    m_detached = true;
    LeaveCriticalSection(&m_ownerLock);
}

STDMETHODIMP CImpIConnectionPoint::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint)
        return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint *>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CImpIConnectionPoint::AddRef() { return InterlockedIncrement(&m_cRef); }

STDMETHODIMP_(ULONG) CImpIConnectionPoint::Release()
{
    ULONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP CImpIConnectionPoint::GetConnectionInterface(IID *iid)
{
    if (!iid)
        return E_POINTER;
    *iid = m_iid;
    return S_OK;
}

STDMETHODIMP CImpIConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer **container)
{
    EnterCriticalSection(&m_ownerLock);
    HRESULT hr;
    if (!m_detached) {
        hr = m_pUnkOwner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(container));
    } else {
        if (container)
            *container = nullptr;
        hr = E_UNEXPECTED;
    }
    LeaveCriticalSection(&m_ownerLock);
    return hr;
}

STDMETHODIMP CImpIConnectionPoint::Advise(IUnknown *sink, DWORD *cookie)
{    EnterCriticalSection(&m_ownerLock);
    HRESULT hr = m_detached ? CONNECT_E_CANNOTCONNECT : AdviseOwned(sink, cookie);
    if (m_detached && cookie)
        *cookie = 0;
    LeaveCriticalSection(&m_ownerLock);
    return hr;
}

HRESULT CImpIConnectionPoint::AdviseOwned(IUnknown *sink, DWORD *cookie)
{

    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    // The whole test-and-fill under the lock: two clients advising at once
    // must not both pass the one-sink test.
    EnterCriticalSection(&m_cs);
    HRESULT hr = S_OK;
    try {
        if (m_pSink)
            hr = CONNECT_E_ADVISELIMIT;
        else if (m_pfnCallback && FAILED(m_pfnCallback(m_pUnkOwner, TRUE)))
            hr = CONNECT_E_CANNOTCONNECT;
        else if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void **>(&m_pSink)))) {
            m_pSink = nullptr;
            hr = CONNECT_E_CANNOTCONNECT;
        }
    } catch (...) {
        m_pSink = nullptr;
        hr = CONNECT_E_CANNOTCONNECT;
    }
    LeaveCriticalSection(&m_cs);
    if (hr == S_OK)
        *cookie = Cookie();
    return hr;
}

STDMETHODIMP CImpIConnectionPoint::Unadvise(DWORD cookie)
{
    EnterCriticalSection(&m_ownerLock);
    EnterCriticalSection(&m_cs);
    bool held = m_pSink != nullptr && cookie == Cookie();
    if (held)
        DisconnectSink();
    LeaveCriticalSection(&m_cs);
    if (held && m_pfnCallback && !m_detached) {
        try {
            m_pfnCallback(m_pUnkOwner, FALSE);
        } catch (...) {
        }
    }
    LeaveCriticalSection(&m_ownerLock);
    return held ? S_OK : CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CImpIConnectionPoint::EnumConnections(IEnumConnections **connections)
{
    if (!connections)
        return E_POINTER;
    *connections = nullptr;
    EnterCriticalSection(&m_cs);
    CONNECTDATA data = {m_pSink, Cookie()};
    CImpIEnumConnections *e =
        new (std::nothrow) CImpIEnumConnections(static_cast<IConnectionPoint *>(this), m_pSink ? 1 : 0, &data);
    LeaveCriticalSection(&m_cs);
    if (!e)
        return E_OUTOFMEMORY;
    e->AddRef();
    HRESULT hr = e->QueryInterface(IID_IEnumConnections, reinterpret_cast<void **>(connections));
    e->Release();
    return hr;
}

void CImpIConnectionPoint::DisconnectSink()
{
    EnterCriticalSection(&m_cs);
    IUnknown *sink = m_pSink;
    m_pSink = nullptr;
    if (sink) {
        try {
            sink->Release();
        } catch (...) {
        }
    }
    LeaveCriticalSection(&m_cs);
}

IUnknown *CImpIConnectionPoint::AcquireSink()
{
    EnterCriticalSection(&m_cs);
    IUnknown *sink = m_pSink;
    if (sink)
        sink->AddRef();
    LeaveCriticalSection(&m_cs);
    return sink;
}

bool CImpIConnectionPoint::IsConnected()
{
    EnterCriticalSection(&m_cs);
    bool connected = m_pSink != nullptr;
    LeaveCriticalSection(&m_cs);
    return connected;
}

CImpIConnectionPointContainer::CImpIConnectionPointContainer(IUnknown *owner, CImpIConnectionPoint **points,
                                                             ULONG count)
    : CTearOff<IConnectionPointContainer>(owner), m_ppPoints(new CImpIConnectionPoint *[count ? count : 1]),
      m_cPoints(count)
{
    for (ULONG i = 0; i < count; ++i) {
        m_ppPoints[i] = points[i];
        m_ppPoints[i]->AddRef();
    }
}

CImpIConnectionPointContainer::~CImpIConnectionPointContainer()
{
    for (ULONG i = 0; i < m_cPoints; ++i)
        m_ppPoints[i]->Release();
    delete[] m_ppPoints;
}

STDMETHODIMP CImpIConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints **points)
{
    if (!points)
        return E_INVALIDARG;
    *points = nullptr;
    std::vector<IConnectionPoint *> list(m_ppPoints, m_ppPoints + m_cPoints);
    CImpIEnumConnectionPoints *e = new (std::nothrow) CImpIEnumConnectionPoints(m_pUnkOwner, m_cPoints, list.data());
    if (!e)
        return E_OUTOFMEMORY;
    e->AddRef();
    *points = e;
    return S_OK;
}

STDMETHODIMP CImpIConnectionPointContainer::FindConnectionPoint(REFIID riid, IConnectionPoint **point)
{
    if (!point)
        return E_INVALIDARG;
    *point = nullptr;
    for (ULONG i = 0; i < m_cPoints; ++i)
        if (m_ppPoints[i]->ConnectionIid() == riid)
            return m_ppPoints[i]->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void **>(point));
    return E_NOINTERFACE;
}
