// The pieces of registration that need no server process: the command
// line, the version block and the names built from it, and the DCOM rights
// of an AppID.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "DcomPermissions.h"
#include "Registration.h"
#include "ServerVersion.h"

namespace {

struct CommandCase {
    const char *line;
    CommandLineAction action;
};

TEST(CommandLine, SwitchesAreFoundInAnyCaseInTheirOrder)
{
    const CommandCase cases[] = {
        {"/UnregServer", CommandLineAction::Unregister},
        {"-unregserver", CommandLineAction::Unregister},
        {"/uNrEgSeRvEr /RegServer", CommandLineAction::Unregister},
        {"/RegServer", CommandLineAction::Register},
        {"regserver /Automation", CommandLineAction::Register},
        {"/RegService", CommandLineAction::RegisterService},
        {"/Automation", CommandLineAction::StartedByCom},
        {"/Automation -Embedding", CommandLineAction::StartedByCom},
        {"-Embedding", CommandLineAction::StartedByCom},
        {"", CommandLineAction::PlainStart},
        {"C:\\Config\\plant.qor", CommandLineAction::PlainStart},
        {"/Service", CommandLineAction::PlainStart},
    };
    for (const CommandCase &c : cases)
        EXPECT_EQ(int(c.action), int(ParseCommandLine(c.line))) << c.line;
}

TEST(Version, TheProgramsVersionBlockNamesTheDriver)
{
    CServerVersion version;
    ASSERT_TRUE(ReadServerVersion(NULL, version));
    EXPECT_EQ("QOR", version.acronym);
    EXPECT_EQ("QOR I/O Server", version.productName);
    EXPECT_EQ("7.10", version.productVersion);
    EXPECT_FALSE(version.fileDescription.empty());
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    EXPECT_EQ(0, lstrcmpiA(path, version.modulePath.c_str()));
    EXPECT_EQ(version.modulePath, CharUpperA(path));
}

TEST(Version, NamesFollowTheVersionBlock)
{
    CServerVersion version;
    version.productName = "QOR I/O Server";
    version.productVersion = "7.23a";
    version.acronym = "QOR";
    version.modulePath = "C:\\PROGRAM FILES\\QOR\\HADREL.EXE";
    CServerNames names = MakeServerNames(version);
    EXPECT_EQ("{402D97D2-7270-11D6-B98B-0050DACA0D41}", names.clsid);
    EXPECT_EQ("{402D97D1-7270-11D6-B98B-0050DACA0D41}", names.typeLibId);
    EXPECT_EQ("Veltrane.Hadrel", names.progId);
    EXPECT_EQ("Veltrane.Hadrel.7", names.versionedProgId);
    EXPECT_EQ("QOR I/O Server", names.description);
    EXPECT_EQ("QOR I/O Server 7.2", names.descriptionWithVersion);
    EXPECT_EQ("HADREL.EXE", names.moduleFileName);
    EXPECT_EQ("C:\\PROGRAM FILES\\QOR\\HADREL.TLB", names.typeLibPath);
    // A path with blanks must reach CreateProcess as one program name.
    EXPECT_EQ("\"C:\\PROGRAM FILES\\QOR\\HADREL.EXE\" /Automation", QuotedCommand(names.modulePath, " /Automation"));
    EXPECT_EQ("Software\\Veltrane\\Drivers\\QOR", DriverRegistryKey(version.acronym));
}

// The DCOM rights on an AppID of the test's own.
class DcomRights : public testing::Test {
protected:
    const std::string appId = "{6C1F0E2A-5B1D-4C35-9E3A-2D7C11AA0001}";
    void SetUp() override { RegDeleteKeyA(HKEY_CLASSES_ROOT, AppIdKeyName(appId).c_str()); }
    void TearDown() override { RegDeleteKeyA(HKEY_CLASSES_ROOT, AppIdKeyName(appId).c_str()); }

