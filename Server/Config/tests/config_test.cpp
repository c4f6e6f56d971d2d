#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "EventCode.h"
#include "LogTestDoubles.h"
#include "Registry.h"
#include "ServerMsg.h"
#include <gtest/gtest.h>
#include <memory>

#include "config_values.h"

namespace {

// What the objects sent to the HMI alarm line (its library is not loaded here).
std::vector<std::pair<std::string, std::string>> g_alarms;

void RecordAlarm(const char *text, const char *source) { g_alarms.emplace_back(text, source); }

using namespace configtest;

// The property's value as text, through the VARIANT conversion.
std::string Get(CConfigObject &o, const char *name)
{
    VARIANT v;
    VariantInit(&v);
    LONG code = -1;
    EXPECT_EQ(0, o.GetProperty(name, &v, &code)) << name;
    VARIANT t;
    VariantInit(&t);
    std::string text;
    if (V_VT(&v) == VT_BSTR)
        text = ConfigValue::Narrow(V_BSTR(&v));
    else if (SUCCEEDED(VariantChangeType(&t, &v, 0, VT_BSTR)))
        text = ConfigValue::Narrow(V_BSTR(&t));
    VariantClear(&t);
    VariantClear(&v);
    return text;
}

LONG GetLong(CConfigObject &o, const char *name) { return std::stol(Get(o, name)); }

void WriteRegistry(const char *subKey, const char *name, const char *text)
{
    std::string key = std::string(QOR_DRIVER_KEY) + "\\" + subKey;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text,
                                             DWORD(strlen(text) + 1)));
}

void WriteRegistry(const char *subKey, const char *name, DWORD value)
{
    std::string key = std::string(QOR_DRIVER_KEY) + "\\" + subKey;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value,
                                             sizeof value));
}

void ClearRegistry()
{
    for (const char *sub : {"ChannelDefaults", "DeviceDefaults", "DataBlockDefaults"}) {
        std::string key = std::string(QOR_DRIVER_KEY) + "\\" + sub;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    }
}

// A driver with one channel "Ch1", device "Dev1" and block "Blk1" (DB10,0..9).
class ConfigTree : public testing::Test {
protected:
    void SetUp() override
    {
        ClearRegistry();
        HKEY key;
        logKeyExisted = RegOpenKeyExA(HKEY_LOCAL_MACHINE, QOR_DRIVER_KEY "\\DriverDefaults", 0, KEY_READ,
                                      &key) == ERROR_SUCCESS;
        if (logKeyExisted)
            RegCloseKey(key);
        // The message log, with its view and the Alarm & Event side recorded.
        log.reset(new CServerMsg("QOR"));
        log->SetSwitch(SeverityInfo, TRUE);
        log->SetView(&view);
        log->AddEventSink(&sink);
        DurationSeparators pinned;
        pinned.time = ":";
        pinned.decimal = ".";
        OverrideDurationSeparators(&pinned);
        SetConfigHmiAlarmLine(RecordAlarm);
        g_alarms.clear();
        driver.reset(new CDriver("QOR", "QOR I/O Server", "7.10"));
        channel = AddChannel("Ch1");
        device = AddDevice(*channel, "Dev1");
        block = AddBlock(*device, "Blk1", "DB10,0", 10);
    }
    void TearDown() override
    {
        driver.reset();
        log->RemoveEventSink(&sink);
        log->SetView(nullptr);
        log.reset();  // writes its switches back
        if (!logKeyExisted)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, QOR_DRIVER_KEY "\\DriverDefaults");
        SetConfigHmiAlarmLine(nullptr);
        SetConfigImporting(false);
        OverrideDurationSeparators(nullptr);
        ClearRegistry();
    }

    CChannel *AddChannel(const char *name)
    {
        auto *c = new CChannel;
        EXPECT_EQ(0, Set(*c, "Name", Text(name)));
        EXPECT_EQ(0, driver->AddChannel(c));
        return c;
    }
    CDevice *AddDevice(CChannel &parent, const char *name)
    {
        auto *d = new CDevice;
        EXPECT_EQ(0, Set(*d, "Name", Text(name)));
        EXPECT_EQ(0, parent.AddDevice(d));
        return d;
    }
    CDataBlock *AddBlock(CDevice &parent, const char *name, const char *start, LONG length)
    {
        auto *b = new CDataBlock;
        EXPECT_EQ(0, Set(*b, "Name", Text(name)));
        EXPECT_EQ(0, Set(*b, "StartAddress", Text(start)));
        EXPECT_EQ(0, Set(*b, "Length", I4(length)));
        EXPECT_EQ(0, parent.AddDataBlock(b));
        return b;
    }
    CConfigObject &Object(int kind)
    {
        switch (kind) {
        case 0: return *driver;
        case 1: return *channel;
        case 2: return *device;
        default: return *block;
        }
    }

    bool logKeyExisted = false;
    CRecordingLogView view;
    CRecordingEventSink sink;
    std::unique_ptr<CServerMsg> log;
    std::unique_ptr<CDriver> driver;
    CChannel *channel = nullptr;
    CDevice *device = nullptr;
    CDataBlock *block = nullptr;
};

enum Kind { DRV, CHN, DEV, BLK };

struct PropertyRow {
    Kind kind;
    const char *name;
    VARTYPE type;
    PropertyAccess access;
};

