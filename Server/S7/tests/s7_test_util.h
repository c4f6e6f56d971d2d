// Helpers of the request and processor tests: a request that counts its
// notices, and bounded waits that never decide a result by elapsed time.
#pragma once
#include "XAction.h"
#include "XActionProcessor.h"
#include <functional>

namespace s7test {

class CountingRequest : public CXAction {
public:
    CountingRequest(const char *conn, const char *varText, LONG retries = 3, DWORD timeoutMs = 3000)
    {
        SetConnectionName(conn);
        SetVariableText(varText);
        SetRetries(retries);
        SetTimeout(timeoutMs);
    }
    void OnRetry() override { ++retries; }
    void OnTimeout() override { ++timeouts; }
    int retries = 0;
    int timeouts = 0;
};

// Polls cond until it holds or limitMs of real time pass (a hang guard only).
inline bool WaitFor(const std::function<bool()> &cond, DWORD limitMs = 15000)
{
    ULONGLONG end = GetTickCount64() + limitMs;
    while (!cond()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(1);
    }
    return true;
}

inline bool WaitDone(const CXAction &request)
{
    return WaitFor([&] { return request.GetState() >= CXAction::StateCompleted; });
}

// Waits until the processor's timeout thread has run n more ticks.
inline bool WaitTicks(const CXActionProcessor &p, ULONG n = 3)
{
    ULONG start = p.GetTickCounter();
    return WaitFor([&] { return p.GetTickCounter() - start >= n; });
}

} // namespace s7test
