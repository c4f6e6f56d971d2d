// Items end to end: the generic client opc_da_client.exe adds items of the
// simulated controller's data blocks to groups of Brisko, with Hadrel.exe
// polling the controller while the test makes DB10's first word count, and
// receives their changes through IOPCDataCallback, from the MTA and an STA.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessRunner.h"
#include "server_session.h"

namespace {

using kivserver::BlockDefinition;

const std::vector<BlockDefinition> kBlocks = {
    {"CountBlk", 1, "DB10,0", 20, 0.0f},   // INT words; the first one counts
    {"BitBlk", 9, "DB12,0", 4, 0.0f},      // BYTE
    {"StrBlk", 12, "DB13,0", 262, 0.0f},   // STRING
};

class ItemsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        s_session = new kivserver::ServerSession;
        ASSERT_TRUE(s_session->Prepare()) << s_session->failure;
        ASSERT_TRUE(s_session->Configure(kBlocks)) << s_session->failure << "\n" << s_session->Log();
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "OpcProxy.dll\""));
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "Brisko.dll\""));
        s_counting = true;
        s_counter = std::thread([] {
            for (WORD n = 1; s_counting; ++n) {
                s_session->Put(10, 0, {BYTE(n >> 8), BYTE(n)});
                Sleep(100);
            }
        });
    }
    static void TearDownTestSuite()
    {
        s_counting = false;
        if (s_counter.joinable())
            s_counter.join();
        RunProgram("regsvr32.exe /s /u \"" + BinFolder() + "Brisko.dll\"");
        delete s_session;
        s_session = nullptr;
        CoUninitialize();
    }
    std::vector<std::string> Client(const std::string &arguments)
    {
        std::string output;
        DWORD code = RunProgram("\"" + BinFolder() + "opc_da_client.exe\" " + arguments, &output, 120000);
        EXPECT_EQ(0u, code) << output;
        std::vector<std::string> lines;
        std::istringstream in(output);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.compare(0, 7, "progid ") != 0)
                lines.push_back(line);
        }
        return lines;
    }
    static kivserver::ServerSession *s_session;
    static std::atomic<bool> s_counting;
    static std::thread s_counter;
};
kivserver::ServerSession *ItemsTest::s_session;
std::atomic<bool> ItemsTest::s_counting;
std::thread ItemsTest::s_counter;

TEST_F(ItemsTest, Explore)
{
    std::vector<std::string> lines = Client("--mta create addgroup:G:100 additem:G:a:0:1:\"PLC1 DB10,0\" advise:G sleep:1000 release");
    for (auto &l : lines)
        printf("%s\n", l.c_str());
}

}  // namespace
