// The Setup sheet's value rules, the templates' registry mapping and the
// data monitor's label parser and lines, over a registry key and a server in
// memory.
#include <gtest/gtest.h>
#include <cstring>
#include <iostream>
#include "DataMonitor.h"
#include "DataMonitorDlg.h"
#include "SheetResource.h"
#include "SetupSettings.h"
#include "Templates.h"
#include "ToolFakes.h"

namespace {

const HRESULT kBadValue = HRESULT(0xC1030311);

class Texts : public IErrorTexts {
public:
    bool Text(HRESULT code, std::string &text) override
    {
        if (code != kBadValue)
            return false;
        text = "The value is not valid.";
        return true;
    }
};

// Keys by subkey name, each with texts and numbers.
class FakeKey : public ISettingsKey {
public:
    struct Key {
        std::map<std::string, std::string> texts;
        std::map<std::string, DWORD> numbers;
    };
    std::map<std::string, Key> keys;
    std::vector<std::string> opened;  // "machine/subkey"
    std::string current;
    bool opens = true, writes = true, isOpen = false;

    bool Open(const std::string &subKey, const std::string &machine) override
    {
        opened.push_back((machine.empty() ? "local" : machine) + "/" + subKey);
        isOpen = opens;
        current = subKey;
        return opens;
    }
    void Close() override { isOpen = false; }
    bool ReadText(const std::string &name, std::string &text) override
    {
        auto found = keys[current].texts.find(name);
        if (!isOpen || found == keys[current].texts.end())
            return false;
        text = found->second;
        return true;
    }
    bool ReadNumber(const std::string &name, DWORD &value) override
    {
        auto found = keys[current].numbers.find(name);
        if (!isOpen || found == keys[current].numbers.end())
            return false;
        value = found->second;
        return true;
    }
    bool WriteText(const std::string &name, const std::string &text) override
    {
        if (!isOpen || !writes)
            return false;
        keys[current].texts[name] = text;
        return true;
    }
    bool WriteNumber(const std::string &name, DWORD value) override
    {
        if (!isOpen || !writes)
            return false;
        keys[current].numbers[name] = value;
        return true;
    }
};

// --- the Advanced page --------------------------------------------------------------

class SapiDriver : public FakeToolDriver {
public:
    std::vector<std::pair<LONG, std::string>> sent;  // handle, "name=VT:value"
    HRESULT STDMETHODCALLTYPE SetPropertyData(LONG handle, VARIANT names, VARIANT in, VARIANT *) override
    {
        LONG at = 0;
        VARIANT name = Element(names, at), value = Element(in, at);
        sent.push_back({handle, Narrow(V_BSTR(&name)) + "=" + std::to_string(V_VT(&value)) + ":" +
                                    std::to_string(V_VT(&value) == VT_I4 ? V_I4(&value) : -1)});
        VariantClear(&name);
        VariantClear(&value);
        return S_OK;
    }
};

class AdvancedTest : public ::testing::Test {
protected:
    AdvancedTest() : page(key, screen, texts)
    {
        FakeKey::Key &driverKey = key.keys[""];
        driverKey.numbers = {{"MaxSize", 500}, {"GrowIncrement", 20}, {"DriverSapiTimeout", 15000}};
        driverKey.texts = {{"SignalDll", "Parvel.dll"}};
    }
    FakeKey key;
    FakeScreen screen;
    Texts texts;
    SapiDriver driver;
    CAdvancedSettings page;
};

TEST_F(AdvancedTest, LoadShowsNumbersSecondsAndSwitchDefaults)
{
    ASSERT_TRUE(page.Load(""));
    EXPECT_EQ("500", page.Text(IdcMaxSize));
    EXPECT_EQ("20", page.Text(IdcGrowIncrement));
    EXPECT_EQ("", page.Text(IdcOverrunBuffer));  // missing stays empty
    EXPECT_EQ("15", page.Text(IdcTimeout));
    EXPECT_EQ("Parvel.dll", page.Text(IdcSignalDll));
    EXPECT_FALSE(page.Simulation());
    EXPECT_TRUE(page.AutoCreate());  // On when missing
    EXPECT_FALSE(page.AutoStart());

    key.keys[""].numbers["DriverAutoCreate"] = 0;
    key.keys[""].numbers["SimulationMode"] = 1;
    ASSERT_TRUE(page.Load("PLANT3"));
    EXPECT_FALSE(page.AutoCreate());
    EXPECT_TRUE(page.Simulation());
    EXPECT_EQ("PLANT3/", key.opened.back());

    key.opens = false;
    EXPECT_FALSE(page.Load(""));
    EXPECT_EQ("", page.Text(IdcMaxSize));
    EXPECT_TRUE(page.Leave(&driver));  // nothing to write
    EXPECT_TRUE(driver.sent.empty());
}

TEST_F(AdvancedTest, LeavingWritesOnlyParsedValues)
{
    struct Case {
        const char *field;    // typed into "Maximum Size:"
        const char *timeout;  // typed into "Global Timeout (sec):"
        bool leaves;
        DWORD maxSize, stored;  // "MaxSize", "DriverSapiTimeout" afterwards
        const char *sent;       // what reached the driver, or ""
    } cases[] = {
        {"", "30", true, 500, 30000, "SapiTimeout=3:30000"},
        {" 42 ", "", true, 42, 15000, ""},
        {"abc", "30", false, 500, 15000, ""},
        {"12x", "30", false, 500, 15000, ""},
        {"7", "0", false, 500, 15000, ""},
        {"7", "abc", false, 500, 15000, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " / " + c.timeout);
        key.keys[""].numbers["MaxSize"] = 500;
        key.keys[""].numbers["DriverSapiTimeout"] = 15000;
        driver.sent.clear();
        screen.events.clear();
        ASSERT_TRUE(page.Load(""));
        page.SetText(IdcMaxSize, c.field);
        page.SetText(IdcTimeout, c.timeout);
        EXPECT_EQ(c.leaves, page.Leave(&driver));
        EXPECT_EQ(c.maxSize, key.keys[""].numbers["MaxSize"]);
        EXPECT_EQ(c.stored, key.keys[""].numbers["DriverSapiTimeout"]);
        if (*c.sent) {
            ASSERT_EQ(1u, driver.sent.size());
            EXPECT_EQ(0, driver.sent[0].first);
            EXPECT_EQ(c.sent, driver.sent[0].second);
        } else {
            EXPECT_TRUE(driver.sent.empty());
        }
        EXPECT_EQ(c.leaves ? std::vector<std::string>{} : std::vector<std::string>{"The value is not valid."},
                  screen.Boxes());
        if (c.leaves) {
            EXPECT_EQ(1u, key.keys[""].numbers["DriverAutoCreate"]);
            EXPECT_EQ(0u, key.keys[""].numbers["SimulationMode"]);
            EXPECT_EQ("Parvel.dll", key.keys[""].texts["SignalDll"]);
        }
    }
}

TEST_F(AdvancedTest, TimeoutFieldAndWriteFailures)
{
    EXPECT_TRUE(page.CheckTimeout("30"));
    EXPECT_FALSE(page.CheckTimeout("0"));
    EXPECT_FALSE(page.CheckTimeout("abc"));
    EXPECT_FALSE(page.CheckTimeout(""));
    EXPECT_EQ(3u, screen.Boxes().size());

    screen.events.clear();
    ASSERT_TRUE(page.Load(""));
    key.writes = false;
    EXPECT_TRUE(page.Leave(nullptr));
    EXPECT_EQ(std::vector<std::string>{"Unable to write to registry"}, screen.Boxes());
}

TEST(SetupRate, RangeIsTenToSixtyThousand)
{
    struct Case {
        const char *text;
        bool ok;
    } cases[] = {{"5", false}, {"10", true}, {"60000", true}, {"60001", false}, {"abc", false}, {"", false},
                 {"250ms", false}, {"1000", true}};
    for (const Case &c : cases) {
        DWORD rate = 0;
        EXPECT_EQ(c.ok, ParseSetupRefreshRate(c.text, rate)) << c.text;
        if (c.ok)
            EXPECT_EQ(strtoul(c.text, nullptr, 10), rate);
    }
    EXPECT_STREQ("Please enter an integer between 10 and 60000.", RefreshRateRange);
}

// --- templates ----------------------------------------------------------------------

class TemplatesTest : public ::testing::Test {
protected:
    TemplatesTest() : templates(key, screen), channel(nullptr), device(nullptr), block(nullptr) {}
    FakeKey key;
    FakeScreen screen;
    CTemplates templates;
    CChannelItem channel;
    CDeviceItem device;
    CDataBlockItem block;
};

TEST_F(TemplatesTest, EmptyRegistryGivesTheDefaults)
{
    ASSERT_TRUE(templates.Read("", channel, device, block));
    EXPECT_EQ("Channel", channel.GetName());
    EXPECT_EQ("0", channel.Current("Enabled"));
    EXPECT_EQ("Device", device.GetName());
    EXPECT_EQ("None", device.Current("PrimaryConnName"));
    EXPECT_EQ("None", device.Current("BackupConnName"));
    EXPECT_EQ("10", device.Current("PrimaryReplyTimeout"));
    EXPECT_EQ("3", device.Current("BackupRetries"));
    EXPECT_EQ("DataBlock", block.GetName());
    EXPECT_EQ("M0", block.GetStartAddress());
    EXPECT_EQ("M1", block.GetEndAddress());
    EXPECT_EQ("2", block.GetLength());
    EXPECT_EQ("01", block.Current("PrimaryPollTime"));
    EXPECT_EQ("Disabled", block.Current("SecondaryPollTime"));
    EXPECT_EQ("05:00", block.Current("AccessTime"));
    EXPECT_EQ("00", block.GetPhase());
    EXPECT_EQ("01", block.Current("DeadBand"));
    EXPECT_EQ(9, block.GetDataType());
    EXPECT_EQ((std::vector<std::string>{"local/ChannelDefaults", "local/DeviceDefaults", "local/DataBlockDefaults"}),
              key.opened);
    EXPECT_TRUE(screen.Boxes().empty());
}

TEST_F(TemplatesTest, FilledRegistryReadsAndWritesBackEveryValue)
{
    FakeKey::Key &dev = key.keys["DeviceDefaults"];
    dev.texts = {{"DeviceName", "Press"}, {"DevicePrimStation", "OLD"}, {"DevicePrimConnection", "S7_A"},
                 {"DeviceBackStation", "S7_B"}, {"DevicePrimTimeout", "12.5"}};
    dev.numbers = {{"DeviceEnabled", 1}};
    FakeKey::Key &blk = key.keys["DataBlockDefaults"];
    blk.texts = {{"DataBlockPrimaryPoll", ""}, {"DataBlockAccessTime", ""}, {"DataBlockStartAddress", "DB5,0"}};
    blk.numbers = {{"DataBlockDataType", 4}, {"DataBlockLatchData", 1}};
    ASSERT_TRUE(templates.Read("PLANT3", channel, device, block));
    EXPECT_EQ("Press", device.GetName());
    EXPECT_EQ("S7_A", device.Current("PrimaryConnName"));  // the server's name wins
    EXPECT_EQ("S7_B", device.Current("BackupConnName"));   // the older name when alone
    EXPECT_EQ("12.5", device.Current("PrimaryReplyTimeout"));
    EXPECT_EQ("1", device.Current("Enabled"));
    EXPECT_EQ("Disabled", block.Current("PrimaryPollTime"));
    EXPECT_EQ("Disabled", block.Current("AccessTime"));
    EXPECT_EQ("DB5,0", block.GetStartAddress());
    EXPECT_EQ(4, block.GetDataType());
    EXPECT_EQ("1", block.Current("LatchData"));
    EXPECT_EQ("PLANT3/ChannelDefaults", key.opened[0]);

    device.SetCurrent("PrimaryConnName", "None");
    device.SetCurrent("BackupConnName", "S7_C");
    block.SetCurrent("SecondaryPollTime", "2");
    key.keys.clear();
    ASSERT_TRUE(templates.Write("", channel, device, block));
    EXPECT_EQ(29u, key.keys["ChannelDefaults"].texts.size() + key.keys["ChannelDefaults"].numbers.size() +
                       key.keys["DeviceDefaults"].texts.size() + key.keys["DeviceDefaults"].numbers.size() - 2 +
                       key.keys["DataBlockDefaults"].texts.size() + key.keys["DataBlockDefaults"].numbers.size());
    EXPECT_EQ("", key.keys["DeviceDefaults"].texts["DevicePrimStation"]);
    EXPECT_EQ("", key.keys["DeviceDefaults"].texts["DevicePrimConnection"]);
    EXPECT_EQ("S7_C", key.keys["DeviceDefaults"].texts["DeviceBackStation"]);
    EXPECT_EQ("S7_C", key.keys["DeviceDefaults"].texts["DeviceBackConnection"]);
    EXPECT_EQ("", key.keys["DataBlockDefaults"].texts["DataBlockPrimaryPoll"]);
    EXPECT_EQ("", key.keys["DataBlockDefaults"].texts["DataBlockAccessTime"]);
    EXPECT_EQ("2", key.keys["DataBlockDefaults"].texts["DataBlockSecondaryPoll"]);
    EXPECT_EQ(4u, key.keys["DataBlockDefaults"].numbers["DataBlockDataType"]);
    EXPECT_EQ(1u, key.keys["DeviceDefaults"].numbers["DeviceEnabled"]);
    EXPECT_EQ("Press", key.keys["DeviceDefaults"].texts["DeviceName"]);
}

TEST_F(TemplatesTest, FailuresAreShown)
{
    key.opens = false;
    EXPECT_FALSE(templates.Read("", channel, device, block));
    EXPECT_EQ(std::vector<std::string>{"Open registry failed"}, screen.Boxes());
    EXPECT_EQ("", channel.GetName());  // nothing read
    screen.events.clear();
    EXPECT_FALSE(templates.Write("", channel, device, block));
    EXPECT_EQ(std::vector<std::string>{"Open registry failed"}, screen.Boxes());
    screen.events.clear();
    key.opens = true;
    key.writes = false;
    EXPECT_FALSE(templates.Write("", channel, device, block));
    EXPECT_EQ(std::vector<std::string>{"Unable to write to registry"}, screen.Boxes());
}

// --- the data monitor ---------------------------------------------------------------

TEST(MonitorLabelTest, StartAddressesGiveLabels)
{
    struct Case {
        const char *address;
        long offset;
        const char *label;
        long base;
    } cases[] = {
        {"DB10,100", 0, "DB10,0100 | ", 100},
        {"DB10,100", 20, "DB10,0120 | ", 100},
        {"M100", 0, "M0100 | ", 100},
        {"DB10,100:3", 4, "DB10,0104:3 | ", 100},
        {"MB", 0, "MB | ", 0},
        {"%n%s,5", 1, "%n%s,0006 | ", 5},  // the user's text is never a format
        {"DB1,%d", 0, "DB1, | ", 0},
    };
    for (const Case &c : cases) {
        MonitorLabel label = MonitorLabel::Parse(c.address);
        EXPECT_EQ(c.label, label.Format(c.offset)) << c.address;
        EXPECT_EQ(c.base, label.base) << c.address;
    }
}

TEST(MonitorLinesTest, EachFormatLaysOutItsItems)
{
    MonitorLabel label = MonitorLabel::Parse("DB10,100");
    unsigned char bytes[40];
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    std::vector<std::string> lines = CDataMonitor::BuildLines(bytes, 10, FormatByte, label);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("DB10,0100 |   0   1   2   3   4   5   6   7   8   9 ", lines[0]);

    lines = CDataMonitor::BuildLines(bytes, 40, FormatHex, label);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(std::string("DB10,0100 | ") + "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 ", lines[0]);
    EXPECT_EQ(0u, lines[1].find("DB10,0120 | 14 15 "));

    const unsigned char ascii[] = {0x41, 0xC1, 0x00, 0x62};
    lines = CDataMonitor::BuildLines(ascii, 4, FormatAscii, label);
    EXPECT_EQ("DB10,0100 | A  b", lines.at(0));

    const unsigned char digital[] = {0x05, 0xA0};
    lines = CDataMonitor::BuildLines(digital, 2, FormatDigital, label);
    EXPECT_EQ("DB10,0100 | 00000101 10100000 ", lines.at(0));

    // Multi-byte items are taken least significant byte first.
    const unsigned char words[] = {0x34, 0x12, 0xFE, 0xFF, 0x00, 0x00, 0x80, 0x3F};
    struct Case {
        int format;
        const char *line;
    } cases[] = {
        {FormatChar, "M0000 | +052  +018  -002  -001  +000  +000  -128  +063  "},
        {FormatDecimal, "M0000 |  +4660      -2      +0  +16256  "},
        {FormatWord, "M0000 |  4660 65534     0 16256 "},
        {FormatOctal, "M0000 |  11064 177776      0  37600 "},
        {FormatLong, "M0000 |     -126412 +1065353216 "},
        {FormatDWord, "M0000 |  4294840884  1065353216 "},
        {FormatFloat, "M0000 |            nan              1 "},
    };
    MonitorLabel m = MonitorLabel::Parse("M0");
    for (const Case &c : cases) {
        lines = CDataMonitor::BuildLines(words, 8, c.format, m);
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(c.line, lines[0]) << MonitorFormats[c.format].name;
    }
    // Items per line: 16/10/20/8/10/4/5/5/8/30/7 over 250 bytes.
    unsigned char big[250] = {};
    const size_t expected[FormatCount] = {16, 25, 13, 16, 13, 16, 13, 13, 16, 9, 36};
    for (int f = 0; f < FormatCount; ++f)
        EXPECT_EQ(expected[f], CDataMonitor::BuildLines(big, 250, f, m).size()) << MonitorFormats[f].name;
}

// Each format's last item ends where the data ends: the data is put right
// before a page the process may not read, so a read past it faults.
TEST(MonitorLinesTest, TheLastItemReadsOnlyTheDataItNeeds)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    unsigned char *memory =
        static_cast<unsigned char *>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_TRUE(memory != nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &old));
    MonitorLabel label = MonitorLabel::Parse("M0");  // "M0000 | "
    const unsigned char sample[4] = {0x41, 0x41, 0x41, 0x41};
    for (int format = 0; format < FormatCount; ++format) {
        const size_t width = size_t(MonitorFormats[format].bits / 8);
        const size_t item = CDataMonitor::BuildLines(sample, width, format, label).at(0).size() - 8;
        // Up to 7 bytes: one line in every format.
        for (size_t count = 1; count <= 7; ++count) {
            unsigned char *bytes = memory + page - count;
            memset(bytes, 0x41, count);
            std::vector<std::string> lines = CDataMonitor::BuildLines(bytes, count, format, label);
            ASSERT_EQ(1u, lines.size()) << MonitorFormats[format].name << " " << count;
            // Whole items only: a word format over 3 bytes shows one word.
            EXPECT_EQ(8 + (count / width) * item, lines[0].size()) << MonitorFormats[format].name << " " << count;
        }
    }
    VirtualFree(memory, 0, MEM_RELEASE);
}

