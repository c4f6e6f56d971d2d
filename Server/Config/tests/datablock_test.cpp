// The data block at run time: its schedule on an injected clock, reply
// processing into the store with the deadband, failure and recovery, and
// one poll against the simulated controller.
#include "datablock_fixture.h"
#include "S7Sim.h"
#include "XActionProcessor.h"
#include <cmath>
#include <cstring>

namespace {

using namespace blocktest;

uint32_t g_now = 1000;
uint32_t FakeTicks() { return g_now; }

std::vector<std::pair<std::string, std::string>> g_alarms;
void RecordAlarm(const char *text, const char *source) { g_alarms.emplace_back(text, source); }

// The tree on the fake clock, with the HMI alarm line recorded; the block
// is DB10,0..9, not enabled.
class BlockRun : public BlockTree {
protected:
    BlockRun() : BlockTree("QORBLK", "DB10,0") {}
    void SetUp() override
    {
        g_now = 1000;
        SetDataBlockTickSource(FakeTicks);
        SetConfigHmiAlarmLine(RecordAlarm);
        g_alarms.clear();
        BlockTree::SetUp();
    }
    void TearDown() override
    {
        BlockTree::TearDown();
        SetConfigHmiAlarmLine(nullptr);
        SetDataBlockTickSource(nullptr);
    }

    void Enable(CDataBlock &b) { ASSERT_EQ(0, Set(b, "Enabled", I2(1))); }
    void SetHmiAccess() { store->SetKIVAccess(block->StoreIndex(), 1); }

    // One scheduler run at time t; a queued read is answered with zero bytes
    // unless keep is set (it then stays outstanding).
    bool RunAt(uint32_t t, bool keep = false)
    {
        g_now = t;
        bool queued = block->PollDue();
        CProtocolMsg *msg = device->ReadQueue().RemoveHead();
        EXPECT_EQ(queued, msg != nullptr);
        if (msg && !keep)
            Answer(msg, std::vector<unsigned char>(block->BytesInUse()));
        return queued;
    }

    // Completes the block's read with these controller-order bytes.
    void Answer(CProtocolMsg *msg, const std::vector<unsigned char> &bytes)
    {
        msg->SetReceivedData(bytes.data(), DWORD(bytes.size()));
        msg->Complete(CXAction::StateCompleted, CXAction::SubSuccess);
        block->ProcessReply(msg);
    }
    // A read of host-order values of the block's type, converted to
    // controller order as the controller sends them.
    void Read(const std::vector<unsigned char> &host)
    {
        std::vector<unsigned char> wire(host.size());
        unsigned count;
        CS7Types::Instance().ConvertData(block->Address().dataType, reinterpret_cast<const char *>(host.data()),
                                         unsigned(host.size()), reinterpret_cast<char *>(wire.data()), &count);
        ASSERT_TRUE(block->Poll() == 0);
        CProtocolMsg *msg = device->ReadQueue().RemoveHead();
        ASSERT_NE(nullptr, msg);
        Answer(msg, wire);
    }
    void Fail()
    {
        ASSERT_TRUE(block->Poll() == 0);
        CProtocolMsg *msg = device->ReadQueue().RemoveHead();
        ASSERT_NE(nullptr, msg);
        msg->Complete(CXAction::StateCompleted, CXAction::SubError);
        block->ProcessFailure(msg);
    }

