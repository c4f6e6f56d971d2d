// Self-registration of the server under HKEY_CLASSES_ROOT: the ProgIDs, the
// class key with its local server (or the NT service), the AppID with its
// DCOM rights, and the type library.
#pragma once
#include <string>
#include "ServerVersion.h"

// What the command line asks for, tested upper-cased in this order
// ("UNREGSERVER" first: it holds "REGSERVER").
enum class CommandLineAction { Unregister, Register, RegisterService, StartedByCom, PlainStart };
CommandLineAction ParseCommandLine(const std::string &commandLine);
// Whether someone at the desktop started the program and could answer a box:
// a plain start that is not the service's (its switch, or the service
// installed, which such a start then serves).
bool IsDesktopStart(const std::string &commandLine, const std::string &serviceName);


// The system's text for a Win32 error, without its line end.
std::string SystemErrorText(DWORD error);

// The program path registered for the local server and the service: the
// module path in quotes (it may hold blanks) followed by the switch.
std::string QuotedCommand(const std::string &modulePath, const char *switchText);

// The REGSERVER (service false) or REGSERVICE (service true) work. Logs
// every failure as fatal and success as information; true on success.
bool RegisterServer(const CServerNames &names, bool service);

// The UNREGSERVER work; the type library's registration stays.
bool UnregisterServer(const CServerNames &names);

// Whether the service control manager knows the service.
bool IsServiceInstalled(const std::string &serviceName);
