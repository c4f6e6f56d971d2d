// Every method of every OPC interface of our IDL, called from another
// process through OpcProxy.dll: the stub server (opc_stub_server.exe, a
// COM local server) checks each argument it receives and answers agreed
// values, which the client checks here. Runs once from a single-threaded
// apartment and once from the multithreaded one; callbacks into the
// client's IOPCShutdown and IOPCDataCallback sinks come back the same way.
#include "OpcStubData.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace {

std::wstring BinFile(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

template <class I> struct Ref {
    I *p = nullptr;
    ~Ref() { reset(); }
    void reset()
    {
        if (p)
            p->Release();
        p = nullptr;
    }
    I *operator->() const { return p; }
    I **out() { reset(); return &p; }
    void **vout() { return reinterpret_cast<void **>(out()); }
    IUnknown **uout() { return reinterpret_cast<IUnknown **>(out()); }
};

bool AreExpectedErrors(const HRESULT *errors)
{
    return errors && errors[0] == stub::kItemErrors[0] && errors[1] == stub::kItemErrors[1];
}

// The client's sinks: each checks what the server sent and answers
// E_INVALIDARG when anything differs, which the server hands back.
class ClientSink : public IOPCShutdown, public IOPCDataCallback {
public:
    LONG shutdowns = 0, changes = 0, reads = 0, writes = 0, cancels = 0;
    DWORD thread = 0;  // where the last callback ran

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IOPCShutdown)
            *out = static_cast<IOPCShutdown *>(this);
        else if (iid == IID_IOPCDataCallback)
            *out = static_cast<IOPCDataCallback *>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_ref); }
    LONG Count() const { return m_ref; }

    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override
    {
        Seen(&shutdowns);
        return stub::Same(reason, stub::kShutdownReason) ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP OnDataChange(DWORD tid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                              OPCHANDLE *clients, VARIANT *values, WORD *qualities, FILETIME *times,
                              HRESULT *errors) override
    {
        Seen(&changes);
        return tid == 0 && AreValues(group, quality, error, count, clients, values, qualities, times, errors)
                   ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP OnReadComplete(DWORD tid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                                OPCHANDLE *clients, VARIANT *values, WORD *qualities, FILETIME *times,
                                HRESULT *errors) override
    {
        Seen(&reads);
        return tid == stub::kTransaction2 &&
                       AreValues(group, quality, error, count, clients, values, qualities, times, errors)
                   ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP OnWriteComplete(DWORD tid, OPCHANDLE group, HRESULT error, DWORD count, OPCHANDLE *clients,
                                 HRESULT *errors) override
    {
        Seen(&writes);
        return tid == stub::kTransaction2 && group == stub::kClientGroup && error == S_FALSE && count == 2 &&
                       clients[0] == stub::kClientItems[0] && clients[1] == stub::kClientItems[1] &&
                       AreExpectedErrors(errors)
                   ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP OnCancelComplete(DWORD tid, OPCHANDLE group) override
    {
        Seen(&cancels);
        return tid == stub::kTransaction2 && group == stub::kClientGroup ? S_OK : E_INVALIDARG;
    }

private:
    void Seen(LONG *counter)
    {
        InterlockedIncrement(counter);
        thread = GetCurrentThreadId();
    }
    static bool AreValues(OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count, const OPCHANDLE *clients,
                          const VARIANT *values, const WORD *qualities, const FILETIME *times, const HRESULT *errors)
    {
        if (group != stub::kClientGroup || quality != S_FALSE || error != S_FALSE || count != 2)
            return false;
        for (int i = 0; i < 2; ++i)
            if (clients[i] != stub::kClientItems[i] || !stub::IsValue(i, &values[i]) ||
                qualities[i] != stub::kQualities[i] || !stub::SameTime(times[i], stub::kTimes[i]))
                return false;
        return AreExpectedErrors(errors);
    }
    LONG m_ref = 0;
};

void FreeResults(DWORD count, OPCITEMRESULT *results)
{
    for (DWORD i = 0; results && i < count; ++i)
        CoTaskMemFree(results[i].pBlob);
    CoTaskMemFree(results);
}

void ExpectResults(OPCITEMRESULT *results)
{
    ASSERT_NE(nullptr, results);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(stub::kItems[i], results[i].hServer);
        EXPECT_EQ(i ? VT_BSTR : VT_R4, results[i].vtCanonicalDataType);
        EXPECT_EQ(DWORD(OPC_READABLE | OPC_WRITEABLE), results[i].dwAccessRights);
    }
    EXPECT_TRUE(stub::IsBlob(results[0].dwBlobSize, results[0].pBlob));
    EXPECT_EQ(0u, results[1].dwBlobSize);
    EXPECT_EQ(nullptr, results[1].pBlob);
}

// Every method answering an error array: that array, then freed. Takes
// the variable's address, so that it is read after the call.
void ExpectErrors(HRESULT hr, HRESULT **errors, const char *what)
{
    EXPECT_EQ(S_FALSE, hr) << what;
    EXPECT_TRUE(AreExpectedErrors(*errors)) << what;
    CoTaskMemFree(*errors);
    *errors = nullptr;
}

void ExpectStrings(IEnumString *e, std::initializer_list<const wchar_t *> texts)
{
    ASSERT_NE(nullptr, e);
    LPOLESTR got[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(4, got, &fetched));
    ASSERT_EQ(texts.size(), fetched);
    ULONG i = 0;
    for (const wchar_t *text : texts) {
        EXPECT_TRUE(stub::Same(got[i], text)) << i;
        CoTaskMemFree(got[i++]);
    }
}

class OpcMarshalTest : public ::testing::TestWithParam<DWORD> {
public:
    static void SetUpTestSuite()
    {
        // The proxy library registers itself as regsvr32 would have it.
        HMODULE proxy = LoadLibraryW(BinFile(L"OpcProxy.dll").c_str());
        ASSERT_NE(nullptr, proxy);
        auto reg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(proxy, "DllRegisterServer"));
        ASSERT_NE(nullptr, reg);
        ASSERT_EQ(S_OK, reg());

        std::wstring key = L"CLSID\\{6A1F63B4-2C5D-4E8A-9B1C-3D7E5F2A8C40}\\LocalServer32";
        std::wstring exe = BinFile(L"opc_stub_server.exe");
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, exe.c_str(),
                                              DWORD(exe.size() * sizeof(wchar_t))));
        // One object held for the whole run keeps one server process.
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_OpcStubServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                         reinterpret_cast<void **>(&s_keeper)));
    }
    static void TearDownTestSuite()
    {
        if (s_keeper)
            s_keeper->Release();
        s_keeper = nullptr;
        CoUninitialize();
    }

