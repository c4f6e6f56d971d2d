// The per-user profile: values under the application's section of
// HKEY_CURRENT_USER, defaults for what is missing or of another type.
#include <gtest/gtest.h>
#include <windows.h>
#include "Profile.h"

namespace {

const char TestKey[] = "Software\\Veltrane\\ProfileTest";

TEST(UserProfile, WritesAndReadsUnderTheApplicationsSection)
{
    CUserProfile profile("Veltrane", "ProfileTest");
    EXPECT_EQ("Software\\Veltrane\\ProfileTest\\Configuration", profile.SectionKey("Configuration"));
    EXPECT_EQ(77u, profile.ReadInt("Configuration", "Rows", 77)) << "missing";
    ASSERT_TRUE(profile.WriteInt("Configuration", "Rows", 321));
    EXPECT_EQ(321u, profile.ReadInt("Configuration", "Rows", 77));
    EXPECT_EQ(5u, profile.ReadInt("Other", "Rows", 5)) << "another section";

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veltrane\\ProfileTest\\Configuration", 0,
                                           KEY_WRITE, &key));
    RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE *>("12"), 3);
    RegCloseKey(key);
    EXPECT_EQ(9u, profile.ReadInt("Configuration", "Text", 9)) << "not a DWORD";

    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Veltrane\\ProfileTest\\Configuration");
    RegDeleteKeyA(HKEY_CURRENT_USER, TestKey);
}

}  // namespace
