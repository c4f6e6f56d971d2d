// Brisko's server object in this process, made by the library's class
// factory, without the I/O server (its connection is replaced): IOPCServer's
// edge cases as a table, group removal while the client holds the group,
// the IOPCShutdown notice, and a poll thread that cannot start.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Brisko.h"
#include "ClassFactory.h"
#include "EventLogRecorder.h"
#include "KitFixture.h"
#include "OPCDrvServer.h"
#include "Object.h"
#include "OpcKit.h"

namespace {

int g_connects = 0;
HRESULT NoServer(REFCLSID, IDriver **driver)
{
    ++g_connects;
    *driver = nullptr;
    return REGDB_E_CLASSNOTREG;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, BRISKO_DEFAULTS_KEY);
        ASSERT_EQ(S_OK, ProcessAttach());
        m_previous = g_ClassFactory.SetDriverConnector(&NoServer);
        g_connects = 0;
        m_live = LiveObjectCount();
        ASSERT_EQ(S_OK, g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&server)));
    }
    void TearDown() override
    {
        if (server)
            server->Release();
        EXPECT_EQ(m_live, LiveObjectCount()) << "every server, group and point freed";
        EXPECT_EQ(0u, g_ClassFactory.GetServerCount());
        g_ClassFactory.SetDriverConnector(m_previous);
        COPCDrvServer::s_pfnJoinApartment = m_join;
        COPCDrvServer::s_dwStopLimitMs = 10000;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, BRISKO_DEFAULTS_KEY);
        ProcessDetach(true);
        CoUninitialize();
    }
    HRESULT Add(const wchar_t *name, DWORD rate, OPCHANDLE *handle, DWORD *revised, IOPCGroupStateMgt **group)
    {
        LONG bias = 0;
        return server->AddGroup(name, TRUE, rate, 7, &bias, nullptr, 2048, handle, revised, IID_IOPCGroupStateMgt,
                                reinterpret_cast<IUnknown **>(group));
    }
    // The server object itself (its IUnknown is the object), AddRef'd.
    IUnknown *Unknown()
    {
        IUnknown *unknown = nullptr;
        server->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown));
        return unknown;
    }
    std::wstring WideNameOf(IOPCGroupStateMgt *group)
    {
        DWORD rate, lcid;
        BOOL active;
        LPWSTR name = nullptr;
        LONG bias;
        FLOAT deadband;
        OPCHANDLE client, own;
        if (group->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &own) != S_OK)
            return L"(failed)";
        std::wstring wide(name);
        CoTaskMemFree(name);
        return wide;
    }
    std::string NameOf(IOPCGroupStateMgt *group)
    {
        std::wstring wide = WideNameOf(group);
        return std::string(wide.begin(), wide.end());
    }
    CEventLogRecorder m_events;
    IOPCServer *server = nullptr;
    COPCDrvClassFactory::DriverConnector m_previous = nullptr;
    HRESULT (*m_join)() = COPCDrvServer::s_pfnJoinApartment;
    unsigned m_live = 0;
};

TEST_F(ServerTest, CreationWithoutTheIOServerSucceedsAndIsLogged)
{
    EXPECT_EQ(1, g_connects);
    auto events = m_events.Events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(0xC1040002u, events[0].id);
    EXPECT_EQ(std::vector<std::string>({"Unable to connection to Hadrel"}), events[0].strings);
    IConnectionPoint *point = nullptr;
    EXPECT_EQ(E_NOINTERFACE, server->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void **>(&point)));
}

