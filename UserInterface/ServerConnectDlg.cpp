#include "ServerConnectDlg.h"
#include "DataExchange.h"
#include "resource.h"

CServerConnectDlg::CServerConnectDlg(HINSTANCE instance, CServerConnection &connection, INetworkSource &network,
                                     IMessageSink &messages, const std::string &node)
    : CDialog(instance, TemplateId), m_connection(connection), m_tree(network, messages), m_node(node)
{
}

void CServerConnectDlg::DoDataExchange(CDataExchange &dx)
{
    DDX_Radio(dx, IDC_USE_LOCAL, 2, m_remote);
    DDX_Text(dx, IDC_MACHINE_NAME, m_machine);
    DDX_Check(dx, IDC_SHOW_ON_STARTUP, m_show);
}

BOOL CServerConnectDlg::OnInitDialog()
{
    m_remote = m_connection.Remote() ? 1 : 0;
    m_show = m_connection.ShowOnStartup() ? 1 : 0;
    m_machine = m_connection.MachineName();
    UpdateData(false);
    EnableRemote(m_remote == 1);
    Insert(m_tree.Root(), TVI_ROOT);

    CServerConnection::Outcome outcome = m_connection.Start(m_node);
    m_node.clear();
    if (outcome != CServerConnection::ShowDialog) {
        Finish(outcome);
        return TRUE;
    }
    // A node from the command line became the dialog's choice.
    m_remote = m_connection.Remote() ? 1 : 0;
    m_machine = m_connection.MachineName();
    UpdateData(false);
    EnableRemote(m_remote == 1);
    return TRUE;
}

void CServerConnectDlg::EnableRemote(bool remote)
{
    EnableItem(IDC_MACHINE_NAME, remote);
    EnableItem(IDC_NETWORK_TREE, remote);
}

void CServerConnectDlg::Finish(CServerConnection::Outcome outcome)
{
    if (outcome == CServerConnection::ShowDialog) {
        ShowWindow(Window(), SW_SHOW);
        return;
    }
    EndDialog(outcome);
}

bool CServerConnectDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_USE_LOCAL:
    case IDC_USE_REMOTE:
        if (code == BN_CLICKED)
            EnableRemote(id == IDC_USE_REMOTE);
        return true;
    case IDC_CONNECT:
    case IDOK:
        if (!UpdateData(true))
            return true;
        Finish(m_connection.Connect(m_remote == 1, m_machine, m_show != 0));
        return true;
    case IDCANCEL:
        Finish(m_connection.Cancel());
        return true;
    default:
        return false;
    }
}

HTREEITEM CServerConnectDlg::Insert(CNetworkTree::Item &item, HTREEITEM parent)
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<char *>(item.label.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(&item);
    insert.item.cChildren = item.hasButton ? 1 : 0;
    HTREEITEM handle = reinterpret_cast<HTREEITEM>(
        SendDlgItemMessageA(Window(), IDC_NETWORK_TREE, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    item.handle = handle;
    return handle;
}

bool CServerConnectDlg::OnNotify(NMHDR *header, LRESULT *result)
{
    if (header->idFrom != IDC_NETWORK_TREE)
        return false;
    // The control may speak either character set; only the item's
    // parameter is read, which both forms keep at the same place.
    if (header->code == TVN_ITEMEXPANDINGA || header->code == TVN_ITEMEXPANDINGW) {
        NMTREEVIEWA *view = reinterpret_cast<NMTREEVIEWA *>(header);
        auto *item = reinterpret_cast<CNetworkTree::Item *>(view->itemNew.lParam);
        if (item && view->action == TVE_EXPAND && !item->expandedOnce) {
            size_t before = item->children.size();
            m_tree.Expand(*item);
            for (size_t i = before; i < item->children.size(); ++i)
                Insert(*item->children[i], view->itemNew.hItem);
            if (!item->hasButton) {
                TVITEMA update = {};
                update.mask = TVIF_CHILDREN | TVIF_HANDLE;
                update.hItem = view->itemNew.hItem;
                update.cChildren = 0;
                SendDlgItemMessageA(Window(), IDC_NETWORK_TREE, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
            }
        }
        *result = FALSE;
        return true;
    }
    if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) {
        NMTREEVIEWA *view = reinterpret_cast<NMTREEVIEWA *>(header);
        if (auto *item = reinterpret_cast<CNetworkTree::Item *>(view->itemNew.lParam))
            SetItemText(IDC_MACHINE_NAME, CNetworkTree::SelectedName(*item));
        return true;
    }
    return false;
}
