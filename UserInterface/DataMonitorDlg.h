// The data monitor dialog (template 233): a data block's bytes in lines, in
// the chosen format, refreshed every two seconds by CDataMonitor.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "DataMonitor.h"
#include "Dialog.h"

class CDataMonitorDlg : public CDialog {
public:
    static const UINT_PTR RefreshTimer = 1;
    static const UINT RefreshMs = 2000;

    CDataMonitorDlg(HINSTANCE instance, IQORDriver *server, LONG handle);
    ~CDataMonitorDlg() override;
    // The help pop-up's topic; without a handler Help stays disabled.
    void OnHelp(std::function<void(const std::string &topic)> handler) { m_help = std::move(handler); }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) override;
    void OnOK() override;
    void OnCancel() override { OnOK(); }

private:
    void Refresh();

    CDataMonitor m_monitor;
    bool m_refreshing = false;
    HFONT m_listFont = NULL;
    std::function<void(const std::string &)> m_help;
};
