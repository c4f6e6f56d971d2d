// The statistics forms, the driver form and the view's form choice over an
// in-memory server, with a timer the test ticks by hand.
#include <gtest/gtest.h>
#include <map>
#include <utility>
#include "DocumentFakes.h"
#include "StatsForm.h"
#include "TreeBrowser.h"
#include "UserInterfaceDoc.h"
#include "resource.h"

namespace {

// Values of other types than text, by name: dates and booleans.
class StatsDriver : public FakeConfigDriver {
public:
    std::map<std::string, DATE> dates;
    std::map<std::string, VARIANT_BOOL> bools;
    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG handle, VARIANT names, VARIANT *out, VARIANT *errors) override
    {
        HRESULT hr = FakeConfigDriver::GetPropertyData(handle, names, out, errors);
        if (FAILED(hr) || V_VT(&names) == VT_BSTR)
            return hr;
        LONG upper = -1;
        SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            VARIANT name = Element(names, i);
            std::string key = Narrow(V_BSTR(&name));
            VariantClear(&name);
            VARIANT value;
            VariantInit(&value);
            if (dates.count(key)) {
                V_VT(&value) = VT_DATE;
                V_DATE(&value) = dates[key];
            } else if (bools.count(key)) {
                V_VT(&value) = VT_BOOL;
                V_BOOL(&value) = bools[key];
            } else {
                continue;
            }
            SafeArrayPutElement(V_ARRAY(out), &i, &value);
        }
        return hr;
    }
};

class FakeTimer : public IFormTimer {
public:
    std::vector<std::string> events;  // "start 4 1000", "stop 4"
    void Start(UINT id, DWORD ms) override
    {
        events.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
    }
    void Stop(UINT id) override { events.push_back("stop " + std::to_string(id)); }
};

class S7Texts : public IErrorTexts {
public:
    std::map<DWORD, std::string> table;
    std::vector<DWORD> asked;
    bool Text(HRESULT code, std::string &text) override
    {
        asked.push_back(DWORD(code));
        if (!table.count(DWORD(code)))
            return false;
        text = table[DWORD(code)];
        return true;
    }
};

class StatsTest : public ::testing::Test {
protected:
    StatsTest()
        : connection(profile, activator, screen, screen), doc(connection, screen, texts, tree, files, defaults),
          browser(doc)
    {
        CUserInterfaceDoc::Hooks hooks;
        hooks.connect = [this] {
            CServerConnection::Outcome outcome = connection.Start(CServerConnection::LocalNode);
            if (outcome == CServerConnection::ShowDialog)
                outcome = connection.Connect(false, std::string(), false);
            return outcome == CServerConnection::EndOK && connection.Attached();
        };
        hooks.refreshViews = [this] { doc.UpdateEnabling(); };
        doc.SetHooks(hooks);
        tree.onSelect = [this](TreeItem item) { browser.OnSelChanged(item); };
        driver.Fill(1, 1, 1);
        activator.answers.push_back({S_OK, &driver, nullptr});
        EXPECT_TRUE(doc.NewDocumentStep());
        EXPECT_TRUE(doc.BuildTree(true));
        tree.Select(tree.ByText("Blk111"));
        // The server sends its times as dates.
        for (const char *time : {"ReadTime", "WriteTime", "ErrorTime", "LastStartTime", "LastStopTime", "LastLoadTime"})
            driver.dates[time] = 46000.5;
        driver.getCalls.clear();
        screen.events.clear();
    }

    FakeProfile profile;
    FakeActivator activator;
    FakeScreen screen;
    S7Texts texts;
    StatsDriver driver;
    FakeTree tree;
    FakeFiles files;
    FakeDefaults defaults;
    CServerConnection connection;
    CUserInterfaceDoc doc;
    CTreeBrowserCtrl browser;
    FakeTimer timer;
};

