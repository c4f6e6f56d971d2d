// The object proxies against a fake server: what Read stores and shows,
// what Modify sends (only changed values, in table order, as text) and how
// each result ends, and the texts the getters show for empty values.
#include <gtest/gtest.h>
#include <functional>
#include "ObjectItems.h"
#include "ServerError.h"
#include "ToolDocument.h"
#include "ToolFakes.h"

namespace {

const LONG kRefused = LONG(0xC1010005);
const LONG kOtherRefused = LONG(0xC1010007);

class FakeTexts : public IErrorTexts {
public:
    bool Text(HRESULT code, std::string &text) override
    {
        if (code == kRefused)
            text = "refused";
        else if (code == kOtherRefused)
            text = "other refused";
        else if (code == E_FAIL)
            text = "failed";
        else
            return false;
        return true;
    }
};

class TestDocument : public IItemDocument {
public:
    FakeToolDriver driver;
    FakeScreen screen;
    FakeTexts texts;
    int refreshes = 0;
    std::vector<std::string> labels;
    IQORDriver *Server() override { return &driver; }
    void ShowError(HRESULT code) override { ShowServerError(screen, texts, code); }
    void ShowText(const std::string &text) override { screen.Box(text, ToolCaption, MB_OK); }
    void RefreshServerStatus() override { ++refreshes; }
    void RelabelItem(CObjectItem &, const std::string &name) override { labels.push_back(name); }
};

class ObjectItemsTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(doc.driver.unexpected.empty()) << doc.driver.unexpected.front(); }
    TestDocument doc;
};

TEST_F(ObjectItemsTest, TablesHoldThePropertiesInTheirOrder)
{
    CChannelItem channel(&doc);
    CDeviceItem device(&doc);
    CDataBlockItem block(&doc);
    ASSERT_EQ(7u, channel.Count());
    ASSERT_EQ(11u, device.Count());
    ASSERT_EQ(15u, block.Count());
    EXPECT_STREQ("BackupVFDName", channel.Name(6));
    EXPECT_STREQ("PrimaryReplyTimeout", device.Name(3));
    EXPECT_STREQ("Enabled", device.Name(10));
    EXPECT_STREQ("SecondaryPollTime", block.Name(7));
    EXPECT_STREQ("DataType", block.Name(14));
}

TEST_F(ObjectItemsTest, ReadStoresEveryValueAsCurrentAndLastRead)
{
    doc.driver.values = {{"Name", "PLC1"}, {"Description", "press"}, {"Enabled", "1"}, {"PrimaryRetries", "5"}};
    CDeviceItem device(&doc);
    device.SetHandle(0x1234);
    ASSERT_TRUE(device.Read());
    ASSERT_EQ(1u, doc.driver.getCalls.size());
    EXPECT_EQ(0x1234, doc.driver.getCalls[0]);
    EXPECT_EQ(1, doc.refreshes);
    EXPECT_EQ("PLC1", device.GetName());
    EXPECT_EQ("press", device.LastRead("Description"));
    EXPECT_TRUE(device.GetEnabled());
    EXPECT_EQ("5", device.GetRetries(true));
    EXPECT_TRUE(doc.screen.events.empty());
}

// A refused property shows its error once, keeps none of the previous
// object's text, and the entries after it are still read.
TEST_F(ObjectItemsTest, ReadEmptiesRefusedEntriesAndReadsOn)
{
    CDataBlockItem block(&doc);
    doc.driver.values = {{"Name", "old"}, {"Description", "old text"}, {"StartAddress", "DB1,W0"},
                         {"DeadBand", "0.5"}, {"DataType", "4"}};
    ASSERT_TRUE(block.Read());
    doc.driver.values = {{"Name", "B2"}, {"Description", "new"}, {"StartAddress", "DB2,W0"},
                         {"DeadBand", "2.0"}, {"DataType", "6"}};
    doc.driver.refuseGet = {{"Description", kRefused}, {"StartAddress", kOtherRefused}};
    ASSERT_TRUE(block.Read());
    EXPECT_EQ(std::vector<std::string>{"refused"}, doc.screen.Boxes());
    EXPECT_EQ("", block.GetDescription());
    EXPECT_EQ("", block.LastRead("Description"));
    EXPECT_EQ("", block.GetStartAddress());
    EXPECT_EQ("B2", block.GetName());
    EXPECT_EQ("2.0", block.GetDeadBand());
    EXPECT_EQ(6, block.GetDataType());
}