    std::vector<unsigned char> Image(unsigned bytes)
    {
        std::vector<unsigned char> out(bytes);
        EXPECT_EQ(0u, store->GetDataBlock(block->StoreIndex(), (unsigned short)bytes, out.data(), 0, 1));
        return out;
    }
    uint16_t StoredStatus()
    {
        unsigned short status = 0;
        unsigned long owner = 0;
        EXPECT_EQ(0u, store->GetDataBlockStatus(block->StoreIndex(), &status, &owner));
        EXPECT_EQ(block->Handle(), owner) << "the entry holds the block's handle";
        return status;
    }
    // Takes every queued exception record.
    std::vector<ExceptionRecord> Exceptions()
    {
        std::vector<ExceptionRecord> out;
        ExceptionRecord r;
        while (store->GetExceptionHead(&r) == 0)
            out.push_back(r);
        return out;
    }
};

struct Step {
    uint32_t t;
    bool hmiRead;      // the HMI read the block just before
    bool queued;       // a read goes out
};

struct ScheduleCase {
    const char *name;
    uint32_t enableAt;
    const char *primary, *secondary, *phase, *access;
    std::vector<Step> steps;
    uint8_t statusAfter;   // low byte of the store's status after the last step
};

class BlockSchedule : public BlockRun, public testing::WithParamInterface<ScheduleCase> {};

TEST_P(BlockSchedule, PollsWhenDue)
{
    const ScheduleCase &c = GetParam();
    g_now = c.enableAt;
    ASSERT_EQ(0, Set(*block, "PrimaryPollTime", Text(c.primary)));
    ASSERT_EQ(0, Set(*block, "SecondaryPollTime", Text(c.secondary)));
    ASSERT_EQ(0, Set(*block, "Phase", Text(c.phase)));
    ASSERT_EQ(0, Set(*block, "AccessTime", Text(c.access)));
    Enable(*block);
    for (const Step &s : c.steps) {
        if (s.hmiRead)
            SetHmiAccess();
        EXPECT_EQ(s.queued, RunAt(s.t)) << "at tick " << s.t;
    }
    EXPECT_EQ(c.statusAfter, StoredStatus() & 0xFF);
    EXPECT_EQ(0, Counter("PollOverrunCount"));
}

const uint32_t W = 0xFFFFFC00u;  // 1024 ms before the tick count wraps

INSTANTIATE_TEST_SUITE_P(
    Tables, BlockSchedule,
    testing::Values(
        // Phase delays the first read; the access window (from the phase)
        // keeps the primary rate to its end, then polling stops.
        ScheduleCase{"PhaseThenStop", 1000, "1", "", "2", "5", {
            {1000, false, false}, {2999, false, false}, {3000, false, true}, {3999, false, false},
            {4000, false, true}, {8000, false, true}, {9000, false, true}, {10000, false, false},
            {60000, false, false}}, 0xC0},
        // An HMI read restarts a stopped block at once and keeps the primary rate.
        ScheduleCase{"HmiReadRestarts", 1000, "1", "", "0", "5", {
            {1000, false, true}, {6000, false, true}, {7000, false, true}, {8000, false, false},
            {20000, true, true}, {20500, false, false}, {21000, false, true}, {26000, false, true},
            {27000, false, false}}, 0xC0},
        // After the window the secondary rate takes over; the next read goes back.
        ScheduleCase{"SecondaryRate", 1000, "1", "3", "0", "2", {
            {1000, false, true}, {2000, false, true}, {3000, false, true}, {4000, false, true},
            {5000, false, false}, {7000, false, true}, {8000, false, false}, {8500, true, true},
            {9000, false, false}, {9500, false, true}}, 0xC0},
        // Without an access time the block keeps its primary rate.
        ScheduleCase{"NoAccessTime", 1000, "1", "", "0", "", {
            {1000, false, true}, {400000, false, true}, {400999, false, false}, {401000, false, true}}, 0xC0},
        // Across the wrap of the tick count: neither early nor stuck.
        ScheduleCase{"WrapAround", W, "1", "2", "0", "3", {
            {W, false, true}, {W + 999, false, false}, {W + 1000, false, true}, {0xFFFFFFFFu, false, false},
            {0, false, false}, {W + 1999, false, false}, {W + 2000, false, true}, {W + 3000, false, true},
            {W + 3999, false, false}, {W + 4000, false, true}, {W + 5999, false, false},
            {W + 6000, false, true}}, 0xC0},
        // A phase that ends past the wrap.
        ScheduleCase{"PhaseAcrossWrap", W, "1", "", "2", "", {
            {W, false, false}, {0xFFFFFFFFu, false, false}, {0, false, false}, {W + 1999, false, false},
            {W + 2000, false, true}, {W + 2999, false, false}, {W + 3000, false, true}}, 0xC0}),
    [](const testing::TestParamInfo<ScheduleCase> &info) { return std::string(info.param.name); });

TEST_F(BlockRun, StoppedStatusKeepsTheLastValueWithLatchData)
{
    ASSERT_EQ(0, Set(*block, "AccessTime", Text("2")));
    ASSERT_EQ(0, Set(*block, "LatchData", I2(1)));
    ASSERT_EQ(0, block->AddRegistration(1u << 28 | 10u << 15, 0, 7, 70, 1, 0));
    Enable(*block);
    store->SetDataBlockStatus(block->StoreIndex(), 0x5500);
    EXPECT_TRUE(RunAt(1000));
    Exceptions();
    EXPECT_TRUE(RunAt(4000, true));   // past the window: the last read, then stop
    EXPECT_EQ(0x5514, StoredStatus()) << "the high byte is never touched";
    EXPECT_EQ(1u, Exceptions().size()) << "a status change reports every registered point";
    EXPECT_FALSE(RunAt(9000));
}

// A clock that moves on between two readings in one scan: the first scan
// must still poll and keep polling, never stop the block.
uint32_t MovingTicks() { return g_now++; }

TEST_F(BlockRun, FirstScanOnAMovingClockKeepsPolling)
{
    ASSERT_EQ(0, Set(*block, "AccessTime", Text("5")));
    Enable(*block);
    SetDataBlockTickSource(MovingTicks);
    g_now = 1000;
    ASSERT_TRUE(block->PollDue());
    CProtocolMsg *msg = device->ReadQueue().RemoveHead();
    ASSERT_NE(nullptr, msg);
    Answer(msg, std::vector<unsigned char>(block->BytesInUse()));
    SetDataBlockTickSource(FakeTicks);
    EXPECT_TRUE(RunAt(2100)) << "the block stopped on its first scan";
}

// The scheduler skips the store's access flag and status on passes where
// they cannot change what it does. Over a table of access times, secondary
// rates and HMI read patterns, both forms must send the same reads at the
// same ticks, clear the flag at the same reschedulings and write the same
// statuses; the skipping form must really skip.
TEST_F(BlockRun, SkippingTheStoreOnQuietPassesChangesNothingThePassDoes)
{
    struct Hmi {
        const char *name;
        uint32_t every;   // an HMI read every so many ms (0: none)
        uint32_t onceAt;  // and one at this offset from the start (0: none)
    };
    const Hmi patterns[] = {{"never", 0, 0}, {"every 50 ms", 50, 0}, {"once", 0, 3000}, {"every 700 ms", 700, 0}};
    const char *accessTimes[] = {"", "1", "2.5"};
    const char *secondaries[] = {"", "1"};
    const uint32_t starts[] = {1000, W};
    struct Pass {
        bool queued;
        int flagAfter;
        uint16_t statusAfter;
        bool operator==(const Pass &o) const
        {
            return queued == o.queued && flagAfter == o.flagAfter && statusAfter == o.statusAfter;
        }
    };
    ASSERT_EQ(0, Set(*block, "PrimaryPollTime", Text("0.1")));
    ASSERT_EQ(0, block->AddRegistration(1u << 28 | 10u << 15, 0, 7, 70, 1, 0));
    for (uint32_t start : starts)
        for (const char *access : accessTimes)
            for (const char *secondary : secondaries)
                for (const Hmi &hmi : patterns) {
                    SCOPED_TRACE(std::string("access '") + access + "', secondary '" + secondary + "', HMI " +
                                 hmi.name + ", start " + std::to_string(start));
                    ASSERT_EQ(0, Set(*block, "AccessTime", Text(access)));
                    ASSERT_EQ(0, Set(*block, "SecondaryPollTime", Text(secondary)));
                    ASSERT_EQ(0, Set(*block, "LatchData", I2(start == W)));
                    std::vector<Pass> traces[2];
                    int skipped = 0;
                    for (int form = 0; form < 2; ++form) {
                        bool everyPass = form == 1;
                        SetSchedulerReadsEveryPass(everyPass);
                        g_now = start;
                        block->Disable(false);
                        store->SetDataBlockStatus(block->StoreIndex(), 0);
                        store->SetKIVAccess(block->StoreIndex(), 0);
                        Enable(*block);
                        for (uint32_t t = 0; t < 8000; t += 10) {
                            if ((hmi.every && t % hmi.every == 0) || (hmi.onceAt && t == hmi.onceAt))
                                SetHmiAccess();
                            // A mark in the high byte shows whether the pass asked the store.
                            uint16_t mark = uint16_t(0x80 | (t / 10 & 0x7F));
                            unsigned short word = 0;
                            store->GetDataBlockStatus(block->StoreIndex(), &word, nullptr);
                            store->SetDataBlockStatus(block->StoreIndex(), uint16_t(mark << 8 | (word & 0xFF)));
                            Pass pass;
                            pass.queued = RunAt(start + t);
                            store->GetKIVAccess(block->StoreIndex(), &pass.flagAfter, 0);
                            store->GetDataBlockStatus(block->StoreIndex(), &word, nullptr);
                            pass.statusAfter = word;
                            traces[form].push_back(pass);
                            bool asked = (block->Status() >> 8) == mark;
                            if (!asked) {
                                EXPECT_FALSE(everyPass) << "at " << t;
                                EXPECT_FALSE(pass.queued) << "a pass that polls reads the store; at " << t;
                                ++skipped;
                            }
                        }
                        Exceptions();
                    }
                    SetSchedulerReadsEveryPass(false);
                    ASSERT_EQ(traces[0].size(), traces[1].size());
                    for (size_t i = 0; i < traces[0].size(); ++i) {
                        ASSERT_TRUE(traces[0][i] == traces[1][i])
                            << "pass at +" << i * 10 << " ms: queued " << traces[0][i].queued << "/"
                            << traces[1][i].queued << ", flag " << traces[0][i].flagAfter << "/"
                            << traces[1][i].flagAfter << ", status " << std::hex << traces[0][i].statusAfter
                            << "/" << traces[1][i].statusAfter;
                    }
                    EXPECT_GT(skipped, 0) << "the skipping form read the store on every pass";
                    int reads = 0;
                    for (const Pass &p : traces[0])
                        reads += p.queued;
                    EXPECT_GT(reads, 0);
                }
}

struct OverrunCase {
    const char *primary, *secondary;
    bool busy;     // the read message is still in flight though not outstanding
    LONG overruns;
};

class BlockOverrun : public BlockRun, public testing::WithParamInterface<OverrunCase> {};

TEST_P(BlockOverrun, CountsAsTheRatesSay)
{
    const OverrunCase &c = GetParam();
    ASSERT_EQ(0, Set(*block, "PrimaryPollTime", Text(c.primary)));
    ASSERT_EQ(0, Set(*block, "SecondaryPollTime", Text(c.secondary)));
    Enable(*block);
    ASSERT_TRUE(RunAt(1000, true));
    CProtocolMsg *msg = block->ReadMessage();
    if (c.busy) {
        msg->Complete(CXAction::StateStarted, CXAction::SubInProgress);
        block->Disable(false);   // the outstanding bit goes, the request is still on its way
        Enable(*block);
    }
    EXPECT_FALSE(RunAt(5000)) << "no second read while the first is out";
    EXPECT_EQ(c.overruns, Counter("PollOverrunCount"));
    EXPECT_EQ(0u, device->ReadQueue().GetCount());
}

INSTANTIATE_TEST_SUITE_P(Rates, BlockOverrun,
                         testing::Values(OverrunCase{"1", "", false, 1}, OverrunCase{"1", "1", false, 1},
                                         OverrunCase{"0.5", "", false, 0}, OverrunCase{"1", "0.5", false, 0},
                                         OverrunCase{"0.5", "", true, 1}));

// Deadband cases: an old value read first, then a new one.
struct BandCase {
    const char *name;
    uint16_t type;
    uint8_t kind;
    uint32_t internal;     // bit of a digital point
    float band;
    std::vector<unsigned char> before, after;   // host order, the element at offset 4
    bool reported;
    bool storesNew;        // else the old value stays in the image
};

std::vector<unsigned char> Bytes16(int16_t v) { std::vector<unsigned char> b(2); memcpy(b.data(), &v, 2); return b; }
std::vector<unsigned char> Bytes32(uint32_t v) { std::vector<unsigned char> b(4); memcpy(b.data(), &v, 4); return b; }
std::vector<unsigned char> Real(float f) { uint32_t v; memcpy(&v, &f, 4); return Bytes32(v); }

class BlockDeadband : public BlockRun, public testing::WithParamInterface<BandCase> {};

TEST_P(BlockDeadband, GatesRecordAndStoredValue)
{
    const BandCase &c = GetParam();
    ASSERT_EQ(0, Set(*block, "DataType", I2(SHORT(c.type))));
    ASSERT_EQ(0, Set(*block, "Length", I4(12)));
    ASSERT_EQ(0, Set(*block, "DeadBand", R4(c.band)));
    Enable(*block);
    std::vector<unsigned char> host(12, 0);
    std::copy(c.before.begin(), c.before.end(), host.begin() + 4);
    Read(host);
    // Registered once the old value is in place, as the HMI does on display.
    const uint32_t word = 1u << 28 | 10u << 15 | 4;
    ASSERT_EQ(0, block->AddRegistration(word, c.internal, 3, 33, c.kind, 0));
    Exceptions();
    std::copy(c.after.begin(), c.after.end(), host.begin() + 4);
    Read(host);
    std::vector<ExceptionRecord> records = Exceptions();
    ASSERT_EQ(c.reported ? 1u : 0u, records.size());
    if (c.reported) {
        EXPECT_EQ(3, records[0].tag);
        EXPECT_EQ(33, records[0].id);
    }
    std::vector<unsigned char> image = Image(12);
    const std::vector<unsigned char> &expected = c.storesNew ? c.after : c.before;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 4));
}

