// Aleron's entry points: attach and detach, the class object, unloading.
#include "AleronLibrary.h"
#include "EventLog.h"
#include "EventServer.h"
#include <new>

namespace aleron {

const CLSID CLSID_Aleron = {0x402D97D4, 0x7270, 0x11D6, {0xB9, 0x8B, 0x00, 0x50, 0xDA, 0xCA, 0x0D, 0x41}};

Library &TheLibrary()
{
    static Library library;
    return library;
}

CEventServerFactory &TheFactory()
{
    static CEventServerFactory factory;
    return factory;
}

STDMETHODIMP CEventServerFactory::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
        return E_NOINTERFACE;
    *out = static_cast<IClassFactory *>(this);
    return S_OK;
}

STDMETHODIMP CEventServerFactory::CreateInstance(IUnknown *outer, REFIID iid, void **out)
{
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out)
        return E_POINTER;
    *out = nullptr;
    COPCDrvEventServer *server = new (std::nothrow) COPCDrvEventServer;
    if (!server)
        return E_OUTOFMEMORY;
    // Held once around the request, so a refused interface frees it.
    server->AddRef();
    HRESULT hr = server->QueryInterface(iid, out);
    server->Release();
    return hr;
}

STDMETHODIMP CEventServerFactory::LockServer(BOOL lock)
{
    if (lock)
        InterlockedIncrement(&TheLibrary().locks);
    else
        InterlockedDecrement(&TheLibrary().locks);
    return S_OK;
}

bool CEventServerFactory::CanUnloadNow() const
{
    return TheLibrary().servers != 0 || TheLibrary().locks != 0;
}

namespace {

HRESULT ProcessAttach(HMODULE module)
{
    Library &library = TheLibrary();
    library.module = module;
    CoFileTimeNow(&library.startTime);
    library.eventLog = new (std::nothrow) CEventLog("QOR");
    if (!library.eventLog)
        return E_OUTOFMEMORY;
    HRESULT hr = CoGetMalloc(1, &library.malloc);
    if (FAILED(hr))
        return hr;
    return S_OK;
}

void ProcessDetach()
{
    Library &library = TheLibrary();
    delete library.eventLog;
    library.eventLog = nullptr;
    if (library.malloc)
        library.malloc->Release();
    library.malloc = nullptr;
}

} // namespace
} // namespace aleron

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
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
    return aleron::TheFactory().QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return aleron::TheFactory().CanUnloadNow() ? S_FALSE : S_OK; }
