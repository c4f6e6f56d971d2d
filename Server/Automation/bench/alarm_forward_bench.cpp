// Alarm & Event forwarding across processes: the host program
// (server_automation_host) holds the automation object; this client connects
// one callback (or several) through IConnectSink, switches a block that
// sends events off and on, and measures how soon each forwarded record
// arrives after the switching call began, and how many arrive per second.
//   alarm_forward_bench [records N] [callbacks N]
#include <windows.h>
#include <ole2.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "QORDriver.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1e6 / double(frequency.QuadPart);
}

// Records the arrival time of each call.
class TimingSink final : public IAlarmMessageSink {
public:
    TimingSink() : m_arrived(CreateEventA(nullptr, FALSE, FALSE, nullptr)) { InitializeCriticalSection(&m_lock); }
    ~TimingSink()
    {
        CoDisconnectObject(this, 0);
        CloseHandle(m_arrived);
        DeleteCriticalSection(&m_lock);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IAlarmMessageSink))
            return E_NOINTERFACE;
        *out = static_cast<IAlarmMessageSink *>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnMessage(BSTR, LONG, BSTR) override { return Arrived(); }
    STDMETHODIMP OnMessage2(BSTR, LONG, BSTR) override { return Arrived(); }

    size_t Count()
    {
        EnterCriticalSection(&m_lock);
        size_t n = m_times.size();
        LeaveCriticalSection(&m_lock);
        return n;
    }
    bool WaitFor(size_t count, DWORD ms)
    {
        DWORD end = GetTickCount() + ms;
        while (Count() < count) {
            LONG left = LONG(end - GetTickCount());
            if (left <= 0)
                return false;
            WaitForSingleObject(m_arrived, DWORD(left));
        }
        return true;
    }
    std::vector<double> Times()
    {
        EnterCriticalSection(&m_lock);
        std::vector<double> copy = m_times;
        LeaveCriticalSection(&m_lock);
        return copy;
    }

private:
    HRESULT Arrived()
    {
        double t = Now();
        EnterCriticalSection(&m_lock);
        m_times.push_back(t);
        LeaveCriticalSection(&m_lock);
        SetEvent(m_arrived);
        return S_OK;
    }
    CRITICAL_SECTION m_lock;
    std::vector<double> m_times;
    HANDLE m_arrived;
};

std::string BinFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

VARIANT Array(std::vector<VARIANT> elements)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(elements.size()));
    for (LONG i = 0; i < LONG(elements.size()); ++i) {
        SafeArrayPutElement(array, &i, &elements[size_t(i)]);
        VariantClear(&elements[size_t(i)]);
    }
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = array;
    return v;
}
VARIANT Text(const wchar_t *text)
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}
VARIANT Short(short value)
{
    VARIANT v;
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}
VARIANT Long(LONG value)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

