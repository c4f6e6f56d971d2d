// COPCDrvEventServer: Aleron's one creatable object. It answers
// IOPCEventServer (status, the fixed event space, switching the I/O
// server's event forwarding), IOPCCommon, and offers an IOPCShutdown
// connection point. Every event server holds one place in the class
// factory's list, and with it the I/O server, and the server's
// IConnectSink while it lives.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include "EventServerMethods.h"
#include "Object.h"

class CImpIConnectionPoint;
class CImpIConnectionPointContainer;
class CImpIOPCCommon;

class COPCDrvEventServer : public CObject, public IUnknown, private aleron::IEventServerState {
    QOR_DECLARE_DYNAMIC(COPCDrvEventServer)
public:
    // Enters the factory's list (connecting the I/O server when it is the
    // first); state running; filter mask 26; the vendor text.
    COPCDrvEventServer();
    // Tells a connected IOPCShutdown client, then leaves the list.
    ~COPCDrvEventServer() override;
    COPCDrvEventServer(const COPCDrvEventServer &) = delete;
    COPCDrvEventServer &operator=(const COPCDrvEventServer &) = delete;

    // What the class factory calls after construction.
    HRESULT Init() { return S_OK; }

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    class CImpIOPCEventServer;

    // IEventServerState.
    IDriver *Driver() override;
    OPCEVENTSERVERSTATE ServerState() override { return m_state; }
    FILETIME StartTime() override;
    const std::wstring &VendorText() override { return m_vendor; }
    HRESULT CreateSubscription(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle, REFIID riid,
                               IUnknown **result, DWORD *revisedBufferTime, DWORD *revisedMaxSize) override;
    HRESULT CreateBrowser(REFIID riid, IUnknown **result) override;

    // The tear-offs, made on first request and kept; null when they
    // cannot be made.
    IUnknown *EventServerPart();
    IUnknown *CommonPart();
    IUnknown *ContainerPart();

    volatile LONG m_refs = 0;
    void *m_position = nullptr;   // in the class factory's list
    IConnectSink *m_connectSink = nullptr;
    OPCEVENTSERVERSTATE m_state = OPCAE_STATUS_RUNNING;
    std::wstring m_vendor;
    CRITICAL_SECTION m_lock;   // the tear-offs' creation; CreateEventSubscription
    CImpIOPCEventServer *m_eventServer = nullptr;
    CImpIOPCCommon *m_common = nullptr;
    CImpIConnectionPoint *m_shutdownPoint = nullptr;
    CImpIConnectionPointContainer *m_container = nullptr;
};
