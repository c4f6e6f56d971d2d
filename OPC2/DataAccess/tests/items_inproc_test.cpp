// Brisko's group and item objects in this process, on the I/O server that
// the items test set up: the change test and deadband, item management's
// edge cases, and the group's calls from several threads while the poll
// thread runs, with every object freed at the end.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BlockAnswers.h"
#include "Brisko.h"
#include "ClassFactory.h"
#include "EventLogRecorder.h"
#include "OPCDrvGroup.h"
#include "OPCDrvItem.h"
#include "OPCDrvServer.h"
#include "Object.h"
#include "OpcKit.h"
#include "items_fixture.h"

namespace {

VARIANT R4(float value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = value;
    return v;
}

// The change test on one item of a group of no server: the cached value
// against a new one, by deadband and span, in single precision.
TEST(ItemChange, DeadbandQualityAndTypeDecideWhatIsAChange)
{
    struct {
        float deadband, low, high, cached, fresh;
        WORD oldQuality, newQuality;
        bool changed;
        const char *why;
    } cases[] = {
        {10, 0, 200, 0, 20, 0xC0, 0xC0, true, "exactly 10 % of 0..200"},
        {10, 0, 200, 0, 19.9f, 0xC0, 0xC0, false, "below 10 %"},
        {10, 0, 200, 20, 0, 0xC0, 0xC0, true, "downwards"},
        {10, 200, 0, 0, 20, 0xC0, 0xC0, true, "a span written high to low keeps its width"},
        {10, 200, 0, 0, 19.9f, 0xC0, 0xC0, false, "and its threshold"},
        {10, 5, 5, 1, 1, 0xC0, 0xC0, false, "no span: the same value is no change"},
        {10, 5, 5, 1, 1.5f, 0xC0, 0xC0, true, "no span: a different value is"},
        {0, 0, 200, 1, 1.0001f, 0xC0, 0xC0, true, "no deadband: any difference"},
        {0, 0, 200, 1, 1, 0xC0, 0xC0, false, "no deadband: the same value"},
        {10, 0, 200, 1, 1, 0xC0, 0x40, true, "quality alone"},
    };
    COPCDrvGroup *group = new COPCDrvGroup(nullptr);
    group->AddRef();
    for (auto &c : cases) {
        COPCDrvItem *item = new COPCDrvItem(group);
        item->AddRef();
        group->m_fDeadband = c.deadband;
        item->m_kind.low = c.low;
        item->m_kind.span = c.high - c.low;
        VARIANT cached = R4(c.cached), fresh = R4(c.fresh);
        VariantCopy(&item->m_value, &cached);
        item->m_bCacheValid = true;
        item->m_wQuality = c.newQuality;  // what the read just wrote
        EXPECT_EQ(c.changed, item->HasChanged(fresh, c.oldQuality, 0)) << c.why;
        item->Release();
    }
    // An invalid cache, another type, a status change, texts and flags.
    COPCDrvItem *item = new COPCDrvItem(group);
    item->AddRef();
    group->m_fDeadband = 0;
    VARIANT one = R4(1);
    EXPECT_TRUE(item->HasChanged(one, item->m_wQuality, 0)) << "nothing cached yet";
    VariantCopy(&item->m_value, &one);
    item->m_bCacheValid = true;
    VARIANT i2;
    VariantInit(&i2);
    V_VT(&i2) = VT_I2;
    V_I2(&i2) = 1;
    EXPECT_TRUE(item->HasChanged(i2, item->m_wQuality, 0)) << "another type";
    EXPECT_TRUE(item->HasChanged(one, item->m_wQuality, 0x1FE)) << "the status changed";
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    V_VT(&a) = VT_BSTR;
    V_BSTR(&a) = SysAllocString(L"AB");
    V_VT(&b) = VT_BSTR;
    V_BSTR(&b) = SysAllocString(L"AC");
    VariantCopy(&item->m_value, &a);
    EXPECT_FALSE(item->HasChanged(a, item->m_wQuality, 0));
    EXPECT_TRUE(item->HasChanged(b, item->m_wQuality, 0));
    VariantClear(&a);
    VariantClear(&b);
    item->Release();
    EXPECT_EQ(0u, group->Release());
}

class GroupInProcess : public ItemsFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(S_OK, ProcessAttach());
        m_live = LiveObjectCount();
        ASSERT_EQ(S_OK, g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&server)));
    }
    void TearDown() override
    {
        if (server) {
            EXPECT_EQ(0u, server->Release());
        }
        EXPECT_EQ(m_live, LiveObjectCount()) << "every server, group, item and point freed";
        ProcessDetach(true);
        CoUninitialize();
    }
    IOPCItemMgt *AddGroup(const wchar_t *name, BOOL active, OPCHANDLE *handle = nullptr)
    {
        OPCHANDLE own = 0;
        DWORD revised = 0;
        IOPCItemMgt *items = nullptr;
        EXPECT_EQ(S_OK, server->AddGroup(name, active, 25, 1, nullptr, nullptr, 2048, &own, &revised,
                                         IID_IOPCItemMgt, reinterpret_cast<IUnknown **>(&items)));
        if (handle)
            *handle = own;
        return items;
    }
    // Adds the items; their server handles (0 for a failed entry).
    std::vector<OPCHANDLE> Add(IOPCItemMgt *items, std::vector<const wchar_t *> ids, VARTYPE type = VT_EMPTY,
                               BOOL active = TRUE)
    {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            defs[i] = OPCITEMDEF();
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i]);
            defs[i].bActive = active;
            defs[i].hClient = OPCHANDLE(i + 1);
            defs[i].vtRequestedDataType = type;
        }
        OPCITEMRESULT *results = nullptr;
        HRESULT *errors = nullptr;
        std::vector<OPCHANDLE> handles;
        if (SUCCEEDED(items->AddItems(DWORD(ids.size()), defs.data(), &results, &errors)))
            for (size_t i = 0; i < ids.size(); ++i)
                handles.push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handles;
    }
    IOPCServer *server = nullptr;
    unsigned m_live = 0;
    CEventLogRecorder m_events;
};

