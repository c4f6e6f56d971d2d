#include "SourceNames.h"

namespace aleron {

const wchar_t kDriverSource[] = L"Hadrel";

namespace {

const AreaEntry kAreas[] = {{L"Driver", SourceDriver, L"Driver"},
                            {L"Channels", SourceChannel, L"Channel"},
                            {L"Devices", SourceDevice, L"Device"},
                            {L"DataBlocks", SourceDataBlock, L"DataBlock"}};

// The two parallel arrays a list member returns, as name/handle pairs.
HRESULT Collect(HRESULT listed, VARIANT &handles, VARIANT &names, LONG count, std::vector<NamedObject> *out)
{
    if (FAILED(listed))
        return E_FAIL;
    for (LONG i = 0; i < count; ++i) {
        VARIANT h, n;
        VariantInit(&h);
        VariantInit(&n);
        bool ok = SUCCEEDED(SafeArrayGetElement(V_ARRAY(&handles), &i, &h)) &&
                  SUCCEEDED(SafeArrayGetElement(V_ARRAY(&names), &i, &n)) &&
                  SUCCEEDED(VariantChangeType(&h, &h, 0, VT_I4)) && SUCCEEDED(VariantChangeType(&n, &n, 0, VT_BSTR));
        if (ok)
            out->push_back(NamedObject{V_BSTR(&n) ? V_BSTR(&n) : L"", V_I4(&h)});
        VariantClear(&h);
        VariantClear(&n);
        if (!ok)
            return E_FAIL;
    }
    return S_OK;
}

template <class List> HRESULT ListOne(List list, std::vector<NamedObject> *out)
{
    VARIANT handles, names;
    VariantInit(&handles);
    VariantInit(&names);
    LONG count = 0;
    HRESULT hr = list(&handles, &names, &count);
    if (SUCCEEDED(hr) && count > 0 &&
        (V_VT(&handles) != (VT_ARRAY | VT_VARIANT) || V_VT(&names) != (VT_ARRAY | VT_VARIANT)))
        hr = E_FAIL;
    hr = Collect(hr, handles, names, SUCCEEDED(hr) ? count : 0, out);
    VariantClear(&handles);
    VariantClear(&names);
    return hr;
}

HRESULT SetSendEvents(IDriver *driver, LONG handle, bool on)
{
    VARIANT name, value, errors;
    VariantInit(&errors);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(L"SendEvents");
    V_VT(&value) = VT_I2;
    V_I2(&value) = on ? 1 : 0;
    HRESULT hr = V_BSTR(&name) ? driver->SetPropertyData(handle, name, value, &errors) : E_OUTOFMEMORY;
    VariantClear(&name);
    VariantClear(&errors);
    return hr == S_OK ? S_OK : E_FAIL;
}

} // namespace

bool SameName(const std::wstring &a, const std::wstring &b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

const AreaEntry *Areas() { return kAreas; }
DWORD AreaCount() { return DWORD(sizeof kAreas / sizeof kAreas[0]); }

int FindArea(const std::wstring &name)
{
    for (DWORD i = 0; i < AreaCount(); ++i)
        if (SameName(name, kAreas[i].name))
            return int(i);
    return -1;
}

const wchar_t *KindPrefix(SourceKind kind)
{
    for (const AreaEntry &entry : kAreas)
        if (entry.kind == kind)
            return entry.sourcePrefix;
    return L"";
}

HRESULT ListSources(IDriver *driver, SourceKind kind, std::vector<NamedObject> *out)
{
    out->clear();
    if (!driver)
        return E_FAIL;
    if (kind == SourceDriver) {
        out->push_back(NamedObject{kDriverSource, 0});
        return S_OK;
    }
    std::vector<NamedObject> channels;
    HRESULT hr = ListOne([&](VARIANT *h, VARIANT *n, LONG *c) { return driver->GetChannels(h, n, c); },
                         kind == SourceChannel ? out : &channels);
    if (FAILED(hr) || kind == SourceChannel)
        return hr;
    std::vector<NamedObject> devices;
    for (const NamedObject &channel : channels) {
        hr = ListOne([&](VARIANT *h, VARIANT *n, LONG *c) { return driver->GetDevices(channel.handle, h, n, c); },
                     kind == SourceDevice ? out : &devices);
        if (FAILED(hr))
            return hr;
    }
    if (kind == SourceDevice)
        return S_OK;
    for (const NamedObject &device : devices) {
        hr = ListOne([&](VARIANT *h, VARIANT *n, LONG *c) { return driver->GetDataBlocks(device.handle, h, n, c); },
                     out);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

std::wstring StripAreaPrefix(const wchar_t *name)
{
    std::wstring text = name ? name : L"";
    size_t colon = text.find(L':');
    return colon == std::wstring::npos ? text : text.substr(colon + 1);
}

HRESULT FindSource(IDriver *driver, const std::wstring &name, SourceKind *kind, LONG *handle)
{
    if (SameName(name, kDriverSource)) {
        *kind = SourceDriver;
        *handle = 0;
        return S_OK;
    }
    for (SourceKind tried : {SourceChannel, SourceDevice, SourceDataBlock}) {
        std::vector<NamedObject> list;
        HRESULT hr = ListSources(driver, tried, &list);
        if (FAILED(hr))
            return hr;
        for (const NamedObject &entry : list)
            if (SameName(entry.name, name)) {
                *kind = tried;
                *handle = entry.handle;
                return S_OK;
            }
    }
    *handle = -1;
    return S_FALSE;
}

HRESULT SetSourceSendEvents(IDriver *driver, const wchar_t *source, bool on)
{
    if (!source)
        return E_INVALIDARG;
    if (!driver)
        return E_FAIL;
    SourceKind kind;
    LONG handle = -1;
    if (FindSource(driver, StripAreaPrefix(source), &kind, &handle) != S_OK)
        return E_FAIL;
    return SetSendEvents(driver, handle, on);
}

HRESULT SetAreaSendEvents(IDriver *driver, const wchar_t *area, bool on)
{
    if (!area)
        return E_INVALIDARG;
    int found = FindArea(area);
    if (found < 0)
        return S_OK;
    std::vector<NamedObject> sources;
    if (FAILED(ListSources(driver, kAreas[found].kind, &sources)))
        return E_FAIL;
    for (const NamedObject &source : sources) {
        HRESULT hr = SetSendEvents(driver, source.handle, on);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT ForEachName(DWORD count, LPWSTR *names, HRESULT (*each)(IDriver *, const wchar_t *, bool), IDriver *driver,
                    bool on)
{
    if (!names)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    for (DWORD i = 0; i < count; ++i) {
        if (!names[i] || !*names[i])
            return E_INVALIDARG;
        HRESULT hr = each(driver, names[i], on);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

} // namespace aleron
