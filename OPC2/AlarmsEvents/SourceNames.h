// The event server's view of the I/O server's configuration: which kind of
// source a name is and its handle, the sources of each area, and the
// switching of their "SendEvents" property. Lists are asked of the I/O
// server at every call, so they always follow its current tree.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "EventSpace.h"
#include "QORDriver.h"

namespace aleron {

// The source that stands for the I/O server itself (handle 0).
extern const wchar_t kDriverSource[];

// The four areas, in this order: each holds every source of one kind.
struct AreaEntry {
    const wchar_t *name;
    SourceKind kind;
    const wchar_t *sourcePrefix;   // a source's qualifier outside its area
};
const AreaEntry *Areas();
DWORD AreaCount();
// The area's index in the table (case ignored), or -1.
int FindArea(const std::wstring &name);
// "Driver", "Channel", "Device" or "DataBlock".
const wchar_t *KindPrefix(SourceKind kind);
bool SameName(const std::wstring &a, const std::wstring &b);

struct NamedObject {
    std::wstring name;
    LONG handle;
};

// All channels; all devices of all channels; all data blocks of all
// devices. E_FAIL when a list call fails.
HRESULT ListSources(IDriver *driver, SourceKind kind, std::vector<NamedObject> *out);

// The text after the first ":", or all of it when there is none.
std::wstring StripAreaPrefix(const wchar_t *name);

// The kind and handle of a source name (case ignored): the driver, else a
// channel, a device or a data block, tried in that order, the handle the
// first match's. S_OK when found, S_FALSE when the name is no source,
// E_FAIL when a list cannot be read.
HRESULT FindSource(IDriver *driver, const std::wstring &name, SourceKind *kind, LONG *handle);

// Sets "SendEvents" (VT_I2 1 or 0) on the source a name gives (the area
// prefix dropped). E_INVALIDARG for null, E_FAIL when the name is no
// source or the server refuses.
HRESULT SetSourceSendEvents(IDriver *driver, const wchar_t *source, bool on);

// Sets it on every source of the area ("Driver", "Channels", "Devices",
// "DataBlocks", case ignored). Another name does nothing and succeeds.
HRESULT SetAreaSendEvents(IDriver *driver, const wchar_t *area, bool on);

// The list rules of the four Enable/Disable members: a null list is
// E_INVALIDARG, an empty one E_FAIL, an empty or null name E_INVALIDARG;
// the first failing name ends the call with its code.
HRESULT ForEachName(DWORD count, LPWSTR *names, HRESULT (*each)(IDriver *, const wchar_t *, bool), IDriver *driver,
                    bool on);

} // namespace aleron
