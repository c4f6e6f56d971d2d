// brisko_browse_bench [calls]: how fast an OPC client browses and reads item
// properties through Brisko (in-process) against Hadrel.exe. It builds a
// configuration of 4 devices with 25 blocks each through the automation
// interface, then times, from the multithreaded apartment: a flat listing
// of all 100 blocks, GetItemID of a leaf, and GetItemProperties of all eight
// properties of an item. Needs Hadrel.exe, Brisko.dll and OpcProxy.dll
// registered and S732_CONFIG naming a catalogue with the connections
// PLC0..PLC3 on CP_BENCH/VFD_BENCH.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "OpcDataAccess.h"
#include "QORDriver.h"
#include "server_session.h"

using kivserver::I2;
using kivserver::I4;
using kivserver::Properties;
using kivserver::Text;

namespace {

bool Build(IQORDriver *driver)
{
    VARIANT errors;
    VariantInit(&errors);
    long channel = 0;
    Properties c({{"Name", Text("Bench")}, {"PrimaryCPName", Text("CP_BENCH")}, {"PrimaryVFDName", Text("VFD_BENCH")},
                  {"Enabled", I2(1)}});
    if (FAILED(driver->AddChannel(c.names, c.values, &errors, &channel)))
        return false;
    VariantClear(&errors);
    for (int d = 0; d < 4; ++d) {
        long device = 0;
        std::string name = "Dev" + std::to_string(d), conn = "PLC" + std::to_string(d);
        Properties p({{"Name", Text(name.c_str())}, {"PrimaryConnName", Text(conn.c_str())}, {"Enabled", I2(1)}});
        if (FAILED(driver->AddDevice(channel, p.names, p.values, &errors, &device)))
            return false;
        VariantClear(&errors);
        for (int b = 0; b < 25; ++b) {
            long block = 0;
            std::string blockName = name + "B" + std::to_string(b), start = "DB" + std::to_string(10 + b) + ",0";
            Properties q({{"Name", Text(blockName.c_str())}, {"DataType", I2(1)}, {"StartAddress", Text(start.c_str())},
                          {"Length", I4(20)}, {"PrimaryPollTime", Text("1")}, {"Enabled", I2(1)}});
            if (FAILED(driver->AddDataBlock(device, q.names, q.values, &errors, &block)))
                return false;
            VariantClear(&errors);
        }
    }
    return true;
}

// Median and 95th percentile of calls of f, in microseconds.
void Time(const char *what, int calls, const std::function<bool()> &f)
{
    std::vector<double> us;
    for (int i = 0; i < calls; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (!f()) {
            std::printf("%s: call failed\n", what);
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("%-40s median %8.1f us  95th %8.1f us  (%d calls)\n", what, us[us.size() / 2],
                us[us.size() * 95 / 100], calls);
}

}  // namespace

int main(int argc, char **argv)
{
    int calls = argc > 1 ? std::atoi(argv[1]) : 200;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IQORDriver *driver = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                  reinterpret_cast<void **>(&driver));
    if (FAILED(hr) || !Build(driver)) {
        std::printf("cannot build the configuration (0x%08lX)\n", hr);
        return 1;
    }
    CLSID brisko;
    IOPCServer *server = nullptr;
    IOPCBrowseServerAddressSpace *browse = nullptr;
    IOPCItemProperties *properties = nullptr;
    if (FAILED(CLSIDFromProgID(L"Veltrane.Brisko", &brisko)) ||
        FAILED(CoCreateInstance(brisko, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer,
                                reinterpret_cast<void **>(&server))) ||
        FAILED(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse))) ||
        FAILED(server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void **>(&properties)))) {
        std::printf("cannot create Brisko\n");
        return 1;
    }
    size_t listed = 0;
    Time("flat listing of 100 blocks", calls / 10 + 1, [&] {
        IEnumString *list = nullptr;
        if (browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, &list) != S_OK)
            return false;
        LPOLESTR text = nullptr;
        listed = 0;
        while (list->Next(1, &text, nullptr) == S_OK) {
            CoTaskMemFree(text);
            ++listed;
        }
        list->Release();
        return listed == 100;
    });
    browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Dev2");
    wchar_t leaf[] = L"DB20,0 - DB20,19";
    Time("GetItemID of a leaf", calls, [&] {
        LPWSTR id = nullptr;
        bool ok = browse->GetItemID(leaf, &id) == S_OK;
        CoTaskMemFree(id);
        return ok;
    });
    wchar_t item[] = L"Dev2:DB20,4";
    DWORD ids[] = {5000, 5001, 5002, 5003, 5004, 5005, 5006, 5007};
    Time("GetItemProperties, all eight", calls, [&] {
        VARIANT *values = nullptr;
        HRESULT *errors = nullptr;
        bool ok = properties->GetItemProperties(item, 8, ids, &values, &errors) == S_OK;
        for (int i = 0; ok && i < 8; ++i)
            VariantClear(&values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        return ok;
    });
    properties->Release();
    browse->Release();
    server->Release();
    CoFreeUnusedLibraries();
    driver->Release();
    CoUninitialize();
    return 0;
}
