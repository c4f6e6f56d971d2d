// CEventLog: writes to the NT event log under one event source and looks up
// the texts of message ids in the message-table library named by the
// registry value "ErrorDll" (default "ZorbErr.dll"). Nothing here reports its
// own failures: a log that could not be opened swallows events, and a lookup
// that fails answers the system error so that the caller can decide.
// No library exports any of this: every module has its own copy, since a
// std::string must not cross into a module with another copy of the runtime.
#pragma once
#include <windows.h>
#include <string>

// The event log itself, behind a seam: the NT implementation calls
// RegisterEventSource / ReportEvent / DeregisterEventSource; tests install a
// recorder (EventLogRecorder.h) because Wine only stubs the event log.
class IEventLogBackend {
public:
    virtual ~IEventLogBackend() {}
    // A handle for source on the local machine, or NULL (GetLastError set).
    virtual HANDLE RegisterSource(const char *source) = 0;
    // Writes one event; 0 or the system error.
    virtual DWORD Report(HANDLE source, WORD type, DWORD eventId, WORD stringCount,
                         const char **strings, DWORD dataSize, void *data) = 0;
    virtual void DeregisterSource(HANDLE source) = 0;
};

// The backend that new CEventLog objects use: the NT event log unless a test
// installed another. Returns the one it replaces; NULL restores the NT one.
IEventLogBackend *SetEventLogBackend(IEventLogBackend *backend);
IEventLogBackend *GetEventLogBackend();

class CEventLog {
public:
    enum { MaxLibraryName = 259, MaxInsertionStrings = 100 };

    // Registers the event source and loads the message table named under
    // HKLM "Software\Veltrane\Drivers\" + source. The table is loaded as a
    // data file: its code never runs.
    explicit CEventLog(const char *source);
    ~CEventLog();
    CEventLog(const CEventLog &) = delete;
    CEventLog &operator=(const CEventLog &) = delete;

    // Deregisters the event source and frees the message table.
    void Close();

    // False when the event source or the message table could not be had.
    bool IsUsable() const { return m_usable; }
    HANDLE GetEventSource() const { return m_source; }
    HMODULE GetMessageLibrary() const { return m_library; }

    // The text of id from the message table, else from the system's own
    // messages, without a trailing line break and with its insertion marks
    // (%1...) left as they are; cut to fit size bytes with the terminator.
    // 0 or the system error (buffer empty then).
    DWORD GetMessageText(DWORD id, char *buffer, DWORD size) const;
    DWORD GetMessageText(DWORD id, std::string &text) const;

    // Writes one event (category 0, no user). Used by ReportEventStrings.
    DWORD Report(DWORD eventId, WORD type, WORD stringCount, const char **strings,
                 DWORD dataSize, void *data);

private:
    IEventLogBackend *m_backend;
    HANDLE m_source;
    HMODULE m_library;
    bool m_usable;
};

// Writes one event with the insertion strings up to the terminating NULL (at
// most the first 100) and dataSize bytes of data. Without a log or an event
// source it writes nothing and answers 0.
DWORD ReportEventStrings(CEventLog *log, DWORD eventId, WORD type, DWORD dataSize, void *data,
                         const char *string1, ...) __attribute__((sentinel));
