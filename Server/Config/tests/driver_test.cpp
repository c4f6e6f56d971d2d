// The channel, device and driver at run time: worker threads, one request
// in flight per device with its busy and refusal answers, connection
// switching, the start rule, HMI address resolution, and polls against the
// simulated controller.
#include "Channel.h"
#include "DataBlock.h"
#include "Duration.h"
#include "Device.h"
#include "Driver.h"
#include "LogTestDoubles.h"
#include "S7Library.h"
#include "S7Sim.h"
#include "ServerMsg.h"
#include "Store.h"
#include "XActionProcessor.h"
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <memory>

#include "config_values.h"
#include "fake_driver_clock.h"

namespace {

// The simulated controllers of this program. The library reads its
// catalogue once per process, so this one also holds the data-block
// tests' entries and is loaded before any test runs.
const char *const kCp = "CPDRV";
const char *const kVfd = "VFDDRV";

class CatalogueEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        char dir[MAX_PATH];
        GetTempPathA(sizeof(dir), dir);
        std::string path = std::string(dir) + "server_config_driver.cfg";
        FILE *f = fopen(path.c_str(), "w");
        fprintf(f,
                "cp CPBLK\nvfd CPBLK VFDBLK\nconnection CPBLK VFDBLK PLCBLK1\n"
                "cp CPDRV\nvfd CPDRV VFDDRV\n"
                "connection CPDRV VFDDRV PLCA\nconnection CPDRV VFDDRV PLCB\n"
                "connection CPDRV VFDDRV PLCC\nconnection CPDRV VFDDRV PLCD\n"
                "connection CPDRV VFDDRV PLCE\n"
                "vfd CPDRV VFDDRV2\nconnection CPDRV VFDDRV2 PLCF\nconnection CPDRV VFDDRV2 PLCG\n");
        fclose(f);
        SetEnvironmentVariableA("S732_CONFIG", path.c_str());
        S7CpList *cps = nullptr;
        HRESULT code = 0;
        if (SUCCEEDED(QOREnumerateCps(&cps, &code)) && cps)
            QORFreeCpList(cps);
    }
};
testing::Environment *const g_catalogue = testing::AddGlobalTestEnvironment(new CatalogueEnvironment);

using namespace configtest;

std::string Get(CConfigObject &o, const char *name)
{
    VARIANT v;
    VariantInit(&v);
    LONG code = 0;
    o.GetProperty(name, &v, &code);
    std::string text;
    if (V_VT(&v) == VT_BSTR)
        text = ConfigValue::Narrow(V_BSTR(&v));
    VariantClear(&v);
    return text;
}

