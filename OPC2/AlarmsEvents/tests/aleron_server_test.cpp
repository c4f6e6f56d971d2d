// Aleron.dll registered with regsvr32 in the test prefix and created by its
// ProgID in a client process, against the real Hadrel.exe: creating an
// event server starts the I/O server, the event space and the sources'
// conditions answer as the configuration says, switching by source and by
// area changes "SendEvents" in the server, and the last event server's
// release tells the IOPCShutdown client and lets the server close. The
// client's own callback, connected through the server's IConnectSink, sees
// the records that the switching lets through. A single-threaded client
// reaches the free-threaded object through the proxy libraries; "/u"
// removes the registration.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include "OpcAe.h"
#include "OpcCommon.h"
#include "QORDriver.h"
#include "ae_client.h"
#include "alarm_sink.h"
#include "task_strings.h"

namespace {

const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";
const char kAleronClsid[] = "{402D97D4-7270-11D6-B98B-0050DACA0D41}";
const char kCategory[] = "{58E13251-AC87-11D1-84D5-00608CB8A7E9}";

using aeclient::BinFolder;

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

using aeclient::WaitUntil;

using aeclient::Text;

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

// An IOPCShutdown client: records each request's reason.
class ShutdownSink : public IOPCShutdown {
public:
    std::vector<std::wstring> reasons;
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOPCShutdown))
            return E_NOINTERFACE;
        *out = static_cast<IOPCShutdown *>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override
    {
        reasons.push_back(reason ? reason : L"(null)");
        return S_OK;
    }
};

bool ReadDefault(const std::string &key, const char *name, std::string &text)
{
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    text = buffer;
    return true;
}

bool KeyExists(const std::string &key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
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

        for (const char *library : {"Aleron.dll", "opc_aeps.dll", "OpcProxy.dll"})
            ASSERT_EQ(0u, Run("regsvr32.exe /s \"" + BinFolder() + library + "\"")) << library;

        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CLSID aleron;
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"Veltrane.Aleron", &aleron));
        ASSERT_EQ(S_OK, CoCreateInstance(aleron, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                         reinterpret_cast<void **>(&server)));
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
public:
    static DWORD Run(std::string command) { return aeclient::Run(std::move(command)); }
protected:
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
    IOPCEventServer *server = nullptr;
    IQORDriver *driver = nullptr;
    apptest::RecordingAlarmSink sink;   // outlives the server's proxy of it
};

TEST_F(AleronAgainstHadrel, QueriesSwitchingAndTheServersEnd)
{
    ShutdownSink shutdown;
    IConnectionPointContainer *container = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)));
    IConnectionPoint *point = nullptr;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    container->Release();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&shutdown, &cookie));
    point->Release();
    IUnknown *refused = nullptr;
    EXPECT_EQ(E_NOINTERFACE, server->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void **>(&refused)));
    IOPCCommon *common = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common)));
    LCID locale = 0;
    EXPECT_EQ(S_OK, common->GetLocaleID(&locale));
    EXPECT_EQ(LCID(LOCALE_SYSTEM_DEFAULT), locale);
    common->Release();

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
    auto categories = [&](DWORD type) {
        return [this, type](DWORD *c, LPWSTR **n) {
            DWORD *ids = nullptr;
            HRESULT hr = server->QueryEventCategories(type, c, &ids, n);
            CoTaskMemFree(ids);
            return hr;
        };
    };
    struct Query {
        const char *what;
        std::function<HRESULT(DWORD *, LPWSTR **)> call;
        HRESULT result;
        Names names;
    } queries[] = {
        {"categories of type 1", categories(1), S_OK, {L"DataBlock Status", L"Object State", L"Driver State"}},
        {"categories of type 7", categories(7), S_OK, {L"DataBlock Status", L"Object State", L"Driver State"}},
        {"categories of type 2", categories(2), E_FAIL, {}},
        {"categories of type 4", categories(4), E_FAIL, {}},
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
    EXPECT_EQ(std::vector<std::wstring>{L""}, shutdown.reasons);
    EXPECT_TRUE(WaitUntil([&] { return Logged("Server shutdown"); }, 30000));
    auto canUnload = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(GetModuleHandleA("Aleron.dll"),
                                                                             "DllCanUnloadNow"));
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_OK, canUnload());
}

// What the single-threaded client saw.
struct StaSeen {
    HRESULT created = E_FAIL, status = E_FAIL, locale = E_FAIL, categories = E_FAIL, conditions = E_FAIL;
    std::wstring vendor;
    LCID lcid = 0;
    DWORD count = 0;
};

DWORD WINAPI StaClient(void *p)
{
    StaSeen &seen = *static_cast<StaSeen *>(p);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID aleron;
    CLSIDFromProgID(L"Veltrane.Aleron", &aleron);
    IOPCEventServer *events = nullptr;
    seen.created = CoCreateInstance(aleron, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                    reinterpret_cast<void **>(&events));
    if (SUCCEEDED(seen.created)) {
        OPCEVENTSERVERSTATUS *status = nullptr;
        seen.status = events->GetStatus(&status);
        if (status) {
            seen.vendor = status->szVendorInfo ? status->szVendorInfo : L"";
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        }
        IOPCCommon *common = nullptr;
        if (SUCCEEDED(events->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common)))) {
            seen.locale = common->GetLocaleID(&seen.lcid);
            common->Release();
        }
        DWORD *ids = nullptr;
        LPWSTR *texts = nullptr;
        seen.categories = events->QueryEventCategories(7, &seen.count, &ids, &texts);
        CoTaskMemFree(ids);
        if (texts)
            TakeStrings(texts, seen.count);
        DWORD count = 0;
        LPWSTR *names = nullptr;
        seen.conditions = events->QuerySourceConditions(const_cast<LPWSTR>(L"Hadrel"), &count, &names);
        events->Release();
    }
    CoUninitialize();
    return 0;
}

