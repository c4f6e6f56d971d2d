#include "S7Types.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

const CS7Types &Types() { return CS7Types::Instance(); }

struct ParseCase {
    const char *text;
    uint16_t dataType;  // type already in the address (for the type check)
    bool checkType;
    uint16_t area, dbNumber, start, bit;
};

class ParseGood : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseGood, FillsTheAddressFields)
{
    const ParseCase &c = GetParam();
    S7Address a;
    a.dataType = c.dataType;
    a.length = 77;
    ASSERT_EQ(S7_OK, Types().ParseAddress(c.text, &a, c.checkType)) << c.text;
    EXPECT_EQ(c.area, a.area);
    EXPECT_EQ(c.dbNumber, a.dbNumber);
    EXPECT_EQ(c.start, a.start);
    EXPECT_EQ(c.bit, a.bit);
    EXPECT_EQ(77, a.length) << "the length is not the parser's";
    EXPECT_EQ(c.dataType, a.dataType);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseGood, testing::Values(
    ParseCase{"DB10,100", S7TypeByte, false, S7AreaDB, 10, 100, 0},
    ParseCase{"db10.100:7", S7TypeByte, true, S7AreaDB, 10, 100, 7},
    ParseCase{"  DI5;0 ", S7TypeWord, false, S7AreaDI, 5, 0, 0},
    ParseCase{"DB8191,32767", S7TypeByte, false, S7AreaDB, 8191, 32767, 0},
    ParseCase{"DB1 2\\3", S7TypeByte, false, S7AreaDB, 1, 2, 3},
    ParseCase{"10,4", S7TypeByte, false, S7AreaNone, 10, 4, 0},
    ParseCase{"M100", S7TypeByte, false, S7AreaM, 0, 100, 0},
    ParseCase{"M100.3", S7TypeBit, true, S7AreaM, 0, 100, 3},
    ParseCase{"Q4.1", S7TypeByte, false, S7AreaQ, 0, 4, 1},
    ParseCase{"i0/7", S7TypeByte, false, S7AreaI, 0, 0, 7},
    ParseCase{"PQ256", S7TypeByte, false, S7AreaPQ, 0, 256, 0},
    ParseCase{"PI2", S7TypeByte, false, S7AreaPI, 0, 2, 0},
    ParseCase{"PA1", S7TypeByte, false, S7AreaPA, 0, 1, 0},
    ParseCase{"PE1", S7TypeByte, false, S7AreaPE, 0, 1, 0},
    ParseCase{"A3", S7TypeByte, false, S7AreaA, 0, 3, 0},
    ParseCase{"E3", S7TypeByte, false, S7AreaE, 0, 3, 0},
    ParseCase{"C10", S7TypeCounter, false, S7AreaC, 0, 10, 0},
    ParseCase{"T5", S7TypeTimer, false, S7AreaT, 0, 5, 0},
    ParseCase{"Z7", S7TypeCounter, false, S7AreaZ, 0, 7, 0},
    ParseCase{"M32767", S7TypeByte, false, S7AreaM, 0, 32767, 0},
    ParseCase{"M7.5", S7TypeWord, false, S7AreaM, 0, 7, 5}));

struct BadCase {
    const char *text;
    uint16_t dataType;
    bool checkType;
    int areaAfter;  // -1: the area is not stored
};

class ParseBad : public testing::TestWithParam<BadCase> {};

