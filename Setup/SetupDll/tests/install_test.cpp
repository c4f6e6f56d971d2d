// The Setup library: the arguments and files that stop an installation
// with their texts, folders that cannot be made, the shared counts, and a
// whole installation from the distribution folder that the build assembles
// (server node into a folder with a blank, a second installation over it, a
// client node), undone by the command that the installation leaves under the
// Uninstall key, which refuses while the server runs and from any folder but
// the installation's; other software's shared files and counts stay.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <ole2.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <sddl.h>
#include <setupapi.h>
#include "InstallDriver.h"
#include "SetupShared.h"
#include "SharedCounts.h"
#include "Uninstall.h"

namespace {

const char kServerClsid[] = "{402D97D2-7270-11D6-B98B-0050DACA0D41}";
const char kBriskoClsid[] = "{402D97D3-7270-11D6-B98B-0050DACA0D41}";
const char kAleronClsid[] = "{402D97D4-7270-11D6-B98B-0050DACA0D41}";
const char kLibId[] = "{402D97D1-7270-11D6-B98B-0050DACA0D41}";
const char kDriverKey[] = "Software\\Veltrane\\Drivers\\QOR";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hadrel";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kSimaticKey[] = "SOFTWARE\\SIEMENS\\SIMATIC_NET";
const char kProgramFolder[] = "QOR Setup Test";

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

std::string SystemFolder()
{
    char buffer[MAX_PATH];
    GetSystemDirectoryA(buffer, MAX_PATH);
    return buffer;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], DWORD(text.size()));
    return text;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void SetWriteTime(const std::string &path, LONGLONG offsetSeconds)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    value.QuadPart += offsetSeconds * 10000000LL;
    FILETIME when = {value.LowPart, value.HighPart};
    SetFileTime(file, NULL, NULL, &when);
    CloseHandle(file);
}

bool KeyExists(HKEY root, const std::string &key)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// Subkeys and values of a key together.
DWORD EntryCount(HKEY root, const std::string &key)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyA(handle, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(handle);
    return subkeys + values;
}

std::string RegText(HKEY root, const std::string &key, const char *value)
{
    char buffer[1024] = "";
    DWORD size = sizeof buffer;
    if (RegGetValueA(root, key.c_str(), value, RRF_RT_REG_SZ, NULL, buffer, &size) != ERROR_SUCCESS)
        return "<none>";
    return buffer;
}

DWORD RegCount(const std::string &value)
{
    DWORD count = 0, size = sizeof count;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSharedDlls, value.c_str(), RRF_RT_REG_DWORD, NULL, &count, &size) !=
        ERROR_SUCCESS)
        return 0;
    return count;
}

bool CountValueExists(const std::string &value)
{
    return RegGetValueA(HKEY_LOCAL_MACHINE, kSharedDlls, value.c_str(), RRF_RT_ANY, NULL, NULL, NULL) ==
           ERROR_SUCCESS;
}

// Runs a command line and waits for its end; its exit code.
DWORD RunCommand(const std::string &command, DWORD timeoutMs = 180000)
{
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
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

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

std::string LinkTarget(const std::string &link)
{
    IShellLinkA *shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&shellLink))))
        return "<no shell link>";
    std::string target = "<unreadable>";
    IPersistFile *file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        std::wstring wide(link.begin(), link.end());
        char path[MAX_PATH] = "";
        if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ)) &&
            SUCCEEDED(shellLink->GetPath(path, MAX_PATH, NULL, 0)))
            target = path;
        file->Release();
    }
    shellLink->Release();
    return target;
}

std::string CommonPrograms()
{
    char menu[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, menu, CSIDL_COMMON_PROGRAMS, FALSE);
    return menu;
}

// Records what the user would have been shown, and answers from a list.
class CRecordingReporter : public CSetupReporter {
public:
    int Show(HWND, const std::string &text, const std::string &title, UINT style) override
    {
        boxes.push_back("[" + title + "] " + text);
        if (next < answers.size())
            return answers[next++];
        return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    std::vector<std::string> boxes;
    std::vector<int> answers;
    size_t next = 0;
};

class CRecordingAccounts : public ISetupAccounts {
public:
    DWORD AddUser(const std::string &name, const std::string &, const std::string &, DWORD) override
    {
        calls.push_back("AddUser " + name);
        return 0;
    }
    DWORD AddToGroup(const std::string &group, const std::string &name) override
    {
        calls.push_back("AddToGroup " + group + " " + name);
        return 0;
    }
    RightResult GrantRight(const std::string &name, const std::string &right, DWORD &status) override
    {
        status = 0;
        calls.push_back("GrantRight " + name + " " + right);
        return RightResult::Granted;
    }
    std::vector<std::string> calls;
};

// The S7 library's own software: its key and, in the system folder, the
// stand-in library, so that the installed server finds it.
void InstallS7Software()
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSimaticKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string target = SystemFolder() + "\\s732.dll";
    if (!Exists(target)) {
        ASSERT_TRUE(CopyFileA((BinFolder() + "\\s732.dll").c_str(), target.c_str(), FALSE));
    }
}

CInstallArguments ServerArguments(const std::string &install)
{
    CInstallArguments args;
    args.install = 1;
    args.newerHmi = 1;
    args.serverNode = 1;
    args.sourceFolder = DistFolder();
    args.installFolder = install;
    args.configFolder = install;
    args.languageFolder = install;
    args.configName = "NODE1";
    args.programFolder = kProgramFolder;
    return args;
}

