#include "Dialog.h"
#include "DataExchange.h"
#include <vector>

CDialog::~CDialog()
{
    if (m_hwnd && !m_modal)
        ::DestroyWindow(m_hwnd);
}

INT_PTR CDialog::DoModal(HWND parent)
{
    m_modal = true;
    INT_PTR result = DialogBoxParamA(m_instance, MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    m_hwnd = NULL;
    return result;
}

bool CDialog::Create(HWND parent)
{
    if (m_hwnd)
        return true;
    m_modal = false;
    return CreateDialogParamA(m_instance, MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != NULL;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (m_hwnd && m_modal)
        ::EndDialog(m_hwnd, result);
}

void CDialog::DestroyWindow()
{
    if (m_hwnd && !m_modal)
        ::DestroyWindow(m_hwnd);
}

bool CDialog::UpdateData(bool save)
{
    CDataExchange dx(m_hwnd, save);
    DoDataExchange(dx);
    return !dx.Failed();
}

std::string CDialog::ItemText(int id) const
{
    HWND item = Item(id);
    int length = item ? GetWindowTextLengthA(item) : 0;
    std::vector<char> text(size_t(length) + 1, '\0');
    if (item)
        GetWindowTextA(item, text.data(), length + 1);
    return text.data();
}

void CDialog::SetItemText(int id, const std::string &text)
{
    SetDlgItemTextA(m_hwnd, id, text.c_str());
}

void CDialog::EnableItem(int id, bool enable)
{
    if (HWND item = Item(id))
        EnableWindow(item, enable);
}

bool CDialog::OnCommand(int id, int code, HWND control)
{
    if (code != BN_CLICKED && control)
        return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    if (m_modal)
        EndDialog(IDOK);
    else
        ShowWindow(m_hwnd, SW_HIDE);
}

void CDialog::OnCancel()
{
    if (m_modal)
        EndDialog(IDCANCEL);
    else
        ShowWindow(m_hwnd, SW_HIDE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog *self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog *>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    INT_PTR result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hwnd = NULL;
    }
    return result;
}

INT_PTR CDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!OnNotify(reinterpret_cast<NMHDR *>(lParam), &result))
            return FALSE;
        SetWindowLongPtrA(m_hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    default: {
        INT_PTR result = FALSE;
        return OnMessage(message, wParam, lParam, &result) ? result : FALSE;
    }
    }
}
