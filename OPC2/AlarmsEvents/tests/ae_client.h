// An OPC AE client of Aleron as tests and the benchmark use it: the I/O
// server's plant (the simulated controller's catalogue, the registrations,
// one channel, device and two data blocks made through IQORDriver), an
// IOPCEventSink that records what OnEvent delivers, and a subscription
// advised through IConnectionPointContainer.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "OpcAe.h"
#include "QORDriver.h"

namespace aeclient {

inline std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

inline DWORD Run(std::string command, DWORD timeoutMs = 30000)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return DWORD(-1);
    CloseHandle(pi.hThread);
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return code;
}

// Polls done every 20 ms until it holds (true) or ms have passed (false).
inline bool WaitUntil(const std::function<bool()> &done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(20);
    }
    return true;
}

inline VARIANT Text(const wchar_t *text)
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}
inline VARIANT I2(short value)
{
    VARIANT v;
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}
inline VARIANT I4(LONG value)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

// Parallel name and value arrays for the tree-editing members.
struct Properties {
    VARIANT names, values;
    explicit Properties(const std::vector<std::pair<const wchar_t *, VARIANT>> &list)
    {
        SAFEARRAY *n = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        SAFEARRAY *v = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        for (LONG i = 0; i < LONG(list.size()); ++i) {
            VARIANT name = Text(list[size_t(i)].first), value = list[size_t(i)].second;
            SafeArrayPutElement(n, &i, &name);
            SafeArrayPutElement(v, &i, &value);
            VariantClear(&name);
            VariantClear(&value);
        }
        V_VT(&names) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&names) = n;
        V_VT(&values) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&values) = v;
    }
    ~Properties()
    {
        VariantClear(&names);
        VariantClear(&values);
    }
};

const char kCp[] = "CPAE";
const char kVfd[] = "VFDAE";
const char kConn[] = "PLCAE";
const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";

inline void SetDefault(const char *name, const std::string *text, DWORD number)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDefaults, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (text)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text->c_str()), DWORD(text->size() + 1));
    else
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
    RegCloseKey(key);
}

// The catalogue (inherited by the server that COM starts from this
// process), the server's defaults (no configuration file to load; the log
// read through QOR_TEST_LOG_FILE) and the registrations. An empty text
// when all went well, else what failed.
inline std::string PreparePlant(const std::string &logPath)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string catalogue = std::string(temp) + "aleron_events.cfg";
    if (FILE *f = fopen(catalogue.c_str(), "w")) {
        fprintf(f, "cp %s\nvfd %s %s\nconnection %s %s %s\n", kCp, kCp, kVfd, kCp, kVfd, kConn);
        fclose(f);
    } else {
        return "cannot write the catalogue";
    }
    SetEnvironmentVariableA("S732_CONFIG", catalogue.c_str());
    if (!logPath.empty()) {
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", logPath.c_str());
    }
    std::string folder = temp, file = "aleron_events_absent.qor";
    SetDefault("DriverDefaultConfigFilePath", &folder, 0);
    SetDefault("DriverDefaultConfigFileName", &file, 0);
    for (const char *name : {"LogErrors", "LogWarnings", "LogInfo", "LogDebug1"})
        SetDefault(name, nullptr, 1);
    if (Run("\"" + BinFolder() + "Hadrel.exe\" /RegServer") != 0)
        return "Hadrel.exe /RegServer failed";
    for (const char *library : {"Aleron.dll", "opc_aeps.dll", "OpcProxy.dll"})
        if (Run("regsvr32.exe /s \"" + BinFolder() + library + "\"") != 0)
            return std::string("regsvr32 ") + library + " failed";
    return "";
}

// Handles of the plant's objects in the server.
struct Plant {
    LONG channel = 0, device = 0, block = 0, block2 = 0;
};

// Ch1 on the catalogue's CP, Dev1 on its controller (failures retried
// after one second), Blk1 (DB10) and Blk2 (DB11) polled every 0.1 s.
inline HRESULT BuildPlant(IQORDriver *driver, Plant *plant)
{
    wchar_t cp[16], vfd[16], conn[16];
    MultiByteToWideChar(CP_ACP, 0, kCp, -1, cp, 16);
    MultiByteToWideChar(CP_ACP, 0, kVfd, -1, vfd, 16);
    MultiByteToWideChar(CP_ACP, 0, kConn, -1, conn, 16);
    VARIANT errors;
    VariantInit(&errors);
    Properties channel({{L"Name", Text(L"Ch1")}, {L"PrimaryCPName", Text(cp)}, {L"PrimaryVFDName", Text(vfd)},
                        {L"Enabled", I2(1)}});
    HRESULT hr = driver->AddChannel(channel.names, channel.values, &errors, &plant->channel);
    VariantClear(&errors);
    if (FAILED(hr))
        return hr;
    Properties device({{L"Name", Text(L"Dev1")}, {L"PrimaryConnName", Text(conn)}, {L"PrimaryRetries", I4(0)},
                       {L"PrimaryDelay", Text(L"1")}, {L"Enabled", I2(1)}});
    hr = driver->AddDevice(plant->channel, device.names, device.values, &errors, &plant->device);
    VariantClear(&errors);
    if (FAILED(hr))
        return hr;
    const wchar_t *names[2] = {L"Blk1", L"Blk2"};
    const wchar_t *starts[2] = {L"DB10,0", L"DB11,0"};
    LONG *handles[2] = {&plant->block, &plant->block2};
    for (int i = 0; i < 2 && SUCCEEDED(hr); ++i) {
        Properties block({{L"Name", Text(names[i])}, {L"StartAddress", Text(starts[i])}, {L"Length", I4(10)},
                          {L"PrimaryPollTime", Text(L"0.1")}, {L"Enabled", I2(1)}});
        hr = driver->AddDataBlock(plant->device, block.names, block.values, &errors, handles[i]);
        VariantClear(&errors);
    }
    return hr;
}

