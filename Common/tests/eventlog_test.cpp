#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "EventLog.h"
#include "EventLogRecorder.h"

namespace {

// Each test uses an event source of its own, so its registry key
// (HKLM\Software\Veltrane\Drivers\<source>) is its own too.
class EventLogTest : public ::testing::Test {
protected:
    CEventLogRecorder events;
    std::string source;
    std::string key;
    void SetUp() override
    {
        source = std::string("QORTest_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        key = "Software\\Veltrane\\Drivers\\" + source;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()); }

    void setErrorDll(const char *name)
    {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &k, NULL));
        RegSetValueExA(k, "ErrorDll", 0, REG_SZ, reinterpret_cast<const BYTE *>(name), DWORD(strlen(name) + 1));
        RegCloseKey(k);
    }
};

struct TextCase {
    DWORD id;
    const char *text;
};

TEST_F(EventLogTest, MessageTextsComeFromZorbErrWithoutTheLineBreak)
{
    // given no "ErrorDll" value
    CEventLog log(source.c_str());
    ASSERT_TRUE(log.IsUsable());
    ASSERT_NE(nullptr, log.GetMessageLibrary());

    const TextCase cases[] = {
        {0xC1030311, "The value is not valid."},
        {0xC1030320, "The driver can't start because it is still processing a previous stop request."},
        // Insertion marks stay: the lookup has no strings to put in.
        {0xC1020200, "The control block %1 of a shared memory area cannot be created: %2"},
        {0x41040000, "%1"},
        // Same facility and code, told apart by the severity.
        {0x8107000E, "Import this 6.x CSV file?"},
        {0xC107000E, "The context-help control cannot be created."},
    };
    for (const TextCase &c : cases) {
        char text[512];
        EXPECT_EQ(0u, log.GetMessageText(c.id, text, sizeof(text))) << std::hex << c.id;
        EXPECT_STREQ(c.text, text) << std::hex << c.id;
    }
}

TEST_F(EventLogTest, EveryIdTheSystemUsesIsResolvable)
{
    const DWORD ids[] = {
        0x41040000, 0x81040001, 0xC1040002, 0xC1040003, 0x41040004, 0x41040005, 0x41040006,
        0xC1040007, 0xC1040008, 0xC1040009, 0xC104000A, 0xC104000B, 0xC104000C, 0x8104000D,
        0xC101011C, 0xC1010130, 0xC1010131, 0xC1010132, 0xC1010133, 0xC1010134, 0xC1010136,
        0xC1010137, 0xC1010139, 0xC101013A, 0xC101013B, 0xC10101B0, 0xC10101B1, 0xC10101FD,
        0xC10101FE, 0xC1020200, 0xC1020201, 0xC1020202, 0xC1020203, 0xC1020204, 0xC1020205,
        0xC1020206, 0xC1020207, 0xC1020208, 0xC1020209, 0xC102020A, 0xC102020B, 0xC1030301,
        0xC1030302, 0xC1030305, 0xC1030306, 0xC1030308, 0xC1030309, 0xC103030A, 0xC103030D,
        0xC103030E, 0xC103030F, 0xC1030310, 0xC1030311, 0xC1030312, 0xC1030313, 0xC1030314,
        0xC1030315, 0xC1030316, 0xC1030317, 0xC1030318, 0xC1030319, 0xC103031A, 0xC103031B,
        0xC103031C, 0xC1030320, 0xC1030321, 0xC1030322, 0xC1050400, 0xC1050401, 0xC1050402,
        0xC1050403, 0xC1050404, 0xC1050405, 0xC1060501, 0x8107000E, 0xC107000E,
    };
    CEventLog log(source.c_str());
    for (DWORD id : ids) {
        std::string text;
        EXPECT_EQ(0u, log.GetMessageText(id, text)) << std::hex << id;
        EXPECT_FALSE(text.empty()) << std::hex << id;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << std::hex << id;
    }
}

TEST_F(EventLogTest, LookupFailuresAnswerTheSystemErrorAndLeaveTheBufferEmpty)
{
    CEventLog log(source.c_str());
    char text[64] = "stale";
    EXPECT_NE(0u, log.GetMessageText(0xC10300FF, text, sizeof(text)));
    EXPECT_STREQ("", text);
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), log.GetMessageText(0xC1030311, text, 0));
}

TEST_F(EventLogTest, ALongTextIsCutToTheBuffer)
{
    CEventLog log(source.c_str());
    char text[16];
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(0u, log.GetMessageText(0xC1030311, text, 10));
    EXPECT_STREQ("The value", text);
    EXPECT_EQ('x', text[10]);
}

TEST_F(EventLogTest, SystemTextsAnswerWhenTheTableHasNone)
{
    CEventLog log(source.c_str());
    std::string text;
    EXPECT_EQ(0u, log.GetMessageText(ERROR_ACCESS_DENIED, text));
    EXPECT_FALSE(text.empty());
    EXPECT_NE('\n', text.back());
}

