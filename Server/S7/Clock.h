// The time source of timeouts and idle closing, injectable so that tests
// move time on by hand instead of waiting.
#pragma once
#include <windows.h>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds from an arbitrary start; never goes back.
    virtual ULONGLONG NowMs() = 0;
};

// The machine's tick count.
IClock *SystemClock();
