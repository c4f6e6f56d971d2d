#include "ImpIOPCItemProperties.h"

#include <cstring>
#include <vector>

#include "ClassFactory.h"
#include "ImpIOPCServer.h"
#include "ItemIdCheck.h"
#include "OpcKit.h"

namespace {

// A property id that names no item of its own.
const HRESULT kInvalidPid = HRESULT(0xC0040203L);

const DWORD kFirstId = 5000;
const DWORD kCount = 8;
const char *const kNames[kCount] = {"Name",          "Description", "Enabled",        "PrimaryPollTime",
                                    "SecondaryPollTime", "AccessTime", "OutputDisabled", "LatchData"};
const VARTYPE kTypes[kCount] = {VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL};

bool InTable(DWORD id) { return id >= kFirstId && id < kFirstId + kCount; }

// The poll and access times: an empty text means the time is not used.
bool IsTimeProperty(DWORD id) { return id == 5003 || id == 5004 || id == 5005; }

bool IsConnected()
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (driver)
        driver->Release();
    return driver != nullptr;
}

HRESULT Validate(LPWSTR itemId, CItemIdCheck &item) { return item.Parse(WideToText(itemId).c_str()); }

}  // namespace

CImpIOPCItemProperties::CImpIOPCItemProperties(IUnknown *owner, COPCDrvServer *server)
    : CTearOff<IOPCItemProperties>(owner), m_pServer(server)
{
    CreateNameArray(kNames, kCount, &m_names);
}

CImpIOPCItemProperties::~CImpIOPCItemProperties() { VariantClear(&m_names); }

