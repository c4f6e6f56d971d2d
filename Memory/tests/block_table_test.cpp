// The data-block table: where entries and bytes go, reuse of freed entries,
// the range and validity checks, and what happens when the store cannot open.
#include <gtest/gtest.h>
#include <string.h>
#include <vector>
#include "CommonMemory.h"
#include "EventLogRecorder.h"
#include "store_fixture.h"

namespace {

class BlockTable : public ::testing::Test {
protected:
    std::string name = FreshStoreName("Blocks");
    CCommonMemory store{STORE_STANDARD_GROUPS, name.c_str()};

    unsigned short Create(unsigned short size, unsigned long owner = 0)
    {
        unsigned short index = 0xFFFF;
        EXPECT_EQ(0u, store.CreateDataBlock(&index, size, owner));
        return index;
    }
    // The entry as it lies in "%s_BlockList".
    DataBlockEntry Entry(unsigned short index)
    {
        RawArea table(name + "_BlockList", Unit);
        EXPECT_TRUE(table.IsOpen());
        return table.IsOpen() ? *table.At<DataBlockEntry>(index * sizeof(DataBlockEntry)) : DataBlockEntry();
    }
};

TEST_F(BlockTable, BlocksLieOneAfterAnotherFromOffsetZero)
{
    EXPECT_EQ(0, Create(260, 77));
    EXPECT_EQ(1, Create(260));
    EXPECT_EQ(2, Create(250));
    EXPECT_EQ(3, store.GetDataBlockCount());

    DataBlockEntry first = Entry(0);
    EXPECT_EQ(1u, first.inUse);
    EXPECT_EQ(0u, first.dataOffset);
    EXPECT_EQ(260, first.size);
    EXPECT_EQ(0, first.bytesInUse);
    EXPECT_EQ(77u, first.owner);
    EXPECT_EQ(260u, Entry(1).dataOffset);
    EXPECT_EQ(520u, Entry(2).dataOffset);

    unsigned long input, table;
    store.GetDataBlockSize(&input, &table);
    EXPECT_EQ(Unit, input);
    EXPECT_EQ(Unit, table);
}

struct ReuseCase {
    unsigned short size;
    unsigned short index;
    DWORD offset;
};

void PrintTo(const ReuseCase &c, std::ostream *os) { *os << "size " << c.size; }

class BlockReuse : public BlockTable, public ::testing::WithParamInterface<ReuseCase> {};

// Five blocks of 260 bytes, the fourth destroyed, then one of the given size.
TEST_P(BlockReuse, AFreedEntryIsReusedByABlockThatFits)
{
    for (int i = 0; i < 5; ++i)
        Create(260);
    ASSERT_EQ(0u, store.DestroyDataBlock(3));
    const ReuseCase &c = GetParam();
    EXPECT_EQ(c.index, Create(c.size));
    EXPECT_EQ(c.offset, Entry(c.index).dataOffset);
    EXPECT_EQ(c.size, Entry(c.index).size);
    EXPECT_EQ(5, store.GetDataBlockCount());
    if (c.index != 3) {
        EXPECT_EQ(0u, Entry(3).inUse) << "the freed entry stays free";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockReuse,
                         ::testing::Values(ReuseCase{260, 3, 780}, ReuseCase{100, 3, 780},
                                           ReuseCase{261, 5, 1300}));

TEST_F(BlockTable, AReusedEntryMovesDownBehindAPredecessorReusedSmaller)
{
    for (int i = 0; i < 3; ++i)
        Create(100);
    ASSERT_EQ(0u, store.DestroyDataBlock(1));
    ASSERT_EQ(0u, store.DestroyDataBlock(2));
    EXPECT_EQ(1, Create(50));
    EXPECT_EQ(2, Create(100));
    EXPECT_EQ(150u, Entry(2).dataOffset);
    EXPECT_EQ(3, Create(10)) << "no free entry left: append";
    EXPECT_EQ(250u, Entry(3).dataOffset);
}

// Another process's object frees an entry: this one must not count live
// entries to find the end of the table, or its next block lands on a live one.
TEST_F(BlockTable, HolesMadeByAnotherProcessDoNotHideTheEndOfTheTable)
{
    CCommonMemory other(STORE_STANDARD_GROUPS, name.c_str());
    for (int i = 0; i < 3; ++i)
        Create(10, 100 + i);
    BYTE mark[10];
    memset(mark, 0xAB, sizeof(mark));
    ASSERT_EQ(0u, store.SetDataBlock(2, sizeof(mark), mark, 0));
    ASSERT_EQ(0u, other.DestroyDataBlock(1));

    EXPECT_EQ(3, Create(10, 103));
    unsigned short status;
    unsigned long owner;
    ASSERT_EQ(0u, store.GetDataBlockStatus(2, &status, &owner));
    EXPECT_EQ(102u, owner);
    BYTE back[10];
    ASSERT_EQ(0u, store.GetDataBlock(2, sizeof(back), back, 0, 1));
    EXPECT_EQ(0, memcmp(mark, back, sizeof(back)));

    unsigned short index;
    ASSERT_EQ(0u, other.CreateDataBlock(&index, 10, 104));
    EXPECT_EQ(1, index) << "the process that freed the entry reuses it";
    EXPECT_EQ(4, store.GetDataBlockCount());
}

struct RangeCase {
    unsigned short offset, length;
    int force;
    unsigned long result;
};

void PrintTo(const RangeCase &c, std::ostream *os)
{
    *os << "offset " << c.offset << " length " << c.length << " force " << c.force;
}

class BlockRange : public BlockTable, public ::testing::WithParamInterface<RangeCase> {};

// A 260-byte block with 100 bytes in use.
TEST_P(BlockRange, ReadsAreCheckedAgainstSizeAndBytesInUse)
{
    const RangeCase &c = GetParam();
    unsigned short index = Create(260);
    ASSERT_EQ(0u, store.SetBytesInUse(index, 100));
    std::vector<BYTE> bytes(c.length + 1);
    EXPECT_EQ(c.result, store.GetDataBlock(index, c.length, bytes.data(), c.offset, c.force));
    unsigned long write = static_cast<unsigned long>(c.offset) + c.length <= 260 ? 0ul : static_cast<unsigned long>(STORE_NOT_IN_USE);
    EXPECT_EQ(write, store.SetDataBlock(index, c.length, bytes.data(), c.offset));
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockRange,
                         ::testing::Values(RangeCase{0, 100, 0, 0}, RangeCase{99, 1, 0, 0},
                                           RangeCase{0, 101, 0, STORE_NOT_OPENED}, RangeCase{0, 101, 1, 0},
                                           RangeCase{200, 60, 1, 0}, RangeCase{200, 61, 1, STORE_NOT_IN_USE},
                                           RangeCase{260, 1, 1, STORE_NOT_IN_USE},
                                           RangeCase{65535, 2, 1, STORE_NOT_IN_USE}));

TEST_F(BlockTable, EntryFieldsRoundTrip)
{
    unsigned short index = Create(16, 0x12345678);
    BYTE bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(0u, store.SetDataBlock(index, 8, bytes + 8, 8));
    ASSERT_EQ(0u, store.SetDataBlock(index, 8, bytes, 0));
    ASSERT_EQ(0u, store.SetBytesInUse(index, 16));
    ASSERT_EQ(0u, store.SetDataBlockStatus(index, 0x05C0));
    ASSERT_EQ(0u, store.SetInternalAddress(index, 0xDEADBEEF, 42));

    BYTE back[16];
    EXPECT_EQ(0u, store.GetDataBlock(index, 16, back, 0, 0));
    EXPECT_EQ(0, memcmp(bytes, back, 16));
    unsigned short status = 0;
    unsigned long owner = 0, first = 0, second = 0;
    EXPECT_EQ(0u, store.GetDataBlockStatus(index, &status, &owner));
    EXPECT_EQ(0x05C0, status);
    EXPECT_EQ(0x12345678u, owner);
    EXPECT_EQ(0u, store.GetDataBlockStatus(index, &status, NULL));
    EXPECT_EQ(0u, store.GetInternalAddress(index, &first, &second));
    EXPECT_EQ(0xDEADBEEFu, first);
    EXPECT_EQ(42u, second);

    // The HMI-access flag survives a read without reset and goes with reset 1.
    int flag = 0;
    ASSERT_EQ(0u, store.SetKIVAccess(index, 1));
    EXPECT_EQ(0u, store.GetKIVAccess(index, &flag, 2));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(0u, store.GetKIVAccess(index, &flag, 1));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(0u, store.GetKIVAccess(index, &flag, 0));
    EXPECT_EQ(0, flag);

    DataBlockEntry raw = Entry(index);
    EXPECT_EQ(0xC0, raw.status.quality());
    EXPECT_EQ(0x05, raw.status.serverFlags());
    EXPECT_EQ(16, raw.bytesInUse);

    // The quality alone: the high byte stays, the word before comes back.
    unsigned short before = 0;
    EXPECT_EQ(0u, store.SetDataBlockQuality(index, 0x18, &before));
    EXPECT_EQ(0x05C0, before);
    EXPECT_EQ(0u, store.SetDataBlockQuality(index, 0x14, NULL));
    EXPECT_EQ(0u, store.GetDataBlockStatus(index, &status, NULL));
    EXPECT_EQ(0x0514, status);
}

// A reader's one call: everything of its own block with the access flag set,
// only status and owner of another's, nothing of a free entry.
TEST_F(BlockTable, ASnapshotTakesTheOwnersBlockAndSetsTheAccessFlag)
{
    unsigned short index = Create(260, 0x4242);
    unsigned short small = Create(20, 0x4343);
    BYTE bytes[260];
    for (int k = 0; k < 260; ++k)
        bytes[k] = static_cast<BYTE>(k);
    ASSERT_EQ(0u, store.SetDataBlock(index, 260, bytes, 0));
    ASSERT_EQ(0u, store.SetBytesInUse(index, 250));
    ASSERT_EQ(0u, store.SetDataBlockStatus(index, 0x03C0));
    ASSERT_EQ(0u, store.SetInternalAddress(index, 0x10050000, 9));
    int flag = 0;

    DataBlockSnapshot snapshot = {};
    ASSERT_EQ(0u, store.GetDataBlockSnapshot(index, 0x9999, &snapshot)) << "another block's owner";
    EXPECT_EQ(0x03C0, snapshot.status);
    EXPECT_EQ(0x4242u, snapshot.owner);
    EXPECT_EQ(0u, snapshot.copied);
    EXPECT_EQ(0u, snapshot.first);
    ASSERT_EQ(0u, store.GetKIVAccess(index, &flag, 0));
    EXPECT_EQ(0, flag) << "no access flag for a block the reader does not know";

    ASSERT_EQ(0u, store.GetDataBlockSnapshot(index, 0x4242, &snapshot));
    EXPECT_EQ(0x10050000u, snapshot.first);
    EXPECT_EQ(9u, snapshot.second);
    EXPECT_EQ(260, snapshot.size);
    EXPECT_EQ(250, snapshot.bytesInUse);
    ASSERT_EQ(260, snapshot.copied);
    EXPECT_EQ(0, memcmp(bytes, snapshot.bytes, 260));
    ASSERT_EQ(0u, store.GetKIVAccess(index, &flag, 0));
    EXPECT_EQ(1, flag);

    ASSERT_EQ(0u, store.GetDataBlockSnapshot(small, 0x4343, &snapshot));
    EXPECT_EQ(20, snapshot.copied) << "a small block is copied whole";

    ASSERT_EQ(0u, store.DestroyDataBlock(small));
    snapshot.status = 0x7777;
    EXPECT_EQ(STORE_NOT_IN_USE, store.GetDataBlockSnapshot(small, 0x4343, &snapshot));
    EXPECT_EQ(0x7777, snapshot.status) << "nothing taken of a free entry";
    EXPECT_EQ(STORE_BAD_PARAMETER, store.GetDataBlockSnapshot(index, 0x4242, NULL));
}

// Every method on an entry that is free, never used, or beyond the table's
// reservation answers 9; none of them commits anything for it.
TEST_F(BlockTable, EntriesNotInUseAnswerNine)
{
    StoreSettings settings(name, Unit);
    Create(10);
    Create(10);
    ASSERT_EQ(0u, store.DestroyDataBlock(1));
    BYTE bytes[4] = {};
    unsigned short status;
    unsigned long first, second;
    int flag;
    for (unsigned short index : {1, 2, 500, 2047, 2048, 65535}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(STORE_NOT_IN_USE, store.DestroyDataBlock(index));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetDataBlock(index, 4, bytes, 0));
        EXPECT_EQ(STORE_NOT_IN_USE, store.GetDataBlock(index, 4, bytes, 0, 1));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetBytesInUse(index, 4));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetDataBlockStatus(index, 0xC0));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetDataBlockQuality(index, 0xC0, &status));
        EXPECT_EQ(STORE_NOT_IN_USE, store.GetDataBlockStatus(index, &status, NULL));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetKIVAccess(index, 1));
        EXPECT_EQ(STORE_NOT_IN_USE, store.GetKIVAccess(index, &flag, 1));
        EXPECT_EQ(STORE_NOT_IN_USE, store.SetInternalAddress(index, 1, 2));
        EXPECT_EQ(STORE_NOT_IN_USE, store.GetInternalAddress(index, &first, &second));
    }
    EXPECT_EQ(1, store.GetDataBlockCount()) << "destroying a free entry changes no count";
    unsigned long input, table;
    store.GetDataBlockSize(&input, &table);
    EXPECT_EQ(Unit, table);
}