TEST_F(StatsTest, EachFormAsksItsNamesAndShowsEachOnce)
{
    struct Row {
        int kind, templateId;
        UINT timer;
        const char *prefix;
        size_t names, fields;
        const char *first, *last;
    } rows[] = {
        {KindDriver, 2800, 1, "", 9, 9, "MsgTransmitCount", "LastLoadTime"},
        {KindChannel, 4000, 2, "Channel Statistics for ", 12, 12, "DeviceCount", "BackupActiveResources"},
        {KindDevice, 6000, 3, "Device Statistics for ", 15, 15, "DataBlockCount", "IsUsingPrimary"},
        {KindDataBlock, 8000, 4, "Data Block Statistics for ", 17, 12, "MsgTransmitCount", "BlockWritesPending"},
    };
    for (const Row &row : rows) {
        CStatsForm form(doc, texts, row.kind, timer);
        SCOPED_TRACE(row.kind);
        EXPECT_EQ(row.templateId, form.Template());
        EXPECT_EQ(row.timer, form.TimerId());
        EXPECT_STREQ(row.prefix, form.TitlePrefix());
        ASSERT_EQ(row.names, form.Names().size());
        EXPECT_EQ(row.first, form.Names().front());
        EXPECT_EQ(row.last, form.Names().back());
        ASSERT_EQ(row.fields, form.Fields().size());
        std::vector<bool> seen(row.names);
        for (const StatsField &field : form.Fields()) {
            ASSERT_LT(field.index, row.names);
            EXPECT_FALSE(seen[field.index]);
            seen[field.index] = true;
        }
    }
    // The System form: Loaded (2811) shows the last name, Started (2812) the seventh.
    CStatsForm system(doc, texts, KindDriver, timer);
    EXPECT_EQ(8u, system.Fields()[size_t(system.IndexOf(IDC_SYS_LOADED))].index);
    EXPECT_EQ("LastStartTime", system.Names()[system.Fields()[size_t(system.IndexOf(IDC_SYS_STARTED))].index]);
}

TEST(StatsTables, S7ErrorListLines)
{
    S7Texts texts;
    const DWORD masked = 0x40000000u | (0x205u << 16) | 0x2345u;
    texts.table[masked] = "Table text\r\n";
    EXPECT_EQ(std::vector<std::string>{"No Simatic Error"}, S7ErrorLines(0, "ignored", 7, "ignored", texts));
    EXPECT_TRUE(texts.asked.empty());

    // Two lines numbered 5, right-trimmed; a zero number has no prefix; no
    // table text gives one blank line.
    EXPECT_EQ((std::vector<std::string>{"   5 \tFirst line", "\tSecond line", "Detail", " "}),
              S7ErrorLines(5, "First line  \r\nSecond line \n", 0, "Detail", texts));
    EXPECT_EQ(0x40050000u | 0x02000000u, texts.asked.back());

    // A detail above the low word stays out of the facility.
    EXPECT_EQ(masked, S7MessageId(0x15, 0x12345));
    EXPECT_EQ((std::vector<std::string>{"  21 \tIec", "74565 \tDet", "Table text"}),
              S7ErrorLines(0x15, "Iec", 0x12345, "Det", texts));
}

TEST(StatsTables, PrimaryWhenAnyNonZeroNumber)
{
    const std::pair<const char *, const char *> rows[] = {
        {"-1", "Primary"}, {"1", "Primary"}, {"0", "Backup"}, {"", "Backup"}, {"2", "Primary"}};
    for (const auto &row : rows)
        EXPECT_EQ(row.second, PrimaryOrBackup(row.first)) << row.first;
}

TEST(StatsTables, FormChoiceByKindAndMode)
{
    const int rows[][3] = {{KindDriver, 1, 2700}, {KindDriver, 0, 2800}, {KindChannel, 1, 3000},
                           {KindChannel, 0, 4000}, {KindDevice, 1, 5000}, {KindDevice, 0, 6000},
                           {KindDataBlock, 1, 7000}, {KindDataBlock, 0, 8000}};
    for (const auto &row : rows)
        EXPECT_EQ(row[2], ViewFormFor(row[0], row[1])) << row[0] << "/" << row[1];
}

