// Hadrel.exe as a process: what "/RegServer" writes and "/UnregServer"
// removes, activation by a client, the second instance, the desktop start's
// own reference, and a start with the service installed. The server's log
// reaches the test through the test-only QOR_TEST_LOG_FILE switch.
#include <gtest/gtest.h>
#include <ole2.h>
#include <tlhelp32.h>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include "Channel.h"
#include "ConfigFile.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "MainFrame.h"
#include "QORDriver.h"
#include "S7Sim.h"

namespace {

const char kClsid[] = "{402D97D2-7270-11D6-B98B-0050DACA0D41}";
const char kLibId[] = "{402D97D1-7270-11D6-B98B-0050DACA0D41}";
const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";
const DWORD kWaitMs = 30000;

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], DWORD(text.size()));
    return text;
}

std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string ServerPath() { return Upper(BinFolder() + "Hadrel.exe"); }

std::string TempFolder()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string folder = std::string(dir) + "server_app_process\\";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// One line of the server's log: the process, then the severity (or "box"
// or "question"), then the text.
struct LogLine {
    DWORD pid;
    std::string kind;
    std::string text;
};

class CServerLog {
public:
    explicit CServerLog(const std::string &path) : m_path(path) {}
    std::vector<LogLine> Lines() const
    {
        std::vector<LogLine> lines;
        HANDLE file = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return lines;
        std::string all;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got)
            all.append(buffer, got);
        CloseHandle(file);
        std::istringstream in(all);
        std::string line;
        while (std::getline(in, line)) {
            size_t a = line.find('\t'), b = a == std::string::npos ? a : line.find('\t', a + 1);
            if (b == std::string::npos)
                continue;
            lines.push_back(LogLine{DWORD(std::stoul(line.substr(0, a))), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
        }
        return lines;
    }
    // The process that logged text (0: none yet).
    DWORD Logger(const std::string &text) const
    {
        for (const LogLine &line : Lines())
            if (line.text == text)
                return line.pid;
        return 0;
    }
    bool Has(DWORD pid, const std::string &kind, const std::string &text) const
    {
        for (const LogLine &line : Lines())
            if ((pid == 0 || line.pid == pid) && line.kind == kind && line.text.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::string Dump() const
    {
        std::string text;
        for (const LogLine &line : Lines())
            text += std::to_string(line.pid) + " " + line.kind + " " + line.text + "\n";
        return text;
    }

private:
    std::string m_path;
};

bool ReadText(HKEY root, const std::string &key, const char *value, std::string &text)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    char buffer[1024] = "";
    DWORD type = 0, size = sizeof buffer - 1;
    LONG result = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text = buffer;
    return true;
}

bool KeyExists(const std::string &key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void SetDword(const char *key, const char *name, DWORD value)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL));
    RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof value);
    RegCloseKey(handle);
}

void SetText(const char *key, const char *name, const std::string &value)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL));
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(handle);
}

// A started server process.
class CServerProcess {
public:
    explicit CServerProcess(const std::string &arguments)
    {
        std::string command = "\"" + ServerPath() + "\" " + arguments;
        STARTUPINFOA si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        if (CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            m_process = pi.hProcess;
            m_pid = pi.dwProcessId;
        }
    }
    explicit CServerProcess(DWORD pid) : m_process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)), m_pid(pid) {}
    ~CServerProcess()
    {
        if (m_process) {
            if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process, 99);
            CloseHandle(m_process);
        }
    }
    bool Started() const { return m_process != NULL; }
    DWORD Pid() const { return m_pid; }
    // The exit code, or STILL_ACTIVE when it did not end within timeoutMs.
    DWORD Wait(DWORD timeoutMs)
    {
        if (!m_process || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process, &code);
        return code;
    }

private:
    HANDLE m_process = NULL;
    DWORD m_pid = 0;
};

DWORD RunServer(const std::string &arguments)
{
    CServerProcess server(arguments);
    return server.Started() ? server.Wait(kWaitMs) : DWORD(-1);
}

class ServerProcess : public testing::Test {
protected:
    std::string folder = TempFolder();
    std::string logPath;
    CServerLog log{""};

