// Aleron's fixed event space: three categories, each with one condition and
// two sub-conditions. Each code is the number the I/O server packs into a
// forwarded record's event code (category | condition << 8 | state << 16).
#pragma once
#include <windows.h>
#include <vector>

namespace aleron {

// Source kinds and their bits in a category's source mask.
enum SourceKind { SourceDriver = 0, SourceChannel = 1, SourceDevice = 2, SourceDataBlock = 4 };

struct SubCondition {
    const wchar_t *name;
    DWORD state;
};
struct Condition {
    const wchar_t *name;
    DWORD id;
    const SubCondition *subConditions;
    DWORD subConditionCount;
};
struct Category {
    const wchar_t *description;
    DWORD code;
    DWORD eventTypes;     // OPC event-type mask
    const Condition *conditions;
    DWORD conditionCount;
    DWORD sourceKinds;    // SourceKind bits whose sources raise it
};

const Category *Categories();
DWORD CategoryCount();

// The category with that code, or null.
const Category *FindCategory(DWORD code);
// The condition of that name in any category (exact), or null.
const Condition *FindCondition(const wchar_t *name);

// The names of the three parts of a forwarded event code; false when any
// part is not in the table (the event cannot be used).
bool DescribeEventCode(DWORD eventCode, DWORD *category, const wchar_t **condition, const wchar_t **subCondition);

// The condition names of every category whose source mask holds kind's bit
// (a driver, kind 0, has none).
std::vector<const wchar_t *> ConditionsForSourceKind(SourceKind kind);

} // namespace aleron
