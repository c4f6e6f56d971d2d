// CServerConnectDlg: the connection dialog over template 8100. It moves the
// choice between its controls and the connection presenter, and mirrors the
// network tree's items in its tree control.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "Dialog.h"
#include "NetworkTree.h"
#include "ServerConnection.h"

class CServerConnectDlg : public CDialog {
public:
    enum { TemplateId = 8100 };

    // node: the command line's node (empty when none).
    CServerConnectDlg(HINSTANCE instance, CServerConnection &connection, INetworkSource &network,
                      IMessageSink &messages, const std::string &node);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR *header, LRESULT *result) override;
    void DoDataExchange(CDataExchange &dx) override;

private:
    void EnableRemote(bool remote);
    void Finish(CServerConnection::Outcome outcome);
    HTREEITEM Insert(CNetworkTree::Item &item, HTREEITEM parent);

    CServerConnection &m_connection;
    CNetworkTree m_tree;
    std::string m_node;
    int m_remote = 0;
    std::string m_machine;
    int m_show = 1;
};
