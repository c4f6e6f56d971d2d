// The store shared by this process and memory_peer.exe, as the server and
// the HMI library share it.
#include <gtest/gtest.h>
#include <string.h>
#include <vector>
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

// Writers store whole blocks of one repeated byte while readers in the other
// process check that every block they get is uniform, both ways round.
TEST_F(TwoProcesses, BlocksAreNeverTornBetweenProcesses)
{
    const unsigned long PerThread = 300000;
    const unsigned Threads = 2;
    unsigned short index;
    ASSERT_EQ(0u, store.CreateDataBlock(&index, SeededBlock::Size, 1));
    std::string at = std::to_string(index), count = std::to_string(PerThread), threads = std::to_string(Threads);
    for (bool peerWrites : {false, true}) {
        SCOPED_TRACE(peerWrites ? "the peer writes" : "the peer reads");
        PeerProcess peer({name, peerWrites ? "uniform-write" : "uniform-read", at, count, threads});
        ASSERT_TRUE(peer.Started());
        std::vector<HANDLE> mine;
        std::vector<int> torn(Threads, 0);
        for (unsigned t = 0; t < Threads; ++t) {
            mine.push_back(StartThread([&, t] {
                BYTE bytes[SeededBlock::Size];
                for (unsigned long n = 0; n < PerThread; ++n) {
                    if (peerWrites) {
                        store.GetDataBlock(index, sizeof(bytes), bytes, 0, 1);
                        for (BYTE b : bytes)
                            torn[t] += b != bytes[0];
                    } else {
                        memset(bytes, static_cast<BYTE>(n * Threads + t), sizeof(bytes));
                        store.SetDataBlock(index, sizeof(bytes), bytes, 0);
                    }
                }
            }));
        }
        WaitForMultipleObjects(Threads, mine.data(), TRUE, INFINITE);
        for (HANDLE h : mine)
            CloseHandle(h);
        EXPECT_EQ(0u, peer.Join()) << "exit code 4: the peer read a torn block";
        for (int n : torn)
            EXPECT_EQ(0, n) << "bytes of a torn block read here";
    }
}

// A peer killed while it holds a group's lock: the next call of that group
// here succeeds within a second, and what the store held is still there.
class KilledHolder : public ::testing::TestWithParam<const char *> {};

TEST_P(KilledHolder, LeavesTheStoreUsableAndIntact)
{
    std::string name = FreshStoreName("Kill");
    std::string group = GetParam();
    CCommonMemory store(STORE_STANDARD_GROUPS | STORE_EVENT_GROUP, name.c_str());
    SeededBlock seeded(5);
    unsigned short index;
    ASSERT_EQ(0u, store.CreateDataBlock(&index, SeededBlock::Size, seeded.owner));
    ASSERT_EQ(0u, store.SetDataBlock(index, SeededBlock::Size, seeded.bytes, 0));
    OutputRecord output = NumberedOutput(41);
    ExceptionRecord exception = {0, 7, 0, 70};
    EventRecord event = {};
    event.data[0] = 9;
    ASSERT_EQ(0u, store.AddOutput(&output));
    ASSERT_EQ(0u, store.AddException(&exception));
    ASSERT_EQ(0u, store.AddEvent(&event));
    {
        PeerProcess peer({name, "hold", group});
        ASSERT_TRUE(peer.WaitReady());
        peer.Kill();
    }
    // A hang here would be the fault; the worker turns it into a failure.
    unsigned long result = 1;
    BYTE bytes[SeededBlock::Size] = {};
    OutputRecord outputBack = {};
    ExceptionRecord exceptionBack = {};
    EventRecord eventBack = {};
    HANDLE thread = StartThread([&] {
        if (group == "input")
            result = store.GetDataBlock(index, SeededBlock::Size, bytes, 0, 1);
        else if (group == "output")
            result = store.GetOutputHead(&outputBack);
        else if (group == "exception")
            result = store.GetExceptionHead(&exceptionBack);
        else
            result = store.GetEventHead(&eventBack);
    });
    DWORD started = GetTickCount();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000)) << "the abandoned lock froze the store";
    DWORD took = GetTickCount() - started;
    CloseHandle(thread);
    EXPECT_LT(took, 1000u) << "the dead owner's lock was taken over late";
    ASSERT_EQ(0u, result);
    // Every group answers, and every group's contents are what they were.
    if (group != "input") {
        ASSERT_EQ(0u, store.GetDataBlock(index, SeededBlock::Size, bytes, 0, 1));
    }
    EXPECT_EQ(0, memcmp(seeded.bytes, bytes, sizeof(bytes)));
    if (group != "output") {
        ASSERT_EQ(0u, store.GetOutputHead(&outputBack));
    }
    EXPECT_EQ(41u, outputBack.address);
    if (group != "exception") {
        ASSERT_EQ(0u, store.GetExceptionHead(&exceptionBack));
    }
    EXPECT_EQ(70u, exceptionBack.id);
    if (group != "event") {
        ASSERT_EQ(0u, store.GetEventHead(&eventBack));
    }
    EXPECT_EQ(9u, eventBack.data[0]);
    unsigned short created;
    EXPECT_EQ(0u, store.CreateDataBlock(&created, 16, 2));
    EXPECT_EQ(2, store.GetDataBlockCount());
}

INSTANTIATE_TEST_SUITE_P(EachGroup, KilledHolder, ::testing::Values("input", "output", "exception", "event"),
                         [](const ::testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

} // namespace
