// Test doubles around the CSV files: a document host that records what the
// import asks of it (flag, modified mark, tree swap, failure reports) and
// holds log-view rows, with a fixed clock and separator; and a message log
// that shows every severity, with the NT event log faked.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "CsvFile.h"
#include "EventLogRecorder.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"

class CTestCsvHost : public ICsvHost {
public:
    std::string acronym = "QOR";
    std::string separator = ",";
    bool separatorFails = false;
    SYSTEMTIME now = {2026, 12, 4, 10, 22, 17, 5, 0};   // Thursday December 10 2026, 10:17 PM
    std::vector<CsvLogRow> rows;
    int unreadableRow = -1;

    // The tree swap, as the document does it; the test supplies what it means.
    std::function<HRESULT()> beginTree = [] { return S_OK; };
    std::function<void(bool)> endTree = [](bool) {};
    // What the import flag means to the rest of the server.
    std::function<void(bool)> onImporting = [](bool) {};

    bool importing = false;
    int importingOn = 0, importingOff = 0;
    int modified = 0;
    int begins = 0;
    std::vector<bool> ends;
    struct Failure {
        std::string prompt;
        DWORD error;
        std::string path;
    };
    std::vector<Failure> failures;

    std::string Acronym() override { return acronym; }
    void SetImporting(bool on) override
    {
        importing = on;
        ++(on ? importingOn : importingOff);
        onImporting(on);
    }
    void SetModified() override { ++modified; }
    HRESULT BeginImportTree() override
    {
        ++begins;
        return beginTree();
    }
    void EndImportTree(bool succeeded) override
    {
        ends.push_back(succeeded);
        endTree(succeeded);
    }
    void ReportFileFailure(const char *prompt, DWORD error, const std::string &path) override
    {
        failures.push_back(Failure{prompt, error, path});
    }
    int LogRowCount() override { return int(rows.size()); }
    bool GetLogRow(int index, CsvLogRow &row) override
    {
        if (index == unreadableRow || index < 0 || index >= int(rows.size()))
            return false;
        row = rows[size_t(index)];
        return true;
    }
    void GetLocalTime(SYSTEMTIME &time) override { time = now; }
    bool GetListSeparator(std::string &out) override
    {
        if (separatorFails)
            return false;
        out = separator;
        return true;
    }
};

// The process's message log for a test, showing every severity; the
// message table is open, so failure codes log with their texts.
class CCsvTestLog {
public:
    CCsvTestLog() : m_log("QORCsvTest")
    {
        m_log.SetView(&view);
        m_log.SetMessageBox(&boxes);
        for (LONG severity : {SeverityInfo, SeverityWarning, SeverityError, SeverityDebug1, SeverityDebug2,
                              SeverityDebug3})
            m_log.SetSwitch(severity, TRUE);
        m_log.OpenEventLog();
    }
    ~CCsvTestLog() { m_log.SetView(nullptr); }
    // The texts shown, oldest first.
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts = view.Texts();
        return std::vector<std::string>(texts.rbegin(), texts.rend());
    }
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> texts;
        auto lines = view.Lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->severity == SeverityError)
                texts.push_back(it->text);
        return texts;
    }

    CEventLogRecorder events;
    CRecordingLogView view{100000};
    CRecordingMessageBox boxes;

private:
    CServerMsg m_log;
};

// A file in the test's temporary folder, removed at the end.
class CTempFile {
public:
    explicit CTempFile(const std::string &name)
    {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        path = std::string(dir) + "csvtest_" + std::to_string(GetCurrentProcessId()) + "_" + name;
        DeleteFileA(path.c_str());
    }
    ~CTempFile() { DeleteFileA(path.c_str()); }
    // The whole file, bytes as stored.
    std::string Read() const;
    void Write(const std::string &bytes) const;
    std::string path;
};

inline std::string CTempFile::Read() const
{
    std::string content;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

inline void CTempFile::Write(const std::string &bytes) const
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// A fixture file of tests/data, as copied beside the test program.
std::string CsvFixture(const std::string &name);
// The fixture's bytes.
std::string ReadCsvFixture(const std::string &name);
