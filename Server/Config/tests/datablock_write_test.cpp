// Writes into a block's controller memory: single writes, bit writes,
// merged block writes, the values of automation writes and the output
// thread's queue limits.
#include "datablock_fixture.h"
#include "OutputThread.h"
#include "S7Sim.h"
#include "XActionProcessor.h"
#include <cstring>

namespace {

using namespace blocktest;

OutputRecord Record(CDataBlock &b, uint16_t start, uint16_t type, uint16_t bit, uint32_t kind,
                    const std::vector<unsigned char> &value)
{
    OutputRecord r;
    memset(&r, 0, sizeof r);
    const S7Address &a = b.Address();
    r.address = uint32_t(a.area) << 28 | uint32_t(a.dbNumber) << 15 | start;
    r.bitAndType = uint32_t(type) << 4 | bit;
    r.owner = b.Handle();
    r.kind = kind;
    r.length = uint32_t(value.size());
    memcpy(r.value, value.data(), value.size());
    return r;
}

// The tree with block Blk1 at DB20,0..9, enabled; the test sends the
// block's requests to the controller itself.
class BlockWrites : public BlockTree {
protected:
    BlockWrites() : BlockTree("QORBLW", "DB20,0") {}
    void SetUp() override
    {
        BlockTree::SetUp();
        ASSERT_EQ(0, Set(*block, "Enabled", I2(1)));
        ASSERT_TRUE(plc.Open(kCp, kVfd, kConn));
        plc->errorConfirmation = 0;
        const unsigned char zero[10] = {};
        plc.WriteDb(20, 0, zero, sizeof zero);
    }
    void TearDown() override
    {
        processor.Stop();
        BlockTree::TearDown();
    }

    // Sends every queued write to the controller and hands the
    // confirmations back; answers how many went.
    int SendWrites()
    {
        if (!processor.GetState()) {
            EXPECT_TRUE(processor.Start(kCp, kVfd, nullptr));
        }
        int sent = 0;
        while (CProtocolMsg *msg = device->WriteQueue().RemoveHead()) {
            EXPECT_EQ(CXAction::DirectionWrite, msg->GetDirection());
            EXPECT_GT(msg->Submit(&processor), 0);
            EXPECT_TRUE(WaitFor([&] { return msg->GetState() >= CXAction::StateCompleted; }));
            EXPECT_TRUE(msg->Succeeded()) << msg->GetVariableText();
            block->ProcessReply(msg);
            ++sent;
        }
        // A confirmation polls the block at once to read the values back.
        while (CProtocolMsg *read = device->ReadQueue().RemoveHead())
            block->TakeBackMsg(read);
        return sent;
    }
    std::vector<unsigned char> Controller(unsigned offset, unsigned n)
    {
        std::vector<unsigned char> out(n);
        plc.ReadDb(20, offset, out.data(), n);
        return out;
    }
    s7sim::Controller plc;
    CXActionProcessor processor;
};

TEST_F(BlockWrites, SingleWritesReachTheControllerInItsByteOrder)
{
    ASSERT_EQ(0, Set(*block, "DataType", I2(S7TypeInt)));
    int16_t value = 0x1234;
    std::vector<unsigned char> host(2);
    memcpy(host.data(), &value, 2);
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 4, S7TypeInt, 0, OUTPUT_ANALOG, host)));
    ASSERT_EQ(1u, device->WriteQueue().GetCount());
    EXPECT_EQ(1, SendWrites());
    EXPECT_EQ((std::vector<unsigned char>{0x12, 0x34}), Controller(4, 2));
    VARIANT t;
    VariantInit(&t);
    block->GetProperty("WriteTime", &t);
    EXPECT_EQ(VT_DATE, V_VT(&t));
}

TEST_F(BlockWrites, BitWriteChangesOnlyItsBit)
{
    const unsigned char start[1] = {0xF0};
    plc.WriteDb(20, 2, start, 1);
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 2, S7TypeBit, 3, OUTPUT_DIGITAL, {1})));
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 2, S7TypeBit, 5, OUTPUT_DIGITAL, {0})));
    EXPECT_EQ(2, SendWrites());
    EXPECT_EQ(0xD8, Controller(2, 1)[0]);
}

struct Refused {
    const char *name;
    uint16_t start, type;
    uint32_t kind;
    unsigned length;
    LONG lastError;
};

class BlockWriteRefusals : public BlockWrites, public testing::WithParamInterface<Refused> {};

