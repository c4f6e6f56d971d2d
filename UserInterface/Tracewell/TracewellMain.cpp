// The library's entry point and its four exports, each one call into the
// application object.
#include "Tracewell.h"
#include "ScopeLibrary.h"

namespace {
CUserProfile g_profile(ScopeProfileKey, ScopeApplication);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        CScopeLibrary::Instance().Load(&g_profile);
    } else if (reason == DLL_PROCESS_DETACH) {
        CScopeLibrary::Instance().Unload();
    }
    return TRUE;
}

extern "C" int WINAPI VuxOpenScope(HWND parent)
{
    return CScopeLibrary::Instance().Open(parent);
}

extern "C" LRESULT WINAPI VuxCloseScope(void)
{
    return CScopeLibrary::Instance().Close();
}

extern "C" int WINAPI VuxIsScopeOpen(void)
{
    return CScopeLibrary::Instance().IsOpen();
}

extern "C" int WINAPI VuxSendScopeData(const BYTE *bytes, WORD length, int direction)
{
    return CScopeLibrary::Instance().Send(bytes, length, direction);
}
