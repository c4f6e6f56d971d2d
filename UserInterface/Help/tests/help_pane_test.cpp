// The help window without a screen: its layout and toolbar, the topic map and
// the Home rules over a browser that records what it is asked, and the
// plain-text browser with its history on the help files of this build.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>
#include "HHCtrl.h"

namespace {

std::string FullPath(const char *name)
{
    char path[MAX_PATH];
    GetFullPathNameA(name, MAX_PATH, path, NULL);
    return path;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

struct BrowserRecord {
    std::vector<std::string> calls;
    IHelpBrowser::StateSink sink;
};

// Records each request; the window is a plain static.
class CRecordingBrowser : public IHelpBrowser {
public:
    explicit CRecordingBrowser(BrowserRecord &record) : m_record(record) {}
    bool Create(HWND parent, int id, const RECT &rect, StateSink sink) override
    {
        m_record.sink = sink;
        m_window = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
                                 rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 NULL, NULL);
        return m_window != NULL;
    }
    HWND Window() const override { return m_window; }
    HRESULT Navigate(const std::string &url) override { return Record("Navigate " + url); }
    HRESULT Back() override { return Record("Back"); }
    HRESULT Forward() override { return Record("Forward"); }
    HRESULT Print() override { return Record("Print"); }

private:
    HRESULT Record(const std::string &call)
    {
        m_record.calls.push_back(call);
        return S_OK;
    }
    BrowserRecord &m_record;
    HWND m_window = NULL;
};

class HelpPane : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(NULL);
        m_parent = CreateWindowA("STATIC", "parent", WS_POPUP, 0, 0, 400, 300, NULL, NULL, NULL, NULL);
        ASSERT_NE(nullptr, m_parent);
    }
    void TearDown() override
    {
        m_pane.reset();
        if (IsWindow(m_parent))
            DestroyWindow(m_parent);
        Pump();
        CoUninitialize();
    }
    CHHCtrl &Recording()
    {
        m_pane.reset(new CHHCtrl([this] { return std::unique_ptr<IHelpBrowser>(new CRecordingBrowser(m_record)); }));
        return *m_pane;
    }
    RECT BrowserRect() const
    {
        RECT rect;
        GetWindowRect(m_pane->Browser()->Window(), &rect);
        MapWindowPoints(NULL, m_pane->Window(), reinterpret_cast<POINT *>(&rect), 2);
        return rect;
    }
    int ButtonCount() const
    {
        return m_pane->Toolbar() ? static_cast<int>(SendMessageA(m_pane->Toolbar(), TB_BUTTONCOUNT, 0, 0)) : 0;
    }

    HWND m_parent = NULL;
    BrowserRecord m_record;
    std::unique_ptr<CHHCtrl> m_pane;
    const RECT m_rect = {10, 20, 310, 220};
};

}  // namespace

TEST_F(HelpPane, ToolbarAndBrowserLayout)
{
    struct {
        const char *what;
        UINT mask;
        DWORD homeTopic;
        bool texts;
        int buttons;
        LONG browserTop;
    } const cases[] = {
        {"no toolbar", 0, 199999, false, 0, 0},
        {"all buttons", 31, 199999, false, 5, 30},
        {"all buttons with texts", 31, 199999, true, 5, 45},
        {"Home needs a home", 31, 0, false, 4, 30},
        {"Back and Close", CHHCtrl::Back | CHHCtrl::Close, 199999, false, 2, 30},
    };
    for (const auto &c : cases) {
        CHHCtrl &pane = Recording();
        ASSERT_TRUE(pane.Create(m_parent, m_rect, c.mask, c.homeTopic, c.texts)) << c.what;
        EXPECT_EQ(c.buttons, ButtonCount()) << c.what;
        const RECT browser = BrowserRect();
        EXPECT_EQ(c.browserTop, browser.top) << c.what;
        EXPECT_EQ(300, browser.right - browser.left) << c.what;
        EXPECT_EQ(200 - c.browserTop, browser.bottom - browser.top) << c.what;
        EXPECT_EQ(CHHCtrl::BrowserId, GetDlgCtrlID(pane.Browser()->Window())) << c.what;
        if (c.buttons) {
            EXPECT_NE(0, SendMessageA(pane.Toolbar(), TB_GETIMAGELIST, 0, 0)) << c.what;
        }
    }
}

TEST_F(HelpPane, InThePlaceOfAControl)
{
    HWND placeholder = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 5, 150, 390, 140, m_parent,
                                     reinterpret_cast<HMENU>(1179), NULL, NULL);
    CHHCtrl &pane = Recording();
    ASSERT_TRUE(pane.CreateInPlaceOf(m_parent, 1179, 0, 199999));
    EXPECT_FALSE(IsWindow(placeholder));
    RECT rect;
    GetWindowRect(pane.Window(), &rect);
    MapWindowPoints(NULL, m_parent, reinterpret_cast<POINT *>(&rect), 2);
    EXPECT_EQ(5, rect.left);
    EXPECT_EQ(150, rect.top);
    EXPECT_EQ(390, rect.right - rect.left);
    EXPECT_EQ(140, rect.bottom - rect.top);
    EXPECT_FALSE(Recording().CreateInPlaceOf(m_parent, 1179, 0, 199999)) << "the control is gone";
}