TEST_P(BlockWriteRefusals, PostTheBuildLineAndSendNothing)
{
    const Refused &c = GetParam();
    OutputRecord r = Record(*block, c.start, c.type, 0, c.kind, std::vector<unsigned char>(c.length, 7));
    if (std::string(c.name) == "OtherArea")
        r.address = (r.address & 0x0FFFFFFF) | uint32_t(S7AreaM) << 28;
    EXPECT_NE(0, block->WriteOutput(r));
    EXPECT_EQ(0u, device->WriteQueue().GetCount());
    EXPECT_EQ(1, LinesContaining("Message build error for datablock Blk1:  error = 0x"));
    VARIANT v;
    VariantInit(&v);
    block->GetProperty("LastError", &v);
    EXPECT_EQ(c.lastError, V_I4(&v));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockWriteRefusals,
    testing::Values(Refused{"PastTheEnd", 9, S7TypeByte, OUTPUT_ANALOG, 2, 0},
                    Refused{"BeforeTheStartOfAnother", 10, S7TypeByte, OUTPUT_ANALOG, 1, 0},
                    Refused{"NoElement", 0, S7TypeInt, OUTPUT_ANALOG, 1, 0},
                    Refused{"OtherArea", 0, S7TypeByte, OUTPUT_ANALOG, 1, 0},
                    Refused{"TooLong", 0, S7TypeByte, OUTPUT_ANALOG, 251, 102},
                    Refused{"DigitalOfTwoBytes", 0, S7TypeBit, OUTPUT_DIGITAL, 2, 0}),
    [](const testing::TestParamInfo<Refused> &info) { return std::string(info.param.name); });

TEST_F(BlockWrites, BlockWritesMergeIntoOneWriteNewestWinning)
{
    ASSERT_EQ(0, Set(*block, "BlockWritesEnabled", I2(1)));
    // What the block last read: the merged write starts from it.
    const unsigned char image[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10};
    store->SetDataBlock(block->StoreIndex(), sizeof image, image, 0);
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {0xA1})));
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {0xB1})));
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 9, S7TypeBit, 7, OUTPUT_DIGITAL, {1})));
    // A value that would run past the block is left out, not copied.
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 8, S7TypeByte, 0, OUTPUT_ANALOG, {0xEE, 0xEE, 0xEE})));
    EXPECT_EQ(3u, block->PendingBlockWrites());
    EXPECT_EQ(0u, device->WriteQueue().GetCount());

    ASSERT_EQ(0, Set(*block, "SendBlockWrites", I4(1)));
    EXPECT_TRUE(block->PollDue()) << "the next scheduler run sends instead of polling";
    EXPECT_EQ(0u, block->PendingBlockWrites());
    EXPECT_EQ(0u, device->ReadQueue().GetCount());
    EXPECT_EQ(1, LinesContaining("Error building Block Write Message for Datablock Blk1"));
    EXPECT_EQ(1, SendWrites());
    EXPECT_EQ((std::vector<unsigned char>{1, 0xB1, 3, 4, 5, 6, 7, 8, 9, 0x90}), Controller(0, 10));

    ASSERT_EQ(0, block->WriteOutput(Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {0xA1})));
    ASSERT_EQ(0, Set(*block, "BlockWritesEnabled", I2(0)));
    EXPECT_EQ(0u, block->PendingBlockWrites()) << "switching block writes off discards them";
}

TEST_F(BlockWrites, DisablingFreesTheUnsentWrites)
{
    ASSERT_EQ(0, block->WriteOutput(Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {1})));
    ASSERT_EQ(0, Set(*block, "Enabled", I2(0)));
    EXPECT_EQ(0u, device->WriteQueue().GetCount());
    EXPECT_EQ(0, block->WriteOutput(Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {1})))
        << "a disabled block consumes the record";
    EXPECT_EQ(0u, device->WriteQueue().GetCount());
}

struct ValueCase {
    const char *name;
    uint16_t type;
    VARIANT value;
    LONG answer;
    uint32_t kind;
    std::vector<unsigned char> controller;   // the value as it reaches the controller
};

VARIANT Bool(bool b) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BOOL; V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE; return v; }
VARIANT Ui1(BYTE b) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_UI1; V_UI1(&v) = b; return v; }
VARIANT Bstr() { return Text("x"); }

class AutomationValues : public BlockWrites, public testing::WithParamInterface<ValueCase> {};

TEST_P(AutomationValues, ReachTheControllerInItsOrder)
{
    const ValueCase &c = GetParam();
    ASSERT_EQ(0, Set(*block, "DataType", I2(SHORT(c.type))));
    OutputRecord r;
    VARIANT value = c.value;
    ASSERT_EQ(c.answer, block->FormWriteRecord(0, 2, 0, 100, 0, value, &r));
    if (c.answer)
        return;
    EXPECT_EQ(c.kind, r.kind);
    EXPECT_EQ(block->Handle(), r.owner);
    ASSERT_EQ(0, block->WriteOutput(r));
    EXPECT_EQ(1, SendWrites());
    EXPECT_EQ(c.controller, Controller(0, unsigned(c.controller.size())));
}

