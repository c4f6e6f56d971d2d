#include "OpcKit.h"

#include <cstring>
#include <new>

#include "ClassFactory.h"
#include "Enumerators.h"

HMODULE g_hModule = nullptr;
IMalloc *g_pIMalloc = nullptr;
CEventLog *g_pEventLog = nullptr;
FILETIME g_ftLibraryStart = {0, 0};
FILETIME g_ftServerStart = {0, 0};
IDriver *g_pIDriver = nullptr;

IMalloc *KitMalloc() { return g_pIMalloc; }

// Name filter

void CNameFilter::Compile(const char *pattern)
{
    std::string p = pattern ? pattern : "";
    size_t star = p.find('*');
    if (p.empty() || p == "*") {
        m_kind = MatchAll;
        m_text.clear();
    } else if (star == std::string::npos) {
        m_kind = Equals;
        m_text = p;
    } else if (star == 0) {
        // The last character decides; "*A*B" ends with "A*B".
        if (p.back() == '*') {
            m_kind = Contains;
            m_text = p.substr(1, p.size() - 2);
        } else {
            m_kind = EndsWith;
            m_text = p.substr(1);
        }
    } else if (star == p.size() - 1) {
        m_kind = StartsWith;
        m_text = p.substr(0, star);
    } else {
        m_kind = MatchAll;
        m_text.clear();
    }
}

bool CNameFilter::Match(const char *name) const
{
    if (m_kind == MatchAll)
        return true;
    std::string n = name ? name : "";
    if (n.size() < m_text.size())
        return false;
    switch (m_kind) {
    case EndsWith:
        return n.compare(n.size() - m_text.size(), m_text.size(), m_text) == 0;
    case StartsWith:
        return n.find(m_text) == 0;
    case Contains:
        return n.find(m_text) != std::string::npos;
    case Equals:
        return n == m_text;
    default:
        return true;
    }
}

// Address-space lists

namespace {

// The elements of an IDriver list call's VARIANT array, each converted to vt
// (VT_EMPTY keeps its own type) and handed to take.
template <class Take> HRESULT ReadElements(const VARIANT &array, LONG count, VARTYPE vt, Take take)
{
    if (count <= 0)
        return S_OK;
    if (V_VT(&array) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&array))
        return E_FAIL;
    for (LONG i = 0; i < count; ++i) {
        VARIANT item;
        VariantInit(&item);
        HRESULT hr = SafeArrayGetElement(V_ARRAY(&array), &i, &item);
        if (SUCCEEDED(hr) && vt != VT_EMPTY)
            hr = VariantChangeType(&item, &item, 0, vt);
        if (SUCCEEDED(hr))
            take(item);
        VariantClear(&item);
        if (FAILED(hr))
            return E_FAIL;
    }
    return S_OK;
}

HRESULT ReadNames(const VARIANT &names, LONG count, std::vector<std::string> &out)
{
    return ReadElements(names, count, VT_BSTR, [&out](const VARIANT &item) {
        char text[512] = "";
        WideCharToMultiByte(CP_ACP, 0, V_BSTR(&item), -1, text, sizeof(text), nullptr, nullptr);
        out.push_back(text);
    });
}

HRESULT ReadHandles(const VARIANT &handles, LONG count, std::vector<LONG> &out)
{
    return ReadElements(handles, count, VT_I4, [&out](const VARIANT &item) { out.push_back(V_I4(&item)); });
}

struct VariantPair {
    VARIANT handles, names;
    VariantPair()
    {
        VariantInit(&handles);
        VariantInit(&names);
    }
    ~VariantPair()
    {
        VariantClear(&handles);
        VariantClear(&names);
    }
};

}  // namespace

HRESULT ListDevices(std::vector<std::string> &list, const CNameFilter *filter, const char *channelName)
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return E_FAIL;
    HRESULT hr = S_OK;
    try {
        VariantPair channels;
        LONG channelCount = 0;
        std::vector<std::string> channelNames;
        std::vector<LONG> channelHandles;
        hr = driver->GetChannels(&channels.handles, &channels.names, &channelCount);
        if (SUCCEEDED(hr))
            hr = ReadNames(channels.names, channelCount, channelNames);
        if (SUCCEEDED(hr))
            hr = ReadHandles(channels.handles, channelCount, channelHandles);
        for (size_t c = 0; SUCCEEDED(hr) && c < channelNames.size(); ++c) {
            if (channelName && *channelName && channelNames[c] != channelName)
                continue;
            VariantPair devices;
            LONG deviceCount = 0;
            std::vector<std::string> deviceNames;
            hr = driver->GetDevices(channelHandles[c], &devices.handles, &devices.names, &deviceCount);
            if (SUCCEEDED(hr))
                hr = ReadNames(devices.names, deviceCount, deviceNames);
            for (const std::string &name : deviceNames)
                if (!filter || filter->Match(name.c_str()))
                    list.push_back(name);
            if (channelName && *channelName)
                break;
        }
    } catch (...) {
        hr = E_FAIL;
    }
    driver->Release();
    return FAILED(hr) ? E_FAIL : S_OK;
}

