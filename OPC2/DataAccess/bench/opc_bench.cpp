// opc_bench: how many of the controller's value changes reach an OPC client
// within two update periods. Hadrel.exe polls ten data blocks of the
// simulated controller every 100 ms while this program writes a new value
// into every word of them each period; Brisko runs in this process with one
// group of N items (N = 1000, then 100) at 100 ms, and an IOPCDataCallback
// sink notes when each value arrives. Prints the share of changed values
// delivered in time, callbacks and values per second, the CPU of this
// process and of Hadrel, and one pass's read time over N items.
// With "additems" it instead times IOPCItemMgt::AddItems and ValidateItems
// on 100 blocks of 100 words: 10 items of one block, 1,000 items of 10
// blocks and 10,000 items of 100 blocks, each into a new group.
//
// With "memory" it measures Hadrel's private bytes while a client with a
// running subscription adds and removes groups and items, against the same
// time idle before and after, and then the growth per call of some calls.
//
//   opc_bench [SECONDS]
//   opc_bench additems
//   opc_bench memory [SECONDS]
#include <windows.h>
#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Brisko.h"
#include "ClassFactory.h"
#include "OPCDrvItem.h"
#include "OpcKit.h"
#include "Oxley.h"
#include "server_session.h"

namespace {

const int kBlocks = 10, kWords = 100, kAddBlocks = 100;
const DWORD kPeriod = 100;

std::atomic<DWORD> g_writeTick[32768];

// Item definitions of count words spread evenly over blocks blocks from
// DB(20 + first) on, every block's words in order, active, client handles
// counting from 0.
struct WordItems {
    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> defs;
    WordItems(int count, int blocks, int first = 0) : defs(size_t(count))
    {
        int perBlock = count / blocks;
        for (int i = 0; i < count; ++i)
            ids.push_back(L"PLC1 DB" + std::to_wstring(20 + first + i / perBlock) + L"," +
                          std::to_wstring(2 * (i % perBlock)));
        for (size_t i = 0; i < defs.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = &ids[i][0];
            defs[i].bActive = TRUE;
            defs[i].hClient = OPCHANDLE(i);
        }
    }
    DWORD Count() const { return DWORD(defs.size()); }
};

class Sink : public IOPCDataCallback {
public:
    virtual ~Sink() {}
public:
    std::atomic<long> callbacks{0}, values{0}, inTime{0};
    std::atomic<bool> counting{false};
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IOPCDataCallback) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE *, VARIANT *v, WORD *,
                              FILETIME *, HRESULT *) override
    {
        if (!counting)
            return S_OK;
        DWORD now = GetTickCount();
        ++callbacks;
        values += long(count);
        for (DWORD i = 0; i < count; ++i) {
            VARIANT n;
            VariantInit(&n);
            if (SUCCEEDED(VariantChangeType(&n, &v[i], 0, VT_I4))) {
                DWORD written = g_writeTick[V_I4(&n) & 0x7FFF];
                if (written && now - written <= 2 * kPeriod)
                    ++inTime;
            }
        }
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE *, VARIANT *, WORD *,
                                FILETIME *, HRESULT *) override
    {
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE *, HRESULT *) override { return S_OK; }
    STDMETHODIMP OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

// A data callback advised on a group for as long as it lives.
struct Advised {
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;
    Advised(IUnknown *group, IOPCDataCallback *sink)
    {
        IConnectionPointContainer *container = nullptr;
        group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
        container->FindConnectionPoint(IID_IOPCDataCallback, &point);
        container->Release();
        point->Advise(sink, &cookie);
    }
    void Stop()
    {
        if (point) {
            point->Unadvise(cookie);
            point->Release();
            point = nullptr;
        }
    }
    ~Advised() { Stop(); }
};

double CpuSeconds(HANDLE process)
{
    FILETIME a, b, kernel, user;
    if (!GetProcessTimes(process, &a, &b, &kernel, &user))
        return 0;
    auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * double(now.QuadPart) / double(frequency.QuadPart);
}

// Completions of 2.0 reads, by transaction id.
class ReadSink : public Sink {
public:
    std::atomic<DWORD> completed{0};
    STDMETHODIMP OnReadComplete(DWORD transaction, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE *, VARIANT *, WORD *,
                                FILETIME *, HRESULT *) override
    {
        completed = transaction;
        return S_OK;
    }
};

