// Requests, connection resources and the resource list.
#include "ConnResource.h"
#include "S7Sim.h"
#include "s732.h"
#include "s7_fixture.h"
#include "s7_test_util.h"
#include <thread>

using namespace s7test;

namespace {

TEST(XAction, SettingsAreRefusedOnceStartedAndBuffersKeepTheirSize)
{
    CXAction r;
    EXPECT_EQ(r.GetRetries(), 3);
    EXPECT_EQ(r.GetTimeout(), 3000u);
    EXPECT_EQ(r.GetDirection(), CXAction::DirectionRead);
    EXPECT_TRUE(r.SetConnectionName("PLC1"));
    EXPECT_FALSE(r.SetVariableText(std::string(34, 'x').c_str())) << "34 bytes hold 33 characters";
    EXPECT_TRUE(r.SetVariableText(std::string(33, 'x').c_str()));
    BYTE big[513] = {};
    EXPECT_FALSE(r.SetWriteData(big, 513));
    EXPECT_TRUE(r.SetWriteData(big, 512));
    EXPECT_FALSE(r.SetReceivedData(big, 513));
    r.Complete(CXAction::StateStarted, CXAction::SubInProgress);
    EXPECT_FALSE(r.SetConnectionName("PLC2"));
    EXPECT_STREQ(r.GetConnectionName(), "PLC1");
    EXPECT_FALSE(r.SetConnectionReference(4));
    EXPECT_FALSE(r.SetRetries(1));
    EXPECT_FALSE(r.SetTimeout(10));
    EXPECT_FALSE(r.SetCompletionValue(1));
    r.Complete(CXAction::StateCompleted, CXAction::SubSuccess);
    EXPECT_EQ(r.GetState(), CXAction::StateCompleted);
    EXPECT_EQ(r.GetSubStatus(), CXAction::SubSuccess);
}

CConnectionResource *Bare(const char *name) { return new CConnectionResource(nullptr, nullptr, name); }

TEST(ResourceList, LockListIsPerThreadAndGivesUpOnAnotherThreadsHold)
{
    DebugLines lines;
    CResourceList list;
    ASSERT_TRUE(list.LockList());
    ASSERT_TRUE(list.LockList()) << "the owner may lock again";
    bool otherGot = true, otherFound = true;
    std::thread other([&] {
        otherGot = list.LockList();
        CResourceLink *link;
        otherFound = list.FindByName("PLC1", &link);
        list.UnlockList();   // not the owner: ignored
    });
    other.join();
    EXPECT_FALSE(otherGot);
    EXPECT_FALSE(otherFound) << "a lookup without the lock fails, never walks unlocked";
    EXPECT_TRUE(lines.Contains("CResourceList::LockList - timeout"));
    list.UnlockList();
    list.UnlockList();
    list.UnlockList();
    EXPECT_TRUE(lines.Contains("CResourceList::UnlockList() Lock count went negative !"));
    std::thread after([&] { EXPECT_TRUE(list.LockList()); list.UnlockList(); });
    after.join();
}

TEST(ResourceList, LookupsReturnTheLinkLockedAndPurgeSparesHeldLinks)
{
    CResourceList list;
    ASSERT_NE(list.Add(Bare("PLC1"), 1, "PLC1"), nullptr);
    CResourceLink *second = list.Add(Bare("PLC2"), 2, "PLC2");
    ASSERT_NE(second, nullptr);
    CResourceLink *found = nullptr;
    ASSERT_TRUE(list.FindByReference(2, &found));
    EXPECT_EQ(found, second);
    std::thread other([&] { EXPECT_FALSE(list.TryLockLink(second)) << "held by the finder"; });
    other.join();
    ASSERT_TRUE(list.FindByName("NONE", &found));
    EXPECT_EQ(found, nullptr);

    // second is still held by this thread when it is removed.
    ASSERT_TRUE(list.Remove(second));
    EXPECT_EQ(list.GetCount(), 1);
    list.AgePurgeList(4999);
    EXPECT_EQ(list.GetPurgeCount(), 1);
    list.AgePurgeList(100000);
    EXPECT_EQ(list.GetPurgeCount(), 1) << "a held link outlives its countdown";
    second->Unlock();
    list.AgePurgeList(1);
    EXPECT_EQ(list.GetPurgeCount(), 0);
}

TEST(ResourceList, LockCheckFreesWhatTheThreadStillHolds)
{
    DebugLines lines;
    CResourceList list;
    CResourceLink *link = list.Add(Bare("PLC1"), 1, "PLC1");
    ASSERT_TRUE(list.TryLockLink(link));
    ASSERT_TRUE(list.LockList());
    list.LockCheck();
    EXPECT_TRUE(lines.Contains("**** Lock check LOCK Found ****"));
    EXPECT_TRUE(lines.Contains("List lock count 1 number in list 1"));
    EXPECT_TRUE(lines.Contains("**** Lock check List LOCK Found ****"));
    std::thread other([&] {
        EXPECT_TRUE(list.TryLockLink(link));
        link->Unlock();
        EXPECT_TRUE(list.LockList());
        list.UnlockList();
    });
    other.join();
}

// A processor reduced to order ids and completion counts.
struct Owner : IResourceOwner {
    WORD NextOrderId() override { return ++id; }
    HRESULT SignalCompletion() override { ++completions; return S_OK; }
    WORD id = 100;
    int completions = 0;
};

class Resource : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTestCatalogue();
        ASSERT_EQ(vfd.Open(kCp, kVfd, &error), S_OK);
        ASSERT_TRUE(plc.Open(kCp, kVfd, "PLC6"));
        plc->suppressNotify = 0;
        resource = std::make_unique<CConnectionResource>(&owner, &vfd, "PLC6");
    }
    // Receives one event and hands it to the resource.
    HRESULT Deliver()
    {
        DWORD ref;
        WORD id;
        int code;
        HRESULT hr = vfd.Receive(&ref, &id, &code, &error);
        return hr == S_OK ? resource->HandleEvent(ref, id, code) : hr;
    }

    CQORVFD vfd;
    S7ErrorRecord error;
    s7sim::Controller plc;
    Owner owner;
    std::unique_ptr<CConnectionResource> resource;
};

