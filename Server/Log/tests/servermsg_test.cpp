#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "EventLog.h"
#include "EventLogRecorder.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"

namespace {

// Every test runs its own driver name, so its settings key
// (HKLM\Software\Veltrane\Drivers\<driver>\DriverDefaults) is its own.
class ServerMsgTest : public ::testing::Test {
protected:
    CEventLogRecorder events;
    CRecordingLogView view;
    CRecordingEventSink sink;
    CRecordingMessageBox boxes;
    std::string driver;
    std::unique_ptr<CServerMsg> log;

    void SetUp() override
    {
        driver = std::string("QORLogTest_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, driverKey().c_str());
    }
    void TearDown() override
    {
        log.reset();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, driverKey().c_str());
    }
    std::string driverKey() const { return "Software\\Veltrane\\Drivers\\" + driver; }
    std::string settingsKey() const { return driverKey() + "\\DriverDefaults"; }

    void writeSetting(const char *name, DWORD value)
    {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, settingsKey().c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &k, NULL));
        RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
        RegCloseKey(k);
    }
    bool readSetting(const char *name, DWORD &value)
    {
        DWORD size = sizeof(value);
        return RegGetValueA(HKEY_LOCAL_MACHINE, settingsKey().c_str(), name, RRF_RT_REG_DWORD, NULL, &value,
                            &size) == ERROR_SUCCESS;
    }

    // The log with every seam of its surroundings installed.
    CServerMsg &open()
    {
        log.reset(new CServerMsg(driver.c_str()));
        log->SetView(&view);
        log->AddEventSink(&sink);
        log->SetMessageBox(&boxes);
        EXPECT_TRUE(log->OpenEventLog());
        return *log;
    }
};

ServerMessage line(LONG severity, const std::string &text)
{
    ServerMessage m;
    m.severity = severity;
    m.text = text;
    return m;
}

TEST_F(ServerMsgTest, AnEmptyTextIsTakenFromTheMessageTableOrNothingIsLogged)
{
    struct Case {
        DWORD id;
        const char *shown; // NULL: the line is dropped entirely
    } cases[] = {
        {0xC1060501, "The data block's memory image cannot be created."},
        {0xC1030320, "The driver can't start because it is still processing a previous stop request."},
        {0xC10300FF, nullptr},
    };
    for (const Case &c : cases) {
        CEventLogRecorder caseEvents;
        CRecordingLogView caseView;
        CRecordingEventSink caseSink;
        CServerMsg msg(driver.c_str());
        msg.SetView(&caseView);
        msg.AddEventSink(&caseSink);
        msg.SetMessageBox(&boxes);
        ASSERT_TRUE(msg.OpenEventLog());

        ServerMessage m = line(SeverityError, "");
        m.messageId = c.id;
        m.eventLog = TRUE;
        m.sendEvent = TRUE;
        msg.AddMessage(m);

        if (!c.shown) {
            EXPECT_TRUE(caseView.Lines().empty()) << std::hex << c.id;
            EXPECT_EQ(0u, caseEvents.Count()) << std::hex << c.id;
            EXPECT_TRUE(caseSink.Events().empty()) << std::hex << c.id;
            continue;
        }
        ASSERT_EQ(1u, caseView.Lines().size()) << std::hex << c.id;
        // The table's text arrives without its line break.
        EXPECT_EQ(c.shown, caseView.Lines()[0].text);
        ASSERT_EQ(1u, caseSink.Events().size());
        EXPECT_EQ(c.shown, caseSink.Events()[0].text);
        ASSERT_EQ(1u, caseEvents.Count());
        EXPECT_EQ(c.id, caseEvents.Events()[0].id);
    }
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ServerMsgTest, SwitchesDecideWhatIsShownButNeverTheForwarding)
{
    struct Case {
        const char *what;
        LONG severity;
        DWORD logErrors, logInfo;
        BOOL eventLog;
        bool shown, logged, box;
    } cases[] = {
        {"error on", SeverityError, 1, 0, FALSE, true, false, false},
        {"error off", SeverityError, 0, 0, FALSE, false, false, false},
        {"error asks for the event log", SeverityError, 1, 0, TRUE, true, true, false},
        {"info off with the event-log flag", SeverityInfo, 1, 0, TRUE, false, false, false},
        {"info on with the event-log flag", SeverityInfo, 1, 1, TRUE, true, true, false},
        {"fatal with errors off", SeverityFatal, 0, 0, FALSE, true, true, true},
        {"warning on by default", SeverityWarning, 1, 0, FALSE, true, false, false},
        {"debug 1 off by default", SeverityDebug1, 1, 1, TRUE, false, false, false},
        {"event only", SeverityEventOnly, 1, 1, TRUE, false, false, false},
    };
    CServerMsg &msg = open();
    for (const Case &c : cases) {
        msg.SetSwitch(SeverityError, c.logErrors);
        msg.SetSwitch(SeverityInfo, c.logInfo);
        size_t shownBefore = view.Lines().size(), loggedBefore = events.Count(), boxesBefore = boxes.Boxes().size();
        size_t forwardedBefore = sink.Events().size();

        ServerMessage m = line(c.severity, c.what);
        m.eventLog = c.eventLog;
        m.sendEvent = TRUE;
        m.source = "Block1";
        m.eventCode = 0x00020101;
        m.eventParameter = 7;
        msg.AddMessage(m);

        EXPECT_EQ(c.shown, view.Lines().size() > shownBefore) << c.what;
        EXPECT_EQ(c.logged, events.Count() > loggedBefore) << c.what;
        EXPECT_EQ(c.box, boxes.Boxes().size() > boxesBefore) << c.what;
        ASSERT_EQ(forwardedBefore + 1, sink.Events().size()) << c.what;
        CRecordingEventSink::Event forwarded = sink.Events().back();
        EXPECT_EQ(c.what, forwarded.text);
        EXPECT_EQ("Block1", forwarded.source);
        EXPECT_EQ(0x00020101u, forwarded.eventCode);
        EXPECT_EQ(7u, forwarded.eventParameter);
    }
}

