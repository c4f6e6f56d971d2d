// Aleron.dll in a client process against the real Hadrel.exe: creating an
// event server starts the I/O server, the event space and the sources'
// conditions answer as the configuration says, switching by source and by
// area changes "SendEvents" in the server, and the last event server's
// release lets the server close. The client's own callback, connected
// through the server's IConnectSink, sees the records that the switching
// lets through.
#include <windows.h>
#include <ole2.h>
#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include "OpcAe.h"
#include "QORDriver.h"
#include "alarm_sink.h"
#include "task_strings.h"

namespace {

const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";
const CLSID kAleron = {0x402D97D4, 0x7270, 0x11D6, {0xB9, 0x8B, 0x00, 0x50, 0xDA, 0xCA, 0x0D, 0x41}};

std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

void SetValue(const char *name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDefaults, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof value);
    RegCloseKey(key);
}
void SetValue(const char *name, const std::string &value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDefaults, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(key);
}

// The server's log lines (pid, kind, text separated by tabs): the texts
// that the server process started by COM wrote (not the registration's).
std::vector<std::string> LogTexts(const std::string &path)
{
    std::vector<std::string> texts;
    std::ifstream in(path);
    std::string line, serverPid;
    while (std::getline(in, line)) {
        size_t a = line.find('\t'), b = a == std::string::npos ? a : line.find('\t', a + 1);
        if (b == std::string::npos)
            continue;
        std::string pid = line.substr(0, a), text = line.substr(b + 1);
        if (text == "Server initialized")
            serverPid = pid;
        if (!serverPid.empty() && pid == serverPid)
            texts.push_back(text);
    }
    return texts;
}

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

VARIANT Text(const wchar_t *text)
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

// A one-dimensional array of VARIANTs, taking the elements over.
VARIANT Array(std::vector<VARIANT> elements)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(elements.size()));
    for (LONG i = 0; i < LONG(elements.size()); ++i) {
        SafeArrayPutElement(array, &i, &elements[size_t(i)]);
        VariantClear(&elements[size_t(i)]);
    }
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = array;
    return v;
}

class AleronAgainstHadrel : public testing::Test {
protected:
    void SetUp() override
    {
        logPath = BinFolder() + "aleron_server_test.log";
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", logPath.c_str());
        for (const char *name : {"LogErrors", "LogWarnings", "LogInfo", "LogDebug1"})
            SetValue(name, 1);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        SetValue("DriverDefaultConfigFilePath", std::string(temp));
        SetValue("DriverDefaultConfigFileName", "aleron_absent.qor");
        ASSERT_EQ(0u, Run("\"" + BinFolder() + "Hadrel.exe\" /RegServer"));

        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        library = LoadLibraryA((BinFolder() + "Aleron.dll").c_str());
        ASSERT_NE(nullptr, library);
        auto getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
            GetProcAddress(library, "DllGetClassObject"));
        ASSERT_NE(nullptr, getClassObject);
        IClassFactory *factory = nullptr;
        ASSERT_EQ(S_OK, getClassObject(kAleron, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
        HRESULT hr = factory->CreateInstance(nullptr, IID_IOPCEventServer, reinterpret_cast<void **>(&server));
        factory->Release();
        ASSERT_EQ(S_OK, hr);
        // The same server process, reached by this client itself.
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                         reinterpret_cast<void **>(&driver)));
    }
    void TearDown() override
    {
        if (driver)
            driver->Release();
        if (server)
            server->Release();
        CoUninitialize();
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", nullptr);
    }
    static DWORD Run(std::string command)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return DWORD(-1);
        CloseHandle(pi.hThread);
        DWORD code = DWORD(-1);
        if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        return code;
    }
    bool Logged(const std::string &text) const
    {
        for (const std::string &t : LogTexts(logPath))
            if (t == text)
                return true;
        return false;
    }
    LONG Add(const std::function<HRESULT(VARIANT, VARIANT, VARIANT *, LONG *)> &add,
             std::vector<const wchar_t *> names, std::vector<VARIANT> values)
    {
        std::vector<VARIANT> nameValues;
        for (const wchar_t *n : names)
            nameValues.push_back(Text(n));
        VARIANT n = Array(nameValues), v = Array(values), e;
        VariantInit(&e);
        LONG handle = 0;
        EXPECT_EQ(S_OK, add(n, v, &e, &handle));
        VariantClear(&n);
        VariantClear(&v);
        VariantClear(&e);
        return handle;
    }
    // One property of an object, read into value or written from it.
    HRESULT Property(bool write, LONG handle, const wchar_t *name, VARIANT *value)
    {
        VARIANT n = Text(name), e;
        VariantInit(&e);
        HRESULT hr = write ? driver->SetPropertyData(handle, n, *value, &e) : driver->GetPropertyData(handle, n, value, &e);
        VariantClear(&n);
        VariantClear(&e);
        return hr;
    }
    short SendEvents(LONG handle)
    {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(S_OK, Property(false, handle, L"SendEvents", &v));
        VariantChangeType(&v, &v, 0, VT_I2);
        short value = V_I2(&v);
        VariantClear(&v);
        return value;
    }
    HRESULT SetEnabled(LONG handle, short on)
    {
        VARIANT v;
        V_VT(&v) = VT_I2;
        V_I2(&v) = on;
        return Property(true, handle, L"Enabled", &v);
    }
    using Switch = HRESULT (STDMETHODCALLTYPE IOPCEventServer::*)(DWORD, LPWSTR *);
    HRESULT Call(Switch member, std::vector<const wchar_t *> names)
    {
        return (server->*member)(DWORD(names.size()), const_cast<LPWSTR *>(names.data()));
    }

    std::string logPath;
    HMODULE library = nullptr;
    IOPCEventServer *server = nullptr;
    IQORDriver *driver = nullptr;
    apptest::RecordingAlarmSink sink;   // outlives the server's proxy of it
};