TEST_F(BlockTable, BadArgumentsAnswer87WithoutWaitingForTheLock)
{
    unsigned short index = Create(10);
    // Another process holds the input lock for the whole check.
    PeerProcess holder({name, "hold", "input"});
    ASSERT_TRUE(holder.WaitReady());

    unsigned long word;
    EXPECT_EQ(STORE_BAD_PARAMETER, store.CreateDataBlock(NULL, 10, 0));
    unsigned short created = 7;
    EXPECT_EQ(STORE_BAD_PARAMETER, store.CreateDataBlock(&created, 0, 0)) << "a block of no bytes";
    EXPECT_EQ(0, created);
    EXPECT_EQ(STORE_BAD_PARAMETER, store.SetDataBlock(index, 4, NULL, 0));
    EXPECT_EQ(STORE_BAD_PARAMETER, store.GetDataBlock(index, 4, NULL, 0, 1));
    EXPECT_EQ(STORE_BAD_PARAMETER, store.GetDataBlockStatus(index, NULL, &word));
    EXPECT_EQ(STORE_BAD_PARAMETER, store.GetKIVAccess(index, NULL, 1));
    EXPECT_EQ(STORE_BAD_PARAMETER, store.GetInternalAddress(index, NULL, &word));
    // An entry that no process ever touched is not in use, lock or not.
    BYTE bytes[4] = {};
    EXPECT_EQ(STORE_NOT_IN_USE, store.SetDataBlock(2000, 4, bytes, 0));
    EXPECT_EQ(STORE_NOT_IN_USE, store.GetDataBlockStatus(2000, &created, NULL));
    holder.Kill();
}

