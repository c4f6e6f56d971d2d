#include "EventLog.h"
#include "Registry.h"
#include <atomic>
#include <cstdarg>
#include <cstring>

namespace {

// The NT event log.
class NtEventLog : public IEventLogBackend {
public:
    HANDLE RegisterSource(const char *source) override { return RegisterEventSourceA(NULL, source); }
    DWORD Report(HANDLE source, WORD type, DWORD eventId, WORD stringCount, const char **strings,
                 DWORD dataSize, void *data) override
    {
        if (ReportEventA(source, type, 0, eventId, NULL, stringCount, dataSize, strings, data))
            return 0;
        return GetLastError();
    }
    void DeregisterSource(HANDLE source) override { DeregisterEventSource(source); }
};

NtEventLog g_ntEventLog;
std::atomic<IEventLogBackend *> g_backend(&g_ntEventLog);

const char DefaultErrorDll[] = "ZorbErr.dll";

} // namespace

IEventLogBackend *SetEventLogBackend(IEventLogBackend *backend)
{
    return g_backend.exchange(backend ? backend : &g_ntEventLog);
}

IEventLogBackend *GetEventLogBackend() { return g_backend.load(); }

CEventLog::CEventLog(const char *source)
    : m_backend(GetEventLogBackend()), m_source(NULL), m_library(NULL), m_usable(true)
{
    const char *name = source ? source : "";
    m_source = m_backend->RegisterSource(name);
    if (!m_source)
        m_usable = false;

    CRegistry reg;
    std::string key = std::string("Software\\Veltrane\\Drivers\\") + name;
    if (reg.OpenKey(key.c_str()) != ERROR_SUCCESS) {
        m_usable = false;
        return;
    }
    char library[MaxLibraryName + 1];
    unsigned long length = sizeof(library);
    LONG rc = reg.ReadValue("ErrorDll", library, &length);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && library[0] == '\0'))
        strcpy(library, DefaultErrorDll);
    else if (rc != ERROR_SUCCESS) {
        m_usable = false;
        return;
    }
    // As a data file: a library planted on the search path cannot run code
    // in the server this way, and the message table is all we need of it.
    m_library = LoadLibraryExA(library, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!m_library)
        m_usable = false;
}

CEventLog::~CEventLog() { Close(); }

void CEventLog::Close()
{
    if (m_source) {
        m_backend->DeregisterSource(m_source);
        m_source = NULL;
    }
    if (m_library) {
        FreeLibrary(m_library);
        m_library = NULL;
    }
}

DWORD CEventLog::GetMessageText(DWORD id, std::string &text) const
{
    text.clear();
    // The caller has no arguments to give: insertion marks stay in the text
    // instead of being read from nowhere.
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (m_library)
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    char *message = NULL;
    DWORD length = FormatMessageA(flags, m_library, id, 0, reinterpret_cast<LPSTR>(&message), 0, NULL);
    if (length == 0) {
        DWORD rc = GetLastError();
        return rc ? rc : ERROR_MR_MID_NOT_FOUND;
    }
    text.assign(message, length);
    LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return 0;
}

DWORD CEventLog::GetMessageText(DWORD id, char *buffer, DWORD size) const
{
    if (!buffer || size == 0)
        return ERROR_INVALID_PARAMETER;
    buffer[0] = '\0';
    std::string text;
    DWORD rc = GetMessageText(id, text);
    if (rc)
        return rc;
    size_t count = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return 0;
}

DWORD CEventLog::Report(DWORD eventId, WORD type, WORD stringCount, const char **strings,
                        DWORD dataSize, void *data)
{
    if (!m_source)
        return 0;
    return m_backend->Report(m_source, type, eventId, stringCount, strings, dataSize, data);
}

DWORD ReportEventStrings(CEventLog *log, DWORD eventId, WORD type, DWORD dataSize, void *data,
                         const char *string1, ...)
{
    if (!log)
        return 0;
    const char *strings[CEventLog::MaxInsertionStrings];
    WORD count = 0;
    va_list args;
    va_start(args, string1);
    for (const char *s = string1; s && count < CEventLog::MaxInsertionStrings; s = va_arg(args, const char *))
        strings[count++] = s;
    va_end(args);
    return log->Report(eventId, type, count, strings, dataSize, data);
}