// IOPCSyncIO::Read of every item from the cache and from the device, Oxley's
// own reads of the same items, and the 2.0 read's round trip.
void ReadFigures(IOPCItemMgt *items, std::vector<OPCHANDLE> &handles)
{
    IOPCSyncIO *sync = nullptr;
    items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync));
    const int calls = 30;
    for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        std::vector<double> times;
        for (int c = 0; c < calls; ++c) {
            OPCITEMSTATE *states = nullptr;
            HRESULT *errors = nullptr;
            double start = NowMs();
            sync->Read(source, DWORD(handles.size()), handles.data(), &states, &errors);
            times.push_back(NowMs() - start);
            for (size_t i = 0; states && i < handles.size(); ++i)
                VariantClear(&states[i].vDataValue);
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
        }
        double median = Median(times);
        std::printf("  IOPCSyncIO::Read of %zu items from the %s: median %.2f ms per call, %.0f items/s\n",
                    handles.size(), source == OPC_DS_CACHE ? "cache" : "device", median,
                    median > 0 ? 1000.0 * double(handles.size()) / median : 0.0);
    }
    std::vector<double> oxley;
    for (int c = 0; c < calls; ++c) {
        double start = NowMs();
        for (OPCHANDLE h : handles) {
            COPCDrvItem *item = LiveObjectAs<COPCDrvItem>(h);
            KivStatus status[2] = {0, 0};
            unsigned short quality = 0;
            FILETIME time;
            VARIANT value;
            VariantInit(&value);
            kiv_readEx(status, &item->m_block, &item->m_kind, &time, &quality, item->m_valueLength, &value, 0);
            VariantClear(&value);
        }
        oxley.push_back(NowMs() - start);
    }
    std::printf("  Oxley's kiv_readEx of the same items: median %.2f ms per round\n", Median(oxley));
    sync->Release();

    ReadSink sink;
    Advised advised(items, &sink);
    IOPCAsyncIO2 *io = nullptr;
    items->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void **>(&io));
    std::vector<double> trips;
    for (DWORD t = 1; t <= 20; ++t) {
        DWORD cancel = 0;
        HRESULT *errors = nullptr;
        double start = NowMs();
        if (SUCCEEDED(io->Read(1, handles.data(), t, &cancel, &errors))) {
            while (sink.completed != t && NowMs() - start < 2000)
                Sleep(1);
            trips.push_back(NowMs() - start);
        }
        CoTaskMemFree(errors);
    }
    std::printf("  IOPCAsyncIO2::Read round trip (one item): median %.1f ms\n", Median(trips));
    io->Release();
}

void Run(IOPCServer *server, kivserver::ServerSession &session, int count, int seconds, HANDLE hadrel)
{
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    IOPCItemMgt *items = nullptr;
    server->AddGroup(L"", TRUE, kPeriod, 1, nullptr, nullptr, 2048, &groupHandle, &revised, IID_IOPCItemMgt,
                     reinterpret_cast<IUnknown **>(&items));
    WordItems words(count, (count + kWords - 1) / kWords);
    OPCITEMRESULT *results = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = items->AddItems(words.Count(), words.defs.data(), &results, &errors);
    int good = 0;
    std::vector<OPCHANDLE> handles;
    for (int i = 0; SUCCEEDED(hr) && i < count; ++i)
        if (errors[i] == S_OK) {
            ++good;
            handles.push_back(results[i].hServer);
        }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    // One pass's reads: every item's value from the block images.
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    const int passes = 5;
    for (int p = 0; p < passes; ++p)
        for (OPCHANDLE h : handles)
            if (COPCDrvItem *item = LiveObjectAs<COPCDrvItem>(h))
                item->ReadDevice();
    QueryPerformanceCounter(&end);
    double passMs = 1000.0 * double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart) / passes;

    Sink sink;
    Advised advised(items, &sink);

    std::atomic<bool> writing{true};
    std::atomic<long> written{0};
    std::atomic<bool> counting{false};
    std::thread writer([&] {
        std::vector<BYTE> bytes(2 * kWords);
        for (WORD g = 1; writing; g = WORD((g + 1) & 0x7FFF)) {
            for (int w = 0; w < kWords; ++w) {
                bytes[size_t(2 * w)] = BYTE(g >> 8);
                bytes[size_t(2 * w + 1)] = BYTE(g);
            }
            g_writeTick[g] = GetTickCount();
            for (int b = 0; b < kBlocks && b * kWords < count; ++b)
                session.Put(WORD(20 + b), 0, bytes);
            if (counting)
                written += count;
            Sleep(kPeriod);
        }
    });
    Sleep(1000);  // settle
    double cpu0 = CpuSeconds(GetCurrentProcess()), hadrel0 = hadrel ? CpuSeconds(hadrel) : 0;
    DWORD t0 = GetTickCount();
    sink.counting = true;
    counting = true;
    Sleep(DWORD(seconds) * 1000);
    counting = false;
    sink.counting = false;
    double elapsed = double(GetTickCount() - t0) / 1000.0;
    double cpu = CpuSeconds(GetCurrentProcess()) - cpu0, hadrelCpu = hadrel ? CpuSeconds(hadrel) - hadrel0 : 0;
    writing = false;
    writer.join();
    advised.Stop();

    std::printf("items %d (added %d), update rate %lu ms, %d s\n", count, good, revised, seconds);
    std::printf("  changed values written      %ld\n", written.load());
    std::printf("  delivered within 2 periods  %ld (%.1f %%)\n", sink.inTime.load(),
                written ? 100.0 * double(sink.inTime) / double(written) : 0.0);
    std::printf("  delivered at all            %ld (%.1f %%)\n", sink.values.load(),
                written ? 100.0 * double(sink.values) / double(written) : 0.0);
    std::printf("  callbacks per second        %.1f\n", double(sink.callbacks) / elapsed);
    std::printf("  values per second           %.0f\n", double(sink.values) / elapsed);
    std::printf("  CPU: this process %.1f %%, Hadrel %.1f %%\n", 100.0 * cpu / elapsed, 100.0 * hadrelCpu / elapsed);
    std::printf("  one pass's reads of %d items %.2f ms\n", good, passMs);
    std::fflush(stdout);
    if (count >= 1000)
        ReadFigures(items, handles);
    server->RemoveGroup(groupHandle, TRUE);
    items->Release();
}