HRESULT FindDeviceHandle(const char *name, LONG *handle)
{
    *handle = 0;
    IDriver *driver = name ? g_ClassFactory.AcquireDriver() : nullptr;
    if (!driver)
        return E_FAIL;
    HRESULT hr = S_OK;
    bool found = false;
    try {
        VariantPair channels;
        LONG channelCount = 0;
        std::vector<LONG> channelHandles;
        hr = driver->GetChannels(&channels.handles, &channels.names, &channelCount);
        if (SUCCEEDED(hr))
            hr = ReadHandles(channels.handles, channelCount, channelHandles);
        for (size_t c = 0; SUCCEEDED(hr) && !found && c < channelHandles.size(); ++c) {
            VariantPair devices;
            LONG deviceCount = 0;
            std::vector<std::string> names;
            std::vector<LONG> handles;
            hr = driver->GetDevices(channelHandles[c], &devices.handles, &devices.names, &deviceCount);
            if (SUCCEEDED(hr))
                hr = ReadNames(devices.names, deviceCount, names);
            if (SUCCEEDED(hr))
                hr = ReadHandles(devices.handles, deviceCount, handles);
            for (size_t d = 0; SUCCEEDED(hr) && d < names.size() && d < handles.size(); ++d)
                if (names[d] == name) {
                    *handle = handles[d];
                    found = true;
                    break;
                }
        }
    } catch (...) {
        hr = E_FAIL;
    }
    driver->Release();
    return SUCCEEDED(hr) && found ? S_OK : E_FAIL;
}

HRESULT ListDataBlocks(LONG device, std::vector<LONG> &handles, std::vector<std::string> &names)
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return E_FAIL;
    HRESULT hr;
    try {
        VariantPair blocks;
        LONG count = 0;
        hr = driver->GetDataBlocks(device, &blocks.handles, &blocks.names, &count);
        if (SUCCEEDED(hr))
            hr = ReadNames(blocks.names, count, names);
        if (SUCCEEDED(hr))
            hr = ReadHandles(blocks.handles, count, handles);
    } catch (...) {
        hr = E_FAIL;
    }
    driver->Release();
    return SUCCEEDED(hr) && handles.size() == names.size() ? S_OK : E_FAIL;
}

HRESULT ReadProperties(LONG handle, const VARIANT &names, std::vector<VARIANT> &values)
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return E_FAIL;
    VARIANT array, errors;
    VariantInit(&array);
    VariantInit(&errors);
    HRESULT hr;
    try {
        LONG upper = -1;
        if ((V_VT(&names) & VT_ARRAY) && V_ARRAY(&names))
            SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
        LONG count = upper + 1;
        hr = driver->GetPropertyData(handle, names, &array, &errors);
        if (SUCCEEDED(hr))
            hr = ReadElements(array, count, VT_EMPTY, [&values](const VARIANT &item) {
                VARIANT copy;
                VariantInit(&copy);
                VariantCopy(&copy, const_cast<VARIANT *>(&item));
                values.push_back(copy);
            });
    } catch (...) {
        hr = E_FAIL;
    }
    VariantClear(&array);
    VariantClear(&errors);
    driver->Release();
    return FAILED(hr) ? E_FAIL : S_OK;
}

HRESULT CreateNameArray(const char *const *texts, ULONG count, VARIANT *array)
{
    // The I/O server takes names as an array of VARIANTs each holding a
    // text; an array of plain texts it refuses.
    VariantInit(array);
    SAFEARRAY *names = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (!names)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < LONG(count); ++i) {
        wchar_t wide[128];
        MultiByteToWideChar(CP_ACP, 0, texts[i], -1, wide, 128);
        VARIANT name;
        VariantInit(&name);
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = SysAllocString(wide);
        HRESULT hr = V_BSTR(&name) ? SafeArrayPutElement(names, &i, &name) : E_OUTOFMEMORY;
        VariantClear(&name);
        if (FAILED(hr)) {
            SafeArrayDestroy(names);
            return E_OUTOFMEMORY;
        }
    }
    V_VT(array) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(array) = names;
    return S_OK;
}

bool IsDevice(const char *name)
{
    std::vector<std::string> devices;
    if (!name || FAILED(ListDevices(devices, nullptr, nullptr)))
        return false;
    for (const std::string &device : devices)
        if (lstrcmpiA(device.c_str(), name) == 0)
            return true;
    return false;
}

