// Brisko, the OPC Data Access server library: its class, its process-wide
// defaults (HKLM "Software\Veltrane\Drivers\QOR\OPC"), the stream formats of
// OPC 1.0 clients, and the library entry and registration.
#pragma once
#include <windows.h>
#include <comcat.h>

#include <string>

extern const CLSID CLSID_Brisko;

// The registry key of the defaults.
#define BRISKO_DEFAULTS_KEY "Software\\Veltrane\\Drivers\\QOR\\OPC"

// Defaults: built-in values at load, overwritten from the registry at attach.
extern DWORD g_dwThreadSleepTime;           // ms, never below 25
extern std::string g_strGeneratedGroupName;
extern DWORD g_dwAutoStart;
extern DWORD g_dwStringLength;
extern std::string g_strSignalConditioning;
extern std::string g_strLoEGU;
extern std::string g_strHiEGU;
extern std::string g_strHardwareOptions;    // "NONE" in any case reads as ""

const DWORD MinThreadSleepTime = 25;

BOOL ReadRegistryDefaults();
// Writes the defaults into each of the three subkeys that it creates; a
// subkey that exists keeps what a user set there.
BOOL WriteRegistryDefaults();
BOOL DeleteRegistryDefaults();

// The clipboard formats of the OPC 1.0 data streams, registered at load.
extern const UINT g_cfData;
extern const UINT g_cfDataTime;
extern const UINT g_cfWriteComplete;

// Brisko's two category rows (DA 1.0 and 2.0, locale 1033).
BOOL GetCategoryInfo(const CATEGORYINFO **rows, ULONG *count);

// The library's attach and detach (DllMain); terminating is true when the
// process ends rather than the library being freed.
HRESULT ProcessAttach();
void ProcessDetach(bool terminating);
BOOL BriskoAttach(HMODULE module);

extern "C" {
HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv);
HRESULT WINAPI DllCanUnloadNow();
HRESULT WINAPI DllRegisterServer();
HRESULT WINAPI DllUnregisterServer();
}
