#include "store_fixture.h"
#include <stdio.h>
#include <string.h>

std::string FreshStoreName(const char *tag)
{
    static LONG counter;
    char name[96];
    snprintf(name, sizeof(name), "TsyTest%lu_%ld_%s", GetCurrentProcessId(), InterlockedIncrement(&counter), tag);
    return name;
}

StoreSettings::StoreSettings(const std::string &name, DWORD maxSize, DWORD growIncrement, DWORD overrunBuffer)
    : m_key("Software\\Veltrane\\Drivers\\" + name)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != 0)
        return;
    const struct {
        const char *name;
        DWORD value;
    } values[] = {{"MaxSize", maxSize}, {"GrowIncrement", growIncrement}, {"OverrunBuffer", overrunBuffer}};
    for (const auto &v : values)
        if (v.value)
            RegSetValueExA(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v.value), sizeof(DWORD));
    RegCloseKey(key);
}

StoreSettings::~StoreSettings() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_key.c_str()); }

RawArea::RawArea(const std::string &name, DWORD bytes) : m_section(NULL), m_base(NULL)
{
    m_section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    if (!m_section)
        return;
    m_base = static_cast<BYTE *>(MapViewOfFile(m_section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (m_base && !VirtualAlloc(m_base, bytes, MEM_COMMIT, PAGE_READWRITE)) {
        UnmapViewOfFile(m_base);
        m_base = NULL;
    }
}

RawArea::~RawArea()
{
    if (m_base)
        UnmapViewOfFile(m_base);
    if (m_section)
        CloseHandle(m_section);
}

PeerProcess::PeerProcess(const std::vector<std::string> &arguments) : m_process(), m_ready(NULL)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\')
        --length;
    std::string command = "\"" + std::string(path, length) + "memory_peer.exe\"";
    for (const std::string &argument : arguments)
        command += " " + argument;
    if (!arguments.empty())
        m_ready = CreateEventA(NULL, TRUE, FALSE, (arguments[0] + "_PeerReady").c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &m_process))
        m_process = PROCESS_INFORMATION();
}

PeerProcess::~PeerProcess()
{
    if (m_process.hProcess) {
        Kill();
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
    if (m_ready)
        CloseHandle(m_ready);
}

bool PeerProcess::WaitReady()
{
    HANDLE both[] = {m_ready, m_process.hProcess};
    return WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0;
}

DWORD PeerProcess::Join()
{
    WaitForSingleObject(m_process.hProcess, INFINITE);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

void PeerProcess::Kill()
{
    if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, INFINITE);
    }
}

OutputRecord NumberedOutput(uint32_t number)
{
    OutputRecord record = {};
    record.address = number;
    record.owner = 0x1000 + number;
    record.kind = OUTPUT_ANALOG;
    record.length = 4;
    memcpy(record.value, &number, sizeof(number));
    return record;
}

SeededBlock::SeededBlock(unsigned seed)
{
    for (int k = 0; k < TimeOffset; ++k)
        bytes[k] = static_cast<BYTE>(seed * 7 + k);
    FILETIME time = {0x10000000u + seed, 0x01D90000u};
    memcpy(bytes + TimeOffset, &time, sizeof(time));
    bytes[258] = static_cast<BYTE>(seed);
    bytes[259] = 0;
    status = static_cast<unsigned short>(0xC0 | ((seed & 0xFF) << 8));
    owner = 0x5000 + seed;
}

namespace {
DWORD WINAPI RunWork(void *work)
{
    std::function<void()> *f = static_cast<std::function<void()> *>(work);
    (*f)();
    delete f;
    return 0;
}
} // namespace

HANDLE StartThread(std::function<void()> work)
{
    return CreateThread(NULL, 0, RunWork, new std::function<void()>(std::move(work)), 0, NULL);
}
