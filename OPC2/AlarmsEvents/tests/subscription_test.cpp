// One subscription in this process on a stand-in for the I/O server's
// IConnectSink, its alarm sink called directly: what reaches OnEvent, what
// the subscription leaves behind when it goes (its connection, a late call
// into the sink, a release from inside OnEvent), and a refused connection.
#include <gtest/gtest.h>
#include "OpcKit.h"
#include "Subscription.h"
#include "ae_client.h"

using namespace aeclient;

namespace {

// The I/O server's side: keeps the callback it was given.
class FakeConnectSink : public IConnectSink {
public:
    HRESULT connectResult = S_OK;
    IAlarmMessageSink *callback = nullptr;
    int connects = 0, disconnects = 0;
    LONG lastDisconnected = 0;

    ~FakeConnectSink()
    {
        if (callback)
            callback->Release();
    }
    STDMETHODIMP QueryInterface(REFIID, void **out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Connect(REFIID iid, IUnknown *sink, LONG value, LONG *connection) override
    {
        ++connects;
        *connection = 0;
        if (FAILED(connectResult))
            return connectResult;
        EXPECT_TRUE(IsEqualIID(iid, IID_IAlarmMessageSink));
        EXPECT_EQ(1, value);
        if (callback)
            callback->Release();
        sink->QueryInterface(IID_IAlarmMessageSink, reinterpret_cast<void **>(&callback));
        *connection = 7;
        return S_OK;
    }
    STDMETHODIMP Disconnect(LONG connection) override
    {
        ++disconnects;
        lastDisconnected = connection;
        return S_OK;
    }
    STDMETHODIMP put_Value(LONG, LONG) override { return S_OK; }
    STDMETHODIMP get_Value(LONG, LONG *) override { return S_OK; }

    // A forwarded record as the server's worker sends it.
    HRESULT Send(const wchar_t *text, DWORD code, const wchar_t *source)
    {
        BSTR t = text ? SysAllocString(text) : nullptr, s = SysAllocString(source);
        HRESULT hr = callback->OnMessage(t, LONG(code), s);
        SysFreeString(t);
        SysFreeString(s);
        return hr;
    }
};

DWORD Code(DWORD category, DWORD condition, DWORD state) { return category | condition << 8 | state << 16; }

class OneSubscription : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CoGetMalloc(1, &g_pIMalloc);
        subscription = new COPCDrvEventSubscription(nullptr, &fake);
        subscription->AddRef();
        ASSERT_EQ(S_OK, subscription->Start());
        subscription->SetInitialState(TRUE, 0, 0, 9);
        IConnectionPointContainer *container = nullptr;
        ASSERT_EQ(S_OK, subscription->QueryInterface(IID_IConnectionPointContainer,
                                                     reinterpret_cast<void **>(&container)));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCEventSink, &point));
        container->Release();
    }
    void TearDown() override
    {
        if (point)
            point->Release();
        if (subscription)
            subscription->Release();
        sink->Release();
        g_pIMalloc->Release();
        g_pIMalloc = nullptr;
        CoUninitialize();
    }

    FakeConnectSink fake;
    COPCDrvEventSubscription *subscription = nullptr;
    IConnectionPoint *point = nullptr;
    EventSink *sink = new EventSink;
    DWORD cookie = 0;
};

TEST_F(OneSubscription, OnlyUsableRecordsAreDeliveredAndNoSlotStaysEmpty)
{
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    EXPECT_EQ(1, fake.connects);
    EXPECT_EQ(E_INVALIDARG, fake.Send(nullptr, Code(2, 2, 1), L"Blk1"));

    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr), release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool first = true;
    sink->SetHook([&] {
        if (!first)
            return;
        first = false;
        SetEvent(entered);
        WaitForSingleObject(release, 10000);
    });
    ASSERT_EQ(S_OK, fake.Send(L"held", Code(2, 2, 1), L"Blk1"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered, 10000));
    // Queued while the first is held: one batch, without the unusable ones.
    ASSERT_EQ(S_OK, fake.Send(L"a", Code(1, 1, 1), L"Blk1"));
    ASSERT_EQ(S_OK, fake.Send(L"no such category", Code(3, 1, 1), L"Blk1"));
    ASSERT_EQ(S_OK, fake.Send(L"no such state", Code(2, 2, 3), L"Blk1"));
    ASSERT_EQ(S_OK, fake.Send(L"b", Code(4, 3, 2), L"QOR"));
    SetEvent(release);
    ASSERT_TRUE(sink->WaitFor(3, 10000));
    Sleep(100);
    EXPECT_EQ((std::vector<DWORD>{1, 2}), sink->Batches());
    std::vector<Seen> seen = sink->Events();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(L"a", seen[1].message);
    EXPECT_EQ(L"COMM Failure", seen[1].subCondition);
    EXPECT_EQ(L"b", seen[2].message);
    EXPECT_EQ(4u, seen[2].category);
    EXPECT_EQ(L"Stopped", seen[2].subCondition);
    EXPECT_EQ(9u, seen[2].clientHandle);
    CloseHandle(entered);
    CloseHandle(release);

    // After Unadvise the server is told and records go nowhere.
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(1, fake.disconnects);
    EXPECT_EQ(7, fake.lastDisconnected);
    EXPECT_EQ(S_OK, fake.Send(L"late", Code(2, 2, 1), L"Blk1"));
    Sleep(100);
    EXPECT_EQ(3u, sink->Count());
}

