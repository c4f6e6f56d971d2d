// The Setup program's worker and page checks through its core without
// windows, with a scripted asker: the HMI's keys, the installation-folder
// checks, the earlier-installation decisions, the library's loading, a
// running driver, and a whole installation from the distribution folder
// that a second run finds, uninstalls and installs again.
#include <gtest/gtest.h>
#include <ole2.h>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <vector>
#include "SetupCore.h"

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hadrel";
const char kDriverKey[] = "SOFTWARE\\Veltrane\\Drivers\\QOR";

std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string DistFolder()
{
    std::string bin = BinFolder();
    return bin.substr(0, bin.find_last_of('\\')) + "\\dist";
}

std::string TempFolder(const char *name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + name;
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

bool IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SetDefault(HKEY root, const std::string &key, const std::string &value)
{
    HKEY handle = NULL;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL), ERROR_SUCCESS);
    RegSetValueExA(handle, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(handle);
}

void SetText(HKEY root, const std::string &key, const char *name, const std::string &value)
{
    HKEY handle = NULL;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL), ERROR_SUCCESS);
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(handle);
}

// True once the driver's store is no longer in use (within a minute).
bool WaitUntilStopped()
{
    DWORD start = GetTickCount();
    while (DriverRunning()) {
        if (GetTickCount() - start > 60000)
            return false;
        Sleep(100);
    }
    return true;
}

// Other tests in this prefix use the system folder's OPC proxy libraries:
// a count held for them, as other software would hold it, keeps the
// uninstalls here from removing them.
void HoldSystemProxies()
{
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", 0, NULL, 0,
                        KEY_READ | KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    for (const char *name : {"OPCProxy.dll", "opc_aeps.dll"}) {
        std::string path = std::string(system) + "\\" + name;
        DWORD count = 0, size = sizeof count;
        RegQueryValueExA(key, path.c_str(), NULL, NULL, reinterpret_cast<BYTE *>(&count), &size);
        ++count;
        RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), sizeof count);
    }
    RegCloseKey(key);
}

void RemoveHmiKeys()
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Software\\Kestrune");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Veltrane, Inc.\\Halvo");
}

// A fresh test log for Setup's boxes (its path), no HMI and no earlier
// installation, the S7 software in place.
std::string PrepareSetupRun(const char *logName)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string log = std::string(temp) + logName;
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("QOR_TEST_LOG_FILE", log.c_str());
    HoldSystemProxies();
    RemoveHmiKeys();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
    SetDefault(HKEY_LOCAL_MACHINE, "SOFTWARE\\SIEMENS\\SIMATIC_NET", "");
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    CopyFileA((BinFolder() + "\\s732.dll").c_str(), (std::string(system) + "\\s732.dll").c_str(), TRUE);
    return log;
}

void WriteHmiKey(const std::string &key, const std::string &base)
{
    SetDefault(HKEY_CLASSES_ROOT, key + "\\BASPATH", base);
    SetDefault(HKEY_CLASSES_ROOT, key + "\\PDBPATH", base + "\\PDB");
    SetDefault(HKEY_CLASSES_ROOT, key + "\\NLSPATH", base + "\\NLS");
    SetDefault(HKEY_CLASSES_ROOT, key + "\\NODENAME", "SCADA1");
}

// Answers questions from a list (No when it runs out) and runs the wizard
// by a function of the test; records what was asked and shown.
class CScriptedAsker : public ISetupAsker {
public:
    int Ask(const std::string &text, const std::string &, UINT) override
    {
        asked.push_back(text);
        return next < answers.size() ? answers[next++] : IDNO;
    }
    bool RunWizard(CWizardChoices &choices) override
    {
        offered = choices;
        wizardRan = true;
        return wizard ? wizard(choices) : false;
    }
    std::vector<int> answers;
    size_t next = 0;
    std::vector<std::string> asked;
    std::function<bool(CWizardChoices &)> wizard;
    CWizardChoices offered;
    bool wizardRan = false;
};