    static void SetUpTestSuite() { CoInitializeEx(NULL, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override
    {
        logPath = folder + testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        DeleteFileA(logPath.c_str());
        log = CServerLog(logPath);
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", logPath.c_str());
        // The first three switches, so that information lines are shown.
        for (const char *name : {"LogErrors", "LogWarnings", "LogInfo"})
            SetDword(kDefaults, name, 1);
        SetText(kDefaults, "DriverDefaultConfigFilePath", folder);
        SetText(kDefaults, "DriverDefaultConfigFileName", "absent.qor");
        DeleteFileA((folder + "absent.qor").c_str());
    }
    void TearDown() override { SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL); }

    void Register() { ASSERT_EQ(0u, RunServer("/RegServer")) << log.Dump(); }
};

struct KeyRow {
    std::string key;
    const char *value;   // null: the default value
    std::string expected;
};

TEST_F(ServerProcess, RegServerWritesTheKeysAndUnregServerRemovesAllButTheTypeLibrary)
{
    const std::string clsid = kClsid, classKey = std::string("CLSID\\") + kClsid, appId = std::string("AppID\\") + kClsid;
    const KeyRow rows[] = {
        {"Veltrane.Hadrel.7", nullptr, "QOR I/O Server 7.1"},
        {"Veltrane.Hadrel.7\\CLSID", nullptr, clsid},
        {"Veltrane.Hadrel", nullptr, "QOR I/O Server"},
        {"Veltrane.Hadrel\\CurVer", nullptr, "Veltrane.Hadrel.7"},
        {"Veltrane.Hadrel\\CLSID", nullptr, clsid},
        {classKey, nullptr, "QOR I/O Server"},
        {classKey, "AppID", clsid},
        {classKey + "\\LocalServer32", nullptr, "\"" + ServerPath() + "\" /Automation"},
        {classKey + "\\NotInsertable", nullptr, ""},
        {classKey + "\\ProgID", nullptr, "Veltrane.Hadrel.7"},
        {classKey + "\\Programmable", nullptr, ""},
        {classKey + "\\TypeLib", nullptr, kLibId},
        {classKey + "\\VersionIndependentProgID", nullptr, "Veltrane.Hadrel"},
        {appId, nullptr, "QOR I/O Server 7.1"},
        {appId, "RunAs", "Interactive User"},
        {"AppID\\HADREL.EXE", "AppID", clsid},
    };
    ASSERT_EQ(0u, RunServer("/RegServer")) << log.Dump();
    EXPECT_TRUE(log.Has(0, "0", "Server registration was successful")) << log.Dump();
    for (const KeyRow &row : rows) {
        std::string text;
        EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, row.key, row.value, text)) << row.key << " " << (row.value ? row.value : "");
        EXPECT_EQ(row.expected, text) << row.key << " " << (row.value ? row.value : "");
    }
    for (const char *value : {"AccessPermission", "LaunchPermission"}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, appId.c_str(), 0, KEY_READ, &key));
        DWORD type = 0, size = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, value, NULL, &type, NULL, &size)) << value;
        EXPECT_EQ(DWORD(REG_BINARY), type) << value;
        EXPECT_GT(size, 20u) << value;
        RegCloseKey(key);
    }
    std::string typeLibKey = std::string("TypeLib\\") + kLibId + "\\7.0";
    EXPECT_TRUE(KeyExists(typeLibKey));
    ITypeLib *typeLib = nullptr;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_QORDriverLib, 7, 0, 9, &typeLib));
    if (typeLib)
        typeLib->Release();

    ASSERT_EQ(0u, RunServer("/uNrEgSeRvEr")) << log.Dump();
    EXPECT_TRUE(log.Has(0, "0", "Server unregistration was successful"));
    for (const KeyRow &row : rows)
        EXPECT_FALSE(KeyExists(row.key)) << row.key;
    EXPECT_FALSE(KeyExists(appId));
    EXPECT_TRUE(KeyExists(typeLibKey));
    // Unregistering in any case never registers: the keys stay gone.
    ASSERT_EQ(0u, RunServer("-UNREGSERVER /RegServer"));
    EXPECT_FALSE(KeyExists(classKey));

    Register();
}

TEST_F(ServerProcess, AClientStartsTheServerAndItsLastReleaseClosesIt)
{
    Register();
    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)))
        << log.Dump();
    DWORD pid = log.Logger("Server initialized");
    ASSERT_NE(0u, pid) << log.Dump();
    CServerProcess server(pid);
    EXPECT_TRUE(log.Has(pid, "0", "New configuration created"));

    BSTR name = nullptr;
    EXPECT_EQ(S_OK, driver->get_Name(&name));
    EXPECT_NE(nullptr, name);
    SysFreeString(name);

    VARIANT_BOOL visible = -1;
    EXPECT_EQ(S_OK, driver->get_Visible(&visible));
    EXPECT_EQ(VARIANT_FALSE, visible);   // hidden at start
    EXPECT_EQ(S_OK, driver->put_Visible(VARIANT_TRUE));
    EXPECT_EQ(S_OK, driver->get_Visible(&visible));
    EXPECT_EQ(VARIANT_TRUE, visible);
    EXPECT_EQ(S_OK, driver->put_Visible(VARIANT_FALSE));

    std::wstring saved(folder.begin(), folder.end());
    saved += L"fromclient.qor";
    BSTR path = SysAllocString(saved.c_str());
    EXPECT_EQ(S_OK, driver->FileSaveAs(path));
    EXPECT_EQ(S_OK, driver->FileOpen(path));
    SysFreeString(path);
    BSTR missing = SysAllocString((std::wstring(folder.begin(), folder.end()) + L"nothere.qor").c_str());
    EXPECT_EQ(HRESULT(0xC1040008), driver->FileOpen(missing));
    SysFreeString(missing);

    // Every interface counts on the one module; a part's release is a release.
    IUnknown *message = nullptr, *monitor = nullptr;
    EXPECT_EQ(S_OK, driver->QueryInterface(IID_IDriverMessage, reinterpret_cast<void **>(&message)));
    EXPECT_EQ(S_OK, driver->QueryInterface(IID_ITracewellConnect, reinterpret_cast<void **>(&monitor)));
    monitor->Release();
    driver->Release();
    driver = nullptr;
    Sleep(500);
    EXPECT_EQ(STILL_ACTIVE, server.Wait(0)) << "closed while a part was still held";

    // A second instance is turned away at once and leaves the first alone.
    // Only a start from the desktop has someone to show the box to.
    const struct {
        const char *arguments;
        bool box;
    } seconds[] = {{"/Automation", false}, {"/Automation -Embedding", false}, {"/Service", false}, {"", true}};
    for (const auto &start : seconds) {
        CServerProcess second(start.arguments);
        EXPECT_EQ(1u, second.Wait(kWaitMs)) << start.arguments;
        EXPECT_TRUE(log.Has(second.Pid(), "3", "Second instance of server denied launch")) << start.arguments;
        EXPECT_EQ(start.box, log.Has(second.Pid(), "box", "Second instance of server denied launch"))
            << start.arguments << "\n" << log.Dump();
    }
    // Registration does its work beside the running server.
    for (const char *arguments : {"/UnregServer", "/RegServer"}) {
        CServerProcess registration(arguments);
        EXPECT_EQ(0u, registration.Wait(kWaitMs)) << arguments << "\n" << log.Dump();
        EXPECT_FALSE(log.Has(registration.Pid(), "3", "Second instance of server denied launch")) << arguments;
    }
    EXPECT_TRUE(log.Has(0, "0", "Server unregistration was successful"));
    EXPECT_TRUE(log.Has(0, "0", "Server registration was successful"));
    IDriverMessage *messages = nullptr;
    ASSERT_EQ(S_OK, message->QueryInterface(IID_IDriverMessage, reinterpret_cast<void **>(&messages)));
    BSTR text = SysAllocString(L"hello from the test");
    EXPECT_EQ(S_OK, messages->LogWarning(text));
    SysFreeString(text);
    messages->Release();
    EXPECT_TRUE(WaitUntil([&] { return log.Has(pid, "1", "hello from the test"); }, kWaitMs));

    message->Release();
    EXPECT_TRUE(WaitUntil([&] { return log.Has(pid, "0", "Server shutdown"); }, kWaitMs)) << log.Dump();
    EXPECT_EQ(0u, server.Wait(kWaitMs));
}

