// The tree that the data-block tests run on: a driver with channel Ch1,
// device Dev1 and block Blk1 (10 bytes) over the simulated controller
// PLCBLK1, on a store of the test's own. The driver is not started, so the
// channel's threads leave the block to the test.
#pragma once
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"
#include "Store.h"
#include "tests/s7_test_util.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "config_values.h"

namespace blocktest {

using s7test::WaitFor;

using namespace configtest;

// The simulated controller of these tests: names no other program uses.
constexpr const char *kCp = "CPBLK";
constexpr const char *kVfd = "VFDBLK";
constexpr const char *kConn = "PLCBLK1";

// The stand-in reads its catalogue once per process: a catalogue named
// before (by another test of the program) is left as it is.
inline void UseCatalogue()
{
    char current[MAX_PATH];
    if (GetEnvironmentVariableA("S732_CONFIG", current, sizeof current))
        return;
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string path = std::string(dir) + "server_config_datablock.cfg";
    if (FILE *f = fopen(path.c_str(), "w")) {
        fprintf(f, "cp CPBLK\nvfd CPBLK VFDBLK\nconnection CPBLK VFDBLK PLCBLK1\n");
        fclose(f);
    }
    SetEnvironmentVariableA("S732_CONFIG", path.c_str());
}

class BlockTree : public testing::Test {
protected:
    // storePrefix names the test's store; start is the block's address.
    BlockTree(const char *storePrefix, const char *start) : m_storePrefix(storePrefix), m_start(start) {}

    void SetUp() override
    {
        UseCatalogue();
        std::string name = m_storePrefix + std::to_string(GetCurrentProcessId());
        store.reset(new CCommonMemory(STORE_STANDARD_GROUPS, name.c_str()));
        DurationSeparators pinned;
        pinned.time = ":";
        pinned.decimal = ".";
        OverrideDurationSeparators(&pinned);
        log.reset(new CServerMsg("QOR"));
        for (LONG s : {SeverityInfo, SeverityWarning, SeverityError, SeverityDebug2})
            log->SetSwitch(s, TRUE);
        log->SetView(&view);
        driver.reset(new CDriver("QOR", "QOR I/O Server", "7.10"));
        // The driver installs the store it owns; this test's own goes on top.
        SetServerStore(store.get());
        channel = new CChannel;
        ASSERT_EQ(0, Set(*channel, "Name", Text("Ch1")));
        ASSERT_EQ(0, Set(*channel, "PrimaryCPName", Text(kCp)));
        ASSERT_EQ(0, Set(*channel, "PrimaryVFDName", Text(kVfd)));
        ASSERT_EQ(0, driver->AddChannel(channel));
        device = new CDevice;
        ASSERT_EQ(0, Set(*device, "Name", Text("Dev1")));
        ASSERT_EQ(0, Set(*device, "PrimaryConnName", Text(kConn)));
        ASSERT_EQ(0, channel->AddDevice(device));
        block = new CDataBlock;
        ASSERT_EQ(0, Set(*block, "Name", Text("Blk1")));
        ASSERT_EQ(0, Set(*block, "StartAddress", Text(m_start)));
        ASSERT_EQ(0, Set(*block, "Length", I4(10)));
        ASSERT_EQ(0, device->AddDataBlock(block));
        ASSERT_EQ(0, Set(*channel, "Enabled", I2(1)));
        ASSERT_EQ(0, Set(*device, "Enabled", I2(1)));
    }
    void TearDown() override
    {
        driver.reset();
        log->SetView(nullptr);
        log.reset();
        OverrideDurationSeparators(nullptr);
        SetServerStore(nullptr);
        store.reset();
    }

    int LinesContaining(const std::string &part) const
    {
        int n = 0;
        for (const std::string &t : view.Texts())
            n += t.find(part) != std::string::npos;
        return n;
    }
    LONG Counter(const char *name)
    {
        VARIANT v;
        VariantInit(&v);
        block->GetProperty(name, &v);
        return V_I4(&v);
    }

    std::unique_ptr<CCommonMemory> store;
    CRecordingLogView view;
    std::unique_ptr<CServerMsg> log;
    std::unique_ptr<CDriver> driver;
    CChannel *channel = nullptr;
    CDevice *device = nullptr;
    CDataBlock *block = nullptr;

private:
    std::string m_storePrefix, m_start;
};

} // namespace blocktest
