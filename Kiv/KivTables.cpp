#include "KivTables.h"
#include <string.h>
#include <strings.h>

uint16_t KivHmiCodeOfQuality(uint8_t quality)
{
    const unsigned substatus = KivSubstatus(quality);
    const unsigned limit = quality & 0x03;
    switch (quality >> 6) {
    case 3:
        return 0;
    case 1:
        return (substatus == 5 && limit == 1) ? 4162 : 4163;
    case 2:
        return 4297;
    default:
        break;
    }
    if (substatus >= 8)
        return 4293;
    switch (substatus) {
    case 0: case 1:
        return 4297;
    case 3: case 4:
        return 4292;
    case 7:
        return limit == 3 ? 2185 : 4297;
    default:   // 2, 5, 6
        return 4293;
    }
}

static const KivOption kOptions[] = {
    {"NONE", 0, false}, {"REAL", 4, false}, {"WORD", 2, false},
    {"INT", 2, true},   {"DWORD", 3, false}, {"DINT", 3, true},
};
static const unsigned kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

const KivOption *KivOptionTable(unsigned *count)
{
    *count = kOptionCount;
    return kOptions;
}

bool KivParseOption(const char *name, uint32_t *optionWord)
{
    uint16_t code = 0;
    bool isSigned = false;
    if (name && *name) {
        const KivOption *found = nullptr;
        for (const KivOption &row : kOptions)
            if (strcasecmp(row.name, name) == 0) {
                found = &row;
                break;
            }
        if (!found)
            return false;
        code = found->code;
        isSigned = found->isSigned;
    }
    uint32_t word = (*optionWord & 0x7FFF0000u) | code;
    if (isSigned)
        word |= 0x80000000u;
    *optionWord = word;
    return true;
}

bool KivOptionName(uint32_t optionWord, const char **name)
{
    *name = "";
    const uint16_t code = uint16_t(optionWord & 0xFFFF);
    if (code == 0)
        return true;
    for (unsigned i = 0; i < kOptionCount; ++i) {
        if (kOptions[i].code != code)
            continue;
        if (optionWord & 0x80000000u) {
            if (i + 1 >= kOptionCount)
                return false;
            ++i;
        }
        *name = kOptions[i].name;
        return true;
    }
    return false;
}

void KivCopyText(char *destination, int size, const char *source)
{
    if (!destination || size <= 0)
        return;
    size_t length = source ? strlen(source) : 0;
    if (length > size_t(size - 1))
        length = size_t(size - 1);
    if (length)
        memcpy(destination, source, length);
    destination[length] = '\0';
}
