// A library whose entry point leaves a mark in the process environment, so a
// test can tell whether it was loaded as code.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableA("QOR_PLANTED_RAN", "1");
    return TRUE;
}
