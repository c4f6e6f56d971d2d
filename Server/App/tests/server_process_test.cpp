// Hadrel.exe as a process: what "/RegServer" writes and "/UnregServer"
// removes, activation by a client, the second instance, the desktop start's
// own reference, and a start with the service installed. The server's log
// reaches the test through the test-only QOR_TEST_LOG_FILE switch.
#include <gtest/gtest.h>
#include <ole2.h>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include "MainFrame.h"
#include "QORDriver.h"

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

    // A second instance is turned away and leaves the first alone.
    CServerProcess second("/Automation");
    EXPECT_EQ(1u, second.Wait(kWaitMs));
    EXPECT_TRUE(log.Has(second.Pid(), "box", "Second instance of server denied launch")) << log.Dump();
    EXPECT_TRUE(log.Has(second.Pid(), "3", "Second instance of server denied launch"));
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

TEST_F(ServerProcess, ServiceRegistrationQuotesTheProgramAndAPlainStartThenLeavesTheDesktopKeysAlone)
{
    const std::string classKey = std::string("CLSID\\") + kClsid, appId = std::string("AppID\\") + kClsid;
    ASSERT_EQ(0u, RunServer("/RegService")) << log.Dump();
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE service = OpenServiceA(manager, "Hadrel", SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data()), DWORD(buffer.size()),
                                    &needed));
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    EXPECT_EQ("\"" + ServerPath() + "\" /Service", std::string(config->lpBinaryPathName));
    EXPECT_STREQ("QOR Server", config->lpDisplayName);
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config->dwStartType);
    CloseServiceHandle(service);
    EXPECT_FALSE(KeyExists(classKey + "\\LocalServer32"));
    std::string text;
    EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, appId, "LocalService", text));
    EXPECT_EQ("Hadrel", text);
    EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, appId, "ServiceParameters", text));
    EXPECT_EQ(" /Service", text);

    // Installed as a service, a plain start hands over to the service
    // dispatcher, which this build does not have; it ends, clearly, and
    // does not register for the desktop on the way.
    CServerProcess plain("");
    EXPECT_EQ(1u, plain.Wait(kWaitMs));
    EXPECT_TRUE(log.Has(plain.Pid(), "2", "Error starting Service Control Dispatcher")) << log.Dump();
    EXPECT_FALSE(KeyExists(classKey + "\\LocalServer32"));

    // Registering for the desktop removes the service.
    Register();
    service = OpenServiceA(manager, "Hadrel", SERVICE_QUERY_CONFIG);
    EXPECT_EQ(nullptr, service);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_TRUE(KeyExists(classKey + "\\LocalServer32"));
}

} // namespace
