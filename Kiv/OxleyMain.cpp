// Oxley's entry point: the driver name from the library's own version block
// at load; the server link and the store let go at unload.
#include "KivLibrary.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        char name[kiv::MaxDriverName + 1] = "";
        if (!kiv::ReadDriverName(instance, name, sizeof(name)))
            return FALSE;
        kiv::Start(name);
    } else if (reason == DLL_PROCESS_DETACH) {
        // reserved is non-null when the process is ending: then no COM call
        // is made, since the server's proxies and COM's threads are gone.
        kiv::End(reserved != NULL);
    }
    return TRUE;
}