TEST_F(GroupInProcess, ItemManagementAnswersItsEdgeCases)
{
    OPCHANDLE otherHandle = 0;
    IOPCItemMgt *items = AddGroup(L"Items", TRUE);
    IOPCItemMgt *other = AddGroup(L"Other", TRUE, &otherHandle);
    ASSERT_TRUE(items && other);
    std::vector<OPCHANDLE> mine = Add(items, {L"PLC1 DB10,0", L"PLC1 DB10,2"});
    std::vector<OPCHANDLE> theirs = Add(other, {L"PLC1 DB10,4"});
    ASSERT_EQ(2u, mine.size());
    ASSERT_TRUE(mine[0] && mine[1] && theirs.at(0));

    HRESULT *errors = nullptr;
    OPCHANDLE clients[3] = {7, 8, 9};
    VARTYPE types[3] = {VT_BOOL, VT_I4, VT_R4};
    struct {
        const char *call;
        HRESULT result;
        HRESULT (*run)(IOPCItemMgt *, DWORD, OPCHANDLE *, OPCHANDLE *, VARTYPE *, HRESULT **);
        DWORD count;
    } table[] = {
        {"SetClientHandles count 0", E_FAIL,
         [](IOPCItemMgt *m, DWORD n, OPCHANDLE *h, OPCHANDLE *c, VARTYPE *, HRESULT **e) { return m->SetClientHandles(n, h, c, e); }, 0},
        {"SetDatatypes count 0", E_FAIL,
         [](IOPCItemMgt *m, DWORD n, OPCHANDLE *h, OPCHANDLE *, VARTYPE *t, HRESULT **e) { return m->SetDatatypes(n, h, t, e); }, 0},
        {"SetActiveState count 0", E_INVALIDARG,
         [](IOPCItemMgt *m, DWORD n, OPCHANDLE *h, OPCHANDLE *, VARTYPE *, HRESULT **e) { return m->SetActiveState(n, h, TRUE, e); }, 0},
        {"RemoveItems count 0", E_INVALIDARG,
         [](IOPCItemMgt *m, DWORD n, OPCHANDLE *h, OPCHANDLE *, VARTYPE *, HRESULT **e) { return m->RemoveItems(n, h, e); }, 0},
        {"SetClientHandles null errors", E_INVALIDARG,
         [](IOPCItemMgt *m, DWORD n, OPCHANDLE *h, OPCHANDLE *c, VARTYPE *, HRESULT **) { return m->SetClientHandles(n, h, c, nullptr); }, 1},
    };
    OPCHANDLE handles[3] = {mine[0], mine[1], theirs[0]};
    for (auto &row : table) {
        EXPECT_EQ(row.result, row.run(items, row.count, handles, clients, types, &errors)) << row.call;
        EXPECT_EQ(nullptr, errors) << row.call;
    }
    // Per entry: an item of another group is no item of this one; an analog
    // item refuses VT_BOOL.
    ASSERT_EQ(S_FALSE, items->SetDatatypes(3, handles, types, &errors));
    EXPECT_EQ(OPC_E_BADTYPE, errors[0]);
    EXPECT_EQ(S_OK, errors[1]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[2]);
    CoTaskMemFree(errors);
    ASSERT_EQ(S_FALSE, items->SetClientHandles(3, handles, clients, &errors));
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[2]);
    CoTaskMemFree(errors);

    IUnknown *e = nullptr;
    EXPECT_EQ(E_INVALIDARG, items->CreateEnumerator(IID_IEnumString, &e));
    ASSERT_EQ(S_OK, items->CreateEnumerator(IID_IEnumOPCItemAttributes, &e));
    OPCITEMATTRIBUTES *a = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, static_cast<IEnumOPCItemAttributes *>(e)->Next(5, &a, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(7u, a[0].hClient);
    EXPECT_EQ(VT_I4, a[1].vtRequestedDataType);
    for (ULONG i = 0; i < fetched; ++i)
        FreeItemAttributes(&a[i], g_pIMalloc);
    CoTaskMemFree(a);
    e->Release();

    // Removing twice: the second time the handle names nothing.
    ASSERT_EQ(S_OK, items->RemoveItems(2, handles, &errors));
    CoTaskMemFree(errors);
    ASSERT_EQ(S_FALSE, items->RemoveItems(3, handles, &errors));
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[0]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[2]) << "another group's item is not removed here";
    CoTaskMemFree(errors);
    EXPECT_EQ(S_FALSE, items->CreateEnumerator(IID_IEnumOPCItemAttributes, &e));
    EXPECT_EQ(nullptr, e);

    // A clone is inactive, with the items and rate of its source.
    IOPCGroupStateMgt *state = nullptr, *clone = nullptr;
    other->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void **>(&state));
    EXPECT_EQ(OPC_E_DUPLICATENAME, state->CloneGroup(L"Items", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&clone)));
    ASSERT_EQ(S_OK, state->CloneGroup(L"", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&clone)));
    DWORD rate, lcid;
    BOOL active;
    LPWSTR name = nullptr;
    LONG bias;
    FLOAT deadband;
    OPCHANDLE client, own;
    ASSERT_EQ(S_OK, clone->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &own));
    EXPECT_EQ(FALSE, active);
    EXPECT_EQ(25u, rate);
    EXPECT_STREQ(L"Group2", name);
    CoTaskMemFree(name);
    IOPCItemMgt *cloneItems = nullptr;
    clone->QueryInterface(IID_IOPCItemMgt, reinterpret_cast<void **>(&cloneItems));
    ASSERT_EQ(S_OK, cloneItems->CreateEnumerator(IID_IEnumOPCItemAttributes, &e));
    ASSERT_EQ(S_OK, static_cast<IEnumOPCItemAttributes *>(e)->Next(1, &a, &fetched));
    EXPECT_STREQ(L"PLC1 DB10,4", a->szItemID);
    EXPECT_NE(theirs[0], a->hServer) << "the clone has items of its own";
    FreeItemAttributes(a, g_pIMalloc);
    CoTaskMemFree(a);
    e->Release();
    cloneItems->Release();
    EXPECT_EQ(S_OK, server->RemoveGroup(own, TRUE));
    clone->Release();
    state->Release();
    items->Release();
    other->Release();
}

