// Aleron's area browser and event subscriptions in a client process against
// the real Hadrel.exe polling the simulated controller: the browse table,
// events of the server (a block disabled and enabled, the driver started
// and stopped, communication failed and recovered) through IOPCEventSink
// in a multithreaded and a single-threaded client, batches of the
// subscription's maximum size, an inactive subscription, refresh, calls
// back into the subscription from OnEvent, the speed of Unadvise and
// Release, and a client killed without Unadvise.
#include <gtest/gtest.h>
#include <memory>
#include "S7Sim.h"
#include "ae_client.h"
#include <tlhelp32.h>

using namespace aeclient;

namespace {

// The server's log lines written by the server process (pid, kind, text).
std::vector<std::string> LogTexts(const std::string &path)
{
    std::vector<std::string> texts;
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return texts;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        std::string text = line;
        size_t a = text.find('\t'), b = a == std::string::npos ? a : text.find('\t', a + 1);
        if (b == std::string::npos)
            continue;
        text = text.substr(b + 1);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        texts.push_back(text);
    }
    fclose(f);
    return texts;
}

size_t Logged(const std::string &path, const std::string &text)
{
    size_t n = 0;
    for (const std::string &t : LogTexts(path))
        n += t == text;
    return n;
}

// The texts of an enumerator, released; "(none)" when there is none.
std::vector<std::wstring> Drain(IEnumString *strings)
{
    if (!strings)
        return {L"(none)"};
    std::vector<std::wstring> out;
    LPOLESTR text = nullptr;
    ULONG fetched = 0;
    while (strings->Next(1, &text, &fetched) == S_OK && fetched == 1) {
        out.push_back(text);
        CoTaskMemFree(text);
    }
    strings->Release();
    return out;
}

// Waits for the server processes of this prefix to end; kills what is left
// (and Wine's service process, which would keep a killed server registered).
// A killed client's references never come back under Wine, which does not
// ping remote references, so its server would wait for ever.
void EndServers()
{
    auto running = [](const char *program) {
        std::vector<DWORD> pids;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (lstrcmpiA(entry.szExeFile, program) == 0)
                pids.push_back(entry.th32ProcessID);
        CloseHandle(snapshot);
        return pids;
    };
    if (WaitUntil([&] { return running("Hadrel.exe").empty(); }, 3000))
        return;
    for (const char *program : {"Hadrel.exe", "rpcss.exe"})
        for (DWORD pid : running(program))
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                TerminateProcess(process, 9);
                WaitForSingleObject(process, 10000);
                CloseHandle(process);
            }
}

class AleronEvents : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        logPath = BinFolder() + "aleron_events_test.log";
        failure = PreparePlant(logPath);
        if (!failure.empty())
            return;
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (!controller.Open(kCp, kVfd, kConn)) {
            failure = "cannot open the simulated controller";
            return;
        }
        controller->errorConfirmation = 0;
        HRESULT hr = CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                      reinterpret_cast<void **>(&driver));
        if (SUCCEEDED(hr))
            hr = BuildPlant(driver, &plant);
        if (SUCCEEDED(hr))
            server = CreateEventServer(&hr);
        if (FAILED(hr))
            failure = "the server or its plant: " + std::to_string(unsigned(hr));
    }
    static void TearDownTestSuite()
    {
        if (server)
            server->Release();
        if (driver) {
            driver->Stop();
            driver->Release();
        }
        server = nullptr;
        driver = nullptr;
        controller.Close();
        CoUninitialize();
        EndServers();
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", nullptr);
    }
    void SetUp() override { ASSERT_EQ("", failure); }

    // Switches a block's "Enabled".
    static HRESULT Enable(LONG handle, bool on) { return SetProperty(driver, handle, L"Enabled", I2(on ? 1 : 0)); }
    static HRESULT Switch(HRESULT (STDMETHODCALLTYPE IOPCEventServer::*member)(DWORD, LPWSTR *),
                          std::vector<const wchar_t *> names)
    {
        return (server->*member)(DWORD(names.size()), const_cast<LPWSTR *>(names.data()));
    }

    static std::string logPath, failure;
    static IQORDriver *driver;
    static IOPCEventServer *server;
    static Plant plant;
    static s7sim::Controller controller;
};
std::string AleronEvents::logPath, AleronEvents::failure;
IQORDriver *AleronEvents::driver = nullptr;
IOPCEventServer *AleronEvents::server = nullptr;
Plant AleronEvents::plant;
s7sim::Controller AleronEvents::controller;

