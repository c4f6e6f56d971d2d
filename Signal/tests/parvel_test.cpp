// Parvel.dll as its callers see it: loaded at run time, exports bound by name.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "Parvel.h"

namespace {

struct Parvel {
    HMODULE module = nullptr;
    PFN_GetFirstSigCond getFirst = nullptr;
    PFN_GetNextSigCond getNext = nullptr;
    PFN_ParseSigCond parse = nullptr;
    PFN_DisplaySigCond display = nullptr;
    PFN_InputSigCond32 input = nullptr;
    PFN_OutputSigCond32 output = nullptr;
};

template <typename T> T Bind(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

const Parvel &Dll()
{
    static const Parvel dll = [] {
        Parvel p;
        p.module = LoadLibraryA("Parvel.dll");
        if (p.module) {
            p.getFirst = Bind<PFN_GetFirstSigCond>(p.module, "GetFirstSigCond");
            p.getNext = Bind<PFN_GetNextSigCond>(p.module, "GetNextSigCond");
            p.parse = Bind<PFN_ParseSigCond>(p.module, "ParseSigCond");
            p.display = Bind<PFN_DisplaySigCond>(p.module, "DisplaySigCond");
            p.input = Bind<PFN_InputSigCond32>(p.module, "InputSigCond32");
            p.output = Bind<PFN_OutputSigCond32>(p.module, "OutputSigCond32");
        }
        return p;
    }();
    return dll;
}

class ParvelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Parvel &p = Dll();
        ASSERT_NE(nullptr, p.module) << "LoadLibrary(Parvel.dll) failed: " << GetLastError();
        ASSERT_TRUE(p.getFirst && p.getNext && p.parse && p.display && p.input && p.output);
    }
    const Parvel &dll = Dll();
};

const struct {
    const char *shortName;
    const char *longName;
} kTypes[] = {
    {"None", "No Signal Conditioning"},
    {"12BN", "12 Bit Binary with No Alarming"},
    {"12AL", "12 Bit Binary with Alarming"},
    {"15BN", "15 Bit Binary with No Alarming"},
    {"15AL", "15 Bit Binary with Alarming"},
    {"Lin", "Linear Signal Conditioning"},
    {"3BCD", "3 Digit Binary Coded Decimal"},
    {"4BCD", "4 Digit Binary Coded Decimal"},
    {"13BN", "13 Bit Binary with No Alarming"},
    {"13AL", "13 Bit Binary with Alarming"},
    {"8BN", "8 Bit Binary with No Alarming"},
    {"8AL", "8 Bit Binary with Alarming"},
    {"TBCD", "Timer in BCD"},
    {"S5CO", "S5 Counter"},
};

// Buffers and lengths for one name call; the buffers start filled with 'x'.
struct Names {
    char shortName[64];
    char longName[64];
    unsigned shortLength;
    unsigned longLength;
    explicit Names(unsigned shortSize = 64, unsigned longSize = 64) : shortLength(shortSize), longLength(longSize)
    {
        std::memset(shortName, 'x', sizeof shortName);
        std::memset(longName, 'x', sizeof longName);
    }
};

void ExpectEntry(unsigned index, const Names &n)
{
    SCOPED_TRACE("entry " + std::to_string(index));
    EXPECT_STREQ(kTypes[index].shortName, n.shortName);
    EXPECT_STREQ(kTypes[index].longName, n.longName);
    EXPECT_EQ(std::strlen(kTypes[index].shortName), n.shortLength);
    EXPECT_EQ(std::strlen(kTypes[index].longName), n.longLength);
}

TEST_F(ParvelTest, ExportsBindByNameAndByTheirFixedOrdinals)
{
    const char *names[] = {"GetFirstSigCond", "GetNextSigCond", "ParseSigCond",
                           "DisplaySigCond", "InputSigCond32", "OutputSigCond32"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(dll.module, names[i])),
                  reinterpret_cast<void *>(GetProcAddress(dll.module, MAKEINTRESOURCEA(i + 1))))
            << names[i];
}

