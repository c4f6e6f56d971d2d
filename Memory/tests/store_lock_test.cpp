// The store's lock word within one process: exclusion, a second take by the
// owner, release by a stranger, takeover from a dead owner or from a thread
// id that now names another thread, waiters that sleep on the named event,
// and a waiter that a busy higher-priority thread cannot keep out. The
// tests across processes are in two_process_test.cpp.
#include <gtest/gtest.h>
#include <vector>
#include "StoreLock.h"
#include "store_fixture.h"

namespace {

class LockWord : public ::testing::Test {
protected:
    std::string name = FreshStoreName("Lock");
    std::string lockName = name + "_InputLock";
    StoreLock lock;

    void SetUp() override { ASSERT_EQ(0u, lock.Open(name.c_str(), 0, lockName.c_str())); }

    // Another object on the same record, as a second process would have.
    void OpenSecond(StoreLock &other) { ASSERT_EQ(0u, other.Open(name.c_str(), 0, lockName.c_str())); }

    // The identity of a thread that has ended.
    static uint64_t EndedIdentity()
    {
        uint64_t identity = 0;
        HANDLE thread = StartThread([&] { identity = StoreLock::SelfIdentity(); });
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return identity;
    }

    // Acquire on a thread of its own: true when it came back within ms.
    bool AcquiresWithin(DWORD ms, StoreLock &which, DWORD *result)
    {
        HANDLE thread = StartThread([&] {
            *result = which.Acquire();
            if (*result == 0)
                which.Release();
        });
        bool done = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
        if (!done)
            return false; // the caller frees the lock and waits again
        CloseHandle(thread);
        return true;
    }
};

TEST_F(LockWord, ThreadsOfOneProcessExcludeEachOther)
{
    StoreLock second;
    OpenSecond(second);
    const int Threads = 4, Rounds = 20000;
    volatile LONG inside = 0, overlaps = 0;
    long counter = 0;
    std::vector<HANDLE> threads;
    for (int t = 0; t < Threads; ++t) {
        StoreLock *use = t % 2 ? &second : &lock;
        threads.push_back(StartThread([&, use] {
            for (int n = 0; n < Rounds; ++n) {
                ASSERT_EQ(0u, use->Acquire());
                if (InterlockedIncrement(&inside) != 1)
                    InterlockedIncrement(&overlaps);
                long seen = counter;
                if (n % 64 == 0)
                    SwitchToThread();
                counter = seen + 1;
                InterlockedDecrement(&inside);
                ASSERT_EQ(0u, use->Release());
            }
        }));
    }
    WaitForMultipleObjects(Threads, threads.data(), TRUE, INFINITE);
    for (HANDLE h : threads)
        CloseHandle(h);
    EXPECT_EQ(0, overlaps);
    EXPECT_EQ(long(Threads) * Rounds, counter);
    EXPECT_EQ(0u, lock.Record()->owner);
}

TEST_F(LockWord, TheOwnerMayTakeItAgainAndAStrangerCannotReleaseIt)
{
    ASSERT_EQ(0u, lock.Acquire());
    ASSERT_EQ(0u, lock.Acquire());
    EXPECT_EQ(GetCurrentProcessId(), lock.Record()->ownerProcess);
    DWORD stranger = 0;
    HANDLE thread = StartThread([&] { stranger = lock.Release(); });
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(DWORD(ERROR_NOT_OWNER), stranger);

    ASSERT_EQ(0u, lock.Release());
    EXPECT_EQ(StoreLock::SelfIdentity(), lock.Record()->owner) << "taken twice, released once: still held";
    ASSERT_EQ(0u, lock.Release());
    EXPECT_EQ(0u, lock.Record()->owner);
    EXPECT_EQ(0u, lock.Record()->ownerProcess);
    EXPECT_EQ(DWORD(ERROR_NOT_OWNER), lock.Release());
}

// An owner that ended, one whose id now belongs to a thread made at another
// time, and one that lives: only the last keeps the lock.
TEST_F(LockWord, AnOwnerThatIsGoneIsTakenOverAndALiveOneIsNot)
{
    HANDLE stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    uint64_t live = 0;
    HANDLE liveEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE liveThread = StartThread([&] {
        live = StoreLock::SelfIdentity();
        SetEvent(liveEvent);
        WaitForSingleObject(stop, INFINITE);
    });
    WaitForSingleObject(liveEvent, INFINITE);
    ASSERT_FALSE(StoreLock::IdentityGone(live));
    const uint64_t reused = live + (uint64_t(1) << 32); // the same id, another creation time

    struct Case {
        const char *what;
        uint64_t owner;
        bool takenOver;
    } cases[] = {
        {"ended thread", EndedIdentity(), true},
        {"thread id given to a later thread", reused, true},
        {"live owner", live, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.takenOver, StoreLock::IdentityGone(c.owner));
        uint32_t takeovers = lock.Record()->takeovers;
        lock.Record()->owner = c.owner;
        lock.Record()->ownerProcess = 1234;
        DWORD result = 1;
        StoreLock waiter;
        OpenSecond(waiter);
        if (c.takenOver) {
            ASSERT_TRUE(AcquiresWithin(1000, waiter, &result)) << "a dead owner's lock is taken over within a second";
            EXPECT_EQ(0u, result);
            EXPECT_EQ(takeovers + 1, lock.Record()->takeovers);
        } else {
            HANDLE thread = StartThread([&] {
                result = waiter.Acquire();
                if (result == 0)
                    waiter.Release();
            });
            EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(thread, 300)) << "a live owner keeps its lock";
            // The owner gives it back as Release would: the sleeper wakes.
            __atomic_store_n(&lock.Record()->owner, uint64_t(0), __ATOMIC_SEQ_CST);
            HANDLE wake = OpenEventA(EVENT_MODIFY_STATE, FALSE, (lockName + "Wake").c_str());
            SetEvent(wake);
            CloseHandle(wake);
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
            CloseHandle(thread);
            EXPECT_EQ(0u, result);
            EXPECT_EQ(takeovers, lock.Record()->takeovers);
        }
        EXPECT_EQ(0u, lock.Record()->owner);
    }
    SetEvent(stop);
    WaitForSingleObject(liveThread, INFINITE);
    CloseHandle(liveThread);
    CloseHandle(stop);
    CloseHandle(liveEvent);
}

