// Brisko as an OPC client meets it: the generic client opc_da_client.exe
// creates "Veltrane.Brisko" from an STA and from the MTA, in-process and in
// the system's DLL surrogate, with the proxy library, Brisko.dll and the
// I/O server Hadrel.exe registered. One Hadrel.exe serves every server
// object, and it ends ("Server shutdown" in its log) once the last object
// has gone.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace {

const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";

void SetValue(const char *key, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(k);
}

int CountProcesses(const char *program)
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, program) == 0)
            ++count;
    CloseHandle(snapshot);
    return count;
}

void EndProcesses(const char *program)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, program) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

template <class Test> bool WaitUntil(Test test, DWORD ms = 20000)
{
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (test())
            return true;
        Sleep(100);
    }
    return test();
}

std::string TempFolder()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string folder = std::string(dir) + "brisko_client\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_log = TempFolder() + "hadrel.log";
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", s_log.c_str());
        DWORD on = 1;
        for (const char *name : {"LogErrors", "LogWarnings", "LogInfo"})
            SetValue(kDefaults, name, REG_DWORD, &on, sizeof(on));
        std::string folder = TempFolder();
        SetValue(kDefaults, "DriverDefaultConfigFilePath", REG_SZ, folder.c_str(), DWORD(folder.size() + 1));
        SetValue(kDefaults, "DriverDefaultConfigFileName", REG_SZ, "absent.qor", 11);
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "OpcProxy.dll\""));
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "Brisko.dll\""));
        ASSERT_EQ(0u, RunProgram("\"" + BinFolder() + "Hadrel.exe\" /RegServer"));
    }
    static void TearDownTestSuite()
    {
        RunProgram("regsvr32.exe /s /u \"" + BinFolder() + "Brisko.dll\"");
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", nullptr);
    }
    void SetUp() override
    {
        ASSERT_TRUE(WaitUntil([] { return CountProcesses("Hadrel.exe") == 0; })) << "a server of an earlier test ended";
        DeleteFileA(s_log.c_str());
    }
    // The client's output lines, after its "progid" line.
    std::vector<std::string> Client(const std::string &arguments)
    {
        DWORD code = 0;
        std::vector<std::string> lines = RunClient(arguments, &code);
        EXPECT_EQ(0u, code) << ::testing::PrintToString(lines);
        return lines;
    }
    static std::string s_log;
};
std::string ClientTest::s_log;

const char kStatus[] = "status hr=0x00000000 state=1 groups=0 bandwidth=0 version=7.20.1 reserved=42 "
                       "vendor=\"QOROPC - Veltrane Inc. OPC Server v7.20.1\"";

TEST_F(ClientTest, ObjectsFromBothApartmentsShareOneIOServerThatEndsWithTheLastObject)
{
    for (const char *apartment : {"--mta", "--sta"}) {
        SCOPED_TRACE(apartment);
        std::vector<std::string> lines =
            Client(std::string(apartment) +
                   " create status locale processes:Hadrel.exe create status processes:Hadrel.exe shutdown"
                   " properties:PLC1:DB10,0 release release freeunused");
        std::vector<std::string> expected = {
            "create hr=0x00000000",
            kStatus,
            "locale hr=0x00000000 lcid=2048 available=2048",
            "processes Hadrel.exe=1",
            "create hr=0x00000000",
            kStatus,
            "processes Hadrel.exe=1",
            "shutdown hr=0x00000000",
            // Parsing an item ID connects Oxley too; that connection must
            // not keep the I/O server alive.
            "properties hr=0xC0040008 count=0 ",
            "ShutdownRequest reason=\"\"",  // told while its object goes
            "release count=0",
            "release count=0",
            "freeunused",
        };
        EXPECT_EQ(expected, lines);
        EXPECT_TRUE(WaitUntil([] { return CountProcesses("Hadrel.exe") == 0; })) << "the I/O server ends";
        EXPECT_TRUE(WaitUntil([] { return ReadFile(s_log).find("Server shutdown") != std::string::npos; }))
            << ReadFile(s_log);
        DeleteFileA(s_log.c_str());
    }
}