TEST_F(ParvelTest, EnumerationListsEveryTypeInOrderThenAnswersNoMoreUntilRestarted)
{
    Names n;
    ASSERT_EQ(PARVEL_OK, dll.getFirst(n.shortName, &n.shortLength, n.longName, &n.longLength));
    ExpectEntry(0, n);
    for (unsigned i = 1; i < SIGCOND_COUNT; ++i) {
        Names next;
        ASSERT_EQ(PARVEL_OK, dll.getNext(next.shortName, &next.shortLength, next.longName, &next.longLength));
        ExpectEntry(i, next);
    }
    for (int again = 0; again < 3; ++again) {
        Names end;
        EXPECT_EQ(PARVEL_NO_MORE, dll.getNext(end.shortName, &end.shortLength, end.longName, &end.longLength));
        EXPECT_EQ(64u, end.shortLength);
    }
    Names restart;
    ASSERT_EQ(PARVEL_OK, dll.getFirst(restart.shortName, &restart.shortLength, restart.longName, &restart.longLength));
    ExpectEntry(0, restart);
    Names second;
    ASSERT_EQ(PARVEL_OK, dll.getNext(second.shortName, &second.shortLength, second.longName, &second.longLength));
    ExpectEntry(1, second);
}

TEST_F(ParvelTest, DisplayCopiesAnyEntryWithoutMovingTheEnumeration)
{
    Names n;
    ASSERT_EQ(PARVEL_OK, dll.getFirst(n.shortName, &n.shortLength, n.longName, &n.longLength));
    for (unsigned i = 0; i < SIGCOND_COUNT; ++i) {
        Names d;
        ASSERT_EQ(PARVEL_OK, dll.display(i, d.shortName, &d.shortLength, d.longName, &d.longLength));
        ExpectEntry(i, d);
    }
    for (unsigned bad : {14u, 15u, 0xFFFFFFFFu}) {
        Names d;
        EXPECT_EQ(PARVEL_NO_MORE, dll.display(bad, d.shortName, &d.shortLength, d.longName, &d.longLength)) << bad;
    }
    Names next;
    ASSERT_EQ(PARVEL_OK, dll.getNext(next.shortName, &next.shortLength, next.longName, &next.longLength));
    ExpectEntry(1, next);
}

// Entry 5 is "Lin" (3 characters) / "Linear Signal Conditioning" (26).
TEST_F(ParvelTest, ABufferMustHoldItsTextAndTerminator)
{
    const struct {
        unsigned shortSize, longSize;
        int result;
    } cases[] = {
        {4, 27, PARVEL_OK},
        {3, 27, PARVEL_BUFFER_TOO_SMALL},
        {4, 26, PARVEL_BUFFER_TOO_SMALL},
        {0, 0, PARVEL_BUFFER_TOO_SMALL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.shortSize) + "/" + std::to_string(c.longSize));
        Names n(c.shortSize, c.longSize);
        EXPECT_EQ(c.result, dll.display(5, n.shortName, &n.shortLength, n.longName, &n.longLength));
        if (c.result == PARVEL_OK) {
            ExpectEntry(5, n);
        } else {
            EXPECT_EQ(c.shortSize, n.shortLength);
            EXPECT_EQ(c.longSize, n.longLength);
            EXPECT_EQ('x', n.shortName[0]);
            EXPECT_EQ('x', n.longName[0]);
        }
    }
    Names tiny(1, 1);
    EXPECT_EQ(PARVEL_BUFFER_TOO_SMALL, dll.getFirst(tiny.shortName, &tiny.shortLength, tiny.longName, &tiny.longLength));
    EXPECT_EQ(1u, tiny.shortLength);
}

