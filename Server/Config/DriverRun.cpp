// The driver at run time: its store and status block, start and stop, the
// HMI's address resolution and exception registrations, and the lists of
// the S7 configuration.
#include "Driver.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "S7Library.h"
#include "ServerMsg.h"
#include "Store.h"
#if __has_include("OutputThread.h")
#include "OutputThread.h"
#define QOR_HAVE_OUTPUT_THREAD 1
#endif
#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

const char kDataAddressHint[] = "Dev:StartAddr[:Bit]";

namespace {

const ULONGLONG kRestartGap = 50000000;   // 5 s in 100 ns units
const DWORD kRestartGapMs = 5000;

ULONGLONG SystemClock()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

void SystemSleep(DWORD ms) { Sleep(ms); }

DriverClockFn g_clock = SystemClock;
DriverSleepFn g_sleep = SystemSleep;

const CS7Types &Types() { return CS7Types::Instance(); }

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(toupper(static_cast<unsigned char>(c)));
    return text;
}

// Every name as one BSTR element of a new array.
LONG PutNames(const std::vector<std::string> &list, VARIANT *names, LONG *count)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, ULONG(list.size()));
    if (!array)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < LONG(list.size()); ++i) {
        BSTR text = SysAllocString(ConfigValue::Widen(list[size_t(i)]).c_str());
        HRESULT hr = text ? SafeArrayPutElement(array, &i, text) : E_OUTOFMEMORY;
        SysFreeString(text);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return LONG(0xC1050405);
        }
    }
    V_VT(names) = VT_ARRAY | VT_BSTR;
    V_ARRAY(names) = array;
    *count = LONG(list.size());
    return 0;
}

// One enumeration of the S7 library into names: its failure with E_FAIL is
// the list's own code, no names answers 1.
template <class Enumerate>
LONG ListNames(Enumerate enumerate, LONG failCode, VARIANT *names, LONG *count)
{
    if (!names || !count)
        return E_POINTER;
    VariantClear(names);
    *count = 0;
    LONG result;
    try {
        std::vector<std::string> list;
        HRESULT hr = enumerate(&list);
        if (hr == E_FAIL)
            result = failCode;
        else if (FAILED(hr))
            result = hr;
        else if (list.empty())
            result = 1;
        else
            result = PutNames(list, names, count);
    } catch (const std::bad_alloc &) {
        result = E_OUTOFMEMORY;
    } catch (...) {
        result = LONG(0xC10101FE);
    }
    if (result != 0) {
        VariantClear(names);
        *count = 0;
    }
    return result;
}

template <class Row> void AddRows(const std::vector<Row> &rows, std::vector<std::string> *list)
{
    for (const Row &row : rows)
        list->push_back(std::string(row.name, strnlen(row.name, sizeof(row.name))));
}

// The block's range in units of its area: [start, end).
struct Range {
    unsigned start, end;
};
Range RangeOf(const S7Address &a) { return {a.start, unsigned(a.start) + a.length}; }

} // namespace

void SetDriverClock(DriverClockFn now, DriverSleepFn sleep)
{
    g_clock = now ? now : SystemClock;
    g_sleep = sleep ? sleep : SystemSleep;
}

void CDriver::CreateStore()
{
    m_store = AcquireDriverStore(m_acronym.c_str());
    if (!m_store) {
        ServerMessage line;
        line.severity = SeverityFatal;
        line.text = "Server: CCommonMemory Creation Failed";
        PostServerMessage(line);
        return;
    }
    if (m_store->CreateDataBlock(&m_statusIndex, 250, 0) == 0) {
        m_statusExists = true;
        m_store->SetBytesInUse(m_statusIndex, 16);
    }
}

void CDriver::DestroyStore()
{
    if (!m_store)
        return;
    if (m_statusExists)
        m_store->DestroyDataBlock(m_statusIndex);
    m_statusExists = false;
    ReleaseDriverStore(m_store);
    m_store = nullptr;
}

LONG CDriver::PublishServerStatus(uint16_t serverState, uint16_t kivRefs, uint16_t opcClients, uint16_t pollRefs)
{
    if (!m_store)
        return E_FAIL;
    if (!m_statusExists)
        return 1;
    uint16_t words[8] = {serverState, 0, kivRefs, 0, opcClients, 0, pollRefs, 0};
    return LONG(m_store->SetDataBlock(m_statusIndex, sizeof(words), words, 0));
}