TEST_F(AleronEvents, BrowsingAreasSourcesAndQualifiedNames)
{
    IUnknown *made = nullptr;
    ASSERT_EQ(E_INVALIDARG, server->CreateAreaBrowser(IID_IOPCEventAreaBrowser, nullptr));
    ASSERT_EQ(S_OK, server->CreateAreaBrowser(IID_IOPCEventAreaBrowser, &made));
    auto *browser = static_cast<IOPCEventAreaBrowser *>(made);
    using Names = std::vector<std::wstring>;
    auto areas = [&](const wchar_t *filter) {
        return [=](Names *out) {
            IEnumString *e = nullptr;
            HRESULT hr = browser->BrowseOPCAreas(OPC_AREA, filter, &e);
            *out = Drain(e);
            return hr;
        };
    };
    auto sources = [&](const wchar_t *filter) {
        return [=](Names *out) {
            IEnumString *e = nullptr;
            HRESULT hr = browser->BrowseOPCAreas(OPC_SOURCE, filter, &e);
            *out = Drain(e);
            return hr;
        };
    };
    auto move = [&](OPCAEBROWSEDIRECTION direction, const wchar_t *name) {
        return [=](Names *) { return browser->ChangeBrowsePosition(direction, name); };
    };
    auto qualified = [&](bool area, const wchar_t *name) {
        return [=](Names *out) {
            LPWSTR text = nullptr;
            HRESULT hr = area ? browser->GetQualifiedAreaName(name, &text) : browser->GetQualifiedSourceName(name, &text);
            *out = {text ? text : L"(null)"};
            CoTaskMemFree(text);
            return hr;
        };
    };
    const Names all = {L"Driver", L"Channels", L"Devices", L"DataBlocks"};
    struct Step {
        const char *what;
        std::function<HRESULT(Names *)> call;
        HRESULT result;
        Names names;
    } steps[] = {
        {"the four areas at the root", areas(L""), S_OK, all},
        {"areas through *s", areas(L"*s"), S_OK, {L"Channels", L"Devices", L"DataBlocks"}},
        {"areas through D*", areas(L"D*"), S_OK, {L"Driver", L"Devices", L"DataBlocks"}},
        {"areas matching nothing", areas(L"x"), S_FALSE, {}},
        {"sources at the root: an empty enumerator", sources(L""), S_FALSE, {}},
        {"a block at the root", qualified(false, L"Blk1"), S_OK, {L"DataBlock:Blk1"}},
        {"the driver at the root", qualified(false, L"hadrel"), S_OK, {L"Driver:hadrel"}},
        {"a device at the root", qualified(false, L"Dev1"), S_OK, {L"Device:Dev1"}},
        {"the root's qualifier is not kept", qualified(false, L"Ch1"), S_OK, {L"Channel:Ch1"}},
        {"no such source", qualified(false, L"Nothing"), E_OUTOFMEMORY, {L"(null)"}},
        {"an area's name", qualified(true, L"devices"), S_OK, {L"Devices"}},
        {"no such area", qualified(true, L"Nowhere"), E_OUTOFMEMORY, {L"(null)"}},
        {"up at the root", move(OPCAE_BROWSE_UP, L""), E_INVALIDARG, {}},
        {"down into nothing", move(OPCAE_BROWSE_DOWN, L""), OPC_E_INVALIDBRANCHNAME, {}},
        {"down into Channel", move(OPCAE_BROWSE_DOWN, L"Channel"), E_INVALIDARG, {}},
        {"down into channels", move(OPCAE_BROWSE_DOWN, L"channels"), S_OK, {}},
        {"the channels", sources(L""), S_OK, {L"Ch1"}},
        {"no areas inside", areas(L""), S_FALSE, {}},
        {"a channel inside Channels", qualified(false, L"Ch1"), S_OK, {L"Channels:Ch1"}},
        {"a device is not in Channels", qualified(false, L"Dev1"), E_OUTOFMEMORY, {L"(null)"}},
        {"down again", move(OPCAE_BROWSE_DOWN, L"Devices"), E_INVALIDARG, {}},
        {"to Devices from inside Channels", move(OPCAE_BROWSE_TO, L"Devices"), S_OK, {}},
        {"the devices", sources(L"*"), S_OK, {L"Dev1"}},
        {"to DataBlocks", move(OPCAE_BROWSE_TO, L"DataBlocks"), S_OK, {}},
        {"the blocks through Blk*", sources(L"Blk*"), S_OK, {L"Blk1", L"Blk2"}},
        {"the blocks through *2", sources(L"*2"), S_OK, {L"Blk2"}},
        {"case counts in the filter", sources(L"blk*"), S_FALSE, {}},
        {"a block inside DataBlocks", qualified(false, L"Blk1"), S_OK, {L"DataBlocks:Blk1"}},
        {"another browse type", [&](Names *out) {
             IEnumString *e = nullptr;
             HRESULT hr = browser->BrowseOPCAreas(OPCAEBROWSETYPE(3), L"", &e);
             *out = {e ? L"enumerator" : L"none"};
             return hr;
         }, E_FAIL, {L"none"}},
        {"up", move(OPCAE_BROWSE_UP, L""), S_OK, {}},
        {"to the driver's area", move(OPCAE_BROWSE_TO, L"Driver"), S_OK, {}},
        {"the driver", sources(L""), S_OK, {L"Hadrel"}},
        {"a path deeper than the areas", move(OPCAE_BROWSE_TO, L"Channels:Ch1"), E_INVALIDARG, {}},
        {"to the root", move(OPCAE_BROWSE_TO, L""), S_OK, {}},
        {"back at the root", areas(L""), S_OK, all},
        {"another direction", move(OPCAEBROWSEDIRECTION(4), L"Devices"), E_INVALIDARG, {}},
        {"a null name", move(OPCAE_BROWSE_DOWN, nullptr), E_INVALIDARG, {}},
    };
    for (const Step &step : steps) {
        Names names;
        EXPECT_EQ(step.result, step.call(&names)) << step.what;
        if (!step.names.empty() || step.result == S_FALSE) {
            EXPECT_EQ(step.names, names) << step.what;
        }
    }
    EXPECT_EQ(E_INVALIDARG, browser->BrowseOPCAreas(OPC_AREA, L"", nullptr));
    IEnumString *e = nullptr;
    EXPECT_EQ(E_INVALIDARG, browser->BrowseOPCAreas(OPC_AREA, nullptr, &e));
    browser->Release();
}

