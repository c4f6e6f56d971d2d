#include "InstallDriver.h"
#include <setupapi.h>
#include <shlobj.h>
#include <ole2.h>
#include <cstdio>
#include <vector>
#include "SetupShared.h"
#include "SharedCounts.h"

namespace {

// Shell-folder directory ids of the setup API (0x4000 + the CSIDL), which
// the uninstall section uses to find the shortcuts again.
const int kCommonProgramsDirId = 0x4000 + CSIDL_COMMON_PROGRAMS;
const int kUserProgramsDirId = 0x4000 + CSIDL_PROGRAMS;

std::string WithSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

std::string Join(const std::string &folder, const std::string &name)
{
    return WithSlash(folder) + name;
}

void ShowInfBox(CSetupReporter &reporter, HWND owner, const char *text)
{
    reporter.Show(owner, text, "INF", MB_OK | MB_ICONSTOP);
}

// Step 2: the S7 communication software must be there for the server to run.
bool SimaticPresentOrAccepted(CSetupReporter &reporter, HWND owner)
{
    HKEY key = NULL;
    bool present = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\SIEMENS\\SIMATIC_NET", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        HMODULE library = LoadLibraryA("S732.dll");
        if (library) {
            FreeLibrary(library);
            present = true;
        }
    }
    if (present)
        return true;
    return reporter.Show(owner,
                         "Siemens SIMATIC NET Software not found. Installing the Veltrane QOR Driver may cause "
                         "unpredictable results when you run the driver.\n Do you still want to continue with "
                         "the installation?",
                         "Veltrane QOR Driver Setup", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

bool LastWriteTime(const char *path, FILETIME &time)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    time = data.ftLastWriteTime;
    return true;
}

// A target newer than its source stays; otherwise, also when a time cannot
// be read, the copy goes ahead.
bool TargetToBeReplaced(const char *sourcePath, const char *targetPath)
{
    FILETIME source, target;
    return !(LastWriteTime(sourcePath, source) && LastWriteTime(targetPath, target) &&
             CompareFileTime(&target, &source) > 0);
}

struct CCommitContext {
    void *defaultContext;
};

// An existing target newer than its source stays; otherwise the copy goes
// ahead, also when a time cannot be read. The rest is the default's.
UINT CALLBACK CommitCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    CCommitContext *commit = static_cast<CCommitContext *>(context);
    if (notification == SPFILENOTIFY_TARGETEXISTS) {
        const FILEPATHS_A *paths = reinterpret_cast<const FILEPATHS_A *>(param1);
        return !paths || TargetToBeReplaced(paths->Source, paths->Target);
    }
    return SetupDefaultQueueCallbackA(commit->defaultContext, notification, param1, param2);
}

// Wine's file queue keeps every existing target of a no-overwrite copy
// without asking the callback. Before the commit each queued copy whose
// target exists is judged here by the same rule, and a target that should
// be replaced is copied over at once; where the system does ask, the
// callback then finds source and target alike and copies again.
UINT CALLBACK ScanCallback(PVOID, UINT notification, UINT_PTR param1, UINT_PTR)
{
    if (notification != SPFILENOTIFY_QUEUESCAN_EX)
        return NO_ERROR;
    const FILEPATHS_A *paths = reinterpret_cast<const FILEPATHS_A *>(param1);
    if (paths && paths->Source && paths->Target && GetFileAttributesA(paths->Target) != INVALID_FILE_ATTRIBUTES &&
        TargetToBeReplaced(paths->Source, paths->Target))
        CopyFileA(paths->Source, paths->Target, FALSE);
    return NO_ERROR;
}

// Starts a program detached, without inherited handles; with waitMs it
// waits that long for its end. False, with a box, when it could not start,
// did not end in time or ended with a failure code.
bool RunProgram(const std::string &command, DWORD waitMs, CSetupReporter &reporter, HWND owner)
{
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &process)) {
        ShowSetupError(reporter, owner, "Failed to start " + command, long(GetLastError()));
        return false;
    }
    CloseHandle(process.hThread);
    bool ok = true;
    if (waitMs) {
        DWORD waited = WaitForSingleObject(process.hProcess, waitMs);
        DWORD exitCode = 0;
        if (waited != WAIT_OBJECT_0) {
            ShowSetupError(reporter, owner, "Registration did not finish in time: " + command);
            ok = false;
        } else if (GetExitCodeProcess(process.hProcess, &exitCode) && exitCode != 0) {
            ShowSetupError(reporter, owner, "Registration failed: " + command, long(exitCode));
            ok = false;
        }
    }
    CloseHandle(process.hProcess);
    return ok;
}

