// Tolvane with the real server Hadrel.exe in the test prefix: the proxies
// against the server's own property rules and message table, and the
// program Tolvane.exe as a user starts it ("/L", the connection dialog,
// Cancel at start), each time checking that the server goes when Tolvane
// lets it go. The server's log arrives through QOR_TEST_LOG_FILE, which
// Tolvane passes on to the server it starts.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>
#include <prsht.h>
#include "S7Sim.h"
#include <functional>
#include <iostream>
#include "HelpTopics.h"
#include "ObjectItems.h"
#include "ServerError.h"
#include "ToolFakes.h"
#include "mouse_drag.h"
#include "server_session.h"

namespace {

using kivserver::ServerProcesses;

const char kProfileKey[] = "Software\\Veltrane\\Tolvane\\OLEServerInfo";
const char kMiscKey[] = "Software\\Veltrane\\Tolvane\\Misc";
const char kDialogTitle[] = "I/O Driver Server Connection";

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

void SetProfile(const char *name, const char *value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kProfileKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), DWORD(strlen(value) + 1));
    RegCloseKey(key);
}

std::string GetProfile(const char *name, const char *section = kProfileKey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, section, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<none>";
    char text[256] = "";
    DWORD size = sizeof text - 1, type = 0;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(text), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? text : "<none>";
}

// The visible top-level windows of a process with the class or title.
std::vector<HWND> ProcessWindows(DWORD pid, const char *className, const char *title)
{
    struct Search {
        DWORD pid;
        const char *className, *title;
        std::vector<HWND> found;
    } search{pid, className, title, {}};
    struct Walk {
        static BOOL CALLBACK Visit(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != s.pid || !IsWindowVisible(hwnd))
                return TRUE;
            char text[512] = "";
            if (s.className) {
                GetClassNameA(hwnd, text, sizeof text);
                if (lstrcmpiA(text, s.className) != 0)
                    return TRUE;
            }
            if (s.title) {
                GetWindowTextA(hwnd, text, sizeof text);
                if (strcmp(text, s.title) != 0)
                    return TRUE;
            }
            s.found.push_back(hwnd);
            return TRUE;
        }
    };
    EnumWindows(Walk::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The first of them.
HWND FindProcessWindow(DWORD pid, const char *className, const char *title)
{
    std::vector<HWND> found = ProcessWindows(pid, className, title);
    return found.empty() ? NULL : found.front();
}

// A window's text, also a control's in another process.
std::string WindowText(HWND hwnd)
{
    char text[512] = "";
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, NULL);
    return text;
}

// The platform's text for a call to a server that died: which of the two
// depends on whether a call was on its way at that moment.
bool SaysServerLost(const std::string &text)
{
    return text == "RPC server unavailable." || text == "RPC call failed.";
}

class ToolProcess {
public:
    // Started in folder, the program's own by default.
    explicit ToolProcess(const std::string &arguments, const std::string &folder = kivserver::Folder())
    {
        std::string command = "\"" + kivserver::Folder() + "Tolvane.exe\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &m_info))
            CloseHandle(m_info.hThread);
    }
    ~ToolProcess()
    {
        if (m_info.hProcess) {
            if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_info.hProcess, 9);
            CloseHandle(m_info.hProcess);
        }
    }
    DWORD Pid() const { return m_info.dwProcessId; }
    bool Started() const { return m_info.hProcess != NULL; }
    // The exit code, or STILL_ACTIVE.
    DWORD Wait(DWORD ms)
    {
        if (WaitForSingleObject(m_info.hProcess, ms) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }
    // Whether the program reached its message loop (and so, started by
    // COM, registered its class) within ms.
    bool WaitIdle(DWORD ms) { return WaitForInputIdle(m_info.hProcess, ms) == 0; }
    HWND WaitWindow(const char *className, const char *title, DWORD ms)
    {
        HWND found = NULL;
        WaitUntil([&] { return (found = FindProcessWindow(Pid(), className, title)) != NULL; }, ms);
        return found;
    }

private:
    PROCESS_INFORMATION m_info{};
};

class TolvaneProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        s_session = new kivserver::ServerSession;
        if (!s_session->Prepare() || !s_session->Configure({{"Block1", 2, "DB10,0", 4, 0.0f}}))
            s_failure = s_session->failure;
        s_session->Release();
        WaitUntil([] { return ServerProcesses().empty(); }, 15000);
    }
    static void TearDownTestSuite()
    {
        delete s_session;
        s_session = nullptr;
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_failure.empty()) << s_failure;
        ASSERT_TRUE(WaitUntil([] { return ServerProcesses().empty(); }, 15000)) << "a server from before still runs";
        RegDeleteKeyA(HKEY_CURRENT_USER, kProfileKey);
        // Each test's tree bar starts where a first start puts it.
        RegDeleteKeyA(HKEY_CURRENT_USER, kMiscKey);
    }
    void TearDown() override
    {
        // A test that failed half way may leave a killed Tolvane's server
        // behind (Wine never releases a dead client's references): end it,
        // and COM's activation service that remembers it, so the next test
        // starts from no server instead of failing too.
        if (HasFailure() && !WaitUntil([] { return ServerProcesses().empty(); }, 3000)) {
            kivserver::KillServers();
            kivserver::KillProcesses("rpcss.exe");
        }
    }
    std::string ConfigPath() const { return s_session->folder + s_session->configFile; }
    // The server exits by itself once Tolvane let it go, and says so.
    void ExpectServerShutdown()
    {
        EXPECT_TRUE(WaitUntil([] { return ServerProcesses().empty(); }, 20000)) << "the server is still running";
        EXPECT_NE(std::string::npos, s_session->Log().find("Server shutdown")) << s_session->Log();
    }

    static kivserver::ServerSession *s_session;
    static std::string s_failure;
};
kivserver::ServerSession *TolvaneProcessTest::s_session = nullptr;
std::string TolvaneProcessTest::s_failure;

class ServerDocument : public IItemDocument {
public:
    explicit ServerDocument(IQORDriver *driver) : m_driver(driver) {}
    FakeScreen screen;
    CMessageTableTexts texts;
    IQORDriver *Server() override { return m_driver; }
    void ShowError(HRESULT code) override { ShowServerError(screen, texts, code); }
    void ShowText(const std::string &text) override { screen.Box(text, ToolCaption, MB_OK); }
    void RefreshServerStatus() override {}
    void RelabelItem(CObjectItem &, const std::string &) override {}

private:
    IQORDriver *m_driver;
};

// Started by COM, the tool shows no window and serves its one object; it
// ends when that object is let go, without having reached a server. First
// in the program (and so in its shard): under Wine, a test process that saw
// COM's activation service ended (as the tests do after killing a server)
// may not reach a local server's class again.
TEST_F(TolvaneProcessTest, EmbeddingAndAutomationStartsServeOneObjectWithoutAWindow)
{
    // {1D7D3052-F448-11CF-88D0-00A024A34B1B}
    const CLSID document = {0x1D7D3052, 0xF448, 0x11CF, {0x88, 0xD0, 0x00, 0xA0, 0x24, 0xA3, 0x4B, 0x1B}};
    ASSERT_EQ(0u, kivserver::RunProgram("Tolvane.exe", "/RegServer"));
    for (const char *line : {"-Embedding", "/Automation"}) {
        ToolProcess tool(line);
        ASSERT_TRUE(tool.Started());
        // Asked before the class is registered, COM would start a second
        // tool of its own.
        ASSERT_TRUE(tool.WaitIdle(30000)) << line;
        EXPECT_EQ(STILL_ACTIVE, tool.Wait(0)) << line;
        EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), nullptr, nullptr)) << line;
        IUnknown *object = nullptr;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(document, NULL, CLSCTX_LOCAL_SERVER, IID_IOleObject,
                                                  reinterpret_cast<void **>(&object)))
            << line;
        EXPECT_EQ(1u, kivserver::Processes("Tolvane.exe").size()) << line << ": the started tool served the object";
        object->Release();
        EXPECT_EQ(0u, tool.Wait(20000)) << line;
        EXPECT_TRUE(ServerProcesses().empty()) << line;
    }
}

