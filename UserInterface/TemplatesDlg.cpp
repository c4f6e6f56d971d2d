#include "TemplatesDlg.h"
#include <commctrl.h>
#include "SettingsKey.h"
#include "SheetResource.h"
#include "Templates.h"
#include "UserInterfaceDoc.h"
#include "resource.h"

const char *const CTemplatesDlg::TabTitles[3] = {" Channel ", " Device ", " Data Block "};

CTemplatesDlg::CTemplatesDlg(HINSTANCE instance, CUserInterfaceDoc &doc)
    : CDialog(instance, IDD_TEMPLATES), m_doc(doc),
      m_forms{CObjectForm(doc, KindChannel), CObjectForm(doc, KindDevice), CObjectForm(doc, KindDataBlock)},
      m_panes{CFormPane(instance, m_forms[0]), CFormPane(instance, m_forms[1]), CFormPane(instance, m_forms[2])}
{
}

CTemplatesDlg::~CTemplatesDlg()
{
    if (m_images)
        ImageList_Destroy(m_images);
}

BOOL CTemplatesDlg::OnInitDialog()
{
    HWND tabs = Item(IDC_TEMPLATE_TABS);
    m_images = ImageList_Create(32, 32, ILC_COLOR24 | ILC_MASK, 3, 0);
    int added = 0;
    for (int icon : {IDI_CHANNEL, IDI_DEVICE, IDI_DATABLOCK}) {
        HICON handle = static_cast<HICON>(LoadImageA(m_instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, 32, 32, 0));
        if (handle && ImageList_AddIcon(m_images, handle) >= 0)
            ++added;
        if (handle)
            DestroyIcon(handle);
    }
    if (added == 3) {
        ImageList_SetBkColor(m_images, GetSysColor(COLOR_BTNFACE));
        TabCtrl_SetImageList(tabs, m_images);
        for (int i = 0; i < 3; ++i) {
            TCITEMA item = {};
            item.mask = TCIF_TEXT | TCIF_IMAGE;
            item.pszText = const_cast<char *>(TabTitles[i]);
            item.iImage = i;
            SendMessageA(tabs, TCM_INSERTITEMA, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        }
    }
    // The tab control fits the largest pane, the dialog the tab control and
    // the buttons' row below it.
    SIZE largest = {0, 0};
    for (int i = 0; i < 3; ++i) {
        m_forms[i].Load();
        if (!m_panes[i].CreatePane(Window()))
            continue;
        SIZE size = m_panes[i].Size();
        largest.cx = size.cx > largest.cx ? size.cx : largest.cx;
        largest.cy = size.cy > largest.cy ? size.cy : largest.cy;
    }
    RECT tabRect;
    GetWindowRect(tabs, &tabRect);
    MapWindowPoints(NULL, Window(), reinterpret_cast<POINT *>(&tabRect), 2);
    RECT area = {tabRect.left, tabRect.top, tabRect.left + largest.cx, tabRect.top + largest.cy};
    TabCtrl_AdjustRect(tabs, TRUE, &area);
    area.right += 4, area.bottom += 4;
    int shiftX = tabRect.left - area.left, shiftY = tabRect.top - area.top;
    OffsetRect(&area, shiftX, shiftY);
    MoveWindow(tabs, area.left, area.top, area.right - area.left, area.bottom - area.top, FALSE);
    RECT button;
    GetWindowRect(Item(IDOK), &button);
    int buttonWidth = button.right - button.left, buttonHeight = button.bottom - button.top;
    int clientWidth = area.right + tabRect.left, clientHeight = area.bottom + buttonHeight + 20;
    MoveWindow(Item(IDCANCEL), area.right - buttonWidth, area.bottom + 10, buttonWidth, buttonHeight, FALSE);
    MoveWindow(Item(IDOK), area.right - 2 * buttonWidth - 8, area.bottom + 10, buttonWidth, buttonHeight, FALSE);
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrA(Window(), GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrA(Window(), GWL_EXSTYLE)));
    SetWindowPos(Window(), NULL, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT page = area;
    TabCtrl_AdjustRect(tabs, FALSE, &page);
    for (int i = 0; i < 3; ++i) {
        if (!m_panes[i].Window())
            continue;
        // Each pane fills the page, so the three look alike.
        MoveWindow(m_panes[i].Window(), page.left, page.top, page.right - page.left, page.bottom - page.top, FALSE);
        SetWindowPos(m_panes[i].Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    TabCtrl_SetCurSel(tabs, 0);
    ShowTab(0);
    return TRUE;
}

void CTemplatesDlg::ShowTab(int tab)
{
    for (int i = 0; i < 3; ++i) {
        if (i != tab && IsWindowVisible(m_panes[i].Window()))
            m_panes[i].CommitCombos();
        ShowWindow(m_panes[i].Window(), i == tab ? SW_SHOW : SW_HIDE);
    }
}

bool CTemplatesDlg::OnNotify(NMHDR *header, LRESULT *result)
{
    if (header->idFrom == IDC_TEMPLATE_TABS && header->code == TCN_SELCHANGE) {
        ShowTab(TabCtrl_GetCurSel(header->hwndFrom));
        *result = 0;
        return true;
    }
    return false;
}

void CTemplatesDlg::OnOK()
{
    for (CFormPane &pane : m_panes) {
        if (IsWindowVisible(pane.Window())) {
            pane.CommitFocused();
            pane.CommitCombos();
        }
    }
    EndDialog(IDOK);
}

void RunTemplatesDialog(HINSTANCE instance, HWND owner, CUserInterfaceDoc &doc)
{
    CServerConnection &connection = doc.Connection();
    std::string machine = connection.ConnectedLocally() ? std::string() : connection.ConnectedName();
    CRegistrySettingsKey key;
    CTemplates templates(key, doc.Messages());
    templates.Read(machine, doc.TemplateChannel(), doc.TemplateDevice(), doc.TemplateDataBlock());
    // Template mode keeps the panes' values from the server; a proxy's
    // values are kept only on OK.
    CChannelItem channel = doc.TemplateChannel();
    CDeviceItem device = doc.TemplateDevice();
    CDataBlockItem block = doc.TemplateDataBlock();
    doc.SetTemplateMode(true);
    INT_PTR result;
    {
        CTemplatesDlg dialog(instance, doc);
        result = dialog.DoModal(owner);
    }
    doc.SetTemplateMode(false);
    if (result == IDOK) {
        templates.Write(machine, doc.TemplateChannel(), doc.TemplateDevice(), doc.TemplateDataBlock());
    } else {
        doc.TemplateChannel() = channel;
        doc.TemplateDevice() = device;
        doc.TemplateDataBlock() = block;
    }
}