// The items of one AddItems call share what the I/O server answered about
// their blocks: each block is asked about once (again after an item made it
// grow), and every item still gets the records and result of a parse of its
// own, which a call with that item alone gives.
TEST_F(GroupInProcess, ItemsOfOneCallShareTheirBlocksAnswers)
{
    IQORDriver *driver = Session()->driver;
    long device = 0;
    VARIANT_BOOL found = VARIANT_FALSE;
    BSTR name = SysAllocString(L"PLC1");
    ASSERT_EQ(S_OK, driver->ObjectName2Handle(name, &device, &found));
    SysFreeString(name);
    long grow = 0;
    {
        // INT words DB40,0 to DB40,3, which items below extend.
        kivserver::Properties p({{"Name", kivserver::Text("GrowBlk")}, {"DataType", kivserver::I2(1)},
                                 {"StartAddress", kivserver::Text("DB40,0")}, {"Length", kivserver::I4(4)},
                                 {"Enabled", kivserver::I2(1)}});
        VARIANT errors;
        VariantInit(&errors);
        ASSERT_EQ(S_OK, driver->AddDataBlock(device, p.names, p.values, &errors, &grow));
        VariantClear(&errors);
    }
    struct Case {
        const wchar_t *id;
        VARTYPE type;
    };
    const Case cases[] = {
        {L"PLC1 DB10,0", VT_EMPTY},
        {L"PLC1:DB10:2", VT_EMPTY},
        {L"  plc1/db10.4|NONE", VT_EMPTY},
        {L"PLC1 DB10,6", VT_I4},
        {L"PLC1 DB10,18", VT_EMPTY},  // the last word
        {L"PLC1 DB10,3", VT_EMPTY},   // between two words: refused
        {L"PLC1 DB10,0:1", VT_EMPTY}, // a bit of an analog item
        {L"!PLC1 DB12,0:3", VT_EMPTY},
        {L"!PLC1 DB12,3:7", VT_EMPTY},
        {L"PLC1 DB12,1:5", VT_BOOL},
        {L"!PLC1 DB12,2", VT_EMPTY},
        {L"PLC1 DB13,0", VT_BSTR},
        {L"PLC1 DB13,100|20", VT_BSTR},
        {L"PLC1 DB13,10", VT_EMPTY},  // a text item by its block's type
        {L"PLC1 DB40,0", VT_EMPTY},
        {L"PLC1 DB40,2", VT_EMPTY},
        {L"PLC1 DB40,4", VT_EMPTY},  // grows the block
        {L"PLC1 DB40,2", VT_EMPTY},
        {L"PLC1 DB40,6", VT_EMPTY},  // grows it again
        {L"PLC1 DB40,4", VT_EMPTY},
        {L"NOPLC DB10,0", VT_EMPTY},
        {L"PLC1 DB10", VT_EMPTY},
    };
    struct Outcome {
        HRESULT hr = E_FAIL;
        BYTE kind = 0;
        VARTYPE canonical = VT_EMPTY;  // from the value once the block was read
        bool read = false;
        KivDevice device = {};
        KivAddress address = {};
    };
    IDriver *server = g_ClassFactory.AcquireDriver();
    ASSERT_NE(nullptr, server);
    auto setUp = [&](const Case &c, CBlockAnswers &answers) {
        COPCDrvItem *item = new COPCDrvItem(nullptr);
        item->AddRef();
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(c.id);
        def.vtRequestedDataType = c.type;
        OPCITEMRESULT result = {};
        Outcome o;
        o.hr = item->SetUp(&def, &result, answers);
        o.kind = item->m_kind.kind;
        o.canonical = result.vtCanonicalDataType;
        o.read = (item->m_wQuality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
        o.device = item->m_device;
        o.address = item->m_addressRecord;
        item->Release();
        return o;
    };
    CBlockAnswers shared(server);
    std::vector<Outcome> together;
    for (const Case &c : cases)
        together.push_back(setUp(c, shared));
    unsigned parsed = 0;
    for (const Outcome &o : together)
        parsed += o.hr == S_OK;
    EXPECT_GE(shared.Answered(), 10u) << "most items were answered without the server";
    EXPECT_LE(shared.Asked(), parsed - shared.Answered())
        << "a block is asked about only after the server parsed an address of it";

    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.id)));
        CBlockAnswers alone(server);
        Outcome own = setUp(c, alone);
        EXPECT_EQ(0u, alone.Answered());
        const Outcome &t = together[i];
        EXPECT_EQ(own.hr, t.hr);
        EXPECT_EQ(own.kind, t.kind);
        if (own.read && t.read) {
            EXPECT_EQ(own.canonical, t.canonical);
        }
        if (own.hr != S_OK || t.hr != S_OK)
            continue;
        EXPECT_EQ(own.device.blockHandle, t.device.blockHandle);
        EXPECT_EQ(own.device.addressWord, t.device.addressWord);
        EXPECT_EQ(own.device.deviceReference, t.device.deviceReference);
        EXPECT_EQ(own.address.internalAddress, t.address.internalAddress);
        EXPECT_EQ(own.address.blockIndex, t.address.blockIndex);
        EXPECT_STREQ(own.address.text, t.address.text);
    }
    server->Release();
    EXPECT_EQ(S_OK, driver->RemoveDataBlock(device, grow));
}

