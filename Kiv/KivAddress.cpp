// Binding exports, and the exports that parse and display item addresses,
// signal-conditioning names and options.
#include <string.h>
#include <strings.h>
#include <string>
#include "KivLibrary.h"
#include "KivTables.h"
#include "Oxley.h"

using kiv::Lib;

static const char kAddressHint[] = "Dev:StartAddr[:Bit]";

static void SetStatus(KivStatus *status, uint16_t code)
{
    if (status)
        *status = code;
}

static bool Records(KivBlock *block, KivDevice **device, KivAddress **address)
{
    if (!block || !block->device || !block->address)
        return false;
    *device = block->device;
    *address = block->address;
    return true;
}

static BSTR ToBstr(const char *text)
{
    int count = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    BSTR result = SysAllocStringLen(NULL, count > 0 ? count - 1 : 0);
    if (result && count > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, result, count);
    return result;
}

extern "C" {

void __cdecl kiv_CleanUp(KivStatus *status) { kiv::CleanUp(status); }

void __cdecl kiv_enable_options(KivStatus *status)
{
    IQORDriver *server = kiv::Server();
    if (!server) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    // 121167 names the HMI's scan and alarm task.
    if (FAILED(server->put_KivRef(121167)))
        SetStatus(status, KIV_E_SERVER);
}

static void __cdecl ResetStatus(KivStatus *status) { SetStatus(status, KIV_OK); }
void __cdecl kiv_reset(KivStatus *status) { ResetStatus(status); }
void __cdecl kiv_tick_enable(KivStatus *status) { ResetStatus(status); }
void __cdecl kiv_tick_disable(KivStatus *status) { ResetStatus(status); }

static void __cdecl Nothing() {}
void __cdecl kiv_tick(void) { Nothing(); }
void __cdecl kiv_getsub(void) { Nothing(); }
void __cdecl kiv_reload_dit(void) { Nothing(); }

// The calls of one parse. S_FALSE when the server answered its hint text
// for a data item (it formats only some item kinds).
static HRESULT ParseWith(IDriver *server, KivDevice *device, KivAddress *address, short itemWord, const char *text)
{
    long reference = strcasecmp(address->text, text) == 0 ? long(device->deviceReference) : 0;
    long addressWord = 0, internalAddress = 0, handle = 0;
    short index = 0;
    BSTR bstr = ToBstr(text);
    HRESULT hr = bstr ? server->SetDataAddress(bstr, itemWord, &reference, &addressWord, &internalAddress,
                                               &handle, &index)
                      : E_OUTOFMEMORY;
    SysFreeString(bstr);
    if (FAILED(hr))
        return hr;
    device->addressWord = uint32_t(addressWord);
    address->internalAddress = uint32_t(internalAddress);
    device->blockHandle = uint32_t(handle);
    device->deviceReference = uint32_t(reference);
    address->blockIndex = uint16_t(index);
    BSTR canonical = nullptr;
    hr = server->GetDataAddress(addressWord, internalAddress, handle, itemWord, &canonical);
    if (SUCCEEDED(hr)) {
        char narrow[KIV_ADDRESS_TEXT] = "";
        if (canonical)
            WideCharToMultiByte(CP_ACP, 0, canonical, -1, narrow, sizeof(narrow) - 1, NULL, NULL);
        narrow[sizeof(narrow) - 1] = '\0';
        // The hint names no item: kept as the item's text, a later parse
        // (after the block was re-created) would find nothing. The text
        // just parsed finds the item again.
        if (handle != 0 && uint32_t(internalAddress) < KIV_CONTROL_ITEM &&
            (!narrow[0] || strcmp(narrow, kAddressHint) == 0)) {
            while (*text == ' ' || *text == '\t')
                ++text;
            KivCopyText(address->text, sizeof(address->text), text);
        } else {
            KivCopyText(address->text, sizeof(address->text), narrow);
        }
    }
    SysFreeString(canonical);
    return hr;
}

// The server process behind the pointer is gone (killed, crashed, ended).
static bool ServerGone(HRESULT hr)
{
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}

void __cdecl kiv_paddr(KivStatus *status, KivBlock *block, KivKind *kind, const char *text)
{
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address) || !kind || !text) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }
    const short itemWord = short(kind->kind | (kind->count << 8));
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < 2; ++attempt) {
        IDriver *server = nullptr;
        if (FAILED(kiv::ParserServer(&server))) {
            SetStatus(status, KIV_E_SERVER);
            return;
        }
        hr = ParseWith(server, device, address, itemWord, text);
        server->Release();
        // A table entry that still names a server that has gone is treated
        // like a failed lookup: connect anew and parse once more.
        if (!ServerGone(hr))
            break;
        kiv::Disconnect();
    }
    SetStatus(status, SUCCEEDED(hr) ? KIV_OK : KIV_E_ADDRESS);
}

void __cdecl kiv_daddr(KivStatus *status, KivBlock *block, void *, char *text, short size)
{
    SetStatus(status, KIV_OK);
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address)) {
        KivCopyText(text, size, kAddressHint);
        return;
    }
    char stored[KIV_ADDRESS_TEXT];
    KivCopyText(stored, sizeof(stored), address->text);
    KivCopyText(text, size, stored[0] ? stored : kAddressHint);
}