INSTANTIATE_TEST_SUITE_P(
    Types, BlockDeadband,
    testing::Values(
        BandCase{"IntBelowBand", S7TypeInt, 1, 0, 5, Bytes16(100), Bytes16(103), false, false},
        BandCase{"IntAtBand", S7TypeInt, 1, 0, 5, Bytes16(100), Bytes16(105), true, true},
        BandCase{"IntNegative", S7TypeInt, 1, 0, 5, Bytes16(2), Bytes16(-2), false, false},
        BandCase{"IntBandZeroSame", S7TypeInt, 1, 0, 0, Bytes16(7), Bytes16(7), true, true},
        BandCase{"WordUnsigned", S7TypeWord, 1, 0, 5, Bytes16(-1), Bytes16(1), true, true},
        BandCase{"DwordWholeRange", S7TypeDword, 1, 0, 5, Bytes32(0), Bytes32(0xFFFFFFFFu), true, true},
        BandCase{"DwordBelowBand", S7TypeDword, 1, 0, 5, Bytes32(10), Bytes32(14), false, false},
        BandCase{"DintMinusOne", S7TypeDint, 1, 0, 5, Bytes32(0), Bytes32(0xFFFFFFFFu), false, false},
        BandCase{"DintExtremes", S7TypeDint, 1, 0, 5, Bytes32(0x80000000u), Bytes32(0x7FFFFFFFu), true, true},
        BandCase{"DwordBandZero", S7TypeDword, 1, 0, 0, Bytes32(5), Bytes32(6), true, true},
        BandCase{"RealNanToNumber", S7TypeReal, 1, 0, 5, Real(NAN), Real(1.0f), true, true},
        BandCase{"RealBothInvalid", S7TypeReal, 1, 0, 5, Real(NAN), Real(INFINITY), false, false},
        BandCase{"RealBelowBand", S7TypeReal, 1, 0, 5, Real(1.0f), Real(4.0f), false, false},
        BandCase{"RealBandZero", S7TypeReal, 1, 0, 0, Real(1.0f), Real(1.5f), true, true},
        BandCase{"ByteBitSame", S7TypeByte, 2, 3, 5, {0x08, 0, 0, 0}, {0x09, 0, 0, 0}, false, true},
        BandCase{"ByteBitFlips", S7TypeByte, 2, 3, 5, {0x08, 0, 0, 0}, {0x00, 0, 0, 0}, true, true},
        BandCase{"CharSigned", S7TypeChar, 1, 0, 5, {0xFE, 0, 0, 0}, {0x02, 0, 0, 0}, false, false}),
    [](const testing::TestParamInfo<BandCase> &info) { return std::string(info.param.name); });