TEST_P(ParseBad, IsRefusedWithEFail)
{
    const BadCase &c = GetParam();
    S7Address a;
    a.area = 99;
    a.dataType = c.dataType;
    EXPECT_EQ(S7_E_FAIL, Types().ParseAddress(c.text, &a, c.checkType)) << c.text;
    if (c.areaAfter >= 0)
        EXPECT_EQ(c.areaAfter, a.area) << c.text;
    else
        EXPECT_EQ(99, a.area) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseBad, testing::Values(
    BadCase{"", S7TypeByte, false, -1},
    BadCase{"   ", S7TypeByte, false, -1},
    BadCase{",DB10,1", S7TypeByte, false, -1},
    BadCase{"DB10,", S7TypeByte, false, -1},
    BadCase{"XX10", S7TypeByte, false, -1},
    BadCase{"DB10", S7TypeByte, false, S7AreaDB},
    BadCase{"DB,10", S7TypeByte, false, S7AreaDB},
    BadCase{"DB8192,0", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,,100", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,100:8", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,100:", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,100:3:1", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,100:3", S7TypeWord, true, S7AreaDB},
    BadCase{"DB10,32768", S7TypeByte, false, S7AreaDB},
    BadCase{"M32768", S7TypeByte, false, S7AreaM},
    BadCase{"M65636", S7TypeByte, false, S7AreaM},
    BadCase{"M4294967396", S7TypeByte, false, S7AreaM},
    BadCase{"DB65546,1", S7TypeByte, false, S7AreaDB},
    BadCase{"M100X", S7TypeByte, false, S7AreaM},
    BadCase{"M1X0", S7TypeByte, false, S7AreaM},
    BadCase{"DB10X,100", S7TypeByte, false, S7AreaDB},
    BadCase{"DB10,100Y", S7TypeByte, false, S7AreaDB},
    BadCase{"M100.3X", S7TypeByte, false, S7AreaM},
    BadCase{"M100.10", S7TypeByte, false, S7AreaM},
    BadCase{"M", S7TypeByte, false, S7AreaM},
    BadCase{"M100.3", S7TypeInt, true, S7AreaM},
    BadCase{"M100.1.2", S7TypeByte, false, S7AreaM}));

TEST(ParseAddress, NullPointersAnswer8006)
{
    S7Address a;
    EXPECT_EQ(S7_E_NULL, Types().ParseAddress(nullptr, &a, false));
    EXPECT_EQ(S7_E_NULL, Types().ParseAddress("M1", nullptr, false));
}

S7Address Make(uint16_t area, uint16_t db, uint16_t start, uint16_t length, uint16_t bit, uint16_t type)
{
    S7Address a;
    a.area = area; a.dbNumber = db; a.start = start; a.length = length; a.bit = bit; a.dataType = type;
    return a;
}

struct FormatCase {
    S7Address address;
    const char *user;      // mode 0
    const char *userBit;   // mode 1
    const char *end;
    const char *sapi;      // null: refused with sapiCode
    uint32_t sapiCode;
};

class Format : public testing::TestWithParam<FormatCase> {};

TEST_P(Format, GivesTheUserAndLibraryTexts)
{
    const FormatCase &c = GetParam();
    std::string text;
    EXPECT_EQ(S7_OK, Types().FormatAddress(c.address, text, 0));
    EXPECT_EQ(c.user, text);
    EXPECT_EQ(S7_OK, Types().FormatAddress(c.address, text, 1));
    EXPECT_EQ(c.userBit, text);
    EXPECT_EQ(S7_OK, Types().FormatEndAddress(c.address, text));
    EXPECT_EQ(c.end, text);
    uint32_t code = Types().FormatSapiAddress(c.address, text);
    if (c.sapi) {
        EXPECT_EQ(S7_OK, code);
        EXPECT_EQ(c.sapi, text);
    } else {
        EXPECT_EQ(c.sapiCode, code);
        EXPECT_EQ("", text);
    }

    // The user's text parses back to the same place.
    if (c.address.bit > 7)
        return;
    S7Address back = Make(0, 0, 0, 0, 0, S7TypeByte);
    ASSERT_EQ(S7_OK, Types().ParseAddress(c.userBit, &back, false)) << c.userBit;
    EXPECT_EQ(c.address.area, back.area);
    EXPECT_EQ(c.address.dbNumber, back.dbNumber);
    EXPECT_EQ(c.address.start, back.start);
    EXPECT_EQ(c.address.bit, back.bit);
}

INSTANTIATE_TEST_SUITE_P(Addresses, Format, testing::Values(
    FormatCase{Make(S7AreaDB, 10, 100, 10, 0, S7TypeWord), "DB10,100", "DB10,100:0", "DB10,109", "DB10,W100,5", 0},
    FormatCase{Make(S7AreaDB, 10, 100, 1, 3, S7TypeBit), "DB10,100", "DB10,100:3", "DB10,100", "DB10,X100.3", 0},
    FormatCase{Make(S7AreaDI, 2, 0, 8, 0, S7TypeDint), "DI2,0", "DI2,0:0", "DI2,7", "DI2,DINT0,2", 0},
    FormatCase{Make(S7AreaM, 0, 100, 10, 0, S7TypeWord), "M100", "M100:0", "M109", "MW100,5", 0},
    FormatCase{Make(S7AreaQ, 0, 4, 1, 1, S7TypeBit), "Q4", "Q4:1", "Q4", "AX4.1", 0},
    FormatCase{Make(S7AreaI, 0, 2, 4, 0, S7TypeReal), "I2", "I2:0", "I5", "EREAL2,1", 0},
    FormatCase{Make(S7AreaPQ, 0, 6, 3, 0, S7TypeByte), "PQ6", "PQ6:0", "PQ8", "PAB6,3", 0},
    FormatCase{Make(S7AreaPI, 0, 6, 2, 0, S7TypeChar), "PI6", "PI6:0", "PI7", "PECHAR6,2", 0},
    FormatCase{Make(S7AreaC, 0, 10, 3, 0, S7TypeCounter), "C10", "C10:0", "C12", "C10,3", 0},
    FormatCase{Make(S7AreaT, 0, 1, 2, 0, S7TypeTimer), "T1", "T1:0", "T2", "T1,2", 0},
    FormatCase{Make(S7AreaE, 0, 0, 4, 0, S7TypeDword), "E0", "E0:0", "E3", "ED0,1", 0},
    FormatCase{Make(S7AreaDB, 1, 0, 0, 0, S7TypeByte), "DB1,0", "DB1,0:0", "", "DB1,B0,0", 0},
    FormatCase{Make(S7AreaNone, 3, 4, 2, 0, S7TypeByte), "3,4", "3,4:0", "3,5", nullptr, S7_E_AREA},
    FormatCase{Make(S7AreaM, 0, 1, 2, 0, S7TypeNone), "M1", "M1:0", "M2", nullptr, S7_E_TYPE},
    FormatCase{Make(S7AreaM, 0, 1, 2, 0, 13), "M1", "M1:0", "M2", nullptr, S7_E_TYPE},
    FormatCase{Make(S7AreaM, 0, 1, 1, 9, S7TypeBit), "M1", "M1:9", "M1", nullptr, S7_E_BIT}));

TEST(FormatAddress, UnknownAreaIsRefused)
{
    std::string text = "x";
    EXPECT_EQ(S7_E_AREA, Types().FormatAddress(Make(15, 0, 0, 1, 0, 9), text, 0));
    EXPECT_EQ("", text);
    EXPECT_EQ(S7_E_AREA, Types().FormatEndAddress(Make(15, 0, 0, 1, 0, 9), text));
    EXPECT_EQ(S7_E_AREA, Types().FormatSapiAddress(Make(15, 0, 0, 1, 0, 9), text));
}

// One element of each type in controller order, and what the host sees.
struct ConvertCase {
    uint16_t type;
    std::vector<unsigned char> controller;
    std::vector<unsigned char> host;
    unsigned count;
};

class Convert : public testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, SwapsByElementSize)
{
    const ConvertCase &c = GetParam();
    std::vector<char> out(c.controller.size() + 4, char(0x5A));
    unsigned count = 99;
    ASSERT_EQ(S7_OK, Types().ConvertData(c.type, (const char *)c.controller.data(),
                                         unsigned(c.controller.size()), out.data(), &count));
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(0, std::memcmp(out.data(), c.host.data(), c.host.size()));
    for (size_t i = c.controller.size(); i < out.size(); ++i)
        EXPECT_EQ(char(0x5A), out[i]) << "wrote past the length at " << i;

