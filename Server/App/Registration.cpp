#include "Registration.h"
#include <cctype>
#include <ole2.h>
#include <memory>
#include <vector>
#include "DcomPermissions.h"
#include "ServiceAccount.h"
#include "ServerMsg.h"

namespace {

// One step's failure: the text to log; the registry/service-manager
// failures carry the system's text for the error.
struct Failure {
    std::string text;
};

} // namespace

std::string SystemErrorText(DWORD error)
{
    char *buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, error, 0, reinterpret_cast<char *>(&buffer), 0, NULL);
    std::string text = length && buffer ? std::string(buffer, length) : "error " + std::to_string(error);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

namespace {

Failure RegistryFailure(DWORD error)
{
    std::string text = "Error encountered with registry during Server registration";
    if (error)
        text += ":\n" + SystemErrorText(error) + "\n";
    return Failure{text};
}

// Creates key (and the keys above it) and sets one REG_SZ value; name null
// for the default value.
void SetValue(const std::string &key, const char *name, const std::string &value)
{
    HKEY handle = NULL;
    LONG result = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL);
    if (result != ERROR_SUCCESS)
        throw RegistryFailure(DWORD(result));
    result = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                            DWORD(value.size() + 1));
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        throw RegistryFailure(DWORD(result));
}

void DeleteKey(const std::string &key) { RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str()); }

class CServiceHandle {
public:
    explicit CServiceHandle(SC_HANDLE handle = NULL) : m_handle(handle) {}
    ~CServiceHandle()
    {
        if (m_handle)
            CloseServiceHandle(m_handle);
    }
    CServiceHandle(const CServiceHandle &) = delete;
    CServiceHandle &operator=(const CServiceHandle &) = delete;
    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != NULL; }

private:
    SC_HANDLE m_handle;
};

void RegisterService(const CServerNames &names, const std::string &classKey)
{
    CServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        throw RegistryFailure(GetLastError());
    CServiceHandle service(OpenServiceA(manager.get(), names.serviceName.c_str(), SERVICE_ALL_ACCESS));
    CServiceAccount chosen;
    if (!AskServiceAccount(service.get(), chosen))
        throw Failure{std::string()};
    std::string account = chosen.account.empty() ? ".\\LocalSystem" : chosen.account;
    std::string password = chosen.account.empty() ? std::string() : chosen.password;
    std::string command = QuotedCommand(names.modulePath, " /Service");
    if (service) {
        if (!ChangeServiceConfigA(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  command.c_str(), NULL, NULL, NULL, account.c_str(), password.c_str(),
                                  names.serviceDisplayName.c_str()))
            throw RegistryFailure(GetLastError());
    } else {
        // The dependency list ends with two terminators.
        static const char dependencies[] = "RPCSS\0";
        CServiceHandle made(CreateServiceA(manager.get(), names.serviceName.c_str(),
                                           names.serviceDisplayName.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           command.c_str(), NULL, NULL, dependencies, account.c_str(),
                                           password.c_str()));
        if (!made)
            throw RegistryFailure(GetLastError());
    }
    DeleteKey(classKey + "\\LocalServer32");
}

// Deletes the service when it is installed; false when it is and cannot be.
bool DeleteServiceIfInstalled(const std::string &serviceName, DWORD &error)
{
    error = 0;
    CServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        error = GetLastError();
        return false;
    }
    CServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (!DeleteService(service.get())) {
        error = GetLastError();
        return false;
    }
    return true;
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

CommandLineAction ParseCommandLine(const std::string &commandLine)
{
    std::string upper = Upper(commandLine);
    if (upper.find("UNREGSERVER") != std::string::npos)
        return CommandLineAction::Unregister;
    if (upper.find("REGSERVER") != std::string::npos)
        return CommandLineAction::Register;
    if (upper.find("REGSERVICE") != std::string::npos)
        return CommandLineAction::RegisterService;
    if (upper.find("AUTOMATION") != std::string::npos || upper.find("EMBEDDING") != std::string::npos)
        return CommandLineAction::StartedByCom;
    return CommandLineAction::PlainStart;
}

bool IsDesktopStart(const std::string &commandLine, const std::string &serviceName)
{
    return ParseCommandLine(commandLine) == CommandLineAction::PlainStart &&
           Upper(commandLine).find("SERVICE") == std::string::npos && !IsServiceInstalled(serviceName);
}

