// The thread-priority codes of the channel and output threads (1 to 15):
// each code names a process priority class and a thread priority.
#pragma once
#include <windows.h>

struct PriorityCode {
    DWORD priorityClass;
    int threadPriority;
};

// The class and thread priority of code; false for a code outside 1-15.
bool LookUpPriorityCode(int code, PriorityCode *entry);
// Sets the process's class and the calling thread's priority from code.
// Answers nonzero when both were set, 0 for another code (nothing changes)
// or when the system refused.
int ApplyPriorityCode(int code);