TEST_F(ServerTest, AddGroupRevisesRatesAndRefusesDuplicateNames)
{
    struct {
        const wchar_t *name;
        DWORD rate;
        HRESULT result;
        DWORD revised;
    } cases[] = {
        {L"Fast", 0, OPC_S_UNSUPPORTEDRATE, 25},
        {L"Exact", 25, S_OK, 25},
        {L"Slow", 1000, S_OK, 1000},
        {L"Fast", 100, OPC_E_DUPLICATENAME, 0},
    };
    std::vector<IOPCGroupStateMgt *> groups;
    for (auto &c : cases) {
        OPCHANDLE handle = 99;
        DWORD revised = 99;
        IOPCGroupStateMgt *group = nullptr;
        EXPECT_EQ(c.result, Add(c.name, c.rate, &handle, &revised, &group)) << c.rate;
        EXPECT_EQ(c.revised, revised);
        EXPECT_EQ(SUCCEEDED(c.result), handle != 0);
        EXPECT_EQ(SUCCEEDED(c.result), group != nullptr);
        if (group)
            groups.push_back(group);
    }
    IOPCGroupStateMgt *missing = nullptr;
    EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(L"fast", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&missing)));
    EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(L"", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&missing)));
    IOPCGroupStateMgt *found = nullptr;
    ASSERT_EQ(S_OK, server->GetGroupByName(L"Fast", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&found)));
    EXPECT_EQ(groups[0], found);
    found->Release();
    // SetState: rate 10 is raised to the minimum; only the revised pointer.
    DWORD rate = 10, revised = 0;
    EXPECT_EQ(OPC_S_UNSUPPORTEDRATE, groups[2]->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(25u, revised);
    EXPECT_EQ(S_OK, groups[2]->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(25u, revised);
    EXPECT_EQ(E_INVALIDARG, groups[2]->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(OPC_E_DUPLICATENAME, groups[2]->SetName(L"Exact"));
    EXPECT_EQ(E_INVALIDARG, groups[2]->SetName(L"   "));
    EXPECT_EQ(S_OK, groups[2]->SetName(L"Slow"));
    for (IOPCGroupStateMgt *g : groups)
        g->Release();
}

TEST_F(ServerTest, GeneratedNamesStartAtTheGroupCountAndSkipNamesInUse)
{
    IOPCGroupStateMgt *g[6] = {};
    OPCHANDLE handle;
    DWORD revised;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(S_OK, Add(L"", 25, &handle, &revised, &g[i]));
    EXPECT_EQ("Group0", NameOf(g[0]));
    EXPECT_EQ("Group1", NameOf(g[1]));
    EXPECT_EQ("Group2", NameOf(g[2]));
    // A name taken by hand is skipped: four groups, "Group4" in use -> Group5.
    ASSERT_EQ(S_OK, Add(L"Group4", 25, &handle, &revised, &g[3]));
    ASSERT_EQ(S_OK, Add(L"", 25, &handle, &revised, &g[4]));
    EXPECT_EQ("Group5", NameOf(g[4]));
    // The base is read afresh from the registry.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, BRISKO_DEFAULTS_KEY "\\GroupDefaults", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, "GeneratedGroupName", 0, REG_SZ, reinterpret_cast<const BYTE *>("Grp"), 4);
    RegCloseKey(key);
    ASSERT_EQ(S_OK, Add(L"", 25, &handle, &revised, &g[5]));
    EXPECT_EQ("Grp5", NameOf(g[5]));
    for (IOPCGroupStateMgt *group : g)
        group->Release();
}

TEST_F(ServerTest, StatusReportsVersionVendorAndBandwidthSinceTheLastCall)
{
    OPCHANDLE handle;
    DWORD revised;
    IOPCGroupStateMgt *group = nullptr;
    ASSERT_EQ(S_OK, Add(L"Busy", 25, &handle, &revised, &group));
    Sleep(200);  // some poll passes with the group's update due
    OPCSERVERSTATUS *status = nullptr;
    EXPECT_EQ(E_INVALIDARG, server->GetStatus(nullptr));
    ASSERT_EQ(S_OK, server->GetStatus(&status));
    EXPECT_EQ(7, status->wMajorVersion);
    EXPECT_EQ(20, status->wMinorVersion);
    EXPECT_EQ(1, status->wBuildNumber);
    EXPECT_EQ(42, status->wReserved);
    EXPECT_EQ(OPC_STATUS_RUNNING, status->dwServerState);
    EXPECT_EQ(1u, status->dwGroupCount);
    EXPECT_GT(status->dwBandWidth, 0u);
    EXPECT_LE(status->dwBandWidth, 100u);
    EXPECT_EQ(std::wstring(L"QOROPC - Veltrane Inc. OPC Server v7.20.1"), status->szVendorInfo);
    EXPECT_EQ(0, CompareFileTime(&g_ftServerStart, &status->ftStartTime));
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    ASSERT_EQ(S_OK, server->GetStatus(&status));
    EXPECT_EQ(0u, status->dwBandWidth) << "the counters restart with every call";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    group->Release();
}

TEST_F(ServerTest, RemovingAHeldGroupLeavesItAnsweringEFailUntilItsLastRelease)
{
    OPCHANDLE kept = 0, forced = 0, free = 0;
    DWORD revised;
    IOPCGroupStateMgt *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_EQ(S_OK, Add(L"Kept", 25, &kept, &revised, &a));
    ASSERT_EQ(S_OK, Add(L"Forced", 25, &forced, &revised, &b));
    ASSERT_EQ(S_OK, Add(L"Free", 25, &free, &revised, &c));
    c->Release();
    COPCDrvServer *object = static_cast<COPCDrvServer *>(Unknown());
    EXPECT_EQ(COPCDrvServer::GroupInList, object->StandingOf(kept));

    struct {
        OPCHANDLE handle;
        BOOL force;
        HRESULT result;
    } cases[] = {
        {kept, FALSE, OPC_S_INUSE}, {forced, TRUE, S_OK}, {free, FALSE, S_OK},
        {kept, FALSE, E_INVALIDARG}, {0, FALSE, E_INVALIDARG}, {0x12345678, TRUE, E_INVALIDARG},
    };
    for (auto &r : cases)
        EXPECT_EQ(r.result, server->RemoveGroup(r.handle, r.force)) << std::hex << r.handle;
    IUnknown *none = nullptr;
    EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(L"Kept", IID_IUnknown, &none));

    // Three standings: in the list, removed but held, gone.
    EXPECT_EQ(COPCDrvServer::GroupRemoved, object->StandingOf(kept));
    EXPECT_EQ(COPCDrvServer::GroupRemoved, object->StandingOf(forced));
    EXPECT_EQ(COPCDrvServer::GroupGone, object->StandingOf(free));

    // The client's pointers still work as objects and say the group is gone.
    DWORD rate = 100;
    EXPECT_EQ(E_FAIL, a->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("(failed)", NameOf(b));
    EXPECT_EQ(E_FAIL, b->SetName(L"Again"));
    unsigned live = LiveObjectCount();
    EXPECT_EQ(0u, a->Release());
    EXPECT_EQ(0u, b->Release());
    EXPECT_EQ(live - 2, LiveObjectCount()) << "freed at the client's last release";
    EXPECT_EQ(E_INVALIDARG, server->RemoveGroup(forced, TRUE)) << "a freed group's handle names nothing";
    EXPECT_EQ(COPCDrvServer::GroupGone, object->StandingOf(kept));
    object->Release();
}

TEST_F(ServerTest, GroupsAreEnumeratedByScope)
{
    OPCHANDLE handle;
    DWORD revised;
    IOPCGroupStateMgt *a = nullptr, *b = nullptr;
    ASSERT_EQ(S_OK, Add(L"A", 25, &handle, &revised, &a));
    ASSERT_EQ(S_OK, Add(L"B", 25, &handle, &revised, &b));
    struct {
        OPCENUMSCOPE scope;
        HRESULT result;
        ULONG count;
    } cases[] = {
        {OPC_ENUM_PRIVATE_CONNECTIONS, S_OK, 2}, {OPC_ENUM_PUBLIC_CONNECTIONS, S_FALSE, 0},
        {OPC_ENUM_ALL_CONNECTIONS, S_OK, 2},     {OPC_ENUM_PRIVATE, S_OK, 2},
        {OPC_ENUM_PUBLIC, S_FALSE, 0},           {OPC_ENUM_ALL, S_OK, 2},
    };
    for (auto &c : cases) {
        IEnumString *names = nullptr;
        EXPECT_EQ(c.result, server->CreateGroupEnumerator(c.scope, IID_IEnumString, reinterpret_cast<IUnknown **>(&names)));
        ASSERT_NE(nullptr, names);
        LPOLESTR got[3] = {};
        ULONG fetched = 0;
        names->Next(3, got, &fetched);
        EXPECT_EQ(c.count, fetched) << c.scope;
        if (fetched == 2) {
            EXPECT_EQ(std::wstring(L"A"), got[0]);
            EXPECT_EQ(std::wstring(L"B"), got[1]);
        }
        for (ULONG i = 0; i < fetched; ++i)
            CoTaskMemFree(got[i]);
        names->Release();
    }
    IEnumUnknown *objects = nullptr;
    ASSERT_EQ(S_OK, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<IUnknown **>(&objects)));
    IUnknown *first = nullptr;
    EXPECT_EQ(S_OK, objects->Next(1, &first, nullptr));
    IOPCGroupStateMgt *state = nullptr;
    ASSERT_EQ(S_OK, first->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void **>(&state)));
    EXPECT_EQ(a, state);
    state->Release();
    first->Release();
    objects->Release();
    IUnknown *other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumConnections, &other));
    a->Release();
    b->Release();
}

