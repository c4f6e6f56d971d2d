// The OPC AE proxy/stub library: registered in the prefix, it carries calls
// of a single-threaded client to objects of the multithreaded apartment,
// with records, strings, arrays and VARIANTs intact in both directions.
#include <windows.h>
#include <ole2.h>
#include <gtest/gtest.h>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>
#include "OpcAe.h"

namespace {

#if !defined(_WIN64)
// What clients compiled against the published headers rely on.
static_assert(sizeof(ONEVENTSTRUCT) == 72, "ONEVENTSTRUCT is 72 bytes on 32-bit Windows");
static_assert(offsetof(ONEVENTSTRUCT, ftTime) == 8, "");
static_assert(offsetof(ONEVENTSTRUCT, szConditionName) == 32, "");
static_assert(offsetof(ONEVENTSTRUCT, bAckRequired) == 44, "");
static_assert(offsetof(ONEVENTSTRUCT, szActorID) == 68, "");
static_assert(sizeof(OPCEVENTSERVERSTATUS) == 40, "");
#endif

std::wstring BinFolder()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

LPWSTR TaskCopy(const wchar_t *text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPWSTR copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    memcpy(copy, text, bytes);
    return copy;
}

// An event sink and an event server stand-in living in the multithreaded
// apartment; the sink records what arrives.
class MtaObjects : public IOPCEventSink, public IOPCEventServer, public IOPCEventAreaBrowser {
public:
    struct Event {
        std::wstring source, message, condition, actor;
        DWORD category;
        FILETIME time;
        std::vector<LONG> attributes;
    };
    DWORD handle = 0;
    BOOL refresh = FALSE, lastRefresh = FALSE;
    std::vector<Event> events;
    std::vector<std::wstring> acked;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCEventSink))
            *out = static_cast<IOPCEventSink *>(this);
        else if (IsEqualIID(iid, IID_IOPCEventServer))
            *out = static_cast<IOPCEventServer *>(this);
        else if (IsEqualIID(iid, IID_IOPCEventAreaBrowser))
            *out = static_cast<IOPCEventAreaBrowser *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP OnEvent(OPCHANDLE client, BOOL isRefresh, BOOL isLast, DWORD count, ONEVENTSTRUCT *records) override
    {
        handle = client;
        refresh = isRefresh;
        lastRefresh = isLast;
        for (DWORD i = 0; i < count; ++i) {
            const ONEVENTSTRUCT &r = records[i];
            Event e{r.szSource ? r.szSource : L"", r.szMessage ? r.szMessage : L"",
                    r.szConditionName ? r.szConditionName : L"", r.szActorID ? r.szActorID : L"",
                    r.dwEventCategory, r.ftTime, {}};
            for (DWORD a = 0; a < r.dwNumEventAttrs; ++a)
                e.attributes.push_back(V_I4(&r.pEventAttributes[a]));
            events.push_back(e);
        }
        return S_OK;
    }

    STDMETHODIMP GetStatus(OPCEVENTSERVERSTATUS **status) override
    {
        *status = static_cast<OPCEVENTSERVERSTATUS *>(CoTaskMemAlloc(sizeof(OPCEVENTSERVERSTATUS)));
        memset(*status, 0, sizeof **status);
        (*status)->ftStartTime = FILETIME{1, 2};
        (*status)->dwServerState = OPCAE_STATUS_RUNNING;
        (*status)->wMajorVersion = 7;
        (*status)->wMinorVersion = 20;
        (*status)->wBuildNumber = 1;
        (*status)->szVendorInfo = TaskCopy(L"vendor text");
        return S_OK;
    }
    STDMETHODIMP QueryEventCategories(DWORD type, DWORD *count, DWORD **ids, LPWSTR **names) override
    {
        *count = 3;
        *ids = static_cast<DWORD *>(CoTaskMemAlloc(3 * sizeof(DWORD)));
        *names = static_cast<LPWSTR *>(CoTaskMemAlloc(3 * sizeof(LPWSTR)));
        const wchar_t *texts[3] = {L"one", L"two", L"four"};
        for (DWORD i = 0; i < 3; ++i) {
            (*ids)[i] = (1u << i) * type;
            (*names)[i] = TaskCopy(texts[i]);
        }
        return S_OK;
    }
    STDMETHODIMP AckCondition(DWORD count, LPWSTR, LPWSTR, LPWSTR *sources, LPWSTR *, FILETIME *, DWORD *,
                              HRESULT **errors) override
    {
        *errors = static_cast<HRESULT *>(CoTaskMemAlloc(count * sizeof(HRESULT)));
        for (DWORD i = 0; i < count; ++i) {
            acked.push_back(sources[i]);
            (*errors)[i] = i == 1 ? E_INVALIDARG : S_OK;
        }
        return S_FALSE;
    }
    // Not used here.
    STDMETHODIMP CreateEventSubscription(BOOL, DWORD, DWORD, OPCHANDLE, REFIID, LPUNKNOWN *, DWORD *,
                                         DWORD *) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAvailableFilters(DWORD *mask) override
    {
        *mask = 26;
        return S_OK;
    }
    STDMETHODIMP QueryConditionNames(DWORD, DWORD *, LPWSTR **) override { return E_NOTIMPL; }
    STDMETHODIMP QuerySubConditionNames(LPWSTR, DWORD *, LPWSTR **) override { return E_NOTIMPL; }
    STDMETHODIMP QuerySourceConditions(LPWSTR, DWORD *, LPWSTR **) override { return E_NOTIMPL; }
    STDMETHODIMP QueryEventAttributes(DWORD, DWORD *, DWORD **, LPWSTR **, VARTYPE **) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateToItemIDs(LPWSTR, DWORD, LPWSTR, LPWSTR, DWORD, DWORD *, LPWSTR **, LPWSTR **,
                                    CLSID **) override { return E_NOTIMPL; }
    STDMETHODIMP GetConditionState(LPWSTR, LPWSTR, DWORD, DWORD *, OPCCONDITIONSTATE **) override { return E_NOTIMPL; }
    STDMETHODIMP EnableConditionByArea(DWORD count, LPWSTR *areas) override
    {
        for (DWORD i = 0; i < count; ++i)
            acked.push_back(areas[i]);
        return S_OK;
    }
    STDMETHODIMP EnableConditionBySource(DWORD, LPWSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP DisableConditionByArea(DWORD, LPWSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP DisableConditionBySource(DWORD, LPWSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP CreateAreaBrowser(REFIID, LPUNKNOWN *) override { return E_NOTIMPL; }

    // The area browser: one out string.
    STDMETHODIMP ChangeBrowsePosition(OPCAEBROWSEDIRECTION, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseOPCAreas(OPCAEBROWSETYPE, LPCWSTR, LPENUMSTRING *) override { return E_NOTIMPL; }
    STDMETHODIMP GetQualifiedAreaName(LPCWSTR area, LPWSTR *result) override
    {
        *result = TaskCopy((std::wstring(area) + L"!").c_str());
        return S_OK;
    }
    STDMETHODIMP GetQualifiedSourceName(LPCWSTR, LPWSTR *result) override
    {
        *result = TaskCopy(L"DataBlocks:Blk1");
        return S_OK;
    }
};

// Runs the objects on a thread of the multithreaded apartment, hands the
// test a stream per interface, and keeps the apartment until the end.
class CrossApartment : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        HMODULE proxy = LoadLibraryW((BinFolder() + L"opc_aeps.dll").c_str());
        ASSERT_NE(nullptr, proxy);
        auto reg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(proxy, "DllRegisterServer"));
        ASSERT_NE(nullptr, reg);
        ASSERT_EQ(S_OK, reg());
    }
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_disconnect = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_disconnected = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, MtaThread, this, 0, nullptr);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_ready, 10000));
        ASSERT_EQ(S_OK, m_marshalResult);
        ASSERT_EQ(S_OK, CoGetInterfaceAndReleaseStream(m_sinkStream, IID_IOPCEventSink,
                                                       reinterpret_cast<void **>(&sink)));
        ASSERT_EQ(S_OK, CoGetInterfaceAndReleaseStream(m_serverStream, IID_IOPCEventServer,
                                                       reinterpret_cast<void **>(&server)));
        ASSERT_EQ(S_OK, CoGetInterfaceAndReleaseStream(m_browserStream, IID_IOPCEventAreaBrowser,
                                                       reinterpret_cast<void **>(&browser)));
    }
    void TearDown() override
    {
        if (sink)
            sink->Release();
        if (server)
            server->Release();
        if (browser)
            browser->Release();
        SetEvent(m_done);
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
        CloseHandle(m_done);
        CloseHandle(m_ready);
        CloseHandle(m_disconnect);
        CloseHandle(m_disconnected);
        CoUninitialize();
    }
    static DWORD WINAPI MtaThread(void *p)
    {
        auto *self = static_cast<CrossApartment *>(p);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        self->m_marshalResult = CoMarshalInterThreadInterfaceInStream(
            IID_IOPCEventSink, static_cast<IOPCEventSink *>(&self->objects), &self->m_sinkStream);
        if (SUCCEEDED(self->m_marshalResult))
            self->m_marshalResult = CoMarshalInterThreadInterfaceInStream(
                IID_IOPCEventServer, static_cast<IOPCEventServer *>(&self->objects), &self->m_serverStream);
        if (SUCCEEDED(self->m_marshalResult))
            self->m_marshalResult = CoMarshalInterThreadInterfaceInStream(
                IID_IOPCEventAreaBrowser, static_cast<IOPCEventAreaBrowser *>(&self->objects), &self->m_browserStream);
        self->m_mtaThread = GetCurrentThreadId();
        SetEvent(self->m_ready);
        HANDLE waits[2] = {self->m_done, self->m_disconnect};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            CoDisconnectObject(static_cast<IOPCEventSink *>(&self->objects), 0);
            SetEvent(self->m_disconnected);
            WaitForSingleObject(self->m_done, INFINITE);
        }
        CoUninitialize();
        return 0;
    }

    // The objects' stubs go, as when their server ends.
    bool DisconnectObjects()
    {
        SetEvent(m_disconnect);
        return WaitForSingleObject(m_disconnected, 10000) == WAIT_OBJECT_0;
    }

    MtaObjects objects;
    IOPCEventSink *sink = nullptr;
    IOPCEventServer *server = nullptr;
    IOPCEventAreaBrowser *browser = nullptr;

