// Self-registration helpers of the OPC libraries: the HKCR keys of an
// in-process server (class, ProgID, description, vendor, threading model)
// and its component categories. Each library passes its own values.
#pragma once
#include <windows.h>
#include <comcat.h>

// Writes the 14 keys of an in-process server with an AppID for the system
// surrogate; S_OK whatever single registry calls answer.
HRESULT RegisterServerKeys(REFCLSID clsid, const char *progId, const char *description, const char *vendor,
                           const char *threadingModel);
HRESULT UnregisterServerKeys(REFCLSID clsid, const char *progId);

// Creates HKCR key (joined with subkey when given) and, with a text, sets its
// default value.
BOOL SetKeyAndValue(const char *key, const char *subkey, const char *text);
// Sets a named REG_SZ value of an existing HKCR key.
BOOL SetNamedValue(const char *key, const char *subkey, const char *name, const char *text);
// Reads a value of HKLM key\subkey of the given type into a 100-byte buffer;
// a text is always terminated. FALSE when missing, of another type, or too
// long.
enum { RegistryValueSize = 100 };
BOOL QueryRegistryValue(const char *key, const char *subkey, const char *name, void *buffer, DWORD type);

HRESULT CLSIDToString(REFCLSID clsid, char *buffer, int size);
HRESULT WideToAnsi(const wchar_t *wide, char *buffer, int size);

// Registers the category rows with the component categories manager.
BOOL RegisterCategories(const CATEGORYINFO *rows, ULONG count);
// Marks clsid as implementing (or no longer implementing) every row.
HRESULT RegisterImplementedCategories(REFCLSID clsid, BOOL registerIt, const CATEGORYINFO *rows, ULONG count);