// A name beyond ASCII is kept as ANSI text: the enumerator, GetState and
// GetGroupByName all see it as the code page gives it back, not its bytes
// widened one by one.
TEST_F(ServerTest, AGroupNameBeyondAsciiComesBackAsItWasGiven)
{
    const wchar_t *given = L"Gr\u00f6\u00dfe";
    char ansi[32] = {};
    wchar_t back[32] = {};
    WideCharToMultiByte(CP_ACP, 0, given, -1, ansi, sizeof(ansi), nullptr, nullptr);
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, 32);
    const std::wstring expected = back;
    if (GetACP() == 1252) {
        EXPECT_EQ(std::wstring(given), expected) << "the Western code page holds the name";
    }

    OPCHANDLE handle;
    DWORD revised;
    IOPCGroupStateMgt *group = nullptr;
    ASSERT_EQ(S_OK, Add(given, 25, &handle, &revised, &group));
    IEnumString *names = nullptr;
    ASSERT_EQ(S_OK, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, reinterpret_cast<IUnknown **>(&names)));
    LPOLESTR listed = nullptr;
    ASSERT_EQ(S_OK, names->Next(1, &listed, nullptr));
    EXPECT_EQ(expected, std::wstring(listed)) << "enumerated";
    CoTaskMemFree(listed);
    names->Release();

    EXPECT_EQ(expected, WideNameOf(group)) << "GetState";

    IUnknown *found = nullptr;
    EXPECT_EQ(S_OK, server->GetGroupByName(given, IID_IUnknown, &found));
    if (found)
        found->Release();
    group->Release();
}