// Two servers started by COM at the same moment, then two clients at the same
// moment: each time one server serves and the other ends at once, quietly,
// and when the one that served has ended the next client starts a new one.
TEST_F(ServerProcess, StartsAtTheSameMomentLeaveOneServerAndLaterStartsFree)
{
    Register();
    auto ends = [](DWORD pid) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (!process)
            return true;   // gone already
        bool ended = WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0;
        CloseHandle(process);
        return ended;
    };
    // Every server that started ends once its clients have gone, and none
    // showed a box; the log starts afresh for the next step.
    auto allEnded = [&] {
        for (const LogLine &line : log.Lines())
            if (line.text == "Server initialized") {
                EXPECT_TRUE(ends(line.pid)) << log.Dump();
            }
        EXPECT_FALSE(log.Has(0, "box", "")) << log.Dump();
        DeleteFileA(logPath.c_str());
    };
    auto connect = [](IQORDriver **driver) {
        return CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                reinterpret_cast<void **>(driver));
    };
    DeleteFileA(logPath.c_str());
    {
        CServerProcess one("/Automation -Embedding"), other("/Automation -Embedding");
        ASSERT_TRUE(one.Started() && other.Started());
        CServerProcess *denied = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            denied = one.Wait(0) != STILL_ACTIVE ? &one : other.Wait(0) != STILL_ACTIVE ? &other : nullptr;
            return denied != nullptr;
        }, kWaitMs)) << log.Dump();
        EXPECT_EQ(1u, denied->Wait(0));
        EXPECT_TRUE(log.Has(denied->Pid(), "3", "Second instance of server denied launch")) << log.Dump();
        CServerProcess &serving = denied == &one ? other : one;
        EXPECT_EQ(STILL_ACTIVE, serving.Wait(0));
        ASSERT_TRUE(WaitUntil([&] { return log.Has(serving.Pid(), "0", "Server initialized"); }, kWaitMs))
            << log.Dump();
        IQORDriver *driver = nullptr;
        ASSERT_EQ(S_OK, connect(&driver)) << log.Dump();
        driver->Release();
        EXPECT_EQ(0u, serving.Wait(kWaitMs)) << log.Dump();
    }
    allEnded();

    struct Client {
        HRESULT result = E_FAIL;
        static DWORD WINAPI Run(void *argument)
        {
            Client *self = static_cast<Client *>(argument);
            CoInitializeEx(NULL, COINIT_MULTITHREADED);
            IQORDriver *driver = nullptr;
            self->result = CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                            reinterpret_cast<void **>(&driver));
            if (driver) {
                VARIANT_BOOL running;
                if (FAILED(driver->get_Running(&running)))
                    self->result = E_UNEXPECTED;
                driver->Release();
            }
            CoUninitialize();
            return 0;
        }
    };
    // On the heap: a client thread that outlives a failed wait must not
    // write into a stack frame that is gone (it is then left allocated).
    Client *clients = new Client[2];
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(NULL, 0, Client::Run, &clients[i], 0, NULL);
    bool ended = WaitForMultipleObjects(2, threads, TRUE, 2 * kWaitMs) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << log.Dump();
    // Wine starts a server for each client and fails the client whose own
    // server was turned away; the other client is served.
    int served = 0;
    for (int i = 0; i < 2; ++i) {
        CloseHandle(threads[i]);
        served += ended && clients[i].result == S_OK;
    }
    if (ended)
        delete[] clients;
    EXPECT_GE(served, 1) << log.Dump();
    if (served < 2) {
        EXPECT_TRUE(log.Has(0, "3", "Second instance of server denied launch")) << log.Dump();
    }
    allEnded();

    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, connect(&driver)) << log.Dump();
    driver->Release();
    allEnded();
}

