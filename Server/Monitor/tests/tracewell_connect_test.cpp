// The data-monitor connection in one process: the connect and disconnect
// rules, frames reaching the tool's callback in order with their direction
// and bytes, frames dropped while nobody is connected, a slow tool that must
// not hold up the senders, and destruction while the tool is still busy.
// The test's callback uses the free-threaded marshaler, so the sender thread
// calls it directly.
#include <gtest/gtest.h>
#include <ole2.h>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "DriverAppHost.h"
#include "FrameSinkBase.h"
#include "TracewellConnect.h"

namespace {

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

// The server module around the connection: answers its identity for the
// connection itself and counts references.
class FakeModule : public IDriverAppHost {
public:
    IUnknown *identity = nullptr;
    LONG refs = 0;
    HRESULT ModuleQueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ITracewellConnect))
            return E_NOINTERFACE;
        *out = identity;
        ModuleAddRef();
        return S_OK;
    }
    ULONG ModuleAddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    ULONG ModuleRelease() override { return ULONG(InterlockedDecrement(&refs)); }
    bool IsMainWindowVisible() override { return false; }
    void ShowMainWindow(bool) override {}
    bool PostMainWindowClose() override { return true; }
    HRESULT DocumentNew() override { return E_NOTIMPL; }
    HRESULT DocumentSave(const std::string &) override { return E_NOTIMPL; }
    HRESULT DocumentOpen(const std::string &, bool, bool *) override { return E_NOTIMPL; }
    bool DocumentModified() override { return false; }
    void SetDocumentModified() override {}
    bool DocumentImporting() override { return false; }
    void ClearDocumentStatus() override {}
};

// The tool's callback: records each frame; a closed gate holds the first
// call that arrives until the test opens it.
class FrameSink : public FrameSinkBase {
public:
    struct Frame {
        int direction;
        std::string bytes;
        bool operator==(const Frame &other) const { return direction == other.direction && bytes == other.bytes; }
    };

    FrameSink() : m_gate(CreateEventA(NULL, TRUE, TRUE, NULL)), m_inCall(CreateEventA(NULL, TRUE, FALSE, NULL))
    {
        UseFreeThreadedMarshaler();
    }
    ~FrameSink() override
    {
        CloseHandle(m_gate);
        CloseHandle(m_inCall);
    }
    void CloseGate() { ResetEvent(m_gate); }
    void OpenGate() { SetEvent(m_gate); }
    bool WaitInCall() { return WaitForSingleObject(m_inCall, 10000) == WAIT_OBJECT_0; }
    std::vector<Frame> Frames()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_frames;
    }
    size_t Count() { return Frames().size(); }
    HRESULT answer = S_OK;

protected:
    HRESULT OnFrame(int direction, BSTR frame) override
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_frames.push_back(Frame{direction, std::string(reinterpret_cast<const char *>(frame),
                                                           SysStringByteLen(frame))});
        }
        SetEvent(m_inCall);
        WaitForSingleObject(m_gate, 30000);
        return answer;
    }

private:
    HANDLE m_gate, m_inCall;
    std::mutex m_mutex;
    std::vector<Frame> m_frames;
};

// An object that is no callback.
class NotASink : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown))
            return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

class TracewellConnectTest : public testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(NULL, COINIT_MULTITHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override
    {
        char path[MAX_PATH];
        GetModuleFileNameA(NULL, path, sizeof path);
        std::wstring wide(path, path + strlen(path));
        ASSERT_EQ(S_OK, LoadTypeLib(wide.c_str(), &typeLib));
        Make(CTracewellConnect::StopWaitMs);
    }
    void TearDown() override
    {
        sink.OpenGate();
        monitor.reset();
        if (typeLib)
            typeLib->Release();
    }
    void Make(DWORD stopWaitMs)
    {
        monitor.reset(new CTracewellConnect(&module, stopWaitMs));
        module.identity = static_cast<ITracewellConnect *>(monitor.get());
        ASSERT_TRUE(monitor->Initialize(typeLib));
    }
    void Connect()
    {
        LONG cookie = -1;
        ASSERT_EQ(S_OK, monitor->Connect(&sink, 0, &cookie));
        EXPECT_EQ(0, cookie);
    }
    void Send(const std::string &bytes, int direction)
    {
        monitor->Send(reinterpret_cast<const BYTE *>(bytes.data()), WORD(bytes.size()), direction);
    }

    FakeModule module;
    FrameSink sink;
    ITypeLib *typeLib = nullptr;
    std::unique_ptr<CTracewellConnect> monitor;
};

