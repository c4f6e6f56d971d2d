// The server's output thread: it drains the store's output queue whenever
// "<acronym>_OutputEvent" is set and hands each record to its data block,
// holding back writes while a block's queue is at its limit.
#pragma once
#include <windows.h>
#include <cstddef>
#include "StoreRecords.h"

class CCommonMemory;
class CDriver;

class COutputThread {
public:
    COutputThread();
    ~COutputThread();
    COutputThread(const COutputThread &) = delete;
    COutputThread &operator=(const COutputThread &) = delete;

    // eventName: the store's output event, by default the driver's acronym
    // and "_OutputEvent" (the store of that name sets it).
    bool Start(CCommonMemory *store, CDriver *driver, const char *eventName = nullptr);
    void Stop();

    // One record as the thread handles it: dropped while the driver is not
    // running or when its owner names no live block of the tree.
    void Deliver(const OutputRecord &record);
    // The depth rule: logs the 75% and full lines once each (re-armed at
    // half the limit); true when a record at this depth is handed on.
    bool Admit(size_t depth, size_t limit);

private:
    static DWORD WINAPI Main(void *self);
    void Drain();

    CCommonMemory *m_store = nullptr;
    CDriver *m_driver = nullptr;
    HANDLE m_thread = nullptr;
    HANDLE m_stopEvent = nullptr;
    HANDLE m_outputEvent = nullptr;
    volatile LONG m_stop = 0;
    bool m_warned = false;   // "Write Queue 75% Full" posted
    bool m_full = false;     // "Write Queue is Full, Outputs being discarded" posted
};
