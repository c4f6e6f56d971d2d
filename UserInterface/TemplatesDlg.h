// The Templates dialog (template 157): the channel, device and data-block
// panes in template mode on three tabs. OK writes the templates to the
// server machine's registry; Cancel keeps them as they were.
#pragma once
#include <windows.h>
#include "Dialog.h"
#include "FormPane.h"
#include "ObjectForm.h"

class CUserInterfaceDoc;

class CTemplatesDlg : public CDialog {
public:
    static const char *const TabTitles[3];  // " Channel ", " Device ", " Data Block "

    CTemplatesDlg(HINSTANCE instance, CUserInterfaceDoc &doc);
    ~CTemplatesDlg() override;

protected:
    BOOL OnInitDialog() override;
    bool OnNotify(NMHDR *header, LRESULT *result) override;
    void OnOK() override;

private:
    void ShowTab(int tab);

    CUserInterfaceDoc &m_doc;
    CObjectForm m_forms[3];
    CFormPane m_panes[3];
    HIMAGELIST m_images = NULL;
};

// Reads the templates, runs the dialog and writes them on OK.
void RunTemplatesDialog(HINSTANCE instance, HWND owner, CUserInterfaceDoc &doc);
