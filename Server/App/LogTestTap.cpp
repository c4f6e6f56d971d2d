#include "LogTestTap.h"
#include <memory>

const char CLogTestTap::Variable[] = "QOR_TEST_LOG_FILE";

CLogTestTap *CLogTestTap::FromEnvironment()
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(Variable, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return nullptr;
    // Appends only, shared with every other process writing the same file.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    return new CLogTestTap(file);
}

CLogTestTap::~CLogTestTap() { CloseHandle(m_file); }

void CLogTestTap::Write(const std::string &line)
{
    std::string text = std::to_string(GetCurrentProcessId()) + "\t" + line + "\n";
    DWORD written = 0;
    WriteFile(m_file, text.data(), DWORD(text.size()), &written, NULL);
}

BOOL CLogTestTap::PostLine(LONG severity, LogLineRecord *record)
{
    Write(std::to_string(severity) + "\t" + record->text);
    ILogView *view = m_view;
    if (view)
        return view->PostLine(severity, record);
    delete record;
    return TRUE;
}

void CLogTestTap::ClearLines()
{
    if (ILogView *view = m_view)
        view->ClearLines();
}

void CLogTestTap::Show(const std::string &text, const std::string &caption)
{
    std::string flat = text;
    for (char &c : flat)
        if (c == '\n' || c == '\r')
            c = ' ';
    Write("box\t" + caption + "\t" + flat);
}
