#include "EventSpace.h"

namespace aleron {
namespace {

const SubCondition kCommStates[] = {{L"COMM Failure", 1}, {L"COMM Recovered", 2}};
const SubCondition kEnabledStates[] = {{L"Enabled", 1}, {L"Disabled", 2}};
const SubCondition kRunningStates[] = {{L"Running", 1}, {L"Stopped", 2}};

const Condition kCommStatus[] = {{L"COMM Status", 1, kCommStates, 2}};
const Condition kEnabledState[] = {{L"Enabled State", 2, kEnabledStates, 2}};
const Condition kRunningState[] = {{L"Running State", 3, kRunningStates, 2}};

const DWORD kSimpleEvent = 1;

const Category kCategories[] = {
    {L"DataBlock Status", 1, kSimpleEvent, kCommStatus, 1, SourceDataBlock},
    {L"Object State", 2, kSimpleEvent, kEnabledState, 1, SourceChannel | SourceDevice | SourceDataBlock},
    {L"Driver State", 4, kSimpleEvent, kRunningState, 1, 0},
};

} // namespace

const Category *Categories() { return kCategories; }
DWORD CategoryCount() { return DWORD(sizeof kCategories / sizeof kCategories[0]); }

const Category *FindCategory(DWORD code)
{
    for (const Category &c : kCategories)
        if (c.code == code)
            return &c;
    return nullptr;
}

const Condition *FindCondition(const wchar_t *name)
{
    if (!name)
        return nullptr;
    for (const Category &c : kCategories)
        for (DWORD i = 0; i < c.conditionCount; ++i)
            if (wcscmp(c.conditions[i].name, name) == 0)
                return &c.conditions[i];
    return nullptr;
}

bool DescribeEventCode(DWORD eventCode, DWORD *category, const wchar_t **condition, const wchar_t **subCondition)
{
    const Category *found = FindCategory(eventCode & 0xFF);
    if (!found)
        return false;
    for (DWORD i = 0; i < found->conditionCount; ++i) {
        const Condition &c = found->conditions[i];
        if (c.id != ((eventCode >> 8) & 0xFF))
            continue;
        for (DWORD s = 0; s < c.subConditionCount; ++s)
            if (c.subConditions[s].state == ((eventCode >> 16) & 0xFF)) {
                *category = found->code;
                *condition = c.name;
                *subCondition = c.subConditions[s].name;
                return true;
            }
    }
    return false;
}

std::vector<const wchar_t *> ConditionsForSourceKind(SourceKind kind)
{
    std::vector<const wchar_t *> names;
    if (kind == SourceDriver)
        return names;
    for (const Category &c : kCategories)
        if (c.sourceKinds & DWORD(kind))
            for (DWORD i = 0; i < c.conditionCount; ++i)
                names.push_back(c.conditions[i].name);
    return names;
}

} // namespace aleron