STDMETHODIMP CImpIOPCItemProperties::QueryAvailableProperties(LPWSTR itemId, DWORD *count, DWORD **ids,
                                                              LPWSTR **descriptions, VARTYPE **types)
{
    if (count)
        *count = 0;
    if (ids)
        *ids = nullptr;
    if (descriptions)
        *descriptions = nullptr;
    if (types)
        *types = nullptr;
    if (!itemId || !count || !ids || !descriptions || !types)
        return E_INVALIDARG;
    try {
        CItemIdCheck item;
        if (FAILED(Validate(itemId, item)))
            return OPC_E_INVALIDITEMID;
        DWORD *idList = static_cast<DWORD *>(KitAlloc(g_pIMalloc, kCount * sizeof(DWORD)));
        LPWSTR *texts = static_cast<LPWSTR *>(KitAlloc(g_pIMalloc, kCount * sizeof(LPWSTR)));
        VARTYPE *typeList = static_cast<VARTYPE *>(KitAlloc(g_pIMalloc, kCount * sizeof(VARTYPE)));
        bool ok = idList && texts && typeList;
        if (texts)
            std::memset(texts, 0, kCount * sizeof(LPWSTR));
        for (DWORD i = 0; ok && i < kCount; ++i) {
            idList[i] = kFirstId + i;
            typeList[i] = kTypes[i];
            texts[i] = AllocWideCopy(std::string(kNames[i]), g_pIMalloc);
            ok = texts[i] != nullptr;
        }
        if (!ok) {
            for (DWORD i = 0; texts && i < kCount; ++i)
                FreeResult(texts[i], g_pIMalloc);
            FreeResult(idList, g_pIMalloc);
            FreeResult(texts, g_pIMalloc);
            FreeResult(typeList, g_pIMalloc);
            return E_OUTOFMEMORY;
        }
        *count = kCount;
        *ids = idList;
        *descriptions = texts;
        *types = typeList;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

// Fills values and errors (count entries, zeroed) from one read of the item's
// data block.
HRESULT CImpIOPCItemProperties::ReadProperties(LONG block, DWORD count, const DWORD *ids, VARIANT *values,
                                               HRESULT *errors)
{
    std::vector<VARIANT> read;
    HRESULT hr = ::ReadProperties(block, m_names, read);
    if (SUCCEEDED(hr) && read.size() != kCount)
        hr = E_FAIL;
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        VariantInit(&values[i]);
        errors[i] = S_OK;
        if (!InTable(ids[i])) {
            errors[i] = E_INVALIDARG;
            continue;
        }
        DWORD row = ids[i] - kFirstId;
        VARIANT value;
        VariantInit(&value);
        VariantCopy(&value, &read[row]);
        if (IsTimeProperty(ids[i]) && V_VT(&value) == VT_BSTR && SysStringLen(V_BSTR(&value)) == 0) {
            VariantClear(&value);
            V_VT(&value) = VT_BSTR;
            V_BSTR(&value) = SysAllocString(L"Disabled");
        }
        errors[i] = VariantChangeType(&values[i], &value, 0, kTypes[row]);
        VariantClear(&value);
    }
    for (VARIANT &v : read)
        VariantClear(&v);
    return hr;
}

STDMETHODIMP CImpIOPCItemProperties::GetItemProperties(LPWSTR itemId, DWORD count, DWORD *ids, VARIANT **values,
                                                       HRESULT **errors)
{
    if (values)
        *values = nullptr;
    if (errors)
        *errors = nullptr;
    if (!itemId || !ids || !values || !errors)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    VARIANT *valueList = nullptr;
    HRESULT *errorList = nullptr;
    HRESULT hr;
    try {
        // Without the I/O server no item ID parses; that is a failure of
        // the call, not of the client's ID.
        if (!IsConnected())
            return E_FAIL;
        CItemIdCheck item;
        if (FAILED(Validate(itemId, item)))
            return OPC_E_INVALIDITEMID;
        if (count > 0x0FFFFFFF)
            return E_OUTOFMEMORY;
        valueList = static_cast<VARIANT *>(KitAlloc(g_pIMalloc, count * sizeof(VARIANT)));
        errorList = static_cast<HRESULT *>(KitAlloc(g_pIMalloc, count * sizeof(HRESULT)));
        if (!valueList || !errorList) {
            FreeResult(valueList, g_pIMalloc);
            FreeResult(errorList, g_pIMalloc);
            return E_OUTOFMEMORY;
        }
        std::memset(valueList, 0, count * sizeof(VARIANT));
        std::memset(errorList, 0, count * sizeof(HRESULT));
        hr = ReadProperties(item.BlockHandle(), count, ids, valueList, errorList);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        for (DWORD i = 0; valueList && i < count; ++i)
            VariantClear(&valueList[i]);
        FreeResult(valueList, g_pIMalloc);
        FreeResult(errorList, g_pIMalloc);
        return hr;
    }
    *values = valueList;
    *errors = errorList;
    return S_OK;
}

STDMETHODIMP CImpIOPCItemProperties::LookupItemIDs(LPWSTR itemId, DWORD count, DWORD *ids, LPWSTR **newItemIds,
                                                   HRESULT **errors)
{
    if (newItemIds)
        *newItemIds = nullptr;
    if (errors)
        *errors = nullptr;
    if (!itemId || !ids || !newItemIds || !errors)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    try {
        CItemIdCheck item;
        if (FAILED(Validate(itemId, item)))
            return OPC_E_INVALIDITEMID;
        if (count > 0x0FFFFFFF)
            return E_OUTOFMEMORY;
        LPWSTR *names = static_cast<LPWSTR *>(KitAlloc(g_pIMalloc, count * sizeof(LPWSTR)));
        HRESULT *codes = static_cast<HRESULT *>(KitAlloc(g_pIMalloc, count * sizeof(HRESULT)));
        if (!names || !codes) {
            FreeResult(names, g_pIMalloc);
            FreeResult(codes, g_pIMalloc);
            return E_OUTOFMEMORY;
        }
        // No property has an item ID of its own.
        for (DWORD i = 0; i < count; ++i) {
            names[i] = nullptr;
            codes[i] = InTable(ids[i]) ? kInvalidPid : E_INVALIDARG;
        }
        *newItemIds = names;
        *errors = codes;
        return S_FALSE;
    } catch (...) {
        return E_FAIL;
    }
}
