// Benchmark (not a test): the data monitor's frames reaching a callback in
// another process (this one) from the real server on the simulated
// controller. It prints frames per second and frames lost (the blocks'
// request and reply counts against the frames received) for one block at
// poll time 0 and for 20 blocks on one device, and the poll rate of one
// block with a callback that sleeps 100 ms per frame against none.
//   monitor_bench [seconds]
#include <windows.h>
#include <ole2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "FrameSinkBase.h"
#include "server_session.h"

namespace {

using kivserver::I2;
using kivserver::Properties;
using kivserver::Text;

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    } while (GetTickCount() - start < ms);
}

class CountingSink : public FrameSinkBase {
public:
    LONG frames = 0;
    DWORD sleepMs = 0;

protected:
    HRESULT OnFrame(int, BSTR) override
    {
        ++frames;
        if (sleepMs)
            Sleep(sleepMs);
        return S_OK;
    }
};

void SetProperty(IQORDriver *driver, LONG handle, const char *name, VARIANT value)
{
    Properties p({{name, value}});
    VARIANT errors;
    VariantInit(&errors);
    driver->SetPropertyData(handle, p.names, p.values, &errors);
    VariantClear(&errors);
}

LONG Count(IQORDriver *driver, LONG handle, const char *name)
{
    Properties p({{name, I2(0)}});
    VARIANT values, errors;
    VariantInit(&values);
    VariantInit(&errors);
    LONG count = 0;
    if (SUCCEEDED(driver->GetPropertyData(handle, p.names, &values, &errors)) && (V_VT(&values) & VT_ARRAY)) {
        LONG index = 0;
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(V_ARRAY(&values), &index, &element);
        VariantChangeType(&element, &element, 0, VT_I4);
        count = V_I4(&element);
        VariantClear(&element);
    }
    VariantClear(&values);
    VariantClear(&errors);
    return count;
}

struct Totals {
    LONG transmitted = 0, received = 0;
};

Totals Sum(IQORDriver *driver, const std::vector<LONG> &blocks)
{
    Totals totals;
    for (LONG block : blocks) {
        totals.transmitted += Count(driver, block, "MsgTransmitCount");
        totals.received += Count(driver, block, "MsgReceiveCount");
    }
    return totals;
}

std::vector<LONG> Handles(IQORDriver *driver, int count)
{
    std::vector<LONG> handles;
    for (int i = 0; i < count; ++i) {
        std::string name = "MonBlk" + std::to_string(i);
        VARIANT text = Text(name.c_str());
        LONG handle = 0;
        VARIANT_BOOL found = VARIANT_FALSE;
        driver->ObjectName2Handle(V_BSTR(&text), &handle, &found);
        VariantClear(&text);
        handles.push_back(handle);
        SetProperty(driver, handle, "PrimaryPollTime", Text("0"));
    }
    return handles;
}

// Frames to a connected callback with TracewellOn on every block.
void Frames(const char *what, int blockCount, DWORD seconds)
{
    kivserver::ServerSession session;
    std::vector<kivserver::BlockDefinition> blocks;
    std::vector<std::string> names;
    for (int i = 0; i < blockCount; ++i)
        names.push_back("MonBlk" + std::to_string(i));
    static char starts[32][16];
    for (int i = 0; i < blockCount; ++i) {
        snprintf(starts[i], sizeof starts[i], "DB%d,0", 20 + i);
        blocks.push_back({names[size_t(i)].c_str(), 9, starts[i], 4, 0.0f});
    }
    if (!session.Prepare() || !session.Configure(blocks)) {
        printf("%s: no server: %s\n", what, session.failure.c_str());
        return;
    }
    IQORDriver *driver = session.driver;
    std::vector<LONG> handles = Handles(driver, blockCount);
    ITracewellConnect *monitor = nullptr;
    driver->QueryInterface(IID_ITracewellConnect, reinterpret_cast<void **>(&monitor));
    CountingSink sink;
    LONG cookie = 0;
    monitor->Connect(&sink, 0, &cookie);
    Pump(1000);
    // Each block's counts are read right before its switch goes on and
    // right after it goes off, so the counts and the frames cover the same
    // messages.
    LONG expected = 0;
    for (LONG handle : handles) {
        Totals before = Sum(driver, {handle});
        SetProperty(driver, handle, "TracewellOn", I2(1));
        expected -= before.transmitted + before.received;
    }
    DWORD started = GetTickCount();
    Pump(seconds * 1000);
    for (LONG handle : handles) {
        SetProperty(driver, handle, "TracewellOn", I2(0));
        Totals after = Sum(driver, {handle});
        expected += after.transmitted + after.received;
    }
    double elapsed = (GetTickCount() - started) / 1000.0;
    Pump(2000);   // what is still queued arrives
    printf("%s: %.0f frames/s received (%ld frames in %.1f s); requests and replies %ld; lost %ld\n", what,
           sink.frames / elapsed, sink.frames, elapsed, expected, expected - sink.frames);
    monitor->Disconnect(0);
    monitor->Release();
}

// Reads per second of one block at poll time 0 with TracewellOn: no
// callback, then a callback that takes 100 ms per frame.
void PollRate(DWORD seconds)
{
    kivserver::ServerSession session;
    if (!session.Prepare() || !session.Configure({{"MonBlk0", 9, "DB20,0", 4, 0.0f}})) {
        printf("poll rate: no server: %s\n", session.failure.c_str());
        return;
    }
    IQORDriver *driver = session.driver;
    std::vector<LONG> handles = Handles(driver, 1);
    SetProperty(driver, handles[0], "TracewellOn", I2(1));
    ITracewellConnect *monitor = nullptr;
    driver->QueryInterface(IID_ITracewellConnect, reinterpret_cast<void **>(&monitor));
    double rates[2] = {};
    CountingSink sink;
    sink.sleepMs = 100;
    for (int slow = 0; slow < 2; ++slow) {
        LONG cookie = 0;
        if (slow)
            monitor->Connect(&sink, 0, &cookie);
        Pump(1000);
        LONG before = Count(driver, handles[0], "MsgReceiveCount");
        DWORD started = GetTickCount();
        Pump(seconds * 1000);
        LONG after = Count(driver, handles[0], "MsgReceiveCount");
        rates[slow] = (after - before) / ((GetTickCount() - started) / 1000.0);
    }
    SetProperty(driver, handles[0], "TracewellOn", I2(0));
    printf("poll rate of one block at 0: %.0f reads/s without a callback, %.0f reads/s with a callback taking "
           "100 ms per frame (%.0f %%; %ld frames reached it)\n",
           rates[0], rates[1], rates[0] > 0 ? 100.0 * rates[1] / rates[0] : 0.0, sink.frames);
    monitor->Disconnect(0);
    Pump(500);
    monitor->Release();
}

} // namespace

int main(int argc, char **argv)
{
    DWORD seconds = argc > 1 ? DWORD(atoi(argv[1])) : 5;
    if (seconds == 0)
        seconds = 5;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    Frames("one block at poll time 0", 1, seconds);
    Frames("20 blocks on one device", 20, seconds);
    PollRate(seconds);
    CoUninitialize();
    return 0;
}
