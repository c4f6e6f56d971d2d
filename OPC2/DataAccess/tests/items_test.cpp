// Items end to end: the generic client opc_da_client.exe adds items of the
// simulated controller's data blocks to groups of Brisko, with Hadrel.exe
// polling the controller while the test makes DB10's first word count, and
// receives their changes through IOPCDataCallback, from the MTA and an STA.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessRunner.h"
#include "items_fixture.h"

ItemsEnvironment *ItemsEnvironment::instance =
    static_cast<ItemsEnvironment *>(::testing::AddGlobalTestEnvironment(new ItemsEnvironment));

namespace {

class ItemsTest : public ItemsFixture {
protected:
    std::vector<std::string> Client(const std::string &arguments)
    {
        DWORD code = 0;
        std::vector<std::string> lines = RunClient(arguments, &code);
        EXPECT_EQ(0u, code) << ::testing::PrintToString(lines);
        return lines;
    }
};

// The client's lines that start with prefix.
std::vector<std::string> Starting(const std::vector<std::string> &lines, const std::string &prefix)
{
    std::vector<std::string> found;
    for (const std::string &line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

// The value of client handle client in an OnDataChange line, or -1.
long ValueOf(const std::string &line, int client)
{
    std::string key = (line.find("items=" + std::to_string(client) + "=") != std::string::npos ? "items=" : ",") +
                      std::to_string(client) + "=";
    size_t at = line.find(key);
    return at == std::string::npos ? -1 : std::atol(line.c_str() + at + key.size());
}

TEST_F(ItemsTest, ItemIDsAreValidatedAndAddedWithPerEntryCodesAndCanonicalTypes)
{
    const std::string text256 = "\"PLC1 DB13,0|256\"";
    struct {
        int type;
        const char *id;
        const char *answer;  // error and canonical type
    } cases[] = {
        {0, "\"PLC1 DB10,0\"", "hr=0x00000000 error=0x00000000 type=4"},
        {0, "\"  PLC1 DB10,2|NONE  \"", "hr=0x00000000 error=0x00000000 type=4"},
        {0, "\"PLC1 DB10,2|NONE,0.0,200.0\"", "hr=0x00000000 error=0x00000000 type=4"},
        {0, "\"PLC1 DB10,2|NONE,0.0,200.0,NONE\"", "hr=0x00000000 error=0x00000000 type=4"},
        // Everything after the third comma is the options text.
        {0, "\"PLC1 DB10,2|NONE,0.0,200.0,NONE,X\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {0, "\"PLC1 DB10,2|NOSUCHSIGNAL\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {8, "\"PLC1 DB13,0|256\"", "hr=0x00000000 error=0x00000000 type=8"},
        {8, "\"PLC1 DB13,0|257\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {8, "\"PLC1 DB13,0\"", "hr=0x00000000 error=0x00000000 type=8"},
        {0, "\"!PLC1 DB12,0:3\"", "hr=0x00000000 error=0x00000000 type=11"},
        {0, "\"!PLC1 DB12,0:3|NONE\"", "hr=0x00000000 error=0x00000000 type=11"},
        // A digital item's signal-conditioning text is emptied with its state texts.
        {0, "\"!PLC1 DB12,0:3|LIN,ON,OFF\"", "hr=0x00000000 error=0x00000000 type=11"},
        {11, "\"PLC1 DB12,0:3\"", "hr=0x00000000 error=0x00000000 type=11"},
        // The digital mark alone names no item, whatever follows its address.
        {0, "\"!\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {0, "\"! |NONE\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {11, "\"!\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {8200, "\"PLC1 DB10,0\"", "hr=0x00000001 error=0xC0040004 type=0"},  // VT_ARRAY | VT_I2
        {2, "\"PLC1 DB10,0\"", "hr=0x00000000 error=0x00000000 type=4"},
        {0, "\"PLC1 DBX\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {0, "\"NOPLC DB10,0\"", "hr=0x00000001 error=0xC0040008 type=0"},
        {0, "\"   \"", "hr=0x00000001 error=0xC0040008 type=0"},
    };
    std::string steps = "--mta create addgroup:G:100 ";
    for (auto &c : cases)
        steps += "validate:G:" + std::to_string(c.type) + ":" + c.id + " ";
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        steps += "additem:G:i" + std::to_string(i) + ":" + std::to_string(cases[i].type) + ":0:" + cases[i].id + " ";
    steps += "items:G release";
    std::vector<std::string> lines = Client(steps);
    std::vector<std::string> validated = Starting(lines, "validate "), added = Starting(lines, "additem ");
    ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), validated.size());
    ASSERT_EQ(validated.size(), added.size());
    std::string ids;
    for (size_t i = 0; i < validated.size(); ++i) {
        EXPECT_EQ(std::string("validate ") + cases[i].answer + " handle=0", validated[i]) << cases[i].id;
        bool good = std::string(cases[i].answer).find("error=0x00000000") != std::string::npos;
        EXPECT_EQ(std::string("additem ") + cases[i].answer + " client=" + std::to_string(i + 1) +
                      (good ? " handle=set rights=3" : " handle=0 rights=0"),
                  added[i])
            << cases[i].id;
        if (good) {
            std::string id = cases[i].id;
            id = id.substr(1, id.size() - 2);
            id = id.substr(id.find_first_not_of(' '));
            id = id.substr(0, id.find_last_not_of(' ') + 1);
            ids += (ids.empty() ? "" : ",") + id + "/off";
        }
    }
    EXPECT_EQ("items hr=0x00000000 ids=" + ids, Starting(lines, "items ").at(0)) << "only the good entries were added";
}

// Active items deliver their changes with the counted values, good quality
// and time stamps; deactivation clears what is pending, activation sends
// every active item once.
TEST_F(ItemsTest, ActiveItemsDeliverTheirChangesFromEitherApartment)
{
    ASSERT_TRUE(Session()->Put(10, 2, {0x00, 0x2A}));  // a constant 42 beside the counter
    for (const char *apartment : {"--mta", "--sta"}) {
        SCOPED_TRACE(apartment);
        std::vector<std::string> lines = Client(
            std::string(apartment) +
            " create addgroup:G:100 advise:G additem:G:count:0:0:\"PLC1 DB10,0\" additem:G:still:0:0:\"PLC1 DB10,2\""
            " additem:G:idle:0:0:\"PLC1 DB10,4\" activate:G:count,still:1 sleep:1500 active:G:0 sleep:600 active:G:1 sleep:150"
            " activate:G:count,still:0 sleep:600 release");
        std::vector<std::string> changes = Starting(lines, "OnDataChange");
        ASSERT_GE(changes.size(), 5u) << "about one change per period";
        // The first tells both active items; the idle one never comes.
        EXPECT_EQ(42, ValueOf(changes[0], 2)) << changes[0];
        long last = 0;
        size_t i = 0;
        for (; i < lines.size() && lines[i].compare(0, 6, "active") != 0; ++i) {
            if (lines[i].compare(0, 12, "OnDataChange") != 0)
                continue;
            EXPECT_NE(std::string::npos, lines[i].find("trans=0 group=1 mq=0x00000000 me=0x00000000")) << lines[i];
            EXPECT_EQ(-1, ValueOf(lines[i], 3)) << "the inactive item is not sent";
            long value = ValueOf(lines[i], 1);
            EXPECT_GT(value, last) << lines[i];
            last = value > 0 ? value : last;
            EXPECT_NE(std::string::npos, lines[i].find("/0xC0/t/0x00000000")) << lines[i];
        }
        // Deactivated: nothing until activation, which sends both active items.
        ASSERT_LT(i + 2, lines.size());
        EXPECT_EQ("active hr=0x00000000", lines[i]);
        EXPECT_EQ("sleep", lines[i + 1]);
        EXPECT_EQ("active hr=0x00000000", lines[i + 2]);
        std::vector<std::string> after(lines.begin() + long(i) + 3, lines.end());
        std::vector<std::string> resumed = Starting(after, "OnDataChange");
        ASSERT_FALSE(resumed.empty());
        EXPECT_NE(std::string::npos, resumed[0].find("count=2 ")) << resumed[0];
        EXPECT_EQ(42, ValueOf(resumed[0], 2)) << resumed[0];
        // With its items inactive the group sends nothing more.
        auto off = std::find(after.begin(), after.end(), "activate hr=0x00000000 errors=0x00000000,0x00000000");
        ASSERT_NE(after.end(), off);
        EXPECT_TRUE(Starting(std::vector<std::string>(off, after.end()), "OnDataChange").empty());
    }
}

// An item activated while the I/O server does not poll starts it.
TEST_F(ItemsTest, ActivatingAnItemStartsTheIOServersPolling)
{
    ASSERT_EQ(S_OK, Session()->driver->Stop());
    VARIANT_BOOL running = VARIANT_TRUE;
    Session()->driver->get_Running(&running);
    ASSERT_EQ(VARIANT_FALSE, running);
    std::vector<std::string> lines =
        Client("--mta create addgroup:G:100 additem:G:a:0:0:\"PLC1 DB10,0\" activate:G:a:1 release");
    EXPECT_EQ("activate hr=0x00000000 errors=0x00000000", Starting(lines, "activate").at(0));
    Session()->driver->get_Running(&running);
    EXPECT_EQ(VARIANT_TRUE, running);
}

}  // namespace
namespace {

// Synchronous reads from the cache and the device, writes of each type that
// reach the controller's memory in its byte order, and the OPC 2.0 read,
// write and refresh completing with the client's transaction ids; after
// SetEnable(FALSE) no data change arrives.
TEST_F(ItemsTest, ReadsAndWritesSynchronouslyAndAsynchronouslyFromEitherApartment)
{
    for (const char *apartment : {"--mta", "--sta"}) {
        SCOPED_TRACE(apartment);
        ASSERT_TRUE(Session()->Put(10, 8, {0, 0}));
        ASSERT_TRUE(Session()->Put(12, 1, {0}));
        std::vector<std::string> lines = Client(
            std::string(apartment) +
            " create addgroup:G:100 additem:G:count:0:1:\"PLC1 DB10,0\" additem:G:int:2:1:\"PLC1 DB10,8\""
            " additem:G:text:8:1:\"PLC1 DB13,0\" additem:G:bit:0:1:\"!PLC1 DB12,1:3\" advise:G sleep:1000"
            " read:G:1:count,none read:G:2:count"
            " write:G:int:2:1234 write:G:text:8:ABCDEFGHIJKLMNOPQRST write:G:bit:11:-1 write:G:none:2:5 sleep:400"
            " read:G:2:int,text,bit aread:G:count,none:77 aread:G:none:78 awrite:G:int:2:-7:79 refresh:G:2:80"
            " sleep:400 enable:G:0 sleep:600 active:G:0 read:G:1:count release");
        std::vector<std::string> reads = Starting(lines, "read ");
        ASSERT_EQ(4u, reads.size());
        EXPECT_NE(std::string::npos, reads[0].find("hr=0x00000001 items=1=")) << reads[0];
        EXPECT_NE(std::string::npos, reads[0].find("/0xC0/t/0x00000000,0=empty/0x00/0/0xC0040007")) << reads[0];
        EXPECT_NE(std::string::npos, reads[1].find("hr=0x00000000 items=1=")) << reads[1];
        EXPECT_EQ("read hr=0x00000000 items=2=1234/0xC0/t/0x00000000,3=ABCDEFGHIJKLMNOPQRST/0xC0/t/0x00000000,"
                  "4=1/0xC0/t/0x00000000",
                  reads[2]);
        EXPECT_NE(std::string::npos, reads[3].find("/0x1C/t/0x00000000")) << "an inactive group's cache" << reads[3];
        EXPECT_EQ(std::vector<std::string>({"write hr=0x00000000 error=0x00000000", "write hr=0x00000000 error=0x00000000",
                                            "write hr=0x00000000 error=0x00000000", "write hr=0x00000001 error=0xC0040001"}),
                  Starting(lines, "write "));
        EXPECT_EQ(std::vector<std::string>({"aread hr=0x00000001 cancel=set errors=0x00000000,0xC0040001",
                                            "aread hr=0xC0040001 cancel=0 errors=0xC0040001"}),
                  Starting(lines, "aread "));
        EXPECT_EQ("awrite hr=0x00000000 error=0x00000000 cancel=set", Starting(lines, "awrite ").at(0));
        EXPECT_EQ("refresh hr=0x00000000 cancel=set", Starting(lines, "refresh ").at(0));
        std::vector<std::string> completed = Starting(lines, "OnReadComplete");
        ASSERT_EQ(1u, completed.size());
        EXPECT_NE(std::string::npos, completed[0].find("trans=77 group=1 mq=0x00000001 me=0x00000001 count=2 items=1="));
        EXPECT_NE(std::string::npos, completed[0].find(",0=empty/0x00/0/0xC0040007")) << completed[0];
        EXPECT_EQ(std::vector<std::string>({"OnWriteComplete trans=79 group=1 me=0x00000000 count=1 items=2=0x00000000"}),
                  Starting(lines, "OnWriteComplete"));
        std::vector<std::string> refreshed = Starting(lines, "OnDataChange trans=80 ");
        ASSERT_EQ(1u, refreshed.size());
        EXPECT_NE(std::string::npos, refreshed[0].find("count=4 ")) << refreshed[0];
        // Disabled: nothing after the enable step, though the counter goes on.
        auto off = std::find(lines.begin(), lines.end(), "enable hr=0x00000000 get=0x00000000 enabled=0");
        ASSERT_NE(lines.end(), off);
        EXPECT_TRUE(Starting(std::vector<std::string>(off, lines.end()), "OnDataChange").empty());
        // The controller's memory, big-endian; the text's 20 characters.
        EXPECT_EQ(std::vector<BYTE>({0xFF, 0xF9}), Session()->Get(10, 8, 2));
        EXPECT_EQ(0x08, Session()->Get(12, 1, 1)[0]);
        std::vector<BYTE> text = Session()->Get(13, 0, 22);
        EXPECT_NE(std::string::npos, std::string(text.begin(), text.end()).find("ABCDEFGHIJKLMNOPQRST"));
    }
}

}  // namespace

