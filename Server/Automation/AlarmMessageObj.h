// One Alarm & Event connection: the client's callback, a queue of
// forwarded log records, and a worker thread in its own apartment that
// delivers them, so the thread that posts a record never waits for a client.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <memory>
#include <string>
#include "Object.h"
#include "QORDriver.h"

class CAlarmMessageObj : public CObject {
    QOR_DECLARE_DYNAMIC(CAlarmMessageObj)
public:
    enum { DefaultValue = 3 };
    // How long a stop waits for the worker before abandoning it.
    static const DWORD StopWaitMs = 10000;

    CAlarmMessageObj();
    // Stops the connection when it is still connected.
    ~CAlarmMessageObj() override;
    CAlarmMessageObj(const CAlarmMessageObj &) = delete;
    CAlarmMessageObj &operator=(const CAlarmMessageObj &) = delete;

    // False when the events or the queue could not be made.
    bool Created() const;

    // Stores value, takes the callback's IAlarmMessageSink, marshals it for
    // the worker and starts the worker. S_OK, 0x80040201 (already
    // connected), E_INVALIDARG (value 0), the QueryInterface or marshalling
    // failure, or E_FAIL (no thread). On failure nothing is held.
    HRESULT Connect(IUnknown *callback, LONG value);
    bool IsConnected() const;
    // Ends the worker (waiting up to StopWaitMs, then leaving it to end when
    // its client call returns), releases the callback, drops queued
    // records. Nothing when not connected.
    void Stop();

    // Queues a copy of one record and wakes the worker; false when it
    // could not be allocated.
    bool Post(const std::string &text, const std::string &source, DWORD eventCode, DWORD eventParameter);

    HRESULT SetValue(LONG value);
    LONG Value() const { return m_value; }

    // The 32-bit value the client is given and gives back: the object's
    // live-object handle, checked before use.
    LONG ClientHandle() const { return LONG(Handle()); }

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    IAlarmMessageSink *m_callback = nullptr;   // as obtained on the connecting thread
    HANDLE m_thread = nullptr;
    LONG m_value = DefaultValue;
};
