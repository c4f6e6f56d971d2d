// Data access through the automation object: argument checks, reads and
// writes of a block polled from the simulated controller, HMI addresses
// and their canonical texts, exception registrations, raw bytes and the
// S7 configuration lists.
#include "app_fixture.h"
#include "S7Sim.h"
#include "S7Types.h"
#include "tests/s7_test_util.h"

using namespace apptest;

namespace {

// A channel, device and 10-byte INT block over the simulated controller of
// the data-block tests, built through the interface.
class DataAccess : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        channel = AddChannel("Ch1");
        ASSERT_EQ(S_OK, SetOne(channel, "PrimaryCPName", Str(blocktest::kCp)));
        ASSERT_EQ(S_OK, SetOne(channel, "PrimaryVFDName", Str(blocktest::kVfd)));
        device = AddDevice(channel, "Dev1");
        ASSERT_EQ(S_OK, SetOne(device, "PrimaryConnName", Str(blocktest::kConn)));
        Variant names(Names({"Name", "StartAddress", "Length", "DataType"}));
        Variant values(Array({Str("Blk1"), Str("DB10,0"), I4(10), I2(S7TypeInt)})), errors;
        ASSERT_EQ(S_OK, driver->AddDataBlock(device, names.v, values.v, &errors.v, &block));
    }
    void TearDown() override
    {
        driver->Stop();
        AppTest::TearDown();
    }
    CDataBlock *Block() { return LiveObjectAs<CDataBlock>(uint32_t(block)); }

    LONG channel = 0, device = 0, block = 0;
};

TEST_F(DataAccess, ArgumentsAndHandleKinds)
{
    Variant a, b, c;
    BSTR text = nullptr;
    const std::vector<std::pair<const char *, std::function<HRESULT()>>> refused = {
        {"ReadData of a device", [&] { return driver->ReadData(device, VT_R4, 0, 0, 1, 0, 100, 0, &a.v, &b.v, &c.v); }},
        {"ReadData without values",
         [&] { return driver->ReadData(block, VT_R4, 0, 0, 1, 0, 100, 0, nullptr, &b.v, &c.v); }},
        {"ReadData without qualities",
         [&] { return driver->ReadData(block, VT_R4, 0, 0, 1, 0, 100, 0, &a.v, nullptr, &c.v); }},
        {"ReadData without time stamps",
         [&] { return driver->ReadData(block, VT_R4, 0, 0, 1, 0, 100, 0, &a.v, &b.v, nullptr); }},
        {"WriteData to a channel", [&] { return driver->WriteData(channel, 0, 0, 0, 100, 0, I4(1)); }},
        {"WriteData to the driver", [&] { return driver->WriteData(0, 0, 0, 0, 100, 0, I4(1)); }},
        {"raw bytes of a device", [&] { return driver->GetRawDataBlockContent(device, &a.v); }},
        {"raw bytes into nothing", [&] { return driver->GetRawDataBlockContent(block, nullptr); }},
        {"exception point of a device", [&] { return driver->RegisterException(1, device, 0, 0, 1, 1, 3, 0); }},
        {"address into nothing", [&] { return driver->GetDataAddress(0, 0, block, 3, nullptr); }},
        // A text made up for an object that is no data block would pass for a real address.
        {"address of a device", [&] { return driver->GetDataAddress(0, 0, device, 3, &text); }},
        {"address of no object", [&] { return driver->GetDataAddress(0, 0, 0x7777, 3, &text); }},
        {"control item of no object", [&] { return driver->GetDataAddress(0, 0x20000000, 0x7777, 3, &text); }},
        {"CP list without count", [&] { return driver->GetConfiguredCPList(&a.v, nullptr); }},
        {"CP list into nothing", [&] { LONG n; return driver->GetConfiguredCPList(nullptr, &n); }},
        {"VFD list without count", [&] { return driver->GetConfiguredVFDList(Bstr("CPBLK"), &a.v, nullptr); }},
        {"connection list into nothing",
         [&] { LONG n; return driver->GetConfiguredCONNList(Bstr("CPBLK"), Bstr("VFDBLK"), nullptr, &n); }},
    };
    for (const auto &r : refused)
        EXPECT_EQ(E_INVALIDARG, r.second()) << r.first;
    LONG ref = 0, word, internal, handle;
    short index;
    EXPECT_EQ(E_INVALIDARG, driver->SetDataAddress(Bstr("Dev1 DB10,0"), 3, nullptr, &word, &internal, &handle, &index));
    EXPECT_EQ(E_INVALIDARG, driver->SetDataAddress(Bstr("Dev1 DB10,0"), 3, &ref, &word, &internal, nullptr, &index));

    // A removed block is no block.
    LONG gone = AddBlock(device, "Gone");
    ASSERT_EQ(S_OK, driver->RemoveDataBlock(device, gone));
    EXPECT_EQ(E_INVALIDARG, driver->ReadData(gone, VT_R4, 0, 0, 1, 0, 100, 0, &a.v, &b.v, &c.v));
    EXPECT_EQ(E_INVALIDARG, driver->WriteData(gone, 0, 0, 0, 100, 0, I4(1)));
    EXPECT_EQ(E_INVALIDARG, driver->RegisterException(1, gone, 0, 0, 1, 1, 3, 0));
    EXPECT_EQ(E_INVALIDARG, driver->GetDataAddress(0, 0, gone, 3, &text));
    EXPECT_EQ(nullptr, text);

    // Past the end: no arrays, and the previous ones are gone.
    a.v = Array({I4(1)});
    EXPECT_EQ(S_OK, driver->ReadData(block, VT_R4, 40, 0, 1, 0, 100, 0, &a.v, &b.v, &c.v));
    EXPECT_EQ(VT_EMPTY, V_VT(&a.v));
    EXPECT_EQ(VT_EMPTY, V_VT(&b.v));
    EXPECT_EQ(VT_EMPTY, V_VT(&c.v));
    // While the driver is stopped the block takes no write, and says so quietly.
    EXPECT_EQ(S_OK, driver->WriteData(block, 0, 0, 0, 100, 0, I2(5)));

    Variant raw;
    ASSERT_EQ(S_OK, driver->GetRawDataBlockContent(block, &raw.v));
    EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&raw.v));
    EXPECT_EQ(10u, V_ARRAY(&raw.v)->rgsabound[0].cElements);
}

