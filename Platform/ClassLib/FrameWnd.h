// CFrameWnd: the main window of a single-document program. It carries the
// menu and the accelerator table of one resource id, routes WM_COMMAND through
// its chain of command targets (view, document, frame) and, before a popup
// menu opens, asks the chain for every item's state (enable, check). A
// command whose update handler disables it is not run, whether it came from
// the menu, an accelerator or another program's posted message.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "CmdUI.h"

class CFrameWnd : public CCmdTarget {
public:
    CFrameWnd() = default;
    virtual ~CFrameWnd();
    CFrameWnd(const CFrameWnd &) = delete;
    CFrameWnd &operator=(const CFrameWnd &) = delete;

    // Makes the window with menu and accelerators resourceId (either may be
    // missing) in the window class className.
    bool Create(HINSTANCE instance, const char *className, UINT resourceId, const std::string &title, int width,
                int height);
    // The same as a child of parent at rect (parent's client coordinates),
    // with style added to WS_CHILD.
    bool CreateChild(HINSTANCE instance, const char *className, UINT resourceId, HWND parent, const RECT &rect,
                     DWORD style);
    HWND Window() const { return m_hwnd; }
    HINSTANCE Instance() const { return m_instance; }

    // Targets asked before the frame itself, in order.
    void SetRoute(std::vector<CCmdTarget *> targets) { m_route = std::move(targets); }
    // Runs id through the chain after its update check; false when it is
    // disabled or nobody handles it.
    bool RouteCommand(UINT id);
    // The state of id as the chain sets it (enabled with no handler).
    CCmdUI QueryState(UINT id);

    // The message loop with the accelerators; the WM_QUIT code.
    int Run();
    // What the loop does before dispatching msg: the accelerators and the
    // panes' keyboard navigation; true when msg was taken.
    bool PreTranslateMessage(MSG &msg);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_CREATE is over and the window has its size: make the children.
    virtual bool OnCreate() { return true; }
    virtual void OnSize(int width, int height) {}
    // WM_CLOSE; the default destroys the window.
    virtual void OnClose() { ::DestroyWindow(m_hwnd); }
    virtual void OnDestroy() { PostQuitMessage(0); }
    // Applies the chain's states to the items of a popup about to open.
    void UpdateMenu(HMENU menu);

    HINSTANCE m_instance = NULL;
    HWND m_hwnd = NULL;
    HACCEL m_accelerators = NULL;

private:
    bool RegisterFrameClass(HINSTANCE instance, const char *className, UINT resourceId);
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    std::vector<CCmdTarget *> m_route;
};
