#include "Priority.h"

namespace {

const PriorityCode Codes[15] = {
    {IDLE_PRIORITY_CLASS, THREAD_PRIORITY_IDLE},           // 1
    {IDLE_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},         // 2
    {IDLE_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},   // 3
    {IDLE_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},         // 4
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},       // 5
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL}, // 6
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},       // 7
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL}, // 8
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},      // 9
    {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},      // 10
    {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},         // 11
    {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},   // 12
    {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},         // 13
    {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},   // 14
    {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},        // 15
};

} // namespace

bool LookUpPriorityCode(int code, PriorityCode *entry)
{
    if (code < 1 || code > 15 || !entry)
        return false;
    *entry = Codes[code - 1];
    return true;
}

int ApplyPriorityCode(int code)
{
    PriorityCode entry;
    if (!LookUpPriorityCode(code, &entry))
        return 0;
    BOOL classSet = SetPriorityClass(GetCurrentProcess(), entry.priorityClass);
    BOOL threadSet = SetThreadPriority(GetCurrentThread(), entry.threadPriority);
    return classSet && threadSet ? 1 : 0;
}
