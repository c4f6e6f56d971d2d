// Read throughput of one processor over one connection of the stand-in
// library with no simulated latency, and the median completion latency.
//   server_s7_bench [reads]
#include "XActionProcessor.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int reads = argc > 1 ? atoi(argv[1]) : 20000;
    if (reads <= 0)
        reads = 20000;
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string path = std::string(dir) + "server_s7_bench.cfg";
    FILE *f = fopen(path.c_str(), "w");
    if (!f)
        return 1;
    fprintf(f, "cp CPBENCH\nvfd CPBENCH VFD1\nconnection CPBENCH VFD1 BENCH latency=0\n");
    fclose(f);
    SetEnvironmentVariableA("S732_CONFIG", path.c_str());

    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::vector<double> latencyUs;
    latencyUs.reserve(reads);
    double seconds = 0;
    {
        CXActionProcessor processor;
        S7ErrorRecord error;
        if (!processor.Start("CPBENCH", "VFD1", done, &error)) {
            fprintf(stderr, "start failed: %s\n", error.errorText);
            return 1;
        }
        auto readOnce = [&](bool keep) {
            CXAction read;
            read.SetConnectionName("BENCH");
            read.SetVariableText("DB10,W100,5");
            if (processor.Submit(&read) <= 0)
                return false;
            while (read.GetState() < CXAction::StateCompleted)
                WaitForSingleObject(done, 100);
            if (read.GetSubStatus() != CXAction::SubSuccess)
                return false;
            if (keep)
                latencyUs.push_back(static_cast<double>(read.GetDurationMicroseconds()));
            return true;
        };
        for (int i = 0; i < 100; ++i)
            if (!readOnce(false)) {
                fprintf(stderr, "warm-up read failed\n");
                return 1;
            }
        LARGE_INTEGER f0, t0, t1;
        QueryPerformanceFrequency(&f0);
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < reads; ++i)
            if (!readOnce(true)) {
                fprintf(stderr, "read %d failed\n", i);
                return 1;
            }
        QueryPerformanceCounter(&t1);
        seconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f0.QuadPart);
    }
    std::sort(latencyUs.begin(), latencyUs.end());
    printf("reads: %d in %.3f s\n", reads, seconds);
    printf("reads per second: %.0f\n", reads / seconds);
    printf("median completion latency: %.1f us\n", latencyUs[latencyUs.size() / 2]);
    printf("95th percentile latency: %.1f us\n", latencyUs[latencyUs.size() * 95 / 100]);
    CloseHandle(done);
    return 0;
}
