// The modify / copy dialog (template 2900): the selected object's pane in a
// window of its own with OK and Cancel. OK hands the pane's values to the
// document, which modifies the object or makes the copy; a refusal keeps
// the dialog open.
#pragma once
#include <windows.h>
#include "Dialog.h"
#include "FormPane.h"
#include "ObjectForm.h"

class CObjectDialog : public CDialog {
public:
    // The title for a kind in modify or copy mode.
    static const char *Title(int kind, bool copy);

    CObjectDialog(HINSTANCE instance, CUserInterfaceDoc &document, int kind, bool copy);
    // The hosted pane, to be given its handlers before the dialog runs.
    CFormPane &Pane() { return m_pane; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    CUserInterfaceDoc &m_doc;
    bool m_copy;
    CObjectForm m_form;
    CFormPane m_pane;
};
