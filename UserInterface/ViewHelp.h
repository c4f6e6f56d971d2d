// The view's share of help: the embedded help window below the panes, which
// follows the user's commands by topic number, and the driver's
// "Getting Started...." button.
#pragma once
#include <windows.h>
#include "HHCtrl.h"
#include "HelpLocator.h"
#include "ToolHelp.h"

class CViewHelp {
public:
    enum { GettingStartedId = 1207, ShownTopic = 199999, CommandTopicBase = 100000 };

    CViewHelp(CToolHelp &help, IHelpFileSystem &files) : m_help(help), m_files(files) {}

    // Searches the context-help file (a missing one is reported by the
    // search); when found, the help window comes without a toolbar in rect of
    // view and shows topic 199999. The button is made hidden either way.
    void Create(HINSTANCE instance, HWND view, const RECT &rect);
    void Move(const RECT &rect);
    bool HasPane() const { return m_pane.Window() != NULL; }
    CHHCtrl &Pane() { return m_pane; }

    // The topic of a command (100000 + id) or of a shown form (199999); the
    // same topic again leaves the pane as it is.
    void ShowTopic(DWORD topic);
    void ShowGettingStarted(bool show, int x, int y);
    // The view's commands that belong to help; true when handled.
    bool OnCommand(HWND view, int id);

private:
    CToolHelp &m_help;
    IHelpFileSystem &m_files;
    CHHCtrl m_pane;
    HWND m_button = NULL;
    DWORD m_topic = 0;
};