// Waits for the first event whose message is text; null when none came.
std::unique_ptr<Seen> WaitForMessage(EventSink *sink, const std::wstring &text, DWORD ms)
{
    std::unique_ptr<Seen> found;
    WaitUntil([&] {
        for (const Seen &s : sink->Events())
            if (s.message == text) {
                found.reset(new Seen(s));
                return true;
            }
        return false;
    }, ms);
    return found;
}

TEST_F(AleronEvents, TheServersEventsReachTheSink)
{
    EventSink *sink = new EventSink;
    Subscription sub;
    ASSERT_EQ(S_OK, sub.Create(server, TRUE, 0, 77));
    ASSERT_EQ(S_OK, sub.Advise(sink));
    ASSERT_EQ(S_OK, Switch(&IOPCEventServer::EnableConditionByArea, {L"Driver", L"DataBlocks"}));

    ASSERT_EQ(S_OK, Enable(plant.block, false));
    ASSERT_EQ(S_OK, Enable(plant.block, true));
    ASSERT_EQ(S_OK, driver->Start(VARIANT_TRUE));
    struct Expected {
        const wchar_t *message, *source;
        DWORD category;
        const wchar_t *condition, *subCondition;
    } expected[] = {
        {L"DataBlock Blk1 Disabled", L"Blk1", 2, L"Enabled State", L"Disabled"},
        {L"DataBlock Blk1 Enabled", L"Blk1", 2, L"Enabled State", L"Enabled"},
        {L"Driver Started", nullptr, 4, L"Running State", L"Running"},
    };
    for (const Expected &x : expected) {
        std::unique_ptr<Seen> seen = WaitForMessage(sink, x.message, 10000);
        ASSERT_TRUE(seen) << "no event with the text";
        if (x.source) {
            EXPECT_EQ(x.source, seen->source);
        }
        EXPECT_EQ(x.category, seen->category);
        EXPECT_EQ(x.condition, seen->condition);
        EXPECT_EQ(x.subCondition, seen->subCondition);
        EXPECT_EQ(DWORD(OPC_SIMPLE_EVENT), seen->eventType);
        EXPECT_EQ(0u, seen->severity);
        EXPECT_EQ(L"", seen->actor);
        EXPECT_EQ(77u, seen->clientHandle);
    }
    std::vector<Seen> order = sink->Events();
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(L"DataBlock Blk1 Disabled", order[0].message);
    EXPECT_EQ(L"DataBlock Blk1 Enabled", order[1].message);

    // The controller stops answering, then answers again.
    ASSERT_TRUE(WaitUntil([&] { return controller->reads > 2; }, 10000)) << "the blocks are not polled";
    controller->errorConfirmation = -1;
    std::unique_ptr<Seen> failed = WaitForMessage(sink, L"Blk1 Communications failed", 15000);
    controller->errorConfirmation = 0;
    ASSERT_TRUE(failed);
    EXPECT_EQ(L"Blk1", failed->source);
    EXPECT_EQ(1u, failed->category);
    EXPECT_EQ(L"COMM Status", failed->condition);
    EXPECT_EQ(L"COMM Failure", failed->subCondition);
    std::unique_ptr<Seen> recovered = WaitForMessage(sink, L"Blk1 Communications Recovered", 15000);
    ASSERT_TRUE(recovered);
    EXPECT_EQ(1u, recovered->category);
    EXPECT_EQ(L"COMM Recovered", recovered->subCondition);

    ASSERT_EQ(S_OK, driver->Stop());
    std::unique_ptr<Seen> stopped = WaitForMessage(sink, L"Driver Stopped", 10000);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(L"Stopped", stopped->subCondition);

    EXPECT_EQ(S_OK, sub.Unadvise());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, sub.point->Unadvise(sub.cookie));
    sub.Release();
    EXPECT_EQ(S_OK, Switch(&IOPCEventServer::DisableConditionByArea, {L"Driver", L"DataBlocks"}));
    sink->Release();
}