// Every name of every class, with its type and access.
const PropertyRow kProperties[] = {
    {DRV, "ChannelCount", VT_I4, PropRead}, {DRV, "DataBlockCount", VT_I4, PropRead},
    {DRV, "DeviceCount", VT_I4, PropRead}, {DRV, "LastLoadTime", VT_DATE, PropRead},
    {DRV, "LastStartTime", VT_DATE, PropRead}, {DRV, "LastStopTime", VT_DATE, PropRead},
    {DRV, "MsgErrorCount", VT_I4, PropReset}, {DRV, "MsgReceiveCount", VT_I4, PropReset},
    {DRV, "MsgRetryCount", VT_I4, PropReset}, {DRV, "MsgTimeoutCount", VT_I4, PropReset},
    {DRV, "MsgTransmitCount", VT_I4, PropReset}, {DRV, "Name", VT_BSTR, PropRead},
    {DRV, "PollOverrunCount", VT_I4, PropReset}, {DRV, "SapiTimeout", VT_I4, PropWrite},
    {DRV, "SendEvents", VT_I2, PropWrite},

    {CHN, "ActiveQueueCount", VT_I4, PropRead}, {CHN, "BackupActiveResources", VT_I4, PropRead},
    {CHN, "BackupCPName", VT_BSTR, PropWrite}, {CHN, "BackupVFDName", VT_BSTR, PropWrite},
    {CHN, "DataBlockCount", VT_I4, PropRead}, {CHN, "Description", VT_BSTR, PropWrite},
    {CHN, "DeviceCount", VT_I4, PropRead}, {CHN, "Enabled", VT_I2, PropWrite},
    {CHN, "MsgErrorCount", VT_I4, PropReset}, {CHN, "MsgReceiveCount", VT_I4, PropReset},
    {CHN, "MsgRetryCount", VT_I4, PropReset}, {CHN, "MsgTimeoutCount", VT_I4, PropReset},
    {CHN, "MsgTransmitCount", VT_I4, PropReset}, {CHN, "Name", VT_BSTR, PropWrite},
    {CHN, "ParseQueueCount", VT_I4, PropRead}, {CHN, "PollOverrunCount", VT_I4, PropReset},
    {CHN, "PrimaryActiveResources", VT_I4, PropRead}, {CHN, "PrimaryCPName", VT_BSTR, PropWrite},
    {CHN, "PrimaryVFDName", VT_BSTR, PropWrite}, {CHN, "SendEvents", VT_I2, PropWrite},

    {DEV, "BackupConnName", VT_BSTR, PropWrite}, {DEV, "BackupDelay", VT_BSTR, PropWrite},
    {DEV, "BackupReplyTimeout", VT_BSTR, PropWrite}, {DEV, "BackupRetries", VT_I4, PropWrite},
    {DEV, "ConnNameInUse", VT_BSTR, PropRead}, {DEV, "CPNameInUse", VT_BSTR, PropRead},
    {DEV, "DataBlockCount", VT_I4, PropRead}, {DEV, "Description", VT_BSTR, PropWrite},
    {DEV, "Enabled", VT_I2, PropWrite}, {DEV, "IsUsingPrimary", VT_BOOL, PropRead},
    {DEV, "MsgErrorCount", VT_I4, PropReset}, {DEV, "MsgReceiveCount", VT_I4, PropReset},
    {DEV, "MsgRetryCount", VT_I4, PropReset}, {DEV, "MsgTimeoutCount", VT_I4, PropReset},
    {DEV, "MsgTransmitCount", VT_I4, PropReset}, {DEV, "Name", VT_BSTR, PropWrite},
    {DEV, "PollOverrunCount", VT_I4, PropReset}, {DEV, "PrimaryConnName", VT_BSTR, PropWrite},
    {DEV, "PrimaryDelay", VT_BSTR, PropWrite}, {DEV, "PrimaryReplyTimeout", VT_BSTR, PropWrite},
    {DEV, "PrimaryRetries", VT_I4, PropWrite}, {DEV, "ReadCountMax", VT_I4, PropReset},
    {DEV, "ReadQueueCount", VT_I4, PropRead}, {DEV, "SendEvents", VT_I2, PropWrite},
    {DEV, "VFDNameInUse", VT_BSTR, PropRead}, {DEV, "WriteCountMax", VT_I4, PropReset},
    {DEV, "WriteQueueCount", VT_I4, PropRead},

    {BLK, "AccessTime", VT_BSTR, PropWrite}, {BLK, "BlockWritesEnabled", VT_I2, PropWrite},
    {BLK, "BlockWritesPending", VT_I4, PropRead}, {BLK, "TracewellOn", VT_I2, PropWrite},
    {BLK, "DataType", VT_I2, PropWrite}, {BLK, "DeadBand", VT_R4, PropWrite},
    {BLK, "Description", VT_BSTR, PropWrite}, {BLK, "Enabled", VT_I2, PropWrite},
    {BLK, "EndAddress", VT_BSTR, PropWrite}, {BLK, "ErrorTime", VT_DATE, PropRead},
    {BLK, "LastError", VT_I4, PropReset}, {BLK, "LatchData", VT_I2, PropWrite},
    {BLK, "Length", VT_I4, PropWrite}, {BLK, "MsgErrorCount", VT_I4, PropReset},
    {BLK, "MsgReceiveCount", VT_I4, PropReset}, {BLK, "MsgRetryCount", VT_I4, PropReset},
    {BLK, "MsgTimeoutCount", VT_I4, PropReset}, {BLK, "MsgTransmitCount", VT_I4, PropReset},
    {BLK, "Name", VT_BSTR, PropWrite}, {BLK, "OPCDataType", VT_I2, PropRead},
    {BLK, "OutputDisabled", VT_I2, PropWrite}, {BLK, "Phase", VT_BSTR, PropWrite},
    {BLK, "PollOverrunCount", VT_I4, PropReset}, {BLK, "PrimaryPollTime", VT_BSTR, PropWrite},
    {BLK, "Quality", VT_I2, PropRead}, {BLK, "QualityString", VT_BSTR, PropRead},
    {BLK, "ReadTime", VT_DATE, PropRead}, {BLK, "SapiAddress", VT_BSTR, PropRead},
    {BLK, "SapiDetailedErrorMsg", VT_BSTR, PropRead}, {BLK, "SapiDetailedErrorNo", VT_I4, PropRead},
    {BLK, "SapiIecErrorMsg", VT_BSTR, PropRead}, {BLK, "SapiIecErrorNo", VT_I4, PropRead},
    {BLK, "SapiReturnCode", VT_I4, PropRead}, {BLK, "SecondaryPollTime", VT_BSTR, PropWrite},
    {BLK, "SendBlockWrites", VT_I4, PropWrite}, {BLK, "SendEvents", VT_I2, PropWrite},
    {BLK, "StartAddress", VT_BSTR, PropWrite}, {BLK, "WriteTime", VT_DATE, PropRead},
};

TEST_F(ConfigTree, EveryPropertyIsFoundWithItsTypeAndAccess)
{
    unsigned counts[4] = {};
    for (const PropertyRow &row : kProperties) {
        SCOPED_TRACE(std::string(row.name) + " of kind " + std::to_string(row.kind));
        CConfigObject &o = Object(row.kind);
        ++counts[row.kind];

        // Looked up ignoring case, in either spelling.
        std::string lower(row.name);
        for (char &c : lower)
            c = char(tolower((unsigned char)c));
        for (const std::string &name : {std::string(row.name), lower}) {
            VARIANT v;
            VariantInit(&v);
            LONG code = -1;
            ASSERT_EQ(0, o.GetProperty(name.c_str(), &v, &code));
            EXPECT_EQ(0, code);
            // Times that were never set read as empty.
            bool neverSet = row.type == VT_DATE && V_VT(&v) == VT_EMPTY &&
                            std::string(row.name) != "LastLoadTime";
            if (!neverSet) {
                EXPECT_EQ(row.type, V_VT(&v));
            }
            VariantClear(&v);
        }

        LONG code = -1;
        VARIANT zero = I2(0);
        LONG answer = o.SetProperty(row.name, zero, &code);
        if (row.access == PropRead) {
            EXPECT_EQ(1, answer);
            EXPECT_EQ(CFG_E_READ_ONLY, code);
        } else if (row.access == PropReset) {
            EXPECT_EQ(0, answer);
            EXPECT_EQ(0, code);
        } else {
            EXPECT_NE(CFG_E_READ_ONLY, code);
        }
    }
    // The tables hold exactly these names, sorted for the search.
    const unsigned expected[4] = {15, 20, 27, 38};
    for (int kind = 0; kind < 4; ++kind) {
        const auto &sorted = Object(kind).Properties().Sorted();
        EXPECT_EQ(expected[kind], counts[kind]);
        EXPECT_EQ(expected[kind], sorted.size());
        for (size_t i = 1; i < sorted.size(); ++i)
            EXPECT_LT(_stricmp(sorted[i - 1].name, sorted[i].name), 0) << sorted[i].name;
    }
}

