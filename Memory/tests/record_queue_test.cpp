// The three record queues: order, restart at slot 1 after a drain, growth
// past the first commit step, exhaustion of the reservation, takes at an index.
#include <gtest/gtest.h>
#include <string.h>
#include <memory>
#include <vector>
#include "CommonMemory.h"
#include "store_fixture.h"

namespace {

// One queue of the store, reached through its four methods.
struct QueueKind {
    const char *name;
    const char *area;
    DWORD recordSize;
    bool restarts; // a drained queue starts again at slot 1
    unsigned long (CCommonMemory::*add)(const void *);
    unsigned long (CCommonMemory::*head)(void *);
    unsigned long (CCommonMemory::*at)(void *, unsigned long);
    unsigned long (CCommonMemory::*count)(unsigned long *);
};

const QueueKind Kinds[] = {
    {"Output", "_OutputArea", sizeof(OutputRecord), true, &CCommonMemory::AddOutput, &CCommonMemory::GetOutputHead,
     &CCommonMemory::GetOutputAt, &CCommonMemory::GetOutputCount},
    {"Exception", "_ExceptionArea", sizeof(ExceptionRecord), true, &CCommonMemory::AddException,
     &CCommonMemory::GetExceptionHead, &CCommonMemory::GetExceptionAt, &CCommonMemory::GetExceptionCount},
    {"Event", "_EventArea", sizeof(EventRecord), false, &CCommonMemory::AddEvent, &CCommonMemory::GetEventHead,
     &CCommonMemory::GetEventAt, &CCommonMemory::GetEventCount},
};

void PrintTo(const QueueKind &kind, std::ostream *os) { *os << kind.name; }

class RecordQueue : public ::testing::TestWithParam<QueueKind> {
protected:
    const QueueKind &kind = GetParam();
    std::string name;
    std::unique_ptr<CCommonMemory> store;

    void SetUp() override { Use(FreshStoreName(kind.name)); }
    // Works on a store of that name from now on (opened with every group).
    void Use(const std::string &storeName)
    {
        store.reset();
        name = storeName;
        store.reset(new CCommonMemory(STORE_STANDARD_GROUPS | STORE_EVENT_GROUP, name.c_str()));
    }

