// The document's commands and the tree browser over a server and a tree in
// memory, with the user's answers to message boxes and the file dialog
// queued by the test.
#include <gtest/gtest.h>
#include "ClientFileDialog.h"
#include "ObjectForm.h"
#include "DocumentFakes.h"
#include "TreeBar.h"
#include "TreeBrowser.h"
#include "UserInterfaceDoc.h"

namespace {

const HRESULT kRefused = HRESULT(0xC1030311);

class Texts : public IErrorTexts {
public:
    std::string importText;  // the message table's text for the import question
    bool Text(HRESULT code, std::string &text) override
    {
        if (code == CUserInterfaceDoc::ImportTextCode && !importText.empty())
            text = importText;
        else if (code == kRefused)
            text = "refused";
        else if (code == E_FAIL)
            text = "failed";
        else
            return false;
        return true;
    }
};

class DocumentTest : public ::testing::Test {
protected:
    DocumentTest()
        : connection(profile, activator, screen, screen), doc(connection, screen, texts, tree, files, defaults),
          browser(doc)
    {
        CUserInterfaceDoc::Hooks hooks;
        // The dialog's way: at once when not attached, else the user's
        // "Connect..." with node.
        hooks.connect = [this] {
            CServerConnection::Outcome outcome = connection.Start(node);
            if (outcome == CServerConnection::ShowDialog) {
                bool local = node == CServerConnection::LocalNode;
                outcome = connection.Connect(!local, local ? std::string() : node, false);
            }
            return outcome == CServerConnection::EndOK && connection.Attached();
        };
        hooks.refreshViews = [this] {
            views.push_back(doc.Kind());
            doc.UpdateEnabling();
        };
        hooks.closeProgram = [this] { closed = true; };
        doc.SetHooks(hooks);
        tree.onSelect = [this](TreeItem item) { browser.OnSelChanged(item); };
        driver.Fill(2, 2, 2);
    }
    void Connect(const std::string &machine = "LOCAL_MACHINE")
    {
        connection.Release();
        node = machine;
        activator.answers.push_back({S_OK, &driver, nullptr});
        ASSERT_TRUE(doc.NewDocumentStep());
        doc.ReadServerStatus();
        ASSERT_TRUE(doc.BuildTree(true));
        driver.calls.clear();
        screen.events.clear();
        views.clear();
    }
    void SelectText(const std::string &text) { tree.Select(tree.ByText(text)); }