namespace {

// An OPC 1.0 client from either apartment: its IAdviseSink parses the blocks
// of the three formats; a data change of both items after the advise, a
// read with its transaction id, and a write's completion reaching the
// controller.
TEST_F(ItemsTest, OpcOneClientsReceiveTheirStreamsFromEitherApartment)
{
    for (const char *apartment : {"--mta", "--sta"}) {
        SCOPED_TRACE(apartment);
        ASSERT_TRUE(Session()->Put(10, 10, {0, 0}));
        std::vector<std::string> lines = Client(
            std::string(apartment) +
            " create addgroup:G:100 additem:G:count:0:1:\"PLC1 DB10,0\" additem:G:w:2:1:\"PLC1 DB10,10\""
            " dadvise:G:time dadvise:G:data dadvise:G:write dadvise:G:data sleep:300 read1:G:data:2:count,w"
            " read1:G:write:2:count write1:G:w:2:4660 sleep:500 release");
        EXPECT_EQ(std::vector<std::string>({"dadvise hr=0x00000000 connection=format",
                                            "dadvise hr=0x00000000 connection=format",
                                            "dadvise hr=0x00000000 connection=format",
                                            "dadvise hr=0x80040201 connection=other"}),
                  Starting(lines, "dadvise "));
        EXPECT_EQ(std::vector<std::string>({"read1 hr=0x00000000 trans=set errors=0x00000000,0x00000000",
                                            "read1 hr=0x80040200 trans=0 errors="}),
                  Starting(lines, "read1 "));
        EXPECT_EQ("write1 hr=0x00000000 trans=set error=0x00000000", Starting(lines, "write1 ").at(0));
        std::vector<std::string> timed = Starting(lines, "stream time trans=0 "), plain = Starting(lines, "stream data ");
        ASSERT_FALSE(timed.empty());
        EXPECT_NE(std::string::npos, timed[0].find("status=0x00000000 count=2 items=1=")) << timed[0];
        EXPECT_NE(std::string::npos, timed[0].find(",2=0/0xC0")) << timed[0];
        bool read = false;
        for (const std::string &line : plain)
            read = read || (line.find("trans=0 ") == std::string::npos && line.find("count=2 ") != std::string::npos);
        EXPECT_TRUE(read) << "the read's block, with its transaction id";
        std::vector<std::string> written = Starting(lines, "stream write ");
        ASSERT_EQ(1u, written.size());
        EXPECT_NE(std::string::npos, written[0].find("status=0x00000000 count=1 items=2=0x00000000")) << written[0];
        EXPECT_EQ(std::vector<BYTE>({0x12, 0x34}), Session()->Get(10, 10, 2));
    }
}

}  // namespace
