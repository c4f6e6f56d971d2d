// The tool's main window: the menu and accelerators of resource 128, the
// tree bar at its side and the view beside it, the 10-second poll of the
// server, and the commands that belong to the window rather than the
// document (exit, refresh, the tree bar, the focus between tree and view).
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "FormPane.h"
#include "FrameBars.h"
#include "FrameWnd.h"
#include "Profile.h"
#include "StatsPane.h"
#include "TreeBar.h"
#include "TreeBrowser.h"
#include "UserInterfaceDoc.h"
#include "ViewHelp.h"

// The right-hand side: one form for the selected object and the mode, the
// driver form, the System Statistics form, or a configuration or statistics
// pane; and the commands that belong to the shown form.
class CObjectView : public CCmdTarget {
public:
    explicit CObjectView(HINSTANCE instance, CUserInterfaceDoc &document);
    bool Create(HINSTANCE instance, HWND parent);
    HWND Window() const { return m_hwnd; }
    // Shows the form of the selected object and sets the document's
    // enabling flags.
    void Refresh();
    // The configuration pane on show, or null.
    CFormPane *ShownPane();
    // The window of the form on show, or null.
    HWND ShownForm() const { return m_shown; }
    void SetMenuOwner(HWND owner);
    // Help: the help window below the panes and the panes' Help buttons.
    void SetHelp(CToolHelp *help, CViewHelp *viewHelp)
    {
        m_toolHelp = help;
        m_help = viewHelp;
    }

    // A configuration pane takes the view's Help and Data Monitor handlers
    // (the view's own panes, and the one the modify / copy dialog hosts).
    void Equip(CFormPane &pane);

    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI &ui) override;

private:
    // The data monitor of the current block, modal over owner's window.
    void OpenDataMonitor(HWND owner);
    RECT HelpRect() const;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void ShowForm(HWND form);
    void ToggleServerWindow();

    CUserInterfaceDoc &m_doc;
    HINSTANCE m_instance;
    CObjectForm m_forms[3];
    CFormPane m_panes[3];
    CDriverPane m_driver;
    // By selection kind: the System Statistics form, then the panes.
    CStatsPane m_stats[4];
    HWND m_shown = NULL;
    HWND m_hwnd = NULL;
    HWND m_menuOwner = NULL;
    // Every form's window, for the help window's place below the tallest.
    std::vector<HWND> m_formWindows;
    CToolHelp *m_toolHelp = nullptr;
    CViewHelp *m_help = nullptr;
};

class CMainFrame : public CFrameWnd {
public:
    static const char ClassName[];  // "TolvaneMainFrame"
    static const UINT_PTR PollTimer = 2;
    static const UINT_PTR BarsTimer = 3;

    CMainFrame(HINSTANCE instance, CUserInterfaceDoc &document, IProfile &profile);
    bool CreateFrame();
    CObjectView &View() { return m_view; }
    void SetHelp(CToolHelp *help, CViewHelp *viewHelp)
    {
        m_help = help;
        m_view.SetHelp(help, viewHelp);
    }
    // The next pane in the focus's round: tree, view.
    void NextPane();
    // The data-monitor callback, when the server offers the connection;
    // the frame closes its window when it goes.
    void SetScope(class CScopeCallback *scope) { m_scope = scope; }
    CFrameBars &Bars() { return m_bars; }

    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI &ui) override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCreate() override;
    void OnSize(int width, int height) override;
    void OnClose() override;
    void OnDestroy() override;

private:
    void Layout();
    void UpdateBars();
    bool OnTreeNotify(NMHDR *header, LRESULT *result);
    void TreePopup();
    void UpdateRecentFiles(HMENU fileMenu);

    CUserInterfaceDoc &m_doc;
    CTreeBar m_bar;
    CObjectView m_view;
    CTreeBrowserCtrl m_browser;
    std::unique_ptr<CTreeManager> m_tree;
    CToolHelp *m_help = nullptr;
    CFrameBars m_bars;
    class CScopeCallback *m_scope = nullptr;
    int m_commandDepth = 0;
    std::vector<WORD> m_deferred;
};
