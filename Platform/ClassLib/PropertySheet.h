// CPropertySheet and CPropertyPage: a modal tabbed sheet of dialog pages
// over the system's property sheet, with OK and Cancel only (no Apply, no
// Help). A page is a CDialog over its own template; it hears when it is
// shown (OnSetActive), left (OnKillActive: false keeps it) and when the
// sheet's OK takes the values (OnApply: false keeps the sheet open on it).
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "Dialog.h"

class CPropertyPage : public CDialog {
public:
    CPropertyPage(HINSTANCE instance, UINT templateId) : CDialog(instance, templateId) {}

protected:
    friend class CPropertySheet;
    virtual void OnSetActive() {}
    virtual bool OnKillActive() { return UpdateData(true); }
    virtual bool OnApply() { return true; }
    virtual void OnReset() {}
    bool OnNotify(NMHDR *header, LRESULT *result) override;
    // Enter and Escape belong to the sheet.
    void OnOK() override {}
    void OnCancel() override {}

private:
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    class CPropertySheet *m_sheet = nullptr;
};

class CPropertySheet {
public:
    explicit CPropertySheet(HINSTANCE instance, std::string title) : m_instance(instance), m_title(std::move(title)) {}
    void AddPage(CPropertyPage &page) { m_pages.push_back(&page); }
    // IDOK when the sheet's OK was taken by every page, else IDCANCEL; -1
    // when the sheet could not be made.
    INT_PTR DoModal(HWND parent);
    // The sheet's window while it is open.
    HWND Window() const { return m_hwnd; }

private:
    friend class CPropertyPage;
    HINSTANCE m_instance;
    std::string m_title;
    std::vector<CPropertyPage *> m_pages;
    HWND m_hwnd = NULL;
    bool m_applied = false;
};
