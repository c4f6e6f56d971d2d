// The Setup sheet "Tolvane" and its three pages: thin dialogs that move
// texts between their controls and the presenters of SetupSettings.h.
#pragma once
#include <windows.h>
#include "PropertySheet.h"
#include "SetupSettings.h"

class CUserInterfaceDoc;

class CPropertyPageBrowser : public CPropertyPage {
public:
    explicit CPropertyPageBrowser(HINSTANCE instance, CUserInterfaceDoc &doc, SetupValues &values);

protected:
    BOOL OnInitDialog() override;
    bool OnKillActive() override;

private:
    CUserInterfaceDoc &m_doc;
    SetupValues &m_values;
};

class CPropertyPagePath : public CPropertyPage {
public:
    explicit CPropertyPagePath(HINSTANCE instance, SetupValues &values);

protected:
    BOOL OnInitDialog() override;
    bool OnKillActive() override;

private:
    SetupValues &m_values;
};

class CPropertyPageAdvanced : public CPropertyPage {
public:
    CPropertyPageAdvanced(HINSTANCE instance, CAdvancedSettings &settings, IQORDriver *server,
                          const std::string &machine);

protected:
    BOOL OnInitDialog() override { return TRUE; }
    void OnSetActive() override;
    bool OnKillActive() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void Save();

    CAdvancedSettings &m_settings;
    IQORDriver *m_server;
    std::string m_machine, m_timeout;
    bool m_checking = false;
};

// Runs the sheet over the document; what the user confirmed is applied.
void RunSetupSheet(HINSTANCE instance, HWND owner, CUserInterfaceDoc &doc, HWND tree);
