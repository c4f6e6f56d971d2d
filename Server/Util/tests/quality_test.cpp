#include <gtest/gtest.h>
#include <string>
#include "Quality.h"

namespace {

TEST(QualityText, QualitySubstatusAndLimitInWords)
{
    const struct {
        int quality;
        int result;
        const char *text;
    } cases[] = {
        {0x00, 1, "Bad"},
        {0x04, 1, "Bad, Config error"},
        {0x08, 1, "Bad, Input not connected"},
        {0x0C, 1, "Bad, Device failure"},
        {0x10, 1, "Bad, Sensor failure"},
        {0x14, 1, "Bad, Data latched"},
        {0x18, 1, "Bad, Comm failure"},
        {0x1C, 1, "Bad, Out of service"},
        {0x20, 1, "Bad"},
        {0x19, 1, "Bad, Comm failure, Pegged to low limit"},
        {0x40, 1, "Uncertain"},
        {0x44, 1, "Uncertain, Last usable value"},
        {0x48, 1, "Uncertain"},
        {0x50, 1, "Uncertain, Sensor not accurate"},
        {0x56, 1, "Uncertain, EGU units exceeded, Pegged to high limit"},
        {0x58, 1, "Uncertain, Sub-normal"},
        {0x80, 0, ""},
        {0xBF, 0, ""},
        {0xC0, 1, "Good"},
        {0xD8, 1, "Good, Local override"},
        {0xDB, 1, "Good, Local override, Limit cannot move"},
        {0xC4, 1, "Good"},
        {NoQuality, 1, "Unknown"},
        {256, 1, "Unknown"},
    };
    for (const auto &c : cases) {
        std::string text = "stale";
        EXPECT_EQ(c.result, GetQualityText(c.quality, text)) << std::hex << c.quality;
        EXPECT_EQ(c.text, text) << std::hex << c.quality;
    }
}

} // namespace