void CDriver::StartOutputThread()
{
#ifdef QOR_HAVE_OUTPUT_THREAD
    if (m_output || !m_store)
        return;
    m_output = new COutputThread();
    if (!m_output->Start(m_store, this)) {
        delete m_output;
        m_output = nullptr;
    }
#endif
}

void CDriver::StopOutputThread()
{
#ifdef QOR_HAVE_OUTPUT_THREAD
    if (!m_output)
        return;
    m_output->Stop();
    delete m_output;
    m_output = nullptr;
#endif
}

LONG CDriver::Start(bool wait)
{
    if (IsRunning())
        return 0;
    if (m_stopClock) {
        ULONGLONG now = g_clock();
        if (now < m_stopClock + kRestartGap) {
            if (!wait)
                return CFG_E_START_TOO_SOON;
            // A clock that went back leaves more than the gap: never sleep longer.
            ULONGLONG rest = m_stopClock + kRestartGap - now;
            DWORD ms = rest >= kRestartGap ? kRestartGapMs : DWORD((rest + 9999) / 10000);
            g_sleep(std::min(ms, kRestartGapMs));
        }
    }
    ReadWriteQueueMaxSize();
    S7ErrorRecord error;
    SetS7AbortTimeout(m_sapiTimeout, &error);
    if (PendingProcessorDestroys() > 0) {
        if (!wait) {
            LogMessage(SeverityError, "%s",
                       "The driver can't start because it is still processing a previous stop request.");
            return CFG_E_START_TOO_SOON;
        }
        while (PendingProcessorDestroys() > 0)
            g_sleep(20);
    }
    for (CChannel *channel : Channels())
        channel->Start();
    SetRunningState(true);
    StartOutputThread();
    SendConfigHmiAlarmLine("Driver Started", m_acronym.c_str());
    return 0;
}

LONG CDriver::Stop()
{
    if (!IsRunning())
        return 0;
    SetRunningState(false);
    m_stopClock = g_clock();
    SendConfigHmiAlarmLine("Driver Stopped", m_acronym.c_str());
    StopOutputThread();
    for (CChannel *channel : Channels())
        channel->Stop(0);
    return 0;
}

LONG CDriver::Poll()
{
    std::vector<CChannel *> channels = Channels();
    if (channels.empty())
        return E_FAIL;
    for (CChannel *channel : channels) {
        if (!channel->IsEnabled())
            continue;
        LONG result = channel->Poll();
        if (result < 0)
            return result;
    }
    return 0;
}

LONG CDriver::RegisterException(bool on, CDataBlock *block, uint32_t address, uint32_t internalAddress,
                                uint8_t tag, uint16_t id, uint8_t kind, uint32_t hmiValue)
{
    if (!block)
        return E_POINTER;
    if (tag == 26)
        return E_FAIL;
    // The block's own lock keeps the parse thread's deadband pass out.
    if (on)
        block->AddRegistration(address, internalAddress, tag, id, kind, hmiValue);
    else
        block->RemoveRegistration(address, internalAddress, tag, id, kind);
    return 0;
}

LONG CDriver::SetDataAddress(const char *text, uint32_t, uint32_t *deviceRef, uint32_t *addressWord,
                             uint32_t *internalAddress, unsigned short *index, uint32_t *handle)
{
    uint32_t word = 0, internal = 0, objectHandle = 0;
    unsigned short blockIndex = 0;
    LONG result = 0;
    if (text && *text && strcmp(text, kDataAddressHint) != 0) {
        const S7HmiAddress address = Types().ReadHmiAddress(text);
        if (address.IsControl()) {
            result = ResolveControlName(address.text, &internal, &objectHandle);
        } else {
            const std::string &deviceName = address.device;
            uint32_t wanted = deviceRef ? *deviceRef : 0;
            CDevice *found = nullptr;
            for (CChannel *channel : Channels()) {
                for (CDevice *device : channel->Devices()) {
                    bool named = device->NameEquals(deviceName.c_str());
                    // A device renamed since the HMI learnt it keeps its reference.
                    if ((named && (wanted == 0 || wanted == device->Reference())) ||
                        (!named && wanted != 0 && wanted == device->Reference())) {
                        found = device;
                        break;
                    }
                }
                if (found)
                    break;
            }
            if (!found) {
                result = E_FAIL;
            } else {
                if (deviceRef)
                    *deviceRef = found->Reference();
                result = ResolveInDevice(found, Upper(address.position), &word, &internal, &blockIndex, &objectHandle);
            }
        }
    }
    if (result != 0)
        word = internal = objectHandle = 0, blockIndex = 0;
    if (addressWord)
        *addressWord = word;
    if (internalAddress)
        *internalAddress = internal;
    if (index)
        *index = blockIndex;
    if (handle)
        *handle = objectHandle;
    return result;
}