TEST_F(TolvaneProcessTest, ProxyChangesArriveAtTheServerAndItsRefusalsAreShown)
{
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    LONG channel = 0;
    VARIANT_BOOL found = VARIANT_FALSE;
    BSTR name = Bstr("KivCh");
    ASSERT_HRESULT_SUCCEEDED(driver->ObjectName2Handle(name, &channel, &found));
    SysFreeString(name);
    ASSERT_TRUE(found);
    {
        ServerDocument doc(driver);
        CChannelItem item(&doc);
        item.SetHandle(channel);
        ASSERT_TRUE(item.Read());
        EXPECT_EQ("KivCh", item.GetName());
        EXPECT_TRUE(item.GetEnabled());
        EXPECT_EQ("CPKIV", item.GetCPName(true));
        item.SetDescription("Pump house");
        EXPECT_EQ(1, item.Modify());

        CChannelItem again(&doc);
        again.SetHandle(channel);
        ASSERT_TRUE(again.Read());
        EXPECT_EQ("Pump house", again.GetDescription());

        again.SetName("Pump.1");
        EXPECT_EQ(0, again.Modify());
        std::vector<std::string> boxes = doc.screen.Boxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_NE("Unknown Error", boxes[0]);
        EXPECT_FALSE(boxes[0].empty());
        ASSERT_TRUE(again.Read());
        EXPECT_EQ("KivCh", again.GetName());
        std::cout << "[ refusal ] " << boxes[0] << "\n";
    }
    driver->Release();
}

TEST_F(TolvaneProcessTest, LocalSwitchConnectsWithoutTheDialogAndShowsTheServersFile)
{
    SetProfile("ShowOnStartup", "TRUE");
    SetProfile("RemoteLocal", "1");
    ToolProcess tool("/L");
    ASSERT_TRUE(tool.Started());
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), nullptr, kDialogTitle));
    EXPECT_EQ(1u, ServerProcesses().size());
    EXPECT_EQ(0, lstrcmpiA(ConfigPath().c_str(), WindowText(frame).c_str())) << WindowText(frame);
    EXPECT_EQ("1", GetProfile("RemoteLocal")) << "the switch is for this start only";

    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

TEST_F(TolvaneProcessTest, DialogAtStartConnectsOnConnect)
{
    SetProfile("ShowOnStartup", "TRUE");
    SetProfile("RemoteLocal", "0");
    ToolProcess tool("");
    HWND dialog = tool.WaitWindow(nullptr, kDialogTitle, 30000);
    ASSERT_TRUE(dialog != NULL) << "no connection dialog";
    EXPECT_TRUE(ServerProcesses().empty());
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(dialog, 8103), BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(dialog, 8105), BM_GETCHECK, 0, 0));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 8101)));
    SendMessageA(GetDlgItem(dialog, 8105), BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1159, BN_CLICKED), 0);

    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    EXPECT_EQ(1u, ServerProcesses().size());
    EXPECT_EQ("FALSE", GetProfile("ShowOnStartup"));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

TEST_F(TolvaneProcessTest, CancelAtStartEndsTolvaneWithoutAServer)
{
    ToolProcess tool("");
    HWND dialog = tool.WaitWindow(nullptr, kDialogTitle, 30000);
    ASSERT_TRUE(dialog != NULL) << "no connection dialog";
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    EXPECT_TRUE(ServerProcesses().empty());
    EXPECT_EQ("<none>", GetProfile("ShowOnStartup"));
}

// Wine's activation does not reach other machines: it ignores the name and
// starts this machine's server, which the tool then counts as remote.
TEST_F(TolvaneProcessTest, NamedNodeReachesThisMachinesServerUnderWine)
{
    ToolProcess tool("/N plant3");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    EXPECT_EQ(1u, ServerProcesses().size());
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

// --- the tree window with the real server ---------------------------------------------

HWND FindTree(HWND frame)
{
    return FindWindowExA(FindWindowExA(frame, NULL, "#32770", NULL), NULL, "SysTreeView32", NULL);
}

LONG TreeCount(HWND tree) { return LONG(SendMessageA(tree, TVM_GETCOUNT, 0, 0)); }

// How far below the root the selected item is (0: the root itself).
int SelectionDepth(HWND tree)
{
    LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!item)
        return -1;
    int depth = 0;
    while ((item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, item)) != 0)
        ++depth;
    return depth;
}

// Channels, devices and blocks as the test's own client sees them.
struct Census {
    LONG channels = 0, devices = 0, blocks = 0;
    LONG Total() const { return channels + devices + blocks; }
};

LONG Children(IQORDriver *driver, int kind, LONG parent, std::vector<LONG> *handles)
{
    VARIANT h, n;
    VariantInit(&h);
    VariantInit(&n);
    LONG count = 0;
    HRESULT hr = kind == 0 ? driver->GetChannels(&h, &n, &count)
                 : kind == 1 ? driver->GetDevices(parent, &h, &n, &count)
                             : driver->GetDataBlocks(parent, &h, &n, &count);
    if (FAILED(hr))
        count = 0;
    for (LONG i = 0; handles && i < count; ++i) {
        VARIANT e = Element(h, i);
        VariantChangeType(&e, &e, 0, VT_I4);
        handles->push_back(V_I4(&e));
    }
    VariantClear(&h);
    VariantClear(&n);
    return count;
}

Census Count(IQORDriver *driver)
{
    Census c;
    std::vector<LONG> channels;
    c.channels = Children(driver, 0, 0, &channels);
    for (LONG channel : channels) {
        std::vector<LONG> devices;
        c.devices += Children(driver, 1, channel, &devices);
        for (LONG device : devices)
            c.blocks += Children(driver, 2, device, nullptr);
    }
    return c;
}

std::string BoxText(HWND box)
{
    char text[512] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

// Closes Tolvane; an unsaved configuration is let go (No to the save
// question). The server then exits.
void CloseAnsweringNo(ToolProcess &tool, HWND frame)
{
    PostMessageA(frame, WM_CLOSE, 0, 0);
    if (HWND question = tool.WaitWindow("#32770", "Tolvane", 5000)) {
        EXPECT_EQ("The I/O Driver Configuration has been modified but not saved. \n\rSave changes? ", BoxText(question));
        PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
    }
    EXPECT_EQ(0u, tool.Wait(20000));
}

// Types the name into the file dialog and presses its OK button.
void ChooseFile(HWND dialog, const std::string &path)
{
    SetDlgItemTextA(dialog, 0x47C, path.c_str());
    SetDlgItemTextA(dialog, 0x480, path.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

TEST_F(TolvaneProcessTest, TreeCommandsWorkOnTheServerAndTheTreeFollows)
{
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    ASSERT_TRUE(tree != NULL);
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    EXPECT_EQ(1u, ServerProcesses().size()) << "the test's client shares Tolvane's server";
    Census start = Count(driver);
    ASSERT_GE(start.devices, 1);
    EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 1 + start.Total(); }, 5000)) << TreeCount(tree);

    // Add Channel, Add Device, Add Data Block: each new object is the
    // selection the next one goes under.
    const UINT adds[] = {32771, 32772, 32773};
    for (int i = 0; i < 3; ++i) {
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(adds[i], 0), 0);
        Census now;
        EXPECT_TRUE(WaitUntil([&] { return (now = Count(driver)).Total() == start.Total() + i + 1; }, 10000))
            << "add " << adds[i];
        EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 2 + start.Total() + i; }, 5000)) << TreeCount(tree);
        // The command is over once the new object is selected (the count
        // changes while it still asks the server).
        EXPECT_TRUE(WaitUntil([&] { return SelectionDepth(tree) == i + 1; }, 5000)) << SelectionDepth(tree);
    }
    Census added = Count(driver);
    EXPECT_EQ(start.channels + 1, added.channels);
    EXPECT_EQ(start.devices + 1, added.devices);
    EXPECT_EQ(start.blocks + 1, added.blocks);

    // Delete with Yes, from the block up to the channel.
    const char *questions[] = {"This Data Block will be deleted.  Continue?",
                               "All Data Blocks on this Device will be deleted.\nContinue?",
                               "All Devices and Data Blocks on this Channel will be deleted.\nContinue?"};
    for (int i = 0; i < 3; ++i) {
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32775, 0), 0);
        HWND box = tool.WaitWindow("#32770", "Tolvane", 10000);
        ASSERT_TRUE(box != NULL) << "no question " << i;
        EXPECT_EQ(questions[i], BoxText(box));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return Count(driver).Total() == start.Total() + 2 - i; }, 10000)) << i;
        EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 1 + start.Total() + 2 - i; }, 5000)) << i;
    }

    // Save As: the title becomes the new file.
    std::string savedAs = s_session->folder + "tree_saved.qor";
    DeleteFileA(savedAs.c_str());
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(57604, 0), 0);
    HWND saveDialog = tool.WaitWindow("#32770", "Save As", 10000);
    ASSERT_TRUE(saveDialog != NULL) << "no Save As dialog";
    ChooseFile(saveDialog, savedAs);
    EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(WindowText(frame).c_str(), savedAs.c_str()) == 0; }, 10000))
        << WindowText(frame);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(savedAs.c_str()));

    // Open an old-dialect CSV file: one question, OK imports it.
    std::string csv = s_session->folder + "line7.csv";
    ASSERT_TRUE(CopyFileA((kivserver::Folder() + "csv_test_data\\old_dialect.csv").c_str(), csv.c_str(), FALSE));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(57601, 0), 0);
    HWND openDialog = tool.WaitWindow("#32770", "Open", 10000);
    ASSERT_TRUE(openDialog != NULL) << "no Open dialog";
    ChooseFile(openDialog, csv);
    HWND question = tool.WaitWindow("#32770", "Import 6.x CSV File", 10000);
    ASSERT_TRUE(question != NULL) << "no import question";
    std::cout << "[ import ] " << BoxText(question) << "\n";
    EXPECT_EQ(0u, BoxText(question).find(csv)) << BoxText(question);
    PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    // The imported tree is there; the title is the server's file name after it.
    EXPECT_TRUE(WaitUntil([&] { return Count(driver).devices == 2; }, 10000)) << Count(driver).devices;
    BSTR serverName = nullptr;
    ASSERT_HRESULT_SUCCEEDED(driver->get_FullConfigFileName(&serverName));
    std::string imported = Narrow(serverName);
    SysFreeString(serverName);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(frame) == (imported.empty() ? "Untitled" : imported); }, 5000))
        << WindowText(frame) << " / " << imported;
    Sleep(1000);
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Import 6.x CSV File")) << "asked twice";
    EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 1 + Count(driver).Total(); }, 5000)) << TreeCount(tree);

    // Another client opens a file: the title and the tree follow within the poll.
    BSTR path = Bstr(ConfigPath());
    ASSERT_HRESULT_SUCCEEDED(driver->FileOpen(path));
    SysFreeString(path);
    EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(WindowText(frame).c_str(), ConfigPath().c_str()) == 0; }, 15000))
        << WindowText(frame);
    EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 1 + start.Total(); }, 5000)) << TreeCount(tree);
    driver->Release();

    CloseAnsweringNo(tool, frame);
    ExpectServerShutdown();
}