TEST_F(AleronEvents, BatchesStateFilterAndRefresh)
{
    ASSERT_EQ(S_OK, Switch(&IOPCEventServer::EnableConditionBySource, {L"Blk2"}));
    EventSink *sink = new EventSink;
    Subscription sub;
    ASSERT_EQ(S_OK, sub.Create(server, FALSE, 2, 5));
    ASSERT_EQ(S_OK, sub.Advise(sink));
    // A second subscription, not held, tells when the records have come.
    EventSink *witness = new EventSink;
    Subscription other;
    ASSERT_EQ(S_OK, other.Create(server, TRUE, 0, 6));
    ASSERT_EQ(S_OK, other.Advise(witness));

    // Inactive: the records are dropped, not kept for later. Each
    // subscription has its own connection and worker in the server: the
    // witness's record says that this one's is on its way, not that it has
    // come, so it gets a margin.
    ASSERT_EQ(S_OK, Enable(plant.block2, false));
    ASSERT_TRUE(witness->WaitFor(1, 10000));
    Sleep(500);
    BOOL active = TRUE;
    DWORD revisedTime = 9, revisedSize = 9;
    ASSERT_EQ(S_OK, sub.mgt->SetState(&active, nullptr, nullptr, 5, &revisedTime, &revisedSize));
    EXPECT_EQ(0u, revisedTime);
    EXPECT_EQ(0u, revisedSize);

    // The first event is held in OnEvent while five more come: they are
    // delivered as 2, 2 and 1, in order. From inside OnEvent the client
    // calls the subscription.
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HRESULT stateResult = E_FAIL, refresh1 = E_FAIL, refresh2 = E_FAIL, filterBusy = E_FAIL;
    BOOL seenActive = FALSE;
    DWORD seenTime = 0, seenSize = 0;
    OPCHANDLE seenHandle = 0;
    bool first = true;
    sink->SetHook([&] {
        if (!first)
            return;
        first = false;
        stateResult = sub.mgt->GetState(&seenActive, &seenTime, &seenSize, &seenHandle);
        refresh1 = sub.mgt->Refresh(sub.cookie);
        refresh2 = sub.mgt->Refresh(sub.cookie);
        DWORD categories[1] = {2};
        filterBusy = sub.mgt->SetFilter(OPC_SIMPLE_EVENT, 1, categories, 0, 1000, 0, nullptr, 0, nullptr);
        WaitForSingleObject(release, 20000);
    });
    ASSERT_EQ(S_OK, Enable(plant.block2, true));
    ASSERT_TRUE(sink->WaitFor(1, 10000));
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(S_OK, Enable(plant.block2, i % 2 == 0 ? false : true));
    ASSERT_TRUE(witness->WaitFor(7, 10000));
    Sleep(500);
    SetEvent(release);
    ASSERT_TRUE(sink->WaitFor(6, 10000));
    Sleep(200);
    EXPECT_EQ((std::vector<DWORD>{1, 2, 2, 1}), sink->Batches());
    std::vector<Seen> seen = sink->Events();
    ASSERT_EQ(6u, seen.size());
    EXPECT_EQ(L"DataBlock Blk2 Enabled", seen[0].message) << "the inactive subscription's record was kept";
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_EQ(i % 2 ? L"DataBlock Blk2 Disabled" : L"DataBlock Blk2 Enabled", seen[i].message) << i;
    EXPECT_EQ(S_OK, stateResult);
    EXPECT_TRUE(seenActive);
    EXPECT_EQ(2u, seenSize);
    EXPECT_EQ(5u, seenHandle);
    EXPECT_EQ(S_OK, refresh1);
    EXPECT_EQ(OPC_E_BUSY, refresh2);
    EXPECT_EQ(OPC_E_BUSY, filterBusy);
    CloseHandle(release);

    // Once the thread has taken it, the refresh is over: it delivered nothing.
    // A free worker may end a new refresh before the next call comes, so the
    // busy answer is shown only above, with the worker held.
    ASSERT_TRUE(WaitUntil([&] { return sub.mgt->CancelRefresh(sub.cookie) == E_FAIL; }, 5000));
    EXPECT_EQ(E_FAIL, sub.mgt->Refresh(sub.cookie + 1));
    EXPECT_EQ(S_OK, sub.mgt->Refresh(sub.cookie));
    EXPECT_TRUE(WaitUntil([&] { return sub.mgt->CancelRefresh(sub.cookie) == E_FAIL; }, 5000));
    EXPECT_EQ(6u, sink->Count());

    // The filter is stored as set; the severities always read 0 and 1000.
    DWORD categories[2] = {1, 4};
    LPWSTR areas[1] = {const_cast<LPWSTR>(L"DataBlocks")};
    LPWSTR sources[2] = {const_cast<LPWSTR>(L"Blk1"), const_cast<LPWSTR>(L"Blk2")};
    ASSERT_EQ(S_OK, sub.mgt->SetFilter(OPC_SIMPLE_EVENT, 2, categories, 100, 200, 1, areas, 2, sources));
    DWORD type = 0, categoryCount = 0, low = 9, high = 9, areaCount = 0, sourceCount = 0;
    DWORD *gotCategories = nullptr;
    LPWSTR *gotAreas = nullptr, *gotSources = nullptr;
    ASSERT_EQ(S_OK, sub.mgt->GetFilter(&type, &categoryCount, &gotCategories, &low, &high, &areaCount, &gotAreas,
                                       &sourceCount, &gotSources));
    EXPECT_EQ(DWORD(OPC_SIMPLE_EVENT), type);
    ASSERT_EQ(2u, categoryCount);
    EXPECT_EQ(4u, gotCategories[1]);
    EXPECT_EQ(0u, low);
    EXPECT_EQ(1000u, high);
    ASSERT_EQ(1u, areaCount);
    EXPECT_EQ(std::wstring(L"DataBlocks"), gotAreas[0]);
    ASSERT_EQ(2u, sourceCount);
    EXPECT_EQ(std::wstring(L"Blk2"), gotSources[1]);
    CoTaskMemFree(gotCategories);
    CoTaskMemFree(gotAreas[0]);
    CoTaskMemFree(gotAreas);
    for (DWORD i = 0; i < sourceCount; ++i)
        CoTaskMemFree(gotSources[i]);
    CoTaskMemFree(gotSources);
    // ...and it selects nothing: a record of another category still comes.
    size_t before = sink->Count();
    ASSERT_EQ(S_OK, Enable(plant.block2, false));
    EXPECT_TRUE(sink->WaitFor(before + 1, 10000));
    EXPECT_EQ(E_NOTIMPL, sub.mgt->SelectReturnedAttributes(1, 1, categories));
    EXPECT_EQ(E_INVALIDARG, sub.mgt->SelectReturnedAttributes(1, 0, nullptr));

    // Unadvise and Release return at once, the thread's end included.
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, sub.Unadvise());
    sub.Release();
    DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 1000u);

    // A subscription released while advised leaves the server's connection.
    size_t disconnects = Logged(logPath, "Alarm & Event server component disconnected");
    other.Release();
    EXPECT_TRUE(WaitUntil([&] {
        return Logged(logPath, "Alarm & Event server component disconnected") == disconnects + 1;
    }, 5000));
    ASSERT_EQ(S_OK, Enable(plant.block2, true));
    Sleep(300);
    sink->Release();
    witness->Release();
    EXPECT_EQ(S_OK, Switch(&IOPCEventServer::DisableConditionBySource, {L"Blk2"}));
}