LONG CDriver::GetDataAddress(uint32_t addressWord, uint32_t internalAddress, uint32_t blockHandle, uint32_t item,
                              std::string *text) const
{
    static const char *const keywords[4] = {"!Switch", "!Poll", "!Mode", "!Send"};
    *text = kDataAddressHint;
    if (blockHandle == 0)
        return 0;
    if (internalAddress >= 0x10000000u) {
        unsigned number = internalAddress >> 28;
        CConfigObject *object = static_cast<CConfigObject *>(
            LiveObjectFromHandle(blockHandle, CConfigObject::StaticClass()));
        if (number >= 1 && number <= 4 && object)
            *text = std::string(keywords[number - 1]) + ":" + object->Name();
        return 0;
    }
    CDataBlock *block = LiveObjectAs<CDataBlock>(blockHandle);
    unsigned kind = item & 0xFF;
    if (!block || !block->Device() || !Types().NamesItem(kind))
        return 0;
    // The position comes from the address word, the type from the block.
    S7Address address = block->Address();
    Types().FromAddressWord(addressWord, &address);
    address.bit = uint16_t(internalAddress & 0xF);
    std::string name;
    if (Types().FormatItemName(block->Device()->Name(), address, kind, name) == S7_OK)
        *text = name;
    return 0;
}

LONG CDriver::ResolveControlName(const std::string &text, uint32_t *internalAddress, uint32_t *handle)
{
    static const char *const keywords[4] = {" !SWITCH", " !POLL", " !MODE", " !SEND"};
    size_t colon = text.find(':');
    std::string part = Upper(text.substr(0, colon));
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t") + 1);
    if (part.size() < 2 || colon == std::string::npos)
        return E_FAIL;
    int number = 0;
    for (int i = 0; i < 4 && !number; ++i)
        if (strstr(keywords[i], (" " + part).c_str()))
            number = i + 1;
    if (!number)
        return E_FAIL;
    CConfigObject *object = FindByName(text.substr(colon + 1).c_str());
    if (!object)
        return E_FAIL;
    *internalAddress = uint32_t(number) << 28;
    *handle = object->Handle();
    return 0;
}