TEST_F(ConfigTree, UnknownAndEmptyNames)
{
    VARIANT v;
    VariantInit(&v);
    LONG code = -1;
    EXPECT_EQ(1, block->GetProperty("Access", &v, &code));
    EXPECT_EQ(CFG_E_UNKNOWN_PROPERTY, code);
    EXPECT_EQ(1, block->SetProperty("Tracewell", I2(1), &code));
    EXPECT_EQ(CFG_E_UNKNOWN_PROPERTY, code);
    EXPECT_EQ(0, block->GetProperty("", &v, &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(VT_EMPTY, V_VT(&v));
    EXPECT_EQ(0, Set(*block, "TRACEWELLON", I2(1)));
    EXPECT_EQ("1", Get(*block, "TracewellOn"));
}

struct LimitRow {
    Kind kind;
    const char *name;
    int valueKind;  // 0 text, 1 I4, 2 R4
    const char *text;
    LONG number;
    LONG code;
    const char *readBack;  // null: not compared
};

const std::string k131(131, 'c'), k130(130, 'c'), k35(35, 'v'), k34(34, 'v');

class PropertyLimits : public ConfigTree, public testing::WithParamInterface<LimitRow> {};

TEST_P(PropertyLimits, ValuesAreCheckedAndReadBack)
{
    const LimitRow &row = GetParam();
    CConfigObject &o = Object(row.kind);
    std::string before = Get(o, row.name);
    VARIANT v = row.valueKind == 0 ? Text(row.text) : row.valueKind == 1 ? I4(row.number) : R4(float(row.number));
    EXPECT_EQ(row.code, Set(o, row.name, v)) << row.name << " = " << (row.text ? row.text : "") << row.number;
    if (row.readBack) {
        EXPECT_EQ(row.readBack, Get(o, row.name)) << row.name;
    } else if (row.code != 0) {
        EXPECT_EQ(before, Get(o, row.name)) << "a refused value leaves the property";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, PropertyLimits, testing::Values(
    LimitRow{DRV, "SapiTimeout", 1, nullptr, 999, CFG_E_INVALID_VALUE, "1000"},
    LimitRow{DRV, "SapiTimeout", 1, nullptr, 5000, 0, "5000"},
    LimitRow{DRV, "SapiTimeout", 0, "2500", 0, 0, "2500"},
    LimitRow{DRV, "SapiTimeout", 0, "soon", 0, CFG_E_WRONG_TYPE, "1000"},
    LimitRow{DRV, "Name", 0, "X", 0, CFG_E_READ_ONLY, "QOR I/O Server, Version 7.10"},
    LimitRow{CHN, "PrimaryCPName", 0, k130.c_str(), 0, 0, k130.c_str()},
    LimitRow{CHN, "BackupCPName", 0, k131.c_str(), 0, CFG_E_WRONG_TYPE, ""},
    LimitRow{CHN, "PrimaryVFDName", 0, k34.c_str(), 0, 0, k34.c_str()},
    LimitRow{CHN, "BackupVFDName", 0, k35.c_str(), 0, CFG_E_WRONG_TYPE, ""},
    LimitRow{CHN, "PrimaryCPName", 1, nullptr, 5, CFG_E_WRONG_TYPE, ""},
    LimitRow{CHN, "Description", 1, nullptr, 5, CFG_E_WRONG_TYPE, ""},
    LimitRow{CHN, "Enabled", 0, "maybe", 0, CFG_E_WRONG_TYPE, "0"},
    LimitRow{DEV, "PrimaryRetries", 1, nullptr, 9, 0, "9"},
    LimitRow{DEV, "PrimaryRetries", 1, nullptr, 10, CFG_E_INVALID_VALUE, "3"},
    LimitRow{DEV, "BackupRetries", 1, nullptr, -1, CFG_E_INVALID_VALUE, "3"},
    LimitRow{DEV, "BackupRetries", 0, "0", 0, 0, "0"},
    LimitRow{DEV, "PrimaryReplyTimeout", 0, "00.9", 0, CFG_E_INVALID_VALUE, "10"},
    LimitRow{DEV, "PrimaryReplyTimeout", 0, "  01", 0, 0, "01"},
    LimitRow{DEV, "BackupReplyTimeout", 0, "6:23:59:59.9", 0, 0, "6:23:59:59.9"},
    LimitRow{DEV, "BackupReplyTimeout", 0, "7:00:00:00", 0, CFG_E_INVALID_VALUE, "10"},
    LimitRow{DEV, "BackupReplyTimeout", 0, "", 0, CFG_E_INVALID_VALUE, "10"},
    LimitRow{DEV, "PrimaryDelay", 0, "0", 0, 0, "00"},
    LimitRow{DEV, "PrimaryDelay", 0, "1:30", 0, 0, "01:30"},
    LimitRow{DEV, "BackupDelay", 0, "abc", 0, CFG_E_INVALID_VALUE, "10"},
    LimitRow{DEV, "BackupDelay", 1, nullptr, 5, CFG_E_WRONG_TYPE, "10"},
    LimitRow{DEV, "PrimaryConnName", 0, k34.c_str(), 0, 0, k34.c_str()},
    LimitRow{DEV, "BackupConnName", 0, k35.c_str(), 0, CFG_E_WRONG_TYPE, ""},
    LimitRow{BLK, "AccessTime", 0, "0.5", 0, CFG_E_INVALID_VALUE, "05:00"},
    LimitRow{BLK, "AccessTime", 0, "01", 0, 0, "01"},
    LimitRow{BLK, "AccessTime", 0, "", 0, 0, ""},
    LimitRow{BLK, "PrimaryPollTime", 0, "", 0, 0, ""},
    LimitRow{BLK, "PrimaryPollTime", 0, "0.5", 0, 0, "0.5"},
    LimitRow{BLK, "SecondaryPollTime", 0, "10", 0, 0, "10"},
    LimitRow{BLK, "Phase", 0, "", 0, CFG_E_INVALID_VALUE, "00"},
    LimitRow{BLK, "Phase", 0, "2", 0, 0, "02"},
    LimitRow{BLK, "DeadBand", 2, nullptr, -1, CFG_E_INVALID_VALUE, "1"},
    LimitRow{BLK, "DeadBand", 2, nullptr, 0, 0, "0"},
    LimitRow{BLK, "DeadBand", 0, "2.5", 0, 0, "2.5"},
    LimitRow{BLK, "DataType", 1, nullptr, 13, CFG_E_BAD_DATATYPE, "9"},
    LimitRow{BLK, "DataType", 1, nullptr, -1, CFG_E_BAD_DATATYPE, "9"},
    LimitRow{BLK, "DataType", 1, nullptr, 10, CFG_E_TYPE_NOT_IN_AREA, "9"},
    LimitRow{BLK, "DataType", 1, nullptr, 5, CFG_E_INVALID_VALUE, "9"},
    LimitRow{BLK, "DataType", 1, nullptr, 2, 0, "2"},
    LimitRow{BLK, "SendBlockWrites", 0, "whatever", 0, 0, "0"},
    LimitRow{BLK, "Quality", 1, nullptr, 192, CFG_E_READ_ONLY, "0"},
    LimitRow{BLK, "OPCDataType", 1, nullptr, 3, CFG_E_READ_ONLY, "17"}));

TEST_F(ConfigTree, DefaultsOfNewObjects)
{
    EXPECT_EQ("", Get(*block, "SecondaryPollTime"));
    EXPECT_EQ("01", Get(*block, "PrimaryPollTime"));
    EXPECT_EQ("00", Get(*block, "Phase"));
    EXPECT_EQ("05:00", Get(*block, "AccessTime"));
    EXPECT_EQ("1", Get(*block, "DeadBand"));
    EXPECT_EQ("3", Get(*device, "PrimaryRetries"));
    EXPECT_EQ("10", Get(*device, "BackupReplyTimeout"));
    EXPECT_EQ("10", Get(*device, "BackupDelay"));
    EXPECT_EQ("-1", Get(*device, "IsUsingPrimary"));
    EXPECT_EQ("1000", Get(*driver, "SapiTimeout"));
    EXPECT_EQ("Bad", Get(*block, "QualityString"));
}

TEST_F(ConfigTree, QualityStringFailsWhenNoTextApplies)
{
    block->SetStatus(0x0318);
    EXPECT_EQ("Bad, Comm failure", Get(*block, "QualityString")) << "the high byte is no quality";
    block->SetStatus(0x80);
    VARIANT v;
    VariantInit(&v);
    LONG code = 0;
    EXPECT_EQ(1, block->GetProperty("QualityString", &v, &code));
    EXPECT_EQ(E_FAIL, code);
}

struct NameRow {
    const char *text;
    LONG code;
    const char *stored;  // the name afterwards
};

class NameRules : public ConfigTree, public testing::WithParamInterface<NameRow> {};

TEST_P(NameRules, AreAppliedToEveryClass)
{
    const NameRow &row = GetParam();
    CChannel *other = AddChannel("Ch2");
    CDevice *otherDevice = AddDevice(*other, "Pump");
    AddBlock(*otherDevice, "Tank", "DB1,0", 2);
    AddBlock(*otherDevice, "ABCDEFGHIJKL", "DB2,0", 2);
    for (int kind = CHN; kind <= BLK; ++kind) {
        CConfigObject &o = Object(kind);
        std::string own = o.Name();
        std::string expectedName = row.stored ? row.stored : own;
        if (std::string(row.text) == "=own")
            expectedName = own;
        VARIANT v = std::string(row.text) == "=own" ? Text(own) : Text(row.text);
        if (std::string(row.text) == "=OWN") {
            std::string upper = own;
            for (char &c : upper)
                c = char(toupper((unsigned char)c));
            VariantClear(&v);
            v = Text(upper);
            expectedName = upper;
        }
        EXPECT_EQ(row.code, Set(o, "Name", v)) << row.text << " on kind " << kind;
        EXPECT_EQ(expectedName, o.Name());
        if (row.code == 0 && o.Name() != own)
            Set(o, "Name", Text(own));  // put back for the next class
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, NameRules, testing::Values(
    NameRow{"  Pump_1", 0, "Pump_1"},
    NameRow{"\tValve", 0, "Valve"},
    NameRow{"ABCDEFGHIJKLMNOP", CFG_E_NAME_USED, nullptr},
    NameRow{"Sixteen_Letters_", 0, "Sixteen_Lett"},
    NameRow{"Pump.1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump:1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump;1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump,1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump/1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump\\1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"Pump 1", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"   ", CFG_E_INVALID_VALUE, nullptr},
    NameRow{"ch2", CFG_E_NAME_USED, nullptr},
    NameRow{"PUMP", CFG_E_NAME_USED, nullptr},
    NameRow{"tank", CFG_E_NAME_USED, nullptr},
    NameRow{"=own", 0, nullptr},
    NameRow{"=OWN", 0, nullptr}));

TEST_F(ConfigTree, NameNeedsText)
{
    EXPECT_EQ(CFG_E_WRONG_TYPE, Set(*channel, "Name", I4(5)));
    EXPECT_EQ("Ch1", channel->Name());
    EXPECT_TRUE(block->NameEquals("BLK1"));
    EXPECT_FALSE(block->NameEquals("Blk"));
}

TEST_F(ConfigTree, DefaultNamesFromTheRegistryBase)
{
    // No base in the registry: the built-in word.
    CChannel::NameCounter() = 4;
    std::unique_ptr<CChannel> plain(new CChannel(true));
    EXPECT_EQ("Channel4", plain->Name());
    EXPECT_EQ(5, CChannel::NameCounter());

    WriteRegistry("ChannelDefaults", "ChannelName", "Line");
    std::unique_ptr<CChannel> line(new CChannel(true));
    EXPECT_EQ("Line5", line->Name());

    // A used name is skipped: the next number is tried.
    AddChannel("Line6");
    std::unique_ptr<CChannel> skipped(new CChannel(true));
    EXPECT_EQ("Line7", skipped->Name());

    // A base that is no valid name: the built-in word with the same number.
    WriteRegistry("ChannelDefaults", "ChannelName", "Li ne");
    std::unique_ptr<CChannel> fallback(new CChannel(true));
    EXPECT_EQ("Channel8", fallback->Name());
    EXPECT_EQ(9, CChannel::NameCounter());
}

TEST_F(ConfigTree, DefaultNamesLeaveRoomForTheDigits)
{
    // A 12-character base once made every try the same cut name and looped.
    WriteRegistry("DeviceDefaults", "DeviceName", "ABCDEFGHIJKL");
    CDevice::NameCounter() = 10;
    AddDevice(*channel, "ABCDEFGHIJ10");
    std::unique_ptr<CDevice> first(new CDevice(true));
    EXPECT_EQ("ABCDEFGHIJ11", first->Name());
    WriteRegistry("DeviceDefaults", "DeviceName", "ABCDEFGHIJK");
    CDevice::NameCounter() = 9;
    std::unique_ptr<CDevice> second(new CDevice(true));
    EXPECT_EQ("ABCDEFGHIJK9", second->Name());
    std::unique_ptr<CDevice> third(new CDevice(true));
    EXPECT_EQ("ABCDEFGHIJ11", third->Name()) << "the first is not in the tree, so 11 is free";
}

TEST_F(ConfigTree, DataBlockDefaultNamesOnlyForClients)
{
    WriteRegistry("DataBlockDefaults", "DataBlockName", "Blk");
    CDataBlock::NameCounter() = 1;
    std::unique_ptr<CDataBlock> client(new CDataBlock(true, true));
    EXPECT_EQ("Blk2", client->Name()) << "Blk1 is in the tree";
    std::unique_ptr<CDataBlock> temporary(new CDataBlock(true, false));
    EXPECT_EQ("", temporary->Name());
    EXPECT_EQ(3, CDataBlock::NameCounter());
}

TEST_F(ConfigTree, RegistryDefaultsPassThroughSetProperty)
{
    WriteRegistry("ChannelDefaults", "ChannelDescription", "From registry");
    WriteRegistry("ChannelDefaults", "ChannelDeviceScanThreadPriority", DWORD(12));
    WriteRegistry("ChannelDefaults", "ChannelMessageParseThreadPriority", DWORD(16));
    WriteRegistry("DeviceDefaults", "DevicePrimRetries", "5");
    WriteRegistry("DeviceDefaults", "DeviceBackRetries", "12");
    WriteRegistry("DeviceDefaults", "DevicePrimTimeout", "20");
    WriteRegistry("DeviceDefaults", "DeviceBackTimeout", "0.5");
    WriteRegistry("DeviceDefaults", "DevicePrimDelay", "1:00");
    WriteRegistry("DeviceDefaults", "DevicePrimConnection", "CONN_A");
    WriteRegistry("DataBlockDefaults", "DataBlockPrimaryPoll", "05");
    WriteRegistry("DataBlockDefaults", "DataBlockSecondaryPoll", "1:00");
    WriteRegistry("DataBlockDefaults", "DataBlockAccessTime", "0.5");
    WriteRegistry("DataBlockDefaults", "DataBlockPhase", "");
    WriteRegistry("DataBlockDefaults", "DataBlockLatchData", DWORD(1));
    WriteRegistry("DataBlockDefaults", "DataBlockDisableOutputs", DWORD(1));
    WriteRegistry("DataBlockDefaults", "DataBlockEnableBlockWrites", DWORD(1));
    WriteRegistry("DataBlockDefaults", "DataBlockExceptionDeadBand", "2.5");
    WriteRegistry("DataBlockDefaults", "DataBlockDataType", DWORD(3));

    std::unique_ptr<CChannel> c(new CChannel(true));
    EXPECT_EQ("From registry", Get(*c, "Description"));
    EXPECT_EQ(12, c->DeviceScanPriority());
    EXPECT_EQ(8, c->MessageParsePriority()) << "16 is no priority code";

    std::unique_ptr<CDevice> d(new CDevice(true));
    EXPECT_EQ("5", Get(*d, "PrimaryRetries"));
    EXPECT_EQ("3", Get(*d, "BackupRetries")) << "a refused default keeps the built-in one";
    EXPECT_EQ("20", Get(*d, "PrimaryReplyTimeout"));
    EXPECT_EQ("10", Get(*d, "BackupReplyTimeout"));
    EXPECT_EQ("01:00", Get(*d, "PrimaryDelay"));
    EXPECT_EQ("CONN_A", Get(*d, "PrimaryConnName"));

    std::unique_ptr<CDataBlock> b(new CDataBlock(true, true));
    EXPECT_EQ("05", Get(*b, "PrimaryPollTime"));
    EXPECT_EQ("01:00", Get(*b, "SecondaryPollTime"));
    EXPECT_EQ("05:00", Get(*b, "AccessTime"));
    EXPECT_EQ("00", Get(*b, "Phase"));
    EXPECT_EQ("1", Get(*b, "LatchData"));
    EXPECT_EQ("1", Get(*b, "OutputDisabled"));
    EXPECT_EQ("1", Get(*b, "BlockWritesEnabled"));
    EXPECT_EQ("2.5", Get(*b, "DeadBand"));
    EXPECT_EQ("3", Get(*b, "DataType"));
}

TEST_F(ConfigTree, PropertyNamesIntoTheCallersArray)
{
    SAFEARRAY *seven = SafeArrayCreateVector(VT_BSTR, 0, 7);
    EXPECT_EQ(0, channel->GetPropertyNames(seven, TRUE));
    const char *order[] = {"Name", "Description", "PrimaryCPName", "PrimaryVFDName", "BackupCPName",
                           "BackupVFDName", "Enabled"};
    for (LONG i = 0; i < 7; ++i) {
        BSTR name = nullptr;
        ASSERT_EQ(S_OK, SafeArrayGetElement(seven, &i, &name));
        EXPECT_EQ(order[i], ConfigValue::Narrow(name));
        SysFreeString(name);
    }
    SafeArrayDestroy(seven);

    SAFEARRAY *six = SafeArrayCreateVector(VT_BSTR, 0, 6);
    EXPECT_EQ(CFG_E_ARRAY_PUT, channel->GetPropertyNames(six, TRUE));
    SafeArrayDestroy(six);

    // The driver has no configurable list: always its 15 sorted names.
    SAFEARRAY *all = SafeArrayCreateVector(VT_BSTR, 0, 15);
    EXPECT_EQ(0, driver->GetPropertyNames(all, TRUE));
    LONG first = 0, last = 14;
    BSTR name = nullptr;
    SafeArrayGetElement(all, &first, &name);
    EXPECT_EQ("ChannelCount", ConfigValue::Narrow(name));
    SysFreeString(name);
    SafeArrayGetElement(all, &last, &name);
    EXPECT_EQ("SendEvents", ConfigValue::Narrow(name));
    SysFreeString(name);
    SafeArrayDestroy(all);

    const unsigned configurable[4] = {0, 7, 11, 14};
    for (int kind = 0; kind < 4; ++kind) {
        EXPECT_EQ(configurable[kind], Object(kind).Properties().Configurable().size());
        for (const char *n : Object(kind).Properties().Configurable())
            EXPECT_NE(nullptr, Object(kind).Properties().Find(n)) << n;
    }
    EXPECT_STREQ("DataType", block->Properties().Configurable().back());
}

TEST_F(ConfigTree, CounterResetReachesTheWholeTree)
{
    CDevice *second = AddDevice(*channel, "Dev2");
    CDataBlock *other = AddBlock(*second, "Blk2", "M0", 4);
    for (CDataBlock *b : {block, other}) {
        b->CountMessage(PID_MsgErrorCount);
        b->CountMessage(PID_MsgTransmitCount);
        b->CountMessage(PID_MsgRetryCount);
    }
    device->CountRetry();
    second->CountRetry();
    second->CountTimeout();
    EXPECT_EQ(2, GetLong(*driver, "MsgErrorCount"));
    EXPECT_EQ(2, GetLong(*channel, "MsgTransmitCount"));
    EXPECT_EQ(1, GetLong(*device, "MsgErrorCount"));
    EXPECT_EQ(2, GetLong(*channel, "MsgRetryCount")) << "the devices' own retry counts";
    EXPECT_EQ(1, GetLong(*block, "MsgRetryCount"));
    EXPECT_EQ(2, GetLong(*driver, "DeviceCount"));
    EXPECT_EQ(2, GetLong(*driver, "DataBlockCount"));
    EXPECT_EQ(1, GetLong(*driver, "ChannelCount"));

    EXPECT_EQ(0, Set(*driver, "MsgErrorCount", Text("5")));
    EXPECT_EQ(0, GetLong(*block, "MsgErrorCount"));
    EXPECT_EQ(0, GetLong(*other, "MsgErrorCount"));
    EXPECT_EQ(2, GetLong(*driver, "MsgTransmitCount"));

    EXPECT_EQ(0, Set(*driver, "MsgRetryCount", I2(0)));
    EXPECT_EQ(0, GetLong(*second, "MsgRetryCount"));
    EXPECT_EQ(0, GetLong(*block, "MsgRetryCount"));
    EXPECT_EQ(1, GetLong(*second, "MsgTimeoutCount"));
}

TEST_F(ConfigTree, EnableAndDisableLines)
{
    using Texts = std::vector<std::string>;
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(1)));
    EXPECT_EQ(Texts{"Channel Ch1 Enabled"}, view.Texts());
    EXPECT_EQ(SeverityInfo, view.Lines()[0].severity);
    EXPECT_TRUE(sink.Events().empty()) << "SendEvents is off";
    ASSERT_EQ(1u, g_alarms.size());
    EXPECT_EQ("Channel Ch1 Enabled", g_alarms[0].first);
    EXPECT_EQ("QOR", g_alarms[0].second);

    // Already enabled: nothing to say.
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(1)));
    EXPECT_EQ(1u, view.Texts().size());

    // With SendEvents a second, never-shown record carries the event.
    EXPECT_EQ(0, Set(*device, "SendEvents", I2(1)));
    EXPECT_EQ(0, Set(*device, "Enabled", I2(1)));
    EXPECT_EQ((Texts{"Device Dev1 Enabled", "Channel Ch1 Enabled"}), view.Texts());
    ASSERT_EQ(1u, sink.Events().size());
    EXPECT_EQ("Device Dev1 Enabled", sink.Events()[0].text);
    EXPECT_EQ("Dev1", sink.Events()[0].source);
    EXPECT_EQ(0x010202u, sink.Events()[0].eventCode);

    EXPECT_EQ(0, Set(*block, "SendEvents", I2(1)));
    EXPECT_EQ(0, Set(*block, "Enabled", I2(0)));
    EXPECT_EQ("DataBlock Blk1 Disabled", view.Texts()[0]);
    ASSERT_EQ(2u, sink.Events().size());
    EXPECT_EQ(0x020202u, sink.Events()[1].eventCode);
    EXPECT_EQ("Blk1", sink.Events()[1].source);
    EXPECT_EQ(3u, g_alarms.size());

    // While a CSV file is imported no lines are posted.
    SetConfigImporting(true);
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(0)));
    EXPECT_EQ(0, Set(*block, "Enabled", I2(1)));
    SetConfigImporting(false);
    EXPECT_EQ(3u, view.Texts().size());
    EXPECT_EQ(2u, sink.Events().size());
    EXPECT_EQ(3u, g_alarms.size());
    EXPECT_EQ("0", Get(*channel, "Enabled"));
}