    // A record of the queue's size whose second word carries number.
    std::vector<BYTE> Record(uint32_t number)
    {
        std::vector<BYTE> record(kind.recordSize, 0);
        if (kind.recordSize == sizeof(ExceptionRecord)) {
            ExceptionRecord *e = reinterpret_cast<ExceptionRecord *>(record.data());
            e->tag = static_cast<uint8_t>(number);
            e->id = static_cast<uint16_t>(number);
        } else {
            memcpy(record.data() + 4, &number, 4);
        }
        return record;
    }
    uint32_t Number(const std::vector<BYTE> &record)
    {
        if (kind.recordSize == sizeof(ExceptionRecord))
            return reinterpret_cast<const ExceptionRecord *>(record.data())->id;
        uint32_t number;
        memcpy(&number, record.data() + 4, 4);
        return number;
    }
    unsigned long Add(uint32_t number) { return (store.get()->*kind.add)(Record(number).data()); }
    // Takes the head: its number, or ~0u when the take fails.
    uint32_t Take(unsigned long expect = 0)
    {
        std::vector<BYTE> record(kind.recordSize + 4, 0xEE);
        unsigned long result = (store.get()->*kind.head)(record.data());
        EXPECT_EQ(expect, result);
        EXPECT_EQ(0xEE, record[kind.recordSize]) << "nothing written past the record";
        if (result != 0)
            return ~0u;
        EXPECT_EQ(1u, *reinterpret_cast<uint32_t *>(record.data())) << "the flag word of a queued record";
        return Number(record);
    }
    unsigned long Count()
    {
        unsigned long count = 0xFFFF;
        EXPECT_EQ(0u, (store.get()->*kind.count)(&count));
        return count;
    }
    QueueHeader Header()
    {
        RawArea area(name + kind.area, Unit);
        EXPECT_TRUE(area.IsOpen());
        return area.IsOpen() ? *area.At<QueueHeader>(0) : QueueHeader();
    }
};

TEST_P(RecordQueue, AnEmptyQueueCountsNothingAndAnswers259)
{
    EXPECT_EQ(0u, Count());
    Take(STORE_EMPTY);
    std::vector<BYTE> record(kind.recordSize);
    EXPECT_EQ(STORE_EMPTY, (store.get()->*kind.at)(record.data(), 0));
    unsigned long input;
    store->GetDataBlockSize(&input, NULL);
    EXPECT_EQ(0u, input) << "looking at an empty queue commits nothing";
}

TEST_P(RecordQueue, RecordsComeBackInOrderAndADrainedQueueRestarts)
{
    for (uint32_t n = 1; n <= 3; ++n)
        ASSERT_EQ(0u, Add(n));
    EXPECT_EQ(3u, Count());
    for (uint32_t n = 1; n <= 3; ++n)
        EXPECT_EQ(n, Take());
    EXPECT_EQ(0u, Count());
    QueueHeader header = Header();
    uint32_t restart = kind.restarts ? 1 : 3;
    EXPECT_EQ(restart, header.head);
    EXPECT_EQ(restart, header.tail);
    EXPECT_EQ(3u, header.highWater);

    ASSERT_EQ(0u, Add(4));
    RawArea area(name + kind.area, Unit);
    ASSERT_TRUE(area.IsOpen());
    EXPECT_EQ(1u, *area.At<uint32_t>(sizeof(QueueHeader) + restart * kind.recordSize))
        << "the next record goes into slot " << restart;
    EXPECT_EQ(4u, Take());
}

TEST_P(RecordQueue, HighWaterKeepsTheMostRecordsEverQueued)
{
    for (uint32_t n = 0; n < 5; ++n)
        ASSERT_EQ(0u, Add(n));
    Take();
    Take();
    ASSERT_EQ(0u, Add(5));
    EXPECT_EQ(5u, Header().highWater);
    for (uint32_t n = 6; n < 9; ++n)
        ASSERT_EQ(0u, Add(n));
    EXPECT_EQ(7u, Header().highWater);
}

// Past the first commit step the queue grows; it never wraps onto slot 0.
TEST_P(RecordQueue, FillingPastTheFirstStepGrowsTheQueue)
{
    const uint32_t records = Unit / kind.recordSize + 50;
    for (uint32_t n = 0; n < records; ++n)
        ASSERT_EQ(0u, Add(n)) << n;
    EXPECT_EQ(records, Count());
    for (uint32_t n = 0; n < records; ++n)
        ASSERT_EQ(n, Take()) << "record " << n;
    Take(STORE_EMPTY);
}

struct Exhaustion {
    DWORD maxUnits, growUnits;
};

// With MaxSize not a multiple of GrowIncrement the last step is cut at
// MaxSize, so every slot that fits in the reservation is used.
TEST_P(RecordQueue, AnAddPastMaxSizeFailsAndKeepsTheOlderRecordsInOrder)
{
    for (Exhaustion sizes : {Exhaustion{1, 1}, Exhaustion{3, 2}}) {
        SCOPED_TRACE(sizes.maxUnits);
        std::string fresh = FreshStoreName(kind.name);
        StoreSettings settings(fresh, sizes.maxUnits * Unit, sizes.growUnits * Unit);
        Use(fresh);
        const uint32_t capacity = (sizes.maxUnits * Unit - sizeof(QueueHeader)) / kind.recordSize;
        for (uint32_t n = 0; n < capacity; ++n)
            ASSERT_EQ(0u, Add(n)) << n;
        QueueHeader before = Header();
        EXPECT_EQ(STORE_OVERRUN, Add(capacity));
        QueueHeader after = Header();
        EXPECT_EQ(0, memcmp(&before, &after, sizeof(before))) << "the header is unchanged";
        EXPECT_EQ(capacity, Count());
        for (uint32_t n = 0; n < capacity; ++n)
            ASSERT_EQ(n, Take()) << n;
        Take(STORE_EMPTY);
        if (kind.restarts) {
            EXPECT_EQ(0u, Add(7)) << "a drained queue has room again";
        }
        store.reset(); // before its settings go
    }
}

TEST_P(RecordQueue, TakingAtAnIndexChecksTheQueuedRange)
{
    for (uint32_t n = 0; n < 5; ++n)
        ASSERT_EQ(0u, Add(n)); // slots 0..4
    std::vector<BYTE> record(kind.recordSize);
    struct {
        unsigned long index, result;
        uint32_t number;
    } steps[] = {
        {5, STORE_NOT_IN_USE, 0},  // the tail: nothing queued there
        {9999, STORE_NOT_IN_USE, 0},
        {2, 0, 2},                 // from the middle
        {2, STORE_NOT_IN_USE, 0},  // already taken
        {4, 0, 4},                 // the last: the tail steps back
        {0, 0, 0},                 // the head
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.index);
        ASSERT_EQ(step.result, (store.get()->*kind.at)(record.data(), step.index));
        if (step.result == 0) {
            EXPECT_EQ(step.number, Number(record));
        }
    }
    EXPECT_EQ(1u, Header().head);
    EXPECT_EQ(4u, Header().tail);
    EXPECT_EQ(1u, Take()) << "the head take passes over the slot taken out of order";
    EXPECT_EQ(3u, Take());
    Take(STORE_EMPTY);
    EXPECT_EQ(STORE_EMPTY, (store.get()->*kind.at)(record.data(), 1));
}

TEST_P(RecordQueue, NullPointersAnswer87)
{
    EXPECT_EQ(STORE_BAD_PARAMETER, (store.get()->*kind.add)(NULL));
    EXPECT_EQ(STORE_BAD_PARAMETER, (store.get()->*kind.head)(NULL));
    EXPECT_EQ(STORE_BAD_PARAMETER, (store.get()->*kind.at)(NULL, 0));
    EXPECT_EQ(STORE_BAD_PARAMETER, (store.get()->*kind.count)(NULL));
}

INSTANTIATE_TEST_SUITE_P(Queues, RecordQueue, ::testing::ValuesIn(Kinds),
                         [](const ::testing::TestParamInfo<QueueKind> &info) { return info.param.name; });

TEST(OutputQueue, AnAddSetsTheOutputEvent)
{
    std::string name = FreshStoreName("Event");
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    unsigned long count;
    ASSERT_EQ(0u, store.GetOutputCount(&count));
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, (name + "_OutputEvent").c_str());
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0)) << "created non-signalled";
    OutputRecord record = NumberedOutput(1);
    ASSERT_EQ(0u, store.AddOutput(&record));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0)) << "auto-reset";
    CloseHandle(event);
}

TEST(OutputQueue, AValueLongerThan256BytesIsRefused)
{
    std::string name = FreshStoreName("Long");
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    OutputRecord record = NumberedOutput(1);
    record.kind = OUTPUT_TEXT;
    record.length = 257;
    EXPECT_EQ(STORE_BAD_PARAMETER, store.AddOutput(&record));
    record.length = 256;
    EXPECT_EQ(0u, store.AddOutput(&record));
    unsigned long count;
    EXPECT_EQ(0u, store.GetOutputCount(&count));
    EXPECT_EQ(1u, count);
}

} // namespace
