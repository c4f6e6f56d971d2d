#include "Display.h"
#include <string>
#include <vector>
#include "DisplayFrame.h"
#include "WindowObject.h"
#include "resource.h"

const char ScopeHexFace[] = "hexfnt";
const char ScopeCharFace[] = "commfnt";
const char ScopeHexFontFile[] = "HEXFNT.FON";
const char ScopeCharFontFile[] = "COMMFNT.FON";

namespace {
const char ViewClass[] = "TracewellView";


HFONT MonitorFont(const char *face)
{
    return CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, OEM_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face);
}

bool HasFace(HFONT font, const char *face)
{
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    char actual[LF_FACESIZE] = {0};
    GetTextFaceA(dc, LF_FACESIZE, actual);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    return lstrcmpiA(actual, face) == 0;
}
}  // namespace

CDisplay::~CDisplay()
{
    DestroyFonts();
}

bool CDisplay::Create(HWND frame)
{
    HINSTANCE module = m_library.Module();
    WNDCLASSA wc = {};
    if (!GetClassInfoA(module, ViewClass, &wc)) {
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = ViewClass;
        if (!RegisterClassA(&wc))
            return false;
    }
    m_hwnd = CreateWindowExA(WS_EX_CLIENTEDGE, ViewClass, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL, 0, 0,
                             0, 0, frame, reinterpret_cast<HMENU>(ID_SCOPE_VIEW), module, this);
    return m_hwnd != NULL;
}

void CDisplay::CreateFonts()
{
    m_fontFolder = m_library.FontFolder();
    for (const char *file : {ScopeHexFontFile, ScopeCharFontFile}) {
        const std::string path = m_fontFolder + "\\" + file;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && AddFontResourceA(path.c_str()))
            ++m_fontFilesAdded;
    }
    m_hexFont = MonitorFont(ScopeHexFace);
    m_charFont = MonitorFont(ScopeCharFace);
    m_ownFonts = HasFace(m_hexFont, ScopeHexFace) && HasFace(m_charFont, ScopeCharFace);
    if (m_ownFonts)
        return;
    // Without the monitor's fonts: a fixed-pitch face for characters and a
    // smaller one for the two hex digits; both share one cell wide enough for
    // the digits, each glyph centred in it.
    DeleteObject(m_hexFont);
    DeleteObject(m_charFont);
    m_charFont = CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    m_hexFont = CreateFontA(-9, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    HDC dc = GetDC(NULL);
    TEXTMETRICA charMetrics = {}, hexMetrics = {};
    HGDIOBJ old = SelectObject(dc, m_charFont);
    GetTextMetricsA(dc, &charMetrics);
    SelectObject(dc, m_hexFont);
    GetTextMetricsA(dc, &hexMetrics);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    m_glyphWidth = charMetrics.tmAveCharWidth;
    m_digitWidth = hexMetrics.tmAveCharWidth;
    m_fallbackCell = 2 * m_digitWidth + 3 > m_glyphWidth ? 2 * m_digitWidth + 3 : m_glyphWidth;
    m_fallbackLine = charMetrics.tmHeight + charMetrics.tmExternalLeading;
    m_hexRise = (m_fallbackLine - hexMetrics.tmHeight) / 2;
}

void CDisplay::DestroyFonts()
{
    if (m_hexFont)
        DeleteObject(m_hexFont);
    if (m_charFont)
        DeleteObject(m_charFont);
    m_hexFont = m_charFont = NULL;
    if (m_fontFilesAdded) {
        for (const char *file : {ScopeHexFontFile, ScopeCharFontFile})
            RemoveFontResourceA((m_fontFolder + "\\" + file).c_str());
        // Posted: a busy window elsewhere must not hold up the close.
        PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
        m_fontFilesAdded = 0;
    }
}

HFONT CDisplay::CurrentFont() const
{
    return m_library.Settings().hexFont ? m_hexFont : m_charFont;
}

