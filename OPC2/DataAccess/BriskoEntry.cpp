// Brisko's attach and detach, its COM exports and its registration.
#include "Brisko.h"

#include <new>

#include "ClassFactory.h"
#include "OPCDrvServer.h"
#include "OpcDataAccess.h"
#include "OpcKit.h"
#include "Oxley.h"
#include "QORDriver.h"
#include "Registration.h"

namespace {

const char kProgId[] = "Veltrane.Brisko";
const char kDescription[] = "QOR OPC Data Access Server";
const char kVendor[] = "Veltrane, Inc.";
const char kThreadingModel[] = "Free";

CATEGORYINFO g_categories[2] = {
    {CATID_OPCDAServer10, 1033, L"OPC Data Access Servers Version 1.0"},
    {CATID_OPCDAServer20, 1033, L"OPC Data Access Servers Version 2.0"},
};

}  // namespace

BOOL GetCategoryInfo(const CATEGORYINFO **rows, ULONG *count)
{
    if (!rows || !count)
        return FALSE;
    *rows = g_categories;
    *count = sizeof(g_categories) / sizeof(g_categories[0]);
    return TRUE;
}

HRESULT ProcessAttach()
{
    g_pEventLog = new (std::nothrow) CEventLog("QOR");
    if (!g_pEventLog)
        return E_OUTOFMEMORY;
    HRESULT hr = CoGetMalloc(1, &g_pIMalloc);
    if (FAILED(hr))
        return hr;
    if (!g_ClassFactory.SetDriverCLSID(CLSID_QORDriver))
        return E_FAIL;
    g_ClassFactory.SetServerMaker(&CreateServerObject<COPCDrvServer>);
    return S_OK;
}

void ProcessDetach(bool terminating)
{
    // Oxley's connection to the I/O server is a COM call; at process end,
    // under the loader lock, it could hang the exit, and the process's end
    // drops the connection anyway.
    if (!terminating) {
        KivStatus status = 0;
        kiv_CleanUp(&status);
    }
    delete g_pEventLog;
    g_pEventLog = nullptr;
    if (g_pIMalloc)
        g_pIMalloc->Release();
    g_pIMalloc = nullptr;
}

BOOL BriskoAttach(HMODULE module)
{
    g_hModule = module;
    CoFileTimeNow(&g_ftLibraryStart);
    if (FAILED(ProcessAttach()))
        return FALSE;
    ReadRegistryDefaults();
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!IsEqualCLSID(clsid, CLSID_Brisko)) {
        if (ppv)
            *ppv = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_ClassFactory.QueryInterface(riid, ppv);
}

HRESULT WINAPI DllCanUnloadNow() { return g_ClassFactory.CanUnloadNow() ? S_FALSE : S_OK; }

namespace {

// The category step of both registrations, in a single-threaded apartment
// of its own: a failure of CoInitializeEx is the answer, a failing category
// call E_UNEXPECTED. Registering also enters the category descriptions.
HRESULT CategoryStep(BOOL registerIt)
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return hr;
    hr = S_OK;
    const CATEGORYINFO *rows = nullptr;
    ULONG count = 0;
    GetCategoryInfo(&rows, &count);
    if (registerIt && !RegisterCategories(rows, count))
        hr = E_UNEXPECTED;
    if (FAILED(RegisterImplementedCategories(CLSID_Brisko, registerIt, rows, count)))
        hr = E_UNEXPECTED;
    CoUninitialize();
    return hr;
}

}  // namespace

HRESULT WINAPI DllRegisterServer()
{
    HRESULT hr = RegisterServerKeys(CLSID_Brisko, kProgId, kDescription, kVendor, kThreadingModel);
    if (SUCCEEDED(hr))
        hr = CategoryStep(TRUE);
    WriteRegistryDefaults();
    return hr;
}

HRESULT WINAPI DllUnregisterServer()
{
    HRESULT hr = UnregisterServerKeys(CLSID_Brisko, kProgId);
    if (SUCCEEDED(hr))
        hr = CategoryStep(FALSE);
    DeleteRegistryDefaults();
    return hr;
}
