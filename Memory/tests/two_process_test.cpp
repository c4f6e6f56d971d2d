// The store shared by this process and memory_peer.exe, as the server and
// the HMI library share it.
#include <gtest/gtest.h>
#include <string.h>
#include "CommonMemory.h"
#include "store_fixture.h"

namespace {

class TwoProcesses : public ::testing::Test {
protected:
    std::string name = FreshStoreName("Two");
    CCommonMemory store{STORE_STANDARD_GROUPS, name.c_str()};

    void SetUp() override
    {
        // Opened here first, so the store outlives each peer.
        ASSERT_EQ(0, store.GetDataBlockCount());
    }
    DWORD RunPeer(const std::vector<std::string> &arguments)
    {
        std::vector<std::string> line{name};
        line.insert(line.end(), arguments.begin(), arguments.end());
        PeerProcess peer(line);
        EXPECT_TRUE(peer.Started());
        return peer.Started() ? peer.Join() : ~0u;
    }
    // Takes every queued output record, checking that they continue from next.
    void DrainOutputs(uint32_t &next)
    {
        OutputRecord record;
        unsigned long result;
        while ((result = store.GetOutputHead(&record)) == 0) {
            ASSERT_EQ(next, record.address) << "records arrive once each, in order";
            ASSERT_EQ(0, memcmp(&next, record.value, 4));
            ++next;
        }
        ASSERT_EQ(STORE_EMPTY, result);
    }
};

TEST_F(TwoProcesses, BlocksMadeInOneProcessAreReadInTheOther)
{
    const unsigned Blocks = 40;
    ASSERT_EQ(0u, RunPeer({"blocks", std::to_string(Blocks)}));
    ASSERT_EQ(static_cast<long>(Blocks), store.GetDataBlockCount());
    for (unsigned seed = 0; seed < Blocks; ++seed) {
        SCOPED_TRACE(seed);
        SeededBlock expected(seed);
        unsigned short index = static_cast<unsigned short>(seed), status;
        unsigned long owner;
        ASSERT_EQ(0u, store.GetDataBlockStatus(index, &status, &owner));
        EXPECT_EQ(expected.status, status);
        EXPECT_EQ(expected.owner, owner);
        BYTE bytes[SeededBlock::Size];
        EXPECT_EQ(0u, store.GetDataBlock(index, SeededBlock::BytesInUse, bytes, 0, 0));
        EXPECT_EQ(STORE_NOT_OPENED, store.GetDataBlock(index, 8, bytes, SeededBlock::TimeOffset, 0));
        ASSERT_EQ(0u, store.GetDataBlock(index, SeededBlock::Size, bytes, 0, 1));
        EXPECT_EQ(0, memcmp(expected.bytes, bytes, sizeof(bytes)));
        FILETIME time;
        memcpy(&time, bytes + SeededBlock::TimeOffset, sizeof(time));
        EXPECT_EQ(0x10000000u + seed, time.dwLowDateTime);
    }

    // And the other way: a block made here, read there.
    SeededBlock mine(77);
    unsigned short index;
    ASSERT_EQ(0u, store.CreateDataBlock(&index, SeededBlock::Size, mine.owner));
    ASSERT_EQ(0u, store.SetDataBlock(index, SeededBlock::Size, mine.bytes, 0));
    ASSERT_EQ(0u, store.SetDataBlockStatus(index, mine.status));
    EXPECT_EQ(0u, RunPeer({"check-block", std::to_string(index), "77"}));
}

TEST_F(TwoProcesses, OutputsWakeTheReaderAndArriveInOrder)
{
    const uint32_t Records = 3000;
    HANDLE wake = OpenEventA(SYNCHRONIZE, FALSE, (name + "_OutputEvent").c_str());
    ASSERT_NE(nullptr, wake);
    PeerProcess peer({name, "outputs", "0", std::to_string(Records)});
    ASSERT_TRUE(peer.Started());
    uint32_t next = 0;
    int wakeUps = 0;
    bool peerEnded = false;
    HANDLE both[] = {wake, peer.Handle()};
    while (next < Records && !HasFatalFailure()) {
        DWORD woke = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0)
            ++wakeUps;
        else
            peerEnded = true;
        DrainOutputs(next);
        if (peerEnded)
            break; // everything it added has been drained
    }
    EXPECT_EQ(Records, next);
    EXPECT_EQ(0u, peer.Join());
    EXPECT_GT(wakeUps, 0);
    CloseHandle(wake);
}

// The reader has committed only the first step of the queue when the writer
// grows it past that step; the reader must neither wrap nor replay.
TEST_F(TwoProcesses, ABurstThatGrowsTheQueueUnderAnAttachedReaderLosesAndReplaysNothing)
{
    uint32_t next = 0;
    ASSERT_EQ(0u, RunPeer({"outputs", "0", "1"}));
    DrainOutputs(next);
    ASSERT_EQ(1u, next);

    const uint32_t Burst = 800; // more than three steps of 234 records
    ASSERT_EQ(0u, RunPeer({"outputs", "1", std::to_string(Burst)}));
    unsigned long count;
    ASSERT_EQ(0u, store.GetOutputCount(&count));
    EXPECT_EQ(Burst, count);
    DrainOutputs(next);
    EXPECT_EQ(Burst + 1, next);
}

TEST_F(TwoProcesses, APeerKilledWhileHoldingTheInputLockLeavesTheStoreUsable)
{
    unsigned short index;
    ASSERT_EQ(0u, store.CreateDataBlock(&index, 16, 1));
    {
        PeerProcess peer({name, "hold-input-lock"});
        ASSERT_TRUE(peer.WaitReady());
        peer.Kill();
    }
    // A hang here would be the fault; the worker turns it into a failure.
    unsigned long set = 1, get = 1, create = 1;
    HANDLE thread = StartThread([&] {
        BYTE bytes[16] = {9, 8, 7}, back[16];
        unsigned short created;
        set = store.SetDataBlock(index, 16, bytes, 0);
        get = store.GetDataBlock(index, 16, back, 0, 1);
        create = store.CreateDataBlock(&created, 16, 2);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 120000)) << "the abandoned lock froze the store";
    CloseHandle(thread);
    EXPECT_EQ(0u, set);
    EXPECT_EQ(0u, get);
    EXPECT_EQ(0u, create);
    EXPECT_EQ(2, store.GetDataBlockCount());
}

} // namespace
