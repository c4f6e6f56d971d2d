// Aleron's library entry: attach and detach, the class object, unloading,
// self-registration, and how the kit's class factory reaches the I/O server
// for event servers (IQORDriver, with its IConnectSink).
#pragma once
#include <windows.h>
#include "QORDriver.h"

namespace aleron {

// Aleron's class {402D97D4-7270-11D6-B98B-0050DACA0D41}.
extern const CLSID CLSID_Aleron;

// The class factory's connection to the I/O server: its IQORDriver (handed
// out as IDriver), refused when the object has no IConnectSink.
HRESULT ConnectEventDriver(REFCLSID clsid, IDriver **driver);

// The I/O server's IConnectSink, AddRef'd, or null without the server.
IConnectSink *AcquireConnectSink();

} // namespace aleron
