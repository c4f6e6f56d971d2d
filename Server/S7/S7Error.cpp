#include "S7Error.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>

void ClearS7ErrorRecord(S7ErrorRecord *record)
{
    if (record)
        memset(record, 0, sizeof(*record));
}

bool IsNonFatalS7Error(const S7ErrorRecord &record)
{
    if (record.returnCode == 0 || (record.errorNumber == 0 && record.errorClass == 0))
        return true;
    switch (record.errorClass) {
    case 7: case 8: case 30: case 31: case 50: case 51: case 53: case 150: case 151:
        return true;
    default:
        return record.errorClass >= 80 && record.errorClass <= 88;
    }
}

namespace {
volatile S7DebugHook g_hook;
}

void SetS7DebugHook(S7DebugHook hook) { g_hook = hook; }

void S7DebugOutput(const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    OutputDebugStringA(line);
    if (S7DebugHook hook = g_hook)
        hook(line);
}
