// The demo's stand-in for the plant: while it runs, the simulated
// controller's data block counts up, so that a client watching the server
// sees values change.
//
//   hadrel_demo_plc CP VFD CONNECTION DB SECONDS
//
// Every 100 ms each of the first four words of the data block (in the
// controller's byte order, big-endian) steps on: word 0 counts, word 1
// follows a saw tooth, word 2 mirrors the seconds, word 3 stays at its value.
#include <cstdio>
#include <cstdlib>
#include "S7Sim.h"

int main(int argc, char **argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: hadrel_demo_plc CP VFD CONNECTION DB SECONDS\n");
        return 2;
    }
    s7sim::Controller controller;
    if (!controller.Open(argv[1], argv[2], argv[3])) {
        std::fprintf(stderr, "cannot open the simulated controller %s/%s/%s\n", argv[1], argv[2], argv[3]);
        return 1;
    }
    WORD db = WORD(std::atoi(argv[4]));
    DWORD seconds = DWORD(std::atoi(argv[5]));
    BYTE *memory = s7sim::AreaMemory(controller.get(), true, s7sim::AreaFlags, db);
    if (!memory) {
        std::fprintf(stderr, "no room for DB%u in the simulated controller\n", unsigned(db));
        return 1;
    }
    auto put = [&](int word, unsigned value) {
        s7sim::SharedLock lock(controller.get());
        memory[2 * word] = BYTE(value >> 8);
        memory[2 * word + 1] = BYTE(value);
    };
    DWORD start = GetTickCount();
    for (unsigned tick = 0; GetTickCount() - start < seconds * 1000; ++tick) {
        put(0, tick);
        put(1, (tick * 7) % 100);
        put(2, (GetTickCount() - start) / 1000);
        Sleep(100);
    }
    std::printf("simulated controller: %ld reads served, last count %u\n", long(controller->reads),
                unsigned(memory[0] << 8 | memory[1]));
    return 0;
}
