// Oxley's library state, one per process: the driver name and simulation
// flag read at load, the link to the server by COM, the shared memory store
// and the signal-conditioning library. The exports (KivAddress.cpp,
// KivData.cpp) reach everything through the functions here.
//
// The COM part is small: a server factory (CoCreateInstance of the local
// server unless a test installs its own) gives the IQORDriver pointer; the
// rest is the Global Interface Table entry that the address parser uses and
// the two statistics arrays. Message boxes go through a seam as well, so that
// in-process tests never block on one.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "QORDriver.h"
#include "CommonMemory.h"
#include "Parvel.h"

typedef HRESULT (*KivServerFactory)(IQORDriver **server);
typedef void (*KivMessageBoxFn)(const char *text, const char *caption);

namespace kiv {

enum { StatCount = 6, MaxDriverName = 63 };

struct SignalFunctions {
    HMODULE module = nullptr;
    PFN_ParseSigCond parse = nullptr;
    PFN_DisplaySigCond display = nullptr;
    PFN_GetFirstSigCond first = nullptr;
    PFN_GetNextSigCond next = nullptr;
    PFN_InputSigCond32 input = nullptr;
    PFN_OutputSigCond32 output = nullptr;
};

struct Library {
    char driverName[MaxDriverName + 1] = "";
    bool simulation = false;
    bool started = false;

    IQORDriver *server = nullptr;    // as created; every call but the address parser's
    bool connected = false;
    bool comInitialised = false;
    IGlobalInterfaceTable *git = nullptr;
    DWORD cookie = 0;                // the server registered as IDriver; 0 when none
    // The apartment the server pointer was created in: the multithreaded
    // one, or the single-threaded apartment of that thread.
    bool createdInMta = false;
    DWORD createdOnThread = 0;
    // Watching the server: once its single-instance mutex was seen while
    // linked, its disappearance means the server process has gone.
    bool watchServer = false;
    bool serverGone = false;         // gone; the link is dropped and made again
    volatile LONG lastCheck = 0;     // tick count of the last look at the mutex
    VARIANT statNames;               // VT_ARRAY|VT_VARIANT of the six names
    VARIANT statZeros;               // six VT_I2 zeros

    CCommonMemory *volatile store = nullptr;
    SignalFunctions signal;
};

Library &Lib();

// Process attach once the name is known; reads "SimulationMode".
void Start(const char *driverName);
// Process detach. At process termination no COM call is made: the server's
// proxies and the apartment are gone or going, and a call could hang.
void End(bool processTerminating);

// Reads the library's own version block; false after showing the message box.
bool ReadDriverName(HMODULE module, char *name, size_t size);

// The server pointer as created, connecting when needed; null on failure.
IQORDriver *Server();
// The address parser's pointer (AddRef'd): from the Global Interface Table
// when the server pointer was made in a single-threaded apartment and the
// caller is outside it, else that pointer itself; a failed lookup
// disconnects completely, connects and looks up once more.
HRESULT ParserServer(IDriver **server);
// kiv_CleanUp's work; status may be null.
void CleanUp(uint16_t *status);
// Revokes the table entry, releases the table and, when connected, cleans up.
void Disconnect();

// The store, created on first use with the flag set 15. Every export that
// reads or writes the store comes here first, so this is also where the
// server's life is watched (CheckServer).
CCommonMemory *Store();
// At most once a second: whether the server's single-instance mutex still
// exists. When it has gone, the link is dropped without calling the dead
// server, and every block it left in the store is marked as failed
// communication (quality 0x18), which every reader then sees; each later
// check links again, without a message box, which starts a new server.
void CheckServer();
// Binds Parvel's six functions when missing; false when any is missing.
bool BindSignal();

void ShowMessage(const char *text, const char *caption);

// Test seams: null restores the defaults.
void SetServerFactory(KivServerFactory factory);
void SetMessageBox(KivMessageBoxFn show);

}  // namespace kiv