TEST_F(BlockTable, ABlockBeyondTheReservationIsRefusedAndTakesNoEntry)
{
    StoreSettings settings(name, Unit);
    EXPECT_EQ(0, Create(60000));
    unsigned short index = 9;
    EXPECT_EQ(STORE_OVERRUN, store.CreateDataBlock(&index, 6000, 0));
    EXPECT_EQ(1, store.GetDataBlockCount());
    EXPECT_EQ(0u, Entry(1).size) << "the entry stays never used";
    EXPECT_EQ(1, Create(5536)) << "what still fits is taken";
}

// Threads that make their first calls at once share one opening of the store.
TEST_F(BlockTable, ConcurrentFirstCallsOpenTheStoreOnce)
{
    const int Threads = 8;
    struct Call {
        unsigned short index;
        unsigned long result;
    } calls[Threads];
    HANDLE go = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE threads[Threads];
    for (int i = 0; i < Threads; ++i) {
        calls[i] = {0, 1};
        Call *call = &calls[i];
        threads[i] = StartThread([this, call, go] {
            WaitForSingleObject(go, INFINITE);
            call->result = store.CreateDataBlock(&call->index, 10, 0);
        });
    }
    SetEvent(go);
    WaitForMultipleObjects(Threads, threads, TRUE, INFINITE);
    std::vector<bool> seen(Threads);
    for (int i = 0; i < Threads; ++i) {
        CloseHandle(threads[i]);
        ASSERT_EQ(0u, calls[i].result);
        ASSERT_LT(calls[i].index, Threads);
        EXPECT_FALSE(seen[calls[i].index]);
        seen[calls[i].index] = true;
    }
    EXPECT_EQ(Threads, store.GetDataBlockCount());
    CloseHandle(go);
}

