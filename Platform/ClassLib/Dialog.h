// CDialog: a dialog over a resource template, run modally (DoModal) or
// modelessly (Create / DestroyWindow), with control-to-member exchange
// (DoDataExchange through UpdateData). Derived dialogs override the
// handlers they need; by default OK and Cancel end a modal dialog with IDOK /
// IDCANCEL and hide a modeless one. The dialog object outlives its window.
#pragma once
#include <windows.h>
#include <string>

class CDataExchange;

class CDialog {
public:
    CDialog(HINSTANCE instance, UINT templateId) : m_instance(instance), m_templateId(templateId) {}
    virtual ~CDialog();
    CDialog(const CDialog &) = delete;
    CDialog &operator=(const CDialog &) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when the
    // template could not be made into a window.
    INT_PTR DoModal(HWND parent);
    // Makes the dialog a modeless window (hidden unless its template says
    // WS_VISIBLE); false when it could not be made.
    bool Create(HWND parent);
    // Ends a modal dialog with result.
    void EndDialog(INT_PTR result);
    // Destroys a modeless dialog's window.
    void DestroyWindow();

    HWND Window() const { return m_hwnd; }
    HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
    bool IsModal() const { return m_modal; }
    UINT TemplateId() const { return m_templateId; }

    // Moves values from the controls to the members (save) or back; false
    // when a control refused its value (the focus is then on it).
    bool UpdateData(bool save);

    std::string ItemText(int id) const;
    void SetItemText(int id, const std::string &text);
    void EnableItem(int id, bool enable);

protected:
    // The window exists and its controls are made; answer TRUE to let the
    // system set the focus.
    virtual BOOL OnInitDialog() { UpdateData(false); return TRUE; }
    // WM_COMMAND; true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    // WM_NOTIFY; true when handled (the result goes to *result).
    virtual bool OnNotify(NMHDR *header, LRESULT *result) { return false; }
    // Any other message; true when handled.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) { return false; }
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange &dx) {}

    HINSTANCE m_instance;

private:
    friend class CPropertyPage;  // a sheet's page comes in through its own record
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_hwnd = NULL;
    bool m_modal = false;
};
