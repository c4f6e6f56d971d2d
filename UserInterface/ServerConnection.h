// The tool's connection to the I/O server: the remembered choice of server
// (profile section "OLEServerInfo"), the connection dialog's rules and the
// activation of the server with both of its interfaces at once. The dialog
// (ServerConnectDlg) only moves values between its controls and this
// presenter; the tests drive the presenter through fakes of the activation,
// the profile, the status box and the message boxes.
#pragma once
#include <windows.h>
#include <string>
#include "Profile.h"
#include "QORDriver.h"
#include "UiSinks.h"

// Activates the server class: machine null for this machine. Answers the
// activation's result and, when that succeeded, each asked interface's own
// result with the pointer.
class IServerActivator {
public:
    virtual ~IServerActivator() = default;
    virtual HRESULT Activate(const std::string *machine, IQORDriver **driver, HRESULT *driverResult,
                             ITracewellConnect **monitor, HRESULT *monitorResult) = 0;
};

// Distributed activation (CoCreateInstanceEx, local and remote server).
class CDcomActivator : public IServerActivator {
public:
    HRESULT Activate(const std::string *machine, IQORDriver **driver, HRESULT *driverResult,
                     ITracewellConnect **monitor, HRESULT *monitorResult) override;
};

// A result that says the server no longer answers (its process ended or
// the connection to it broke), as opposed to a refusal of the call.
bool ServerUnreachable(HRESULT code);

// The node named on the command line: "/L" gives "LOCAL_MACHINE", "/N name"
// the name (upper case); empty when neither is there.
std::string NodeFromCommandLine(const std::string &commandLine);
// Whether the command line holds the switch word after "/" or "-", in
// any case.
bool HasSwitch(const std::string &commandLine, const char *word);
// Started by COM to embed or automate a document ("/Embedding",
// "-Automation"): the tool serves its embedded object without a window of
// its own until the container shows it.
bool StartedAsObjectServer(const std::string &commandLine);

class CServerConnection {
public:
    static const char Section[];            // "OLEServerInfo"
    static const char RemoteLocalEntry[];   // "RemoteLocal"
    static const char MachineEntry[];       // "RemoteMachineName"
    static const char ShowEntry[];          // "ShowOnStartup"
    static const char LocalNode[];          // "LOCAL_MACHINE"
    static const char FailedQuestion[];     // string 218

    // What the dialog does next.
    enum Outcome { EndOK = IDOK, EndCancel = IDCANCEL, ShowDialog = 100 };

    CServerConnection(IProfile &profile, IServerActivator &activator, IStatusSink &status, IMessageSink &messages);
    ~CServerConnection();
    CServerConnection(const CServerConnection &) = delete;
    CServerConnection &operator=(const CServerConnection &) = delete;

    // Reads the remembered choice from the profile.
    void LoadSettings();

    // The dialog's start: whether it shows, or connects at once with the
    // command line's node or the remembered settings (then the outcome of
    // that connection; ShowDialog also when it failed and the user wants to
    // choose another server).
    Outcome Start(const std::string &node);
    // "Connect..." with the values read from the controls.
    Outcome Connect(bool remote, const std::string &machine, bool show);
    // "Cancel".
    Outcome Cancel();

    // The attached server and data-monitor connection (null when none).
    IQORDriver *Server() const { return m_server; }
    ITracewellConnect *Monitor() const { return m_monitor; }
    bool Attached() const { return m_server != nullptr; }
    // Whether the attached server still answers a cheap call; one that does
    // not counts as lost.
    bool Answers();
    // The attached server stopped answering; a connection made again clears it.
    void MarkLost() { m_lost = true; }
    bool Lost() const { return m_lost; }
    // Lets the server go (the document's end).
    void Release();

    // The document's connection settings.
    bool Remote() const { return m_remote; }
    const std::string &MachineName() const { return m_machine; }
    bool ShowOnStartup() const { return m_show; }
    bool ConnectedLocally() const { return m_connectedLocally; }
    const std::string &ConnectedName() const { return m_connectedName; }
    // The show flag as the dialog last read it from its controls.
    bool DialogShow() const { return m_dialogShow; }

private:
    // One activation; true when the server is attached.
    bool Attempt();
    // The outcome of a failed attempt: the question whether to choose again.
    Outcome AfterFailure();
    void RestoreSaved();
    // A server to go on with: attached and not lost.
    bool Usable() const { return Attached() && !m_lost; }
    void WriteSettings(bool remoteChanged);

    IProfile &m_profile;
    IServerActivator &m_activator;
    IStatusSink &m_status;
    IMessageSink &m_messages;

    IQORDriver *m_server = nullptr;
    ITracewellConnect *m_monitor = nullptr;

    bool m_remote = false;
    std::string m_machine;
    bool m_show = true;
    bool m_connectedLocally = false;
    std::string m_connectedName;
    bool m_dialogShow = true;
    bool m_lost = false;

    bool m_reconnect = false;
    struct Saved {
        bool connectedLocally = false, show = true, remote = false;
        std::string machine;
    } m_saved;
};
