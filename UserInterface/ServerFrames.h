// The tool's windows as a document server. CInPlaceFrame holds the view
// inside a container's window (menu 4 joins the container's menu bar); the
// tree has no place there, so the do-nothing tree is the program's tree
// while the frame exists. CEmbeddedFrame is the main window with the
// embedded menu 5, for an object opened in a window of its own: closing it
// hands the object back to its container instead of ending the program.
#pragma once
#include <functional>
#include "InPlaceFrame.h"
#include "MainFrame.h"
#include "TreeAccess.h"

class CInPlaceFrame : public CInPlaceFrameWnd {
public:
    // Display Mode in the edit group, Options in the object group, Help in
    // the help group.
    static const int Groups[3];

    // endInPlace: Escape ends the activation, as the container would.
    CInPlaceFrame(HINSTANCE instance, CUserInterfaceDoc &document, std::function<void()> endInPlace);
    // The window goes while this frame's part still stands, so that its
    // OnDestroy hands the document its tree back (the base's destructor
    // reaches only the base's).
    ~CInPlaceFrame() override;
    CObjectView &View() { return m_view; }

    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI &ui) override;

protected:
    bool OnCreate() override;
    void OnSize(int width, int height) override;
    void OnDestroy() override;

private:
    CUserInterfaceDoc &m_doc;
    CObjectView m_view;
    CNullTreeManager m_noTree;
    CTreeAccess *m_previous = nullptr;
    std::function<void()> m_endInPlace;
};

class CEmbeddedFrame : public CMainFrame {
public:
    // serverCommands: "&Update" and "Save Copy &As..."; close: the user
    // closed the window (its close box or "E&xit").
    CEmbeddedFrame(HINSTANCE instance, CUserInterfaceDoc &document, IProfile &profile, CCmdTarget &serverCommands,
                   std::function<void()> close);
    bool CreateEmbedded();

protected:
    void OnClose() override;

private:
    CUserInterfaceDoc &m_doc;
    CCmdTarget &m_serverCommands;
    std::function<void()> m_close;
};
