// Appends 40-byte frames from another thread into the open data monitor for
// some seconds while the window's thread pumps its messages; prints frames
// per second, repaints per second and the most posted updates waiting at once.
// Usage: scope_bench [seconds]
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>
#include "Profile.h"
#include "ScopeLibrary.h"

namespace {
// Settings as the defaults give them, nothing written.
class CDefaultsProfile : public IProfileStore {
public:
    unsigned long ReadInt(const char *, const char *, unsigned long value) override { return value; }
    bool WriteInt(const char *, const char *, unsigned long) override { return true; }
};
}  // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? atof(argv[1]) : 3.0;
    CDefaultsProfile profile;
    CScopeLibrary &library = CScopeLibrary::Instance();
    library.Load(&profile);
    if (!library.Open(NULL)) {
        printf("the window did not open\n");
        return 1;
    }
    const ScopeCounters &counters = library.Counters();
    std::atomic<bool> stop{false};
    std::atomic<long> frames{0};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const LONG repaintsBefore = counters.repaints;
    std::thread sender([&] {
        std::vector<BYTE> frame(40);
        for (long n = 0; !stop; ++n) {
            frame[0] = BYTE(n);
            frames += library.Send(frame.data(), WORD(frame.size()), int(n & 1));
        }
    });
    LONG backlog = 0;
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < DWORD(seconds * 1000)) {
        MSG msg;
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        } else {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
        }
        const LONG waiting = counters.updatesPosted - counters.updatesHandled;
        if (waiting > backlog)
            backlog = waiting;
    }
    stop = true;
    sender.join();
    QueryPerformanceCounter(&end);
    const double elapsed = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    const LONG repaints = counters.repaints - repaintsBefore;
    printf("frames: %ld in %.2f s = %.0f frames/s\n", frames.load(), elapsed, frames.load() / elapsed);
    printf("repaints: %ld = %.1f repaints/s\n", long(repaints), repaints / elapsed);
    printf("updates posted %ld, handled %ld, most waiting at once %ld\n", long(counters.updatesPosted),
           long(counters.updatesHandled), long(backlog));
    library.Close();
    library.Unload();
    return 0;
}
