#include "KivLibrary.h"
#include <stdio.h>
#include <string.h>
#include "Registry.h"
#include "StoreBlocks.h"

namespace kiv {

static const char *const kStatNames[StatCount] = {
    "MsgTransmitCount", "MsgReceiveCount", "MsgRetryCount",
    "MsgTimeoutCount",  "MsgErrorCount",   "PollOverrunCount",
};

static HRESULT CreateLocalServer(IQORDriver **server)
{
    return CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                            reinterpret_cast<void **>(server));
}

static void ShowMessageBox(const char *text, const char *caption)
{
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

static KivServerFactory g_factory = CreateLocalServer;
static KivMessageBoxFn g_messageBox = ShowMessageBox;

Library &Lib()
{
    static Library library;
    return library;
}

void SetServerFactory(KivServerFactory factory) { g_factory = factory ? factory : CreateLocalServer; }
void SetMessageBox(KivMessageBoxFn show) { g_messageBox = show ? show : ShowMessageBox; }
void ShowMessage(const char *text, const char *caption) { g_messageBox(text, caption); }

static void DriverKey(char *path, size_t size)
{
    snprintf(path, size, "Software\\Veltrane\\Drivers\\%s", Lib().driverName);
}

void Start(const char *driverName)
{
    Library &lib = Lib();
    snprintf(lib.driverName, sizeof(lib.driverName), "%s", driverName);
    VariantInit(&lib.statNames);
    VariantInit(&lib.statZeros);
    char path[128];
    DriverKey(path, sizeof(path));
    unsigned long simulation = 0;
    CRegistry registry;
    if (registry.OpenKey(path) == ERROR_SUCCESS)
        registry.ReadValue("SimulationMode", &simulation);
    lib.simulation = simulation == 1;
    lib.started = true;
}

bool ReadDriverName(HMODULE module, char *name, size_t size)
{
    char file[MAX_PATH];
    DWORD handle = 0;
    DWORD length = GetModuleFileNameA(module, file, sizeof(file));
    DWORD bytes = (length && length < sizeof(file)) ? GetFileVersionInfoSizeA(file, &handle) : 0;
    if (bytes == 0) {
        ShowMessage("Server: GetFileVersionInfoSize() Failed", "Oxley.DLL");
        return false;
    }
    char *block = new char[bytes];
    char *value = nullptr;
    UINT valueLength = 0;
    bool found = GetFileVersionInfoA(file, 0, bytes, block) &&
                 VerQueryValueA(block, "\\StringFileInfo\\040904b0\\InternalName",
                                reinterpret_cast<void **>(&value), &valueLength) &&
                 value && valueLength > 0;
    if (found)
        snprintf(name, size, "%s", value);
    delete[] block;
    if (!found)
        ShowMessage("Server: VerQueryValue() Failed", "Oxley.DLL");
    return found;
}

// The names array and the zeros array for the statistics exports.
static HRESULT BuildStatArrays(Library &lib)
{
    VariantClear(&lib.statNames);
    VariantClear(&lib.statZeros);
    SAFEARRAY *names = SafeArrayCreateVector(VT_VARIANT, 0, StatCount);
    SAFEARRAY *zeros = SafeArrayCreateVector(VT_VARIANT, 0, StatCount);
    if (!names || !zeros) {
        if (names)
            SafeArrayDestroy(names);
        if (zeros)
            SafeArrayDestroy(zeros);
        ShowMessage("Driver stats init. error.", "Oxley");
        return E_OUTOFMEMORY;
    }
    V_VT(&lib.statNames) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&lib.statNames) = names;
    V_VT(&lib.statZeros) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&lib.statZeros) = zeros;
    for (LONG i = 0; i < StatCount; ++i) {
        VARIANT name, zero;
        VariantInit(&name);
        VariantInit(&zero);
        wchar_t wide[32];
        MultiByteToWideChar(CP_ACP, 0, kStatNames[i], -1, wide, 32);
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = SysAllocString(wide);
        V_VT(&zero) = VT_I2;
        V_I2(&zero) = 0;
        HRESULT hr = V_BSTR(&name) ? SafeArrayPutElement(names, &i, &name) : E_OUTOFMEMORY;
        if (SUCCEEDED(hr))
            hr = SafeArrayPutElement(zeros, &i, &zero);
        VariantClear(&name);
        if (FAILED(hr)) {
            VariantClear(&lib.statNames);
            VariantClear(&lib.statZeros);
            ShowMessage("Driver stats error.", "Oxley");
            return hr;
        }
    }
    return S_OK;
}