struct StopCase {
    const char *name;
    std::function<void(CInstallArguments &)> change;
    bool withS7;
    std::vector<int> answers;
    std::string box; // the one box shown, before any folder name it ends with
};

TEST(SetupLibrary, StopsWithItsTextBeforeInstallingAnything)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string empty = std::string(temp) + "setup_no_inf";
    CreateDirectoryA(empty.c_str(), NULL);
    const std::string question = "[Veltrane QOR Driver Setup] Siemens SIMATIC NET Software not found. Installing the "
                                 "Veltrane QOR Driver may cause unpredictable results when you run the driver.\n Do "
                                 "you still want to continue with the installation?";
    std::vector<StopCase> cases = {
        {"install flag 0", [](CInstallArguments &a) { a.install = 0; }, true, {}, ""},
        {"no source folder", [](CInstallArguments &a) { a.sourceFolder.clear(); }, true, {},
         "[I/O Server Setup Error] Path to the distribution media was not specified"},
        {"no INF in the source", [&](CInstallArguments &a) { a.sourceFolder = empty; }, true, {},
         "[I/O Server Setup Error] Failed to open server's information file " + empty + "\\QOR.inf\nWin32 error "
         "code: "},
        {"no S7 software, answered No", [](CInstallArguments &) {}, false, {IDNO}, question},
        {"no S7 software, answered Yes, no source", [](CInstallArguments &a) { a.sourceFolder.clear(); }, false,
         {IDYES}, question},
    };
    for (const StopCase &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.withS7)
            InstallS7Software();
        else
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSimaticKey);
        CInstallArguments args = ServerArguments("C:\\setup_never_made");
        c.change(args);
        CRecordingReporter reporter;
        reporter.answers = c.answers;
        CRecordingAccounts accounts;
        EXPECT_EQ(RunInstallation(args, reporter, accounts), 0);
        if (c.box.empty()) {
            EXPECT_TRUE(reporter.boxes.empty());
        } else {
            ASSERT_FALSE(reporter.boxes.empty());
            EXPECT_EQ(reporter.boxes[0].substr(0, c.box.size()), c.box);
        }
        EXPECT_TRUE(accounts.calls.empty());
        EXPECT_FALSE(Exists("C:\\setup_never_made"));
    }
    InstallS7Software();
}

struct CSharedFolders {
    std::string install, system, record;
};

// An installation and a system folder of the test's own, below the
// temporary folder, without any of the shared files or their counts (an
// earlier run may have left some), and no record file yet.
CSharedFolders FreshSharedFolders(const std::string &name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base = std::string(temp) + name;
    CSharedFolders folders{base + "\\install", base + "\\system", base + "\\install\\QOR.inf"};
    EXPECT_TRUE(CreateFolderLevels(folders.install));
    EXPECT_TRUE(CreateFolderLevels(folders.system));
    for (size_t i = 0; i < kSharedFileCount; ++i) {
        std::string path = SharedFilePath(kSharedFiles[i], folders.install, folders.system);
        DeleteFileA(path.c_str());
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str());
    }
    SetFileAttributesA(folders.record.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(folders.record.c_str());
    return folders;
}

void SetCount(const std::string &path, DWORD count)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), sizeof count);
    RegCloseKey(key);
}

// The shared counts in folders of the test's own: each installation adds 1
// and records it; the uninstall takes back what was recorded, so a count
// that other software holds stays, and a file nobody counts any more goes.
TEST(SetupLibrary, SharedCountsAreTakenBackAsTheyWereRaised)
{
    struct Case {
        const char *name;
        int installations;
        DWORD othersProxyCount; // another product's count of OPCProxy.dll
        bool textCount;         // opc_aeps.dll's value is no count
    } cases[] = {
        {"one installation", 1, 0, false},
        {"installed twice over itself", 2, 0, false},
        {"another product counts the proxy", 1, 1, false},
        {"a value that is no count stays", 1, 0, true},
    };
    int run = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CSharedFolders folders = FreshSharedFolders("shared_counts_" + std::to_string(run++));
        const std::string &install = folders.install, &system = folders.system, &record = folders.record;
        WriteFile(record, "[SharedDlls]\r\n");
        // Placed by the installation: two of the installation folder's files
        // and two proxies; the others are not counted.
        std::vector<bool> before = SharedFilesPresent(install, system);
        for (const std::string &file : {install + "\\Tessary.dll", install + "\\ZorbErr.dll",
                                        system + "\\OPCProxy.dll", system + "\\opc_aeps.dll"})
            WriteFile(file, "not a library");
        HKEY key = NULL;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL),
                  ERROR_SUCCESS);
        std::string proxy = system + "\\OPCProxy.dll", aeProxy = system + "\\opc_aeps.dll";
        if (c.othersProxyCount)
            RegSetValueExA(key, proxy.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&c.othersProxyCount),
                           sizeof(DWORD));
        if (c.textCount)
            RegSetValueExA(key, aeProxy.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>("7"), 2);
        RegCloseKey(key);

        for (int i = 0; i < c.installations; ++i)
            CountSharedLibraries(install, system, record, i == 0 ? before : SharedFilesPresent(install, system));
        EXPECT_EQ(RegCount(install + "\\Tessary.dll"), DWORD(c.installations));
        EXPECT_EQ(RegCount(proxy), c.othersProxyCount + c.installations);
        EXPECT_FALSE(CountValueExists(install + "\\Dornel.OCX")) << "absent files are not counted";
        EXPECT_FALSE(CountValueExists(system + "\\QORPS.dll"));

        ReleaseSharedLibraries(RaisedCounts(install, system, record), install, system);
        EXPECT_FALSE(CountValueExists(install + "\\Tessary.dll"));
        EXPECT_FALSE(Exists(install + "\\Tessary.dll"));
        EXPECT_EQ(RegCount(proxy), c.othersProxyCount);
        EXPECT_EQ(Exists(proxy), c.othersProxyCount != 0);
        EXPECT_EQ(CountValueExists(aeProxy), c.textCount);
        EXPECT_EQ(Exists(aeProxy), c.textCount);
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, proxy.c_str());
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, aeProxy.c_str());
    }
}

