// The tool's help services over seams: where the help files are taken from,
// the pop-up control's request and its missing-control text, the viewer's
// topics and the help program.
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "ToolFakes.h"
#include "ToolHelp.h"

namespace {

class RecordingViewer : public IHelpViewer {
public:
    std::vector<std::string> calls;
    bool works = true;
    bool DisplayTopic(HWND, const std::string &target) override
    {
        calls.push_back("topic " + target);
        return works;
    }
    bool Spawn(const std::string &commandLine, const std::string &folder) override
    {
        calls.push_back("spawn " + commandLine + " in " + folder);
        return works;
    }
};

class RecordingControl : public IContextHelpControl {
public:
    std::vector<std::string> calls;
    bool exists = true;
    HRESULT result = S_OK;
    HRESULT Show(int id, const std::string &file, bool &created) override
    {
        created = exists;
        calls.push_back(std::to_string(id) + " " + file);
        return exists ? result : REGDB_E_CLASSNOTREG;
    }
};

class TableTexts : public IErrorTexts {
public:
    std::map<HRESULT, std::string> texts;
    bool Text(HRESULT code, std::string &text) override
    {
        const auto found = texts.find(code);
        if (found == texts.end())
            return false;
        text = found->second;
        return true;
    }
};

// "NlsPath" names C:\QOR\Help, which holds the context-help file; the
// program's own folder holds what files says.
class OneFolder : public IHelpFileSystem {
public:
    std::set<std::string> files = {"C:\\QOR\\Help\\QORf1.chm"};
    bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) override
    {
        if (root != HKEY_LOCAL_MACHINE || !value || std::string(value) != "NlsPath")
            return false;
        folder = "C:\\QOR\\Help";
        return true;
    }
    bool FileExists(const std::string &path) override { return files.count(path) != 0; }
    std::string ProgramFolder() override { return "C:\\Program Files\\QOR"; }
    std::string CurrentFolder() override { return "C:\\work"; }
    std::string WindowsFolder() override { return "C:\\windows"; }
    std::string ProfileString(const char *, const char *, const std::string &) override { return ""; }
    bool Prompt(const std::string &) override { return false; }
    void NotFound(const std::string &) override {}
    std::string FullPath(const std::string &path) override { return path; }
};

class ToolHelpTest : public ::testing::Test {
protected:
    FakeScreen screen;
    TableTexts texts;
    RecordingViewer viewer;
    RecordingControl control;
    CToolHelp help{screen, texts, viewer, control};
};

}  // namespace

TEST_F(ToolHelpTest, EachFileIsFoundOnItsOwnElseItsBareName)
{
    EXPECT_EQ("QOR.chm", help.HelpFile());
    OneFolder folders;
    help.Locate(folders);
    EXPECT_EQ("QOR.chm", help.HelpFile());
    EXPECT_EQ("C:\\QOR\\Help\\QORf1.chm", help.ContextHelpFile());

    // Beside the program: its full path, whatever the current folder; an
    // installation folder still comes first.
    folders.files.insert("C:\\Program Files\\QOR\\QOR.chm");
    folders.files.insert("C:\\Program Files\\QOR\\QORf1.chm");
    help.Locate(folders);
    EXPECT_EQ("C:\\Program Files\\QOR\\QOR.chm", help.HelpFile());
    EXPECT_EQ("C:\\QOR\\Help\\QORf1.chm", help.ContextHelpFile());
    help.ShowPopup(7001);
    help.ShowTopic(NULL, "start_s72.htm");
    EXPECT_EQ(std::vector<std::string>{"7001 C:\\QOR\\Help\\QORf1.chm"}, control.calls);
    EXPECT_EQ(std::vector<std::string>{"topic C:\\Program Files\\QOR\\QOR.chm::\\start_s72.htm"}, viewer.calls);
}

TEST_F(ToolHelpTest, PopUpsForControlsAndWhatAMissingControlShows)
{
    OneFolder folders;
    help.Locate(folders);
    help.ShowPopup(7001);
    EXPECT_EQ(std::vector<std::string>{"7001 C:\\QOR\\Help\\QORf1.chm"}, control.calls);
    EXPECT_TRUE(screen.Boxes().empty());

    texts.texts[HRESULT(0xC107000E)] = "The context-help control cannot be created.";
    control.exists = false;
    help.ShowPopup(7002);
    control.exists = true;
    control.result = STG_E_FILENOTFOUND;
    texts.texts[STG_E_FILENOTFOUND] = "No topic map.";
    help.ShowPopup(7003);
    EXPECT_EQ((std::vector<std::string>{"The context-help control cannot be created.", "No topic map."}),
              screen.Boxes());
}

TEST_F(ToolHelpTest, TopicsInTheViewerAndTheHelpProgram)
{
    help.ShowTopic(NULL, "start_s72.htm");
    help.ShowPopupTopic(NULL, "s7Channel.htm");
    help.HelpTopics();
    const std::vector<std::string> expected = {"topic QOR.chm::\\start_s72.htm", "topic QORf1.chm::\\s7Channel.htm>pop-up",
                                               "spawn HH QOR.chm in "};
    EXPECT_EQ(expected, viewer.calls);
    EXPECT_TRUE(screen.Boxes().empty());
    viewer.works = false;
    help.HelpTopics();
    EXPECT_EQ(std::vector<std::string>{"Error:  HH QOR.chm, failed to spawn"}, screen.Boxes());
}
