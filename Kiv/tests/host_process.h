// HostProcess: runs the HMI stand-in hmi_host.exe beside the test program and
// talks to it through its standard input and output, one command line and
// one answer line at a time. Lines about message boxes ("box ...") are kept
// apart from the answers.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class HostProcess {
public:
    explicit HostProcess(const std::string &arguments = "")
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
        HANDLE childIn = NULL, childOut = NULL;
        CreatePipe(&childIn, &m_toChild, &inherit, 0);
        CreatePipe(&m_fromChild, &childOut, &inherit, 0);
        SetHandleInformation(m_toChild, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_fromChild, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string command = "\"" + Folder() + "hmi_host.exe\" " + arguments;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        m_started = CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, Folder().c_str(), &startup,
                                   &m_process) != FALSE;
        CloseHandle(childIn);
        CloseHandle(childOut);
    }
    ~HostProcess()
    {
        if (m_toChild)
            CloseHandle(m_toChild);
        if (m_started) {
            if (WaitForSingleObject(m_process.hProcess, 10000) != WAIT_OBJECT_0)
                TerminateProcess(m_process.hProcess, 9);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
        CloseHandle(m_fromChild);
    }
    HostProcess(const HostProcess &) = delete;
    HostProcess &operator=(const HostProcess &) = delete;

    static std::string Folder()
    {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
        while (length > 0 && path[length - 1] != '\\')
            --length;
        return std::string(path, length);
    }

    bool Started() const { return m_started; }

    // The next answer line ("" when the host ended or gave none in time).
    std::string Line(DWORD timeoutMs = 30000)
    {
        const DWORD until = GetTickCount() + timeoutMs;
        for (;;) {
            size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (line.compare(0, 4, "box ") == 0) {
                    boxes.push_back(line.substr(4));
                    continue;
                }
                return line;
            }
            DWORD available = 0;
            if (!PeekNamedPipe(m_fromChild, NULL, 0, NULL, &available, NULL))
                return "";
            if (available == 0) {
                if (LONG(GetTickCount() - until) >= 0)
                    return "";
                Sleep(5);
                continue;
            }
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(m_fromChild, chunk, available < sizeof(chunk) ? available : sizeof(chunk), &got, NULL))
                return "";
            m_buffer.append(chunk, got);
        }
    }

    // Sends one command and answers the host's last line for it: lines
    // before it (the "reconnect" notes of a retried call) are in notes.
    std::string Ask(const std::string &command, DWORD timeoutMs = 30000)
    {
        std::string text = command + "\n";
        DWORD written = 0;
        WriteFile(m_toChild, text.data(), DWORD(text.size()), &written, NULL);
        std::string line = Line(timeoutMs);
        while (line.compare(0, 10, "reconnect ") == 0) {
            notes.push_back(line);
            line = Line(timeoutMs);
        }
        return line;
    }

    // Waits for the host to end; its exit code, or -1 after the timeout.
    int Wait(DWORD timeoutMs)
    {
        if (!m_started || WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_process.hProcess, &code);
        return int(code);
    }

    std::vector<std::string> boxes;
    std::vector<std::string> notes;

private:
    PROCESS_INFORMATION m_process = {};
    HANDLE m_toChild = NULL;
    HANDLE m_fromChild = NULL;
    bool m_started = false;
    std::string m_buffer;
};
