// Reads straight from block images that the test creates in the store: each
// data type and kind, options in controller byte order, signal conditioning,
// qualities, and the cases where the item does not fit its block.
#include <math.h>
#include <string>
#include "kiv_fixture.h"

namespace {

std::string Shown(const VARIANT &v)
{
    char text[64];
    switch (V_VT(&v)) {
    case VT_R4: snprintf(text, sizeof(text), "%g", double(V_R4(&v))); return text;
    case VT_BOOL: return "bool:" + std::to_string(int(V_BOOL(&v)));
    case VT_BSTR: return "'" + Narrow(V_BSTR(&v)) + "'";
    case VT_EMPTY: return "empty";
    case VT_ARRAY | VT_R4:
    case VT_ARRAY | VT_BOOL: {
        std::string out = "[";
        LONG upper = -1;
        SafeArrayGetUBound(V_ARRAY(&v), 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            VARIANT e;
            VariantInit(&e);
            V_VT(&e) = VARTYPE(V_VT(&v) & ~VT_ARRAY);
            SafeArrayGetElement(V_ARRAY(&v), &i, V_VT(&e) == VT_R4 ? static_cast<void *>(&V_R4(&e))
                                                                   : static_cast<void *>(&V_BOOL(&e)));
            out += (i ? "," : "") + Shown(e);
        }
        return out + "]";
    }
    default: return "vt" + std::to_string(V_VT(&v));
    }
}

struct ReadCase {
    const char *what;
    uint16_t dataType;
    std::vector<uint8_t> bytes;   // the image from the block's start (100)
    uint8_t kind;
    uint16_t offset;              // item offset in address units
    uint16_t elementOffset;
    uint32_t option;              // option word (code and sign)
    uint8_t count;                // KivKind count for readEx
    uint16_t signal;
    KivStatus status;
    const char *value;
    uint8_t quality;
};

const ReadCase kReads[] = {
    {"INT", S7TypeInt, {0x2E, 0xFB}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "-1234", 0xC0},
    {"WORD", S7TypeWord, {0x50, 0xC3}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "50000", 0xC0},
    {"DINT", S7TypeDint, {0x60, 0x79, 0xFE, 0xFF}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "-100000", 0xC0},
    {"DWORD", S7TypeDword, {0x00, 0x5E, 0xD0, 0xB2}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "3e+09", 0xC0},
    {"REAL", S7TypeReal, {0x00, 0x00, 0x48, 0x41}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "12.5", 0xC0},
    {"BYTE", S7TypeByte, {200}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "200", 0xC0},
    {"CHAR is signed", S7TypeChar, {0xFB}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "-5", 0xC0},
    {"COUNTER", S7TypeCounter, {0x10, 0x00}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "16", 0xC0},
    {"second INT by element offset", S7TypeInt, {1, 0, 7, 0}, KIV_ANALOG, 100, 2, 0, 1, 0, 0, "7", 0xC0},
    {"INT item further in", S7TypeInt, {1, 0, 0, 0, 9, 0}, KIV_ANALOG, 104, 0, 0, 1, 0, 0, "9", 0xC0},
    {"three WORDs", S7TypeWord, {1, 0, 2, 0, 3, 0}, KIV_ANALOG, 100, 0, 0, 3, 0, 0, "[1,2,3]", 0xC0},
    {"option INT on BYTE, controller order", S7TypeByte, {0xFF, 0x38}, KIV_ANALOG, 100, 0, 2 | KIV_OPTION_SIGNED,
     1, 0, 0, "-200", 0xC0},
    {"option WORD on BYTE", S7TypeByte, {0x01, 0x00}, KIV_ANALOG, 100, 0, 2, 1, 0, 0, "256", 0xC0},
    {"option REAL on CHAR", S7TypeChar, {0x3F, 0xC0, 0x00, 0x00}, KIV_ANALOG, 100, 0, 4, 1, 0, 0, "1.5", 0xC0},
    {"option DINT on BYTE", S7TypeByte, {0xFF, 0xFF, 0xFF, 0xFE}, KIV_ANALOG, 100, 0, 3 | KIV_OPTION_SIGNED, 1, 0,
     0, "-2", 0xC0},
    {"option on a WORD block", S7TypeWord, {0, 0}, KIV_ANALOG, 100, 0, 2, 1, 0, 514, "empty", 0x00},
    {"Lin full scale", S7TypeWord, {0xFF, 0xFF}, KIV_ANALOG, 100, 0, 0, 1, SIGCOND_LIN, 0, "100", 0xC0},
    {"12AL above its alarm", S7TypeWord, {0x88, 0x13}, KIV_ANALOG, 100, 0, 0, 1, SIGCOND_12AL, 0, "122.1", 0x56},
    {"REAL NaN refused", S7TypeReal, {0x00, 0x00, 0xC0, 0x7F}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "0", 0x1F},
    {"REAL infinity refused", S7TypeReal, {0x00, 0x00, 0x80, 0x7F}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "0", 0x1F},
    {"REAL denormal refused", S7TypeReal, {0x01, 0x00, 0x00, 0x00}, KIV_ANALOG, 100, 0, 0, 1, 0, 0, "0", 0x1F},
    {"INT off its element boundary", S7TypeInt, {0, 0, 0, 0}, KIV_ANALOG, 101, 0, 0, 1, 0, 514, "empty", 0x00},
    {"item before the block", S7TypeInt, {0, 0}, KIV_ANALOG, 98, 0, 0, 1, 0, 514, "empty", 0x00},
    {"item past the read limit", S7TypeByte, {0}, KIV_ANALOG, 100 + 238, 0, 0, 1, 0, 514, "empty", 0x00},
    {"bit 3", S7TypeByte, {0x08}, KIV_DIGITAL, 100, 3, 0, 1, 0, 0, "bool:1", 0xC0},
    {"bit 2 clear", S7TypeByte, {0xFB}, KIV_DIGITAL, 100, 2, 0, 1, 0, 0, "bool:0", 0xC0},
    {"bits 6..8 across bytes", S7TypeByte, {0x40, 0x01}, KIV_DIGITAL, 100, 6, 0, 3, 0, 0, "[bool:1,bool:0,bool:1]",
     0xC0},
    {"bit 11 is bit 3 of the next byte", S7TypeByte, {0x00, 0x08}, KIV_DIGITAL, 100, 11, 0, 1, 0, 0, "bool:1", 0xC0},
    {"bit of a WORD block", S7TypeWord, {0xFF, 0xFF}, KIV_DIGITAL, 100, 0, 0, 1, 0, 514, "empty", 0x00},
    {"ASCII text ends at its NUL", S7TypeAscii, {'H', 'E', 'L', 'L', 'O', 0, 'X', 'Y'}, KIV_TEXT, 100, 0, 0, 8, 0, 0,
     "'HELLO'", 0xC0},
    {"CHAR text from an offset", S7TypeChar, {'a', 'b', 'c', 'd'}, KIV_TEXT, 101, 0, 0, 2, 0, 0, "'bc'", 0xC0},
    {"STRING after its header", S7TypeString, {10, 5, 'W', 'O', 'R', 'L', 'D'}, KIV_TEXT, 100, 0, 0, 5, 0, 0,
     "'WORLD'", 0xC0},
    {"STRING not at the block start", S7TypeString, {10, 5, 'W', 'O'}, KIV_TEXT, 100, 1, 0, 2, 0, 514, "empty",
     0x00},
    {"text of a REAL block", S7TypeReal, {0, 0, 0, 0}, KIV_TEXT, 100, 0, 0, 2, 0, 514, "empty", 0x00},
    {"kind 4", S7TypeByte, {0}, 4, 100, 0, 0, 1, 0, 510, "empty", 0xC0},
};

class KivRead : public KivFixture {};

TEST_F(KivRead, EachTypeAndKindReadsFromTheBlockImage)
{
    uint32_t owner = 0x100;
    for (const ReadCase &c : kReads) {
        SCOPED_TRACE(c.what);
        const uint16_t index =
            MakeBlock(++owner, c.dataType, 1, 100, c.bytes.data(), uint16_t(c.bytes.size()), 0x01C0);
        Item item(c.kind, c.count, 0, 100);
        item.device.blockHandle = owner;
        item.device.addressWord = AddressWord(1, 10, c.offset);
        item.device.elementOffset = c.kind == KIV_DIGITAL ? 0 : c.elementOffset;
        item.address.internalAddress = c.kind == KIV_DIGITAL ? c.elementOffset : 0;
        item.device.optionWord = c.option;
        item.device.signalIndex = c.signal;
        item.address.blockIndex = index;
        KivStatus status[2] = {99, 99};
        unsigned short quality = 0x0003;
        FILETIME time = {0, 0};
        VARIANT value;
        VariantInit(&value);
        kiv_readEx(status, &item.block, &item.kind, &time, &quality, c.count, &value, short(c.option & 0xFFFF));
        EXPECT_EQ(c.status, status[0]);
        EXPECT_EQ(!KivQualityGood(c.quality) && KivSubstatus(c.quality) == 5 ? 1 : 0, status[1])
            << "set for a last known or limited value";
        EXPECT_EQ(c.value, Shown(value));
        EXPECT_EQ(c.quality, quality & 0xFF) << std::hex << quality;
        EXPECT_EQ(0x01, quality >> 8) << "the server flags pass";
        if (c.status != 510) {
            EXPECT_EQ(0x89ABCDEFu, time.dwLowDateTime) << "the block's update time";
        }
        int access = 0;
        store->GetKIVAccess(index, &access, 0);
        EXPECT_NE(0, access) << "reading keeps the block at its primary rate";
        VariantClear(&value);
    }
    EXPECT_TRUE(Servers().empty()) << "reads need no server";
}

struct QualityRead {
    uint16_t status;          // the block's status word
    KivStatus last;           // second word of the status pair
    const char *value;
    uint16_t code;
};

// kiv_read on a WORD block holding 321 under each status.
TEST_F(KivRead, TheBlockStatusDecidesBetweenTheValueTheLastValueAndZero)
{
    const QualityRead cases[] = {
        {0x00C0, 0, "321", 0},
        {0x0014, 1, "321", 4293},    // LatchData: the last known value
        {0x0018, 0, "0", 4293},      // communication failure
        {0x0055, 1, "321", 4162},    // uncertain, substatus 5 limited low
        {0x0000, 0, "0", 4297},      // block disabled
    };
    const uint8_t bytes[] = {0x41, 0x01};
    uint32_t owner = 0x200;
    for (const QualityRead &c : cases) {
        SCOPED_TRACE(c.status);
        const uint16_t index = MakeBlock(++owner, S7TypeWord, 1, 100, bytes, 2, c.status);
        Item item;
        item.device.blockHandle = owner;
        item.device.addressWord = AddressWord(1, 10, 100);
        item.address.blockIndex = index;
        float f = -1;
        KivValue value = {99, 0, 99, &f};
        KivStatus status[2] = {99, 99};
        kiv_read(status, &item.block, &item.kind, &value);
        EXPECT_EQ(0, status[0]);
        EXPECT_EQ(c.last, status[1]);
        EXPECT_EQ(KIV_VALUE_FLOAT, value.type);
        EXPECT_EQ(4, value.length);
        EXPECT_EQ(c.code, value.errorCode);
        char shown[16];
        snprintf(shown, sizeof(shown), "%g", double(f));
        EXPECT_STREQ(c.value, shown);
    }
}

TEST_F(KivRead, ReadValueRecordsTakeTheirTypeByKind)
{
    const uint8_t bytes[] = {'O', 'K', 0, 0, 0x04};
    const uint16_t index = MakeBlock(0x300, S7TypeByte, 1, 100, bytes, sizeof(bytes));
    struct {
        uint8_t kind;
        uint16_t offset, elementOffset;
        uint8_t length;
        uint8_t type;
        const char *text;
        uint8_t byte;
        uint16_t code;
    } cases[] = {
        {KIV_TEXT, 100, 0, 4, KIV_VALUE_TEXT, "OK", 0, 0},
        {KIV_DIGITAL, 104, 2, 1, KIV_VALUE_BYTE, nullptr, 1, 0},
        {KIV_DIGITAL, 104, 1, 1, KIV_VALUE_BYTE, nullptr, 0, 0},
    };
    for (const auto &c : cases) {
        Item item(c.kind);
        item.device.blockHandle = 0x300;
        item.device.addressWord = AddressWord(1, 10, c.offset);
        item.address.internalAddress = c.elementOffset;
        item.address.blockIndex = index;
        char buffer[16];
        memset(buffer, '#', sizeof(buffer));
        KivValue value = {99, c.length, 99, buffer};
        KivStatus status[2] = {99, 99};
        kiv_read(status, &item.block, &item.kind, &value);
        EXPECT_EQ(0, status[0]);
        EXPECT_EQ(c.type, value.type);
        EXPECT_EQ(c.code, value.errorCode);
        if (c.text) {
            EXPECT_STREQ(c.text, buffer);
        } else {
            EXPECT_EQ(1, value.length);
            EXPECT_EQ(c.byte, uint8_t(buffer[0]));
        }
    }
}

TEST_F(KivRead, AnItemPastTheValidBytesAsksTheServerForALongerBlock)
{
    const uint8_t bytes[] = {1, 0, 2, 0};
    const uint16_t index = MakeBlock(0x400, S7TypeInt, 1, 100, bytes, sizeof(bytes));
    Item item;
    item.device.blockHandle = 0x400;
    item.device.addressWord = AddressWord(1, 10, 106);   // two bytes beyond the end
    item.address.blockIndex = index;
    KivStatus status[2] = {99, 99};
    unsigned short quality = 0;
    VARIANT value;
    VariantInit(&value);
    kiv_readEx(status, &item.block, &item.kind, nullptr, &quality, 1, &value, 0);
    EXPECT_EQ(0, status[0]);
    EXPECT_EQ(0, quality & 0xFC);
    EXPECT_EQ(1u, Server().CountOf("SetPropertyData 1024 Length=8"));

    // Texts: offset + count.
    const uint16_t chars = MakeBlock(0x401, S7TypeChar, 1, 100, "abcd", 4);
    Item text(KIV_TEXT, 6);
    text.device.blockHandle = 0x401;
    text.device.addressWord = AddressWord(1, 10, 102);
    text.address.blockIndex = chars;
    kiv_readEx(status, &text.block, &text.kind, nullptr, &quality, 6, &value, 0);
    EXPECT_EQ(0, status[0]);
    EXPECT_EQ(0, quality & 0xFC);
    EXPECT_EQ(1u, Server().CountOf("SetPropertyData 1025 Length=8"));
    VariantClear(&value);
}

TEST_F(KivRead, ARecreatedBlockIsFoundAgainByTheCanonicalText)
{
    const uint8_t old[] = {1, 0};
    const uint8_t fresh[] = {0, 0, 0, 0, 42, 0};
    const uint16_t first = MakeBlock(0x501, S7TypeInt, 1, 100, old, 2);
    Item item;
    item.device.blockHandle = 0x501;
    item.device.addressWord = AddressWord(1, 10, 104);
    item.address.blockIndex = first;
    strcpy(item.address.text, "PLC1:DB10,104");
    store->DestroyDataBlock(first);
    const uint16_t second = MakeBlock(0x502, S7TypeInt, 1, 100, fresh, sizeof(fresh));
    Define("PLC1:DB10,104", {0x502, short(second), long(AddressWord(1, 10, 104)), 0, 0, "PLC1:DB10,104"});

    KivStatus status[2] = {99, 99};
    unsigned short quality = 0;
    VARIANT value;
    VariantInit(&value);
    kiv_readEx(status, &item.block, &item.kind, nullptr, &quality, 1, &value, 0);
    EXPECT_EQ(0, status[0]);
    EXPECT_EQ("42", Shown(value));
    EXPECT_EQ(0x502u, item.device.blockHandle);
    EXPECT_EQ(second, item.address.blockIndex);

    // Without a text there is nothing to parse again.
    Item lost;
    lost.device.blockHandle = 0x501;
    lost.address.blockIndex = first;
    kiv_readEx(status, &lost.block, &lost.kind, nullptr, &quality, 1, &value, 0);
    EXPECT_EQ(514, status[0]);
    VariantClear(&value);
}

TEST_F(KivRead, ControlItemsReadGoodWithAnEmptyValueOfTheirKind)
{
    struct {
        uint8_t kind;
        const char *value;
    } cases[] = {{KIV_ANALOG, "0"}, {KIV_DIGITAL, "bool:0"}, {KIV_TEXT, "''"}};
    for (const auto &c : cases) {
        Item item(c.kind);
        item.address.internalAddress = 0x20000000;
        item.device.blockHandle = 0x999;
        KivStatus status[2] = {99, 99};
        unsigned short quality = 0x1F03;
        VARIANT value;
        VariantInit(&value);
        kiv_readEx(status, &item.block, &item.kind, nullptr, &quality, 1, &value, 0);
        EXPECT_EQ(0, status[0]);
        EXPECT_EQ(0x1FC3, quality);
        EXPECT_EQ(c.value, Shown(value));
        VariantClear(&value);
    }
    EXPECT_TRUE(Servers().empty());
}

}  // namespace
