#include "Quality.h"

namespace {

// Substatus texts by bits 5-2; NULL where the quality has none.
const char *const BadTexts[8] = {NULL,
                                 ", Config error",
                                 ", Input not connected",
                                 ", Device failure",
                                 ", Sensor failure",
                                 ", Data latched",
                                 ", Comm failure",
                                 ", Out of service"};
const char *const UncertainTexts[8] = {NULL, ", Last usable value", NULL, NULL, ", Sensor not accurate",
                                       ", EGU units exceeded", ", Sub-normal", NULL};
const char *const LimitTexts[4] = {NULL, ", Pegged to low limit", ", Pegged to high limit", ", Limit cannot move"};

} // namespace

int GetQualityText(int quality, std::string &text)
{
    text.clear();
    if (quality < 0 || quality > 255) {
        text = "Unknown";
        return 1;
    }
    const int substatus = (quality >> 2) & 0x0F;
    const char *detail = NULL;
    if (quality < 64) {
        text = "Bad";
        detail = substatus < 8 ? BadTexts[substatus] : NULL;
    } else if (quality < 128) {
        text = "Uncertain";
        detail = substatus < 8 ? UncertainTexts[substatus] : NULL;
    } else if (quality < 192) {
        return 0;
    } else {
        text = "Good";
        if (substatus == 6)
            detail = ", Local override";
    }
    if (detail)
        text += detail;
    if (const char *limit = LimitTexts[quality & 0x03])
        text += limit;
    return 1;
}
