// The configuration panes on screen (templates 3000, 5000, 7000): child
// dialogs that only move text between their controls and a CObjectForm, and
// put the focus back where a value was refused.
#pragma once
#include <windows.h>
#include <functional>
#include "Dialog.h"
#include "ObjectForm.h"

class CFormPane : public CDialog {
public:
    CFormPane(HINSTANCE instance, CObjectForm &form);
    CObjectForm &Form() { return m_form; }

    bool CreatePane(HWND parent);
    // The fields show the form's values.
    void Fill();
    // Before the pane hides: the combo boxes' texts are committed.
    void CommitCombos();
    // The pane's own size (its template's).
    SIZE Size() const;
    // Commits the control with the focus (Enter, or a dialog's OK).
    void CommitFocused();
    // The help pop-up (the help window's seam; without it the Help button
    // stays disabled) and the owner of the popup menu.
    void OnHelp(std::function<void(const std::string &topic)> handler) { m_help = std::move(handler); }
    void SetMenuOwner(HWND owner) { m_menuOwner = owner; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) override;
    void OnOK() override { CommitFocused(); }
    void OnCancel() override {}

private:
    std::string ControlText(size_t index) const;
    void CommitControl(int id);
    void FillCombo(int id, const std::vector<std::string> &entries);
    void DropDown(int id);

    CObjectForm &m_form;
    std::function<void(const std::string &)> m_help;
    HWND m_menuOwner = NULL;
    std::string m_vfdFilledFor[2];
    bool m_cpFilled = false;
    bool m_filling = false;
};
