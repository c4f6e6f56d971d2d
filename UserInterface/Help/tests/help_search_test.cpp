// The help window's file search and the installed-file search over a file
// system and registry held in tables.
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "HelpLocator.h"
#include "HelpTopics.h"

namespace {

class TableFiles : public IHelpFileSystem {
public:
    std::set<std::string> files;
    std::map<std::string, std::string> values;   // "root|key|value" -> folder
    std::map<std::string, std::string> profile;  // key of hh.ini's [files]
    std::vector<bool> answers;                   // prompt answers in order
    std::vector<std::string> prompts, messages;
    std::vector<std::string> looked;             // every existence check
    std::string program = "C:\\Program Files\\QOR", current = "C:\\work", windows = "C:\\windows";
    int createAfterPrompts = -1;                 // the disk arrives after n prompts
    std::string arriving;

    bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) override
    {
        const auto found = values.find(Key(root, key, value));
        if (found == values.end())
            return false;
        folder = found->second;
        return true;
    }
    bool FileExists(const std::string &path) override
    {
        looked.push_back(path);
        return files.count(path) != 0;
    }
    std::string ProgramFolder() override { return program; }
    std::string CurrentFolder() override { return current; }
    std::string WindowsFolder() override { return windows; }
    std::string ProfileString(const char *file, const char *section, const std::string &key) override
    {
        EXPECT_STREQ("hh.ini", file);
        EXPECT_STREQ("files", section);
        const auto found = profile.find(key);
        return found == profile.end() ? std::string() : found->second;
    }
    bool Prompt(const std::string &text) override
    {
        prompts.push_back(text);
        if (static_cast<int>(prompts.size()) == createAfterPrompts)
            files.insert(arriving);
        const bool ok = prompts.size() <= answers.size() && answers[prompts.size() - 1];
        return ok;
    }
    void NotFound(const std::string &text) override { messages.push_back(text); }
    std::string FullPath(const std::string &path) override { return path.find(':') == 1 ? path : "C:\\cwd\\" + path; }

    static std::string Key(HKEY root, const char *key, const char *value)
    {
        return std::string(root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCR") + "|" + key + "|" + (value ? value : "");
    }
};

}  // namespace

