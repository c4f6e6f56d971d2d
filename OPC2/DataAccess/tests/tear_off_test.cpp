// The browsing, item-property and configuration-file interfaces of a server
// object in this process, without the I/O server: what each hands out, the
// argument checks, the position rules that need no configuration, and which
// file names a load lets through.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Brisko.h"
#include "ClassFactory.h"
#include "ImpIPersistFile.h"
#include "OpcKit.h"

namespace {

HRESULT NoServer(REFCLSID, IDriver **driver)
{
    *driver = nullptr;
    return REGDB_E_CLASSNOTREG;
}

class TearOffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, ProcessAttach());
        m_previous = g_ClassFactory.SetDriverConnector(&NoServer);
        ASSERT_EQ(S_OK, g_ClassFactory.CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void **>(&server)));
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse)));
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void **>(&properties)));
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
    }
    void TearDown() override
    {
        for (IUnknown *u : {static_cast<IUnknown *>(browse), static_cast<IUnknown *>(properties),
                            static_cast<IUnknown *>(file), static_cast<IUnknown *>(server)})
            if (u)
                u->Release();
        EXPECT_EQ(0u, g_ClassFactory.GetServerCount());
        g_ClassFactory.SetDriverConnector(m_previous);
        ProcessDetach(true);
        CoUninitialize();
    }
    IOPCServer *server = nullptr;
    IOPCBrowseServerAddressSpace *browse = nullptr;
    IOPCItemProperties *properties = nullptr;
    IPersistFile *file = nullptr;
    COPCDrvClassFactory::DriverConnector m_previous = nullptr;
};

TEST_F(TearOffTest, EachInterfaceIsOneTearOffOfTheServerObject)
{
    for (REFIID iid : {IID_IOPCBrowseServerAddressSpace, IID_IOPCItemProperties, IID_IPersistFile}) {
        IUnknown *again = nullptr, *owner = nullptr, *first = nullptr;
        ASSERT_EQ(S_OK, server->QueryInterface(iid, reinterpret_cast<void **>(&first)));
        ASSERT_EQ(S_OK, server->QueryInterface(iid, reinterpret_cast<void **>(&again)));
        EXPECT_EQ(first, again);
        ASSERT_EQ(S_OK, again->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&owner)));
        IUnknown *self = nullptr;
        server->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&self));
        EXPECT_EQ(self, owner) << "its IUnknown is the server's";
        for (IUnknown *u : {first, again, owner, self})
            u->Release();
    }
}

