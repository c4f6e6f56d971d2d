// The start rule's clock and sleep for SetDriverClock: the clock stands
// still until the test moves it, and a sleep moves it by what was slept.
#pragma once
#include <windows.h>
#include <vector>

namespace configtest {

inline ULONGLONG g_clock = 0;       // 100 ns units since 1601
inline std::vector<DWORD> g_slept;  // every sleep asked for, in ms
inline ULONGLONG FakeClock() { return g_clock; }
inline void FakeSleep(DWORD ms)
{
    g_slept.push_back(ms);
    g_clock += ULONGLONG(ms) * 10000;
}

} // namespace configtest
