// Oxley's figures (a benchmark, not a test):
//   reads   kiv_read of a WORD item, and of a 200-character text item, from a
//           250-byte block created in the store, one thread, for a second each;
//   writes  the median time from kiv_send to the value in the simulated
//           controller's memory when the server runs (kiv_bench writes
//           --server), else to the record in the store's output queue, taken
//           by a second thread as the server's output thread would.
// Usage: kiv_bench [reads|writes] [--server]
// With --server the program registers Hadrel.exe in the prefix and builds a
// configuration on the simulated controller, as the end-to-end test does.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>
#include "KivLibrary.h"
#include "KivTables.h"
#include "Oxley.h"
#include "S7Types.h"
#include "server_session.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

struct BenchItem {
    KivDevice device = {};
    KivAddress address = {};
    KivBlock block = {};
    KivKind kind = {};
    BenchItem(uint8_t k, uint8_t count, uint32_t handle, uint16_t index, uint16_t offset)
    {
        block.device = &device;
        block.address = &address;
        kind.kind = k;
        kind.count = count;
        kind.span = 100;
        device.blockHandle = handle;
        device.addressWord = 1u << 28 | 10u << 15 | offset;
        address.blockIndex = index;
    }
};

uint16_t MakeBlock(CCommonMemory &store, uint32_t owner, uint16_t type)
{
    uint16_t index = 0;
    store.CreateDataBlock(&index, 260, owner);
    store.SetInternalAddress(index, 1u << 28 | 0, 0);
    uint8_t bytes[250];
    for (int i = 0; i < 250; ++i)
        bytes[i] = uint8_t('A' + i % 26);
    store.SetDataBlock(index, 250, bytes, 0);
    store.SetBytesInUse(index, 250);
    store.SetDataBlock(index, 2, &type, 258);
    store.SetDataBlockStatus(index, 0xC0);
    return index;
}

void StoreCalls()
{
    CCommonMemory store(STORE_STANDARD_GROUPS, kiv::Lib().driverName);
    const uint16_t index = MakeBlock(store, 0xB000, S7TypeWord);
    long calls = 0;
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    do {
        for (int i = 0; i < 200; ++i) {
            unsigned short status;
            unsigned long owner;
            store.GetDataBlockStatus(index, &status, &owner);
        }
        calls += 200;
        QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < 1.0);
    printf("for comparison, one store call (GetDataBlockStatus): %.0f per second\n", calls / Seconds(start, now));
}

void Reads()
{
    CCommonMemory store(STORE_STANDARD_GROUPS, kiv::Lib().driverName);
    const uint16_t words = MakeBlock(store, 0xB001, S7TypeWord);
    const uint16_t chars = MakeBlock(store, 0xB002, S7TypeChar);
    struct {
        const char *what;
        BenchItem item;
        uint8_t length;
    } runs[] = {
        {"WORD item", BenchItem(KIV_ANALOG, 1, 0xB001, words, 100), 0},
        {"200-character text item", BenchItem(KIV_TEXT, 200, 0xB002, chars, 20), 200},
    };
    for (auto &run : runs) {
        char buffer[260];
        KivValue value = {0, run.length, 0, buffer};
        KivStatus status[2];
        long reads = 0;
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        do {
            for (int i = 0; i < 200; ++i) {
                value.length = run.length;
                kiv_read(status, &run.item.block, &run.item.kind, &value);
            }
            reads += 200;
            QueryPerformanceCounter(&now);
        } while (Seconds(start, now) < 1.0);
        printf("kiv_read, %s of a 250-byte block: %.0f reads per second (status %u, error %u)\n", run.what,
               reads / Seconds(start, now), unsigned(status[0]), unsigned(value.errorCode));
    }
}

void StoreWrites()
{
    CCommonMemory store(STORE_STANDARD_GROUPS, kiv::Lib().driverName);
    const uint16_t words = MakeBlock(store, 0xB003, S7TypeWord);
    BenchItem item(KIV_ANALOG, 1, 0xB003, words, 100);
    std::atomic<bool> done(false);
    std::atomic<long> taken(0);
    std::vector<LARGE_INTEGER> arrivals;
    arrivals.reserve(2000);
    std::thread reader([&] {
        CCommonMemory output(STORE_STANDARD_GROUPS, kiv::Lib().driverName);
        OutputRecord record;
        while (!done) {
            if (output.GetOutputHead(&record) == STORE_OK) {
                LARGE_INTEGER t;
                QueryPerformanceCounter(&t);
                arrivals.push_back(t);
                ++taken;
            }
        }
    });
    std::vector<double> latencies;
    for (int n = 0; n < 1000; ++n) {
        float f = float(n);
        KivValue value = {KIV_VALUE_FLOAT, 4, 0, &f};
        KivStatus status = 0;
        LARGE_INTEGER sent;
        QueryPerformanceCounter(&sent);
        kiv_send(&status, &item.block, &item.kind, &value);
        while (taken.load() <= n)
            ;
        latencies.push_back(Seconds(sent, arrivals[n]) * 1e6);
    }
    done = true;
    reader.join();
    std::sort(latencies.begin(), latencies.end());
    printf("kiv_send to the record taken from the output queue (no server): median %.0f us, 95th percentile %.0f us "
           "over %zu writes\n",
           latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100], latencies.size());
}

// kiv_send of an INT through the server to the controller's memory.
int ServerWrites()
{
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    kivserver::ServerSession session;
    if (!session.Prepare() || !session.Configure({{"IntBlk", 1, "DB10,100", 10, 0.0f}})) {
        printf("no server: %s\n", session.failure.c_str());
        return 1;
    }
    BenchItem item(KIV_ANALOG, 1, 0, 0, 0);
    KivStatus status = 0;
    kiv_paddr(&status, &item.block, &item.kind, "PLC1 DB10,102");
    if (status != 0) {
        printf("kiv_paddr failed: %u\n", unsigned(status));
        return 1;
    }
    std::vector<double> latencies;
    for (int n = 1; n <= 200; ++n) {
        float f = float(n);
        KivValue value = {KIV_VALUE_FLOAT, 4, 0, &f};
        const std::vector<BYTE> expected = {BYTE(n >> 8), BYTE(n)};
        LARGE_INTEGER sent, now;
        QueryPerformanceCounter(&sent);
        kiv_send(&status, &item.block, &item.kind, &value);
        do {
            QueryPerformanceCounter(&now);
        } while (session.Get(10, 102, 2) != expected && Seconds(sent, now) < 5.0);
        latencies.push_back(Seconds(sent, now) * 1e3);
    }
    std::sort(latencies.begin(), latencies.end());
    printf("kiv_send to the simulated controller's memory through Hadrel: median %.2f ms, 95th percentile %.2f ms, "
           "longest %.2f ms over %zu writes\n",
           latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100], latencies.back(),
           latencies.size());
    kiv_CleanUp(nullptr);
    session.Release();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    bool reads = true, writes = true;
    if (argc > 1 && strcmp(argv[1], "reads") == 0)
        writes = false;
    if (argc > 1 && strcmp(argv[1], "writes") == 0)
        reads = false;
    bool server = false;
    for (int i = 1; i < argc; ++i)
        server |= strcmp(argv[i], "--server") == 0;
    char name[32];
    snprintf(name, sizeof(name), "KivBench%lu", GetCurrentProcessId());
    // With the server the store is the driver's own.
    kiv::Start(server ? "QOR" : name);
    int result = 0;
    if (reads) {
        Reads();
        StoreCalls();
    }
    if (writes)
        result = server ? ServerWrites() : (StoreWrites(), 0);
    kiv::End(false);
    return result;
}
