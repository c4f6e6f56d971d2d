// The configuration file: its exact bytes, a save-load-save round trip, and
// what a load does with damaged, truncated or misordered streams.
#include "Archive.h"
#include "Channel.h"
#include "ConfigFile.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "Registry.h"
#include "Store.h"
#include "CommonMemory.h"
#include <gtest/gtest.h>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <functional>
#include <limits>
#include <map>
#include <memory>

#include "config_values.h"

namespace {

const uint32_t kNone = uint32_t(-1);
const char kErrorPrefix[] = "CDriverDoc::Serialize Exception : ";

// State lines that reached the HMI alarm line (a load must post none).
std::vector<std::string> g_alarms;
void RecordAlarm(const char *text, const char *) { g_alarms.push_back(text); }

using configtest::I2;
using configtest::I4;
using configtest::R4;
using configtest::Text;
VARIANT Ms(uint32_t ms) { return Text(ms == kNone ? std::string() : MsToDurationText(ms)); }

void Set(CConfigObject &o, const char *name, VARIANT v)
{
    LONG code = -1;
    o.SetProperty(name, v, &code);
    VariantClear(&v);
    EXPECT_EQ(0, code) << o.Name() << "." << name;
}

std::string Get(CConfigObject &o, const char *name)
{
    VARIANT v, t;
    VariantInit(&v);
    VariantInit(&t);
    LONG code = -1;
    EXPECT_EQ(0, o.GetProperty(name, &v, &code)) << name;
    std::string text;
    if (V_VT(&v) == VT_BSTR)
        text = ConfigValue::Narrow(V_BSTR(&v));
    else if (SUCCEEDED(VariantChangeType(&t, &v, 0, VT_BSTR)))
        text = ConfigValue::Narrow(V_BSTR(&t));
    VariantClear(&t);
    VariantClear(&v);
    return text;
}

std::vector<uint8_t> Save(const CDriver &driver)
{
    CArchive archive;
    StoreConfiguration(archive, driver);
    return archive.Bytes();
}

ConfigLoadResult Load(const std::vector<uint8_t> &bytes, size_t size = size_t(-1))
{
    CArchive archive(bytes.data(), std::min(size, bytes.size()));
    return LoadConfiguration(archive);
}

// The tree as text: channels, their devices, their blocks.
std::string Shape(const CDriver &driver)
{
    std::string text;
    for (CChannel *c : driver.Channels()) {
        text += c->Name() + "(";
        for (CDevice *d : c->Devices()) {
            text += d->Name() + "(";
            for (CDataBlock *b : d->DataBlocks())
                text += b->Name() + " ";
            text += ")";
        }
        text += ")";
    }
    return text;
}

// A stream written by hand, field by field, as the format lays it out.
class Stream {
public:
    Stream &U16(uint16_t v) { return Byte(uint8_t(v)).Byte(uint8_t(v >> 8)); }
    Stream &U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
    Stream &Str(const std::string &s)
    {
        if (s.size() < 255) {
            Byte(uint8_t(s.size()));
        } else {
            Byte(0xFF).U16(uint16_t(s.size()));
        }
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    // Class record (new or by index) of the next object. Schema 1 is the
    // form without the end-of-tree mark.
    Stream &Object(const std::string &className, uint16_t schema = 1)
    {
        auto known = m_classes.find(className);
        if (known != m_classes.end()) {
            U16(uint16_t(0x8000 | known->second));
        } else {
            U16(0xFFFF).U16(schema).U16(uint16_t(className.size()));
            bytes.insert(bytes.end(), className.begin(), className.end());
            m_classes[className] = m_next++;
        }
        ++m_next;
        return *this;
    }
    Stream &Byte(uint8_t b)
    {
        bytes.push_back(b);
        return *this;
    }
    std::vector<uint8_t> bytes;

private:
    std::map<std::string, uint32_t> m_classes;
    uint32_t m_next = 1;
};

struct ChannelRecord {
    uint32_t counter = 4;
    std::string name = "Line1", description = "Press line", cp[2] = {"CP_L2_1:", "CP_L2_2:"},
                vfd[2] = {"VFD_A", "VFD_B"};
    uint32_t enabled = 1;
    void Write(Stream &s) const
    {
        s.Object("CChannel").U32(counter).Str(name).Str(description).Str(cp[0]).Str(vfd[0]).Str(cp[1]).Str(vfd[1])
            .U32(enabled);
    }
};

struct DeviceRecord {
    uint32_t counter = 7;
    std::string name = "Press1", description = "Main press", conn[2] = {"S7_A", "S7_B"};
    uint32_t retries[2] = {5, 0}, timeout[2] = {2500, 604799900}, delay[2] = {0, 30000};
    uint32_t enabled = 1, reference = 0x12345678;
    void Write(Stream &s) const
    {
        s.Object("CDevice").U32(counter).Str(name).Str(description).Str(conn[0]).Str(conn[1]).U32(retries[0])
            .U32(retries[1]).U32(timeout[0]).U32(timeout[1]).U32(delay[0]).U32(delay[1]).U32(enabled).U32(reference);
    }
};

struct BlockRecord {
    uint32_t counter = 9;
    std::string name = "Speeds", description = "Drive speeds";
    uint16_t area = S7AreaDB, db = 10, start = 4, length = 20, type = S7TypeWord;
    bool autoWord = true;
    uint32_t word = 0;
    uint32_t primary = 1500, secondary = kNone, access = 60000, phase = 200;
    uint32_t outputDisabled = 1, latch = 1, enabled = 1;
    float deadBand = 2.5f;
    uint32_t blockWrites = 1;
    void Write(Stream &s) const
    {
        uint32_t w = autoWord ? uint32_t(area) << 28 | uint32_t(db) << 15 | start : word;
        s.Object("CDataBlock").U32(counter).Str(name).Str(description).U16(area).U16(db).U16(start).U16(length)
            .U16(type).U32(w).U32(primary).U32(secondary).U32(access).U32(phase).U32(outputDisabled).U32(latch)
            .U32(enabled);
        uint32_t bits;
        std::memcpy(&bits, &deadBand, sizeof bits);
        s.U32(bits).U32(blockWrites);
    }
};

// The driver with one channel, device and block, and the one block loaded.
Stream OneOfEach(const ChannelRecord &c, const DeviceRecord &d, const BlockRecord &b)
{
    Stream s;
    s.Object("CDriver");
    c.Write(s);
    d.Write(s);
    b.Write(s);
    return s;
}
CDataBlock *OnlyBlock(const ConfigLoadResult &loaded)
{
    return loaded.driver->Channels().at(0)->Devices().at(0)->DataBlocks().at(0);
}

class ConfigFile : public testing::Test {
protected:
    void SetUp() override
    {
        DurationSeparators pinned;
        pinned.time = ":";
        pinned.decimal = ".";
        OverrideDurationSeparators(&pinned);
        SetConfigHmiAlarmLine(RecordAlarm);
        g_alarms.clear();
        savedCounters[0] = CChannel::NameCounter();
        savedCounters[1] = CDevice::NameCounter();
        savedCounters[2] = CDataBlock::NameCounter();
    }
    void TearDown() override
    {
        CChannel::NameCounter() = savedCounters[0];
        CDevice::NameCounter() = savedCounters[1];
        CDataBlock::NameCounter() = savedCounters[2];
        SetConfigHmiAlarmLine(nullptr);
        OverrideDurationSeparators(nullptr);
    }