TEST_F(TracewellConnectTest, OneConnectionAtATimeWithCookieZero)
{
    NotASink other;
    LONG cookie = -1;
    EXPECT_EQ(E_INVALIDARG, monitor->Connect(nullptr, 0, &cookie));
    EXPECT_EQ(E_FAIL, monitor->Connect(&other, 0, &cookie)) << "no ITracewellSink";
    EXPECT_FALSE(monitor->IsConnected());
    EXPECT_EQ(E_UNEXPECTED, monitor->Disconnect(0)) << "nobody connected";

    Connect();
    EXPECT_TRUE(monitor->IsConnected());
    // At once, before the sender thread can have started.
    EXPECT_EQ(E_UNEXPECTED, monitor->Connect(&sink, 0, &cookie));
    EXPECT_EQ(E_UNEXPECTED, monitor->Disconnect(1));
    EXPECT_TRUE(monitor->IsConnected());
    EXPECT_EQ(S_OK, monitor->Disconnect(0));
    EXPECT_FALSE(monitor->IsConnected());
    EXPECT_EQ(E_UNEXPECTED, monitor->Disconnect(0));

    // A new connection right after the last one ended.
    Connect();
    EXPECT_EQ(S_OK, monitor->Disconnect(0));
    EXPECT_TRUE(WaitUntil([&] { return sink.Refs() == 1; })) << "the sender threads gave the callback back";
}

TEST_F(TracewellConnectTest, FramesReachTheToolInOrderWithTheirDirectionAndBytes)
{
    Send("before", 1);   // nobody connected: dropped, not queued
    Connect();
    const std::vector<FrameSink::Frame> frames = {
        {1, std::string("\x32\x01\x00\x00", 4)},
        {0, std::string("\x32\x03\x00\x00\xff", 5)},
        {1, "odd"},
        {0, std::string(240, '\x5a')},
    };
    for (const auto &frame : frames) {
        Send(frame.bytes, frame.direction);
        Send("", frame.direction);   // empty frames are not sent
    }
    ASSERT_TRUE(WaitUntil([&] { return sink.Count() >= frames.size(); }));
    Sleep(50);
    EXPECT_EQ(frames, sink.Frames());

    EXPECT_EQ(S_OK, monitor->Disconnect(0));
    ASSERT_TRUE(WaitUntil([&] { return sink.Refs() == 1; }));
    Send("after", 0);
    Sleep(50);
    EXPECT_EQ(frames.size(), sink.Count()) << "dropped after the disconnect";
}

TEST_F(TracewellConnectTest, ASlowToolHoldsUpNoSenderAndADisconnectFreesWhatIsQueuedUncalled)
{
    Connect();
    sink.CloseGate();
    Send("first", 1);
    ASSERT_TRUE(sink.WaitInCall());
    // The tool is busy with the first frame: the scan threads' sends must
    // not wait for it.
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread senders([&] {
        for (int i = 0; i < 200; ++i)
            Send("frame " + std::to_string(i), i % 2);
        SetEvent(done);
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, 5000)) << "Send waited for the tool";
    senders.join();
    CloseHandle(done);

    EXPECT_EQ(S_OK, monitor->Disconnect(0));
    sink.OpenGate();
    ASSERT_TRUE(WaitUntil([&] { return sink.Refs() == 1; }));
    ASSERT_EQ(1u, sink.Count()) << "queued frames went to the tool after the disconnect";
    EXPECT_EQ("first", sink.Frames()[0].bytes);
}

TEST_F(TracewellConnectTest, DestructionWaitsForTheSenderThreadThenLeavesAStuckOneItsOwnState)
{
    // A tool that answers within the limit: destruction waits for it.
    Connect();
    sink.CloseGate();
    Send("one", 1);
    ASSERT_TRUE(sink.WaitInCall());
    std::thread opener([&] {
        Sleep(300);
        sink.OpenGate();
    });
    DWORD started = GetTickCount();
    monitor.reset();
    EXPECT_GE(GetTickCount() - started, 250u) << "did not wait for the sender thread";
    opener.join();
    EXPECT_TRUE(WaitUntil([&] { return sink.Refs() == 1; }));

    // A tool stuck past the limit: destruction returns; the thread finishes
    // later on state of its own.
    Make(200);
    FrameSink stuck;
    LONG cookie = -1;
    ASSERT_EQ(S_OK, monitor->Connect(&stuck, 0, &cookie));
    stuck.CloseGate();
    Send("a", 1);
    ASSERT_TRUE(stuck.WaitInCall());
    Send("b", 0);
    started = GetTickCount();
    monitor.reset();
    EXPECT_LT(GetTickCount() - started, 5000u);
    stuck.OpenGate();
    EXPECT_TRUE(WaitUntil([&] { return stuck.Refs() == 1; }));
    EXPECT_EQ(1u, stuck.Count()) << "the frame queued behind the stuck one was freed, not sent";
    Make(CTracewellConnect::StopWaitMs);
}

