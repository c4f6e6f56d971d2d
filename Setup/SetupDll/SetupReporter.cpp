#include "SetupReporter.h"
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

const char kErrorTitle[] = "I/O Server Setup Error";
const char kAborted[] = "I/O Server Setup aborted";

std::mutex g_answerLock;
size_t g_nextAnswer = 0;

std::string Env(const char *name)
{
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return length && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

int DefaultButton(UINT style)
{
    UINT type = style & MB_TYPEMASK;
    UINT def = style & MB_DEFMASK;
    switch (type) {
    case MB_YESNO:
        return def == MB_DEFBUTTON2 ? IDNO : IDYES;
    case MB_YESNOCANCEL:
        return def == MB_DEFBUTTON2 ? IDNO : def == MB_DEFBUTTON3 ? IDCANCEL : IDYES;
    case MB_OKCANCEL:
        return def == MB_DEFBUTTON2 ? IDCANCEL : IDOK;
    default:
        return IDOK;
    }
}

int NextTestAnswer(UINT style)
{
    std::string list = Env("QOR_TEST_ANSWERS");
    std::vector<std::string> answers;
    std::string word;
    for (char c : list + ",") {
        if (c == ',') {
            if (!word.empty())
                answers.push_back(word);
            word.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            word += char(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    std::lock_guard<std::mutex> hold(g_answerLock);
    if (g_nextAnswer >= answers.size())
        return DefaultButton(style);
    const std::string &answer = answers[g_nextAnswer++];
    if (answer == "yes")
        return IDYES;
    if (answer == "no")
        return IDNO;
    if (answer == "cancel")
        return IDCANCEL;
    return IDOK;
}

const char *ButtonName(int button)
{
    switch (button) {
    case IDYES: return "yes";
    case IDNO: return "no";
    case IDCANCEL: return "cancel";
    default: return "ok";
    }
}

} // namespace

bool TestLogFile(std::string &path)
{
    path = Env("QOR_TEST_LOG_FILE");
    return !path.empty();
}

void AppendTestLog(const std::string &line)
{
    std::string path;
    if (!TestLogFile(path))
        return;
    // Several processes of one installation append to the same file.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, NULL);
    CloseHandle(file);
}

int CBoxReporter::Show(HWND owner, const std::string &text, const std::string &title, UINT style)
{
    std::string path;
    if (!TestLogFile(path))
        return MessageBoxA(owner, text.c_str(), title.c_str(), style);
    int answer = NextTestAnswer(style);
    // One line per box: the title, the text with its line breaks shown as \n.
    std::string flat;
    for (char c : text)
        flat += c == '\n' ? std::string("\\n") : std::string(1, c);
    AppendTestLog("BOX [" + title + "] " + flat + " -> " + ButtonName(answer));
    return answer;
}

CSetupReporter &DefaultReporter()
{
    static CBoxReporter reporter;
    return reporter;
}

void ShowSetupError(CSetupReporter &reporter, HWND owner, const std::string &text)
{
    reporter.Show(owner, text + "\n\n" + kAborted, kErrorTitle, MB_OK | MB_ICONSTOP);
}

void ShowSetupError(CSetupReporter &reporter, HWND owner, const std::string &text, long code)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "\nWin32 error code: %ld\n\n", code);
    reporter.Show(owner, text + buffer + kAborted, kErrorTitle, MB_OK | MB_ICONSTOP);
}