TEST_F(ServerMsgTest, EventLogEntriesCarryTheSeverityDefaultsOrTheGivenId)
{
    struct Case {
        LONG severity;
        DWORD messageId;
        const char *eventText;
        DWORD id;
        WORD type;
        const char *insertion;
    } cases[] = {
        {SeverityInfo, 0, "info text", 0x41040000, EVENTLOG_INFORMATION_TYPE, "info text"},
        {SeverityWarning, 0, "warn text", 0x81040001, EVENTLOG_WARNING_TYPE, "warn text"},
        {SeverityError, 0, "error text", 0xC1040002, EVENTLOG_ERROR_TYPE, "error text"},
        {SeverityFatal, 0, "fatal text", 0xC1040003, EVENTLOG_ERROR_TYPE, "fatal text"},
        {SeverityDebug1, 0, "d1", 0x41040004, EVENTLOG_INFORMATION_TYPE, "d1"},
        {SeverityDebug2, 0, "d2", 0x41040005, EVENTLOG_INFORMATION_TYPE, "d2"},
        {SeverityDebug3, 0, "d3", 0x41040006, EVENTLOG_INFORMATION_TYPE, "d3"},
        {SeverityError, 0xC1020202, "QOR_InputArea", 0xC1020202, EVENTLOG_ERROR_TYPE, "QOR_InputArea"},
        // Without an event text the line itself is the insertion string.
        {SeverityError, 0, "", 0xC1040002, EVENTLOG_ERROR_TYPE, "the line"},
    };
    CServerMsg &msg = open();
    for (LONG s = 0; s < CServerMsg::SeverityCount; ++s)
        msg.SetSwitch(s, TRUE);
    for (const Case &c : cases) {
        events.Clear();
        ServerMessage m = line(c.severity, "the line");
        m.eventLog = TRUE;
        m.messageId = c.messageId;
        m.eventText = c.eventText;
        msg.AddMessage(m);
        std::vector<CEventLogRecorder::Event> written = events.Events();
        ASSERT_EQ(1u, written.size()) << c.severity;
        EXPECT_EQ(driver, written[0].source);
        EXPECT_EQ(c.id, written[0].id);
        EXPECT_EQ(c.type, written[0].type);
        EXPECT_EQ(std::vector<std::string>{c.insertion}, written[0].strings);
    }
}

TEST_F(ServerMsgTest, SettingsAreReadInOrderUntilTheFirstMissingOne)
{
    const char *names[] = {"LogErrors", "LogWarnings", "LogInfo", "LogDebug1", "LogDebug2", "LogDebug3",
                           "DriverMaximumMessages"};
    // Stored values differ from every default; index = the missing value.
    const DWORD stored[] = {0, 0, 1, 1, 1, 1, 50};
    const DWORD defaults[] = {1, 1, 0, 0, 0, 0, 200};
    const LONG severities[] = {SeverityError, SeverityWarning, SeverityInfo, SeverityDebug1, SeverityDebug2,
                               SeverityDebug3};
    for (int missing = 0; missing <= 7; ++missing) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, settingsKey().c_str());
        for (int i = 0; i < 7; ++i)
            if (i != missing)
                writeSetting(names[i], stored[i]);
        CServerMsg msg(driver.c_str());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(i < missing ? stored[i] : defaults[i], DWORD(msg.GetSwitch(severities[i])))
                << names[i] << " with " << (missing < 7 ? names[missing] : "none") << " missing";
        EXPECT_EQ(missing > 6 ? stored[6] : defaults[6], msg.GetMaximumMessages()) << "missing " << missing;
    }
}