    // The same routine turns host order back into controller order, in place.
    std::vector<char> again(out.begin(), out.begin() + c.controller.size());
    ASSERT_EQ(S7_OK, Types().ConvertData(c.type, again.data(), unsigned(again.size()), again.data(), &count));
    EXPECT_EQ(0, std::memcmp(again.data(), c.controller.data(), again.size()));
}

INSTANTIATE_TEST_SUITE_P(Types, Convert, testing::Values(
    ConvertCase{S7TypeInt, {1, 2, 3, 4}, {2, 1, 4, 3}, 2},
    ConvertCase{S7TypeWord, {1, 2}, {2, 1}, 1},
    ConvertCase{S7TypeCounter, {1, 2, 3, 4}, {2, 1, 4, 3}, 2},
    ConvertCase{S7TypeTimer, {9, 8}, {8, 9}, 1},
    ConvertCase{S7TypeReal, {0x3F, 0x80, 0, 0, 1, 2, 3, 4}, {0, 0, 0x80, 0x3F, 4, 3, 2, 1}, 2},
    ConvertCase{S7TypeDword, {1, 2, 3, 4}, {4, 3, 2, 1}, 1},
    ConvertCase{S7TypeDint, {0xFF, 0xFF, 0xFF, 0xFE}, {0xFE, 0xFF, 0xFF, 0xFF}, 1},
    ConvertCase{S7TypeByte, {1, 2, 3}, {1, 2, 3}, 3},
    ConvertCase{S7TypeChar, {1, 2}, {1, 2}, 2},
    ConvertCase{S7TypeBit, {1}, {1}, 1},
    ConvertCase{S7TypeAscii, {'a', 'b', 'c'}, {'a', 'b', 'c'}, 3},
    ConvertCase{S7TypeString, {4, 2, 'h', 'i', 0, 0}, {4, 2, 'h', 'i', 0, 0}, 6},
    // Partial trailing elements are copied, not swapped and not overrun.
    ConvertCase{S7TypeInt, {1, 2, 3}, {2, 1, 3}, 1},
    ConvertCase{S7TypeDword, {1, 2, 3, 4, 5, 6}, {4, 3, 2, 1, 5, 6}, 1},
    ConvertCase{S7TypeReal, {1, 2, 3}, {1, 2, 3}, 0}));