std::string QuotedCommand(const std::string &modulePath, const char *switchText)
{
    return "\"" + modulePath + "\"" + switchText;
}

bool IsServiceInstalled(const std::string &serviceName)
{
    CServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    CServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    return bool(service);
}

bool RegisterServer(const CServerNames &names, bool service)
{
    try {
        if (names.clsid.empty())
            throw Failure{"Invalid Class ID encountered during Server registration"};
        if (names.typeLibId.empty())
            throw Failure{"Invalid TypeLib ID encountered during Server registration"};

        SetValue(names.versionedProgId, NULL, names.descriptionWithVersion);
        SetValue(names.versionedProgId + "\\CLSID", NULL, names.clsid);

        SetValue(names.progId, NULL, names.description);
        SetValue(names.progId + "\\CurVer", NULL, names.versionedProgId);
        SetValue(names.progId + "\\CLSID", NULL, names.clsid);

        std::string classKey = "CLSID\\" + names.clsid;
        SetValue(classKey, NULL, names.description);
        SetValue(classKey, "AppID", names.clsid);

        if (service) {
            RegisterService(names, classKey);
        } else {
            SetValue(classKey + "\\LocalServer32", NULL, QuotedCommand(names.modulePath, " /Automation"));
            DWORD error = 0;
            if (!DeleteServiceIfInstalled(names.serviceName, error))
                throw RegistryFailure(error);
        }

        SetValue(classKey + "\\NotInsertable", NULL, "");
        SetValue(classKey + "\\ProgID", NULL, names.versionedProgId);
        SetValue(classKey + "\\Programmable", NULL, "");
        SetValue(classKey + "\\TypeLib", NULL, names.typeLibId);
        SetValue(classKey + "\\VersionIndependentProgID", NULL, names.progId);

        std::string appIdKey = "AppID\\" + names.clsid;
        DeleteKey(appIdKey);
        SetValue(appIdKey, NULL, names.descriptionWithVersion);
        if (service) {
            SetValue(appIdKey, "LocalService", names.serviceName);
            SetValue(appIdKey, "ServiceParameters", " /Service");
        } else {
            SetValue(appIdKey, "RunAs", "Interactive User");
        }
        SetValue("AppID\\" + names.moduleFileName, "AppID", names.clsid);

        std::wstring tlbPath(names.typeLibPath.begin(), names.typeLibPath.end());
        ITypeLib *typeLib = nullptr;
        if (FAILED(LoadTypeLib(tlbPath.c_str(), &typeLib)) || !typeLib)
            throw Failure{"Error loading Server Type Library"};
        HRESULT hr = RegisterTypeLib(typeLib, const_cast<wchar_t *>(tlbPath.c_str()), NULL);
        typeLib->Release();
        if (FAILED(hr))
            throw Failure{"Type Library registration failed during Server registration"};

        SetAccessPermission(names.clsid, "Everyone", true, true);
        SetLaunchPermission(names.clsid, "Everyone", true, true);
    } catch (const Failure &failure) {
        // A cancelled account question fails the registration silently.
        if (!failure.text.empty())
            LogMessage(SeverityFatal, "%s", failure.text.c_str());
        return false;
    }
    LogMessage(SeverityInfo, "Server registration was successful");
    return true;
}

bool UnregisterServer(const CServerNames &names)
{
    if (names.clsid.empty()) {
        LogMessage(SeverityFatal, "Invalid Class ID encountered during Server unregistration");
        return false;
    }
    std::string classKey = "CLSID\\" + names.clsid;
    for (const std::string &key : {
             "AppID\\" + names.moduleFileName,
             "AppID\\" + names.clsid,
             names.progId + "\\CurVer",
             names.progId + "\\CLSID",
             names.progId,
             names.versionedProgId + "\\CLSID",
             names.versionedProgId,
             classKey + "\\VersionIndependentProgID",
             classKey + "\\TypeLib",
             classKey + "\\Programmable",
             classKey + "\\ProgID",
             classKey + "\\NotInsertable",
         })
        DeleteKey(key);
    if (IsServiceInstalled(names.serviceName)) {
        DWORD error = 0;
        if (!DeleteServiceIfInstalled(names.serviceName, error))
            return false;
    } else {
        DeleteKey(classKey + "\\LocalServer32");
    }
    DeleteKey(classKey);
    LogMessage(SeverityInfo, "Server unregistration was successful");
    return true;
}