LONG CDriver::ResolveInDevice(CDevice *device, const std::string &addressText, uint32_t *addressWord,
                              uint32_t *internalAddress, unsigned short *index, uint32_t *handle)
{
    CDataBlock *temp = new CDataBlock(true, false);
    LONG code = 0;
    if (addressText.empty() || temp->SetProperty("StartAddress", addressText.c_str(), &code) != 0 || code != 0 ||
        temp->Address().length == 0) {
        delete temp;
        return E_FAIL;
    }
    const S7Address wantedAddress = temp->Address();
    const uint32_t tempWord = temp->InternalAddress();
    const Range wanted = RangeOf(wantedAddress);

    // A block that holds the address already, or one that can grow to it.
    CDataBlock *existing = nullptr;
    std::vector<CDataBlock *> blocks = device->DataBlocks();
    for (CDataBlock *block : blocks) {
        // Temporary blocks have no name: an empty name matches nothing.
        if (!temp->Name().empty() && block->NameEquals(temp->Name().c_str())) {
            existing = block;
            break;
        }
    }
    if (!existing)
        existing = device->FindOverlap(wantedAddress.area, wantedAddress.dbNumber, wanted.start,
                                       wanted.end - wanted.start, temp);
    if (!existing) {
        for (CDataBlock *block : blocks) {
            const S7Address &a = block->Address();
            if (a.length == 0 || a.area != wantedAddress.area || a.dbNumber != wantedAddress.dbNumber)
                continue;
            Range have = RangeOf(a);
            unsigned start = std::min(have.start, wanted.start), end = std::max(have.end, wanted.end);
            if (end - start > Types().ReadLimit(a.area))
                continue;
            CDataBlock *third = device->FindOverlap(a.area, a.dbNumber, start, end - start, block);
            if (third && third != temp)
                continue;
            existing = block;
            break;
        }
    }

    if (!existing) {
        if (!m_autoCreate) {
            delete temp;
            return E_FAIL;
        }
        CDefaultsReader defaults("DataBlockDefaults");
        temp->AssignDefaultName(defaults.Text("DataBlockName"), "DataBlock", CDataBlock::NameCounter());
        if (device->AddDataBlock(temp) != 0) {
            delete temp;
            return E_FAIL;
        }
        temp->SetProperty("Enabled", LONG(1));
        *addressWord = temp->InternalAddress();
        *internalAddress = wantedAddress.bit;
        *index = temp->StoreIndex();
        *handle = temp->Handle();
        return 0;
    }

    // The address must fall on an element boundary of the block it joins.
    const S7Address &a = existing->Address();
    const unsigned units = Types().ElementAt(a, long(wanted.start));
    if (units == 0) {
        delete temp;
        return E_FAIL;
    }
    Range have = RangeOf(a);
    unsigned needEnd = wanted.start + units;   // the element holding the address
    if (wanted.start < have.start || needEnd > have.end) {
        bool wasEnabled = existing->IsEnabled();
        if (wasEnabled)
            existing->Disable(false);
        S7Address edge = a;
        std::string edgeText;
        LONG moved = 0;
        if (wanted.start < have.start) {
            edge.start = uint16_t(wanted.start);
            Types().FormatAddress(edge, edgeText, 0);
            existing->SetProperty("StartAddress", edgeText.c_str(), &moved);
        }
        if (moved == 0 && needEnd > have.end) {
            edge.start = uint16_t(needEnd - 1);
            Types().FormatAddress(edge, edgeText, 0);
            existing->SetProperty("EndAddress", edgeText.c_str(), &moved);
        }
        if (wasEnabled)
            existing->Enable(false);
        if (moved != 0) {
            delete temp;
            return E_FAIL;
        }
    }
    *addressWord = tempWord;
    *internalAddress = wantedAddress.bit;
    *index = existing->StoreIndex();
    *handle = existing->Handle();
    delete temp;
    return 0;
}

LONG CDriver::GetCpNames(VARIANT *names, LONG *count)
{
    return ListNames(
        [](std::vector<std::string> *list) {
            S7CpList *cps = nullptr;
            HRESULT code = 0;
            HRESULT hr = QOREnumerateCps(&cps, &code);
            if (SUCCEEDED(hr) && cps)
                AddRows(cps->rows, list);
            if (cps)
                QORFreeCpList(cps);
            return hr;
        },
        LONG(0xC1010139), names, count);
}

LONG CDriver::GetVfdNames(const char *cpName, VARIANT *names, LONG *count)
{
    return ListNames(
        [cpName](std::vector<std::string> *list) {
            S7VfdList *vfds = nullptr;
            HRESULT code = 0;
            HRESULT hr = QOREnumerateVfds(cpName ? cpName : "", &vfds, &code);
            if (SUCCEEDED(hr) && vfds)
                AddRows(vfds->rows, list);
            if (vfds)
                QORFreeVfdList(vfds);
            return hr;
        },
        LONG(0xC101013A), names, count);
}

LONG CDriver::GetConnectionNames(const char *cpName, const char *vfdName, VARIANT *names, LONG *count)
{
    return ListNames(
        [cpName, vfdName](std::vector<std::string> *list) {
            S7ConnList *conns = nullptr;
            HRESULT code = 0;
            HRESULT hr = QOREnumerateConnections(cpName ? cpName : "", vfdName ? vfdName : "", &conns, &code);
            if (SUCCEEDED(hr) && conns)
                AddRows(conns->rows, list);
            if (conns)
                QORFreeConnList(conns);
            return hr;
        },
        LONG(0xC101013B), names, count);
}
