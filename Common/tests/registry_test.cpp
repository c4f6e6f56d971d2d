#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "Registry.h"

namespace {

// Each test works in a key of its own under HKLM and removes it afterwards.
class RegistryTest : public ::testing::Test {
protected:
    std::string base;
    void SetUp() override
    {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        base = std::string("Software\\Veltrane\\Tests\\") + info->name();
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, base.c_str()); }

    void openWritable(CRegistry &reg, const std::string &sub = "")
    {
        ASSERT_EQ(0, reg.OpenKey((base + sub).c_str(), NULL, KEY_ALL_ACCESS));
    }
};

TEST_F(RegistryTest, ConstructionGivesTheDocumentedDefaults)
{
    CRegistry reg;
    EXPECT_EQ(HKEY_LOCAL_MACHINE, reg.GetRootKey());
    EXPECT_EQ(static_cast<unsigned long>(KEY_READ), reg.GetAccessLevel());
    EXPECT_EQ(nullptr, reg.GetKeyValue());
}

TEST_F(RegistryTest, OpenKeyCreatesAMissingKeyAndKeepsItOpen)
{
    CRegistry reg;
    openWritable(reg, "\\New");
    EXPECT_NE(nullptr, reg.GetKeyValue());
    HKEY check;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (base + "\\New").c_str(), 0, KEY_READ, &check));
    RegCloseKey(check);
}

TEST_F(RegistryTest, KeyReadLeavesTheStoredAccessLevelUnchanged)
{
    CRegistry reg;
    openWritable(reg);
    EXPECT_EQ(static_cast<unsigned long>(KEY_ALL_ACCESS), reg.GetAccessLevel());
    ASSERT_EQ(0, reg.OpenKey(base.c_str()));
    EXPECT_EQ(static_cast<unsigned long>(KEY_ALL_ACCESS), reg.GetAccessLevel());
    EXPECT_EQ(0, reg.WriteValue("StillWritable", 1ul));
}

TEST_F(RegistryTest, EnumerationEndsThenStartsAgain)
{
    CRegistry reg;
    for (const char *sub : {"\\A", "\\B", "\\C"})
        openWritable(reg, sub);
    ASSERT_EQ(0, reg.OpenKey(base.c_str()));
    char name[CRegistry::MaxKeyName + 1];
    std::string seen;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(0, reg.NextKeyName(name));
        seen += name;
    }
    EXPECT_EQ("ABC", seen);
    strcpy(name, "junk");
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, reg.NextKeyName(name));
    EXPECT_STREQ("", name);
    ASSERT_EQ(0, reg.NextKeyName(name));
    EXPECT_STREQ("A", name);
}

TEST_F(RegistryTest, DeleteKeyWorksUnderTheRootNotTheOpenKey)
{
    CRegistry reg;
    openWritable(reg, "\\Child");
    openWritable(reg);
    EXPECT_NE(0, reg.DeleteKey("Child"));  // relative to the open key: not found at the root
    EXPECT_EQ(0, reg.DeleteKey((base + "\\Child").c_str()));
}

TEST_F(RegistryTest, TextAndDwordValuesRoundTrip)
{
    CRegistry reg;
    openWritable(reg);
    ASSERT_EQ(0, reg.WriteValue("Text", "Parvel.Dll"));
    ASSERT_EQ(0, reg.WriteValue("Number", 4095ul));

    char text[64];
    unsigned long length = sizeof(text);
    ASSERT_EQ(0, reg.ReadValue("Text", text, &length));
    EXPECT_STREQ("Parvel.Dll", text);

    unsigned long number = 0;
    ASSERT_EQ(0, reg.ReadValue("Number", &number));
    EXPECT_EQ(4095ul, number);

    length = sizeof(text);
    ASSERT_EQ(0, reg.ReadValue("Number", text, &length));
    EXPECT_STREQ("fff", text);
}

TEST_F(RegistryTest, WrongTypesAndMissingValuesKeepTheCallersDefault)
{
    CRegistry reg;
    openWritable(reg);
    const BYTE blob[3] = {1, 2, 3};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(reg.GetKeyValue(), "Binary", 0, REG_BINARY, blob, 3));
    ASSERT_EQ(0, reg.WriteValue("Text", "abc"));

    char text[16];
    unsigned long length = sizeof(text);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.ReadValue("Binary", text, &length));

    unsigned long value = 77;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.ReadValue("Binary", &value));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.ReadValue("Text", &value));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.ReadValue("Missing", &value));
    EXPECT_EQ(77ul, value);
}

// The caller's buffer is its *length: the terminator always lands inside it,
// and a value that would not fit is refused instead of overrunning.
TEST_F(RegistryTest, TextReadsNeverOverrunTheCallersBuffer)
{
    CRegistry reg;
    openWritable(reg);
    ASSERT_EQ(0, reg.WriteValue("Four", "abcd"));
    ASSERT_EQ(0, reg.WriteValue("Max", 0xFFFFFFFFul));
    ASSERT_EQ(0, reg.WriteValue("Long", std::string(2000, 'x').c_str()));

    struct Case { const char *name; unsigned long size; LONG rc; const char *text; };
    const Case cases[] = {
        {"Four", 5, 0, "abcd"},
        {"Four", 4, ERROR_MORE_DATA, ""},
        {"Max", 9, 0, "ffffffff"},
        {"Max", 8, ERROR_MORE_DATA, ""},
        {"Max", 2, ERROR_MORE_DATA, ""},
        {"Long", 2001, ERROR_MORE_DATA, ""},  // beyond the 1024-byte read buffer
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.size));
        char buffer[4096];
        memset(buffer, '#', sizeof(buffer));
        unsigned long length = c.size;
        EXPECT_EQ(c.rc, reg.ReadValue(c.name, buffer, &length));
        EXPECT_STREQ(c.text, buffer);
        EXPECT_EQ('#', buffer[c.size]) << "wrote past the caller's buffer";
    }
}

TEST_F(RegistryTest, CallsWithoutAnOpenKeyFailCleanly)
{
    CRegistry reg;
    unsigned long value = 5;
    char text[8];
    unsigned long length = sizeof(text);
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.ReadValue("x", &value));
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.ReadValue("x", text, &length));
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.WriteValue("x", 1ul));
    char name[CRegistry::MaxKeyName + 1];
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.NextKeyName(name));
}

}  // namespace
