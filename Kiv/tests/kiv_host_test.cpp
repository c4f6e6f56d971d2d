// Oxley.dll as the HMI loads it, through the host program hmi_host.exe, on
// the driver's own store ("QOR", the library's "InternalName") without a
// server: the load refusal of a copy without its name, reads of a block the
// test creates, a write reaching the output queue, and exception points
// fetched from the queue.
#include <gtest/gtest.h>
#include <stdio.h>
#include <map>
#include "CommonMemory.h"
#include "S7Types.h"
#include "host_process.h"

namespace {

TEST(KivHost, ACopyWithoutInternalNameShowsTheBoxAndRefusesToLoad)
{
    HostProcess host("--library kiv_oxley_noname.dll --dismiss-boxes");
    ASSERT_TRUE(host.Started());
    EXPECT_EQ("load failed 1114", host.Line());   // ERROR_DLL_INIT_FAILED
    EXPECT_EQ(std::vector<std::string>{"Oxley.DLL: Server: VerQueryValue() Failed"}, host.boxes);
    EXPECT_EQ(2, host.Wait(10000));
}

class KivHostStore : public ::testing::Test {
protected:
    CCommonMemory store{STORE_STANDARD_GROUPS, "QOR"};
    uint16_t index = 0;
    const uint32_t owner = 0x4B495601;

    void SetUp() override
    {
        OutputRecord record;
        while (store.GetOutputHead(&record) == STORE_OK) {
        }
        ExceptionRecord exception;
        while (store.GetExceptionHead(&exception) == STORE_OK) {
        }
    }
    void TearDown() override
    {
        for (uint16_t i : made)
            store.DestroyDataBlock(i);
    }

    uint16_t Block(uint16_t dataType, uint16_t start, const void *bytes, uint16_t count, uint16_t status)
    {
        uint16_t i = 0;
        const uint32_t blockOwner = owner + uint32_t(made.size());
        EXPECT_EQ(0u, store.CreateDataBlock(&i, 260, blockOwner));
        owners[i] = blockOwner;
        store.SetInternalAddress(i, 1u << 28 | start, 0);
        store.SetDataBlock(i, count, bytes, 0);
        store.SetBytesInUse(i, count);
        FILETIME time = {0x11223344, 0x01D9AABB};
        store.SetDataBlock(i, 8, &time, 250);
        store.SetDataBlock(i, 2, &dataType, 258);
        store.SetDataBlockStatus(i, status);
        made.push_back(i);
        return i;
    }

    std::string Bind(HostProcess &host, const char *name, const char *kind, int count, uint16_t block,
                     uint32_t offset, uint32_t internal = 0)
    {
        char line[160];
        snprintf(line, sizeof(line), "bind %s %s %d %lu %u 0x%lx %lu", name, kind, count,
                 (unsigned long)owners[block], unsigned(block),
                 (unsigned long)(1u << 28 | 10u << 15 | offset), (unsigned long)internal);
        return host.Ask(line);
    }

    std::vector<uint16_t> made;
    std::map<uint16_t, uint32_t> owners;
};

TEST_F(KivHostStore, TheHostReadsConditionedValuesWithQualityAndTime)
{
    const uint8_t word[] = {0xFF, 0xFF};
    const uint8_t real[] = {0x00, 0x00, 0x48, 0x41};
    const uint8_t bits[] = {0x05};
    const uint8_t text[] = {8, 2, 'O', 'K'};
    const uint16_t a = Block(S7TypeWord, 100, word, 2, 0x00C0);
    const uint16_t b = Block(S7TypeReal, 200, real, 4, 0x0014);   // latched after a failure
    const uint16_t c = Block(S7TypeByte, 300, bits, 1, 0x00C0);
    const uint16_t d = Block(S7TypeString, 400, text, 4, 0x00C0);
    HostProcess host("-");
    ASSERT_EQ("loaded Oxley.dll", host.Line());
    EXPECT_EQ("bind level", Bind(host, "level", "analog", 1, a, 100));
    EXPECT_EQ("signal level 0", host.Ask("signal level Lin"));
    EXPECT_EQ("range level", host.Ask("range level 0 50"));
    EXPECT_EQ("option level 0", host.Ask("option level NONE"));
    EXPECT_EQ("show level address=Dev:StartAddr[:Bit] signal=Lin option=", host.Ask("show level"));
    EXPECT_EQ("readex level 0 last=0 quality=0x00c0 time=01d9aabb11223344 value=50", host.Ask("readex level"));
    EXPECT_EQ("read level 0 last=0 type=3 error=0 value=50", host.Ask("read level"));
    Bind(host, "temp", "analog", 1, b, 200);
    EXPECT_EQ("read temp 0 last=1 type=3 error=4293 value=12.5", host.Ask("read temp"));
    Bind(host, "bit2", "digital", 1, c, 300, 2);
    EXPECT_EQ("read bit2 0 last=0 type=4 error=0 value=1", host.Ask("read bit2"));
    Bind(host, "name", "text", 2, d, 400);
    EXPECT_EQ("read name 0 last=0 type=0 error=0 value='OK'", host.Ask("read name"));
    int access = 0;
    store.GetKIVAccess(a, &access, 0);
    EXPECT_EQ(1, access);
    EXPECT_EQ("quit 0", host.Ask("quit"));
    EXPECT_EQ(0, host.Wait(10000));
}

TEST_F(KivHostStore, AWriteReachesTheOutputQueueAndPointsComeBackFromTheExceptionQueue)
{
    const uint8_t zeros[10] = {};
    const uint16_t a = Block(S7TypeString, 100, zeros, 10, 0x00C0);
    HostProcess host("-");
    ASSERT_EQ("loaded Oxley.dll", host.Line());
    Bind(host, "name", "text", 8, a, 100);
    EXPECT_EQ("send name 0", host.Ask("send name HELLO"));
    OutputRecord record;
    ASSERT_EQ(0u, store.GetOutputHead(&record));
    EXPECT_EQ(owner, record.owner);
    EXPECT_EQ(10u, record.length);
    EXPECT_EQ(0, memcmp(record.value, "\x08\x05HELLO\0\0\0", 10));

    for (uint16_t id = 1; id <= 3; ++id) {
        ExceptionRecord point = {0, uint8_t(id + 10), 0, uint16_t(id * 100)};
        store.AddException(&point);
    }
    EXPECT_EQ("fetch 2 11:100 12:200", host.Ask("fetch 2"));
    EXPECT_EQ("fetch 1 13:300", host.Ask("fetch 5"));
    EXPECT_EQ("fetch 0", host.Ask("fetch 5"));
    EXPECT_EQ("exit-now", host.Ask("exit-now"));
    EXPECT_EQ(0, host.Wait(10000));
}

}  // namespace