TEST_F(BlockRun, ReplyStoresBytesTimeAndGoodStatus)
{
    Enable(*block);
    store->SetDataBlockStatus(block->StoreIndex(), 0x3300);
    Read({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), Image(10));
    FILETIME stamp;
    ASSERT_EQ(0u, store->GetDataBlock(block->StoreIndex(), 8, &stamp, kImageTimeOffset, 1));
    EXPECT_NE(0u, stamp.dwHighDateTime);
    uint16_t type = 0xFFFF;
    ASSERT_EQ(0u, store->GetDataBlock(block->StoreIndex(), 2, &type, kImageTypeOffset, 1));
    EXPECT_EQ(S7TypeByte, type);
    EXPECT_EQ(0x33C0, StoredStatus());
    EXPECT_EQ(1, Counter("MsgReceiveCount"));
    EXPECT_EQ(1, Counter("MsgTransmitCount"));
    EXPECT_FALSE(block->IsReadOutstanding());
}

TEST_F(BlockRun, StatusChangeReportsEveryRegisteredPoint)
{
    Enable(*block);
    block->AddRegistration(1u << 28 | 10u << 15 | 2, 0, 1, 11, 1, 0);
    block->AddRegistration(1u << 28 | 10u << 15 | 1, 0, 2, 22, 1, 0);
    std::vector<ExceptionRegistration> regs = block->Registrations();
    ASSERT_EQ(2u, regs.size());
    EXPECT_EQ(22, regs[0].id) << "kept sorted by address word";
    Read(std::vector<unsigned char>(10));      // bad to good, values unchanged
    std::vector<ExceptionRecord> records = Exceptions();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(22, records[0].id);
    EXPECT_EQ(11, records[1].id);
    Read(std::vector<unsigned char>(10));
    EXPECT_TRUE(Exceptions().empty()) << "nothing changed";
    block->RemoveRegistration(1u << 28 | 10u << 15 | 1, 0, 2, 22, 1);
    Fail();
    EXPECT_EQ(1u, Exceptions().size());
}