TEST_F(ConfigTree, EnableRefusals)
{
    std::unique_ptr<CChannel> prototype(new CChannel(false, false));
    EXPECT_EQ(CFG_E_NO_THREADS, Set(*prototype, "Enabled", I2(1)));
    std::unique_ptr<CDataBlock> empty(new CDataBlock);
    EXPECT_EQ(CFG_E_NO_LENGTH, Set(*empty, "Enabled", I2(1)));
    EXPECT_EQ(0, Set(*block, "Enabled", I2(1)));
    EXPECT_EQ(CFG_E_LENGTH_ENABLED, Set(*block, "Length", I4(0)));
    EXPECT_EQ("10", Get(*block, "Length"));
    EXPECT_EQ(std::vector<std::string>{"DataBlock Blk1 Enabled"}, view.Texts());
}

TEST_F(ConfigTree, ConnectionNamesAreLockedWhileRunning)
{
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(1)));
    EXPECT_EQ(0, Set(*device, "Enabled", I2(1)));
    EXPECT_EQ(0, Set(*channel, "PrimaryCPName", Text("CP1")));
    driver->SetRunningState(true);
    EXPECT_EQ(CFG_E_CP_VFD_LOCKED, Set(*channel, "PrimaryCPName", Text("CP2")));
    EXPECT_EQ(CFG_E_CP_VFD_LOCKED, Set(*channel, "BackupVFDName", Text("V2")));
    EXPECT_EQ(CFG_E_CONN_LOCKED, Set(*device, "PrimaryConnName", Text("C2")));
    EXPECT_EQ(VT_DATE, [&] {
        VARIANT v;
        VariantInit(&v);
        driver->GetProperty("LastStartTime", &v);
        return V_VT(&v);
    }());
    EXPECT_EQ(0, Set(*device, "Enabled", I2(0)));
    EXPECT_EQ(0, Set(*device, "PrimaryConnName", Text("C2")));
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(0)));
    EXPECT_EQ(0, Set(*channel, "PrimaryCPName", Text("CP2")));
    driver->SetRunningState(false);
}

