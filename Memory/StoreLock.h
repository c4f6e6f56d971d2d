// StoreLock: the lock of one group of the store (input, output, exception,
// event), shared by every thread of every process that opens the store.
//
// Each wait for and release of a named mutex is a kernel call (under Wine a
// round trip to the wineserver, tens of microseconds), which the store would
// pay twice for every small copy. Here the lock is a word in the small named
// section "%s_StoreLocks" (driver name for %s): a compare-exchange takes it
// and an exchange gives it back, and only a thread that finds it held long
// enough to sleep makes a system call. The guarantees stay those of a named
// mutex:
//   - mutual exclusion between all threads of all processes; a thread may
//     take the lock again while it holds it (it then releases it as often);
//   - an owner that dies holding the lock does not freeze the others: the
//     word names its owner by thread id and the thread's creation time, and
//     a waiter that finds that thread gone (or the id now used by a thread
//     created at another time) takes the lock over;
//   - waiters spin a short while, then sleep on the group's named event
//     "<group lock name>Wake", which a release sets only when someone waits;
//     the first waiter to sleep reserves the next release for itself, so a
//     thread that takes and gives back the lock in a loop cannot keep it out;
//   - a failed wait answers the system's error code.
#pragma once
#include <windows.h>
#include <stdint.h>

// One group's record in the lock section; all fields are changed only with
// atomic operations. An identity is thread id | low creation-time word << 32;
// 0 means none.
struct alignas(8) StoreLockRecord {
    enum { WaiterSlots = 12 };
    uint64_t owner;        // the identity of the owner, 0 when free
    uint64_t reservedFor;  // the sleeping waiter the next release is kept for, or 0
    uint32_t ownerProcess; // the owner's process id (0 when free)
    uint32_t depth;        // further takes by the owner, each released once
    uint32_t takeovers;    // how often a dead owner's lock was taken over
    uint32_t reserved;
    uint64_t waiters[WaiterSlots]; // identities of threads that may sleep on the event
};
static_assert(sizeof(StoreLockRecord) == 128, "StoreLockRecord is 128 bytes");

// The section holds one record per group, in the store's group order.
enum { StoreLockGroups = 4 };
struct StoreLockSection {
    StoreLockRecord groups[StoreLockGroups];
};
static_assert(sizeof(StoreLockSection) == 512, "StoreLockSection is 512 bytes");

class StoreLock {
public:
    StoreLock() = default;
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

    // Creates or opens the section of storeName and the wake event of the
    // group whose mutex is named lockName ("%s_InputLock" filled in);
    // 0 or the system's error.
    DWORD Open(const char *storeName, unsigned group, const char *lockName);
    bool IsOpen() const { return m_record != NULL; }

    // Waits without limit: 0, or the system's error when the wait failed.
    DWORD Acquire();
    // 0; ERROR_NOT_OWNER when the calling thread does not hold the lock; the
    // system's error when waking a waiter failed (the lock is given back).
    DWORD Release();

    // The calling thread's identity as the lock word records it.
    static uint64_t SelfIdentity();
    // Whether the thread that identity names has ended, or its id is now
    // another thread's. A thread this process may not inspect counts as live.
    static bool IdentityGone(uint64_t identity);
    // The section's name for a store.
    static void SectionName(char *out, size_t size, const char *storeName);

    StoreLockRecord *Record() const { return m_record; }

private:
    bool TryTake(uint64_t me);
    DWORD AcquireSlowly(uint64_t me);
    int Register(uint64_t me);
    void Unregister(int slot, uint64_t me);
    bool AnyWaiter() const;
    // Frees the lock of a dead owner and drops a dead waiter's reservation.
    void ClearDeadOwner(uint64_t me);
    // Empties the slots of waiters that died.
    void SweepWaiters(uint64_t me);

    HANDLE m_section = NULL;
    HANDLE m_wake = NULL;
    StoreLockSection *m_view = NULL;
    StoreLockRecord *m_record = NULL;
    unsigned m_wakesSinceSweep = 0; // this process's releases that woke someone
};
