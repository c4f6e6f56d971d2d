// opc_bench: how many of the controller's value changes reach an OPC client
// within two update periods. Hadrel.exe polls ten data blocks of the
// simulated controller every 100 ms while this program writes a new value
// into every word of them each period; Brisko runs in this process with one
// group of N items (N = 1000, then 100) at 100 ms, and an IOPCDataCallback
// sink notes when each value arrives. Prints the share of changed values
// delivered in time, callbacks and values per second, the CPU of this
// process and of Hadrel, and one pass's read time over N items.
//
//   opc_bench [SECONDS]
#include <windows.h>
#include <ocidl.h>

#include <algorithm>
#include <atomic>
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

const int kBlocks = 10, kWords = 100;
const DWORD kPeriod = 100;

std::atomic<DWORD> g_writeTick[32768];

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
    IConnectionPointContainer *container = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    container->FindConnectionPoint(IID_IOPCDataCallback, &point);
    point->Advise(&sink, &cookie);
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
    point->Unadvise(cookie);
    point->Release();
    container->Release();
}

void Run(IOPCServer *server, kivserver::ServerSession &session, int count, int seconds, HANDLE hadrel)
{
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    IOPCItemMgt *items = nullptr;
    server->AddGroup(L"", TRUE, kPeriod, 1, nullptr, nullptr, 2048, &groupHandle, &revised, IID_IOPCItemMgt,
                     reinterpret_cast<IUnknown **>(&items));
    std::vector<std::wstring> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back(L"PLC1 DB" + std::to_wstring(20 + i / kWords) + L"," + std::to_wstring(2 * (i % kWords)));
    std::vector<OPCITEMDEF> defs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        defs[size_t(i)].szAccessPath = const_cast<LPWSTR>(L"");
        defs[size_t(i)].szItemID = &ids[size_t(i)][0];
        defs[size_t(i)].bActive = TRUE;
        defs[size_t(i)].hClient = OPCHANDLE(i);
    }
    OPCITEMRESULT *results = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = items->AddItems(DWORD(count), defs.data(), &results, &errors);
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
    IConnectionPointContainer *container = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    container->FindConnectionPoint(IID_IOPCDataCallback, &point);
    point->Advise(&sink, &cookie);

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
    point->Unadvise(cookie);
    point->Release();
    container->Release();

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

}  // namespace

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    kivserver::ServerSession session;
    std::vector<kivserver::BlockDefinition> blocks;
    std::vector<std::string> names, starts;
    for (int b = 0; b < kBlocks; ++b) {
        names.push_back("Bench" + std::to_string(b));
        starts.push_back("DB" + std::to_string(20 + b) + ",0");
    }
    for (int b = 0; b < kBlocks; ++b)
        blocks.push_back({names[size_t(b)].c_str(), 1, starts[size_t(b)].c_str(), 2 * kWords, 0.0f});
    if (!session.Prepare() || !session.Configure(blocks)) {
        std::printf("cannot set up the I/O server: %s\n", session.failure.c_str());
        return 1;
    }
    std::vector<DWORD> pids = kivserver::ServerProcesses();
    HANDLE hadrel = pids.empty() ? nullptr : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pids[0]);
    ProcessAttach();
    IOPCServer *server = nullptr;
    if (FAILED(g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&server)))) {
        std::printf("cannot create the OPC server\n");
        return 1;
    }
    Run(server, session, 1000, seconds, hadrel);
    Run(server, session, 100, seconds, hadrel);
    server->Release();
    ProcessDetach(true);
    if (hadrel)
        CloseHandle(hadrel);
    session.Release();
    CoUninitialize();
    return 0;
}