// CSV files through the document of a running server: an export imports
// back, and an import that fails keeps the configuration the server had.
TEST_F(ServerProcess, CsvFilesThroughTheDocumentKeepTheTreeWhenAnImportFails)
{
    Register();
    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)))
        << log.Dump();
    DWORD pid = log.Logger("Server initialized");
    CServerProcess server(pid);
    auto bstr = [](const std::string &text) {
        return SysAllocString(std::wstring(text.begin(), text.end()).c_str());
    };
    auto channelNames = [&] {
        VARIANT handles, names;
        VariantInit(&handles);
        VariantInit(&names);
        LONG count = -1;
        std::vector<std::string> texts;
        EXPECT_EQ(S_OK, driver->GetChannels(&handles, &names, &count));
        for (LONG i = 0; i < count; ++i) {
            VARIANT element;
            VariantInit(&element);
            SafeArrayGetElement(V_ARRAY(&names), &i, &element);
            std::wstring wide(V_BSTR(&element));
            texts.push_back(std::string(wide.begin(), wide.end()));
            VariantClear(&element);
        }
        VariantClear(&handles);
        VariantClear(&names);
        return texts;
    };

    SAFEARRAY *nameArray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    SAFEARRAY *valueArray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG index = 0;
    VARIANT element;
    V_VT(&element) = VT_BSTR;
    V_BSTR(&element) = SysAllocString(L"Name");
    SafeArrayPutElement(nameArray, &index, &element);
    VariantClear(&element);
    V_VT(&element) = VT_BSTR;
    V_BSTR(&element) = SysAllocString(L"Line7");
    SafeArrayPutElement(valueArray, &index, &element);
    VariantClear(&element);
    VARIANT names, values, errors;
    V_VT(&names) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&names) = nameArray;
    V_VT(&values) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&values) = valueArray;
    VariantInit(&errors);
    LONG channel = 0;
    ASSERT_EQ(S_OK, driver->AddChannel(names, values, &errors, &channel));
    VariantClear(&names);
    VariantClear(&values);
    VariantClear(&errors);

    std::string csv = folder + "tree.csv";
    BSTR path = bstr(csv);
    ASSERT_EQ(S_OK, driver->FileSaveAs(path)) << log.Dump();
    ASSERT_EQ(S_OK, driver->FileOpen(path)) << log.Dump();
    SysFreeString(path);
    EXPECT_EQ(std::vector<std::string>{"Line7"}, channelNames());

    // A device row whose channel is not in the file.
    std::string broken = folder + "broken.csv";
    HANDLE file = CreateFileA(broken.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const char text[] = "[QOR I/O Driver Configuration Report, Monday December 07 2026, 10:17 PM]\r\n\r\n"
                        "@Channel,Name\r\nNoSuchLine,Dev1\r\n";
    DWORD written = 0;
    WriteFile(file, text, DWORD(sizeof text - 1), &written, NULL);
    CloseHandle(file);
    path = bstr(broken);
    EXPECT_EQ(HRESULT(0xC104000C), driver->FileOpen(path));
    SysFreeString(path);
    EXPECT_EQ(std::vector<std::string>{"Line7"}, channelNames()) << "the failed import kept the tree";
    EXPECT_TRUE(WaitUntil([&] { return log.Has(pid, "2", "CSV Line 4, NoSuchLine Not Found"); }, kWaitMs))
        << log.Dump();

    driver->Release();
    EXPECT_EQ(0u, server.Wait(kWaitMs)) << log.Dump();
}

// What a client does on its own thread, while the test's thread watches the
// clock: a hang in the server shows as a call that never returns.
struct CsvOpenSequence {
    std::wstring tree, binary, empty;
    int rounds = 0;
    int done = 0;
    HRESULT binaryResult = S_OK, emptyResult = S_OK, createResult = E_FAIL, treeResult = E_FAIL, startResult = E_FAIL;

    static DWORD WINAPI Run(void *argument)
    {
        CsvOpenSequence *self = static_cast<CsvOpenSequence *>(argument);
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        IQORDriver *driver = nullptr;
        self->createResult = CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver));
        if (SUCCEEDED(self->createResult)) {
            BSTR binary = SysAllocString(self->binary.c_str()), empty = SysAllocString(self->empty.c_str());
            BSTR tree = SysAllocString(self->tree.c_str());
            self->treeResult = driver->FileOpen(tree);
            if (SUCCEEDED(self->treeResult))
                self->startResult = driver->Start(VARIANT_TRUE);
            SysFreeString(tree);
            for (int i = 0; i < self->rounds; ++i) {
                self->binaryResult = driver->FileOpen(binary);
                self->emptyResult = driver->FileOpen(empty);
                self->done = i + 1;
            }
            SysFreeString(binary);
            SysFreeString(empty);
            driver->Release();
        }
        CoUninitialize();
        return 0;
    }
};