TEST_F(ParvelTest, ATooSmallBufferStillConsumesTheNextEntry)
{
    Names first;
    ASSERT_EQ(PARVEL_OK, dll.getFirst(first.shortName, &first.shortLength, first.longName, &first.longLength));
    Names tiny(2, 2);
    EXPECT_EQ(PARVEL_BUFFER_TOO_SMALL, dll.getNext(tiny.shortName, &tiny.shortLength, tiny.longName, &tiny.longLength));
    Names next;
    ASSERT_EQ(PARVEL_OK, dll.getNext(next.shortName, &next.shortLength, next.longName, &next.longLength));
    ExpectEntry(2, next);
}

TEST_F(ParvelTest, ParseMatchesShortNamesWithoutRegardToCase)
{
    const struct {
        const char *name;
        int result;
        unsigned index;
    } cases[] = {
        {"", PARVEL_OK, 0},          {"None", PARVEL_OK, 0},     {"lin", PARVEL_OK, 5},
        {"LIN", PARVEL_OK, 5},       {"12bn", PARVEL_OK, 1},     {"12AL", PARVEL_OK, 2},
        {"15bn", PARVEL_OK, 3},      {"15Al", PARVEL_OK, 4},     {"3bcd", PARVEL_OK, 6},
        {"4BCD", PARVEL_OK, 7},      {"13bn", PARVEL_OK, 8},     {"13al", PARVEL_OK, 9},
        {"8bn", PARVEL_OK, 10},      {"8AL", PARVEL_OK, 11},     {"tbcd", PARVEL_OK, 12},
        {"S5CO", PARVEL_OK, 13},     {"s5ti", PARVEL_OK, 12},    {"S5TI", PARVEL_OK, 12},
        {"XYZ", PARVEL_UNKNOWN_NAME, 14}, {"Lin ", PARVEL_UNKNOWN_NAME, 14},
        {"Li", PARVEL_UNKNOWN_NAME, 14},  {"Linear", PARVEL_UNKNOWN_NAME, 14},
        {"No Signal Conditioning", PARVEL_UNKNOWN_NAME, 14},
    };
    for (const auto &c : cases) {
        unsigned index = 99;
        EXPECT_EQ(c.result, dll.parse(c.name, &index)) << '"' << c.name << '"';
        EXPECT_EQ(c.index, index) << '"' << c.name << '"';
    }
}

const float kUntouched = -12345.0f;
const int kUntouchedRaw = 0x5A5A;
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct InputCase {
    const char *what;
    unsigned type;
    float low, span;
    int raw;
    int flags;
    uint16_t qualityIn;
    float value; // kUntouched: no value written
    uint16_t qualityOut;
};