TEST_F(BlockRun, FailureAndRecoveryAreLoggedOnce)
{
    ASSERT_EQ(0, Set(*device, "PrimaryDelay", Text("7")));
    Enable(*block);
    Read(std::vector<unsigned char>(10));
    store->SetDataBlockStatus(block->StoreIndex(), uint16_t(0x2200 | (StoredStatus() & 0xFF)));
    g_now = 50000;
    Fail();
    EXPECT_EQ(0x2218, StoredStatus());
    Fail();
    EXPECT_EQ(1, LinesContaining("Blk1 Communications failed"));
    EXPECT_EQ(1, Counter("LastError")) << "a request without an error code";
    EXPECT_EQ(2, Counter("MsgErrorCount"));
    EXPECT_EQ(50000u, block->GetSchedule().t0);
    EXPECT_EQ(57000u, block->GetSchedule().t1) << "the next try follows the device's delay";
    Read(std::vector<unsigned char>(10));
    EXPECT_EQ(0x22C0, StoredStatus());
    EXPECT_EQ(1, LinesContaining("Blk1 Communications Recovered"));
    Read(std::vector<unsigned char>(10));
    EXPECT_EQ(1, LinesContaining("Blk1 Communications Recovered"));
    ASSERT_GE(g_alarms.size(), 2u);
    EXPECT_EQ("Blk1 Communications Recovered", g_alarms.back().first);

    ASSERT_EQ(0, Set(*block, "LatchData", I2(1)));
    Fail();
    EXPECT_EQ(0x2214, StoredStatus());
    EXPECT_EQ(2, LinesContaining("Blk1 Communications failed"));
}

