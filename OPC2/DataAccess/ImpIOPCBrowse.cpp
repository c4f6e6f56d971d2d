#include "ImpIOPCBrowse.h"

#include <cstring>

#include "Brisko.h"
#include "ImpIOPCServer.h"
#include "ItemIdCheck.h"
#include "Registration.h"

namespace {

const char kHint[] = " (*hint: StartAddr - EndAddr)";
const size_t kAddressWidth = 20;  // each address text of a leaf is cut to this

// Values read from the server as a list of VARIANTs, cleared on every path.
struct VariantList {
    std::vector<VARIANT> values;
    ~VariantList()
    {
        for (VARIANT &v : values)
            VariantClear(&v);
    }
};

bool ToText(const VARIANT &value, std::string &text)
{
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantChangeType(&copy, const_cast<VARIANT *>(&value), 0, VT_BSTR)))
        return false;
    text = WideToText(V_BSTR(&copy));
    VariantClear(&copy);
    return true;
}

}  // namespace

CImpIOPCBrowseServerAddressSpace::CImpIOPCBrowseServerAddressSpace(IUnknown *owner, COPCDrvServer *server)
    : CTearOff<IOPCBrowseServerAddressSpace>(owner), m_pServer(server)
{
    static const char *const names[] = {"StartAddress", "EndAddress"};
    if (FAILED(CreateNameArray(names, 2, &m_blockNames)))
        ReportError("Unable to create datablock property array");
    char value[RegistryValueSize] = {};
    if (QueryRegistryValue(BRISKO_DEFAULTS_KEY, "ItemDefaults", "ReturnHints", value, REG_DWORD))
        memcpy(&m_returnHints, value, sizeof(DWORD));
    if (QueryRegistryValue(BRISKO_DEFAULTS_KEY, "ItemDefaults", "ReturnOptions", value, REG_DWORD))
        memcpy(&m_returnOptions, value, sizeof(DWORD));
}

CImpIOPCBrowseServerAddressSpace::~CImpIOPCBrowseServerAddressSpace()
{
    if (FAILED(VariantClear(&m_blockNames)))
        ReportError("Unable to free datablock property array");
}

STDMETHODIMP CImpIOPCBrowseServerAddressSpace::QueryOrganization(OPCNAMESPACETYPE *organization)
{
    if (!organization)
        return E_INVALIDARG;
    *organization = OPC_NS_HIERARCHIAL;
    return S_OK;
}

STDMETHODIMP CImpIOPCBrowseServerAddressSpace::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR name)
{
    if (!name)
        return E_INVALIDARG;
    try {
        std::string text = WideToText(name);
        bool toRoot;
        switch (direction) {
        case OPC_BROWSE_UP:
            if (m_level == 0)
                return E_FAIL;
            toRoot = true;
            break;
        case OPC_BROWSE_DOWN:
            // An empty name, down or to, returns to the root.
            toRoot = text.empty();
            if (!toRoot && m_level != 0)
                return E_FAIL;
            break;
        case OPC_BROWSE_TO:
            toRoot = text.empty();
            text = text.substr(0, text.find(':'));
            break;
        default:
            return E_INVALIDARG;
        }
        m_level = toRoot ? 0 : 1;
        m_device = toRoot ? std::string() : text;
        return S_OK;
    } catch (...) {
        OutputDebugStringA("ChangeBrowsePosition():: Exception generated");
        return E_FAIL;
    }
}

HRESULT CImpIOPCBrowseServerAddressSpace::ListLeaves(const std::string &device, std::vector<std::string> &leaves)
{
    LONG handle = 0;
    std::vector<LONG> blocks;
    std::vector<std::string> names;
    if (FAILED(FindDeviceHandle(device.c_str(), &handle)) || FAILED(ListDataBlocks(handle, blocks, names)))
        return E_FAIL;
    for (LONG block : blocks) {
        VariantList range;
        std::string start, end;
        if (FAILED(ReadProperties(block, m_blockNames, range.values)) || range.values.size() != 2 ||
            !ToText(range.values[0], start) || !ToText(range.values[1], end))
            return E_FAIL;
        std::string leaf = start.substr(0, kAddressWidth) + " - " + end.substr(0, kAddressWidth);
        if (!m_filter.Match(leaf.c_str()))
            continue;
        if (m_returnHints)
            leaf += kHint;
        leaves.push_back(leaf);
    }
    return S_OK;
}