TEST(MonitorLinesTest, TheDialogsLinesAreDrawnInAFixedPitchFont)
{
    CDataMonitorDlg dialog(GetModuleHandleA(nullptr), nullptr, 0);
    ASSERT_TRUE(dialog.Create(nullptr));
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog.Item(IDC_MONITOR_LIST), WM_GETFONT, 0, 0));
    ASSERT_TRUE(font != nullptr);
    HDC dc = GetDC(nullptr);
    HGDIOBJ before = SelectObject(dc, font);
    SIZE narrow = {}, wide = {};
    GetTextExtentPoint32A(dc, "1111", 4, &narrow);
    GetTextExtentPoint32A(dc, "WWWW", 4, &wide);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    SelectObject(dc, before);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(narrow.cx, wide.cx) << face;
    EXPECT_GT(narrow.cx, 0);
    std::cout << "[ font ] " << face << "\n";
}

// A block's properties (times as dates) and its bytes.
class MonitorDriver : public FakeToolDriver {
public:
    std::vector<std::string> asked;
    std::vector<unsigned char> content;
    HRESULT rawResult = S_OK;
    DATE readTime = 0;
    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG handle, VARIANT names, VARIANT *out, VARIANT *) override
    {
        LONG at = 0;
        VARIANT name = Element(names, at);
        std::string key = Narrow(V_BSTR(&name));
        VariantClear(&name);
        asked.push_back(key);
        VARIANT value;
        VariantInit(&value);
        if (key == "ReadTime" && readTime) {
            V_VT(&value) = VT_DATE;
            V_DATE(&value) = readTime;
        } else if (values.count(key)) {
            V_VT(&value) = VT_BSTR;
            V_BSTR(&value) = Bstr(values[key]);
        } else {
            return S_FALSE;
        }
        SafeArrayPutElement(V_ARRAY(out), &at, &value);
        VariantClear(&value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRawDataBlockContent(LONG, VARIANT *out) override
    {
        if (FAILED(rawResult))
            return rawResult;
        SAFEARRAYBOUND bound = {ULONG(content.size()), 0};
        V_VT(out) = VT_ARRAY | VT_UI1;
        V_ARRAY(out) = SafeArrayCreate(VT_UI1, 1, &bound);
        void *data = nullptr;
        SafeArrayAccessData(V_ARRAY(out), &data);
        if (!content.empty())
            memcpy(data, content.data(), content.size());
        SafeArrayUnaccessData(V_ARRAY(out));
        return S_OK;
    }
};

TEST(DataMonitorTest, OpenAndRefreshReadTheBlock)
{
    MonitorDriver driver;
    driver.values = {{"Name", "Tank"}, {"Description", "level"}, {"StartAddress", "DB10,100"},
                     {"RegisterSize", "8"}, {"Length", "10"}, {"QualityString", "Good"}};
    driver.content = {1, 2, 3};
    CDataMonitor monitor(&driver, 77);
    monitor.Open();
    EXPECT_EQ("Data Monitor for Tank", monitor.Title());
    EXPECT_EQ("DB10,100", monitor.StartAddress());
    EXPECT_EQ((std::vector<std::string>{"Name", "Description", "StartAddress", "RegisterSize", "Length"}),
              driver.asked);
    driver.asked.clear();
    SYSTEMTIME utc = {2026, 12, 4, 10, 12, 30, 45, 600};
    SystemTimeToVariantTime(&utc, &driver.readTime);
    ASSERT_TRUE(monitor.Refresh());
    EXPECT_EQ((std::vector<std::string>{"ReadTime", "WriteTime", "ErrorTime", "QualityString"}), driver.asked);
    EXPECT_EQ("Good", monitor.Quality());
    EXPECT_NE(std::string::npos, monitor.ReadTime().find(":45")) << monitor.ReadTime();  // whole seconds
    EXPECT_EQ("", monitor.WriteTime());
    EXPECT_EQ(24u, monitor.ValidBits());
    EXPECT_EQ(std::vector<std::string>{"DB10,0100 |   1   2   3 "}, monitor.Lines());

    // A failed read keeps the lines; the quality still follows.
    driver.rawResult = E_FAIL;
    driver.values["QualityString"] = "Bad";
    EXPECT_FALSE(monitor.Refresh());
    EXPECT_EQ("Bad", monitor.Quality());
    EXPECT_EQ(1u, monitor.Lines().size());

    // More than the buffer: only 1024 bytes are copied and counted.
    driver.rawResult = S_OK;
    driver.content.assign(2000, 0x41);
    monitor.SetFormat(FormatHex);
    ASSERT_TRUE(monitor.Refresh());
    EXPECT_EQ(1024u * 8, monitor.ValidBits());
    EXPECT_EQ(52u, monitor.Lines().size());  // 1024 / 20, rounded up
}

} // namespace
