#include <gtest/gtest.h>
#include "Priority.h"

namespace {

TEST(PriorityCode, TheTableNamesAClassAndAThreadPriorityForOneToFifteen)
{
    const struct {
        int code;
        bool known;
        DWORD cls;
        int thread;
    } cases[] = {
        {0, false, 0, 0},
        {1, true, IDLE_PRIORITY_CLASS, THREAD_PRIORITY_IDLE},
        {2, true, IDLE_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},
        {3, true, IDLE_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},
        {4, true, IDLE_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},
        {5, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},
        {6, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},
        {7, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},
        {8, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},
        {9, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},
        {10, true, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},
        {11, true, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},
        {12, true, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},
        {13, true, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},
        {14, true, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},
        {15, true, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},
        {16, false, 0, 0},
        {-1, false, 0, 0},
    };
    for (const auto &c : cases) {
        PriorityCode entry = {12345, 12345};
        EXPECT_EQ(c.known, LookUpPriorityCode(c.code, &entry)) << c.code;
        if (c.known) {
            EXPECT_EQ(c.cls, entry.priorityClass) << c.code;
            EXPECT_EQ(c.thread, entry.threadPriority) << c.code;
        } else {
            EXPECT_EQ(12345u, entry.priorityClass) << c.code;
        }
    }
}

struct Applied {
    int code;
    int result;
    DWORD cls;
    int thread;
};

DWORD WINAPI applyOnThread(LPVOID p)
{
    Applied *a = static_cast<Applied *>(p);
    a->result = ApplyPriorityCode(a->code);
    a->cls = GetPriorityClass(GetCurrentProcess());
    a->thread = GetThreadPriority(GetCurrentThread());
    return 0;
}

Applied applyOnAThreadOfItsOwn(int code)
{
    Applied a = {code, -1, 0, 0};
    HANDLE thread = CreateThread(NULL, 0, applyOnThread, &a, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return a;
}

TEST(PriorityCode, ApplyingSetsTheProcessClassAndTheCallingThread)
{
    for (int code : {3, 8, 12}) {
        PriorityCode entry;
        ASSERT_TRUE(LookUpPriorityCode(code, &entry));
        Applied a = applyOnAThreadOfItsOwn(code);
        EXPECT_NE(0, a.result) << code;
        EXPECT_EQ(entry.priorityClass, a.cls) << code;
        EXPECT_EQ(entry.threadPriority, a.thread) << code;
    }
    // The main thread kept its own priority.
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));

    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    Applied unknown = applyOnAThreadOfItsOwn(0);
    EXPECT_EQ(0, unknown.result);
    EXPECT_EQ(DWORD(NORMAL_PRIORITY_CLASS), unknown.cls);
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, unknown.thread);
}

} // namespace