TEST_F(OneSubscription, AnInactiveSubscriptionDropsItsRecords)
{
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    IOPCEventSubscriptionMgt *mgt = nullptr;
    ASSERT_EQ(S_OK, subscription->QueryInterface(IID_IOPCEventSubscriptionMgt, reinterpret_cast<void **>(&mgt)));
    BOOL off = FALSE, on = TRUE;
    DWORD revisedTime = 0, revisedSize = 0;
    ASSERT_EQ(S_OK, mgt->SetState(&off, nullptr, nullptr, 9, &revisedTime, &revisedSize));
    ASSERT_EQ(S_OK, fake.Send(L"dropped", Code(2, 2, 2), L"Blk1"));
    ASSERT_EQ(S_OK, mgt->SetState(&on, nullptr, nullptr, 9, &revisedTime, &revisedSize));
    ASSERT_EQ(S_OK, fake.Send(L"kept", Code(2, 2, 1), L"Blk1"));
    ASSERT_TRUE(sink->WaitFor(1, 10000));
    Sleep(100);
    std::vector<Seen> seen = sink->Events();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"kept", seen[0].message);
    mgt->Release();
}

TEST_F(OneSubscription, ItsReleaseDisconnectsAndALateCallDoesNothing)
{
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    DWORD start = GetTickCount();
    subscription->Release();
    subscription = nullptr;
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(1, fake.disconnects);
    EXPECT_EQ(7, fake.lastDisconnected);
    // The server still holds the sink: a call that was on its way.
    EXPECT_EQ(S_OK, fake.Send(L"late", Code(2, 2, 1), L"Blk1"));
    Sleep(100);
    EXPECT_EQ(0u, sink->Count());

    // The client still holds the point: it lets the sink go and connects
    // nothing more, without reaching the subscription that has gone.
    IConnectionPointContainer *container = nullptr;
    EXPECT_EQ(E_UNEXPECTED, point->GetConnectionPointContainer(&container));
    EXPECT_EQ(nullptr, container);
    DWORD again = 5;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(sink, &again));
    EXPECT_EQ(0u, again);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 1));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(1, fake.disconnects);
}

TEST_F(OneSubscription, AReleaseFromInsideOnEventEndsTheThreadAtOnce)
{
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    point->Release();
    point = nullptr;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD took = 0;
    COPCDrvEventSubscription *held = subscription;
    subscription = nullptr;
    sink->SetHook([&] {
        DWORD start = GetTickCount();
        if (held)
            held->Release();
        held = nullptr;
        took = GetTickCount() - start;
        SetEvent(done);
    });
    ASSERT_EQ(S_OK, fake.Send(L"x", Code(2, 2, 1), L"Blk1"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, 10000));
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(1, fake.disconnects);
    CloseHandle(done);
}

// Not an IOPCEventSink: the point refuses it after the owner connected.
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

TEST_F(OneSubscription, ARefusedSinkLeavesOneConnectionForTheNextAdvise)
{
    NotASink wrong;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&wrong, &cookie));
    EXPECT_EQ(1, fake.connects);
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    EXPECT_EQ(1, fake.connects) << "the connection made for the refused sink serves";
    ASSERT_EQ(S_OK, fake.Send(L"x", Code(2, 2, 1), L"Blk1"));
    EXPECT_TRUE(sink->WaitFor(1, 10000));
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(1, fake.disconnects);
}

TEST_F(OneSubscription, ARefusedConnectionRefusesTheAdviseAndRefreshWhileStateStays)
{
    fake.connectResult = E_FAIL;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(sink, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1, fake.connects);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
    EXPECT_EQ(0, fake.disconnects);
    IOPCEventSubscriptionMgt *mgt = nullptr;
    ASSERT_EQ(S_OK, subscription->QueryInterface(IID_IOPCEventSubscriptionMgt, reinterpret_cast<void **>(&mgt)));
    EXPECT_EQ(E_FAIL, mgt->Refresh(cookie)) << "no client is connected";
    DWORD revisedTime = 0, revisedSize = 0;
    DWORD size = 4;
    EXPECT_EQ(E_INVALIDARG, mgt->SetState(nullptr, nullptr, &size, 1, nullptr, &revisedSize));
    EXPECT_EQ(S_OK, mgt->SetState(nullptr, nullptr, &size, 1, &revisedTime, &revisedSize));
    EXPECT_EQ(4u, revisedSize);
    BOOL active = FALSE;
    DWORD time = 1, maxSize = 0;
    OPCHANDLE handle = 0;
    EXPECT_EQ(S_OK, mgt->GetState(&active, &time, &maxSize, &handle));
    EXPECT_TRUE(active);
    EXPECT_EQ(4u, maxSize);
    EXPECT_EQ(1u, handle);
    EXPECT_EQ(E_INVALIDARG, mgt->GetState(nullptr, &time, &maxSize, &handle));
    mgt->Release();
}

} // namespace
