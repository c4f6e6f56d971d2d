// Tracewell.dll, the data monitor window: what a host calls. The entries are
// exported under their undecorated names; hosts find them with GetProcAddress
// (a 32-bit host that links the import library needs --enable-stdcall-fixup).
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif
// Opens the window (owned by parent, which may be null) on the calling
// thread, which must pump its messages; 1 when created, 0 when already open
// or on failure.
int WINAPI VuxOpenScope(HWND parent);
// Closes the window; the result of WM_CLOSE, 0 when not open.
LRESULT WINAPI VuxCloseScope(void);
// 1 while the window exists.
int WINAPI VuxIsScopeOpen(void);
// Appends a frame (direction non-zero: sent) from any thread; 0 for an empty
// frame, a null pointer or a closed window, 1 otherwise (also when paused).
int WINAPI VuxSendScopeData(const BYTE *bytes, WORD length, int direction);
#ifdef __cplusplus
}
#endif
