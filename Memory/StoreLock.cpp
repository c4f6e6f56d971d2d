#include "StoreLock.h"
#include <stdio.h>
#include "SharedArea.h"

namespace {

// Spinning serves the common case, a holder that copies a few hundred bytes;
// a holder that takes longer (a commit, a descheduled thread) sends the
// waiter to sleep after about a hundred microseconds.
const int SpinRounds = 2048;
const int PausesPerYield = 64;
// A sleeping waiter looks at the owner's life this often, and at the other
// waiters' less often (each look opens a thread).
const DWORD SleepMs = 4;
const DWORD OwnerCheckMs = 4;
const DWORD SlotSweepMs = 100;
const unsigned WakesPerSweep = 256;

inline uint64_t Load(const uint64_t *p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void Store(uint64_t *p, uint64_t v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }
inline bool Swap(uint64_t *p, uint64_t expected, uint64_t wanted)
{
    return __atomic_compare_exchange_n(p, &expected, wanted, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}
inline uint32_t Load32(const uint32_t *p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void Store32(uint32_t *p, uint32_t v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }

uint32_t CreationStamp(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return created.dwLowDateTime;
}

thread_local uint64_t t_identity;

} // namespace

StoreLock::~StoreLock()
{
    if (m_view)
        UnmapViewOfFile(m_view);
    if (m_section)
        CloseHandle(m_section);
    if (m_wake)
        CloseHandle(m_wake);
}

void StoreLock::SectionName(char *out, size_t size, const char *storeName)
{
    snprintf(out, size, "%s_StoreLocks", storeName);
}

DWORD StoreLock::Open(const char *storeName, unsigned group, const char *lockName)
{
    if (m_record)
        return 0;
    if (group >= StoreLockGroups)
        return ERROR_INVALID_PARAMETER;
    OpenSecurity security;
    char name[MAX_PATH + 16];
    if (!m_wake) {
        snprintf(name, sizeof(name), "%sWake", lockName);
        m_wake = CreateEventA(security.Attributes(), FALSE, FALSE, name);
        if (!m_wake)
            return GetLastError();
    }
    if (!m_section) {
        SectionName(name, sizeof(name), storeName);
        // A new page-file section reads as zeros: every lock free.
        m_section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0,
                                       sizeof(StoreLockSection), name);
        if (!m_section)
            return GetLastError();
    }
    m_view = static_cast<StoreLockSection *>(MapViewOfFile(m_section, FILE_MAP_WRITE, 0, 0, sizeof(StoreLockSection)));
    if (!m_view)
        return GetLastError();
    m_record = &m_view->groups[group];
    return 0;
}

uint64_t StoreLock::SelfIdentity()
{
    if (!t_identity)
        t_identity = static_cast<uint64_t>(CreationStamp(GetCurrentThread())) << 32 | GetCurrentThreadId();
    return t_identity;
}

bool StoreLock::IdentityGone(uint64_t identity)
{
    DWORD id = static_cast<DWORD>(identity);
    HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id);
    if (!thread)
        thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!thread)
        return GetLastError() != ERROR_ACCESS_DENIED; // no thread has that id any more
    bool gone = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    if (!gone) {
        FILETIME created, exited, kernel, user;
        uint32_t stamp = static_cast<uint32_t>(identity >> 32);
        // The id was given again to a thread made later. (A stamp of 0: the
        // owner could not learn its own creation time; the id alone decides.)
        if (stamp != 0 && GetThreadTimes(thread, &created, &exited, &kernel, &user))
            gone = created.dwLowDateTime != stamp;
    }
    CloseHandle(thread);
    return gone;
}

// Takes a free lock unless a release is kept for another waiter.
bool StoreLock::TryTake(uint64_t me)
{
    uint64_t reserved = Load(&m_record->reservedFor);
    if (reserved != 0 && reserved != me)
        return false;
    if (!Swap(&m_record->owner, 0, me))
        return false;
    if (reserved == me)
        Swap(&m_record->reservedFor, me, 0);
    Store32(&m_record->depth, 0); // a dead owner's count is not ours
    Store32(&m_record->ownerProcess, GetCurrentProcessId());
    return true;
}

DWORD StoreLock::Acquire()
{
    if (!m_record)
        return ERROR_INVALID_HANDLE;
    uint64_t me = SelfIdentity();
    if (Load(&m_record->owner) == me) {
        Store32(&m_record->depth, Load32(&m_record->depth) + 1);
        return 0;
    }
    if (TryTake(me))
        return 0;
    return AcquireSlowly(me);
}