HRESULT CreateStringEnumerator(const std::vector<std::string> &list, IEnumString **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    std::vector<std::wstring> texts;
    try {
        for (const std::string &item : list)
            texts.push_back(TextToWide(item));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    CImpIEnumString *e = new (std::nothrow) CImpIEnumString(nullptr, ULONG(texts.size()), texts.data(), g_pIMalloc);
    if (!e)
        return E_OUTOFMEMORY;
    e->AddRef();
    *out = e;
    return texts.empty() ? S_FALSE : S_OK;
}

// Texts and logging

bool GetErrorText(DWORD code, std::string &text)
{
    text.clear();
    if (!g_pEventLog || g_pEventLog->GetMessageText(code, text) != 0)
        return false;
    size_t cut = text.find('\r');
    if (cut != std::string::npos)
        text.erase(cut);
    return !text.empty();
}

void ReportError(const char *text, DWORD eventId)
{
    if (!text || !*text || !g_pEventLog)
        return;
    ReportEventStrings(g_pEventLog, eventId ? eventId : OPC_EVENT_ERROR, EVENTLOG_ERROR_TYPE, 0, nullptr, text,
                       static_cast<const char *>(nullptr));
}

bool IsDriverRunning()
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return false;
    VARIANT_BOOL running = VARIANT_FALSE;
    HRESULT hr = driver->get_Running(&running);
    driver->Release();
    return SUCCEEDED(hr) && running == VARIANT_TRUE;
}

// Result memory

void *KitAlloc(IMalloc *malloc, SIZE_T size)
{
    return malloc ? malloc->Alloc(size) : HeapAlloc(GetProcessHeap(), 0, size);
}

void KitFree(IMalloc *malloc, void *memory)
{
    if (!memory)
        return;
    if (malloc)
        malloc->Free(memory);
    else
        HeapFree(GetProcessHeap(), 0, memory);
}

LPWSTR AllocWideCopy(const wchar_t *text, IMalloc *malloc)
{
    if (!text)
        text = L"";
    SIZE_T bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPWSTR copy = static_cast<LPWSTR>(KitAlloc(malloc, bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

std::wstring TextToWide(const std::string &text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    return wide;
}

LPWSTR AllocWideCopy(const std::string &text, IMalloc *malloc) { return AllocWideCopy(TextToWide(text).c_str(), malloc); }

LPWSTR AllocBstrCopy(BSTR text, IMalloc *malloc) { return AllocWideCopy(static_cast<const wchar_t *>(text), malloc); }

void FreeResult(void *memory, IMalloc *malloc) { KitFree(malloc, memory); }

// Item attributes

HRESULT CopyItemAttributes(OPCITEMATTRIBUTES *to, const OPCITEMATTRIBUTES *from, IMalloc *malloc)
{
    std::memcpy(to, from, sizeof(*to));
    to->szAccessPath = nullptr;
    to->szItemID = nullptr;
    to->pBlob = nullptr;
    to->dwBlobSize = 0;
    VariantInit(&to->vEUInfo);
    to->szAccessPath = AllocWideCopy(from->szAccessPath, malloc);
    to->szItemID = AllocWideCopy(from->szItemID, malloc);
    bool ok = to->szAccessPath && to->szItemID;
    if (ok && from->dwBlobSize && from->pBlob) {
        to->pBlob = static_cast<BYTE *>(KitAlloc(malloc, from->dwBlobSize));
        ok = to->pBlob != nullptr;
        if (ok) {
            std::memcpy(to->pBlob, from->pBlob, from->dwBlobSize);
            to->dwBlobSize = from->dwBlobSize;
        }
    }
    // The EU info may hold an array: a copy of its own, never a shared one.
    if (ok)
        ok = SUCCEEDED(VariantCopy(&to->vEUInfo, const_cast<VARIANT *>(&from->vEUInfo)));
    if (!ok) {
        FreeItemAttributes(to, malloc);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void FreeItemAttributes(OPCITEMATTRIBUTES *item, IMalloc *malloc)
{
    KitFree(malloc, item->szAccessPath);
    KitFree(malloc, item->szItemID);
    KitFree(malloc, item->pBlob);
    VariantClear(&item->vEUInfo);
    item->szAccessPath = item->szItemID = nullptr;
    item->pBlob = nullptr;
    item->dwBlobSize = 0;
}

// OPC 1.0 stream values

DWORD StreamValueSize(const VARIANT *value)
{
    DWORD size = sizeof(VARIANT);
    if (V_VT(value) == VT_BSTR)
        size += sizeof(DWORD) + SysStringByteLen(V_BSTR(value));
    return size;
}

DWORD StreamValueCopy(BYTE *to, const VARIANT *value)
{
    std::memcpy(to, value, sizeof(VARIANT));
    DWORD size = sizeof(VARIANT);
    if (V_VT(value) == VT_BSTR) {
        DWORD bytes = SysStringByteLen(V_BSTR(value));
        std::memcpy(to + size, &bytes, sizeof(bytes));
        size += sizeof(bytes);
        if (bytes)
            std::memcpy(to + size, V_BSTR(value), bytes);
        size += bytes;
    }
    return size;
}

HRESULT CreateVariantArray(ULONG count, SAFEARRAY **array)
{
    SAFEARRAYBOUND bound = {count, 0};
    *array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    return *array ? S_OK : E_OUTOFMEMORY;
}
