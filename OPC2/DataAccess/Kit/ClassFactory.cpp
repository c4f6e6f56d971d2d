#include "ClassFactory.h"

#include <new>

#include "OpcKit.h"

COPCDrvClassFactory g_ClassFactory;

namespace {

HRESULT ConnectLocalServer(REFCLSID clsid, IDriver **driver)
{
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDriver, reinterpret_cast<void **>(driver));
}

}  // namespace

COPCDrvClassFactory::COPCDrvClassFactory() : m_clsidDriver(CLSID_NULL), m_pfnConnect(&ConnectLocalServer)
{
    InitializeCriticalSection(&m_cs);
}

COPCDrvClassFactory::~COPCDrvClassFactory()
{
    while (m_pHead) {
        Node *next = m_pHead->next;
        delete m_pHead;
        m_pHead = next;
    }
    DeleteCriticalSection(&m_cs);
}

STDMETHODIMP COPCDrvClassFactory::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory)
        return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory *>(this);
    return S_OK;
}

STDMETHODIMP COPCDrvClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv)
{
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!m_pfnMaker)
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        return m_pfnMaker(riid, ppv);
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP COPCDrvClassFactory::LockServer(BOOL lock)
{
    if (lock)
        InterlockedIncrement(&m_cLocks);
    else
        InterlockedDecrement(&m_cLocks);
    return S_OK;
}

COPCDrvClassFactory::DriverConnector COPCDrvClassFactory::SetDriverConnector(DriverConnector connector)
{
    EnterCriticalSection(&m_cs);
    DriverConnector previous = m_pfnConnect;
    m_pfnConnect = connector ? connector : &ConnectLocalServer;
    LeaveCriticalSection(&m_cs);
    return previous;
}

BOOL COPCDrvClassFactory::SetDriverCLSID(REFCLSID clsid)
{
    m_clsidDriver = clsid;
    g_ftServerStart = g_ftLibraryStart;
    return TRUE;
}

BOOL COPCDrvClassFactory::CanUnloadNow()
{
    return GetServerCount() != 0 || m_cLocks != 0;
}

ULONG COPCDrvClassFactory::GetServerCount()
{
    EnterCriticalSection(&m_cs);
    ULONG count = m_cServers;
    LeaveCriticalSection(&m_cs);
    return count;
}

void *COPCDrvClassFactory::AddServer(void *server)
{
    Node *node = new (std::nothrow) Node{server, nullptr, nullptr};
    EnterCriticalSection(&m_cs);
    if (node) {
        node->prev = m_pTail;
        (m_pTail ? m_pTail->next : m_pHead) = node;
        m_pTail = node;
        ++m_cServers;
    }
    // One connection for every server object of the process; a missing
    // I/O server is logged and tried again with the next object.
    if (!g_pIDriver) {
        IDriver *driver = nullptr;
        HRESULT hr = m_pfnConnect(m_clsidDriver, &driver);
        if (SUCCEEDED(hr) && driver)
            g_pIDriver = driver;
        else
            ReportError("Unable to connection to Hadrel", OPC_EVENT_ERROR);
    }
    LeaveCriticalSection(&m_cs);
    return node;
}

void COPCDrvClassFactory::RemoveServer(void *position)
{
    Node *node = static_cast<Node *>(position);
    IDriver *release = nullptr;
    EnterCriticalSection(&m_cs);
    if (node) {
        (node->prev ? node->prev->next : m_pHead) = node->next;
        (node->next ? node->next->prev : m_pTail) = node->prev;
        delete node;
        --m_cServers;
        if (m_cServers == 0) {
            release = g_pIDriver;
            g_pIDriver = nullptr;
        }
    }
    LeaveCriticalSection(&m_cs);
    if (release)
        release->Release();
}

IDriver *COPCDrvClassFactory::AcquireDriver()
{
    EnterCriticalSection(&m_cs);
    IDriver *driver = g_pIDriver;
    if (driver)
        driver->AddRef();
    LeaveCriticalSection(&m_cs);
    return driver;
}