TEST(SetupProgram, FindsTheHmiByItsKeys)
{
    struct Case {
        const char *name;
        std::function<void()> keys;
        bool found;
        int newerKey;
        const char *folderName;
    } cases[] = {
        {"no HMI", [] {}, false, 0, ""},
        {"newer key with Halvo", [] { WriteHmiKey("Software\\Brenta Dynamics", "C:\\HMI");
                                      SetDefault(HKEY_LOCAL_MACHINE, "Software\\Veltrane, Inc.\\Halvo", ""); },
         true, 1, "Halvo"},
        {"newer key without Halvo", [] { WriteHmiKey("Software\\Brenta Dynamics", "C:\\HMI");
                                         SetDefault(HKEY_CLASSES_ROOT, "Software\\Veltrane, Inc.\\Brenta Dynamics", ""); },
         true, 1, "Brenta Dynamics"},
        {"older key", [] { WriteHmiKey("Software\\Kestrune", "C:\\HMI"); }, true, 0, "Veltrane Brenta"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RemoveHmiKeys();
        c.keys();
        CHmiInfo hmi = DetectHmi();
        EXPECT_EQ(hmi.found, c.found);
        EXPECT_EQ(hmi.newerKey, c.newerKey);
        EXPECT_EQ(hmi.folderName, c.folderName);
        // The worker starts the pages from it; the node-name page only with the HMI.
        CScriptedAsker asker;
        EXPECT_EQ(RunSetupWorker(asker, DistFolder()), kSetupCancelled) << "the wizard was cancelled";
        ASSERT_TRUE(asker.wizardRan);
        EXPECT_EQ(asker.offered.nodeNamePage, c.found);
        EXPECT_EQ(asker.offered.installFolder, c.found ? "C:\\HMI" : "");
        EXPECT_EQ(asker.offered.nodeName, c.found ? "SCADA1" : "");
        EXPECT_EQ(asker.offered.programFolder, c.folderName);
        if (c.found) {
            EXPECT_EQ(hmi.databasePath, "C:\\HMI\\PDB");
            EXPECT_EQ(LanguagePath(hmi, "C:\\HMI"), "C:\\HMI\\NLS");
            EXPECT_EQ(LanguagePath(hmi, "D:\\Elsewhere"), "D:\\Elsewhere");
        }
    }
    RemoveHmiKeys();
    CHmiInfo none;
    EXPECT_EQ(LanguagePath(none, "C:\\QOR"), "C:\\QOR");
    EXPECT_EQ(ServerFlag(NodeType::Server), 1);
    EXPECT_EQ(ServerFlag(NodeType::Client), 0);
    EXPECT_EQ(ServerFlag(NodeType::None), 0);
}

TEST(SetupProgram, InstallationFolderChecks)
{
    std::string base = TempFolder("setup_destination");
    std::string file = base + "\\plain.txt";
    std::ofstream(file) << "not a folder";
    const std::string notDir = "The path specified is not a directory";
    auto create = [](const std::string &path) {
        return "The specified directory\n\n" + path + "\n\ndoes not exist. Do you wish to create it?\n";
    };
    struct Case {
        const char *name;
        std::string text;
        std::vector<int> answers;
        bool accepted;
        std::string path;
        std::vector<std::string> asked;
    } cases[] = {
        {"blank", "   \t ", {}, false, "", {}},
        {"drive root", "  C:\\ ", {}, true, "C:\\", {}},
        {"existing folder, trailing slash", " " + base + "\\ ", {}, true, base, {}},
        {"a file", file, {}, false, file, {notDir}},
        {"missing, No", base + "\\new\\deeper", {IDNO}, false, base + "\\new\\deeper", {create(base + "\\new\\deeper")}},
        {"missing, Yes: level by level", base + "\\new\\deeper\\deepest", {IDYES}, true,
         base + "\\new\\deeper\\deepest", {create(base + "\\new\\deeper\\deepest")}},
        {"a level that fails", file + "\\sub", {IDYES}, false, file + "\\sub",
         {create(file + "\\sub"), "Failed to create directory"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedAsker asker;
        asker.answers = c.answers;
        std::string path;
        EXPECT_EQ(CheckDestination(c.text, asker, path), c.accepted);
        if (!c.path.empty()) {
            EXPECT_EQ(path, c.path);
        }
        EXPECT_EQ(asker.asked, c.asked);
    }
    EXPECT_TRUE(IsFolder(base + "\\new\\deeper\\deepest"));
}

std::vector<std::string> g_uninstalls;
bool RecordUninstall(const std::string &command)
{
    g_uninstalls.push_back(command);
    return true;
}

TEST(SetupProgram, EarlierInstallationDecisions)
{
    const std::string uninstall = "The Veltrane QOR driver is already installed on the system. You should uninstall "
                                  "the previous version before installing a new one. Do you want to Uninstall now?";
    const std::string goOn = "Not uninstalling the previous version of the Veltrane QOR Driver may cause "
                             "unpredictable results when you run the driver . Do you still want to continue with "
                             "the installation?";
    struct Case {
        const char *name;
        bool installed, driverKey;
        std::vector<int> answers;
        bool passes;
        std::vector<std::string> asked;
        bool uninstalled;
    } cases[] = {
        {"none", false, false, {}, true, {}, false},
        {"Yes with the driver key", true, true, {IDYES}, true, {uninstall}, true},
        {"Yes without the driver key, then Yes", true, false, {IDYES, IDYES}, true, {uninstall, goOn}, false},
        {"Yes without the driver key, then No", true, false, {IDYES, IDNO}, false, {uninstall, goOn}, false},
        {"No, then Yes", true, true, {IDNO, IDYES}, true, {uninstall, goOn}, false},
        {"No, then No", true, true, {IDNO, IDNO}, false, {uninstall, goOn}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDriverKey);
        if (c.installed)
            SetText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", "uninstall-command");
        if (c.driverKey)
            SetText(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath", "C:\\QOR");
        CScriptedAsker asker;
        asker.answers = c.answers;
        g_uninstalls.clear();
        EXPECT_EQ(PassPreviousInstallation(asker, RecordUninstall), c.passes);
        EXPECT_EQ(asker.asked, c.asked);
        EXPECT_EQ(g_uninstalls, c.uninstalled ? std::vector<std::string>{"uninstall-command"}
                                              : std::vector<std::string>());
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDriverKey);
}

TEST(SetupProgram, MissingLibraryOrEntryPointEndsCancelled)
{
    std::string noLibrary = TempFolder("setup_no_library");
    std::string noEntry = TempFolder("setup_no_entry");
    // A library without InstallDriver under the library's name.
    CopyFileA((BinFolder() + "\\Parvel.dll").c_str(), (noEntry + "\\Setup.dll").c_str(), FALSE);
    RemoveHmiKeys();
    struct Case {
        std::string folder;
        std::string text;
    } cases[] = {
        {noLibrary, "Error loading dll: error 126"},
        {noEntry, "Error resolving address: error 127"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        CScriptedAsker asker;
        asker.wizard = [](CWizardChoices &choices) {
            choices.installFolder = "C:\\never";
            choices.nodeType = NodeType::Server;
            return true;
        };
        EXPECT_EQ(RunSetupWorker(asker, c.folder), kSetupCancelled);
        EXPECT_EQ(asker.asked, std::vector<std::string>{c.text});
    }
}

TEST(SetupProgram, RunningDriverStopsTheInstallation)
{
    std::string command = "\"" + BinFolder() + "\\setup_input_lock_holder.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    DWORD start = GetTickCount();
    while (!DriverRunning() && GetTickCount() - start < 20000)
        Sleep(50);
    CScriptedAsker asker;
    DWORD code = RunSetupWorker(asker, DistFolder());
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, kSetupCancelled);
    EXPECT_EQ(asker.asked, std::vector<std::string>{"The Veltrane QOR Driver is running. Please shutdown the Veltrane "
                                                    "QOR Driver application and uninstall before reinstalling."});
    EXPECT_FALSE(asker.wizardRan);
    // The main dialog shows "Installation Canceled" for any ending but 99.
    struct {
        DWORD exitCode, outcome;
    } outcomes[] = {{STILL_ACTIVE, 0}, {kSetupInstalled, kSetupInstalled}, {kSetupCancelled, kSetupCancelled},
                    {0, kSetupCancelled}, {1, kSetupCancelled}, {0xC0000005, kSetupCancelled}};
    for (auto o : outcomes)
        EXPECT_EQ(WorkerOutcome(o.exitCode), o.outcome) << o.exitCode;
}

TEST(SetupProgram, PageTextsFromTheDistributionFiles)
{
    std::string folder = TempFolder("setup_texts");
    EXPECT_EQ(ReadTextFile(folder + "\\License", 24998), "") << "no licence: an empty page";
    std::ofstream(folder + "\\License", std::ios::binary) << std::string(30000, 'L');
    EXPECT_EQ(ReadTextFile(folder + "\\License", 24998).size(), 24998u);
    std::ofstream(folder + "\\QORREL.TXT", std::ios::binary) << std::string(12000, 'N');
    EXPECT_EQ(ReadTextFile(folder + "\\QORREL.TXT", 10000).size(), 10000u);
}

// The whole installation from the distribution folder, as the wizard's
// pages would run it: the licence's Next, the folder with a blank, Server.
TEST(SetupProgram, InstallsFromTheDistributionFolderThenFindsAndReplacesItsInstallation)
{
    PrepareSetupRun("setup_program_test.log");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(DistFolder().c_str());
    const std::string target = "C:\\Setup Program Test\\QOR Server";

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first run" : "second run");
        CScriptedAsker asker;
        asker.answers = {IDYES, IDYES}; // uninstall the earlier one; create the folder
        asker.wizard = [&](CWizardChoices &choices) {
            EXPECT_TRUE(choices.releaseNotes);
            if (!PassPreviousInstallation(asker, RunAndAwait))
                return false;
            std::string path;
            if (!CheckDestination(" " + target + " ", asker, path))
                return false;
            choices.installFolder = path;
            choices.nodeType = NodeType::Server;
            choices.programFolder = "QOR Program Test";
            return true;
        };
        EXPECT_EQ(RunSetupWorker(asker, DistFolder()), kSetupInstalled);
        // The second run's Yes ran the uninstall, which took the emptied
        // folder too: it is to be made again.
        ASSERT_EQ(asker.asked.size(), run == 0 ? 1u : 2u);
        if (run == 1) {
            EXPECT_EQ(asker.asked[0].substr(0, 44), "The Veltrane QOR driver is already installed");
        }
        EXPECT_EQ(asker.asked.back().substr(0, 25), "The specified directory\n\n");
        // The installed server answers a client.
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        CLSID clsid;
        CLSIDFromString(L"{402D97D2-7270-11D6-B98B-0050DACA0D41}", &clsid);
        IUnknown *server = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void **>(&server)),
                  S_OK);
        if (server)
            server->Release();
        CoUninitialize();
        EXPECT_EQ(GetFileAttributesA((target + "\\Hadrel.exe").c_str()) != INVALID_FILE_ATTRIBUTES, true);
        // The uninstall refuses while the server runs.
        EXPECT_TRUE(WaitUntilStopped()) << "the server did not end";
    }
    // Leave the prefix as it was: the installation's own uninstall command.
    HKEY key = NULL;
    char command[1024] = "";
    DWORD size = sizeof command;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "UninstallString", NULL, NULL, reinterpret_cast<BYTE *>(command), &size);
        RegCloseKey(key);
    }
    EXPECT_TRUE(RunAndAwait(command));
    EXPECT_EQ(GetFileAttributesA((target + "\\Hadrel.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    SetCurrentDirectoryA(previous);
    SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
}

// Setup.exe itself from the distribution folder, its windows driven from
// outside under the null display driver: the pages clicked through into a
// folder with a blank as a server node, then a second run that finds the
// installation, uninstalls it on Yes and installs again. Boxes go to the
// test log and take their default buttons (Yes to create the folder and to
// uninstall).
DWORD RunWaited(const std::string &command, const std::string &folder, DWORD timeoutMs)
{
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, folder.empty() ? NULL : folder.c_str(),
                        &startup, &process))
        return DWORD(-1);
    CloseHandle(process.hThread);
    DWORD code = DWORD(-2);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    return code;
}

