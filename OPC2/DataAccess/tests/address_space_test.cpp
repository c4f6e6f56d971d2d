// Browsing, item properties and the configuration file as an OPC client
// meets them: the generic client opc_da_client.exe against Brisko.dll and
// the real I/O server Hadrel.exe on the simulated controller, with a
// configuration of two channels, four devices and their data blocks that
// this test builds through the automation interface and holds while the
// client runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "QORDriver.h"
#include "server_session.h"

namespace {

using kivserver::I2;
using kivserver::I4;
using kivserver::Properties;
using kivserver::Text;

const char kOpcItemDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\OPC\\ItemDefaults";

struct DeviceDefinition {
    const char *channel, *name, *connection;
    std::vector<kivserver::BlockDefinition> blocks;
};

// Channel order, then device order within a channel.
const std::vector<DeviceDefinition> kDevices = {
    {"LineA", "Press1", "PLCA1", {{"Counts", 1, "DB10,0", 10, 0}, {"Levels", 3, "DB11,0", 4, 0}}},
    {"LineA", "Oven1", "PLCA2", {{"Heat", 1, "DB20,0", 2, 0}}},
    {"LineB", "Press2", "PLCB1", {{"Counts2", 1, "DB30,0", 4, 0}}},
    {"LineB", "Mixer", "PLCB2", {}},
};

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

std::string Folder()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string folder = std::string(dir) + "brisko_browse\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

class AddressSpace : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::string folder = Folder();
        std::string catalogue = folder + "s732.cfg";
        {
            std::ofstream out(catalogue);
            for (const char *cp : {"CPA", "CPB"})
                out << "cp " << cp << "\nvfd " << cp << " VFD" << cp << "\n";
            for (const DeviceDefinition &d : kDevices) {
                std::string cp = d.channel == std::string("LineA") ? "CPA" : "CPB";
                out << "connection " << cp << " VFD" << cp << " " << d.connection << "\n";
            }
        }
        SetEnvironmentVariableA("S732_CONFIG", catalogue.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", (folder + "hadrel.log").c_str());
        kivserver::SetText(kivserver::kDefaults, "DriverDefaultConfigFilePath", folder);
        kivserver::SetText(kivserver::kDefaults, "DriverDefaultConfigFileName", "browse.qor");
        kivserver::SetText(kivserver::kDefaults, "DataBlockSecondaryPoll", "");
        DeleteFileA((folder + "browse.qor").c_str());
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "OpcProxy.dll\""));
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "Brisko.dll\""));
        ASSERT_EQ(0u, RunProgram("\"" + BinFolder() + "Hadrel.exe\" /RegServer"));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QORDriver, nullptr, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                         reinterpret_cast<void **>(&s_driver)));
        Build();
    }
    static void TearDownTestSuite()
    {
        if (s_driver)
            s_driver->Release();
        s_driver = nullptr;
        RunProgram("regsvr32.exe /s /u \"" + BinFolder() + "Brisko.dll\"");
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", nullptr);
        for (int wait = 0; wait < 50 && !kivserver::ServerProcesses().empty(); ++wait)
            Sleep(100);
        // A server that has to be killed would stay registered with Wine's
        // service control and fail the next activation, so that goes too.
        if (!kivserver::ServerProcesses().empty()) {
            kivserver::KillServers();
            kivserver::KillProcesses("rpcss.exe");
        }
        CoUninitialize();
    }

    static void Build()
    {
        std::string channelName;
        long channel = 0;
        VARIANT errors;
        VariantInit(&errors);
        for (const DeviceDefinition &d : kDevices) {
            if (channelName != d.channel) {
                channelName = d.channel;
                std::string cp = channelName == "LineA" ? "CPA" : "CPB";
                Properties p({{"Name", Text(d.channel)}, {"PrimaryCPName", Text(cp.c_str())},
                              {"PrimaryVFDName", Text(("VFD" + cp).c_str())}, {"Enabled", I2(1)}});
                ASSERT_EQ(S_OK, s_driver->AddChannel(p.names, p.values, &errors, &channel));
                VariantClear(&errors);
            }
            long device = 0;
            Properties p({{"Name", Text(d.name)}, {"PrimaryConnName", Text(d.connection)}, {"Enabled", I2(1)}});
            ASSERT_EQ(S_OK, s_driver->AddDevice(channel, p.names, p.values, &errors, &device)) << d.name;
            VariantClear(&errors);
            for (const kivserver::BlockDefinition &b : d.blocks) {
                long handle = 0;
                Properties q({{"Name", Text(b.name)}, {"DataType", I2(b.dataType)}, {"StartAddress", Text(b.start)},
                              {"Length", I4(b.length)}, {"PrimaryPollTime", Text("1")}, {"Enabled", I2(1)}});
                ASSERT_EQ(S_OK, s_driver->AddDataBlock(device, q.names, q.values, &errors, &handle)) << b.name;
                VariantClear(&errors);
            }
        }
        // Saved, so that the server ends with its last client.
        BSTR path = SysAllocString(Wide(Folder() + "browse.qor").c_str());
        EXPECT_EQ(S_OK, s_driver->FileSaveAs(path));
        SysFreeString(path);
    }

    // The client's output lines after its "progid" line.
    static std::vector<std::string> Client(const std::string &arguments)
    {
        std::string output;
        DWORD code = RunProgram("\"" + BinFolder() + "opc_da_client.exe\" " + arguments, &output, 120000);
        EXPECT_EQ(0u, code) << output;
        return OutputLines(output, "progid ");
    }

    // Runs the steps (each quoted) from the apartment and compares each
    // step's line, after "create", with the expected one.
    static void Expect(const char *apartment, const std::vector<std::pair<std::string, std::string>> &steps)
    {
        std::string arguments = std::string(apartment) + " create";
        for (const auto &step : steps)
            arguments += " \"" + step.first + "\"";
        arguments += " release";
        std::vector<std::string> lines = Client(arguments);
        ASSERT_EQ(steps.size() + 2, lines.size()) << arguments;
        EXPECT_EQ("create hr=0x00000000", lines.front());
        for (size_t i = 0; i < steps.size(); ++i)
            EXPECT_EQ(steps[i].second, lines[i + 1]) << apartment << " step " << steps[i].first;
    }

    static IQORDriver *s_driver;
};
IQORDriver *AddressSpace::s_driver = nullptr;