TEST_F(DataAccess, ReadsAndWritesTheSimulatedController)
{
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(blocktest::kCp, blocktest::kVfd, blocktest::kConn));
    plc->errorConfirmation = 0;
    const unsigned char memory[10] = {0x00, 0x64, 0xFF, 0xFB, 0x00, 0x07, 0x01, 0x08, 0x00, 0x03};
    ASSERT_TRUE(plc.WriteDb(10, 0, memory, sizeof memory));
    for (LONG handle : {channel, device, block})
        ASSERT_EQ(S_OK, SetOne(handle, "Enabled", I2(1)));
    ASSERT_EQ(S_OK, driver->StartWait());
    EXPECT_EQ(S_OK, driver->Poll(block));

    // The HMI's view: values with their quality and time of the read.
    Variant values, qualities, stamps;
    auto read = [&] {
        return driver->ReadData(block, VT_R4, 0, 0, -1, 0, 100, 0, &values.v, &qualities.v, &stamps.v) == S_OK &&
               Elements(stamps.v).size() == 5 && V_VT(&Elements(stamps.v)[0]) == VT_DATE;
    };
    ASSERT_TRUE(s7test::WaitFor(read, 15000)) << "the block was never read";
    std::vector<VARIANT> got = Elements(values.v);
    ASSERT_EQ(5u, got.size());
    const float expected[5] = {100, -5, 7, 264, 3};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(VT_R4, V_VT(&got[i]));
        EXPECT_EQ(expected[i], V_R4(&got[i])) << i;
    }
    EXPECT_EQ(0xC0, V_I2(&Elements(qualities.v)[0]) & 0xFF);

    // The same read as a script makes it: by name through dispatch, the
    // numbers as script values, the three arrays by reference.
    LPOLESTR member = const_cast<LPOLESTR>(L"ReadData");
    DISPID id = 0;
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &member, 1, 0, &id));
    Variant byValues, byQualities, byStamps;
    VARIANT args[11] = {RefTo(&byStamps.v), RefTo(&byQualities.v), RefTo(&byValues.v), configtest::R4(0),
                        configtest::R4(100), I2(0), I4(-1), I4(0), I4(0), I2(VT_R4), I4(block)};   // in reverse order
    DISPPARAMS params = {args, nullptr, 11, 0};
    Variant result;
    ASSERT_EQ(S_OK, driver->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result.v,
                                   nullptr, nullptr));
    std::vector<VARIANT> scripted = Elements(byValues.v);
    ASSERT_EQ(5u, scripted.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(VT_R4, V_VT(&scripted[i]));
        EXPECT_EQ(expected[i], V_R4(&scripted[i])) << i;
    }
    EXPECT_EQ(5u, Elements(byStamps.v).size());
    for (VARIANT &v : scripted)
        VariantClear(&v);

    // The previous call's arrays may come back in; a conditioned read (12-bit
    // binary over 0..100) from element 2.
    ASSERT_EQ(S_OK, driver->ReadData(block, VT_R4, 2, 0, 2, 1, 100, 0, &values.v, &qualities.v, &stamps.v));
    got = Elements(values.v);
    ASSERT_EQ(2u, got.size());
    EXPECT_NEAR(7.0 / 4095 * 100, V_R4(&got[0]), 1e-3);
    EXPECT_NEAR(264.0 / 4095 * 100, V_R4(&got[1]), 1e-3);

    // A write (at address offset 4, element 2) reaches the controller
    // through the output thread.
    ASSERT_EQ(S_OK, driver->WriteData(block, 4, 0, 0, 100, 0, I2(42)));
    unsigned char now[2] = {};
    EXPECT_TRUE(s7test::WaitFor([&] { return plc.ReadDb(10, 4, now, 2) && now[0] == 0 && now[1] == 42; }, 15000));
    EXPECT_TRUE(s7test::WaitFor(
        [&] {
            return driver->ReadData(block, VT_R4, 2, 0, 1, 0, 100, 0, &values.v, &qualities.v, &stamps.v) == S_OK &&
                   !Elements(values.v).empty() && V_R4(&Elements(values.v)[0]) == 42.0f;
        },
        15000))
        << "read back after the next poll";
    EXPECT_EQ(S_OK, driver->Stop());
}