INSTANTIATE_TEST_SUITE_P(
    Types, AutomationValues,
    testing::Values(ValueCase{"I2IntoInt", S7TypeInt, I2(0x0102), 0, OUTPUT_ANALOG, {0x01, 0x02}},
                    ValueCase{"I2IntoByte", S7TypeByte, I2(0x0304), 0, OUTPUT_ANALOG, {0x03, 0x04}},
                    ValueCase{"I2IntoReal", S7TypeReal, I2(1), 1, 0, {}},
                    ValueCase{"I4IntoDint", S7TypeDint, I4(0x01020304), 0, OUTPUT_ANALOG, {1, 2, 3, 4}},
                    ValueCase{"I4IntoByte", S7TypeByte, I4(0x01020304), 0, OUTPUT_ANALOG, {1, 2, 3, 4}},
                    ValueCase{"I4IntoInt", S7TypeInt, I4(1), 1, 0, {}},
                    ValueCase{"R4IntoReal", S7TypeReal, R4(1.0f), 0, OUTPUT_ANALOG, {0x3F, 0x80, 0, 0}},
                    ValueCase{"R4IntoByte", S7TypeByte, R4(1.0f), 0, OUTPUT_ANALOG, {0x3F, 0x80, 0, 0}},
                    ValueCase{"BoolIntoByte", S7TypeByte, Bool(true), 0, OUTPUT_DIGITAL, {0x04}},
                    ValueCase{"BoolIntoInt", S7TypeInt, Bool(true), 1, 0, {}},
                    ValueCase{"Ui1IntoByte", S7TypeByte, Ui1(0x7F), 0, OUTPUT_ANALOG, {0x7F}},
                    ValueCase{"Ui1IntoWord", S7TypeWord, Ui1(1), 1, 0, {}},
                    ValueCase{"TextRefused", S7TypeByte, Bstr(), 1, 0, {}}),
    [](const testing::TestParamInfo<ValueCase> &info) { return std::string(info.param.name); });

TEST_F(BlockWrites, AutomationWriteIsRefusedWhileTheDriverIsStopped)
{
    VARIANT v = I2(1);
    EXPECT_EQ(1, block->WriteData(0, 0, 0, 100, 0, v));
    EXPECT_EQ(0u, device->WriteQueue().GetCount());
}

TEST(OutputThreadLimits, WarnAndDiscardOnceEachUntilHalfEmpty)
{
    CServerMsg log("QOR");
    for (LONG s : {SeverityWarning, SeverityError})
        log.SetSwitch(s, TRUE);
    CRecordingLogView view;
    log.SetView(&view);
    COutputThread thread;
    struct Step { size_t depth; bool admitted; int warnings, fulls; };
    const Step steps[] = {
        {0, true, 0, 0},      {1499, true, 0, 0},    {1500, true, 1, 0},   {1800, true, 1, 0},
        {1001, true, 1, 0},   {1500, true, 1, 0},    {1000, true, 1, 0},   {1500, true, 2, 0},
        {2000, false, 2, 1},  {2500, false, 2, 1},   {1999, true, 2, 1},   {2000, false, 2, 1},
        {1000, true, 2, 1},   {2000, false, 3, 2},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(s.admitted, thread.Admit(s.depth, 2000)) << "depth " << s.depth;
        int warnings = 0, fulls = 0;
        for (const std::string &t : view.Texts()) {
            warnings += t == "Write Queue 75% Full";
            fulls += t == "Write Queue is Full, Outputs being discarded";
        }
        EXPECT_EQ(s.warnings, warnings) << "depth " << s.depth;
        EXPECT_EQ(s.fulls, fulls) << "depth " << s.depth;
    }
    log.SetView(nullptr);
}

TEST_F(BlockWrites, OutputThreadDropsRecordsItCannotDeliver)
{
    COutputThread thread;
    std::string event = "QORBLW" + std::to_string(GetCurrentProcessId()) + "_OutputEvent";
    ASSERT_TRUE(thread.Start(store.get(), driver.get(), event.c_str()));
    OutputRecord r = Record(*block, 1, S7TypeByte, 0, OUTPUT_ANALOG, {5});
    ASSERT_EQ(0u, store->AddOutput(&r));
    r.owner = 0x7FFFFFF0;   // names no block
    ASSERT_EQ(0u, store->AddOutput(&r));
    EXPECT_TRUE(WaitFor([&] {
        unsigned long n = 1;
        store->GetOutputCount(&n);
        return n == 0;
    }));
    thread.Stop();
    EXPECT_EQ(0u, device->WriteQueue().GetCount()) << "the driver is not running";
    CDataBlock loose;
    {
        CDataBlock::UseLock hold;
        EXPECT_EQ(block, CDataBlock::FromHandle(block->Handle()));
        EXPECT_EQ(nullptr, CDataBlock::FromHandle(0x7FFFFFF0));
        EXPECT_EQ(nullptr, CDataBlock::FromHandle(loose.Handle())) << "not in the tree";
    }
}

} // namespace
