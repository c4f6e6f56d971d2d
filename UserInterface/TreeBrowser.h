// What the tree control does with the user's clicks: a selection makes the
// item's object (and its parents) the document's current ones, an expansion
// reads the item's children again, F5 reads the whole tree again, and the
// popup switches the data monitor's recording of data blocks on or off.
#pragma once
#include <windows.h>
#include <functional>
#include "UserInterfaceDoc.h"

class CTreeBrowserCtrl {
public:
    static const char TracewellReadFailed[];   // "Error getting datablock TracewellOn property"
    static const char TracewellWriteFailed[];  // "Error setting datablock TracewellOn property"
    static const char BstrFailed[];            // "Error creating bstring"

    explicit CTreeBrowserCtrl(CUserInterfaceDoc &document) : m_doc(document) {}

    // Before a selection is taken: the window with the focus loses it, so
    // that a pane commits its pending edit.
    void OnKillFocus(std::function<void()> handler) { m_killFocus = std::move(handler); }

    void OnSelChanged(TreeItem item);
    void OnExpanded(TreeItem item);
    void OnDoubleClick();
    // F5: the running state, then the whole tree again.
    void Refresh();
    // The check of the popup for item: 1 "Tracewell On", 0 "Tracewell Off",
    // -1 neither (not a data block, or the read failed).
    int TracewellState(TreeItem item);
    // Sets "TracewellOn" on every data block at or under item.
    void SetTracewell(TreeItem item, bool on);

private:
    CTreeAccess &Tree() { return m_doc.Tree(); }
    void SetOnBlocks(TreeItem item, int depth, bool on);

    CUserInterfaceDoc &m_doc;
    std::function<void()> m_killFocus;
    bool m_expanding = false;
};
