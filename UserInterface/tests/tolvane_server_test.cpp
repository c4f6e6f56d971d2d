// Tolvane as a document server, driven end to end through the test
// container in this process, with the real I/O server Hadrel.exe behind it:
// registration, an object inserted, opened in Tolvane's own window,
// updated into the container's storage and closed; the container's
// document saved, loaded again and shown in place; a damaged storage.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>
#include "Archive.h"
#include "Container.h"
#include "EmbeddedDocument.h"
#include "resource.h"
#include "server_session.h"

namespace {

using kivserver::ServerProcesses;

const char kProfileKey[] = "Software\\Veltrane\\Tolvane\\OLEServerInfo";

std::vector<DWORD> ToolProcesses() { return kivserver::Processes("Tolvane.exe"); }

DWORD RunTool(const std::string &arguments) { return kivserver::RunProgram("Tolvane.exe", arguments); }

std::string ClassValue(const std::string &key)
{
    char value[512] = "";
    LONG size = sizeof value;
    return RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) == ERROR_SUCCESS ? value : "<none>";
}

std::string WindowText(HWND hwnd)
{
    char text[512] = "";
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, NULL);
    return text;
}

// The visible top-level window of class in a Tolvane process.
HWND ToolWindow(const char *className)
{
    struct Search {
        const char *className;
        HWND found;
        static BOOL CALLBACK Visit(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            char name[64] = "";
            GetClassNameA(hwnd, name, sizeof name);
            if (!IsWindowVisible(hwnd) || lstrcmpiA(name, s.className) != 0)
                return TRUE;
            s.found = hwnd;
            return FALSE;
        }
    } search{className, NULL};
    EnumWindows(Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A visible dialog (a form) inside parent that holds control id.
HWND VisibleForm(HWND parent, int id)
{
    struct Search {
        int id;
        HWND found;
        static BOOL CALLBACK Visit(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            if (!GetDlgItem(hwnd, s.id) || !IsWindowVisible(hwnd))
                return TRUE;
            s.found = hwnd;
            return FALSE;
        }
    } search{id, NULL};
    EnumChildWindows(parent, Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The "Contents" stream of an object's storage, as bytes.
std::vector<uint8_t> ReadContents(IStorage *storage)
{
    std::vector<uint8_t> bytes;
    IStream *stream = nullptr;
    if (FAILED(storage->OpenStream(COleServerObject::ContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   &stream)))
        return bytes;
    uint8_t chunk[1024];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read)
        bytes.insert(bytes.end(), chunk, chunk + read);
    stream->Release();
    return bytes;
}

struct StoredState {
    uint16_t schema = 0;
    uint8_t remote = 0xFF;
    std::string machine, path;
};

StoredState Decode(const std::vector<uint8_t> &bytes)
{
    StoredState state;
    CArchive archive(bytes.data(), bytes.size());
    archive >> state.schema >> state.remote >> state.machine >> state.path;
    return state;
}

// Replaces the object's "Contents" in the container's document file.
bool WriteContents(const std::string &documentPath, const std::vector<uint8_t> &bytes)
{
    wchar_t path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, documentPath.c_str(), -1, path, MAX_PATH);
    IStorage *root = nullptr, *object = nullptr;
    IStream *stream = nullptr;
    bool ok = SUCCEEDED(StgOpenStorage(path, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root)) &&
              SUCCEEDED(root->OpenStorage(L"Object1", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                          &object)) &&
              SUCCEEDED(object->CreateStream(COleServerObject::ContentsStream,
                                             STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream)) &&
              SUCCEEDED(stream->Write(bytes.data(), ULONG(bytes.size()), nullptr));
    if (stream)
        stream->Release();
    if (object) {
        object->Commit(STGC_DEFAULT);
        object->Release();
    }
    if (root) {
        root->Commit(STGC_DEFAULT);
        root->Release();
    }
    return ok;
}

std::vector<uint8_t> Encode(uint16_t schema, const std::string &path)
{
    CArchive archive;
    archive << schema << uint8_t(0) << std::string() << path;
    return archive.Bytes();
}

std::string ServerFile(IQORDriver *driver)
{
    BSTR name = nullptr;
    if (FAILED(driver->get_FullConfigFileName(&name)))
        return "<failed>";
    char text[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, name, -1, text, sizeof text, NULL, NULL);
    SysFreeString(name);
    return text;
}

std::string Joined(const std::vector<std::string> &calls)
{
    std::string text;
    for (const std::string &call : calls)
        text += call + "; ";
    return text;
}

class TolvaneServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(NULL);
        s_session = new kivserver::ServerSession;
        if (!s_session->Prepare() || !s_session->Configure({{"Block1", 2, "DB10,0", 4, 0.0f}}))
            s_failure = s_session->failure;
        s_session->Release();
        if (s_failure.empty() && RunTool("/RegServer") != 0)
            s_failure = "Tolvane.exe /RegServer failed";
    }
    static void TearDownTestSuite()
    {
        delete s_session;
        s_session = nullptr;
        OleUninitialize();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_failure.empty()) << s_failure;
        ASSERT_TRUE(container.PumpUntil([] { return ServerProcesses().empty() && ToolProcesses().empty(); }, 20000))
            << "a server or a tool from before still runs";
        // The remembered local server, without the connection dialog.
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, kProfileKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
        RegSetValueExA(key, "ShowOnStartup", 0, REG_SZ, reinterpret_cast<const BYTE *>("FALSE"), 6);
        RegSetValueExA(key, "RemoteLocal", 0, REG_SZ, reinterpret_cast<const BYTE *>("0"), 2);
        RegCloseKey(key);
        ASSERT_TRUE(container.Create(GetModuleHandleA(NULL), "Test Container"));
    }
    void TearDown() override
    {
        container.Discard();
        // Each case leaves no tool and no server for the next. A failed one
        // may leave a tool that Wine never lets go, or, its tool gone, a
        // server that still holds the dead tool's references; a tool COM
        // started for an activation that gave up waits for its object. What
        // is left goes, with COM's activation service that remembers it.
        if (!container.PumpUntil([] { return ToolProcesses().empty() && ServerProcesses().empty(); },
                                 HasFailure() ? 5000 : 20000)) {
            if (!HasFailure())
                ADD_FAILURE() << ToolProcesses().size() << " tool(s) and " << ServerProcesses().size()
                              << " server(s) still run after the case";
            kivserver::KillProcesses("Tolvane.exe");
            kivserver::KillServers();
            kivserver::KillProcesses("rpcss.exe");
        }
    }
    bool ToolEnds() { return container.PumpUntil([] { return ToolProcesses().empty(); }, 20000); }
    bool ServerEnds() { return container.PumpUntil([] { return ServerProcesses().empty(); }, 20000); }
    std::string ConfigPath() const { return s_session->folder + s_session->configFile; }

    CTestContainer container;
    static kivserver::ServerSession *s_session;
    static std::string s_failure;
};
kivserver::ServerSession *TolvaneServerTest::s_session = nullptr;
std::string TolvaneServerTest::s_failure;