TEST_F(AleronAgainstHadrel, QueriesSwitchingAndTheServersEnd)
{
    OPCEVENTSERVERSTATUS *status = nullptr;
    ASSERT_EQ(S_OK, server->GetStatus(&status));
    EXPECT_EQ(7, status->wMajorVersion);
    EXPECT_EQ(20, status->wMinorVersion);
    EXPECT_EQ(1, status->wBuildNumber);
    EXPECT_EQ(std::wstring(L"QOROPCAE - Veltrane Inc. OPC Alarms & Events Server v7.20.1"), status->szVendorInfo);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    LONG channel = Add([&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddChannel(n, v, e, h); },
                       {L"Name", L"PrimaryCPName"}, {Text(L"Ch1"), Text(L"CPBLK")});
    LONG device = Add(
        [&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddDevice(channel, n, v, e, h); },
        {L"Name", L"PrimaryConnName"}, {Text(L"Dev1"), Text(L"PLCBLK1")});
    VARIANT length;
    V_VT(&length) = VT_I4;
    V_I4(&length) = 10;
    LONG block = Add(
        [&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddDataBlock(device, n, v, e, h); },
        {L"Name", L"StartAddress", L"Length"}, {Text(L"Blk1"), Text(L"DB10,0"), length});

    // One table of query cases.
    using Names = std::vector<std::wstring>;
    struct Query {
        const char *what;
        std::function<HRESULT(DWORD *, LPWSTR **)> call;
        HRESULT result;
        Names names;
    } queries[] = {
        {"categories of type 1",
         [&](DWORD *c, LPWSTR **n) {
             DWORD *ids = nullptr;
             HRESULT hr = server->QueryEventCategories(1, c, &ids, n);
             CoTaskMemFree(ids);
             return hr;
         },
         S_OK, {L"DataBlock Status", L"Object State", L"Driver State"}},
        {"categories of type 7",
         [&](DWORD *c, LPWSTR **n) {
             DWORD *ids = nullptr;
             HRESULT hr = server->QueryEventCategories(7, c, &ids, n);
             CoTaskMemFree(ids);
             return hr;
         },
         S_OK, {L"DataBlock Status", L"Object State", L"Driver State"}},
        {"categories of type 2",
         [&](DWORD *c, LPWSTR **n) {
             DWORD *ids = nullptr;
             return server->QueryEventCategories(2, c, &ids, n);
         },
         E_FAIL, {}},
        {"categories of type 4",
         [&](DWORD *c, LPWSTR **n) {
             DWORD *ids = nullptr;
             return server->QueryEventCategories(4, c, &ids, n);
         },
         E_FAIL, {}},
        {"conditions of 4", [&](DWORD *c, LPWSTR **n) { return server->QueryConditionNames(4, c, n); }, S_OK,
         {L"Running State"}},
        {"sub-conditions of COMM Status",
         [&](DWORD *c, LPWSTR **n) { return server->QuerySubConditionNames(const_cast<LPWSTR>(L"COMM Status"), c, n); },
         S_OK, {L"COMM Failure", L"COMM Recovered"}},
        {"source Hadrel",
         [&](DWORD *c, LPWSTR **n) { return server->QuerySourceConditions(const_cast<LPWSTR>(L"Hadrel"), c, n); },
         E_FAIL, {}},
        {"source Blk1",
         [&](DWORD *c, LPWSTR **n) { return server->QuerySourceConditions(const_cast<LPWSTR>(L"Blk1"), c, n); },
         S_OK, {L"COMM Status", L"Enabled State"}},
        {"source Channels:Ch1",
         [&](DWORD *c, LPWSTR **n) {
             return server->QuerySourceConditions(const_cast<LPWSTR>(L"Channels:Ch1"), c, n);
         },
         S_OK, {L"Enabled State"}},
    };
    for (const Query &q : queries) {
        DWORD count = 0;
        LPWSTR *names = nullptr;
        ASSERT_EQ(q.result, q.call(&count, &names)) << q.what;
        if (q.result == S_OK) {
            EXPECT_EQ(q.names, TakeStrings(names, count)) << q.what;
        }
    }

    // The client's callback on the server: forwarded records follow the switch.
    IConnectSink *connect = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connect)));
    LONG connection = 0;
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &sink, 1, &connection));

    ASSERT_EQ(0, SendEvents(block));
    EXPECT_EQ(S_OK, Call(&IOPCEventServer::EnableConditionBySource, {L"Blk1"}));
    EXPECT_EQ(1, SendEvents(block));
    ASSERT_EQ(S_OK, SetEnabled(block, 0));
    EXPECT_EQ(S_OK, Call(&IOPCEventServer::DisableConditionBySource, {L"DataBlocks:Blk1"}));
    EXPECT_EQ(0, SendEvents(block));
    ASSERT_EQ(S_OK, SetEnabled(block, 1));   // not forwarded
    EXPECT_EQ(S_OK, Call(&IOPCEventServer::EnableConditionByArea, {L"Devices", L"Driver"}));
    EXPECT_EQ(1, SendEvents(device));
    EXPECT_EQ(1, SendEvents(0));
    EXPECT_EQ(0, SendEvents(channel));
    EXPECT_EQ(S_OK, Call(&IOPCEventServer::DisableConditionByArea, {L"devices"}));
    EXPECT_EQ(0, SendEvents(device));
    EXPECT_EQ(S_OK, Call(&IOPCEventServer::EnableConditionByArea, {L"Nowhere"}));

    std::vector<apptest::RecordingAlarmSink::Call> calls = sink.WaitFor(1, 10000);
    Sleep(200);
    calls = sink.Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("DataBlock Blk1 Disabled", calls[0].text);
    EXPECT_EQ("OnMessage2", calls[0].method);
    EXPECT_EQ(S_OK, connect->Disconnect(connection));
    connect->Release();
    EXPECT_TRUE(Logged("Alarm & Event server component connected"));
    EXPECT_TRUE(Logged("Alarm & Event server component disconnected"));

    // The last event server's release lets the server close.
    driver->Release();
    driver = nullptr;
    EXPECT_FALSE(Logged("Server shutdown")) << "the event server still holds the server";
    server->Release();
    server = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return Logged("Server shutdown"); }, 30000));
}

} // namespace