TEST_F(ConfigTree, VfdNamesAreUniqueButEmptyNamesNeverCollide)
{
    CChannel *second = AddChannel("Ch2");
    EXPECT_EQ(0, Set(*channel, "PrimaryVFDName", Text("VFD1")));
    EXPECT_EQ(CFG_E_VFD_USED, Set(*second, "PrimaryVFDName", Text("VFD1")));
    EXPECT_EQ(CFG_E_VFD_USED, Set(*channel, "BackupVFDName", Text("VFD1")));
    EXPECT_EQ(0, Set(*channel, "PrimaryVFDName", Text("VFD1")));  // unchanged
    EXPECT_EQ(0, Set(*second, "BackupVFDName", Text("VFD2")));
    // Clearing a backup while other records are empty too.
    EXPECT_EQ(0, Set(*second, "BackupVFDName", Text("")));
    EXPECT_EQ(0, Set(*channel, "BackupVFDName", Text("")));
    EXPECT_EQ("", Get(*second, "BackupVFDName"));
}

TEST_F(ConfigTree, ConnectionNamesAreUniqueInTheChannel)
{
    CDevice *second = AddDevice(*channel, "Dev2");
    CDevice *elsewhere = AddDevice(*AddChannel("Ch2"), "Dev3");
    EXPECT_EQ(0, Set(*device, "PrimaryConnName", Text("C1")));
    EXPECT_EQ(CFG_E_CONN_USED, Set(*second, "PrimaryConnName", Text("C1")));
    EXPECT_EQ(CFG_E_CONN_USED, Set(*second, "BackupConnName", Text("C1")));
    EXPECT_EQ(CFG_E_CONN_USED, Set(*device, "BackupConnName", Text("C1")));
    EXPECT_EQ(0, Set(*elsewhere, "PrimaryConnName", Text("C1")));
    EXPECT_EQ(0, Set(*second, "BackupConnName", Text("C2")));
    EXPECT_EQ(0, Set(*second, "BackupConnName", Text("")));
    EXPECT_EQ(0, Set(*device, "BackupConnName", Text("")));
}