static void ForgetServer(Library &lib)
{
    if (lib.server)
        lib.server->Release();
    lib.server = nullptr;
    lib.connected = false;
}

// Whether the server's single-instance mutex (the driver name and "Driver")
// exists; one that this process may not open exists too.
static bool ServerMutexExists(const Library &lib)
{
    char name[MaxDriverName + 16];
    snprintf(name, sizeof(name), "%sDriver", lib.driverName);
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (mutex) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// quiet: no message box on failure (a link made again while the HMI reads).
static HRESULT Connect(bool quiet = false)
{
    Library &lib = Lib();
    HRESULT init = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    const bool initialisedHere = SUCCEEDED(init) && !lib.comInitialised;
    if (SUCCEEDED(init))
        lib.comInitialised = true;

    IQORDriver *server = nullptr;
    HRESULT hr = g_factory(&server);
    if (FAILED(hr) || !server) {
        if (!quiet)
            ShowMessage("CoCreateInstance() failed.", "Oxley");
        if (initialisedHere) {
            CoUninitialize();
            lib.comInitialised = false;
        }
        return FAILED(hr) ? hr : E_POINTER;
    }
    lib.server = server;
    server->put_KivRef(1);
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    lib.createdInMta = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
    lib.createdOnThread = GetCurrentThreadId();

    if (!lib.git) {
        hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, NULL, CLSCTX_INPROC_SERVER,
                              IID_IGlobalInterfaceTable, reinterpret_cast<void **>(&lib.git));
        if (FAILED(hr)) {
            lib.git = nullptr;
            ForgetServer(lib);
            return hr;
        }
    }
    // A table entry left from an earlier server would hand the parser a dead
    // proxy; kiv_CleanUp revokes it, so a new connection registers anew.
    // Only a pointer made in a single-threaded apartment needs the table:
    // one made in the multithreaded apartment serves every thread that
    // joins it as it is. (Under Wine a table entry for a proxy also cannot
    // be revoked, and every copy taken from it gives up references that
    // other clients of the server hold.)
    if (!lib.cookie && !lib.createdInMta) {
        hr = lib.git->RegisterInterfaceInGlobal(server, IID_IDriver, &lib.cookie);
        if (FAILED(hr)) {
            lib.cookie = 0;
            ForgetServer(lib);
            return hr;
        }
    }
    hr = BuildStatArrays(lib);
    if (FAILED(hr)) {
        ForgetServer(lib);
        return hr;
    }
    lib.connected = true;
    // A server seen alive is watched from now on (a stand-in without the
    // mutex is not).
    lib.watchServer = ServerMutexExists(lib);
    lib.serverGone = false;
    InterlockedExchange(&lib.lastCheck, LONG(GetTickCount()));
    return S_OK;
}

IQORDriver *Server()
{
    Library &lib = Lib();
    if (!lib.connected || !lib.server) {
        if (FAILED(Connect()))
            return nullptr;
    }
    return lib.server;
}

static void RevokeCookie(Library &lib)
{
    if (lib.git && lib.cookie)
        lib.git->RevokeInterfaceFromGlobal(lib.cookie);
    lib.cookie = 0;
}

void CleanUp(uint16_t *status)
{
    Library &lib = Lib();
    if (status)
        *status = 0;
    if (!lib.connected)
        return;
    long remaining = 0;
    HRESULT hr = lib.server->get_KivRef(&remaining);
    if (FAILED(hr) && status)
        *status = 510;
    RevokeCookie(lib);
    ForgetServer(lib);
}

void Disconnect()
{
    Library &lib = Lib();
    VariantClear(&lib.statZeros);
    RevokeCookie(lib);
    if (lib.git)
        lib.git->Release();
    lib.git = nullptr;
    if (lib.connected)
        CleanUp(nullptr);
    ForgetServer(lib);
    VariantClear(&lib.statNames);
    if (lib.comInitialised) {
        CoUninitialize();
        lib.comInitialised = false;
    }
}

// Whether the calling thread is in the apartment that created the server
// pointer, where the table's copy is that very pointer.
static bool InCreatingApartment(const Library &lib)
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier)))
        return false;
    if (type == APTTYPE_MTA)
        return lib.createdInMta;
    return !lib.createdInMta && (type == APTTYPE_STA || type == APTTYPE_MAINSTA) &&
           lib.createdOnThread == GetCurrentThreadId();
}