// Files that other software put there: one that it placed without a count
// survives the uninstall, and so does one that this system does not ship,
// whatever the counts; counts are taken back only by what was raised.
TEST(SetupLibrary, SharedFilesOfOtherSoftwareSurviveTheUninstall)
{
    struct Case {
        const char *name;
        const char *file;
        bool systemFolder;
        bool presentBefore;  // there before the installation copied its files
        DWORD othersCount;   // another product's count before the installation, 0 none
        DWORD othersRelease; // what that product took back before the uninstall
        DWORD countInstalled, countLeft; // 0: no value
        bool fileLeft;
    } cases[] = {
        {"our proxy placed by us", "opc_aeps.dll", true, false, 0, 0, 1, 0, false},
        {"our proxy there before without a count", "opc_aeps.dll", true, true, 0, 0, 2, 1, true},
        {"our proxy there before with a count", "OPCProxy.dll", true, true, 3, 0, 4, 3, true},
        {"our store there before without a count", "Tessary.dll", false, true, 0, 0, 2, 1, true},
        {"an outside proxy without a count", "opccomn_ps.dll", true, true, 0, 0, 2, 1, true},
        {"an outside proxy whose other user left first", "QORPS.dll", true, true, 1, 1, 2, 0, true},
        {"the outside help control, its other user left first", "Dornel.OCX", false, true, 1, 1, 2, 0, true},
        {"our proxy, its other user left first", "OPCProxy.dll", true, true, 1, 1, 2, 0, false},
    };
    int run = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CSharedFolders folders = FreshSharedFolders("shared_owners_" + std::to_string(run++));
        const std::string &install = folders.install, &system = folders.system, &record = folders.record;
        std::string path = (c.systemFolder ? system : install) + "\\" + c.file;
        if (c.presentBefore)
            WriteFile(path, "placed by other software");
        if (c.othersCount)
            SetCount(path, c.othersCount);
        std::vector<bool> before = SharedFilesPresent(install, system);
        // The installation's copy: the record and, unless it was there, the file.
        WriteFile(record, "[SharedDlls]\r\n");
        if (!c.presentBefore)
            WriteFile(path, "placed by the installation");

        CountSharedLibraries(install, system, record, before);
        EXPECT_EQ(RegCount(path), c.countInstalled);
        if (c.othersRelease)
            SetCount(path, RegCount(path) - c.othersRelease);
        ReleaseSharedLibraries(RaisedCounts(install, system, record), install, system);
        EXPECT_EQ(RegCount(path), c.countLeft);
        EXPECT_EQ(CountValueExists(path), c.countLeft != 0);
        EXPECT_EQ(Exists(path), c.fileLeft);
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str());
    }
}

// A raise that no record holds could never be taken back: without a record
// file, or with one that cannot be written (held open by another without
// sharing), no count moves.
TEST(SetupLibrary, NoCountIsRaisedWithoutItsRecord)
{
    struct Case {
        const char *name;
        bool recordFile;
        DWORD othersCount;
    } cases[] = {
        {"no record file", false, 0},
        {"a record file that cannot be written", true, 0},
        {"a record file that cannot be written, a count of others", true, 2},
    };
    int run = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CSharedFolders folders = FreshSharedFolders("shared_unrecorded_" + std::to_string(run++));
        const std::string &install = folders.install, &system = folders.system, &record = folders.record;
        std::string store = install + "\\Tessary.dll", proxy = system + "\\OPCProxy.dll";
        std::vector<bool> before = SharedFilesPresent(install, system);
        WriteFile(store, "placed by the installation");
        WriteFile(proxy, "placed by the installation");
        if (c.othersCount)
            SetCount(proxy, c.othersCount);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.recordFile) {
            WriteFile(record, "[SharedDlls]\r\n");
            held = CreateFileA(record.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        CountSharedLibraries(install, system, record, before);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_FALSE(CountValueExists(store));
        EXPECT_EQ(RegCount(proxy), c.othersCount);
        EXPECT_EQ(Exists(record), c.recordFile) << "no record file is made";
        if (c.recordFile) {
            EXPECT_EQ(ReadFile(record), "[SharedDlls]\r\n");
        }
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, proxy.c_str());
    }
}

