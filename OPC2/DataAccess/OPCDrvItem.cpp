#include "OPCDrvItem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "BlockAnswers.h"
#include "Brisko.h"
#include "ClassFactory.h"
#include "ImpIOPCServer.h"
#include "ItemIdCheck.h"
#include "OPCDrvGroup.h"
#include "OpcKit.h"
#include "Oxley.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvItem, CObject)

namespace {

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool IsNoneText(const std::string &text) { return text.empty() || lstrcmpiA(text.c_str(), "None") == 0; }

// The single-precision view of a numeric value, as the change test compares it.
float AsFloat(const VARIANT &v)
{
    switch (V_VT(&v)) {
    case VT_I2: return float(V_I2(&v));
    case VT_I4: return float(V_I4(&v));
    case VT_R8: return float(V_R8(&v));
    case VT_UI1: return float(V_UI1(&v));
    default: {
        float f;
        std::memcpy(&f, &v.lVal, sizeof(f));
        return f;
    }
    }
}

}  // namespace

void KindForType(VARTYPE type, bool digitalAddress, BYTE *kind, VARTYPE *canonical)
{
    switch (type) {
    case VT_EMPTY:
        *kind = digitalAddress ? KIV_DIGITAL : KIV_ANALOG;
        *canonical = digitalAddress ? VT_BOOL : VT_R4;
        break;
    case VT_I2: case VT_I4: case VT_R4: case VT_UI1:
        *kind = KIV_ANALOG;
        *canonical = type;
        break;
    case VT_BSTR:
        *kind = KIV_TEXT;
        *canonical = VT_BSTR;
        break;
    case VT_BOOL:
        *kind = KIV_DIGITAL;
        *canonical = VT_BOOL;
        break;
    default:
        *kind = KIV_ANALOG;
        *canonical = VT_R4;
        break;
    }
}

void StartPollingIfAsked()
{
    if (g_dwAutoStart != 1 || IsDriverRunning())
        return;
    if (IDriver *driver = g_ClassFactory.AcquireDriver()) {
        driver->StartWait();
        driver->Release();
    }
}

COPCDrvItem::COPCDrvItem(COPCDrvGroup *group) : m_pGroup(group)
{
    InitializeCriticalSection(&m_cs);
    VariantInit(&m_value);
    std::memset(&m_device, 0, sizeof(m_device));
    std::memset(&m_addressRecord, 0, sizeof(m_addressRecord));
    std::memset(&m_block, 0, sizeof(m_block));
    std::memcpy(&m_block.hmi, "QOR", 4 > sizeof(m_block.hmi) ? sizeof(m_block.hmi) : 4);
    m_block.device = &m_device;
    m_block.address = &m_addressRecord;
    m_signal = g_strSignalConditioning;
    m_loEgu = g_strLoEGU;
    m_hiEgu = g_strHiEGU;
    m_options = g_strHardwareOptions;
    m_kind.kind = KIV_ANALOG;
    m_kind.count = 1;
    m_kind.low = float(atof(m_loEgu.c_str()));
    m_kind.span = float(atof(m_hiEgu.c_str())) - m_kind.low;
}

COPCDrvItem::~COPCDrvItem()
{
    VariantClear(&m_value);
    DeleteCriticalSection(&m_cs);
}

STDMETHODIMP COPCDrvItem::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown)
        return E_NOINTERFACE;
    *ppv = static_cast<IUnknown *>(this);
    AddRef();
    return S_OK;
}

// The item holds its group while it lives.
STDMETHODIMP_(ULONG) COPCDrvItem::AddRef()
{
    if (m_pGroup)
        m_pGroup->AddRef();
    return ListAddRef();
}

STDMETHODIMP_(ULONG) COPCDrvItem::Release()
{
    COPCDrvGroup *group = m_pGroup;
    ULONG count = ListRelease();
    if (group)
        group->Release();
    return count;
}

ULONG COPCDrvItem::ListAddRef() { return InterlockedIncrement(&m_cRef); }

ULONG COPCDrvItem::ListRelease()
{
    ULONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return count;
}

