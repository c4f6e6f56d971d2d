#include "Duration.h"
#include <gtest/gtest.h>

namespace {

DurationSeparators Seps(const char *time, const char *decimal)
{
    DurationSeparators s;
    s.time = time;
    s.decimal = decimal;
    return s;
}

struct ParseCase {
    const char *text;
    bool ok;
    uint32_t ms;
};

class DurationParse : public testing::TestWithParam<ParseCase> {};

TEST_P(DurationParse, WithColonAndPoint)
{
    const ParseCase &c = GetParam();
    uint32_t ms = 12345;
    EXPECT_EQ(c.ok, DurationTextToMs(c.text, &ms, Seps(":", "."))) << c.text;
    EXPECT_EQ(c.ok ? c.ms : 12345u, ms) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, DurationParse, testing::Values(
    ParseCase{"1:30", true, 90000},
    ParseCase{"90", true, 90000},
    ParseCase{"0", true, 0},
    ParseCase{"00", true, 0},
    ParseCase{".5", true, 500},
    ParseCase{"01.5", true, 1500},
    ParseCase{"1.", true, 1000},
    ParseCase{"01:01", true, 61000},
    ParseCase{"1:01:01", true, 3661000},
    ParseCase{"1:01:01:01", true, 90061000},
    ParseCase{"6:23:59:59.9", true, 604799900},
    ParseCase{"4294967.2", true, 4294967200u},
    ParseCase{"", false, 0},
    ParseCase{".", false, 0},
    ParseCase{"1:60", false, 0},
    ParseCase{"60:00", false, 0},
    ParseCase{"24:00:00", false, 0},
    ParseCase{"7:00:00:00", true, 604800000},
    ParseCase{"49:17:02:47.2", true, 4294967200u},
    ParseCase{"49:17:02:47.3", false, 0},
    ParseCase{"50:00:00:00", false, 0},
    ParseCase{"7:24:00:00", false, 0},
    ParseCase{"1:00:00:00:00", false, 0},
    ParseCase{"2.25", false, 0},
    ParseCase{"1.x", false, 0},
    ParseCase{"1x", false, 0},
    ParseCase{"-1", false, 0},
    ParseCase{" 1", false, 0},
    ParseCase{":30", false, 0},
    ParseCase{"1:", false, 0},
    ParseCase{"1::2", false, 0},
    // A lone seconds number whose milliseconds need more than 32 bits.
    ParseCase{"4294968", false, 0},
    ParseCase{"4294967.3", false, 0},
    ParseCase{"99999999999999999999", false, 0}));

TEST(DurationFormat, ExamplesWithColonAndPoint)
{
    const struct { uint32_t ms; const char *text; } cases[] = {
        {0, "00"}, {50, "0.0"}, {500, "0.5"}, {1000, "01"}, {1500, "01.5"}, {59999, "59.9"},
        {60000, "01:00"}, {61000, "01:01"}, {3599000, "59:59"}, {3600000, "01:00:00"},
        {86399000, "23:59:59"}, {90061000, "1:01:01:01"}, {604799999, "6:23:59:59.9"},
        {4294967295u, "49:17:02:47.2"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, MsToDurationText(c.ms, Seps(":", "."))) << c.ms;
}

TEST(DurationFormat, TextParsesBackToTheTenths)
{
    const DurationSeparators s = Seps(":", ".");
    for (uint32_t ms : {0u, 100u, 1000u, 1500u, 61000u, 3661900u, 90061000u, 604799900u}) {
        uint32_t back = 1;
        ASSERT_TRUE(DurationTextToMs(MsToDurationText(ms, s).c_str(), &back, s)) << ms;
        EXPECT_EQ(ms, back);
    }
}

// Every text the formatter writes reads back, to the tenths, over the whole
// 32-bit range (a stored poll or timeout text must load again).
TEST(DurationFormat, WholeRangeReadsBack)
{
    const DurationSeparators s = Seps(":", ".");
    auto check = [&](uint32_t ms) {
        uint32_t back = 1;
        std::string text = MsToDurationText(ms, s);
        if (!DurationTextToMs(text.c_str(), &back, s))
            return ::testing::AssertionFailure() << ms << " -> \"" << text << "\" refused";
        if (back != ms / 100 * 100)
            return ::testing::AssertionFailure() << ms << " -> \"" << text << "\" -> " << back;
        return ::testing::AssertionSuccess();
    };
    for (uint64_t ms = 0; ms <= UINT32_MAX; ms += 86399)
        ASSERT_TRUE(check(uint32_t(ms)));
    for (uint32_t day = 0; day <= 49; ++day)
        for (uint32_t edge : {0u, 999u, 86399999u})
            if (uint64_t(day) * 86400000 + edge <= UINT32_MAX) {
                ASSERT_TRUE(check(day * 86400000u + edge));
            }
    ASSERT_TRUE(check(UINT32_MAX));
}

TEST(DurationSeparatorsInUse, OtherLocalesSeparatorsAreHonoured)
{
    // A locale with "." between the fields and "," before the tenths.
    const DurationSeparators s = Seps(".", ",");
    uint32_t ms = 0;
    EXPECT_TRUE(DurationTextToMs("1.30,5", &ms, s));
    EXPECT_EQ(90500u, ms);
    EXPECT_FALSE(DurationTextToMs("1:30", &ms, s));
    EXPECT_EQ("01.01,5", MsToDurationText(61500, s));

    // Multi-character separators.
    const DurationSeparators wide = Seps("h ", "dec");
    EXPECT_TRUE(DurationTextToMs("2h 05dec3", &ms, wide));
    EXPECT_EQ(125300u, ms);
}

TEST(DurationSeparatorsInUse, OverrideReplacesTheLocaleUntilCleared)
{
    DurationSeparators pinned = Seps("-", "_");
    OverrideDurationSeparators(&pinned);
    uint32_t ms = 0;
    EXPECT_TRUE(DurationTextToMs("1-30_5", &ms));
    EXPECT_EQ(90500u, ms);
    EXPECT_EQ("01-30_5", MsToDurationText(90500));
    OverrideDurationSeparators(nullptr);
    DurationSeparators locale = CurrentDurationSeparators();
    EXPECT_FALSE(locale.time.empty());
    EXPECT_FALSE(locale.decimal.empty());
    EXPECT_EQ(MsToDurationText(90500, locale), MsToDurationText(90500));
}

} // namespace
