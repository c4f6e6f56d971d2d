// What one line of the data monitor shows: the runs of equal direction and
// the text each byte is drawn with, and the scroll arithmetic of the view.
// Kept apart from the window so that it is tested without one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "ScopeRing.h"

// How a byte becomes text: Raw hands the byte to the monitor's own fonts
// (one glyph per byte value); Hex and Char are the forms used when those
// fonts are not installed: two hex digits in one cell, or the character
// itself with a mark for bytes that have no printable form.
enum class CellForm { Raw, Hex, Char };

struct ScopeRun {
    unsigned column;    // first cell of the run within the line
    unsigned count;     // bytes in the run
    uint8_t direction;  // 1 sent, 0 received
    std::string text;   // the run's characters in the given form
};

// The runs of line `line` (0 = the line at the start index); the last line
// stops at the write index. Empty when the line holds no byte.
std::vector<ScopeRun> ScopeLineRuns(const CScopeRing &ring, size_t line, CellForm form);
// The characters one byte is drawn with in that form (one, or two for Hex).
std::string ScopeCellText(uint8_t byte, CellForm form);
// The mark drawn for a byte without a printable form in the Char form.
extern const char ScopeControlMark;

// The lines [first, last) that meet the client rows [top, top + height).
void ScopeVisibleLines(long top, long height, long lineHeight, size_t linesUsed, size_t &first, size_t &last);
// The vertical scroll position that shows the newest line at the bottom when
// the content is taller than the client area, else 0.
long ScopeBottomPosition(size_t linesUsed, long lineHeight, long clientHeight);