protected:
    // Runs body on a new thread in the apartment under test, with a fresh
    // server object from the stub server process.
    void InApartment(const std::function<void(IOPCServer *)> &body)
    {
        std::thread caller([&] {
            ASSERT_EQ(S_OK, CoInitializeEx(nullptr, GetParam()));
            {
                Ref<IOPCServer> server;
                HRESULT hr = CoCreateInstance(CLSID_OpcStubServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                              server.vout());
                EXPECT_EQ(S_OK, hr);
                if (SUCCEEDED(hr))
                    body(server.p);
                // Our library, not a typelib or system proxy, carried the calls.
                EXPECT_NE(nullptr, GetModuleHandleW(L"OpcProxy.dll"));
            }
            CoUninitialize();
        });
        caller.join();
    }
    static IUnknown *s_keeper;
};
IUnknown *OpcMarshalTest::s_keeper = nullptr;

TEST_P(OpcMarshalTest, ServerInterfacesCarryEveryArgumentAndAnswer)
{
    InApartment([](IOPCServer *server) {
        // IOPCServer
        LONG bias = stub::kTimeBias;
        OPCHANDLE serverGroup = 0;
        DWORD revised = 0;
        Ref<IOPCGroupStateMgt> group;
        EXPECT_EQ(OPC_S_UNSUPPORTEDRATE,
                  server->AddGroup(stub::kGroupName, TRUE, stub::kRequestedRate, stub::kClientGroup, &bias, nullptr,
                                   stub::kLocale, &serverGroup, &revised, IID_IOPCGroupStateMgt, group.uout()));
        EXPECT_EQ(stub::kServerGroup, serverGroup);
        EXPECT_EQ(stub::kRevisedRate, revised);
        EXPECT_NE(nullptr, group.p);

        LPWSTR text = nullptr;
        EXPECT_EQ(S_OK, server->GetErrorString(OPC_E_DUPLICATENAME, 1033, &text));
        EXPECT_TRUE(stub::Same(text, stub::kErrorText));
        CoTaskMemFree(text);

        Ref<IOPCItemMgt> byName;
        EXPECT_EQ(S_OK, server->GetGroupByName(stub::kGroupName, IID_IOPCItemMgt, byName.uout()));
        EXPECT_NE(nullptr, byName.p);
        Ref<IUnknown> none;
        EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(L"gruppe", IID_IUnknown, none.out()));
        EXPECT_EQ(nullptr, none.p);

        OPCSERVERSTATUS *status = nullptr;
        EXPECT_EQ(S_OK, server->GetStatus(&status));
        ASSERT_NE(nullptr, status);
        EXPECT_TRUE(stub::SameTime(stub::kStartTime, status->ftStartTime));
        EXPECT_TRUE(stub::SameTime(stub::kTimes[0], status->ftCurrentTime));
        EXPECT_TRUE(stub::SameTime(stub::kTimes[1], status->ftLastUpdateTime));
        EXPECT_EQ(OPC_STATUS_RUNNING, status->dwServerState);
        EXPECT_EQ(3u, status->dwGroupCount);
        EXPECT_EQ(0xFFFFFFFFu, status->dwBandWidth);
        EXPECT_EQ(7, status->wMajorVersion);
        EXPECT_EQ(20, status->wMinorVersion);
        EXPECT_EQ(1, status->wBuildNumber);
        EXPECT_EQ(42, status->wReserved);
        EXPECT_TRUE(stub::Same(status->szVendorInfo, stub::kVendor));
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);

        EXPECT_EQ(OPC_S_INUSE, server->RemoveGroup(stub::kServerGroup, TRUE));

        Ref<IEnumString> groups;
        EXPECT_EQ(S_OK, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, groups.uout()));
        ExpectStrings(groups.p, {stub::kGroupName, L"Group1"});

        // IOPCCommon
        Ref<IOPCCommon> common;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCCommon, common.vout()));
        EXPECT_EQ(S_OK, common->SetLocaleID(2048));
        EXPECT_EQ(E_INVALIDARG, common->SetLocaleID(1033));
        LCID lcid = 0;
        EXPECT_EQ(S_OK, common->GetLocaleID(&lcid));
        EXPECT_EQ(2048u, lcid);
        DWORD count = 0;
        LCID *lcids = nullptr;
        EXPECT_EQ(S_OK, common->QueryAvailableLocaleIDs(&count, &lcids));
        ASSERT_EQ(2u, count);
        EXPECT_EQ(2048u, lcids[0]);
        EXPECT_EQ(1033u, lcids[1]);
        CoTaskMemFree(lcids);
        EXPECT_EQ(S_OK, common->GetErrorString(OPC_E_DUPLICATENAME, &text));
        EXPECT_TRUE(stub::Same(text, stub::kErrorText));
        CoTaskMemFree(text);
        EXPECT_EQ(S_OK, common->SetClientName(stub::kClientName));

        // IOPCServerPublicGroups (declared, not served by Brisko)
        Ref<IOPCServerPublicGroups> pub;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCServerPublicGroups, pub.vout()));
        Ref<IOPCPublicGroupStateMgt> pubGroup;
        EXPECT_EQ(S_OK, pub->GetPublicGroupByName(stub::kPublicName, IID_IOPCPublicGroupStateMgt, pubGroup.uout()));
        ASSERT_NE(nullptr, pubGroup.p);
        BOOL isPublic = TRUE;
        EXPECT_EQ(S_OK, pubGroup->GetState(&isPublic));
        EXPECT_FALSE(isPublic);
        EXPECT_EQ(OPC_E_PUBLIC, pubGroup->MoveToPublic());
        EXPECT_EQ(S_OK, pub->RemovePublicGroup(stub::kServerGroup, FALSE));

        // IOPCBrowseServerAddressSpace
        Ref<IOPCBrowseServerAddressSpace> browse;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.vout()));
        OPCNAMESPACETYPE space = OPC_NS_FLAT;
        EXPECT_EQ(S_OK, browse->QueryOrganization(&space));
        EXPECT_EQ(OPC_NS_HIERARCHIAL, space);
        EXPECT_EQ(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, stub::kBrowseTo));
        Ref<IEnumString> leaves;
        EXPECT_EQ(S_OK, browse->BrowseOPCItemIDs(OPC_LEAF, stub::kFilter, VT_I2, OPC_WRITEABLE, leaves.out()));
        ExpectStrings(leaves.p, {stub::kLeaves[0], stub::kLeaves[1]});
        LPWSTR id = nullptr;
        EXPECT_EQ(S_OK, browse->GetItemID(const_cast<LPWSTR>(stub::kLeaves[0]), &id));
        EXPECT_TRUE(stub::Same(id, stub::kItemID));
        CoTaskMemFree(id);
        Ref<IEnumString> paths;
        EXPECT_EQ(E_NOTIMPL, browse->BrowseAccessPaths(stub::kItemID, paths.out()));
        EXPECT_EQ(nullptr, paths.p);

        // IOPCItemProperties
        Ref<IOPCItemProperties> props;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCItemProperties, props.vout()));
        DWORD *ids = nullptr;
        LPWSTR *names = nullptr;
        VARTYPE *types = nullptr;
        EXPECT_EQ(S_OK, props->QueryAvailableProperties(const_cast<LPWSTR>(stub::kItemID), &count, &ids, &names,
                                                        &types));
        ASSERT_EQ(3u, count);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(stub::kProperties[i], ids[i]);
            EXPECT_TRUE(stub::Same(names[i], stub::kPropertyNames[i]));
            EXPECT_EQ(stub::kPropertyTypes[i], types[i]);
            CoTaskMemFree(names[i]);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(names);
        CoTaskMemFree(types);
        VARIANT *data = nullptr;
        HRESULT *errors = nullptr;
        DWORD wanted[3] = {2, 3, 4};
        ExpectErrors(props->GetItemProperties(const_cast<LPWSTR>(stub::kItemID), 3, wanted, &data, &errors), &errors,
                     "GetItemProperties");
        ASSERT_NE(nullptr, data);
        EXPECT_TRUE(stub::IsValue(1, &data[0]));
        EXPECT_EQ(VT_I2, V_VT(&data[1]));
        EXPECT_EQ(0xC0, V_I2(&data[1]));
        EXPECT_TRUE(stub::IsRange(&data[2]));
        for (int i = 0; i < 3; ++i)
            VariantClear(&data[i]);
        CoTaskMemFree(data);
        LPWSTR *newIds = nullptr;
        ExpectErrors(props->LookupItemIDs(const_cast<LPWSTR>(stub::kItemID), 2, wanted, &newIds, &errors), &errors,
                     "LookupItemIDs");
        ASSERT_NE(nullptr, newIds);
        EXPECT_TRUE(stub::Same(newIds[0], stub::kLeaves[1]));
        EXPECT_EQ(nullptr, newIds[1]);
        CoTaskMemFree(newIds[0]);
        CoTaskMemFree(newIds);
    });
}