const char kHint[] = " (*hint: StartAddr - EndAddr)";

TEST_F(AddressSpace, BrowsingDevicesAndBlocksFromBothApartments)
{
    const std::string press1 = std::string("DB10,0 - DB10,9") + kHint + ";DB11,0 - DB11,3" + kHint;
    for (const char *apartment : {"--mta", "--sta"}) {
        Expect(apartment, {
            {"org", "org hr=0x00000000 organization=1"},
            {"browse:branch~", "browse hr=0x00000000 items=Press1;Oven1;Press2;Mixer"},
            {"browse:leaf~", "browse hr=0x00000001 items="},
            {"browse:branch~Press*", "browse hr=0x00000000 items=Press1;Press2"},
            {"browse:branch~press*", "browse hr=0x00000001 items="},
            {"browse:branch~*1", "browse hr=0x00000000 items=Press1;Oven1"},
            {"itemid:", "itemid hr=0x00000000 id=\"\""},
            {"itemid:Oven1", "itemid hr=0x00000000 id=\"Oven1\""},
            {"itemid:Nowhere", "itemid hr=0x80070057 id=\"(null)\""},
            {"itemid:Press1:DB10,0 - DB10,9", "itemid hr=0x00000000 id=\"Press1:DB10,0\""},
            {"move:up", "move hr=0x80004005"},
            {"browse:flat~", "browse hr=0x00000000 items=Press1:DB10,0 - DB10,9" + std::string(kHint) +
                                 ";Press1:DB11,0 - DB11,3" + kHint + ";Oven1:DB20,0 - DB20,1" + kHint +
                                 ";Press2:DB30,0 - DB30,3" + kHint},
            {"move:down~Press1", "move hr=0x00000000"},
            {"move:down~Oven1", "move hr=0x80004005"},
            {"browse:leaf~", "browse hr=0x00000000 items=" + press1},
            {"browse:leaf~DB11*", "browse hr=0x00000000 items=DB11,0 - DB11,3" + std::string(kHint)},
            {"browse:branch~", "browse hr=0x00000001 items="},
            {"browse:flat~", "browse hr=0x00000000 items=Press1:DB10,0 - DB10,9" + std::string(kHint) +
                                 ";Press1:DB11,0 - DB11,3" + kHint},
            {"itemid:", "itemid hr=0x00000000 id=\"Press1\""},
            {"itemid:DB10,0 - DB10,9" + std::string(kHint), "itemid hr=0x00000000 id=\"Press1:DB10,0\""},
            {"itemid:XYZ", "itemid hr=0x80070057 id=\"(null)\""},
            {"accesspaths:Press1:DB10,0", "accesspaths hr=0x80004001"},
            {"move:up", "move hr=0x00000000"},
            {"move:to~Oven1:DB20", "move hr=0x00000000"},
            {"itemid:", "itemid hr=0x00000000 id=\"Oven1\""},
            {"move:down~", "move hr=0x00000000"},
            {"move:down~Nowhere", "move hr=0x00000000"},
            {"browse:leaf~", "browse hr=0x80004005 items="},
            {"move:9~x", "move hr=0x80070057"},
        });
    }
}