const InputCase kInputCases[] = {
    {"None passes the raw value", 0, 10, 50, 1234, 0, 0x0000, 1234, 0x00C0},
    {"None negative", 0, 0, 0, -7, 0, 0x0000, -7, 0x00C0},
    {"good keeps the high byte and limit bits", 0, 0, 0, 5, 0, 0x1203, 5, 0x12C3},
    {"12BN scales", 1, 0, 4095, 0x0ABC, 0, 0, 0x0ABC, 0xC0},
    {"12BN masks bits above 11", 1, 0, 4095, 0xF123, 0, 0, 0x123, 0xC0},
    {"12BN full scale", 1, 10, 100, 4095, 0, 0, 110, 0xC0},
    {"12AL full scale", 2, 10, 100, 4095, 0, 0, 110, 0xC0},
    {"12AL 4096 out of range, value unmasked", 2, 10, 4095, 4096, 0, 0, 4106, 0x56},
    {"12AL negative is above as unsigned", 2, 10, 4095, -1, 0, 0xAB00, 9, 0xAB56},
    {"15BN masks bit 15", 3, 0, 32767, 0x8064, 0, 0, 100, 0xC0},
    {"15BN with low", 3, -50, 100, 32767, 0, 0, 50, 0xC0},
    {"15AL full scale", 4, 0, 32767, 32767, 0, 0, 32767, 0xC0},
    {"15AL 32768 out of range", 4, 0, 32767, 32768, 0, 0, 32768, 0x56},
    {"Lin full scale", 5, 0, 100, 65535, 0, 0, 100, 0xC0},
    {"Lin zero", 5, 20, 100, 0, 0, 0, 20, 0xC0},
    {"Lin signed lowest", 5, 20, 100, -32768, INT_MIN, 0, 20, 0xC0},
    {"Lin signed highest", 5, 20, 100, 32767, INT_MIN, 0, 120, 0xC0},
    {"Lin signed offset cannot overflow", 5, 0, 1, INT_MAX, INT_MIN, 0, 32769, 0xC0},
    {"3BCD full scale", 6, 0, 999, 0x0999, 0, 0, 999, 0xC0},
    {"3BCD digits", 6, 0, 999, 0x0123, 0, 0, 123, 0xC0},
    {"3BCD ignores bits above 11", 6, 0, 999, 0xF456, 0, 0, 456, 0xC0},
    {"3BCD bad top digit", 6, 0, 999, 0x0A12, 0, 0, kUntouched, 0x10},
    {"3BCD bad middle digit keeps limit bits", 6, 0, 999, 0x01B2, 0, 0x0003, kUntouched, 0x13},
    {"3BCD bad digit keeps the high byte", 6, 0, 999, 0x000C, 0, 0x7700, kUntouched, 0x7710},
    {"4BCD full scale", 7, 0, 9999, 0x9999, 0, 0, 9999, 0xC0},
    {"4BCD digits with low", 7, 1, 9999, 0x1234, 0, 0, 1235, 0xC0},
    {"4BCD bad top digit", 7, 0, 9999, 0xA000, 0, 0, kUntouched, 0x10},
    {"4BCD bad low digit", 7, 0, 9999, 0x000F, 0, 0, kUntouched, 0x10},
    {"13BN masks bits above 12", 8, 0, 8191, 0xFFFF, 0, 0, 8191, 0xC0},
    {"13AL full scale", 9, 0, 8191, 8191, 0, 0, 8191, 0xC0},
    {"13AL 8192 out of range", 9, 0, 8191, 8192, 0, 0, 8192, 0x56},
    {"8BN masks bits above 7", 10, 0, 255, 0x1FF, 0, 0, 255, 0xC0},
    {"8BN half scale", 10, 0, 100, 51, 0, 0, 20, 0xC0},
    {"8AL full scale", 11, 0, 255, 255, 0, 0, 255, 0xC0},
    {"8AL 256 out of range", 11, 0, 255, 256, 0, 0, 256, 0x56},
    {"TBCD base 2 is seconds", 12, 10, 50, 0x2123, 0, 0, 123, 0xC0},
    {"TBCD base 0 is hundredths", 12, 10, 50, 0x0999, 0, 0, 9.99f, 0xC0},
    {"TBCD base 1 is tenths", 12, 0, 0, 0x1050, 0, 0, 5, 0xC0},
    {"TBCD base 3 is tens", 12, 0, 0, 0x3999, 0, 0, 9990, 0xC0},
    {"TBCD bad digit", 12, 0, 0, 0x0A00, 0, 0, kUntouched, 0x10},
    {"S5CO count in bits 3-15", 13, 10, 50, 999 << 3, 0, 0, 999, 0xC0},
    {"S5CO low bits become bits 13-15", 13, 0, 0, 0x0005, 0, 0, 5 << 13, 0xC0},
    {"S5CO all ones", 13, 0, 0, 0xFFFF, 0, 0, 65535, 0xC0},
    {"unknown type", 14, 0, 100, 5, 0, 0x0000, kUntouched, 0x04},
    {"unknown type keeps bits 0-2 and the high byte", 0xFFFFFFFF, 0, 100, 5, 0, 0x5503, kUntouched, 0x5507},
};

// A failing case names itself rather than dumping its bytes.
void PrintTo(const InputCase &c, std::ostream *os) { *os << c.what; }