TEST_F(ConfigTree, ConnectionInUseNamesTheChannelRecord)
{
    Set(*channel, "PrimaryCPName", Text("CP1"));
    Set(*channel, "PrimaryVFDName", Text("VFD1"));
    Set(*channel, "BackupCPName", Text("CP2"));
    EXPECT_EQ("CP1", Get(*device, "CPNameInUse"));
    device->SetUsingPrimary(false);
    EXPECT_EQ("0", Get(*device, "IsUsingPrimary"));
    EXPECT_EQ("CP1", Get(*device, "CPNameInUse")) << "the backup record has no VFD";
    Set(*channel, "BackupVFDName", Text("VFD2"));
    EXPECT_EQ("CP2", Get(*device, "CPNameInUse"));
    EXPECT_EQ("VFD2", Get(*device, "VFDNameInUse"));
}

TEST_F(ConfigTree, ChildListsAddRemoveAndHandles)
{
    CChannel *second = AddChannel("Ch2");
    auto *dup = new CChannel;
    Set(*dup, "Name", Text("x"));
    dup->SetProperty("Name", Text("CH2"));  // refused: used in the tree
    EXPECT_EQ("x", dup->Name());
    std::unique_ptr<CChannel> sibling(new CChannel);
    std::unique_ptr<CDriver> lone;
    EXPECT_EQ(0, driver->AddChannel(dup));

    SAFEARRAY *handles = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    SAFEARRAY *names = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    EXPECT_EQ(0, driver->GetChannels(handles, names));
    const char *expected[] = {"Ch1", "Ch2", "x"};
    for (LONG i = 0; i < 3; ++i) {
        VARIANT h, n;
        VariantInit(&h);
        VariantInit(&n);
        SafeArrayGetElement(handles, &i, &h);
        SafeArrayGetElement(names, &i, &n);
        ASSERT_EQ(VT_I4, V_VT(&h));
        CChannel *c = LiveObjectAs<CChannel>(uint32_t(V_I4(&h)));
        ASSERT_NE(nullptr, c);
        EXPECT_EQ(expected[i], c->Name());
        EXPECT_EQ(expected[i], ConfigValue::Narrow(V_BSTR(&n)));
        EXPECT_EQ(nullptr, LiveObjectAs<CDevice>(uint32_t(V_I4(&h))));
        VariantClear(&n);
    }
    SafeArrayDestroy(handles);
    SafeArrayDestroy(names);
    SAFEARRAY *small = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    SAFEARRAY *small2 = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    EXPECT_EQ(CFG_E_ARRAY_PUT, driver->GetChannels(small, small2));
    SafeArrayDestroy(small);
    SafeArrayDestroy(small2);

    // Add: a sibling of the same name is refused.
    Set(*sibling, "Name", Text("Solo"));
    std::unique_ptr<CChannel> same(new CChannel);
    EXPECT_EQ(0, driver->AddChannel(sibling.get()));
    sibling.release();
    // Remove: wrong class, not found, first.
    EXPECT_EQ(E_INVALIDARG, driver->RemoveChannel(device));
    EXPECT_EQ(CFG_E_NOT_FOUND, driver->RemoveChannel(same.get()));
    uint32_t handle = second->Handle();
    EXPECT_EQ(0, driver->RemoveChannel(second));
    EXPECT_EQ(nullptr, LiveObjectAs<CChannel>(handle)) << "a removed channel's handle is dead";
    uint32_t deviceHandle = device->Handle();
    EXPECT_EQ(0, driver->RemoveChannel(nullptr));  // Ch1 with its device and block
    EXPECT_EQ(nullptr, LiveObjectFromHandle(deviceHandle, nullptr));
    EXPECT_EQ(0, driver->RemoveChannel(nullptr));
    EXPECT_EQ(0, driver->RemoveChannel(nullptr));
    EXPECT_EQ(CFG_E_NO_CHANNELS, driver->RemoveChannel(nullptr));
}

