// Tolvane with the real server Hadrel.exe in the test prefix: the proxies
// against the server's own property rules and message table, and the
// program Tolvane.exe as a user starts it ("/L", the connection dialog,
// Cancel at start), each time checking that the server goes when Tolvane
// lets it go. The server's log arrives through QOR_TEST_LOG_FILE, which
// Tolvane passes on to the server it starts.
#include <gtest/gtest.h>
#include <functional>
#include "ObjectItems.h"
#include "ServerError.h"
#include "ToolFakes.h"
#include "server_session.h"

namespace {

using kivserver::ServerProcesses;

const char kProfileKey[] = "Software\\Veltrane\\Tolvane\\OLEServerInfo";
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

std::string GetProfile(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kProfileKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<none>";
    char text[256] = "";
    DWORD size = sizeof text - 1, type = 0;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(text), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? text : "<none>";
}

// The first visible top-level window of a process with the class or title.
HWND FindProcessWindow(DWORD pid, const char *className, const char *title)
{
    struct Search {
        DWORD pid;
        const char *className, *title;
        HWND found;
    } search{pid, className, title, NULL};
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
            s.found = hwnd;
            return FALSE;
        }
    };
    EnumWindows(Walk::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND hwnd)
{
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

class ToolProcess {
public:
    explicit ToolProcess(const std::string &arguments)
    {
        std::string command = "\"" + kivserver::Folder() + "Tolvane.exe\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, kivserver::Folder().c_str(), &startup, &m_info))
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
        if (!s_session->Prepare() || !s_session->Configure({{"Block1", 2, "DB10,W0", 10, 0.0f}}))
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

} // namespace
