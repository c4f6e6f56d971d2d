#include "OutputThread.h"
#include "CommonMemory.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "ServerMsg.h"
#include <string>

namespace {
const char kWarningText[] = "Write Queue 75% Full";
const char kFullText[] = "Write Queue is Full, Outputs being discarded";
} // namespace

COutputThread::COutputThread() = default;

COutputThread::~COutputThread() { Stop(); }

bool COutputThread::Start(CCommonMemory *store, CDriver *driver, const char *eventName)
{
    if (m_thread || !store || !driver)
        return false;
    m_store = store;
    m_driver = driver;
    m_stop = 0;
    m_warned = m_full = false;
    std::string name = eventName ? std::string(eventName) : driver->Acronym() + "_OutputEvent";
    m_outputEvent = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_outputEvent && m_stopEvent)
        m_thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    if (!m_thread) {
        Stop();
        return false;
    }
    return true;
}

void COutputThread::Stop()
{
    if (m_thread) {
        InterlockedExchange(&m_stop, 1);
        SetEvent(m_stopEvent);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    if (m_stopEvent)
        CloseHandle(m_stopEvent);
    if (m_outputEvent)
        CloseHandle(m_outputEvent);
    m_stopEvent = m_outputEvent = nullptr;
}

DWORD WINAPI COutputThread::Main(void *self)
{
    COutputThread *t = static_cast<COutputThread *>(self);
    HANDLE waits[2] = {t->m_stopEvent, t->m_outputEvent};
    while (!t->m_stop) {
        DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 + 1)
            t->Drain();
        else if (which != WAIT_OBJECT_0)
            break;
    }
    return 0;
}

void COutputThread::Drain()
{
    unsigned long count = 0;
    if (m_store->GetOutputCount(&count) != STORE_OK)
        return;
    for (unsigned long i = 0; i < count && !m_stop; ++i) {
        OutputRecord record;
        if (m_store->GetOutputHead(&record) != STORE_OK)
            break;
        Deliver(record);
    }
}

bool COutputThread::Admit(size_t depth, size_t limit)
{
    if (depth * 4 >= limit * 3 && !m_warned) {
        LogMessage(SeverityWarning, "%s", kWarningText);
        m_warned = true;
    }
    if (depth >= limit) {
        if (!m_full) {
            LogMessage(SeverityError, "%s", kFullText);
            m_full = true;
        }
        return false;
    }
    if (m_full && depth <= limit / 2)
        m_full = false;
    if (depth <= limit / 2)
        m_warned = false;
    return true;
}

void COutputThread::Deliver(const OutputRecord &record)
{
    if (!m_driver || !m_driver->IsRunning())
        return;
    // Held while the block is used: it cannot be destroyed meanwhile.
    CDataBlock::UseLock hold;
    CDataBlock *block = CDataBlock::FromHandle(record.owner);
    if (!block)
        return;
    size_t depth = block->BlockWritesEnabled() ? block->PendingBlockWrites() : block->Device()->WriteQueue().GetCount();
    if (Admit(depth, m_driver->WriteQueueMaxSize()))
        block->WriteOutput(record);
}