// AddItems and ValidateItems of one call each, timed three times into a new
// group, with how many entries succeeded.
void AddItemsFigures(IOPCServer *server)
{
    const struct {
        int items, blocks;
    } cases[] = {{10, 1}, {1000, 10}, {10000, 100}};
    for (const auto &c : cases) {
        WordItems words(c.items, c.blocks);
        std::vector<double> adds, validates;
        int added = 0, valid = 0;
        for (int run = 0; run < 3; ++run) {
            OPCHANDLE groupHandle = 0;
            DWORD revised = 0;
            IOPCItemMgt *items = nullptr;
            if (FAILED(server->AddGroup(L"", FALSE, kPeriod, 1, nullptr, nullptr, 2048, &groupHandle, &revised,
                                        IID_IOPCItemMgt, reinterpret_cast<IUnknown **>(&items))))
                continue;
            for (bool add : {true, false}) {
                OPCITEMRESULT *results = nullptr;
                HRESULT *errors = nullptr;
                double start = NowMs();
                HRESULT hr = add ? items->AddItems(words.Count(), words.defs.data(), &results, &errors)
                                 : items->ValidateItems(words.Count(), words.defs.data(), FALSE, &results, &errors);
                (add ? adds : validates).push_back(NowMs() - start);
                int good = 0;
                for (DWORD i = 0; SUCCEEDED(hr) && i < words.Count(); ++i)
                    good += errors[i] == S_OK;
                (add ? added : valid) = good;
                CoTaskMemFree(results);
                CoTaskMemFree(errors);
            }
            server->RemoveGroup(groupHandle, TRUE);
            items->Release();
        }
        std::printf("%d items on %d blocks: AddItems median %.1f ms (%.3f ms per item, %d added), "
                    "ValidateItems median %.1f ms (%d valid)\n",
                    c.items, c.blocks, Median(adds), Median(adds) / c.items, added, Median(validates), valid);
        std::fflush(stdout);
    }
}

// A process's private bytes and working set, in MB (private: the page-file
// use that Wine reports for the process's private committed memory).
struct Memory {
    double privateMb = 0, workingSetMb = 0;
};

Memory MemoryOf(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    Memory m;
    if (process && GetProcessMemoryInfo(process, &counters, sizeof(counters))) {
        m.privateMb = double(counters.PagefileUsage) / 1048576.0;
        m.workingSetMb = double(counters.WorkingSetSize) / 1048576.0;
    }
    return m;
}

// Hadrel's and this process's memory once a second for seconds, while work
// runs between the samples: the first and last samples, and the growth per
// minute of a straight line fitted through all of them.
struct Growth {
    Memory first, last;
    double privatePerMinute = 0, ownFirst = 0, ownLast = 0, ownPerMinute = 0;
};