HRESULT CImpIOPCBrowseServerAddressSpace::ListFlat(std::vector<std::string> &list)
{
    std::vector<std::string> devices;
    if (m_level == 0) {
        HRESULT hr = ListDevices(devices, &m_filter, nullptr);
        if (FAILED(hr))
            return hr;
    } else {
        devices.push_back(m_device);
    }
    for (const std::string &device : devices) {
        std::vector<std::string> leaves;
        if (FAILED(ListLeaves(device, leaves)))
            return E_FAIL;
        for (const std::string &leaf : leaves) {
            std::string entry = device + ":" + leaf;
            if (m_filter.Match(entry.c_str()))
                list.push_back(entry);
        }
    }
    return S_OK;
}

STDMETHODIMP CImpIOPCBrowseServerAddressSpace::BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE,
                                                                 DWORD, LPENUMSTRING *items)
{
    if (!items)
        return E_INVALIDARG;
    *items = nullptr;
    try {
        m_filter.Compile(WideToText(filter).c_str());
        std::vector<std::string> list;
        HRESULT hr = S_OK;
        switch (type) {
        case OPC_BRANCH:
            if (m_level == 0)
                hr = ListDevices(list, &m_filter, nullptr);
            break;
        case OPC_LEAF:
            if (m_level != 0)
                hr = ListLeaves(m_device, list);
            break;
        case OPC_FLAT:
            hr = ListFlat(list);
            break;
        default:
            return E_FAIL;
        }
        if (FAILED(hr))
            return E_FAIL;
        return CreateStringEnumerator(list, items);
    } catch (...) {
        OutputDebugStringA("BrowseOPCItemIDs():: Exception generated");
        return E_FAIL;
    }
}

// The item ID of id at the current position, before trimming.
HRESULT CImpIOPCBrowseServerAddressSpace::ItemIDOf(const std::string &id, std::string &result)
{
    CItemIdCheck item;
    if (m_level == 0) {
        if (id.empty()) {
            result.clear();
            return S_OK;
        }
        size_t colon = id.find(':');
        if (colon == std::string::npos) {
            LONG handle = 0;
            if (FAILED(FindDeviceHandle(id.c_str(), &handle)))
                return E_INVALIDARG;
            result = id;
            return S_OK;
        }
        LONG handle = 0;
        if (FAILED(FindDeviceHandle(id.substr(0, colon).c_str(), &handle)))
            return E_INVALIDARG;
        result = id.substr(0, id.find(" - "));
        return FAILED(item.Parse(result.c_str())) ? E_INVALIDARG : S_OK;
    }
    if (id.empty()) {
        result = m_device;
        return S_OK;
    }
    result = m_device + ":" + id;
    result = result.substr(0, result.find(" - "));
    if (FAILED(item.Parse(result.c_str())))
        return E_INVALIDARG;
    if (m_returnOptions)
        result = item.FullItemID();
    return S_OK;
}

STDMETHODIMP CImpIOPCBrowseServerAddressSpace::GetItemID(LPWSTR itemDataId, LPWSTR *itemId)
{
    if (itemId)
        *itemId = nullptr;
    if (!itemDataId || !itemId)
        return E_INVALIDARG;
    try {
        std::string result;
        HRESULT hr = ItemIDOf(WideToText(itemDataId), result);
        if (FAILED(hr))
            return hr;
        *itemId = AllocWideCopy(TrimBlanks(result), g_pIMalloc);
        return *itemId ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        OutputDebugStringA("GetItemID():: Exception generated");
        return E_FAIL;
    }
}

STDMETHODIMP CImpIOPCBrowseServerAddressSpace::BrowseAccessPaths(LPCWSTR, LPENUMSTRING *paths)
{
    if (!paths)
        return E_INVALIDARG;
    *paths = nullptr;
    return E_NOTIMPL;
}