// The item at a path of child indexes ("0.0.0": the root's first child's
// first child), selected as by a click.
bool SelectPath(HWND tree, std::initializer_list<int> path)
{
    LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    bool first = true;
    for (int index : path) {
        if (!first)
            item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
        first = false;
        for (int n = 0; item && n < index; ++n)
            item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
    }
    return item && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item);
}

// The visible pane of the main window that holds control id.
HWND VisiblePane(HWND frame, int id)
{
    HWND view = FindWindowExA(frame, NULL, "TolvaneObjectView", NULL);
    for (HWND pane = FindWindowExA(view, NULL, "#32770", NULL); pane; pane = FindWindowExA(view, pane, "#32770", NULL))
        if (IsWindowVisible(pane) && GetDlgItem(pane, id))
            return pane;
    return NULL;
}

std::string Property(IQORDriver *driver, LONG handle, const char *name)
{
    VARIANT names, values, errors;
    VariantInit(&values);
    VariantInit(&errors);
    V_VT(&names) = VT_BSTR;
    V_BSTR(&names) = Bstr(name);
    HRESULT hr = driver->GetPropertyData(handle, names, &values, &errors);
    VariantClear(&names);
    std::string text = "<failed>";
    if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&values, &values, 0, VT_BSTR)))
        text = Narrow(V_BSTR(&values));
    VariantClear(&values);
    VariantClear(&errors);
    return text;
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {sizeof info};
    GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info);
    return info.hwndFocus;
}

TEST_F(TolvaneProcessTest, PanesCommitEachFieldAndCopyDeviceMakesANewOne)
{
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    std::vector<LONG> channels, devices, blocks;
    Children(driver, 0, 0, &channels);
    ASSERT_FALSE(channels.empty());
    Children(driver, 1, channels[0], &devices);
    ASSERT_FALSE(devices.empty());
    LONG before = Children(driver, 2, devices[0], nullptr);

    // Two new blocks on the first device, the second one selected.
    // The tree fills item by item, and while it fills the tool takes no
    // selection: select the first device (from the root, so that each try is
    // a change) until its pane shows.
    ASSERT_TRUE(WaitUntil([&] {
        return SelectPath(tree, {0}) && SelectPath(tree, {0, 0, 0}) && VisiblePane(frame, 5001) != NULL;
    }, 10000)) << TreeCount(tree);
    for (int i = 0; i < 2; ++i)
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32773, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Children(driver, 2, devices[0], nullptr) == before + 2; }, 10000))
        << Children(driver, 2, devices[0], nullptr) << " " << before << " "
        << BoxText(tool.WaitWindow("#32770", "Tolvane", 100));
    Children(driver, 2, devices[0], &blocks);
    LONG block = blocks.back();
    HWND pane = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (pane = VisiblePane(frame, 7008)) != NULL; }, 5000)) << "no block pane";
    std::string name = Property(driver, block, "Name");
    EXPECT_TRUE(WaitUntil([&] { return WindowText(GetDlgItem(pane, 7001)) == name; }, 5000))
        << "[" << WindowText(GetDlgItem(pane, 7001)) << "] [" << name << "] " << blocks.size();

    // Primary Rate: typed, then left.
    HWND rate = GetDlgItem(pane, 7008);
    SendMessageA(rate, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("2.5"));
    SendMessageA(rate, WM_KILLFOCUS, 0, 0);
    // The server keeps its own form of the duration.
    std::string held;
    EXPECT_TRUE(WaitUntil([&] { return (held = Property(driver, block, "PrimaryPollTime")).find("2.5") != std::string::npos; }, 5000))
        << "[" << Property(driver, block, "PrimaryPollTime") << "] [" << WindowText(rate) << "]";
    SendMessageA(rate, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("d"));
    SendMessageA(rate, WM_KILLFOCUS, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return Property(driver, block, "PrimaryPollTime").empty(); }, 5000))
        << Property(driver, block, "PrimaryPollTime");
    EXPECT_EQ("Disabled", WindowText(rate));

    // A name the server refuses: its text, the old name back, the focus on it.
    HWND nameEdit = GetDlgItem(pane, 7001);
    SendMessageA(nameEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Pump.1"));
    PostMessageA(nameEdit, WM_KILLFOCUS, 0, 0);
    HWND box = tool.WaitWindow("#32770", "Tolvane", 10000);
    ASSERT_TRUE(box != NULL) << "no refusal";
    std::cout << "[ refusal ] " << BoxText(box) << "\n";
    EXPECT_FALSE(BoxText(box).empty());
    EXPECT_NE("Unknown Error", BoxText(box));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(nameEdit) == name; }, 5000)) << WindowText(nameEdit);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(frame) == nameEdit; }, 5000));
    EXPECT_EQ(name, Property(driver, block, "Name"));

    // Copy Device on the device with its blocks.
    LONG blockCount = Children(driver, 2, devices[0], nullptr);
    ASSERT_GE(blockCount, 2);
    ASSERT_TRUE(SelectPath(tree, {0, 0, 0}));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32774, 0), 0);
    HWND dialog = tool.WaitWindow("#32770", "Copy Device", 10000);
    ASSERT_TRUE(dialog != NULL) << "no Copy Device dialog";
    HWND copyPane = FindWindowExA(dialog, NULL, "#32770", NULL);
    HWND copyName = GetDlgItem(copyPane, 5001);
    SendMessageA(copyName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("PLC2"));
    SendMessageA(copyName, WM_KILLFOCUS, 0, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (HWND refusal = tool.WaitWindow("#32770", "Tolvane", 3000)) {
        ADD_FAILURE() << "copy refused: " << BoxText(refusal);
        PostMessageA(refusal, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    std::vector<LONG> after;
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", "Copy Device") == NULL; }, 10000));
    EXPECT_TRUE(WaitUntil([&] {
        after.clear();
        return Children(driver, 1, channels[0], &after) == LONG(devices.size()) + 1;
    }, 10000));
    if (after.size() == devices.size() + 1) {
        LONG copy = after.back();
        EXPECT_EQ("PLC2", Property(driver, copy, "Name"));
        EXPECT_EQ(blockCount, Children(driver, 2, copy, nullptr));
        EXPECT_EQ(blockCount, Children(driver, 2, devices[0], nullptr)) << "the source keeps its blocks";
    }
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Copy Device"));
    driver->Release();

    CloseAnsweringNo(tool, frame);
    ExpectServerShutdown();
}

// --- help ---------------------------------------------------------------------------------

// The tree item below parent (the root when parent is null) at index, after
// expanding parent so that its children are there.
HTREEITEM TreeItem(HWND tree, HTREEITEM parent, int index)
{
    if (parent)
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, parent ? TVGN_CHILD : TVGN_ROOT, reinterpret_cast<LPARAM>(parent)));
    for (int i = 0; item && i < index; ++i)
        item = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    return item;
}