// What the single-threaded client saw: its browsing and its events.
struct StaRun {
    HRESULT created = E_FAIL, subscribed = E_FAIL, advised = E_FAIL, unadvised = E_FAIL, stateInside = E_FAIL;
    std::vector<Seen> events;
    HRESULT switched = E_FAIL;
    HRESULT emptyBrowse = E_FAIL, moved = E_FAIL, browsed = E_FAIL, qualifiedResult = E_FAIL;
    std::vector<std::wstring> rootSources, blocks;
    std::wstring qualified;
    DWORD callerThread = 0, deliveryThread = 0;
    bool received = false;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);   // advised and switched
};

DWORD WINAPI StaClient(void *p)
{
    StaRun &run = *static_cast<StaRun *>(p);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    run.callerThread = GetCurrentThreadId();
    IOPCEventServer *server = CreateEventServer(&run.created);
    IUnknown *made = nullptr;
    if (server && SUCCEEDED(server->CreateAreaBrowser(IID_IOPCEventAreaBrowser, &made))) {
        auto *browser = static_cast<IOPCEventAreaBrowser *>(made);
        IEnumString *e = nullptr;
        run.emptyBrowse = browser->BrowseOPCAreas(OPC_SOURCE, L"", &e);
        run.rootSources = Drain(e);
        run.moved = browser->ChangeBrowsePosition(OPCAE_BROWSE_TO, L"DataBlocks");
        e = nullptr;
        run.browsed = browser->BrowseOPCAreas(OPC_SOURCE, L"*", &e);
        run.blocks = Drain(e);
        LPWSTR text = nullptr;
        run.qualifiedResult = browser->GetQualifiedSourceName(L"Blk1", &text);
        run.qualified = text ? text : L"(null)";
        CoTaskMemFree(text);
        browser->Release();
    }
    if (server) {
        EventSink *sink = new EventSink;
        Subscription sub;
        run.subscribed = sub.Create(server, TRUE, 0, 11);
        if (SUCCEEDED(run.subscribed))
            run.advised = sub.Advise(sink);
        sink->SetHook([&] {
            run.deliveryThread = GetCurrentThreadId();
            BOOL active;
            DWORD time, size;
            OPCHANDLE handle;
            run.stateInside = sub.mgt->GetState(&active, &time, &size, &handle);
        });
        if (SUCCEEDED(run.advised)) {
            LPWSTR names[1] = {const_cast<LPWSTR>(L"DataBlocks:Blk1")};
            run.switched = server->EnableConditionBySource(1, names);
            SetEvent(run.ready);
            run.received = sink->WaitFor(2, 15000);
            run.events = sink->Events();
            run.unadvised = sub.Unadvise();
        }
        sub.Release();
        sink->Release();
        server->Release();
    }
    SetEvent(run.ready);
    CoUninitialize();
    return 0;
}