// A polling configuration, then a binary file named .csv and an empty one,
// opened one after the other, several starts in a row: each open fails with
// the import's code, promptly, the configuration goes on polling, and the
// server closes after its client.
TEST_F(ServerProcess, FailedCsvOpensInARowNeverHangTheServer)
{
    Register();
    std::string binary = folder + "binary.csv", empty = folder + "empty.csv", tree = folder + "polling.qor";
    {
        CDriver driver;
        for (int c = 0; c < 4; ++c) {
            auto *channel = new CChannel;
            channel->SetProperty("Name", ("Line" + std::to_string(c)).c_str(), nullptr);
            channel->SetProperty("Enabled", LONG(1), nullptr);
            channel->SetProperty("PrimaryCPName", "CPX", nullptr);
            channel->SetProperty("PrimaryVFDName", "VFDX", nullptr);
            ASSERT_EQ(0, driver.AddChannel(channel));
            auto *device = new CDevice;
            device->SetProperty("Name", ("Plc" + std::to_string(c)).c_str(), nullptr);
            device->SetProperty("PrimaryConnName", "CONNX", nullptr);
            device->SetProperty("Enabled", LONG(1), nullptr);
            ASSERT_EQ(0, channel->AddDevice(device));
            for (int b = 0; b < 8; ++b) {
                auto *block = new CDataBlock;
                block->SetProperty("Name", ("B" + std::to_string(c) + std::to_string(b)).c_str(), nullptr);
                block->SetProperty("StartAddress", ("DB" + std::to_string(10 + b) + ",0").c_str(), nullptr);
                block->SetProperty("Length", LONG(8), nullptr);
                block->SetProperty("PrimaryPollTime", "0", nullptr);
                block->SetProperty("Enabled", LONG(1), nullptr);
                ASSERT_EQ(0, device->AddDataBlock(block));
            }
        }
        ASSERT_TRUE(SaveConfigurationFile(tree, driver));
    }
    // Simulated controllers answer the blocks' polls, so the channels' threads
    // use the store all along.
    std::string catalogue = folder + "polling.cfg";
    {
        const char text[] = "cp CPX\nvfd CPX VFDX\nconnection CPX VFDX CONNX\n";
        HANDLE file = CreateFileA(catalogue.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text, DWORD(sizeof text - 1), &written, NULL);
        CloseHandle(file);
    }
    SetEnvironmentVariableA("S732_CONFIG", catalogue.c_str());
    {
        std::vector<unsigned char> bytes(2048);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>((i * 7919u) >> 3);
        HANDLE file = CreateFileA(binary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL);
        CloseHandle(file);
        file = CreateFileA(empty.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
    }
    const int kRounds = 10;
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        DeleteFileA(logPath.c_str());
        CsvOpenSequence sequence;
        sequence.tree.assign(tree.begin(), tree.end());
        sequence.binary.assign(binary.begin(), binary.end());
        sequence.empty.assign(empty.begin(), empty.end());
        sequence.rounds = kRounds;
        HANDLE client = CreateThread(NULL, 0, CsvOpenSequence::Run, &sequence, 0, NULL);
        ASSERT_NE(HANDLE(NULL), client);
        DWORD waited = WaitForSingleObject(client, 60000);
        DWORD pid = log.Logger("Server initialized");
        if (waited != WAIT_OBJECT_0) {
            // Free the client's call by ending the server, then report.
            CServerProcess hung(pid);
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            if (process) {
                TerminateProcess(process, 98);
                CloseHandle(process);
            }
            WaitForSingleObject(client, 30000);
            CloseHandle(client);
            FAIL() << "a call hung after " << sequence.done << " rounds\n" << log.Dump();
        }
        CloseHandle(client);
        ASSERT_EQ(S_OK, sequence.createResult) << log.Dump();
        EXPECT_EQ(S_OK, sequence.treeResult) << log.Dump();
        EXPECT_EQ(S_OK, sequence.startResult) << log.Dump();
        EXPECT_EQ(kRounds, sequence.done);
        EXPECT_EQ(HRESULT(0xC104000C), sequence.binaryResult) << log.Dump();
        EXPECT_EQ(HRESULT(0xC104000C), sequence.emptyResult) << log.Dump();
        CServerProcess server(pid);
        EXPECT_EQ(0u, server.Wait(kWaitMs)) << log.Dump();
    }
    SetEnvironmentVariableA("S732_CONFIG", NULL);
}