inline HRESULT SetProperty(IDriver *driver, LONG handle, const wchar_t *name, VARIANT value)
{
    VARIANT n = Text(name), errors;
    VariantInit(&errors);
    HRESULT hr = driver->SetPropertyData(handle, n, value, &errors);
    VariantClear(&n);
    VariantClear(&errors);
    return hr;
}

// One delivered event as the sink saw it.
struct Seen {
    std::wstring source, message, condition, subCondition, actor;
    DWORD category, eventType, severity;
    OPCHANDLE clientHandle;
    LARGE_INTEGER at;   // when OnEvent took it
};

// Records every OnEvent; a hook, when set, runs inside each call.
class EventSink final : public IOPCEventSink {
public:
    EventSink()
    {
        InitializeCriticalSection(&m_lock);
        m_arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOPCEventSink))
            return E_NOINTERFACE;
        *out = static_cast<IOPCEventSink *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG count = InterlockedDecrement(&m_refs);
        if (count == 0)
            delete this;
        return ULONG(count);
    }
    STDMETHODIMP OnEvent(OPCHANDLE clientHandle, BOOL, BOOL, DWORD count, ONEVENTSTRUCT *events) override
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        std::vector<Seen> batch;
        for (DWORD i = 0; i < count; ++i) {
            const ONEVENTSTRUCT &e = events[i];
            auto text = [](LPWSTR s) { return std::wstring(s ? s : L"(null)"); };
            batch.push_back(Seen{text(e.szSource), text(e.szMessage), text(e.szConditionName),
                                 text(e.szSubconditionName), text(e.szActorID), e.dwEventCategory, e.dwEventType,
                                 e.dwSeverity, clientHandle, now});
        }
        EnterCriticalSection(&m_lock);
        m_seen.insert(m_seen.end(), batch.begin(), batch.end());
        m_batches.push_back(count);
        std::function<void()> hook = m_hook;
        LeaveCriticalSection(&m_lock);
        SetEvent(m_arrived);
        if (hook)
            hook();
        return S_OK;
    }

    void SetHook(std::function<void()> hook)
    {
        EnterCriticalSection(&m_lock);
        m_hook = std::move(hook);
        LeaveCriticalSection(&m_lock);
    }
    std::vector<Seen> Events()
    {
        EnterCriticalSection(&m_lock);
        std::vector<Seen> copy = m_seen;
        LeaveCriticalSection(&m_lock);
        return copy;
    }
    std::vector<DWORD> Batches()
    {
        EnterCriticalSection(&m_lock);
        std::vector<DWORD> copy = m_batches;
        LeaveCriticalSection(&m_lock);
        return copy;
    }
    size_t Count()
    {
        EnterCriticalSection(&m_lock);
        size_t n = m_seen.size();
        LeaveCriticalSection(&m_lock);
        return n;
    }
    // Waits until count events arrived or ms passed; pumps messages for a
    // single-threaded client, whose calls arrive through its window.
    bool WaitFor(size_t count, DWORD ms)
    {
        DWORD end = GetTickCount() + ms;
        while (Count() < count) {
            LONG left = LONG(end - GetTickCount());
            if (left <= 0)
                return false;
            DWORD got = MsgWaitForMultipleObjects(1, &m_arrived, FALSE, DWORD(left), QS_ALLINPUT);
            if (got == WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
            }
        }
        return true;
    }

private:
    ~EventSink()
    {
        CloseHandle(m_arrived);
        DeleteCriticalSection(&m_lock);
    }
    volatile LONG m_refs = 1;
    CRITICAL_SECTION m_lock;
    HANDLE m_arrived;
    std::vector<Seen> m_seen;
    std::vector<DWORD> m_batches;
    std::function<void()> m_hook;
};

// One subscription of an event server with a sink advised on it.
struct Subscription {
    IOPCEventSubscriptionMgt *mgt = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;

    HRESULT Create(IOPCEventServer *server, BOOL active, DWORD maxSize, OPCHANDLE clientHandle)
    {
        DWORD revisedTime = 0, revisedSize = 0;
        IUnknown *made = nullptr;
        HRESULT hr = server->CreateEventSubscription(active, 0, maxSize, clientHandle, IID_IOPCEventSubscriptionMgt,
                                                     &made, &revisedTime, &revisedSize);
        if (FAILED(hr))
            return hr;
        mgt = static_cast<IOPCEventSubscriptionMgt *>(made);
        IConnectionPointContainer *container = nullptr;
        hr = mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
        if (FAILED(hr))
            return hr;
        hr = container->FindConnectionPoint(IID_IOPCEventSink, &point);
        container->Release();
        return hr;
    }
    HRESULT Advise(IOPCEventSink *sink) { return point->Advise(sink, &cookie); }
    HRESULT Unadvise()
    {
        HRESULT hr = point->Unadvise(cookie);
        cookie = 0;
        return hr;
    }
    void Release()
    {
        if (point)
            point->Release();
        if (mgt)
            mgt->Release();
        point = nullptr;
        mgt = nullptr;
    }
};

inline IOPCEventServer *CreateEventServer(HRESULT *result)
{
    CLSID aleron;
    IOPCEventServer *server = nullptr;
    *result = CLSIDFromProgID(L"Veltrane.Aleron", &aleron);
    if (SUCCEEDED(*result))
        *result = CoCreateInstance(aleron, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                   reinterpret_cast<void **>(&server));
    return server;
}

} // namespace aeclient
