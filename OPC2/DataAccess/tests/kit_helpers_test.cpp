// IOPCCommon, the name filter, the address-space lists over a fake I/O
// server, the class factory's server list and connection, result memory
// and stream values.
#include "KitFixture.h"

#include <cstring>

#include "ClassFactory.h"
#include "FakeDriverBase.h"
#include "ImpIOPCCommon.h"

namespace {

// The I/O server's configuration lists: channels, each with its devices.
class ListingDriver : public FakeDriverBase {
public:
    std::vector<std::pair<std::string, std::vector<std::string>>> channels;
    VARIANT_BOOL running = VARIANT_FALSE;
    bool failDevices = false;
    LONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IDriver && riid != IID_IQORDriver)
            return E_NOINTERFACE;
        *ppv = static_cast<IQORDriver *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    // What the kit never asks for.
    STDMETHODIMP put_KivRef(LONG) override { return Unexpected("put_KivRef"); }
    STDMETHODIMP get_KivRef(LONG *) override { return Unexpected("get_KivRef"); }
    STDMETHODIMP Poll(LONG) override { return Unexpected("Poll"); }
    STDMETHODIMP Switch(LONG) override { return Unexpected("Switch"); }
    STDMETHODIMP SetPropertyData(LONG, VARIANT, VARIANT, VARIANT *) override { return Unexpected("SetPropertyData"); }
    STDMETHODIMP GetPropertyData(LONG, VARIANT, VARIANT *, VARIANT *) override { return Unexpected("GetPropertyData"); }
    STDMETHODIMP SetDataAddress(BSTR, short, LONG *, LONG *, LONG *, LONG *, short *) override
    {
        return Unexpected("SetDataAddress");
    }
    STDMETHODIMP GetDataAddress(LONG, LONG, LONG, LONG, BSTR *) override { return Unexpected("GetDataAddress"); }
    STDMETHODIMP RegisterException(LONG, LONG, LONG, LONG, BYTE, short, BYTE, short) override
    {
        return Unexpected("RegisterException");
    }
    STDMETHODIMP get_Running(VARIANT_BOOL *r) override
    {
        *r = running;
        return S_OK;
    }
    STDMETHODIMP GetChannels(VARIANT *handles, VARIANT *names, LONG *count) override
    {
        std::vector<std::string> list;
        for (auto &c : channels)
            list.push_back(c.first);
        return Fill(list, 100, handles, names, count);
    }
    STDMETHODIMP GetDevices(LONG channel, VARIANT *handles, VARIANT *names, LONG *count) override
    {
        if (failDevices || channel < 100 || channel >= 100 + LONG(channels.size()))
            return E_INVALIDARG;
        return Fill(channels[channel - 100].second, 200, handles, names, count);
    }

private:
    static HRESULT Fill(const std::vector<std::string> &list, LONG base, VARIANT *handles, VARIANT *names, LONG *count)
    {
        *count = LONG(list.size());
        if (list.empty())
            return S_OK;
        SAFEARRAY *h = nullptr, *n = nullptr;
        CreateVariantArray(ULONG(list.size()), &h);
        CreateVariantArray(ULONG(list.size()), &n);
        for (LONG i = 0; i < LONG(list.size()); ++i) {
            VARIANT v;
            V_VT(&v) = VT_I4;
            V_I4(&v) = base + i;
            SafeArrayPutElement(h, &i, &v);
            std::wstring wide(list[i].begin(), list[i].end());
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocString(wide.c_str());
            SafeArrayPutElement(n, &i, &v);
            VariantClear(&v);
        }
        V_VT(handles) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(handles) = h;
        V_VT(names) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(names) = n;
        return S_OK;
    }
};

struct FilterCase {
    const char *pattern;
    int kind;
    const char *text;
    bool matchesBlock;
};

class FilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, CompilesToItsKindAndMatchesTheNameBlock)
{
    const FilterCase &c = GetParam();
    CNameFilter filter(c.pattern);
    EXPECT_EQ(c.kind, filter.GetKind());
    EXPECT_EQ(std::string(c.text), filter.GetText());
    EXPECT_EQ(c.matchesBlock, filter.Match("BLOCK"));
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FilterTest,
    ::testing::Values(FilterCase{"*LOCK", 1, "LOCK", true}, FilterCase{"BL*", 2, "BL", true},
                      FilterCase{"*LO*", 3, "LO", true}, FilterCase{"block", 4, "block", false},
                      FilterCase{"LOCK*", 2, "LOCK", false}, FilterCase{"*", 0, "", true},
                      FilterCase{"", 0, "", true}, FilterCase{"*A*B", 1, "A*B", false},
                      FilterCase{"B*K", 0, "", true}, FilterCase{"BLOCK", 4, "BLOCK", true},
                      FilterCase{"*BLOCKS", 1, "BLOCKS", false}, FilterCase{"**", 3, "", true}));

