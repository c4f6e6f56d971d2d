// Runs a program of the bin folder (or of the system) in its own process,
// waits for it, and answers its exit code and what it wrote to stdout.
#pragma once
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// Starts commandLine in folder (null: this one) with its output and errors
// going to output, an inheritable handle.
inline bool StartWithOutput(std::string commandLine, HANDLE output, const char *folder, PROCESS_INFORMATION &pi)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output;
    si.hStdError = output;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    ZeroMemory(&pi, sizeof(pi));
    return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder, &si, &pi) != FALSE;
}

// The threads' stacks of the process pid and of the I/O server, from Wine's
// debugger: where a program that does not end waits. The debugger writes to
// a file: it holds each process it reads, this one too, and so must never
// wait for a reader.
inline std::string StacksOf(DWORD pid)
{
    char dir[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + "stacks_" + std::to_string(pid) + ".txt";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    PROCESS_INFORMATION pi;
    if (StartWithOutput("winedbg --command \"bt all\"", file, nullptr, pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(file);
    char mark[32];
    std::snprintf(mark, sizeof mark, "in process %04lx ", static_cast<unsigned long>(pid));
    std::ifstream in(path);
    std::string text, kept;
    bool keep = false;
    while (std::getline(in, text)) {
        if (text.compare(0, 20, "Backtracing for thre") == 0)
            keep = text.find(mark) != std::string::npos || text.find("Hadrel.exe") != std::string::npos;
        if (keep)
            kept += text + "\n";
    }
    in.close();
    DeleteFileA(path.c_str());
    return kept;
}

inline DWORD RunProgram(const std::string &commandLine, std::string *output = nullptr, DWORD timeoutMs = 60000)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return DWORD(-1);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION pi;
    const bool started = StartWithOutput(commandLine, writeEnd, BinFolder().c_str(), pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return DWORD(-1);
    }
    // Reads while the program runs, and stops at its end rather than at the
    // pipe's end: a process it started (a COM server, a surrogate) may hold
    // the pipe open for longer.
    std::string text;
    char buffer[512];
    DWORD code = DWORD(-1);
    DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got)
            text.append(buffer, got);
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
                   ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got)
                text.append(buffer, got);
            GetExitCodeProcess(pi.hProcess, &code);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            // A program that outlives its time is ended: left running, it
            // would keep its servers and the test's own output open.
            text += "\n" + StacksOf(pi.dwProcessId);
            TerminateProcess(pi.hProcess, DWORD(-1));
            WaitForSingleObject(pi.hProcess, 10000);
            text += "\n[the program did not end within " + std::to_string(timeoutMs / 1000) + " s and was ended]\n";
            break;
        }
        Sleep(20);
    }
    CloseHandle(readEnd);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (output)
        *output = text;
    return code;
}

// A program's output as lines without their line ends, leaving out the
// lines that begin with skip.
inline std::vector<std::string> OutputLines(const std::string &output, const std::string &skip)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (skip.empty() || line.compare(0, skip.size(), skip) != 0)
            lines.push_back(line);
    }
    return lines;
}

// Runs the generic client opc_da_client.exe with arguments: its output lines
// after its "progid" line, and its exit code in code.
inline std::vector<std::string> RunClient(const std::string &arguments, DWORD *code)
{
    std::string output;
    *code = RunProgram("\"" + BinFolder() + "opc_da_client.exe\" " + arguments, &output, 120000);
    return OutputLines(output, "progid ");
}