    static std::vector<BYTE> Sid(const char *name)
    {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        char domain[256];
        DWORD sidSize = sizeof sid, domainSize = sizeof domain;
        SID_NAME_USE use;
        EXPECT_TRUE(LookupAccountNameA(NULL, name, sid, &sidSize, domain, &domainSize, &use)) << name;
        return std::vector<BYTE>(sid, sid + GetLengthSid(sid));
    }
    static std::vector<BYTE> UserSid()
    {
        HANDLE token;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, NULL, 0, &size);
        std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
        EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), DWORD(buffer.size() * sizeof(DWORD)), &size));
        CloseHandle(token);
        PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
        return std::vector<BYTE>(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + GetLengthSid(sid));
    }

    struct Entry {
        BYTE type;
        DWORD mask;
        std::vector<BYTE> sid;
    };
    // The entries of the value's DACL, in order.
    std::vector<Entry> Entries(const char *valueName)
    {
        std::vector<Entry> entries;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, AppIdKeyName(appId).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return entries;
        BYTE data[4096];
        DWORD type = 0, size = sizeof data;
        LONG result = RegQueryValueExA(key, valueName, NULL, &type, data, &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) {
            ADD_FAILURE() << valueName << " missing";
            return entries;
        }
        EXPECT_EQ(DWORD(REG_BINARY), type);
        EXPECT_TRUE(IsValidSecurityDescriptor(data));
        BOOL present = FALSE, defaulted = FALSE;
        PACL acl = nullptr;
        EXPECT_TRUE(GetSecurityDescriptorDacl(data, &present, &acl, &defaulted));
        if (!present || !acl)
            return entries;
        for (DWORD i = 0; i < acl->AceCount; ++i) {
            void *ace;
            GetAce(acl, i, &ace);
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            PSID sid = &allowed->SidStart;
            entries.push_back(Entry{allowed->Header.AceType, allowed->Mask,
                                    std::vector<BYTE>(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + GetLengthSid(sid))});
        }
        return entries;
    }
};

TEST_F(DcomRights, EveryoneJoinsTheDefaultEntriesOnceHoweverOftenItIsGranted)
{
    for (int round = 0; round < 2; ++round) {
        SetAccessPermission(appId, "Everyone", true, true);
        SetLaunchPermission(appId.substr(1, appId.size() - 2), "Everyone", true, true);   // braces added
        for (const char *value : {"AccessPermission", "LaunchPermission"}) {
            std::vector<Entry> entries = Entries(value);
            std::vector<std::vector<BYTE>> expected = {UserSid(), Sid("SYSTEM"), Sid("INTERACTIVE"), Sid("Everyone")};
            ASSERT_EQ(expected.size(), entries.size()) << value << " round " << round;
            for (size_t i = 0; i < entries.size(); ++i) {
                EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, entries[i].type) << value << " " << i;
                EXPECT_EQ(kComRightsExecute, entries[i].mask) << value << " " << i;
                EXPECT_EQ(expected[i], entries[i].sid) << value << " " << i;
            }
        }
    }
}

TEST_F(DcomRights, ADeniedPrincipalGoesFirstAndAnAbsentOneChangesNothing)
{
    std::string key = AppIdKeyName(appId);
    EXPECT_EQ(0u, AddPrincipalToNamedValue(HKEY_CLASSES_ROOT, key, "AccessPermission", "Everyone", false));
    std::vector<Entry> entries = Entries("AccessPermission");
    ASSERT_EQ(4u, entries.size());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, entries[0].type);
    EXPECT_EQ(DWORD(GENERIC_ALL), entries[0].mask);
    EXPECT_EQ(Sid("Everyone"), entries[0].sid);

    EXPECT_EQ(0u, RemovePrincipalFromNamedValue(HKEY_CLASSES_ROOT, key, "AccessPermission", "Everyone"));
    EXPECT_EQ(3u, Entries("AccessPermission").size());
    EXPECT_EQ(0u, RemovePrincipalFromNamedValue(HKEY_CLASSES_ROOT, key, "AccessPermission", "Everyone"));
    std::vector<Entry> unchanged = Entries("AccessPermission");
    ASSERT_EQ(3u, unchanged.size());
    EXPECT_EQ(UserSid(), unchanged[0].sid);
}

TEST_F(DcomRights, AValueThatIsNoDescriptorIsReplacedByANewOne)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, AppIdKeyName(appId).c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &key, NULL));
    const BYTE junk[] = {1, 2, 3, 4, 5};
    RegSetValueExA(key, "AccessPermission", 0, REG_BINARY, junk, sizeof junk);
    RegCloseKey(key);
    SetAccessPermission(appId, "Everyone", true, true);
    EXPECT_EQ(4u, Entries("AccessPermission").size());
}

} // namespace