TEST_P(OpcMarshalTest, GroupInterfacesCarryArraysRecordsAndVariants)
{
    InApartment([](IOPCServer *server) {
        Ref<IOPCItemMgt> items;
        ASSERT_EQ(S_OK, server->GetGroupByName(stub::kGroupName, IID_IOPCItemMgt, items.uout()));
        OPCHANDLE handles[2] = {stub::kItems[0], stub::kItems[1]};
        HRESULT *errors = nullptr;

        // IOPCItemMgt: records with strings and blobs both ways.
        OPCITEMDEF defs[2] = {};
        defs[0].szAccessPath = const_cast<LPWSTR>(stub::kAccessPath);
        defs[0].dwBlobSize = sizeof(stub::kBlob);
        defs[0].pBlob = const_cast<BYTE *>(stub::kBlob);
        defs[0].vtRequestedDataType = VT_R4;
        defs[1].vtRequestedDataType = VT_BSTR;
        for (int i = 0; i < 2; ++i) {
            defs[i].szItemID = const_cast<LPWSTR>(stub::kItemID);
            defs[i].bActive = i == 0;
            defs[i].hClient = stub::kClientItems[i];
        }
        OPCITEMRESULT *results = nullptr;
        ExpectErrors(items->AddItems(2, defs, &results, &errors), &errors, "AddItems");
        ExpectResults(results);
        FreeResults(2, results);
        ExpectErrors(items->ValidateItems(2, defs, TRUE, &results, &errors), &errors, "ValidateItems");
        ExpectResults(results);
        FreeResults(2, results);
        ExpectErrors(items->RemoveItems(2, handles, &errors), &errors, "RemoveItems");
        ExpectErrors(items->SetActiveState(2, handles, TRUE, &errors), &errors, "SetActiveState");
        OPCHANDLE clients[2] = {stub::kClientItems[0], stub::kClientItems[1]};
        ExpectErrors(items->SetClientHandles(2, handles, clients, &errors), &errors, "SetClientHandles");
        VARTYPE types[2] = {VT_I4, VT_BSTR};
        ExpectErrors(items->SetDatatypes(2, handles, types, &errors), &errors, "SetDatatypes");

        // IEnumOPCItemAttributes
        Ref<IEnumOPCItemAttributes> attrs;
        EXPECT_EQ(S_OK, items->CreateEnumerator(IID_IEnumOPCItemAttributes, attrs.uout()));
        ASSERT_NE(nullptr, attrs.p);
        EXPECT_EQ(S_OK, attrs->Skip(1));
        Ref<IEnumOPCItemAttributes> clone;
        EXPECT_EQ(S_OK, attrs->Clone(clone.out()));
        EXPECT_EQ(S_FALSE, attrs->Skip(2));
        EXPECT_EQ(S_OK, attrs->Reset());
        OPCITEMATTRIBUTES *got = nullptr;
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, attrs->Next(3, &got, &fetched));
        ASSERT_EQ(2u, fetched);
        for (int i = 0; i < 2; ++i) {
            OPCITEMATTRIBUTES &a = got[i];
            EXPECT_TRUE(stub::Same(a.szAccessPath, stub::kAccessPath));
            EXPECT_TRUE(stub::Same(a.szItemID, stub::kItemID));
            EXPECT_EQ(i == 0, a.bActive != FALSE);
            EXPECT_EQ(stub::kClientItems[i], a.hClient);
            EXPECT_EQ(stub::kItems[i], a.hServer);
            EXPECT_EQ(DWORD(OPC_READABLE | (i ? OPC_WRITEABLE : 0)), a.dwAccessRights);
            EXPECT_TRUE(stub::IsBlob(a.dwBlobSize, a.pBlob));
            EXPECT_EQ(VT_I2, a.vtRequestedDataType);
            EXPECT_EQ(VT_R4, a.vtCanonicalDataType);
            EXPECT_EQ(OPC_ANALOG, a.dwEUType);
            EXPECT_TRUE(stub::IsRange(&a.vEUInfo));
            CoTaskMemFree(a.szAccessPath);
            CoTaskMemFree(a.szItemID);
            CoTaskMemFree(a.pBlob);
            VariantClear(&a.vEUInfo);
        }
        CoTaskMemFree(got);
        // The clone kept the position of its source: one record left.
        got = nullptr;
        EXPECT_EQ(S_FALSE, clone->Next(2, &got, &fetched));
        EXPECT_EQ(1u, fetched);
        if (got) {
            EXPECT_EQ(stub::kItems[1], got[0].hServer);
            CoTaskMemFree(got[0].szAccessPath);
            CoTaskMemFree(got[0].szItemID);
            CoTaskMemFree(got[0].pBlob);
            VariantClear(&got[0].vEUInfo);
            CoTaskMemFree(got);
        }

        // IOPCGroupStateMgt
        Ref<IOPCGroupStateMgt> state;
        ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCGroupStateMgt, state.vout()));
        DWORD rate = 0, lcid = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT deadband = 0;
        OPCHANDLE client = 0, own = 0;
        EXPECT_EQ(S_OK, state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &own));
        EXPECT_EQ(stub::kRevisedRate, rate);
        EXPECT_TRUE(active);
        EXPECT_TRUE(stub::Same(name, stub::kGroupName));
        CoTaskMemFree(name);
        EXPECT_EQ(stub::kTimeBias, bias);
        EXPECT_EQ(stub::kDeadband, deadband);
        EXPECT_EQ(stub::kLocale, lcid);
        EXPECT_EQ(stub::kClientGroup, client);
        EXPECT_EQ(stub::kServerGroup, own);
        rate = stub::kRequestedRate;
        bias = stub::kTimeBias;
        lcid = stub::kLocale;
        client = stub::kClientGroup;
        DWORD revised = 0;
        EXPECT_EQ(OPC_S_UNSUPPORTEDRATE, state->SetState(&rate, &revised, nullptr, &bias, nullptr, &lcid, &client));
        EXPECT_EQ(stub::kRevisedRate, revised);
        EXPECT_EQ(S_OK, state->SetName(stub::kNewName));
        Ref<IOPCSyncIO> cloned;
        EXPECT_EQ(S_OK, state->CloneGroup(stub::kCloneName, IID_IOPCSyncIO, cloned.uout()));
        EXPECT_NE(nullptr, cloned.p);

        // IOPCSyncIO
        Ref<IOPCSyncIO> sync;
        ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCSyncIO, sync.vout()));
        OPCITEMSTATE *values = nullptr;
        ExpectErrors(sync->Read(OPC_DS_DEVICE, 2, handles, &values, &errors), &errors, "IOPCSyncIO::Read");
        ASSERT_NE(nullptr, values);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(stub::kClientItems[i], values[i].hClient);
            EXPECT_TRUE(stub::SameTime(stub::kTimes[i], values[i].ftTimeStamp));
            EXPECT_EQ(stub::kQualities[i], values[i].wQuality);
            EXPECT_TRUE(stub::IsValue(i, &values[i].vDataValue)) << i;
            VariantClear(&values[i].vDataValue);
        }
        CoTaskMemFree(values);
        VARIANT written[2];
        stub::MakeValue(0, &written[0]);
        stub::MakeValue(1, &written[1]);
        ExpectErrors(sync->Write(2, handles, written, &errors), &errors, "IOPCSyncIO::Write");

        // IOPCAsyncIO (OPC 1.0)
        Ref<IOPCAsyncIO> async1;
        ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCAsyncIO, async1.vout()));
        DWORD tid = 0;
        ExpectErrors(async1->Read(stub::kConnection, OPC_DS_CACHE, 2, handles, &tid, &errors), &errors,
                     "IOPCAsyncIO::Read");
        EXPECT_EQ(stub::kTransaction, tid);
        tid = 0;
        ExpectErrors(async1->Write(stub::kConnection, 2, handles, written, &tid, &errors), &errors,
                     "IOPCAsyncIO::Write");
        EXPECT_EQ(stub::kTransaction, tid);
        tid = 0;
        EXPECT_EQ(S_OK, async1->Refresh(stub::kConnection, OPC_DS_DEVICE, &tid));
        EXPECT_EQ(stub::kTransaction, tid);
        EXPECT_EQ(S_OK, async1->Cancel(stub::kTransaction));

        // IOPCAsyncIO2, but for its callbacks (next test)
        Ref<IOPCAsyncIO2> async2;
        ASSERT_EQ(S_OK, items->QueryInterface(IID_IOPCAsyncIO2, async2.vout()));
        EXPECT_EQ(S_OK, async2->SetEnable(FALSE));
        BOOL enabled = TRUE;
        EXPECT_EQ(S_OK, async2->GetEnable(&enabled));
        EXPECT_FALSE(enabled);
        VariantClear(&written[0]);
        VariantClear(&written[1]);
    });
}

