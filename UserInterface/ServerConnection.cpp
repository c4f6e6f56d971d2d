#include "ServerConnection.h"
#include "ServerError.h"
#include <algorithm>
#include <vector>

const char CServerConnection::Section[] = "OLEServerInfo";
const char CServerConnection::RemoteLocalEntry[] = "RemoteLocal";
const char CServerConnection::MachineEntry[] = "RemoteMachineName";
const char CServerConnection::ShowEntry[] = "ShowOnStartup";
const char CServerConnection::LocalNode[] = "LOCAL_MACHINE";
const char CServerConnection::FailedQuestion[] =
    "Connection to the selected server has failed.\n    Do you want to select another server?";

namespace {

const char kAlreadyEstablished[] = "Connection Already Established";
const char kNotEstablished[] = "Connection Not Established";
const char kErrorConnecting[] = "Error Connecting to Server";
const char kEstablished[] = "Connection Established";

std::wstring Wide(const std::string &text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    std::vector<wchar_t> wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return wide.data();
}

bool SameMachine(const std::string &a, const std::string &b)
{
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

} // namespace

HRESULT CDcomActivator::Activate(const std::string *machine, IQORDriver **driver, HRESULT *driverResult,
                                 ITracewellConnect **monitor, HRESULT *monitorResult)
{
    MULTI_QI asked[2] = {{&IID_IQORDriver, nullptr, S_OK}, {&IID_ITracewellConnect, nullptr, S_OK}};
    COSERVERINFO info = {};
    std::wstring name;
    if (machine) {
        name = Wide(*machine);
        info.pwszName = &name[0];
    }
    HRESULT hr = CoCreateInstanceEx(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                    machine ? &info : nullptr, 2, asked);
    *driver = static_cast<IQORDriver *>(static_cast<void *>(asked[0].pItf));
    *driverResult = asked[0].hr;
    *monitor = static_cast<ITracewellConnect *>(static_cast<void *>(asked[1].pItf));
    *monitorResult = asked[1].hr;
    // CO_S_NOTALLINTERFACES is a success: each part answers for itself.
    if (FAILED(hr))
        *driverResult = *monitorResult = hr;
    return FAILED(hr) ? hr : S_OK;
}

bool ServerUnreachable(HRESULT code)
{
    switch (unsigned(code)) {
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BE:  // RPC_S_CALL_FAILED
    case 0x800706BF:  // RPC_S_CALL_FAILED_DNE
    case 0x80010007:  // RPC_E_SERVER_DIED
    case 0x80010012:  // RPC_E_SERVER_DIED_DNE
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x800401FD:  // CO_E_OBJNOTCONNECTED
        return true;
    }
    return false;
}

std::string NodeFromCommandLine(const std::string &commandLine)
{
    std::string line = commandLine;
    if (!line.empty())
        CharUpperBuffA(&line[0], DWORD(line.size()));
    if (line.find("/L") != std::string::npos)
        return CServerConnection::LocalNode;
    size_t at = line.find("/N");
    if (at == std::string::npos)
        return std::string();
    // The character after the switch is skipped, then blanks, and the name
    // runs to the next blank.
    size_t start = std::min(at + 3, line.size());
    while (start < line.size() && line[start] == ' ')
        ++start;
    size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool HasSwitch(const std::string &commandLine, const char *word)
{
    std::string line = commandLine, upper = word;
    if (!line.empty())
        CharUpperBuffA(&line[0], DWORD(line.size()));
    if (!upper.empty())
        CharUpperBuffA(&upper[0], DWORD(upper.size()));
    for (size_t at = line.find(upper); at != std::string::npos; at = line.find(upper, at + 1))
        if (at > 0 && (line[at - 1] == '/' || line[at - 1] == '-'))
            return true;
    return false;
}

bool StartedAsObjectServer(const std::string &commandLine)
{
    return HasSwitch(commandLine, "EMBEDDING") || HasSwitch(commandLine, "AUTOMATION");
}

CServerConnection::CServerConnection(IProfile &profile, IServerActivator &activator, IStatusSink &status,
                                     IMessageSink &messages)
    : m_profile(profile), m_activator(activator), m_status(status), m_messages(messages)
{
}

CServerConnection::~CServerConnection()
{
    Release();
}

void CServerConnection::Release()
{
    if (m_monitor)
        m_monitor->Release();
    if (m_server)
        m_server->Release();
    m_monitor = nullptr;
    m_server = nullptr;
}

bool CServerConnection::Answers()
{
    VARIANT_BOOL running = VARIANT_FALSE;
    m_lost = !m_server || FAILED(m_server->get_Running(&running));
    return !m_lost;
}

void CServerConnection::LoadSettings()
{
    m_remote = m_profile.GetString(Section, RemoteLocalEntry, "0") != "0";
    m_machine = m_profile.GetString(Section, MachineEntry, "");
    m_show = m_profile.GetString(Section, ShowEntry, "TRUE") == "TRUE";
    m_dialogShow = m_show;
}

CServerConnection::Outcome CServerConnection::Start(const std::string &node)
{
    m_dialogShow = m_show;
    if (Attached())
        return ShowDialog;
    if (!node.empty()) {
        m_remote = node != LocalNode;
        m_machine = node;
    } else if (m_show) {
        return ShowDialog;
    }
    // The dialog stays hidden and connects at once; a command line's node is
    // used for this start only, the remembered choice stays as it was.
    return Attempt() ? EndOK : AfterFailure();
}

CServerConnection::Outcome CServerConnection::Connect(bool remote, const std::string &machine, bool show)
{
    m_dialogShow = show;
    m_reconnect = false;
    // A server that no longer answers is no connection: Connect makes a new one.
    if (!remote && m_connectedLocally && Attached() && Answers()) {
        m_status.ShowStatus(kAlreadyEstablished);
        m_status.Pause(1500);
        m_status.HideStatus();
        return EndOK;
    }
    if (remote && Attached() && !m_connectedLocally && SameMachine(machine, m_connectedName) && Answers()) {
        m_status.ShowStatus(kAlreadyEstablished);
        m_status.Pause(2000);
        m_status.HideStatus();
        return EndOK;
    }
    m_reconnect = true;
    m_saved.connectedLocally = m_connectedLocally;
    m_saved.show = m_show;
    m_saved.remote = m_remote;
    m_saved.machine = m_machine;
    bool remoteChanged = remote != m_remote;
    m_remote = remote;
    m_show = show;
    if (remote)
        m_machine = machine;
    WriteSettings(remoteChanged);
    return Attempt() ? EndOK : AfterFailure();
}

void CServerConnection::WriteSettings(bool remoteChanged)
{
    m_profile.WriteString(Section, ShowEntry, m_show ? "TRUE" : "FALSE");
    if (remoteChanged)
        m_profile.WriteString(Section, RemoteLocalEntry, m_remote ? "1" : "0");
    if (m_remote)
        m_profile.WriteString(Section, MachineEntry, m_machine);
}

void CServerConnection::RestoreSaved()
{
    // The previous choice is in force again, in the profile as well, so that
    // the next start does not try the server that just failed.
    m_connectedLocally = m_saved.connectedLocally;
    m_show = m_saved.show;
    m_remote = m_saved.remote;
    m_machine = m_saved.machine;
    m_profile.WriteString(Section, ShowEntry, m_show ? "TRUE" : "FALSE");
    m_profile.WriteString(Section, RemoteLocalEntry, m_remote ? "1" : "0");
    m_profile.WriteString(Section, MachineEntry, m_machine);
}

bool CServerConnection::Attempt()
{
    m_status.ShowStatus(m_remote ? "Connecting to Remote Server on " + m_machine + "..."
                                 : std::string("Connecting to Local Server") + "...");
    IQORDriver *driver = nullptr;
    ITracewellConnect *monitor = nullptr;
    HRESULT driverResult = E_FAIL, monitorResult = E_FAIL;
    HRESULT hr = m_activator.Activate(m_remote ? &m_machine : nullptr, &driver, &driverResult, &monitor,
                                      &monitorResult);
    bool attached = false;
    if (FAILED(hr)) {
        m_status.ShowStatus(kNotEstablished);
        if (m_reconnect)
            RestoreSaved();
    } else if (FAILED(driverResult) || !driver) {
        m_status.ShowStatus(kErrorConnecting);
        if (m_reconnect) {
            RestoreSaved();
        } else {
            m_connectedLocally = false;
            m_connectedName.clear();
        }
    } else {
        // The data monitor must never stay connected to the server that is
        // let go: without a new one there is none.
        Release();
        m_server = driver;
        driver = nullptr;
        if (SUCCEEDED(monitorResult) && monitor) {
            m_monitor = monitor;
            monitor = nullptr;
        }
        m_status.ShowStatus(kEstablished);
        m_connectedLocally = !m_remote;
        m_connectedName = m_remote ? m_machine : std::string();
        m_lost = false;
        attached = true;
    }
    if (driver)
        driver->Release();
    if (monitor)
        monitor->Release();
    m_reconnect = false;
    m_status.Pause(2000);
    m_status.HideStatus();
    return attached;
}

CServerConnection::Outcome CServerConnection::AfterFailure()
{
    int answer = m_messages.Box(FailedQuestion, ToolCaption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES)
        return ShowDialog;
    return Usable() ? EndOK : EndCancel;
}

CServerConnection::Outcome CServerConnection::Cancel()
{
    if (!Usable())
        return EndCancel;
    m_show = m_dialogShow;
    m_profile.WriteString(Section, ShowEntry, m_show ? "TRUE" : "FALSE");
    return EndOK;
}
