// The one-sink connection point and its container, with a recording sink
// and an owner whose connect callback the tests script.
#include "KitFixture.h"

#include <atomic>
#include <thread>

#include "ConnectionPoint.h"

namespace {

struct CallbackLog {
    std::vector<std::pair<IUnknown *, BOOL>> calls;
    HRESULT answer = S_OK;
};
CallbackLog g_callbacks;

HRESULT RecordConnect(IUnknown *owner, BOOL connect)
{
    g_callbacks.calls.push_back({owner, connect});
    return g_callbacks.answer;
}

class PointTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        g_callbacks = CallbackLog();
        point = new CImpIConnectionPoint(&owner, IID_IOPCShutdown, &RecordConnect);
        point->AddRef();
    }
    void TearDown() override
    {
        if (point)
            point->Release();
        EXPECT_EQ(1, sink.refs) << "the point must give back every sink reference";
        EXPECT_EQ(1, owner.refs);
        KitTest::TearDown();
    }
    CountedOwner owner;
    RecordingSink sink;
    CImpIConnectionPoint *point = nullptr;
};

TEST_F(PointTest, AdviseRefusesMissingArgumentsBeforeAnythingElse)
{
    DWORD cookie = 77;
    EXPECT_EQ(E_POINTER, point->Advise(&sink, nullptr));
    EXPECT_EQ(E_POINTER, point->Advise(nullptr, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_TRUE(g_callbacks.calls.empty());
}

TEST_F(PointTest, OneSinkIsHeldAndASecondAdviseLeavesItInPlace)
{
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(point->Handle(), cookie) << "the cookie is the point's live-object handle";
    EXPECT_EQ(2, sink.refs);
    ASSERT_EQ(1u, g_callbacks.calls.size());
    EXPECT_EQ(&owner, g_callbacks.calls[0].first);
    EXPECT_EQ(TRUE, g_callbacks.calls[0].second);

    RecordingSink second;
    DWORD other = 5;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&second, &other));
    EXPECT_EQ(0u, other);
    EXPECT_EQ(1, second.refs);
    IUnknown *held = point->AcquireSink();
    EXPECT_EQ(static_cast<IUnknown *>(&sink), held);
    held->Release();

    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 1));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(1, sink.refs);
    ASSERT_EQ(2u, g_callbacks.calls.size());
    EXPECT_EQ(FALSE, g_callbacks.calls[1].second);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
}

TEST_F(PointTest, ARefusingOwnerOrASinkWithoutTheInterfaceCannotConnect)
{
    DWORD cookie = 0;
    g_callbacks.answer = E_FAIL;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&sink, &cookie));
    EXPECT_FALSE(point->IsConnected());
    g_callbacks.answer = S_OK;
    sink.answersShutdown = false;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&sink, &cookie));
    EXPECT_FALSE(point->IsConnected());
    EXPECT_EQ(0u, cookie);
}

TEST_F(PointTest, EnumConnectionsListsTheSinkWithItsCookie)
{
    IEnumConnections *e = nullptr;
    ASSERT_EQ(S_OK, point->EnumConnections(&e));
    CONNECTDATA data = {};
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, e->Next(1, &data, &fetched)) << "no sink, nothing to list";
    EXPECT_EQ(0u, fetched);
    e->Release();

    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    ASSERT_EQ(S_OK, point->EnumConnections(&e));
    CONNECTDATA two[2] = {};
    EXPECT_EQ(E_INVALIDARG, e->Next(2, two, nullptr));
    EXPECT_EQ(S_OK, e->Next(1, &data, nullptr));
    EXPECT_EQ(static_cast<IUnknown *>(&sink), data.pUnk);
    EXPECT_EQ(cookie, data.dwCookie);
    data.pUnk->Release();
    e->Release();
    point->DisconnectSink();
    EXPECT_FALSE(point->IsConnected());
}

TEST_F(PointTest, ContainerFindsItsPointsByInterface)
{
    CImpIConnectionPoint *points[1] = {point};
    CImpIConnectionPointContainer *container = new CImpIConnectionPointContainer(&owner, points, 1);
    owner.container = container;

    IConnectionPoint *found = nullptr;
    EXPECT_EQ(E_INVALIDARG, container->FindConnectionPoint(IID_IOPCShutdown, nullptr));
    EXPECT_EQ(E_NOINTERFACE, container->FindConnectionPoint(IID_IOPCDataCallback, &found));
    EXPECT_EQ(nullptr, found);
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &found));
    EXPECT_EQ(static_cast<IConnectionPoint *>(point), found);

    IConnectionPointContainer *back = nullptr;
    ASSERT_EQ(S_OK, found->GetConnectionPointContainer(&back));
    EXPECT_EQ(static_cast<IConnectionPointContainer *>(container), back);
    back->Release();
    found->Release();

    IEnumConnectionPoints *e = nullptr;
    EXPECT_EQ(E_INVALIDARG, container->EnumConnectionPoints(nullptr));
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(&e));
    EXPECT_EQ(2, owner.refs) << "the enumerator holds the container's owner";
    IConnectionPoint *listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(2, listed, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(static_cast<IConnectionPoint *>(point), listed[0]);
    listed[0]->Release();
    e->Release();
    owner.container = nullptr;
    delete container;
}

TEST_F(PointTest, ConcurrentAdvisesConnectExactlyOneSink)
{
    const int kThreads = 8;
    RecordingSink sinks[kThreads];
    std::atomic<int> connected(0), refused(0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            DWORD cookie = 0;
            HRESULT hr = point->Advise(&sinks[i], &cookie);
            (hr == S_OK ? connected : refused)++;
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(1, connected.load());
    EXPECT_EQ(kThreads - 1, refused.load());
    point->DisconnectSink();
    for (RecordingSink &s : sinks)
        EXPECT_EQ(1, s.refs);
}

TEST_F(PointTest, DestructionGivesTheSinkBack)
{
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    point->Release();
    point = nullptr;
    EXPECT_EQ(1, sink.refs);
}

TEST_F(PointTest, APointHeldPastItsOwnerNeverReachesTheOwner)
{
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    point->DetachOwner();   // the owner goes; a client still holds the point
    g_callbacks.calls.clear();

    IConnectionPointContainer *container = reinterpret_cast<IConnectionPointContainer *>(1);
    EXPECT_EQ(E_UNEXPECTED, point->GetConnectionPointContainer(&container));
    EXPECT_EQ(nullptr, container);
    RecordingSink second;
    DWORD other = 5;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&second, &other));
    EXPECT_EQ(0u, other);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 1));
    EXPECT_EQ(S_OK, point->Unadvise(cookie)) << "the client's sink is still let go";
    EXPECT_EQ(1, sink.refs);
    EXPECT_EQ(1, second.refs);
    EXPECT_TRUE(g_callbacks.calls.empty()) << "no call into the owner that has gone";
}

}  // namespace