class InputTable : public ParvelTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(InputTable, ConvertsRawToValueAndMarksQuality)
{
    const InputCase &c = GetParam();
    float value = kUntouched;
    unsigned short quality = c.qualityIn;
    dll.input(c.type, c.low, c.span, c.raw, &value, c.flags, &quality);
    EXPECT_FLOAT_EQ(c.value, value);
    EXPECT_EQ(c.qualityOut, quality) << std::hex << "0x" << quality;
}

template <typename Case> std::string CaseName(const ::testing::TestParamInfo<Case> &info)
{
    std::string name;
    for (const char *p = info.param.what; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(Parvel, InputTable, ::testing::ValuesIn(kInputCases), CaseName<InputCase>);

struct OutputCase {
    const char *what;
    unsigned type;
    float low, span;
    float value;
    int flags;
    uint16_t qualityIn;
    int raw; // kUntouchedRaw: nothing written
    uint16_t qualityOut;
};

const OutputCase kOutputCases[] = {
    {"None rounds half away from zero", 0, 0, 0, 2.5f, 0, 0, 3, 0xC0},
    {"None rounds negative half away from zero", 0, 0, 0, -2.5f, 0, 0, -3, 0xC0},
    {"None below half", 0, 0, 0, 2.49f, 0, 0, 2, 0xC0},
    {"None negative below half", 0, 0, 0, -2.4f, 0, 0, -2, 0xC0},
    {"None just below one half rounds down", 0, 0, 0, 0.49999997f, 0, 0, 0, 0xC0},
    {"None keeps the high byte", 0, 0, 0, 7, 0, 0x3400, 7, 0x34C0},
    {"None saturates high", 0, 0, 0, 3e9f, 0, 0, INT_MAX, 0xC0},
    {"None saturates low", 0, 0, 0, -3e9f, 0, 0, INT_MIN, 0xC0},
    {"None inf saturates", 0, 0, 0, kInf, 0, 0, INT_MAX, 0xC0},
    {"None minus inf saturates", 0, 0, 0, -kInf, 0, 0, INT_MIN, 0xC0},
    {"None NaN gives 0", 0, 0, 0, kNaN, 0, 0, 0, 0xC0},
    {"12BN full scale", 1, 0, 100, 100, 0, 0, 4095, 0xC0},
    {"12BN rounds at half up", 1, 0, 100, 50, 0, 0, 2048, 0xC0},
    {"12BN below low is negative, not clamped", 1, 0, 100, -1, 0, 0, -40, 0xC0},
    {"12BN above high is not clamped", 1, 0, 100, 200, 0, 0, 8190, 0xC0},
    {"12BN huge saturates", 1, 0, 100, 1e30f, 0, 0, INT_MAX, 0xC0},
    {"12BN NaN gives 0", 1, 0, 100, kNaN, 0, 0, 0, 0xC0},
    {"12AL with low", 2, 10, 100, 110, 0, 0, 4095, 0xC0},
    {"15BN scales in double precision", 3, 0, 100, 3.06253242f, 0, 0, 1003, 0xC0},
    {"15AL rounds the scaled value to single first", 4, 0, 100, 3.06253242f, 0, 0, 1004, 0xC0},
    {"15AL full scale", 4, 0, 100, 100, 0, 0, 32767, 0xC0},
    {"Lin full scale", 5, 0, 100, 100, 0, 0, 65535, 0xC0},
    {"Lin signed highest", 5, 0, 100, 100, INT_MIN, 0, 32767, 0xC0},
    {"Lin signed lowest", 5, 0, 100, 0, INT_MIN, 0, -32768, 0xC0},
    {"Lin signed middle", 5, 0, 100, 50, INT_MIN, 0, 0, 0xC0},
    {"Lin signed inf saturates before the offset", 5, 0, 100, kInf, INT_MIN, 0, 32767, 0xC0},
    {"3BCD digits", 6, 0, 999, 123, 0, 0, 0x0123, 0xC0},
    {"3BCD full scale", 6, 0, 999, 999.4f, 0, 0, 0x0999, 0xC0},
    {"3BCD 1000 becomes 999", 6, 0, 999, 1000, 0, 0, 0x0999, 0xC0},
    {"3BCD below low clamps at 0", 6, 0, 999, -5, 0, 0, 0x0000, 0xC0},
    {"3BCD minus inf clamps at 0", 6, 0, 999, -kInf, 0, 0, 0x0000, 0xC0},
    {"3BCD inf clamps at 999", 6, 0, 999, kInf, 0, 0, 0x0999, 0xC0},
    {"3BCD NaN gives 0", 6, 0, 999, kNaN, 0, 0, 0x0000, 0xC0},
    {"4BCD digits with low", 7, 1, 9999, 1235, 0, 0, 0x1234, 0xC0},
    {"4BCD above 9999 becomes 9999", 7, 0, 9999, 10000, 0, 0, 0x9999, 0xC0},
    {"4BCD below low clamps at 0", 7, 100, 9999, 99, 0, 0, 0x0000, 0xC0},
    {"13BN full scale", 8, 0, 100, 100, 0, 0, 8191, 0xC0},
    {"13AL half scale", 9, 0, 100, 50, 0, 0, 4096, 0xC0},
    {"8BN rounds at half up", 10, 0, 100, 50, 0, 0, 128, 0xC0},
    {"8AL full scale", 11, 0, 100, 100, 0, 0, 255, 0xC0},
    {"TBCD hundredths", 12, 10, 50, 9.99f, 0, 0, 0x0999, 0xC0},
    {"TBCD seconds", 12, 10, 50, 100, 0, 0, 0x2100, 0xC0},
    {"TBCD above 9990 becomes 9990", 12, 0, 0, 12345, 0, 0, 0x3999, 0xC0},
    {"TBCD ten seconds in tenths", 12, 0, 0, 10, 0, 0, 0x1100, 0xC0},
    {"TBCD tenths", 12, 0, 0, 99.9f, 0, 0, 0x1999, 0xC0},
    {"TBCD hundredths below ten", 12, 0, 0, 1.5f, 0, 0, 0x0150, 0xC0},
    {"TBCD nonzero below 0.01 becomes 0.01", 12, 0, 0, 0.001f, 0, 0, 0x0001, 0xC0},
    {"TBCD zero", 12, 0, 0, 0, 0, 0, 0x0000, 0xC0},
    {"TBCD inf becomes 9990", 12, 0, 0, kInf, 0, 0, 0x3999, 0xC0},
    {"TBCD NaN gives 0", 12, 0, 0, kNaN, 0, 0, 0x0000, 0xC0},
    {"S5CO count into bits 3-15", 13, 10, 50, 999, 0, 0, 999 << 3, 0xC0},
    {"S5CO takes the integer part", 13, 0, 0, 999.9f, 0, 0, 999 << 3, 0xC0},
    {"S5CO keeps 13 bits", 13, 0, 0, 8193, 0, 0, 1 << 3, 0xC0},
    {"S5CO inf saturates then masks", 13, 0, 0, kInf, 0, 0, 0x1FFF << 3, 0xC0},
    {"12BN span 0 is a configuration error", 1, 0, 0, 5, 0, 0, kUntouchedRaw, 0x04},
    {"15AL span 0 keeps bits 0-2 and high byte", 4, 0, 0, 5, 0, 0x1203, kUntouchedRaw, 0x1207},
    {"Lin span 0", 5, 0, 0, 5, 0, 0, kUntouchedRaw, 0x04},
    {"3BCD span 0", 6, 0, 0, 5, 0, 0, kUntouchedRaw, 0x04},
    {"4BCD span 0", 7, 0, 0, 5, 0, 0, kUntouchedRaw, 0x04},
    {"8AL span 0", 11, 0, 0, 5, 0, 0, kUntouchedRaw, 0x04},
    {"unknown type", 14, 0, 100, 5, 0, 0, kUntouchedRaw, 0x04},
    {"unknown type keeps bits 0-2", 200, 0, 100, 5, 0, 0x0003, kUntouchedRaw, 0x07},
};

void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.what; }

class OutputTable : public ParvelTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTable, ConvertsValueToRawAndMarksQuality)
{
    const OutputCase &c = GetParam();
    int raw = kUntouchedRaw;
    unsigned short quality = c.qualityIn;
    dll.output(c.type, c.low, c.span, c.value, &raw, c.flags, &quality);
    EXPECT_EQ(c.raw, raw) << std::hex << "0x" << raw;
    EXPECT_EQ(c.qualityOut, quality) << std::hex << "0x" << quality;
}

