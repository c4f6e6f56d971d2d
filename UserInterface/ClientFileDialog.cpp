#include "ClientFileDialog.h"
#include <commdlg.h>

namespace {
const char kAcronym[] = "QOR";
}

CClientFileDialog::CClientFileDialog(bool open, const std::string &fileName)
    // A save goes to new files too: "must exist" is for opening only.
    : CFileDialog(open, kAcronym, fileName, (open ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT) | OFN_HIDEREADONLY, Filter())
{
}

std::string CClientFileDialog::Filter()
{
    std::string filter = CUserInterfaceDoc::FileFilter;
    for (size_t at; (at = filter.find("###")) != std::string::npos;)
        filter.replace(at, 3, kAcronym);
    return filter;
}

std::string CClientFileDialog::TypeExtension(int index)
{
    std::string extension = index == 0 ? kAcronym : index == 1 ? "CSV" : "LOG";
    for (char &c : extension)
        c = char(tolower(static_cast<unsigned char>(c)));
    return extension;
}

void CClientFileDialog::OnTypeChange(HWND dialog, int index)
{
    std::string name = FileNameText(dialog);
    if (!name.empty())
        SetFileNameText(dialog, ReplaceExtension(name, TypeExtension(index)));
}

bool CDialogFileChooser::Choose(bool open, const std::string &fileName, const std::string &folder, std::string &path)
{
    CClientFileDialog dialog(open, fileName);
    if (!folder.empty())
        dialog.SetInitialFolder(folder);
    if (dialog.DoModal(m_owner ? *m_owner : NULL) != IDOK)
        return false;
    path = dialog.PathName();
    return true;
}
