// Docking without windows: the sides a bar may take, the rows of bars on
// each of a frame's four sides, where a dragged bar lands, and the
// rectangles the docked bars get. CDockManager (ControlBar.h) moves the
// windows by what this decides; the sizes come from the bars themselves.
#pragma once
#include <windows.h>
#include <functional>
#include <utility>
#include <vector>

// Alignment bits of a bar's style: the sides it may dock on, or the side it
// is docked on.
const DWORD AlignLeft = 0x1000, AlignTop = 0x2000, AlignRight = 0x4000, AlignBottom = 0x8000;
const DWORD AlignAny = AlignLeft | AlignTop | AlignRight | AlignBottom;

enum DockSide { DockTop, DockBottom, DockLeft, DockRight, DockSideCount, DockFloat = DockSideCount };
DWORD AlignOf(DockSide side);
// The first side among align's bits, in the order top, bottom, left,
// right; DockFloat when there is none.
DockSide SideOfAlign(DWORD align);
inline bool IsHorizontal(DockSide side) { return side == DockTop || side == DockBottom; }

// A length along a side that asks for the side's whole length.
const int FullLength = 32767;

// What the layout asks of a bar.
struct CBarRequest {
    enum Kind {
        Docked,       // its size docked on a side (horizontal or not)
        Floating,     // its size in a floating window
        FloatLength,  // the user sized the floating window's height to length
        FloatWidth,   // ... its width to length
    } kind = Docked;
    bool horizontal = true;  // docked at the top or the bottom
    bool stretch = false;    // docked: it may take the side's whole length
    bool commit = false;     // a floating size change is the final one
    int length = 0;
};

class CDockLayout {
public:
    // How many pixels beyond a side's rows (or from the bare edge) a drop
    // still docks there.
    static const int SnapBand = 16;

    struct Place {
        DockSide side = DockFloat;
        int row = -1;  // from the frame's edge inward; -1 or past the last: a new row
        int pos = 0;   // pixels along the side, from its start
    };
    // size(bar, horizontal): the bar's docked size with stretch;
    // shown(bar): whether it takes room.
    CDockLayout(std::function<SIZE(int bar, bool horizontal)> size, std::function<bool(int bar)> shown)
        : m_size(std::move(size)), m_shown(std::move(shown))
    {
    }

    // Docks bar at place. A bar that asks for the whole length, and a bar
    // put into a row that holds such a bar, gets a row of its own there.
    void Dock(int bar, const Place &place);
    // Takes the bar off its side; a row it leaves empty goes.
    void Remove(int bar);
    // Where the bar is docked; side DockFloat when it is not.
    Place Find(int bar) const;
    // Moves bar to a place that DropTarget found while the bar stood where
    // it is: a row the bar leaves empty is accounted for.
    void Move(int bar, Place target);

    // Where a bar dragged to point lands (lead: the top-left corner of its
    // tracking rectangle; area: the frame's docking area; one coordinate
    // system): the nearest of the allowed sides whose rows, widened by the
    // snap band, hold the point; floating when none does.
    Place DropTarget(const RECT &area, DWORD allowed, POINT point, POINT lead) const;
    // The row and place on side that a drop at point (lead as above) takes.
    Place PlaceOn(DockSide side, const RECT &area, POINT point, POINT lead) const;

    // Places the shown docked bars in area: the top and bottom rows over
    // the whole width, the left and right ones between them; no side takes
    // more than is left. Returns what is left for the frame's view.
    RECT Arrange(const RECT &area, std::vector<std::pair<int, RECT>> *rects) const;

    // The depth of each row of side (0 for a row of hidden bars).
    std::vector<int> RowDepths(DockSide side) const;

private:
    struct Entry {
        int bar, pos;
    };
    typedef std::vector<Entry> Row;
    bool FullLengthBar(int bar, DockSide side) const;
    void Insert(int bar, DockSide side, int row, int pos, bool ownRow);
    int Depth(DockSide side) const;
    static int Distance(DockSide side, const RECT &area, POINT point);

    std::function<SIZE(int, bool)> m_size;
    std::function<bool(int)> m_shown;
    std::vector<Row> m_sites[DockSideCount];
};