TEST_F(BlockRun, RefusedReplyKeepsItsErrorCode)
{
    Enable(*block);
    Read(std::vector<unsigned char>(10));
    ASSERT_TRUE(block->Poll() == 0);
    CProtocolMsg *msg = device->ReadQueue().RemoveHead();
    ASSERT_NE(nullptr, msg);
    Answer(msg, std::vector<unsigned char>(251, 0xAA));
    EXPECT_EQ(102, Counter("LastError")) << "too long, not overwritten by the failure line";
    EXPECT_EQ(0x18, StoredStatus() & 0xFF);
    EXPECT_EQ(1, LinesContaining("Blk1 Communications failed"));
    EXPECT_EQ(std::vector<unsigned char>(10), Image(10)) << "the old bytes stay";

    ASSERT_EQ(0, Set(*block, "MsgErrorCount", I4(0)));
    Read(std::vector<unsigned char>(10));
    ASSERT_TRUE(block->Poll() == 0);
    msg = device->ReadQueue().RemoveHead();
    Answer(msg, std::vector<unsigned char>(9));
    EXPECT_EQ(101, Counter("LastError")) << "data that does not fit the address";
    EXPECT_FALSE(block->IsReadOutstanding());
}

TEST_F(BlockRun, LostConnectionFailsWithoutRequest)
{
    Enable(*block);
    Read(std::vector<unsigned char>(10));
    block->ProcessFailure(nullptr);
    EXPECT_EQ(0x18, StoredStatus() & 0xFF);
    EXPECT_EQ(1, Counter("LastError"));
    EXPECT_EQ(1, LinesContaining("Blk1 Communications failed"));
}

TEST_F(BlockRun, DisabledBlockNeitherPollsNorBuilds)
{
    EXPECT_FALSE(RunAt(1000));
    Enable(*block);
    ASSERT_EQ(0, Set(*device, "Enabled", I2(0)));
    EXPECT_FALSE(RunAt(2000)) << "a disabled device sends nothing";
    EXPECT_EQ(0, Counter("MsgTransmitCount"));
}

