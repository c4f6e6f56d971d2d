// The Setup program's windows: the wizard pages and the asker that shows
// them and the message boxes, the directory browser, the main dialog and
// its worker thread.
#pragma once
#include <windows.h>
#include "SetupCore.h"

// The production asker: boxes through the Setup library's reporter, the
// wizard as a property sheet owned by owner.
class CWizardAsker : public ISetupAsker {
public:
    CWizardAsker(HINSTANCE instance, HWND owner) : m_instance(instance), m_owner(owner) {}
    int Ask(const std::string &text, const std::string &title, UINT style) override;
    bool RunWizard(CWizardChoices &choices) override;
    // While the wizard is up its boxes are modal to it, not to the main
    // window behind it (which would leave the wizard's buttons live).
    void SetSheet(HWND sheet) { m_sheet = sheet; }

private:
    HINSTANCE m_instance;
    HWND m_owner;
    HWND m_sheet = NULL;
};

// Dialog 141: a tree of the drives and their folders; true with the chosen
// path when OK was pressed.
bool BrowseForDirectory(HINSTANCE instance, HWND owner, std::string &path);

// The worker: runs the wizard and the library on its own thread, created
// suspended and then resumed; its exit code is the outcome.
class CMainThread {
public:
    CMainThread(HINSTANCE instance, HWND owner, const std::string &programFolder);
    ~CMainThread();
    bool Start();
    // STILL_ACTIVE while it runs.
    DWORD ExitCode() const;

private:
    static DWORD WINAPI ThreadProc(void *self);
    HINSTANCE m_instance;
    HWND m_owner;
    std::string m_programFolder;
    HANDLE m_thread = NULL;
};

// Runs dialog 139 until it is closed.
void RunMainDialog(HINSTANCE instance, const std::string &programFolder);
