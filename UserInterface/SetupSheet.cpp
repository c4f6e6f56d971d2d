#include "SetupSheet.h"
#include <commctrl.h>
#include "SheetResource.h"
#include "UserInterfaceDoc.h"

CPropertyPageBrowser::CPropertyPageBrowser(HINSTANCE instance, CUserInterfaceDoc &doc, SetupValues &values)
    : CPropertyPage(instance, IDD_SETUP_BROWSER), m_doc(doc), m_values(values)
{
}

BOOL CPropertyPageBrowser::OnInitDialog()
{
    CheckDlgButton(Window(), IDC_SHOW_BUTTONS, m_values.buttons ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(Window(), IDC_SHOW_LINES, m_values.lines ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(Window(), IDC_LINES_AT_ROOT, m_values.linesAtRoot ? BST_CHECKED : BST_UNCHECKED);
    SetItemText(IDC_REFRESH_RATE, std::to_string(m_values.refreshRate));
    return TRUE;
}

bool CPropertyPageBrowser::OnKillActive()
{
    DWORD rate = 0;
    if (!ParseSetupRefreshRate(ItemText(IDC_REFRESH_RATE), rate)) {
        m_doc.Messages().Box(RefreshRateRange, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
        SetFocus(Item(IDC_REFRESH_RATE));
        SendMessageA(Item(IDC_REFRESH_RATE), EM_SETSEL, 0, -1);
        return false;
    }
    m_values.refreshRate = rate;
    m_values.buttons = IsDlgButtonChecked(Window(), IDC_SHOW_BUTTONS) == BST_CHECKED;
    m_values.lines = IsDlgButtonChecked(Window(), IDC_SHOW_LINES) == BST_CHECKED;
    m_values.linesAtRoot = IsDlgButtonChecked(Window(), IDC_LINES_AT_ROOT) == BST_CHECKED;
    return true;
}

CPropertyPagePath::CPropertyPagePath(HINSTANCE instance, SetupValues &values)
    : CPropertyPage(instance, IDD_SETUP_PATH), m_values(values)
{
}

BOOL CPropertyPagePath::OnInitDialog()
{
    SetItemText(IDC_DEFAULT_NAME, m_values.fileName);
    SetItemText(IDC_DEFAULT_PATH, m_values.filePath);
    return TRUE;
}

bool CPropertyPagePath::OnKillActive()
{
    m_values.fileName = ItemText(IDC_DEFAULT_NAME);
    m_values.filePath = ItemText(IDC_DEFAULT_PATH);
    return true;
}

CPropertyPageAdvanced::CPropertyPageAdvanced(HINSTANCE instance, CAdvancedSettings &settings, IQORDriver *server,
                                             const std::string &machine)
    : CPropertyPage(instance, IDD_SETUP_ADVANCED), m_settings(settings), m_server(server), m_machine(machine)
{
}

void CPropertyPageAdvanced::OnSetActive()
{
    m_settings.Load(m_machine);
    for (int control : CAdvancedSettings::TextFields)
        SetItemText(control, m_settings.Text(control));
    m_timeout = m_settings.Text(IdcTimeout);
    CheckRadioButton(Window(), IdcSimulationOff, IdcSimulationOn,
                     m_settings.Simulation() ? IdcSimulationOn : IdcSimulationOff);
    CheckRadioButton(Window(), IdcAutoCreateOn, IdcAutoCreateOff,
                     m_settings.AutoCreate() ? IdcAutoCreateOn : IdcAutoCreateOff);
    CheckRadioButton(Window(), IdcAutoStartOff, IdcAutoStartOn,
                     m_settings.AutoStart() ? IdcAutoStartOn : IdcAutoStartOff);
}

void CPropertyPageAdvanced::Save()
{
    for (int control : CAdvancedSettings::TextFields)
        m_settings.SetText(control, ItemText(control));
    m_settings.SetSwitches(IsDlgButtonChecked(Window(), IdcSimulationOn) == BST_CHECKED,
                           IsDlgButtonChecked(Window(), IdcAutoCreateOn) == BST_CHECKED,
                           IsDlgButtonChecked(Window(), IdcAutoStartOn) == BST_CHECKED);
}

bool CPropertyPageAdvanced::OnKillActive()
{
    Save();
    return m_settings.Leave(m_server);
}

bool CPropertyPageAdvanced::OnCommand(int id, int code, HWND control)
{
    // The timeout is checked as the user leaves it; the old text comes back
    // when it is refused. An empty field is left alone until the page is.
    if (id == IdcTimeout && code == EN_KILLFOCUS && !m_checking) {
        std::string text = ItemText(IdcTimeout);
        if (text == m_timeout || text.empty())
            return true;
        m_checking = true;
        if (m_settings.CheckTimeout(text)) {
            m_timeout = text;
        } else {
            SetItemText(IdcTimeout, m_timeout);
            PostMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        }
        m_checking = false;
        return true;
    }
    return CPropertyPage::OnCommand(id, code, control);
}

void RunSetupSheet(HINSTANCE instance, HWND owner, CUserInterfaceDoc &doc, HWND tree)
{
    SetupValues before;
    before.refreshRate = doc.RefreshRate();
    if (tree) {
        LONG_PTR style = GetWindowLongPtrA(tree, GWL_STYLE);
        before.buttons = (style & TVS_HASBUTTONS) != 0;
        before.lines = (style & TVS_HASLINES) != 0;
        before.linesAtRoot = (style & TVS_LINESATROOT) != 0;
    }
    doc.ReadServerDefaults(before.fileName, before.filePath);
    SetupValues after = before;

    CServerConnection &connection = doc.Connection();
    std::string machine = connection.ConnectedLocally() ? std::string() : connection.ConnectedName();
    CRegistrySettingsKey key;
    CAdvancedSettings advanced(key, doc.Messages(), doc.Texts());
    char title[64] = "Tolvane";
    LoadStringA(instance, IDS_SHEET_TITLE, title, sizeof title);
    CPropertySheet sheet(instance, title);
    CPropertyPageBrowser browser(instance, doc, after);
    CPropertyPagePath path(instance, after);
    CPropertyPageAdvanced page(instance, advanced, doc.Server(), machine);
    sheet.AddPage(browser);
    sheet.AddPage(path);
    sheet.AddPage(page);
    if (sheet.DoModal(owner) == IDOK)
        ApplySetup(doc, before, after);
}
