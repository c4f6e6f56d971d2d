#include "FormPane.h"
#include <commctrl.h>
#include "StatsPane.h"
#include "resource.h"

CFormPane::CFormPane(HINSTANCE instance, CObjectForm &form)
    : CDialog(instance, form.Kind() == KindChannel ? IDD_CHANNEL_FORM
                        : form.Kind() == KindDevice ? IDD_DEVICE_FORM
                                                    : IDD_DATABLOCK_FORM),
      m_form(form)
{
}

bool CFormPane::CreatePane(HWND parent) { return Create(parent); }

SIZE CFormPane::Size() const
{
    RECT rect = {};
    GetWindowRect(Window(), &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

BOOL CFormPane::OnInitDialog()
{
    for (const FormField &field : m_form.Fields()) {
        HWND control = Item(field.control);
        char className[32] = "";
        GetClassNameA(control, className, sizeof className);
        bool combo = lstrcmpiA(className, "ComboBox") == 0;
        if (field.limit)
            SendMessageA(control, combo ? CB_LIMITTEXT : EM_LIMITTEXT, WPARAM(field.limit), 0);
    }
    if (HWND types = Item(IDC_DB_DATATYPE)) {
        for (const DataTypeEntry &entry : DataTypeList) {
            LRESULT at = SendMessageA(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.text));
            SendMessageA(types, CB_SETITEMDATA, WPARAM(at), LPARAM(entry.code));
        }
    }
    for (int spin : {IDC_DEV_PRIMARY_SPIN, IDC_DEV_BACKUP_SPIN})
        if (HWND control = Item(spin))
            SendMessageA(control, UDM_SETRANGE32, 0, 9);
    // Help, once the help window is there to show it.
    if (Item(IDC_DB_MONITOR))
        EnableItem(IDC_DB_MONITOR, bool(m_monitor));
    if (m_form.Document().TemplateMode())
        HideForTemplates();
    for (int help : {IDC_CH_HELP, IDC_DEV_HELP, IDC_DB_HELP})
        if (Item(help))
            EnableItem(help, bool(m_help));
    Fill();
    return FALSE;
}

void CFormPane::Fill()
{
    m_filling = true;
    const std::vector<FormField> &fields = m_form.Fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const FormField &field = fields[i];
        const std::string &value = m_form.Value(i);
        if (field.type == FieldCheck) {
            CheckDlgButton(Window(), field.control, value == "1" ? BST_CHECKED : BST_UNCHECKED);
        } else if (field.type == FieldDataType) {
            HWND types = Item(field.control);
            int count = int(SendMessageA(types, CB_GETCOUNT, 0, 0)), select = -1;
            for (int at = 0; at < count; ++at)
                if (std::to_string(SendMessageA(types, CB_GETITEMDATA, WPARAM(at), 0)) == value)
                    select = at;
            SendMessageA(types, CB_SETCURSEL, WPARAM(select), 0);
        } else if (ItemText(field.control) != value) {
            SetItemText(field.control, value);
        }
    }
    m_filling = false;
}

std::string CFormPane::ControlText(size_t index) const
{
    const FormField &field = m_form.Fields()[index];
    if (field.type == FieldCheck)
        return IsDlgButtonChecked(Window(), field.control) == BST_CHECKED ? "1" : "0";
    if (field.type == FieldDataType) {
        // Nothing chosen: the value stays as it was.
        HWND types = Item(field.control);
        LRESULT at = SendMessageA(types, CB_GETCURSEL, 0, 0);
        return at < 0 ? m_form.Value(index) : std::to_string(SendMessageA(types, CB_GETITEMDATA, WPARAM(at), 0));
    }
    return ItemText(field.control);
}

void CFormPane::CommitControl(int id)
{
    int index = m_form.IndexOf(id);
    if (index < 0 || m_filling)
        return;
    std::string typed = ControlText(size_t(index));
    CObjectForm::Result result = m_form.Commit(size_t(index), typed);
    if (result == CObjectForm::Refused) {
        // The old value and the focus go back to the field.
        Fill();
        PostMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
    } else if (result == CObjectForm::Committed) {
        Fill();
    }
}

void CFormPane::CommitFocused()
{
    HWND focus = GetFocus();
    if (!focus)
        return;
    // The edit inside a combo box belongs to the combo box.
    if (GetParent(focus) != Window())
        focus = GetParent(focus);
    CommitControl(GetDlgCtrlID(focus));
}

void CFormPane::CommitCombos()
{
    for (int id : {IDC_CH_PRIMARY_CP, IDC_CH_PRIMARY_VFD, IDC_CH_BACKUP_CP, IDC_CH_BACKUP_VFD, IDC_DEV_PRIMARY_CONN,
                   IDC_DEV_BACKUP_CONN})
        if (Item(id))
            CommitControl(id);
}

void CFormPane::FillCombo(int id, const std::vector<std::string> &entries)
{
    HWND combo = Item(id);
    std::string text = ItemText(id);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string &entry : entries)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    SetWindowTextA(combo, text.c_str());
}

