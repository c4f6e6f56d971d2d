// Throughput of the store across two processes: this program starts a copy
// of itself as the second process. Block phase: one process sets a 260-byte
// block while the other reads it back. Queue phase: the second process adds
// output records while the first takes them as they arrive.
//
//   store_bench [blocks N] [records N]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "CommonMemory.h"

namespace {

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

void Report(const char *what, unsigned long operations, double seconds)
{
    printf("%-34s %9lu ops in %7.3f s: %10.0f per second\n", what, operations, seconds, operations / seconds);
    fflush(stdout);
}

HANDLE StartPeer(const std::string &name, const char *phase, unsigned long count)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string command = "\"" + std::string(path) + "\" peer " + name + " " + phase + " " + std::to_string(count);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The second process: reads the block, or adds the records.
int Peer(const std::string &name, const std::string &phase, unsigned long count)
{
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    if (phase == "blocks") {
        BYTE bytes[260];
        double start = Seconds();
        for (unsigned long i = 0; i < count; ++i)
            if (store.GetDataBlock(0, sizeof(bytes), bytes, 0, 1) != 0)
                return 2;
        Report("GetDataBlock, 260 bytes (peer)", count, Seconds() - start);
        return 0;
    }
    OutputRecord record = {};
    record.kind = OUTPUT_ANALOG;
    record.length = 4;
    double start = Seconds();
    for (unsigned long i = 0; i < count; ++i) {
        record.address = i;
        unsigned long result;
        while ((result = store.AddOutput(&record)) == STORE_OVERRUN)
            Sleep(0);
        if (result != 0)
            return 2;
    }
    Report("AddOutput (peer)", count, Seconds() - start);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "peer") == 0)
        return Peer(argv[2], argv[3], strtoul(argv[4], NULL, 0));
    unsigned long blocks = 20000, records = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "blocks") == 0)
            blocks = strtoul(argv[i + 1], NULL, 0);
        else if (strcmp(argv[i], "records") == 0)
            records = strtoul(argv[i + 1], NULL, 0);
    }
    char name[64];
    snprintf(name, sizeof(name), "TsyBench%lu", GetCurrentProcessId());
    CCommonMemory store(STORE_STANDARD_GROUPS, name);
    unsigned short index;
    if (store.CreateDataBlock(&index, 260, 1) != 0) {
        fprintf(stderr, "the store cannot be opened\n");
        return 1;
    }

    BYTE bytes[260] = {};
    HANDLE peer = StartPeer(name, "blocks", blocks);
    double start = Seconds();
    for (unsigned long i = 0; i < blocks; ++i) {
        bytes[0] = static_cast<BYTE>(i);
        store.SetDataBlock(index, sizeof(bytes), bytes, 0);
    }
    Report("SetDataBlock, 260 bytes", blocks, Seconds() - start);
    WaitForSingleObject(peer, INFINITE);
    CloseHandle(peer);

    HANDLE wake = OpenEventA(SYNCHRONIZE, FALSE, (std::string(name) + "_OutputEvent").c_str());
    peer = StartPeer(name, "records", records);
    OutputRecord record;
    unsigned long taken = 0, misordered = 0;
    start = 0;
    while (taken < records) {
        HANDLE both[] = {wake, peer};
        DWORD woke = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        while (store.GetOutputHead(&record) == 0) {
            if (taken == 0)
                start = Seconds();
            if (record.address != taken)
                ++misordered;
            ++taken;
        }
        if (woke != WAIT_OBJECT_0)
            break;
    }
    Report("GetOutputHead, first to last", taken, Seconds() - start);
    WaitForSingleObject(peer, INFINITE);
    CloseHandle(peer);
    CloseHandle(wake);
    if (taken != records || misordered) {
        fprintf(stderr, "%lu of %lu records, %lu out of order\n", taken, records, misordered);
        return 1;
    }
    return 0;
}