    // The objects as the records above describe them, made through their
    // properties as a client makes them.
    static CChannel *MakeChannel(CDriver &driver, const ChannelRecord &r)
    {
        auto *c = new CChannel;
        Set(*c, "Name", Text(r.name));
        Set(*c, "Description", Text(r.description));
        Set(*c, "PrimaryCPName", Text(r.cp[0]));
        Set(*c, "PrimaryVFDName", Text(r.vfd[0]));
        Set(*c, "BackupCPName", Text(r.cp[1]));
        Set(*c, "BackupVFDName", Text(r.vfd[1]));
        Set(*c, "Enabled", I2(SHORT(r.enabled)));
        EXPECT_EQ(0, driver.AddChannel(c));
        return c;
    }
    static CDevice *MakeDevice(CChannel &channel, const DeviceRecord &r)
    {
        auto *d = new CDevice;
        Set(*d, "Name", Text(r.name));
        Set(*d, "Description", Text(r.description));
        const char *prefix[2] = {"Primary", "Backup"};
        for (int i = 0; i < 2; ++i) {
            std::string p = prefix[i];
            Set(*d, (p + "ConnName").c_str(), Text(r.conn[i]));
            Set(*d, (p + "Retries").c_str(), I4(LONG(r.retries[i])));
            Set(*d, (p + "ReplyTimeout").c_str(), Ms(r.timeout[i]));
            Set(*d, (p + "Delay").c_str(), Ms(r.delay[i]));
        }
        Set(*d, "Enabled", I2(SHORT(r.enabled)));
        d->SetReference(r.reference);
        EXPECT_EQ(0, channel.AddDevice(d));
        return d;
    }
    static CDataBlock *MakeBlock(CDevice &device, const BlockRecord &r, const char *startText)
    {
        auto *b = new CDataBlock;
        Set(*b, "Name", Text(r.name));
        Set(*b, "Description", Text(r.description));
        Set(*b, "StartAddress", Text(startText));
        Set(*b, "Length", I4(r.length));
        Set(*b, "DataType", I2(SHORT(r.type)));
        Set(*b, "PrimaryPollTime", Ms(r.primary));
        Set(*b, "SecondaryPollTime", Ms(r.secondary));
        Set(*b, "AccessTime", Ms(r.access));
        Set(*b, "Phase", Ms(r.phase));
        Set(*b, "OutputDisabled", I2(SHORT(r.outputDisabled)));
        Set(*b, "LatchData", I2(SHORT(r.latch)));
        Set(*b, "DeadBand", R4(r.deadBand));
        Set(*b, "BlockWritesEnabled", I2(SHORT(r.blockWrites)));
        Set(*b, "Enabled", I2(SHORT(r.enabled)));
        EXPECT_EQ(0, device.AddDataBlock(b));
        return b;
    }
    static void SetCounters(long channel, long device, long block)
    {
        CChannel::NameCounter() = channel;
        CDevice::NameCounter() = device;
        CDataBlock::NameCounter() = block;
    }