// Setup.exe started from the distribution folder.
bool StartSetup(PROCESS_INFORMATION &setup)
{
    std::string setupCommand = "\"" + DistFolder() + "\\Setup.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(NULL, &setupCommand[0], NULL, NULL, FALSE, 0, NULL, DistFolder().c_str(), &startup,
                          &setup) != FALSE;
}

const char kMainTitle[] = "\"QOR Server Installation\"";

// The driver's command line up to the licence page's Next: welcome, release
// notes, licence.
std::string StepsPastTheLicence()
{
    return "\"" + BinFolder() + "\\setup_ui_driver.exe\" wait " + kMainTitle + " 30000 click " + kMainTitle +
           " 1002 wait @wizard 20000 onpage @wizard 1010 20000 next @wizard onpage @wizard 1011 20000 next @wizard ";
}

TEST(SetupProgram, WindowsDrivenFromOutsideInstallAndReinstall)
{
    std::string log = PrepareSetupRun("setup_program_ui.log");
    const std::string target = "C:\\Setup UI Test\\QOR Server";
    const std::string main = kMainTitle;

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first run" : "second run");
        PROCESS_INFORMATION setup = {};
        ASSERT_TRUE(StartSetup(setup));
        // Welcome, release notes, licence (the earlier installation's question
        // is answered Yes by default), folder, Server, program folder, Finish.
        std::string steps = StepsPastTheLicence() +
                            "onpage @wizard 1020 120000 page @wizard 1020 \"" + target + "\" next @wizard " +
                            "onpage @wizard 1030 20000 pagecheck @wizard 1030 next @wizard " +
                            "onpage @wizard 1050 20000 page @wizard 1050 \"QOR UI Test\" finish @wizard " +
                            "shows \"Installation Successful\" 240000 click " + main + " 1002";
        EXPECT_EQ(RunWaited(steps, "", 300000), 0u) << steps;
        EXPECT_EQ(WaitForSingleObject(setup.hProcess, 30000), WAIT_OBJECT_0);
        CloseHandle(setup.hThread);
        CloseHandle(setup.hProcess);
        EXPECT_NE(GetFileAttributesA((target + "\\Hadrel.exe").c_str()), INVALID_FILE_ATTRIBUTES);

        // The installed server answers a client.
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        CLSID clsid;
        CLSIDFromString(L"{402D97D2-7270-11D6-B98B-0050DACA0D41}", &clsid);
        IUnknown *server = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void **>(&server)),
                  S_OK);
        if (server)
            server->Release();
        CoUninitialize();
        EXPECT_TRUE(WaitUntilStopped()) << "the server did not end";
    }
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("does not exist. Do you wish to create it?"), std::string::npos) << text;
    EXPECT_NE(text.find("The Veltrane QOR driver is already installed on the system."), std::string::npos) << text;

    HKEY key = NULL;
    char command[1024] = "";
    DWORD size = sizeof command;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "UninstallString", NULL, NULL, reinterpret_cast<BYTE *>(command), &size);
        RegCloseKey(key);
    }
    EXPECT_TRUE(RunAndAwait(command));
    SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
}

