// The per-user settings and the help file search, over tables.
#include <gtest/gtest.h>
#include <map>
#include <set>
#include "ScopeFakes.h"
#include "ScopeHelp.h"
#include "ScopeSettings.h"

namespace {

TEST(ScopeSettingsLoad, StoredValuesOutOfRangeFallBackToTheirDefaults)
{
    struct {
        const char *entry;
        unsigned long stored;
        unsigned rows, columns;
    } cases[] = {
        {"Rows", 5, 40, 40},        {"Rows", 2000, 40, 40},   {"Rows", 10, 10, 40},
        {"Rows", 1000, 1000, 40},   {"Rows", 0x10000 + 20, 20, 40},  // 16-bit value
        {"Columns", 30, 40, 40}, {"Columns", 121, 40, 40}, {"Columns", 120, 40, 120},
    };
    for (const auto &c : cases) {
        CTableProfile profile;
        profile.values[CTableProfile::Key("Configuration", c.entry)] = c.stored;
        ScopeSettings settings;
        settings.Load(profile);
        EXPECT_EQ(c.rows, settings.rows) << c.entry << " " << c.stored;
        EXPECT_EQ(c.columns, settings.columns) << c.entry << " " << c.stored;
    }
}

TEST(ScopeSettingsLoad, DefaultsAndStoredColoursAndFont)
{
    CTableProfile profile;
    ScopeSettings settings;
    settings.Load(profile);
    EXPECT_EQ(0x0000FFFFu, settings.sendForeground);
    EXPECT_EQ(0x00FF0000u, settings.sendBackground);
    EXPECT_EQ(0x0000FF00u, settings.recvForeground);
    EXPECT_EQ(0x00FF0000u, settings.recvBackground);
    EXPECT_FALSE(settings.hexFont);

    profile.values["Configuration/RecvForegroundColor"] = 0x00808080;
    profile.values["Configuration/Font"] = 7;
    settings.Load(profile);
    EXPECT_EQ(0x00808080u, settings.recvForeground);
    EXPECT_TRUE(settings.hexFont);
    settings.SaveFont(profile);
    EXPECT_EQ(1u, profile.Get("Font"));
}

// A registry of folders and a disk of files.
class CTableLocator : public IScopeHelpLocator {
public:
    bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) override
    {
        asked.push_back(std::string(root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCR\\") + key + (value ? "@" : "") +
                        (value ? value : ""));
        auto found = folders.find(asked.back());
        if (found == folders.end())
            return false;
        folder = found->second;
        return true;
    }
    bool FileExists(const std::string &path) override { return files.count(path) != 0; }

    std::map<std::string, std::string> folders;
    std::set<std::string> files;
    std::vector<std::string> asked;
};

TEST(ScopeHelpFile, FirstFolderThatHoldsTheFileInTheFiveKeysOrder)
{
    const std::vector<std::string> order = {
        "HKLM\\Software\\Veltrane\\Drivers\\QOR@NlsPath", "HKCR\\Software\\Kestrune\\NLSPATH",
        "HKCR\\Software\\Kestrune\\BASPATH", "HKCR\\Software\\Brenta Dynamics\\NLSPATH",
        "HKCR\\Software\\Brenta Dynamics\\BASPATH"};
    {
        CTableLocator nothing;
        EXPECT_EQ("QORf1.chm", FindScopeHelpFile(nothing));
        EXPECT_EQ(order, nothing.asked);
    }
    // Each key in turn holds a folder with the file; every key before it
    // holds a folder without it, every key after it one with it.
    for (size_t winner = 0; winner < order.size(); ++winner) {
        CTableLocator locator;
        for (size_t i = 0; i < order.size(); ++i) {
            const std::string folder = "C:\\f" + std::to_string(i);
            locator.folders[order[i]] = folder;
            if (i >= winner)
                locator.files.insert(folder + "\\QORf1.chm");
        }
        EXPECT_EQ("C:\\f" + std::to_string(winner) + "\\QORf1.chm", FindScopeHelpFile(locator));
        EXPECT_EQ(winner + 1, locator.asked.size());
    }
}

TEST(ScopeHelpPoint, MenusControlsToolbarAndModifiers)
{
    ScopeHelpInput menu = {false, ScopeHelpKind::Menu, 32776, {100, 200}, {0, 0, 0, 0}, false};
    ScopeHelpRequest request = ScopeHelpFor(menu);
    EXPECT_TRUE(request.show);
    EXPECT_EQ(110, request.point.x);
    EXPECT_EQ(210, request.point.y);
    EXPECT_EQ(32776, request.id);

    ScopeHelpInput control = {false, ScopeHelpKind::Control, 1000, {0, 0}, {100, 40, 180, 60}, false};
    request = ScopeHelpFor(control);
    EXPECT_EQ(120, request.point.x);
    EXPECT_EQ(45, request.point.y);
    EXPECT_EQ(1000, request.id);

    control.isToolbar = true;
    EXPECT_EQ(22786, ScopeHelpFor(control).id);

    menu.modifierHeld = true;
    EXPECT_FALSE(ScopeHelpFor(menu).show);

    EXPECT_EQ("error 80040154 C:\\h\\QORf1.chm F1 id 22786 embedded 1d 122786",
              ScopeHelpErrorText(HRESULT(0x80040154), "C:\\h\\QORf1.chm", 22786));
}

}  // namespace