TEST_F(ServerMsgTest, AllSevenSettingsAreWrittenBackAtTheEnd)
{
    {
        CServerMsg msg(driver.c_str());
        msg.ToggleSwitch(SeverityInfo);     // 0 -> 1
        msg.ToggleSwitch(SeverityWarning);  // 1 -> 0
        msg.SetSwitch(SeverityDebug3, TRUE);
        msg.ToggleSwitch(SeverityFatal);    // fatal has no switch
        EXPECT_TRUE(msg.IsShown(SeverityFatal));
    }
    const struct {
        const char *name;
        DWORD value;
    } expected[] = {{"LogErrors", 1}, {"LogWarnings", 0}, {"LogInfo", 1}, {"LogDebug1", 0},
                    {"LogDebug2", 0}, {"LogDebug3", 1}, {"DriverMaximumMessages", 200}};
    for (const auto &e : expected) {
        DWORD value = 12345;
        ASSERT_TRUE(readSetting(e.name, value)) << e.name;
        EXPECT_EQ(e.value, value) << e.name;
    }
    // And they are what the next start reads.
    CServerMsg again(driver.c_str());
    EXPECT_TRUE(again.GetSwitch(SeverityInfo));
    EXPECT_FALSE(again.GetSwitch(SeverityWarning));
}

TEST_F(ServerMsgTest, TheLineAfterTheLimitRemovesTheOldest)
{
    CServerMsg &msg = open();
    for (int i = 1; i <= 201; ++i)
        msg.AddMessage(line(SeverityError, "line " + std::to_string(i)));
    std::vector<std::string> texts = view.Texts();
    ASSERT_EQ(200u, texts.size());
    EXPECT_EQ("line 201", texts.front());
    EXPECT_EQ("line 2", texts.back());
    EXPECT_EQ(1, view.Deletes());
}

TEST_F(ServerMsgTest, ALimitOfZeroNeverDeletesARowThatIsNotThere)
{
    writeSetting("LogErrors", 1);
    writeSetting("LogWarnings", 1);
    writeSetting("LogInfo", 0);
    writeSetting("LogDebug1", 0);
    writeSetting("LogDebug2", 0);
    writeSetting("LogDebug3", 0);
    writeSetting("DriverMaximumMessages", 0);
    CServerMsg &msg = open();
    ASSERT_EQ(0u, msg.GetMaximumMessages());
    view.SetMaximum(msg.GetMaximumMessages());
    msg.AddMessage(line(SeverityError, "first"));
    msg.AddMessage(line(SeverityError, "second"));
    EXPECT_EQ(0, view.BadDeletes());
    EXPECT_EQ(std::vector<std::string>{"second"}, view.Texts());
}

TEST_F(ServerMsgTest, ShownLinesCarryTheirSeverityAndTime)
{
    CServerMsg &msg = open();
    msg.AddMessage(line(SeverityWarning, "Write Queue 75% Full"));
    std::vector<CRecordingLogView::Line> lines = view.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(SeverityWarning, lines[0].severity);
    EXPECT_FALSE(lines[0].date.empty());
    EXPECT_FALSE(lines[0].time.empty());
}

TEST_F(ServerMsgTest, WithoutAViewTheEventLogStillHasTheLine)
{
    CServerMsg &msg = open();
    view.RefusePosts(true);
    ServerMessage m = line(SeverityError, "not posted");
    m.eventLog = TRUE;
    msg.AddMessage(m);
    msg.SetView(nullptr);
    msg.AddMessage(m);
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(2u, events.Count());
}

TEST_F(ServerMsgTest, AFatalLineOnTheMainThreadShowsItsBoxThere)
{
    CServerMsg &msg = open();
    msg.AddMessage(line(SeverityFatal, "Failed to load type information"));
    std::vector<CRecordingMessageBox::Box> shown = boxes.Boxes();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Failed to load type information\n"
              "Please shutdown the server and use the Event Viewer to identify the problem.",
              shown[0].text);
    EXPECT_EQ(GetCurrentThreadId(), shown[0].threadId);
}

struct WorkerPost {
    CServerMsg *log;
    ServerMessage message;
};