private:
    HANDLE m_done = nullptr, m_ready = nullptr, m_thread = nullptr, m_disconnect = nullptr, m_disconnected = nullptr;
    IStream *m_sinkStream = nullptr, *m_serverStream = nullptr, *m_browserStream = nullptr;
    HRESULT m_marshalResult = E_FAIL;
    DWORD m_mtaThread = 0;
};

TEST_F(CrossApartment, TheClientHoldsAProxyNotTheObject)
{
    EXPECT_NE(static_cast<void *>(static_cast<IOPCEventSink *>(&objects)), static_cast<void *>(sink));
    IUnknown *marshal = nullptr;
    // A proxy answers IMarshal through the proxy manager; the object itself does not.
    EXPECT_EQ(S_OK, sink->QueryInterface(IID_IMarshal, reinterpret_cast<void **>(&marshal)));
    if (marshal)
        marshal->Release();
}

TEST_F(CrossApartment, EventRecordsArriveWhole)
{
    VARIANT attributes[2];
    for (LONG i = 0; i < 2; ++i) {
        VariantInit(&attributes[i]);
        V_VT(&attributes[i]) = VT_I4;
        V_I4(&attributes[i]) = 100 + i;
    }
    ONEVENTSTRUCT records[2] = {};
    records[0].szSource = const_cast<LPWSTR>(L"Blk1");
    records[0].szMessage = const_cast<LPWSTR>(L"DataBlock Blk1 Enabled");
    records[0].szConditionName = const_cast<LPWSTR>(L"Enabled State");
    records[0].szSubconditionName = const_cast<LPWSTR>(L"Enabled");
    records[0].szActorID = const_cast<LPWSTR>(L"");
    records[0].dwEventType = OPC_SIMPLE_EVENT;
    records[0].dwEventCategory = 2;
    records[0].ftTime = FILETIME{0x11223344, 0x01D00000};
    records[1] = records[0];
    records[1].szSource = const_cast<LPWSTR>(L"Hadrel");
    records[1].dwEventCategory = 4;
    records[1].dwNumEventAttrs = 2;
    records[1].pEventAttributes = attributes;
    ASSERT_EQ(S_OK, sink->OnEvent(77, TRUE, FALSE, 2, records));
    EXPECT_EQ(77u, objects.handle);
    EXPECT_TRUE(objects.refresh);
    EXPECT_FALSE(objects.lastRefresh);
    ASSERT_EQ(2u, objects.events.size());
    EXPECT_EQ(L"Blk1", objects.events[0].source);
    EXPECT_EQ(L"DataBlock Blk1 Enabled", objects.events[0].message);
    EXPECT_EQ(L"Enabled State", objects.events[0].condition);
    EXPECT_EQ(0x11223344u, objects.events[0].time.dwLowDateTime);
    EXPECT_EQ(L"Hadrel", objects.events[1].source);
    EXPECT_EQ(4u, objects.events[1].category);
    EXPECT_EQ((std::vector<LONG>{100, 101}), objects.events[1].attributes);
}

