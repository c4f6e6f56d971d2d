// Oxley's fixed tables: quality to HMI error code, the option exports, and
// the bounded copies of the display exports.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "KivTables.h"
#include "Oxley.h"

namespace {

struct QualityCase {
    uint8_t quality;
    uint16_t code;
    const char *what;
};

const QualityCase kQualities[] = {
    {0xC0, 0, "good"},
    {0xD8, 0, "good, substatus ignored"},
    {0x55, 4162, "uncertain, last usable / limited low: substatus 5 limit 1"},
    {0x56, 4163, "Parvel's uncertain, engineering units exceeded, high limited"},
    {0x54, 4163, "uncertain substatus 5 without limit"},
    {0x40, 4163, "uncertain"},
    {0x80, 4297, "bits 7-6 = 10"},
    {0x14, 4293, "bad, last known value (LatchData)"},
    {0x18, 4293, "bad, communication failure"},
    {0x08, 4293, "bad, substatus 2"},
    {0x1F, 2185, "bad, out of service, constant (a refused float)"},
    {0x1C, 4297, "bad, out of service without the constant limit"},
    {0x00, 4297, "bad, non-specific"},
    {0x04, 4297, "bad, configuration error"},
    {0x0C, 4292, "bad, substatus 3"},
    {0x10, 4292, "bad, sensor failure"},
    {0x20, 4293, "bad, substatus 8"},
    {0x3C, 4293, "bad, substatus 15"},
};

TEST(KivQuality, EachQualityByteGivesItsHmiCode)
{
    for (const QualityCase &c : kQualities)
        EXPECT_EQ(c.code, KivHmiCodeOfQuality(c.quality)) << c.what << " (0x" << std::hex << int(c.quality) << ")";
}

struct Records {
    KivDevice device;
    KivAddress address;
    KivBlock block;
    Records()
    {
        memset(&device, 0, sizeof(device));
        memset(&address, 0, sizeof(address));
        block.hmi = 0;
        block.device = &device;
        block.address = &address;
    }
};

struct OptionCase {
    const char *name;
    KivStatus status;
    uint32_t word;        // option word after kiv_popt on a word of 0x00AB0004
    const char *display;  // kiv_dopt afterwards
};

const OptionCase kOptions[] = {
    {"", 0, 0x00AB0000, ""},
    {"NONE", 0, 0x00AB0000, ""},
    {"real", 0, 0x00AB0004, "REAL"},
    {"Word", 0, 0x00AB0002, "WORD"},
    {"int", 0, 0x80AB0002, "INT"},
    {"DWORD", 0, 0x00AB0003, "DWORD"},
    {"dint", 0, 0x80AB0003, "DINT"},
    {"FLOAT", 515, 0x80AB0004, "REAL"},   // unknown: the previous word stays
};

TEST(KivOptions, ParsingANameStoresItsCodeAndSignAndDisplayGivesTheName)
{
    for (const OptionCase &c : kOptions) {
        SCOPED_TRACE(c.name);
        Records r;
        r.device.optionWord = 0x80AB0004;   // REAL with a stale signed flag
        KivStatus status = 99;
        kiv_popt(&status, &r.block, nullptr, c.name);
        EXPECT_EQ(c.status, status);
        if (c.status == 0)
            EXPECT_EQ(c.word, r.device.optionWord);
        else
            EXPECT_EQ(0x80AB0004u, r.device.optionWord);
        char text[32];
        memset(text, 'x', sizeof(text));
        kiv_dopt(&status, &r.block, nullptr, text, sizeof(text));
        if (c.status == 0) {
            EXPECT_EQ(0, status);
            EXPECT_STREQ(c.display, text);
        }
    }
}

TEST(KivOptions, DisplayOfACodeNoRowHasIsEmptyWith515)
{
    struct {
        uint32_t word;
        KivStatus status;
        const char *text;
    } cases[] = {
        {0x00000007, 515, ""},
        {0x80000004, 0, "WORD"},    // signed REAL steps to the next row
        {0x80000000, 0, ""},        // code 0 whatever the flag
        {0x80000003, 0, "DINT"},
    };
    for (const auto &c : cases) {
        Records r;
        r.device.optionWord = c.word;
        char text[16] = "junk";
        KivStatus status = 99;
        kiv_dopt(&status, &r.block, nullptr, text, sizeof(text));
        EXPECT_EQ(c.status, status) << std::hex << c.word;
        EXPECT_STREQ(c.text, text) << std::hex << c.word;
    }
}

TEST(KivOptions, EnumerationCountsEveryNameAndWritesOnlyWhatFits)
{
    struct {
        int capacity;
        bool buffer;
        KivStatus status;
        const char *written;   // the names, '|' for each NUL
    } cases[] = {
        {64, true, 0, "NONE|REAL|WORD|INT|DWORD|DINT|"},
        {30, true, 0, "NONE|REAL|WORD|INT|DWORD|DINT|"},
        {29, true, 515, "NONE|REAL|WORD|INT|DWORD|"},
        {12, true, 515, "NONE|REAL|"},
        {0, true, 515, ""},
        {0, false, 0, ""},      // kiv_OptionsSize: whatever size was passed in
        {7, false, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.capacity);
        char buffer[64];
        memset(buffer, '#', sizeof(buffer));
        int count = -1, size = c.capacity;
        KivStatus status = 99;
        if (c.buffer)
            kiv_EnumOptions(&status, &count, &size, buffer);
        else
            kiv_OptionsSize(&status, &count, &size);
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(6, count);
        EXPECT_EQ(30, size);
        std::string written;
        for (int i = 0; i < 64 && buffer[i] != '#'; ++i)
            written += buffer[i] ? buffer[i] : '|';
        EXPECT_EQ(c.written, written);
    }
}

// Every display export copies "at most size characters": the copy is cut
// so that its NUL fits, and nothing lands past size bytes.
TEST(KivDisplay, CopiesAreCutToTheBufferAndAlwaysTerminated)
{
    Records r;
    strcpy(r.address.text, "PLC1:DB10,100");
    r.device.optionWord = 3 | 0x80000000u;   // "DINT"
    struct {
        short size;
        const char *address;
        const char *option;
    } cases[] = {
        {1, "", ""}, {4, "PLC", "DIN"}, {5, "PLC1", "DINT"}, {13, "PLC1:DB10,10", "DINT"},
        {14, "PLC1:DB10,100", "DINT"}, {40, "PLC1:DB10,100", "DINT"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[48];
        KivStatus status = 99;
        memset(buffer, '#', sizeof(buffer));
        kiv_daddr(&status, &r.block, nullptr, buffer, c.size);
        EXPECT_EQ(0, status);
        EXPECT_STREQ(c.address, buffer);
        EXPECT_EQ('#', buffer[c.size]) << "nothing past size";
        memset(buffer, '#', sizeof(buffer));
        kiv_dopt(&status, &r.block, nullptr, buffer, c.size);
        EXPECT_STREQ(c.option, buffer);
        EXPECT_EQ('#', buffer[c.size]);
    }
    char buffer[4] = "###";
    kiv_daddr(nullptr, &r.block, nullptr, buffer, 0);
    EXPECT_STREQ("###", buffer) << "size 0 writes nothing";
}

TEST(KivDisplay, AnItemNeverParsedShowsTheHintAndAFullStoredTextIsStillTerminated)
{
    Records r;
    char buffer[160];
    KivStatus status = 99;
    kiv_daddr(&status, &r.block, nullptr, buffer, sizeof(buffer));
    EXPECT_EQ(0, status);
    EXPECT_STREQ("Dev:StartAddr[:Bit]", buffer);
    // A record whose text field holds no NUL at all.
    memset(r.address.text, 'A', sizeof(r.address.text));
    kiv_daddr(&status, &r.block, nullptr, buffer, sizeof(buffer));
    EXPECT_EQ(127u, strlen(buffer));
}

}  // namespace
