// ServerSession: the real server Hadrel.exe in the test prefix, on the
// simulated controller of the stand-in s732.dll. It writes the controller
// catalogue (S732_CONFIG), the driver's registry defaults, registers the
// server ("/RegServer"), starts it through COM, builds a configuration of one
// channel, one device (PLC1) and typed data blocks through the automation
// interface, saves it as the default file (so that a restarted server loads
// it) and starts polling. The controller's memory is reached directly.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "QORDriver.h"
#include "S7Sim.h"
#include "host_process.h"

namespace kivserver {

inline std::string Folder() { return HostProcess::Folder(); }

inline std::string Temp()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string folder = std::string(dir) + "kiv_server\\";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

inline void SetText(const char *key, const char *name, const std::string &value)
{
    HKEY k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_WRITE, NULL, &k, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(k);
}

inline void SetDword(const char *key, const char *name, DWORD value)
{
    HKEY k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_WRITE, NULL, &k, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
    RegCloseKey(k);
}

inline VARIANT Text(const char *text)
{
    VARIANT v;
    VariantInit(&v);
    wchar_t wide[256];
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 256);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(wide);
    return v;
}
inline VARIANT I2(short value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}
inline VARIANT I4(long value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}
inline VARIANT R4(float value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = value;
    return v;
}

// Parallel arrays of names and values, as the tree-editing members take them.
struct Properties {
    VARIANT names, values;
    Properties(std::vector<std::pair<const char *, VARIANT>> list)
    {
        SAFEARRAY *n = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        SAFEARRAY *v = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        for (LONG i = 0; i < LONG(list.size()); ++i) {
            VARIANT name = Text(list[size_t(i)].first);
            SafeArrayPutElement(n, &i, &name);
            SafeArrayPutElement(v, &i, &list[size_t(i)].second);
            VariantClear(&name);
            VariantClear(&list[size_t(i)].second);
        }
        VariantInit(&names);
        VariantInit(&values);
        V_VT(&names) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&names) = n;
        V_VT(&values) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&values) = v;
    }
    ~Properties()
    {
        VariantClear(&names);
        VariantClear(&values);
    }
};

// Every process of this prefix running program, by process id.
inline std::vector<DWORD> Processes(const char *program)
{
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, program) == 0)
            pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

inline std::vector<DWORD> ServerProcesses() { return Processes("Hadrel.exe"); }

inline void KillProcesses(const char *program)
{
    for (DWORD pid : Processes(program)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!process)
            continue;
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
}

inline void KillServers() { KillProcesses("Hadrel.exe"); }

// Starts the server without waiting for it.
inline bool Launch(const std::string &arguments)
{
    std::string command = "\"" + Folder() + "Hadrel.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, Folder().c_str(), &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Runs a program of the build folder to its end; its exit code, or -1.
inline DWORD RunProgram(const std::string &program, const std::string &arguments, DWORD timeoutMs = 30000)
{
    std::string command = "\"" + Folder() + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, Folder().c_str(), &startup, &process))
        return DWORD(-1);
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 9);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

inline DWORD Run(const std::string &arguments, DWORD timeoutMs = 30000)
{
    return RunProgram("Hadrel.exe", arguments, timeoutMs);
}

const char kCp[] = "CPKIV";
const char kVfd[] = "VFDKIV";
const char kConn[] = "PLCKIV";
const char kDefaults[] = "Software\\Veltrane\\Drivers\\QOR\\DriverDefaults";
const char kDriverKey[] = "Software\\Veltrane\\Drivers\\QOR";

struct BlockDefinition {
    const char *name;
    short dataType;
    const char *start;
    long length;
    float deadBand;
};

class ServerSession {
public:
    std::string folder = Temp();
    std::string log = folder + "server.log";
    std::string configFile = "kiv_session.qor";
    IQORDriver *driver = nullptr;
    s7sim::Controller controller;
    std::string failure;   // why the session could not be set up

