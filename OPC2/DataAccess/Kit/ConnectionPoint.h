// CImpIConnectionPoint: a connection point that holds one sink (IOPCShutdown
// for a server, IOPCDataCallback for a group), and its container.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "Object.h"
#include "TearOff.h"

// Told when a sink connects (1) or disconnects (0); a failure refuses Advise.
typedef HRESULT (*ConnectCallback)(IUnknown *owner, BOOL connect);

class CImpIConnectionPoint : public IConnectionPoint, public CObject {
    QOR_DECLARE_DYNAMIC(CImpIConnectionPoint)
public:
    CImpIConnectionPoint(IUnknown *owner, REFIID connectionIid, ConnectCallback callback);
    ~CImpIConnectionPoint() override;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID *iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer **container) override;
    STDMETHODIMP Advise(IUnknown *sink, DWORD *cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections **connections) override;

    // The callbacks-enabled flag (IOPCAsyncIO2::SetEnable / GetEnable).
    void SetEnable(BOOL enable) { InterlockedExchange(&m_bEnabled, enable ? 1 : 0); }
    BOOL GetEnable() const { return m_bEnabled != 0; }
    // Releases the held sink, if any; an exception from it is swallowed.
    void DisconnectSink();
    // The held sink as the connection interface, AddRef'd, or null: callers
    // call it outside the point's lock.
    IUnknown *AcquireSink();
    bool IsConnected();
    // The cookie Advise hands out: the point's 32-bit live-object handle.
    DWORD Cookie() const { return Handle(); }
    const IID &ConnectionIid() const { return m_iid; }
    // The owner goes while a client may still hold the point (the point
    // keeps no reference on it): waits for an Advise or Unadvise under way;
    // from then on Advise is refused, Unadvise only lets the client's sink go
    // and the container is not reached.
    void DetachOwner();

private:
    HRESULT AdviseOwned(IUnknown *sink, DWORD *cookie);
    IID m_iid;
    IUnknown *m_pSink;
    IUnknown *m_pUnkOwner;  // not counted
    ConnectCallback m_pfnCallback;
    volatile LONG m_bEnabled;
    CRITICAL_SECTION m_cs;
    CRITICAL_SECTION m_ownerLock;  // held around every call into the owner
    bool m_detached = false;
    LONG m_cRef;
};

// The container tear-off: the points it was built with, each AddRef'd.
class CImpIConnectionPointContainer : public CTearOff<IConnectionPointContainer> {
public:
    CImpIConnectionPointContainer(IUnknown *owner, CImpIConnectionPoint **points, ULONG count);
    ~CImpIConnectionPointContainer() override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints **points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint **point) override;

private:
    CImpIConnectionPoint **m_ppPoints;
    ULONG m_cPoints;
};
