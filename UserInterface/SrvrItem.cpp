#include "SrvrItem.h"
#include "StatsForm.h"
#include "UserInterfaceDoc.h"

void CUserInterfaceSrvrItem::Refresh()
{
    std::vector<std::string> lines;
    CDriverFormData driver(m_doc);
    if (m_doc.Server() && driver.Refresh(false)) {
        lines.push_back(driver.Text(0).empty() ? "QOR" : driver.Text(0));
        // The file's name; its folder would not fit.
        std::string title = m_doc.Title();
        lines.push_back(title.substr(title.find_last_of('\\') + 1));
        lines.push_back("Channels: " + driver.Text(1));
        lines.push_back("Devices: " + driver.Text(2));
        lines.push_back("Data Blocks: " + driver.Text(3));
    } else {
        lines.push_back("QOR");
        lines.push_back("No I/O server connected");
    }
    m_lines = lines;
}

void CUserInterfaceSrvrItem::Draw(HDC dc, const RECT &bounds)
{
    LONG width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    HBRUSH face = CreateSolidBrush(RGB(255, 255, 255));
    HPEN edge = CreatePen(PS_SOLID, width / 100 + 1, RGB(0, 0, 128));
    HGDIOBJ oldBrush = SelectObject(dc, face), oldPen = SelectObject(dc, edge);
    Rectangle(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    // A title band, then one line of text each below it.
    HBRUSH band = CreateSolidBrush(RGB(0, 0, 128));
    RECT title = {bounds.left, bounds.top, bounds.right, bounds.top + height / 6};
    FillRect(dc, &title, band);
    LOGFONTA font = {};
    font.lfHeight = -(height / 14);
    font.lfWeight = FW_BOLD;
    lstrcpyA(font.lfFaceName, "Arial");
    HFONT bold = CreateFontIndirectA(&font);
    font.lfWeight = FW_NORMAL;
    font.lfHeight = -(height / 18);
    HFONT normal = CreateFontIndirectA(&font);
    HGDIOBJ oldFont = SelectObject(dc, bold);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT text = title;
    text.left += width / 20;
    DrawTextA(dc, "Tolvane", -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    SetTextColor(dc, RGB(0, 0, 0));
    LONG line = height / 9, top = title.bottom + height / 20;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        // Plain text: a metafile measures nothing, so a long line is clipped.
        SelectObject(dc, normal);
        RECT row = {bounds.left + width / 20, top, bounds.right - width / 20, top + line};
        DrawTextA(dc, m_lines[i].c_str(), -1, &row, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
        top += line;
    }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(bold);
    DeleteObject(normal);
    DeleteObject(band);
    DeleteObject(face);
    DeleteObject(edge);
}
