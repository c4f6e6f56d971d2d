#include "DockLayout.h"
#include <algorithm>
#include <climits>

DWORD AlignOf(DockSide side)
{
    switch (side) {
    case DockTop:
        return AlignTop;
    case DockBottom:
        return AlignBottom;
    case DockLeft:
        return AlignLeft;
    case DockRight:
        return AlignRight;
    default:
        return 0;
    }
}

DockSide SideOfAlign(DWORD align)
{
    for (DockSide side : {DockTop, DockBottom, DockLeft, DockRight})
        if (align & AlignOf(side))
            return side;
    return DockFloat;
}

bool CDockLayout::FullLengthBar(int bar, DockSide side) const
{
    SIZE size = m_size(bar, IsHorizontal(side));
    return (IsHorizontal(side) ? size.cx : size.cy) >= FullLength;
}

void CDockLayout::Insert(int bar, DockSide side, int row, int pos, bool ownRow)
{
    std::vector<Row> &rows = m_sites[side];
    Entry entry{bar, pos < 0 ? 0 : pos};
    if (row < 0 || row >= int(rows.size())) {
        rows.push_back(Row{entry});
        return;
    }
    bool alone = ownRow || FullLengthBar(bar, side);
    for (const Entry &other : rows[row])
        alone = alone || FullLengthBar(other.bar, side);
    if (alone)
        rows.insert(rows.begin() + row, Row{entry});
    else
        rows[row].push_back(entry);
}

void CDockLayout::Dock(int bar, const Place &place)
{
    Remove(bar);
    if (place.side != DockFloat)
        Insert(bar, place.side, place.row, place.pos, false);
}

void CDockLayout::Remove(int bar)
{
    for (std::vector<Row> &rows : m_sites)
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t i = 0; i < rows[r].size(); ++i)
                if (rows[r][i].bar == bar) {
                    rows[r].erase(rows[r].begin() + i);
                    if (rows[r].empty())
                        rows.erase(rows.begin() + r);
                    return;
                }
}

CDockLayout::Place CDockLayout::Find(int bar) const
{
    Place place;
    for (int side = 0; side < DockSideCount; ++side)
        for (size_t r = 0; r < m_sites[side].size(); ++r)
            for (const Entry &entry : m_sites[side][r])
                if (entry.bar == bar) {
                    place.side = DockSide(side);
                    place.row = int(r);
                    place.pos = entry.pos;
                    return place;
                }
    return place;
}

void CDockLayout::Move(int bar, Place target)
{
    Place old = Find(bar);
    bool emptied = old.side != DockFloat && m_sites[old.side][old.row].size() == 1;
    Remove(bar);
    if (target.side == DockFloat)
        return;
    bool ownRow = false;
    if (emptied && target.side == old.side && target.row >= 0) {
        // The rows beyond the emptied one moved one place outward.
        if (target.row > old.row)
            --target.row;
        else if (target.row == old.row)
            ownRow = true;
    }
    Insert(bar, target.side, target.row, target.pos, ownRow);
}

std::vector<int> CDockLayout::RowDepths(DockSide side) const
{
    std::vector<int> depths;
    bool horizontal = IsHorizontal(side);
    for (const Row &row : m_sites[side]) {
        int depth = 0;
        for (const Entry &entry : row)
            if (m_shown(entry.bar)) {
                SIZE size = m_size(entry.bar, horizontal);
                depth = std::max(depth, int(horizontal ? size.cy : size.cx));
            }
        depths.push_back(depth);
    }
    return depths;
}

int CDockLayout::Depth(DockSide side) const
{
    int depth = 0;
    for (int row : RowDepths(side))
        depth += row;
    return depth;
}

// How far point lies inside area from side's edge.
int CDockLayout::Distance(DockSide side, const RECT &area, POINT point)
{
    switch (side) {
    case DockTop:
        return point.y - area.top;
    case DockBottom:
        return area.bottom - 1 - point.y;
    case DockLeft:
        return point.x - area.left;
    default:
        return area.right - 1 - point.x;
    }
}