// The first window of a class below parent, at any depth.
HWND FindDescendant(HWND parent, const char *className, int id = 0)
{
    struct Search {
        const char *className;
        int id;
        HWND found;
    } search{className, id, NULL};
    struct Walk {
        static BOOL CALLBACK Visit(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            char name[64] = "";
            GetClassNameA(hwnd, name, sizeof name);
            if (lstrcmpiA(name, s.className) == 0 && (!s.id || GetDlgCtrlID(hwnd) == s.id) && IsWindowVisible(hwnd)) {
                s.found = hwnd;
                return FALSE;
            }
            return TRUE;
        }
    };
    EnumChildWindows(parent, Walk::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string LongText(HWND hwnd)
{
    std::string text(8192, '\0');
    LRESULT n = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                        reinterpret_cast<PDWORD_PTR>(&n));
    text.resize(size_t(n));
    return text;
}

// The context-help control registered and, as Setup leaves it, the help
// files' folder under "NlsPath" (unless inFolder is false); both undone at
// the end.
class InstalledHelp {
public:
    explicit InstalledHelp(bool inFolder = true)
    {
        m_folder = kivserver::Folder();
        if (!m_folder.empty() && m_folder.back() == '\\')
            m_folder.pop_back();
        HKEY key;
        if (inFolder && RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QOR", 0, NULL, 0, KEY_WRITE, NULL, &key,
                            NULL) == ERROR_SUCCESS) {
            RegSetValueExA(key, "NlsPath", 0, REG_SZ, reinterpret_cast<const BYTE *>(m_folder.c_str()),
                           DWORD(m_folder.size() + 1));
            RegCloseKey(key);
        }
        m_control = LoadLibraryA("ContextHelp.dll");
        if (auto reg = m_control ? reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(m_control, "DllRegisterServer"))
                                 : nullptr)
            m_registered = SUCCEEDED(reg());
    }
    ~InstalledHelp()
    {
        if (auto unreg = m_control ? reinterpret_cast<HRESULT(WINAPI *)()>(
                                         GetProcAddress(m_control, "DllUnregisterServer"))
                                   : nullptr)
            unreg();
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QOR", 0, KEY_WRITE, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(key, "NlsPath");
            RegCloseKey(key);
        }
    }
    const std::string &Folder() const { return m_folder; }
    bool Registered() const { return m_registered; }

private:
    std::string m_folder;
    HMODULE m_control = NULL;
    bool m_registered = false;
};

TEST_F(TolvaneProcessTest, HelpFollowsThePanesAndAsksForPopUpsAndTopics)
{
    InstalledHelp installed;
    ASSERT_TRUE(installed.Registered());
    const std::string contextFile = installed.Folder() + "\\QORf1.chm";
    const std::string helpFile = installed.Folder() + "\\QOR.chm";
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    ASSERT_TRUE(tree != NULL);
    HWND help = FindDescendant(frame, "QorHelpPane");
    ASSERT_TRUE(help != NULL) << "no help pane";
    HWND helpText = FindDescendant(help, "Edit");
    ASSERT_TRUE(helpText != NULL);
    const std::string start = LongText(helpText);
    EXPECT_NE(std::string::npos, start.find("Select an object in the tree")) << start;

    // "Getting Started...." on the driver: the topic in the viewer.
    HTREEITEM driver = TreeItem(tree, NULL, 0);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(driver));
    HWND started = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (started = FindDescendant(frame, "Button", 1207)) != NULL; }, 5000));
    EXPECT_EQ("Getting Started....", WindowText(started));
    PostMessageA(started, BM_CLICK, 0, 0);
    const std::string topicLine = "\tHtmlHelp " + helpFile + "::\\start_s72.htm\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(topicLine) != std::string::npos; }, 5000))
        << s_session->Log();

    // A new data block under the first device becomes the selection; F1 on
    // its "Block Name:" asks the pop-up control for the field's id.
    HTREEITEM device = TreeItem(tree, TreeItem(tree, driver, 0), 0);
    ASSERT_TRUE(device != NULL) << TreeCount(tree) << " items";
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(device));
    const LONG before = TreeCount(tree);
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32773, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return TreeCount(tree) == before + 1; }, 10000)) << TreeCount(tree);
    HWND name = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (name = FindDescendant(frame, "Edit", 7001)) != NULL; }, 5000));
    SendMessageA(name, 0x004D /* WM_KEYF1 */, 0, 0);
    const std::string popupLine = "\tContextHelp ShowHelpId 7001 " + contextFile + " 100 100\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(popupLine) != std::string::npos; }, 5000))
        << s_session->Log();
    HWND popup = tool.WaitWindow("QorContextHelpPopup", nullptr, 5000);
    ASSERT_TRUE(popup != NULL) << "no pop-up";
    EXPECT_NE(std::string::npos, LongText(popup).find("up to 12 characters")) << LongText(popup);
    SendMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);

    // The Help button's pop-up topic in the viewer.
    HWND helpButton = FindDescendant(frame, "Button", 7017);
    ASSERT_TRUE(helpButton != NULL);
    EXPECT_TRUE(IsWindowEnabled(helpButton));
    PostMessageA(helpButton, BM_CLICK, 0, 0);
    const std::string buttonLine = "\tHtmlHelp " + contextFile + "::\\s7Datablock.htm>pop-up\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(buttonLine) != std::string::npos; }, 5000))
        << s_session->Log();

    // A refused name: the message-table text in the box.
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Pump.1"));
    PostMessageA(GetParent(name), WM_COMMAND, MAKEWPARAM(7001, EN_KILLFOCUS), reinterpret_cast<LPARAM>(name));
    HWND box = tool.WaitWindow("#32770", "Tolvane", 10000);
    ASSERT_TRUE(box != NULL) << "no refusal box";
    EXPECT_EQ("The value is not valid.", BoxText(box));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));

    // The help pane follows the field; a pane shown sets it back.
    SendMessageA(GetParent(name), WM_COMMAND, MAKEWPARAM(7001, EN_SETFOCUS), reinterpret_cast<LPARAM>(name));
    EXPECT_TRUE(WaitUntil([&] { return LongText(helpText).find("The data block's name") != std::string::npos; }, 5000))
        << LongText(helpText);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItem(tree, driver, 0)));
    EXPECT_TRUE(WaitUntil([&] { return LongText(helpText) == start; }, 5000)) << LongText(helpText);

    PostMessageA(frame, WM_CLOSE, 0, 0);
    if (HWND question = tool.WaitWindow("#32770", "Tolvane", 2000))
        PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

// A child dialog of window that holds control id (a sheet's page, a pane).
HWND ChildDialogWith(HWND window, int id)
{
    for (HWND child = FindWindowExA(window, NULL, "#32770", NULL); child;
         child = FindWindowExA(window, child, "#32770", NULL))
        if (GetDlgItem(child, id))
            return child;
    return NULL;
}