// The whole road of one poll against the simulated controller.
TEST_F(BlockRun, PollsTheSimulatedController)
{
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(kCp, kVfd, kConn));
    plc->errorConfirmation = 0;
    ASSERT_EQ(0, Set(*block, "DataType", I2(S7TypeInt)));
    const unsigned char first[10] = {0x01, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE};
    ASSERT_TRUE(plc.WriteDb(10, 0, first, sizeof first));
    CXActionProcessor processor;
    ASSERT_TRUE(processor.Start(kCp, kVfd, nullptr));
    Enable(*block);

    auto pollOnce = [&](uint32_t t) {
        g_now = t;
        if (!block->PollDue())
            return false;
        CProtocolMsg *msg = device->ReadQueue().RemoveHead();
        EXPECT_NE(nullptr, msg);
        if (!msg || msg->Submit(&processor) <= 0)
            return false;
        EXPECT_TRUE(WaitFor([&] { return msg->GetState() >= CXAction::StateCompleted; }));
        if (msg->Succeeded())
            block->ProcessReply(msg);
        else
            block->ProcessFailure(msg);
        return true;
    };

    ASSERT_TRUE(pollOnce(1000));
    std::vector<unsigned char> image = Image(10);
    int16_t v0, v4;
    memcpy(&v0, &image[0], 2);
    memcpy(&v4, &image[8], 2);
    EXPECT_EQ(0x0102, v0) << "controller order turned into host order";
    EXPECT_EQ(-2, v4);
    EXPECT_EQ(0xC0, StoredStatus() & 0xFF);
    EXPECT_NE("", std::string(block->ReadMessage()->GetVariableText()));

    const unsigned char next[2] = {0x00, 0x2A};
    ASSERT_TRUE(plc.WriteDb(10, 2, next, 2));
    EXPECT_FALSE(pollOnce(1500));
    ASSERT_TRUE(pollOnce(2000));
    image = Image(10);
    int16_t v1;
    memcpy(&v1, &image[2], 2);
    EXPECT_EQ(42, v1);

    plc.SetError(7, 3, "error one", "error two");
    plc->errorConfirmation = -1;
    ASSERT_TRUE(pollOnce(3000));
    plc->errorConfirmation = 0;
    EXPECT_EQ(0x18, StoredStatus() & 0xFF);
    EXPECT_EQ(1, LinesContaining("Blk1 Communications failed"));
    EXPECT_NE(0, Counter("LastError"));

    ASSERT_TRUE(pollOnce(3000 + 10000));   // the device's delay
    EXPECT_EQ(0xC0, StoredStatus() & 0xFF);
    EXPECT_EQ(1, LinesContaining("Blk1 Communications Recovered"));
    processor.Stop();
}

} // namespace