TEST_F(ObjectItemsTest, FailedReadShowsItsTextAndChangesNothing)
{
    CChannelItem channel(&doc);
    channel.SetName("kept");
    doc.driver.getResult = E_FAIL;
    EXPECT_FALSE(channel.Read());
    EXPECT_EQ(std::vector<std::string>{"failed"}, doc.screen.Boxes());
    EXPECT_EQ("kept", channel.GetName());
    EXPECT_EQ(0, doc.refreshes);
}

TEST_F(ObjectItemsTest, ModifyWithNothingChangedCallsNoServer)
{
    doc.driver.values = {{"Name", "C1"}};
    CChannelItem channel(&doc);
    ASSERT_TRUE(channel.Read());
    channel.SetName("C1");
    EXPECT_EQ(1, channel.Modify());
    EXPECT_TRUE(doc.driver.setCalls.empty());
}

TEST_F(ObjectItemsTest, ModifySendsOnlyChangedValuesInTableOrderAsText)
{
    CDataBlockItem block(&doc);
    block.SetHandle(77);
    ASSERT_TRUE(block.Read());
    block.SetDescription("Pump house");
    ASSERT_EQ(1, block.Modify());
    ASSERT_EQ(1u, doc.driver.setCalls.size());
    EXPECT_EQ(77, doc.driver.setCalls[0].handle);
    EXPECT_EQ(std::vector<std::string>{"Description"}, doc.driver.setCalls[0].names);
    EXPECT_EQ(std::vector<std::string>{"Pump house"}, doc.driver.setCalls[0].values);
    EXPECT_TRUE(doc.labels.empty());

    // Set in another order than the table's; booleans as 1 / 0.
    block.SetDataType(9);
    block.SetLatchData(5);
    block.SetPollTime(false, "10.0");
    block.SetName("B1");
    ASSERT_EQ(1, block.Modify());
    ASSERT_EQ(2u, doc.driver.setCalls.size());
    const FakeToolDriver::SetCall &call = doc.driver.setCalls[1];
    EXPECT_TRUE(call.allText);
    EXPECT_EQ((std::vector<std::string>{"Name", "Description", "SecondaryPollTime", "LatchData", "DataType"}),
              call.names);
    EXPECT_EQ((std::vector<std::string>{"B1", "Pump house", "10.0", "1", "9"}), call.values);
    EXPECT_EQ(std::vector<std::string>{"B1"}, doc.labels);
}

// Result 1: every refused property's text in order, 0 returned, the label
// follows a sent name; the refused values go again on the next Modify.
TEST_F(ObjectItemsTest, PartlyRefusedModifyShowsEachRefusalAndReturnsZero)
{
    CDeviceItem device(&doc);
    ASSERT_TRUE(device.Read());
    device.SetName("Pump.1");
    device.SetDescription("ok");
    device.SetRetries(false, "x");
    doc.driver.refuseSet = {{"Name", kRefused}, {"BackupRetries", kOtherRefused}};
    EXPECT_EQ(0, device.Modify());
    EXPECT_EQ((std::vector<std::string>{"refused", "other refused"}), doc.screen.Boxes());
    EXPECT_EQ(std::vector<std::string>{"Pump.1"}, doc.labels);

    doc.driver.refuseSet.clear();
    EXPECT_EQ(1, device.Modify());
    EXPECT_EQ((std::vector<std::string>{"Name", "Description", "BackupRetries"}), doc.driver.setCalls[1].names);
}

TEST_F(ObjectItemsTest, FailedModifyShowsItsTextAndReturnsZero)
{
    CChannelItem channel(&doc);
    channel.SetCPName(true, "CP1");
    doc.driver.setResult = E_FAIL;
    EXPECT_EQ(0, channel.Modify());
    EXPECT_EQ(std::vector<std::string>{"failed"}, doc.screen.Boxes());
    EXPECT_TRUE(doc.labels.empty());
}

