// Writes as output records in the store (their fields per kind and type, in
// the block image's byte order), control items through the server,
// simulation writes into the image, exception points and kiv_fetch.
#include <atomic>
#include <set>
#include <thread>
#include "kiv_fixture.h"

namespace {

VARIANT R4(float f)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = f;
    return v;
}

VARIANT Bool(bool b)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Text(const wchar_t *text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

struct SendCase {
    const char *what;
    uint16_t dataType;
    uint8_t kind;
    uint16_t offset;        // item offset (units); the block starts at 100
    uint16_t bit;           // digital: internal address bit
    uint32_t option;
    short count;
    VARIANT value;
    KivStatus status;
    uint32_t typeWord;
    std::vector<uint8_t> bytes;   // the record's value bytes; their count is its length
};

class KivWrite : public KivFixture {
protected:
    // A block of dataType at DB10,100 (ten valid bytes) and an item on it.
    void Prepare(Item &item, uint16_t dataType, uint16_t offset, uint16_t bit = 0, uint32_t owner = 0x600,
                 uint16_t status = 0xC0)
    {
        const uint8_t zeros[10] = {};
        const uint16_t index = MakeBlock(owner, dataType, 1, 100, zeros, sizeof(zeros), status);
        item.device.blockHandle = owner;
        item.device.addressWord = AddressWord(1, 10, offset);
        item.address.internalAddress = bit;
        item.address.blockIndex = index;
    }

    std::vector<OutputRecord> Drain()
    {
        std::vector<OutputRecord> records;
        OutputRecord record;
        while (store->GetOutputHead(&record) == STORE_OK)
            records.push_back(record);
        return records;
    }
};

TEST_F(KivWrite, EachKindAndTypeQueuesItsOutputRecord)
{
    std::vector<SendCase> cases = {
        {"INT", S7TypeInt, KIV_ANALOG, 102, 0, 0, 1, R4(-300), 0, 1 << 4, {0xD4, 0xFE}},
        {"WORD rounds", S7TypeWord, KIV_ANALOG, 100, 0, 0, 1, R4(41.6f), 0, 2 << 4, {42, 0}},
        {"REAL", S7TypeReal, KIV_ANALOG, 104, 0, 0, 1, R4(2.5f), 0, 3 << 4, {0x00, 0x00, 0x20, 0x40}},
        {"DINT truncates", S7TypeDint, KIV_ANALOG, 100, 0, 0, 1, R4(-7.9f), 0, 7 << 4, {0xF9, 0xFF, 0xFF, 0xFF}},
        {"BYTE", S7TypeByte, KIV_ANALOG, 103, 0, 0, 1, R4(77), 0, 9 << 4, {77}},
        {"option INT on BYTE: controller order", S7TypeByte, KIV_ANALOG, 101, 0, 2 | KIV_OPTION_SIGNED, 1, R4(-200),
         0, 9 << 4, {0xFF, 0x38}},
        {"option REAL on CHAR", S7TypeChar, KIV_ANALOG, 100, 0, 4, 1, R4(1.5f), 0, 8 << 4, {0x3F, 0xC0, 0x00, 0x00}},
        {"option DWORD on BYTE", S7TypeByte, KIV_ANALOG, 100, 0, 3, 1, R4(70000), 0, 9 << 4,
         {0x00, 0x01, 0x11, 0x70}},
        {"bit true", S7TypeByte, KIV_DIGITAL, 102, 5, 0, 1, Bool(true), 0, 9 << 4 | 5, {1}},
        {"bit 11 is bit 3 one byte on", S7TypeByte, KIV_DIGITAL, 102, 11, 0, 1, R4(0), 0, 9 << 4 | 3, {0}},
        {"ASCII text is NUL-padded to the count", S7TypeAscii, KIV_TEXT, 100, 0, 0, 6, Text(L"AB"), 0, 0,
         {'A', 'B', 0, 0, 0, 0}},
        {"ASCII text is cut at the count", S7TypeAscii, KIV_TEXT, 100, 0, 0, 2, Text(L"ABCD"), 0, 0, {'A', 'B'}},
        {"STRING: maximum and current length, then the text", S7TypeString, KIV_TEXT, 100, 0, 0, 8, Text(L"HELLO"), 0,
         12 << 4, {8, 5, 'H', 'E', 'L', 'L', 'O', 0, 0, 0}},
        {"STRING longer than its count", S7TypeString, KIV_TEXT, 100, 0, 0, 3, Text(L"HELLO"), 0, 12 << 4,
         {3, 3, 'H', 'E', 'L'}},
        {"bit of a WORD block", S7TypeWord, KIV_DIGITAL, 100, 0, 0, 1, Bool(true), 514, 0, {}},
        {"text of a REAL block", S7TypeReal, KIV_TEXT, 100, 0, 0, 2, Text(L"AB"), 514, 0, {}},
        {"option on an INT block", S7TypeInt, KIV_ANALOG, 100, 0, 2, 1, R4(1), 514, 0, {}},
        {"INT off its element boundary", S7TypeInt, KIV_ANALOG, 101, 0, 0, 1, R4(1), 514, 0, {}},
        {"a text that is no number", S7TypeInt, KIV_ANALOG, 100, 0, 0, 1, Text(L"abc"), 510, 0, {}},
        {"kind 4", S7TypeByte, 4, 100, 0, 0, 1, R4(1), 510, 0, {}},
    };
    uint32_t owner = 0x600;
    for (SendCase &c : cases) {
        SCOPED_TRACE(c.what);
        Item item(c.kind);
        Prepare(item, c.dataType, c.offset, c.bit, ++owner);
        KivStatus status = 99;
        unsigned short quality = 0x0100;
        kiv_sendEx(&status, &item.block, &item.kind, &quality, c.count, c.value, short(c.option & 0xFFFF));
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(0x01C0, quality);
        std::vector<OutputRecord> records = Drain();
        if (c.status != 0) {
            EXPECT_TRUE(records.empty());
        } else if (records.size() == 1) {
            const OutputRecord &r = records[0];
            const uint32_t units = c.kind == KIV_DIGITAL ? c.offset + c.bit / 8 : c.offset;
            EXPECT_EQ(AddressWord(1, 10, units), r.address);
            EXPECT_EQ(c.typeWord, r.bitAndType);
            EXPECT_EQ(owner, r.owner);
            EXPECT_EQ(c.kind, r.kind);
            EXPECT_EQ(c.bytes.size(), r.length);
            EXPECT_EQ(c.bytes, std::vector<uint8_t>(r.value, r.value + r.length));
        } else {
            ADD_FAILURE() << records.size() << " records";
        }
        VariantClear(&c.value);
    }
    EXPECT_TRUE(Servers().empty()) << "writes go through the store only";
}

TEST_F(KivWrite, TheHmiValueRecordIsSentAsItsTypeSays)
{
    struct {
        uint8_t type, length;
        std::vector<uint8_t> value;
        uint16_t dataType;
        uint8_t kind;
        KivStatus status;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {KIV_VALUE_I2, 2, {0xFB, 0xFF}, S7TypeInt, KIV_ANALOG, 0, {0xFB, 0xFF}},
        {KIV_VALUE_U2, 2, {0x10, 0x27}, S7TypeWord, KIV_ANALOG, 0, {0x10, 0x27}},
        {KIV_VALUE_U4, 4, {0x70, 0x11, 0x01, 0x00}, S7TypeDword, KIV_ANALOG, 0, {0x70, 0x11, 0x01, 0x00}},
        {KIV_VALUE_I4, 4, {0xFE, 0xFF, 0xFF, 0xFF}, S7TypeDint, KIV_ANALOG, 0, {0xFE, 0xFF, 0xFF, 0xFF}},
        {KIV_VALUE_FLOAT, 4, {0x00, 0x00, 0x20, 0x40}, S7TypeReal, KIV_ANALOG, 0, {0x00, 0x00, 0x20, 0x40}},
        {KIV_VALUE_BYTE, 1, {1}, S7TypeByte, KIV_DIGITAL, 0, {1}},
        {KIV_VALUE_TEXT, 2, {'H', 'I', 'X'}, S7TypeString, KIV_TEXT, 0, {2, 2, 'H', 'I'}},
        {9, 1, {1}, S7TypeByte, KIV_ANALOG, 510, {}},
    };
    uint32_t owner = 0x700;
    for (auto &c : cases) {
        SCOPED_TRACE(int(c.type));
        Item item(c.kind);
        Prepare(item, c.dataType, 100, 0, ++owner);
        KivValue value = {c.type, c.length, 77, c.value.data()};
        KivStatus status = 99;
        kiv_send(&status, &item.block, &item.kind, &value);
        EXPECT_EQ(c.status, status);
        std::vector<OutputRecord> records = Drain();
        if (c.status == 0) {
            EXPECT_EQ(0, value.errorCode);
            ASSERT_EQ(1u, records.size());
            EXPECT_EQ(c.bytes, std::vector<uint8_t>(records[0].value, records[0].value + records[0].length));
        } else {
            EXPECT_TRUE(records.empty());
        }
    }
}

// A record that the store cannot take never reaches the server.
TEST_F(KivWrite, AnOutputRecordTheStoreRefusesAnswers510)
{
    SetValue("MaxSize", 4096);   // before anything opens this store
    Item item;
    Prepare(item, S7TypeInt, 100);
    int accepted = 0;
    KivStatus status = 0;
    for (int n = 0; n < 1000 && status == 0; ++n) {
        KivValue value = {KIV_VALUE_FLOAT, 4, 0, nullptr};
        float f = float(n);
        value.value = &f;
        kiv_send(&status, &item.block, &item.kind, &value);
        accepted += status == 0;
    }
    EXPECT_EQ(510, status);
    EXPECT_GT(accepted, 0);
    unsigned long queued = 0;
    store->GetOutputCount(&queued);
    EXPECT_EQ(unsigned(accepted), queued) << "every write answered 0 is queued";
}

TEST_F(KivWrite, ControlItemsCallTheServer)
{
    struct {
        uint32_t internal;
        VARIANT value;
        KivStatus status;
        const char *call;
    } cases[] = {
        {0x10000000, R4(0), 0, "Switch 4660"},
        {0x20000000, R4(0), 0, "Poll 4660"},
        {0x30000000, Bool(true), 0, "SetPropertyData 4660 Enabled=true"},
        {0x40000000, Bool(false), 0, "SetPropertyData 4660 SendBlockWrites=false"},
        {0x50000000, R4(0), 510, nullptr},
        {0xF0000000, R4(0), 510, nullptr},
    };
    for (auto &c : cases) {
        Item item;
        item.device.blockHandle = 0x1234;
        item.address.internalAddress = c.internal;
        KivStatus status = 99;
        unsigned short quality = 0;
        kiv_sendEx(&status, &item.block, &item.kind, &quality, 1, c.value, 0);
        EXPECT_EQ(c.status, status) << std::hex << c.internal;
        if (c.call) {
            EXPECT_EQ(1u, Server().CountOf(c.call)) << c.call;
        }
    }
    EXPECT_TRUE(Drain().empty());
    Server().failAll = E_INVALIDARG;
    Item item;
    item.device.blockHandle = 0x1234;
    item.address.internalAddress = 0x20000000;
    KivStatus status = 99;
    kiv_sendEx(&status, &item.block, &item.kind, nullptr, 1, R4(0), 0);
    EXPECT_EQ(510, status);
}

TEST_F(KivWrite, InSimulationWritesLandInTheImageAndReadGood)
{
    SetValue("SimulationMode", 1);
    Restart();
    Item bit(KIV_DIGITAL);
    Prepare(bit, S7TypeByte, 101, 2, 0x800, 0x0018);   // the device never answered
    Item word;
    word.device.blockHandle = 0x800;
    word.device.addressWord = AddressWord(1, 10, 104);
    word.address.blockIndex = bit.address.blockIndex;
    word.device.optionWord = 2 | KIV_OPTION_SIGNED;   // INT in controller order

    uint8_t one = 1;
    KivValue on = {KIV_VALUE_BYTE, 1, 0, &one};
    KivStatus status[2] = {99, 99};
    kiv_send(status, &bit.block, &bit.kind, &on);
    EXPECT_EQ(0, status[0]);
    int16_t minus = -2;
    KivValue value = {KIV_VALUE_I2, 2, 0, &minus};
    kiv_send(status, &word.block, &word.kind, &value);
    EXPECT_EQ(0, status[0]);
    EXPECT_TRUE(Drain().empty()) << "nothing queued in simulation";

    uint8_t image[6] = {};
    store->GetDataBlock(bit.address.blockIndex, 6, image, 0, 1);
    EXPECT_EQ(0x04, image[1]);
    EXPECT_EQ(0xFF, image[4]);
    EXPECT_EQ(0xFE, image[5]);

    uint8_t read = 0;
    KivValue got = {0, 0, 99, &read};
    kiv_read(status, &bit.block, &bit.kind, &got);
    EXPECT_EQ(0, status[0]);
    EXPECT_EQ(0, got.errorCode) << "good in simulation";
    EXPECT_EQ(1, read);
    float f = 0;
    got = {0, 0, 99, &f};
    kiv_read(status, &word.block, &word.kind, &got);
    EXPECT_EQ(-2.0f, f);
}

class KivPoints : public KivFixture {};

TEST_F(KivPoints, OnRegistersWith520AndOffUnregistersWith0)
{
    const uint8_t zeros[4] = {};
    Item item(KIV_ANALOG);
    item.address.blockIndex = MakeBlock(0x901, S7TypeInt, 1, 100, zeros, 4);
    item.device.blockHandle = 0x901;
    item.device.addressWord = AddressWord(1, 10, 102);
    item.address.internalAddress = 0;
    KivException point = {7, 0, 300};
    KivStatus status = 99;
    kiv_on(&status, &item.block, &item.kind, &point, 55);
    EXPECT_EQ(520, status);
    kiv_off(&status, &item.block, &item.kind, &point);
    EXPECT_EQ(0, status);
    EXPECT_EQ((std::vector<std::string>{"put_KivRef 1", "RegisterException 1 2305 0x10050066 0x0 7 300 1 55",
                                        "RegisterException 0 2305 0x10050066 0x0 7 300 1 0"}),
              Server().Calls());
    status = 99;
    kiv_on(&status, &item.block, &item.kind, nullptr, 55);
    EXPECT_EQ(0, status) << "no point: nothing to do";
    Server().failAll = E_POINTER;
    kiv_on(&status, &item.block, &item.kind, &point, 55);
    EXPECT_EQ(510, status);
    kiv_off(&status, &item.block, &item.kind, &point);
    EXPECT_EQ(510, status);
}

TEST_F(KivPoints, FetchTakesAtMostTheMaximumAndLeavesTheRest)
{
    for (int i = 0; i < 25; ++i) {
        ExceptionRecord record = {0, uint8_t(i), 0, uint16_t(1000 + i)};
        ASSERT_EQ(0u, store->AddException(&record));
    }
    struct {
        short maximum, count;
        int first;
    } steps[] = {{10, 10, 0}, {0, 0, 0}, {20, 15, 10}, {5, 0, 0}};
    for (const auto &step : steps) {
        KivException points[20];
        memset(points, 0, sizeof(points));
        short count = -1;
        kiv_fetch(nullptr, nullptr, points, step.maximum, &count);
        ASSERT_EQ(step.count, count) << step.maximum;
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(step.first + i, points[i].tag);
            EXPECT_EQ(1000 + step.first + i, points[i].tagId);
        }
    }
}