TEST_F(AddressSpace, HintsAndOptionsFollowTheRegistryOneProcessPerSetting)
{
    struct Case {
        DWORD hints, options;
        std::string leaves, itemId;
    };
    const std::vector<Case> cases = {
        {0, 0, "DB10,0 - DB10,9;DB11,0 - DB11,3", "Press1:DB10,0"},
        {1, 1, std::string("DB10,0 - DB10,9") + kHint + ";DB11,0 - DB11,3" + kHint, "PRESS1:DB10,0|NONE,0.0,65535.0,"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hints);
        kivserver::SetDword(kOpcItemDefaults, "ReturnHints", c.hints);
        kivserver::SetDword(kOpcItemDefaults, "ReturnOptions", c.options);
        Expect("--mta", {
            {"move:down~Press1", "move hr=0x00000000"},
            {"browse:leaf~", "browse hr=0x00000000 items=" + c.leaves},
            {"itemid:DB10,0 - DB10,9", "itemid hr=0x00000000 id=\"" + c.itemId + "\""},
            // The item ID given is one that an item accepts.
            {"getprops:5000~" + c.itemId, "getprops hr=0x00000000 5000=8/Counts/0x00000000"},
        });
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOpcItemDefaults, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "ReturnHints");
        RegDeleteValueA(key, "ReturnOptions");
        RegCloseKey(key);
    }
}

TEST_F(AddressSpace, PropertiesOfTheBlockAnItemLiesIn)
{
    const std::string table = "5000:Name:8,5001:Description:8,5002:Enabled:11,5003:PrimaryPollTime:8,"
                              "5004:SecondaryPollTime:8,5005:AccessTime:8,5006:OutputDisabled:11,5007:LatchData:11";
    for (const char *apartment : {"--mta", "--sta"}) {
        Expect(apartment, {
            {"properties:Press1:DB10,2", "properties hr=0x00000000 count=8 " + table},
            {"properties:Oven1:DB20,0|NONE", "properties hr=0x00000000 count=8 " + table},
            {"properties:!Press1:DB10,2:3", "properties hr=0x00000000 count=8 " + table},
            // The digital mark alone, or a blank address, names no item.
            {"properties:!", "properties hr=0xC0040008 count=0 "},
            {"properties:! |NONE", "properties hr=0xC0040008 count=0 "},
            {"properties:|NONE", "properties hr=0xC0040008 count=0 "},
            {"properties:XYZ", "properties hr=0xC0040008 count=0 "},
            {"properties:   ", "properties hr=0xC0040008 count=0 "},
            {"getprops:5000,5003,5004~Press1:DB10,2",
             "getprops hr=0x00000000 5000=8/Counts/0x00000000,5003=8/01/0x00000000,5004=8/Disabled/0x00000000"},
            {"getprops:5002,9999~Press1:DB11,0", "getprops hr=0x00000000 5002=11/-1/0x00000000,9999=0//0x80070057"},
            {"getprops:5000~Nowhere:DB10,0", "getprops hr=0xC0040008 "},
            {"getprops:5000~!", "getprops hr=0xC0040008 "},
            {"lookup:5000,4999~Press1:DB10,0", "lookup hr=0x00000001 5000=(null)/0xC0040203,4999=(null)/0x80070057"},
            {"lookup:5000~XYZ", "lookup hr=0xC0040008 "},
            {"lookup:5000~!", "lookup hr=0xC0040008 "},
        });
    }
}

