// Brisko.dll's entry point.
#include "Brisko.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return BriskoAttach(module);
    case DLL_PROCESS_DETACH:
        ProcessDetach(reserved != nullptr);
        return TRUE;
    default:
        return TRUE;
    }
}
