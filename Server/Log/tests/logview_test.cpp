#include <gtest/gtest.h>
#include <string>
#include "LogTestDoubles.h"
#include "LogView.h"

namespace {

TEST(LogView, TheTimeSplitsAtTheFirstBlankIntoDateAndTime)
{
    SYSTEMTIME t = {};
    t.wYear = 1967;
    t.wMonth = 12;
    t.wDay = 11;
    t.wHour = 13;
    t.wMinute = 5;
    t.wSecond = 9;
    char date[64], time[64];
    ASSERT_NE(0, GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, NULL, date, sizeof(date)));
    ASSERT_NE(0, GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, NULL, time, sizeof(time)));
    std::string whole = std::string(date) + " " + time;

    std::string datePart, timePart;
    SplitLogTime(t, datePart, timePart);
    EXPECT_EQ(whole.substr(0, whole.find(' ')), datePart);
    EXPECT_EQ(whole.substr(whole.find(' ') + 1), timePart);
    EXPECT_NE(std::string::npos, timePart.find("05"));
}

// Message 1026 through a real window: the post carries the record, the
// handler shows it and frees it.
struct WindowFixture {
    CRecordingLogView::List list{2};
};

LRESULT CALLBACK logWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SERVER_LOG_LINE) {
        auto *fixture = reinterpret_cast<WindowFixture *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        OnLogLineMessage(fixture->list, fixture->list.maximum, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(LogView, LinesReachTheWindowAsMessage1026)
{
    EXPECT_EQ(1026u, WM_SERVER_LOG_LINE);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = logWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "QORLogViewTest";
    ASSERT_NE(0, RegisterClassA(&wc));
    HWND window = CreateWindowA("QORLogViewTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    ASSERT_NE(nullptr, window);
    WindowFixture fixture;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&fixture));

    SYSTEMTIME now;
    GetLocalTime(&now);
    for (const char *text : {"one", "two", "three"})
        ASSERT_TRUE(PostLogLine(window, SeverityInfo, new LogLineRecord{text, now}));
    EXPECT_FALSE(PostLogLine(NULL, SeverityInfo, nullptr));
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);

    ASSERT_EQ(2u, fixture.list.rows.size());
    EXPECT_EQ("three", fixture.list.rows[0].text);
    EXPECT_EQ("two", fixture.list.rows[1].text);
    DestroyWindow(window);
    UnregisterClassA("QORLogViewTest", wc.hInstance);
}

} // namespace
