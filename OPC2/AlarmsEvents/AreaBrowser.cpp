#include "AreaBrowser.h"
#include "Guarded.h"
#include <vector>
#include "OpcKit.h"
#include "SourceNames.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvEventAreaBrowser, CObject)

using namespace aleron;

namespace {

std::string Narrow(const std::wstring &text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 1 ? n : 1), '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(n > 1 ? size_t(n - 1) : 0);
    return out;
}

// A task-memory copy handed to the client, or E_OUTOFMEMORY.
HRESULT ReturnText(const std::wstring &text, LPWSTR *result)
{
    *result = AllocWideCopy(text.c_str(), g_pIMalloc);
    return *result ? S_OK : E_OUTOFMEMORY;
}

} // namespace

COPCDrvEventAreaBrowser::COPCDrvEventAreaBrowser(IEventServerState *state, IUnknown *owner)
    : m_state(state), m_owner(owner)
{
    InitializeCriticalSection(&m_lock);
    if (m_owner)
        m_owner->AddRef();
}

COPCDrvEventAreaBrowser::~COPCDrvEventAreaBrowser()
{
    if (m_owner)
        m_owner->Release();
    DeleteCriticalSection(&m_lock);
}

STDMETHODIMP COPCDrvEventAreaBrowser::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOPCEventAreaBrowser))
        return E_NOINTERFACE;
    *out = static_cast<IOPCEventAreaBrowser *>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COPCDrvEventAreaBrowser::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) COPCDrvEventAreaBrowser::Release()
{
    LONG count = InterlockedDecrement(&m_refs);
    if (count == 0)
        delete this;
    return ULONG(count);
}

HRESULT COPCDrvEventAreaBrowser::Down(const std::wstring &name)
{
    if (name.empty())
        return OPC_E_INVALIDBRANCHNAME;
    int area = m_area < 0 ? FindArea(name) : -1;
    if (area < 0)
        return E_INVALIDARG;
    m_area = area;
    return S_OK;
}

STDMETHODIMP COPCDrvEventAreaBrowser::ChangeBrowsePosition(OPCAEBROWSEDIRECTION direction, LPCWSTR name)
{
    if (!name)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        EnterCriticalSection(&m_lock);
        HRESULT hr = E_INVALIDARG;
        switch (direction) {
        case OPCAE_BROWSE_UP:
            if (m_area >= 0) {
                m_area = -1;
                hr = S_OK;
            }
            break;
        case OPCAE_BROWSE_DOWN:
            hr = Down(name);
            break;
        case OPCAE_BROWSE_TO: {
            // From the root, one level down for each ":"-separated part.
            m_area = -1;
            hr = S_OK;
            std::wstring path = name;
            for (size_t start = 0; !path.empty() && SUCCEEDED(hr);) {
                size_t colon = path.find(L':', start);
                hr = Down(path.substr(start, colon == std::wstring::npos ? std::wstring::npos : colon - start));
                if (colon == std::wstring::npos)
                    break;
                start = colon + 1;
            }
            break;
        }
        default:
            break;
        }
        LeaveCriticalSection(&m_lock);
        return hr;
    });
}

STDMETHODIMP COPCDrvEventAreaBrowser::BrowseOPCAreas(OPCAEBROWSETYPE type, LPCWSTR filter, LPENUMSTRING *result)
{
    if (!result || !filter)
        return E_INVALIDARG;
    *result = nullptr;
    return Guarded([&]() -> HRESULT {
        CNameFilter pattern(Narrow(filter).c_str());
        EnterCriticalSection(&m_lock);
        int area = m_area;
        LeaveCriticalSection(&m_lock);
        std::vector<std::string> names;
        if (type == OPC_AREA) {
            for (DWORD i = 0; area < 0 && i < AreaCount(); ++i) {
                std::string name = Narrow(Areas()[i].name);
                if (pattern.Match(name.c_str()))
                    names.push_back(name);
            }
        } else if (type == OPC_SOURCE) {
            if (area >= 0) {
                IDriver *driver = m_state->Driver();
                std::vector<NamedObject> sources;
                HRESULT hr = ListSources(driver, Areas()[area].kind, &sources);
                if (driver)
                    driver->Release();
                if (FAILED(hr))
                    return E_FAIL;
                for (const NamedObject &source : sources) {
                    std::string name = Narrow(source.name);
                    if (pattern.Match(name.c_str()))
                        names.push_back(name);
                }
            }
        } else {
            return E_FAIL;
        }
        // An empty list still gives an enumerator (with S_FALSE): clients
        // release what they receive.
        return CreateStringEnumerator(names, result);
    });
}

STDMETHODIMP COPCDrvEventAreaBrowser::GetQualifiedAreaName(LPCWSTR area, LPWSTR *result)
{
    if (!area || !result)
        return E_INVALIDARG;
    *result = nullptr;
    return Guarded([&]() -> HRESULT {
        int found = FindArea(area);
        if (found < 0)
            return E_OUTOFMEMORY;
        return ReturnText(Areas()[found].name, result);
    });
}

STDMETHODIMP COPCDrvEventAreaBrowser::GetQualifiedSourceName(LPCWSTR source, LPWSTR *result)
{
    if (!source || !result)
        return E_INVALIDARG;
    *result = nullptr;
    return Guarded([&]() -> HRESULT {
        EnterCriticalSection(&m_lock);
        int area = m_area;
        LeaveCriticalSection(&m_lock);
        IDriver *driver = m_state->Driver();
        SourceKind kind = SourceDriver;
        LONG handle = -1;
        HRESULT found = E_FAIL;
        if (area < 0) {
            found = FindSource(driver, source, &kind, &handle);
        } else {
            // Inside an area the source must be one of its own.
            std::vector<NamedObject> sources;
            kind = Areas()[area].kind;
            if (SUCCEEDED(ListSources(driver, kind, &sources))) {
                found = S_FALSE;
                for (const NamedObject &entry : sources)
                    if (SameName(entry.name, source))
                        found = S_OK;
            }
        }
        if (driver)
            driver->Release();
        if (FAILED(found))
            return E_FAIL;
        if (found != S_OK)
            return E_OUTOFMEMORY;   // no such source: an empty result
        // The qualifier is the area inside one, else the source's kind; the
        // browse position stays as it is.
        std::wstring prefix = area < 0 ? KindPrefix(kind) : Areas()[area].name;
        return ReturnText(prefix + L":" + source, result);
    });
}