TEST(HelpFileSearch, EachPlaceInItsOrder)
{
    struct {
        const char *where;
        const char *name;
        const char *file;
        const char *expected;
    } const cases[] = {
        {"as passed", "D:\\help\\QORf1.chm", "D:\\help\\QORf1.chm", "D:\\help\\QORf1.chm"},
        {"relative as passed", "QORf1.chm", "QORf1.chm", "C:\\cwd\\QORf1.chm"},
        {"program folder, folders and forward slashes", "docs/help/QORf1.chm", "C:\\Program Files\\QOR\\QORf1.chm",
         "C:\\Program Files\\QOR\\QORf1.chm"},
        {"current folder", "docs/QORf1.chm", "C:\\work\\QORf1.chm", "C:\\work\\QORf1.chm"},
        {"HTML Help key", "QORf1.chm", "E:\\chm\\QORf1.chm", "E:\\chm\\QORf1.chm"},
        {"shared folder", "QORf1.chm", "S:\\shared\\Help\\QORf1.chm", "S:\\shared\\Help\\QORf1.chm"},
    };
    for (const auto &c : cases) {
        TableFiles files;
        files.values[TableFiles::Key(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\HTML Help", "QORf1.chm")] =
            "E:\\chm";
        files.values[TableFiles::Key(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Setup",
                                     "SharedDir")] = "S:\\shared";
        files.files.insert(c.file);
        EXPECT_EQ(c.expected, FindHelpFile(files, c.name)) << c.where;
        EXPECT_TRUE(files.messages.empty()) << c.where;
    }
}

TEST(HelpFileSearch, WindowsFolderWithoutASharedFolder)
{
    TableFiles files;
    files.files.insert("C:\\windows\\Help\\QOR.chm");
    EXPECT_EQ("C:\\windows\\Help\\QOR.chm", FindHelpFile(files, "QOR.chm"));
    // The order the places were looked at.
    const std::vector<std::string> expected = {"QOR.chm", "C:\\Program Files\\QOR\\QOR.chm", "C:\\work\\QOR.chm",
                                               "C:\\windows\\Help\\QOR.chm"};
    EXPECT_EQ(expected, files.looked);
}

TEST(HelpFileSearch, ProfileEntriesAndTheirPrompts)
{
    const std::string notFound =
        "Cannot find the \"QOR.chm\" file. Check to see that the file exists on your disk. If it doesn't, you need to "
        "reinstall it.";
    struct {
        const char *what;
        const char *entry;
        std::vector<bool> answers;
        int arrivesAfter;
        const char *expected;
        size_t prompts;
    } const cases[] = {
        {"path exists", "F:\\disk\\QOR.chm", {}, -1, "F:\\disk\\QOR.chm", 0},
        {"path missing, no prompt", "F:\\disk\\QOR.chm", {}, -1, "", 0},
        {"prompt until the disk is in", "F:\\disk\\QOR.chm,Insert the help disk", {true, true, true}, 2,
         "F:\\disk\\QOR.chm", 2},
        {"Cancel is not found", "F:\\disk\\QOR.chm,Insert the help disk", {true, false}, -1, "", 2},
    };
    for (const auto &c : cases) {
        TableFiles files;
        files.profile["QOR.chm"] = c.entry;
        files.answers = c.answers;
        files.createAfterPrompts = c.arrivesAfter;
        files.arriving = "F:\\disk\\QOR.chm";
        if (std::string(c.what) == "path exists")
            files.files.insert("F:\\disk\\QOR.chm");
        EXPECT_EQ(c.expected, FindHelpFile(files, "QOR.chm")) << c.what;
        EXPECT_EQ(c.prompts, files.prompts.size()) << c.what;
        for (const std::string &prompt : files.prompts)
            EXPECT_EQ("Insert the help disk", prompt);
        if (*c.expected)
            EXPECT_TRUE(files.messages.empty()) << c.what;
        else
            EXPECT_EQ(std::vector<std::string>{notFound}, files.messages) << c.what;
    }
}

TEST(InstalledHelpFile, FirstOfTheFiveFoldersThatHoldsIt)
{
    TableFiles files;
    EXPECT_EQ("QOR.chm", FindInstalledHelpFile(files, "QOR.chm"));
    files.values[TableFiles::Key(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QOR", "NlsPath")] = "C:\\nls";
    files.values[TableFiles::Key(HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\BASPATH", nullptr)] = "C:\\bas";
    files.files.insert("C:\\bas\\QOR.chm");
    EXPECT_EQ("C:\\bas\\QOR.chm", FindInstalledHelpFile(files, "QOR.chm"));
    files.files.insert("C:\\nls\\QOR.chm");
    EXPECT_EQ("C:\\nls\\QOR.chm", FindInstalledHelpFile(files, "QOR.chm"));
}

TEST(HelpText, PagesAsPlainTextAndHelpUrls)
{
    std::string title;
    const std::string text = PlainTextFromHtml(
        "<html><head><title>Device</title><style>p{}</style></head><body><h1>Device</h1>\n<p>Retries:\n  0 to 9 &amp; "
        "more.</p><ul><li>One</li><li>Two</li></ul></body></html>",
        &title);
    EXPECT_EQ("Device", title);
    EXPECT_EQ("Device\r\nRetries: 0 to 9 & more.\r\n- One\r\n- Two\r\n", text);

    EXPECT_EQ("its:C:\\h\\QORf1.chm::s7Channel.htm", HelpFileUrl("C:\\h\\QORf1.chm", "s7Channel.htm"));
    std::string file, topic;
    ASSERT_TRUE(SplitHelpUrl("C:\\h\\QORf1.chm::\\s7Channel.htm>pop-up", file, topic));
    EXPECT_EQ("C:\\h\\QORf1.chm", file);
    EXPECT_EQ("s7Channel.htm", topic);
    ASSERT_TRUE(SplitHelpUrl("its:C:\\h\\QOR.chm::start_s72.htm", file, topic));
    EXPECT_EQ("start_s72.htm", topic);
    EXPECT_FALSE(SplitHelpUrl("http://example/", file, topic));
}
