// The server link (lazy connection, the Global Interface Table entry of the
// address parser, clean-up and unload), address parsing, the statistics and
// the signal-conditioning exports, against the in-process fake server.
#include "kiv_fixture.h"

namespace {

class KivLink : public KivFixture {};

const FakeResolution kDb10 = {0x5001, 3, long(AddressWord(1, 10, 100)), 0, 77, "PLC1:DB10,100"};

TEST_F(KivLink, ParsingStoresTheServersAnswerAndItsCanonicalText)
{
    Define("plc1 db10,100", kDb10);
    Item item(KIV_ANALOG, 2);
    EXPECT_EQ(0, Parse(item, "plc1 db10,100"));
    EXPECT_EQ(0x5001u, item.device.blockHandle);
    EXPECT_EQ(AddressWord(1, 10, 100), item.device.addressWord);
    EXPECT_EQ(77u, item.device.deviceReference);
    EXPECT_EQ(3, item.address.blockIndex);
    EXPECT_EQ(0u, item.address.internalAddress);
    EXPECT_STREQ("PLC1:DB10,100", item.address.text);
    // Item word: kind in the low byte, count in the high byte; a text that
    // differs from the stored one passes reference 0.
    EXPECT_EQ(1u, Server().CountOf("SetDataAddress plc1 db10,100 513 0"));
    EXPECT_EQ(std::vector<long>{1}, Server().kivRefPuts) << "an HMI component connects once";

    // The stored text again (in another case): its device reference goes along.
    Define("PLC1:db10,100", kDb10);
    EXPECT_EQ(0, Parse(item, "PLC1:db10,100"));
    EXPECT_EQ(1u, Server().CountOf("SetDataAddress PLC1:db10,100 513 77"));
    EXPECT_EQ(1u, Servers().size());
}

TEST_F(KivLink, ATextTheServerRefusesAnswers514AndKeepsTheCanonicalText)
{
    Define("PLC1:DB10,100", kDb10);
    Item item;
    ASSERT_EQ(0, Parse(item, "PLC1:DB10,100"));
    EXPECT_EQ(514, Parse(item, "PLC1:XX"));
    EXPECT_STREQ("PLC1:DB10,100", item.address.text);
    EXPECT_EQ(0x5001u, item.device.blockHandle);
}

// The server formats only digital and text items; for the others it answers
// its hint, which would find nothing when the item is parsed again.
TEST_F(KivLink, AnItemTheServerAnswersWithTheHintKeepsTheTextItWasParsedFrom)
{
    FakeResolution analog = kDb10;
    analog.canonical = "Dev:StartAddr[:Bit]";
    Define("  PLC1 DB10,100", analog);
    Item item;
    EXPECT_EQ(0, Parse(item, "  PLC1 DB10,100"));
    EXPECT_STREQ("PLC1 DB10,100", item.address.text);
    FakeResolution control = {0x7777, 0, 0, 0x20000000, 0, "Dev:StartAddr[:Bit]"};
    Define("!poll:Line3", control);
    EXPECT_EQ(0, Parse(item, "!poll:Line3"));
    EXPECT_STREQ("Dev:StartAddr[:Bit]", item.address.text) << "a control item shows what the server says";
}

// A table entry whose server has died: the parser connects anew by itself.
TEST_F(KivLink, AParseThatFindsTheServerGoneConnectsAgainAndParsesOnce)
{
    Define("PLC1:DB10,100", kDb10);
    Item item;
    ASSERT_EQ(0, Parse(item, "PLC1:DB10,100"));
    Server(0).failAll = RPC_E_DISCONNECTED;
    EXPECT_EQ(0, Parse(item, "PLC1:DB10,100"));
    ASSERT_EQ(2u, Servers().size());
    EXPECT_EQ(1u, Server(1).CountOf("SetDataAddress"));
    EXPECT_EQ(1, Server(0).Refs()) << "the dead server's pointer is let go";

    Server(1).failAll = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    CreateResult() = REGDB_E_CLASSNOTREG;   // and no new one can be started
    EXPECT_EQ(510, Parse(item, "PLC1:DB10,100"));
    EXPECT_EQ(1u, Boxes().size());

    // A refusal by a live server is no reason to reconnect.
    CreateResult() = S_OK;
    ASSERT_EQ(0, Parse(item, "PLC1:DB10,100"));
    const size_t servers = Servers().size();
    Servers().back()->failAll = E_FAIL;
    EXPECT_EQ(514, Parse(item, "PLC1:DB10,100"));
    EXPECT_EQ(servers, Servers().size());
}

TEST_F(KivLink, AServerThatCannotBeCreatedShowsTheBoxAnswers510AndIsTriedAgain)
{
    CreateResult() = REGDB_E_CLASSNOTREG;
    Item item;
    KivStatus status = 99;
    kiv_paddr(&status, &item.block, &item.kind, "PLC1:DB10,100");
    EXPECT_EQ(510, status);
    kiv_enable_options(&status);
    EXPECT_EQ(510, status);
    EXPECT_EQ((std::vector<std::string>{"Oxley: CoCreateInstance() failed.", "Oxley: CoCreateInstance() failed."}),
              Boxes());
    CreateResult() = S_OK;
    status = 0;
    kiv_enable_options(&status);
    EXPECT_EQ(0, status);
    EXPECT_EQ((std::vector<long>{1, 121167}), Server().kivRefPuts);
}

TEST_F(KivLink, EnablingOptionsTwiceRaisesTheHmiCountTwiceAndKeepsTheCallersStatus)
{
    KivStatus status = 42;
    kiv_enable_options(&status);
    kiv_enable_options(&status);
    EXPECT_EQ(42, status);
    EXPECT_EQ((std::vector<long>{1, 121167, 121167}), Server().kivRefPuts);
}

TEST_F(KivLink, CleanUpWhenNeverConnectedDoesNothing)
{
    kiv_CleanUp(nullptr);
    KivStatus status = 99;
    kiv_CleanUp(&status);
    EXPECT_EQ(0, status);
    EXPECT_TRUE(Servers().empty());
}

// After kiv_CleanUp the next parse must reach the new server: the table
// entry of the old one is revoked, not reused.
TEST_F(KivLink, AfterCleanUpTheParserUsesTheNewServerNotTheOldEntry)
{
    Define("PLC1:DB10,100", kDb10);
    Item item;
    ASSERT_EQ(0, Parse(item, "PLC1:DB10,100"));
    KivStatus status = 99;
    kiv_CleanUp(&status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(1, Server(0).kivRefGets) << "the HMI component disconnects";
    EXPECT_EQ(1, Server(0).Refs()) << "only the test's reference is left";

    ASSERT_EQ(0, Parse(item, "PLC1:DB10,100"));
    ASSERT_EQ(2u, Servers().size());
    EXPECT_EQ(1u, Server(0).CountOf("SetDataAddress"));
    EXPECT_EQ(1u, Server(1).CountOf("SetDataAddress"));
}

TEST_F(KivLink, CleanUpReports510WhenTheServerRefusesTheDisconnect)
{
    kiv_enable_options(nullptr);
    Server().failAll = RPC_E_DISCONNECTED;
    KivStatus status = 99;
    kiv_CleanUp(&status);
    EXPECT_EQ(510, status);
    EXPECT_EQ(1, Server().Refs()) << "the pointer is released all the same";
}

TEST_F(KivLink, UnloadDisconnectsButProcessEndMakesNoServerCall)
{
    kiv_enable_options(nullptr);
    kiv::End(false);
    EXPECT_EQ(1, Server(0).kivRefGets);
    EXPECT_EQ(1, Server(0).Refs());

    kiv::Start(name.c_str());
    kiv_enable_options(nullptr);
    const size_t calls = Server(1).Calls().size();
    const LONG refs = Server(1).Refs();
    kiv::End(true);
    EXPECT_EQ(calls, Server(1).Calls().size()) << "no COM call while the process ends";
    EXPECT_EQ(refs, Server(1).Refs()) << "not even a Release";
    Server(1).Release();   // what the library held; the process would drop it
    kiv::Start(name.c_str());
}

TEST_F(KivLink, StatisticsFillTheirWordsAndResetSendsSixZeros)
{
    KivStats stats;
    memset(&stats, 0xFF, sizeof(stats));
    KivStatus status = 99;
    kiv_read_stats(&status, nullptr, 0, nullptr, &stats);
    EXPECT_EQ(0, status);
    const uint16_t expected[20] = {0, 11, 22, 33, 44, 55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0066, 0, 0};
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(expected[i], stats.word[i]) << "word " << i;
    EXPECT_EQ(1u, Server().CountOf("GetPropertyData 0"));

    kiv_reset_stats(&status, nullptr, 0);
    EXPECT_EQ(0, status);
    EXPECT_EQ(1u, Server().CountOf("SetPropertyData 0 MsgTransmitCount=0 MsgReceiveCount=0 MsgRetryCount=0 "
                                   "MsgTimeoutCount=0 MsgErrorCount=0 PollOverrunCount=0"));

    struct {
        short selector;
        int failing;
    } failures[] = {{1, -1}, {0, 3}};
    for (const auto &f : failures) {
        Server().failingStatistic = f.failing;
        status = 0;
        kiv_read_stats(&status, nullptr, f.selector, nullptr, &stats);
        EXPECT_EQ(510, status) << f.selector << " " << f.failing;
        status = 0;
        kiv_reset_stats(&status, nullptr, f.selector);
        EXPECT_EQ(510, status) << f.selector << " " << f.failing;
    }
}

class KivSignal : public KivFixture {};

TEST_F(KivSignal, NamesParseToTheirIndexAndDisplayTheirShortName)
{
    Item item;
    struct {
        const char *name;
        KivStatus status;
        uint16_t index;
        const char *display;
    } cases[] = {{"Lin", 0, 5, "Lin"}, {"12al", 0, 2, "12AL"}, {"Nonsense", 516, 0, "None"}};
    for (const auto &c : cases) {
        item.device.signalIndex = 9;
        KivStatus status = 99;
        kiv_psig(&status, &item.block, nullptr, c.name);
        EXPECT_EQ(c.status, status) << c.name;
        EXPECT_EQ(c.index, item.device.signalIndex) << c.name;
        char text[8] = "";
        kiv_dsig(&status, &item.block, nullptr, text, 3);
        EXPECT_EQ(0, status);
        EXPECT_EQ(std::string(c.display).substr(0, 2), text) << "cut to size with its NUL";
    }
}

TEST_F(KivSignal, TheListHoldsShortAndLongNamesAndStopsWritingWhenFull)
{
    int count = 0, size = 4096;
    std::vector<char> buffer(4096, '#');
    KivStatus status = 99;
    kiv_EnumSigCond(&status, &count, &size, buffer.data());
    EXPECT_EQ(0, status);
    EXPECT_EQ(14, count);
    EXPECT_STREQ("None - No Signal Conditioning", buffer.data());
    const int needed = size;

    int sized = 0;
    size = 4096;
    kiv_SigCondSize(&status, &sized, &size);
    EXPECT_EQ(0, status);
    EXPECT_EQ(14, sized);
    EXPECT_EQ(needed, size);

    size = 40;   // the first entry (30 bytes) fits, the second does not
    std::fill(buffer.begin(), buffer.end(), '#');
    kiv_EnumSigCond(&status, &count, &size, buffer.data());
    EXPECT_EQ(516, status);
    EXPECT_EQ(14, count);
    EXPECT_EQ(needed, size);
    EXPECT_EQ('#', buffer[30]);

    size = 10;   // not even the first
    kiv_SigCondSize(&status, &count, &size);
    EXPECT_EQ(516, status);
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, size);
}

TEST_F(KivSignal, ALibraryWithoutOneFunctionGives516UntilTheRightOneIsNamed)
{
    SetValue("SignalDll", "kiv_partial_signal.dll");
    Item item;
    item.device.signalIndex = 4;
    KivStatus status = 0;
    kiv_psig(&status, &item.block, nullptr, "Lin");
    EXPECT_EQ(516, status);
    EXPECT_EQ(0, item.device.signalIndex);
    int count = 0, size = 100;
    kiv_SigCondSize(&status, &count, &size);
    EXPECT_EQ(516, status);
    char text[8];
    kiv_dsig(&status, &item.block, nullptr, text, sizeof(text));
    EXPECT_EQ(516, status);

    SetValue("SignalDll", "");   // the default, Parvel.Dll: the next call loads it
    kiv_psig(&status, &item.block, nullptr, "Lin");
    EXPECT_EQ(0, status);
    EXPECT_EQ(5, item.device.signalIndex);
}

// The server's single-instance mutex stands for its process. While it
// exists the link stands; once it is gone, the next look (at most one a
// second) drops the link without a call to the dead server and marks its
// blocks as failed communication, and each later look links again, quietly,
// until a server can be made.
TEST_F(KivLink, AServerWhoseMutexGoesIsDroppedItsBlocksFailAndItIsLinkedAgain)
{
    HANDLE alive = CreateMutexA(NULL, FALSE, (name + "Driver").c_str());
    ASSERT_NE(HANDLE(NULL), alive);
    const uint8_t bytes[2] = {0, 42};
    uint16_t good = MakeBlock(0x5001, 1, 1, 100, bytes, 2, 0x01C0);
    KivStatus status = 0;
    kiv_enable_options(&status);
    ASSERT_EQ(0, status);
    ASSERT_EQ(1u, Servers().size());
    kiv::CheckServer();
    Sleep(1100);
    kiv::CheckServer();
    EXPECT_TRUE(kiv::Lib().connected) << "a server whose mutex exists stays linked";

    CloseHandle(alive);
    const size_t callsBefore = Server(0).calls.size();
    const long refsBefore = Server(0).Refs();
    kiv::CheckServer();
    EXPECT_TRUE(kiv::Lib().connected) << "not looked at again within the second";
    Sleep(1100);
    CreateResult() = REGDB_E_CLASSNOTREG;   // no new server yet
    kiv::CheckServer();
    EXPECT_FALSE(kiv::Lib().connected);
    unsigned short word = 0;
    ASSERT_EQ(0u, store->GetDataBlockStatus(good, &word, nullptr));
    EXPECT_EQ(0x0118, word) << "bad, communication failure; the high byte kept";
    EXPECT_EQ(callsBefore, Server(0).calls.size()) << "the dead server is not called";
    EXPECT_EQ(refsBefore, Server(0).Refs());

    Sleep(1100);
    kiv::CheckServer();
    EXPECT_FALSE(kiv::Lib().connected);
    EXPECT_TRUE(Boxes().empty()) << "linking again shows no box";
    CreateResult() = S_OK;
    Sleep(1100);
    kiv::CheckServer();
    EXPECT_TRUE(kiv::Lib().connected);
    ASSERT_EQ(2u, Servers().size());
    EXPECT_EQ((std::vector<long>{1}), Server(1).kivRefPuts);
    EXPECT_TRUE(Boxes().empty());
}

}  // namespace