    long savedCounters[3] = {};
};

TEST_F(ConfigFile, EmptyTreeIsTheDriverClassRecordAndTheEndMark)
{
    CDriver driver;
    const std::vector<uint8_t> expected = {0xFF, 0xFF, 0x02, 0x00, 0x07, 0x00, 'C', 'D', 'r', 'i', 'v', 'e', 'r',
                                           0x00, 0x00};
    std::vector<uint8_t> bytes = Save(driver);
    EXPECT_EQ(expected, bytes);

    ConfigLoadResult loaded = Load(bytes);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    EXPECT_TRUE(loaded.driver->Channels().empty());
    EXPECT_TRUE(loaded.error.empty());
}

// Every field in its place and width; later objects of a class carry
// 0x8000 | the class's index.
TEST_F(ConfigFile, FieldsAndClassTagsAreWrittenInTheirOrder)
{
    ChannelRecord ch1, ch2;
    ch2.name = "Line2";
    ch2.description = "";
    ch2.cp[0] = "CP3";
    ch2.vfd[0] = "VFD_C";
    ch2.cp[1] = ch2.vfd[1] = "";
    ch2.enabled = 0;
    DeviceRecord dev1, dev2;
    dev2.name = "Press2";
    dev2.conn[0] = "S7_C";
    dev2.conn[1] = "";
    dev2.enabled = 0;
    dev2.reference = 0xCAFE0001;
    BlockRecord blk1, blk2;
    blk2.name = "Flags";
    blk2.area = S7AreaM;
    blk2.db = 0;
    blk2.start = 100;
    blk2.length = 8;
    blk2.type = S7TypeByte;
    blk2.primary = 0;
    blk2.secondary = 10000;
    blk2.access = kNone;
    blk2.outputDisabled = blk2.latch = blk2.enabled = blk2.blockWrites = 0;
    blk2.deadBand = 0.0f;

    CDriver driver;
    CChannel *c1 = MakeChannel(driver, ch1);
    CDevice *d1 = MakeDevice(*c1, dev1);
    MakeBlock(*d1, blk1, "DB10,4");
    MakeBlock(*d1, blk2, "M100");
    CChannel *c2 = MakeChannel(driver, ch2);
    MakeDevice(*c2, dev2);
    SetCounters(4, 7, 9);

    Stream expected;
    expected.Object("CDriver", 2);
    ch1.Write(expected);
    dev1.Write(expected);
    blk1.Write(expected);
    blk2.Write(expected);
    ch2.Write(expected);
    dev2.Write(expected);
    expected.U16(0);   // the end-of-tree mark
    std::vector<uint8_t> bytes = Save(driver);
    EXPECT_EQ(expected.bytes, bytes);
    // The classes' indices: driver 1, channel 3, device 5, block 7.
    const std::vector<uint8_t> secondChannel = {0x03, 0x80, 4, 0, 0, 0, 5, 'L', 'i', 'n', 'e', '2'};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), secondChannel.begin(), secondChannel.end()), bytes.end());
}