// Which shared files the installation may remove: those that the INF copies,
// each in its folder (the system folder's from its system section).
TEST(SetupLibrary, OnlyTheFilesTheInfCopiesCountAsShipped)
{
    std::string inf = DistFolder() + "\\QOR.inf";
    HINF handle = SetupOpenInfFileA(inf.c_str(), NULL, INF_STYLE_WIN4, NULL);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << inf;
    auto listed = [&](const char *section, const char *name) {
        INFCONTEXT line;
        for (BOOL found = SetupFindFirstLineA(handle, section, NULL, &line); found;
             found = SetupFindNextLine(&line, &line)) {
            char field[MAX_PATH] = "";
            if (SetupGetStringFieldA(&line, 1, field, sizeof field, NULL) && lstrcmpiA(field, name) == 0)
                return true;
        }
        return false;
    };
    for (size_t i = 0; i < kSharedFileCount; ++i) {
        const CSharedFile &file = kSharedFiles[i];
        SCOPED_TRACE(file.name);
        bool copied = file.systemFolder ? listed("NtSystem32.Files", file.name)
                                        : listed("ScadaNode.Files", file.name) || listed("ViewNode.Files", file.name);
        EXPECT_EQ(file.shipped, copied);
        // The uninstall's own file list leaves shared files to their counts.
        EXPECT_FALSE(listed("Uninstall.Files", file.name));
    }
    SetupCloseInfFile(handle);
}

// The store's input mutex tells a running driver, also when it belongs to
// another account and grants this one nothing, or nothing beyond waiting.
TEST(SetupLibrary, AMutexThatMayNotBeOpenedStillExists)
{
    struct Case {
        const char *name;
        const char *dacl; // none: no mutex
    } cases[] = {
        {"no mutex", nullptr},
        {"everyone has all access", "D:(A;;GA;;;WD)"},
        {"waiting only", "D:(A;;0x00100000;;;WD)"},
        {"no access at all", "D:"},
    };
    std::string name = "QOR_SetupTest_Lock_" + std::to_string(GetCurrentProcessId());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE mutex = NULL;
        if (c.dacl) {
            PSECURITY_DESCRIPTOR descriptor = NULL;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.dacl, SDDL_REVISION_1, &descriptor,
                                                                             NULL));
            SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
            mutex = CreateMutexA(&attributes, FALSE, name.c_str());
            LocalFree(descriptor);
            ASSERT_NE(mutex, nullptr);
        }
        EXPECT_EQ(MutexExists(name.c_str()), c.dacl != nullptr);
        if (mutex)
            CloseHandle(mutex);
    }
}

// The uninstall goes ahead only from the registered installation folder,
// however that folder is spelled.
TEST(SetupLibrary, UninstallOnlyFromTheRegisteredFolder)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string installed = std::string(temp) + "uninstall_from_here", other = std::string(temp) + "uninstall_other";
    ASSERT_TRUE(CreateFolderLevels(installed));
    ASSERT_TRUE(CreateFolderLevels(other));
    bool keyBefore = KeyExists(HKEY_LOCAL_MACHINE, kDriverKey);
    std::string previous = RegText(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath"); // "<none>" when missing
    const std::string notInstalled = "[Veltrane QOR Driver Setup] The Veltrane QOR Driver is not installed: no "
                                     "installation folder is registered. Nothing was removed.";
    struct Case {
        const char *name;
        std::string registered; // empty: no BasePath
        std::string library;
        std::string box;        // empty: allowed
    } cases[] = {
        {"the installation folder", installed, installed, ""},
        {"another spelling of it", installed, Upper(installed) + "\\", ""},
        {"registered with a closing backslash", installed + "\\", installed, ""},
        {"another folder", installed, other,
         "[Veltrane QOR Driver Setup] This uninstall runs from " + other +
             ", but the Veltrane QOR Driver is installed in " + installed +
             ". Nothing was removed; use the uninstall of the installation folder."},
        {"a folder below it", installed, installed + "\\sub",
         "[Veltrane QOR Driver Setup] This uninstall runs from " + installed +
             "\\sub, but the Veltrane QOR Driver is installed in " + installed +
             ". Nothing was removed; use the uninstall of the installation folder."},
        {"nothing registered", "", installed, notInstalled},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.registered.empty())
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath");
        else
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath", REG_SZ, c.registered.c_str(),
                            DWORD(c.registered.size() + 1));
        CRecordingReporter reporter;
        EXPECT_EQ(UninstallAllowed(c.library, reporter, NULL), c.box.empty());
        EXPECT_EQ(reporter.boxes, c.box.empty() ? std::vector<std::string>() : std::vector<std::string>{c.box});
    }
    if (previous == "<none>")
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath");
    else
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath", REG_SZ, previous.c_str(),
                        DWORD(previous.size() + 1));
    if (!keyBefore)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDriverKey);
}

// Scripted account calls: each answers from its row.
class CScriptedAccounts : public ISetupAccounts {
public:
    CScriptedAccounts(DWORD user, DWORD group, RightResult right, DWORD status)
        : m_user(user), m_group(group), m_right(right), m_status(status)
    {
    }
    DWORD AddUser(const std::string &, const std::string &, const std::string &, DWORD) override
    {
        calls.push_back("AddUser");
        return m_user;
    }
    DWORD AddToGroup(const std::string &, const std::string &) override
    {
        calls.push_back("AddToGroup");
        return m_group;
    }
    RightResult GrantRight(const std::string &, const std::string &, DWORD &status) override
    {
        calls.push_back("GrantRight");
        status = m_status;
        return m_right;
    }
    std::vector<std::string> calls;

private:
    DWORD m_user, m_group;
    RightResult m_right;
    DWORD m_status;
};

