// The library's exports and its window under the null display driver: the
// appends, the open and close rules, the commands and their check states,
// the options and colour dialogs' effects, context help, the colours drawn,
// and appends from another thread while the window closes.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>
#include "DisplayFrame.h"
#include "ScopeCapture.h"
#include "ScopeFakes.h"
#include "ScopeLibrary.h"
#include "ScopeOptions.h"
#include "resource.h"

namespace {

// Handles what is queued; bounded, since a running sender posts a new update
// as soon as the last one was taken.
void Pump(int most = 1000)
{
    MSG msg;
    while (most-- > 0 && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class ScopeWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        Library().Load(&profile);
        Library().SetUi(&ui);
        // The system's fixed-pitch faces: the monitor's own font files are
        // tried in the DLL's test, in a process of its own, since Wine keeps
        // a font file's faces for the rest of the process.
        Library().SetFontFolder("C:\\no such folder");
    }
    void TearDown() override
    {
        if (Library().IsOpen())
            Library().Close();
        Pump();
        Library().SetUi(nullptr);
        Library().SetHelp(nullptr, nullptr);
        Library().SetFontFolder("");
        Library().Unload();
    }
    static CScopeLibrary &Library() { return CScopeLibrary::Instance(); }
    HWND Frame() { return Library().Frame() ? Library().Frame()->Window() : NULL; }
    int Send(const std::vector<uint8_t> &bytes, int direction = 1)
    {
        return Library().Send(bytes.data(), static_cast<unsigned short>(bytes.size()), direction);
    }
    size_t Used()
    {
        Library().Lock();
        const size_t used = Library().Ring().Used();
        Library().Unlock();
        return used;
    }

    CTableProfile profile;
    CRecordingUi ui;
};

TEST_F(ScopeWindow, AppendsFollowTheOpenPauseAndLengthRules)
{
    const std::vector<uint8_t> frame(40, 0x55);
    EXPECT_EQ(0, Send(frame)) << "closed";
    EXPECT_EQ(0, Library().IsOpen());
    ASSERT_EQ(1, Library().Open(NULL));
    EXPECT_EQ(1, Library().IsOpen());
    EXPECT_EQ(0, Library().Open(NULL)) << "a second open";
    EXPECT_EQ(1640u, Library().Ring().Capacity());

    EXPECT_EQ(0, Library().Send(frame.data(), 0, 1)) << "zero length";
    EXPECT_EQ(0, Library().Send(nullptr, 10, 1)) << "null bytes";
    EXPECT_EQ(0u, Used());
    EXPECT_EQ(1, Send(frame));
    EXPECT_EQ(40u, Used());

    SendMessageA(Frame(), WM_COMMAND, ID_RUN_PAUSE, 0);
    EXPECT_EQ(1, Send(frame)) << "paused";
    EXPECT_EQ(40u, Used()) << "paused frames are dropped";
    SendMessageA(Frame(), WM_COMMAND, ID_RUN_PAUSE, 0);

    // Fill the ring to capacity - 1, then one more frame drops two lines.
    const std::vector<uint8_t> rest(1599, 0xAA);
    EXPECT_EQ(1, Send(rest, 0));
    EXPECT_EQ(1639u, Used());
    EXPECT_EQ(1, Send(std::vector<uint8_t>(41, 1)));
    EXPECT_EQ(1639u - 80u + 41u, Used());

    Pump();
    EXPECT_GE(Library().Counters().updatesHandled, 1);
    EXPECT_EQ(Library().Counters().updatesPosted, Library().Counters().updatesHandled);

    EXPECT_EQ(0, Library().Close()) << "WM_CLOSE's result";
    EXPECT_EQ(0, Library().IsOpen());
    EXPECT_FALSE(Library().Ring().IsAllocated()) << "closing frees the ring";
    EXPECT_EQ(0, Send(frame));
    EXPECT_EQ(0, Library().Close()) << "not open";
    EXPECT_TRUE(ui.messages.empty());

    // A later open starts empty and running.
    ASSERT_EQ(1, Library().Open(NULL));
    EXPECT_EQ(0u, Used());
    EXPECT_FALSE(Library().Paused());
}

TEST_F(ScopeWindow, AppendsDuringAnUpdateIntervalPostNothingAndShowWhenItEnds)
{
    ASSERT_EQ(1, Library().Open(NULL));
    const ScopeCounters &counters = Library().Counters();
    const LONG posted = counters.updatesPosted;
    EXPECT_EQ(1, Send(std::vector<uint8_t>(40, 1)));
    Pump();
    EXPECT_EQ(posted + 1, counters.updatesPosted);
    const LONG repaints = counters.repaints;
    EXPECT_GT(repaints, 0);
    // Within the interval: stored, not posted.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(1, Send(std::vector<uint8_t>(40, 2), 0));
    EXPECT_EQ(posted + 1, counters.updatesPosted);
    const DWORD begin = GetTickCount();
    while (counters.repaints == repaints && GetTickCount() - begin < 2000) {
        Sleep(5);
        Pump();
    }
    EXPECT_EQ(repaints + 1, counters.repaints) << "the interval's end shows the new lines";
    // Nothing new: the next interval ends without a repaint, and the next
    // append posts again.
    Sleep(60);
    Pump();
    EXPECT_EQ(repaints + 1, counters.repaints);
    EXPECT_EQ(1, Send(std::vector<uint8_t>(40, 3)));
    EXPECT_EQ(posted + 2, counters.updatesPosted);
}

TEST_F(ScopeWindow, FrameSizeFollowsTheMetricsAndTheLines)
{
    ASSERT_EQ(1, Library().Open(NULL));
    CDisplay &view = Library().Frame()->View();
    ASSERT_GT(view.CharWidth(), 0);
    ASSERT_GT(view.LineHeight(), 0);
    RECT client;
    GetClientRect(Frame(), &client);
    EXPECT_EQ(40 * view.CharWidth() + 4, client.right);
    EXPECT_EQ(41 * view.LineHeight() + 34, client.bottom);
    char title[64] = {0};
    GetWindowTextA(Frame(), title, sizeof(title));
    EXPECT_STREQ("Tracewell", title);
}

struct CommandStep {
    UINT command;
    bool toolbar, hex, topmost, paused;
};

TEST_F(ScopeWindow, MenuAndToolbarShowTheStateAfterEachCommand)
{
    ASSERT_EQ(1, Library().Open(NULL));
    HWND frame = Frame();
    HWND toolbar = Library().Frame()->Toolbar();
    const CommandStep steps[] = {
        {0, true, false, false, false},
        {ID_VIEW_HEX, true, true, false, false},
        {ID_VIEW_HEX, true, true, false, false},
        {ID_VIEW_ASCII, true, false, false, false},
        {ID_VIEW_FONT_TOGGLE, true, true, false, false},
        {ID_VIEW_FONT_TOGGLE, true, false, false, false},
        {ID_VIEW_TOPMOST, true, false, true, false},
        {ID_RUN_PAUSE, true, false, true, true},
        {ID_VIEW_TOOLBAR, false, false, true, true},
        {ID_VIEW_CLEAR, false, false, true, true},
        {ID_VIEW_TOOLBAR, true, false, true, true},
        {ID_RUN_PAUSE, true, false, true, false},
        {ID_VIEW_TOPMOST, true, false, false, false},
    };
    HMENU menu = GetMenu(frame);
    ASSERT_TRUE(menu != NULL);
    for (const CommandStep &step : steps) {
        if (step.command)
            SendMessageA(frame, WM_COMMAND, step.command, 0);
        SendMessageA(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
        const auto checked = [&](UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; };
        const auto pressed = [&](UINT id) { return SendMessageA(toolbar, TB_ISBUTTONCHECKED, id, 0) != 0; };
        SCOPED_TRACE(step.command);
        EXPECT_EQ(step.toolbar, checked(ID_VIEW_TOOLBAR));
        EXPECT_EQ(step.toolbar, IsWindowVisible(toolbar) != FALSE);
        EXPECT_EQ(step.hex, checked(ID_VIEW_HEX));
        EXPECT_EQ(!step.hex, checked(ID_VIEW_ASCII));
        EXPECT_EQ(step.hex, pressed(ID_VIEW_FONT_TOGGLE));
        EXPECT_EQ(step.topmost, checked(ID_VIEW_TOPMOST));
        EXPECT_EQ(step.topmost, pressed(ID_VIEW_TOPMOST));
        EXPECT_EQ(step.topmost, (GetWindowLongA(frame, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
        EXPECT_EQ(step.paused, checked(ID_RUN_PAUSE));
        EXPECT_EQ(step.paused, pressed(ID_RUN_PAUSE));
    }
    // The view sits below the toolbar, or at the top without it.
    RECT bar, view;
    GetWindowRect(toolbar, &bar);
    GetWindowRect(Library().Frame()->View().Window(), &view);
    EXPECT_EQ(bar.bottom, view.top);
}

TEST_F(ScopeWindow, ClearEmptiesTheRingAndColourDialogsWriteTheirValue)
{
    ASSERT_EQ(1, Library().Open(NULL));
    EXPECT_EQ(1, Send(std::vector<uint8_t>(500, 7)));
    SendMessageA(Frame(), WM_COMMAND, ID_VIEW_CLEAR, 0);
    EXPECT_EQ(0u, Used());

    ui.chosen = 0x00010203;
    SendMessageA(Frame(), WM_COMMAND, ID_COLOR_RECV_BACK, 0);
    EXPECT_EQ(0x00010203u, Library().Settings().recvBackground);
    EXPECT_EQ(0x00010203u, profile.Get("RecvBackgroundColor"));
    ui.chooseOk = false;
    SendMessageA(Frame(), WM_COMMAND, ID_COLOR_SEND_FORE, 0);
    EXPECT_EQ(2, ui.colourDialogs);
    EXPECT_FALSE(profile.Has("SendForegroundColor")) << "a cancelled colour dialog writes nothing";
}

TEST_F(ScopeWindow, OptionsChangeAsksReallocatesAndWritesTheSizes)
{
    ASSERT_EQ(1, Library().Open(NULL));
    EXPECT_EQ(1, Send(std::vector<uint8_t>(100, 9)));
    CScopeOptions options(Library());
    options.Begin();
    EXPECT_TRUE(Library().Paused()) << "the ring pauses while the dialog is open";
    EXPECT_EQ(40, options.Width());
    EXPECT_EQ(40, options.Lines());

    // Fields left out of range keep their old value.
    EXPECT_FALSE(options.LeaveWidth(39, NULL));
    EXPECT_FALSE(options.LeaveLines(1001, NULL));
    ASSERT_EQ(2u, ui.messages.size());
    EXPECT_EQ("Invalid width.\nValid entries are 40 to 120", ui.messages[0]);
    EXPECT_EQ("Invalid lines.\nValid entries are 10 to 1000", ui.messages[1]);
    EXPECT_EQ(40, options.Width());
    ui.messages.clear();

    // Unchanged: no question, data kept.
    EXPECT_EQ(CScopeOptions::Unchanged, options.Ok(NULL));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(100u, Used());

    // Changed, answered No: the dialog stays, nothing written.
    EXPECT_TRUE(options.LeaveWidth(80, NULL));
    EXPECT_TRUE(options.LeaveLines(20, NULL));
    ui.answer = IDNO;
    EXPECT_EQ(CScopeOptions::Stay, options.Ok(NULL));
    ASSERT_EQ(1u, ui.messages.size());
    EXPECT_EQ(ScopeResizeQuestion, ui.messages[0]);
    EXPECT_FALSE(profile.Has("Rows"));
    EXPECT_EQ(100u, Used());

    ui.answer = IDYES;
    EXPECT_EQ(CScopeOptions::Applied, options.Ok(NULL));
    EXPECT_EQ(20u, profile.Get("Rows"));
    EXPECT_EQ(80u, profile.Get("Columns"));
    EXPECT_EQ(80u * 21u, Library().Ring().Capacity());
    EXPECT_EQ(0u, Used());
    options.End();
    EXPECT_FALSE(Library().Paused()) << "the earlier pause state comes back";
    EXPECT_EQ(1, Send(std::vector<uint8_t>(80, 1)));
    EXPECT_EQ(1u, Library().Ring().LinesUsed());
}

// Records what the outside help control was asked.
class CRecordingHelp : public IScopeHelpControl {
public:
    HRESULT ShowTopic(const std::string &file, int topic, POINT point) override
    {
        this->file = file;
        this->topic = topic;
        this->point = point;
        return result;
    }
    std::string file;
    int topic = 0;
    POINT point = {0, 0};
    HRESULT result = S_OK;
};

class CNoHelpFolders : public IScopeHelpLocator {
public:
    bool ReadFolder(HKEY, const char *, const char *, std::string &) override { return false; }
    bool FileExists(const std::string &) override { return false; }
};

TEST_F(ScopeWindow, ContextHelpAsksTheControlAndShowsItsFailure)
{
    ASSERT_EQ(1, Library().Open(NULL));
    CRecordingHelp help;
    CNoHelpFolders folders;
    Library().SetHelp(&folders, &help);
    HWND toolbar = Library().Frame()->Toolbar();
    HELPINFO info = {sizeof(info), HELPINFO_WINDOW, IDR_SCOPETOOLBAR, toolbar, 0, {0, 0}};
    SendMessageA(Frame(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    RECT rect;
    GetWindowRect(toolbar, &rect);
    EXPECT_EQ("QORf1.chm", help.file);
    EXPECT_EQ(122786, help.topic);
    EXPECT_EQ(rect.left + (rect.right - rect.left) / 4, help.point.x);
    EXPECT_TRUE(ui.messages.empty());

    help.result = HRESULT(0x80040154);
    HELPINFO item = {sizeof(item), HELPINFO_MENUITEM, ID_VIEW_CLEAR, NULL, 0, {300, 400}};
    SendMessageA(Frame(), WM_HELP, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(310, help.point.x);
    EXPECT_EQ(410, help.point.y);
    ASSERT_EQ(1u, ui.messages.size());
    EXPECT_EQ("error 80040154 QORf1.chm F1 id 32779 embedded 1d 132779", ui.messages[0]);

    // The control does not exist here: the real one reports that.
    Library().SetHelp(&folders, nullptr);
    ui.messages.clear();
    SendMessageA(Frame(), WM_HELP, 0, reinterpret_cast<LPARAM>(&item));
    ASSERT_EQ(1u, ui.messages.size());
    EXPECT_EQ(0u, ui.messages[0].find("error 8")) << ui.messages[0];
}

TEST_F(ScopeWindow, ContextHelpReachesThePopUpControlWhenItIsRegistered)
{
    HMODULE control = LoadLibraryA("ContextHelp.dll");
    ASSERT_NE(nullptr, control);
    auto reg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(control, "DllRegisterServer"));
    auto unreg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(control, "DllUnregisterServer"));
    ASSERT_EQ(S_OK, reg());
    ASSERT_EQ(1, Library().Open(NULL));
    CNoHelpFolders folders;
    Library().SetHelp(&folders, nullptr);
    HWND toolbar = Library().Frame()->Toolbar();
    HELPINFO info = {sizeof(info), HELPINFO_WINDOW, IDR_SCOPETOOLBAR, toolbar, 0, {0, 0}};
    SendMessageA(Frame(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    HWND popup = FindWindowA("QorContextHelpPopup", NULL);
    char text[1024] = {0};
    if (popup)
        GetWindowTextA(popup, text, sizeof text);
    EXPECT_NE(nullptr, strstr(text, "Switches between hexadecimal and ASCII")) << text;
    EXPECT_TRUE(ui.messages.empty());
    if (popup)
        DestroyWindow(popup);
    unreg();
}

TEST_F(ScopeWindow, FallbackFacesDrawSentYellowOnBlueAndReceivedGreenOnBlue)
{
    ASSERT_EQ(1, Library().Open(NULL));
    CDisplay &view = Library().Frame()->View();
    EXPECT_FALSE(view.OwnFontsInstalled());
    EXPECT_EQ(CellForm::Char, view.Form());
    EXPECT_EQ(1, Send(std::vector<uint8_t>(20, 'S'), 1));
    EXPECT_EQ(1, Send(std::vector<uint8_t>(20, 'R'), 0));
    Pump();
    ExpectColoursInBothFonts(Frame(), view.Window(), view.CharWidth(), view.LineHeight());
}

TEST_F(ScopeWindow, AppendsFromAnotherThreadWhileTheWindowClosesNeverCrash)
{
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(1, Library().Open(NULL));
        std::atomic<bool> stop{false};
        std::atomic<long> accepted{0};
        std::thread sender([&] {
            const std::vector<uint8_t> frame(40, uint8_t(round));
            while (!stop)
                accepted += Send(frame, round & 1);
        });
        // Let some updates arrive, then close while the sender runs on.
        const DWORD begin = GetTickCount();
        while (accepted < 50 && GetTickCount() - begin < 5000)
            Pump(10);
        Library().Close();
        Pump();
        EXPECT_EQ(0, Library().IsOpen());
        Sleep(1);
        stop = true;
        sender.join();
        Pump();
        EXPECT_GT(accepted.load(), 0);
        EXPECT_EQ(0, Send(std::vector<uint8_t>(4, 1)));
    }
}

}  // namespace