TEST_F(ServerTest, CommonAndErrorStringsAnswerWhateverTheLocale)
{
    IOPCCommon *common = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common)));
    LCID lcid = 0;
    EXPECT_EQ(S_OK, common->GetLocaleID(&lcid));
    EXPECT_EQ(2048u, lcid);
    LPWSTR a = nullptr, b = nullptr;
    EXPECT_EQ(S_OK, server->GetErrorString(HRESULT(0xC101011C), 1033, &a));
    EXPECT_EQ(S_OK, server->GetErrorString(HRESULT(0xC101011C), 2048, &b));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(std::wstring(a), std::wstring(b));
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    EXPECT_EQ(S_OK, common->GetLocaleID(&lcid));
    EXPECT_EQ(2048u, lcid) << "the locale is given back";
    common->Release();
}

TEST_F(ServerTest, AnAdvisedShutdownSinkIsToldWhenTheServerGoes)
{
    IConnectionPointContainer *container = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)));
    IConnectionPoint *point = nullptr;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    point->Release();
    container->Release();
    server->Release();
    server = nullptr;
    ASSERT_EQ(1u, sink.reasons.size());
    EXPECT_EQ(std::wstring(L""), sink.reasons[0]);
    EXPECT_EQ(1, sink.refs);
}

HRESULT CannotJoin() { return CO_E_INIT_TLS; }

TEST_F(ServerTest, APollThreadThatCannotJoinTheApartmentIsStoppedAfterTheLimit)
{
    COPCDrvServer::s_pfnJoinApartment = &CannotJoin;
    COPCDrvServer::s_dwStopLimitMs = 300;
    IOPCServer *stuck = nullptr;
    ASSERT_EQ(S_OK, g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&stuck)));
    Sleep(100);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, stuck->Release());
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250)) << "the stop waits for the limit";
    bool logged = false;
    for (auto &e : m_events.Events())
        logged |= !e.strings.empty() && e.strings[0] == "Fatal Error. Unable to initialize COM for OPC server poll thread";
    EXPECT_TRUE(logged);
}

}  // namespace