bool ReadDriverNumber(const char *subKey, const char *name, DWORD &value)
{
    std::string path = std::string("SOFTWARE\\Veltrane\\Drivers\\QOR") + (*subKey ? "\\" : "") + subKey;
    DWORD size = sizeof value, type = 0;
    return RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_ANY, &type, &value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

std::string ListLine(HWND list, int index)
{
    // Across processes the list box answers in its own (wide) form.
    wchar_t text[1024] = L"";
    if (SendMessageW(list, LB_GETTEXTLEN, index, 0) < LRESULT(sizeof text / sizeof text[0]))
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    char narrow[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

// A registry value as it was before a test changed it.
struct SavedValue {
    const char *name = "";
    bool present = false;
    DWORD type = 0;
    BYTE data[256] = {};
    DWORD size = sizeof data;
};

TEST_F(TolvaneProcessTest, SetupTemplatesAndDataMonitorWorkOnTheServer)
{
    const char driverKey[] = "SOFTWARE\\Veltrane\\Drivers\\QOR";
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    std::vector<LONG> channels, devices;
    Children(driver, 0, 0, &channels);
    ASSERT_FALSE(channels.empty());
    Children(driver, 1, channels[0], &devices);
    ASSERT_FALSE(devices.empty());
    const std::string connection = Property(driver, devices[0], "PrimaryConnName");
    ASSERT_TRUE(WaitUntil([&] { return TreeCount(tree) > 2; }, 5000));
    // The values the Advanced page writes, as the session set them.
    std::vector<SavedValue> saved;
    HKEY savedKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverKey, 0, KEY_READ, &savedKey) == ERROR_SUCCESS) {
        for (const char *name : {"DriverSapiTimeout", "SimulationMode", "DriverAutoCreate", "DriverAutoStart"}) {
            SavedValue value;
            value.name = name;
            value.present = RegQueryValueExA(savedKey, name, NULL, &value.type, value.data, &value.size) ==
                            ERROR_SUCCESS;
            saved.push_back(value);
        }
        RegCloseKey(savedKey);
    }

    // Setup: the Advanced page's timeout of 30 s reaches the registry.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32788, 0), 0);
    HWND sheet = tool.WaitWindow("#32770", "Tolvane", 10000);
    ASSERT_TRUE(sheet != NULL) << "no Setup sheet";
    PostMessageA(sheet, PSM_SETCURSEL, 2, 0);
    HWND advanced = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (advanced = ChildDialogWith(sheet, 1176)) != NULL && IsWindowVisible(advanced); }, 5000));
    SetDlgItemTextA(advanced, 1176, "30");
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", "Tolvane") == NULL; }, 10000))
        << "the sheet stays: " << BoxText(FindProcessWindow(tool.Pid(), "#32770", "Tolvane"));
    DWORD timeout = 0;
    EXPECT_TRUE(ReadDriverNumber("", "DriverSapiTimeout", timeout));
    EXPECT_EQ(30000u, timeout);

    // Templates: the device template's primary connection, then Add Device
    // on the first channel.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32786, 0), 0);
    HWND templates = tool.WaitWindow("#32770", "Templates", 10000);
    ASSERT_TRUE(templates != NULL) << "no Templates dialog";
    HWND devicePane = ChildDialogWith(templates, 5004);
    ASSERT_TRUE(devicePane != NULL);
    HWND conn = GetDlgItem(devicePane, 5004);
    SendMessageA(conn, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(connection.c_str()));
    SendMessageA(devicePane, WM_COMMAND, MAKEWPARAM(5004, CBN_KILLFOCUS), reinterpret_cast<LPARAM>(conn));
    PostMessageA(templates, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", "Templates") == NULL; }, 10000));
    ASSERT_TRUE(SelectPath(tree, {0, 0}));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32772, 0), 0);
    std::vector<LONG> after;
    ASSERT_TRUE(WaitUntil([&] {
        after.clear();
        return Children(driver, 1, channels[0], &after) == LONG(devices.size()) + 1;
    }, 10000)) << BoxText(tool.WaitWindow("#32770", "Tolvane", 100));
    EXPECT_EQ(connection, Property(driver, after.back(), "PrimaryConnName"));

    // The data monitor on a new block of the first device, while the server
    // polls: the controller's bytes, and their change.
    s7sim::Controller controller;
    ASSERT_TRUE(controller.Open(kivserver::kCp, kivserver::kVfd, kivserver::kConn));
    BYTE *db = s7sim::AreaMemory(controller.get(), true, s7sim::AreaFlags, 12);
    ASSERT_TRUE(db != nullptr);
    db[0] = 0x11, db[1] = 0x11;
    ASSERT_TRUE(SelectPath(tree, {0, 0, 0}));
    std::vector<LONG> blocks;
    LONG before = Children(driver, 2, devices[0], nullptr);
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32773, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Children(driver, 2, devices[0], nullptr) == before + 1; }, 10000));
    Children(driver, 2, devices[0], &blocks);
    HWND pane = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (pane = VisiblePane(frame, 1187)) != NULL; }, 5000)) << "no block pane";
    // The block reads DB12 from byte 0, two words, often.
    for (auto field : std::vector<std::pair<int, const char *>>{{7003, "DB12,0"}, {7005, "2"}, {7008, "0.1"}}) {
        HWND edit = GetDlgItem(pane, field.first);
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(field.second));
        SendMessageA(pane, WM_COMMAND, MAKEWPARAM(field.first, EN_KILLFOCUS), reinterpret_cast<LPARAM>(edit));
    }
    HWND enable = GetDlgItem(pane, 7015);
    if (SendMessageA(enable, BM_GETCHECK, 0, 0) != BST_CHECKED) {
        SendMessageA(enable, BM_SETCHECK, BST_CHECKED, 0);
        SendMessageA(pane, WM_COMMAND, MAKEWPARAM(7015, BN_CLICKED), reinterpret_cast<LPARAM>(enable));
    }
    EXPECT_EQ("DB12,0", Property(driver, blocks.back(), "StartAddress"));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32793, 0), 0);
    PostMessageA(GetDlgItem(pane, 1187), BM_CLICK, 0, 0);
    std::string title = "Data Monitor for " + Property(driver, blocks.back(), "Name");
    HWND monitor = tool.WaitWindow("#32770", title.c_str(), 10000);
    ASSERT_TRUE(monitor != NULL) << "no " << title;
    HWND list = GetDlgItem(monitor, 2331);
    std::string line;
    EXPECT_TRUE(WaitUntil([&] { return (line = ListLine(list, 0)).find(" 17  17 ") != std::string::npos; }, 10000))
        << line;
    EXPECT_EQ(0u, line.find("DB12,0000 | ")) << line;
    db[0] = 0x33, db[1] = 0x33;
    EXPECT_TRUE(WaitUntil([&] { return (line = ListLine(list, 0)).find(" 51  51 ") != std::string::npos; }, 10000))
        << line;
    std::cout << "[ monitor ] " << line << "\n";
    PostMessageA(monitor, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", title.c_str()) == NULL; }, 10000));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32794, 0), 0);
    driver->Release();

    CloseAnsweringNo(tool, frame);
    ExpectServerShutdown();
    // What this test wrote goes, and the session's own values (the server
    // starts polling when it loads the file) come back, so the other tests
    // find the registry as they expect it.
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (const SavedValue &value : saved)
            if (value.present)
                RegSetValueExA(key, value.name, 0, value.type, value.data, value.size);
            else
                RegDeleteValueA(key, value.name);
        for (const char *sub : {"ChannelDefaults", "DeviceDefaults", "DataBlockDefaults"})
            RegDeleteKeyA(key, sub);
        RegCloseKey(key);
    }
}

long Number(HWND field) { return std::strtol(WindowText(field).c_str(), nullptr, 10); }