// A configuration opened from its file: its block reads as never read until
// polling starts; an empty file in its place is refused as damaged while the
// configuration goes on polling; and the driver's name says what the program
// is.
TEST_F(ServerProcess, AnOpenedConfigurationPollsOnPastAnEmptyFile)
{
    Register();
    const std::string tree = folder + "opened.qor", empty = folder + "zero.qor", catalogue = folder + "opened.cfg";
    {
        CDriver driver;
        auto *channel = new CChannel;
        channel->SetProperty("Name", "Line1", nullptr);
        channel->SetProperty("Enabled", LONG(1), nullptr);
        channel->SetProperty("PrimaryCPName", "CPOPEN", nullptr);
        channel->SetProperty("PrimaryVFDName", "VFDOPEN", nullptr);
        ASSERT_EQ(0, driver.AddChannel(channel));
        auto *device = new CDevice;
        device->SetProperty("Name", "Plc1", nullptr);
        device->SetProperty("PrimaryConnName", "CONNOPEN", nullptr);
        device->SetProperty("Enabled", LONG(1), nullptr);
        ASSERT_EQ(0, channel->AddDevice(device));
        auto *block = new CDataBlock;
        block->SetProperty("Name", "Speeds", nullptr);
        block->SetProperty("StartAddress", "DB10,0", nullptr);
        block->SetProperty("Length", LONG(4), nullptr);
        block->SetProperty("PrimaryPollTime", "0", nullptr);
        block->SetProperty("Enabled", LONG(1), nullptr);
        ASSERT_EQ(0, device->AddDataBlock(block));
        ASSERT_TRUE(SaveConfigurationFile(tree, driver));
    }
    for (const auto &file : {std::make_pair(catalogue, std::string("cp CPOPEN\nvfd CPOPEN VFDOPEN\n"
                                                                  "connection CPOPEN VFDOPEN CONNOPEN\n")),
                             std::make_pair(empty, std::string())}) {
        HANDLE handle = CreateFileA(file.first.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle);
        DWORD written = 0;
        WriteFile(handle, file.second.data(), DWORD(file.second.size()), &written, NULL);
        CloseHandle(handle);
    }
    SetEnvironmentVariableA("S732_CONFIG", catalogue.c_str());
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open("CPOPEN", "VFDOPEN", "CONNOPEN"));
    const unsigned char first[4] = {12, 34, 0, 0};
    ASSERT_TRUE(plc.WriteDb(10, 0, first, sizeof first));

    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)))
        << log.Dump();
    CServerProcess server(log.Logger("Server initialized"));
    auto bstr = [](const std::string &text) { return SysAllocString(std::wstring(text.begin(), text.end()).c_str()); };
    BSTR path = bstr(tree);
    ASSERT_EQ(S_OK, driver->FileOpen(path)) << log.Dump();
    SysFreeString(path);
    BSTR name = bstr("Speeds");
    LONG block = 0;
    VARIANT_BOOL found = VARIANT_FALSE;
    ASSERT_EQ(S_OK, driver->ObjectName2Handle(name, &block, &found));
    SysFreeString(name);
    ASSERT_EQ(VARIANT_TRUE, found);

    // The first word's value and quality byte as a client reads them.
    auto read = [&](float &value, int &quality) {
        VARIANT values, qualities, stamps;
        VariantInit(&values);
        VariantInit(&qualities);
        VariantInit(&stamps);
        bool got = driver->ReadData(block, VT_R4, 0, 0, 1, 0, 100, 0, &values, &qualities, &stamps) == S_OK &&
                   V_VT(&values) == (VT_ARRAY | VT_VARIANT);
        if (got) {
            LONG at = 0;
            VARIANT v, q;
            VariantInit(&v);
            VariantInit(&q);
            SafeArrayGetElement(V_ARRAY(&values), &at, &v);
            SafeArrayGetElement(V_ARRAY(&qualities), &at, &q);
            value = V_R4(&v);
            quality = V_I2(&q) & 0xFF;
        }
        VariantClear(&values);
        VariantClear(&qualities);
        VariantClear(&stamps);
        return got;
    };
    float value = -1;
    int quality = -1;
    ASSERT_TRUE(read(value, quality));
    EXPECT_EQ(0x00, quality) << "opened, not yet polled";

    ASSERT_EQ(S_OK, driver->Start(VARIANT_TRUE));
    EXPECT_TRUE(WaitUntil([&] { return read(value, quality) && quality == 0xC0 && value == 12.0f; }, kWaitMs))
        << "quality " << quality << " value " << value << "\n" << log.Dump();

    path = bstr(empty);
    EXPECT_EQ(HRESULT(0xC1040009), driver->FileOpen(path));
    SysFreeString(path);
    VARIANT_BOOL running = VARIANT_FALSE;
    EXPECT_EQ(S_OK, driver->get_Running(&running));
    EXPECT_EQ(VARIANT_TRUE, running);
    const unsigned char next[4] = {42, 34, 0, 0};
    ASSERT_TRUE(plc.WriteDb(10, 0, next, sizeof next));
    EXPECT_TRUE(WaitUntil([&] { return read(value, quality) && quality == 0xC0 && value == 42.0f; }, kWaitMs))
        << "the configuration polls on; quality " << quality << " value " << value;
    BSTR current = nullptr;
    EXPECT_EQ(S_OK, driver->get_FullConfigFileName(&current));
    EXPECT_EQ(std::wstring(tree.begin(), tree.end()), std::wstring(current ? current : L""));
    SysFreeString(current);

    VARIANT names, values, errors;
    V_VT(&names) = VT_BSTR;
    V_BSTR(&names) = SysAllocString(L"Name");
    VariantInit(&values);
    VariantInit(&errors);
    ASSERT_EQ(S_OK, driver->GetPropertyData(0, names, &values, &errors));
    ASSERT_EQ(VT_BSTR, V_VT(&values));
    EXPECT_EQ(std::wstring(L"QOR I/O Server, Version 7.10"), std::wstring(V_BSTR(&values)));
    VariantClear(&names);
    VariantClear(&values);
    VariantClear(&errors);

    EXPECT_EQ(S_OK, driver->Stop());
    driver->Release();
    EXPECT_EQ(0u, server.Wait(kWaitMs)) << log.Dump();
    SetEnvironmentVariableA("S732_CONFIG", NULL);
}

TEST_F(ServerProcess, ADesktopStartOutlivesItsFirstClient)
{
    Register();
    CServerProcess server("");
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitUntil([&] { return log.Has(server.Pid(), "0", "Server initialized"); }, kWaitMs)) << log.Dump();

    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)));
    VARIANT_BOOL running = -1;
    EXPECT_EQ(S_OK, driver->get_Running(&running));
    driver->Release();
    EXPECT_EQ(STILL_ACTIVE, server.Wait(2000));
    EXPECT_FALSE(log.Has(server.Pid(), "0", "Server shutdown"));

    // Nobody holds it now: a close needs no question.
    HWND frame = NULL;
    ASSERT_TRUE(WaitUntil([&] {
        frame = FindWindowA(CMainFrame::ClassName, NULL);
        DWORD owner = 0;
        if (frame)
            GetWindowThreadProcessId(frame, &owner);
        return frame && owner == server.Pid();
    }, kWaitMs));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, server.Wait(kWaitMs));
    EXPECT_TRUE(log.Has(server.Pid(), "0", "Server shutdown"));
    EXPECT_FALSE(log.Has(server.Pid(), "question", ""));
}

