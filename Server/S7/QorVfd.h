// The VFD object (one open CP/VFD and the dispatch of its events) and the
// connection object (one S7 connection and its state) over s732.dll.
#pragma once
#include "S7Error.h"
#include <list>
#include <string>

class CXAction;
class CQORVFD;

// One S7 connection. Each operation runs under the object's lock; an object
// made without a VFD object answers QOR_E_NO_VFD.
class CQORCONN {
public:
    enum State : LONG { Connected = 1, Disconnected = 2, Connecting = 3, Aborted = 4, InitiateFailed = 5 };

    // temporary: made only to take one event for a reference that no
    // resource holds.
    CQORCONN(CQORVFD *vfd, const char *connName, bool temporary = false);
    ~CQORCONN();  // aborts a connected connection
    CQORCONN(const CQORCONN &) = delete;
    CQORCONN &operator=(const CQORCONN &) = delete;

    // QOR_E_HAS_REFERENCE when the reference is known already (success to callers).
    HRESULT LookUpReference(S7ErrorRecord *error);
    void SetReference(DWORD connRef);
    // QOR_E_CONNECTED when connected already (success to callers).
    HRESULT Initiate(S7ErrorRecord *error);
    HRESULT InitiateConfirmation(S7ErrorRecord *error);
    HRESULT Abort(S7ErrorRecord *error);
    HRESULT AbortIndication(S7ErrorRecord *error);
    // Sends the request's read or write by its direction.
    HRESULT Send(CXAction *request, S7ErrorRecord *error);
    // Confirmations; the request may be null (the event is consumed only).
    HRESULT ReadConfirmation(CXAction *request, S7ErrorRecord *error);
    HRESULT WriteConfirmation(CXAction *request, S7ErrorRecord *error);
    HRESULT MultipleWriteConfirmation(CXAction *request, S7ErrorRecord *error);

    LONG GetState() const { return m_state; }
    bool WasConnected() const { return m_connected; }
    bool HasReference() const { return m_refKnown; }
    DWORD GetReference() const { return m_connRef; }
    const std::string &GetName() const { return m_name; }  // "ConnectionName"

private:
    HRESULT Read(CXAction *request, S7ErrorRecord *error);
    HRESULT Write(CXAction *request, S7ErrorRecord *error);
    HRESULT Preconditions() const;
    LONGLONG Now() const;

    CQORVFD *m_vfd;
    std::string m_name;
    DWORD m_connRef = 0;
    bool m_refKnown = false;
    volatile LONG m_state = Disconnected;
    bool m_connected = false;
    bool m_temporary;
    CRITICAL_SECTION m_lock;
};

// What the VFD object needs of a connection resource to dispatch an event.
class IS7EventTarget {
public:
    virtual CQORCONN *GetConnection() = 0;
    virtual CXAction *GetCurrentRequest() = 0;
protected:
    ~IS7EventTarget() = default;
};

// One open CP/VFD ("CPName", "VFDName").
class CQORVFD {
public:
    CQORVFD();
    ~CQORVFD();  // closes the CP/VFD when open
    CQORVFD(const CQORVFD &) = delete;
    CQORVFD &operator=(const CQORVFD &) = delete;

    // QOR_E_VFD_OPEN when open already (the first descriptor stays).
    HRESULT Open(const char *cpName, const char *vfdName, S7ErrorRecord *error);
    // QOR_E_VFD_NOT_OPEN when not open.
    HRESULT Close(S7ErrorRecord *error);
    // QOR_S7_NO_EVENT when the library had none.
    HRESULT Receive(DWORD *connRef, WORD *orderId, int *eventCode, S7ErrorRecord *error);
    // Maps one received event to its result; target may be null.
    HRESULT HandleEvent(DWORD connRef, WORD orderId, int eventCode, S7ErrorRecord *error, IS7EventTarget *target);
    HRESULT SetWindowMessage(HWND window, UINT message, S7ErrorRecord *error);

    bool IsOpen() const { return m_open; }
    DWORD GetDescriptor() const { return m_descriptor; }
    const std::string &GetCpName() const { return m_cpName; }
    const std::string &GetVfdName() const { return m_vfdName; }
    LONGLONG GetFrequency() const { return m_frequencyValid ? m_frequency : 0; }

    // Live VFD and connection objects in the process.
    static LONG LiveObjects();

private:
    friend class CQORCONN;
    std::string m_cpName, m_vfdName;
    DWORD m_descriptor = static_cast<DWORD>(-1);
    volatile LONG m_open = 0;
    LONGLONG m_frequency = 0;
    bool m_frequencyValid = false;
    std::list<CQORCONN *> m_connections;
    CRITICAL_SECTION m_lock;       // descriptor and dispatch
    CRITICAL_SECTION m_listLock;   // connection list
};
