// Aleron's library-wide state, one per process: the start time, the event
// log of the driver "QOR", the task allocator, the connection to the I/O
// server, and the class factory of the event server.
#pragma once
#include <windows.h>
#include <ole2.h>
#include "DriverLink.h"

class CEventLog;

namespace aleron {

struct Library {
    HMODULE module = nullptr;
    FILETIME startTime = {};
    CEventLog *eventLog = nullptr;
    IMalloc *malloc = nullptr;
    CDriverLink driver;
    volatile LONG servers = 0;   // live event servers
    volatile LONG locks = 0;     // LockServer count
};
Library &TheLibrary();

// Aleron's class {402D97D4-7270-11D6-B98B-0050DACA0D41}.
extern const CLSID CLSID_Aleron;

// The class factory: one static object; CreateInstance makes an event
// server. Its AddRef and Release count nothing.
class CEventServerFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **out) override;
    STDMETHODIMP LockServer(BOOL lock) override;
    // True while an event server lives or a lock is held.
    bool CanUnloadNow() const;
};
CEventServerFactory &TheFactory();

} // namespace aleron