TEST_F(TolvaneServerTest, RegistrationNamesTheLocalServerItsVerbsAndTheTemplatesTexts)
{
    const std::string key = "CLSID\\{1D7D3052-F448-11CF-88D0-00A024A34B1B}";
    CLSID clsid;
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"UserInterface.Document", &clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CEmbeddedDocument::Clsid));
    EXPECT_EQ("UserIn Document", ClassValue(key));
    EXPECT_EQ(0, lstrcmpiA((kivserver::Folder() + "Tolvane.exe").c_str(), ClassValue(key + "\\LocalServer32").c_str()))
        << ClassValue(key + "\\LocalServer32");
    EXPECT_EQ("ole32.dll", ClassValue(key + "\\InprocHandler32"));
    EXPECT_EQ("&Edit,0,2", ClassValue(key + "\\Verb\\0"));
    EXPECT_EQ("&Open,0,2", ClassValue(key + "\\Verb\\1"));
    LPOLESTR shortName = nullptr;
    ASSERT_HRESULT_SUCCEEDED(OleRegGetUserType(clsid, USERCLASSTYPE_SHORT, &shortName));
    EXPECT_STREQ(L"UserIn", shortName);
    CoTaskMemFree(shortName);

    // Taken out and written again.
    EXPECT_EQ(0u, RunTool("/UnregServer"));
    EXPECT_EQ("<none>", ClassValue(key));
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"UserInterface.Document", &clsid)));
    EXPECT_EQ(0u, RunTool("/RegServer"));
    EXPECT_EQ("UserIn Document", ClassValue(key));
    EXPECT_TRUE(ToolProcesses().empty());
    EXPECT_TRUE(ServerProcesses().empty()) << "registration connects to no server";
}

