#include "FileDialog.h"
#include <commdlg.h>
#include <vector>

CFileDialog::CFileDialog(bool open, const std::string &defaultExtension, const std::string &fileName, DWORD flags,
                         const std::string &filter)
    : m_open(open), m_extension(defaultExtension), m_fileName(fileName), m_filter(SystemFilter(filter)),
      m_flags(flags)
{
}

std::string CFileDialog::SystemFilter(const std::string &filter)
{
    std::string result = filter;
    for (char &c : result)
        if (c == '|')
            c = '\0';
    result.push_back('\0');
    return result;
}

std::string CFileDialog::ReplaceExtension(const std::string &name, const std::string &extension)
{
    size_t slash = name.find_last_of("\\/");
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + "." + extension;
    return name.substr(0, dot + 1) + extension;
}

INT_PTR CFileDialog::DoModal(HWND owner)
{
    std::vector<char> file(MAX_PATH * 2, '\0');
    m_fileName.copy(file.data(), file.size() - 1);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = m_filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    ofn.lpstrInitialDir = m_folder.empty() ? NULL : m_folder.c_str();
    ofn.lpstrDefExt = m_extension.empty() ? NULL : m_extension.c_str();
    ofn.Flags = m_flags | OFN_EXPLORER | OFN_ENABLEHOOK;
    ofn.lpfnHook = Hook;
    ofn.lCustData = reinterpret_cast<LPARAM>(this);
    BOOL ok = m_open ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
    if (!ok)
        return IDCANCEL;
    m_path = file.data();
    return IDOK;
}

UINT_PTR CALLBACK CFileDialog::Hook(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<OPENFILENAMEA *>(lParam)->lCustData);
        return 0;
    }
    if (message == WM_NOTIFY) {
        OFNOTIFYA *notify = reinterpret_cast<OFNOTIFYA *>(lParam);
        CFileDialog *self = reinterpret_cast<CFileDialog *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && notify->hdr.code == CDN_TYPECHANGE)
            self->OnTypeChange(GetParent(hwnd), int(notify->lpOFN->nFilterIndex) - 1);
    }
    return 0;
}

std::string CFileDialog::FileNameText(HWND dialog)
{
    char text[MAX_PATH * 2] = "";
    // The file-name box: the combo box cmb13 in newer dialogs, else edt1.
    if (!GetDlgItemTextA(dialog, 0x47C, text, sizeof text))
        GetDlgItemTextA(dialog, 0x480, text, sizeof text);
    return text;
}

void CFileDialog::SetFileNameText(HWND dialog, const std::string &text)
{
    SendMessageA(dialog, CDM_SETCONTROLTEXT, GetDlgItem(dialog, 0x47C) ? 0x47C : 0x480,
                 reinterpret_cast<LPARAM>(text.c_str()));
}
