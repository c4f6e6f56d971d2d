#include "AleronLibrary.h"
#include <new>
#include "ClassFactory.h"
#include "EventServer.h"
#include "OpcAe.h"
#include "OpcKit.h"
#include "Registration.h"

namespace aleron {

const CLSID CLSID_Aleron = {0x402D97D4, 0x7270, 0x11D6, {0xB9, 0x8B, 0x00, 0x50, 0xDA, 0xCA, 0x0D, 0x41}};

HRESULT ConnectEventDriver(REFCLSID clsid, IDriver **driver)
{
    *driver = nullptr;
    IQORDriver *qor = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver, reinterpret_cast<void **>(&qor));
    if (FAILED(hr))
        return hr;
    IConnectSink *connectSink = nullptr;
    hr = qor->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connectSink));
    if (FAILED(hr)) {
        qor->Release();
        return hr;
    }
    // Each event server holds its own IConnectSink while it lives.
    connectSink->Release();
    *driver = qor;
    return S_OK;
}

IConnectSink *AcquireConnectSink()
{
    IDriver *driver = g_ClassFactory.AcquireDriver();
    if (!driver)
        return nullptr;
    IConnectSink *connectSink = nullptr;
    if (FAILED(driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connectSink))))
        connectSink = nullptr;
    driver->Release();
    return connectSink;
}

namespace {

const char kProgId[] = "Veltrane.Aleron";
const char kDescription[] = "QOR OPC Alarms & Events Server";

// The one category Aleron implements.
CATEGORYINFO g_categories[1] = {
    {{0x58E13251, 0xAC87, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}}, 1033,
     L"OPC Alarm and Event Servers Version 1.0"},
};

HRESULT ProcessAttach(HMODULE module)
{
    g_hModule = module;
    CoFileTimeNow(&g_ftLibraryStart);
    g_pEventLog = new (std::nothrow) CEventLog("QOR");
    if (!g_pEventLog)
        return E_OUTOFMEMORY;
    HRESULT hr = CoGetMalloc(1, &g_pIMalloc);
    if (FAILED(hr))
        return hr;
    g_ClassFactory.SetServerMaker(&CreateServerObject<COPCDrvEventServer>);
    g_ClassFactory.SetDriverConnector(&ConnectEventDriver);
    return g_ClassFactory.SetDriverCLSID(CLSID_QORDriver) ? S_OK : E_FAIL;
}

void ProcessDetach()
{
    delete g_pEventLog;
    g_pEventLog = nullptr;
    if (g_pIMalloc)
        g_pIMalloc->Release();
    g_pIMalloc = nullptr;
}

// The category step of (un)registration, in a single-threaded apartment.
HRESULT CategoryStep(bool registerIt)
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return hr;
    HRESULT result = S_OK;
    if (registerIt && !RegisterCategories(g_categories, 1))
        result = E_UNEXPECTED;
    if (FAILED(RegisterImplementedCategories(CLSID_Aleron, registerIt ? TRUE : FALSE, g_categories, 1)))
        result = E_UNEXPECTED;
    CoUninitialize();
    return result;
}

} // namespace
} // namespace aleron

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        return SUCCEEDED(aleron::ProcessAttach(module));
    if (reason == DLL_PROCESS_DETACH)
        aleron::ProcessDetach();
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    if (!IsEqualCLSID(clsid, aleron::CLSID_Aleron)) {
        if (out)
            *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_ClassFactory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_ClassFactory.CanUnloadNow() ? S_FALSE : S_OK; }

extern "C" HRESULT WINAPI DllRegisterServer()
{
    HRESULT hr = RegisterServerKeys(aleron::CLSID_Aleron, aleron::kProgId, aleron::kDescription, "Veltrane, Inc.",
                                    "Free");
    return SUCCEEDED(hr) ? aleron::CategoryStep(true) : hr;
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    // The class's category entry first: a key that still has a subkey
    // cannot be deleted, and "Implemented Categories" would keep the
    // class key, and with it the class, registered.
    HRESULT categories = aleron::CategoryStep(false);
    HRESULT hr = UnregisterServerKeys(aleron::CLSID_Aleron, aleron::kProgId);
    return FAILED(hr) ? hr : categories;
}
