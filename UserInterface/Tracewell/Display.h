// The data monitor's scroll view: draws the ring's lines in the selected
// font, sent and received runs in their colours, and keeps the newest line
// in sight. It runs only on the window's thread.
#pragma once
#include <windows.h>
#include <string>
#include "ScopeLibrary.h"
#include "ScopeLines.h"

// The font faces and files of the monitor.
extern const char ScopeHexFace[];       // "hexfnt"
extern const char ScopeCharFace[];      // "commfnt"
extern const char ScopeHexFontFile[];   // "HEXFNT.FON"
extern const char ScopeCharFontFile[];  // "COMMFNT.FON"

class CDisplay {
public:
    explicit CDisplay(CScopeLibrary &library) : m_library(library) {}
    ~CDisplay();
    CDisplay(const CDisplay &) = delete;
    CDisplay &operator=(const CDisplay &) = delete;

    bool Create(HWND frame);
    HWND Window() const { return m_hwnd; }

    // At the first show: metrics of the current font, scroll sizes; answers
    // the frame client size that holds all lines (plus borders and toolbar).
    SIZE FirstShow();
    // New bytes in the ring: scroll size, newest line at the bottom, repaint.
    void Update();
    // The ring was emptied: one line of scroll size, repaint.
    void Cleared();
    // The ring was reallocated at a new line width.
    void Resized();
    // The font choice or a colour changed.
    void Redraw();

    // How the current choice draws its bytes (Raw when the monitor's own
    // fonts are installed).
    CellForm Form() const;
    bool OwnFontsInstalled() const { return m_ownFonts; }
    int CharWidth() const { return m_charWidth; }
    int LineHeight() const { return m_lineHeight; }
    POINT ScrollPosition() const { return m_scroll; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateFonts();
    void DestroyFonts();
    HFONT CurrentFont() const;
    void Paint(HDC dc, const RECT &area);
    void SetScrollSizes(long width, long height);
    void ScrollTo(long x, long y);
    void OnScroll(int bar, WORD code);

    CScopeLibrary &m_library;
    HWND m_hwnd = NULL;
    HFONT m_hexFont = NULL;
    HFONT m_charFont = NULL;
    bool m_ownFonts = false;
    int m_fontFilesAdded = 0;
    std::string m_fontFolder;
    // The cell of the fallback faces and where their glyphs sit in it.
    int m_fallbackCell = 0;
    int m_fallbackLine = 0;
    int m_glyphWidth = 0;
    int m_digitWidth = 0;
    int m_hexRise = 0;
    int m_charWidth = 0;
    int m_lineHeight = 0;
    SIZE m_content = {0, 0};
    POINT m_scroll = {0, 0};
};
