#include "ObjectDialog.h"
#include "resource.h"

const char *CObjectDialog::Title(int kind, bool copy)
{
    if (kind == KindChannel)
        return "Modify Channel";
    if (kind == KindDevice)
        return copy ? "Copy Device" : "Modify Device";
    return "Modify Data Block";
}

CObjectDialog::CObjectDialog(HINSTANCE instance, CUserInterfaceDoc &document, int kind, bool copy)
    : CDialog(instance, IDD_OBJECT_DIALOG), m_doc(document), m_copy(copy), m_form(document, kind),
      m_pane(instance, m_form)
{
    // A copy is made of the pane's values at OK; until then the source
    // device stays as it is.
    m_form.SetLocal(copy);
    m_form.Load();
}

BOOL CObjectDialog::OnInitDialog()
{
    SetWindowTextA(Window(), Title(m_form.Kind(), m_copy));
    m_doc.SetDialogClosed(false);
    if (!m_pane.CreatePane(Window())) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    // The pane, then the buttons' row below it: Cancel 15 px from the right,
    // OK 15 px left of Cancel, both 10 px above the bottom.
    SIZE pane = m_pane.Size();
    RECT button;
    GetWindowRect(Item(IDOK), &button);
    int buttonWidth = button.right - button.left, buttonHeight = button.bottom - button.top;
    int clientWidth = pane.cx, clientHeight = pane.cy + buttonHeight + 20;
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrA(Window(), GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrA(Window(), GWL_EXSTYLE)));
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    MoveWindow(Window(), work.left + (work.right - work.left - width) / 2, work.top + (work.bottom - work.top - height) / 2,
               width, height, FALSE);
    MoveWindow(m_pane.Window(), 0, 0, pane.cx, pane.cy, FALSE);
    int top = clientHeight - 10 - buttonHeight;
    int cancelLeft = clientWidth - 15 - buttonWidth;
    MoveWindow(Item(IDCANCEL), cancelLeft, top, buttonWidth, buttonHeight, FALSE);
    MoveWindow(Item(IDOK), cancelLeft - 15 - buttonWidth, top, buttonWidth, buttonHeight, FALSE);
    ShowWindow(m_pane.Window(), SW_SHOW);
    // After the buttons in the z-order, the pane's fields come first for Tab.
    SetWindowPos(m_pane.Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return TRUE;
}

void CObjectDialog::OnOK()
{
    // The field being edited counts, as if the user had left it.
    m_pane.CommitFocused();
    if (m_doc.FinishObjectDialog(m_form, m_copy))
        EndDialog(IDOK);
    else
        m_pane.Fill();
}

void CObjectDialog::OnCancel()
{
    m_doc.SetDialogClosed(true);
    EndDialog(IDCANCEL);
}