TEST_F(AleronEvents, ASingleThreadedClientReceivesThroughTheProxies)
{
    StaRun run;
    HANDLE thread = CreateThread(nullptr, 0, StaClient, &run, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run.ready, 30000));
    ASSERT_EQ(S_OK, Enable(plant.block, false));
    ASSERT_EQ(S_OK, Enable(plant.block, true));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    CloseHandle(thread);
    CloseHandle(run.ready);
    ASSERT_EQ(S_OK, run.created);
    EXPECT_EQ(S_FALSE, run.emptyBrowse);
    EXPECT_EQ(std::vector<std::wstring>{}, run.rootSources) << "an empty enumerator crosses the apartments";
    EXPECT_EQ(S_OK, run.moved);
    EXPECT_EQ(S_OK, run.browsed);
    EXPECT_EQ((std::vector<std::wstring>{L"Blk1", L"Blk2"}), run.blocks);
    EXPECT_EQ(S_OK, run.qualifiedResult);
    EXPECT_EQ(L"DataBlocks:Blk1", run.qualified);
    ASSERT_EQ(S_OK, run.subscribed);
    ASSERT_EQ(S_OK, run.advised);
    EXPECT_EQ(S_OK, run.switched);
    EXPECT_TRUE(run.received);
    ASSERT_GE(run.events.size(), 2u);
    EXPECT_EQ(L"DataBlock Blk1 Disabled", run.events[0].message);
    EXPECT_EQ(L"Enabled State", run.events[0].condition);
    EXPECT_EQ(L"Disabled", run.events[0].subCondition);
    EXPECT_EQ(11u, run.events[0].clientHandle);
    EXPECT_EQ(L"DataBlock Blk1 Enabled", run.events[1].message);
    EXPECT_EQ(run.callerThread, run.deliveryThread) << "OnEvent comes in the client's apartment";
    EXPECT_EQ(S_OK, run.stateInside);
    EXPECT_EQ(S_OK, run.unadvised);
    EXPECT_EQ(S_OK, Switch(&IOPCEventServer::DisableConditionBySource, {L"Blk1"}));
}