    FakeProfile profile;
    FakeActivator activator;
    FakeScreen screen;
    Texts texts;
    FakeConfigDriver driver;
    FakeTree tree;
    FakeFiles files;
    FakeDefaults defaults;
    CServerConnection connection;
    CUserInterfaceDoc doc;
    CTreeBrowserCtrl browser;
    std::string node;
    std::vector<int> views;  // the selection kind at each refresh of the views
    bool closed = false;
};

TEST_F(DocumentTest, TreeHoldsTheServersConfiguration)
{
    Connect();
    EXPECT_TRUE(doc.TreeBuilt());
    EXPECT_EQ("QOR(Ch1(Dev11(Blk111,Blk112),Dev12(Blk121,Blk122)),Ch2(Dev21(Blk211,Blk212),Dev22(Blk221,Blk222)))",
              tree.Shape());
    EXPECT_EQ(tree.Root(), tree.Selected());
    TreeItem block = tree.ByText("Blk212");
    EXPECT_EQ(ImageDataBlock, tree.Image(block));
    EXPECT_EQ(driver.Find("Blk212"), tree.Handle(block));
    EXPECT_EQ(ImageChannel, tree.Image(tree.ByText("Ch2")));
    EXPECT_EQ(0, tree.Handle(tree.Root()));

    // A failing list stops the build and says so; the tree is not "built".
    driver.listResult = E_FAIL;
    EXPECT_FALSE(doc.BuildTree());
    EXPECT_FALSE(doc.TreeBuilt());
    EXPECT_EQ(std::vector<std::string>{"failed"}, screen.Boxes());
    EXPECT_EQ("QOR", tree.Shape());
    EXPECT_TRUE(driver.unexpected.empty());
}

TEST_F(DocumentTest, EnablingFollowsSelectionAndMode)
{
    Connect();
    struct Case {
        const char *select;
        UINT modeCommand;
        bool channel, device, block, remove;
    } cases[] = {
        {"QOR", CmdConfigMode, true, false, false, false},
        {"Ch1", CmdConfigMode, true, true, false, true},
        {"Dev12", CmdConfigMode, true, true, true, true},
        {"Blk221", CmdConfigMode, true, true, true, true},
        {"QOR", CmdStatsMode, false, false, false, false},
        {"Dev12", CmdStatsMode, false, false, false, false},
        {"Blk221", CmdStatsMode, false, false, false, false},
    };
    for (const Case &c : cases) {
        doc.OnCmdMsg(c.modeCommand);
        SelectText(c.select);
        doc.UpdateEnabling();
        std::string where = std::string(c.select) + (c.modeCommand == CmdStatsMode ? " stats" : " config");
        CCmdUI add(CmdAddChannel), device(CmdAddDevice), block(CmdAddDataBlock), remove(CmdDelete);
        for (CCmdUI *ui : {&add, &device, &block, &remove})
            EXPECT_TRUE(doc.OnUpdateCmdUI(*ui));
        EXPECT_EQ(c.channel, add.Enabled()) << where;
        EXPECT_EQ(c.device, device.Enabled()) << where;
        EXPECT_EQ(c.block, block.Enabled()) << where;
        EXPECT_EQ(c.remove, remove.Enabled()) << where;
        CCmdUI config(CmdConfigMode), stats(CmdStatsMode);
        doc.OnUpdateCmdUI(config);
        doc.OnUpdateCmdUI(stats);
        EXPECT_EQ(c.modeCommand == CmdConfigMode, config.Checked() == 1) << where;
        EXPECT_EQ(c.modeCommand == CmdStatsMode, stats.Checked() == 1) << where;
    }
    // Without the object dialog, Copy Device and Modify stay off.
    CCmdUI copy(CmdCopyDevice), modify(CmdModify);
    doc.OnUpdateCmdUI(copy);
    doc.OnUpdateCmdUI(modify);
    EXPECT_FALSE(copy.Enabled());
    EXPECT_FALSE(modify.Enabled());
}

TEST_F(DocumentTest, AddCommandsCreateObjectsWithTheServersDefaultsAndSelectThem)
{
    Connect();
    doc.OnCmdMsg(CmdAddChannel);
    LONG channel = driver.channels.back();
    TreeItem channelItem = tree.Selected();
    EXPECT_EQ(driver.objects[channel].name, tree.Text(channelItem));
    EXPECT_EQ(channel, doc.Channel().GetHandle());
    EXPECT_EQ(KindChannel, doc.Kind());
    EXPECT_EQ(tree.Root(), tree.Parent(channelItem));

    doc.OnCmdMsg(CmdAddDevice);
    LONG device = driver.objects[channel].children.back();
    EXPECT_EQ(channelItem, tree.Parent(tree.Selected()));
    EXPECT_EQ(device, doc.Device().GetHandle());
    EXPECT_EQ(KindDevice, doc.Kind());

    doc.OnCmdMsg(CmdAddDataBlock);
    LONG block = driver.objects[device].children.back();
    EXPECT_EQ(block, tree.Handle(tree.Selected()));
    EXPECT_EQ(KindDataBlock, doc.Kind());
    EXPECT_EQ(block, doc.DataBlock().GetHandle());

    EXPECT_EQ((std::vector<std::string>{"AddChannel", "GetChannels", "AddDevice " + std::to_string(channel),
                                        "GetDevices " + std::to_string(channel),
                                        "AddDataBlock " + std::to_string(device),
                                        "GetDataBlocks " + std::to_string(device)}),
              driver.calls);
    EXPECT_EQ((std::vector<int>{KindChannel, KindDevice, KindDataBlock}), views);
    EXPECT_TRUE(screen.Boxes().empty());
}

TEST_F(DocumentTest, DeleteAsksThenRemovesOnlyWhatTheServerRemoved)
{
    Connect();
    struct Case {
        const char *select;
        int answer;
        HRESULT result;
        const char *question, *call, *remainsSelected;
        bool gone;
    } cases[] = {
        {"Blk111", IDNO, S_OK, CUserInterfaceDoc::DeleteQuestions[2], nullptr, "Blk111", false},
        {"Blk111", IDYES, kRefused, CUserInterfaceDoc::DeleteQuestions[2], "RemoveDataBlock", "Blk111", false},
        {"Blk111", IDYES, S_OK, CUserInterfaceDoc::DeleteQuestions[2], "RemoveDataBlock", "Dev11", true},
        {"Dev12", IDYES, S_OK, CUserInterfaceDoc::DeleteQuestions[1], "RemoveDevice", "Ch1", true},
        {"Ch2", IDNO, S_OK, CUserInterfaceDoc::DeleteQuestions[0], nullptr, "Ch2", false},
        {"Ch2", IDYES, S_OK, CUserInterfaceDoc::DeleteQuestions[0], "RemoveChannel", "QOR", true},
    };
    for (const Case &c : cases) {
        SelectText(c.select);
        LONG handle = driver.Find(c.select);
        driver.calls.clear();
        screen.events.clear();
        screen.answers = {c.answer};
        driver.removeResult = c.result;
        doc.UpdateEnabling();
        doc.OnCmdMsg(CmdDelete);
        std::vector<std::string> boxes = screen.Boxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(c.question, boxes[0]) << c.select;
        EXPECT_EQ(c.call ? 1u : 0u, driver.Calls("Remove").size()) << c.select;
        if (FAILED(c.result))
            EXPECT_EQ("refused", boxes.back());
        EXPECT_EQ(c.gone, tree.ByText(c.select) == nullptr) << c.select;
        EXPECT_EQ(c.gone, driver.objects.count(handle) == 0) << c.select;
        EXPECT_EQ(c.remainsSelected, tree.Text(tree.Selected())) << c.select;
    }
    EXPECT_EQ("QOR(Ch1(Dev11(Blk112)))", tree.Shape());
    EXPECT_EQ(KindDriver, doc.Kind());
}

// New (and Open and closing) ask about an unsaved configuration; Yes whose
// save fails or is cancelled keeps it.
TEST_F(DocumentTest, SaveQueryStopsWhenTheSaveDidNotHappen)
{
    struct Case {
        int answer;
        const char *chosen;  // the Save As dialog's answer ("" cancels)
        HRESULT saveResult;
        bool fileNew;
    } cases[] = {
        {IDCANCEL, "", S_OK, false},
        {IDYES, "", S_OK, false},                     // Save As cancelled
        {IDYES, "C:\\plant.qor", E_FAIL, false},      // the save failed
        {IDYES, "C:\\plant.qor", S_OK, true},
        {IDNO, "", S_OK, true},
    };
    for (const Case &c : cases) {
        Connect();
        driver.saved = false;
        driver.saveResult = c.saveResult;
        screen.answers = {c.answer};
        files.answers = {c.chosen};
        doc.OnCmdMsg(CmdFileNew);
        std::vector<std::string> boxes = screen.Boxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(CUserInterfaceDoc::SaveQuestion, boxes[0]);
        EXPECT_EQ(c.fileNew, driver.Calls("FileNew").size() == 1) << c.answer << " " << c.chosen;
        if (c.fileNew)
            EXPECT_EQ("QOR", tree.Shape());
        else
            EXPECT_NE("QOR", tree.Shape());
        driver.Clear();
        driver.Fill(2, 2, 2);
    }
    // Saved: no question.
    driver.saved = true;
    Connect();
    doc.OnCmdMsg(CmdFileNew);
    EXPECT_TRUE(screen.Boxes().empty());
    EXPECT_EQ(1u, driver.Calls("FileNew").size());
}

TEST_F(DocumentTest, OldCsvFileAsksOnceAndCancelLeavesEverything)
{
    Connect();
    driver.fileName = "C:\\old.qor";
    doc.ReadServerStatus();
    std::string shape = tree.Shape();

    driver.openResults = {CUserInterfaceDoc::OldCsvFile};
    screen.answers = {IDCANCEL};
    EXPECT_FALSE(doc.OpenByName("C:\\line6.csv"));
    EXPECT_EQ(std::vector<std::string>{CUserInterfaceDoc::ImportQuestion}, screen.Boxes());
    EXPECT_EQ(CUserInterfaceDoc::ImportTitle, screen.captions.back());
    EXPECT_EQ("C:\\old.qor", doc.Title());
    EXPECT_EQ(shape, tree.Shape());
    EXPECT_EQ(std::vector<std::string>{"FileOpenEx C:\\line6.csv 0"}, driver.Calls("FileOpen"));

    // With the message table's text, the file name leads.
    texts.importText = "is an old CSV file. Import it?";
    driver.calls.clear();
    screen.events.clear();
    driver.openResults = {CUserInterfaceDoc::OldCsvFile};
    screen.answers = {IDOK};
    EXPECT_TRUE(doc.OpenByName("C:\\line6.csv"));
    EXPECT_EQ(std::vector<std::string>{"C:\\line6.csv is an old CSV file. Import it?"}, screen.Boxes());
    EXPECT_EQ((std::vector<std::string>{"FileOpenEx C:\\line6.csv 0", "FileOpenEx C:\\line6.csv 1"}),
              driver.Calls("FileOpen"));
    EXPECT_EQ("C:\\line6.csv", doc.Title());
    EXPECT_EQ("QOR(Ch1(Dev11(Blk111)))", tree.Shape());
    EXPECT_EQ("C:\\line6.csv", doc.RecentFiles().front());

    // Any other failure is shown and changes nothing.
    screen.events.clear();
    driver.openResults = {kRefused};
    EXPECT_FALSE(doc.OpenByName("C:\\bad.qor"));
    EXPECT_EQ(std::vector<std::string>{"refused"}, screen.Boxes());
    EXPECT_EQ("C:\\line6.csv", doc.Title());
}

TEST_F(DocumentTest, OpenUsesTheDefaultsAndTheRecentListKeepsFour)
{
    defaults.values = {{"DriverDefaultConfigFileName", "plant.qor"}, {"DriverDefaultConfigFilePath", "C:\\cfg\\"}};
    Connect();
    files.answers = {"C:\\cfg\\a.qor"};
    doc.OnCmdMsg(CmdFileOpen);
    EXPECT_EQ(std::vector<std::string>{"open plant.qor C:\\cfg\\"}, files.asked);
    EXPECT_EQ("C:\\cfg\\a.qor", doc.Title());
    for (const char *name : {"b", "c", "d", "e", "C:\\cfg\\A.QOR"})
        doc.AddRecentFile(name);
    EXPECT_EQ((std::vector<std::string>{"C:\\cfg\\A.QOR", "e", "d", "c"}), doc.RecentFiles());
    // A recent entry opens by name.
    driver.calls.clear();
    doc.OnCmdMsg(CmdRecentFile1 + 2);
    EXPECT_EQ(std::vector<std::string>{"FileOpenEx d 0"}, driver.Calls("FileOpen"));

    EXPECT_EQ("Config Files (*.QOR)|*.QOR|Text Files (*.CSV)|*.CSV|", CClientFileDialog::Filter());
    EXPECT_EQ("qor", CClientFileDialog::TypeExtension(0));
    EXPECT_EQ("csv", CClientFileDialog::TypeExtension(1));
    EXPECT_EQ("log", CClientFileDialog::TypeExtension(2));
}

TEST_F(DocumentTest, SaveNeedsANameOnlyForALocalFileThatIsNotThere)
{
    Connect();
    driver.fileName = "C:\\nowhere\\missing.qor";
    doc.ReadServerStatus();
    files.answers = {"C:\\saved.qor"};
    EXPECT_TRUE(doc.Save());
    EXPECT_EQ((std::vector<std::string>{"FileSaveAs C:\\saved.qor"}), driver.Calls("FileSave"));
    EXPECT_EQ("C:\\saved.qor", doc.Title());

    // Save As: the server's new name is the title; Cancel calls nothing.
    driver.calls.clear();
    files.answers = {"C:\\other.qor", ""};
    doc.OnCmdMsg(CmdFileSaveAs);
    EXPECT_EQ("C:\\other.qor", doc.Title());
    doc.OnCmdMsg(CmdFileSaveAs);
    EXPECT_EQ(1u, driver.Calls("FileSave").size());
}

TEST_F(DocumentTest, RemoteSaveAlwaysGoesToTheServer)
{
    Connect("PLANT3");
    driver.fileName = "D:\\plant\\remote.qor";
    doc.ReadServerStatus();
    EXPECT_TRUE(doc.Save());
    EXPECT_EQ(std::vector<std::string>{"FileSave"}, driver.Calls("FileSave"));
    EXPECT_TRUE(files.asked.empty());
    EXPECT_EQ(std::vector<std::string>{"PLANT3"}, std::vector<std::string>(defaults.opened.end() - 1, defaults.opened.end()));
    // The poll is for local servers only.
    driver.fileName = "D:\\plant\\other.qor";
    driver.calls.clear();
    doc.TimerPoll();
    EXPECT_TRUE(driver.calls.empty());
    EXPECT_EQ("D:\\plant\\remote.qor", doc.Title());
}

TEST_F(DocumentTest, TimerPollFollowsAnotherClientsFile)
{
    Connect();
    doc.TimerPoll();
    EXPECT_TRUE(driver.Calls("Get").empty()) << "same file: no rebuild";
    driver.fileName = "C:\\other.qor";
    driver.Clear();
    driver.Fill(1, 0, 0);
    doc.TimerPoll();
    EXPECT_EQ("C:\\other.qor", doc.Title());
    EXPECT_EQ("QOR(Ch1)", tree.Shape());
}

// A dead server answers every poll with its RPC code: one box, however many
// ticks come (also those inside the box's own message loop), until
// "&OLE Server" connects again; the poll then follows the new server.
TEST_F(DocumentTest, ALostServerIsReportedOnceAndThePollWaitsForANewConnection)
{
    Connect();
    const HRESULT gone = HRESULT(0x800706BA);
    int ticksInBox = 0;
    screen.whileShown = [&] {
        if (++ticksInBox > 5)
            return;
        doc.TimerPoll();
        doc.TimerPoll();
    };
    driver.statusResult = gone;
    for (int tick = 0; tick < 4; ++tick)
        doc.TimerPoll();
    EXPECT_EQ(std::vector<std::string>{"Unknown Error"}, screen.Boxes());
    EXPECT_EQ(1, ticksInBox);
    EXPECT_TRUE(connection.Lost());

    // The same server again would still be dead: Connect starts another one.
    FakeConfigDriver next;
    next.fileName = "C:\next.qor";
    next.Fill(1, 0, 0);
    activator.answers.push_back({S_OK, &next, nullptr});
    screen.events.clear();
    doc.OnCmdMsg(CmdOleServer);
    EXPECT_EQ(2u, activator.asked.size()) << "no new connection";
    EXPECT_EQ(&next, connection.Server());
    EXPECT_FALSE(connection.Lost());
    EXPECT_EQ("QOR(Ch1)", tree.Shape());
    EXPECT_TRUE(screen.Boxes().empty());
    next.fileName = "C:\\later.qor";
    doc.TimerPoll();
    EXPECT_EQ("C:\\later.qor", doc.Title());

    // A failure that is not a lost server is shown at its tick, but never a
    // second box from inside the first.
    next.statusResult = E_FAIL;
    doc.TimerPoll();
    doc.TimerPoll();
    EXPECT_EQ((std::vector<std::string>{"failed", "failed"}), screen.Boxes());
    EXPECT_EQ(3, ticksInBox);
    EXPECT_FALSE(connection.Lost());
    connection.Release();
}

TEST_F(DocumentTest, StartAndStopFollowTheServer)
{
    Connect();
    doc.OnCmdMsg(CmdStart);
    EXPECT_EQ(std::vector<std::string>{"Start"}, driver.calls) << "Start without waiting";
    CCmdUI start(CmdStart), stop(CmdStop);
    doc.OnUpdateCmdUI(start);
    doc.OnUpdateCmdUI(stop);
    EXPECT_EQ(1, start.Checked());
    EXPECT_EQ(0, stop.Checked());
    // A server that did not stop still counts as running.
    driver.keepsRunning = true;
    doc.OnCmdMsg(CmdStop);
    EXPECT_TRUE(doc.Running());
    driver.keepsRunning = false;
    doc.OnCmdMsg(CmdStop);
    EXPECT_FALSE(doc.Running());
}

TEST_F(DocumentTest, RefreshRateAndDefaultsFromTheServersMachine)
{
    struct Case {
        const char *text;
        DWORD rate;
    } cases[] = {{"5", 1000}, {"70000", 1000}, {"abc", 1000}, {"", 1000}, {"10", 10}, {"60000", 60000}, {"250", 250},
                 {"250ms", 1000}};
    for (const Case &c : cases) {
        defaults.values["StatisticsRefreshRate"] = c.text;
        Connect();
        EXPECT_EQ(c.rate, doc.RefreshRate()) << c.text;
        connection.Release();
    }
    defaults.values.erase("StatisticsRefreshRate");
    Connect();
    EXPECT_EQ(1000u, doc.RefreshRate());

    doc.SetDefaults("plant.qor", "C:\\cfg\\");
    doc.SetRefreshRate(500);
    EXPECT_TRUE(doc.WriteRegistryDefaults());
    EXPECT_EQ("500", defaults.values["StatisticsRefreshRate"]);
    EXPECT_EQ("plant.qor", defaults.values["DriverDefaultConfigFileName"]);
    defaults.writes = false;
    EXPECT_FALSE(doc.WriteRegistryDefaults());
    EXPECT_EQ(std::vector<std::string>{"Unable to write to registry"}, screen.Boxes());
}

TEST_F(DocumentTest, ReconnectRebuildsAndAFailedOneEndsTheProgram)
{
    Connect();
    driver.fileName = "C:\\after.qor";
    driver.Add(1, "Ch3", 0);
    doc.OnCmdMsg(CmdOleServer);  // the local server is already there
    EXPECT_EQ("C:\\after.qor", doc.Title());
    EXPECT_NE(std::string::npos, tree.Shape().find(",Ch3)"));
    EXPECT_FALSE(closed);
    // A failed attempt keeps the server that was there.
    node = "PLANT9";
    activator.answers.push_back({REGDB_E_CLASSNOTREG});
    screen.answers = {IDNO};
    doc.OnCmdMsg(CmdOleServer);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(connection.Attached());
    // With none left, the program ends.
    connection.Release();
    activator.answers.push_back({REGDB_E_CLASSNOTREG});
    screen.answers = {IDNO};
    doc.OnCmdMsg(CmdOleServer);
    EXPECT_TRUE(closed);
}

// --- the tree browser -----------------------------------------------------------------

TEST_F(DocumentTest, SelectingABlockElsewhereSetsItsParentsFirst)
{
    Connect();
    SelectText("Blk111");
    views.clear();
    SelectText("Blk222");
    EXPECT_EQ((std::vector<int>{KindChannel, KindDevice, KindDataBlock}), views);
    EXPECT_EQ(driver.Find("Ch2"), doc.Channel().GetHandle());
    EXPECT_EQ(driver.Find("Dev22"), doc.Device().GetHandle());
    EXPECT_EQ(driver.Find("Blk222"), doc.DataBlock().GetHandle());
    // A sibling block refreshes once.
    views.clear();
    SelectText("Blk221");
    EXPECT_EQ(std::vector<int>{KindDataBlock}, views);
    views.clear();
    SelectText("Dev21");
    EXPECT_EQ(std::vector<int>{KindDevice}, views);
    int focusLost = 0;
    browser.OnKillFocus([&] { ++focusLost; });
    SelectText("QOR");
    EXPECT_EQ(1, focusLost) << "the pane's pending edit commits first";
    EXPECT_EQ(KindDriver, doc.Kind());
}

TEST_F(DocumentTest, ExpandReadsTheChildrenAgain)
{
    Connect();
    // Another client added a block under Dev12 and removed Dev11.
    LONG dev12 = driver.Find("Dev12");
    driver.Add(3, "Late", dev12);
    driver.Remove("RemoveDevice", driver.Find("Ch1"), driver.Find("Dev11"));
    browser.OnExpanded(tree.ByText("Ch1"));
    EXPECT_EQ("QOR(Ch1(Dev12(Blk121,Blk122,Late)),Ch2(Dev21(Blk211,Blk212),Dev22(Blk221,Blk222)))", tree.Shape());
    EXPECT_EQ(tree.ByText("Ch1"), tree.Selected());
    EXPECT_FALSE(FakeTree::N(tree.ByText("Dev12"))->expanded);
    EXPECT_TRUE(FakeTree::N(tree.ByText("Ch1"))->expanded);
}

TEST_F(DocumentTest, RefreshFallsBackToBlocksForADevice)
{
    Connect();
    TreeItem device = tree.ByText("Dev21");
    tree.DeleteChildren(device);
    driver.calls.clear();
    doc.RefreshSubtree(device, driver.Find("Dev21"));
    EXPECT_EQ((std::vector<std::string>{"GetDevices " + std::to_string(driver.Find("Dev21")),
                                        "GetDataBlocks " + std::to_string(driver.Find("Dev21"))}),
              driver.calls);
    EXPECT_EQ(2u, tree.Children(device).size());
    EXPECT_TRUE(screen.Boxes().empty());

    // F5 with the focus in the tree reads everything again.
    driver.Add(1, "Ch3", 0);
    tree.focus = true;
    browser.Refresh();
    EXPECT_NE(std::string::npos, tree.Shape().find(",Ch3)"));
    EXPECT_EQ(tree.Root(), tree.Selected());
}

TEST_F(DocumentTest, TracewellOnTheRootReachesEveryBlock)
{
    Connect();
    browser.SetTracewell(tree.Root(), true);
    std::vector<std::string> sets = driver.Calls("Set ");
    ASSERT_EQ(8u, sets.size());
    for (const std::string &s : sets)
        EXPECT_NE(std::string::npos, s.find("TracewellOn")) << s;
    for (const std::string &s : sets)
        EXPECT_NE(std::string::npos, s.find(" I2 1")) << s;
    for (const char *block : {"Blk111", "Blk122", "Blk211", "Blk222"})
        EXPECT_TRUE(driver.tracewell[driver.Find(block)]) << block;
    EXPECT_EQ(1, browser.TracewellState(tree.ByText("Blk111")));
    EXPECT_EQ(-1, browser.TracewellState(tree.ByText("Dev11")));

    // A device's blocks only; a refusal is said and the rest go on.
    driver.calls.clear();
    driver.refuseTracewell = {driver.Find("Blk211")};
    browser.SetTracewell(tree.ByText("Dev21"), false);
    EXPECT_EQ(2u, driver.Calls("Set ").size());
    EXPECT_EQ(std::vector<std::string>{CTreeBrowserCtrl::TracewellWriteFailed}, screen.Boxes());
    EXPECT_FALSE(driver.tracewell[driver.Find("Blk212")]);
    EXPECT_EQ(0, browser.TracewellState(tree.ByText("Blk212")));
    // A block alone.
    driver.calls.clear();
    browser.SetTracewell(tree.ByText("Blk111"), false);
    EXPECT_EQ(std::vector<std::string>{"Set TracewellOn " + std::to_string(driver.Find("Blk111")) + " I2 0"},
              driver.Calls("Set "));
}

// --- the configuration panes ----------------------------------------------------------

class FormTest : public DocumentTest {
protected:
    // A form of kind on the selected object, loaded from the server's values.
    void Open(int kind, const char *select, std::map<std::string, std::string> values)
    {
        Connect();
        driver.values = std::move(values);
        SelectText(select);
        form.reset(new CObjectForm(doc, kind));
        form->Refresh();
        driver.calls.clear();
        screen.events.clear();
    }
    CObjectForm::Result Commit(const char *property, const std::string &typed)
    {
        for (size_t i = 0; i < form->Fields().size(); ++i)
            if (!strcmp(form->Fields()[i].property, property))
                return form->Commit(i, typed);
        ADD_FAILURE() << property;
        return CObjectForm::Unchanged;
    }
    std::unique_ptr<CObjectForm> form;
};

TEST_F(FormTest, EachFieldIsCommittedOnItsOwn)
{
    struct Case {
        int kind;
        const char *property, *old, *typed;
        bool templateMode;
        const char *call;   // the SetPropertyData sent ("" none)
        const char *shown;  // the field afterwards
        const char *box;    // the message shown ("" none)
    } cases[] = {
        {KindDataBlock, "PrimaryPollTime", "1", "1", false, "", "1", ""},
        {KindDataBlock, "PrimaryPollTime", "1", "D", false, "BSTR ", "Disabled", ""},
        {KindDataBlock, "AccessTime", "", "disabled", false, "", "Disabled", ""},
        {KindDataBlock, "SecondaryPollTime", "", "2.5", false, "BSTR 2.5", "2.5", ""},
        {KindDataBlock, "Enabled", "1", "0", false, "I2 0", "0", ""},
        {KindDataBlock, "DataType", "2", "6", false, "I2 6", "6", ""},
        {KindDataBlock, "Description", "", " pumps ", false, "BSTR  pumps ", " pumps ", ""},
        {KindDataBlock, "Name", "Blk111", "Pump.1", false, "BSTR Pump.1", "Blk111", "refused"},
        {KindDataBlock, "Name", "Blk111", "Pump.1", true, "", "Blk111", "refused"},
        {KindDataBlock, "Name", "Blk111", " Pump1 ", true, "", "Pump1", ""},
        {KindChannel, "Name", "Ch1", " Line2 ", false, "BSTR Line2", "Line2", ""},
        {KindChannel, "Name", "Ch1", "Line 2", true, "", "Ch1", "refused"},
        {KindChannel, "PrimaryCPName", "CP1", " CP2 ", false, "BSTR CP2", "CP2", ""},
        {KindDevice, "PrimaryConnName", "C1", "-", false, "BSTR ", "None", ""},
        {KindDevice, "BackupConnName", "", "n", false, "", "None", ""},
        {KindDevice, "BackupRetries", "2", "12", true, "", "2", "refused"},
        {KindDevice, "PrimaryRetries", "2", "5", true, "", "5", ""},
        {KindDevice, "PrimaryRetries", "2", "x", true, "", "x", ""},
    };
    const char *selects[] = {"", "Ch1", "Dev11", "Blk111"};
    for (const Case &c : cases) {
        std::string where = std::string(c.property) + " '" + c.typed + "'" + (c.templateMode ? " template" : "");
        Open(c.kind, selects[c.kind], {{"Name", selects[c.kind]}, {c.property, c.old}});
        // The server refuses names with a full stop; template mode never asks it.
        driver.refuseSet.clear();
        if (std::string(c.typed).find('.') != std::string::npos && !c.templateMode)
            driver.refuseSet = {{"Name", kRefused}};
        doc.SetTemplateMode(c.templateMode);
        Commit(c.property, c.typed);
        std::vector<std::string> sets = driver.Calls("Set ");
        if (*c.call) {
            ASSERT_EQ(1u, sets.size()) << where;
            std::string prefix = "Set " + std::string(c.property) + " " + std::to_string(form->Proxy().GetHandle()) + " ";
            EXPECT_EQ(prefix + c.call, sets[0]) << where;
        } else {
            EXPECT_TRUE(sets.empty()) << where;
        }
        EXPECT_EQ(c.shown, form->Value(c.property)) << where;
        std::vector<std::string> boxes = screen.Boxes();
        EXPECT_EQ(*c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{}, boxes) << where;
        doc.SetTemplateMode(false);
    }
    // An accepted name relabels the tree item.
    Open(KindChannel, "Ch2", {{"Name", "Ch2"}});
    Commit("Name", "Line9");
    EXPECT_TRUE(tree.ByText("Line9") != nullptr);
    EXPECT_EQ(nullptr, tree.ByText("Ch2"));
}

TEST_F(FormTest, DisplayDefaultsAndTheDataTypeList)
{
    Open(KindDevice, "Dev11", {{"Name", "Dev11"}});
    EXPECT_EQ("None", form->Value("PrimaryConnName"));
    EXPECT_EQ("10.0", form->Value("BackupReplyTimeout"));
    EXPECT_EQ("3", form->Value("PrimaryRetries"));
    EXPECT_EQ("10.0", form->Value("BackupDelay"));
    doc.SetTemplateMode(true);
    form->Load();
    EXPECT_EQ("", form->Value("PrimaryConnName")) << "template connections stay empty";
    doc.SetTemplateMode(false);

    struct Case {
        const char *code, *shown;
    } types[] = {{"-1", "9"}, {"", "9"}, {"13", "13"}, {"12", "12"}};
    for (const Case &c : types) {
        Open(KindDataBlock, "Blk111", {{"DataType", c.code}});
        EXPECT_EQ(c.shown, form->Value("DataType")) << c.code;
        EXPECT_EQ("Disabled", form->Value("PrimaryPollTime"));
    }
    EXPECT_STREQ("BYTE", DataTypeList[0].text);
    EXPECT_EQ(12, DataTypeList[10].code);
}

TEST_F(FormTest, ConnectionListsFollowTheChannel)
{
    Open(KindDevice, "Dev11", {{"PrimaryCPName", "CP1"}, {"PrimaryVFDName", "V1"}, {"BackupCPName", ""},
                               {"BackupVFDName", "V2"}});
    doc.Channel().Read();
    driver.connLists["CP1/V1"] = {"C1", "C2"};
    EXPECT_EQ((std::vector<std::string>{"C1", "C2"}), form->ConnList(true));
    EXPECT_EQ((std::vector<std::string>{"C1", "C2"}), form->ConnList(false)) << "no backup CP: the primary's";
    EXPECT_EQ((std::vector<std::string>{"CONNList CP1/V1", "CONNList CP1/V1"}), driver.Calls("CONN"));
    driver.values["BackupCPName"] = "CP2";
    doc.Channel().Read();
    driver.calls.clear();
    form->ConnList(false);
    EXPECT_EQ((std::vector<std::string>{"CONNList CP2/V2"}), driver.Calls("CONN"));
    // Out of memory says nothing; other failures say why.
    driver.connResult = E_OUTOFMEMORY;
    EXPECT_TRUE(form->ConnList(true).empty());
    EXPECT_TRUE(screen.Boxes().empty());
    driver.connResult = E_FAIL;
    form->ConnList(true);
    EXPECT_EQ(std::vector<std::string>{"failed"}, screen.Boxes());

    driver.cpList = {"CP1", "CP2"};
    driver.vfdLists["CP2"] = {"V9"};
    driver.connResult = S_OK;
    for (bool variants : {false, true}) {
        driver.listsAsVariants = variants;
        EXPECT_EQ((std::vector<std::string>{"CP1", "CP2"}), form->CpList()) << variants;
        EXPECT_EQ(std::vector<std::string>{"V9"}, form->VfdList("CP2")) << variants;
        EXPECT_EQ((std::vector<std::string>{"C1", "C2"}), form->ConnList(true)) << variants;
    }
    EXPECT_EQ("QORf1.chm::\\s7Device.htm>pop-up", form->HelpTopic("QORf1.chm"));
}

TEST_F(FormTest, ModifyDialogSendsOnlyChangesAndStaysOpenOnRefusal)
{
    Open(KindDataBlock, "Blk111", {{"Name", "Blk111"}, {"Length", "4"}});
    form->Load();
    EXPECT_TRUE(doc.FinishObjectDialog(*form, false));
    EXPECT_TRUE(driver.setCalls.empty()) << "nothing changed";
    EXPECT_TRUE(doc.DialogClosed());

    Open(KindDevice, "Dev11", {{"Name", "Dev11"}});
    form->SetLocal(true);  // the values stay in the pane
    form->Load();
    Commit("Name", "Dev99");
    EXPECT_TRUE(driver.Calls("Set ").empty());
    driver.refuseSet = {{"Name", kRefused}};
    EXPECT_FALSE(doc.FinishObjectDialog(*form, false)) << "a refused modify keeps the dialog";
    EXPECT_EQ(std::vector<std::string>{"refused"}, screen.Boxes());
    ASSERT_EQ(1u, driver.setCalls.size());
    EXPECT_EQ(std::vector<std::string>{"Name"}, driver.setCalls[0].names);
}

TEST_F(FormTest, CopyMakesANewDeviceWithTheBlocksAndNeverTouchesTheSource)
{
    Open(KindDevice, "Dev12", {{"Name", "Dev12"}, {"PrimaryRetries", "4"}, {"Length", "8"}, {"PrimaryConnName", "C7"}});
    LONG source = driver.Find("Dev12");
    form->SetLocal(true);
    form->Load();
    EXPECT_EQ(CObjectForm::Committed, Commit("Name", "Dev12b"));
    EXPECT_EQ(CObjectForm::Committed, Commit("PrimaryConnName", "-"));
    EXPECT_TRUE(driver.Calls("Set ").empty());
    driver.calls.clear();
    ASSERT_TRUE(doc.FinishObjectDialog(*form, true));
    EXPECT_TRUE(driver.setCalls.empty()) << "the source stays as it was";
    LONG copy = driver.Find("Dev12b");
    ASSERT_NE(0, copy);
    EXPECT_EQ(driver.Find("Ch1"), driver.objects[copy].parent);
    EXPECT_EQ("4", driver.objects[copy].props["PrimaryRetries"]);
    EXPECT_EQ("", driver.objects[copy].props["PrimaryConnName"]);
    EXPECT_EQ(11u, driver.objects[copy].props.size());
    ASSERT_EQ(2u, driver.objects[copy].children.size());
    for (LONG block : driver.objects[copy].children) {
        // Every value but the name and the end address (the fake holds no start).
        EXPECT_EQ(12u, driver.objects[block].props.size());
        EXPECT_EQ(0u, driver.objects[block].props.count("Name"));
        EXPECT_EQ("8", driver.objects[block].props["Length"]);
    }
    EXPECT_EQ(2u, driver.objects[source].children.size());
    EXPECT_EQ(tree.ByText("Dev12b"), tree.Selected());
    EXPECT_EQ(2u, tree.Children(tree.ByText("Dev12b")).size());
    EXPECT_TRUE(doc.Modified());

    // The second block refused: nothing of the copy stays.
    SelectText("Dev11");
    form.reset(new CObjectForm(doc, KindDevice));
    form->SetLocal(true);
    form->Load();
    Commit("Name", "Dev11b");
    driver.addsWithValues = 0;
    driver.refuseAddWithValues = 3;
    size_t before = tree.Count();
    EXPECT_FALSE(doc.FinishObjectDialog(*form, true));
    EXPECT_EQ(0, driver.Find("Dev11b"));
    EXPECT_EQ(1u, driver.Calls("RemoveDevice").size());
    EXPECT_EQ(before, tree.Count());
    EXPECT_EQ(std::vector<std::string>{"refused"}, screen.Boxes());
}

TEST(TreeBarTest, DraggingTheEdge)
{
    struct Case {
        bool left;
        int width, start, end, expected;
    } cases[] = {
        {true, 200, 195, 10, 20},     // dragged to 10 px: 20 px remain
        {true, 200, 195, 250, 250},
        {true, 200, 195, -40, 20},
        {false, 200, 3, 53, 150},     // docked right: the movement comes off
        {false, 200, 3, 300, 20},
        {false, 200, 3, -47, 250},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, CTreeBar::DraggedWidth(c.left, c.width, c.start, c.end)) << c.width << " " << c.end;
    EXPECT_TRUE(CTreeBar::OnEdge(true, 200, 186));
    EXPECT_FALSE(CTreeBar::OnEdge(true, 200, 185));
    EXPECT_TRUE(CTreeBar::OnEdge(false, 200, 14));
    EXPECT_FALSE(CTreeBar::OnEdge(false, 200, 15));
    EXPECT_EQ(KindDriver, KindFromImage(0));
    EXPECT_EQ(KindChannel, KindFromImage(2));
    EXPECT_EQ(KindDevice, KindFromImage(3));
    EXPECT_EQ(KindDataBlock, KindFromImage(6));
}

} // namespace