// The quality of a read follows the block: bad before its first read, good
// after one, a communication failure while the controller aborts every
// request, and bad again after a stop, plain and conditioned alike. The
// conditioning's own verdict counts only on good data.
TEST_F(DataAccess, ReadQualityIsTheBlocksWhenItIsNotGood)
{
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(blocktest::kCp, blocktest::kVfd, blocktest::kConn));
    struct Answering {
        s7sim::Controller &plc;
        ~Answering() { plc->abortIndication = 0; }
    } answering{plc};
    plc->errorConfirmation = plc->abortIndication = 0;
    const unsigned char memory[4] = {0x00, 0x64, 0xFF, 0xFB};   // 100, -5
    ASSERT_TRUE(plc.WriteDb(10, 0, memory, sizeof memory));

    // Low quality bytes of elements 0 and 1, unconditioned and through
    // 12-bit binary with alarming, which finds -5 out of range.
    auto qualities = [&](short sigCond) {
        Variant values, qualities, stamps;
        std::vector<int> low;
        if (driver->ReadData(block, VT_R4, 0, 0, 2, sigCond, 100, 0, &values.v, &qualities.v, &stamps.v) == S_OK)
            for (VARIANT &q : Elements(qualities.v))
                low.push_back(V_I2(&q) & 0xFF);
        return low;
    };
    const struct Step {
        const char *state;
        std::function<void()> enter;
        std::vector<int> plain, alarmed;
    } steps[] = {
        {"never read", [] {}, {0x00, 0x00}, {0x00, 0x00}},
        {"read",
         [&] {
             for (LONG handle : {channel, device, block})
                 ASSERT_EQ(S_OK, SetOne(handle, "Enabled", I2(1)));
             ASSERT_EQ(S_OK, driver->StartWait());
         },
         {0xC0, 0xC0}, {0xC0, 0x56}},
        {"controller aborts", [&] { plc->abortIndication = -1; }, {0x18, 0x18}, {0x18, 0x18}},
        {"controller answers again", [&] { plc->abortIndication = 0; }, {0xC0, 0xC0}, {0xC0, 0x56}},
        {"stopped", [&] { ASSERT_EQ(S_OK, driver->Stop()); }, {0x00, 0x00}, {0x00, 0x00}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.state);
        step.enter();
        EXPECT_TRUE(s7test::WaitFor([&] { return qualities(0) == step.plain; }, 15000));
        EXPECT_EQ(step.plain, qualities(0));
        EXPECT_EQ(step.alarmed, qualities(2));
    }
}