double Slope(const std::vector<double> &x, const std::vector<double> &y)
{
    double n = double(x.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    double d = n * sxx - sx * sx;
    return d != 0 ? (n * sxy - sx * sy) / d : 0.0;
}

Growth Watch(HANDLE hadrel, int seconds, const std::function<void()> &work)
{
    std::vector<double> minutes, hadrelMb, ownMb;
    Growth g;
    DWORD start = GetTickCount(), next = start;
    while (GetTickCount() - start < DWORD(seconds) * 1000) {
        if (GetTickCount() >= next) {
            Memory m = MemoryOf(hadrel);
            if (minutes.empty())
                g.first = m;
            g.last = m;
            minutes.push_back(double(GetTickCount() - start) / 60000.0);
            hadrelMb.push_back(m.privateMb);
            ownMb.push_back(MemoryOf(GetCurrentProcess()).privateMb);
            next += 1000;
        }
        if (work)
            work();
        else
            Sleep(50);
    }
    if (!minutes.empty()) {
        g.privatePerMinute = Slope(minutes, hadrelMb);
        g.ownFirst = ownMb.front();
        g.ownLast = ownMb.back();
        g.ownPerMinute = Slope(minutes, ownMb);
    }
    return g;
}

void PrintGrowth(const char *phase, const Growth &g)
{
    std::printf("%s\n  Hadrel private %.2f -> %.2f MB (%+.3f MB/min), working set %.2f -> %.2f MB; "
                "this process private %.2f -> %.2f MB (%+.3f MB/min)\n",
                phase, g.first.privateMb, g.last.privateMb, g.privatePerMinute, g.first.workingSetMb,
                g.last.workingSetMb, g.ownFirst, g.ownLast, g.ownPerMinute);
    std::fflush(stdout);
}

// Hadrel's private bytes before and 15 s after calls of one kind (the
// server's call threads are back to idle by then): the growth per call,
// for a call without VARIANTs and for calls that pass them.
void CallGrowth(HANDLE hadrel)
{
    const int n = 10000;
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return;
    KivDevice device = {};
    KivAddress address = {};
    KivBlock block = {0, &device, &address};
    KivKind kind = {KIV_ANALOG, 1, 0.0f, 0.0f};
    KivStatus status[2] = {0, 0};
    kiv_paddr(status, &block, &kind, "PLC1 DB20,0");
    const LONG handle = LONG(device.blockHandle);
    auto measure = [&](const char *what, const std::function<void(int)> &call) {
        for (int i = 0; i < 500; ++i)
            call(i);
        Sleep(15000);
        double before = MemoryOf(hadrel).privateMb, start = NowMs();
        for (int i = 0; i < n; ++i)
            call(i);
        double each = (NowMs() - start) / n;
        Sleep(15000);
        double after = MemoryOf(hadrel).privateMb;
        std::printf("  %-46s %d calls of %.2f ms: Hadrel private %.2f -> %.2f MB, %+.0f bytes per call\n", what, n,
                    each, before, after, (after - before) * 1048576.0 / n);
        std::fflush(stdout);
    };
    measure("get_Running (no VARIANT)", [&](int) {
        VARIANT_BOOL running;
        driver->get_Running(&running);
    });
    auto properties = [&](LONG object) {
        VARIANT names, values, errors;
        VariantInit(&values);
        VariantInit(&errors);
        V_VT(&names) = VT_BSTR;
        V_BSTR(&names) = SysAllocString(L"OPCDataType");
        driver->GetPropertyData(object, names, &values, &errors);
        for (VARIANT *v : {&names, &values, &errors})
            VariantClear(v);
    };
    measure("GetPropertyData \"OPCDataType\" (three VARIANTs)", [&](int) { properties(handle); });
    measure("GetPropertyData of no object (nothing done)", [&](int) { properties(0); });
    measure("SetDataAddress (a BSTR)", [&](int i) {
        LONG reference = 0, word = 0, internal = 0, found = 0;
        short index = 0;
        BSTR text = SysAllocString((L"PLC1 DB20," + std::to_wstring(2 * (i % kWords))).c_str());
        driver->SetDataAddress(text, KIV_ANALOG | (1 << 8), &reference, &word, &internal, &found, &index);
        SysFreeString(text);
    });
    driver->Release();
}

// Memory of Hadrel (and of this process, which holds Brisko) while a client
// with a running subscription adds and removes groups and items, against
// the same time idle before and after.
void ChurnFigures(IOPCServer *server, kivserver::ServerSession &session, HANDLE hadrel, int seconds)
{
    OPCHANDLE subscriptionHandle = 0;
    DWORD revised = 0;
    IOPCItemMgt *subscribed = nullptr;
    server->AddGroup(L"Subscription", TRUE, kPeriod, 1, nullptr, nullptr, 2048, &subscriptionHandle, &revised,
                     IID_IOPCItemMgt, reinterpret_cast<IUnknown **>(&subscribed));
    WordItems words(kWords, 1);
    OPCITEMRESULT *results = nullptr;
    HRESULT *errors = nullptr;
    subscribed->AddItems(words.Count(), words.defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    Sink sink;
    Advised advised(subscribed, &sink);
    sink.counting = true;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        std::vector<BYTE> bytes(2 * kWords);
        for (WORD g = 1; writing; ++g) {
            for (size_t i = 0; i < bytes.size(); i += 2)
                bytes[i + 1] = BYTE(g);
            session.Put(20, 0, bytes);
            Sleep(kPeriod);
        }
    });
    Sleep(2000);  // settle

    PrintGrowth("idle, the subscription running:", Watch(hadrel, seconds, nullptr));
    long groups = 0, items = 0;
    int block = 0;
    Growth churn = Watch(hadrel, seconds, [&] {
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        IOPCItemMgt *group = nullptr;
        if (FAILED(server->AddGroup(L"", TRUE, kPeriod, 2, nullptr, nullptr, 2048, &handle, &rate, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown **>(&group))))
            return;
        ++groups;
        // Every fourth group takes the words of one block; the others none.
        if (groups % 4 == 0) {
            WordItems more(kWords, 1, block);
            block = (block + 1) % kBlocks;
            OPCITEMRESULT *r = nullptr;
            HRESULT *e = nullptr;
            if (SUCCEEDED(group->AddItems(more.Count(), more.defs.data(), &r, &e))) {
                items += long(more.Count());
                std::vector<OPCHANDLE> half;
                for (DWORD i = 0; i < more.Count(); i += 2)
                    half.push_back(r[i].hServer);
                HRESULT *removed = nullptr;
                group->RemoveItems(DWORD(half.size()), half.data(), &removed);
                CoTaskMemFree(removed);
            }
            CoTaskMemFree(r);
            CoTaskMemFree(e);
        }
        server->RemoveGroup(handle, FALSE);
        group->Release();
    });
    PrintGrowth("adding and removing groups:", churn);
    double grown = (churn.last.privateMb - churn.first.privateMb) * 1048576.0;
    std::printf("  %ld groups and %ld items added and removed in %d s: Hadrel's private bytes %+.0f per group, "
                "%+.0f per item\n",
                groups, items, seconds, groups ? grown / double(groups) : 0.0, items ? grown / double(items) : 0.0);
    PrintGrowth("idle again:", Watch(hadrel, seconds, nullptr));
    std::printf("  subscription: %ld callbacks, %ld values\n", sink.callbacks.load(), sink.values.load());
    std::printf("growth per call:\n");
    CallGrowth(hadrel);
    writing = false;
    writer.join();
    advised.Stop();
    server->RemoveGroup(subscriptionHandle, TRUE);
    subscribed->Release();
}

}  // namespace

