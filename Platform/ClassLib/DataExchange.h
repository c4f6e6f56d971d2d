// Control-to-member exchange for CDialog::DoDataExchange: each DDX_ call
// moves one value from its control to the member (saving) or back.
#pragma once
#include <windows.h>
#include <string>

class CDataExchange {
public:
    CDataExchange(HWND dialog, bool save) : m_dialog(dialog), m_save(save) {}
    HWND Dialog() const { return m_dialog; }
    bool Saving() const { return m_save; }
    // Marks the exchange failed at control id (the focus goes there).
    void Fail(int id);
    bool Failed() const { return m_failed; }

private:
    HWND m_dialog;
    bool m_save;
    bool m_failed = false;
};

// An edit or static text.
void DDX_Text(CDataExchange &dx, int id, std::string &value);
// A check box: 1 checked, 0 not.
void DDX_Check(CDataExchange &dx, int id, int &value);
// A radio group from firstId on (consecutive ids, count buttons): the index
// of the checked one, -1 when none is.
void DDX_Radio(CDataExchange &dx, int firstId, int count, int &value);