TEST(FilterEdges, AShorterNameNeverMatchesExceptForEveryName)
{
    EXPECT_FALSE(CNameFilter("*LOCK").Match("OCK"));
    EXPECT_TRUE(CNameFilter("*A*B").Match("XA*B")) << "the text after the first star is literal";
    EXPECT_TRUE(CNameFilter("x*y").Match(""));
    EXPECT_FALSE(CNameFilter("ab").Match(nullptr));
}

TEST_F(KitTest, CommonAnswersItsOneLocaleAndTheMessageTexts)
{
    CountedOwner owner;
    CImpIOPCCommon common(&owner);
    EXPECT_EQ(E_INVALIDARG, common.SetLocaleID(1033));
    EXPECT_EQ(S_OK, common.SetLocaleID(2048));
    LCID lcid = 0;
    EXPECT_EQ(E_INVALIDARG, common.GetLocaleID(nullptr));
    EXPECT_EQ(S_OK, common.GetLocaleID(&lcid));
    EXPECT_EQ(2048u, lcid);

    DWORD count = 7;
    LCID *lcids = reinterpret_cast<LCID *>(1);
    EXPECT_EQ(E_INVALIDARG, common.QueryAvailableLocaleIDs(&count, nullptr));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(E_INVALIDARG, common.QueryAvailableLocaleIDs(nullptr, &lcids));
    EXPECT_EQ(nullptr, lcids);
    ASSERT_EQ(S_OK, common.QueryAvailableLocaleIDs(&count, &lcids));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(2048u, lcids[0]);
    CoTaskMemFree(lcids);

    struct {
        HRESULT code;
        HRESULT result;
        const wchar_t *text;
    } cases[] = {
        {HRESULT(0xC101011C), S_OK, L"The completion event of the transaction processor could not be set."},
        {HRESULT(0xC1FF0FFF), E_FAIL, nullptr},
    };
    for (auto &c : cases) {
        LPWSTR text = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(c.result, common.GetErrorString(c.code, &text)) << std::hex << c.code;
        if (c.text) {
            EXPECT_EQ(std::wstring(c.text), text ? text : L"(null)");
        } else {
            EXPECT_EQ(nullptr, text);
        }
        CoTaskMemFree(c.text ? text : nullptr);
    }
    EXPECT_EQ(E_INVALIDARG, common.GetErrorString(S_OK, nullptr));

    EXPECT_EQ(E_INVALIDARG, common.SetClientName(nullptr));
    EXPECT_EQ(S_OK, common.SetClientName(L"Client A"));
    EXPECT_EQ("Client A", common.GetClientName());

    // The tear-off's identity and count are the owner's.
    void *p = nullptr;
    EXPECT_EQ(S_OK, common.QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(&owner), p);
    EXPECT_EQ(2, owner.refs);
    common.Release();
    EXPECT_EQ(1, owner.refs);
}

TEST_F(KitTest, ErrorTextsAreCutAtTheFirstLineBreakAndAbsentWithoutALog)
{
    std::string text;
    EXPECT_TRUE(GetErrorText(0xC101011C, text));
    EXPECT_EQ(std::string::npos, text.find('\r'));
    CEventLog *log = g_pEventLog;
    g_pEventLog = nullptr;
    EXPECT_FALSE(GetErrorText(0xC101011C, text));
    ReportError("nowhere to go");
    g_pEventLog = log;
    ReportError(nullptr);
    ReportError("");
    EXPECT_EQ(0u, m_events.Count());
    ReportError("Told", 0xC1040009);
    ReportError("Default id");
    auto events = m_events.Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(0xC1040009u, events[0].id);
    EXPECT_EQ(0xC1040002u, events[1].id);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, events[1].type);
    EXPECT_EQ(std::vector<std::string>({"Default id"}), events[1].strings);
}

class ListTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        driver.channels = {{"Chan1", {"BLOCK", "Dev2"}}, {"Chan2", {"dev3", "BLOCKED"}}, {"Empty", {}}};
        g_pIDriver = &driver;
    }
    void TearDown() override
    {
        g_pIDriver = nullptr;
        EXPECT_EQ(1, driver.refs);
        KitTest::TearDown();
    }
    ListingDriver driver;
};