CDockLayout::Place CDockLayout::DropTarget(const RECT &area, DWORD allowed, POINT point, POINT lead) const
{
    Place place;
    if (!PtInRect(&area, point))
        return place;
    DockSide nearest = DockFloat;
    int best = INT_MAX;
    for (DockSide side : {DockTop, DockBottom, DockLeft, DockRight}) {
        int distance = Distance(side, area, point);
        if ((allowed & AlignOf(side)) && distance < Depth(side) + SnapBand && distance < best) {
            best = distance;
            nearest = side;
        }
    }
    return nearest == DockFloat ? place : PlaceOn(nearest, area, point, lead);
}

CDockLayout::Place CDockLayout::PlaceOn(DockSide side, const RECT &area, POINT point, POINT lead) const
{
    Place place;
    place.side = side;
    std::vector<int> depths = RowDepths(side);
    int distance = Distance(side, area, point);
    place.row = int(depths.size());
    int reach = 0;
    for (size_t r = 0; r < depths.size(); ++r) {
        reach += depths[r];
        if (distance < reach) {
            place.row = int(r);
            break;
        }
    }
    // The left and right sides start below the top rows.
    place.pos = IsHorizontal(side) ? lead.x - area.left : lead.y - (area.top + Depth(DockTop));
    if (place.pos < 0)
        place.pos = 0;
    return place;
}

RECT CDockLayout::Arrange(const RECT &area, std::vector<std::pair<int, RECT>> *rects) const
{
    RECT rest = area;
    for (DockSide side : {DockTop, DockBottom, DockLeft, DockRight}) {
        bool horizontal = IsHorizontal(side);
        int start = horizontal ? rest.left : rest.top;
        int length = std::max(0, int(horizontal ? rest.right - rest.left : rest.bottom - rest.top));
        for (const Row &row : m_sites[side]) {
            struct Placed {
                int bar, pos, length;
            };
            std::vector<Placed> placed;
            int depth = 0;
            for (const Entry &entry : row) {
                if (!m_shown(entry.bar))
                    continue;
                SIZE size = m_size(entry.bar, horizontal);
                depth = std::max(depth, int(horizontal ? size.cy : size.cx));
                placed.push_back({entry.bar, entry.pos, std::min(length, int(horizontal ? size.cx : size.cy))});
            }
            int room = std::max(0, int(horizontal ? rest.bottom - rest.top : rest.right - rest.left));
            depth = std::min(depth, room);
            if (placed.empty() || depth <= 0 || length <= 0)
                continue;
            std::stable_sort(placed.begin(), placed.end(),
                             [](const Placed &a, const Placed &b) { return a.pos < b.pos; });
            // Each bar at its place or after the one before; then pushed
            // back from the end so that the row fits where it can.
            int end = 0;
            for (Placed &p : placed) {
                p.pos = std::max(p.pos, end);
                end = p.pos + p.length;
            }
            int limit = length;
            for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
                p->pos = std::min(p->pos, limit - p->length);
                limit = p->pos;
            }
            end = 0;
            for (Placed &p : placed) {
                p.pos = std::max(p.pos, end);
                end = p.pos + p.length;
                RECT rect;
                switch (side) {
                case DockTop:
                    rect = {start + p.pos, rest.top, start + end, rest.top + depth};
                    break;
                case DockBottom:
                    rect = {start + p.pos, rest.bottom - depth, start + end, rest.bottom};
                    break;
                case DockLeft:
                    rect = {rest.left, start + p.pos, rest.left + depth, start + end};
                    break;
                default:
                    rect = {rest.right - depth, start + p.pos, rest.right, start + end};
                    break;
                }
                if (rects)
                    rects->push_back({p.bar, rect});
            }
            switch (side) {
            case DockTop:
                rest.top += depth;
                break;
            case DockBottom:
                rest.bottom -= depth;
                break;
            case DockLeft:
                rest.left += depth;
                break;
            default:
                rest.right -= depth;
                break;
            }
        }
    }
    return rest;
}