TEST_F(ConfigFile, FullTreeSurvivesSaveLoadSave)
{
    CDriver driver;
    std::vector<CConfigObject *> original;
    const char *starts[3] = {"DB%d,0", "DB%d,100", "DB%d,200"};
    for (int c = 0; c < 2; ++c) {
        ChannelRecord cr;
        cr.name = "Line" + std::to_string(c + 1);
        cr.description = "Line " + std::to_string(c + 1) + " of the plant";
        cr.cp[0] = "CP" + std::to_string(2 * c);
        cr.cp[1] = "CP" + std::to_string(2 * c + 1);
        cr.vfd[0] = "VFD" + std::to_string(2 * c);
        cr.vfd[1] = "VFD" + std::to_string(2 * c + 1);
        cr.enabled = c == 0;
        CChannel *channel = MakeChannel(driver, cr);
        for (int d = 0; d < 2; ++d) {
            DeviceRecord dr;
            dr.name = "PLC" + std::to_string(c) + std::to_string(d);
            dr.description = std::string(300, char('a' + d));  // a long-form length prefix
            dr.conn[0] = "CONN" + std::to_string(d);
            dr.conn[1] = "BACK" + std::to_string(d);
            dr.retries[0] = 9;
            dr.retries[1] = uint32_t(d);
            dr.timeout[0] = 1000 + 100 * uint32_t(d);
            dr.delay[1] = 604799999;
            dr.enabled = d == 1;
            dr.reference = 0xA0000000u + uint32_t(c * 16 + d);
            CDevice *device = MakeDevice(*channel, dr);
            for (int b = 0; b < 3; ++b) {
                BlockRecord br;
                br.name = "B" + std::to_string(c) + std::to_string(d) + std::to_string(b);
                br.type = b == 0 ? S7TypeReal : b == 1 ? S7TypeDint : S7TypeInt;
                br.length = uint16_t(8 * (b + 1));
                br.primary = 100 * uint32_t(b + 1);
                br.secondary = b == 2 ? kNone : 7000;
                br.phase = 50 * uint32_t(b);
                br.deadBand = 0.25f * float(b);
                br.enabled = b != 1;
                br.latch = b == 0;
                br.outputDisabled = b == 2;
                br.blockWrites = b == 1;
                char start[32];
                std::snprintf(start, sizeof start, starts[b], 20 + c * 2 + d);
                original.push_back(MakeBlock(*device, br, start));
            }
            original.push_back(device);
        }
        original.push_back(channel);
    }
    SetCounters(11, 22, 33);
    std::vector<uint8_t> first = Save(driver);

    SetCounters(0, 0, 0);
    g_alarms.clear();
    ConfigLoadResult loaded = Load(first);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    EXPECT_TRUE(loaded.skipped.empty());
    EXPECT_TRUE(g_alarms.empty()) << "a load posted " << g_alarms.front();
    EXPECT_EQ(11, CChannel::NameCounter());
    EXPECT_EQ(22, CDevice::NameCounter());
    EXPECT_EQ(33, CDataBlock::NameCounter());
    EXPECT_EQ(Shape(driver), Shape(*loaded.driver));
    EXPECT_EQ(first, Save(*loaded.driver));

    std::vector<CConfigObject *> copy;
    for (CChannel *channel : loaded.driver->Channels()) {
        for (CDevice *device : channel->Devices()) {
            for (CDataBlock *block : device->DataBlocks())
                copy.push_back(block);
            copy.push_back(device);
            EXPECT_TRUE(device->IsUsingPrimary());
        }
        copy.push_back(channel);
    }
    ASSERT_EQ(original.size(), copy.size());
    for (size_t i = 0; i < copy.size(); ++i) {
        for (const char *name : copy[i]->Properties().Configurable())
            EXPECT_EQ(Get(*original[i], name), Get(*copy[i], name)) << copy[i]->Name() << "." << name;
        for (const char *name : {"EndAddress", "SapiAddress", "OPCDataType", "ConnNameInUse"})
            if (copy[i]->Properties().Find(name)) {
                EXPECT_EQ(Get(*original[i], name), Get(*copy[i], name)) << copy[i]->Name() << "." << name;
            }
    }
    EXPECT_EQ(static_cast<CDevice *>(original[3])->Reference(), static_cast<CDevice *>(copy[3])->Reference());
    EXPECT_EQ(static_cast<CDataBlock *>(original[0])->InternalAddress(),
              static_cast<CDataBlock *>(copy[0])->InternalAddress());
}