TEST_F(ObjectItemsTest, EmptyValuesShowTheirDisplayTexts)
{
    CDeviceItem device(&doc);
    CDataBlockItem block(&doc);
    struct Case {
        const char *what;
        std::function<std::string()> get;
        const char *shown;
    } cases[] = {
        {"PrimaryConnName", [&] { return device.GetConnName(true); }, "None"},
        {"BackupConnName", [&] { return device.GetConnName(false); }, "None"},
        {"PrimaryReplyTimeout", [&] { return device.GetReplyTimeout(true); }, "10.0"},
        {"BackupDelay", [&] { return device.GetDelay(false); }, "10.0"},
        {"PrimaryRetries", [&] { return device.GetRetries(true); }, "3"},
        {"PrimaryPollTime", [&] { return block.GetPollTime(true); }, "Disabled"},
        {"SecondaryPollTime", [&] { return block.GetPollTime(false); }, "Disabled"},
        {"AccessTime", [&] { return block.GetAccessTime(); }, "Disabled"},
        {"DeadBand", [&] { return block.GetDeadBand(); }, "1.0"},
        {"Description", [&] { return block.GetDescription(); }, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.shown, c.get()) << c.what;
    device.SetReplyTimeout(true, "2.5");
    EXPECT_EQ("2.5", device.GetReplyTimeout(true));
    EXPECT_EQ("", device.Current("PrimaryConnName")) << "the display text is not stored";
}

TEST_F(ObjectItemsTest, DataTypeReadsOutOfRangeValuesAsTwo)
{
    CDataBlockItem block(&doc);
    struct Case {
        const char *text;
        int code;
    } cases[] = {{"13", 13}, {"0", 0}, {"20", 2}, {"14", 2}, {"-1", 2}, {"", 0}};
    for (const Case &c : cases) {
        block.SetCurrent("DataType", c.text);
        EXPECT_EQ(c.code, block.GetDataType()) << c.text;
    }
}

TEST_F(ObjectItemsTest, BooleanGettersAnswerOnlyAnExactOne)
{
    CDataBlockItem block(&doc);
    struct Case {
        const char *text;
        BOOL on;
    } cases[] = {{"1", TRUE}, {"0", FALSE}, {"-1", FALSE}, {"True", FALSE}, {"", FALSE}};
    for (const Case &c : cases) {
        block.SetCurrent("OutputDisabled", c.text);
        EXPECT_EQ(c.on, block.GetOutputDisabled()) << c.text;
    }
    block.SetBlockWritesEnabled(0);
    EXPECT_EQ("0", block.Current("BlockWritesEnabled"));
}

TEST(ServerErrorTest, ShowsTheTableTextElseUnknownAndIgnoresRefusedInputCalls)
{
    FakeScreen screen;
    FakeTexts texts;
    ShowServerError(screen, texts, kRefused);
    ShowServerError(screen, texts, HRESULT(0x8001010D));
    ShowServerError(screen, texts, HRESULT(0xC10F0001));
    EXPECT_EQ((std::vector<std::string>{"refused", "Unknown Error"}), screen.Boxes());
}

// The real message table (ZorbErr.dll beside the programs) through the
// driver's event-log helper.
TEST(ServerErrorTest, MessageTableTextsComeFromTheDriversLibrary)
{
    CMessageTableTexts texts;
    std::string text;
    ASSERT_TRUE(texts.Text(HRESULT(0xC101011C), text));
    EXPECT_EQ("The completion event of the transaction processor could not be set.", text);
}

// The document's title follows the server's file; a read proxy refreshes it.
TEST(ToolDocumentTest, TitleIsTheServersFileOrUntitled)
{
    FakeProfile profile;
    FakeActivator activator;
    FakeScreen screen;
    FakeTexts texts;
    FakeToolDriver driver;
    CServerConnection connection(profile, activator, screen, screen);
    CToolDocument document(connection, screen, texts);
    int changes = 0;
    document.OnTitleChanged([&] { ++changes; });
    EXPECT_FALSE(document.ReadServerStatus()) << "no server attached";
    EXPECT_EQ("Untitled", document.Title());

    activator.answers.push_back({S_OK, &driver, nullptr});
    ASSERT_EQ(CServerConnection::EndOK, connection.Start("LOCAL_MACHINE"));
    EXPECT_TRUE(document.ReadServerStatus());
    EXPECT_EQ("Untitled", document.Title());
    EXPECT_EQ(0, changes);

    driver.fileName = "C:\\Plant\\line1.qor";
    CChannelItem channel(&document);
    ASSERT_TRUE(channel.Read());
    EXPECT_EQ("C:\\Plant\\line1.qor", document.Title());
    EXPECT_EQ(1, changes);
    EXPECT_TRUE(driver.unexpected.empty());
}

} // namespace