// regsvr32 /s "folder\file", waited for.
void RegisterWithRegsvr32(const std::string &folder, const char *file, CSetupReporter &reporter, HWND owner)
{
    char command[2 * MAX_PATH];
    std::snprintf(command, sizeof command, "regsvr32 /s \"%s\\%s\"", folder.c_str(), file);
    RunProgram(command, kRegistrationWaitMs, reporter, owner);
}

std::string TrimmedFolder(std::string folder)
{
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

// Shell links in the Programs menu; their folder is remembered for the
// uninstall section of the installed INF.
void CreateShortcuts(const CInstallArguments &args, const std::string &installFolder,
                     const std::string &languageFolder, const std::string &installedInf)
{
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)))
        return;
    const std::string &name = args.programFolder;
    bool userMenu = args.newerHmi == 0 &&
                    (name == "Veltrane Brenta" || name == "Brenta Dynamics" || name == "Halvo");
    int csidl = userMenu ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS;
    char menu[MAX_PATH] = "";
    if (SHGetSpecialFolderPathA(NULL, menu, csidl, TRUE)) {
        std::string folder = Join(menu, name);
        CreateDirectoryA(folder.c_str(), NULL);
        SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, folder.c_str(), NULL);
        HKEY key = NULL;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) ==
            ERROR_SUCCESS) {
            RegSetValueExA(key, "FolderName", 0, REG_SZ, reinterpret_cast<const BYTE *>(name.c_str()),
                           DWORD(name.size() + 1));
            RegCloseKey(key);
        }
        struct Link {
            const char *name;
            const std::string &folder;
            const char *target;
        } links[] = {
            {"QOR Tolvane", installFolder, "Tolvane.exe"},
            {"QOR Help", languageFolder, "QOR.chm"},
            {"QOR Release Notes", installFolder, "QORrel.txt"},
        };
        for (const Link &link : links) {
            IShellLinkA *shellLink = nullptr;
            if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                        reinterpret_cast<void **>(&shellLink))))
                continue;
            std::string target = Join(link.folder, link.target);
            shellLink->SetPath(target.c_str());
            shellLink->SetDescription(link.name);
            shellLink->SetWorkingDirectory(TrimmedFolder(link.folder).c_str());
            IPersistFile *file = nullptr;
            if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
                char path[3 * MAX_PATH];
                std::snprintf(path, sizeof path, "%s\\%s\\%s.lnk", menu, name.c_str(), link.name);
                wchar_t widePath[3 * MAX_PATH];
                MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, 3 * MAX_PATH);
                file->Save(widePath, TRUE);
                file->Release();
            }
            shellLink->Release();
        }
        // The uninstall section finds the links through a shell-folder id
        // and this folder name.
        if (FileExists(installedInf)) {
            char entry[MAX_PATH + 32];
            std::snprintf(entry, sizeof entry, "%d,\"%s\"", userMenu ? kUserProgramsDirId : kCommonProgramsDirId,
                          name.c_str());
            WritePrivateProfileStringA("DestinationDirs", "Uninstall.Links", entry, installedInf.c_str());
            WritePrivateProfileStringA(NULL, NULL, NULL, installedInf.c_str());
        }
    }
    CoUninitialize();
}

// The proxy libraries in the system folder register themselves; those that
// this system does not ship are skipped.
void RegisterProxyLibraries(CSetupReporter &reporter, HWND owner)
{
    std::string system = SystemFolder();
    if (system.empty()) {
        ShowSetupError(reporter, owner, "Failed to retrieve system directory", long(GetLastError()));
        return;
    }
    for (size_t i = 0; i < kSharedFileCount; ++i) {
        if (!kSharedFiles[i].systemFolder || !kSharedFiles[i].registered)
            continue;
        std::string path = SharedFilePath(kSharedFiles[i], std::string(), system);
        if (!FileExists(path))
            continue;
        HMODULE library = LoadLibraryA(path.c_str());
        if (!library) {
            ShowSetupError(reporter, owner, "Failed to load library for registering proxy dll", long(GetLastError()));
            continue;
        }
        typedef HRESULT(STDAPICALLTYPE * RegisterFunction)();
        RegisterFunction registerServer =
            reinterpret_cast<RegisterFunction>(GetProcAddress(library, "DllRegisterServer"));
        if (registerServer)
            registerServer();
        FreeLibrary(library);
    }
}