bool WaitFor(const std::function<bool()> &cond, DWORD limitMs = 15000)
{
    ULONGLONG end = GetTickCount64() + limitMs;
    while (!cond()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(1);
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> g_alarms;
std::mutex g_alarmsLock;
void RecordAlarm(const char *text, const char *source)
{
    std::lock_guard<std::mutex> guard(g_alarmsLock);
    g_alarms.emplace_back(text, source);
}
int AlarmsContaining(const std::string &part)
{
    std::lock_guard<std::mutex> guard(g_alarmsLock);
    int n = 0;
    for (const auto &a : g_alarms)
        n += a.first.find(part) != std::string::npos;
    return n;
}

// A message owner that is not a data block: it counts what comes back.
class FakeBlock : public IMsgBlock {
public:
    explicit FakeBlock(IMsgDevice *device) : m_device(device) {}
    IMsgDevice *GetMsgDevice() override { return m_device; }
    void AddMsgRetry() override {}
    void AddMsgTimeout() override {}
    void TakeBackMsg(CProtocolMsg *msg) override
    {
        std::lock_guard<std::mutex> guard(lock);
        back.push_back(msg);
    }
    bool IsDataMonitorOn() override { return false; }
    void SendToDataMonitor(const BYTE *, DWORD, int) override {}
    size_t Back()
    {
        std::lock_guard<std::mutex> guard(lock);
        return back.size();
    }
    std::mutex lock;
    std::vector<CProtocolMsg *> back;

private:
    IMsgDevice *m_device;
};

// What the device hands over, and the scripted answers of the processor.
struct SubmitScript {
    std::mutex lock;
    std::vector<CProtocolMsg *> sent;
    std::vector<LONG> answers;   // consumed from the front; empty: accept
};
SubmitScript *g_script = nullptr;

LONG ScriptedSubmit(CXActionProcessor *, CProtocolMsg *msg)
{
    std::lock_guard<std::mutex> guard(g_script->lock);
    g_script->sent.push_back(msg);
    LONG answer = 1;
    if (!g_script->answers.empty()) {
        answer = g_script->answers.front();
        g_script->answers.erase(g_script->answers.begin());
    }
    if (answer == CXActionProcessor::SubmitBusy)
        return answer;                  // the request is left untouched
    if (answer < 0)
        msg->Complete(CXAction::StateCompleted, CXAction::SubError);
    else
        msg->Complete(CXAction::StateStarted, CXAction::SubInProgress);
    return answer;
}

// A driver (stopped, so the scan thread leaves the devices to the test)
// with channel Ch1 on the simulated VFD and device Dev1 on PLCA, backup PLCB.
class DriverTree : public testing::Test {
protected:
    void SetUp() override
    {
        log.reset(new CServerMsg("QOR"));
        log->SetSwitch(SeverityInfo, TRUE);
        log->SetView(&view);
        SetConfigHmiAlarmLine(RecordAlarm);
        {
            std::lock_guard<std::mutex> guard(g_alarmsLock);
            g_alarms.clear();
        }
        driver.reset(new CDriver("QOR", "QOR I/O Server", "7.10"));
        channel = new CChannel;
        ASSERT_EQ(0, Set(*channel, "Name", Text("Ch1")));
        ASSERT_EQ(0, Set(*channel, "PrimaryCPName", Text(kCp)));
        ASSERT_EQ(0, Set(*channel, "PrimaryVFDName", Text(kVfd)));
        ASSERT_EQ(0, driver->AddChannel(channel));
        device = new CDevice;
        ASSERT_EQ(0, Set(*device, "Name", Text("Dev1")));
        ASSERT_EQ(0, Set(*device, "PrimaryConnName", Text("PLCA")));
        ASSERT_EQ(0, Set(*device, "BackupConnName", Text("PLCB")));
        ASSERT_EQ(0, channel->AddDevice(device));
        ASSERT_EQ(0, Set(*channel, "Enabled", I2(1)));
        ASSERT_EQ(0, Set(*device, "Enabled", I2(1)));
    }
    void TearDown() override
    {
        SetDeviceSubmit(nullptr);
        g_script = nullptr;
        driver.reset();
        log->SetView(nullptr);
        log.reset();
        SetConfigHmiAlarmLine(nullptr);
    }
    int LinesContaining(const std::string &part)
    {
        int n = 0;
        for (const std::string &t : view.Texts())
            n += t.find(part) != std::string::npos;
        return n;
    }

    CRecordingLogView view;
    std::unique_ptr<CServerMsg> log;
    std::unique_ptr<CDriver> driver;
    CChannel *channel = nullptr;
    CDevice *device = nullptr;
};

TEST_F(DriverTree, ChannelThreadsStopWithTheChannel)
{
    EXPECT_TRUE(channel->IsThreaded());
    EXPECT_NE(nullptr, channel->WakeEvent());
    // Running, with an enabled device on an open VFD: the channel still goes
    // away at once (its threads wake on the stop event, not on their sleep).
    while (PendingProcessorDestroys() > 0)
        Sleep(1);
    FakeBlock owner(device);
    CProtocolMsg msg(&owner);
    device->ReadQueue().AddTail(&msg);
    ASSERT_EQ(0, driver->Start(false));
    // The scan thread sends it; the processor fails it (it names no
    // variable) and the parse thread hands it back.
    ASSERT_TRUE(WaitFor([&] { return owner.Back() == 1; }));
    EXPECT_NE(nullptr, device->HeldRecord());
    EXPECT_EQ(0, device->InFlight());
    EXPECT_EQ(0, driver->RemoveChannel(channel));
    EXPECT_EQ(0, driver->Stop());

    CChannel prototype(false, false);
    EXPECT_FALSE(prototype.IsThreaded());
    EXPECT_EQ(CFG_E_NO_THREADS, prototype.Enable(false));
}

TEST_F(DriverTree, OneRequestInFlightReadsAndWritesTakeTurns)
{
    SubmitScript script;
    g_script = &script;
    SetDeviceSubmit(ScriptedSubmit);
    FakeBlock owner(device);
    CProtocolMsg r1(&owner), r2(&owner), w1(&owner), w2(&owner);
    device->ReadQueue().AddTail(&r1);
    device->ReadQueue().AddTail(&r2);
    device->WriteQueue().AddTail(&w1);
    device->WriteQueue().AddTail(&w2);

    std::vector<CProtocolMsg *> order;
    for (int round = 0; round < 4; ++round) {
        device->Send();
        device->Send();   // nothing more while one is in flight
        ASSERT_EQ(size_t(round + 1), script.sent.size());
        EXPECT_EQ(1, device->InFlight());
        CProtocolMsg *msg = script.sent.back();
        order.push_back(msg);
        EXPECT_EQ("PLCA", std::string(msg->GetConnectionName())) << "bound to the connection in use";
        EXPECT_EQ(kVfd, msg->m_vfdName);
        msg->Complete(CXAction::StateCompleted, CXAction::SubSuccess);
        channel->WakeParseThread();
        ASSERT_TRUE(WaitFor([&] { return owner.Back() == size_t(round + 1); }));
        EXPECT_EQ(0, device->InFlight());
    }
    EXPECT_EQ((std::vector<CProtocolMsg *>{&r1, &w1, &r2, &w2}), order);
    device->Send();
    EXPECT_EQ(4u, script.sent.size()) << "both queues empty";
}

TEST_F(DriverTree, BusyGoesBackToTheHeadAndRefusalCountsDownOnce)
{
    SubmitScript script;
    script.answers = {CXActionProcessor::SubmitBusy, CXActionProcessor::SubmitFailed};
    g_script = &script;
    SetDeviceSubmit(ScriptedSubmit);
    FakeBlock owner(device);
    CProtocolMsg older(&owner), newer(&owner);
    device->WriteQueue().AddTail(&older);
    device->WriteQueue().AddTail(&newer);

    // Busy: the request stays first in its queue, nothing is in flight.
    device->Send();
    EXPECT_EQ(0, device->InFlight());
    EXPECT_EQ(1, LinesContaining("Connection Resource Busy."));
    ASSERT_EQ(2u, device->WriteQueue().GetCount());
    EXPECT_EQ(&older, device->WriteQueue().Items().front()) << "an older write never follows a newer one";
    EXPECT_EQ(0u, channel->ActiveQueue().GetCount());

    // Refused: the parse thread completes it as failed and counts it down once.
    device->Send();
    ASSERT_EQ(2u, script.sent.size());
    EXPECT_EQ(&older, script.sent[1]);
    ASSERT_TRUE(WaitFor([&] { return owner.Back() == 1; }));
    EXPECT_EQ(0, device->InFlight());
    device->ReleaseOutstanding();
    EXPECT_EQ(0, device->InFlight()) << "the count never goes negative";

    // The next one goes out as usual.
    device->Send();
    ASSERT_EQ(3u, script.sent.size());
    EXPECT_EQ(&newer, script.sent[2]);
    EXPECT_EQ(1, device->InFlight());
    device->Stop(0);
    EXPECT_EQ(0, device->InFlight()) << "a stop takes the active request back";
    EXPECT_EQ(2u, owner.Back());
}

TEST_F(DriverTree, SwitchingConnections)
{
    device->HandleConnection();
    EXPECT_TRUE(device->IsUsingPrimary()) << "no request, no switch";

    EXPECT_EQ(0, device->RequestSwitch());
    device->HandleConnection();
    EXPECT_FALSE(device->IsUsingPrimary());
    EXPECT_EQ("PLCB", Get(*device, "ConnNameInUse"));
    EXPECT_EQ(1, LinesContaining("Dev1 Switching connection from PLCA to PLCB"));
    EXPECT_EQ(1, AlarmsContaining("Dev1 Switching connection from PLCA to PLCB"));

    // A start returns to the primary without a line.
    device->Start();
    device->HandleConnection();
    EXPECT_TRUE(device->IsUsingPrimary());
    EXPECT_EQ(0, LinesContaining("from PLCB to PLCA"));

    // A lost connection fails over to the backup, and recovers without retries.
    device->SetCommFailed(true);
    device->HandleConnection();
    EXPECT_FALSE(device->IsUsingPrimary());
    EXPECT_TRUE(device->Recovering());
    EXPECT_EQ(2, LinesContaining("Dev1 Switching connection from PLCA to PLCB"));
    device->SetCommFailed(false);
    EXPECT_FALSE(device->Recovering());

    // Without a backup name a switch request changes nothing and logs nothing.
    device->SetSwitchRequest(CDevice::SwitchPrimary);
    device->HandleConnection();
    ASSERT_TRUE(device->IsUsingPrimary());
    ASSERT_EQ(0, Set(*device, "BackupConnName", Text("")));
    size_t lines = view.Texts().size();
    device->RequestSwitch();
    device->HandleConnection();
    EXPECT_TRUE(device->IsUsingPrimary());
    EXPECT_EQ(lines, view.Texts().size());

    // The processor is shared: one record, held once, while the device is enabled.
    ChannelConnection *record = device->HeldRecord();
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(&channel->Primary(), record);
    EXPECT_EQ(1, record->users);
    EXPECT_EQ(1, record->state);
    ASSERT_EQ(0, Set(*device, "Enabled", I2(0)));
    EXPECT_EQ(nullptr, device->HeldRecord());
    EXPECT_EQ(0, record->users);
    EXPECT_EQ(nullptr, record->processor) << "the last user's release retires the processor";
}

TEST_F(DriverTree, StartWaitsFiveSecondsAfterAStop)
{
    while (PendingProcessorDestroys() > 0)
        Sleep(1);
    g_clock = 130000000000000000ull;
    g_slept.clear();
    SetDriverClock(FakeClock, FakeSleep);
    EXPECT_EQ(0, driver->Start(false));
    EXPECT_TRUE(driver->IsRunning());
    EXPECT_EQ(0, driver->Start(false)) << "running already";
    EXPECT_EQ(1, AlarmsContaining("Driver Started"));
    EXPECT_EQ(0, driver->Stop());
    EXPECT_EQ(1, AlarmsContaining("Driver Stopped"));
    while (PendingProcessorDestroys() > 0)
        Sleep(1);

    g_clock += 20000000;   // 2 s later
    EXPECT_EQ(CFG_E_START_TOO_SOON, driver->Start(false));
    EXPECT_FALSE(driver->IsRunning());
    EXPECT_EQ(0, driver->Start(true));
    ASSERT_EQ(1u, g_slept.size());
    EXPECT_EQ(3000u, g_slept[0]) << "the rest of the 5 s";
    EXPECT_TRUE(driver->IsRunning());
    EXPECT_EQ(0, driver->Stop());
    while (PendingProcessorDestroys() > 0)
        Sleep(1);

    // A clock set back never makes the wait longer than 5 s.
    g_clock -= 36000000000ull;   // an hour back
    g_slept.clear();
    EXPECT_EQ(0, driver->Start(true));
    ASSERT_EQ(1u, g_slept.size());
    EXPECT_EQ(5000u, g_slept[0]);
    driver->Stop();
    SetDriverClock(nullptr, nullptr);
}

struct AddressCase {
    const char *text;
    LONG result;
    uint32_t internal;   // the bit, or keyword << 28
    const char *object;  // name of the handle's object, or null
};

TEST_F(DriverTree, DataAddressesAndControlNames)
{
    ASSERT_EQ(0, Set(*device, "Name", Text("PLC1")));
    CDevice *line = new CDevice;
    ASSERT_EQ(0, Set(*line, "Name", Text("Line3")));
    ASSERT_EQ(0, channel->AddDevice(line));

    uint32_t ref = 0, word = 1, internal = 1, handle = 1;
    unsigned short index = 1;
    EXPECT_EQ(0, driver->SetDataAddress("", 0, &ref, &word, &internal, &index, &handle));
    EXPECT_EQ(0, driver->SetDataAddress(kDataAddressHint, 0, &ref, &word, &internal, &index, &handle));
    EXPECT_EQ(0u, word | internal | index | handle);

    // A new block for the first address, then the same block for the same
    // address in other spellings.
    ASSERT_EQ(0, driver->SetDataAddress("  PLC1 DB10,4", 0, &ref, &word, &internal, &index, &handle));
    EXPECT_EQ(device->Reference(), ref);
    ASSERT_EQ(1u, device->DataBlocks().size());
    CDataBlock *made = device->DataBlocks()[0];
    EXPECT_EQ(made->Handle(), handle);
    EXPECT_EQ(made->StoreIndex(), index);
    EXPECT_TRUE(made->IsEnabled());
    EXPECT_FALSE(made->Name().empty()) << "an adopted block gets a name";
    const uint32_t firstWord = word;
    for (const char *same : {"PLC1:DB10:4", "plc1/db10.4", "PLC1;DB10\\4"}) {
        uint32_t w = 0, h = 0;
        ref = 0;
        EXPECT_EQ(0, driver->SetDataAddress(same, 0, &ref, &w, &internal, &index, &h)) << same;
        EXPECT_EQ(firstWord, w) << same;
        EXPECT_EQ(handle, h) << same;
    }

    // A second address in the same data block extends the block.
    ref = 0;
    ASSERT_EQ(0, driver->SetDataAddress("PLC1 DB10,20", 0, &ref, &word, &internal, &index, &handle));
    EXPECT_EQ(1u, device->DataBlocks().size());
    EXPECT_EQ(made->Handle(), handle);
    EXPECT_LE(unsigned(made->Address().start), 4u);
    EXPECT_GE(unsigned(made->Address().start) + made->Address().length, 21u);
    EXPECT_NE(firstWord, word);

    // A renamed device is still found by its reference.
    uint32_t known = device->Reference();
    ASSERT_EQ(0, Set(*device, "Name", Text("PLC9")));
    ref = known;
    EXPECT_EQ(0, driver->SetDataAddress("PLC1 DB10,4", 0, &ref, &word, &internal, &index, &handle));
    EXPECT_EQ(made->Handle(), handle);
    ASSERT_EQ(0, Set(*device, "Name", Text("PLC1")));

    const AddressCase cases[] = {
        {"PLC1", E_FAIL, 0, nullptr},
        {"NOPE DB10,4", E_FAIL, 0, nullptr},
        {"PLC1 DB10,4:3", 0, 3, "made"},
        {"!poll:Line3", 0, 0x20000000, "Line3"},
        {"!P:Line3", 0, 0x20000000, "Line3"},
        {"!Switch:Line3", 0, 0x10000000, "Line3"},
        {"!MODE:line3", 0, 0x30000000, "Line3"},
        {"!se:Line3", 0, 0x40000000, "Line3"},
        {"!x:Line3", E_FAIL, 0, nullptr},
        {"!poll:Nothing", E_FAIL, 0, nullptr},
        {"!:Line3", E_FAIL, 0, nullptr},
    };
    for (const AddressCase &c : cases) {
        ref = 0;
        handle = 0;
        internal = 0;
        EXPECT_EQ(c.result, driver->SetDataAddress(c.text, 0, &ref, &word, &internal, &index, &handle)) << c.text;
        EXPECT_EQ(c.internal, internal) << c.text;
        uint32_t expected = !c.object ? 0 : std::string(c.object) == "made" ? made->Handle() : line->Handle();
        EXPECT_EQ(expected, handle) << c.text;
    }
}

TEST_F(DriverTree, ExceptionRegistrationsAndStatusBlock)
{
    EXPECT_EQ(E_POINTER, driver->RegisterException(true, nullptr, 0, 0, 1, 1, 1, 0));
    CDataBlock *block = new CDataBlock;
    ASSERT_EQ(0, Set(*block, "StartAddress", Text("DB10,0")));
    ASSERT_EQ(0, Set(*block, "Length", I4(10)));
    ASSERT_EQ(0, device->AddDataBlock(block));
    EXPECT_EQ(E_FAIL, driver->RegisterException(true, block, 0, 0, 26, 1, 1, 0));
    EXPECT_EQ(0, driver->RegisterException(true, block, 5, 0, 1, 7, 1, 0));
    EXPECT_EQ(0, driver->RegisterException(true, block, 2, 0, 1, 8, 1, 0));
    ASSERT_EQ(2u, block->Registrations().size());
    EXPECT_EQ(2u, block->Registrations()[0].address);
    EXPECT_EQ(0, driver->RegisterException(false, block, 2, 0, 1, 8, 1, 0));
    EXPECT_EQ(1u, block->Registrations().size());

    ASSERT_NE(nullptr, driver->Store());
    ASSERT_TRUE(driver->HasStatusBlock());
    EXPECT_EQ(0, driver->PublishServerStatus(3, 1, 2, 4));
    uint16_t words[8] = {};
    ASSERT_EQ(0u, driver->Store()->GetDataBlock(driver->StatusBlockIndex(), 16, words, 0, 0));
    EXPECT_EQ(3, words[0]);
    EXPECT_EQ(1, words[2]);
    EXPECT_EQ(2, words[4]);
    EXPECT_EQ(4, words[6]);
}

TEST_F(DriverTree, ListsTheS7Configuration)
{
    VARIANT names;
    VariantInit(&names);
    LONG count = 0;
    ASSERT_EQ(0, driver->GetConnectionNames(kCp, kVfd, &names, &count));
    EXPECT_EQ(5, count);
    ASSERT_EQ(VT_ARRAY | VT_BSTR, V_VT(&names));
    LONG i = 0;
    BSTR first = nullptr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(&names), &i, &first));
    EXPECT_EQ("PLCA", ConfigValue::Narrow(first));
    SysFreeString(first);
    VariantClear(&names);
    ASSERT_EQ(0, driver->GetVfdNames(kCp, &names, &count));
    EXPECT_EQ(2, count);
    VariantClear(&names);
    ASSERT_EQ(0, driver->GetCpNames(&names, &count));
    EXPECT_GE(count, 2);
    VariantClear(&names);
    EXPECT_NE(0, driver->GetVfdNames("NOCP", &names, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(VT_EMPTY, V_VT(&names));
}

// Two channels of two devices with two blocks each, polled by the
// channels' threads from the simulated controllers into the store.
TEST_F(DriverTree, PollsATreeFromTheSimulatedControllers)
{
    DurationSeparators pinned;
    pinned.time = ":";
    pinned.decimal = ".";
    OverrideDurationSeparators(&pinned);
    CChannel *second = new CChannel;
    ASSERT_EQ(0, Set(*second, "Name", Text("Ch2")));
    ASSERT_EQ(0, Set(*second, "PrimaryCPName", Text(kCp)));
    ASSERT_EQ(0, Set(*second, "PrimaryVFDName", Text("VFDDRV2")));
    ASSERT_EQ(0, driver->AddChannel(second));
    ASSERT_EQ(0, Set(*second, "Enabled", I2(1)));
    struct Plc { CDevice *device; const char *conn; };
    std::vector<Plc> plcs = {{device, "PLCA"}};
    const char *const others[][3] = {{"Dev2", "PLCC", "1"}, {"Dev3", "PLCF", "2"}, {"Dev4", "PLCG", "2"}};
    for (const auto &o : others) {
        CDevice *d = new CDevice;
        ASSERT_EQ(0, Set(*d, "Name", Text(o[0])));
        ASSERT_EQ(0, Set(*d, "PrimaryConnName", Text(o[1])));
        ASSERT_EQ(0, (o[2][0] == '1' ? channel : second)->AddDevice(d));
        ASSERT_EQ(0, Set(*d, "Enabled", I2(1)));
        plcs.push_back({d, o[1]});
    }
    std::vector<CDataBlock *> blocks;
    std::vector<std::unique_ptr<s7sim::Controller>> controllers;
    for (size_t i = 0; i < plcs.size(); ++i) {
        controllers.emplace_back(new s7sim::Controller);
        ASSERT_TRUE(controllers.back()->Open(kCp, plcs[i].device->Channel() == channel ? kVfd : "VFDDRV2",
                                             plcs[i].conn));
        for (const char *start : {"DB10,0", "DB11,0"}) {
            CDataBlock *b = new CDataBlock;
            ASSERT_EQ(0, Set(*b, "Name", Text("B" + std::to_string(blocks.size()))));
            ASSERT_EQ(0, Set(*b, "StartAddress", Text(start)));
            ASSERT_EQ(0, Set(*b, "Length", I4(4)));
            ASSERT_EQ(0, Set(*b, "PrimaryPollTime", Text("0.1")));
            ASSERT_EQ(0, Set(*b, "AccessTime", Text("")));
            ASSERT_EQ(0, plcs[i].device->AddDataBlock(b));
            ASSERT_EQ(0, Set(*b, "Enabled", I2(1)));
            blocks.push_back(b);
        }
    }
    auto writeAll = [&](unsigned char base) {
        for (size_t i = 0; i < controllers.size(); ++i) {
            unsigned char bytes[4] = {base, (unsigned char)i, 0x10, 0x11};
            controllers[i]->WriteDb(10, 0, bytes, 4);
            bytes[2] = 0x20;
            controllers[i]->WriteDb(11, 0, bytes, 4);
        }
    };
    auto allShow = [&](unsigned char base) {
        for (size_t i = 0; i < blocks.size(); ++i) {
            unsigned char image[4] = {};
            if (driver->Store()->GetDataBlock(blocks[i]->StoreIndex(), 4, image, 0, 1) != 0)
                return false;
            unsigned char expected[4] = {base, (unsigned char)(i / 2), (unsigned char)(i % 2 ? 0x20 : 0x10), 0x11};
            if (memcmp(image, expected, 4) != 0)
                return false;
        }
        return true;
    };
    writeAll(1);
    ASSERT_EQ(0, driver->Start(false));
    EXPECT_TRUE(WaitFor([&] { return allShow(1); }));
    writeAll(2);
    EXPECT_TRUE(WaitFor([&] { return allShow(2); })) << "every block polls again";
    for (CDataBlock *b : blocks) {
        unsigned short status = 0;
        driver->Store()->GetDataBlockStatus(b->StoreIndex(), &status, nullptr);
        EXPECT_EQ(0xC0, status & 0xFF);
    }

    // The primary connection of Dev1 breaks: the device goes over to its
    // backup, and comes back on request.
    s7sim::Controller backup;
    ASSERT_TRUE(backup.Open(kCp, kVfd, "PLCB"));
    unsigned char fromBackup[4] = {9, 0, 0x10, 0x11};
    backup.WriteDb(10, 0, fromBackup, 4);
    ASSERT_EQ(0, Set(*device, "PrimaryRetries", I4(0)));
    ASSERT_EQ(0, Set(*device, "PrimaryReplyTimeout", Text("1")));
    (*controllers[0])->dropConfirmation = -1;
    EXPECT_TRUE(WaitFor([&] { return !device->IsUsingPrimary(); }));
    // The device turns its flag before it logs the line.
    EXPECT_TRUE(WaitFor([&] { return LinesContaining("Dev1 Switching connection from PLCA to PLCB") > 0; }));
    EXPECT_EQ(1, LinesContaining("Dev1 Switching connection from PLCA to PLCB"));
    EXPECT_TRUE(WaitFor([&] {
        unsigned char image[4] = {};
        driver->Store()->GetDataBlock(blocks[0]->StoreIndex(), 4, image, 0, 1);
        return image[0] == 9;
    })) << "polled over the backup";
    (*controllers[0])->dropConfirmation = 0;
    device->RequestSwitch();
    EXPECT_TRUE(WaitFor([&] { return device->IsUsingPrimary(); }));
    EXPECT_TRUE(WaitFor([&] { return LinesContaining("Dev1 Switching connection from PLCB to PLCA") > 0; }));
    EXPECT_EQ(1, LinesContaining("Dev1 Switching connection from PLCB to PLCA"));
    EXPECT_TRUE(WaitFor([&] {
        unsigned char image[4] = {};
        driver->Store()->GetDataBlock(blocks[0]->StoreIndex(), 4, image, 0, 1);
        return image[0] == 2;
    })) << "polled over the primary again";

    // A write from the HMI side: an output record in the store's queue
    // reaches the controller through the output thread and the device.
    OutputRecord out;
    memset(&out, 0, sizeof out);
    const S7Address &a = blocks[0]->Address();
    out.address = uint32_t(a.area) << 28 | uint32_t(a.dbNumber) << 15 | 1;
    out.bitAndType = uint32_t(a.dataType) << 4;
    out.owner = blocks[0]->Handle();
    out.kind = OUTPUT_ANALOG;
    out.length = 1;
    out.value[0] = 0x77;
    ASSERT_EQ(0u, driver->Store()->AddOutput(&out));
    EXPECT_TRUE(WaitFor([&] {
        unsigned char b = 0;
        controllers[0]->ReadDb(10, 1, &b, 1);
        return b == 0x77;
    })) << "written to the controller";

    EXPECT_EQ(0, driver->Stop());
    for (CDataBlock *b : blocks) {
        unsigned short status = 0xFF;
        driver->Store()->GetDataBlockStatus(b->StoreIndex(), &status, nullptr);
        EXPECT_EQ(0, status & 0xFF) << "a stop leaves the blocks at 0x00";
    }
    OverrideDurationSeparators(nullptr);
}

} // namespace

namespace {

// The present tree's threads use the store while an import builds a tree of
// its own beside it and drops it again. Whatever store pointer a thread took
// must stay whole, or a store mutex taken through it is never given back and
// the next caller (the main thread, opening the next file) waits for ever.
struct StoreUsers {
    volatile LONG stop = 0;
    volatile LONG calls = 0;
    unsigned short index = 0;
};

DWORD WINAPI UseTheStore(void *argument)
{
    StoreUsers *users = static_cast<StoreUsers *>(argument);
    while (!users->stop) {
        CCommonMemory *store = ServerStore();
        unsigned short status = 0;
        store->GetDataBlockStatus(users->index, &status, nullptr);
        store->SetDataBlockStatus(users->index, 0xC0);
        InterlockedIncrement(&users->calls);
    }
    return 0;
}

DWORD WINAPI MakeAndDropTrees(void *)
{
    for (int i = 0; i < 300; ++i)
        CDriver temporary("QORSTORE", "", "");
    return 0;
}

DWORD WINAPI OneStoreCall(void *argument)
{
    unsigned short status = 0;
    ServerStore()->GetDataBlockStatus(static_cast<StoreUsers *>(argument)->index, &status, nullptr);
    return 0;
}

} // namespace

TEST(DriverStore, TreesMadeAndDroppedBesideAPresentOneLeaveItsStoreWhole)
{
    CDriver present("QORSTORE", "", "");
    // Left alive on failure: stuck threads may still use it.
    StoreUsers *users = new StoreUsers;
    ASSERT_EQ(0u, present.Store()->CreateDataBlock(&users->index, 16, 0));
    HANDLE threads[3];
    for (HANDLE &thread : threads)
        thread = CreateThread(nullptr, 0, UseTheStore, users, 0, nullptr);
    HANDLE churn = CreateThread(nullptr, 0, MakeAndDropTrees, nullptr, 0, nullptr);
    DWORD churned = WaitForSingleObject(churn, 60000);
    InterlockedExchange(&users->stop, 1);
    DWORD stopped = WaitForMultipleObjects(3, threads, TRUE, 10000);
    ASSERT_EQ(WAIT_OBJECT_0, churned) << "making a tree waited for a store lock nobody gives back";
    ASSERT_EQ(WAIT_OBJECT_0, stopped);
    EXPECT_GT(users->calls, 0);
    // Another thread still gets the store's locks.
    HANDLE probe = CreateThread(nullptr, 0, OneStoreCall, users, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe, 10000)) << "a store lock is held for ever";
    EXPECT_EQ(ServerStore(), present.Store());
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(churn);
    CloseHandle(probe);
    present.Store()->DestroyDataBlock(users->index);
    delete users;
}