TEST(SetupLibrary, ServiceAccountGoesOnForAnExistingAccountAndShowsFailedRights)
{
    struct Case {
        const char *name;
        DWORD user, group;
        RightResult right;
        DWORD status;
        std::vector<std::string> calls;
        std::string box;
    } cases[] = {
        {"new account", 0, 0, RightResult::Granted, 0, {"AddUser", "AddToGroup", "GrantRight"}, ""},
        {"existing account, already a member", 2224 /* NERR_UserExists */, ERROR_MEMBER_IN_ALIAS,
         RightResult::Granted, 0, {"AddUser", "AddToGroup", "GrantRight"}, ""},
        {"existing group name", 2223 /* NERR_GroupExists */, 0, RightResult::Granted, 0,
         {"AddUser", "AddToGroup", "GrantRight"}, ""},
        {"account refused: silent end", ERROR_ACCESS_DENIED, 0, RightResult::Granted, 0, {"AddUser"}, ""},
        {"group refused: silent end", 0, ERROR_ACCESS_DENIED, RightResult::Granted, 0, {"AddUser", "AddToGroup"},
         ""},
        {"no policy", 0, 0, RightResult::PolicyFailed, 0, {"AddUser", "AddToGroup", "GrantRight"},
         "[I/O Server Setup Error] Failed to open policy\n\nI/O Server Setup aborted"},
        {"no SID", 0, 0, RightResult::SidFailed, 0, {"AddUser", "AddToGroup", "GrantRight"},
         "[I/O Server Setup Error] GetAccountSid Failed\n\nI/O Server Setup aborted"},
        {"right refused", 0, 0, RightResult::AddFailed, 5, {"AddUser", "AddToGroup", "GrantRight"},
         "[I/O Server Setup Error] SetPrivilegeOnAccount failed\nWin32 error code: 5\n\nI/O Server Setup aborted"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedAccounts accounts(c.user, c.group, c.right, c.status);
        CRecordingReporter reporter;
        CreateServiceAccount(accounts, reporter, NULL);
        EXPECT_EQ(accounts.calls, c.calls);
        EXPECT_EQ(reporter.boxes, c.box.empty() ? std::vector<std::string>() : std::vector<std::string>{c.box});
    }
}

// A whole installation through the library in the distribution folder,
// run by the host program as the Setup program would, with boxes and
// account calls written to the test log.
class SetupInstallation : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallS7Software();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        m_log = std::string(temp) + "setup_install_test.log";
        DeleteFileA(m_log.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", m_log.c_str());
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
        CoUninitialize();
    }

    // InstallDriver's result; -1 when the host did not end in time.
    int Install(int server, const std::string &install, const std::string &config,
                const std::string &language = std::string())
    {
        std::string command = "\"" + BinFolder() + "\\setup_install_host.exe\" 1 1 " + std::to_string(server) +
                              " \"" + DistFolder() + "\" \"" + install + "\" \"" + config + "\" \"" +
                              (language.empty() ? install : language) + "\" NODE1 \"" + kProgramFolder + "\"";
        DWORD code = RunCommand(command);
        return code == 0 ? 1 : code == 1 ? 0 : -1;
    }

    // The uninstall command from the Uninstall key, run by the host as the
    // system's program list would; its exit code.
    DWORD Uninstall() { return RunCommand("\"" + BinFolder() + "\\setup_install_host.exe\" uninstall"); }

    // The log's lines that start with prefix, after the first skip of them.
    std::vector<std::string> Log(const char *prefix, size_t skip = 0)
    {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(m_log));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.compare(0, strlen(prefix), prefix) != 0)
                continue;
            if (skip)
                --skip;
            else
                lines.push_back(line);
        }
        return lines;
    }

    // Boxes other than those for OPC libraries the build does not make yet.
    std::vector<std::string> UnexpectedBoxes()
    {
        std::vector<std::string> boxes;
        for (const std::string &box : Log("BOX ")) {
            bool absent = false;
            for (const char *file : {"Brisko.dll", "Aleron.dll"})
                if (box.find(file) != std::string::npos && !Exists(DistFolder() + "\\" + file))
                    absent = true;
            if (!absent)
                boxes.push_back(box);
        }
        return boxes;
    }

    std::string m_log;
};

