// End to end: the HMI stand-in hmi_host.exe with Oxley.dll against the real
// server Hadrel.exe (a COM local server in the test prefix) polling the
// simulated controller. Addresses are parsed by the server (blocks created
// and extended on demand), values put in the controller's memory reach the
// host conditioned with quality and time, writes reach the controller's
// memory in its byte order, exception points report exactly the changes
// beyond the deadband, and after the server is killed the host reconnects
// to a new one.
#include <gtest/gtest.h>
#include <cstdio>
#include <functional>
#include <sstream>
#include "CommonMemory.h"
#include "host_process.h"
#include "server_session.h"

namespace {

using kivserver::BlockDefinition;

const std::vector<BlockDefinition> kBlocks = {
    {"IntBlk", 1, "DB10,100", 10, 10.0f},     // INT, deadband 10
    {"RealBlk", 3, "DB11,0", 8, 0.0f},        // REAL
    {"ByteBlk", 9, "DB12,0", 4, 0.0f},        // BYTE
    {"StrBlk", 12, "DB13,0", 12, 0.0f},       // STRING[10]
    {"DwordBlk", 6, "DB14,0", 4, 0.0f},       // DWORD
};

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs = 15000)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// The word after "key=" in an answer line.
std::string Field(const std::string &line, const std::string &key)
{
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    size_t end = key == "text" ? std::string::npos : line.find(' ', at);   // the text is the last field
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string Status(const std::string &line)
{
    std::istringstream in(line);
    std::string command, name, status;
    in >> command >> name >> status;
    return status;
}

class KivServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(NULL, COINIT_MULTITHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    kivserver::ServerSession session;

    void SetUp() override
    {
        ASSERT_TRUE(session.Prepare()) << session.failure;
        ASSERT_TRUE(session.Configure(kBlocks)) << session.failure << "\n" << session.Log();
    }

    // Reads name until its line has the wanted value (and a good quality).
    std::string ReadUntil(HostProcess &host, const std::string &name, const std::string &value,
                          const char *command = "read")
    {
        std::string line;
        WaitFor([&] {
            line = host.Ask(std::string(command) + " " + name);
            return Field(line, "value") == value;
        });
        return line;
    }
};

TEST_F(KivServer, TheHostParsesReadsWritesAndWatchesThroughTheServer)
{
    HostProcess host("- --dismiss-boxes");
    ASSERT_EQ("loaded Oxley.dll", host.Line());

    // Addresses inside the configured blocks resolve to them; the canonical
    // text comes from the server, which formats digital and text items (an
    // analog item keeps the text it was parsed from).
    struct {
        const char *item;
        const char *kind;
        int count;
        const char *address;
        const char *canonical;
    } items[] = {
        {"int", "analog", 1, "PLC1 DB10,102", "PLC1 DB10,102"},
        {"real", "analog", 1, "plc1:db11.4", "plc1:db11.4"},
        {"bit", "digital", 1, "PLC1 DB12,1:3", "PLC1:DB12,1:3"},
        {"text", "text", 10, "PLC1 DB13,0", "PLC1:DB13,0"},
        {"dword", "analog", 1, "PLC1:DB14,0", "PLC1:DB14,0"},
    };
    for (const auto &i : items) {
        std::string line = host.Ask(std::string("item ") + i.item + " " + i.kind + " " + std::to_string(i.count) +
                                    " " + i.address);
        EXPECT_EQ("0", Status(line)) << line << "\n" << session.Log();
        EXPECT_EQ(i.canonical, Field(line, "text")) << line;
        EXPECT_NE("0", Field(line, "handle")) << line;
    }
    EXPECT_TRUE(host.notes.empty()) << host.notes.front();

    // A new data block is created for an address outside every block, and
    // extended for a second address in the same data block.
    std::string first = host.Ask("item auto1 analog 1 PLC1 DB20,4");
    std::string second = host.Ask("item auto2 analog 1 PLC1 DB20,30");
    EXPECT_EQ("0", Status(first)) << first;
    EXPECT_EQ("0", Status(second)) << second;
    EXPECT_EQ(Field(first, "handle"), Field(second, "handle")) << "one block, extended";
    EXPECT_TRUE(host.Ask("item bad analog 1 NOPLC DB10,4").compare(0, 12, "item bad 514") == 0);
    EXPECT_TRUE(host.notes.empty()) << "a text the server refuses is no server failure";

    // Values put in the controller (big-endian) reach the host.
    ASSERT_TRUE(session.Put(10, 102, {0xFB, 0x2E}));               // -1234
    ASSERT_TRUE(session.Put(11, 4, {0x41, 0x48, 0x00, 0x00}));      // 12.5
    ASSERT_TRUE(session.Put(12, 1, {0x08}));                        // bit 3
    ASSERT_TRUE(session.Put(13, 0, {10, 5, 'H', 'E', 'L', 'L', 'O'}));
    ASSERT_TRUE(session.Put(14, 0, {0x00, 0x01, 0x11, 0x70}));      // 70000
    EXPECT_EQ("read int 0 last=0 type=3 error=0 value=-1234", ReadUntil(host, "int", "-1234"));
    EXPECT_EQ("read real 0 last=0 type=3 error=0 value=12.5", ReadUntil(host, "real", "12.5"));
    EXPECT_EQ("read bit 0 last=0 type=4 error=0 value=1", ReadUntil(host, "bit", "1"));
    EXPECT_EQ("read text 0 last=0 type=0 error=0 value='HELLO'", ReadUntil(host, "text", "'HELLO'"));
    EXPECT_EQ("read dword 0 last=0 type=3 error=0 value=70000", ReadUntil(host, "dword", "70000"));
    std::string ex = host.Ask("readex int");
    EXPECT_EQ("0x00c0", Field(ex, "quality")) << ex;
    EXPECT_NE("0000000000000000", Field(ex, "time")) << ex;
    // Signal conditioning: Lin over 0..50 of the raw INT.
    host.Ask("signal int Lin");
    host.Ask("range int 0 50");
    ASSERT_TRUE(session.Put(10, 102, {0x7F, 0xFF}));
    EXPECT_EQ("50", Field(ReadUntil(host, "int", "50"), "value"));
    host.Ask("signal int None");
    // A value that changes in the controller changes at the host.
    ASSERT_TRUE(session.Put(10, 102, {0x00, 0x07}));
    EXPECT_EQ("7", Field(ReadUntil(host, "int", "7"), "value"));

    // Writes reach the controller's memory in its byte order.
    EXPECT_EQ("send int 0", host.Ask("send int 321"));
    EXPECT_EQ("send real 0", host.Ask("send real 2.5"));
    EXPECT_EQ("send bit 0", host.Ask("send bit 0"));
    EXPECT_EQ("send text 0", host.Ask("send text WORLD"));
    EXPECT_TRUE(WaitFor([&] { return session.Get(10, 102, 2) == std::vector<BYTE>{0x01, 0x41}; }));
    EXPECT_TRUE(WaitFor([&] { return session.Get(11, 4, 4) == std::vector<BYTE>{0x40, 0x20, 0x00, 0x00}; }));
    EXPECT_TRUE(WaitFor([&] { return session.Get(12, 1, 1) == std::vector<BYTE>{0x00}; }));
    EXPECT_TRUE(WaitFor([&] {
        std::vector<BYTE> s = session.Get(13, 0, 7);
        return s[1] == 5 && std::string(s.begin() + 2, s.end()) == "WORLD";
    })) << "the STRING's current length is the text's";
    EXPECT_EQ(10, session.Get(13, 0, 1)[0]) << "its maximum length stays";
    EXPECT_EQ("send bit 0", host.Ask("send bit 1"));
    EXPECT_TRUE(WaitFor([&] { return session.Get(12, 1, 1) == std::vector<BYTE>{0x08}; }));

    // Exception points: only changes beyond the deadband (10) are reported.
    ReadUntil(host, "int", "321");
    EXPECT_EQ("on int 520", host.Ask("on int 5 500 0"));
    host.Ask("fetch 50");
    ASSERT_TRUE(session.Put(10, 102, {0x01, 0x44}));   // 324: within the deadband
    Sleep(800);
    EXPECT_EQ("fetch 0", host.Ask("fetch 50"));
    EXPECT_EQ("321", Field(host.Ask("read int"), "value")) << "the block keeps the old value";
    ASSERT_TRUE(session.Put(10, 102, {0x01, 0x90}));   // 400
    std::string fetched;
    WaitFor([&] {
        fetched = host.Ask("fetch 50");
        return fetched != "fetch 0";
    });
    EXPECT_EQ("fetch 1 5:500", fetched);
    Sleep(500);
    EXPECT_EQ("fetch 0", host.Ask("fetch 50")) << "one change, one record";
    EXPECT_EQ("off int 0", host.Ask("off int 5 500"));

    // A control item: !Mode switches its block off and on again.
    std::string mode = host.Ask("item mode analog 1 !Mode:ByteBlk");
    EXPECT_EQ("0", Status(mode)) << mode;
    EXPECT_EQ("0x30000000", Field(mode, "internal"));
    EXPECT_EQ("send mode 0", host.Ask("send mode 0"));
    EXPECT_TRUE(WaitFor([&] { return Field(host.Ask("read bit"), "error") == "4297"; })) << "the block is disabled";
    EXPECT_EQ("send mode 0", host.Ask("send mode 1"));
    EXPECT_EQ("1", Field(ReadUntil(host, "bit", "1"), "value"));
    EXPECT_EQ("0", Field(host.Ask("read bit"), "error"));

    // The driver's statistics: messages went out and came back.
    std::istringstream stats(host.Ask("stats"));
    std::string word;
    std::vector<long> words;
    while (stats >> word)
        if (word != "stats")
            words.push_back(std::stol(word));
    ASSERT_EQ(21u, words.size());
    EXPECT_EQ(0, words[0]) << "status";
    EXPECT_GT(words[1 + 1], 0) << "MsgTransmitCount";
    EXPECT_GT(words[1 + 2], 0) << "MsgReceiveCount";

    // The scan and alarm task announces its use of the driver.
    EXPECT_EQ("enable 0", host.Ask("enable"));
    EXPECT_EQ("enable 0", host.Ask("enable"));

    EXPECT_EQ("quit 0", host.Ask("quit"));
    EXPECT_EQ(0, host.Wait(15000));
    EXPECT_TRUE(host.boxes.empty()) << host.boxes.front();

    // The HMI's parses and its leaving cost the server nothing that another
    // client holds: the test's own connection still works.
    VARIANT_BOOL running = VARIANT_FALSE;
    EXPECT_EQ(S_OK, session.driver->get_Running(&running)) << session.Log();
    EXPECT_EQ(VARIANT_TRUE, running);
}

TEST_F(KivServer, AfterTheServerIsKilledTheHostReconnectsToANewOne)
{
    HostProcess host("- --dismiss-boxes");
    ASSERT_EQ("loaded Oxley.dll", host.Line());
    ASSERT_EQ("0", Status(host.Ask("item int analog 1 PLC1 DB10,102")));
    ASSERT_TRUE(session.Put(10, 102, {0x00, 0x2A}));
    ASSERT_EQ("42", Field(ReadUntil(host, "int", "42"), "value"));
    EXPECT_EQ("on int 520", host.Ask("on int 1 7 0"));

    std::vector<DWORD> before = kivserver::ServerProcesses();
    ASSERT_EQ(1u, before.size());
    session.Release();
    kivserver::KillServers();
    // Wine's service control keeps the killed server's class object
    // registered, and every activation then fails; Windows notices the dead
    // server. A fresh rpcss forgets it, as Windows would.
    kivserver::KillProcesses("rpcss.exe");

    // The parser finds the dead server behind its table entry, connects to
    // a new server (which loads the saved file) and parses again.
    // Until the new server has registered, creation fails (a box, answered)
    // and the HMI tries again later.
    std::string line;
    WaitFor([&] {
        line = host.Ask("item int analog 1 PLC1 DB10,102", 60000);
        return Status(line) == "0";
    }, 30000);
    EXPECT_EQ("0", Status(line)) << line << "\n" << session.Log();
    std::vector<DWORD> after = kivserver::ServerProcesses();
    ASSERT_EQ(1u, after.size());
    EXPECT_NE(before[0], after[0]) << "a new server";
    EXPECT_EQ("on int 520", host.Ask("on int 1 7 0"));
    ASSERT_TRUE(session.Put(10, 102, {0x00, 0x63}));
    EXPECT_EQ("99", Field(ReadUntil(host, "int", "99"), "value"));

    // Ending while connected makes no COM call: the process ends at once.
    EXPECT_EQ("exit-now", host.Ask("exit-now"));
    EXPECT_EQ(0, host.Wait(15000));
    for (const std::string &box : host.boxes)
        EXPECT_EQ("Oxley: CoCreateInstance() failed.", box);
}

// The server killed while the HMI reads every half second: within about two
// seconds the reads say communication failure instead of the last value as
// good, and without the HMI parsing again they recover from a new server
// that Oxley starts by linking again.
TEST_F(KivServer, AKilledServerIsNoticedAndReadsRecoverFromANewOne)
{
    HostProcess host("- --dismiss-boxes");
    ASSERT_EQ("loaded Oxley.dll", host.Line());
    ASSERT_EQ("0", Status(host.Ask("item int analog 1 PLC1 DB10,102")));
    ASSERT_TRUE(session.Put(10, 102, {0x00, 0x2A}));
    std::string line = ReadUntil(host, "int", "42", "readex");
    ASSERT_EQ("0x00c0", Field(line, "quality")) << line;

    std::vector<DWORD> before = kivserver::ServerProcesses();
    ASSERT_EQ(1u, before.size());
    session.Release();
    kivserver::KillServers();
    const DWORD killed = GetTickCount();
    // Wine's service control keeps the killed server's class object
    // registered; a fresh rpcss forgets it, as Windows would.
    kivserver::KillProcesses("rpcss.exe");

    DWORD noticed = 0;
    while (GetTickCount() - killed < 20000) {
        line = host.Ask("readex int", 60000);
        if (Field(line, "quality") == "0x0018") {
            noticed = GetTickCount() - killed;
            break;
        }
        EXPECT_EQ("42", Field(line, "value")) << "before the failure shows, the last value: " << line;
        Sleep(500);
    }
    ASSERT_NE(0u, noticed) << "the reads never showed the failure: " << line;
    EXPECT_EQ("0", Status(line)) << line;
    EXPECT_EQ("0", Field(line, "value")) << line;
    // The HMI's older read gives the value's error code of a communication failure.
    EXPECT_NE(std::string::npos, host.Ask("read int").find(" error=4293 ")) << "noticed after " << noticed << " ms";
    std::printf("server death noticed after %lu ms\n", static_cast<unsigned long>(noticed));

    // The new server polls the controller again; the item finds its block by itself.
    ASSERT_TRUE(session.Put(10, 102, {0x00, 0x63}));
    WaitFor([&] {
        line = host.Ask("readex int", 60000);
        return Field(line, "value") == "99";
    }, 60000);
    EXPECT_EQ("99", Field(line, "value")) << line << "\n" << session.Log();
    EXPECT_EQ("0x00c0", Field(line, "quality")) << line;
    std::vector<DWORD> after = kivserver::ServerProcesses();
    ASSERT_EQ(1u, after.size());
    EXPECT_NE(before[0], after[0]) << "a new server";
    EXPECT_TRUE(host.boxes.empty()) << "linking again shows no box: " << host.boxes.front();

    EXPECT_EQ("exit-now", host.Ask("exit-now"));
    EXPECT_EQ(0, host.Wait(15000));
}

}  // namespace
