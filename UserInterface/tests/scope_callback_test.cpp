// The data monitor's callback over a fake server connection and a fake
// Tracewell window: which frames reach the window, in which direction, and
// when the callback lets the server go.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "ScopeCallback.h"
#include "ServerConnection.h"

namespace {

class FakeWindow : public IScopeWindow {
public:
    bool open = false;
    std::vector<std::string> calls;
    int Open(HWND parent) override
    {
        calls.push_back(parent ? "open owned" : "open");
        if (open)
            return 0;
        open = true;
        return 1;
    }
    LRESULT Close() override
    {
        calls.push_back("close");
        bool was = open;
        open = false;
        return was ? 1 : 0;
    }
    int IsOpen() override { return open ? 1 : 0; }
    int Send(const BYTE *bytes, WORD length, int direction) override
    {
        calls.push_back("send " + std::to_string(direction) + " " +
                        std::string(reinterpret_cast<const char *>(bytes), length));
        return 1;
    }
};

class FakeConnection : public ITracewellConnect {
public:
    LONG refs = 1;
    HRESULT connectAnswer = S_OK;
    std::vector<std::string> calls;
    IUnknown *sink = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                                     UINT *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Connect(IUnknown *callback, LONG flags, LONG *cookie) override
    {
        calls.push_back("connect " + std::to_string(flags));
        sink = callback;
        if (SUCCEEDED(connectAnswer))
            *cookie = 0;
        return connectAnswer;
    }
    HRESULT STDMETHODCALLTYPE Disconnect(LONG cookie) override
    {
        calls.push_back("disconnect " + std::to_string(cookie));
        return S_OK;
    }
};

BSTR Frame(const char *bytes, UINT length) { return SysAllocStringByteLen(bytes, length); }

class ScopeCallbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(NULL);
        // The server's type library from its program beside this one.
        char path[MAX_PATH] = "";
        GetModuleFileNameA(NULL, path, MAX_PATH);
        std::string file = path;
        file = file.substr(0, file.find_last_of('\\') + 1) + "Hadrel.exe";
        std::wstring wide(file.begin(), file.end());
        ITypeLib *library = nullptr;
        ASSERT_EQ(S_OK, LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &library));
        typeInfo = callback.Initialise(&connection, library);
        library->Release();
        ASSERT_TRUE(typeInfo);
    }
    void TearDown() override { CoUninitialize(); }
    FakeWindow window;
    FakeConnection connection;
    CScopeCallback callback{window};
    bool typeInfo = false;
};