TEST(ConvertData, NoneAndUnknownTypesAreRefused)
{
    char in[4] = {1, 2, 3, 4}, out[4];
    unsigned count;
    EXPECT_EQ(S7_E_TYPE, Types().ConvertData(S7TypeNone, in, 4, out, &count));
    EXPECT_EQ(S7_E_TYPE, Types().ConvertData(13, in, 4, out, &count));
    EXPECT_EQ(S7_E_NULL, Types().ConvertData(S7TypeInt, in, 4, out, nullptr));
}

TEST(ConvertReply, ChecksTheLengthAgainstTheAddress)
{
    unsigned count = 0;
    char out[16];
    const char data[16] = {0, 1, 0, 2, 0, 3, 0, 4};
    S7Address words = Make(S7AreaDB, 1, 0, 8, 0, S7TypeInt);
    EXPECT_EQ(S7_OK, Types().ConvertReply(&words, data, 8, out, &count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(1, out[0]);
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&words, data, 7, out, &count));
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&words, data, 9, out, &count));

    // Counters count two bytes per address.
    S7Address counters = Make(S7AreaC, 0, 0, 3, 0, S7TypeCounter);
    EXPECT_EQ(S7_OK, Types().ConvertReply(&counters, data, 6, out, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&counters, data, 3, out, &count));

    // Area 0 has no bytes per unit: nothing matches, nothing divides by zero.
    S7Address none = Make(S7AreaNone, 1, 0, 4, 0, S7TypeByte);
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&none, data, 4, out, &count));
    S7Address bad = Make(15, 0, 0, 4, 0, S7TypeByte);
    EXPECT_EQ(S7_E_AREA, Types().ConvertReply(&bad, data, 4, out, &count));
    EXPECT_EQ(S7_E_NULL, Types().ConvertReply(nullptr, data, 4, out, &count));
    S7Address noType = Make(S7AreaM, 0, 0, 4, 0, S7TypeNone);
    EXPECT_EQ(S7_E_TYPE, Types().ConvertReply(&noType, data, 4, out, &count));
}

TEST(ConvertReply, StringHeaderMustFitTheBlock)
{
    unsigned count;
    char out[8];
    S7Address s = Make(S7AreaDB, 1, 0, 6, 0, S7TypeString);
    const char fits[6] = {4, 2, 'h', 'i', 0, 0};
    const char tooLong[6] = {5, 2, 'h', 'i', 0, 0};
    EXPECT_EQ(S7_OK, Types().ConvertReply(&s, fits, 6, out, &count));
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&s, tooLong, 6, out, &count));
    S7Address tiny = Make(S7AreaDB, 1, 0, 1, 0, S7TypeString);
    EXPECT_EQ(S7_E_LENGTH, Types().ConvertReply(&tiny, fits, 1, out, &count));
}

