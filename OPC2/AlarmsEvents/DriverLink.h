// Aleron's one connection to the I/O server, shared by every event server
// of the process: made when the first event server is created (and tried
// again by the next while it is missing), dropped with the last.
#pragma once
#include <windows.h>
#include "QORDriver.h"

class CEventLog;

namespace aleron {

class CDriverLink {
public:
    CDriverLink();
    ~CDriverLink();
    CDriverLink(const CDriverLink &) = delete;
    CDriverLink &operator=(const CDriverLink &) = delete;

    // One more event server. While the I/O server is missing it is created
    // (IQORDriver, then its IConnectSink); a failure goes to the event log
    // as "Unable to connection to Hadrel" and is not fatal.
    void Hold(CEventLog *eventLog);
    // One fewer; the last releases both pointers.
    void Unhold();
    LONG Holders() const;

    // The pointers, AddRef'd, or null when the I/O server is missing.
    IDriver *Driver() const;
    IConnectSink *ConnectSink() const;

private:
    mutable CRITICAL_SECTION m_lock;
    LONG m_holders = 0;
    IQORDriver *m_driver = nullptr;
    IConnectSink *m_connectSink = nullptr;
};

// The event id of the failure to create the I/O server.
const DWORD kNoDriverEventId = 0xC1040002;

} // namespace aleron
