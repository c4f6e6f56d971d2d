#include "TreeAccess.h"

CTreeManager::CTreeManager(HINSTANCE instance, HWND tree) : m_tree(tree)
{
    static const WORD icons[] = {128, 148, 151, 149, 152, 150, 153};
    m_images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 7, 0);
    if (m_images) {
        ImageList_SetBkColor(m_images, GetSysColor(COLOR_WINDOW));
        for (WORD id : icons) {
            HICON icon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
            ImageList_AddIcon(m_images, icon);
            if (icon)
                DestroyIcon(icon);
        }
        TreeView_SetImageList(m_tree, m_images, TVSIL_NORMAL);
    }
}

CTreeManager::~CTreeManager()
{
    if (IsWindow(m_tree))
        TreeView_SetImageList(m_tree, NULL, TVSIL_NORMAL);
    if (m_images)
        ImageList_Destroy(m_images);
}

TreeItem CTreeManager::Insert(TreeItem parent, const std::string &text, int image, LONG handle, int position)
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent ? static_cast<HTREEITEM>(parent) : TVI_ROOT;
    insert.hInsertAfter = position == InsertFirst ? TVI_FIRST : position == InsertSorted ? TVI_SORT : TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char *>(text.c_str());
    insert.item.iImage = image;
    insert.item.iSelectedImage = image == ImageDriver ? image : image + 1;
    insert.item.lParam = handle;
    return reinterpret_cast<TreeItem>(SendMessageA(m_tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void CTreeManager::Delete(TreeItem item) { TreeView_DeleteItem(m_tree, static_cast<HTREEITEM>(item)); }

void CTreeManager::SetText(TreeItem item, const std::string &text)
{
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = static_cast<HTREEITEM>(item);
    tv.pszText = const_cast<char *>(text.c_str());
    SendMessageA(m_tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
}

std::string CTreeManager::Text(TreeItem item)
{
    char text[256] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = static_cast<HTREEITEM>(item);
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(m_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

int CTreeManager::Image(TreeItem item)
{
    TVITEMA tv = {};
    tv.mask = TVIF_IMAGE;
    tv.hItem = static_cast<HTREEITEM>(item);
    SendMessageA(m_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.iImage;
}

LONG CTreeManager::Handle(TreeItem item)
{
    TVITEMA tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = static_cast<HTREEITEM>(item);
    SendMessageA(m_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return LONG(tv.lParam);
}

TreeItem CTreeManager::Root() { return TreeView_GetRoot(m_tree); }
TreeItem CTreeManager::Parent(TreeItem item) { return TreeView_GetParent(m_tree, static_cast<HTREEITEM>(item)); }

std::vector<TreeItem> CTreeManager::Children(TreeItem item)
{
    std::vector<TreeItem> children;
    for (HTREEITEM child = TreeView_GetChild(m_tree, static_cast<HTREEITEM>(item)); child;
         child = TreeView_GetNextSibling(m_tree, child))
        children.push_back(child);
    return children;
}

TreeItem CTreeManager::Selected() { return TreeView_GetSelection(m_tree); }
void CTreeManager::Select(TreeItem item) { TreeView_SelectItem(m_tree, static_cast<HTREEITEM>(item)); }
void CTreeManager::EnsureVisible(TreeItem item) { TreeView_EnsureVisible(m_tree, static_cast<HTREEITEM>(item)); }

void CTreeManager::Expand(TreeItem item, bool expand)
{
    TreeView_Expand(m_tree, static_cast<HTREEITEM>(item), expand ? TVE_EXPAND : TVE_COLLAPSE);
}

void CTreeManager::Focus() { SetFocus(m_tree); }
bool CTreeManager::HasFocus() { return GetFocus() == m_tree; }

void CTreeManager::SetStyle(DWORD bit, bool on)
{
    static const DWORD styles[] = {0, TVS_HASBUTTONS, TVS_HASLINES, 0, TVS_LINESATROOT};
    DWORD style = bit < 5 ? styles[bit] : 0;
    LONG_PTR current = GetWindowLongPtrA(m_tree, GWL_STYLE);
    SetWindowLongPtrA(m_tree, GWL_STYLE, on ? (current | style) : (current & ~LONG_PTR(style)));
    SetWindowPos(m_tree, NULL, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

size_t CTreeManager::Count() { return size_t(TreeView_GetCount(m_tree)); }
