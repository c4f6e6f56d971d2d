// The data monitor's frame: menu, toolbar and the one view; the commands and
// their check states, the options and colour dialogs, context help, and the
// update that the appender posts.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "Display.h"
#include "ScopeLibrary.h"

extern const char ScopeFrameTitle[];  // "Tracewell"

class CDisplayFrame {
public:
    explicit CDisplayFrame(CScopeLibrary &library) : m_library(library), m_view(library) {}
    CDisplayFrame(const CDisplayFrame &) = delete;
    CDisplayFrame &operator=(const CDisplayFrame &) = delete;

    bool Create(HWND parent);
    // Sizes the frame around the view's lines, centres it and shows it.
    void Show();
    HWND Window() const { return m_hwnd; }
    HWND Toolbar() const { return m_toolbar; }
    CDisplay &View() { return m_view; }

    // Runs a menu or toolbar command (as WM_COMMAND does).
    void OnCommand(UINT id);
    // The check state of a menu command.
    bool IsChecked(UINT id) const;
    // F1: the help point and topic, through the outside control.
    void OnHelp(HWND owner, const HELPINFO &info);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateToolbar();
    void Layout();
    void UpdateMenu(HMENU menu);
    void SyncToolbar();
    void RunOptions();
    void ShowUpdate();

    CScopeLibrary &m_library;
    CDisplay m_view;
    HWND m_hwnd = NULL;
    HWND m_toolbar = NULL;
    HIMAGELIST m_images = NULL;
    bool m_ownedByWindow = false;
    LONG m_shownAppends = 0;
};