TEST_F(CrossApartment, ServerResultsComeBackInTaskMemory)
{
    OPCEVENTSERVERSTATUS *status = nullptr;
    ASSERT_EQ(S_OK, server->GetStatus(&status));
    ASSERT_NE(nullptr, status);
    EXPECT_EQ(2u, status->ftStartTime.dwHighDateTime);
    EXPECT_EQ(OPCAE_STATUS_RUNNING, status->dwServerState);
    EXPECT_EQ(20, status->wMinorVersion);
    EXPECT_STREQ(L"vendor text", status->szVendorInfo);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    DWORD count = 0, *ids = nullptr;
    LPWSTR *names = nullptr;
    ASSERT_EQ(S_OK, server->QueryEventCategories(1, &count, &ids, &names));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(4u, ids[2]);
    EXPECT_STREQ(L"two", names[1]);
    for (DWORD i = 0; i < count; ++i)
        CoTaskMemFree(names[i]);
    CoTaskMemFree(names);
    CoTaskMemFree(ids);

    LPWSTR areas[2] = {const_cast<LPWSTR>(L"Devices"), const_cast<LPWSTR>(L"DataBlocks")};
    ASSERT_EQ(S_OK, server->EnableConditionByArea(2, areas));
    EXPECT_EQ((std::vector<std::wstring>{L"Devices", L"DataBlocks"}), objects.acked);
    objects.acked.clear();

    LPWSTR sources[3] = {const_cast<LPWSTR>(L"a"), const_cast<LPWSTR>(L"b"), const_cast<LPWSTR>(L"c")};
    LPWSTR conditions[3] = {const_cast<LPWSTR>(L"x"), const_cast<LPWSTR>(L"y"), const_cast<LPWSTR>(L"z")};
    FILETIME times[3] = {};
    DWORD cookies[3] = {1, 2, 3};
    HRESULT *errors = nullptr;
    ASSERT_EQ(S_FALSE, server->AckCondition(3, const_cast<LPWSTR>(L"me"), const_cast<LPWSTR>(L""), sources,
                                            conditions, times, cookies, &errors));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), objects.acked);
    ASSERT_NE(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, errors[1]);
    CoTaskMemFree(errors);
}

TEST_F(CrossApartment, OutStringsReachTheCaller)
{
    LPWSTR text = nullptr;
    ASSERT_EQ(S_OK, browser->GetQualifiedAreaName(L"Devices", &text));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"Devices!", text);
    CoTaskMemFree(text);
    text = nullptr;
    ASSERT_EQ(S_OK, browser->GetQualifiedSourceName(L"Blk1", &text));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"DataBlocks:Blk1", text);
    CoTaskMemFree(text);
}

TEST_F(CrossApartment, ACallOnAGoneObjectFailsInsteadOfRaising)
{
    ASSERT_TRUE(DisconnectObjects());
    ONEVENTSTRUCT record = {};
    record.szSource = const_cast<LPWSTR>(L"Blk1");
    record.szMessage = const_cast<LPWSTR>(L"m");
    record.szConditionName = record.szSubconditionName = record.szActorID = const_cast<LPWSTR>(L"");
    HRESULT hr = sink->OnEvent(1, FALSE, FALSE, 1, &record);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    DWORD mask = 0;
    EXPECT_TRUE(FAILED(server->QueryAvailableFilters(&mask)));
    EXPECT_TRUE(objects.events.empty());
}

} // namespace