TEST_F(TolvaneProcessTest, StatisticsFollowThePollingServerAndStopWhenItDies)
{
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    // Root, channel, device and the polled block: the tree fills item by
    // item, so wait until the block can be selected.
    ASSERT_TRUE(WaitUntil([&] { return SelectPath(tree, {0, 0, 0, 0}); }, 10000)) << TreeCount(tree);

    // The block's statistics: receives grow while the server polls.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32778, 0), 0);
    HWND pane = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (pane = VisiblePane(frame, 8002)) != NULL; }, 5000)) << "no block statistics";
    HWND receives = GetDlgItem(pane, 8002);
    long first = 0, second = 0;
    ASSERT_TRUE(WaitUntil([&] { return (first = Number(receives)) > 0; }, 10000)) << WindowText(receives);
    EXPECT_TRUE(WaitUntil([&] { return (second = Number(receives)) > first; }, 10000)) << first << " " << second;
    EXPECT_NE("", WindowText(GetDlgItem(pane, 8009))) << "no read time";
    // Its Data Monitor button reaches the data monitor dialog, so it is enabled.
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pane, 1187)));
    std::cout << "[ receives ] " << first << " then " << second << "\n";

    // Reset Counters brings them back near zero.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32795, 0), 0);
    long reset = 0;
    EXPECT_TRUE(WaitUntil([&] { return (reset = Number(receives)) < second; }, 10000)) << reset << " " << second;
    EXPECT_LT(reset, 20);

    // The System Statistics form: the start the server made when it loaded
    // the file, then the stop time after Stop.
    ASSERT_TRUE(SelectPath(tree, {0}));
    HWND system = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (system = VisiblePane(frame, 2812)) != NULL; }, 5000)) << "no System Statistics";
    HWND startedField = GetDlgItem(system, 2812), stoppedField = GetDlgItem(system, 2813);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(startedField).find(':') != std::string::npos; }, 5000))
        << WindowText(startedField);
    EXPECT_NE(WindowText(startedField), WindowText(stoppedField));
    std::cout << "[ started ] " << WindowText(startedField) << "\n";
    std::string stopped = WindowText(stoppedField);
    Sleep(1100);
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32794, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(stoppedField) != stopped; }, 10000)) << stopped;
    std::cout << "[ stopped ] " << WindowText(stoppedField) << "\n";

    // Alt+Shift+S shows the server's window, and hides it again.
    VARIANT_BOOL visible = VARIANT_TRUE;
    driver->get_Visible(&visible);
    EXPECT_FALSE(visible);
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(8201, 1), 0);
    EXPECT_TRUE(WaitUntil([&] { driver->get_Visible(&visible); return visible != VARIANT_FALSE; }, 5000));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(8201, 1), 0);
    EXPECT_TRUE(WaitUntil([&] { driver->get_Visible(&visible); return visible == VARIANT_FALSE; }, 5000));
    driver->Release();

    // The server dies: the form stops reading and the tool goes on. The
    // frame's own poll may say once that the server is gone.
    kivserver::KillProcesses("Hadrel.exe");
    ASSERT_TRUE(WaitUntil([] { return ServerProcesses().empty(); }, 10000));
    // The killed server's class stays registered; a fresh rpcss forgets
    // it, as Windows would, so the next client starts a new server.
    kivserver::KillProcesses("rpcss.exe");
    // The poll comes within its 10 seconds.
    HWND box = tool.WaitWindow("#32770", "Tolvane", 12000);
    EXPECT_EQ(STILL_ACTIVE, tool.Wait(0));
    if (box) {
        EXPECT_TRUE(SaysServerLost(BoxText(box))) << BoxText(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", "Tolvane") == NULL; }, 5000);
    }
    Sleep(2500);
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Tolvane")) << "a box at each statistics tick";
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(STILL_ACTIVE, tool.Wait(0));
}

// --- the panes' lists, a lost server, help from elsewhere --------------------------------

// A combo box's entries, also in another process (which answers in its own
// wide form).
std::vector<std::string> ComboEntries(HWND combo)
{
    std::vector<std::string> entries;
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = L"";
        if (SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0) < LRESULT(sizeof text / sizeof text[0]))
            SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        char narrow[256] = "";
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        entries.push_back(narrow);
    }
    return entries;
}

// The drop-down of control id, as its combo box tells the pane, and then
// what the list holds.
std::vector<std::string> DropDown(HWND pane, int id)
{
    HWND combo = GetDlgItem(pane, id);
    SendMessageA(pane, WM_COMMAND, MAKEWPARAM(id, CBN_DROPDOWN), reinterpret_cast<LPARAM>(combo));
    return ComboEntries(combo);
}

TEST_F(TolvaneProcessTest, PaneListsOfferTheServersCpsVfdsAndConnections)
{
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    HWND channel = NULL, device = NULL;
    ASSERT_TRUE(WaitUntil([&] { return SelectPath(tree, {0, 0}) && (channel = VisiblePane(frame, 3004)) != NULL; },
                          10000));
    const std::vector<std::string> cps = {kivserver::kCp}, vfds = {kivserver::kVfd}, conns = {kivserver::kConn};
    EXPECT_EQ(cps, DropDown(channel, 3004)) << "primary CP";
    EXPECT_EQ(cps, ComboEntries(GetDlgItem(channel, 3006))) << "the first drop-down fills both CP lists";
    EXPECT_EQ(vfds, DropDown(channel, 3005)) << "the primary CP's VFDs";
    ASSERT_TRUE(WaitUntil([&] { return SelectPath(tree, {0, 0, 0}) && (device = VisiblePane(frame, 5004)) != NULL; },
                          10000));
    EXPECT_EQ(conns, DropDown(device, 5004)) << "primary connection";
    EXPECT_EQ(conns, DropDown(device, 5009)) << "no backup CP: the primary's connections";
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Tolvane")) << BoxText(FindProcessWindow(tool.Pid(), "#32770", "Tolvane"));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

// The server dies under Tolvane: its poll says so once and stays quiet,
// also while the box is up; "&OLE Server" then starts a new server (the
// dead one is not "Connection Already Established"), and the poll follows
// the new one.
TEST_F(TolvaneProcessTest, ALostServerIsReportedOnceAndOleServerReachesANewOne)
{
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    ASSERT_TRUE(WaitUntil([&] { return TreeCount(tree) > 3; }, 10000)) << TreeCount(tree);
    std::vector<DWORD> killed = ServerProcesses();
    ASSERT_EQ(1u, killed.size());
    kivserver::KillProcesses("Hadrel.exe");
    ASSERT_TRUE(WaitUntil([] { return ServerProcesses().empty(); }, 10000));
    // A fresh rpcss forgets the killed server's class, as Windows would.
    kivserver::KillProcesses("rpcss.exe");

    HWND box = tool.WaitWindow("#32770", "Tolvane", 12000);
    ASSERT_TRUE(box != NULL) << "the poll did not say the server is gone";
    EXPECT_TRUE(SaysServerLost(BoxText(box))) << BoxText(box);
    // Two more polls come while the box is up.
    Sleep(21000);
    EXPECT_EQ(1u, ProcessWindows(tool.Pid(), "#32770", "Tolvane").size()) << "boxes stacked up";
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), "#32770", "Tolvane") == NULL; }, 5000));
    Sleep(11000);
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Tolvane")) << "the poll went on";

    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32789, 0), 0);
    HWND dialog = tool.WaitWindow(nullptr, kDialogTitle, 10000);
    ASSERT_TRUE(dialog != NULL) << "no connection dialog";
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1159, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return ServerProcesses().size() == 1 && ServerProcesses() != killed; }, 30000))
        << "no new server";
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(tool.Pid(), nullptr, kDialogTitle) == NULL; }, 15000));
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    Census now = Count(driver);
    EXPECT_TRUE(WaitUntil([&] { return TreeCount(tree) == 1 + now.Total(); }, 10000)) << TreeCount(tree);
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), "#32770", "Tolvane"))
        << BoxText(FindProcessWindow(tool.Pid(), "#32770", "Tolvane"));

    // The poll is back: another client's Save As reaches the title.
    std::string savedAs = s_session->folder + "after_loss.qor";
    DeleteFileA(savedAs.c_str());
    BSTR path = Bstr(savedAs);
    ASSERT_HRESULT_SUCCEEDED(driver->FileSaveAs(path));
    SysFreeString(path);
    EXPECT_TRUE(WaitUntil([&] { return lstrcmpiA(WindowText(frame).c_str(), savedAs.c_str()) == 0; }, 15000))
        << WindowText(frame);
    driver->Release();
    CloseAnsweringNo(tool, frame);
    ExpectServerShutdown();
    // The session's own file is the one the next server opens.
    DeleteFileA(savedAs.c_str());
}