CellForm CDisplay::Form() const
{
    if (m_ownFonts)
        return CellForm::Raw;
    return m_library.Settings().hexFont ? CellForm::Hex : CellForm::Char;
}

SIZE CDisplay::FirstShow()
{
    if (m_ownFonts) {
        HDC dc = GetDC(m_hwnd);
        HGDIOBJ old = SelectObject(dc, CurrentFont());
        TEXTMETRICA metrics = {};
        GetTextMetricsA(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(m_hwnd, dc);
        m_charWidth = metrics.tmAveCharWidth;
        m_lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    } else {
        m_charWidth = m_fallbackCell;
        m_lineHeight = m_fallbackLine;
    }
    if (m_charWidth < 1)
        m_charWidth = 1;
    if (m_lineHeight < 1)
        m_lineHeight = 1;
    const ScopeSettings &settings = m_library.Settings();
    SetScrollSizes(long(settings.columns) * m_charWidth, 0);
    SIZE client = {long(settings.columns) * m_charWidth + 4, long(settings.rows + 1) * m_lineHeight + 34};
    return client;
}

void CDisplay::SetScrollSizes(long width, long height)
{
    m_content.cx = width;
    m_content.cy = height;
    RECT client;
    GetClientRect(m_hwnd, &client);
    // One bar: the content's extent, the client's extent as the page, the
    // position kept inside the range.
    const auto setBar = [this](int bar, long extent, long page, long &position) {
        if (position > extent - page)
            position = extent - page > 0 ? extent - page : 0;
        SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS, 0, extent > 0 ? int(extent - 1) : 0,
                           UINT(page), int(position), 0};
        SetScrollInfo(m_hwnd, bar, &info, TRUE);
    };
    setBar(SB_HORZ, width, client.right, m_scroll.x);
    setBar(SB_VERT, height, client.bottom, m_scroll.y);
}

void CDisplay::ScrollTo(long x, long y)
{
    RECT client;
    GetClientRect(m_hwnd, &client);
    const long maxX = m_content.cx - client.right > 0 ? m_content.cx - client.right : 0;
    const long maxY = m_content.cy - client.bottom > 0 ? m_content.cy - client.bottom : 0;
    x = x < 0 ? 0 : (x > maxX ? maxX : x);
    y = y < 0 ? 0 : (y > maxY ? maxY : y);
    if (x == m_scroll.x && y == m_scroll.y)
        return;
    m_scroll.x = x;
    m_scroll.y = y;
    SetScrollPos(m_hwnd, SB_HORZ, x, TRUE);
    SetScrollPos(m_hwnd, SB_VERT, y, TRUE);
    InvalidateRect(m_hwnd, NULL, TRUE);
}