namespace {

struct ReadOut {
    LONG answer;
    std::vector<VARIANT> times, statuses, values;
};

std::vector<VARIANT> Elements(VARIANT &array)
{
    std::vector<VARIANT> out;
    if (V_VT(&array) != (VT_ARRAY | VT_VARIANT))
        return out;
    LONG lo, hi;
    SafeArrayGetLBound(V_ARRAY(&array), 1, &lo);
    SafeArrayGetUBound(V_ARRAY(&array), 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        VARIANT v;
        VariantInit(&v);
        SafeArrayGetElement(V_ARRAY(&array), &i, &v);
        out.push_back(v);
    }
    VariantClear(&array);
    return out;
}

ReadOut ReadData(CDataBlock &b, VARTYPE wanted, LONG first, LONG bit, LONG count, unsigned sig = 0,
                 float high = 100, float low = 0)
{
    VARIANT t, s, v;
    ReadOut out;
    out.answer = b.ReadData(wanted, first, bit, count, sig, high, low, &t, &s, &v);
    out.times = Elements(t);
    out.statuses = Elements(s);
    out.values = Elements(v);
    return out;
}

TEST_F(BlockRun, ReadDataTakesElementsFromTheStore)
{
    ASSERT_EQ(0, Set(*block, "DataType", I2(S7TypeInt)));
    Enable(*block);
    std::vector<unsigned char> host;
    for (int16_t v : {100, -5, 7, 0x0108, 3}) {
        std::vector<unsigned char> b = Bytes16(v);
        host.insert(host.end(), b.begin(), b.end());
    }
    Read(host);
    store->SetKIVAccess(block->StoreIndex(), 0);

    ReadOut all = ReadData(*block, VT_R4, 0, 0, -1);
    ASSERT_EQ(0, all.answer);
    ASSERT_EQ(5u, all.values.size()) << "a negative count takes the rest of the block";
    EXPECT_EQ(VT_R4, V_VT(&all.values[1]));
    EXPECT_EQ(-5.0f, V_R4(&all.values[1]));
    EXPECT_EQ(VT_DATE, V_VT(&all.times[0]));
    EXPECT_EQ(0xC0, V_I2(&all.statuses[0]) & 0xFF);
    int flag = 0;
    store->GetKIVAccess(block->StoreIndex(), &flag, 0);
    EXPECT_EQ(1, flag) << "an automation read keeps the primary rate";

    ReadOut two = ReadData(*block, VT_R4, 2, 0, 9);
    ASSERT_EQ(0, two.answer);
    ASSERT_EQ(3u, two.values.size()) << "cut to the rest from element 2";
    EXPECT_EQ(7.0f, V_R4(&two.values[0]));

    // 12-bit binary over 0..100: 0x108 (264) of 4095.
    ReadOut scaled = ReadData(*block, VT_R4, 0, 0, 4, 1, 100, 0);
    ASSERT_EQ(0, scaled.answer);
    EXPECT_NEAR(264.0 / 4095 * 100, V_R4(&scaled.values[3]), 1e-3);

    // Refusals: outside, odd offset, no count, bool on a type without bits.
    EXPECT_EQ(1, ReadData(*block, VT_R4, -1, 0, 1).answer);
    EXPECT_EQ(1, ReadData(*block, VT_R4, 10, 0, 1).answer);
    EXPECT_EQ(1, ReadData(*block, VT_R4, 1, 0, 1).answer);
    EXPECT_EQ(1, ReadData(*block, VT_R4, 0, 0, 0).answer);
    EXPECT_EQ(1, ReadData(*block, VT_BOOL, 0, 1, 1).answer);
    // Element 4 exists by the offset test, but its bytes lie past the block.
    EXPECT_EQ(0, ReadData(*block, VT_R4, 4, 0, 1).answer);
    EXPECT_EQ(1, ReadData(*block, VT_R4, 6, 0, 1).answer) << "never past the bytes in use";
}

TEST_F(BlockRun, ReadDataBitsAndRawContent)
{
    Enable(*block);
    Read({0x05, 0x80, 0, 0, 0, 0, 0, 0, 0, 0xFF});
    ReadOut bits = ReadData(*block, VT_BOOL, 0, 2, 2);
    ASSERT_EQ(0, bits.answer);
    ASSERT_EQ(2u, bits.values.size());
    EXPECT_EQ(VT_BOOL, V_VT(&bits.values[0]));
    EXPECT_EQ(1, V_BOOL(&bits.values[0])) << "0 or 1, not VARIANT_TRUE";
    EXPECT_EQ(0, V_BOOL(&bits.values[1]));
    EXPECT_EQ(1, ReadData(*block, VT_BOOL, 0, 8, 1).answer);

    VARIANT raw;
    ASSERT_EQ(S_OK, block->GetRawDataBlockContent(&raw));
    ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(&raw));
    unsigned char *data;
    SafeArrayAccessData(V_ARRAY(&raw), reinterpret_cast<void **>(&data));
    EXPECT_EQ(10u, V_ARRAY(&raw)->rgsabound[0].cElements);
    EXPECT_EQ(0x80, data[1]);
    EXPECT_EQ(0xFF, data[9]);
    SafeArrayUnaccessData(V_ARRAY(&raw));
    VariantClear(&raw);
}

TEST_F(BlockRun, ReadDataOfDoubleWordsStaysInTheBlock)
{
    ASSERT_EQ(0, Set(*block, "DataType", I2(S7TypeDint)));
    ASSERT_EQ(0, Set(*block, "Length", I4(8)));
    Enable(*block);
    std::vector<unsigned char> host = Bytes32(0xFFFFFFFEu);
    std::vector<unsigned char> second = Bytes32(70000);
    host.insert(host.end(), second.begin(), second.end());
    Read(host);
    ReadOut out = ReadData(*block, VT_I4, 0, 0, 5);
    ASSERT_EQ(0, out.answer);
    ASSERT_EQ(2u, out.values.size());
    EXPECT_EQ(-2, V_I4(&out.values[0]));
    EXPECT_EQ(70000, V_I4(&out.values[1]));
    EXPECT_EQ(1, ReadData(*block, VT_I4, 4, 0, 1).answer) << "element 4 would lie past the 8 bytes";
}

} // namespace
