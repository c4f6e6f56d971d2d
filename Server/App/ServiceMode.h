// The NT service "Hadrel": the service control dispatcher's thread, the
// service's main function and its control handler. The service code only
// keeps the service's status; the server's work goes on in the same program
// as on the desktop, and a stop request closes the main window.
#pragma once
#include <windows.h>

// Starts the dispatcher's thread; false when it cannot be created.
bool StartServiceDispatcher();
// The main window's answer to a close: closed, or refused (the server goes
// on running and serving, and the service reports running again).
void ServiceCloseAnswered(bool closed);
// At exit: lets the service report stopped and waits (briefly) for the
// dispatcher to return.
void EndServiceDispatcher();

// What the service main function needs of the program: posting WM_CLOSE to
// the main window (false when there is none yet). Set by the start-up.
void SetServiceCloseRequest(bool (*postClose)());