void RegisterComServers(const CInstallArguments &args, const std::string &installFolder, CSetupReporter &reporter,
                        HWND owner)
{
    RegisterProxyLibraries(reporter, owner);
    std::string folder = TrimmedFolder(installFolder);
    if (args.serverNode) {
        char previous[MAX_PATH] = "";
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(folder.c_str());
        RegisterWithRegsvr32(folder, "Brisko.dll", reporter, owner);
        RegisterWithRegsvr32(folder, "Aleron.dll", reporter, owner);
        SetCurrentDirectoryA(previous);
        // Quoted: the folder may hold blanks.
        RunProgram("\"" + Join(folder, "Hadrel.exe") + "\" REGSERVER", kRegistrationWaitMs, reporter, owner);
    } else {
        std::string tlb = Join(folder, "Hadrel.tlb");
        std::wstring wide(tlb.size() + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, tlb.c_str(), -1, &wide[0], int(wide.size()));
        ITypeLib *typeLib = nullptr;
        HRESULT hr = LoadTypeLib(wide.c_str(), &typeLib);
        if (FAILED(hr) || !typeLib) {
            ShowSetupError(reporter, owner, "Failed to load type library", long(hr));
        } else {
            hr = RegisterTypeLib(typeLib, &wide[0], NULL);
            typeLib->Release();
            if (FAILED(hr))
                ShowSetupError(reporter, owner, "Failed to register type library", long(hr));
        }
    }
    // The help control is outside this system; registered when present.
    if (FileExists(Join(folder, "dornel.ocx")))
        RegisterWithRegsvr32(folder, "dornel.ocx", reporter, owner);
}

void ClearReadOnly(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

// The first configuration file, unless the configuration folder already
// holds one of that name; the folder is made when it is missing.
void PlaceConfiguration(const CInstallArguments &args, const std::string &installFolder, CSetupReporter &reporter,
                        HWND owner)
{
    std::string folder = TrimmedFolder(installFolder);
    char source[MAX_PATH], target[2 * MAX_PATH];
    std::snprintf(source, sizeof source, "%s\\default.QOR", folder.c_str());
    // A client node has no default configuration; a server node's that did
    // not arrive was shown with the copy's failure.
    if (!args.configName.empty() && FileExists(source)) {
        std::string configFolder = TrimmedFolder(args.configFolder);
        std::snprintf(target, sizeof target, "%s\\%s.QOR", configFolder.c_str(), args.configName.c_str());
        ClearReadOnly(source);
        if (!configFolder.empty() && !CreateFolderLevels(configFolder)) {
            ShowSetupError(reporter, owner, "Failed to create the configuration folder " + configFolder,
                           long(GetLastError()));
        } else if (!CopyFileA(source, target, TRUE)) {
            DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                ShowSetupError(reporter, owner, std::string("Failed to copy the configuration file ") + target,
                               long(error));
        }
    }
    ClearReadOnly(Join(folder, "QORstext.drv"));
}

// The help updater is outside this system; started when present, not waited for.
void StartHelpUpdater(const std::string &installFolder, CSetupReporter &reporter, HWND owner)
{
    std::string updater = Join(TrimmedFolder(installFolder), "hhupd.exe");
    if (FileExists(updater))
        RunProgram("\"" + updater + "\" /Q", 0, reporter, owner);
}

class CInfInstallation {
public:
    ~CInfInstallation()
    {
        if (m_context)
            SetupTermDefaultQueueCallback(m_context);
        if (m_queue != INVALID_HANDLE_VALUE)
            SetupCloseFileQueue(m_queue);
        if (m_inf != INVALID_HANDLE_VALUE)
            SetupCloseInfFile(m_inf);
    }
    HINF m_inf = INVALID_HANDLE_VALUE;
    HSPFILEQ m_queue = INVALID_HANDLE_VALUE;
    void *m_context = nullptr;
};

bool InstallFromInf(const CInstallArguments &args, CSetupReporter &reporter, ISetupAccounts &accounts, HWND owner);

} // namespace

int RunInstallation(const CInstallArguments &args, CSetupReporter &reporter, ISetupAccounts &accounts)
{
    if (!args.install)
        return 0;
    HWND owner = GetFocus();
    if (!SimaticPresentOrAccepted(reporter, owner))
        return 0;
    if (args.sourceFolder.empty()) {
        reporter.Show(owner, "Path to the distribution media was not specified", "I/O Server Setup Error",
                      MB_OK | MB_ICONSTOP);
        return 0;
    }
    if (!InstallFromInf(args, reporter, accounts, owner))
        return 0;
    RegisterComServers(args, args.installFolder, reporter, owner);
    PlaceConfiguration(args, args.installFolder, reporter, owner);
    StartHelpUpdater(args.installFolder, reporter, owner);
    return 1;
}

