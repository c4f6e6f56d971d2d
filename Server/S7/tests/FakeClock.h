// A clock that moves only when the test says so, for timeouts and the idle
// close without real waits.
#pragma once
#include "Clock.h"
#include <atomic>

class FakeClock : public IClock {
public:
    ULONGLONG NowMs() override { return m_now.load(); }
    void Advance(ULONGLONG ms) { m_now += ms; }
private:
    std::atomic<ULONGLONG> m_now{1000000};
};
