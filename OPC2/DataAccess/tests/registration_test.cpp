// "regsvr32 Brisko.dll" in the test prefix: the 14 class keys, both OPC
// categories (read back through ICatInformation) and the "OPC" defaults; a
// second registration keeps what a user edited; "/u" takes it all away but
// the category descriptions. And the four exports loaded in this process.
#include <windows.h>
#include <comcat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpcDataAccess.h"
#include "ProcessRunner.h"
#include "QORDriver.h"

namespace {

const char kClsid[] = "{402D97D3-7270-11D6-B98B-0050DACA0D41}";
const CLSID kBrisko = {0x402D97D3, 0x7270, 0x11D6, {0xB9, 0x8B, 0x00, 0x50, 0xDA, 0xCA, 0x0D, 0x41}};
const char kOpcKey[] = "Software\\Veltrane\\Drivers\\QOR\\OPC";

bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A REG_SZ value (name null: the default value): its text, and whether it
// was stored with its terminating zero.
bool ReadText(HKEY root, const std::string &path, const char *name, std::string &text, bool *terminated = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char buffer[600] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text = buffer;
    if (terminated)
        *terminated = size == text.size() + 1;
    return true;
}

bool ReadNumber(const std::string &path, const char *name, DWORD &value)
{
    DWORD size = sizeof(value), type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD;
}

DWORD Regsvr32(const char *options)
{
    return RunProgram(std::string("regsvr32.exe ") + options + " \"" + BinFolder() + "Brisko.dll\"");
}

struct ClassKey {
    std::string key;
    const char *value;  // the default value, or null for none
    std::vector<std::pair<const char *, const char *>> named;
};

std::vector<ClassKey> ExpectedKeys()
{
    std::string c = kClsid, p = "Veltrane.Brisko", cls = "CLSID\\" + c, app = "AppID\\" + c;
    std::string dll = BinFolder() + "Brisko.dll";
    static std::string module;
    module = dll;
    return {
        {p + ".1", "QOR OPC Data Access Server", {}},
        {p + ".1\\CLSID", kClsid, {}},
        {p, "QOR OPC Data Access Server", {}},
        {p + "\\CurVer", "Veltrane.Brisko.1", {}},
        {p + "\\CLSID", kClsid, {}},
        {p + "\\OPC", nullptr, {}},
        {p + "\\OPC\\Vendor", "Veltrane, Inc.", {}},
        {cls, "QOR OPC Data Access Server", {{"AppID", kClsid}}},
        {cls + "\\ProgID", "Veltrane.Brisko", {}},
        {cls + "\\VersionIndependentProgID", "Veltrane.Brisko", {}},
        {cls + "\\NotInsertable", nullptr, {}},
        {cls + "\\InprocServer32", module.c_str(), {{"ThreadingModel", "Free"}}},
        {app, "QOR OPC Data Access Server", {{"DllSurrogate", ""}, {"RunAs", "Interactive User"}}},
    };
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // As in a fresh prefix: nothing of an earlier registration left.
        Regsvr32("/s /u");
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kOpcKey);
    }
    void TearDown() override
    {
        Regsvr32("/s /u");
        CoUninitialize();
    }
    ICatInformation *Categories()
    {
        ICatInformation *info = nullptr;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatInformation, reinterpret_cast<void **>(&info)));
        return info;
    }
    bool Implements(ICatInformation *info, REFCATID catid)
    {
        CATID id = catid;
        return info->IsClassOfCategories(kBrisko, 1, &id, 0, nullptr) == S_OK;
    }
};

