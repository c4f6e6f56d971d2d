#include "ScopeLines.h"

// 0xB7, the middle dot of the Windows Latin-1 page.
const char ScopeControlMark = '\xB7';

std::string ScopeCellText(uint8_t byte, CellForm form)
{
    static const char digits[] = "0123456789ABCDEF";
    switch (form) {
    case CellForm::Hex: return std::string{digits[byte >> 4], digits[byte & 15]};
    case CellForm::Char: return std::string(1, byte >= 0x20 && byte < 0x7F ? char(byte) : ScopeControlMark);
    default: return std::string(1, char(byte));
    }
}

std::vector<ScopeRun> ScopeLineRuns(const CScopeRing &ring, size_t line, CellForm form)
{
    std::vector<ScopeRun> runs;
    const size_t used = ring.Used();
    const size_t columns = ring.Columns();
    const size_t begin = line * columns;
    if (begin >= used)
        return runs;
    const size_t end = begin + columns < used ? begin + columns : used;
    for (size_t offset = begin; offset < end; ++offset) {
        const uint8_t direction = ring.DirectionAt(offset);
        if (runs.empty() || runs.back().direction != direction)
            runs.push_back(ScopeRun{unsigned(offset - begin), 0, direction, std::string()});
        runs.back().count += 1;
        runs.back().text += ScopeCellText(ring.ByteAt(offset), form);
    }
    return runs;
}

void ScopeVisibleLines(long top, long height, long lineHeight, size_t linesUsed, size_t &first, size_t &last)
{
    first = last = 0;
    if (lineHeight <= 0 || height <= 0 || top < 0)
        return;
    first = size_t(top / lineHeight);
    last = size_t((top + height + lineHeight - 1) / lineHeight);
    if (last > linesUsed)
        last = linesUsed;
    if (first > last)
        first = last;
}

long ScopeBottomPosition(size_t linesUsed, long lineHeight, long clientHeight)
{
    const long content = long(linesUsed) * lineHeight;
    return content > clientHeight ? content - clientHeight : 0;
}
