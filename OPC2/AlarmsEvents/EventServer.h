// COPCDrvEventServer: Aleron's one creatable object. It answers
// IOPCEventServer (status, the fixed event space, switching the I/O
// server's event forwarding), IOPCCommon, and offers an IOPCShutdown
// connection point. Every event server holds one place in the library's
// connection to the I/O server.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include "EventServerMethods.h"
#include "Object.h"

class COPCDrvEventServer : public CObject, public IUnknown, private aleron::IEventServerState {
    QOR_DECLARE_DYNAMIC(COPCDrvEventServer)
public:
    // Enters the library's list (connecting the I/O server when it is the
    // first); state running; filter mask 26; the vendor text.
    COPCDrvEventServer();
    ~COPCDrvEventServer() override;
    COPCDrvEventServer(const COPCDrvEventServer &) = delete;
    COPCDrvEventServer &operator=(const COPCDrvEventServer &) = delete;

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

    volatile LONG m_refs = 0;
    OPCEVENTSERVERSTATE m_state = OPCAE_STATUS_RUNNING;
    DWORD m_filterMask = aleron::AvailableFilters;
    std::wstring m_vendor;
    CRITICAL_SECTION m_lock;   // the tear-offs' creation; CreateEventSubscription
    CImpIOPCEventServer *m_eventServer = nullptr;
};