TEST_F(ConfigTree, SiblingNamesAndBlockCollisions)
{
    // Objects built apart (no tree check yet) meet their siblings on add.
    std::unique_ptr<CDriver> keep;
    CDevice *twin = new CDevice;
    twin->SetProperty("Name", Text("Other"));
    EXPECT_EQ(0, channel->AddDevice(twin));
    EXPECT_EQ(CFG_E_NAME_USED, channel->AddDevice(twin));
    EXPECT_EQ(E_INVALIDARG, channel->RemoveDevice(block));
    EXPECT_EQ(0, channel->RemoveDevice(twin));

    std::unique_ptr<CDataBlock> overlap(new CDataBlock);
    Set(*overlap, "Name", Text("Over"));
    Set(*overlap, "StartAddress", Text("DB10,9"));
    EXPECT_EQ(CFG_E_BLOCK_COLLIDES, device->AddDataBlock(overlap.get()));
    Set(*overlap, "EndAddress", Text("DB10,10"));
    Set(*overlap, "StartAddress", Text("DB10,10"));
    EXPECT_EQ(0, device->AddDataBlock(overlap.get()));
    CDataBlock *added = overlap.release();
    // Once in the device, moving onto another block's range is refused.
    EXPECT_EQ(CFG_E_BLOCK_COLLIDES, Set(*added, "StartAddress", Text("DB10,5")));
    EXPECT_EQ(CFG_E_BLOCK_COLLIDES, Set(*block, "Length", I4(11)));
    EXPECT_EQ(0, Set(*added, "StartAddress", Text("DB11,5")));
    EXPECT_EQ(0, device->RemoveDataBlock(added));
    EXPECT_EQ(0, device->RemoveDataBlock(nullptr));
    EXPECT_EQ(CFG_E_NO_DATABLOCKS, device->RemoveDataBlock(nullptr));
    EXPECT_EQ(0, channel->RemoveDevice(nullptr));
    EXPECT_EQ(CFG_E_NO_DEVICES, channel->RemoveDevice(nullptr));
}

struct AddressStep {
    const char *name;
    int valueKind;  // 0 text, 1 number
    const char *text;
    LONG number;
    LONG code;
    const char *start, *end, *sapi;
    LONG length;
    LONG type;
};

class AddressRules : public testing::TestWithParam<std::vector<AddressStep>> {};

