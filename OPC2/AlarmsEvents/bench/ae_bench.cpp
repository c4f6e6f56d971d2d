// ae_bench [toggles N] [threads N] [forward 0|1]: event delivery from
// Hadrel.exe through Aleron to a client's IOPCEventSink. The client
// subscribes, switches the data blocks' "SendEvents" on, and toggles
// "Enabled" through IDriver as fast as it can (one block per toggling
// thread, each thread its own proxy); every toggle is one forwarded record.
// It prints the rate of the toggle calls, the events per second that
// reached OnEvent, the events lost, the events' own rate between the first
// and the last arrival with how many were still on their way when the
// toggles ended (several threads toggle faster than the events travel, so
// that this is the rate of the event path alone), and the time from each
// toggle's call to its event's OnEvent (median and 95th percentile). With
// "forward 0" the blocks send no events: the toggle calls' own rate, for
// comparison.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include "ae_client.h"

using namespace aeclient;

namespace {

struct Toggler {
    IStream *marshalled = nullptr;   // the driver for this thread
    LONG block = 0;
    std::wstring name;
    int count = 0;
    std::vector<LARGE_INTEGER> calls;   // when each toggle's call began
    HRESULT failed = S_OK;
};

DWORD WINAPI Toggle(void *p)
{
    Toggler &t = *static_cast<Toggler *>(p);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IQORDriver *driver = nullptr;
    t.failed = CoGetInterfaceAndReleaseStream(t.marshalled, IID_IQORDriver, reinterpret_cast<void **>(&driver));
    for (int i = 0; SUCCEEDED(t.failed) && i < t.count; ++i) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        t.calls.push_back(now);
        HRESULT hr = SetProperty(driver, t.block, L"Enabled", I2(i % 2 ? 1 : 0));
        if (FAILED(hr))
            t.failed = hr;
    }
    if (driver)
        driver->Release();
    CoUninitialize();
    return 0;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t at = size_t(p * double(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

} // namespace

int main(int argc, char **argv)
{
    int toggles = 2000, threads = 1, forward = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "toggles"))
            toggles = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "threads"))
            threads = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "forward"))
            forward = atoi(argv[i + 1]);
    }
    threads = std::max(1, std::min(threads, 8));
    std::string failure = PreparePlant("");
    if (!failure.empty()) {
        printf("setup: %s\n", failure.c_str());
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IQORDriver *driver = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                  reinterpret_cast<void **>(&driver));
    Plant plant;
    if (SUCCEEDED(hr))
        hr = BuildPlant(driver, &plant);
    // One block per thread beyond the plant's two.
    std::vector<std::pair<LONG, std::wstring>> blocks = {{plant.block, L"Blk1"}, {plant.block2, L"Blk2"}};
    for (int i = 2; SUCCEEDED(hr) && i < threads; ++i) {
        std::wstring name = L"Blk" + std::to_wstring(i + 1), start = L"DB" + std::to_wstring(20 + i) + L",0";
        Properties p({{L"Name", Text(name.c_str())}, {L"StartAddress", Text(start.c_str())}, {L"Length", I4(10)}});
        VARIANT errors;
        VariantInit(&errors);
        LONG handle = 0;
        hr = driver->AddDataBlock(plant.device, p.names, p.values, &errors, &handle);
        VariantClear(&errors);
        blocks.push_back({handle, name});
    }
    IOPCEventServer *server = nullptr;
    if (SUCCEEDED(hr))
        server = CreateEventServer(&hr);
    if (FAILED(hr)) {
        printf("the server, its plant or Aleron: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    LPWSTR area[1] = {const_cast<LPWSTR>(L"DataBlocks")};
    if (forward)
        server->EnableConditionByArea(1, area);
    EventSink *sink = new EventSink;
    Subscription sub;
    hr = sub.Create(server, TRUE, 0, 1);
    if (SUCCEEDED(hr))
        hr = sub.Advise(sink);
    if (FAILED(hr)) {
        printf("subscription: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }

    std::vector<Toggler> work(static_cast<size_t>(threads));
    std::vector<HANDLE> handles;
    for (int i = 0; i < threads; ++i) {
        Toggler &t = work[size_t(i)];
        t.block = blocks[size_t(i)].first;
        t.name = blocks[size_t(i)].second;
        t.count = toggles / threads;
        t.calls.reserve(size_t(t.count));
        CoMarshalInterThreadInterfaceInStream(IID_IQORDriver, driver, &t.marshalled);
    }
    int total = (toggles / threads) * threads;
    LARGE_INTEGER frequency, begin;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (Toggler &t : work)
        handles.push_back(CreateThread(nullptr, 0, Toggle, &t, 0, nullptr));
    WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, INFINITE);
    LARGE_INTEGER togglesDone;
    QueryPerformanceCounter(&togglesDone);
    printf("toggle calls: %.0f per second\n",
           total / (double(togglesDone.QuadPart - begin.QuadPart) / double(frequency.QuadPart)));
    if (!forward)
        total = 0;
    for (HANDLE h : handles)
        CloseHandle(h);
    // Whatever is still on its way gets two seconds past the last arrival.
    size_t last = 0;
    for (;;) {
        sink->WaitFor(size_t(total), 2000);
        size_t now = sink->Count();
        if (now >= size_t(total) || now == last)
            break;
        last = now;
    }
    std::vector<Seen> events = sink->Events();
    for (const Toggler &t : work)
        if (FAILED(t.failed))
            printf("a toggle failed: 0x%08lX\n", static_cast<unsigned long>(t.failed));

    // Each block's events in order belong to its toggles in order.
    std::map<std::wstring, size_t> next;
    std::vector<double> latencies;
    LONGLONG lastArrival = begin.QuadPart, firstArrival = 0;
    int late = 0;
    for (const Seen &e : events) {
        if (!firstArrival)
            firstArrival = e.at.QuadPart;
        late += e.at.QuadPart > togglesDone.QuadPart;
        for (const Toggler &t : work) {
            if (t.name != e.source)
                continue;
            size_t &i = next[t.name];
            if (i < t.calls.size())
                latencies.push_back(double(e.at.QuadPart - t.calls[i].QuadPart) * 1000.0 / double(frequency.QuadPart));
            ++i;
        }
        lastArrival = std::max(lastArrival, e.at.QuadPart);
    }
    double seconds = double(lastArrival - begin.QuadPart) / double(frequency.QuadPart);
    int received = int(events.size());
    printf("toggles %d from %d thread(s); events reaching OnEvent %d in %.2f s: %.0f per second; lost %d\n", total,
           threads, received, seconds, seconds > 0 ? received / seconds : 0.0, total - received);
    // The events' own rate, between the first and the last arrival: the
    // rate of the event path once the toggles outrun it (events still on
    // their way when the toggles ended), else the toggles' rate.
    double arriving = double(lastArrival - firstArrival) / double(frequency.QuadPart);
    printf("events arriving: %.0f per second between the first and the last; %d still on their way when the "
           "toggles ended\n",
           arriving > 0 && received > 1 ? (received - 1) / arriving : 0.0, late);
    printf("toggle call to OnEvent: median %.2f ms, 95th percentile %.2f ms, max %.2f ms\n",
           Percentile(latencies, 0.5), Percentile(latencies, 0.95), Percentile(latencies, 1.0));

    DWORD start = GetTickCount();
    sub.Unadvise();
    sub.Release();
    printf("Unadvise and Release: %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    sink->Release();
    server->DisableConditionByArea(1, area);
    server->Release();
    driver->Release();
    CoUninitialize();
    return received == total ? 0 : 2;
}