TEST(Lookups, AreaTable)
{
    const struct { uint16_t area; const char *parse, *library; int unit; unsigned rd, wr; uint16_t def; } rows[] = {
        {0, "", "", 0, 0, 0, 9}, {1, "DB", "DB", 1, 238, 228, 9}, {2, "DI", "DI", 1, 238, 228, 9},
        {3, "A", "A", 1, 238, 228, 9}, {4, "C", "C", 2, 119, 114, 10}, {5, "E", "E", 1, 238, 228, 9},
        {6, "M", "M", 1, 238, 228, 9}, {7, "PA", "PA", 1, 238, 228, 9}, {8, "PE", "PE", 1, 238, 228, 9},
        {9, "T", "T", 2, 119, 114, 11}, {10, "Z", "Z", 2, 119, 114, 10}, {11, "Q", "A", 1, 238, 228, 9},
        {12, "I", "E", 1, 238, 228, 9}, {13, "PQ", "PA", 1, 238, 228, 9}, {14, "PI", "PE", 1, 238, 228, 9},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.area);
        EXPECT_STREQ(r.parse, Types().AreaText(r.area, false));
        EXPECT_STREQ(r.library, Types().AreaText(r.area, true));
        EXPECT_EQ(r.unit, Types().BytesPerUnit(r.area));
        EXPECT_EQ(r.rd, Types().ReadLimit(r.area));
        EXPECT_EQ(r.wr, Types().WriteLimit(r.area));
        uint16_t def = 0;
        EXPECT_EQ(S7_OK, Types().DefaultType(r.area, &def));
        EXPECT_EQ(r.def, def);
        EXPECT_EQ(r.area < 3, Types().IsDataBlockArea(r.area));
        EXPECT_TRUE(Types().TypeAllowedInArea(r.area, r.def));
    }
    uint16_t def;
    EXPECT_EQ(nullptr, Types().AreaText(15, false));
    EXPECT_EQ(0u, Types().ReadLimit(15));
    EXPECT_EQ(0u, Types().WriteLimit(15));
    EXPECT_EQ(S7_E_AREA, Types().DefaultType(15, &def));

    unsigned n = 0, rest = 0;
    EXPECT_EQ(S7_OK, Types().BytesOfLength(S7AreaT, 5, &n));
    EXPECT_EQ(10u, n);
    EXPECT_EQ(S7_E_AREA, Types().BytesOfLength(15, 5, &n));
    EXPECT_EQ(S7_OK, Types().AddressesOfBytes(S7AreaZ, 7, &n, &rest));
    EXPECT_EQ(3u, n);
    EXPECT_EQ(1u, rest);
    EXPECT_EQ(S7_E_AREA, Types().AddressesOfBytes(S7AreaNone, 7, &n, &rest));
    EXPECT_EQ(S7_E_AREA, Types().AddressesOfBytes(15, 7, &n, &rest));
}

TEST(Lookups, DataTypeTable)
{
    const struct { uint16_t code; const char *name; int bytes, units; bool bit, sign, element; uint16_t vt; } rows[] = {
        {0, "ASCII", 1, 1, false, false, true, S7VtBstr}, {1, "INT", 2, 2, false, true, true, S7VtI2},
        {2, "WORD", 2, 2, false, false, true, S7VtI2}, {3, "REAL", 4, 4, false, false, true, S7VtR4},
        {4, nullptr, 1, 1, true, false, true, S7VtUi1}, {5, nullptr, 0, 0, false, false, true, S7VtEmpty},
        {6, "DWORD", 4, 4, false, false, true, S7VtI4}, {7, "DINT", 4, 4, false, true, true, S7VtI4},
        {8, "CHAR", 1, 1, false, true, true, S7VtUi1}, {9, "BYTE", 1, 1, true, false, true, S7VtUi1},
        {10, "COUNTER", 2, 1, false, false, true, S7VtI2}, {11, "TIMER", 2, 1, false, false, true, S7VtI2},
        {12, "STRING", 1, 1, false, false, false, S7VtBstr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.code);
        const char *name = "x";
        if (r.name) {
            EXPECT_EQ(S7_OK, Types().TypeName(r.code, &name));
            EXPECT_STREQ(r.name, name);
            std::string lower(r.name);
            for (char &ch : lower)
                ch = char(tolower(ch));
            uint16_t code = 99;
            EXPECT_TRUE(Types().TypeCode(lower.c_str(), &code));
            EXPECT_EQ(r.code, code);
        } else {
            EXPECT_EQ(S7_E_TYPE, Types().TypeName(r.code, &name));
        }
        EXPECT_EQ(r.bytes, Types().BytesPerElement(r.code));
        EXPECT_EQ(r.units, Types().UnitsPerElement(r.code));
        EXPECT_EQ(r.bit, Types().IsBitAddressable(r.code));
        EXPECT_EQ(r.sign, Types().IsSigned(r.code));
        EXPECT_EQ(r.element, Types().IsElementAddressable(r.code));
        EXPECT_EQ(r.vt, Types().VariantType(r.code));
    }
    const char *name;
    uint16_t code = 7;
    EXPECT_EQ(S7_E_TYPE, Types().TypeName(13, &name));
    EXPECT_FALSE(Types().TypeCode("BIT", &code));
    EXPECT_FALSE(Types().TypeCode("", &code));
    EXPECT_EQ(7, code);
    EXPECT_EQ(-1, Types().BytesPerElement(13));
    EXPECT_EQ(-1, Types().UnitsPerElement(13));
    EXPECT_EQ(0, Types().VariantType(13));

    unsigned elements = 0;
    EXPECT_EQ(S7_OK, Types().ElementsOfLength(S7TypeReal, 9, &elements));
    EXPECT_EQ(2u, elements);
    EXPECT_EQ(S7_E_TYPE, Types().ElementsOfLength(S7TypeNone, 9, &elements));

    unsigned count = 0;
    const char *const *names = CS7Types::UserTypeNames(&count);
    ASSERT_EQ(11u, count);
    EXPECT_STREQ("BYTE", names[0]);
    EXPECT_STREQ("STRING", names[10]);
}

