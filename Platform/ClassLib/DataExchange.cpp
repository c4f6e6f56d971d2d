#include "DataExchange.h"
#include <vector>

void CDataExchange::Fail(int id)
{
    m_failed = true;
    if (HWND item = GetDlgItem(m_dialog, id))
        SetFocus(item);
}

void DDX_Text(CDataExchange &dx, int id, std::string &value)
{
    HWND item = GetDlgItem(dx.Dialog(), id);
    if (!item)
        return;
    if (dx.Saving()) {
        int length = GetWindowTextLengthA(item);
        std::vector<char> text(size_t(length) + 1, '\0');
        GetWindowTextA(item, text.data(), length + 1);
        value = text.data();
    } else {
        SetWindowTextA(item, value.c_str());
    }
}

void DDX_Check(CDataExchange &dx, int id, int &value)
{
    HWND item = GetDlgItem(dx.Dialog(), id);
    if (!item)
        return;
    if (dx.Saving())
        value = SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else
        SendMessageA(item, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DDX_Radio(CDataExchange &dx, int firstId, int count, int &value)
{
    if (dx.Saving()) {
        value = -1;
        for (int i = 0; i < count; ++i)
            if (IsDlgButtonChecked(dx.Dialog(), firstId + i) == BST_CHECKED)
                value = i;
    } else {
        for (int i = 0; i < count; ++i)
            CheckDlgButton(dx.Dialog(), firstId + i, i == value ? BST_CHECKED : BST_UNCHECKED);
    }
}