HRESULT COPCDrvItem::ParseItemID(const std::string &id)
{
    m_itemID = Trim(id);
    if (m_itemID.empty())
        return OPC_E_INVALIDITEMID;
    std::string text = Upper(m_itemID);
    size_t bar = text.find('|');
    m_address = Trim(text.substr(0, bar));
    if (m_address.empty())
        return OPC_E_INVALIDITEMID;
    if (bar == std::string::npos)
        return S_OK;
    std::string rest = text.substr(bar + 1);
    std::string *parts[] = {&m_signal, &m_loEgu, &m_hiEgu, &m_options};
    for (int i = 0; i < 4; ++i) {
        size_t comma = i < 3 ? rest.find(',') : std::string::npos;
        *parts[i] = Trim(rest.substr(0, comma));
        if (comma == std::string::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    return S_OK;
}

HRESULT COPCDrvItem::ParseAddress(VARTYPE requested, CBlockAnswers &answers)
{
    bool digital = !m_address.empty() && m_address[0] == '!';
    BYTE kind;
    KindForType(requested, digital, &kind, &m_vtCanonical);
    m_kind.kind = kind;
    m_kind.count = BYTE(kind == KIV_TEXT ? m_valueLength : 1);
    const char *parsed = ParsedAddress(m_address, digital);
    if (!parsed)
        return OPC_E_INVALIDITEMID;
    if (!answers.Answer(parsed, kind, &m_block)) {
        KivStatus status[2] = {0, 0};
        kiv_paddr(status, &m_block, &m_kind, parsed);
        if (status[0] != KIV_OK)
            return OPC_E_INVALIDITEMID;
        answers.Learn(parsed, kind, m_block);
    }
    // The block's own type decides, unless the client marked a bit with "!"
    // (a bit of a BYTE block would become an analog byte).
    VARTYPE blockType = VT_EMPTY;
    if (requested == VT_EMPTY && !digital && answers.BlockType(LONG(m_device.blockHandle), &blockType)) {
        KindForType(blockType, digital, &kind, &m_vtCanonical);
        m_kind.kind = kind;
        if (kind == KIV_TEXT) {
            m_valueLength = short(g_dwStringLength);
            m_kind.count = BYTE(m_valueLength);
        }
    }
    return SetRequestedType(requested);
}

HRESULT COPCDrvItem::SetRequestedType(VARTYPE requested)
{
    if (requested & (VT_ARRAY | VT_BYREF))
        return OPC_E_BADTYPE;
    if (requested != VT_EMPTY) {
        switch (m_kind.kind) {
        case KIV_DIGITAL:
            if (requested != VT_BOOL)
                return OPC_E_BADTYPE;
            break;
        case KIV_TEXT:
            if (requested != VT_BSTR)
                return OPC_E_BADTYPE;
            break;
        default:
            if (requested == VT_BOOL || requested == VT_BSTR)
                return OPC_E_BADTYPE;
            break;
        }
    }
    m_vtRequested = requested;
    return S_OK;
}

HRESULT COPCDrvItem::ParseSignalConditioning()
{
    if (m_kind.kind == KIV_ANALOG) {
        KivStatus status[2] = {0, 0};
        kiv_psig(status, &m_block, nullptr, m_signal.c_str());
        return status[0] == KIV_OK ? S_OK : OPC_E_INVALIDITEMID;
    }
    return IsNoneText(m_signal) ? S_OK : OPC_E_INVALIDITEMID;
}

HRESULT COPCDrvItem::ParseHardwareOptions()
{
    KivStatus status[2] = {0, 0};
    kiv_popt(status, &m_block, nullptr, m_options.c_str());
    return status[0] == KIV_OK ? S_OK : OPC_E_INVALIDITEMID;
}

void COPCDrvItem::SetUpEgu()
{
    if (m_kind.kind == KIV_ANALOG) {
        m_kind.low = float(atof(m_loEgu.c_str()));
        m_kind.span = float(atof(m_hiEgu.c_str())) - m_kind.low;
        size_t dot = m_loEgu.find('.');
        m_decimals = BYTE(dot == std::string::npos ? 0 : m_loEgu.size() - dot - 1);
    } else if (m_kind.kind == KIV_DIGITAL) {
        m_stateTexts[0] = m_loEgu.empty() ? "OPEN" : m_loEgu;
        m_stateTexts[1] = m_hiEgu.empty() ? "CLOSED" : m_hiEgu;
        m_signal.clear();
    }
}

HRESULT COPCDrvItem::SetUp(const OPCITEMDEF *def, OPCITEMRESULT *result, CBlockAnswers &answers)
{
    if (!def || !result)
        return E_INVALIDARG;
    HRESULT hr = ParseItemID(WideToText(def->szItemID));
    if (FAILED(hr))
        return hr;
    if (def->vtRequestedDataType == VT_BSTR ||
        (def->vtRequestedDataType == VT_EMPTY && !m_address.empty() && m_address[0] != '!')) {
        // A text item's second part is its length; it is needed before the
        // address is parsed, since Oxley checks the item's extent.
        if (!IsNoneText(m_signal) && def->vtRequestedDataType == VT_BSTR) {
            char *end = nullptr;
            long length = strtol(m_signal.c_str(), &end, 10);
            if (!end || *end || length <= 0 || length > 256)
                return OPC_E_INVALIDITEMID;
            m_valueLength = short(length);
        } else if (def->vtRequestedDataType == VT_BSTR) {
            m_valueLength = short(g_dwStringLength);
        }
    }
    hr = ParseAddress(def->vtRequestedDataType, answers);
    if (FAILED(hr))
        return hr;
    if (m_kind.kind == KIV_TEXT) {
        if (!IsNoneText(m_signal)) {
            char *end = nullptr;
            long length = strtol(m_signal.c_str(), &end, 10);
            if (!end || *end || length <= 0 || length > 256)
                return OPC_E_INVALIDITEMID;
            m_valueLength = short(length);
        }
        m_kind.count = BYTE(m_valueLength > 255 ? 255 : m_valueLength);
    } else {
        SetUpEgu();
        if (FAILED(hr = ParseSignalConditioning()) || FAILED(hr = ParseHardwareOptions()))
            return hr;
        m_valueLength = 1;
    }
    ReadDevice();
    m_hClient = def->hClient;
    result->hServer = ServerHandle();
    result->vtCanonicalDataType = m_vtCanonical;
    result->wReserved = 0;
    result->dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
    result->dwBlobSize = 0;
    result->pBlob = nullptr;
    return S_OK;
}

std::string COPCDrvItem::BuildItemID()
{
    std::string id = m_address + "|" + m_signal;
    if (m_kind.kind == KIV_TEXT)
        return id + "," + std::to_string(m_valueLength);
    return id + "," + m_loEgu + "," + m_hiEgu + "," + m_options;
}

bool COPCDrvItem::SetActive(BOOL active)
{
    Lock();
    bool changed = (m_bActive != FALSE) != (active != FALSE);
    m_bActive = active ? TRUE : FALSE;
    Unlock();
    return changed;
}

BOOL COPCDrvItem::IsActive()
{
    Lock();
    BOOL active = m_bActive;
    Unlock();
    return active;
}

void COPCDrvItem::SetClientHandle(OPCHANDLE handle)
{
    Lock();
    m_hClient = handle;
    Unlock();
}

OPCHANDLE COPCDrvItem::ClientHandle()
{
    Lock();
    OPCHANDLE handle = m_hClient;
    Unlock();
    return handle;
}

void COPCDrvItem::ReadKiv(VARIANT *value, WORD *quality, FILETIME *time, WORD *status)
{
    KivStatus result[2] = {0, 0};
    unsigned short q = 0;
    kiv_readEx(result, &m_block, &m_kind, time, &q, m_valueLength, value, 0);
    *quality = q;
    *status = result[0];
}

void COPCDrvItem::ReadDevice()
{
    Lock();
    VARIANT fresh;
    VariantInit(&fresh);
    ReadKiv(&fresh, &m_wQuality, &m_ftTimestamp, &m_wStatus);
    if ((m_wQuality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD && m_wStatus == 0) {
        m_vtCanonical = V_VT(&fresh);
        HRESULT hr = m_vtRequested == VT_EMPTY ? VariantCopy(&m_value, &fresh)
                                               : VariantChangeType(&m_value, &fresh, 0, m_vtRequested);
        if (FAILED(hr)) {
            m_wQuality = 0;
            m_wStatus = 0x1FE;
        }
        m_bCacheValid = (m_wQuality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    }
    VariantClear(&fresh);
    Unlock();
}

bool COPCDrvItem::UpdateCache()
{
    Lock();
    WORD oldQuality = m_wQuality, oldStatus = m_wStatus;
    VARIANT fresh;
    VariantInit(&fresh);
    ReadKiv(&fresh, &m_wQuality, &m_ftTimestamp, &m_wStatus);
    if (m_vtRequested != VT_EMPTY && V_VT(&fresh) != VT_EMPTY &&
        FAILED(VariantChangeType(&fresh, &fresh, 0, m_vtRequested))) {
        m_wQuality = 0;
        m_wStatus = 0x1FE;
    }
    bool changed = HasChanged(fresh, oldQuality, oldStatus);
    if (changed) {
        m_bCacheValid = true;
        m_vtCanonical = V_VT(&fresh) == VT_EMPTY ? m_vtCanonical : V_VT(&fresh);
        if (FAILED(VariantCopy(&m_value, &fresh))) {
            m_bCacheValid = false;
            m_wQuality = 0;
        }
    }
    VariantClear(&fresh);
    Unlock();
    return changed;
}

bool COPCDrvItem::HasChanged(const VARIANT &value, WORD oldQuality, WORD oldStatus)
{
    bool changed;
    if (!m_bCacheValid || V_VT(&value) != V_VT(&m_value)) {
        changed = true;
    } else {
        switch (V_VT(&value)) {
        case VT_I2: case VT_I4: case VT_R8: case VT_UI1:
            changed = ExceedsDeadband(AsFloat(m_value), AsFloat(value));
            break;
        case VT_BSTR: {
            UINT a = SysStringByteLen(V_BSTR(&value)), b = SysStringByteLen(V_BSTR(&m_value));
            changed = a != b || (a && std::memcmp(V_BSTR(&value), V_BSTR(&m_value), a) != 0);
            break;
        }
        case VT_BOOL:
            changed = V_BOOL(&value) != V_BOOL(&m_value);
            break;
        default:
            changed = ExceedsDeadband(AsFloat(m_value), AsFloat(value));
            break;
        }
    }
    return changed || m_wQuality != oldQuality || m_wStatus != oldStatus;
}

bool COPCDrvItem::ExceedsDeadband(float oldValue, float newValue)
{
    float percent = m_pGroup ? m_pGroup->m_fDeadband : 0.0f;
    float pd = percent * 0.01f;
    if (pd == 0.0f)
        return newValue != oldValue;
    // A span written high-to-low still has its width; with no width only
    // a different value is a change.
    float threshold = std::fabs(m_kind.span) * pd;
    if (threshold == 0.0f)
        return newValue != oldValue;
    return std::fabs(newValue - oldValue) >= threshold;
}

HRESULT COPCDrvItem::GetValue(DWORD source, VARIANT *value, WORD *quality, FILETIME *timestamp, DATE *date)
{
    if (!value)
        return E_POINTER;
    if (source == SOURCE_DEVICE)
        ReadDevice();
    Lock();
    WORD q = m_wQuality;
    if (source == SOURCE_CACHE && !m_bActive)
        q = WORD((q & 0xFF1F) | OPC_QUALITY_OUT_OF_SERVICE);
    if (quality)
        *quality = q;
    if (timestamp)
        *timestamp = m_ftTimestamp;
    if (date && !timestamp) {
        WORD dosDate = 0, dosTime = 0;
        FILETIME local;
        FileTimeToLocalFileTime(&m_ftTimestamp, &local);
        FileTimeToDosDateTime(&local, &dosDate, &dosTime);
        DosDateTimeToVariantTime(dosDate, dosTime, date);
    }
    HRESULT hr = VariantCopy(value, &m_value);
    Unlock();
    return hr;
}

HRESULT COPCDrvItem::WriteValue(const VARIANT *value)
{
    if (!value)
        return E_INVALIDARG;
    Lock();
    KivStatus status[2] = {0, 0};
    unsigned short quality = m_wQuality;
    // The kind record's second byte is Oxley's item count, so it keeps the
    // item's length; the whole value goes, a text with its full length.
    kiv_sendEx(status, &m_block, &m_kind, &quality, m_valueLength, *value, 0);
    Unlock();
    return status[0] == KIV_OK ? S_OK : E_FAIL;
}

void COPCDrvItem::CopyFrom(COPCDrvItem &from)
{
    from.Lock();
    m_itemID = from.m_itemID;
    m_address = from.m_address;
    m_signal = from.m_signal;
    m_loEgu = from.m_loEgu;
    m_hiEgu = from.m_hiEgu;
    m_options = from.m_options;
    m_stateTexts[0] = from.m_stateTexts[0];
    m_stateTexts[1] = from.m_stateTexts[1];
    m_decimals = from.m_decimals;
    m_valueLength = from.m_valueLength;
    m_vtCanonical = from.m_vtCanonical;
    m_vtRequested = from.m_vtRequested;
    m_hClient = from.m_hClient;
    m_bActive = from.m_bActive;
    m_device = from.m_device;
    m_addressRecord = from.m_addressRecord;
    m_kind = from.m_kind;
    VariantCopy(&m_value, &from.m_value);
    m_wQuality = from.m_wQuality;
    m_ftTimestamp = from.m_ftTimestamp;
    m_bCacheValid = from.m_bCacheValid;
    m_wStatus = from.m_wStatus;
    from.Unlock();
}

HRESULT COPCDrvItem::GetAttributes(OPCITEMATTRIBUTES *attributes, IMalloc *malloc)
{
    if (!attributes)
        return E_INVALIDARG;
    std::memset(attributes, 0, sizeof(*attributes));
    Lock();
    attributes->bActive = m_bActive;
    attributes->hClient = m_hClient;
    attributes->hServer = ServerHandle();
    attributes->dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
    attributes->vtRequestedDataType = m_vtRequested;
    attributes->vtCanonicalDataType = m_vtCanonical;
    attributes->dwEUType = OPC_NOENUM;
    VariantInit(&attributes->vEUInfo);
    std::string id = m_itemID;
    Unlock();
    attributes->szAccessPath = AllocWideCopy(std::string(), malloc);
    attributes->szItemID = AllocWideCopy(id, malloc);
    if (!attributes->szAccessPath || !attributes->szItemID) {
        FreeItemAttributes(attributes, malloc);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