// The account dialog of a running "/RegService", driven from this process:
// the choice's radio button, the name and password typed, then OK or Cancel.
struct AccountAction {
    int radio;               // 0 system, 1 default, 2 named; -1 cancel
    const char *user;
    const char *password;
};

const char kAccountTitle[] = "Logon Account for Running As A Service";
const int kRadioIds[] = {1020, 1021, 1022};

struct WindowSearch {
    DWORD pid;
    const char *title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto *search = reinterpret_cast<WindowSearch *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    if (owner == search->pid && (!search->title || search->title == std::string(text))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of process pid with the title (null: any).
HWND FindOwnWindow(DWORD pid, const char *title)
{
    WindowSearch search = {pid, title, NULL};
    EnumWindows(MatchWindow, LPARAM(&search));
    return search.found;
}

// What the dialog showed when it opened.
struct AccountShown {
    int checked = -1;
    std::string user;
    bool userEnabled = false;
};

std::string WindowText(HWND window)
{
    char text[256] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, LPARAM(text));
    return text;
}

// Registers as a service with the dialog answered by action; the exit code.
DWORD RegisterService(const AccountAction &action, AccountShown *shown)
{
    CServerProcess registration("/RegService");
    HWND dialog = NULL;
    // The dialog exists before its initialisation has set the controls; it
    // shows only after that, so wait for it to be visible.
    if (!WaitUntil([&] { return ((dialog = FindOwnWindow(registration.Pid(), kAccountTitle)) != NULL &&
                                 IsWindowVisible(dialog)) ||
                                registration.Wait(0) != STILL_ACTIVE; }, kWaitMs) || !dialog)
        return registration.Wait(0);
    if (shown) {
        for (int i = 0; i < 3; ++i)
            if (SendMessageA(GetDlgItem(dialog, kRadioIds[i]), BM_GETCHECK, 0, 0) == BST_CHECKED)
                shown->checked = i;
        shown->user = WindowText(GetDlgItem(dialog, 1024));
        shown->userEnabled = IsWindowEnabled(GetDlgItem(dialog, 1024)) != FALSE;
    }
    if (action.radio < 0) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return registration.Wait(kWaitMs);
    }
    for (int i = 0; i < 3; ++i)
        SendMessageA(GetDlgItem(dialog, kRadioIds[i]), BM_SETCHECK, i == action.radio ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kRadioIds[action.radio], BN_CLICKED),
                 LPARAM(GetDlgItem(dialog, kRadioIds[action.radio])));
    if (action.user)
        SendMessageA(GetDlgItem(dialog, 1024), WM_SETTEXT, 0, LPARAM(action.user));
    if (action.password)
        SendMessageA(GetDlgItem(dialog, 1026), WM_SETTEXT, 0, LPARAM(action.password));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    // A failed verification asks whether to use the account anyway: yes.
    DWORD code = STILL_ACTIVE;
    WaitUntil([&] {
        code = registration.Wait(0);
        if (code != STILL_ACTIVE)
            return true;
        HWND question = FindOwnWindow(registration.Pid(), "Hadrel");
        if (question && question != dialog)
            PostMessageA(question, WM_COMMAND, IDYES, 0);
        return false;
    }, kWaitMs);
    return code;
}

struct ServiceConfig {
    bool exists = false;
    std::string command, account, displayName;
    DWORD startType = 0;
};

ServiceConfig ReadService()
{
    ServiceConfig result;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Hadrel", SERVICE_QUERY_CONFIG) : NULL;
    if (service) {
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
        if (QueryServiceConfigA(service, config, DWORD(buffer.size()), &needed)) {
            result.exists = true;
            result.command = config->lpBinaryPathName ? config->lpBinaryPathName : "";
            result.account = config->lpServiceStartName ? config->lpServiceStartName : "";
            result.displayName = config->lpDisplayName ? config->lpDisplayName : "";
            result.startType = config->dwStartType;
        }
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return result;
}

TEST_F(ServerProcess, ServiceRegistrationAsksForTheAccountAndAPlainStartLeavesTheDesktopKeysAlone)
{
    const std::string classKey = std::string("CLSID\\") + kClsid, appId = std::string("AppID\\") + kClsid;
    Register();   // no service to begin with
    ASSERT_FALSE(ReadService().exists);

    // Each registration's dialog: what it showed, what was chosen, the result.
    const struct Row {
        const char *what;
        AccountAction action;
        int shownChoice;
        const char *shownUser;
        DWORD exitCode;
        const char *account;   // null: no service
    } rows[] = {
        {"cancel registers nothing", {-1, nullptr, nullptr}, 1, "", 1, nullptr},
        {"the system account", {0, nullptr, nullptr}, 1, "", 0, ".\\LocalSystem"},
        {"a named account without a domain", {2, "  op\t", "secret"}, 0, "", 0, ".\\op"},
        {"re-registering shows the named account", {1, nullptr, nullptr}, 2, ".\\op", 0, ".\\BrentaIOUser"},
        {"then the default account", {0, nullptr, nullptr}, 1, "", 0, ".\\LocalSystem"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        AccountShown shown;
        EXPECT_EQ(row.exitCode, RegisterService(row.action, &shown)) << log.Dump();
        EXPECT_EQ(row.shownChoice, shown.checked);
        EXPECT_EQ(row.shownUser, shown.user);
        EXPECT_EQ(row.shownChoice == 2, shown.userEnabled) << "the fields go with \"Use &This Account\"";
        ServiceConfig config = ReadService();
        EXPECT_EQ(row.account != nullptr, config.exists);
        if (row.account && config.exists) {
            EXPECT_STRCASEEQ(row.account, config.account.c_str());
            EXPECT_EQ("\"" + ServerPath() + "\" /Service", config.command);
            EXPECT_EQ("QOR Server", config.displayName);
            EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config.startType);
        }
    }
    EXPECT_FALSE(KeyExists(classKey + "\\LocalServer32"));
    std::string text;
    EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, appId, "LocalService", text));
    EXPECT_EQ("Hadrel", text);
    EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, appId, "ServiceParameters", text));
    EXPECT_EQ(" /Service", text);

    // Installed as a service, a plain start from the desktop enters the
    // service dispatcher, which the service manager did not start: it says
    // so and goes on hidden, without registering for the desktop.
    CServerProcess plain("");
    ASSERT_TRUE(WaitUntil([&] { return log.Has(plain.Pid(), "2", "Error starting Service Control Dispatcher"); },
                          kWaitMs))
        << log.Dump();
    EXPECT_FALSE(KeyExists(classKey + "\\LocalServer32"));
    HWND frame = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (frame = FindOwnWindow(plain.Pid(), nullptr)) != NULL &&
                                       (frame = FindWindowA(CMainFrame::ClassName, NULL)) != NULL; }, kWaitMs));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, plain.Wait(kWaitMs));

    // Registering for the desktop removes the service.
    Register();
    EXPECT_FALSE(ReadService().exists);
    EXPECT_TRUE(KeyExists(classKey + "\\LocalServer32"));
}

