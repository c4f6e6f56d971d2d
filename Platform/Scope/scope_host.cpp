// The data monitor's stand-in host, until the configuration tool opens it:
// starts or joins the server Hadrel, asks it for the data-monitor connection
// in the same activation call as for its automation interface, turns
// "TracewellOn" on for the data block named on the command line, opens the
// Tracewell window and feeds it every frame the server passes; it ends when
// the window is closed.
//
// Usage: scope_host BLOCK [CONFIGFILE]
//   BLOCK       the data block's name as the server finds objects by name
//   CONFIGFILE  a configuration to open and poll first (else the server's
//               current one is used as it runs)
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include "QORDriver.h"

namespace {

// Tracewell.dll's exports, found by their undecorated names as a host finds them.
int(WINAPI *VuxOpenScope)(HWND);
LRESULT(WINAPI *VuxCloseScope)();
int(WINAPI *VuxIsScopeOpen)();
int(WINAPI *VuxSendScopeData)(const BYTE *, WORD, int);

bool LoadTracewell()
{
    HMODULE dll = LoadLibraryA("Tracewell.dll");
    if (!dll)
        return false;
    VuxOpenScope = reinterpret_cast<decltype(VuxOpenScope)>(GetProcAddress(dll, "VuxOpenScope"));
    VuxCloseScope = reinterpret_cast<decltype(VuxCloseScope)>(GetProcAddress(dll, "VuxCloseScope"));
    VuxIsScopeOpen = reinterpret_cast<decltype(VuxIsScopeOpen)>(GetProcAddress(dll, "VuxIsScopeOpen"));
    VuxSendScopeData = reinterpret_cast<decltype(VuxSendScopeData)>(GetProcAddress(dll, "VuxSendScopeData"));
    return VuxOpenScope && VuxCloseScope && VuxIsScopeOpen && VuxSendScopeData;
}

// The callback the server's sender thread calls with each frame; dispatch
// through the server's type library.
class CScopeSink : public ITracewellSink {
public:
    HRESULT Init()
    {
        ITypeLib *library = nullptr;
        HRESULT hr = LoadRegTypeLib(LIBID_QORDriverLib, 7, 0, 9, &library);
        if (FAILED(hr))
            return hr;
        hr = library->GetTypeInfoOfGuid(IID_ITracewellSink, &m_typeInfo);
        library->Release();
        return hr;
    }
    ~CScopeSink()
    {
        if (m_typeInfo)
            m_typeInfo->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_INVALIDARG;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITracewellSink) {
            *object = static_cast<ITracewellSink *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // The host owns the object: the count never destroys it.
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_refs)); }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **info) override
    {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        if (!m_typeInfo)
            return E_FAIL;
        m_typeInfo->AddRef();
        *info = m_typeInfo;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        return DispGetIDsOfNames(m_typeInfo, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override
    {
        return DispInvoke(static_cast<ITracewellSink *>(this), m_typeInfo, id, flags, params, result, exception,
                          argError);
    }
    STDMETHODIMP FrameSent(BSTR frame) override { return Show(frame, 1); }
    STDMETHODIMP FrameReceived(BSTR frame) override { return Show(frame, 0); }

    long frames = 0;

private:
    HRESULT Show(BSTR frame, int direction)
    {
        if (VuxIsScopeOpen() && frame) {
            VuxSendScopeData(reinterpret_cast<const BYTE *>(frame), WORD(SysStringByteLen(frame)), direction);
            ++frames;
        }
        return S_OK;
    }

    LONG m_refs = 1;
    ITypeInfo *m_typeInfo = nullptr;
};

// names = {"TracewellOn"}, values = {on}, through the object's name.
HRESULT SetTracewell(IQORDriver *driver, const wchar_t *block, short on)
{
    SAFEARRAY *names = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    SAFEARRAY *values = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG index = 0;
    VARIANT name, value;
    VariantInit(&name);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(L"TracewellOn");
    VariantInit(&value);
    V_VT(&value) = VT_I2;
    V_I2(&value) = on;
    SafeArrayPutElement(names, &index, &name);
    SafeArrayPutElement(values, &index, &value);
    VariantClear(&name);
    VARIANT nameList, valueList, errors;
    VariantInit(&nameList);
    V_VT(&nameList) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&nameList) = names;
    VariantInit(&valueList);
    V_VT(&valueList) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&valueList) = values;
    VariantInit(&errors);
    BSTR object = SysAllocString(block);
    const HRESULT hr = driver->SetPropertyData2(object, nameList, valueList, &errors);
    SysFreeString(object);
    VariantClear(&nameList);
    VariantClear(&valueList);
    VariantClear(&errors);
    return hr;
}

int Fail(const char *what, HRESULT hr)
{
    fprintf(stderr, "scope_host: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: scope_host BLOCK [CONFIGFILE]\n");
        return 2;
    }
    if (!LoadTracewell())
        return Fail("Tracewell.dll or its exports were not found", HRESULT_FROM_WIN32(GetLastError()));
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return Fail("COM did not start", hr);
    MULTI_QI asked[2] = {{&IID_IQORDriver, nullptr, S_OK}, {&IID_ITracewellConnect, nullptr, S_OK}};
    hr = CoCreateInstanceEx(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, NULL, 2, asked);
    if (FAILED(hr) || FAILED(asked[0].hr))
        return Fail("the server did not start", FAILED(hr) ? hr : asked[0].hr);
    IQORDriver *driver = static_cast<IQORDriver *>(asked[0].pItf);
    if (FAILED(asked[1].hr)) {
        driver->Release();
        return Fail("the server offers no data-monitor connection", asked[1].hr);
    }
    ITracewellConnect *connection = static_cast<ITracewellConnect *>(asked[1].pItf);
    int status = 0;
    CScopeSink sink;
    LONG cookie = 0;
    bool connected = false, traced = false;
    if (argc > 2) {
        BSTR file = SysAllocString(argv[2]);
        hr = driver->FileOpen(file);
        SysFreeString(file);
        if (SUCCEEDED(hr))
            hr = driver->StartWait();
        if (FAILED(hr)) {
            status = Fail("the configuration did not open and start", hr);
            goto done;
        }
    }
    hr = SetTracewell(driver, argv[1], 1);
    if (FAILED(hr)) {
        status = Fail("\"TracewellOn\" could not be set on that block", hr);
        goto done;
    }
    traced = true;
    hr = sink.Init();
    if (SUCCEEDED(hr))
        hr = connection->Connect(static_cast<ITracewellSink *>(&sink), 0, &cookie);
    if (FAILED(hr)) {
        status = Fail("the data-monitor connection refused the callback", hr);
        goto done;
    }
    connected = true;
    if (!VuxOpenScope(NULL)) {
        status = Fail("the data monitor window did not open", E_FAIL);
        goto done;
    }
    printf("scope_host: showing the frames of %ls; close the window to end\n", argv[1]);
    fflush(stdout);
    while (VuxIsScopeOpen()) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
    }
    printf("scope_host: %ld frames shown\n", sink.frames);
done:
    if (connected)
        connection->Disconnect(cookie);
    if (traced)
        SetTracewell(driver, argv[1], 0);
    connection->Release();
    driver->Release();
    CoUninitialize();
    return status;
}