// Every cut of a saved file, also one between two objects (the stream holds
// no count, but the end mark is missing), is a damaged file that yields
// nothing and leaves the present tree and the name counters alone.
TEST_F(ConfigFile, TruncatedFileIsReportedAndYieldsNoTree)
{
    CDriver present;
    ChannelRecord cr;
    CChannel *channel = MakeChannel(present, cr);
    DeviceRecord dr1, dr2;
    dr2.name = "Press2";
    dr2.conn[0] = "S7_C";
    dr2.conn[1] = "";
    BlockRecord br1, br2;
    br2.name = "Other";
    CDataBlock *b1 = MakeBlock(*MakeDevice(*channel, dr1), br1, "DB10,4");
    MakeBlock(*MakeDevice(*channel, dr2), br2, "DB10,4");

    // Where each object ends, from the same objects written one by one.
    std::vector<size_t> ends;
    std::vector<const CObject *> order = {&present, channel};
    for (CDevice *d : channel->Devices()) {
        order.push_back(d);
        for (CDataBlock *b : d->DataBlocks())
            order.push_back(b);
    }
    CArchive stepwise;
    for (const CObject *object : order) {
        stepwise.WriteObject(object);
        ends.push_back(size_t(stepwise.Position()));
    }
    stepwise.WriteObject(nullptr);
    std::vector<uint8_t> bytes = Save(present);
    ASSERT_EQ(stepwise.Bytes(), bytes);
    ASSERT_TRUE(Load(bytes).Succeeded());

    SetCounters(101, 102, 103);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + (std::count(ends.begin(), ends.end(), cut) ? ", between objects" : ""));
        ConfigLoadResult loaded = Load(bytes, cut);
        EXPECT_FALSE(loaded.Succeeded());
        EXPECT_EQ(cut > 0, loaded.formatFault) << loaded.error;
        EXPECT_EQ(0u, loaded.error.find(kErrorPrefix)) << loaded.error;
        EXPECT_LE(loaded.error.size(), 255u);
        EXPECT_TRUE(loaded.skipped.empty());
        EXPECT_EQ(101, CChannel::NameCounter());
        EXPECT_EQ(102, CDevice::NameCounter());
        EXPECT_EQ(103, CDataBlock::NameCounter());
    }
    // The present tree is whole, current again, and its objects still work.
    EXPECT_EQ(&present, CDriver::Current());
    EXPECT_EQ("Line1(Press1(Speeds )Press2(Other ))", Shape(present));
    EXPECT_EQ("Speeds", Get(*b1, "Name"));
    EXPECT_TRUE(channel->IsEnabled());
}

// A case's text as a test name.
std::string CaseName(const char *what)
{
    std::string name;
    for (const char *p = what; *p; ++p)
        name += std::isalnum((unsigned char)*p) ? *p : '_';
    return name;
}

struct OrderCase {
    const char *what;
    std::function<void(Stream &)> write;
    const char *shape;
    size_t skipped;
};

ChannelRecord Channel(const char *name, const char *vfd)
{
    ChannelRecord r;
    r.name = name;
    r.vfd[0] = vfd;
    r.vfd[1] = "";
    r.enabled = 0;
    return r;
}
DeviceRecord Device(const char *name)
{
    DeviceRecord r;
    r.name = name;
    r.conn[1] = "";
    return r;
}
BlockRecord Block(const char *name, uint16_t start)
{
    BlockRecord r;
    r.name = name;
    r.start = start;
    r.length = 2;
    return r;
}

// Files whose driver is stored with schema 1 were written before the end
// mark existed: they are read to their end as before. Schema 2 announces the
// mark, which must come and must be the last thing in the file.
TEST_F(ConfigFile, TheEndMarkIsRequiredOfFilesThatAnnounceIt)
{
    struct Case {
        const char *what;
        uint16_t schema;
        bool tree, mark;
        std::vector<uint8_t> after;
        bool loads;
    };
    const Case cases[] = {
        {"schema 1 without a mark", 1, true, false, {}, true},
        {"schema 1 with a mark", 1, true, true, {}, true},
        {"schema 2 with a mark", 2, true, true, {}, true},
        {"schema 2 with an empty tree and a mark", 2, false, true, {}, true},
        {"schema 2 without a mark", 2, true, false, {}, false},
        {"schema 2 without a mark, empty tree", 2, false, false, {}, false},
        {"a byte after the mark", 2, true, true, {0x00}, false},
        {"a second mark", 2, true, true, {0x00, 0x00}, false},
        {"schema 1, a byte after a mark", 1, true, true, {0x07}, false},
    };
    for (const Case &c : cases) {
        Stream s;
        s.Object("CDriver", c.schema);
        if (c.tree) {
            Channel("Line1", "VFD_A").Write(s);
            Device("Press1").Write(s);
        }
        if (c.mark)
            s.U16(0);
        s.bytes.insert(s.bytes.end(), c.after.begin(), c.after.end());
        ConfigLoadResult loaded = Load(s.bytes);
        ASSERT_EQ(c.loads, loaded.Succeeded()) << c.what << ": " << loaded.error;
        if (c.loads) {
            EXPECT_EQ(c.tree ? "Line1(Press1())" : "", Shape(*loaded.driver)) << c.what;
        }
    }
}