void __cdecl kiv_psig(KivStatus *status, KivBlock *block, void *, const char *name)
{
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address)) {
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    unsigned index = 0;
    if (!kiv::BindSignal() || Lib().signal.parse(name ? name : "", &index) == PARVEL_UNKNOWN_NAME) {
        device->signalIndex = 0;
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    device->signalIndex = uint16_t(index);
    SetStatus(status, KIV_OK);
}

void __cdecl kiv_dsig(KivStatus *status, KivBlock *block, void *, char *text, short size)
{
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address)) {
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    if (!kiv::BindSignal()) {
        device->signalIndex = 0;
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    char shortName[32] = "", longName[256] = "";
    unsigned shortLength = sizeof(shortName), longLength = sizeof(longName);
    if (Lib().signal.display(device->signalIndex, shortName, &shortLength, longName, &longLength) != 0) {
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    shortName[sizeof(shortName) - 1] = '\0';
    KivCopyText(text, size, shortName);
    SetStatus(status, KIV_OK);
}

void __cdecl kiv_popt(KivStatus *status, KivBlock *block, void *, const char *name)
{
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address)) {
        SetStatus(status, KIV_E_OPTION);
        return;
    }
    uint32_t word = device->optionWord;
    if (!KivParseOption(name, &word)) {
        SetStatus(status, KIV_E_OPTION);
        return;
    }
    device->optionWord = word;
    SetStatus(status, KIV_OK);
}

void __cdecl kiv_dopt(KivStatus *status, KivBlock *block, void *, char *text, short size)
{
    KivDevice *device;
    KivAddress *address;
    const char *name = "";
    bool known = Records(block, &device, &address) && KivOptionName(device->optionWord, &name);
    KivCopyText(text, size, name);
    SetStatus(status, known ? KIV_OK : KIV_E_OPTION);
}

// Appends entries while they fit: the running size counts every entry and
// its NUL, written or not.
struct ListWriter {
    char *buffer;
    int capacity;
    int count = 0;
    int size = 0;
    bool full = false;

    ListWriter(char *b, int c) : buffer(b), capacity(c) {}
    // false when the entry did not fit (nothing more is written after that).
    bool Add(const char *entry, bool checkWithoutBuffer)
    {
        const int length = int(strlen(entry));
        const bool fits = !full && size + length + 1 <= capacity;
        if ((buffer || checkWithoutBuffer) && !fits)
            full = true;
        else if (buffer)
            memcpy(buffer + size, entry, size_t(length) + 1);
        ++count;
        size += length + 1;
        return !full;
    }
};

static void EnumOptions(KivStatus *status, int *count, int *size, char *buffer)
{
    ListWriter list(buffer, size ? *size : 0);
    unsigned rows = 0;
    const KivOption *table = KivOptionTable(&rows);
    for (unsigned i = 0; i < rows; ++i)
        list.Add(table[i].name, false);
    SetStatus(status, list.full ? KIV_E_OPTION : KIV_OK);
    if (count)
        *count = list.count;
    if (size)
        *size = list.size;
}

void __cdecl kiv_EnumOptions(KivStatus *status, int *count, int *size, char *buffer)
{
    EnumOptions(status, count, size, buffer);
}

void __cdecl kiv_OptionsSize(KivStatus *status, int *count, int *size) { EnumOptions(status, count, size, nullptr); }

static void EnumSigCond(KivStatus *status, int *count, int *size, char *buffer)
{
    const int capacity = size ? *size : 0;
    if (count)
        *count = 0;
    if (size)
        *size = 0;
    if (!kiv::BindSignal()) {
        SetStatus(status, KIV_E_SIGNAL);
        return;
    }
    SetStatus(status, KIV_OK);
    const kiv::SignalFunctions &signal = Lib().signal;
    ListWriter list(buffer, capacity);
    char shortName[128], longName[128];
    unsigned shortLength = sizeof(shortName), longLength = sizeof(longName);
    for (int result = signal.first(shortName, &shortLength, longName, &longLength); result == PARVEL_OK;
         result = signal.next(shortName, &shortLength, longName, &longLength)) {
        shortName[sizeof(shortName) - 1] = longName[sizeof(longName) - 1] = '\0';
        std::string entry = std::string(shortName) + " - " + longName;
        if (!list.Add(entry.c_str(), true)) {
            SetStatus(status, KIV_E_SIGNAL);
            if (list.count == 1)   // not even the first entry fits
                return;
        }
        shortLength = sizeof(shortName);
        longLength = sizeof(longName);
    }
    if (count)
        *count = list.count;
    if (size)
        *size = list.size;
}

void __cdecl kiv_EnumSigCond(KivStatus *status, int *count, int *size, char *buffer)
{
    EnumSigCond(status, count, size, buffer);
}

void __cdecl kiv_SigCondSize(KivStatus *status, int *count, int *size) { EnumSigCond(status, count, size, nullptr); }

}  // extern "C"