// A single-threaded client: the free-threaded event server lives in the
// multithreaded apartment and answers through the proxies.
TEST_F(AleronAgainstHadrel, ASingleThreadedClientCallsThroughTheProxies)
{
    StaSeen seen;
    HANDLE thread = CreateThread(nullptr, 0, StaClient, &seen, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    CloseHandle(thread);
    ASSERT_EQ(S_OK, seen.created);
    EXPECT_EQ(S_OK, seen.status);
    EXPECT_EQ(L"QOROPCAE - Veltrane Inc. OPC Alarms & Events Server v7.20.1", seen.vendor);
    EXPECT_EQ(S_OK, seen.locale);
    EXPECT_EQ(LCID(LOCALE_SYSTEM_DEFAULT), seen.lcid);
    EXPECT_EQ(S_OK, seen.categories);
    EXPECT_EQ(3u, seen.count);
    EXPECT_EQ(E_FAIL, seen.conditions);
}

struct KeyRow {
    std::string key;
    const char *value;   // null: the default value
    std::string expected;
};

// Runs last: it takes the registration away.
TEST_F(AleronAgainstHadrel, RegistrationWritesTheKeysAndTheCategoryAndUnregistrationRemovesThem)
{
    const std::string clsid = kAleronClsid, classKey = "CLSID\\" + clsid, appId = "AppID\\" + clsid;
    const KeyRow rows[] = {
        {"Veltrane.Aleron.1", nullptr, "QOR OPC Alarms & Events Server"},
        {"Veltrane.Aleron.1\\CLSID", nullptr, clsid},
        {"Veltrane.Aleron", nullptr, "QOR OPC Alarms & Events Server"},
        {"Veltrane.Aleron\\CurVer", nullptr, "Veltrane.Aleron.1"},
        {"Veltrane.Aleron\\CLSID", nullptr, clsid},
        {"Veltrane.Aleron\\OPC\\Vendor", nullptr, "Veltrane, Inc."},
        {classKey, nullptr, "QOR OPC Alarms & Events Server"},
        {classKey + "\\ProgID", nullptr, "Veltrane.Aleron"},
        {classKey + "\\VersionIndependentProgID", nullptr, "Veltrane.Aleron"},
        {classKey + "\\InprocServer32", "ThreadingModel", "Free"},
        {classKey, "AppID", clsid},
        {appId, nullptr, "QOR OPC Alarms & Events Server"},
        {appId, "DllSurrogate", ""},
        {appId, "RunAs", "Interactive User"},
        {"Component Categories\\" + std::string(kCategory), "409", "OPC Alarm and Event Servers Version 1.0"},
    };
    for (const KeyRow &row : rows) {
        std::string text;
        EXPECT_TRUE(ReadDefault(row.key, row.value, text)) << row.key << " " << (row.value ? row.value : "");
        EXPECT_EQ(row.expected, text) << row.key << " " << (row.value ? row.value : "");
    }
    std::string path;
    ASSERT_TRUE(ReadDefault(classKey + "\\InprocServer32", nullptr, path));
    EXPECT_NE(std::string::npos, path.find("Aleron.dll")) << path;
    EXPECT_TRUE(KeyExists(classKey + "\\NotInsertable"));
    EXPECT_TRUE(KeyExists(classKey + "\\Implemented Categories\\" + kCategory));

    // Not while objects live: release this test's event server first.
    server->Release();
    server = nullptr;
    ASSERT_EQ(0u, Run("regsvr32.exe /s /u \"" + BinFolder() + "Aleron.dll\""));
    for (const std::string &gone : {std::string("Veltrane.Aleron"), std::string("Veltrane.Aleron.1"), classKey, appId})
        EXPECT_FALSE(KeyExists(gone)) << gone;
    EXPECT_TRUE(KeyExists("Component Categories\\" + std::string(kCategory))) << "the description stays";
}

} // namespace

namespace {

// Without the I/O server registered: the event server is still made, and
// what needs the server fails.
TEST(AleronWithoutHadrel, CreationSucceedsAndWhatNeedsTheServerFails)
{
    ASSERT_EQ(0u, AleronAgainstHadrel::Run("\"" + BinFolder() + "Hadrel.exe\" /UnregServer"));
    ASSERT_EQ(0u, AleronAgainstHadrel::Run("regsvr32.exe /s \"" + BinFolder() + "Aleron.dll\""));
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CLSID aleron;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Veltrane.Aleron", &aleron));
    IOPCEventServer *server = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(aleron, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                     reinterpret_cast<void **>(&server)));
    OPCEVENTSERVERSTATUS *status = nullptr;
    EXPECT_EQ(S_OK, server->GetStatus(&status));
    if (status) {
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
    LPWSTR names[1] = {const_cast<LPWSTR>(L"Blk1")};
    EXPECT_EQ(E_FAIL, server->EnableConditionBySource(1, names));
    LPWSTR areas[1] = {const_cast<LPWSTR>(L"Driver")};
    EXPECT_EQ(E_FAIL, server->DisableConditionByArea(1, areas));
    DWORD count = 0;
    LPWSTR *conditions = nullptr;
    EXPECT_EQ(E_FAIL, server->QuerySourceConditions(names[0], &count, &conditions));
    server->Release();
    ASSERT_EQ(0u, AleronAgainstHadrel::Run("regsvr32.exe /s /u \"" + BinFolder() + "Aleron.dll\""));
    CoUninitialize();
}

} // namespace