void KillProcesses(const char *program)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, program) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

SERVICE_STATUS_PROCESS ServiceStatus()
{
    SERVICE_STATUS_PROCESS status = {};
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Hadrel", SERVICE_QUERY_STATUS) : NULL;
    DWORD needed = 0;
    if (service)
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status, &needed);
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return status;
}

bool ControlTheService(DWORD control, bool start = false)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Hadrel", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS status;
    bool done = service && (start ? StartServiceA(service, 0, NULL) : ControlService(service, control, &status));
    DWORD error = GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    SetLastError(error);
    return done;
}

TEST_F(ServerProcess, TheServiceManagerStartsTheServerAndAStopEndsItUnlessAClientHoldsIt)
{
    ASSERT_EQ(0u, RegisterService({0, nullptr, nullptr}, nullptr)) << log.Dump();
    ASSERT_TRUE(ReadService().exists);

    // Started by the service manager.
    ASSERT_TRUE(ControlTheService(0, true)) << GetLastError();
    ASSERT_TRUE(WaitUntil([] { return ServiceStatus().dwCurrentState == SERVICE_RUNNING; }, kWaitMs))
        << ServiceStatus().dwCurrentState;
    DWORD pid = ServiceStatus().dwProcessId;
    ASSERT_NE(0u, pid);
    CServerProcess first(pid);
    IQORDriver *driver = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)));
    VARIANT_BOOL running = -1;
    EXPECT_EQ(S_OK, driver->get_Running(&running));
    driver->Release();
    driver = nullptr;

    // A stop ends the process.
    ASSERT_TRUE(ControlTheService(SERVICE_CONTROL_STOP)) << GetLastError() << " state " << ServiceStatus().dwCurrentState;
    EXPECT_TRUE(WaitUntil([] { return ServiceStatus().dwCurrentState == SERVICE_STOPPED; }, kWaitMs));
    EXPECT_EQ(0u, first.Wait(kWaitMs));

    // A client starts it through the service manager (LocalService).
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                     reinterpret_cast<void **>(&driver)));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), ServiceStatus().dwCurrentState);
    CServerProcess second(ServiceStatus().dwProcessId);
    // Held as a poll-stub client, the hidden server refuses to close: it
    // stays running and serving, and says so.
    EXPECT_EQ(S_OK, driver->put_PollRef(1));
    ASSERT_TRUE(ControlTheService(SERVICE_CONTROL_STOP));
    Sleep(1500);
    EXPECT_TRUE(WaitUntil([] { return ServiceStatus().dwCurrentState == SERVICE_RUNNING; }, kWaitMs))
        << ServiceStatus().dwCurrentState;
    EXPECT_EQ(STILL_ACTIVE, second.Wait(0));
    EXPECT_EQ(S_OK, driver->get_Running(&running));
    LONG remaining = -1;
    EXPECT_EQ(S_OK, driver->get_PollRef(&remaining));
    driver->Release();

    // Let go, the next stop ends it. Wine's service manager takes one stop
    // per run of the process: it answers a second one with
    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL and ends the process itself.
    if (ControlTheService(SERVICE_CONTROL_STOP)) {
        EXPECT_TRUE(WaitUntil([] { return ServiceStatus().dwCurrentState == SERVICE_STOPPED; }, kWaitMs))
            << ServiceStatus().dwCurrentState;
        EXPECT_EQ(0u, second.Wait(kWaitMs));
    } else {
        EXPECT_EQ(DWORD(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), GetLastError());
        // (Wine 8 ends it with code 0 and goes on reporting it running.)
        EXPECT_NE(STILL_ACTIVE, second.Wait(kWaitMs));
        // COM's activation service still holds the ended process's class
        // object and would hand the next client its dead endpoint.
        KillProcesses("rpcss.exe");
    }

    // "/RegServer" deletes the service.
    Register();
    EXPECT_FALSE(ReadService().exists);
}

} // namespace