TEST_P(OpcMarshalTest, CallbacksReachTheClientsSinks)
{
    ClientSink sink;
    InApartment([&sink](IOPCServer *server) {
        DWORD self = GetCurrentThreadId();
        // IOPCShutdown: the stub calls it from inside Advise.
        Ref<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IConnectionPointContainer, container.vout()));
        Ref<IConnectionPoint> point;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, point.out()));
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, point->Advise(static_cast<IOPCShutdown *>(&sink), &cookie));
        EXPECT_EQ(1, sink.shutdowns);
        EXPECT_EQ(S_OK, point->Unadvise(cookie));

        // IOPCDataCallback: each IOPCAsyncIO2 call completes through it.
        Ref<IOPCAsyncIO2> async2;
        ASSERT_EQ(S_OK, server->GetGroupByName(stub::kGroupName, IID_IOPCAsyncIO2, async2.uout()));
        Ref<IConnectionPointContainer> groupContainer;
        ASSERT_EQ(S_OK, async2->QueryInterface(IID_IConnectionPointContainer, groupContainer.vout()));
        Ref<IConnectionPoint> dataPoint;
        ASSERT_EQ(S_OK, groupContainer->FindConnectionPoint(IID_IOPCDataCallback, dataPoint.out()));
        EXPECT_EQ(S_OK, dataPoint->Advise(static_cast<IOPCShutdown *>(&sink), &cookie));

        OPCHANDLE handles[2] = {stub::kItems[0], stub::kItems[1]};
        HRESULT *errors = nullptr;
        DWORD cancel = 0;
        ExpectErrors(async2->Read(2, handles, stub::kTransaction2, &cancel, &errors), &errors, "IOPCAsyncIO2::Read");
        EXPECT_EQ(stub::kCancelId, cancel);
        EXPECT_EQ(1, sink.reads);
        VARIANT written[2];
        stub::MakeValue(0, &written[0]);
        stub::MakeValue(1, &written[1]);
        ExpectErrors(async2->Write(2, handles, written, stub::kTransaction2, &cancel, &errors), &errors,
                     "IOPCAsyncIO2::Write");
        VariantClear(&written[0]);
        VariantClear(&written[1]);
        EXPECT_EQ(1, sink.writes);
        cancel = 0;
        EXPECT_EQ(S_OK, async2->Refresh2(OPC_DS_CACHE, stub::kTransaction2, &cancel));
        EXPECT_EQ(stub::kCancelId, cancel);
        EXPECT_EQ(1, sink.changes);
        EXPECT_EQ(S_OK, async2->Cancel2(stub::kCancelId));
        EXPECT_EQ(1, sink.cancels);
        // A single-threaded apartment gets its callbacks on its own thread.
        if (GetParam() == COINIT_APARTMENTTHREADED) {
            EXPECT_EQ(self, sink.thread);
        }
        EXPECT_EQ(S_OK, dataPoint->Unadvise(cookie));
    });
    // The server gave back every reference to the sink.
    EXPECT_EQ(0, sink.Count());
}

INSTANTIATE_TEST_SUITE_P(Apartments, OpcMarshalTest,
                         ::testing::Values(DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)),
                         [](const ::testing::TestParamInfo<DWORD> &info) {
                             return info.param == COINIT_APARTMENTTHREADED ? std::string("STA") : std::string("MTA");
                         });

}  // namespace
