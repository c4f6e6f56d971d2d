// Protocol messages, their hand-backs and the checksums.
#include "ProtocolMsg.h"
#include "S7Sim.h"
#include "XActionProcessor.h"
#include "s7_fixture.h"
#include "s7_test_util.h"
#include <cstring>
#include <vector>

using namespace s7test;

namespace {

// Fakes a data block and its device: counts what the messages report.
struct FakeDevice : IMsgDevice {
    void AddMsgRetry() override { ++retries; }
    void AddMsgTimeout() override { ++timeouts; }
    void SetCommFailed(bool f) override { failed = f; }
    void ReleaseOutstanding() override { InterlockedDecrement(&outstanding); }
    int retries = 0, timeouts = 0;
    bool failed = false;
    LONG outstanding = 5;
};

struct FakeBlock : IMsgBlock {
    IMsgDevice *GetMsgDevice() override { return device; }
    void AddMsgRetry() override { ++retries; }
    void AddMsgTimeout() override { ++timeouts; }
    void TakeBackMsg(CProtocolMsg *msg) override { takenBack.push_back(msg); }
    bool IsDataMonitorOn() override { return monitor; }
    void SendToDataMonitor(const BYTE *data, DWORD length, int direction) override
    {
        monitored.assign(data, data + length);
        monitoredDirection = direction;
    }
    IMsgDevice *device = nullptr;
    int retries = 0, timeouts = 0;
    bool monitor = false;
    std::vector<CProtocolMsg *> takenBack;
    std::vector<BYTE> monitored;
    int monitoredDirection = -1;
};

// Puts a message into a completion state without a controller.
void Finish(CProtocolMsg &msg, LONG state, LONG sub, WORD errorClass = 0)
{
    S7ErrorRecord record{};
    if (errorClass) {
        record.returnCode = static_cast<DWORD>(-1);
        record.errorNumber = 1;
        record.errorClass = errorClass;
    }
    msg.SetErrorRecord(record);
    msg.Complete(state, sub);
}

TEST(Checksum, Crc16AndAdditiveSums)
{
    uint16_t sum = 0;
    ASSERT_TRUE(Checksum(reinterpret_cast<const BYTE *>("123456789"), 9, &sum, ChecksumCrc16));
    EXPECT_EQ(sum, 0xBB3D);
    // Runs on from the value passed in: two halves give the whole.
    sum = 0;
    Checksum(reinterpret_cast<const BYTE *>("1234"), 4, &sum, ChecksumCrc16);
    Checksum(reinterpret_cast<const BYTE *>("56789"), 5, &sum, ChecksumCrc16);
    EXPECT_EQ(sum, 0xBB3D);
    const BYTE bytes[] = {0xFF, 0x02};
    sum = 0;
    ASSERT_TRUE(Checksum(bytes, 2, &sum, ChecksumAdditive));
    EXPECT_EQ(sum, 0x01);
    sum = 0x1200;
    Checksum(bytes, 2, &sum, ChecksumAdditive);
    EXPECT_EQ(sum, 0x1201) << "only the low byte sums";
    sum = 7;
    EXPECT_FALSE(Checksum(bytes, 2, &sum, 2));
    EXPECT_EQ(sum, 7);
}

TEST(ProtocolMsg, OutcomeOfEachCompletion)
{
    struct Row { LONG state; LONG sub; WORD errorClass; bool known; bool success; bool succeeded; };
    const Row rows[] = {
        {CXAction::StateCompleted, CXAction::SubSuccess, 0, true, true, true},
        {CXAction::StateTimedOut, CXAction::SubError, 0, true, false, false},   // retries exhausted
        {CXAction::StateCompleted, CXAction::SubError, 89, true, false, false},  // fatal class
        {CXAction::StateCompleted, CXAction::SubError, 80, false, false, false}, // non-fatal class
        {CXAction::StateFailed, CXAction::SubCancelled, 0, false, false, false},
        {CXAction::StateCompleted, CXAction::SubCancelled, 0, false, false, true},
    };
    for (const Row &row : rows) {
        CProtocolMsg msg;
        Finish(msg, row.state, row.sub, row.errorClass);
        bool success = !row.success;
        EXPECT_EQ(msg.Outcome(&success), row.known) << row.state << "/" << row.sub << "/" << row.errorClass;
        if (row.known) {
            EXPECT_EQ(success, row.success) << row.state << "/" << row.sub;
        }
        EXPECT_EQ(msg.Succeeded(), row.succeeded) << row.state << "/" << row.sub;
    }
}

TEST(ProtocolMsg, DoneSetsTheDevicesFailureOnlyWhenTheOutcomeIsKnown)
{
    FakeDevice device;
    FakeBlock block;
    block.device = &device;

    CProtocolMsg failed(&block);
    Finish(failed, CXAction::StateTimedOut, CXAction::SubError);
    MsgDone(&failed);
    EXPECT_TRUE(device.failed);
    EXPECT_EQ(device.outstanding, 4);

    CProtocolMsg nonFatal(&block);
    Finish(nonFatal, CXAction::StateCompleted, CXAction::SubError, 151);
    MsgDone(&nonFatal);
    EXPECT_TRUE(device.failed) << "a non-fatal error leaves the flag";

    CProtocolMsg good(&block);
    good.SetReceivedData("\x01\x02", 2);
    Finish(good, CXAction::StateCompleted, CXAction::SubSuccess);
    MsgDone(&good);
    EXPECT_FALSE(device.failed);
    EXPECT_TRUE(block.monitored.empty()) << "data monitor off";
    block.monitor = true;
    MsgDone(&good);
    EXPECT_EQ(block.monitored, (std::vector<BYTE>{1, 2}));
    EXPECT_EQ(0, block.monitoredDirection) << "a reply is a received frame";
    EXPECT_EQ(device.outstanding, 1);
    EXPECT_TRUE(good.BelongsToDevice(&device));
    EXPECT_FALSE(CProtocolMsg().BelongsToDevice(&device));
}

TEST(ProtocolMsg, NoticesCountIntoBlockAndDevice)
{
    FakeDevice device;
    FakeBlock block;
    block.device = &device;
    CProtocolMsg msg(&block);
    msg.OnRetry();
    msg.OnTimeout();
    msg.OnTimeout();
    EXPECT_EQ(block.retries, 1);
    EXPECT_EQ(device.retries, 1);
    EXPECT_EQ(block.timeouts, 2);
    EXPECT_EQ(device.timeouts, 2);
}

// Records its own deletion.
struct Tracked : CProtocolMsg {
    explicit Tracked(bool *deleted) : m_deleted(deleted) {}
    ~Tracked() override { *m_deleted = true; }
    bool *m_deleted;
};

TEST(ProtocolMsg, MessageWithoutBlockIsSafeEverywhere)
{
    for (void (*handBack)(CProtocolMsg *) : {MsgHandBack, MsgHandBackWithoutCount, MsgCancel}) {
        bool deleted = false;
        auto *msg = new Tracked(&deleted);
        msg->OnRetry();
        msg->OnTimeout();
        Finish(*msg, CXAction::StateTimedOut, CXAction::SubError);
        MsgDone(msg);
        handBack(msg);
        EXPECT_TRUE(deleted) << "a message without a block is deleted";
    }
}

TEST(ProtocolMsg, HandBacksReturnTheMessageToItsBlock)
{
    FakeDevice device;
    FakeBlock block;
    block.device = &device;
    CProtocolMsg a(&block), b(&block);
    MsgHandBack(&a);
    MsgHandBackWithoutCount(&b);
    EXPECT_EQ(block.takenBack, (std::vector<CProtocolMsg *>{&a, &b}));
    EXPECT_EQ(device.outstanding, 4) << "only the counting hand-back counts";
}

TEST(ProtocolMsg, CancelTakesTheRequestOffItsConnection)
{
    UseTestCatalogue();
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(kCp, kVfd, "PLC2"));
    plc->dropConfirmation = -1;
    CXActionProcessor processor;
    ASSERT_TRUE(processor.Start(kCp, kVfd, nullptr));
    FakeDevice device;
    FakeBlock block;
    block.device = &device;
    CProtocolMsg msg(&block);
    msg.SetConnectionName("PLC2");
    msg.SetVariableText("DB10,B0,1");
    ASSERT_GT(msg.Submit(&processor), 0);
    EXPECT_EQ(msg.GetProcessor(), &processor);
    EXPECT_TRUE(processor.IsConnectionInUse("PLC2"));
    MsgCancel(&msg);
    EXPECT_EQ(msg.GetState(), CXAction::StateFailed);
    EXPECT_EQ(msg.GetSubStatus(), CXAction::SubCancelled);
    EXPECT_EQ(msg.GetProcessor(), nullptr);
    EXPECT_FALSE(processor.IsConnectionInUse("PLC2"));
    EXPECT_EQ(block.takenBack.size(), 1u);
    EXPECT_EQ(device.outstanding, 4);
    plc->dropConfirmation = 0;
}

TEST(BlockWriteMsg, StartsWithAZeroRecord)
{
    CBlockWriteMsg msg;
    static const OutputRecord zero{};
    EXPECT_EQ(memcmp(&msg.m_record, &zero, sizeof(zero)), 0);
    EXPECT_EQ(sizeof(msg.m_record), 280u);
}

} // namespace