INSTANTIATE_TEST_SUITE_P(Parvel, OutputTable, ::testing::ValuesIn(kOutputCases), CaseName<OutputCase>);

int Bcd(int n, int digits)
{
    int bits = 0;
    for (int i = 0; i < digits; ++i, n /= 10)
        bits |= (n % 10) << (4 * i);
    return bits;
}

// Input then output: the raw value the output conversion makes of what the
// input conversion read. Both qualities are returned.
struct Trip {
    int back;
    float value;
    unsigned short inQuality, outQuality;
};
Trip RoundTrip(const Parvel &dll, unsigned type, float low, float span, int raw, int flags)
{
    Trip t{kUntouchedRaw, kUntouched, 0, 0};
    dll.input(type, low, span, raw, &t.value, flags, &t.inQuality);
    dll.output(type, low, span, t.value, &t.back, flags, &t.outQuality);
    return t;
}

// Every raw value a type can read comes back unchanged through its output
// conversion, with an odd low and span so that rounding is exercised.
TEST_F(ParvelTest, EveryValidRawValueSurvivesInputThenOutput)
{
    const struct {
        unsigned type;
        int flags;
        int from, to; // raw range, or the number range of the BCD types
    } types[] = {
        {1, 0, 0, 4095}, {2, 0, 0, 4095}, {3, 0, 0, 32767}, {4, 0, 0, 32767},
        {5, 0, 0, 65535}, {5, INT_MIN, -32768, 32767}, {6, 0, 0, 999}, {7, 0, 0, 9999},
        {8, 0, 0, 8191}, {9, 0, 0, 8191}, {10, 0, 0, 255}, {11, 0, 0, 255}, {13, 0, 0, 8191},
    };
    for (const auto &t : types) {
        int failures = 0;
        for (int i = t.from; i <= t.to && failures < 5; ++i) {
            int raw = t.type == 6 ? Bcd(i, 3) : t.type == 7 ? Bcd(i, 4) : t.type == 13 ? i << 3 : i;
            Trip trip = RoundTrip(dll, t.type, -20.3f, 170.7f, raw, t.flags);
            if (trip.back != raw || trip.inQuality != 0xC0 || trip.outQuality != 0xC0) {
                ++failures;
                ADD_FAILURE() << "type " << t.type << " raw " << raw << " value " << trip.value << " back "
                              << trip.back;
            }
        }
    }
}

// Timer codes in their normal form (no leading zero digit above base 0) come
// back unchanged; the other spellings of a time come back normalised.
TEST_F(ParvelTest, TimerCodesComeBackInNormalForm)
{
    for (int base = 0; base < 4; ++base)
        for (int n = base == 0 ? 0 : 100; n <= 999; ++n) {
            int raw = Bcd(n, 3) | base << 12;
            Trip trip = RoundTrip(dll, SIGCOND_TBCD, 0, 0, raw, 0);
            ASSERT_EQ(raw, trip.back) << "value " << trip.value;
        }
    const struct {
        int raw, normal;
    } spellings[] = {{0x1001, 0x0010}, {0x2099, 0x1990}, {0x3000, 0x0000}, {0x3001, 0x1100}};
    for (const auto &s : spellings)
        EXPECT_EQ(s.normal, RoundTrip(dll, SIGCOND_TBCD, 0, 0, s.raw, 0).back) << std::hex << s.raw;
}

} // namespace
