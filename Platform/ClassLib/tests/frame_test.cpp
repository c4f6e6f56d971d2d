// The frame's command routing: the view, then the document, then the frame
// itself; a disabled command is not run however it arrives; a popup menu
// takes the states the chain sets. The file dialog's filter and extension
// helpers.
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>
#include "FileDialog.h"
#include "FrameWnd.h"

namespace {

class Target : public CCmdTarget {
public:
    Target(std::vector<std::string> &log, const char *name, std::set<UINT> handles) : m_log(log), m_name(name), m_handles(handles) {}
    std::set<UINT> disabled, checked;
    bool OnCmdMsg(UINT id) override
    {
        if (!m_handles.count(id))
            return false;
        m_log.push_back(m_name + std::to_string(id));
        return true;
    }
    bool OnUpdateCmdUI(CCmdUI &ui) override
    {
        if (!m_handles.count(ui.Id()))
            return false;
        ui.Enable(!disabled.count(ui.Id()));
        if (checked.count(ui.Id()))
            ui.SetCheck(1);
        return true;
    }

private:
    std::vector<std::string> &m_log;
    std::string m_name;
    std::set<UINT> m_handles;
};

class TestFrame : public CFrameWnd {
public:
    std::vector<std::string> log;
    bool OnCmdMsg(UINT id) override
    {
        if (id != 203)
            return false;
        log.push_back("frame" + std::to_string(id));
        return true;
    }
    void Popup(HMENU menu) { UpdateMenu(menu); }
};

TEST(FrameTest, CommandsTravelTheChainAndDisabledOnesStop)
{
    TestFrame frame;
    Target view(frame.log, "view", {201}), document(frame.log, "doc", {201, 202});
    frame.SetRoute({&view, &document});
    ASSERT_TRUE(frame.Create(GetModuleHandle(NULL), "ClassLibTestFrame", 100, "Frame", 300, 200));

    EXPECT_TRUE(frame.RouteCommand(201));  // the view is first
    EXPECT_TRUE(frame.RouteCommand(202));
    EXPECT_TRUE(frame.RouteCommand(203));
    EXPECT_FALSE(frame.RouteCommand(204)) << "nobody handles it";
    document.disabled.insert(202);
    EXPECT_FALSE(frame.RouteCommand(202));
    // A message posted from outside goes the same way.
    SendMessageA(frame.Window(), WM_COMMAND, MAKEWPARAM(202, 0), 0);
    SendMessageA(frame.Window(), WM_COMMAND, MAKEWPARAM(201, 1), 0);
    EXPECT_EQ((std::vector<std::string>{"view201", "doc202", "frame203", "view201"}), frame.log);

    // The popup shows the states; items nobody knows stay as they are.
    document.checked.insert(202);
    HMENU popup = GetSubMenu(GetMenu(frame.Window()), 0);
    frame.Popup(popup);
    EXPECT_EQ(UINT(MF_GRAYED), GetMenuState(popup, 202, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(UINT(MF_CHECKED), GetMenuState(popup, 202, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(0u, GetMenuState(popup, 201, MF_BYCOMMAND) & (MF_GRAYED | MF_CHECKED));
    EXPECT_EQ(0u, GetMenuState(popup, 203, MF_BYCOMMAND) & MF_GRAYED);
    CCmdUI state = frame.QueryState(202);
    EXPECT_FALSE(state.Enabled());
    EXPECT_EQ(1, state.Checked());
}

TEST(FileDialogTest, FilterAndExtensions)
{
    EXPECT_EQ(std::string("A (*.a)\0*.a\0B\0*.b\0\0", 19), CFileDialog::SystemFilter("A (*.a)|*.a|B|*.b|"));
    struct Case {
        const char *name, *extension, *expected;
    } cases[] = {
        {"plant", "csv", "plant.csv"},
        {"plant.qor", "csv", "plant.csv"},
        {"C:\\data.v2\\plant", "log", "C:\\data.v2\\plant.log"},
        {"C:\\data\\plant.old.qor", "qor", "C:\\data\\plant.old.qor"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, CFileDialog::ReplaceExtension(c.name, c.extension)) << c.name;
}

} // namespace