TEST_F(ListTest, DevicesComeFromEveryChannelOrTheNamedOneThroughTheFilter)
{
    struct {
        const char *filter;
        const char *channel;
        std::vector<std::string> expected;
    } cases[] = {
        {nullptr, nullptr, {"BLOCK", "Dev2", "dev3", "BLOCKED"}},
        {"BL*", nullptr, {"BLOCK", "BLOCKED"}},
        {"*LOCK", nullptr, {"BLOCK"}},
        {nullptr, "Chan2", {"dev3", "BLOCKED"}},
        {"dev*", "Chan2", {"dev3"}},
        {nullptr, "chan2", {}},
        {nullptr, "NoSuch", {}},
        {nullptr, "Empty", {}},
    };
    for (auto &c : cases) {
        std::vector<std::string> list;
        CNameFilter filter(c.filter);
        EXPECT_EQ(S_OK, ListDevices(list, c.filter ? &filter : nullptr, c.channel));
        EXPECT_EQ(c.expected, list) << (c.filter ? c.filter : "-") << " " << (c.channel ? c.channel : "-");
    }
    EXPECT_TRUE(IsDevice("block"));
    EXPECT_TRUE(IsDevice("DEV3"));
    EXPECT_FALSE(IsDevice("Chan1"));
}

TEST_F(ListTest, AFailingServerOrNoServerGivesEFail)
{
    std::vector<std::string> list;
    driver.failDevices = true;
    EXPECT_EQ(E_FAIL, ListDevices(list, nullptr, nullptr));
    EXPECT_FALSE(IsDevice("BLOCK"));
    g_pIDriver = nullptr;
    EXPECT_EQ(E_FAIL, ListDevices(list, nullptr, nullptr));
    EXPECT_FALSE(IsDriverRunning());
    g_pIDriver = &driver;
    EXPECT_FALSE(IsDriverRunning());
    driver.running = VARIANT_TRUE;
    EXPECT_TRUE(IsDriverRunning());
}

TEST_F(KitTest, StringEnumeratorsCopyTheListAndAnswerSFalseWhenEmpty)
{
    IEnumString *e = nullptr;
    EXPECT_EQ(E_INVALIDARG, CreateStringEnumerator({}, nullptr));
    ASSERT_EQ(S_FALSE, CreateStringEnumerator({}, &e));
    ASSERT_NE(nullptr, e);
    LPOLESTR text = nullptr;
    EXPECT_EQ(S_FALSE, e->Next(1, &text, nullptr));
    e->Release();
    ASSERT_EQ(S_OK, CreateStringEnumerator({"Dev1", "Dev2"}, &e));
    LPOLESTR texts[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, e->Next(2, texts, &fetched));
    EXPECT_EQ(std::wstring(L"Dev1"), texts[0]);
    EXPECT_EQ(std::wstring(L"Dev2"), texts[1]);
    CoTaskMemFree(texts[0]);
    CoTaskMemFree(texts[1]);
    e->Release();
}

// The class factory's list and its I/O server connection, with the
// connection replaced: the test prefix may have the real server registered.
int g_connects = 0;
ListingDriver *g_offered = nullptr;
HRESULT FakeConnect(REFCLSID clsid, IDriver **driver)
{
    ++g_connects;
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QORDriver));
    if (!g_offered)
        return REGDB_E_CLASSNOTREG;
    g_offered->AddRef();
    *driver = g_offered;
    return S_OK;
}

TEST_F(KitTest, FactoryConnectsWithTheFirstServerAndDropsTheConnectionWithTheLast)
{
    COPCDrvClassFactory::DriverConnector previous = g_ClassFactory.SetDriverConnector(&FakeConnect);
    g_connects = 0;
    g_offered = nullptr;
    ASSERT_TRUE(g_ClassFactory.SetDriverCLSID(CLSID_QORDriver));
    int a = 0, b = 0, c = 0;

    // No I/O server: logged, not fatal, tried again with the next object.
    void *first = g_ClassFactory.AddServer(&a);
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(nullptr, g_pIDriver);
    auto events = m_events.Events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(0xC1040002u, events[0].id);
    EXPECT_EQ(std::vector<std::string>({"Unable to connection to Hadrel"}), events[0].strings);

    ListingDriver driver;
    g_offered = &driver;
    void *second = g_ClassFactory.AddServer(&b);
    void *third = g_ClassFactory.AddServer(&c);
    EXPECT_EQ(2, g_connects) << "one connection for all objects";
    EXPECT_EQ(static_cast<IDriver *>(&driver), g_pIDriver);
    EXPECT_EQ(3u, g_ClassFactory.GetServerCount());
    EXPECT_TRUE(g_ClassFactory.CanUnloadNow());

    g_ClassFactory.RemoveServer(nullptr);
    g_ClassFactory.RemoveServer(second);
    g_ClassFactory.RemoveServer(first);
    EXPECT_EQ(2, driver.refs);
    g_ClassFactory.RemoveServer(third);
    EXPECT_EQ(0u, g_ClassFactory.GetServerCount());
    EXPECT_EQ(nullptr, g_pIDriver);
    EXPECT_EQ(1, driver.refs);
    EXPECT_FALSE(g_ClassFactory.CanUnloadNow());

    EXPECT_EQ(S_OK, g_ClassFactory.LockServer(TRUE));
    EXPECT_TRUE(g_ClassFactory.CanUnloadNow()) << "a lock alone keeps the library";
    EXPECT_EQ(S_OK, g_ClassFactory.LockServer(FALSE));
    EXPECT_FALSE(g_ClassFactory.CanUnloadNow());
    g_ClassFactory.SetDriverConnector(previous);
}

