// Test doubles of the message log's surroundings, for any test that wants to
// see what the server logged:
//   CRecordingLogView    fakes the main window's log view: it shows each
//                        posted line at once, newest first, as the window
//                        does on message 1026;
//   CRecordingEventSink  fakes the Alarm & Event connections;
//   CRecordingMessageBox fakes the fatal message box (never blocks unless
//                        told to hold).
// Typical use, with the NT event log faked too (Common/EventLogRecorder.h):
//     CEventLogRecorder events;
//     CServerMsg log("QORTest");   // becomes the process's message log
//     CRecordingLogView view;
//     log.SetView(&view);
//     log.OpenEventLog();
//     LogMessage(SeverityError, "...");   // view.Texts()[0] == "..."
#pragma once
#include <windows.h>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>
#include "LogView.h"
#include "ServerMsg.h"

class CRecordingLogView : public ILogView {
public:
    struct Line {
        LONG severity;
        std::string text;
        std::string date;
        std::string time;
    };

    explicit CRecordingLogView(DWORD maximum = CServerMsg::DefaultMaximumMessages) : m_list(maximum) {}

    // From now on refuse posts, as a window that is gone does.
    void RefusePosts(bool refuse)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_refuse = refuse;
    }
    void SetMaximum(DWORD maximum)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_list.maximum = maximum;
    }
    // The rows, newest first.
    std::vector<Line> Lines() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_list.rows;
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Line &line : Lines())
            texts.push_back(line.text);
        return texts;
    }
    int Deletes() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_list.deletes;
    }
    // DeleteItem calls with an index outside the rows.
    int BadDeletes() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_list.badDeletes;
    }
    int Clears() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_clears;
    }

    BOOL PostLine(LONG severity, LogLineRecord *record) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_refuse)
            return FALSE;
        ShowLogLine(m_list, m_list.maximum, severity, *record);
        delete record;
        return TRUE;
    }
    void ClearLines() override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_list.rows.clear();
        ++m_clears;
    }

    // The rows in memory, as a list view holds them.
    struct List : ILogList {
        explicit List(DWORD max) : maximum(max) {}
        DWORD maximum;
        std::vector<Line> rows;
        int deletes = 0;
        int badDeletes = 0;
        int GetCount() override { return int(rows.size()); }
        void DeleteItem(int index) override
        {
            ++deletes;
            if (index < 0 || index >= int(rows.size())) {
                ++badDeletes;
                return;
            }
            rows.erase(rows.begin() + index);
        }
        void InsertItem(int index, LONG severity, const std::string &text, const std::string &date,
                        const std::string &time) override
        {
            if (index < 0 || index > int(rows.size()))
                index = int(rows.size());
            rows.insert(rows.begin() + index, Line{severity, text, date, time});
        }
    };

private:
    mutable std::mutex m_lock;
    List m_list;
    bool m_refuse = false;
    int m_clears = 0;
};

class CRecordingEventSink : public IServerEventSink {
public:
    struct Event {
        std::string text;
        std::string source;
        DWORD eventCode;
        DWORD eventParameter;
    };
    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }
    void Broadcast(const std::string &text, const std::string &source, DWORD eventCode,
                   DWORD eventParameter) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.push_back(Event{text, source, eventCode, eventParameter});
    }

private:
    mutable std::mutex m_lock;
    std::vector<Event> m_events;
};

class CRecordingMessageBox : public IMessageBoxSeam {
public:
    struct Box {
        std::string text;
        std::string caption;
        DWORD threadId;
    };

    // While held, Show does not return until Release, as a box nobody has
    // answered yet.
    void Hold()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_held = true;
    }
    void Release()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_held = false;
        m_changed.notify_all();
    }
    // Waits until count boxes were shown (or timeoutMs passed); true when they were.
    bool WaitForBoxes(size_t count, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_boxes.size() >= count; });
    }
    // Waits until count boxes were answered (Show returned); a test that
    // released a held box waits for this before the recorder goes away.
    bool WaitForAnswers(size_t count, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_answered >= count; });
    }
    std::vector<Box> Boxes() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_boxes;
    }
    // Boxes that have been answered (Show returned).
    size_t Answered() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_answered;
    }

    void Show(const std::string &text, const std::string &caption) override
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_boxes.push_back(Box{text, caption, GetCurrentThreadId()});
        m_changed.notify_all();
        m_changed.wait(hold, [&] { return !m_held; });
        ++m_answered;
        m_changed.notify_all();
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Box> m_boxes;
    size_t m_answered = 0;
    bool m_held = false;
};
