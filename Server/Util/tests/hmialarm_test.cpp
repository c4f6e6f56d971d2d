#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "HmiAlarm.h"

namespace {

typedef std::vector<std::string> Fields;

// The stand-ins of karsel.dll and dromin.dll append one tab-separated line
// per call to the file named by QOR_HMI_RECORD.
class HmiAlarmTest : public ::testing::Test {
protected:
    std::string record;
    void SetUp() override
    {
        char dir[MAX_PATH];
        GetTempPathA(sizeof(dir), dir);
        record = std::string(dir) + "qor_hmi_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                 ".txt";
        DeleteFileA(record.c_str());
        SetEnvironmentVariableA("QOR_HMI_RECORD", record.c_str());
        SetEnvironmentVariableA("QOR_HMI_NODE", "NODE07");
        SetEnvironmentVariableA("QOR_HMI_KARSEL_STATUS", NULL);
        SetEnvironmentVariableA("QOR_HMI_DROMIN_HOLD", NULL);
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QOR_HMI_RECORD", NULL);
        DeleteFileA(record.c_str());
    }
    std::vector<Fields> calls()
    {
        std::vector<Fields> out;
        std::ifstream in(record.c_str());
        std::string line;
        while (std::getline(in, line)) {
            Fields fields;
            std::stringstream split(line);
            std::string field;
            while (std::getline(split, field, '\t'))
                fields.push_back(field);
            out.push_back(fields);
        }
        return out;
    }
    // Only the calls of one kind ("dromin_send_text", "karsel_get_myname", ...).
    std::vector<Fields> callsOf(const std::string &name)
    {
        std::vector<Fields> out;
        for (const Fields &f : calls())
            if (!f.empty() && f[0] == name && !(f.size() == 2 && f[1] == "leave"))
                out.push_back(f);
        return out;
    }
};

TEST_F(HmiAlarmTest, TheLineReachesTheAlarmLibraryWithItsArguments)
{
    CHmiAlarmLine alarm;
    ASSERT_TRUE(alarm.Open());
    SYSTEMTIME before;
    GetLocalTime(&before);
    alarm.Send("Channel Ch1 Enabled", "QOR");
    alarm.Send(std::string(100, 'x').c_str(), "Block1");

    std::vector<Fields> sent = callsOf("dromin_send_text");
    ASSERT_EQ(2u, sent.size());
    ASSERT_EQ(8u, sent[0].size());
    EXPECT_EQ("QOR - Channel Ch1 Enabled", sent[0][1]);
    EXPECT_EQ("1", sent[0][2]);
    EXPECT_EQ("NODE07", sent[0][3]);
    EXPECT_EQ("1", sent[0][5]);
    EXPECT_EQ("0", sent[0][6]);
    EXPECT_EQ("0", sent[0][7]);
    // Eight words: hundredths, second, minute, hour, day, month, year, day of week.
    std::vector<int> words;
    std::stringstream split(sent[0][4]);
    std::string word;
    while (std::getline(split, word, ','))
        words.push_back(std::stoi(word));
    ASSERT_EQ(8u, words.size());
    EXPECT_LT(words[0], 100);
    EXPECT_EQ(before.wYear, words[6]);
    EXPECT_GE(words[5], 1);
    EXPECT_LE(words[5], 12);
    EXPECT_LE(words[7], 6);
    // At most 80 characters of the text.
    EXPECT_EQ("Block1 - " + std::string(80, 'x'), sent[1][1]);
}

TEST_F(HmiAlarmTest, TheNodeNameIsFetchedOnceAndItsLibraryFreedAgain)
{
    CHmiAlarmLine alarm;
    ASSERT_TRUE(alarm.Open());
    alarm.Send("Driver Started", "QOR");
    alarm.Send("Driver Stopped", "QOR");
    EXPECT_EQ("NODE07", alarm.GetNodeName());
    std::vector<Fields> all = calls();
    std::vector<std::string> karsel;
    for (const Fields &f : all)
        if (f[0].compare(0, 6, "karsel") == 0)
            karsel.push_back(f[0] + " " + f[1]);
    EXPECT_EQ((std::vector<std::string>{"karsel attach", "karsel_get_myname 0", "karsel detach"}), karsel);
    EXPECT_EQ(2u, callsOf("dromin_send_text").size());
}

TEST_F(HmiAlarmTest, AFailedNodeNameSkipsTheLineAndIsTriedAgain)
{
    CHmiAlarmLine alarm;
    ASSERT_TRUE(alarm.Open());
    SetEnvironmentVariableA("QOR_HMI_KARSEL_STATUS", "5");
    alarm.Send("lost", "QOR");
    EXPECT_TRUE(callsOf("dromin_send_text").empty());
    EXPECT_EQ("", alarm.GetNodeName());
    SetEnvironmentVariableA("QOR_HMI_KARSEL_STATUS", NULL);
    alarm.Send("sent", "QOR");
    ASSERT_EQ(1u, callsOf("dromin_send_text").size());
    EXPECT_EQ(2u, callsOf("karsel_get_myname").size());
}

TEST_F(HmiAlarmTest, AClosedLineSendsNothingAndFreesTheLibrary)
{
    CHmiAlarmLine alarm;
    alarm.Send("before open", "QOR");
    EXPECT_TRUE(calls().empty()) << "nothing may be loaded while the line is closed";
    ASSERT_TRUE(alarm.Open());
    EXPECT_TRUE(alarm.IsOpen());
    alarm.Close();
    EXPECT_FALSE(alarm.IsOpen());
    EXPECT_EQ(nullptr, GetModuleHandleA("dromin.dll"));
    alarm.Send("after close", "QOR");
    EXPECT_TRUE(callsOf("dromin_send_text").empty());
    alarm.Close(); // twice is harmless
}

struct Sender {
    CHmiAlarmLine *alarm;
};

DWORD WINAPI sendOnThread(LPVOID p)
{
    static_cast<Sender *>(p)->alarm->Send("slow line", "QOR");
    return 0;
}

DWORD WINAPI closeOnThread(LPVOID p)
{
    static_cast<Sender *>(p)->alarm->Close();
    return 0;
}

TEST_F(HmiAlarmTest, CloseWaitsForASendInProgress)
{
    HANDLE entered = CreateEventA(NULL, TRUE, FALSE, "QORHmiTest_Entered");
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "QORHmiTest_Release");
    SetEnvironmentVariableA("QOR_HMI_DROMIN_HOLD", "QORHmiTest");
    CHmiAlarmLine alarm;
    ASSERT_TRUE(alarm.Open());
    Sender sender{&alarm};
    HANDLE sending = CreateThread(NULL, 0, sendOnThread, &sender, 0, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered, 60000));
    HANDLE closing = CreateThread(NULL, 0, closeOnThread, &sender, 0, NULL);
    // Give the closer its chance to run; a busy machine only makes the race
    // less likely to show, never makes the test fail.
    Sleep(200);
    SetEvent(release);
    WaitForSingleObject(sending, 60000);
    WaitForSingleObject(closing, 60000);
    CloseHandle(sending);
    CloseHandle(closing);
    CloseHandle(entered);
    CloseHandle(release);
    SetEnvironmentVariableA("QOR_HMI_DROMIN_HOLD", NULL);

    std::vector<std::string> dromin;
    for (const Fields &f : calls())
        if (f[0].compare(0, 6, "dromin") == 0)
            dromin.push_back(f[1] == "leave" || f[1] == "attach" || f[1] == "detach" ? f[0] + " " + f[1]
                                                                                     : f[0]);
    EXPECT_EQ((std::vector<std::string>{"dromin attach", "dromin_send_text", "dromin_send_text leave",
                                        "dromin detach"}),
              dromin);
    EXPECT_FALSE(alarm.IsOpen());
}

} // namespace
