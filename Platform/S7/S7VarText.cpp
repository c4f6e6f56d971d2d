#include "S7VarText.h"
#include "S7Sim.h"
#include <cctype>
#include <cstring>

namespace s7sim {

namespace {

bool StartsWith(const std::string &s, size_t pos, const char *prefix)
{
    return s.compare(pos, strlen(prefix), prefix) == 0;
}

bool ReadNumber(const std::string &s, size_t *pos, uint32_t *value)
{
    size_t start = *pos;
    uint32_t v = 0;
    while (*pos < s.size() && isdigit(static_cast<unsigned char>(s[*pos]))) {
        v = v * 10 + static_cast<uint32_t>(s[*pos] - '0');
        if (v > 0xFFFFFF)
            return false;
        ++*pos;
    }
    *value = v;
    return *pos > start;
}

} // namespace

bool ParseVarText(const std::string &text, VarRange *range)
{
    VarRange r;
    size_t pos = 0;
    uint32_t n = 0;
    // Area letters; the two-letter ones first so that "DB" is not "D".
    static const struct { const char *text; bool db; int area; int unitBytes; } areas[] = {
        {"DB", true, 0, 1}, {"DI", true, 0, 1}, {"PA", false, AreaOutputs, 1},
        {"PE", false, AreaInputs, 1}, {"A", false, AreaOutputs, 1}, {"E", false, AreaInputs, 1},
        {"M", false, AreaFlags, 1}, {"C", false, AreaCounters, 2}, {"Z", false, AreaCounters, 2},
        {"T", false, AreaTimers, 2},
    };
    int unitBytes = 0;
    for (const auto &a : areas)
        if (StartsWith(text, 0, a.text)) {
            r.dataBlock = a.db;
            r.area = a.area;
            unitBytes = a.unitBytes;
            pos = strlen(a.text);
            break;
        }
    if (!unitBytes)
        return false;
    if (r.dataBlock) {
        if (!ReadNumber(text, &pos, &n) || n == 0 || n > 0xFFFF || pos >= text.size() || text[pos] != ',')
            return false;
        r.dbNumber = static_cast<uint16_t>(n);
        ++pos;
    }
    // Type letters, longest first; counters and timers take none.
    static const struct { const char *text; int bytes; bool bit; } types[] = {
        {"DINT", 4, false}, {"REAL", 4, false}, {"CHAR", 1, false}, {"INT", 2, false},
        {"X", 1, true}, {"B", 1, false}, {"W", 2, false}, {"D", 4, false},
    };
    int elementBytes = unitBytes;
    if (unitBytes == 1) {
        elementBytes = 0;
        for (const auto &t : types)
            if (StartsWith(text, pos, t.text)) {
                elementBytes = t.bytes;
                r.bit = t.bit;
                pos += strlen(t.text);
                break;
            }
        if (!elementBytes)
            return false;
    }
    uint32_t start = 0;
    if (!ReadNumber(text, &pos, &start))
        return false;
    r.offset = start * static_cast<uint32_t>(unitBytes);
    uint32_t count = 1;
    if (r.bit) {
        if (pos >= text.size() || text[pos] != '.')
            return false;
        ++pos;
        if (!ReadNumber(text, &pos, &n) || n > 7)
            return false;
        r.bitNumber = static_cast<int>(n);
    } else if (pos < text.size()) {
        if (text[pos] != ',')
            return false;
        ++pos;
        if (!ReadNumber(text, &pos, &count) || count == 0)
            return false;
    }
    if (pos != text.size())
        return false;
    r.bytes = count * static_cast<uint32_t>(elementBytes);
    *range = r;
    return true;
}

} // namespace s7sim
