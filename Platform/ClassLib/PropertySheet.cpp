#include "PropertySheet.h"
#include <commctrl.h>
#include <prsht.h>

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // The page's record carries the page object; the dialog procedure
        // takes it from the window from here on.
        CPropertyPage *self = reinterpret_cast<CPropertyPage *>(reinterpret_cast<PROPSHEETPAGEA *>(lParam)->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
        if (self->m_sheet)
            self->m_sheet->m_hwnd = GetParent(hwnd);
        return self->Handle(message, wParam, lParam);
    }
    return DialogProc(hwnd, message, wParam, lParam);
}

bool CPropertyPage::OnNotify(NMHDR *header, LRESULT *result)
{
    if (!m_sheet || header->hwndFrom != m_sheet->m_hwnd)
        return false;
    switch (header->code) {
    case PSN_SETACTIVE:
        OnSetActive();
        *result = 0;
        return true;
    case PSN_KILLACTIVE:
        *result = OnKillActive() ? FALSE : TRUE;
        return true;
    case PSN_APPLY:
        if (OnApply()) {
            m_sheet->m_applied = true;
            *result = PSNRET_NOERROR;
        } else {
            *result = PSNRET_INVALID_NOCHANGEPAGE;
        }
        return true;
    case PSN_RESET:
        OnReset();
        *result = 0;
        return true;
    }
    return false;
}

INT_PTR CPropertySheet::DoModal(HWND parent)
{
    std::vector<PROPSHEETPAGEA> pages(m_pages.size());
    for (size_t i = 0; i < m_pages.size(); ++i) {
        PROPSHEETPAGEA &page = pages[i];
        page = PROPSHEETPAGEA();
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = m_instance;
        page.pszTemplate = MAKEINTRESOURCEA(m_pages[i]->TemplateId());
        page.pfnDlgProc = CPropertyPage::PageProc;
        page.lParam = reinterpret_cast<LPARAM>(m_pages[i]);
        m_pages[i]->m_sheet = this;
    }
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = parent;
    header.hInstance = m_instance;
    header.pszCaption = m_title.c_str();
    header.nPages = UINT(pages.size());
    header.ppsp = pages.data();
    m_applied = false;
    INT_PTR result = PropertySheetA(&header);
    m_hwnd = NULL;
    for (CPropertyPage *page : m_pages)
        page->m_sheet = nullptr;
    if (result < 0)
        return -1;
    return m_applied ? IDOK : IDCANCEL;
}