class ObjectOrder : public ConfigFile, public testing::WithParamInterface<OrderCase> {};

TEST_P(ObjectOrder, ObjectsWithoutAPlaceAreLeftOut)
{
    Stream s;
    GetParam().write(s);
    ConfigLoadResult loaded = Load(s.bytes);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    EXPECT_EQ(GetParam().shape, Shape(*loaded.driver));
    EXPECT_EQ(GetParam().skipped, loaded.skipped.size());
    for (const std::string &line : loaded.skipped)
        EXPECT_NE(std::string::npos, line.find("left out")) << line;
}

INSTANTIATE_TEST_SUITE_P(Cases, ObjectOrder, testing::Values(
    OrderCase{"device and block before any channel",
              [](Stream &s) {
                  s.Object("CDriver");
                  Device("D0").Write(s);
                  Block("B0", 0).Write(s);
                  Channel("C1", "V1").Write(s);
                  Device("D1").Write(s);
                  Block("B1", 0).Write(s);
              },
              "C1(D1(B1 ))", 2},
    OrderCase{"channel before the driver, with its children",
              [](Stream &s) {
                  Channel("C0", "V0").Write(s);
                  Device("D0").Write(s);
                  Block("B0", 0).Write(s);
                  s.Object("CDriver");
                  Channel("C1", "V1").Write(s);
              },
              "C1()", 3},
    OrderCase{"block after a new channel belongs to no device",
              [](Stream &s) {
                  s.Object("CDriver");
                  Channel("C1", "V1").Write(s);
                  Device("D1").Write(s);
                  Channel("C2", "V2").Write(s);
                  Block("B1", 0).Write(s);
              },
              "C1(D1())C2()", 1},
    OrderCase{"children of a refused channel never reach its namesake",
              [](Stream &s) {
                  s.Object("CDriver");
                  Channel("C1", "V1").Write(s);
                  Device("D1").Write(s);
                  Channel("c1", "V2").Write(s);
                  Device("D2").Write(s);
                  Block("B2", 0).Write(s);
              },
              "C1(D1())", 3},
    OrderCase{"blocks of a refused device never reach the one before",
              [](Stream &s) {
                  s.Object("CDriver");
                  Channel("C1", "V1").Write(s);
                  Device("D1").Write(s);
                  Block("B1", 0).Write(s);
                  Device("D1").Write(s);
                  Block("B2", 10).Write(s);
                  Device("D3").Write(s);
                  Block("B3", 0).Write(s);
              },
              "C1(D1(B1 )D3(B3 ))", 2},
    OrderCase{"a block whose name or range collides is refused, the rest stays",
              [](Stream &s) {
                  s.Object("CDriver");
                  Channel("C1", "V1").Write(s);
                  Device("D1").Write(s);
                  Block("B1", 0).Write(s);
                  Block("B1", 10).Write(s);
                  Block("B2", 1).Write(s);
                  Block("B3", 20).Write(s);
              },
              "C1(D1(B1 B3 ))", 2}),
    [](const testing::TestParamInfo<OrderCase> &info) { return CaseName(info.param.what); });

struct DamageCase {
    const char *what;
    std::function<void(ChannelRecord &, DeviceRecord &, BlockRecord &)> change;
    const char *message;   // a part of the error text
};

class DamagedField : public ConfigFile, public testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedField, IsRefusedAndNothingIsLoaded)
{
    ChannelRecord c;
    DeviceRecord d;
    BlockRecord b;
    ASSERT_TRUE(Load(OneOfEach(c, d, b).bytes).Succeeded()) << "the unchanged stream must load";