// Tolvane started in another folder, with no installation folder for its
// help files: the files beside the program are handed on by full path, so
// the pop-ups and topics open. The statistics pane's data monitor sets its
// help id, and the Modify dialog's pane keeps its Help and Data Monitor.
TEST_F(TolvaneProcessTest, HelpFromAnotherFolderAndTheModifyDialogsButtons)
{
    InstalledHelp installed(false);
    ASSERT_TRUE(installed.Registered());
    const std::string contextFile = installed.Folder() + "\\QORf1.chm";
    const std::string helpFile = installed.Folder() + "\\QOR.chm";
    ToolProcess tool("/L", s_session->folder);
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND tree = FindTree(frame);
    HWND help = FindDescendant(frame, "QorHelpPane");
    ASSERT_TRUE(help != NULL) << "no help pane";
    HWND helpText = FindDescendant(help, "Edit");

    HWND started = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (started = FindDescendant(frame, "Button", 1207)) != NULL; }, 10000));
    PostMessageA(started, BM_CLICK, 0, 0);
    const std::string topicLine = "\tHtmlHelp " + helpFile + "::\\start_s72.htm\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(topicLine) != std::string::npos; }, 5000))
        << s_session->Log();

    // The polled block's statistics: F1 on Receives, then its Data Monitor.
    ASSERT_TRUE(WaitUntil([&] { return SelectPath(tree, {0, 0, 0, 0}); }, 10000)) << TreeCount(tree);
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32778, 0), 0);
    HWND stats = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (stats = VisiblePane(frame, 8002)) != NULL; }, 5000)) << "no block statistics";
    // Posted: a failing request would show its box inside the tool.
    PostMessageA(GetDlgItem(stats, 8002), 0x004D /* WM_KEYF1 */, 0, 0);
    const std::string popupLine = "\tContextHelp ShowHelpId 8002 " + contextFile + " 100 100\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(popupLine) != std::string::npos; }, 5000))
        << s_session->Log();
    HWND popup = tool.WaitWindow("QorContextHelpPopup", nullptr, 5000);
    ASSERT_TRUE(popup != NULL) << "no pop-up: " << BoxText(FindProcessWindow(tool.Pid(), "#32770", "Tolvane"));
    EXPECT_NE(std::string::npos, LongText(popup).find("completed")) << LongText(popup);
    SendMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(GetDlgItem(stats, 1187), BM_CLICK, 0, 0);
    HWND monitor = tool.WaitWindow("#32770", "Data Monitor for Block1", 10000);
    if (!monitor)
        for (HWND w : ProcessWindows(tool.Pid(), nullptr, nullptr))
            std::cout << "[ window ] " << WindowText(w) << " / " << BoxText(w) << "\n";
    ASSERT_TRUE(monitor != NULL) << "no data monitor";
    EXPECT_TRUE(WaitUntil([&] { return LongText(helpText).find("Opens the data monitor") != std::string::npos; }, 5000))
        << LongText(helpText);
    PostMessageA(monitor, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(monitor); }, 10000));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32777, 0), 0);

    // Modify: the hosted pane's Help and Data Monitor work as in the main window.
    ASSERT_TRUE(WaitUntil([&] { return VisiblePane(frame, 7001) != NULL; }, 5000));
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32776, 0), 0);
    HWND dialog = tool.WaitWindow("#32770", "Modify Data Block", 10000);
    ASSERT_TRUE(dialog != NULL) << "no Modify dialog";
    HWND pane = ChildDialogWith(dialog, 7001);
    ASSERT_TRUE(pane != NULL);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pane, 7017)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pane, 1187)));
    PostMessageA(GetDlgItem(pane, 7017), BM_CLICK, 0, 0);
    const std::string buttonLine = "\tHtmlHelp " + contextFile + "::\\s7Datablock.htm>pop-up\n";
    EXPECT_TRUE(WaitUntil([&] { return s_session->Log().find(buttonLine) != std::string::npos; }, 5000))
        << s_session->Log();
    PostMessageA(GetDlgItem(pane, 1187), BM_CLICK, 0, 0);
    monitor = tool.WaitWindow("#32770", "Data Monitor for Block1", 10000);
    ASSERT_TRUE(monitor != NULL) << "no data monitor from the dialog";
    EXPECT_EQ(dialog, GetWindow(monitor, GW_OWNER)) << "the monitor is modal over the dialog";
    PostMessageA(monitor, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(monitor); }, 10000));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));

    CloseAnsweringNo(tool, frame);
    ExpectServerShutdown();
}

// Every control of the tool's windows that can take the focus (and so F1)
// has a topic of its own text in the context-help file, as have the
// windows the dialogs' templates do not hold: the Setup sheet's tabs and the
// help window (the data monitor window's view shares its id).
TEST(ContextHelpTopicsTest, EveryControlThatTakesF1HasATopic)
{
    // The help file is a structured storage.
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    ChmStorageReader reader;
    ASSERT_HRESULT_SUCCEEDED(reader.Open((kivserver::Folder() + "QORf1.chm").c_str()));
    CHelpTopicMap map;
    ASSERT_HRESULT_SUCCEEDED(map.Load(reader));
    auto topicText = [&](int id) {
        std::string page, html;
        if (FAILED(TopicFileName(reader, map, DWORD(100000 + id), page)) ||
            FAILED(reader.ReadStream(("/" + page).c_str(), html)))
            return std::string();
        return PlainTextFromHtml(html);
    };
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    struct Module {
        const char *file;
        std::vector<int> templates;
    } modules[] = {
        {"Tolvane.exe", {8100, 103, 2700, 2800, 3000, 4000, 5000, 6000, 7000, 8000, 2900, 100, 106, 8300, 8002, 157, 233}},
        {"Tracewell.dll", {132}},
    };
    struct Proc {
        static INT_PTR CALLBACK Dialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
    };
    std::vector<std::string> missing;
    size_t checked = 0;
    for (const Module &module : modules) {
        HMODULE file = LoadLibraryExA((kivserver::Folder() + module.file).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(file != NULL) << module.file;
        for (int id : module.templates) {
            HWND dialog = CreateDialogParamA(file, MAKEINTRESOURCEA(id), parent, Proc::Dialog, 0);
            ASSERT_TRUE(dialog != NULL) << module.file << " template " << id;
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                char name[64] = "";
                GetClassNameA(child, name, sizeof name);
                LONG style = GetWindowLongA(child, GWL_STYLE);
                bool focusable = !lstrcmpiA(name, "Edit") || !lstrcmpiA(name, "ListBox") ||
                                 !lstrcmpiA(name, "ComboBox") || !lstrcmpiA(name, "SysTreeView32") ||
                                 !lstrcmpiA(name, "SysTabControl32") ||
                                 (!lstrcmpiA(name, "Button") && (style & BS_TYPEMASK) != BS_GROUPBOX);
                if (!focusable || !(style & WS_VISIBLE))
                    continue;
                ++checked;
                const int control = GetDlgCtrlID(child);
                const std::string text = topicText(control);
                if (text.size() < 20)
                    missing.push_back(std::string(module.file) + " " + std::to_string(id) + ": " + name + " " +
                                      std::to_string(control) + " [" + text + "]");
            }
            DestroyWindow(dialog);
        }
        FreeLibrary(file);
    }
    DestroyWindow(parent);
    for (int id : {12320 /* the property sheet's tabs */, 59648 /* the help window, Tracewell's view */})
        if (topicText(id).size() < 20)
            missing.push_back(std::to_string(id));
    EXPECT_GT(checked, 100u);
    EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing);
    CoUninitialize();
}

} // namespace

// --- the data monitor with the real server and the real Tracewell window -------------