TEST_F(AleronEvents, AKilledClientLeavesTheServerServingTheNext)
{
    ASSERT_EQ(S_OK, Switch(&IOPCEventServer::EnableConditionBySource, {L"Blk1"}));
    std::string ready = "AleronClientReady" + std::to_string(GetCurrentProcessId());
    std::string got = "AleronClientGot" + std::to_string(GetCurrentProcessId());
    HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    HANDLE gotEvent = CreateEventA(nullptr, TRUE, FALSE, got.c_str());
    std::string command = "\"" + BinFolder() + "aleron_events_client.exe\" " + ready + " " + got;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child));
    CloseHandle(child.hThread);
    HANDLE waits[2] = {readyEvent, child.hProcess};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 30000)) << "the client never got ready";
    ASSERT_EQ(S_OK, Enable(plant.block, false));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gotEvent, 10000)) << "the other client received nothing";
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    CloseHandle(readyEvent);
    CloseHandle(gotEvent);

    // The dead client's connection fails its calls; this client is served.
    EventSink *sink = new EventSink;
    Subscription sub;
    ASSERT_EQ(S_OK, sub.Create(server, TRUE, 0, 3));
    ASSERT_EQ(S_OK, sub.Advise(sink));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(S_OK, Enable(plant.block, i % 2 == 0));
    EXPECT_TRUE(sink->WaitFor(4, 15000));
    std::vector<Seen> seen = sink->Events();
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(L"DataBlock Blk1 Enabled", seen[0].message);
    EXPECT_EQ(L"DataBlock Blk1 Disabled", seen[3].message);
    EXPECT_EQ(S_OK, sub.Unadvise());
    sub.Release();
    sink->Release();
    ASSERT_EQ(S_OK, Enable(plant.block, true));
    EXPECT_EQ(S_OK, Switch(&IOPCEventServer::DisableConditionBySource, {L"Blk1"}));
}

} // namespace
