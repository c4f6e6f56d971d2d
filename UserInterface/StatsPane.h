// The statistics forms and the driver form on screen (templates 2700, 2800,
// 4000, 6000, 8000): child dialogs that copy a presenter's texts into their
// fields and pass its timer ticks on.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "Dialog.h"
#include "StatsForm.h"

// The form's timer on its window.
class CWindowTimer : public IFormTimer {
public:
    void SetWindow(HWND hwnd) { m_hwnd = hwnd; }
    void Start(UINT id, DWORD milliseconds) override { SetTimer(m_hwnd, id, milliseconds, NULL); }
    void Stop(UINT id) override { KillTimer(m_hwnd, id); }

private:
    HWND m_hwnd = NULL;
};

// Shows the first submenu of menu at the screen point of a WM_CONTEXTMENU;
// its commands go to owner.
void ShowPopupMenu(HINSTANCE instance, int menu, HWND owner, LPARAM point);

// The help topics' seam (the help window makes them real); without it the
// buttons that open topics stay disabled.
typedef std::function<void(const std::string &topic)> HelpHandler;

class CStatsPane : public CDialog {
public:
    CStatsPane(HINSTANCE instance, CUserInterfaceDoc &document, IErrorTexts &texts, int kind);
    CStatsForm &Form() { return m_form; }

    bool CreatePane(HWND parent);
    // Shown: the title, a first refresh and the timer; hidden: no timer.
    void Show();
    void Hide();
    void Fill();
    // The title names the selected object (another one of the same kind
    // while the form stays on show).
    void UpdateTitle();
    void OnHelp(HelpHandler handler) { m_help = std::move(handler); }
    // The data block pane's "Data Monitor ..." button; disabled without it.
    void OnMonitor(std::function<void()> handler) { m_monitor = std::move(handler); }
    void SetMenuOwner(HWND owner) { m_menuOwner = owner; }
    void SetHelpFile(const std::string &path) { m_helpFile = path; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) override;
    void OnOK() override {}
    void OnCancel() override {}

private:
    void FillErrors();
    int TitleControl() const;
    int TroubleshootingControl() const;

    CWindowTimer m_timer;
    CStatsForm m_form;
    CUserInterfaceDoc &m_doc;
    HelpHandler m_help;
    std::function<void()> m_monitor;
    HWND m_menuOwner = NULL;
    std::string m_helpFile;
};

class CDriverPane : public CDialog {
public:
    CDriverPane(HINSTANCE instance, CUserInterfaceDoc &document);
    bool CreatePane(HWND parent) { return Create(parent); }
    // Reads the four values again and shows them.
    void Refresh();
    void OnHelp(HelpHandler handler) { m_help = std::move(handler); }
    void SetMenuOwner(HWND owner) { m_menuOwner = owner; }
    void SetHelpFile(const std::string &path) { m_helpFile = path; }
    HWND Tips() const { return m_tips; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) override;
    void OnOK() override {}
    void OnCancel() override {}

private:
    CDriverFormData m_data;
    CUserInterfaceDoc &m_doc;
    HelpHandler m_help;
    HWND m_menuOwner = NULL;
    HWND m_tips = NULL;
    std::string m_helpFile;
};
