// The automation object's IConnectSink part: Alarm & Event clients connect
// a callback here, and every log record posted for forwarding reaches each
// connection's queue in list order.
#pragma once
#include "DriverApp.h"
#include "ServerMsg.h"
#include <vector>

class CAlarmMessageObj;

class CDriverApp::CConnectSinkPart : public IConnectSink, public IServerEventSink {
public:
    // Joins the process's message log as a receiver of forwarded records.
    explicit CConnectSinkPart(CDriverApp *owner);
    // Leaves the log, then stops and deletes every connection.
    ~CConnectSinkPart() override;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Connect(REFIID callbackIid, IUnknown *callback, LONG value, LONG *connection) override;
    STDMETHODIMP Disconnect(LONG connection) override;
    STDMETHODIMP put_Value(LONG connection, LONG value) override;
    STDMETHODIMP get_Value(LONG connection, LONG *value) override;

    // IServerEventSink: called on the posting thread; only queues.
    void Broadcast(const std::string &text, const std::string &source, DWORD eventCode,
                   DWORD eventParameter) override;

    size_t ConnectionCount() const;

private:
    // The live connection that a client's value names, or null.
    CAlarmMessageObj *Find(LONG connection) const;
    void StopAndDelete(CAlarmMessageObj *connection);

    CDriverApp *m_owner;
    mutable CRITICAL_SECTION m_lock;   // the list; taken before a connection's queue lock
    std::vector<CAlarmMessageObj *> m_connections;
};