    GetParam().change(c, d, b);
    ConfigLoadResult loaded = Load(OneOfEach(c, d, b).bytes);
    EXPECT_FALSE(loaded.Succeeded()) << GetParam().what;
    EXPECT_EQ(0u, loaded.error.find(kErrorPrefix)) << loaded.error;
    EXPECT_NE(std::string::npos, loaded.error.find(GetParam().message)) << loaded.error;
    EXPECT_FALSE(loaded.formatFault);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedField, testing::Values(
    DamageCase{"channel name too long", [](ChannelRecord &c, DeviceRecord &, BlockRecord &) { c.name = "ThirteenChars"; }, "name"},
    DamageCase{"device name with a blank", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.name = "PLC 1"; }, "name"},
    DamageCase{"channel name with a point", [](ChannelRecord &c, DeviceRecord &, BlockRecord &) { c.name = "A.B"; }, "name"},
    DamageCase{"CP name too long", [](ChannelRecord &c, DeviceRecord &, BlockRecord &) { c.cp[1] = std::string(131, 'C'); }, "CP name"},
    DamageCase{"VFD name too long", [](ChannelRecord &c, DeviceRecord &, BlockRecord &) { c.vfd[0] = std::string(35, 'V'); }, "VFD name"},
    DamageCase{"channel flag 2", [](ChannelRecord &c, DeviceRecord &, BlockRecord &) { c.enabled = 2; }, "Enabled"},
    DamageCase{"connection name too long", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.conn[1] = std::string(35, 'X'); }, "connection name"},
    DamageCase{"retries 10", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.retries[0] = 10; }, "Retries"},
    DamageCase{"retries negative", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.retries[1] = kNone; }, "Retries"},
    DamageCase{"timeout below 1 s", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.timeout[1] = 999; }, "ReplyTimeout"},
    DamageCase{"delay beyond a week", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.delay[0] = 604800000; }, "Delay"},
    DamageCase{"device flag 7", [](ChannelRecord &, DeviceRecord &d, BlockRecord &) { d.enabled = 7; }, "Enabled"},
    DamageCase{"area 15", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.area = 15; }, "area"},
    DamageCase{"type 13", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.type = 13; }, "data-type"},
    DamageCase{"timer type in a data block", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.type = S7TypeTimer; }, "not allowed"},
    DamageCase{"data-block number beyond 13 bits", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.db = 0x2000; }, "data-block number"},
    DamageCase{"data-block number in the flag area", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.area = S7AreaM; }, "data-block number"},
    DamageCase{"start beyond 15 bits", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.start = 0x8000; }, "start"},
    DamageCase{"length beyond the read limit", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.blockWrites = 0; b.length = 240; b.type = S7TypeByte; }, "length"},
    DamageCase{"length beyond the write limit with block writes", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.length = 230; b.type = S7TypeByte; }, "length"},
    DamageCase{"length not whole elements", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.length = 6; b.type = S7TypeReal; }, "length"},
    DamageCase{"internal word of another address", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.autoWord = false; b.word = 0x10058004; }, "internal address"},
    DamageCase{"access time below 1 s", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.access = 999; }, "AccessTime"},
    DamageCase{"phase none", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.phase = kNone; }, "Phase"},
    DamageCase{"deadband not a number", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.deadBand = std::numeric_limits<float>::quiet_NaN(); }, "DeadBand"},
    DamageCase{"deadband negative", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.deadBand = -1.0f; }, "DeadBand"},
    DamageCase{"latch flag 2", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.latch = 2; }, "LatchData"},
    DamageCase{"enabled block without length", [](ChannelRecord &, DeviceRecord &, BlockRecord &b) { b.length = 0; }, "no length"}),
    [](const testing::TestParamInfo<DamageCase> &info) { return CaseName(info.param.what); });

TEST_F(ConfigFile, DamagedStreamFormIsReported)
{
    Stream unknown;
    unknown.Object("CDriver");
    unknown.Object("CPump").U32(0);
    Stream overlong;
    overlong.Object("CDriver");
    overlong.Object("CChannel").U32(0).Byte(200).Byte('x');
    Stream twoDrivers;
    twoDrivers.Object("CDriver");
    twoDrivers.Object("CDriver");
    Stream noDriver;
    Channel("C1", "V1").Write(noDriver);
    // Anything after the end mark, or a second reference to the driver after
    // a valid tree.
    Stream nullObject;
    nullObject.Object("CDriver").U16(0);
    Channel("C1", "V1").Write(nullObject);
    Stream reference;
    reference.Object("CDriver").U16(2);

    for (auto row : {std::make_tuple(&unknown, true, "CPump"), std::make_tuple(&overlong, true, "string"),
                     std::make_tuple(&twoDrivers, false, "second driver"), std::make_tuple(&noDriver, false, "no driver"),
                     std::make_tuple(&nullObject, true, "after the end of the tree"),
                     std::make_tuple(&reference, true, "earlier object")}) {
        ConfigLoadResult loaded = Load(std::get<0>(row)->bytes);
        EXPECT_FALSE(loaded.Succeeded());
        EXPECT_EQ(std::get<1>(row), loaded.formatFault) << loaded.error;
        EXPECT_NE(std::string::npos, loaded.error.find(std::get<2>(row))) << loaded.error;
    }
    EXPECT_FALSE(Load({}).Succeeded());
}

TEST_F(ConfigFile, InternalWordWithTheStartsLowBitsClearedIsAccepted)
{
    BlockRecord b;
    b.start = 0x13;
    b.autoWord = false;
    b.word = uint32_t(S7AreaDB) << 28 | uint32_t(b.db) << 15 | 0x10;
    ConfigLoadResult loaded = Load(OneOfEach(ChannelRecord(), DeviceRecord(), b).bytes);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    CDataBlock *block = OnlyBlock(loaded);
    EXPECT_EQ(b.word, block->InternalAddress());
    EXPECT_EQ(0x13, block->Address().start);
}