TEST_P(AddressRules, StepsOnOneBlock)
{
    CDataBlock b;
    int n = 0;
    for (const AddressStep &s : GetParam()) {
        SCOPED_TRACE("step " + std::to_string(n++) + ": " + s.name);
        VARIANT v = s.valueKind == 0 ? Text(s.text) : I4(s.number);
        EXPECT_EQ(s.code, Set(b, s.name, v));
        EXPECT_EQ(s.start, Get(b, "StartAddress"));
        EXPECT_EQ(s.end, Get(b, "EndAddress"));
        EXPECT_EQ(s.sapi, Get(b, "SapiAddress"));
        EXPECT_EQ(s.length, GetLong(b, "Length"));
        EXPECT_EQ(s.type, GetLong(b, "DataType"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, AddressRules, testing::Values(
    std::vector<AddressStep>{
        {"StartAddress", 0, "db10,100", 0, 0, "DB10,100", "DB10,100", "DB10,B100,1", 1, 9},
        {"EndAddress", 0, "DB10,109", 0, 0, "DB10,100", "DB10,109", "DB10,B100,10", 10, 9},
        {"DataType", 1, nullptr, 2, 0, "DB10,100", "DB10,109", "DB10,W100,5", 10, 2},
        {"StartAddress", 0, "DB10,104", 0, 0, "DB10,104", "DB10,109", "DB10,W104,3", 6, 2},
        {"DataType", 1, nullptr, 3, 0, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"EndAddress", 0, "DB11,120", 0, CFG_E_END_OTHER_AREA, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"EndAddress", 0, "M120", 0, CFG_E_END_OTHER_AREA, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"EndAddress", 0, "DB10,100", 0, CFG_E_INVALID_VALUE, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"StartAddress", 0, "DB10,xx", 0, CFG_E_BAD_ADDRESS, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"StartAddress", 0, "M65636", 0, CFG_E_BAD_ADDRESS, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"StartAddress", 0, "  ", 0, CFG_E_INVALID_VALUE, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"StartAddress", 1, nullptr, 7, CFG_E_WRONG_TYPE, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"Length", 1, nullptr, 239, CFG_E_READ_LIMIT, "DB10,104", "DB10,111", "DB10,REAL104,2", 8, 3},
        {"Length", 1, nullptr, 235, 0, "DB10,104", "DB10,339", "DB10,REAL104,59", 236, 3},
        {"BlockWritesEnabled", 1, nullptr, 1, CFG_E_WRITE_LIMIT, "DB10,104", "DB10,339", "DB10,REAL104,59", 236, 3},
        {"Length", 1, nullptr, 228, 0, "DB10,104", "DB10,331", "DB10,REAL104,57", 228, 3},
        {"BlockWritesEnabled", 1, nullptr, 1, 0, "DB10,104", "DB10,331", "DB10,REAL104,57", 228, 3},
        {"Length", 1, nullptr, 229, CFG_E_WRITE_LIMIT, "DB10,104", "DB10,331", "DB10,REAL104,57", 228, 3},
        {"Length", 1, nullptr, -4, CFG_E_INVALID_VALUE, "DB10,104", "DB10,331", "DB10,REAL104,57", 228, 3},
        {"Length", 1, nullptr, 0, 0, "", "", "Error", 0, 9}},
    std::vector<AddressStep>{
        // The counter area takes its own type and counts two bytes per address.
        {"StartAddress", 0, "C10", 0, 0, "C10", "C10", "C10,1", 1, 10},
        {"Length", 1, nullptr, 3, 0, "C10", "C12", "C10,3", 3, 10},
        {"DataType", 1, nullptr, 9, CFG_E_TYPE_NOT_IN_AREA, "C10", "C12", "C10,3", 3, 10},
        {"Length", 1, nullptr, 120, CFG_E_READ_LIMIT, "C10", "C12", "C10,3", 3, 10},
        // A bit for a counter is refused; the end stays when the start moves.
        {"StartAddress", 0, "Q4.1", 0, CFG_E_BAD_ADDRESS, "C10", "C12", "C10,3", 3, 10},
        {"StartAddress", 0, "Q4", 0, 0, "Q4", "Q12", "AB4,9", 9, 9},
        {"DataType", 1, nullptr, 4, 0, "Q4:0", "Q12", "AX4.0", 9, 4},
        {"StartAddress", 0, "Q4.1", 0, 0, "Q4:1", "Q12", "AX4.1", 9, 4},
        {"StartAddress", 0, "DB1,0:3", 0, 0, "DB1,0:3", "DB1,12", "DB1,X0.3", 13, 4},
        // A start past the kept end is refused: the block stays as it was.
        {"StartAddress", 0, "DB1,20", 0, CFG_E_INVALID_VALUE, "DB1,0:3", "DB1,12", "DB1,X0.3", 13, 4}},
    std::vector<AddressStep>{
        // A bit is refused for a type that is not bit-addressable.
        {"DataType", 1, nullptr, 1, 0, "", "", "Error", 0, 1},
        {"StartAddress", 0, "M10.3", 0, CFG_E_BAD_ADDRESS, "", "", "Error", 0, 1},
        {"StartAddress", 0, "M10", 0, 0, "M10", "M11", "MINT10,1", 2, 1},
        {"StartAddress", 0, "DB8192,0", 0, CFG_E_BAD_ADDRESS, "M10", "M11", "MINT10,1", 2, 1}}));

TEST_F(ConfigTree, DisablingStopsTheBlocksBelow)
{
    // The high byte of the status word is never the stop's.
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(1)));
    EXPECT_EQ(0, Set(*block, "Enabled", I2(1)));
    block->SetStatus(0x01C0);
    EXPECT_EQ(0, Set(*channel, "Enabled", I2(0)));
    EXPECT_EQ(0x0100, GetLong(*block, "Quality"));
    EXPECT_EQ("1", Get(*block, "Enabled")) << "the block keeps its own setting";

    // A connection switch keeps the last value with LatchData, else the substatus.
    block->SetStatus(0x02C3 | 0x18);
    device->Disable(false, 1);
    EXPECT_EQ(0x0218, GetLong(*block, "Quality"));
    EXPECT_EQ(0, Set(*block, "LatchData", I2(1)));
    block->SetStatus(0x00C0);
    device->Disable(false, 1);
    EXPECT_EQ(0x14, GetLong(*block, "Quality"));
}

TEST_F(ConfigTree, DeviceReferenceCarriesTheNameChecksum)
{
    EXPECT_EQ(0xBB3D, CDevice::Crc16("123456789"));
    std::unique_ptr<CDevice> made(new CDevice(true));
    EXPECT_EQ(CDevice::Crc16(made->Name()), made->Reference() >> 16);
    EXPECT_LT(made->Reference() & 0xFFFF, uint32_t(999 | 59 << 10) + 1);
}

TEST(EventCodes, PackCategoryGroupAndState)
{
    EXPECT_EQ(0x010202u, CEventCode::ObjectEnabled().Value());
    EXPECT_EQ(0x020202u, CEventCode::ObjectDisabled().Value());
    EXPECT_EQ(0x010101u, CEventCode::CommFailed().Value());
    EXPECT_EQ(0x020101u, CEventCode::CommRecovered().Value());
    EXPECT_EQ(0x030201u, CEventCode(1, 2, 3).Value());
}

TEST(ClassRecords, ConfigurationClassesAreCreatedByName)
{
    for (const char *name : {"CChannel", "CDevice", "CDataBlock"}) {
        std::unique_ptr<CObject> object(CRuntimeClass::CreateObject(name));
        ASSERT_NE(nullptr, object) << name;
        EXPECT_TRUE(object->IsKindOf(CConfigObject::StaticClass()));
        EXPECT_EQ(1u, object->GetRuntimeClass()->schema);
        EXPECT_EQ("", static_cast<CConfigObject *>(object.get())->Name()) << "no default name on load";
    }
}

} // namespace