TEST_F(TearOffTest, ArgumentChecksAndAnswersWithoutTheIOServer)
{
    DWORD ids[] = {5000};
    DWORD count = 0, *idList = nullptr;
    LPWSTR *texts = nullptr, text = nullptr;
    VARTYPE *types = nullptr;
    VARIANT *values = nullptr;
    HRESULT *errors = nullptr;
    IEnumString *list = nullptr;
    CLSID clsid;
    wchar_t id[] = L"PLC1:DB10,0", empty[] = L"";
    struct Case {
        const char *what;
        HRESULT expected;
        std::function<HRESULT()> call;
    };
    const Case cases[] = {
        {"QueryOrganization(null)", E_INVALIDARG, [&] { return browse->QueryOrganization(nullptr); }},
        {"ChangeBrowsePosition(null name)", E_INVALIDARG,
         [&] { return browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr); }},
        {"BrowseOPCItemIDs(null out)", E_INVALIDARG,
         [&] { return browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, nullptr); }},
        {"BrowseOPCItemIDs(type 4)", E_FAIL, [&] { return browse->BrowseOPCItemIDs(OPCBROWSETYPE(4), L"", VT_EMPTY, 0, &list); }},
        {"BrowseOPCItemIDs(branch) without server", E_FAIL,
         [&] { return browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, &list); }},
        {"GetItemID(null id)", E_INVALIDARG, [&] { return browse->GetItemID(nullptr, &text); }},
        {"GetItemID(null out)", E_INVALIDARG, [&] { return browse->GetItemID(empty, nullptr); }},
        {"GetItemID(empty at root)", S_OK, [&] { return browse->GetItemID(empty, &text); }},
        {"BrowseAccessPaths(null out)", E_INVALIDARG, [&] { return browse->BrowseAccessPaths(L"x", nullptr); }},
        {"BrowseAccessPaths", E_NOTIMPL, [&] { return browse->BrowseAccessPaths(L"x", &list); }},
        {"QueryAvailableProperties(null types)", E_INVALIDARG,
         [&] { return properties->QueryAvailableProperties(id, &count, &idList, &texts, nullptr); }},
        {"QueryAvailableProperties(null id)", E_INVALIDARG,
         [&] { return properties->QueryAvailableProperties(nullptr, &count, &idList, &texts, &types); }},
        {"GetItemProperties(null errors)", E_INVALIDARG,
         [&] { return properties->GetItemProperties(id, 1, ids, &values, nullptr); }},
        {"GetItemProperties(count 0)", E_FAIL, [&] { return properties->GetItemProperties(id, 0, ids, &values, &errors); }},
        {"GetItemProperties without server", E_FAIL,
         [&] { return properties->GetItemProperties(id, 1, ids, &values, &errors); }},
        {"LookupItemIDs(null ids)", E_INVALIDARG,
         [&] { return properties->LookupItemIDs(id, 1, nullptr, &texts, &errors); }},
        {"LookupItemIDs(count 0)", E_FAIL, [&] { return properties->LookupItemIDs(id, 0, ids, &texts, &errors); }},
        {"GetClassID(null)", E_INVALIDARG, [&] { return file->GetClassID(nullptr); }},
        {"GetClassID", S_OK, [&] { return file->GetClassID(&clsid); }},
        {"IsDirty without server", E_FAIL, [&] { return file->IsDirty(); }},
        {"Load(null)", E_INVALIDARG, [&] { return file->Load(nullptr, 0); }},
        {"Load without server", E_FAIL, [&] { return file->Load(L"C:\\Plant\\Line1.QOR", 0); }},
        {"Load of a wrong extension", OPC_E_INVALIDCONFIGFILE, [&] { return file->Load(L"C:\\Plant\\Line1.qor", 0); }},
        {"Save(null)", E_INVALIDARG, [&] { return file->Save(nullptr, TRUE); }},
        {"Save without server", E_FAIL, [&] { return file->Save(L"C:\\x.QOR", TRUE); }},
        {"SaveCompleted(null)", E_INVALIDARG, [&] { return file->SaveCompleted(nullptr); }},
        {"SaveCompleted without a current file", S_OK, [&] { return file->SaveCompleted(L"C:\\x.QOR"); }},
        {"GetCurFile(null)", E_INVALIDARG, [&] { return file->GetCurFile(nullptr); }},
        {"GetCurFile without server", E_FAIL, [&] { return file->GetCurFile(&text); }},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.expected, c.call()) << c.what;
        EXPECT_EQ(nullptr, list) << c.what;
        EXPECT_EQ(nullptr, values) << c.what;
        EXPECT_EQ(nullptr, errors) << c.what;
        if (text) {
            EXPECT_EQ(std::wstring(L""), text) << c.what;
            CoTaskMemFree(text);
            text = nullptr;
        }
    }
    EXPECT_EQ(g_ClassFactory.DriverCLSID(), clsid);
}

TEST_F(TearOffTest, BrowsePositionRulesThatNeedNoConfiguration)
{
    wchar_t empty[] = L"";
    LPWSTR text = nullptr;
    EXPECT_EQ(E_FAIL, browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""));
    EXPECT_EQ(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"PLC1:DB10,0"));
    ASSERT_EQ(S_OK, browse->GetItemID(empty, &text));
    EXPECT_EQ(std::wstring(L"PLC1"), text);
    CoTaskMemFree(text);
    EXPECT_EQ(E_FAIL, browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"PLC2"));
    EXPECT_EQ(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"PLC2"));
    ASSERT_EQ(S_OK, browse->GetItemID(empty, &text));
    EXPECT_EQ(std::wstring(L"PLC2"), text);
    CoTaskMemFree(text);
    EXPECT_EQ(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_UP, L"ignored"));
    ASSERT_EQ(S_OK, browse->GetItemID(empty, &text));
    EXPECT_EQ(std::wstring(L""), text);
    CoTaskMemFree(text);
    EXPECT_EQ(E_INVALIDARG, browse->ChangeBrowsePosition(OPCBROWSEDIRECTION(0), L"PLC1"));
}

TEST(ConfigFileName, OnlyTheFilesOwnExtensionCountsAndItsCase)
{
    struct Case {
        const char *name;
        bool accepted;
    };
    const Case cases[] = {
        {"C:\\Plant\\Line1.QOR", true},     {"C:\\Plant\\Line1.qor", false},
        {"C:\\Plant.old\\Line1.QOR", true}, {"C:\\Plant\\Line1", true},
        {"C:\\Plant.old\\Line1", true},     {"C:\\Plant\\Line1.QOR.bak", false},
        {"Line1.QOR", true},                {"C:Line1.txt", false},
        {"C:/Plant.old/Line1.QOR", true},   {"", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.accepted, IsConfigFileName(c.name)) << c.name;
}

}  // namespace
