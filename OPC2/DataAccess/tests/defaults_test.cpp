// The defaults an attach reads, one new process per registry set: the
// built-in values, the floor of the poll sleep time, "none" hardware
// options, and values of the wrong type or length that keep the default.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "ProcessRunner.h"

namespace {

const char kOpcKey[] = "Software\\Veltrane\\Drivers\\QOR\\OPC";

struct RegistryValue {
    const char *subkey;
    const char *name;
    DWORD type;
    std::string data;  // a DWORD as its 4 bytes
};

std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }
std::string Text(const std::string &s) { return std::string(s.c_str(), s.size() + 1); }

struct DefaultsCase {
    const char *title;
    std::vector<RegistryValue> values;
    std::map<std::string, std::string> expected;  // over the built-in ones
};

std::map<std::string, std::string> BuiltIn()
{
    return {{"ThreadSleepTime", "25"}, {"GeneratedGroupName", "Group"}, {"AutoStart", "1"},
            {"StringLength", "20"},    {"SignalConditioning", "NONE"},  {"LoEGU", "0.0"},
            {"HiEGU", "65535.0"},      {"HardwareOptions", "NONE"},     {"Formats", "1"}};
}

std::map<std::string, std::string> ParseLines(const std::string &output)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

class DefaultsTest : public ::testing::TestWithParam<DefaultsCase> {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kOpcKey); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kOpcKey); }
};

TEST_P(DefaultsTest, AttachReadsTheseDefaults)
{
    const DefaultsCase &c = GetParam();
    for (const RegistryValue &v : c.values) {
        HKEY key = nullptr;
        std::string path = std::string(kOpcKey) + "\\" + v.subkey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                                                DWORD(v.data.size())));
        RegCloseKey(key);
    }
    std::string output;
    ASSERT_EQ(0u, RunProgram("brisko_defaults_probe.exe", &output)) << output;
    std::map<std::string, std::string> expected = BuiltIn();
    for (auto &e : c.expected)
        expected[e.first] = e.second;
    EXPECT_EQ(expected, ParseLines(output));
}

const std::string kLong(150, 'x');

INSTANTIATE_TEST_SUITE_P(
    RegistrySets, DefaultsTest,
    ::testing::Values(
        DefaultsCase{"None", {}, {}},
        DefaultsCase{"SleepBelowTheFloor", {{"ServerDefaults", "ThreadSleepTime", REG_DWORD, Dword(10)}},
                     {{"ThreadSleepTime", "25"}}},
        DefaultsCase{"SleepAboveTheFloor", {{"ServerDefaults", "ThreadSleepTime", REG_DWORD, Dword(100)}},
                     {{"ThreadSleepTime", "100"}}},
        DefaultsCase{"HardwareOptionsNone", {{"ItemDefaults", "HardwareOptions", REG_SZ, Text("none")}},
                     {{"HardwareOptions", ""}}},
        DefaultsCase{"SleepStoredAsText", {{"ServerDefaults", "ThreadSleepTime", REG_SZ, Text("50")}}, {}},
        DefaultsCase{"OverLongText", {{"GroupDefaults", "GeneratedGroupName", REG_SZ, Text(kLong)}}, {}},
        DefaultsCase{"TextWithoutItsZero",
                     {{"GroupDefaults", "GeneratedGroupName", REG_SZ, "Grp"},
                      {"ItemDefaults", "HiEGU", REG_SZ, Text("100.0")},
                      {"ItemDefaults", "StringLength", REG_DWORD, Dword(40)},
                      {"ItemDefaults", "AutoStart", REG_DWORD, Dword(0)}},
                     {{"GeneratedGroupName", "Grp"}, {"HiEGU", "100.0"}, {"StringLength", "40"}, {"AutoStart", "0"}}}),
    [](const ::testing::TestParamInfo<DefaultsCase> &info) { return std::string(info.param.title); });

}  // namespace
