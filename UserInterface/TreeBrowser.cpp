#include "TreeBrowser.h"
#include "BstrText.h"

const char CTreeBrowserCtrl::TracewellReadFailed[] = "Error getting datablock TracewellOn property";
const char CTreeBrowserCtrl::TracewellWriteFailed[] = "Error setting datablock TracewellOn property";
const char CTreeBrowserCtrl::BstrFailed[] = "Error creating bstring";

namespace {
const wchar_t kTracewellOn[] = L"TracewellOn";
}

void CTreeBrowserCtrl::OnSelChanged(TreeItem item)
{
    // The document's own tree changes choose their selection themselves.
    if (!item || m_doc.Building())
        return;
    if (m_killFocus)
        m_killFocus();
    CTreeAccess &tree = Tree();
    int kind = KindFromImage(tree.Image(item));
    LONG handle = tree.Handle(item);
    if (kind == KindChannel) {
        m_doc.Channel().SetHandle(handle);
        m_doc.Channel().SetTreeItem(item);
    } else if (kind == KindDevice || kind == KindDataBlock) {
        TreeItem device = kind == KindDevice ? item : tree.Parent(item);
        TreeItem channel = tree.Parent(device);
        if (kind == KindDataBlock) {
            m_doc.DataBlock().SetHandle(handle);
            m_doc.DataBlock().SetTreeItem(item);
        }
        // The parents first, so that what shows of them is theirs.
        bool channelChanged = m_doc.Channel().GetTreeItem() != channel;
        m_doc.Channel().SetHandle(tree.Handle(channel));
        m_doc.Channel().SetTreeItem(channel);
        bool deviceChanged = kind == KindDataBlock && m_doc.Device().GetTreeItem() != device;
        m_doc.Device().SetHandle(tree.Handle(device));
        m_doc.Device().SetTreeItem(device);
        if (channelChanged) {
            m_doc.SetKind(KindChannel);
            m_doc.RefreshAllViews();
        }
        if (deviceChanged) {
            m_doc.SetKind(KindDevice);
            m_doc.RefreshAllViews();
        }
    }
    m_doc.SetKind(kind);
    m_doc.RefreshAllViews();
}

void CTreeBrowserCtrl::OnExpanded(TreeItem item)
{
    // The document's own inserts open the items they need.
    if (!item || m_expanding || m_doc.Building() || !m_doc.TreeBuilt())
        return;
    m_expanding = true;
    CTreeAccess &tree = Tree();
    int kind = KindFromImage(tree.Image(item));
    LONG handle = tree.Handle(item);
    m_doc.SetBuilding(true);
    tree.DeleteChildren(item);
    if (kind == KindDriver) {
        for (TreeItem channel : m_doc.ReadChannels(item))
            tree.Expand(channel, false);
    } else if (kind == KindChannel) {
        m_doc.Channel().SetHandle(handle);
        m_doc.Channel().SetTreeItem(item);
        m_doc.AddDevicesOf(item, handle);
        for (TreeItem device : tree.Children(item))
            tree.Expand(device, false);
    } else if (kind == KindDevice) {
        m_doc.Device().SetHandle(handle);
        m_doc.Device().SetTreeItem(item);
        m_doc.AddBlocksOf(item, handle);
    }
    m_doc.SetBuilding(false);
    // The control folds an item whose children all went; open it again.
    tree.Expand(item, true);
    m_expanding = false;
    tree.Select(item);
}

void CTreeBrowserCtrl::OnDoubleClick()
{
    CTreeAccess &tree = Tree();
    TreeItem root = tree.Root();
    if (root && tree.Selected() == root && m_doc.TreeBuilt() && tree.Children(root).empty())
        m_doc.BuildTree();
}

void CTreeBrowserCtrl::Refresh()
{
    m_doc.ReadServerStatus();
    CTreeAccess &tree = Tree();
    if (!tree.HasFocus())
        return;
    TreeItem root = tree.Root();
    if (TreeItem selected = tree.Selected()) {
        tree.Expand(selected, false);
        m_doc.SetBuilding(true);
        tree.DeleteChildren(selected);
        m_doc.SetBuilding(false);
    }
    if (!root)
        return;
    tree.Select(root);
    if (m_doc.TreeBuilt()) {
        m_doc.SetBuilding(true);
        tree.DeleteChildren(root);
        m_doc.SetBuilding(false);
        m_doc.RefreshSubtree(root, 0);
    }
    // The whole tree was made again, root included.
    if (TreeItem newRoot = tree.Root())
        tree.Select(newRoot);
}

int CTreeBrowserCtrl::TracewellState(TreeItem item)
{
    IQORDriver *server = m_doc.Server();
    if (!item || !server || KindFromImage(Tree().Image(item)) != KindDataBlock)
        return -1;
    VARIANT name, value, error;
    VariantInit(&value);
    VariantInit(&error);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(kTracewellOn);
    if (!V_BSTR(&name)) {
        m_doc.ShowText(BstrFailed);
        return -1;
    }
    HRESULT hr = server->GetPropertyData(Tree().Handle(item), name, &value, &error);
    VariantClear(&name);
    int state = -1;
    if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)))
        state = V_I4(&value) ? 1 : 0;
    else
        m_doc.ShowText(TracewellReadFailed);
    VariantClear(&value);
    VariantClear(&error);
    return state;
}

void CTreeBrowserCtrl::SetTracewell(TreeItem item, bool on)
{
    if (!item || !m_doc.Server())
        return;
    static const int depths[] = {3, 2, 1, 0};
    SetOnBlocks(item, depths[KindFromImage(Tree().Image(item))], on);
}

void CTreeBrowserCtrl::SetOnBlocks(TreeItem item, int depth, bool on)
{
    if (depth > 0) {
        for (TreeItem child : Tree().Children(item))
            SetOnBlocks(child, depth - 1, on);
        return;
    }
    if (KindFromImage(Tree().Image(item)) != KindDataBlock)
        return;
    VARIANT name, value, error;
    VariantInit(&error);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(kTracewellOn);
    if (!V_BSTR(&name)) {
        m_doc.ShowText(BstrFailed);
        return;
    }
    V_VT(&value) = VT_I2;
    V_I2(&value) = on ? 1 : 0;
    HRESULT hr = m_doc.Server()->SetPropertyData(Tree().Handle(item), name, value, &error);
    VariantClear(&name);
    VariantClear(&error);
    if (FAILED(hr))
        m_doc.ShowText(TracewellWriteFailed);
}