TEST_F(HelpPane, TopicNumbersThroughTheTopicMap)
{
    CHHCtrl &pane = Recording();
    ASSERT_TRUE(pane.Create(m_parent, m_rect, 0, 199999));
    EXPECT_EQ(STG_E_PATHNOTFOUND, pane.NavigateTopic(199999)) << "no help file";
    pane.SetHelpFile(FullPath("missing.chm"));
    EXPECT_EQ(STG_E_PATHNOTFOUND, pane.NavigateTopic(199999));
    pane.SetHelpFile(FullPath("QOR.chm"));
    EXPECT_EQ(STG_E_FILENOTFOUND, pane.NavigateTopic(199999)) << "a help file without a topic map";
    EXPECT_TRUE(m_record.calls.empty());

    const std::string file = FullPath("QORf1.chm");
    pane.SetHelpFile(file);
    EXPECT_EQ(S_OK, pane.NavigateTopic(107001));
    EXPECT_EQ(S_OK, pane.NavigateTopic(199999));
    EXPECT_EQ(E_FAIL, pane.NavigateTopic(123456)) << "a missing number leaves the pane";
    const std::vector<std::string> expected = {"Navigate its:" + file + "::h107001.htm",
                                               "Navigate its:" + file + "::h199999.htm"};
    EXPECT_EQ(expected, m_record.calls);
}

TEST_F(HelpPane, HomeAndTheOtherButtons)
{
    const std::string file = FullPath("QORf1.chm");
    struct {
        const char *home;
        DWORD topic;
        const char *helpFile;
        std::string expected;
    } const cases[] = {
        {"http://plant/help.htm", 0, "QORf1.chm", "Navigate http://plant/help.htm"},
        {"s7Channel.htm", 0, "", "Navigate s7Channel.htm"},
        {"s7Channel.htm", 0, "QORf1.chm", "Navigate its:" + file + "::s7Channel.htm"},
        {"", 105006, "QORf1.chm", "Navigate its:" + file + "::h105006.htm"},
    };
    for (const auto &c : cases) {
        m_record.calls.clear();
        CHHCtrl &pane = Recording();
        const bool made = *c.home ? pane.Create(m_parent, m_rect, 31, std::string(c.home))
                                  : pane.Create(m_parent, m_rect, 31, c.topic);
        ASSERT_TRUE(made) << c.home;
        pane.SetHelpFile(*c.helpFile ? FullPath(c.helpFile) : std::string());
        SendMessageA(pane.Window(), WM_COMMAND, CHHCtrl::FirstCommand, 0);
        EXPECT_EQ(std::vector<std::string>{c.expected}, m_record.calls) << c.home;
    }
    m_record.calls.clear();
    for (int id : {CHHCtrl::FirstCommand + 1, CHHCtrl::FirstCommand + 2, CHHCtrl::FirstCommand + 3,
                   int(CHHCtrl::PrintCommand)})
        SendMessageA(m_pane->Window(), WM_COMMAND, id, 0);
    EXPECT_EQ((std::vector<std::string>{"Back", "Forward", "Print", "Print"}), m_record.calls);

    // The browser's notices switch Forward (1) and Back (2).
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 1));
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));
    m_record.sink(IHelpBrowser::NoticeBack, true);
    EXPECT_TRUE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 1));
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));
    m_record.sink(IHelpBrowser::NoticeForward, true);
    EXPECT_TRUE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));

    // Close asks the parent to close.
    SendMessageA(m_pane->Window(), WM_COMMAND, CHHCtrl::FirstCommand + 4, 0);
    Pump();
    EXPECT_FALSE(IsWindow(m_parent));
}

TEST_F(HelpPane, PlainTextPagesWithTheirHistory)
{
    m_pane.reset(new CHHCtrl);
    ASSERT_TRUE(m_pane->Create(m_parent, m_rect, 31, 199999));
    CTextHelpBrowser *browser = dynamic_cast<CTextHelpBrowser *>(m_pane->Browser());
    ASSERT_NE(nullptr, browser);
    char className[32] = {0};
    GetClassNameA(browser->Window(), className, sizeof className);
    EXPECT_STREQ("Edit", className);
    EXPECT_TRUE(GetWindowLongA(browser->Window(), GWL_STYLE) & ES_READONLY);

    m_pane->SetHelpFile(FullPath("QORf1.chm"));
    ASSERT_EQ(S_OK, m_pane->GoHome());
    EXPECT_NE(std::string::npos, browser->Text().find("Select an object in the tree"));
    ASSERT_EQ(S_OK, m_pane->NavigateFile("s7Device.htm"));
    EXPECT_NE(std::string::npos, browser->Text().find("Retries: 0 to 9."));
    ASSERT_EQ(S_OK, m_pane->NavigateTopic(107005));
    EXPECT_NE(std::string::npos, browser->Text().find("Address Length"));
    EXPECT_TRUE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 1));
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));

    SendMessageA(m_pane->Window(), WM_COMMAND, CHHCtrl::FirstCommand + 1, 0);
    SendMessageA(m_pane->Window(), WM_COMMAND, CHHCtrl::FirstCommand + 1, 0);
    EXPECT_NE(std::string::npos, browser->Text().find("Select an object in the tree"));
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 1));
    EXPECT_TRUE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));
    SendMessageA(m_pane->Window(), WM_COMMAND, CHHCtrl::FirstCommand + 2, 0);
    EXPECT_NE(std::string::npos, browser->Text().find("Retries: 0 to 9."));

    // A new page drops the pages ahead; pages that cannot be read change nothing.
    ASSERT_EQ(S_OK, m_pane->NavigateFile("s7Channel.htm"));
    EXPECT_EQ(3u, browser->History().size());
    EXPECT_FALSE(m_pane->ButtonEnabled(CHHCtrl::FirstCommand + 2));
    const std::string shown = browser->Text();
    EXPECT_TRUE(FAILED(m_pane->NavigateFile("nothing.htm")));
    EXPECT_TRUE(FAILED(m_pane->Navigate("http://plant/help.htm")));
    EXPECT_EQ(shown, browser->Text());
    EXPECT_EQ(3u, browser->History().size());
    EXPECT_EQ(E_NOTIMPL, browser->Print());
}
