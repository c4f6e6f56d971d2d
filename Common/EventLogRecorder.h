// CEventLogRecorder fakes the NT event log for tests: while it lives, every
// CEventLog created registers its source with it and reports its events to
// it, and the test reads back what was reported.
//
//     CEventLogRecorder events;            // installed until it goes
//     CEventLog log("QORTest");
//     ReportEventStrings(&log, id, EVENTLOG_ERROR_TYPE, 0, NULL, "text", NULL);
//     events.Events()[0].strings[0] == "text"
#pragma once
#include <mutex>
#include <string>
#include <vector>
#include "EventLog.h"

class CEventLogRecorder : public IEventLogBackend {
public:
    struct Event {
        std::string source;
        WORD type;
        DWORD id;
        std::vector<std::string> strings;
        std::vector<unsigned char> data;
    };

    CEventLogRecorder() { m_previous = SetEventLogBackend(this); }
    ~CEventLogRecorder() override { SetEventLogBackend(m_previous); }
    CEventLogRecorder(const CEventLogRecorder &) = delete;
    CEventLogRecorder &operator=(const CEventLogRecorder &) = delete;

    // Makes RegisterSource fail from now on, as on a machine without rights.
    void RefuseSources(bool refuse)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_refuse = refuse;
    }

    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events.size();
    }
    // Sources registered and not yet deregistered.
    int OpenSources() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_open;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.clear();
    }

    HANDLE RegisterSource(const char *source) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_refuse) {
            SetLastError(ERROR_ACCESS_DENIED);
            return NULL;
        }
        m_sources.push_back(source ? source : "");
        ++m_open;
        return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(m_sources.size()));
    }
    DWORD Report(HANDLE source, WORD type, DWORD eventId, WORD stringCount, const char **strings,
                 DWORD dataSize, void *data) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        size_t index = reinterpret_cast<ULONG_PTR>(source);
        if (index == 0 || index > m_sources.size())
            return ERROR_INVALID_HANDLE;
        Event event;
        event.source = m_sources[index - 1];
        event.type = type;
        event.id = eventId;
        for (WORD i = 0; i < stringCount; ++i)
            event.strings.push_back(strings[i] ? strings[i] : "");
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        if (bytes)
            event.data.assign(bytes, bytes + dataSize);
        m_events.push_back(event);
        return 0;
    }
    void DeregisterSource(HANDLE) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        --m_open;
    }

private:
    mutable std::mutex m_lock;
    IEventLogBackend *m_previous;
    bool m_refuse = false;
    int m_open = 0;
    std::vector<std::string> m_sources;
    std::vector<Event> m_events;
};
