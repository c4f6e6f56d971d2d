#include "ImpIPersistFile.h"

#include <cstring>

#include "ClassFactory.h"
#include "ImpIOPCServer.h"
#include "OpcDataAccess.h"
#include "OpcKit.h"

namespace {

// A call to the I/O server with the name as a BSTR, freed on every path.
template <class Call> HRESULT WithName(LPCOLESTR fileName, Call call)
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return E_FAIL;
    BSTR name = SysAllocString(fileName);
    HRESULT hr = name ? (FAILED(call(driver, name)) ? E_FAIL : S_OK) : E_OUTOFMEMORY;
    SysFreeString(name);
    driver->Release();
    return hr;
}

}  // namespace

bool IsConfigFileName(const char *name)
{
    // The extension, not the first point of the path: a folder may hold a
    // point (C:\Plant.old\Line1.QOR).
    const char *file = name;
    for (const char *p = name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            file = p + 1;
    const char *point = std::strrchr(file, '.');
    return !point || std::strcmp(point + 1, "QOR") == 0;
}

CImpIPersistFile::CImpIPersistFile(IUnknown *owner, COPCDrvServer *server)
    : CTearOff<IPersistFile>(owner), m_pServer(server)
{
}

STDMETHODIMP CImpIPersistFile::GetClassID(CLSID *clsid)
{
    if (!clsid)
        return E_INVALIDARG;
    *clsid = g_ClassFactory.DriverCLSID();
    return S_OK;
}

STDMETHODIMP CImpIPersistFile::IsDirty()
{
    try {
        IDriver *driver = g_ClassFactory.AcquireDriver();
        if (!driver)
            return E_FAIL;
        VARIANT_BOOL saved = VARIANT_TRUE;
        HRESULT hr = driver->get_FileSaved(&saved);
        driver->Release();
        if (FAILED(hr))
            return E_FAIL;
        return saved ? S_FALSE : S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIPersistFile::Load(LPCOLESTR fileName, DWORD)
{
    if (!fileName)
        return E_INVALIDARG;
    try {
        if (!IsConfigFileName(WideToText(fileName).c_str()))
            return OPC_E_INVALIDCONFIGFILE;
        return WithName(fileName, [](IDriver *driver, BSTR name) { return driver->FileOpen(name); });
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIPersistFile::Save(LPCOLESTR fileName, BOOL remember)
{
    if (!fileName)
        return E_INVALIDARG;
    try {
        return WithName(fileName, [remember](IDriver *driver, BSTR name) {
            HRESULT hr = driver->FileSaveAs(name);
            if (SUCCEEDED(hr) && remember)
                hr = driver->put_DefaultConfigFileName(name);
            return hr;
        });
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIPersistFile::SaveCompleted(LPCOLESTR fileName)
{
    if (!fileName)
        return E_INVALIDARG;
    try {
        LPOLESTR current = nullptr;
        if (FAILED(GetCurFile(&current)))
            return S_OK;
        bool same = WideToText(current) == WideToText(fileName);
        FreeResult(current, g_pIMalloc);
        return same ? S_OK : OPC_E_INVALIDCONFIGFILE;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIPersistFile::GetCurFile(LPOLESTR *fileName)
{
    if (!fileName)
        return E_INVALIDARG;
    *fileName = nullptr;
    try {
        IDriver *driver = g_ClassFactory.AcquireDriver();
        if (!driver)
            return E_FAIL;
        BSTR name = nullptr;
        HRESULT hr = driver->get_FullConfigFileName(&name);
        driver->Release();
        if (FAILED(hr)) {
            SysFreeString(name);
            return E_FAIL;
        }
        *fileName = AllocBstrCopy(name, g_pIMalloc);
        SysFreeString(name);
        return *fileName ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