DWORD StoreLock::AcquireSlowly(uint64_t me)
{
    for (int round = 1; round <= SpinRounds; ++round) {
        if (Load(&m_record->owner) == 0 && TryTake(me))
            return 0;
        if (round % PausesPerYield == 0)
            SwitchToThread();
        else
            YieldProcessor();
    }
    // From here on the waiter is counted, so that releases wake it.
    int slot = Register(me);
    DWORD result = 0;
    DWORD lastOwnerCheck = GetTickCount(), lastSweep = lastOwnerCheck;
    for (;;) {
        if (TryTake(me))
            break;
        Swap(&m_record->reservedFor, 0, me);
        if (TryTake(me))
            break;
        DWORD woke = WaitForSingleObject(m_wake, SleepMs);
        if (woke == WAIT_FAILED) {
            result = GetLastError();
            if (!result)
                result = ERROR_INVALID_HANDLE;
            break;
        }
        // A wake-up meant for the waiter the release is kept for goes on to it.
        uint64_t reserved = Load(&m_record->reservedFor);
        if (woke == WAIT_OBJECT_0 && reserved != 0 && reserved != me && Load(&m_record->owner) == 0)
            SetEvent(m_wake);
        DWORD now = GetTickCount();
        if (now - lastOwnerCheck >= OwnerCheckMs) {
            ClearDeadOwner(me);
            lastOwnerCheck = now;
        }
        if (now - lastSweep >= SlotSweepMs) {
            SweepWaiters(me);
            lastSweep = now;
        }
    }
    Swap(&m_record->reservedFor, me, 0);
    Unregister(slot, me);
    return result;
}

DWORD StoreLock::Release()
{
    if (!m_record)
        return ERROR_INVALID_HANDLE;
    uint64_t me = SelfIdentity();
    if (Load(&m_record->owner) != me)
        return ERROR_NOT_OWNER;
    uint32_t depth = Load32(&m_record->depth);
    if (depth > 0) {
        Store32(&m_record->depth, depth - 1);
        return 0;
    }
    Store32(&m_record->ownerProcess, 0);
    Store(&m_record->owner, 0);
    if (!AnyWaiter())
        return 0;
    if (!SetEvent(m_wake)) {
        DWORD error = GetLastError();
        return error ? error : ERROR_INVALID_HANDLE;
    }
    // A waiter killed in its sleep leaves its slot behind, and every release
    // would pay for a wake-up: now and then a release looks for such slots.
    if (++m_wakesSinceSweep >= WakesPerSweep) {
        m_wakesSinceSweep = 0;
        SweepWaiters(me);
    }
    return 0;
}

int StoreLock::Register(uint64_t me)
{
    for (int i = 0; i < StoreLockRecord::WaiterSlots; ++i)
        if (Swap(&m_record->waiters[i], 0, me))
            return i;
    return -1; // every slot taken: this waiter still wakes by its timeout
}

void StoreLock::Unregister(int slot, uint64_t me)
{
    if (slot >= 0)
        Swap(&m_record->waiters[slot], me, 0);
}

bool StoreLock::AnyWaiter() const
{
    if (Load(&m_record->reservedFor) != 0)
        return true;
    for (int i = 0; i < StoreLockRecord::WaiterSlots; ++i)
        if (Load(&m_record->waiters[i]) != 0)
            return true;
    return false;
}

void StoreLock::ClearDeadOwner(uint64_t me)
{
    uint64_t owner = Load(&m_record->owner);
    if (owner != 0 && owner != me && IdentityGone(owner)) {
        // The owner died holding the lock: what it had written stays, as
        // with an abandoned mutex, and the lock is free for the waiters.
        if (Swap(&m_record->owner, owner, 0)) {
            Store32(&m_record->ownerProcess, 0);
            __atomic_add_fetch(&m_record->takeovers, 1, __ATOMIC_SEQ_CST);
            SetEvent(m_wake);
        }
    }
    uint64_t reserved = Load(&m_record->reservedFor);
    if (reserved != 0 && reserved != me && IdentityGone(reserved))
        Swap(&m_record->reservedFor, reserved, 0);
}

void StoreLock::SweepWaiters(uint64_t me)
{
    for (int i = 0; i < StoreLockRecord::WaiterSlots; ++i) {
        uint64_t waiter = Load(&m_record->waiters[i]);
        if (waiter != 0 && waiter != me && IdentityGone(waiter))
            Swap(&m_record->waiters[i], waiter, 0);
    }
}