TEST_F(RegistrationTest, RegisterWritesKeysCategoriesAndDefaultsAndUnregisterTakesThemAway)
{
    ASSERT_EQ(0u, Regsvr32("/s"));
    for (const ClassKey &k : ExpectedKeys()) {
        SCOPED_TRACE(k.key);
        ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, k.key));
        std::string text;
        bool terminated = false;
        if (k.value) {
            EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, k.key, nullptr, text, &terminated));
            EXPECT_EQ(std::string(k.value), text);
            EXPECT_TRUE(terminated);
        } else {
            EXPECT_FALSE(ReadText(HKEY_CLASSES_ROOT, k.key, nullptr, text)) << "no default value";
        }
        for (auto &named : k.named) {
            EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, k.key, named.first, text)) << named.first;
            EXPECT_EQ(std::string(named.second), text) << named.first;
        }
    }

    ICatInformation *info = Categories();
    ASSERT_NE(nullptr, info);
    struct {
        const CATID *id;
        const wchar_t *text;
    } categories[] = {{&CATID_OPCDAServer10, L"OPC Data Access Servers Version 1.0"},
                      {&CATID_OPCDAServer20, L"OPC Data Access Servers Version 2.0"}};
    for (auto &c : categories) {
        LPWSTR desc = nullptr;
        EXPECT_EQ(S_OK, info->GetCategoryDesc(*c.id, 1033, &desc));
        EXPECT_EQ(std::wstring(c.text), desc ? desc : L"(none)");
        CoTaskMemFree(desc);
        EXPECT_TRUE(Implements(info, *c.id));
    }

    // The defaults, texts with their terminating zero.
    std::string server = std::string(kOpcKey) + "\\ServerDefaults", item = std::string(kOpcKey) + "\\ItemDefaults",
                group = std::string(kOpcKey) + "\\GroupDefaults";
    struct {
        std::string key;
        const char *name;
        DWORD number;
        const char *text;
    } defaults[] = {
        {server, "ThreadSleepTime", 25, nullptr},   {group, "GeneratedGroupName", 0, "Group"},
        {item, "AutoStart", 1, nullptr},            {item, "StringLength", 20, nullptr},
        {item, "SignalConditioning", 0, "NONE"},    {item, "LoEGU", 0, "0.0"},
        {item, "HiEGU", 0, "65535.0"},              {item, "HardwareOptions", 0, "NONE"},
    };
    for (auto &d : defaults) {
        SCOPED_TRACE(d.name);
        if (d.text) {
            std::string text;
            bool terminated = false;
            EXPECT_TRUE(ReadText(HKEY_LOCAL_MACHINE, d.key, d.name, text, &terminated));
            EXPECT_EQ(std::string(d.text), text);
            EXPECT_TRUE(terminated);
        } else {
            DWORD value = 0;
            EXPECT_TRUE(ReadNumber(d.key, d.name, value));
            EXPECT_EQ(d.number, value);
        }
    }

    // A user's edits survive registering again.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, server.c_str(), 0, KEY_ALL_ACCESS, &key));
    DWORD sleep = 100;
    RegSetValueExA(key, "ThreadSleepTime", 0, REG_DWORD, reinterpret_cast<BYTE *>(&sleep), sizeof(sleep));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, group.c_str(), 0, KEY_ALL_ACCESS, &key));
    RegSetValueExA(key, "GeneratedGroupName", 0, REG_SZ, reinterpret_cast<const BYTE *>("Grp"), 4);
    RegCloseKey(key);
    ASSERT_EQ(0u, Regsvr32("/s"));
    DWORD value = 0;
    EXPECT_TRUE(ReadNumber(server, "ThreadSleepTime", value));
    EXPECT_EQ(100u, value);
    std::string text;
    EXPECT_TRUE(ReadText(HKEY_LOCAL_MACHINE, group, "GeneratedGroupName", text));
    EXPECT_EQ("Grp", text);

    // Unregistering: every class key and the "OPC" key go, the category
    // descriptions stay.
    ASSERT_EQ(0u, Regsvr32("/s /u"));
    for (const ClassKey &k : ExpectedKeys())
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, k.key)) << k.key;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kOpcKey));
    for (auto &c : categories) {
        LPWSTR desc = nullptr;
        EXPECT_EQ(S_OK, info->GetCategoryDesc(*c.id, 1033, &desc));
        CoTaskMemFree(desc);
        EXPECT_FALSE(Implements(info, *c.id));
    }
    info->Release();
}

TEST_F(RegistrationTest, ExportsServeOnlyBriskosClassAndReportWhetherTheyCanUnload)
{
    HMODULE dll = LoadLibraryA((BinFolder() + "Brisko.dll").c_str());
    ASSERT_NE(nullptr, dll);
    auto getClassObject =
        reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(GetProcAddress(dll, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(dll, "DllCanUnloadNow"));
    ASSERT_NE(nullptr, getClassObject);
    ASSERT_NE(nullptr, canUnload);
    EXPECT_NE(nullptr, GetProcAddress(dll, "DllRegisterServer"));
    EXPECT_NE(nullptr, GetProcAddress(dll, "DllUnregisterServer"));

    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(CLSID_QORDriver, IID_IClassFactory, &p));
    IClassFactory *factory = nullptr;
    ASSERT_EQ(S_OK, getClassObject(kBrisko, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, canUnload()) << "a lock keeps the library loaded";
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, canUnload());
    IUnknown *outer = reinterpret_cast<IUnknown *>(factory);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IUnknown, &p));
    factory->Release();
    EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
