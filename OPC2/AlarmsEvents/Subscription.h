// COPCDrvEventSubscription: one OPC AE event subscription. It answers
// IOPCEventSubscriptionMgt, offers the IOPCEventSink connection point, and
// owns an alarm sink that the I/O server calls for every forwarded record
// while a client sink is connected. One event thread per subscription turns
// the queued records into ONEVENTSTRUCTs and calls OnEvent.
//
// The queue, state and filter live in a core that the subscription, its
// alarm sink and its event thread share: a late call of the I/O server into
// the sink, or a thread still in a client's OnEvent when the subscription
// goes, finds the core closed and does nothing.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <memory>
#include "Object.h"
#include "OpcAe.h"
#include "QORDriver.h"

class CImpIConnectionPoint;
class CImpIConnectionPointContainer;

namespace aleron {
struct SubscriptionCore;
}

class COPCDrvEventSubscription : public CObject, public IUnknown {
    QOR_DECLARE_DYNAMIC(COPCDrvEventSubscription)
public:
    // server (AddRef'd while the subscription lives, may be null) is the
    // owning event server; connectSink (AddRef'd, may be null) the I/O
    // server's IConnectSink that a client's Advise connects the alarm sink to.
    COPCDrvEventSubscription(IUnknown *server, IConnectSink *connectSink);
    ~COPCDrvEventSubscription() override;
    COPCDrvEventSubscription(const COPCDrvEventSubscription &) = delete;
    COPCDrvEventSubscription &operator=(const COPCDrvEventSubscription &) = delete;

    // The alarm sink, the two events and the event thread.
    HRESULT Start();
    void SetInitialState(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle);

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // The alarm sink the I/O server calls (tests call it directly).
    IAlarmMessageSink *AlarmSink() const;

private:
    class CImpIOPCEventSubscriptionMgt;
    friend class CImpIOPCEventSubscriptionMgt;

    // The IOPCEventSink point's owner callback: Advise connects the alarm
    // sink to the I/O server and opens the event thread's gate, Unadvise
    // closes it and disconnects.
    static HRESULT PointCallback(IUnknown *owner, BOOL connect);
    HRESULT ConnectAlarmSink();
    HRESULT DisconnectAlarmSink();
    IUnknown *ContainerPart();
    // The IOPCEventSink point when it exists and holds a client's sink
    // with this cookie.
    bool IsClientConnection(DWORD cookie);

    volatile LONG m_refs = 0;
    IUnknown *m_server;
    IConnectSink *m_connectSink;
    std::shared_ptr<aleron::SubscriptionCore> m_core;
    IAlarmMessageSink *m_alarmSink = nullptr;
    LONG m_cookie = 0;                 // the I/O server's connection; 0 when none
    CRITICAL_SECTION m_connectLock;    // Advise and Unadvise reaching the I/O server
    CRITICAL_SECTION m_partsLock;      // the tear-offs' creation
    HANDLE m_thread = nullptr;
    unsigned m_threadId = 0;
    CImpIOPCEventSubscriptionMgt *m_mgt = nullptr;
    CImpIConnectionPoint *m_point = nullptr;
    CImpIConnectionPointContainer *m_container = nullptr;
};