// Stored states come back without lines: the channel is enabled only once
// the tree is complete, devices and blocks as stored.
TEST_F(ConfigFile, StoredStatesComeBackSilently)
{
    ChannelRecord on, off;
    off.name = "Line2";
    off.vfd[0] = "VFD_C";
    off.vfd[1] = "";
    off.enabled = 0;
    Stream s = OneOfEach(on, DeviceRecord(), BlockRecord());
    off.Write(s);
    ConfigLoadResult loaded = Load(s.bytes);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    std::vector<CChannel *> channels = loaded.driver->Channels();
    EXPECT_TRUE(channels[0]->IsEnabled());
    EXPECT_FALSE(channels[1]->IsEnabled());
    EXPECT_TRUE(channels[0]->Devices()[0]->IsActive());
    EXPECT_TRUE(OnlyBlock(loaded)->IsEnabled());
    EXPECT_TRUE(g_alarms.empty());
}

// Objects made by class take no registry defaults: a channel keeps its
// thread priorities, nothing counts default names beyond the stored counters.
TEST_F(ConfigFile, LoadedObjectsTakeNoRegistryDefaults)
{
    const std::string key = std::string(QOR_DRIVER_KEY) + "\\ChannelDefaults";
    DWORD priority = 3;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "ChannelDeviceScanThreadPriority",
                                             REG_DWORD, &priority, sizeof priority));
    const char description[] = "From the registry";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "ChannelDescription", REG_SZ,
                                             description, sizeof description));
    CChannel client(true, false);
    EXPECT_EQ(3, client.DeviceScanPriority()) << "the defaults are in place";

    Stream s;
    s.Object("CDriver");
    ChannelRecord().Write(s);
    ConfigLoadResult loaded = Load(s.bytes);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    CChannel *channel = loaded.driver->Channels()[0];
    EXPECT_EQ(8, channel->DeviceScanPriority());
    EXPECT_EQ("Press line", channel->Description());
    EXPECT_EQ(4, CChannel::NameCounter());
}

TEST_F(ConfigFile, LoadedBlocksPublishTheirAddressToTheStore)
{
    BlockRecord b;
    b.name = "";  // blocks that the HMI's address resolution adds have no name
    b.area = S7AreaM;
    b.db = 0;
    b.start = 300;
    b.length = 12;
    b.type = S7TypeDword;
    ConfigLoadResult loaded = Load(OneOfEach(ChannelRecord(), DeviceRecord(), b).bytes);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    CDataBlock *block = OnlyBlock(loaded);
    ASSERT_TRUE(block->IsValid());
    CCommonMemory *store = ServerStore();
    unsigned long first = 0, second = 0;
    ASSERT_EQ(0u, store->GetInternalAddress(block->StoreIndex(), &first, &second));
    EXPECT_EQ(uint32_t(S7AreaM) << 28 | 300u, first);
    uint16_t type = 0;
    ASSERT_EQ(0u, store->GetDataBlock(block->StoreIndex(), sizeof type, &type, kImageTypeOffset, 1));
    EXPECT_EQ(S7TypeDword, type);
    uint8_t byte;
    EXPECT_EQ(0u, store->GetDataBlock(block->StoreIndex(), 1, &byte, 11, 0));
    EXPECT_NE(0u, store->GetDataBlock(block->StoreIndex(), 1, &byte, 12, 0)) << "12 bytes in use";
}

TEST_F(ConfigFile, FilesAreReplacedOnlyBySuccessfulSaves)
{
    char folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, folder));
    std::string path = std::string(folder) + "file_test_config.qor";
    DeleteFileA(path.c_str());

    CDriver driver;
    MakeChannel(driver, ChannelRecord());
    std::string error;
    ASSERT_TRUE(SaveConfigurationFile(path, driver, &error)) << error;
    ConfigLoadResult loaded = LoadConfigurationFile(path);
    ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
    EXPECT_EQ(Save(driver), Save(*loaded.driver));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".tmp").c_str()));

    EXPECT_FALSE(SaveConfigurationFile(std::string(folder) + "no such folder\\x.qor", driver, &error));
    EXPECT_EQ(0u, error.find(kErrorPrefix));
    EXPECT_FALSE(loaded.openFault);
    ConfigLoadResult missing = LoadConfigurationFile(std::string(folder) + "no such file.qor");
    EXPECT_FALSE(missing.Succeeded());
    EXPECT_TRUE(missing.openFault);
    DeleteFileA(path.c_str());
}

} // namespace
