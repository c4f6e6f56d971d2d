// The byte ring and the line texts, without a window.
#include <gtest/gtest.h>
#include <numeric>
#include <vector>
#include "ScopeLines.h"
#include "ScopeRing.h"

namespace {

std::vector<uint8_t> Bytes(size_t count, uint8_t first = 0)
{
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Everything the ring holds, oldest first.
std::vector<uint8_t> Contents(const CScopeRing &ring)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < ring.Used(); ++i)
        bytes.push_back(ring.ByteAt(i));
    return bytes;
}

struct AppendCase {
    const char *name;
    size_t before;        // bytes appended first, in one frame
    size_t frame;         // then one frame of this length
    size_t start;         // start index afterwards
    size_t used;          // bytes held afterwards
};

class RingAppend : public ::testing::TestWithParam<AppendCase> {};

TEST_P(RingAppend, DropsWholeLinesFromTheOldEndOnly)
{
    const AppendCase &c = GetParam();
    CScopeRing ring;
    ASSERT_TRUE(ring.Allocate(40, 41));
    ASSERT_EQ(1640u, ring.Capacity());
    const std::vector<uint8_t> first = Bytes(c.before, 0);
    const std::vector<uint8_t> second = Bytes(c.frame, 100);
    ring.Append(first.data(), first.size(), 1);
    ring.Append(second.data(), second.size(), 0);
    EXPECT_EQ(c.start, ring.Start());
    EXPECT_EQ(c.used, ring.Used());
    EXPECT_EQ(0u, ring.Start() % 40) << "the start moves by whole lines only";
    // The newest frame is always held whole (up to capacity - 1 bytes) at the end.
    const std::vector<uint8_t> held = Contents(ring);
    const size_t tail = c.frame < 1639 ? c.frame : 1639;
    ASSERT_GE(held.size(), tail);
    EXPECT_TRUE(std::equal(second.end() - tail, second.end(), held.end() - tail));
    for (size_t i = held.size() - tail; i < held.size(); ++i)
        EXPECT_EQ(0, ring.DirectionAt(i));
    for (size_t i = 0; i < held.size() - tail; ++i)
        ASSERT_EQ(1, ring.DirectionAt(i));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RingAppend,
    ::testing::Values(AppendCase{"EmptyRingTakesCapacityLessOne", 0, 1639, 0, 1639},
                      AppendCase{"FitsExactly", 1000, 639, 0, 1639},
                      AppendCase{"OneByteOverDropsOneLine", 1000, 640, 40, 1600},
                      AppendCase{"FullRingDropsAsManyLinesAsNeeded", 1639, 81, 120, 1600},
                      AppendCase{"FullRingOneByteDropsOneLine", 1639, 1, 40, 1600},
                      AppendCase{"OversizeFrameKeepsItsTail", 500, 5000, 0, 1639},
                      AppendCase{"BigFrameIntoAlmostEmptyRingKeepsItsHead", 5, 1639, 0, 1639},
                      AppendCase{"ZeroLengthChangesNothing", 700, 0, 0, 700}),
    [](const ::testing::TestParamInfo<AppendCase> &info) { return std::string(info.param.name); });

TEST(RingWrap, IndicesWrapAtTheCapacity)
{
    CScopeRing ring;
    ASSERT_TRUE(ring.Allocate(40, 11));  // 440 bytes
    const std::vector<uint8_t> frame = Bytes(100);
    for (int i = 0; i < 20; ++i)
        ring.Append(frame.data(), frame.size(), i & 1);
    EXPECT_LT(ring.Write(), ring.Capacity());
    EXPECT_LT(ring.Start(), ring.Capacity());
    EXPECT_GE(ring.Used(), 439u - 39u);
    EXPECT_LE(ring.Used(), 439u);
    // The newest frame is the last 100 bytes.
    const std::vector<uint8_t> held = Contents(ring);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), held.end() - 100));
    ring.Clear();
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(0u, ring.LinesUsed());
}

TEST(ScopeLine, RunsFollowTheDirectionAndTheLastLineStopsAtTheWriteIndex)
{
    CScopeRing ring;
    ASSERT_TRUE(ring.Allocate(40, 11));
    const uint8_t sent[] = {0x01, 0x41, 0xFF};
    const std::vector<uint8_t> received = Bytes(40, 0x30);
    ring.Append(sent, sizeof(sent), 1);
    ring.Append(received.data(), received.size(), 0);
    EXPECT_EQ(2u, ring.LinesUsed());

    const std::vector<ScopeRun> first = ScopeLineRuns(ring, 0, CellForm::Hex);
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ(0u, first[0].column);
    EXPECT_EQ(3u, first[0].count);
    EXPECT_EQ(1, first[0].direction);
    EXPECT_EQ("0141FF", first[0].text);
    EXPECT_EQ(3u, first[1].column);
    EXPECT_EQ(37u, first[1].count);
    EXPECT_EQ(0, first[1].direction);

    const std::vector<ScopeRun> last = ScopeLineRuns(ring, 1, CellForm::Char);
    ASSERT_EQ(1u, last.size());
    EXPECT_EQ(3u, last[0].count);
    EXPECT_EQ("UVW", last[0].text);
    EXPECT_TRUE(ScopeLineRuns(ring, 2, CellForm::Raw).empty());
}

TEST(ScopeLine, CellTexts)
{
    struct {
        uint8_t byte;
        CellForm form;
        std::string text;
    } cases[] = {
        {0x00, CellForm::Hex, "00"},   {0xA5, CellForm::Hex, "A5"},
        {'A', CellForm::Char, "A"},    {0x0D, CellForm::Char, std::string(1, ScopeControlMark)},
        {0x7F, CellForm::Char, std::string(1, ScopeControlMark)},
        {0xC8, CellForm::Char, std::string(1, ScopeControlMark)},
        {0x0D, CellForm::Raw, "\r"},   {0xC8, CellForm::Raw, "\xC8"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, ScopeCellText(c.byte, c.form)) << int(c.byte);
}

TEST(ScopeScroll, VisibleLinesAndBottomPosition)
{
    size_t first, last;
    ScopeVisibleLines(0, 130, 13, 41, first, last);
    EXPECT_EQ(0u, first);
    EXPECT_EQ(10u, last);
    ScopeVisibleLines(20, 30, 13, 41, first, last);  // rows 20..49 meet lines 1..3
    EXPECT_EQ(1u, first);
    EXPECT_EQ(4u, last);
    ScopeVisibleLines(0, 500, 13, 3, first, last);
    EXPECT_EQ(3u, last);

    EXPECT_EQ(0, ScopeBottomPosition(10, 13, 200));
    EXPECT_EQ(41 * 13 - 200, ScopeBottomPosition(41, 13, 200));
}

}  // namespace