// A tool slow to answer QueryInterface: Connect waits for it.
class SlowToAnswerSink : public FrameSink {
public:
    HANDLE answer = CreateEventA(NULL, TRUE, FALSE, NULL), asked = CreateEventA(NULL, TRUE, FALSE, NULL);
    ~SlowToAnswerSink() override
    {
        CloseHandle(answer);
        CloseHandle(asked);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_ITracewellSink)) {
            SetEvent(asked);
            WaitForSingleObject(answer, 10000);
        }
        return FrameSink::QueryInterface(iid, out);
    }
};

TEST_F(TracewellConnectTest, WhileConnectWaitsForTheToolSendGoesOnAndASecondConnectIsRefused)
{
    SlowToAnswerSink slow;
    HRESULT first = E_PENDING;
    std::thread connecting([&] {
        LONG cookie = -1;
        first = monitor->Connect(&slow, 0, &cookie);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(slow.asked, 10000));
    DWORD started = GetTickCount();
    for (int i = 0; i < 50; ++i)
        Send("early", 1);   // nobody connected yet: dropped at once
    EXPECT_LT(GetTickCount() - started, 2000u) << "Send waited for Connect";
    LONG cookie = -1;
    EXPECT_EQ(E_UNEXPECTED, monitor->Connect(&sink, 0, &cookie));
    SetEvent(slow.answer);
    connecting.join();
    EXPECT_EQ(S_OK, first);
    Send("late", 0);
    EXPECT_TRUE(WaitUntil([&] { return slow.Count() == 1; }));
    EXPECT_EQ(S_OK, monitor->Disconnect(0));
    EXPECT_TRUE(WaitUntil([&] { return slow.Refs() == 1; }));
}

TEST_F(TracewellConnectTest, AToolThatIsGoneEndsTheConnection)
{
    sink.answer = RPC_E_DISCONNECTED;
    Connect();
    Send("x", 1);
    ASSERT_TRUE(WaitUntil([&] { return !monitor->IsConnected(); }));
    sink.answer = S_OK;
    Connect();
    Send("y", 0);
    EXPECT_TRUE(WaitUntil([&] { return sink.Count() == 2; }));
}

TEST_F(TracewellConnectTest, IdentityIsTheModulesAndDispatchUsesTheTypeInformation)
{
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_INVALIDARG, monitor->QueryInterface(IID_IUnknown, nullptr));
    ASSERT_EQ(S_OK, monitor->QueryInterface(IID_ITracewellConnect, &out));
    EXPECT_EQ(1, module.refs);
    monitor->AddRef();
    EXPECT_EQ(2, module.refs);
    monitor->Release();
    monitor->Release();
    EXPECT_EQ(0, module.refs);
    EXPECT_EQ(E_NOINTERFACE, monitor->QueryInterface(IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);

    UINT count = 0;
    EXPECT_EQ(S_OK, monitor->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo *info = nullptr;
    EXPECT_EQ(DISP_E_BADINDEX, monitor->GetTypeInfo(1, 0, &info));
    ASSERT_EQ(S_OK, monitor->GetTypeInfo(0, 0, &info));
    info->Release();

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Connect"), const_cast<LPOLESTR>(L"Disconnect")};
    DISPID ids[2] = {};
    ASSERT_EQ(S_OK, monitor->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[0]));
    ASSERT_EQ(S_OK, monitor->GetIDsOfNames(IID_NULL, names + 1, 1, 0, &ids[1]));

    // Connect(sink, 0, &cookie) and Disconnect(cookie) by Invoke; arguments last to first.
    LONG cookie = -1;
    VARIANT args[3];
    V_VT(&args[0]) = VT_BYREF | VT_I4;
    V_I4REF(&args[0]) = &cookie;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 0;
    V_VT(&args[2]) = VT_UNKNOWN;
    V_UNKNOWN(&args[2]) = &sink;
    DISPPARAMS params = {args, nullptr, 3, 0};
    EXCEPINFO exception = {};
    UINT argError = 0;
    EXPECT_EQ(S_OK, monitor->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &exception, &argError));
    EXPECT_EQ(0, cookie);
    EXPECT_TRUE(monitor->IsConnected());
    VARIANT one;
    V_VT(&one) = VT_I4;
    V_I4(&one) = 1;
    DISPPARAMS single = {&one, nullptr, 1, 0};
    HRESULT hr = monitor->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &single, nullptr, &exception, &argError);
    EXPECT_TRUE(FAILED(hr));
    V_I4(&one) = 0;
    EXPECT_EQ(S_OK, monitor->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &single, nullptr, &exception, &argError));
    EXPECT_FALSE(monitor->IsConnected());
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

TEST_F(TracewellConnectTest, WithoutTypeInformationInitializationFails)
{
    CTracewellConnect bare(&module);
    EXPECT_FALSE(bare.Initialize(nullptr));
}

} // namespace