TEST_F(StatsTest, EnablingFollowsTheChoice)
{
    // Statistics mode enables no editing command, whatever is selected.
    for (int kind : {KindDriver, KindChannel, KindDevice, KindDataBlock}) {
        doc.SetKind(kind);
        doc.OnCmdMsg(CmdStatsMode);
        EXPECT_FALSE(doc.AddChannelEnabled() || doc.AddDeviceEnabled() || doc.AddDataBlockEnabled() ||
                     doc.DeleteEnabled())
            << kind;
        doc.OnCmdMsg(CmdConfigMode);
        EXPECT_TRUE(doc.AddChannelEnabled());
        EXPECT_EQ(kind >= KindDevice, doc.AddDataBlockEnabled()) << kind;
    }
}

TEST_F(StatsTest, BlockPaneReadsShowsAndListsTheError)
{
    CStatsForm form(doc, texts, KindDataBlock, timer);
    ASSERT_TRUE(form.Init());
    EXPECT_EQ("Data Block Statistics for Blk111", form.Title());
    driver.values["MsgReceiveCount"] = "42";
    driver.values["SapiIecErrorNo"] = "0";
    form.Show();
    EXPECT_EQ(std::vector<std::string>{"start 4 1000"}, timer.events);
    EXPECT_EQ(std::vector<LONG>{driver.Find("Blk111")}, driver.getCalls);
    EXPECT_EQ("42", form.Text(1));
    EXPECT_EQ(std::vector<std::string>{"No Simatic Error"}, form.ErrorLines());
    EXPECT_EQ(199999u, doc.HelpContext());
    // The figures a tick sets leave the help window where it was; what the
    // user does with a control leads it to that control's topic.
    for (int code : {EN_CHANGE, EN_UPDATE})
        doc.SetHelpContextFromPane(8009, code);
    EXPECT_EQ(199999u, doc.HelpContext());
    for (int code : {BN_CLICKED, EN_SETFOCUS}) {
        doc.SetHelpContextFromPane(code == BN_CLICKED ? 1187 : 8002, code);
        EXPECT_EQ(code == BN_CLICKED ? 101187u : 108002u, doc.HelpContext());
    }

    driver.values["SapiIecErrorNo"] = "3";
    driver.values["SapiIecErrorMsg"] = "Object access";
    driver.values["SapiDetailedErrorNo"] = "0";
    form.Tick();
    EXPECT_EQ((std::vector<std::string>{"   3 \tObject access", "", " "}), form.ErrorLines());

    // Showing again while the timer runs reads nothing more.
    form.Show();
    EXPECT_EQ(2u, driver.getCalls.size());
    form.Hide();
    EXPECT_EQ("stop 4", timer.events.back());
    EXPECT_TRUE(screen.events.empty());
}

TEST_F(StatsTest, TimesShowInLocalTimeToTheSecond)
{
    CStatsForm form(doc, texts, KindDataBlock, timer);
    SYSTEMTIME utc = {2026, 3, 0, 14, 10, 20, 30, 700};
    DATE date;
    SystemTimeToVariantTime(&utc, &date);
    driver.dates["ReadTime"] = date;
    ASSERT_TRUE(form.Refresh());
    SYSTEMTIME local;
    utc.wMilliseconds = 0;
    SystemTimeToTzSpecificLocalTime(NULL, &utc, &local);
    char expected[64];
    snprintf(expected, sizeof expected, "%d/%d/%04d %d:%02d:%02d", local.wMonth, local.wDay, local.wYear,
             local.wHour, local.wMinute, local.wSecond);
    // The system's date format decides the order; the seconds are whole.
    std::string shown = form.Text(5);
    EXPECT_NE(std::string::npos, shown.find(std::to_string(local.wMinute) + ":" +
                                            (local.wSecond < 10 ? "0" : "") + std::to_string(local.wSecond)))
        << shown << " / " << expected;
}

TEST_F(StatsTest, DeviceShowsPrimaryFromABooleanTrue)
{
    tree.Select(tree.ByText("Dev11"));
    CStatsForm form(doc, texts, KindDevice, timer);
    driver.bools["IsUsingPrimary"] = VARIANT_TRUE;
    ASSERT_TRUE(form.Refresh());
    EXPECT_EQ("Primary", form.Text(14));
    driver.bools["IsUsingPrimary"] = VARIANT_FALSE;
    ASSERT_TRUE(form.Refresh());
    EXPECT_EQ("Backup", form.Text(14));
}

