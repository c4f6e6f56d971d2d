// The main window: created hidden, the message log's lines newest on top
// and at most the configured number, and the close rule.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "LogTestDoubles.h"
#include "MainFrame.h"
#include "ServerMsg.h"

namespace {

// The program around the frame; counts what the frame asked of it.
class CFakeOwner : public IMainFrameOwner {
public:
    bool canClose = false;
    int answer = IDCANCEL;
    int stops = 0, hides = 0, questions = 0;
    CMainFrame *frame = nullptr;

    bool CanCloseWithoutAsking() override { return canClose; }
    void StopDriver() override { ++stops; }
    void HideThroughAutomation() override
    {
        ++hides;
        frame->Show(false);
    }
    int AskShutdown(HWND, const char *text) override
    {
        ++questions;
        EXPECT_STREQ(CMainFrame::ShutdownQuestion, text);
        return answer;
    }
    bool OnCommand(HWND, UINT) override { return false; }
    bool CommandState(UINT, bool &, bool &) override { return false; }
};

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class MainFrame : public testing::Test {
protected:
    CServerMsg log{"QOR"};
    CRecordingMessageBox boxes;
    CFakeOwner owner;
    std::unique_ptr<CMainFrame> frame{new CMainFrame(&owner)};

    void SetUp() override
    {
        owner.frame = frame.get();
        log.SetMessageBox(&boxes);
        log.SetSwitch(SeverityInfo, TRUE);
        ASSERT_TRUE(frame->Create(GetModuleHandleA(NULL), "Hadrel"));
        log.SetView(frame.get());
    }
    void TearDown() override
    {
        log.SetView(nullptr);
        log.SetMessageBox(nullptr);
        frame.reset();
        Pump();
    }
    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        for (int i = 0; i < frame->LogRowCount(); ++i) {
            int image = -1;
            std::string message, date, time;
            EXPECT_TRUE(frame->GetLogRow(i, image, message, date, time));
            rows.push_back(message);
        }
        return rows;
    }
};

TEST_F(MainFrame, StartsHiddenAndShowsOnRequest)
{
    EXPECT_FALSE(frame->IsVisible());
    RECT r;
    GetWindowRect(frame->Window(), &r);
    EXPECT_EQ(470, r.right - r.left);
    EXPECT_EQ(250, r.bottom - r.top);
    frame->Show(true);
    EXPECT_TRUE(frame->IsVisible());
    frame->Show(false);
    EXPECT_FALSE(frame->IsVisible());
}

TEST_F(MainFrame, NewestLineIsOnTopAndTheOldestGoesAtTheLimit)
{
    frame->SetMaximumLines(3);
    // A hidden list is not drawn, a shown one is: both keep the same lines,
    // and those that came while hidden are there once the window shows.
    for (const char *text : {"one", "two", "three", "four", "five"})
        LogMessage(SeverityInfo, "%s hidden", text);
    Pump();
    frame->Show(true);
    EXPECT_EQ((std::vector<std::string>{"five hidden", "four hidden", "three hidden"}), Rows());
    for (const char *text : {"four", "five"})
        LogMessage(SeverityInfo, "%s shown", text);
    Pump();
    EXPECT_EQ((std::vector<std::string>{"five shown", "four shown", "five hidden"}), Rows());
    frame->Show(false);
    LogMessage(SeverityError, "bad");
    Pump();
    EXPECT_EQ((std::vector<std::string>{"bad", "five shown", "four shown"}), Rows());
    int image = -1;
    std::string message, date, time;
    ASSERT_TRUE(frame->GetLogRow(0, image, message, date, time));
    EXPECT_EQ(int(SeverityError), image);
    EXPECT_FALSE(date.empty());
    EXPECT_FALSE(time.empty());
    ASSERT_TRUE(frame->GetLogRow(1, image, message, date, time));
    EXPECT_EQ(int(SeverityInfo), image);

    log.Clear();
    Pump();
    EXPECT_EQ((std::vector<std::string>{"Message log cleared"}), Rows());
}

TEST_F(MainFrame, TheCloseRuleAsksOnlyWhenClientsWouldBeCutOff)
{
    struct Case {
        const char *name;
        bool canClose, visible;
        int answer;
        bool destroyed;
        int stops, hides, questions;
        bool denied;
    } cases[] = {
        {"free to close", true, false, 0, true, 1, 0, 0, false},
        {"free to close, visible", true, true, 0, true, 1, 0, 0, false},
        {"held and hidden", false, false, 0, false, 0, 0, 0, true},
        {"held, visible, cancel", false, true, IDCANCEL, false, 0, 0, 1, true},
        {"held, visible, no", false, true, IDNO, false, 0, 1, 1, false},
        {"held, visible, yes", false, true, IDYES, true, 1, 0, 1, false},
    };
    for (const Case &c : cases) {
        if (!frame->Window()) {
            frame.reset(new CMainFrame(&owner));
            owner.frame = frame.get();
            ASSERT_TRUE(frame->Create(GetModuleHandleA(NULL), "Hadrel"));
            log.SetView(frame.get());
        }
        CRecordingLogView lines;
        log.SetView(&lines);
        owner.canClose = c.canClose;
        owner.answer = c.answer;
        owner.stops = owner.hides = owner.questions = 0;
        frame->Show(c.visible);
        SendMessageA(frame->Window(), WM_CLOSE, 0, 0);
        Pump();
        EXPECT_EQ(c.destroyed, frame->Window() == NULL) << c.name;
        EXPECT_EQ(c.stops, owner.stops) << c.name;
        EXPECT_EQ(c.hides, owner.hides) << c.name;
        EXPECT_EQ(c.questions, owner.questions) << c.name;
        bool denied = !lines.Texts().empty() && lines.Texts().front() == "Shutdown request denied";
        EXPECT_EQ(c.denied, denied) << c.name;
        if (c.answer == IDNO) {
            EXPECT_FALSE(frame->IsVisible()) << c.name;
        }
    }
    log.SetView(nullptr);
}

TEST_F(MainFrame, LinesPostedAfterTheWindowWentAreRefused)
{
    owner.canClose = true;
    SendMessageA(frame->Window(), WM_CLOSE, 0, 0);
    Pump();
    ASSERT_EQ(NULL, frame->Window());
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogLineRecord *record = new LogLineRecord{"late", now};
    EXPECT_FALSE(frame->PostLine(SeverityInfo, record));
    delete record;
}

} // namespace