TEST_F(DataAccess, AddressesTheirTextsAndExceptionPoints)
{
    struct Case {
        const char *text;
        short item;                 // kind in the low byte
        HRESULT result;
        const char *canonical;      // the formatter's text for the same position
        bool modifies;
    };
    const Case cases[] = {
        {"Dev1 DB20,4", 3, S_OK, "Dev1:DB20,4", true},
        {"dev1:DB20:4", 3, S_OK, "Dev1:DB20,4", true},
        {"Dev1 DB20,4:3", 2, S_OK, "Dev1:DB20,4:3", true},
        {"Dev1 M10", 3, S_OK, "Dev1:M10", true},
        {"!poll:Dev1", 3, S_OK, "!Poll:Dev1", false},
        {"!Switch:Blk1", 3, S_OK, "!Switch:Blk1", false},
        {"Nowhere DB20,4", 3, E_FAIL, "Dev:StartAddr[:Bit]", false},
        {"!x:Dev1", 3, E_FAIL, "Dev:StartAddr[:Bit]", false},
        {"", 3, S_OK, "Dev:StartAddr[:Bit]", false},
    };
    for (const Case &c : cases) {
        LONG ref = 0, word = -1, internal = -1, handle = -1;
        short index = -1;
        host.modified = false;
        EXPECT_EQ(c.result, driver->SetDataAddress(Bstr(c.text), c.item, &ref, &word, &internal, &handle, &index))
            << c.text;
        EXPECT_EQ(c.modifies, host.modified) << c.text;
        BSTR text = SysAllocString(L"previous");   // freed by the member
        EXPECT_EQ(S_OK, driver->GetDataAddress(word, internal, handle, c.item, &text)) << c.text;
        EXPECT_EQ(c.canonical, Narrow(text)) << c.text;
        SysFreeString(text);
        if (c.result == S_OK && c.modifies) {
            EXPECT_EQ(CDriverApp::KindDataBlock, app->Classify(handle)) << c.text;
            EXPECT_NE(0, ref) << c.text;
        }
    }

    // A point registered and unregistered on the block that holds it.
    LONG ref = 0, word = 0, internal = 0, handle = 0;
    short index = 0;
    ASSERT_EQ(S_OK, driver->SetDataAddress(Bstr("Dev1 DB10,2"), 3, &ref, &word, &internal, &handle, &index));
    EXPECT_EQ(block, handle);
    EXPECT_EQ(S_OK, driver->RegisterException(1, handle, word, internal, 5, 77, 1, -3));
    ASSERT_EQ(1u, Block()->Registrations().size());
    EXPECT_EQ(uint32_t(word), Block()->Registrations()[0].address);
    EXPECT_EQ(77, Block()->Registrations()[0].id);
    EXPECT_EQ(HRESULT(E_FAIL), driver->RegisterException(1, handle, word, internal, 26, 77, 1, 0)) << "tag 26";
    EXPECT_EQ(S_OK, driver->RegisterException(0, handle, word, internal, 5, 77, 1, -3));
    EXPECT_TRUE(Block()->Registrations().empty());
}

TEST_F(DataAccess, ListsOfTheS7Configuration)
{
    Variant names(Array({I4(1)}));
    LONG count = -1;
    ASSERT_EQ(S_OK, driver->GetConfiguredCPList(&names.v, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(std::vector<std::string>{"CPBLK"}, Texts(names.v));
    ASSERT_EQ(S_OK, driver->GetConfiguredVFDList(Bstr("CPBLK"), &names.v, &count));
    EXPECT_EQ(std::vector<std::string>{"VFDBLK"}, Texts(names.v));
    ASSERT_EQ(S_OK, driver->GetConfiguredCONNList(Bstr("CPBLK"), Bstr("VFDBLK"), &names.v, &count));
    EXPECT_EQ(std::vector<std::string>{"PLCBLK1"}, Texts(names.v));
    HRESULT unknown = driver->GetConfiguredVFDList(Bstr("NOCP"), &names.v, &count);
    EXPECT_NE(S_OK, unknown);
    EXPECT_EQ(0, count);
    EXPECT_EQ(VT_EMPTY, V_VT(&names.v));
}

} // namespace