TEST_F(StatsTest, RateChangeRestartsAtTheNextTickAndFailuresStopUntilShownAgain)
{
    CStatsForm form(doc, texts, KindDriver, timer);
    form.Show();
    EXPECT_EQ(std::vector<LONG>{0}, driver.getCalls);
    doc.SetRefreshRate(250);
    EXPECT_EQ(1u, timer.events.size());
    form.Tick();
    EXPECT_EQ((std::vector<std::string>{"start 1 1000", "start 1 250"}), timer.events);
    form.Tick();
    EXPECT_EQ(2u, timer.events.size());

    // A failing call stops the timer; ticks already queued read nothing.
    driver.getResult = E_FAIL;
    form.Tick();
    EXPECT_EQ("stop 1", timer.events.back());
    EXPECT_FALSE(form.TimerRunning());
    size_t calls = driver.getCalls.size();
    form.Tick();
    EXPECT_EQ(calls, driver.getCalls.size());

    // So does a refused property, after the texts read before it.
    driver.getResult = S_OK;
    form.Hide();
    form.Show();
    EXPECT_TRUE(form.TimerRunning());
    driver.values["MsgTransmitCount"] = "17";
    driver.refuseGet["LastStartTime"] = LONG(0xC1030311);
    form.Tick();
    EXPECT_FALSE(form.TimerRunning());
    EXPECT_EQ("17", form.Text(0));
    EXPECT_TRUE(screen.events.empty());

    // Shown with the server failing, no timer starts.
    driver.getResult = E_FAIL;
    form.Show();
    EXPECT_FALSE(form.TimerRunning());
}

TEST_F(StatsTest, ResetWritesZeroToEveryName)
{
    struct Row {
        int kind;
        const char *select;
        size_t count;
    } rows[] = {{KindDriver, "QOR", 9}, {KindChannel, "Ch1", 12}, {KindDevice, "Dev11", 15},
                {KindDataBlock, "Blk111", 17}};
    // Read-only counts refuse; that is expected and not reported.
    driver.refuseSet["DeviceCount"] = LONG(0xC1030311);
    for (const Row &row : rows) {
        tree.Select(tree.ByText(row.select));
        CStatsForm form(doc, texts, row.kind, timer);
        driver.setCalls.clear();
        form.Reset();
        ASSERT_EQ(1u, driver.setCalls.size()) << row.kind;
        const FakeToolDriver::SetCall &call = driver.setCalls[0];
        EXPECT_EQ(form.Names(), call.names);
        EXPECT_EQ(std::vector<std::string>(row.count, "0"), call.values);
        EXPECT_TRUE(call.allText);
        EXPECT_EQ(row.kind == KindDriver ? 0 : driver.Find(row.select), call.handle);
    }
    EXPECT_TRUE(screen.events.empty());

    driver.setResult = E_FAIL;
    CStatsForm form(doc, texts, KindDriver, timer);
    form.Reset();
    EXPECT_EQ(std::vector<std::string>{"Unknown Error"}, screen.Boxes());
}

TEST_F(StatsTest, DriverFormReadsItsFourValues)
{
    CDriverFormData form(doc);
    driver.values["Name"] = "QOR S7 I/O Driver 7.2";
    driver.values["ChannelCount"] = "1";
    driver.values["DeviceCount"] = "1";
    driver.values["DataBlockCount"] = "1";
    ASSERT_TRUE(form.Refresh());
    EXPECT_EQ(std::vector<LONG>{0}, driver.getCalls);
    EXPECT_EQ("QOR S7 I/O Driver 7.2", form.Text(0));
    EXPECT_EQ("1", form.Text(3));
    driver.getResult = E_FAIL;
    driver.values["ChannelCount"] = "9";
    EXPECT_FALSE(form.Refresh());
    EXPECT_EQ("1", form.Text(1));
    EXPECT_EQ("C:\\x\\QOR.chm::\\start_s72.htm", CDriverFormData::GettingStartedTopic("C:\\x\\QOR.chm"));
    EXPECT_EQ("C:\\x\\QOR.chm::\\START_s7Troubleshooting.htm", CStatsForm::TroubleshootingTopic("C:\\x\\QOR.chm"));
}

} // namespace
