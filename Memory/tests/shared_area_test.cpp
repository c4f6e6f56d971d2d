// One area on its own: rounding of the sizes, growth in steps up to the
// shared high-water mark, the end of the reservation, a second opener.
#include <gtest/gtest.h>
#include "EventLogRecorder.h"
#include "SharedArea.h"
#include "store_fixture.h"

namespace {

AreaSettings Sizes(DWORD maxSize, DWORD grow, DWORD overrun = 4095)
{
    AreaSettings settings;
    settings.maxSize = maxSize;
    settings.growIncrement = grow;
    settings.overrunBuffer = overrun;
    return settings;
}

struct GrowthCase {
    const char *what;
    DWORD maxSize, grow;
    DWORD offset, length;
    unsigned long result;
    DWORD maxAfterRounding, committed, highWater;
};

const GrowthCase GrowthCases[] = {
    {"first write commits one step", 10000000, 4095, 0, 260, STORE_OK, 153 * Unit, Unit, 260},
    {"a write in the second step commits two", 10000000, 4095, Unit, 4, STORE_OK, 153 * Unit, 2 * Unit, Unit + 4},
    {"a write straddling two steps", 10000000, 4095, Unit - 2, 4, STORE_OK, 153 * Unit, 2 * Unit, Unit + 2},
    {"steps of two units", 10000000, 2 * Unit, 10, 10, STORE_OK, 153 * Unit, 2 * Unit, 20},
    {"MaxSize 1 is one unit", 1, 4095, Unit - 1, 1, STORE_OK, Unit, Unit, Unit},
    {"GrowIncrement 0 is one unit", 4 * Unit, 0, 0, 1, STORE_OK, 4 * Unit, Unit, 1},
    {"the last step stops at MaxSize", 3 * Unit, 2 * Unit, 2 * Unit + 10, 4, STORE_OK, 3 * Unit, 3 * Unit, 2 * Unit + 14},
    {"the last byte of the reservation", 2 * Unit, 4095, 2 * Unit - 1, 1, STORE_OK, 2 * Unit, 2 * Unit, 2 * Unit},
    {"into the overrun zone", 2 * Unit, 4095, 2 * Unit - 2, 4, STORE_OVERRUN, 2 * Unit, 0, 0},
    {"beyond the overrun zone", 2 * Unit, 4095, 3 * Unit, 4, STORE_OVERRUN, 2 * Unit, 0, 0},
};

void PrintTo(const GrowthCase &c, std::ostream *os) { *os << c.what; }

class AreaGrowth : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(AreaGrowth, CommitsWholeStepsAndRaisesTheSharedMark)
{
    const GrowthCase &c = GetParam();
    SharedArea area;
    ASSERT_EQ(0u, area.Create("QORTest", Sizes(c.maxSize, c.grow), FreshStoreName("Grow").c_str()));
    EXPECT_EQ(0u, area.CommittedSize()) << "nothing is committed before it is used";
    EXPECT_EQ(c.maxAfterRounding, area.MaxSize());

    void *at = NULL;
    ASSERT_EQ(c.result, area.Access(c.offset, c.length, &at));
    EXPECT_EQ(c.committed, area.CommittedSize());
    EXPECT_EQ(c.highWater, area.HighWater());
    if (c.result == STORE_OK) {
        EXPECT_EQ(area.Base() + c.offset, at);
        memset(at, 0x5A, c.length); // the whole range is writable
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AreaGrowth, ::testing::ValuesIn(GrowthCases));

TEST(SharedArea, SecondOpenerKeepsTheControlBlockAndCommitsUpToTheSharedMark)
{
    std::string name = FreshStoreName("Second");
    SharedArea first;
    ASSERT_EQ(0u, first.Create("QORTest", Sizes(10 * Unit, 4095), name.c_str()));
    void *at;
    ASSERT_EQ(0u, first.Access(Unit + 100, 4, &at));
    memcpy(at, "abc", 4);
    first.IncrementLiveCount();

    SharedArea second;
    ASSERT_EQ(0u, second.Create("QORTest", Sizes(10 * Unit, 4095), name.c_str()));
    EXPECT_EQ(Unit + 104, second.HighWater());
    EXPECT_EQ(1, second.LiveCount());

    // A small access at the start commits everything up to the shared mark,
    // so the other process's bytes are readable here.
    ASSERT_EQ(0u, second.Access(0, 4, &at));
    EXPECT_GE(second.CommittedSize(), 2 * Unit);
    EXPECT_STREQ("abc", reinterpret_cast<const char *>(second.Base() + Unit + 100));
    EXPECT_EQ(Unit + 104, second.HighWater()) << "a smaller access does not lower the mark";
}

TEST(SharedArea, ALastCloseFreesTheAreaAndTheNextCreatorStartsFromZeros)
{
    std::string name = FreshStoreName("Again");
    {
        SharedArea area;
        ASSERT_EQ(0u, area.Create("QORTest", Sizes(4 * Unit, 4095), name.c_str()));
        void *at;
        ASSERT_EQ(0u, area.Access(500, 4, &at));
        area.IncrementLiveCount();
    }
    SharedArea area;
    ASSERT_EQ(0u, area.Create("QORTest", Sizes(4 * Unit, 4095), name.c_str()));
    EXPECT_EQ(0u, area.HighWater());
    EXPECT_EQ(0, area.LiveCount());
    EXPECT_EQ(0u, area.CommittedSize());
}

// A process whose settings promise more than the section that another
// process made cannot commit past the section's end. The refused commit must
// leave the shared mark alone, or every later access of every process would
// try the same commit and fail.
TEST(SharedArea, ARefusedCommitLeavesTheMarkAndTheAreaUsable)
{
    CEventLogRecorder events;
    std::string name = FreshStoreName("Refused");
    SharedArea maker;
    ASSERT_EQ(0u, maker.Create("QORTest", Sizes(2 * Unit, 4095), name.c_str()));
    SharedArea hopeful;
    ASSERT_EQ(0u, hopeful.Create("QORTest", Sizes(8 * Unit, 4095), name.c_str()));

    void *at;
    EXPECT_EQ(STORE_COMMIT_FAILED, hopeful.Access(5 * Unit, 4, &at));
    EXPECT_EQ(0u, hopeful.HighWater());
    ASSERT_EQ(1u, events.Count());
    CEventLogRecorder::Event event = events.Events()[0];
    EXPECT_EQ(STORE_EVENT_COMMIT, event.id);
    EXPECT_EQ("QORTest", event.source);
    ASSERT_EQ(2u, event.strings.size());
    EXPECT_EQ(name, event.strings[0]);

    EXPECT_EQ(0u, hopeful.Access(100, 4, &at));
    EXPECT_EQ(0u, maker.Access(Unit + 100, 4, &at));
    EXPECT_EQ(Unit + 104, maker.HighWater());
}

} // namespace