namespace {

// Steps with the INF open: files, registry, shortcuts, counts, account; the
// callback, the queue and the INF are closed on the way out.
bool InstallFromInf(const CInstallArguments &args, CSetupReporter &reporter, ISetupAccounts &accounts, HWND owner)
{
    std::string source = WithSlash(args.sourceFolder);
    std::string infPath = source + kInfName;

    CInfInstallation inf;
    inf.m_inf = SetupOpenInfFileA(infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf.m_inf == INVALID_HANDLE_VALUE) {
        ShowSetupError(reporter, owner, "Failed to open server's information file " + infPath,
                       long(GetLastError()));
        return false;
    }
    if (!SetupSetDirectoryIdA(inf.m_inf, kInstallDirId, args.installFolder.c_str())) {
        ShowSetupError(reporter, owner,
                       "Failed to associate a directory id with the destination directory " + args.installFolder,
                       long(GetLastError()));
        return false;
    }
    if (!SetupSetDirectoryIdA(inf.m_inf, kLanguageDirId, args.languageFolder.c_str())) {
        ShowSetupError(reporter, owner,
                       "Failed to associate a directory id with the destination directory " + args.languageFolder,
                       long(GetLastError()));
        return false;
    }
    inf.m_queue = SetupOpenFileQueue();
    if (inf.m_queue == INVALID_HANDLE_VALUE) {
        ShowSetupError(reporter, owner, "Failed to open file queue", long(GetLastError()));
        return false;
    }
    inf.m_context = SetupInitDefaultQueueCallback(owner);
    if (!inf.m_context) {
        ShowSetupError(reporter, owner, "Failed to allocate memory for the queue callback context",
                       long(GetLastError()));
        return false;
    }

    auto queueSection = [&](const char *section, DWORD style, const char *failure) {
        if (SetupInstallFilesFromInfSectionA(inf.m_inf, NULL, inf.m_queue, section, source.c_str(), style))
            return true;
        ShowSetupError(reporter, owner, failure, long(GetLastError()));
        return false;
    };
    if (args.serverNode) {
        if (queueSection("ScadaNode", SP_COPY_NOOVERWRITE, "Failed to process Scada node files"))
            queueSection("ViewNode", SP_COPY_NOOVERWRITE, "Failed to process View node files");
    } else {
        queueSection("ViewNode", SP_COPY_NOOVERWRITE, "Failed to process View node files");
    }
    DWORD scanResult = 0;
    SetupScanFileQueueA(inf.m_queue, SPQ_SCAN_USE_CALLBACKEX, owner, ScanCallback, NULL, &scanResult);
    queueSection("NtSystem32", SP_COPY_FORCE_NEWER, "Failed to process System files");

    // Before the copy: a shared file already there may belong to software
    // that does not count it.
    std::vector<bool> sharedBefore = SharedFilesPresent(args.installFolder, SystemFolder());
    // A target folder that cannot be made keeps the commit retrying it for
    // ever; made here first, such a folder fails the commit instead.
    CCommitContext commit{inf.m_context};
    bool committed = CreateFolderLevels(args.installFolder) && CreateFolderLevels(args.languageFolder) &&
                     SetupCommitFileQueueA(owner, inf.m_queue, CommitCallback, &commit);
    if (!committed)
        ShowSetupError(reporter, owner, "Failed to commit the file queue", long(GetLastError()));
    // The installed INF records what the uninstall takes back; copied from
    // a read-only medium it would take no record.
    std::string installedInf = Join(args.installFolder, kInfName);
    ClearReadOnly(installedInf);

    if (!SetupInstallFromInfSectionA(owner, inf.m_inf, "ProductInstall", SPINST_REGISTRY, NULL, NULL, 0, NULL,
                                     NULL, NULL, NULL))
        ShowInfBox(reporter, owner, "Failed to do registry stuff");
    const char *nodeSection = args.serverNode ? "ScadaNode" : "ViewNode";
    if (!SetupInstallFromInfSectionA(owner, inf.m_inf, nodeSection, SPINST_REGISTRY, NULL, NULL, 0, NULL, NULL,
                                     NULL, NULL))
        ShowInfBox(reporter, owner,
                   args.serverNode ? "Failed to add scada registry info" : "Failed to add view registry info");

    CreateShortcuts(args, args.installFolder, args.languageFolder, installedInf);
    // Counted only for files that the copy placed or kept; a failed copy
    // leaves counts that its uninstall would not take back.
    if (committed)
        CountSharedLibraries(args.installFolder, SystemFolder(), installedInf, sharedBefore);
    CreateServiceAccount(accounts, reporter, owner);
    return true;
}

} // namespace
