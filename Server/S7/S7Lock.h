// Holds a critical section for the life of a scope.
#pragma once
#include <windows.h>

class Locked {
public:
    explicit Locked(CRITICAL_SECTION *cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    ~Locked() { LeaveCriticalSection(m_cs); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
private:
    CRITICAL_SECTION *m_cs;
};
