// Docking: the rows and sides the layout gives bars, where a drop lands,
// how rows split and join as bars move; then toolbars in a real frame
// dragged by their grippers and captions between sides and mini frames.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "ControlBar.h"
#include "DockLayout.h"
#include "ToolBar.h"
#include "mouse_drag.h"

namespace {

// Bars of fixed sizes: 1 and 2 are toolbars, 3 a short one, 4 the
// full-length side bar.
struct Bars {
    std::map<int, SIZE> flat{{1, {100, 26}}, {2, {300, 26}}, {3, {250, 24}}, {4, {FullLength, 400}}};
    std::map<int, SIZE> upright{{1, {26, 120}}, {2, {80, 250}}, {3, {60, 200}}, {4, {180, FullLength}}};
    std::set<int> hidden;
    CDockLayout layout{[this](int bar, bool horizontal) { return horizontal ? flat[bar] : upright[bar]; },
                       [this](int bar) { return !hidden.count(bar); }};

    // 1 and 2 share the top row (2 one pixel on from 1), 3 at the bottom,
    // 4 on the left.
    void Start()
    {
        Dock(1, DockTop);
        Dock(2, DockTop, 0, 1);
        Dock(3, DockBottom);
        Dock(4, DockLeft);
    }
    void Dock(int bar, DockSide side, int row = -1, int pos = 0)
    {
        CDockLayout::Place place;
        place.side = side;
        place.row = row;
        place.pos = pos;
        layout.Dock(bar, place);
    }
    std::map<int, RECT> Arrange(const RECT &area, RECT *rest = nullptr)
    {
        std::vector<std::pair<int, RECT>> rects;
        RECT left = layout.Arrange(area, &rects);
        if (rest)
            *rest = left;
        return std::map<int, RECT>(rects.begin(), rects.end());
    }
};

std::string Text(const RECT &r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(DockLayoutTest, RowsFillTheSidesAndTheViewGetsTheRest)
{
    Bars bars;
    bars.Start();
    RECT rest;
    std::map<int, RECT> rects = bars.Arrange({0, 0, 600, 400}, &rest);
    EXPECT_EQ("0,0,100,26", Text(rects[1]));
    EXPECT_EQ("100,0,400,26", Text(rects[2])) << "after the first, not over it";
    EXPECT_EQ("0,376,250,400", Text(rects[3]));
    EXPECT_EQ("0,26,180,376", Text(rects[4])) << "the side bar spans between top and bottom";
    EXPECT_EQ("180,26,600,376", Text(rest));

    // A hidden bar takes no room: the next one goes to its own place, and a
    // row of hidden bars has no depth.
    bars.hidden = {1};
    rects = bars.Arrange({0, 0, 600, 400});
    EXPECT_EQ("1,0,301,26", Text(rects[2]));
    EXPECT_EQ(0u, rects.count(1));
    bars.hidden = {1, 2};
    rects = bars.Arrange({0, 0, 600, 400}, &rest);
    EXPECT_EQ("0,0,180,376", Text(rects[4]));
    EXPECT_EQ(0, rest.top);
}

TEST(DockLayoutTest, CrowdedRowsAndSmallFrames)
{
    struct Case {
        const char *what;
        RECT area;
        int secondPos;
        const char *first, *second;
    } cases[] = {
        {"pushed back from the end to fit", {0, 0, 450, 300}, 200, "0,0,100,26", "150,0,450,26"},
        {"no room: the second runs past the end", {0, 0, 350, 300}, 1, "0,0,100,26", "100,0,400,26"},
        {"longer than the frame is wide: cut", {0, 0, 250, 300}, 1, "0,0,100,26", "100,0,350,26"},
    };
    for (const Case &c : cases) {
        Bars bars;
        bars.Dock(1, DockTop);
        bars.Dock(2, DockTop, 0, c.secondPos);
        std::map<int, RECT> rects = bars.Arrange(c.area);
        EXPECT_EQ(c.first, Text(rects[1])) << c.what;
        EXPECT_EQ(c.second, Text(rects[2])) << c.what;
    }
    // A frame lower than its rows: the last side gets what is left, and
    // the view nothing.
    Bars bars;
    bars.Start();
    RECT rest;
    std::map<int, RECT> rects = bars.Arrange({0, 0, 600, 40}, &rest);
    EXPECT_EQ("0,26,250,40", Text(rects[3]));
    EXPECT_EQ(0u, rects.count(4)) << "no height left for the side bar";
    EXPECT_EQ(rest.top, rest.bottom);
}

TEST(DockLayoutTest, DropTargets)
{
    Bars bars;
    bars.Start();
    const RECT area = {0, 0, 600, 400};
    const DWORD topBottom = AlignTop | AlignBottom, leftRight = AlignLeft | AlignRight;
    struct Case {
        const char *what;
        DWORD allowed;
        POINT point, lead;
        DockSide side;
        int row, pos;
    } cases[] = {
        {"in the top row", AlignAny, {300, 5}, {250, 2}, DockTop, 0, 250},
        {"below it, in the snap band: a new row", AlignAny, {300, 35}, {250, 30}, DockTop, 1, 250},
        {"in the middle", AlignAny, {300, 50}, {250, 45}, DockFloat, -1, 0},
        {"the left, where the side bar stands", AlignAny, {5, 200}, {0, 150}, DockLeft, 0, 124},
        {"the left for a top-or-bottom bar", topBottom, {5, 200}, {0, 150}, DockFloat, -1, 0},
        {"beside the side bar: a new row", leftRight, {190, 200}, {185, 30}, DockLeft, 1, 4},
        {"the bare right edge", leftRight, {590, 200}, {580, 20}, DockRight, 0, 0},
        {"outside the frame", AlignAny, {600, 200}, {590, 150}, DockFloat, -1, 0},
        {"in the corner, the nearer edge", AlignAny, {3, 2}, {0, 0}, DockTop, 0, 0},
        {"the bottom row", topBottom, {100, 390}, {40, 380}, DockBottom, 0, 40},
    };
    for (const Case &c : cases) {
        CDockLayout::Place place = bars.layout.DropTarget(area, c.allowed, c.point, c.lead);
        EXPECT_EQ(c.side, place.side) << c.what;
        if (c.side != DockFloat) {
            EXPECT_EQ(c.row, place.row) << c.what;
            EXPECT_EQ(c.pos, place.pos) << c.what;
        }
    }
}

TEST(DockLayoutTest, MovesSplitAndJoinRows)
{
    Bars bars;
    bars.Start();
    auto row = [&](int bar) { return bars.layout.Find(bar).row; };
    // A toolbar put into the full-length bar's row gets a row of its own
    // there; the full-length bar moves inward.
    bars.Dock(1, DockLeft, 0, 0);
    EXPECT_EQ(DockLeft, bars.layout.Find(1).side);
    EXPECT_EQ(0, row(1));
    EXPECT_EQ(1, row(4));
    // A bar whose row empties: a target past it moves out by one, its own
    // row keeps its place.
    CDockLayout::Place target;
    target.side = DockLeft;
    target.row = 0;
    bars.layout.Move(4, target);
    EXPECT_EQ(0, row(4));
    EXPECT_EQ(1, row(1));
    target.row = 2;  // past the toolbar's row, found with the bar still in place
    bars.layout.Move(4, target);
    EXPECT_EQ(0, row(1));
    EXPECT_EQ(1, row(4));
    target.row = 1;
    bars.layout.Move(4, target);
    EXPECT_EQ(1, row(4));
    EXPECT_EQ(2u, bars.layout.RowDepths(DockLeft).size());
    // Toolbars join a row; leaving a row with others in it keeps it.
    target.side = DockTop;
    target.row = 0;
    target.pos = 150;
    bars.layout.Move(3, target);
    EXPECT_EQ(DockTop, bars.layout.Find(3).side);
    EXPECT_EQ(0, row(3));
    EXPECT_TRUE(bars.layout.RowDepths(DockBottom).empty());
    target.row = 1;
    bars.layout.Move(2, target);
    EXPECT_EQ(1, row(2));
    EXPECT_EQ(0, row(3));
    // Floating takes it off its side.
    target.side = DockFloat;
    bars.layout.Move(2, target);
    EXPECT_EQ(DockFloat, bars.layout.Find(2).side);
    EXPECT_EQ(1u, bars.layout.RowDepths(DockTop).size());

    EXPECT_EQ(DockBottom, SideOfAlign(AlignLeft | AlignBottom));
    EXPECT_EQ(DockFloat, SideOfAlign(0x00FF));
    EXPECT_EQ(AlignRight, AlignOf(DockRight));
}

// --- toolbars in a frame ---------------------------------------------------------------

std::vector<UINT> g_commands;

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        g_commands.push_back(LOWORD(wParam));
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Pump()
{
    MSG msg;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

class DockManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        HINSTANCE instance = GetModuleHandle(NULL);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = FrameProc;
        wc.hInstance = instance;
        wc.lpszClassName = "DockTestFrame";
        RegisterClassA(&wc);
        frame = CreateWindowExA(0, "DockTestFrame", "Dock", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480, NULL, NULL,
                                instance, NULL);
        ASSERT_TRUE(frame != NULL);
        ShowWindow(frame, SW_SHOWNA);
        dock.Attach(instance, frame);
        dock.OnChanged([this] {
            RECT client;
            GetClientRect(frame, &client);
            rest = dock.Layout(client);
        });
        static const CToolBar::Button icons[] = {{1001, STD_FILENEW, nullptr, "New"},
                                                 {1002, STD_FILEOPEN, nullptr, "Open"},
                                                 {1003, STD_FILESAVE, nullptr, "Save"}};
        static const CToolBar::Button texts[] = {{2001, -1, "Start", "Start"}, {2002, -1, "Stop", "Stop"}};
        ASSERT_TRUE(any.Create(instance, frame, 128, "Any", icons, 3));
        ASSERT_TRUE(topBottom.Create(instance, frame, 132, "TopBottom", texts, 2));
        topBottom.SetAllowedSides(AlignTop | AlignBottom);
        dock.Dock(any, DockTop);
        RECT at = RectInClient(any.BarWindow(), frame);
        OffsetRect(&at, 1, 0);
        dock.Dock(topBottom, DockTop, &at);
        g_commands.clear();
    }
    void TearDown() override { DestroyWindow(frame); }

    HWND frame = NULL;
    RECT rest = {};
    CToolBar any, topBottom;
    CDockManager dock;
};

TEST_F(DockManagerTest, GrippersAndCaptionsMoveBarsBetweenSidesAndMiniFrames)
{
    RECT a = RectInClient(any.BarWindow(), frame), b = RectInClient(topBottom.BarWindow(), frame);
    EXPECT_EQ(0, a.left);
    EXPECT_EQ(0, a.top);
    EXPECT_EQ(a.right, b.left) << "beside the first toolbar";
    EXPECT_EQ(a.top, b.top);
    EXPECT_EQ(a.bottom, rest.top);

    // Dragged to the left edge, the first toolbar stands upright there; the
    // other keeps the top row and moves up to its own place.
    PostBarDrag(any.BarWindow(), ScreenPoint(frame, 2, 200));
    Pump();
    EXPECT_EQ(DockLeft, any.Side());
    a = RectInClient(any.BarWindow(), frame);
    EXPECT_GT(a.bottom - a.top, a.right - a.left) << "upright";
    EXPECT_EQ(0, a.left);
    EXPECT_EQ(a.right, rest.left);
    RECT buttons[2];
    SendMessageA(any.Control(), TB_GETITEMRECT, 0, LPARAM(&buttons[0]));
    SendMessageA(any.Control(), TB_GETITEMRECT, 1, LPARAM(&buttons[1]));
    EXPECT_GE(buttons[1].top, buttons[0].bottom) << "one button under the other";
    EXPECT_EQ(1, RectInClient(topBottom.BarWindow(), frame).left);

    // The left side is not the other's: let go there, it floats in a mini
    // frame, where its buttons still command the frame.
    PostBarDrag(topBottom.BarWindow(), ScreenPoint(frame, 2, 300));
    Pump();
    EXPECT_EQ(DockFloat, topBottom.Side());
    HWND mini = dock.MiniFrame(topBottom);
    ASSERT_TRUE(mini != NULL);
    EXPECT_EQ(mini, GetParent(topBottom.BarWindow()));
    EXPECT_TRUE(IsWindowVisible(mini));
    EXPECT_EQ(frame, GetWindow(mini, GW_OWNER));
    EXPECT_EQ(0, rest.top) << "the top row went with it";
    RECT button;
    SendMessageA(topBottom.Control(), TB_GETITEMRECT, 0, LPARAM(&button));
    LPARAM center = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    PostMessageA(topBottom.Control(), WM_LBUTTONDOWN, MK_LBUTTON, center);
    PostMessageA(topBottom.Control(), WM_LBUTTONUP, 0, center);
    Pump();
    EXPECT_EQ(std::vector<UINT>{2001}, g_commands);

    // Its caption takes it to the bottom; the mini frame goes.
    RECT client;
    GetClientRect(frame, &client);
    ASSERT_NE(-1, CaptionPoint(mini).x) << "no caption";
    PostBarDrag(topBottom.BarWindow(), ScreenPoint(frame, 300, client.bottom - 3));
    Pump();
    EXPECT_EQ(DockBottom, topBottom.Side());
    EXPECT_FALSE(IsWindow(mini));
    EXPECT_EQ(frame, GetParent(topBottom.BarWindow()));
    EXPECT_EQ(client.bottom, RectInClient(topBottom.BarWindow(), frame).bottom);
    EXPECT_EQ(RectInClient(topBottom.BarWindow(), frame).top, rest.bottom);
}

TEST_F(DockManagerTest, EscapeClicksAndClosingLeaveBarsWhereTheyAre)
{
    RECT before = RectInClient(any.BarWindow(), frame);
    // Escape in the middle of a drag, and a click without a move.
    POINT grip = GripperPoint(any.BarWindow());
    PostMessageA(any.BarWindow(), WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(any.BarWindow(), grip));
    PostMessageA(any.BarWindow(), WM_MOUSEMOVE, MK_LBUTTON, ClientPoint(any.BarWindow(), ScreenPoint(frame, 2, 300)));
    PostMessageA(any.BarWindow(), WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(any.BarWindow(), WM_LBUTTONUP, 0, ClientPoint(any.BarWindow(), ScreenPoint(frame, 2, 300)));
    Pump();
    PostDrag(any.BarWindow(), grip, POINT{grip.x + 1, grip.y});
    Pump();
    EXPECT_EQ(DockTop, any.Side());
    EXPECT_EQ(Text(before), Text(RectInClient(any.BarWindow(), frame)));

    // Hidden, a docked bar gives its room back; the mini frame's close box
    // hides a floating one, and showing it brings the mini frame back.
    dock.Show(topBottom, false);
    EXPECT_FALSE(IsWindowVisible(topBottom.BarWindow()));
    dock.Show(any, false);
    EXPECT_EQ(0, rest.top);
    dock.Show(any, true);
    dock.Float(any, POINT{200, 200});
    HWND mini = dock.MiniFrame(any);
    ASSERT_TRUE(mini != NULL);
    EXPECT_EQ(0, rest.top);
    SendMessageA(mini, WM_CLOSE, 0, 0);
    EXPECT_FALSE(dock.Shown(any));
    EXPECT_FALSE(IsWindowVisible(mini));
    dock.Show(any, true);
    EXPECT_TRUE(IsWindowVisible(mini));
    // Docking again on a side it may take.
    dock.Dock(any, DockRight);
    EXPECT_FALSE(IsWindow(mini));
    RECT client;
    GetClientRect(frame, &client);
    EXPECT_EQ(client.right, RectInClient(any.BarWindow(), frame).right);
}

} // namespace
