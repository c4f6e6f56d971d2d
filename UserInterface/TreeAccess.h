// The configuration tree as the document and the tree browser see it: items
// with a text, an image (which tells the object's kind) and the server's
// object handle. CTreeManager keeps it in the main window's tree control;
// CNullTreeManager, for a tool without a tree, does nothing.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

typedef void *TreeItem;

// Images of the tree's image list: the driver, then each kind's normal and
// selected image.
enum TreeImage { ImageDriver = 0, ImageChannel = 1, ImageDevice = 3, ImageDataBlock = 5 };
// Selection kinds: what the document holds as selected.
enum SelectionKind { KindDriver = 0, KindChannel = 1, KindDevice = 2, KindDataBlock = 3 };

// The kind of an item from its image: 0 driver, 1-2 channel, 3-4 device,
// 5-6 data block.
inline int KindFromImage(int image) { return image <= 0 ? KindDriver : (image + 1) / 2; }

// Where new items go among their siblings: first, sorted, or last.
enum InsertPosition { InsertFirst = 0, InsertLast = 1, InsertSorted = 2 };

class CTreeAccess {
public:
    virtual ~CTreeAccess() = default;
    // A new item under parent (null: a root item); image is the kind's
    // normal image, the selected one follows it.
    virtual TreeItem Insert(TreeItem parent, const std::string &text, int image, LONG handle, int position) = 0;
    virtual void Delete(TreeItem item) = 0;
    virtual void SetText(TreeItem item, const std::string &text) = 0;
    virtual std::string Text(TreeItem item) = 0;
    virtual int Image(TreeItem item) = 0;
    virtual LONG Handle(TreeItem item) = 0;
    virtual TreeItem Root() = 0;
    virtual TreeItem Parent(TreeItem item) = 0;
    virtual std::vector<TreeItem> Children(TreeItem item) = 0;
    virtual TreeItem Selected() = 0;
    // Selects the item (the browser hears the change, as from the user).
    virtual void Select(TreeItem item) = 0;
    virtual void EnsureVisible(TreeItem item) = 0;
    virtual void Expand(TreeItem item, bool expand) = 0;
    virtual void Focus() = 0;
    virtual bool HasFocus() = 0;
    // Buttons 1, lines 2, lines at root 4.
    virtual void SetStyle(DWORD bit, bool on) = 0;
    virtual size_t Count() = 0;

    void DeleteChildren(TreeItem item)
    {
        for (TreeItem child : Children(item))
            Delete(child);
    }
    // Every item deleted; true when the tree is then empty.
    bool Clear()
    {
        if (TreeItem root = Root())
            Select(root);
        while (TreeItem root = Root())
            Delete(root);
        return Count() == 0;
    }
};

// A tool running inside another program's window has no tree.
class CNullTreeManager : public CTreeAccess {
public:
    TreeItem Insert(TreeItem, const std::string &, int, LONG, int) override { return nullptr; }
    void Delete(TreeItem) override {}
    void SetText(TreeItem, const std::string &) override {}
    std::string Text(TreeItem) override { return std::string(); }
    int Image(TreeItem) override { return 0; }
    LONG Handle(TreeItem) override { return 0; }
    TreeItem Root() override { return nullptr; }
    TreeItem Parent(TreeItem) override { return nullptr; }
    std::vector<TreeItem> Children(TreeItem) override { return {}; }
    TreeItem Selected() override { return nullptr; }
    void Select(TreeItem) override {}
    void EnsureVisible(TreeItem) override {}
    void Expand(TreeItem, bool) override {}
    void Focus() override {}
    bool HasFocus() override { return false; }
    void SetStyle(DWORD, bool) override {}
    size_t Count() override { return 0; }
};

// The tree control of the tree bar, with the image list of the seven icons.
class CTreeManager : public CTreeAccess {
public:
    // Icons 128, 148, 151, 149, 152, 150, 153 from instance for images 0-6.
    CTreeManager(HINSTANCE instance, HWND tree);
    ~CTreeManager() override;

    TreeItem Insert(TreeItem parent, const std::string &text, int image, LONG handle, int position) override;
    void Delete(TreeItem item) override;
    void SetText(TreeItem item, const std::string &text) override;
    std::string Text(TreeItem item) override;
    int Image(TreeItem item) override;
    LONG Handle(TreeItem item) override;
    TreeItem Root() override;
    TreeItem Parent(TreeItem item) override;
    std::vector<TreeItem> Children(TreeItem item) override;
    TreeItem Selected() override;
    void Select(TreeItem item) override;
    void EnsureVisible(TreeItem item) override;
    void Expand(TreeItem item, bool expand) override;
    void Focus() override;
    bool HasFocus() override;
    void SetStyle(DWORD bit, bool on) override;
    size_t Count() override;

private:
    HWND m_tree;
    HIMAGELIST m_images = NULL;
};
