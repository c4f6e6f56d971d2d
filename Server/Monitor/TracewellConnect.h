// The server's data-monitor connection: one tool at a time hands it a
// callback (ITracewellSink), and a sender thread of its own passes every
// protocol frame of the blocks with "TracewellOn" to that callback, so the
// scan and completion threads never wait for the tool.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <memory>
#include "DataMonitor.h"
#include "QORDriver.h"

class IDriverAppHost;

class CTracewellConnect : public ITracewellConnect, public IDataMonitor {
public:
    // How long destruction waits for a sender thread that is inside a call
    // to the tool; one that is still there then ends on its own later.
    static const DWORD StopWaitMs = 10000;

    // owner: the COM identity every interface of the server counts on.
    explicit CTracewellConnect(IDriverAppHost *owner, DWORD stopWaitMs = StopWaitMs);
    virtual ~CTracewellConnect();

    // The interface's type information from the server's type library;
    // logs a fatal line and answers false when it cannot be loaded.
    bool Initialize(ITypeLib *typeLib);
    bool IsConnected() const;

    // IDataMonitor: queues the frame for the connected tool; dropped when
    // nobody is connected or the length is 0.
    void Send(const BYTE *data, WORD length, int direction) override;

    // IUnknown: the owner's.
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch through the interface's type information.
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale, DISPID *ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override;
    // ITracewellConnect.
    STDMETHODIMP Connect(IUnknown *sink, LONG reserved, LONG *cookie) override;
    STDMETHODIMP Disconnect(LONG cookie) override;

private:
    struct Session;
    // Takes the tool's ITracewellSink, marshals it and starts the sender thread.
    HRESULT StartSession(IUnknown *sink);
    static DWORD WINAPI SenderThread(void *parameter);
    static void Drop(Session &session);

    IDriverAppHost *m_owner;
    DWORD m_stopWaitMs;
    ITypeInfo *m_typeInfo = nullptr;
    // Guards m_session; Send holds it only to take a reference.
    mutable CRITICAL_SECTION m_lock;
    // The connection in progress (null: not connected). Its sender thread
    // holds a reference of its own, so a thread stuck in the tool never
    // works on freed state.
    std::shared_ptr<Session> m_session;
    bool m_connecting = false;
};
