// A recording Alarm & Event callback for the connection tests: it keeps
// every call in order, can hold a call until released, and counts its
// references. It aggregates the free-threaded marshaller, so a server
// worker in this process calls it directly; across processes the client's
// multithreaded apartment takes the calls.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>
#include "QORDriver.h"
#include "ConfigObject.h"

namespace apptest {

class RecordingAlarmSink : public IAlarmMessageSink {
public:
    struct Call {
        std::string method, text, source;
        LONG eventCode;
        bool operator==(const Call &o) const
        {
            return method == o.method && text == o.text && source == o.source && eventCode == o.eventCode;
        }
    };

    RecordingAlarmSink()
    {
        InitializeCriticalSection(&m_lock);
        m_arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        m_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_blocked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        CoCreateFreeThreadedMarshaler(this, &m_marshaler);
    }
    ~RecordingAlarmSink()
    {
        // Stubs that other processes still hold must not outlive the sink.
        CoDisconnectObject(static_cast<IAlarmMessageSink *>(this), 0);
        if (m_marshaler)
            m_marshaler->Release();
        CloseHandle(m_arrived);
        CloseHandle(m_release);
        CloseHandle(m_blocked);
        DeleteCriticalSection(&m_lock);
    }

    // From now on each call waits (up to holdMs) until Unblock.
    void BlockCalls(DWORD holdMs) { m_holdMs = holdMs; }
    void Unblock() { SetEvent(m_release); }
    // True once a call is being held.
    bool WaitBlocked(DWORD ms) { return WaitForSingleObject(m_blocked, ms) == WAIT_OBJECT_0; }
    int queryCalls = 0;   // QueryInterface for IAlarmMessageSink

    // Waits until count calls arrived (or ms passed); a copy of them.
    std::vector<Call> WaitFor(size_t count, DWORD ms)
    {
        DWORD end = GetTickCount() + ms;
        for (;;) {
            std::vector<Call> now = Calls();
            LONG left = LONG(end - GetTickCount());
            if (now.size() >= count || left <= 0)
                return now;
            WaitForSingleObject(m_arrived, DWORD(left));
        }
    }
    std::vector<Call> Calls()
    {
        EnterCriticalSection(&m_lock);
        std::vector<Call> copy = m_calls;
        LeaveCriticalSection(&m_lock);
        return copy;
    }
    LONG Refs() const { return m_refs; }

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IAlarmMessageSink)) {
            if (IsEqualIID(iid, IID_IAlarmMessageSink))
                ++queryCalls;
            *out = static_cast<IAlarmMessageSink *>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(iid, IID_IMarshal) && m_marshaler)
            return m_marshaler->QueryInterface(iid, out);
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    // Owned by the test: the count never deletes.
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_refs)); }
    STDMETHODIMP OnMessage(BSTR text, LONG eventCode, BSTR source) override
    {
        return Record("OnMessage", text, eventCode, source);
    }
    STDMETHODIMP OnMessage2(BSTR text, LONG eventCode, BSTR source) override
    {
        return Record("OnMessage2", text, eventCode, source);
    }

private:
    HRESULT Record(const char *method, BSTR text, LONG eventCode, BSTR source)
    {
        EnterCriticalSection(&m_lock);
        m_calls.push_back(Call{method, ConfigValue::Narrow(text), ConfigValue::Narrow(source), eventCode});
        LeaveCriticalSection(&m_lock);
        SetEvent(m_arrived);
        if (m_holdMs) {
            SetEvent(m_blocked);
            WaitForSingleObject(m_release, m_holdMs);
        }
        return S_OK;
    }

    CRITICAL_SECTION m_lock;
    std::vector<Call> m_calls;
    HANDLE m_arrived, m_release, m_blocked;
    IUnknown *m_marshaler = nullptr;
    volatile DWORD m_holdMs = 0;
    volatile LONG m_refs = 1;
};

} // namespace apptest