// The menus of the two server states, as the program's resources hold them.
TEST_F(TolvaneServerTest, EmbeddedAndInPlaceMenusHoldTheirPopups)
{
    HMODULE tool = LoadLibraryExA((kivserver::Folder() + "Tolvane.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(tool != NULL);
    auto texts = [](HMENU menu) {
        std::vector<std::string> items;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            char text[64] = "";
            GetMenuStringA(menu, UINT(i), text, sizeof text, MF_BYPOSITION);
            if (text[0])
                items.push_back(text);
        }
        return items;
    };
    HMENU embedded = LoadMenuA(tool, MAKEINTRESOURCEA(IDR_SRVR_EMBEDDED));
    ASSERT_TRUE(embedded != NULL);
    EXPECT_EQ((std::vector<std::string>{"&File", "&Edit", "&View", "&Help"}), texts(embedded));
    EXPECT_EQ((std::vector<std::string>{"&Update", "Save Copy &As...", "E&xit"}), texts(GetSubMenu(embedded, 0)));
    EXPECT_EQ(UINT(ID_FILE_UPDATE), GetMenuItemID(GetSubMenu(embedded, 0), 0));
    HMENU inPlace = LoadMenuA(tool, MAKEINTRESOURCEA(IDR_SRVR_INPLACE));
    ASSERT_TRUE(inPlace != NULL);
    EXPECT_EQ((std::vector<std::string>{"&Display Mode", "&Options", "&Help"}), texts(inPlace));
    DestroyMenu(embedded);
    DestroyMenu(inPlace);
    char text[128] = "";
    LoadStringA(tool, IDR_MAINFRAME, text, sizeof text);
    EXPECT_STREQ("Tolvane\n\nUserIn\n\n\nUserInterface.Document\nUserIn Document", text);
    FreeLibrary(tool);
}

TEST_F(TolvaneServerTest, ObjectOpensInItsOwnWindowUpdatesTheContainerAndCloses)
{
    ASSERT_HRESULT_SUCCEEDED(container.Insert(CEmbeddedDocument::Clsid)) << Joined(container.Calls());
    EXPECT_EQ(1u, ToolProcesses().size());
    EXPECT_EQ(1u, ServerProcesses().size()) << "the object connects to the local server";
    SIZEL extent{};
    ASSERT_HRESULT_SUCCEEDED(container.Object()->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(3000, extent.cx);
    EXPECT_EQ(3000, extent.cy);
    // The picture the container draws: a metafile of the same extent.
    IDataObject *data = nullptr;
    ASSERT_HRESULT_SUCCEEDED(container.Object()->QueryInterface(IID_IDataObject, reinterpret_cast<void **>(&data)));
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    STGMEDIUM medium{};
    ASSERT_HRESULT_SUCCEEDED(data->GetData(&format, &medium));
    METAFILEPICT *picture = static_cast<METAFILEPICT *>(GlobalLock(medium.hMetaFilePict));
    ASSERT_TRUE(picture != nullptr);
    EXPECT_EQ(MM_ANISOTROPIC, picture->mm);
    EXPECT_EQ(3000, picture->xExt);
    EXPECT_EQ(3000, picture->yExt);
    EXPECT_GT(GetMetaFileBitsEx(picture->hMF, 0, nullptr), 100u) << "the picture draws something";
    GlobalUnlock(medium.hMetaFilePict);
    ReleaseStgMedium(&medium);
    data->Release();

    // Open: the tool's own window with the embedded menu, titled by the
    // file and the container's document.
    container.allowInPlace = true;
    ASSERT_HRESULT_SUCCEEDED(container.DoVerb(OLEIVERB_OPEN));
    HWND frame = NULL;
    ASSERT_TRUE(container.PumpUntil([&] { return (frame = ToolWindow("TolvaneMainFrame")) != NULL; }, 20000));
    EXPECT_TRUE(container.Called("OnShowWindow 1")) << Joined(container.Calls());
    EXPECT_FALSE(container.Called("OnInPlaceActivate"));
    EXPECT_EQ(0, lstrcmpiA((ConfigPath() + " in Plant Report").c_str(), WindowText(frame).c_str()))
        << WindowText(frame);

    // Update: the container saves the object; its storage names the server
    // and the configuration file.
    container.ClearCalls();
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(ID_FILE_UPDATE, 0), 0);
    EXPECT_TRUE(container.PumpUntil([&] { return container.Called("OnSave"); }, 10000)) << Joined(container.Calls());
    EXPECT_TRUE(container.Called("SaveObject"));
    StoredState stored = Decode(ReadContents(container.ObjectStorage()));
    EXPECT_EQ(CEmbeddedDocument::Schema, stored.schema);
    EXPECT_EQ(0, stored.remote);
    EXPECT_EQ("", stored.machine);
    EXPECT_EQ(0, lstrcmpiA(ConfigPath().c_str(), stored.path.c_str())) << stored.path;

    // Exit: the window goes, the container hears it, and the tool and the
    // server end once the container lets go.
    container.ClearCalls();
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(ID_APP_EXIT, 0), 0);
    EXPECT_TRUE(container.PumpUntil([&] { return container.Called("OnClose"); }, 10000)) << Joined(container.Calls());
    EXPECT_TRUE(container.Called("OnShowWindow 0"));
    EXPECT_FALSE(container.Called("SaveObject")) << "nothing changed since the update";
    container.Discard();
    EXPECT_TRUE(ToolEnds()) << "Tolvane is still running";
    EXPECT_TRUE(ServerEnds()) << "the server is still running";
}