// Two readers drain one queue: kiv_fetch must stop when the queue runs
// empty under it, delivering each record once and inventing none.
TEST_F(KivPoints, FetchRacingAnotherReaderDeliversEachRecordOnce)
{
    const int total = 600;
    std::atomic<bool> done(false);
    std::vector<int> fetched, taken;
    std::thread hmi([&] {
        KivException points[8];
        while (!done) {
            short count = 0;
            kiv_fetch(nullptr, nullptr, points, 8, &count);
            for (int i = 0; i < count; ++i)
                fetched.push_back(points[i].tagId);
        }
    });
    std::thread other([&] {
        CCommonMemory second(STORE_STANDARD_GROUPS, name.c_str());
        ExceptionRecord record;
        while (!done)
            if (second.GetExceptionHead(&record) == STORE_OK)
                taken.push_back(record.id);
    });
    for (int i = 1; i <= total; ++i) {
        ExceptionRecord record = {0, 1, 0, uint16_t(i)};
        ASSERT_EQ(0u, store->AddException(&record));
    }
    unsigned long left = 1;
    for (int wait = 0; wait < 1000 && left; ++wait) {
        store->GetExceptionCount(&left);
        Sleep(5);
    }
    Sleep(50);
    done = true;
    hmi.join();
    other.join();
    std::multiset<int> all(fetched.begin(), fetched.end());
    all.insert(taken.begin(), taken.end());
    EXPECT_EQ(size_t(total), all.size());
    std::set<int> distinct(all.begin(), all.end());
    EXPECT_EQ(size_t(total), distinct.size()) << "no record twice";
    EXPECT_EQ(1, *distinct.begin());
    EXPECT_EQ(total, *distinct.rbegin());
}

}  // namespace
