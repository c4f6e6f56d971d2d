// COPCDrvClassFactory: the one class-factory object of an OPC library, with
// its list of live server objects and the process-wide I/O server pointer.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "QORDriver.h"

class COPCDrvClassFactory : public IClassFactory {
public:
    // Makes the library's server object for riid: new, AddRef, Init, QI,
    // Release (CreateServerObject below).
    typedef HRESULT (*ServerMaker)(REFIID riid, void **ppv);
    // Connects to the I/O server; tests replace it.
    typedef HRESULT (*DriverConnector)(REFCLSID clsid, IDriver **driver);

    COPCDrvClassFactory();
    ~COPCDrvClassFactory();

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    void SetServerMaker(ServerMaker maker) { m_pfnMaker = maker; }
    DriverConnector SetDriverConnector(DriverConnector connector);

    BOOL SetDriverCLSID(REFCLSID clsid);
    const CLSID &DriverCLSID() const { return m_clsidDriver; }
    BOOL CanUnloadNow();
    ULONG GetServerCount();
    // Enters server in the list and connects the I/O server while there is
    // no connection; answers the list position, which RemoveServer takes.
    void *AddServer(void *server);
    // Takes the entry out; the last one drops the I/O server connection.
    void RemoveServer(void *position);
    // The I/O server pointer, AddRef'd, or null.
    IDriver *AcquireDriver();

private:
    struct Node {
        void *server;
        Node *prev, *next;
    };
    CLSID m_clsidDriver;
    volatile LONG m_cLocks = 0;
    Node *m_pHead = nullptr, *m_pTail = nullptr;
    ULONG m_cServers = 0;
    CRITICAL_SECTION m_cs;
    ServerMaker m_pfnMaker = nullptr;
    DriverConnector m_pfnConnect;
};

// The library's one factory.
extern COPCDrvClassFactory g_ClassFactory;

template <class T> HRESULT CreateServerObject(REFIID riid, void **ppv)
{
    T *object = new (std::nothrow) T;
    if (!object)
        return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->Init();
    if (SUCCEEDED(hr))
        hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}
