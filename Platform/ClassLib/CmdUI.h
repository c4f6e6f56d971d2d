// Commands of a single-document program: a command target answers a command
// id (menu item, accelerator, toolbar button) and tells, before a menu
// opens, whether the command is enabled and checked (CCmdUI). Targets are
// chained: the frame asks the view, then the document, then itself.
#pragma once
#include <windows.h>

// The state of one command as its update handler sets it.
class CCmdUI {
public:
    explicit CCmdUI(UINT id) : m_id(id) {}
    virtual ~CCmdUI() = default;
    UINT Id() const { return m_id; }
    virtual void Enable(bool on = true) { m_enabled = on; }
    // 0 unchecked, 1 checked.
    virtual void SetCheck(int check = 1) { m_check = check; }
    bool Enabled() const { return m_enabled; }
    int Checked() const { return m_check; }

private:
    UINT m_id;
    bool m_enabled = true;
    int m_check = -1;  // -1: the handler left it alone
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // Runs the command; false when this target does not handle it.
    virtual bool OnCmdMsg(UINT id) { return false; }
    // Sets the command's state; false when this target does not know it.
    virtual bool OnUpdateCmdUI(CCmdUI &ui) { return false; }
};