    // Catalogue, registry and registration; the server is not started yet.
    bool Prepare()
    {
        const std::string catalogue = folder + "s732.cfg";
        FILE *f = fopen(catalogue.c_str(), "w");
        if (!f)
            return Fail("cannot write the catalogue");
        fprintf(f, "cp %s\nvfd %s %s\nconnection %s %s %s\n", kCp, kCp, kVfd, kCp, kVfd, kConn);
        fclose(f);
        SetEnvironmentVariableA("S732_CONFIG", catalogue.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", log.c_str());
        DeleteFileA((folder + configFile).c_str());
        SetText(kDefaults, "DriverDefaultConfigFilePath", folder);
        SetText(kDefaults, "DriverDefaultConfigFileName", configFile);
        SetText(kDefaults, "DataBlockPrimaryPoll", "0.1");
        for (const char *name : {"LogErrors", "LogWarnings", "LogInfo"})
            SetDword(kDefaults, name, 1);
        SetDword(kDriverKey, "DriverAutoStart", 1);
        SetDword(kDriverKey, "SimulationMode", 0);
        if (!controller.Open(kCp, kVfd, kConn))
            return Fail("cannot open the simulated controller");
        if (Run("/RegServer") != 0)
            return Fail("Hadrel.exe /RegServer failed");
        return true;
    }

    // Starts the server by COM and builds the configuration.
    bool Configure(const std::vector<BlockDefinition> &blocks)
    {
        // A server killed just before may still be known to COM for a moment.
        HRESULT hr = E_FAIL;
        for (int attempt = 0; attempt < 20 && FAILED(hr); ++attempt) {
            if (attempt)
                Sleep(250);
            hr = CoCreateInstance(CLSID_QORDriver, NULL, CLSCTX_LOCAL_SERVER, IID_IQORDriver,
                                  reinterpret_cast<void **>(&driver));
        }
        if (FAILED(hr))
            return Fail("CoCreateInstance of the server: " + Hex(hr));
        long channel = 0, device = 0;
        VARIANT errors;
        VariantInit(&errors);
        {
            Properties p({{"Name", Text("KivCh")}, {"PrimaryCPName", Text(kCp)}, {"PrimaryVFDName", Text(kVfd)},
                          {"Enabled", I2(1)}});
            hr = driver->AddChannel(p.names, p.values, &errors, &channel);
            VariantClear(&errors);
            if (FAILED(hr))
                return Fail("AddChannel: " + Hex(hr));
        }
        {
            Properties p({{"Name", Text("PLC1")}, {"PrimaryConnName", Text(kConn)}, {"Enabled", I2(1)}});
            hr = driver->AddDevice(channel, p.names, p.values, &errors, &device);
            VariantClear(&errors);
            if (FAILED(hr))
                return Fail("AddDevice: " + Hex(hr));
        }
        for (const BlockDefinition &b : blocks) {
            long handle = 0;
            Properties p({{"Name", Text(b.name)}, {"DataType", I2(b.dataType)}, {"StartAddress", Text(b.start)},
                          {"Length", I4(b.length)}, {"PrimaryPollTime", Text("0.1")}, {"DeadBand", R4(b.deadBand)},
                          {"Enabled", I2(1)}});
            hr = driver->AddDataBlock(device, p.names, p.values, &errors, &handle);
            VariantClear(&errors);
            if (FAILED(hr))
                return Fail(std::string("AddDataBlock ") + b.name + ": " + Hex(hr));
        }
        BSTR path = Text((folder + configFile).c_str()).bstrVal;
        hr = driver->FileSaveAs(path);
        SysFreeString(path);
        if (FAILED(hr))
            return Fail("FileSaveAs: " + Hex(hr));
        VARIANT_BOOL running = VARIANT_FALSE;
        driver->get_Running(&running);
        if (!running) {
            hr = driver->Start(VARIANT_TRUE);
            if (FAILED(hr))
                return Fail("Start: " + Hex(hr));
        }
        return true;
    }

    void Release()
    {
        if (driver)
            driver->Release();
        driver = nullptr;
    }

    ~ServerSession()
    {
        Release();
        // Its last client gone, the server closes by itself; one that has
        // to be killed would stay registered with Wine's service control
        // and fail the next activation, so that goes too.
        for (int wait = 0; wait < 50 && !ServerProcesses().empty(); ++wait)
            Sleep(100);
        if (!ServerProcesses().empty()) {
            KillServers();
            KillProcesses("rpcss.exe");
        }
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
    }

    // The controller's data-block bytes.
    bool Put(WORD db, DWORD offset, const std::vector<BYTE> &bytes)
    {
        return controller.WriteDb(db, offset, bytes.data(), DWORD(bytes.size()));
    }
    std::vector<BYTE> Get(WORD db, DWORD offset, DWORD length)
    {
        std::vector<BYTE> bytes(length);
        controller.ReadDb(db, offset, bytes.data(), length);
        return bytes;
    }

    std::string Log() const
    {
        std::string text;
        FILE *f = fopen(log.c_str(), "r");
        if (!f)
            return text;
        char line[512];
        while (fgets(line, sizeof(line), f))
            text += line;
        fclose(f);
        return text;
    }

private:
    static std::string Hex(HRESULT hr)
    {
        char text[16];
        snprintf(text, sizeof(text), "0x%08lx", (unsigned long)hr);
        return text;
    }
    bool Fail(const std::string &why)
    {
        failure = why;
        return false;
    }
};

}  // namespace kivserver