TEST(BlockTableOpen, AStoreThatCannotOpenAnswersEightAndTriesAgainLater)
{
    std::string name = FreshStoreName("NoOpen");
    // An event holds the name of the input lock, so the mutex cannot be made.
    HANDLE squatter = CreateEventA(NULL, TRUE, FALSE, (name + "_InputLock").c_str());
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    unsigned short index;
    BYTE bytes[4] = {};
    EXPECT_EQ(STORE_NOT_OPENED, store.CreateDataBlock(&index, 10, 0));
    EXPECT_EQ(STORE_NOT_OPENED, store.SetDataBlock(0, 4, bytes, 0));
    EXPECT_EQ(STORE_NOT_OPENED, store.GetDataBlockCount());
    unsigned long count = 5;
    EXPECT_EQ(STORE_NOT_OPENED, store.GetOutputCount(&count));
    EXPECT_EQ(0u, count);
    unsigned long input = 1, table = 1;
    store.GetDataBlockSize(&input, &table);
    EXPECT_EQ(0u, input);
    EXPECT_EQ(0u, table);

    CloseHandle(squatter);
    EXPECT_EQ(0u, store.CreateDataBlock(&index, 10, 0));
    EXPECT_EQ(1, store.GetDataBlockCount());
}

TEST(BlockTableOpen, AControlBlockThatCannotBeMadeIsReportedToTheEventLog)
{
    StoreEventRecorder events;
    std::string name = FreshStoreName("NoCB");
    HANDLE squatter = CreateMutexA(NULL, FALSE, (name + "_InputArea_CB").c_str());
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    EXPECT_EQ(STORE_NOT_OPENED, store.GetDataBlockCount());
    ASSERT_EQ(1u, events.Count());
    CEventLogRecorder::Event event = events.Events()[0];
    EXPECT_EQ(name, event.source);
    EXPECT_EQ(STORE_EVENT_CB_CREATE, event.id);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, event.type);
    ASSERT_EQ(2u, event.strings.size());
    EXPECT_EQ(name + "_InputArea_CB", event.strings[0]);
    EXPECT_FALSE(event.strings[1].empty()) << "the system's text for the error";
    CloseHandle(squatter);
}

TEST(BlockTableOpen, AStoreWithoutTheInputGroupRefusesBlocks)
{
    std::string name = FreshStoreName("NoInput");
    CCommonMemory store(STORE_OUTPUT_GROUP, name.c_str());
    unsigned short index;
    EXPECT_EQ(STORE_NOT_OPENED, store.CreateDataBlock(&index, 10, 0));
    EXPECT_EQ(STORE_NOT_OPENED, store.GetDataBlockCount());
    unsigned long count;
    EXPECT_EQ(0u, store.GetOutputCount(&count));
}

} // namespace