// A value that the requested type cannot hold: quality 0, status 0x1FE.
TEST_F(GroupInProcess, AFailedConversionGivesQualityZeroAndItsStatus)
{
    ASSERT_TRUE(Session()->Put(10, 6, {0x01, 0x2C}));  // 300
    Sleep(300);
    IOPCItemMgt *items = AddGroup(L"Conv", FALSE);
    std::vector<OPCHANDLE> handles = Add(items, {L"PLC1 DB10,6"}, VT_UI1, FALSE);
    ASSERT_TRUE(handles.at(0));
    COPCDrvItem *item = LiveObjectAs<COPCDrvItem>(handles[0]);
    ASSERT_NE(nullptr, item);
    item->ReadDevice();
    EXPECT_EQ(0, item->m_wQuality);
    EXPECT_EQ(0x1FE, item->m_wStatus);
    items->Release();
}

// Clones, item changes and state changes from several threads while the poll
// thread passes, then the forced removal of a group the client still holds.
TEST_F(GroupInProcess, ParallelCallsWhilePollingNeitherHangNorLeak)
{
    OPCHANDLE handle = 0;
    IOPCItemMgt *items = AddGroup(L"Busy", TRUE, &handle);
    ASSERT_EQ(3u, Add(items, {L"PLC1 DB10,0", L"PLC1 DB10,2", L"PLC1 DB10,4"}).size());
    IOPCGroupStateMgt *state = nullptr;
    items->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void **>(&state));
    std::atomic<bool> stop{false};
    std::atomic<int> clones{0}, adds{0}, states{0};
    auto mta = [](auto body) {
        return std::thread([body] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            body();
            CoUninitialize();
        });
    };
    std::vector<std::thread> threads;
    threads.push_back(mta([&] {
        while (!stop) {
            IOPCGroupStateMgt *clone = nullptr;
            if (state->CloneGroup(L"", IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown **>(&clone)) == S_OK) {
                DWORD rate, lcid;
                BOOL active;
                LPWSTR name = nullptr;
                LONG bias;
                FLOAT deadband;
                OPCHANDLE client, own = 0;
                clone->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &own);
                CoTaskMemFree(name);
                server->RemoveGroup(own, TRUE);
                clone->Release();
                ++clones;
            }
        }
    }));
    threads.push_back(mta([&] {
        while (!stop) {
            std::vector<OPCHANDLE> added = Add(items, {L"PLC1 DB10,6", L"PLC1 DB10,8"});
            HRESULT *errors = nullptr;
            if (added.size() == 2 && SUCCEEDED(items->RemoveItems(2, added.data(), &errors)))
                ++adds;
            CoTaskMemFree(errors);
        }
    }));
    threads.push_back(mta([&] {
        for (BOOL active = FALSE; !stop; active = !active) {
            DWORD revised = 0, rate = 25;
            state->SetState(&rate, &revised, &active, nullptr, nullptr, nullptr, nullptr);
            ++states;
        }
    }));
    Sleep(2000);
    EXPECT_EQ(S_OK, server->RemoveGroup(handle, TRUE)) << "forced while held and busy";
    Sleep(200);
    stop = true;
    for (std::thread &t : threads)
        t.join();
    EXPECT_GT(clones.load(), 0);
    EXPECT_GT(adds.load(), 0);
    EXPECT_GT(states.load(), 0);
    state->Release();
    EXPECT_EQ(0u, items->Release()) << "the last reference frees the removed group";
}

}  // namespace