int main(int argc, char **argv)
{
    std::string mode = argc > 1 && !std::isdigit(static_cast<unsigned char>(argv[1][0])) ? argv[1] : "";
    int seconds = mode.empty() ? (argc > 1 ? std::atoi(argv[1]) : 5) : (argc > 2 ? std::atoi(argv[2]) : 60);
    int blockCount = mode == "additems" ? kAddBlocks : kBlocks;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    kivserver::ServerSession session;
    std::vector<kivserver::BlockDefinition> blocks;
    std::vector<std::string> names, starts;
    for (int b = 0; b < blockCount; ++b) {
        names.push_back("Bench" + std::to_string(b));
        starts.push_back("DB" + std::to_string(20 + b) + ",0");
    }
    for (int b = 0; b < blockCount; ++b)
        blocks.push_back({names[size_t(b)].c_str(), 1, starts[size_t(b)].c_str(), 2 * kWords, 0.0f});
    if (!session.Prepare() || !session.Configure(blocks)) {
        std::printf("cannot set up the I/O server: %s\n", session.failure.c_str());
        return 1;
    }
    std::vector<DWORD> pids = kivserver::ServerProcesses();
    HANDLE hadrel = pids.empty() ? nullptr : OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pids[0]);
    ProcessAttach();
    IOPCServer *server = nullptr;
    if (FAILED(g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&server)))) {
        std::printf("cannot create the OPC server\n");
        return 1;
    }
    if (mode == "additems") {
        AddItemsFigures(server);
    } else if (mode == "memory") {
        ChurnFigures(server, session, hadrel, seconds);
    } else {
        Run(server, session, 1000, seconds, hadrel);
        Run(server, session, 100, seconds, hadrel);
    }
    server->Release();
    ProcessDetach(true);
    if (hadrel)
        CloseHandle(hadrel);
    session.Release();
    CoUninitialize();
    return 0;
}