// Waiters that died leave a reservation and a slot behind: the next waiter
// drops the reservation, and releases empty the slot in time.
TEST_F(LockWord, WhatDeadWaitersLeftDoesNotHoldUpTheLiving)
{
    const uint64_t dead = EndedIdentity();
    lock.Record()->reservedFor = dead;
    lock.Record()->waiters[3] = dead;
    StoreLock second;
    OpenSecond(second);
    DWORD result = 1;
    ASSERT_TRUE(AcquiresWithin(1000, second, &result)) << "a dead waiter's reservation is dropped within a second";
    EXPECT_EQ(0u, result);
    EXPECT_EQ(0u, lock.Record()->reservedFor);
    for (int n = 0; n < 300 && lock.Record()->waiters[3] != 0; ++n) {
        ASSERT_EQ(0u, lock.Acquire());
        ASSERT_EQ(0u, lock.Release());
    }
    EXPECT_EQ(0u, lock.Record()->waiters[3]) << "the dead waiter's slot stays taken";
}

// A waiter that the owner keeps waiting goes to sleep counted and with the
// next release kept for it; a release without waiters leaves the event alone.
TEST_F(LockWord, WaitersSleepOnTheNamedEventThatOnlyTheirReleaseSets)
{
    HANDLE wake = OpenEventA(SYNCHRONIZE, FALSE, (lockName + "Wake").c_str());
    ASSERT_NE(nullptr, wake);
    ASSERT_EQ(0u, lock.Acquire());
    ASSERT_EQ(0u, lock.Release());
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(wake, 0)) << "nobody waited";

    ASSERT_EQ(0u, lock.Acquire());
    StoreLock second;
    OpenSecond(second);
    uint64_t waiter = 0;
    DWORD result = 1;
    HANDLE thread = StartThread([&] {
        waiter = StoreLock::SelfIdentity();
        result = second.Acquire();
        second.Release();
    });
    // Long past the spinning: the waiter sleeps, counted, with the next release kept for it.
    Sleep(200);
    EXPECT_EQ(waiter, lock.Record()->reservedFor);
    int counted = 0;
    for (uint64_t w : lock.Record()->waiters)
        counted += w == waiter;
    EXPECT_EQ(1, counted);
    ASSERT_EQ(0u, lock.Release());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(0u, result);
    EXPECT_EQ(0u, lock.Record()->reservedFor);
    for (uint64_t w : lock.Record()->waiters)
        EXPECT_EQ(0u, w) << "the waiter left its slot";
    CloseHandle(wake);
}

// A thread above normal priority that holds the lock 5 ms at a time and
// takes it again at once cannot lock out a thread of normal priority, which
// by then sleeps and would wake only after the busy one had it back.
TEST_F(LockWord, ABusyHigherPriorityThreadCannotLockOutAnother)
{
    StoreLock second;
    OpenSecond(second);
    volatile LONG stop = 0;
    HANDLE busy = StartThread([&] {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
        DWORD until = GetTickCount() + 10000; // an upper bound, should the other starve
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        while (!stop && GetTickCount() - until > 0x80000000u) {
            lock.Acquire();
            QueryPerformanceCounter(&start);
            do
                QueryPerformanceCounter(&now);
            while ((now.QuadPart - start.QuadPart) * 200 < frequency.QuadPart);
            lock.Release();
        }
    });
    Sleep(20);
    const int Takes = 20;
    int taken = 0;
    HANDLE other = StartThread([&] {
        for (; taken < Takes; ++taken) {
            Sleep(1); // the busy thread has the lock again by now
            if (second.Acquire() != 0)
                break;
            second.Release();
        }
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(other, 8000));
    InterlockedExchange(&stop, 1);
    WaitForSingleObject(busy, INFINITE);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(busy);
    CloseHandle(other);
    EXPECT_EQ(Takes, taken);
}

} // namespace
