// The tree bar's sizes: what it asks of the frame's layout docked and
// floating, what the floating window's sizing stores, and the profile
// section "Misc" it reads at start and writes at the end.
#include <gtest/gtest.h>
#include "ToolFakes.h"
#include "TreeBar.h"

namespace {

const SIZE kTemplate = {180, 390};

CBarRequest Request(CBarRequest::Kind kind, bool horizontal = false, bool stretch = false, int length = 0,
                    bool commit = false)
{
    CBarRequest request;
    request.kind = kind;
    request.horizontal = horizontal;
    request.stretch = stretch;
    request.length = length;
    request.commit = commit;
    return request;
}

std::string Text(SIZE size) { return std::to_string(size.cx) + "x" + std::to_string(size.cy); }

FakeProfile Stored(const char *state, const char *fx, const char *fy, const char *dx, const char *dy)
{
    FakeProfile profile;
    const char *entries[] = {"DockedDialogState", "FloatingDlgCXSize", "FloatingDlgCYSize", "DockedDlgCXSize",
                             "DockedDlgCYSize"};
    const char *values[] = {state, fx, fy, dx, dy};
    for (int i = 0; i < 5; ++i)
        if (values[i])
            profile.values[std::string("Misc\\") + entries[i]] = values[i];
    return profile;
}

TEST(TreeBarLayoutTest, RequestsDockedAndFloating)
{
    FakeProfile profile = Stored("16384", "220", "330", "150", "300");
    CTreeBarLayout bar;
    bar.Load(profile, kTemplate);
    struct Case {
        const char *what;
        CBarRequest request;
        const char *size;
    } cases[] = {
        {"stretched along the top", Request(CBarRequest::Docked, true, true), "32767x300"},
        {"stretched down a side", Request(CBarRequest::Docked, false, true), "150x32767"},
        {"docked, not stretched", Request(CBarRequest::Docked, false, false), "150x300"},
        {"docked across, not stretched", Request(CBarRequest::Docked, true, false), "150x300"},
        {"floating", Request(CBarRequest::Floating), "220x330"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.size, Text(bar.Request(c.request))) << c.what;
    EXPECT_EQ(DockRight, bar.Side());
}

TEST(TreeBarLayoutTest, SizingTheFloatingWindowStoresTheSizes)
{
    FakeProfile profile = Stored(nullptr, "220", "330", "150", "300");
    CTreeBarLayout bar;
    bar.Load(profile, kTemplate);
    // The height while the user drags; the docked height only once it is final.
    EXPECT_EQ("220x350", Text(bar.Request(Request(CBarRequest::FloatLength, false, false, 350))));
    EXPECT_EQ("150x300", Text(bar.Docked()));
    EXPECT_EQ("220x360", Text(bar.Request(Request(CBarRequest::FloatLength, false, false, 360, true))));
    EXPECT_EQ("150x360", Text(bar.Docked()));
    // A width goes to the floating and the docked width alike, the docked
    // one never below 20 pixels.
    EXPECT_EQ("260x360", Text(bar.Request(Request(CBarRequest::FloatWidth, false, false, 260))));
    EXPECT_EQ("260x360", Text(bar.Docked()));
    EXPECT_EQ("12x360", Text(bar.Request(Request(CBarRequest::FloatWidth, false, false, 12))));
    EXPECT_EQ(20, bar.Docked().cx);
    bar.SetDockedWidth(5);
    EXPECT_EQ(20, bar.Docked().cx);
    bar.SetDockedWidth(240);
    EXPECT_EQ("240x32767", Text(bar.Request(Request(CBarRequest::Docked, false, true))));
}

TEST(TreeBarLayoutTest, ProfileSection)
{
    struct Case {
        const char *what;
        FakeProfile profile;
        DockSide side;
        const char *docked, *floating;
    } cases[] = {
        {"nothing stored: the template's size, on the left", FakeProfile(), DockLeft, "180x390", "180x390"},
        {"docked right", Stored("16384", "200", "250", "90", "260"), DockRight, "90x260", "200x250"},
        {"docked left", Stored("4096", nullptr, nullptr, "300", nullptr), DockLeft, "300x390", "180x390"},
        {"a side the bar cannot take", Stored("8192", nullptr, nullptr, nullptr, nullptr), DockLeft, "180x390",
         "180x390"},
        {"the style's other bits do not count", Stored("16385", nullptr, nullptr, nullptr, nullptr), DockRight,
         "180x390", "180x390"},
        {"no numbers", Stored("right", "wide", "", "12px", nullptr), DockLeft, "180x390", "180x390"},
        {"too small to grab again", Stored(nullptr, "0", "-40", "3", "19"), DockLeft, "20x20", "20x20"},
    };
    for (Case &c : cases) {
        CTreeBarLayout bar;
        bar.Load(c.profile, kTemplate);
        EXPECT_EQ(c.side, bar.Side()) << c.what;
        EXPECT_EQ(c.docked, Text(bar.Docked())) << c.what;
        EXPECT_EQ(c.floating, Text(bar.Floating())) << c.what;
    }

    // The state is the alignment bits of the style, then the floating and
    // the docked sizes; read back, they give the same bar.
    FakeProfile profile = Stored("16384", "200", "250", "90", "260");
    CTreeBarLayout bar;
    bar.Load(profile, kTemplate);
    bar.SetDockedWidth(130);
    FakeProfile saved;
    bar.Save(saved, AlignRight | 0x0021);
    EXPECT_EQ((std::vector<std::string>{"DockedDialogState=16384", "FloatingDlgCXSize=200", "FloatingDlgCYSize=250",
                                        "DockedDlgCXSize=130", "DockedDlgCYSize=260"}),
              saved.writes);
    CTreeBarLayout again;
    again.Load(saved, kTemplate);
    EXPECT_EQ(DockRight, again.Side());
    EXPECT_EQ("130x260", Text(again.Docked()));
    EXPECT_EQ("200x250", Text(again.Floating()));
    FakeProfile left;
    bar.Save(left, AlignLeft);
    EXPECT_EQ("4096", left.values["Misc\\DockedDialogState"]);
}

} // namespace