// The folder page of Setup.exe, driven from outside: a folder below a file
// and one of 299 characters are refused after Yes to create them, with
// "Failed to create directory", and the page stays (Back leads to the
// licence page, not to the folder page). Then the wizard is cancelled.
TEST(SetupProgram, FolderPageRefusesFoldersThatCannotBeMade)
{
    std::string log = PrepareSetupRun("setup_program_folders.log");
    const std::string blocked = "C:\\Setup Blocked";
    std::ofstream(blocked) << "a file where a folder should be";
    const std::string longParent = "C:\\Setup Long\\" + std::string(200, 'a');
    const std::string longFolder = longParent + "\\" + std::string(299 - longParent.size() - 1, 'b');
    const std::vector<std::string> folders = {blocked + "\\QOR", longFolder};

    PROCESS_INFORMATION setup = {};
    ASSERT_TRUE(StartSetup(setup));
    std::string steps = StepsPastTheLicence();
    for (const std::string &folder : folders)
        steps += "onpage @wizard 1020 20000 page @wizard 1020 \"" + folder + "\" next @wizard back @wizard " +
                 "onpage @wizard 1011 20000 next @wizard ";
    steps += std::string("onpage @wizard 1020 20000 click @wizard 2 shows \"Installation Canceled\" 60000 click ") +
             kMainTitle + " 1002";
    EXPECT_EQ(RunWaited(steps, "", 300000), 0u) << steps;
    EXPECT_EQ(WaitForSingleObject(setup.hProcess, 30000), WAIT_OBJECT_0);
    CloseHandle(setup.hThread);
    CloseHandle(setup.hProcess);

    std::ifstream in(log);
    std::vector<std::string> boxes;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 4, "BOX ") == 0)
            boxes.push_back(line.substr(0, line.find_last_not_of("\r") + 1));
    std::vector<std::string> expected;
    for (const std::string &folder : folders) {
        expected.push_back("BOX [QOR Server Setup] The specified directory\\n\\n" + folder +
                           "\\n\\ndoes not exist. Do you wish to create it?\\n -> yes");
        expected.push_back("BOX [QOR Server Setup] Failed to create directory -> ok");
    }
    EXPECT_EQ(boxes, expected);
    EXPECT_FALSE(IsFolder(longFolder));
    EXPECT_FALSE(IsFolder(blocked));
    // The levels that could be made stay, as on the page.
    RemoveDirectoryA(longParent.c_str());
    RemoveDirectoryA("C:\\Setup Long");
    DeleteFileA(blocked.c_str());
    SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
}

} // namespace