TEST_F(SetupInstallation, InstallsTwiceAndAsClientThenTheUninstallCommandRemovesIt)
{
    const std::string root = "C:\\QOR Setup Test";
    const std::string server = root + "\\Server Files";
    const std::string client = root + "\\Client Files";
    const std::string config = root + "\\Config";
    // The configuration folder does not exist yet (a run before this one
    // may have left it): the installation makes it.
    DeleteFileA((config + "\\NODE1.QOR").c_str());
    RemoveDirectoryA(config.c_str());
    CreateDirectoryA(root.c_str(), NULL);
    const std::string links = CommonPrograms() + "\\" + kProgramFolder;

    // The system folder's counts are shared with every earlier installation
    // in this prefix: they are checked as what each installation adds.
    std::vector<std::pair<std::string, DWORD>> proxies;
    for (const char *proxy : {"OPCProxy.dll", "opc_aeps.dll"})
        if (Exists(DistFolder() + "\\" + proxy)) {
            // One there without a count belongs to software that does not
            // count: the installation counts 1 for it.
            std::string path = SystemFolder() + "\\" + proxy;
            DWORD count = RegCount(path);
            proxies.emplace_back(proxy, count == 0 && Exists(path) ? 1 : count);
        }

    // First installation of a server node.
    ASSERT_EQ(Install(1, server, config), 1);
    EXPECT_EQ(UnexpectedBoxes(), std::vector<std::string>());
    for (const char *file : {"Hadrel.exe", "Hadrel.tlb", "Tessary.dll", "Oxley.dll", "Parvel.dll", "ZorbErr.dll",
                             "Tolvane.exe", "default.QOR", "QORREL.TXT", "License", "QOR.inf"})
        EXPECT_TRUE(Exists(server + "\\" + file)) << file;
    for (const char *file : {"Brisko.dll", "Aleron.dll"})
        if (Exists(DistFolder() + "\\" + file)) {
            EXPECT_TRUE(Exists(server + "\\" + file)) << file;
        }

    std::string classKey = std::string("CLSID\\") + kServerClsid;
    EXPECT_EQ(Upper(RegText(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32", NULL)),
              Upper("\"" + server + "\\Hadrel.exe\" /Automation"));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Veltrane.Hadrel\\CLSID", NULL), kServerClsid);
    for (auto opc : {std::make_pair("Brisko.dll", kBriskoClsid), std::make_pair("Aleron.dll", kAleronClsid)}) {
        if (!Exists(DistFolder() + "\\" + opc.first))
            continue; // not built on this branch yet
        EXPECT_EQ(Upper(RegText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + opc.second + "\\InprocServer32", NULL)),
                  Upper(server + "\\" + opc.first));
    }
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath"), server);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey, "FolderName"), kProgramFolder);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey, "NlsPath"), server);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
              "rundll32.exe \"" + server + "\\Setup.dll\",UninstallDriver");

    EXPECT_EQ(Upper(LinkTarget(links + "\\QOR Tolvane.lnk")), Upper(server + "\\Tolvane.exe"));
    EXPECT_EQ(Upper(LinkTarget(links + "\\QOR Help.lnk")), Upper(server + "\\QOR.chm"));
    EXPECT_EQ(Upper(LinkTarget(links + "\\QOR Release Notes.lnk")), Upper(server + "\\QORrel.txt"));

    EXPECT_EQ(RegCount(server + "\\Tessary.dll"), 1u);
    EXPECT_EQ(RegCount(server + "\\ZorbErr.dll"), 1u);
    EXPECT_EQ(RegCount(server + "\\Dornel.OCX"), 0u) << "the help control is not shipped";
    // The OPC proxy libraries land in the system folder and are counted there.
    for (const auto &proxy : proxies)
        EXPECT_EQ(RegCount(SystemFolder() + "\\" + proxy.first), proxy.second + 1) << proxy.first;
    for (const char *file : {"Quimby.exe", "Tracewell.dll", "COMMFNT.FON", "HEXFNT.FON", "QORf1.chm", "QOR.chm"})
        if (Exists(DistFolder() + "\\" + file)) {
            EXPECT_TRUE(Exists(server + "\\" + file)) << file;
        }

    EXPECT_EQ(Log("ACCOUNT "), (std::vector<std::string>{
                                   "ACCOUNT AddUser BrentaIOUser vokel \"Account for Brenta I/O Servers\" 0x10201",
                                   "ACCOUNT AddToGroup Administrators BrentaIOUser",
                                   "ACCOUNT GrantRight BrentaIOUser SeServiceLogonRight"}));
    EXPECT_EQ(ReadFile(config + "\\NODE1.QOR"), ReadFile(DistFolder() + "\\default.QOR"));

    // A Setup.dll elsewhere, as in a distribution folder, refuses to
    // uninstall: neither its own folder's files nor the installation go.
    const std::string copy = root + "\\Copy";
    CreateDirectoryA(copy.c_str(), NULL);
    for (const char *file : {"Setup.dll", "QOR.inf", "Tolvane.exe", "License"})
        ASSERT_TRUE(CopyFileA((DistFolder() + "\\" + file).c_str(), (copy + "\\" + file).c_str(), FALSE)) << file;
    DeleteFileA(m_log.c_str());
    EXPECT_EQ(RunCommand("rundll32.exe \"" + copy + "\\Setup.dll\",UninstallDriver"), 1u);
    EXPECT_EQ(Log("BOX "), std::vector<std::string>{"BOX [Veltrane QOR Driver Setup] This uninstall runs from " +
                                                     copy + ", but the Veltrane QOR Driver is installed in " +
                                                     server + ". Nothing was removed; use the uninstall of the "
                                                     "installation folder. -> ok"});
    for (const char *file : {"Setup.dll", "QOR.inf", "Tolvane.exe", "License"}) {
        EXPECT_TRUE(Exists(copy + "\\" + file)) << file;
        DeleteFileA((copy + "\\" + file).c_str());
    }
    RemoveDirectoryA(copy.c_str());
    for (const char *file : {"Hadrel.exe", "Tessary.dll", "Setup.dll", "QOR.inf"})
        EXPECT_TRUE(Exists(server + "\\" + file)) << file;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(RegCount(server + "\\Tessary.dll"), 1u);

    // The installed server answers a client.
    IUnknown *unknown = nullptr;
    CLSID clsid;
    CLSIDFromString(L"{402D97D2-7270-11D6-B98B-0050DACA0D41}", &clsid);
    ASSERT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown, reinterpret_cast<void **>(&unknown)),
              S_OK);
    unknown->Release();

    // Second installation: a newer installed file stays, an older one is
    // replaced, the configuration stays, every count goes to 2.
    WriteFile(server + "\\QORREL.TXT", "kept: newer than the distribution's");
    SetWriteTime(server + "\\QORREL.TXT", 86400);
    WriteFile(server + "\\License", "replaced: older than the distribution's");
    SetWriteTime(server + "\\License", -86400 * 365);
    WriteFile(config + "\\NODE1.QOR", "the user's configuration");
    DeleteFileA(m_log.c_str());
    // The server may still be on its way out after the client let it go.
    ASSERT_TRUE(WaitUntil([&] { return MoveFileExA((server + "\\Hadrel.exe").c_str(),
                                                   (server + "\\Hadrel.exe").c_str(), 0) ||
                                       GetLastError() != ERROR_SHARING_VIOLATION; }, 30000));
    ASSERT_EQ(Install(1, server, config), 1);
    EXPECT_EQ(UnexpectedBoxes(), std::vector<std::string>());
    EXPECT_EQ(ReadFile(server + "\\QORREL.TXT"), "kept: newer than the distribution's");
    EXPECT_EQ(ReadFile(server + "\\License"), ReadFile(DistFolder() + "\\License"));
    EXPECT_EQ(ReadFile(config + "\\NODE1.QOR"), "the user's configuration");
    EXPECT_EQ(RegCount(server + "\\Tessary.dll"), 2u);
    EXPECT_EQ(RegCount(server + "\\ZorbErr.dll"), 2u);
    for (const auto &proxy : proxies)
        EXPECT_EQ(RegCount(SystemFolder() + "\\" + proxy.first), proxy.second + 2) << proxy.first;
    EXPECT_EQ(Log("ACCOUNT ").size(), 3u) << "an existing account is used again";

    // A client node: the tool and the type library, no server started.
    DeleteFileA(m_log.c_str());
    ASSERT_EQ(Install(0, client, config), 1);
    EXPECT_EQ(UnexpectedBoxes(), std::vector<std::string>());
    EXPECT_TRUE(Exists(client + "\\Tolvane.exe"));
    EXPECT_TRUE(Exists(client + "\\Hadrel.tlb"));
    EXPECT_TRUE(Exists(client + "\\QOR.chm"));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey, "NlsPath"), client) << "a client node finds its help too";
    EXPECT_FALSE(Exists(client + "\\Hadrel.exe"));
    EXPECT_EQ(Log("BOX ").size(), 0u);
    for (const std::string &line : Log(""))
        EXPECT_EQ(line.find("registration"), std::string::npos) << "the server ran: " << line;
    ITypeLib *typeLib = nullptr;
    GUID libId;
    CLSIDFromString(L"{402D97D1-7270-11D6-B98B-0050DACA0D41}", &libId);
    BSTR path = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(libId, 7, 0, 0, &path), S_OK);
    char narrow[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, MAX_PATH, NULL, NULL);
    SysFreeString(path);
    EXPECT_EQ(Upper(narrow), Upper(client + "\\Hadrel.tlb"));
    (void)typeLib;

    // A third server installation with the help in a folder of its own,
    // made by the installation, and a configuration folder that cannot be
    // made: its box, and the rest goes on. It writes the uninstall command.
    const std::string help = root + "\\Help Files\\QOR";
    const std::string blocked = root + "\\Blocked";
    WriteFile(blocked, "a file where a folder should be");
    DeleteFileA(m_log.c_str());
    ASSERT_EQ(Install(1, server, blocked + "\\Config", help), 1);
    std::vector<std::string> boxes = UnexpectedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, boxes[0].find(" -> ")),
              "BOX [I/O Server Setup Error] Failed to create the configuration folder " + blocked +
                  "\\Config\\nWin32 error code: 183\\n\\nI/O Server Setup aborted");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey, "NlsPath"), help);
    EXPECT_TRUE(Exists(help + "\\QOR.chm"));
    EXPECT_EQ(Upper(LinkTarget(links + "\\QOR Help.lnk")), Upper(help + "\\QOR.chm"));

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    std::string serviceCommand = "\"" + server + "\\Hadrel.exe\" /Service";
    SC_HANDLE service = CreateServiceA(manager, "Hadrel", "QOR Server", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       serviceCommand.c_str(), NULL, NULL, NULL, NULL, NULL);
    if (service)
        CloseServiceHandle(service);

    // While a client holds the server, the uninstall says why it refuses
    // and changes nothing.
    ASSERT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown, reinterpret_cast<void **>(&unknown)),
              S_OK);
    ASSERT_TRUE(WaitUntil(DriverRunning, 30000));
    // The running server keeps the log open: only the boxes from here on.
    size_t earlier = Log("BOX ").size();
    EXPECT_EQ(Uninstall(), 1u);
    EXPECT_EQ(Log("BOX ", earlier), std::vector<std::string>{
                               "BOX [Veltrane QOR Driver Setup] The Veltrane QOR Driver is running. Please shutdown "
                               "the Veltrane QOR Driver application and the programs that use its data before "
                               "uninstalling. -> ok"});
    for (const char *file : {"Hadrel.exe", "Tessary.dll", "ZorbErr.dll", "Setup.dll", "QOR.inf"})
        EXPECT_TRUE(Exists(server + "\\" + file)) << file;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(RegCount(server + "\\Tessary.dll"), 3u);
    unknown->Release();
    ASSERT_TRUE(WaitUntil([] { return !DriverRunning(); }, 60000)) << "the server did not end";

    // Once the server has ended, the uninstall removes files, registrations,
    // settings, links and the service, the counts its installations raised,
    // and the folders and keys it leaves empty. (Other tests in this prefix
    // may keep keys of other drivers beside it.)
    // Another product that counts the message texts keeps them.
    bool othersUnderDrivers = EntryCount(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers") != 1;
    const std::string texts = server + "\\ZorbErr.dll";
    SetCount(texts, RegCount(texts) + 1);
    earlier = Log("BOX ").size();
    ASSERT_EQ(Uninstall(), 0u);
    EXPECT_EQ(Log("BOX ", earlier), std::vector<std::string>());
    EXPECT_TRUE(Exists(texts)) << "a file that another product counts";
    EXPECT_EQ(RegCount(texts), 1u);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, texts.c_str());
    DeleteFileA(texts.c_str());
    RemoveDirectoryA(server.c_str());
    EXPECT_FALSE(Exists(server)) << "the installation folder, empty but for that file";
    EXPECT_FALSE(Exists(help + "\\QOR.chm"));
    EXPECT_FALSE(Exists(help)) << "the empty help folder";
    EXPECT_FALSE(Exists(links)) << "the empty Start-menu folder";
    for (const std::string &key : {classKey, std::string("Veltrane.Hadrel"), std::string("TypeLib\\") + kLibId,
                                   std::string("CLSID\\") + kBriskoClsid, std::string("CLSID\\") + kAleronClsid})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey));
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers"), othersUnderDrivers)
        << "the driver keys go when they are left empty";
    service = OpenServiceA(manager, "Hadrel", SERVICE_QUERY_STATUS);
    EXPECT_EQ(service, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown, reinterpret_cast<void **>(&unknown)),
              REGDB_E_CLASSNOTREG);
    // The three installations into the server folder counted 3; the client
    // installation still counts the system folder's proxies, which stay.
    for (const char *file : {"Tessary.dll", "ZorbErr.dll"})
        EXPECT_FALSE(CountValueExists(server + "\\" + file)) << file;
    for (const auto &proxy : proxies) {
        EXPECT_EQ(RegCount(SystemFolder() + "\\" + proxy.first), proxy.second + 1) << proxy.first;
        EXPECT_TRUE(Exists(SystemFolder() + "\\" + proxy.first)) << proxy.first;
    }
    // The user's configuration is not the installation's to remove.
    EXPECT_TRUE(Exists(config + "\\NODE1.QOR"));
}