namespace {

class RecordingCallback : public IOPCDataCallback {
public:
    std::vector<std::string> calls;
    CRITICAL_SECTION cs;
    RecordingCallback() { InitializeCriticalSection(&cs); }
    ~RecordingCallback() { DeleteCriticalSection(&cs); }
    void Note(const std::string &call)
    {
        EnterCriticalSection(&cs);
        calls.push_back(call);
        LeaveCriticalSection(&cs);
    }
    std::vector<std::string> Calls()
    {
        EnterCriticalSection(&cs);
        std::vector<std::string> copy = calls;
        LeaveCriticalSection(&cs);
        return copy;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IOPCDataCallback) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnDataChange(DWORD t, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE *, VARIANT *, WORD *,
                              FILETIME *, HRESULT *) override
    {
        if (t)
            Note("change " + std::to_string(t));
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD t, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE *, VARIANT *, WORD *,
                                FILETIME *, HRESULT *) override
    {
        Note("read " + std::to_string(t));
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD t, OPCHANDLE, HRESULT, DWORD, OPCHANDLE *, HRESULT *) override
    {
        Note("write " + std::to_string(t));
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD t, OPCHANDLE) override
    {
        Note("cancel " + std::to_string(t));
        return S_OK;
    }
};

// The asynchronous calls' argument and edge cases as one table, then a
// cancelled read that ends with OnCancelComplete and never with
// OnReadComplete (the pass held off while read and cancel are queued).
TEST_F(GroupInProcess, AsyncCallsCheckTheirArgumentsAndCancelBeforeThePass)
{
    OPCHANDLE groupHandle = 0;
    IOPCItemMgt *items = AddGroup(L"Async", TRUE, &groupHandle);
    std::vector<OPCHANDLE> handles = Add(items, {L"PLC1 DB10,0", L"PLC1 DB10,2"});
    ASSERT_EQ(2u, handles.size());
    IOPCAsyncIO2 *io = nullptr;
    IOPCSyncIO *sync = nullptr;
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void **>(&io)));
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
    OPCHANDLE good[2] = {handles[0], handles[1]}, mixed[2] = {handles[0], 0x7777}, bad[1] = {0x7777};
    DWORD cancel = 0;
    HRESULT *errors = nullptr;
    BOOL enabled = FALSE;
    // Without a sink.
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->Read(2, good, 5, &cancel, &errors));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->Refresh2(OPC_DS_CACHE, 5, &cancel));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->GetEnable(&enabled));
    RecordingCallback sink;
    IConnectionPointContainer *container = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point));
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_EQ(S_OK, io->GetEnable(&enabled));
    EXPECT_TRUE(enabled);

    VARIANT values[2];
    VariantInit(&values[0]);
    VariantInit(&values[1]);
    struct {
        const char *call;
        HRESULT result;
        bool cancelSet;
        std::function<HRESULT(DWORD *, HRESULT **)> run;
    } table[] = {
        {"null handles", E_INVALIDARG, false, [&](DWORD *c, HRESULT **e) { return io->Read(2, nullptr, 5, c, e); }},
        {"null cancel id", E_INVALIDARG, false, [&](DWORD *, HRESULT **e) { return io->Read(2, good, 5, nullptr, e); }},
        {"null errors", E_INVALIDARG, false, [&](DWORD *c, HRESULT **) { return io->Read(2, good, 5, c, nullptr); }},
        {"count 0", E_INVALIDARG, false, [&](DWORD *c, HRESULT **e) { return io->Read(0, good, 5, c, e); }},
        {"transaction id 0", E_INVALIDARG, false, [&](DWORD *c, HRESULT **e) { return io->Read(2, good, 0, c, e); }},
        {"write without values", E_INVALIDARG, false,
         [&](DWORD *c, HRESULT **e) { return io->Write(2, good, nullptr, 5, c, e); }},
        {"only bad handles", OPC_E_INVALIDHANDLE, false, [&](DWORD *c, HRESULT **e) { return io->Read(1, bad, 5, c, e); }},
        {"good and bad", S_FALSE, true, [&](DWORD *c, HRESULT **e) { return io->Read(2, mixed, 5, c, e); }},
        {"good", S_OK, true, [&](DWORD *c, HRESULT **e) { return io->Read(2, good, 6, c, e); }},
        {"refresh", S_OK, true, [&](DWORD *c, HRESULT **) { return io->Refresh2(OPC_DS_DEVICE, 7, c); }},
        {"refresh id 0", E_INVALIDARG, false, [&](DWORD *c, HRESULT **) { return io->Refresh2(OPC_DS_DEVICE, 0, c); }},
        {"sync read count 0", E_FAIL, false,
         [&](DWORD *, HRESULT **e) { OPCITEMSTATE *s = nullptr; return sync->Read(OPC_DS_CACHE, 0, good, &s, e); }},
        {"sync write count 0", E_INVALIDARG, false, [&](DWORD *, HRESULT **e) { return sync->Write(0, good, values, e); }},
    };
    COPCDrvGroup *group = LiveObjectAs<COPCDrvGroup>(groupHandle);
    ASSERT_NE(nullptr, group);
    std::vector<DWORD> ids;
    EnterCriticalSection(&group->m_cs);  // no pass until the table is through
    for (auto &row : table) {
        DWORD c = 0xDEAD;
        HRESULT *e = nullptr;
        EXPECT_EQ(row.result, row.run(&c, &e)) << row.call;
        EXPECT_EQ(row.cancelSet, c != 0 && c != 0xDEAD) << row.call;
        if (row.cancelSet)
            ids.push_back(c);
        CoTaskMemFree(e);
    }
    for (size_t i = 1; i < ids.size(); ++i)
        EXPECT_NE(ids[i - 1], ids[i]) << "cancel ids are unique";
    // Cancel the good read (transaction 6); an unknown cancel id fails.
    EXPECT_EQ(S_OK, io->Cancel2(ids[1]));
    EXPECT_EQ(E_FAIL, io->Cancel2(ids[1]));
    EXPECT_EQ(E_FAIL, io->Cancel2(0x12345));
    LeaveCriticalSection(&group->m_cs);
    Sleep(400);
    std::vector<std::string> calls = sink.Calls();
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "read 5"));
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "change 7")) << "the refresh";
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "cancel 6"));
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), "read 6")) << "a cancelled read is never made";
    EXPECT_EQ(S_OK, io->SetEnable(FALSE));
    EXPECT_EQ(S_OK, io->GetEnable(&enabled));
    EXPECT_FALSE(enabled);

    // A transaction still pending when the group goes is freed with it.
    EnterCriticalSection(&group->m_cs);
    EXPECT_EQ(S_OK, io->Read(2, good, 9, &cancel, &errors));
    CoTaskMemFree(errors);
    EXPECT_EQ(S_OK, server->RemoveGroup(groupHandle, TRUE));
    LeaveCriticalSection(&group->m_cs);
    point->Unadvise(cookie);
    point->Release();
    container->Release();
    io->Release();
    sync->Release();
    EXPECT_EQ(0u, items->Release());
}

}  // namespace