void CFormPane::DropDown(int id)
{
    switch (id) {
    case IDC_CH_PRIMARY_CP:
    case IDC_CH_BACKUP_CP:
        if (!m_cpFilled) {
            std::vector<std::string> cps = m_form.CpList();
            FillCombo(IDC_CH_PRIMARY_CP, cps);
            FillCombo(IDC_CH_BACKUP_CP, cps);
            m_cpFilled = true;
        }
        break;
    case IDC_CH_PRIMARY_VFD:
    case IDC_CH_BACKUP_VFD: {
        int side = id == IDC_CH_PRIMARY_VFD ? 0 : 1;
        std::string cp = ItemText(side == 0 ? IDC_CH_PRIMARY_CP : IDC_CH_BACKUP_CP);
        if (cp != m_vfdFilledFor[side]) {
            FillCombo(id, m_form.VfdList(cp));
            m_vfdFilledFor[side] = cp;
        }
        break;
    }
    case IDC_DEV_PRIMARY_CONN:
    case IDC_DEV_BACKUP_CONN:
        FillCombo(id, m_form.ConnList(id == IDC_DEV_PRIMARY_CONN));
        break;
    }
}

bool CFormPane::OnCommand(int id, int code, HWND control)
{
    m_form.Document().SetHelpContextFromPane(id, code);
    if (id == IDC_DB_MONITOR) {
        if (m_monitor)
            m_monitor();
        return true;
    }
    if (id == IDC_CH_HELP || id == IDC_DEV_HELP || id == IDC_DB_HELP) {
        if (m_help)
            m_help(m_form.HelpTopic("QORf1.chm"));
        return true;
    }
    if (!control)
        return CDialog::OnCommand(id, code, control);
    switch (code) {
    case EN_KILLFOCUS:
    case CBN_KILLFOCUS:
        CommitControl(id);
        return true;
    case BN_CLICKED:
        CommitControl(id);
        return true;
    case CBN_SELCHANGE: {
        // The chosen entry is the text to commit.
        LRESULT at = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (at >= 0 && id != IDC_DB_DATATYPE) {
            char text[256] = "";
            if (SendMessageA(control, CB_GETLBTEXTLEN, WPARAM(at), 0) < LRESULT(sizeof text))
                SendMessageA(control, CB_GETLBTEXT, WPARAM(at), reinterpret_cast<LPARAM>(text));
            SetWindowTextA(control, text);
        }
        CommitControl(id);
        return true;
    }
    case CBN_DROPDOWN:
        DropDown(id);
        return true;
    }
    return false;
}

bool CFormPane::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result)
{
    if (message == WM_CONTEXTMENU && m_menuOwner) {
        ShowPopupMenu(m_instance, IDR_FORM_POPUP, m_menuOwner, lParam);
        *result = TRUE;
        return true;
    }
    return false;
}

// The server gives new objects neither their enabled state, nor a block's
// addresses, nor a channel's CP and VFD; the templates' panes do not offer
// them. A hidden field's label goes with it.
void CFormPane::HideForTemplates()
{
    static const int hidden[] = {IDC_CH_ENABLE, IDC_DEV_ENABLE, IDC_DB_ENABLE, IDC_DB_START, IDC_DB_END,
                                 IDC_DB_LENGTH, IDC_CH_PRIMARY_CP, IDC_CH_PRIMARY_VFD, IDC_CH_BACKUP_CP,
                                 IDC_CH_BACKUP_VFD, IDC_DB_MONITOR};
    for (int id : hidden) {
        HWND control = Item(id);
        if (!control)
            continue;
        ShowWindow(control, SW_HIDE);
        HWND label = GetWindow(control, GW_HWNDPREV);
        char className[16] = "";
        if (label && GetDlgCtrlID(label) == -1 && GetClassNameA(label, className, sizeof className) &&
            lstrcmpiA(className, "Static") == 0)
            ShowWindow(label, SW_HIDE);
    }
    // The block's address box keeps only its dead band and data type, moved
    // up into the rows the addresses left.
    if (m_form.Kind() == KindDataBlock && Item(IDC_DB_START) && Item(IDC_DB_DEADBAND)) {
        auto rectOf = [this](HWND control) {
            RECT rect;
            GetWindowRect(control, &rect);
            MapWindowPoints(NULL, Window(), reinterpret_cast<POINT *>(&rect), 2);
            return rect;
        };
        RECT deadband = rectOf(Item(IDC_DB_DEADBAND));
        int dy = deadband.top - rectOf(Item(IDC_DB_START)).top;
        for (HWND child = GetWindow(Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT rect = rectOf(child);
            bool group = (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && GetDlgCtrlID(child) == -1;
            if (group && rect.left <= deadband.left && rect.right >= deadband.right && rect.top < deadband.top &&
                rect.bottom > deadband.bottom) {
                SetWindowPos(child, NULL, 0, 0, rect.right - rect.left, rect.bottom - rect.top - dy,
                             SWP_NOMOVE | SWP_NOZORDER);
            } else if (!group && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) && rect.top >= deadband.top - 4 &&
                       rect.right <= deadband.right + 4 && rect.top < rectOf(Item(IDC_DB_DATATYPE)).bottom) {
                SetWindowPos(child, NULL, rect.left, rect.top - dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            }
        }
    }
    // The channel's CP / VFD boxes hold nothing else.
    if (m_form.Kind() == KindChannel)
        for (HWND child = GetWindow(Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && GetDlgCtrlID(child) == -1) {
                char className[16] = "";
                GetClassNameA(child, className, sizeof className);
                if (lstrcmpiA(className, "Button") == 0)
                    ShowWindow(child, SW_HIDE);
            }
}