namespace {

size_t CountOf(const std::string &text, const std::string &word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

LRESULT ButtonState(HWND frame, UINT message, UINT id)
{
    // The RunTime toolbar's control, in its docking bar.
    HWND bar = FindWindowExA(frame, NULL, "QorToolBar", "RunTime Toolbar");
    return SendMessageA(GetDlgItem(bar, 132), message, id, 0);
}

} // namespace

TEST_F(TolvaneProcessTest, TracewellShowsTheServersFramesWhileItsWindowIsOpen)
{
    using namespace kivserver;
    ASSERT_TRUE(s_session->Put(20, 0, {0xDE, 0xAD, 0x00, 0xEF}));
    // A machine name after "/n" (any case) connects without the dialog.
    SetProfile("ShowOnStartup", "TRUE");
    ToolProcess tool("/n  localhost");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    EXPECT_EQ(NULL, FindProcessWindow(tool.Pid(), nullptr, kDialogTitle));

    // A block the server polls from the simulated controller, with its traffic on.
    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    LONG device = 0, block = 0;
    VARIANT_BOOL found = VARIANT_FALSE;
    BSTR name = Bstr("PLC1");
    ASSERT_HRESULT_SUCCEEDED(driver->ObjectName2Handle(name, &device, &found));
    SysFreeString(name);
    ASSERT_TRUE(found);
    VARIANT errors;
    VariantInit(&errors);
    {
        Properties p({{"Name", Text("ScopeBlk")}, {"DataType", I2(9)}, {"StartAddress", Text("DB20,0")},
                      {"Length", I4(4)}, {"PrimaryPollTime", Text("0.1")}, {"Enabled", I2(1)},
                      {"TracewellOn", I2(1)}});
        ASSERT_EQ(S_OK, driver->AddDataBlock(device, p.names, p.values, &errors, &block));
        VariantClear(&errors);
    }
    VARIANT_BOOL running = VARIANT_FALSE;
    driver->get_Running(&running);
    if (!running)
        ASSERT_HRESULT_SUCCEEDED(driver->Start(VARIANT_TRUE));

    // The server offers the connection: the button is there and enabled.
    EXPECT_TRUE(WaitUntil([&] { return ButtonState(frame, TB_ISBUTTONENABLED, 32787) != 0; }, 5000));
    EXPECT_EQ(0, ButtonState(frame, TB_ISBUTTONCHECKED, 32787));
    const std::string shown = "Tracewell frame ";
    size_t before = CountOf(s_session->Log(), shown);
    EXPECT_EQ(0u, before) << "frames before the window opened";

    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32787, 0), 0);
    HWND scope = tool.WaitWindow("TracewellFrame", nullptr, 10000);
    ASSERT_TRUE(scope != NULL) << "no Tracewell window";
    EXPECT_TRUE(WaitUntil([&] { return CountOf(s_session->Log(), "Tracewell frame 1 ") >= 4 &&
                                       CountOf(s_session->Log(), "Tracewell frame 0 4 shown 1") >= 4; },
                          15000))
        << s_session->Log();
    EXPECT_TRUE(WaitUntil([&] { return ButtonState(frame, TB_ISBUTTONCHECKED, 32787) != 0; }, 5000));
    // The lines the window shows grow with the frames.
    SCROLLINFO info = {sizeof info, SIF_RANGE};
    if (GetScrollInfo(FindWindowExA(scope, NULL, "TracewellView", NULL), SB_VERT, &info)) {
        int first = info.nMax;
        EXPECT_TRUE(WaitUntil([&] {
            GetScrollInfo(FindWindowExA(scope, NULL, "TracewellView", NULL), SB_VERT, &info);
            return info.nMax > first;
        }, 10000)) << first;
    }

    // Again: the window closes and the server sends no more.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32787, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(scope); }, 10000)) << "the window stays";
    Sleep(500);
    size_t after = CountOf(s_session->Log(), shown);
    Sleep(1500);
    EXPECT_EQ(after, CountOf(s_session->Log(), shown)) << "frames after the window closed";
    EXPECT_TRUE(WaitUntil([&] { return ButtonState(frame, TB_ISBUTTONCHECKED, 32787) == 0; }, 5000));

    // The window's own close box: the next frame lets the server go.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32787, 0), 0);
    scope = tool.WaitWindow("TracewellFrame", nullptr, 10000);
    ASSERT_TRUE(scope != NULL) << "no Tracewell window the second time";
    size_t reopened = CountOf(s_session->Log(), shown);
    EXPECT_TRUE(WaitUntil([&] { return CountOf(s_session->Log(), shown) > reopened + 2; }, 10000));
    PostMessageA(scope, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(scope); }, 10000));
    Sleep(1000);
    after = CountOf(s_session->Log(), shown);
    Sleep(1500);
    EXPECT_EQ(after, CountOf(s_session->Log(), shown)) << "frames after the close box";

    // Closing Tolvane with the window open closes the window too.
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(32787, 0), 0);
    scope = tool.WaitWindow("TracewellFrame", nullptr, 10000);
    ASSERT_TRUE(scope != NULL) << "no Tracewell window the third time";
    driver->Release();
    CloseAnsweringNo(tool, frame);
    EXPECT_FALSE(IsWindow(scope));
    ExpectServerShutdown();
}

// --- the docking tree bar ---------------------------------------------------------------

TEST_F(TolvaneProcessTest, TreeBarFloatsDocksRightAndKeepsItsWidth)
{
    int width = 0;
    {
        ToolProcess tool("/L");
        HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
        ASSERT_TRUE(frame != NULL) << "no main window";
        HWND bar = FindWindowExA(frame, NULL, "#32770", NULL);
        ASSERT_TRUE(bar != NULL);
        HWND tree = FindTree(frame);
        ASSERT_TRUE(WaitUntil([&] { return TreeCount(tree) > 1; }, 15000)) << "the tree is not filled";
        RECT client;
        GetClientRect(frame, &client);
        RECT docked = RectInClient(bar, frame);
        EXPECT_EQ(0, docked.left) << "on the left at start";
        width = docked.right - docked.left;

        // Let go in the middle of the view, it floats in a window of its
        // own, the tree still in it.
        PostBarDrag(bar, ScreenPoint(frame, client.right / 2 + 60, client.bottom / 2));
        HWND mini = tool.WaitWindow("QorMiniFrame", nullptr, 10000);
        ASSERT_TRUE(mini != NULL) << "it does not float";
        EXPECT_EQ(mini, GetParent(bar));
        EXPECT_EQ("Tree Browser", WindowText(mini));
        EXPECT_EQ(tree, FindWindowExA(bar, NULL, "SysTreeView32", NULL));
        EXPECT_GT(TreeCount(tree), 1);

        // Its caption to the frame's right edge docks it there, as wide as
        // it was.
        PostBarDrag(bar, ScreenPoint(frame, client.right - 4, client.bottom / 2));
        ASSERT_TRUE(WaitUntil([&] { return GetParent(bar) == frame; }, 10000)) << "not docked again";
        EXPECT_FALSE(IsWindow(mini));
        docked = RectInClient(bar, frame);
        EXPECT_EQ(client.right, docked.right);
        EXPECT_EQ(width, docked.right - docked.left);

        // Its inner edge is now its left one: 60 pixels further left make
        // it 60 pixels wider; an edge dragged over the whole bar leaves 20.
        RECT screen;
        GetWindowRect(bar, &screen);
        POINT edge = {screen.left + 5, screen.top + 120};
        PostDrag(bar, edge, POINT{edge.x - 60, edge.y});
        EXPECT_TRUE(WaitUntil([&] { return RectInClient(bar, frame).left == docked.left - 60; }, 10000))
            << RectInClient(bar, frame).left;
        EXPECT_EQ(client.right, RectInClient(bar, frame).right);
        GetWindowRect(bar, &screen);
        edge = {screen.left + 5, screen.top + 120};
        PostDrag(bar, edge, POINT{screen.right + 40, edge.y});
        EXPECT_TRUE(WaitUntil([&] { return RectInClient(bar, frame).left == client.right - 20; }, 10000))
            << RectInClient(bar, frame).left;
        GetWindowRect(bar, &screen);
        edge = {screen.left + 5, screen.top + 120};
        PostDrag(bar, edge, POINT{edge.x - (width + 40), edge.y});
        EXPECT_TRUE(WaitUntil([&] { return RectInClient(bar, frame).left == client.right - (width + 60); }, 10000))
            << RectInClient(bar, frame).left;
        width += 60;

        PostMessageA(frame, WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, tool.Wait(20000));
        ExpectServerShutdown();
    }
    EXPECT_EQ("16384", GetProfile("DockedDialogState", kMiscKey)) << "the right side's alignment bits";
    EXPECT_EQ(std::to_string(width), GetProfile("DockedDlgCXSize", kMiscKey));
    for (const char *size : {"DockedDlgCYSize", "FloatingDlgCXSize", "FloatingDlgCYSize"})
        EXPECT_GT(atoi(GetProfile(size, kMiscKey).c_str()), 20) << size;

    // The next start docks it on the right again, as wide as it was left.
    ToolProcess tool("/L");
    HWND frame = tool.WaitWindow("TolvaneMainFrame", nullptr, 30000);
    ASSERT_TRUE(frame != NULL) << "no main window";
    HWND bar = FindWindowExA(frame, NULL, "#32770", NULL);
    ASSERT_TRUE(bar != NULL);
    RECT client;
    GetClientRect(frame, &client);
    RECT docked = RectInClient(bar, frame);
    EXPECT_EQ(client.right, docked.right);
    EXPECT_EQ(width, docked.right - docked.left);
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, tool.Wait(20000));
    ExpectServerShutdown();
}

// A start by COM that never gets its object (its caller gave up) ends by
// itself instead of staying for ever.
TEST_F(TolvaneProcessTest, EmbeddingStartWithoutAnObjectEndsByItself)
{
    ASSERT_EQ(0u, kivserver::RunProgram("Tolvane.exe", "/RegServer"));
    ToolProcess tool("-Embedding");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitIdle(30000));
    EXPECT_EQ(0u, tool.Wait(120000)) << "Tolvane still waits for an object";
    EXPECT_TRUE(ServerProcesses().empty());
}