// A folder that cannot be made, for the installation or for the help,
// fails the commit with its box (the file copy would retry it for ever);
// the rest of the installation goes on.
TEST_F(SetupInstallation, AFolderThatCannotBeMadeFailsTheCommit)
{
    const std::string blocked = "C:\\QOR Blocked";
    WriteFile(blocked, "a file where a folder should be");
    std::string longFolder = "C:\\QOR Long\\" + std::string(200, 'a') + "\\";
    longFolder += std::string(299 - longFolder.size(), 'b');
    struct Case {
        const char *name;
        std::string install, language;
        int error;
    } cases[] = {
        {"a file in the way", blocked + "\\QOR", "", ERROR_ALREADY_EXISTS},
        {"a folder of 299 characters", longFolder, "", ERROR_FILENAME_EXCED_RANGE},
        {"the help folder in the way", "C:\\QOR Help Blocked", blocked + "\\Help", ERROR_ALREADY_EXISTS},
    };
    // The system folder's proxies are there from earlier installations; a
    // failed copy raises none of their counts, not even into the record of
    // an earlier installation in that folder.
    CreateDirectoryA("C:\\QOR Help Blocked", NULL);
    WriteFile("C:\\QOR Help Blocked\\QOR.inf", "[SharedDlls]\r\n");
    std::vector<std::string> proxies;
    for (const char *proxy : {"OPCProxy.dll", "opc_aeps.dll"})
        proxies.push_back(SystemFolder() + "\\" + proxy);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(m_log.c_str());
        std::vector<DWORD> counts;
        for (const std::string &proxy : proxies)
            counts.push_back(RegCount(proxy));
        ASSERT_EQ(Install(1, c.install, c.install, c.language), 1) << "InstallDriver did not return";
        for (size_t i = 0; i < proxies.size(); ++i)
            EXPECT_EQ(RegCount(proxies[i]), counts[i]) << proxies[i];
        std::vector<std::string> boxes = Log("BOX ");
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes[0], "BOX [I/O Server Setup Error] Failed to commit the file queue\\nWin32 error code: " +
                                std::to_string(c.error) + "\\n\\nI/O Server Setup aborted -> ok");
        EXPECT_FALSE(Exists(c.install + "\\Hadrel.exe"));
    }
    // What the rest of those installations wrote.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDriverKey);
    const std::string links = CommonPrograms() + "\\" + kProgramFolder;
    for (const char *link : {"QOR Tolvane.lnk", "QOR Help.lnk", "QOR Release Notes.lnk"})
        DeleteFileA((links + "\\" + link).c_str());
    RemoveDirectoryA(links.c_str());
    DeleteFileA("C:\\QOR Help Blocked\\QOR.inf");
    RemoveDirectoryA("C:\\QOR Help Blocked");
    DeleteFileA(blocked.c_str());
}

} // namespace