TEST_F(EventLogTest, ErrorDllIsLoadedAsDataNeverRun)
{
    SetEnvironmentVariableA("QOR_PLANTED_RAN", NULL);
    setErrorDll("qor_planted_messages.dll");
    CEventLog log(source.c_str());
    ASSERT_TRUE(log.IsUsable());
    std::string text;
    EXPECT_EQ(0u, log.GetMessageText(0xC1030311, text));
    EXPECT_EQ("Planted text for an invalid value.", text);
    EXPECT_EQ(0u, GetEnvironmentVariableA("QOR_PLANTED_RAN", NULL, 0)) << "the library's code ran";
}

TEST_F(EventLogTest, AMissingLibraryLeavesOnlyTheSystemTexts)
{
    setErrorDll("NoSuchMessages.dll");
    CEventLog log(source.c_str());
    EXPECT_FALSE(log.IsUsable());
    EXPECT_EQ(nullptr, log.GetMessageLibrary());
    std::string text;
    EXPECT_NE(0u, log.GetMessageText(0xC1030311, text));
    EXPECT_EQ(0u, log.GetMessageText(ERROR_ACCESS_DENIED, text));
    // The event source still works.
    EXPECT_EQ(0u, ReportEventStrings(&log, 0xC1040002, EVENTLOG_ERROR_TYPE, 0, NULL, "line", NULL));
    EXPECT_EQ(1u, events.Count());
}

TEST_F(EventLogTest, ReportWritesTheStringsAndDataUnderTheSource)
{
    CEventLog log(source.c_str());
    unsigned char data[3] = {1, 2, 3};
    EXPECT_EQ(0u, ReportEventStrings(&log, 0xC1020200, EVENTLOG_ERROR_TYPE, sizeof(data), data, "QOR_InputArea_CB",
                                     "Access denied.", NULL));
    std::vector<CEventLogRecorder::Event> written = events.Events();
    ASSERT_EQ(1u, written.size());
    EXPECT_EQ(source, written[0].source);
    EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), written[0].type);
    EXPECT_EQ(0xC1020200u, written[0].id);
    EXPECT_EQ((std::vector<std::string>{"QOR_InputArea_CB", "Access denied."}), written[0].strings);
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}), written[0].data);
}

TEST_F(EventLogTest, OnlyTheFirstHundredInsertionStringsAreWritten)
{
    CEventLog log(source.c_str());
    std::vector<std::string> texts;
    for (int i = 0; i < 101; ++i)
        texts.push_back(std::to_string(i));
    const char *s[101];
    for (int i = 0; i < 101; ++i)
        s[i] = texts[i].c_str();
#define S10(b) s[b], s[b + 1], s[b + 2], s[b + 3], s[b + 4], s[b + 5], s[b + 6], s[b + 7], s[b + 8], s[b + 9]
    EXPECT_EQ(0u, ReportEventStrings(&log, 0x41040000, EVENTLOG_INFORMATION_TYPE, 0, NULL, S10(0), S10(10), S10(20),
                                     S10(30), S10(40), S10(50), S10(60), S10(70), S10(80), S10(90), s[100], NULL));
#undef S10
    std::vector<CEventLogRecorder::Event> written = events.Events();
    ASSERT_EQ(1u, written.size());
    ASSERT_EQ(100u, written[0].strings.size());
    EXPECT_EQ("99", written[0].strings.back());
}

TEST_F(EventLogTest, WithoutAnEventSourceNothingIsWrittenAndZeroAnswered)
{
    events.RefuseSources(true);
    CEventLog log(source.c_str());
    EXPECT_FALSE(log.IsUsable());
    EXPECT_EQ(nullptr, log.GetEventSource());
    EXPECT_EQ(0u, ReportEventStrings(&log, 0xC1040002, EVENTLOG_ERROR_TYPE, 0, NULL, "lost", NULL));
    EXPECT_EQ(0u, ReportEventStrings(nullptr, 0xC1040002, EVENTLOG_ERROR_TYPE, 0, NULL, "lost", NULL));
    EXPECT_EQ(0u, events.Count());
    // The texts do not need the event source.
    std::string text;
    EXPECT_EQ(0u, log.GetMessageText(0xC1030311, text));
}

TEST_F(EventLogTest, CloseDeregistersTheSourceOnce)
{
    {
        CEventLog log(source.c_str());
        EXPECT_EQ(1, events.OpenSources());
        log.Close();
        EXPECT_EQ(0, events.OpenSources());
        EXPECT_EQ(nullptr, log.GetMessageLibrary());
        EXPECT_EQ(0u, ReportEventStrings(&log, 0xC1040002, EVENTLOG_ERROR_TYPE, 0, NULL, "after close", NULL));
    }
    EXPECT_EQ(0, events.OpenSources());
    EXPECT_EQ(0u, events.Count());
}

} // namespace