// The request left before its answer came: the event changes the resource only.
TEST_F(Resource, EventWithNoRequestUpdatesOnlyTheResource)
{
    ASSERT_EQ(resource->OpenConnection(&error), S_OK);
    ASSERT_EQ(Deliver(), QOR_S7_CONNECTED);

    struct Row { LONG s7sim::Shared::*fault; HRESULT result; WORD detail; };
    const Row rows[] = {
        {&s7sim::Shared::abortIndication, QOR_S7_ABORTED, CConnectionResource::DetailClosed},
        {&s7sim::Shared::staleConfirmation, QOR_S7_STALE_READ, CConnectionResource::DetailFailed},
        {&s7sim::Shared::strayNotice, QOR_S7_DISCARDED, CConnectionResource::DetailFailed},
    };
    for (const Row &row : rows) {
        plc.get()->*row.fault = 1;
        CountingRequest read("PLC6", "DB10,B0,1");
        LONG started = resource->StartRequest(&read);
        if (started == RES_PENDING) {   // the abort before brought the connection down
            ASSERT_EQ(Deliver(), QOR_S7_CONNECTED);
            resource->Age(0);
        }
        ASSERT_EQ(resource->GetDetailState(), CConnectionResource::DetailSent);
        ASSERT_TRUE(resource->Cancel(0, true, false));
        int completions = owner.completions;
        EXPECT_EQ(Deliver(), row.result);
        EXPECT_EQ(read.GetSubStatus(), CXAction::SubCancelled) << "the cancelled request is not touched";
        EXPECT_EQ(resource->GetCoarseState(), CConnectionResource::CoarseIdle);
        EXPECT_EQ(resource->GetDetailState(), row.detail);
        EXPECT_EQ(owner.completions, completions);
        while (Deliver() != QOR_S7_NO_EVENT) {
        }
    }
}

TEST_F(Resource, WithoutProcessorNothingStarts)
{
    CConnectionResource orphan(nullptr, &vfd, "PLC6");
    CountingRequest read("PLC6", "DB10,B0,1");
    EXPECT_EQ(orphan.StartRequest(&read), RES_UNUSABLE);
    EXPECT_EQ(orphan.GetDetailState(), CConnectionResource::DetailNoProcessor);
    EXPECT_EQ(read.GetState(), CXAction::StateNew);
}

TEST_F(Resource, ASecondRequestFindsTheResourceBusy)
{
    CountingRequest first("PLC6", "DB10,B0,1"), second("PLC6", "DB10,B0,1");
    ASSERT_EQ(resource->OpenConnection(&error), S_OK);
    EXPECT_EQ(resource->StartRequest(&first), RES_PENDING);
    EXPECT_EQ(resource->StartRequest(&second), RES_BUSY);
    EXPECT_EQ(second.GetState(), CXAction::StateNew);
    resource->Close();
    EXPECT_EQ(first.GetState(), CXAction::StateFailed);
    EXPECT_EQ(first.GetSubStatus(), CXAction::SubCancelled);
    EXPECT_EQ(resource->GetDetailState(), CConnectionResource::DetailClosed);
    while (Deliver() != QOR_S7_NO_EVENT) {
    }
}

} // namespace