TEST(Lookups, TypesAllowedInAreas)
{
    const struct { uint16_t area, type; bool allowed; } cases[] = {
        {S7AreaC, S7TypeCounter, true}, {S7AreaC, S7TypeByte, false}, {S7AreaZ, S7TypeTimer, false},
        {S7AreaT, S7TypeTimer, true}, {S7AreaT, S7TypeWord, false}, {S7AreaDB, S7TypeCounter, false},
        {S7AreaDB, S7TypeTimer, false}, {S7AreaDB, S7TypeReal, true}, {S7AreaM, S7TypeString, true},
        {S7AreaM, S7TypeBit, true}, {15, S7TypeByte, false}, {S7AreaM, 13, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.allowed, Types().TypeAllowedInArea(c.area, c.type)) << c.area << "/" << c.type;
}

// An HMI address is split where the server splits it: any separator, only
// the first one, leading white space dropped but the position left as typed.
TEST(HmiAddress, SplitsAtTheFirstSeparator)
{
    const struct { const char *text, *normal, *device, *position; bool separated, control; } cases[] = {
        {"PLC1 DB10,4", "PLC1:DB10:4", "PLC1", "DB10:4", true, false},
        {" \t plc1/db10.4:1", "plc1:db10:4:1", "plc1", "db10:4:1", true, false},
        {"PLC1;M7\\2", "PLC1:M7:2", "PLC1", "M7:2", true, false},
        {"PLC1", "PLC1", "PLC1", "", false, false},
        {":DB10,4", ":DB10:4", "", "DB10:4", true, false},
        {"PLC1 ", "PLC1:", "PLC1", "", true, false},
        {"!Poll Line3", "!Poll:Line3", "!Poll", "Line3", true, true},
        {"  !P", "!P", "!P", "", false, true},
        {"\xe9t\xe9 M1", "\xe9t\xe9:M1", "\xe9t\xe9", "M1", true, false},
        {"   ", "", "", "", false, false},
        {nullptr, "", "", "", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        S7HmiAddress a = CS7Types::ReadHmiAddress(c.text);
        EXPECT_EQ(c.normal, a.text);
        EXPECT_EQ(c.device, a.device);
        EXPECT_EQ(c.position, a.position);
        EXPECT_EQ(c.separated, a.separated);
        EXPECT_EQ(c.control, a.IsControl());
    }
    for (int c : std::initializer_list<int>{0, '\t', '-', '_', '|', '!', 0xE9, 0x2215})
        EXPECT_FALSE(CS7Types::IsSeparator(c)) << c;
    for (int c : std::initializer_list<int>{':', ';', ',', '.', '/', '\\', ' ', int(L':')})
        EXPECT_TRUE(CS7Types::IsSeparator(c)) << c;
}

// An address joins a block only on one of the block's element boundaries,
// also in front of the block (where the block grows to it).
TEST(HmiAddress, ElementBoundariesOfABlock)
{
    const struct { uint16_t type, blockStart; long start; unsigned units; } cases[] = {
        {S7TypeInt, 10, 10, 2}, {S7TypeInt, 10, 14, 2}, {S7TypeInt, 10, 13, 0}, {S7TypeInt, 10, 6, 2},
        {S7TypeInt, 10, 7, 0},  {S7TypeReal, 4, 12, 4}, {S7TypeReal, 4, 10, 0}, {S7TypeReal, 4, 0, 4},
        {S7TypeByte, 3, 0, 1},  {S7TypeTimer, 5, 6, 1}, {S7TypeNone, 0, 0, 0},  {13, 0, 0, 0},
    };
    for (const auto &c : cases) {
        S7Address block;
        block.dataType = c.type;
        block.start = c.blockStart;
        EXPECT_EQ(c.units, Types().ElementAt(block, c.start)) << c.type << " at " << c.blockStart << ": " << c.start;
    }

    const struct { uint16_t area, wanted, type; uint32_t result; } types[] = {
        {S7AreaDB, S7TypeReal, S7TypeReal, S7_OK},     {S7AreaT, S7TypeWord, S7TypeTimer, S7_OK},
        {S7AreaC, S7TypeInt, S7TypeCounter, S7_OK},    {S7AreaM, S7TypeCounter, S7TypeByte, S7_OK},
        {S7AreaDB, 13, S7TypeByte, S7_OK},             {15, S7TypeByte, 99, S7_E_AREA},
    };
    for (const auto &c : types) {
        uint16_t type = 99;
        EXPECT_EQ(c.result, Types().TypeInArea(c.area, c.wanted, &type)) << c.area << "/" << c.wanted;
        EXPECT_EQ(c.type, type) << c.area << "/" << c.wanted;
    }
}

// The address word carries the position exactly, and the item name that
// the HMI gets back for a digital or text item is built from it.
TEST(HmiAddress, AddressWordAndItemName)
{
    const struct { uint16_t area, db, start, bit; uint32_t word; unsigned kind; const char *name; uint32_t result; } cases[] = {
        {S7AreaDB, 10, 4, 3, 0x10050004u, S7ItemDigital, "PLC1:DB10,4:3", S7_OK},
        {S7AreaDB, 8191, 32767, 0, 0x1FFFFFFFu, S7ItemText, "PLC1:DB8191,32767", S7_OK},
        {S7AreaDI, 1, 0, 7, 0x20008000u, S7ItemText, "PLC1:DI1,0", S7_OK},
        {S7AreaM, 0, 100, 5, 0x60000064u, S7ItemDigital, "PLC1:M100:5", S7_OK},
        {S7AreaPI, 0, 2, 0, 0xE0000002u, S7ItemText, "PLC1:PI2", S7_OK},
        {S7AreaM, 0, 100, 0, 0x60000064u, S7ItemAnalog, "", S7_E_TYPE},
        {S7AreaM, 0, 100, 0, 0x60000064u, 0, "", S7_E_TYPE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        S7Address a;
        a.area = c.area;
        a.dbNumber = c.db;
        a.start = c.start;
        a.bit = c.bit;
        a.length = 6;
        a.dataType = S7TypeWord;
        EXPECT_EQ(c.word, CS7Types::AddressWord(a));
        S7Address back;
        back.bit = 9;
        back.length = 7;
        CS7Types::FromAddressWord(c.word, &back);
        EXPECT_EQ(c.area, back.area);
        EXPECT_EQ(c.db, back.dbNumber);
        EXPECT_EQ(c.start, back.start);
        EXPECT_EQ(9, back.bit) << "the bit is not in the word";
        EXPECT_EQ(7, back.length);
        std::string name = "old";
        EXPECT_EQ(c.result, Types().FormatItemName("PLC1", a, c.kind, name));
        EXPECT_EQ(c.name, name);
    }
    S7Address unknown;
    unknown.area = 15;
    std::string name = "old";
    EXPECT_EQ(S7_E_AREA, Types().FormatItemName("PLC1", unknown, S7ItemDigital, name));
    EXPECT_EQ("", name);
}

} // namespace