HRESULT ParserServer(IDriver **server)
{
    *server = nullptr;
    Library &lib = Lib();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            Disconnect();
        if (!Server())
            return E_FAIL;
        // In its own apartment the table's copy is the pointer itself; a
        // pointer of the multithreaded apartment has no table entry.
        if (!lib.cookie || InCreatingApartment(lib)) {
            lib.server->AddRef();
            *server = lib.server;
            return S_OK;
        }
        HRESULT hr = lib.git->GetInterfaceFromGlobal(lib.cookie, IID_IDriver, reinterpret_cast<void **>(server));
        if (SUCCEEDED(hr) && *server)
            return S_OK;
        *server = nullptr;
    }
    return E_FAIL;
}

static CCommonMemory *OpenStore(Library &lib);

// The server process has gone: its proxy and table entry lead nowhere, so
// they are forgotten without a call, and its blocks are marked failed.
static void ServerHasGone(Library &lib)
{
    lib.serverGone = true;
    lib.watchServer = false;
    lib.server = nullptr;
    lib.connected = false;
    lib.cookie = 0;
    if (CCommonMemory *store = OpenStore(lib))
        ForEachLiveBlock(*store, [&](unsigned short index, unsigned short status) {
            // Bad, communication failure; the high byte is the server's.
            store->SetDataBlockStatus(index, static_cast<unsigned short>((status & 0xFF00) | 0x18));
        });
}

void CheckServer()
{
    Library &lib = Lib();
    if (!lib.watchServer && !lib.serverGone)
        return;
    // One look a second, by one thread.
    LONG last = lib.lastCheck, now = LONG(GetTickCount());
    if (DWORD(now - last) < 1000 || InterlockedCompareExchange(&lib.lastCheck, now, last) != last)
        return;
    if (!lib.serverGone) {
        if (!ServerMutexExists(lib))
            ServerHasGone(lib);
        return;
    }
    // A new server (started by this link, or by another client) makes its
    // blocks anew, and the items find them again by their texts.
    Connect(true);
}

static CCommonMemory *OpenStore(Library &lib)
{
    if (!lib.store) {
        CCommonMemory *created = new CCommonMemory(STORE_STANDARD_GROUPS, lib.driverName);
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile *>(&lib.store), created,
                                              nullptr) != nullptr)
            delete created;
    }
    return lib.store;
}

CCommonMemory *Store()
{
    CheckServer();
    return OpenStore(Lib());
}

template <class Fn> static bool Bind(HMODULE module, const char *name, Fn *fn)
{
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

bool BindSignal()
{
    SignalFunctions &signal = Lib().signal;
    if (signal.module && signal.output)
        return true;
    char path[128];
    DriverKey(path, sizeof(path));
    char file[129] = "";
    unsigned long length = 128;
    CRegistry registry;
    if (registry.OpenKey(path) != ERROR_SUCCESS || registry.ReadValue("SignalDll", file, &length) != ERROR_SUCCESS)
        file[0] = '\0';
    if (!file[0])
        strcpy(file, "Parvel.Dll");
    SignalFunctions bound;
    bound.module = LoadLibraryA(file);
    if (!bound.module)
        return false;
    if (!(Bind(bound.module, "ParseSigCond", &bound.parse) && Bind(bound.module, "DisplaySigCond", &bound.display) &&
          Bind(bound.module, "GetFirstSigCond", &bound.first) && Bind(bound.module, "GetNextSigCond", &bound.next) &&
          Bind(bound.module, "InputSigCond32", &bound.input) &&
          Bind(bound.module, "OutputSigCond32", &bound.output))) {
        FreeLibrary(bound.module);
        return false;
    }
    if (signal.module)
        FreeLibrary(signal.module);
    signal = bound;
    return true;
}

void End(bool processTerminating)
{
    Library &lib = Lib();
    if (processTerminating) {
        // The proxies and the table go with the process.
        lib.server = nullptr;
        lib.git = nullptr;
        lib.cookie = 0;
        lib.connected = false;
        lib.comInitialised = false;
    } else {
        Disconnect();
        if (lib.signal.module)
            FreeLibrary(lib.signal.module);
    }
    lib.signal = SignalFunctions();
    delete lib.store;
    lib.store = nullptr;
    lib.driverName[0] = '\0';
    lib.started = false;
}

}  // namespace kiv