TEST_F(AddressSpace, TheConfigurationFileThroughIPersistFile)
{
    const std::string folder = Folder();
    const std::string kept = folder + "kept.QOR", moved = folder + "moved.QOR", damaged = folder + "damaged.QOR";
    DeleteFileA(kept.c_str());
    DeleteFileA(moved.c_str());
    {
        std::ofstream out(damaged);
        out << "this is no configuration\n";
    }
    auto defaultName = [] {
        BSTR name = nullptr;
        s_driver->get_DefaultConfigFileName(&name);
        std::string text = name ? std::string(name, name + SysStringLen(name)) : "";
        SysFreeString(name);
        return text;
    };
    const std::string before = defaultName();

    Expect("--mta", {
        {"classid", "classid hr=0x00000000 clsid={402D97D2-7270-11D6-B98B-0050DACA0D41}"},
        {"save:" + kept + "~0", "save hr=0x00000000"},
        {"dirty", "dirty hr=0x00000001"},
    });
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kept.c_str()));
    EXPECT_EQ(before, defaultName()) << "saving without remembering keeps the default name";

    Expect("--sta", {
        {"save:" + moved + "~1", "save hr=0x00000000"},
        {"curfile", "curfile hr=0x00000000 name=\"" + moved + "\""},
        {"savecompleted:" + moved, "savecompleted hr=0x00000000"},
        {"savecompleted:" + folder + "MOVED.QOR", "savecompleted hr=0xC0040010"},
    });
    EXPECT_NE(before, defaultName());
    EXPECT_NE(std::string::npos, defaultName().find("moved.QOR")) << defaultName();

    // A change through the automation interface makes the file dirty; a
    // load of the saved file gives its tree back.
    long channels[2] = {}, count = 0, extra = 0;
    {
        VARIANT handles, names;
        VariantInit(&handles);
        VariantInit(&names);
        ASSERT_EQ(S_OK, s_driver->GetChannels(&handles, &names, &count));
        for (LONG i = 0; i < 2; ++i) {
            VARIANT h;
            VariantInit(&h);
            SafeArrayGetElement(V_ARRAY(&handles), &i, &h);
            VariantChangeType(&h, &h, 0, VT_I4);
            channels[i] = V_I4(&h);
        }
        VariantClear(&handles);
        VariantClear(&names);
        VARIANT errors;
        VariantInit(&errors);
        Properties p({{"Name", Text("Extra")}, {"PrimaryConnName", Text("PLCB2")}, {"Enabled", I2(0)}});
        ASSERT_EQ(S_OK, s_driver->AddDevice(channels[1], p.names, p.values, &errors, &extra));
        VariantClear(&errors);
    }
    const std::string tree = "browse hr=0x00000000 items=Press1;Oven1;Press2;Mixer";
    Expect("--mta", {
        {"dirty", "dirty hr=0x00000000"},
        {"browse:branch~", tree + ";Extra"},
        {"load:" + kept, "load hr=0x00000000"},
        {"browse:branch~", tree},
        {"load:" + damaged, "load hr=0x80004005"},
        {"browse:branch~", tree},
        // Only the file's extension counts, and its letter case.
        {"load:C:\\Plant\\Line1.qor", "load hr=0xC0040010"},
        {"load:C:\\Plant\\Line1.QOR", "load hr=0x80004005"},
        {"load:C:\\Plant.old\\Line1.QOR", "load hr=0x80004005"},
        {"load:C:\\Plant\\Line1", "load hr=0x80004005"},
        {"load:C:\\Plant.old\\Line1.QOR.bak", "load hr=0xC0040010"},
    });
}

}  // namespace
