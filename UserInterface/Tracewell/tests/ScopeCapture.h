// Draws a window's client area into a bitmap through WM_PRINTCLIENT and
// counts the pixels of one colour in a rectangle: what the monitor's view
// shows, without a display.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include <gtest/gtest.h>
#include "resource.h"

// The view drawn into a bitmap: how many pixels of each colour a cell area holds.
struct Cells {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    int Count(int left, int top, int right, int bottom, COLORREF colour) const
    {
        // DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
        const uint32_t want = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        int count = 0;
        for (int y = top; y < bottom && y < height; ++y)
            for (int x = left; x < right && x < width; ++x)
                count += (pixels[size_t(y) * width + x] & 0xFFFFFF) == want;
        return count;
    }
};

inline Cells Capture(HWND view)
{
    RECT client;
    GetClientRect(view, &client);
    Cells cells;
    cells.width = client.right;
    cells.height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cells.width;
    info.bmiHeader.biHeight = -cells.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(view, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const uint32_t *p = static_cast<const uint32_t *>(bits);
    cells.pixels.assign(p, p + size_t(cells.width) * cells.height);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return cells;
}


// With 20 sent and then 20 received bytes in the ring, in either font: the
// first line's sent cells yellow on blue, its received cells green on blue,
// nothing below it.
inline void ExpectColoursInBothFonts(HWND frame, HWND view, int cw, int lh)
{
    const COLORREF yellow = RGB(255, 255, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255);
    for (UINT font : {ID_VIEW_ASCII, ID_VIEW_HEX}) {
        SendMessageA(frame, WM_COMMAND, font, 0);
        const Cells cells = Capture(view);
        SCOPED_TRACE(font);
        const int sentArea = 20 * cw * lh;
        EXPECT_GT(cells.Count(0, 0, 20 * cw, lh, blue), sentArea / 3);
        EXPECT_GT(cells.Count(0, 0, 20 * cw, lh, yellow), 20);
        EXPECT_EQ(0, cells.Count(0, 0, 20 * cw, lh, green));
        EXPECT_GT(cells.Count(20 * cw, 0, 40 * cw, lh, blue), sentArea / 3);
        EXPECT_GT(cells.Count(20 * cw, 0, 40 * cw, lh, green), 20);
        EXPECT_EQ(0, cells.Count(20 * cw, 0, 40 * cw, lh, yellow));
        EXPECT_EQ(0, cells.Count(0, lh, 40 * cw, 2 * lh, blue));
    }
}