TEST_F(ClientTest, ServerEdgeCasesThroughTheProxy)
{
    std::vector<std::string> lines = Client(
        "--sta create addgroup::0 addgroup:Fixed:25 addgroup:Fixed:100 findgroup:group0 groups:5 groups:6"
        " removegroup:Group0 findgroup:Group0 removegroup:Fixed:force dropgroup:Group0 status");
    std::vector<std::string> expected = {
        "create hr=0x00000000",
        "addgroup hr=0x0004000D name=Group0 handle=set revised=25",
        "addgroup hr=0x00000000 name=Fixed handle=set revised=25",
        "addgroup hr=0xC004000C name=Fixed handle=0 revised=0",
        "findgroup hr=0x80070057",
        "groups hr=0x00000001 names=",
        "groups hr=0x00000000 names=Group0,Fixed",
        "removegroup hr=0x0004000F",
        "findgroup hr=0x80070057",
        "removegroup hr=0x00000000",
        "dropgroup count=0",
        "status hr=0x00000000 state=1 groups=0 bandwidth=0 version=7.20.1 reserved=42 "
        "vendor=\"QOROPC - Veltrane Inc. OPC Server v7.20.1\"",
        "release count=0",
    };
    // The bandwidth depends on the passes since creation; compare without it.
    ASSERT_EQ(expected.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        size_t b = line.find("bandwidth=");
        if (b != std::string::npos)
            line.replace(b, line.find(' ', b) - b, "bandwidth=0");
        EXPECT_EQ(expected[i], line);
    }
}

// Names the system's surrogate in Brisko's AppID while it lives, for 64-bit
// Wine: for an empty "DllSurrogate" it starts "syswow64\dllhost.exe" even for
// a class of the 64-bit registry, and a Wine without 32-bit support has no
// such file (the client's activation answers 0x80070002 and no surrogate
// starts). Windows takes the empty value as the surrogate of the class's own
// bitness; the registration keeps it empty.
class SurrogateNamedOnWin64 {
public:
    SurrogateNamedOnWin64()
    {
        if (sizeof(void *) != 8)
            return;
        std::string appId = ClassesText("CLSID\\" + ClassesText("Veltrane.Brisko\\CLSID", nullptr), "AppID");
        if (appId.empty())
            return;
        m_key = "AppID\\" + appId;
        char folder[MAX_PATH];
        GetSystemDirectoryA(folder, MAX_PATH);
        Set(std::string(folder) + "\\dllhost.exe");
    }
    ~SurrogateNamedOnWin64()
    {
        if (!m_key.empty())
            Set("");
    }

private:
    static std::string ClassesText(const std::string &key, const char *name)
    {
        char text[MAX_PATH] = "";
        DWORD size = sizeof(text);
        RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size);
        return text;
    }
    void Set(const std::string &value)
    {
        RegSetKeyValueA(HKEY_CLASSES_ROOT, m_key.c_str(), "DllSurrogate", REG_SZ, value.c_str(),
                        DWORD(value.size() + 1));
    }
    std::string m_key;
};

TEST_F(ClientTest, ALocalServerClientGetsBriskoInTheSystemSurrogate)
{
    SurrogateNamedOnWin64 surrogate;
    std::vector<std::string> lines =
        Client("--local create status processes:dllhost.exe processes:Hadrel.exe release");
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("create hr=0x00000000", lines[0]);
    EXPECT_EQ(kStatus, lines[1]);
    EXPECT_NE("processes dllhost.exe=0", lines[2]) << "Brisko runs in the surrogate";
    EXPECT_EQ("processes Hadrel.exe=1", lines[3]);
    EXPECT_TRUE(WaitUntil([] { return CountProcesses("Hadrel.exe") == 0; }));
    // Wine's surrogate stays after its last object has gone; it is ended
    // here so that the next test starts a fresh one.
    if (!WaitUntil([] { return CountProcesses("dllhost.exe") == 0; }, 3000))
        EndProcesses("dllhost.exe");
}

TEST_F(ClientTest, WithoutTheIOServerCreationStillSucceeds)
{
    ASSERT_EQ(0u, RunProgram("\"" + BinFolder() + "Hadrel.exe\" /UnregServer"));
    std::vector<std::string> lines = Client(
        "--mta create status addgroup:A:25 processes:Hadrel.exe browse:branch~ move:down~PLC1 browse:leaf~"
        " browse:flat~ getprops:5000~PLC1:DB10,0 dirty curfile load:a.QOR save:a.QOR~0 release");
    EXPECT_EQ(std::vector<std::string>({"create hr=0x00000000", kStatus,
                                        "addgroup hr=0x00000000 name=A handle=set revised=25",
                                        "processes Hadrel.exe=0", "browse hr=0x80004005 items=", "move hr=0x00000000",
                                        "browse hr=0x80004005 items=", "browse hr=0x80004005 items=",
                                        "getprops hr=0x80004005 ", "dirty hr=0x80004005",
                                        "curfile hr=0x80004005 name=\"(null)\"", "load hr=0x80004005",
                                        "save hr=0x80004005", "release count=0"}),
              lines);
    ASSERT_EQ(0u, RunProgram("\"" + BinFolder() + "Hadrel.exe\" /RegServer"));
}

}  // namespace
