// The demo's polling client: opens a configuration in the QOR server,
// starts polling, prints the first data block's values as they change,
// stops polling and releases the server.
//
//   hadrel_demo_client FILE.qor [reads]
#include <windows.h>
#include <ole2.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "QORDriver.h"

namespace {

LONG FirstHandle(const VARIANT &handles)
{
    LONG index = 0;
    VARIANT element;
    VariantInit(&element);
    if (V_VT(&handles) != (VT_ARRAY | VT_VARIANT) || FAILED(SafeArrayGetElement(V_ARRAY(&handles), &index, &element)))
        return 0;
    LONG handle = V_VT(&element) == VT_I4 ? V_I4(&element) : 0;
    VariantClear(&element);
    return handle;
}

bool Failed(const char *what, HRESULT hr)
{
    if (SUCCEEDED(hr))
        return false;
    std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: hadrel_demo_client FILE.qor [reads]\n");
        return 2;
    }
    int reads = argc > 2 ? std::atoi(argv[2]) : 10;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    IQORDriver *server = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                  reinterpret_cast<void **>(&server));
    if (Failed("CoCreateInstance", hr)) {
        CoUninitialize();
        return 1;
    }
    int result = 1;
    std::wstring path(argv[1], argv[1] + strlen(argv[1]));
    BSTR file = SysAllocString(path.c_str());
    VARIANT handles, names;
    VariantInit(&handles);
    VariantInit(&names);
    LONG count = 0, block = 0;
    do {
        if (Failed("FileOpen", server->FileOpen(file)))
            break;
        std::printf("Opened %s\n", argv[1]);
        if (Failed("GetChannels", server->GetChannels(&handles, &names, &count)))
            break;
        LONG channel = FirstHandle(handles);
        if (Failed("GetDevices", server->GetDevices(channel, &handles, &names, &count)))
            break;
        LONG device = FirstHandle(handles);
        if (Failed("GetDataBlocks", server->GetDataBlocks(device, &handles, &names, &count)))
            break;
        block = FirstHandle(handles);
        if (Failed("StartWait", server->StartWait()))
            break;
        VARIANT_BOOL running = VARIANT_FALSE;
        server->get_Running(&running);
        std::printf("Polling: %s\n", running ? "yes" : "no");
        for (int i = 1; i <= reads; ++i) {
            Sleep(500);
            VARIANT values, qualities, stamps;
            VariantInit(&values);
            VariantInit(&qualities);
            VariantInit(&stamps);
            hr = server->ReadData(block, VT_I4, 0, 0, 4, 0, 0.0f, 0.0f, &values, &qualities, &stamps);
            if (Failed("ReadData", hr))
                continue;
            std::printf("read %2d:", i);
            LONG upper = -1;
            SafeArrayGetUBound(V_ARRAY(&values), 1, &upper);
            for (LONG k = 0; k <= upper; ++k) {
                VARIANT v, text;
                VariantInit(&v);
                VariantInit(&text);
                SafeArrayGetElement(V_ARRAY(&values), &k, &v);
                if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)))
                    std::printf(" %6ls", V_BSTR(&text));
                VariantClear(&text);
                VariantClear(&v);
            }
            LONG first = 0;
            VARIANT status;
            VariantInit(&status);
            SafeArrayGetElement(V_ARRAY(&qualities), &first, &status);
            std::printf("   (status 0x%02X)\n", unsigned(V_I2(&status)) & 0xFF);
            VariantClear(&values);
            VariantClear(&qualities);
            VariantClear(&stamps);
        }
        if (Failed("Stop", server->Stop()))
            break;
        server->get_Running(&running);
        std::printf("Polling stopped: running = %s\n", running ? "yes" : "no");
        result = 0;
    } while (false);
    VariantClear(&handles);
    VariantClear(&names);
    SysFreeString(file);
    server->Release();
    std::printf("Released the server\n");
    CoUninitialize();
    return result;
}
