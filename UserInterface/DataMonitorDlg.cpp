#include "DataMonitorDlg.h"
#include "SheetResource.h"

namespace {

// Whether "iiii" and "WWWW" are as wide in font.
bool IsFixedPitch(HFONT font)
{
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE narrow = {}, wide = {};
    bool fixed = GetTextExtentPoint32A(dc, "iiii", 4, &narrow) && GetTextExtentPoint32A(dc, "WWWW", 4, &wide) &&
                 narrow.cx == wide.cx && narrow.cx > 0;
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    return fixed;
}

// A fixed-pitch font of the height of window's font, from the first
// fixed-pitch face the system has; null when it has none.
HFONT CreateFixedPitchFont(HWND window)
{
    LOGFONTA font = {};
    HFONT shown = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    if (!shown || !GetObjectA(shown, sizeof font, &font))
        font.lfHeight = -12;
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    font.lfItalic = font.lfUnderline = font.lfStrikeOut = 0;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    // The dialog asks for "Courier", which not every system has: the font
    // mapper then gives a proportional face. The first of these that is
    // there, else whatever fixed-pitch face the mapper finds.
    for (const char *face : {"Courier New", "Courier", "Lucida Console", "DejaVu Sans Mono", "Liberation Mono", ""}) {
        lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
        HFONT candidate = CreateFontIndirectA(&font);
        if (candidate && IsFixedPitch(candidate))
            return candidate;
        if (candidate)
            DeleteObject(candidate);
    }
    return NULL;
}

} // namespace

CDataMonitorDlg::CDataMonitorDlg(HINSTANCE instance, IQORDriver *server, LONG handle)
    : CDialog(instance, IDD_DATA_MONITOR), m_monitor(server, handle)
{
}

CDataMonitorDlg::~CDataMonitorDlg()
{
    DestroyWindow();
    if (m_listFont)
        DeleteObject(m_listFont);
}

BOOL CDataMonitorDlg::OnInitDialog()
{
    SetTimer(Window(), RefreshTimer, RefreshMs, nullptr);
    HWND formats = Item(IDC_MONITOR_FORMAT);
    for (const MonitorFormatInfo &format : MonitorFormats)
        SendMessageA(formats, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(format.name));
    m_monitor.Open();
    SetWindowTextA(Window(), m_monitor.Title().c_str());
    SetItemText(IDC_MONITOR_START, m_monitor.StartAddress());
    SendMessageA(formats, CB_SETCURSEL, 0, 0);
    // The lines' columns line up only in a fixed-pitch font.
    if (!m_listFont)
        m_listFont = CreateFixedPitchFont(Window());
    HGDIOBJ font = m_listFont ? m_listFont : GetStockObject(ANSI_FIXED_FONT);
    SendMessageA(Item(IDC_MONITOR_LIST), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Wide enough for the longest line of any format.
    SendMessageA(Item(IDC_MONITOR_LIST), LB_SETHORIZONTALEXTENT, 1400, 0);
    EnableItem(IDC_MONITOR_HELP, bool(m_help));
    Refresh();
    return TRUE;
}

void CDataMonitorDlg::Refresh()
{
    bool bytes = m_monitor.Refresh();
    SetItemText(IDC_MONITOR_READ, m_monitor.ReadTime());
    SetItemText(IDC_MONITOR_WRITTEN, m_monitor.WriteTime());
    SetItemText(IDC_MONITOR_ERROR, m_monitor.ErrorTime());
    SetItemText(IDC_MONITOR_QUALITY, m_monitor.Quality());
    if (!bytes)
        return;
    HWND list = Item(IDC_MONITOR_LIST);
    LRESULT selection = SendMessageA(list, LB_GETCURSEL, 0, 0);
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    m_refreshing = true;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    const std::vector<std::string> &lines = m_monitor.Lines();
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        // A line in place: the old one goes, the new one takes its index.
        if (LRESULT(i) < count)
            SendMessageA(list, LB_DELETESTRING, i, 0);
        SendMessageA(list, LB_INSERTSTRING, i, reinterpret_cast<LPARAM>(lines[i].c_str()));
    }
    while (SendMessageA(list, LB_GETCOUNT, 0, 0) > LRESULT(lines.size()))
        SendMessageA(list, LB_DELETESTRING, lines.size(), 0);
    if (selection >= 0 && selection < LRESULT(lines.size()))
        SendMessageA(list, LB_SETCURSEL, WPARAM(selection), 0);
    SendMessageA(list, LB_SETTOPINDEX, WPARAM(top), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    m_refreshing = false;
}

bool CDataMonitorDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_MONITOR_FORMAT:
        if (code == CBN_SELCHANGE) {
            m_monitor.SetFormat(int(SendMessageA(control, CB_GETCURSEL, 0, 0)));
            Refresh();
        }
        return true;
    case IDC_MONITOR_REFRESH:
        Refresh();
        return true;
    case IDC_MONITOR_LIST:
        // Its notifications mean nothing while the lines are replaced.
        return true;
    case IDC_MONITOR_HELP:
        if (m_help)
            m_help("QORf1.chm::\\s7DataMonitor.htm>pop-up");
        return true;
    }
    return CDialog::OnCommand(id, code, control);
}

bool CDataMonitorDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR *result)
{
    if (message == WM_TIMER && wParam == RefreshTimer) {
        Refresh();
        *result = TRUE;
        return true;
    }
    return false;
}

void CDataMonitorDlg::OnOK()
{
    KillTimer(Window(), RefreshTimer);
    EndDialog(IDOK);
}
