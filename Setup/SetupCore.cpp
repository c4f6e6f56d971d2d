#include "SetupCore.h"
#include <cstdio>
#include <vector>
#include "InstallDriver.h"

namespace {

const char kTitle[] = "QOR Server Setup";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hadrel";

bool KeyExists(HKEY root, const char *key)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// The default value of a subkey, or empty.
std::string DefaultValue(HKEY parent, const char *subkey)
{
    char buffer[MAX_PATH] = "";
    LONG size = sizeof buffer;
    if (RegQueryValueA(parent, subkey, buffer, &size) != ERROR_SUCCESS)
        return std::string();
    return buffer;
}

bool ReadHmiKey(const char *key, CHmiInfo &hmi)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    hmi.found = true;
    hmi.basePath = DefaultValue(handle, "BASPATH");
    hmi.databasePath = DefaultValue(handle, "PDBPATH");
    hmi.languagePath = DefaultValue(handle, "NLSPATH");
    hmi.nodeName = DefaultValue(handle, "NODENAME");
    RegCloseKey(handle);
    return true;
}

} // namespace

CHmiInfo DetectHmi()
{
    CHmiInfo hmi;
    if (ReadHmiKey("Software\\Brenta Dynamics", hmi)) {
        hmi.newerKey = 1;
        hmi.folderName = KeyExists(HKEY_LOCAL_MACHINE, "Software\\Veltrane, Inc.\\Halvo") ? "Halvo" : "Brenta Dynamics";
    } else if (ReadHmiKey("Software\\Kestrune", hmi)) {
        hmi.newerKey = 0;
        hmi.folderName = "Veltrane Brenta";
    }
    return hmi;
}

std::string Trim(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool CheckDestination(const std::string &text, ISetupAsker &asker, std::string &path)
{
    path = Trim(text);
    if (path.empty())
        return false;
    // A drive root such as C:\ is taken as it is.
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\')
        return true;
    if (path.back() == '\\')
        path.pop_back();
    if (IsFolder(path))
        return true;
    if (FileExists(path)) {
        asker.Ask("The path specified is not a directory", kTitle, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    char question[1024];
    std::snprintf(question, sizeof question,
                  "The specified directory\n\n%s\n\ndoes not exist. Do you wish to create it?\n", path.c_str());
    if (asker.Ask(question, kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    if (!CreateFolderLevels(path)) {
        asker.Ask("Failed to create directory", kTitle, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

bool RunAndAwait(const std::string &command)
{
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool PassPreviousInstallation(ISetupAsker &asker, UninstallRunner runUninstall)
{
    std::string command = RegText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString");
    if (command.empty())
        return true;
    if (asker.Ask("The Veltrane QOR driver is already installed on the system. You should uninstall the previous "
                  "version before installing a new one. Do you want to Uninstall now?",
                  kTitle, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        HKEY driver = NULL;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &driver) == ERROR_SUCCESS) {
            RegCloseKey(driver);
            if (runUninstall(command))
                return true;
        }
    }
    return asker.Ask("Not uninstalling the previous version of the Veltrane QOR Driver may cause unpredictable "
                     "results when you run the driver . Do you still want to continue with the installation?",
                     kTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::string LanguagePath(const CHmiInfo &hmi, const std::string &installFolder)
{
    if (hmi.languagePath.empty() || lstrcmpiA(installFolder.c_str(), hmi.basePath.c_str()) != 0)
        return installFolder;
    return hmi.languagePath;
}

int ServerFlag(NodeType type) { return type == NodeType::Server ? 1 : 0; }

std::string ReadTextFile(const std::string &path, size_t limit)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text(limit, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &text[0], DWORD(limit), &read, NULL))
        read = 0;
    CloseHandle(file);
    text.resize(read);
    // A text control shows up to the first terminator.
    text.resize(strnlen(text.c_str(), text.size()));
    return text;
}

DWORD RunSetupWorker(ISetupAsker &asker, const std::string &programFolder)
{
    CWizardChoices choices;
    choices.releaseNotes = GetFileAttributesA("QORREL.TXT") != INVALID_FILE_ATTRIBUTES;
    if (DriverRunning()) {
        asker.Ask("The Veltrane QOR Driver is running. Please shutdown the Veltrane QOR Driver application and "
                  "uninstall before reinstalling.",
                  kTitle, MB_OK | MB_ICONSTOP);
        return kSetupCancelled;
    }
    CHmiInfo hmi = DetectHmi();
    choices.nodeNamePage = hmi.found;
    choices.installFolder = hmi.basePath;
    choices.nodeName = hmi.nodeName;
    choices.programFolder = hmi.folderName;
    if (!asker.RunWizard(choices))
        return kSetupCancelled;
    std::string language = LanguagePath(hmi, choices.installFolder);
    int server = ServerFlag(choices.nodeType);

    std::string library = programFolder;
    if (!library.empty() && library.back() != '\\')
        library += '\\';
    library += "Setup.dll";
    HMODULE setup = LoadLibraryA(library.c_str());
    char text[128];
    if (!setup) {
        std::snprintf(text, sizeof text, "Error loading dll: error %lu", GetLastError());
        asker.Ask(text, kTitle, MB_OK | MB_ICONSTOP);
        return kSetupCancelled;
    }
    InstallDriverFunction install = reinterpret_cast<InstallDriverFunction>(GetProcAddress(setup, "InstallDriver"));
    if (!install) {
        std::snprintf(text, sizeof text, "Error resolving address: error %lu", GetLastError());
        asker.Ask(text, kTitle, MB_OK | MB_ICONSTOP);
        FreeLibrary(setup);
        return kSetupCancelled;
    }
    int result = install(1, hmi.newerKey, server, programFolder.c_str(), choices.installFolder.c_str(),
                         hmi.databasePath.c_str(), language.c_str(), choices.nodeName.c_str(),
                         choices.programFolder.c_str());
    FreeLibrary(setup);
    return result ? kSetupInstalled : kSetupCancelled;
}

DWORD WorkerOutcome(DWORD exitCode)
{
    if (exitCode == STILL_ACTIVE)
        return 0;
    return exitCode == kSetupInstalled ? kSetupInstalled : kSetupCancelled;
}