TEST_F(KitTest, FactoryRefusesAggregationAndANullResult)
{
    CountedOwner outer;
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, g_ClassFactory.CreateInstance(&outer, IID_IUnknown, &p));
    EXPECT_EQ(E_POINTER, g_ClassFactory.CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(2u, g_ClassFactory.AddRef());
    EXPECT_EQ(1u, g_ClassFactory.Release());
    IClassFactory *f = nullptr;
    EXPECT_EQ(S_OK, g_ClassFactory.QueryInterface(IID_IClassFactory, reinterpret_cast<void **>(&f)));
    EXPECT_EQ(E_NOINTERFACE, g_ClassFactory.QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&f)));
}

TEST_F(KitTest, ResultMemoryAndStreamValues)
{
    LPWSTR empty = AllocWideCopy(static_cast<const wchar_t *>(nullptr), g_pIMalloc);
    EXPECT_EQ(std::wstring(L""), empty);
    FreeResult(empty, g_pIMalloc);
    LPWSTR ansi = AllocWideCopy(std::string("Dev1"), nullptr);
    EXPECT_EQ(std::wstring(L"Dev1"), ansi);
    FreeResult(ansi, nullptr);
    BSTR b = SysAllocString(L"abc");
    LPWSTR fromBstr = AllocBstrCopy(b, g_pIMalloc);
    EXPECT_EQ(std::wstring(L"abc"), fromBstr);
    FreeResult(fromBstr, g_pIMalloc);

    VARIANT number, text;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 42;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = b;
    EXPECT_EQ(DWORD(sizeof(VARIANT)), StreamValueSize(&number));
    EXPECT_EQ(DWORD(sizeof(VARIANT) + 4 + 6), StreamValueSize(&text));
    BYTE stream[64] = {};
    EXPECT_EQ(StreamValueSize(&text), StreamValueCopy(stream, &text));
    DWORD bytes = 0;
    std::memcpy(&bytes, stream + sizeof(VARIANT), 4);
    EXPECT_EQ(6u, bytes);
    EXPECT_EQ(0, std::memcmp(stream + sizeof(VARIANT) + 4, L"abc", 6));
    SysFreeString(b);

    SAFEARRAY *array = nullptr;
    ASSERT_EQ(S_OK, CreateVariantArray(3, &array));
    EXPECT_EQ(VT_VARIANT, [&] { VARTYPE vt = 0; SafeArrayGetVartype(array, &vt); return vt; }());
    EXPECT_EQ(3u, array->rgsabound[0].cElements);
    SafeArrayDestroy(array);
}

TEST_F(KitTest, ItemAttributesCopyDeeplyAndFreeAll)
{
    OPCITEMATTRIBUTES from = {};
    from.szItemID = const_cast<LPWSTR>(L"Item");
    from.hServer = 7;
    BYTE blob[2] = {1, 2};
    from.dwBlobSize = 2;
    from.pBlob = blob;
    V_VT(&from.vEUInfo) = VT_ARRAY | VT_R8;
    V_ARRAY(&from.vEUInfo) = SafeArrayCreateVector(VT_R8, 0, 2);
    OPCITEMATTRIBUTES to;
    ASSERT_EQ(S_OK, CopyItemAttributes(&to, &from, g_pIMalloc));
    EXPECT_EQ(7u, to.hServer);
    EXPECT_NE(from.szItemID, to.szItemID);
    EXPECT_EQ(std::wstring(L"Item"), to.szItemID);
    EXPECT_NE(blob, to.pBlob);
    EXPECT_NE(V_ARRAY(&from.vEUInfo), V_ARRAY(&to.vEUInfo)) << "the EU array is the copy's own";
    FreeItemAttributes(&to, g_pIMalloc);
    EXPECT_EQ(nullptr, to.szItemID);
    VariantClear(&from.vEUInfo);
}

}  // namespace
