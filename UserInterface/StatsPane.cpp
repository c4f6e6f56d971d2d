#include "StatsPane.h"
#include <commctrl.h>
#include "resource.h"

void ShowPopupMenu(HINSTANCE instance, int menuId, HWND owner, LPARAM point)
{
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(menuId));
    if (!menu)
        return;
    POINT at = {short(LOWORD(point)), short(HIWORD(point))};
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, NULL);
    DestroyMenu(menu);
}

// --- the statistics forms --------------------------------------------------------------

CStatsPane::CStatsPane(HINSTANCE instance, CUserInterfaceDoc &document, IErrorTexts &texts, int kind)
    : CDialog(instance, UINT(ViewFormFor(kind, 0))),
      m_form(document, texts, kind, m_timer), m_doc(document)
{
}

int CStatsPane::TitleControl() const
{
    switch (m_form.Kind()) {
    case KindChannel: return IDC_CHS_TITLE;
    case KindDevice: return IDC_DEVS_TITLE;
    case KindDataBlock: return IDC_DBS_TITLE;
    }
    return 0;
}

int CStatsPane::TroubleshootingControl() const
{
    switch (m_form.Kind()) {
    case KindChannel: return IDC_CHS_TROUBLESHOOTING;
    case KindDevice: return IDC_DEVS_TROUBLESHOOTING;
    case KindDataBlock: return IDC_DBS_TROUBLESHOOTING;
    }
    return IDC_SYS_TROUBLESHOOTING;
}

bool CStatsPane::CreatePane(HWND parent)
{
    if (!Create(parent))
        return false;
    m_timer.SetWindow(Window());
    return true;
}

BOOL CStatsPane::OnInitDialog()
{
    m_form.Init();
    EnableItem(TroubleshootingControl(), bool(m_help));
    // The block pane's data monitor, enabled when the view gives its dialog.
    if (Item(IDC_DBS_MONITOR))
        EnableItem(IDC_DBS_MONITOR, bool(m_monitor));
    return FALSE;
}

void CStatsPane::Show()
{
    EnableItem(TroubleshootingControl(), bool(m_help));
    UpdateTitle();
    m_form.Show();
    Fill();
    ShowWindow(Window(), SW_SHOW);
}

void CStatsPane::UpdateTitle()
{
    if (int title = TitleControl())
        SetItemText(title, m_form.Title());
}

void CStatsPane::Hide()
{
    m_form.Hide();
    ShowWindow(Window(), SW_HIDE);
}

void CStatsPane::Fill()
{
    const std::vector<StatsField> &fields = m_form.Fields();
    for (const StatsField &field : fields) {
        std::string text = m_form.Text(field.index);
        if (ItemText(field.control) != text)
            SetItemText(field.control, text);
    }
    if (m_form.Kind() == KindDataBlock)
        FillErrors();
    UpdateWindow(Window());
}

void CStatsPane::FillErrors()
{
    HWND list = Item(IDC_DBS_ERRORS);
    if (!list)
        return;
    // Refilled at each tick: the reader keeps the focus and the line at the top.
    HWND focus = GetFocus();
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const std::string &line : m_form.ErrorLines())
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageA(list, LB_SETTOPINDEX, WPARAM(top), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
    if (focus && GetFocus() != focus)
        SetFocus(focus);
}

bool CStatsPane::OnCommand(int id, int code, HWND control)
{
    m_doc.SetHelpContextFromPane(id, code);
    if (id == TroubleshootingControl() && code == BN_CLICKED) {
        if (m_help)
            m_help(CStatsForm::TroubleshootingTopic(m_helpFile));
        return true;
    }
    if (id == IDC_DBS_MONITOR && code == BN_CLICKED) {
        if (m_monitor)
            m_monitor();
        return true;
    }
    return CDialog::OnCommand(id, code, control);
}

bool CStatsPane::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result)
{
    if (message == WM_TIMER && wParam == m_form.TimerId()) {
        m_form.Tick();
        Fill();
        *result = 0;
        return true;
    }
    if (message == WM_CONTEXTMENU && m_menuOwner) {
        ShowPopupMenu(m_instance, IDR_STATS_POPUP, m_menuOwner, lParam);
        *result = TRUE;
        return true;
    }
    return false;
}

// --- the driver form -------------------------------------------------------------------

CDriverPane::CDriverPane(HINSTANCE instance, CUserInterfaceDoc &document)
    : CDialog(instance, IDD_DRIVER_FORM), m_data(document), m_doc(document)
{
}

BOOL CDriverPane::OnInitDialog()
{
    // The tips of the four fields, created inactive.
    m_tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Window(), NULL, m_instance, NULL);
    if (m_tips) {
        for (int i = 0; i < 4; ++i) {
            TOOLINFOA tool = {};
            tool.cbSize = TTTOOLINFOA_V1_SIZE;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = Window();
            tool.uId = reinterpret_cast<UINT_PTR>(Item(CDriverFormData::Controls[i]));
            tool.lpszText = const_cast<char *>(CDriverFormData::Tips[i]);
            SendMessageA(m_tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
        }
        SendMessageA(m_tips, TTM_SETMAXTIPWIDTH, 0, 256);
        SendMessageA(m_tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 60000);
        SendMessageA(m_tips, TTM_ACTIVATE, FALSE, 0);
    }
    EnableItem(IDC_GETTING_STARTED, bool(m_help));
    return FALSE;
}

void CDriverPane::Refresh()
{
    EnableItem(IDC_GETTING_STARTED, bool(m_help));
    if (!m_data.Refresh())
        return;
    for (int i = 0; i < 4; ++i)
        SetItemText(CDriverFormData::Controls[i], m_data.Text(size_t(i)));
}

bool CDriverPane::OnCommand(int id, int code, HWND control)
{
    m_doc.SetHelpContextFromPane(id, code);
    if (id == IDC_GETTING_STARTED && code == BN_CLICKED) {
        if (m_help)
            m_help(CDriverFormData::GettingStartedTopic(m_helpFile));
        return true;
    }
    return CDialog::OnCommand(id, code, control);
}

bool CDriverPane::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR *result)
{
    if (message == WM_CONTEXTMENU && m_menuOwner) {
        ShowPopupMenu(m_instance, IDR_FORM_POPUP, m_menuOwner, lParam);
        *result = TRUE;
        return true;
    }
    return false;
}