TEST_F(ScopeCallbackTest, AnswersForItsThreeInterfacesOnly)
{
    struct Case {
        const IID *iid;
        HRESULT result;
    } cases[] = {
        {&IID_IUnknown, S_OK},           {&IID_IDispatch, S_OK},         {&IID_ITracewellSink, S_OK},
        {&IID_ITracewellConnect, E_NOINTERFACE}, {&IID_IQORDriver, E_NOINTERFACE}, {&IID_IClassFactory, E_NOINTERFACE},
    };
    for (const Case &c : cases) {
        void *object = reinterpret_cast<void *>(1);
        EXPECT_EQ(c.result, callback.QueryInterface(*c.iid, &object));
        if (c.result == S_OK) {
            EXPECT_EQ(static_cast<ITracewellSink *>(&callback), object);
            // Counted, and a count of zero deletes nothing.
            EXPECT_EQ(0u, callback.Release());
        } else {
            EXPECT_EQ(nullptr, object);
        }
    }
    EXPECT_EQ(E_INVALIDARG, callback.QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(1u, callback.AddRef());
    EXPECT_EQ(0u, callback.Release());
}

TEST_F(ScopeCallbackTest, TypeInformationHasOneEntry)
{
    UINT count = 0;
    EXPECT_EQ(S_OK, callback.GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_INVALIDARG, callback.GetTypeInfoCount(nullptr));
    ITypeInfo *info = reinterpret_cast<ITypeInfo *>(1);
    EXPECT_EQ(DISP_E_BADINDEX, callback.GetTypeInfo(1, 0, &info));
    EXPECT_EQ(nullptr, info);
    {
        ASSERT_EQ(S_OK, callback.GetTypeInfo(0, 0, &info));
        TYPEATTR *attributes = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
        EXPECT_TRUE(IsEqualIID(attributes->guid, IID_ITracewellSink));
        info->ReleaseTypeAttr(attributes);
        info->Release();
    }
    // Without its type information (never loaded, or let go) index 0 fails.
    callback.Destroy();
    EXPECT_EQ(E_FAIL, callback.GetTypeInfo(0, 0, &info));
}

TEST_F(ScopeCallbackTest, FramesReachTheOpenWindowInTheirDirections)
{
    // Disconnected: refused, nothing shown.
    BSTR sent = Frame("DB20\0\x01", 6);
    EXPECT_EQ(E_FAIL, callback.FrameSent(sent));
    EXPECT_TRUE(window.calls.empty());

    callback.Toggle();
    EXPECT_EQ((std::vector<std::string>{"connect 0"}), connection.calls);
    EXPECT_EQ(static_cast<IUnknown *>(static_cast<ITracewellSink *>(&callback)), connection.sink);
    EXPECT_EQ((std::vector<std::string>{"open"}), window.calls);

    BSTR odd = Frame("abc", 3);
    EXPECT_EQ(S_OK, callback.FrameSent(sent));
    EXPECT_EQ(S_OK, callback.FrameReceived(odd));
    EXPECT_EQ(std::string("send 1 DB20") + std::string("\0\x01", 2), window.calls[1]);
    EXPECT_EQ("send 0 abc", window.calls[2]);
    // Through dispatch, as a late-bound server would call.
    VARIANT argument;
    argument.vt = VT_BSTR;
    argument.bstrVal = odd;
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    EXPECT_EQ(S_OK, callback.Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ("send 0 abc", window.calls.back());
    EXPECT_EQ(4u, window.calls.size());

    // The menu again: the server lets go first, then the window closes.
    callback.Toggle();
    EXPECT_EQ("disconnect 0", connection.calls.back());
    EXPECT_EQ("close", window.calls.back());
    EXPECT_FALSE(callback.Connected());
    EXPECT_EQ(E_FAIL, callback.FrameReceived(odd));
    SysFreeString(sent);
    SysFreeString(odd);
}

TEST_F(ScopeCallbackTest, AFrameAfterTheWindowClosedItselfDisconnects)
{
    callback.Toggle();
    window.open = false; // its own close box
    BSTR frame = Frame("xy", 2);
    EXPECT_EQ(S_OK, callback.FrameReceived(frame));
    EXPECT_EQ("disconnect 0", connection.calls.back());
    EXPECT_FALSE(callback.Connected());
    EXPECT_EQ(E_FAIL, callback.FrameReceived(frame));
    EXPECT_EQ((std::vector<std::string>{"open"}), window.calls);
    SysFreeString(frame);
}

TEST_F(ScopeCallbackTest, ARefusedConnectionOpensNoWindowAndDestroyClosesAnOpenOne)
{
    connection.connectAnswer = E_UNEXPECTED;
    callback.Toggle();
    EXPECT_TRUE(window.calls.empty());
    EXPECT_FALSE(callback.Connected());
    EXPECT_EQ(S_FALSE, callback.Disconnect());

    connection.connectAnswer = S_OK;
    EXPECT_TRUE(callback.Connect());
    EXPECT_TRUE(callback.Connect()); // once only
    EXPECT_EQ(2u, connection.calls.size());
    callback.Toggle();
    EXPECT_EQ(2u, connection.calls.size());
    EXPECT_TRUE(window.open);
    callback.Destroy();
    EXPECT_EQ("disconnect 0", connection.calls.back());
    EXPECT_FALSE(window.open);
}

TEST(StartedAsObjectServerTest, EmbeddingAndAutomationSwitches)
{
    struct Case {
        const char *line;
        bool server;
    } cases[] = {
        {"", false},           {"/L", false},        {"-Embedding", true}, {"/embedding", true},
        {"/Automation", true}, {"-AUTOMATION", true}, {"/N embedding", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.server, StartedAsObjectServer(c.line)) << c.line;
    // Registration: "UNREGSERVER" holds "REGSERVER" but not after a switch mark.
    EXPECT_TRUE(HasSwitch("/RegServer", "REGSERVER"));
    EXPECT_TRUE(HasSwitch("-unregserver", "UNREGSERVER"));
    EXPECT_FALSE(HasSwitch("-unregserver", "REGSERVER"));
    EXPECT_FALSE(HasSwitch("RegServer", "REGSERVER"));
}

} // namespace