HRESULT Set(IQORDriver *driver, LONG handle, const wchar_t *name, VARIANT value)
{
    VARIANT n = Text(name), e;
    VariantInit(&e);
    HRESULT hr = driver->SetPropertyData(handle, n, value, &e);
    VariantClear(&n);
    VariantClear(&e);
    return hr;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

int Fail(const char *what, HRESULT hr)
{
    fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    int records = 2000, callbacks = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "records")
            records = std::max(2, atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "callbacks")
            callbacks = std::max(1, std::min(8, atoi(argv[i + 1])));
    }
    records -= records % 2;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ITypeLib *lib = nullptr;
    std::wstring tlb;
    for (char c : BinFolder() + "Hadrel.tlb")
        tlb += wchar_t(c);
    if (FAILED(LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, &lib)) || FAILED(RegisterTypeLib(lib, &tlb[0], nullptr)))
        return Fail("type library", E_FAIL);
    lib->Release();

    std::string acronym = "QB" + std::to_string(GetCurrentProcessId());
    std::string eventName = "QorAlarmBenchReady" + std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    std::string command = "server_automation_host.exe " + acronym + " " + eventName;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string program = BinFolder() + "server_automation_host.exe";
    if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return Fail("starting the host", HRESULT_FROM_WIN32(GetLastError()));
    HANDLE waits[2] = {ready, process.hProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0)
        return Fail("host start-up", E_FAIL);

    IQORDriver *driver = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                  reinterpret_cast<void **>(&driver));
    if (FAILED(hr))
        return Fail("creating the object", hr);
    IConnectSink *connect = nullptr;
    driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connect));

    // A channel, a device and a block that sends events.
    LONG channel = 0, device = 0, block = 0;
    VARIANT names = Array({Text(L"Name"), Text(L"PrimaryCPName")}), values = Array({Text(L"Ch1"), Text(L"CPBLK")}), e;
    VariantInit(&e);
    driver->AddChannel(names, values, &e, &channel);
    VariantClear(&names), VariantClear(&values), VariantClear(&e);
    names = Array({Text(L"Name"), Text(L"PrimaryConnName")}), values = Array({Text(L"Dev1"), Text(L"PLCBLK1")});
    driver->AddDevice(channel, names, values, &e, &device);
    VariantClear(&names), VariantClear(&values), VariantClear(&e);
    names = Array({Text(L"Name"), Text(L"StartAddress"), Text(L"Length")});
    values = Array({Text(L"Blk1"), Text(L"DB10,0"), Long(10)});
    hr = driver->AddDataBlock(device, names, values, &e, &block);
    VariantClear(&names), VariantClear(&values), VariantClear(&e);
    if (FAILED(hr) || FAILED(hr = Set(driver, block, L"SendEvents", Short(1))))
        return Fail("building the block", hr);

    std::vector<TimingSink *> sinks;
    std::vector<LONG> connections;
    for (int i = 0; i < callbacks; ++i) {
        sinks.push_back(new TimingSink);
        LONG connection = 0;
        hr = connect->Connect(IID_IAlarmMessageSink, sinks.back(), 1, &connection);
        if (FAILED(hr))
            return Fail("Connect", hr);
        connections.push_back(connection);
    }

    // The record is posted inside the switching call: its latency is
    // counted from the call's start.
    std::vector<double> began;
    double start = Now();
    for (int i = 0; i < records; ++i) {
        began.push_back(Now());
        hr = Set(driver, block, L"Enabled", Short(short(i % 2)));
        if (FAILED(hr))
            return Fail("switching the block", hr);
    }
    double posted = Now();
    bool all = true;
    for (TimingSink *sink : sinks)
        all = sink->WaitFor(size_t(records), 60000) && all;
    double delivered = Now();

    std::vector<double> latencies;
    for (TimingSink *sink : sinks) {
        std::vector<double> times = sink->Times();
        for (size_t i = 0; i < times.size() && i < began.size(); ++i)
            latencies.push_back(times[i] - began[i]);
    }
    double disconnectStart = Now();
    for (LONG connection : connections)
        connect->Disconnect(connection);
    double disconnectMs = (Now() - disconnectStart) / 1000.0 / double(connections.size());

    printf("records %d, callbacks %d%s\n", records, callbacks, all ? "" : " (not all arrived)");
    printf("switching calls: %.0f per second\n", records / ((posted - start) / 1e6));
    printf("delivered: %.0f records per second per callback (post of the first to arrival of the last)\n",
           records / ((delivered - start) / 1e6));
    printf("arrival after the switching call began: median %.0f us, 95th percentile %.0f us\n",
           Percentile(latencies, 0.5), Percentile(latencies, 0.95));
    printf("Disconnect of an idle connection: %.1f ms\n", disconnectMs);

    connect->Release();
    driver->Quit();
    driver->Release();
    WaitForSingleObject(process.hProcess, 30000);
    for (TimingSink *sink : sinks)
        delete sink;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(ready);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Veltrane\\Drivers\\" + acronym).c_str());
    CoUninitialize();
    return all ? 0 : 2;
}