#include "ImpIDataObject.h"

namespace {

// An OPC 1.0 client's sink: keeps each block it is handed, by format.
class RecordingAdviseSink : public IAdviseSink {
public:
    struct Block {
        CLIPFORMAT format;
        std::vector<BYTE> bytes;
    };
    CRITICAL_SECTION cs;
    std::vector<Block> blocks;
    RecordingAdviseSink() { InitializeCriticalSection(&cs); }
    ~RecordingAdviseSink() { DeleteCriticalSection(&cs); }
    std::vector<Block> Blocks()
    {
        EnterCriticalSection(&cs);
        std::vector<Block> copy = blocks;
        LeaveCriticalSection(&cs);
        return copy;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IAdviseSink) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void) OnDataChange(FORMATETC *format, STGMEDIUM *medium) override
    {
        const BYTE *data = static_cast<const BYTE *>(GlobalLock(medium->hGlobal));
        DWORD size = format->cfFormat == g_cfWriteComplete ? 16 + 8 * reinterpret_cast<const DWORD *>(data)[0]
                                                           : reinterpret_cast<const DWORD *>(data)[0];
        EnterCriticalSection(&cs);
        blocks.push_back({format->cfFormat, std::vector<BYTE>(data, data + size)});
        LeaveCriticalSection(&cs);
        GlobalUnlock(medium->hGlobal);
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
    STDMETHODIMP_(void) OnRename(IMoniker *) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}
};