void CDisplay::OnScroll(int bar, WORD code)
{
    SCROLLINFO info = {sizeof(info), SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(m_hwnd, bar, &info);
    const long line = bar == SB_VERT ? m_lineHeight : m_charWidth;
    long position = m_scroll.x;
    if (bar == SB_VERT)
        position = m_scroll.y;
    switch (code) {
    case SB_LINEUP: position -= line; break;
    case SB_LINEDOWN: position += line; break;
    case SB_PAGEUP: position -= long(info.nPage); break;
    case SB_PAGEDOWN: position += long(info.nPage); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: position = info.nTrackPos; break;
    case SB_TOP: position = 0; break;
    case SB_BOTTOM: position = info.nMax; break;
    default: return;
    }
    if (bar == SB_VERT)
        ScrollTo(m_scroll.x, position);
    else
        ScrollTo(position, m_scroll.y);
}

void CDisplay::Update()
{
    m_library.Lock();
    const size_t lines = m_library.Ring().LinesUsed();
    m_library.Unlock();
    SetScrollSizes(m_content.cx, long(lines) * m_lineHeight);
    RECT client;
    GetClientRect(m_hwnd, &client);
    const long bottom = ScopeBottomPosition(lines, m_lineHeight, client.bottom);
    if (bottom > 0)
        ScrollTo(m_scroll.x, bottom);
    InvalidateRect(m_hwnd, NULL, TRUE);
    UpdateWindow(m_hwnd);
}

void CDisplay::Cleared()
{
    SetScrollSizes(m_content.cx, m_lineHeight);
    ScrollTo(m_scroll.x, 0);
    InvalidateRect(m_hwnd, NULL, TRUE);
    UpdateWindow(m_hwnd);
}

void CDisplay::Resized()
{
    // The cell metrics stay; the scroll width follows the new line width.
    m_content.cx = long(m_library.Settings().columns) * m_charWidth;
    Cleared();
}

void CDisplay::Redraw()
{
    InvalidateRect(m_hwnd, NULL, TRUE);
    UpdateWindow(m_hwnd);
}

void CDisplay::Paint(HDC dc, const RECT &area)
{
    const ScopeSettings &settings = m_library.Settings();
    const CellForm form = Form();
    std::vector<INT> advances;
    HGDIOBJ oldFont = SelectObject(dc, CurrentFont());
    m_library.Lock();
    const CScopeRing &ring = m_library.Ring();
    if (ring.IsAllocated() && !ring.IsEmpty() && m_lineHeight > 0) {
        size_t first, last;
        ScopeVisibleLines(area.top + m_scroll.y, area.bottom - area.top, m_lineHeight, ring.LinesUsed(), first,
                          last);
        for (size_t line = first; line < last; ++line) {
            const int y = int(long(line) * m_lineHeight - m_scroll.y);
            for (const ScopeRun &run : ScopeLineRuns(ring, line, form)) {
                const bool sent = run.direction != 0;
                SetTextColor(dc, sent ? settings.sendForeground : settings.recvForeground);
                SetBkColor(dc, sent ? settings.sendBackground : settings.recvBackground);
                RECT cells = {int(run.column) * m_charWidth - m_scroll.x, y,
                              int(run.column + run.count) * m_charWidth - m_scroll.x, y + m_lineHeight};
                // Each byte keeps its cell whatever the glyph widths.
                int x = cells.left, rise = 0;
                if (form == CellForm::Hex) {
                    advances.assign(run.text.size(), m_digitWidth);
                    for (size_t i = 1; i < advances.size(); i += 2)
                        advances[i] = m_charWidth - m_digitWidth;
                    x += (m_charWidth - 2 * m_digitWidth) / 2;
                    rise = m_hexRise;
                } else {
                    advances.assign(run.text.size(), m_charWidth);
                    if (form == CellForm::Char)
                        x += (m_charWidth - m_glyphWidth) / 2;
                }
                ExtTextOutA(dc, x, y + rise, ETO_OPAQUE | ETO_CLIPPED, &cells, run.text.data(),
                            UINT(run.text.size()), advances.data());
            }
        }
        InterlockedIncrement(&m_library.Counters().repaints);
    }
    m_library.Unlock();
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK CDisplay::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDisplay *view = WindowObject<CDisplay>(hwnd, message, lParam);
    if (!view)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    view->m_hwnd = hwnd;
    return view->Handle(message, wParam, lParam);
}

LRESULT CDisplay::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateFonts();
        return 0;
    case WM_DESTROY:
        DestroyFonts();
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        m_hwnd = NULL;
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(m_hwnd, &ps);
        Paint(dc, ps.rcPaint);
        EndPaint(m_hwnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client;
        GetClientRect(m_hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_WINDOW));
        Paint(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_SIZE:
        SetScrollSizes(m_content.cx, m_content.cy);
        return 0;
    case WM_VSCROLL:
        OnScroll(SB_VERT, LOWORD(wParam));
        return 0;
    case WM_HSCROLL:
        OnScroll(SB_HORZ, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        ScrollTo(m_scroll.x, m_scroll.y - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3 * m_lineHeight);
        return 0;
    }
    return DefWindowProcA(m_hwnd, message, wParam, lParam);
}
