// Process-wide state of an OPC library (Brisko or Aleron, each its own copy)
// and the helpers both libraries' interface code uses: address-space lists,
// the name filter, string enumerators, error texts, logging, result memory
// and the I/O server's running test.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "EventLog.h"
#include "OpcDataAccess.h"
#include "QORDriver.h"

// Set at attach, released at detach.
extern HMODULE g_hModule;
extern IMalloc *g_pIMalloc;
extern CEventLog *g_pEventLog;
extern FILETIME g_ftLibraryStart;   // taken at attach
extern FILETIME g_ftServerStart;    // what GetStatus reports (SetDriverCLSID)
// The one I/O server pointer of the process, guarded by the class factory.
extern IDriver *g_pIDriver;

// The event id of the library's own error reports.
const DWORD OPC_EVENT_ERROR = 0xC1040002;

// Name filter over configuration names: kinds 0 every name, 1 ends with,
// 2 starts with, 3 contains, 4 equals. Case-sensitive, byte-wise.
class CNameFilter {
public:
    enum Kind { MatchAll = 0, EndsWith = 1, StartsWith = 2, Contains = 3, Equals = 4 };
    CNameFilter() {}
    explicit CNameFilter(const char *pattern) { Compile(pattern); }
    void Compile(const char *pattern);
    bool Match(const char *name) const;
    Kind GetKind() const { return m_kind; }
    const std::string &GetText() const { return m_text; }

private:
    Kind m_kind = MatchAll;
    std::string m_text;
};

// Appends the device names of every channel (or only of channelName, when
// given) that pass filter (all, when none). E_FAIL when the I/O server is
// missing or a call or its arrays fail.
HRESULT ListDevices(std::vector<std::string> &list, const CNameFilter *filter, const char *channelName);
// True when some channel has a device of that name (case ignored).
bool IsDevice(const char *name);
// The handle of the device of exactly that name; E_FAIL when no channel has
// it or a call fails.
HRESULT FindDeviceHandle(const char *name, LONG *handle);
// The data blocks of a device, in its order: parallel handles and names.
HRESULT ListDataBlocks(LONG device, std::vector<LONG> &handles, std::vector<std::string> &names);
// The values of an object's named properties (names: CreateNameArray's),
// one VARIANT per name in order; E_FAIL when the call or its array fails.
HRESULT ReadProperties(LONG handle, const VARIANT &names, std::vector<VARIANT> &values);
// A VARIANT holding an array of VARIANTs, each one of the texts, as the I/O
// server takes property names; or E_OUTOFMEMORY.
HRESULT CreateNameArray(const char *const *texts, ULONG count, VARIANT *array);
// An IEnumString over a copy of list; S_FALSE (with an empty enumerator)
// for an empty list.
HRESULT CreateStringEnumerator(const std::vector<std::string> &list, IEnumString **out);

// The message-table text of code, cut at its first line break.
bool GetErrorText(DWORD code, std::string &text);
// An error event with text; nothing without text or without the event log.
void ReportError(const char *text, DWORD eventId = OPC_EVENT_ERROR);
// True when the I/O server answers that it polls.
bool IsDriverRunning();

// Wide copies in memory of malloc (the process heap without one): of a wide
// text (null gives ""), of an ANSI text, of a BSTR; and their free.
void *KitAlloc(IMalloc *malloc, SIZE_T size);
void KitFree(IMalloc *malloc, void *memory);
LPWSTR AllocWideCopy(const wchar_t *text, IMalloc *malloc);
LPWSTR AllocWideCopy(const std::string &text, IMalloc *malloc);
LPWSTR AllocBstrCopy(BSTR text, IMalloc *malloc);
void FreeResult(void *memory, IMalloc *malloc);
// The wide text of an ANSI text, through the code page that made it.
std::wstring TextToWide(const std::string &text);
// count zeroed records of T in memory of malloc, or null.
template <class T> T *KitAllocZeroed(IMalloc *malloc, DWORD count)
{
    T *memory = static_cast<T *>(KitAlloc(malloc, SIZE_T(count) * sizeof(T)));
    if (memory)
        ZeroMemory(memory, SIZE_T(count) * sizeof(T));
    return memory;
}

// Deep copy of an item's attributes (texts, blob and EU info) and its free.
HRESULT CopyItemAttributes(OPCITEMATTRIBUTES *to, const OPCITEMATTRIBUTES *from, IMalloc *malloc);
void FreeItemAttributes(OPCITEMATTRIBUTES *item, IMalloc *malloc);

// An OPC 1.0 stream value: the VARIANT, and for a BSTR its 4-byte byte count
// and characters after it.
DWORD StreamValueSize(const VARIANT *value);
DWORD StreamValueCopy(BYTE *to, const VARIANT *value);

// A one-dimensional SAFEARRAY of count VARIANTs.
HRESULT CreateVariantArray(ULONG count, SAFEARRAY **array);