TEST_F(TolvaneServerTest, SavedObjectLoadsItsFileAndShowsInPlace)
{
    std::string document = s_session->folder + "plant_report.stg";
    std::string copy = s_session->folder + "embedded_copy.qor";
    ASSERT_TRUE(CopyFileA(ConfigPath().c_str(), copy.c_str(), FALSE));
    ASSERT_HRESULT_SUCCEEDED(container.Insert(CEmbeddedDocument::Clsid)) << Joined(container.Calls());
    ASSERT_HRESULT_SUCCEEDED(container.SaveAs(document));
    ASSERT_HRESULT_SUCCEEDED(container.Close(OLECLOSE_SAVEIFDIRTY));
    container.Discard();
    ASSERT_TRUE(ToolEnds());
    ASSERT_TRUE(ServerEnds());
    // The stored document names the copy: loading it opens that file.
    ASSERT_TRUE(WriteContents(document, Encode(CEmbeddedDocument::Schema, copy)));

    container.ClearCalls();
    ASSERT_HRESULT_SUCCEEDED(container.Load(document));
    ASSERT_HRESULT_SUCCEEDED(container.DoVerb(OLEIVERB_SHOW)) << Joined(container.Calls());
    ASSERT_TRUE(container.PumpUntil([&] { return container.ActiveObjectWindow() != NULL; }, 20000))
        << Joined(container.Calls());
    for (const char *call : {"CanInPlaceActivate", "OnInPlaceActivate", "OnUIActivate", "SetActiveObject UserIn"})
        EXPECT_TRUE(container.Called(call)) << call << ": " << Joined(container.Calls());
    // Wine keeps a menu inside the process that made it: the container
    // cannot put its popups into the shared menu nor show it, but the
    // object still hands it over with its descriptor.
    std::string calls = Joined(container.Calls());
    EXPECT_NE(std::string::npos, calls.find("InsertMenus ")) << calls;
    EXPECT_NE(std::string::npos, calls.find("SetMenu descriptor ")) << calls;
    HWND inPlace = container.ActiveObjectWindow();
    char className[64] = "";
    GetClassNameA(inPlace, className, sizeof className);
    EXPECT_STREQ("ClassLibInPlaceFrame", className);
    EXPECT_EQ(container.Window(), GetParent(inPlace));
    EXPECT_TRUE(IsWindowVisible(inPlace));
    RECT window, expected = container.ObjectRect();
    GetWindowRect(inPlace, &window);
    MapWindowPoints(NULL, container.Window(), reinterpret_cast<POINT *>(&window), 2);
    EXPECT_EQ(expected.left - 4, window.left);
    EXPECT_EQ(expected.right + 4, window.right);

    IQORDriver *driver = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                              reinterpret_cast<void **>(&driver)));
    EXPECT_EQ(0, lstrcmpiA(copy.c_str(), ServerFile(driver).c_str())) << ServerFile(driver);
    driver->Release();

    // The driver form inside the container's window; the menu's Stats Mode
    // switches to the System Statistics form.
    EXPECT_TRUE(container.PumpUntil([&] { return VisibleForm(inPlace, 2804) != NULL; }, 10000));
    PostMessageA(inPlace, WM_COMMAND, MAKEWPARAM(32778, 0), 0);
    EXPECT_TRUE(container.PumpUntil([&] { return VisibleForm(inPlace, 2805) != NULL; }, 10000));

    // Escape ends the activation: the menus go back, the window goes.
    container.ClearCalls();
    PostMessageA(inPlace, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(container.PumpUntil([&] { return container.Called("OnInPlaceDeactivate"); }, 10000))
        << Joined(container.Calls());
    calls = Joined(container.Calls());
    EXPECT_LT(calls.find("SetMenu none"), calls.find("OnUIDeactivate")) << calls;
    EXPECT_NE(std::string::npos, calls.find("RemoveMenus")) << calls;
    EXPECT_FALSE(IsWindow(inPlace));

    ASSERT_HRESULT_SUCCEEDED(container.Close(OLECLOSE_SAVEIFDIRTY));
    container.Discard();
    EXPECT_TRUE(ToolEnds()) << "Tolvane is still running";
    EXPECT_TRUE(ServerEnds());
}

TEST_F(TolvaneServerTest, DamagedStorageRefusesTheObjectAndTheToolEnds)
{
    std::string document = s_session->folder + "damaged_report.stg";
    ASSERT_HRESULT_SUCCEEDED(container.Insert(CEmbeddedDocument::Clsid));
    ASSERT_HRESULT_SUCCEEDED(container.SaveAs(document));
    ASSERT_HRESULT_SUCCEEDED(container.Close(OLECLOSE_NOSAVE));
    container.Discard();
    ASSERT_TRUE(ToolEnds());
    ASSERT_TRUE(ServerEnds());

    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"unknown schema", Encode(7, ConfigPath())},
        {"cut short", std::vector<uint8_t>{1, 0, 0}},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteContents(document, c.bytes)) << c.what;
        ASSERT_HRESULT_SUCCEEDED(container.Load(document)) << c.what;
        EXPECT_TRUE(FAILED(container.DoVerb(OLEIVERB_SHOW))) << c.what;
        container.Discard();
        EXPECT_TRUE(ToolEnds()) << c.what << ": Tolvane is still running";
        EXPECT_TRUE(ServerProcesses().empty()) << c.what << ": no server for a refused object";
    }
}

} // namespace