DWORD WINAPI postFromWorker(LPVOID p)
{
    WorkerPost *post = static_cast<WorkerPost *>(p);
    post->log->AddMessage(post->message);
    return 0;
}

TEST_F(ServerMsgTest, AFatalLineOnAWorkerThreadDoesNotWaitForItsBox)
{
    CServerMsg &msg = open();
    boxes.Hold(); // nobody answers the box
    WorkerPost post{&msg, line(SeverityFatal, "worker failed")};
    HANDLE worker = CreateThread(NULL, 0, postFromWorker, &post, 0, NULL);
    ASSERT_NE(nullptr, worker);
    DWORD waited = WaitForSingleObject(worker, 60000);
    ASSERT_TRUE(boxes.WaitForBoxes(1, 60000));
    DWORD workerId = GetThreadId(worker);
    boxes.Release();
    EXPECT_TRUE(boxes.WaitForAnswers(1, 60000));
    CloseHandle(worker);

    EXPECT_EQ(WAIT_OBJECT_0, waited) << "the worker waited for the box";
    std::vector<CRecordingMessageBox::Box> shown = boxes.Boxes();
    ASSERT_EQ(1u, shown.size());
    EXPECT_NE(workerId, shown[0].threadId);
    EXPECT_EQ(1u, events.Count());
    EXPECT_EQ(1u, view.Lines().size());
}

TEST_F(ServerMsgTest, AServiceShowsNoBoxButLogsTheFatalLine)
{
    CServerMsg &msg = open();
    msg.SetUnattended(TRUE);
    msg.AddMessage(line(SeverityFatal, "service failed"));
    WorkerPost post{&msg, line(SeverityFatal, "service worker failed")};
    HANDLE worker = CreateThread(NULL, 0, postFromWorker, &post, 0, NULL);
    ASSERT_NE(nullptr, worker);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 60000));
    CloseHandle(worker);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(2u, events.Count());
    EXPECT_EQ(2u, view.Lines().size());
}

TEST_F(ServerMsgTest, ClearEmptiesTheViewAndSaysSo)
{
    CServerMsg &msg = open();
    msg.SetSwitch(SeverityInfo, TRUE);
    msg.AddMessage(line(SeverityError, "old"));
    msg.Clear();
    EXPECT_EQ(1, view.Clears());
    EXPECT_EQ(std::vector<std::string>{"Message log cleared"}, view.Texts());
    EXPECT_EQ(SeverityInfo, view.Lines()[0].severity);
}

TEST_F(ServerMsgTest, RemovedSinksHearNothingMore)
{
    CServerMsg &msg = open();
    CRecordingEventSink second;
    msg.AddEventSink(&second);
    ServerMessage m = line(SeverityEventOnly, "Driver Started");
    m.sendEvent = TRUE;
    msg.AddMessage(m);
    msg.RemoveEventSink(&sink);
    msg.AddMessage(m);
    EXPECT_EQ(1u, sink.Events().size());
    EXPECT_EQ(2u, second.Events().size());
}

TEST_F(ServerMsgTest, TheFirstLogIsTheProcesssOneAndTakesPostedLines)
{
    EXPECT_EQ(nullptr, GetServerMsg());
    LogMessage(SeverityError, "nobody hears %d", 1); // no log yet: nothing happens
    CServerMsg &msg = open();
    EXPECT_EQ(&msg, GetServerMsg());
    {
        CServerMsg other((driver + "_other").c_str());
        EXPECT_EQ(&msg, GetServerMsg());
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (driverKey() + "_other").c_str());
    LogMessage(SeverityError, "Channel %s Enabled", "Ch1");
    ServerMessage m = line(SeverityWarning, "posted");
    PostServerMessage(m);
    EXPECT_EQ((std::vector<std::string>{"posted", "Channel Ch1 Enabled"}), view.Texts());
    log.reset();
    EXPECT_EQ(nullptr, GetServerMsg());
}

TEST_F(ServerMsgTest, WithoutTheEventLogTextLookupsFailQuietly)
{
    CServerMsg msg(driver.c_str());
    msg.SetView(&view);
    msg.SetMessageBox(&boxes);
    std::string text;
    EXPECT_NE(0u, msg.GetMessageText(0xC1030311, text));
    ServerMessage m = line(SeverityError, "");
    m.messageId = 0xC1030311;
    msg.AddMessage(m);
    msg.AddMessage(line(SeverityFatal, "fatal without a log"));
    EXPECT_EQ(std::vector<std::string>{"fatal without a log"}, view.Texts());
    EXPECT_EQ(1u, boxes.Boxes().size());
}

} // namespace