template <class T> T At(const std::vector<BYTE> &bytes, size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::vector<BYTE> BlockBytes(HGLOBAL block, SIZE_T size)
{
    const BYTE *data = static_cast<const BYTE *>(GlobalLock(block));
    std::vector<BYTE> bytes(data, data + size);
    GlobalUnlock(block);
    GlobalFree(block);
    return bytes;
}

// The stream layouts byte for byte, and the advise rules.
TEST_F(GroupInProcess, OpcOneStreamsHaveTheirLayoutsAndAdviseRules)
{
    // The headers keep their 32-bit sizes; a value is the platform's own
    // VARIANT (16 bytes on 32-bit Windows, 24 on 64-bit).
    const DWORD groupHeader = sizeof(OPCGROUPHEADER), plainItem = sizeof(OPCITEMHEADER2),
                timedItem = sizeof(OPCITEMHEADER1), variantBytes = sizeof(VARIANT);
    const DWORD plainSize = groupHeader + 2 * plainItem + 2 * variantBytes;
    const DWORD timedSize = groupHeader + 2 * timedItem + 2 * variantBytes;
    OPCHANDLE groupHandle = 0;
    IOPCItemMgt *items = AddGroup(L"Streams", TRUE, &groupHandle);
    std::vector<OPCHANDLE> h = Add(items, {L"PLC1 DB10,2", L"PLC1 DB10,4", L"PLC1 DB10,6"}, VT_I2);
    ASSERT_EQ(3u, h.size());
    COPCDrvGroup *group = LiveObjectAs<COPCDrvGroup>(groupHandle);
    IDataObject *data = nullptr;
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IDataObject, reinterpret_cast<void **>(&data)));
    CImpIDataObject *streams = group->DataObject();
    ASSERT_NE(nullptr, streams);

    EnterCriticalSection(&group->m_cs);
    std::vector<BYTE> plain = BlockBytes(streams->BuildData({h[0], h[1]}, false, 0, SOURCE_CACHE), plainSize);
    std::vector<BYTE> timed = BlockBytes(streams->BuildData({h[0], h[1]}, true, 5, SOURCE_CACHE), timedSize);
    LeaveCriticalSection(&group->m_cs);
    EXPECT_EQ(plainSize, At<DWORD>(plain, 0));
    EXPECT_EQ(2u, At<DWORD>(plain, 4));
    EXPECT_EQ(1u, At<DWORD>(plain, 8)) << "the group's client handle";
    EXPECT_EQ(0u, At<DWORD>(plain, 12));
    EXPECT_EQ(S_OK, At<HRESULT>(plain, 16));
    EXPECT_EQ(1u, At<DWORD>(plain, 20)) << "first item's client handle";
    EXPECT_EQ(groupHeader + 2 * plainItem, At<DWORD>(plain, 24)) << "the values follow the headers";
    EXPECT_EQ(groupHeader + 2 * plainItem + variantBytes, At<DWORD>(plain, 36));
    EXPECT_EQ(VT_I2, At<VARTYPE>(plain, groupHeader + 2 * plainItem));
    EXPECT_EQ(timedSize, At<DWORD>(timed, 0));
    EXPECT_EQ(5u, At<DWORD>(timed, 12));
    EXPECT_EQ(groupHeader + 2 * timedItem, At<DWORD>(timed, 24));
    EXPECT_NE(0u, At<DWORD>(timed, 32) | At<DWORD>(timed, 36)) << "a time stamp";
    EXPECT_EQ(VT_I2, At<VARTYPE>(timed, groupHeader + 2 * timedItem));
    VARIANT ab;
    VariantInit(&ab);
    V_VT(&ab) = VT_BSTR;
    V_BSTR(&ab) = SysAllocString(L"AB");
    EXPECT_EQ(variantBytes + 4 + 4, StreamValueSize(&ab)) << "the VARIANT, the length 4 and the four bytes";
    VariantClear(&ab);

    // A removed item: a zero header and S_FALSE; a failed write carries its code.
    HRESULT *errors = nullptr;
    ASSERT_EQ(S_OK, items->RemoveItems(1, &h[2], &errors));
    CoTaskMemFree(errors);
    EnterCriticalSection(&group->m_cs);
    const DWORD partialSize = groupHeader + 2 * plainItem + variantBytes;
    std::vector<BYTE> partial = BlockBytes(streams->BuildData({h[0], h[2]}, false, 9, SOURCE_CACHE), partialSize);
    std::vector<BYTE> written =
        BlockBytes(streams->BuildWriteComplete({h[0], h[1], h[2]}, {S_OK, E_FAIL, S_OK}, 11), 40);
    LeaveCriticalSection(&group->m_cs);
    EXPECT_EQ(partialSize, At<DWORD>(partial, 0));
    EXPECT_EQ(S_FALSE, At<HRESULT>(partial, 16));
    EXPECT_EQ(std::vector<BYTE>(plainItem, 0), std::vector<BYTE>(partial.begin() + groupHeader + plainItem,
                                                     partial.begin() + groupHeader + 2 * plainItem));
    EXPECT_EQ(3u, At<DWORD>(written, 0));
    EXPECT_EQ(11u, At<DWORD>(written, 8));
    EXPECT_EQ(S_FALSE, At<HRESULT>(written, 12));
    EXPECT_EQ(S_OK, At<HRESULT>(written, 20));
    EXPECT_EQ(E_FAIL, At<HRESULT>(written, 28)) << "the failed write's own code";
    EXPECT_EQ(0u, At<DWORD>(written, 32));

    // A transaction's cache read of an inactive group: its header already
    // says out of service.
    BOOL inactive = FALSE;
    DWORD revised = 0;
    IOPCGroupStateMgt *state = nullptr;
    items->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void **>(&state));
    ASSERT_EQ(S_OK, state->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, nullptr));
    EnterCriticalSection(&group->m_cs);
    std::vector<BYTE> stale =
        BlockBytes(streams->BuildData({h[0]}, true, 12, SOURCE_CACHE), groupHeader + timedItem + variantBytes);
    LeaveCriticalSection(&group->m_cs);
    EXPECT_EQ(OPC_QUALITY_OUT_OF_SERVICE, At<WORD>(stale, 28));
    BOOL active = TRUE;
    ASSERT_EQ(S_OK, state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));
    state->Release();

    // A live item whose write fails gives its own failure, an unknown
    // handle an invalid handle.
    IOPCSyncIO *sync = nullptr;
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
    VARIANT unusable[2];
    VariantInit(&unusable[0]);
    VariantInit(&unusable[1]);
    V_VT(&unusable[0]) = VT_DISPATCH;
    V_DISPATCH(&unusable[0]) = nullptr;
    OPCHANDLE targets[2] = {h[0], 0x7777};
    ASSERT_EQ(S_FALSE, sync->Write(2, targets, unusable, &errors));
    EXPECT_EQ(E_FAIL, errors[0]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[1]);
    CoTaskMemFree(errors);
    sync->Release();

    // Advise rules.
    RecordingAdviseSink sink;
    FORMATETC plainFormat = {CLIPFORMAT(g_cfData), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC timeFormat = {CLIPFORMAT(g_cfDataTime), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC writeFormat = {CLIPFORMAT(g_cfWriteComplete), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC otherFormat = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD plainConnection = 0, timeConnection = 0, writeConnection = 0, none = 0;
    EXPECT_EQ(DV_E_FORMATETC, data->DAdvise(&otherFormat, 0, &sink, &none));
    EXPECT_EQ(E_POINTER, data->DAdvise(&plainFormat, 0, nullptr, &none));
    IOPCAsyncIO *io = nullptr;
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCAsyncIO, reinterpret_cast<void **>(&io)));
    DWORD transaction = 0;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->Read(g_cfData, OPC_DS_CACHE, 1, &h[0], &transaction, &errors));
    ASSERT_EQ(S_OK, data->DAdvise(&plainFormat, 0, &sink, &plainConnection));
    EXPECT_EQ(RegisterClipboardFormatA("OPCSTMFORMATDATA"), plainConnection);
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, data->DAdvise(&plainFormat, 0, &sink, &none));
    EXPECT_EQ(S_OK, data->DAdvise(&timeFormat, 0, &sink, &timeConnection));
    EXPECT_EQ(S_OK, data->DAdvise(&writeFormat, 0, &sink, &writeConnection));
    EXPECT_EQ(OLE_E_NOCONNECTION, data->DUnadvise(12345));

    // OPC 1.0 requests: a connection that names no stream of the call's
    // kind is refused; a bad handle gives S_FALSE and no transaction; a
    // cancelled read sends nothing.
    OPCHANDLE mixed[2] = {h[0], h[2]};
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I2;
    V_I2(&value) = 321;
    EnterCriticalSection(&group->m_cs);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->Read(writeConnection, OPC_DS_CACHE, 1, &h[0], &transaction, &errors));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, io->Write(plainConnection, 1, &h[0], &value, &transaction, &errors));
    EXPECT_EQ(S_FALSE, io->Read(plainConnection, OPC_DS_CACHE, 2, mixed, &transaction, &errors));
    EXPECT_EQ(0u, transaction);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[1]);
    CoTaskMemFree(errors);
    DWORD cancelled = 0, read = 0, write = 0;
    ASSERT_EQ(S_OK, io->Read(timeConnection, OPC_DS_DEVICE, 1, &h[0], &cancelled, &errors));
    CoTaskMemFree(errors);
    ASSERT_EQ(S_OK, io->Read(plainConnection, OPC_DS_DEVICE, 2, &h[0], &read, &errors));
    CoTaskMemFree(errors);
    ASSERT_EQ(S_OK, io->Write(writeConnection, 1, &h[1], &value, &write, &errors));
    CoTaskMemFree(errors);
    EXPECT_NE(cancelled, read);
    EXPECT_NE(0u, cancelled * read * write);
    EXPECT_EQ(S_OK, io->Cancel(cancelled));
    EXPECT_EQ(E_FAIL, io->Cancel(cancelled));
    LeaveCriticalSection(&group->m_cs);
    Sleep(400);
    std::vector<RecordingAdviseSink::Block> blocks = sink.Blocks();
    bool dataChange = false, readDone = false, writeDone = false, cancelledSent = false;
    for (auto &b : blocks) {
        DWORD id = At<DWORD>(b.bytes, b.format == g_cfWriteComplete ? 8 : 12);
        if (b.format == g_cfData && id == 0 && At<DWORD>(b.bytes, 4) == 2)
            dataChange = true;  // both active items once after the advise
        if (b.format == g_cfData && id == read)
            readDone = true;
        if (id == cancelled)
            cancelledSent = true;
        if (b.format == g_cfWriteComplete && id == write)
            writeDone = At<HRESULT>(b.bytes, 20) == S_OK;
    }
    EXPECT_TRUE(dataChange);
    EXPECT_TRUE(readDone);
    EXPECT_TRUE(writeDone);
    EXPECT_FALSE(cancelledSent);
    EXPECT_EQ(std::vector<BYTE>({0x01, 0x41}), Session()->Get(10, 4, 2)) << "321 in the controller";
    EXPECT_EQ(S_OK, data->DUnadvise(plainConnection));
    EXPECT_EQ(OLE_E_NOCONNECTION, data->DUnadvise(plainConnection));
    io->Release();
    data->Release();
    items->Release();
}

}  // namespace
