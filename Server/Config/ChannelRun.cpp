// The channel at run time: its two worker threads, its request queues and
// the connection records whose processors its devices share.
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Priority.h"
#include "ProtocolMsg.h"
#include "XActionProcessor.h"

namespace {

const DWORD kThreadStopLimitMs = 10000;
const DWORD kRunningScanMs = 10;
const DWORD kStoppedScanMs = 500;
const DWORD kParseTickMs = 500;

volatile LONG g_pendingDestroys = 0;

DWORD WINAPI DestroyProcessorThread(void *processor)
{
    CXActionProcessor *p = static_cast<CXActionProcessor *>(processor);
    p->Stop();
    delete p;
    InterlockedDecrement(&g_pendingDestroys);
    return 0;
}

bool DriverRunning()
{
    CDriver *driver = CDriver::Current();
    return driver && driver->IsRunning();
}

// A request the processor has finished with: neither new nor sent.
int IsFinished(CProtocolMsg *msg, void *)
{
    LONG state = msg->GetState();
    return state != CXAction::StateNew && state != CXAction::StateStarted ? 1 : 0;
}

int IsOfBlock(CProtocolMsg *msg, void *block)
{
    return !block || msg->GetBlock() == static_cast<const IMsgBlock *>(block) ? 1 : 0;
}

int IsOfDevice(CProtocolMsg *msg, void *device)
{
    return msg->BelongsToDevice(static_cast<const IMsgDevice *>(device)) ? 1 : 0;
}

void WaitForThread(HANDLE &thread)
{
    if (!thread)
        return;
    if (WaitForSingleObject(thread, kThreadStopLimitMs) != WAIT_OBJECT_0)
        TerminateThread(thread, 1);
    CloseHandle(thread);
    thread = nullptr;
}

} // namespace

void DeferProcessorDestroy(CXActionProcessor *processor)
{
    if (!processor)
        return;
    InterlockedIncrement(&g_pendingDestroys);
    HANDLE thread = CreateThread(nullptr, 0, DestroyProcessorThread, processor, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        DestroyProcessorThread(processor);
}

LONG PendingProcessorDestroys() { return g_pendingDestroys; }

void CChannel::StartThreads()
{
    m_wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_scanWakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_wakeEvent || !m_stopEvent || !m_scanWakeEvent)
        return;
    m_scanThread = CreateThread(nullptr, 0, DeviceScanThread, this, CREATE_SUSPENDED, nullptr);
    m_parseThread = CreateThread(nullptr, 0, MessageParseThread, this, CREATE_SUSPENDED, &m_parseThreadId);
    for (HANDLE thread : {m_scanThread, m_parseThread}) {
        if (!thread)
            continue;
        SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
        ResumeThread(thread);
    }
    m_threaded = m_scanThread && m_parseThread;
}

void CChannel::StopThreads()
{
    InterlockedExchange(&m_stop, 1);
    if (m_stopEvent)
        SetEvent(m_stopEvent);
    WaitForThread(m_scanThread);
    WaitForThread(m_parseThread);
    m_threaded = false;
}

void CChannel::SetThreadPriorities(int deviceScan, int messageParse)
{
    if (deviceScan >= 1 && deviceScan <= 15)
        m_deviceScanPriority = deviceScan;
    if (messageParse >= 1 && messageParse <= 15)
        m_messageParsePriority = messageParse;
}

void CChannel::WakeParseThread()
{
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
}

void CChannel::WakeScanThread()
{
    if (m_scanWakeEvent)
        SetEvent(m_scanWakeEvent);
}

DWORD WINAPI CChannel::DeviceScanThread(void *self)
{
    CChannel *channel = static_cast<CChannel *>(self);
    int applied = 8;
    HANDLE waits[2] = {channel->m_stopEvent, channel->m_scanWakeEvent};
    while (!channel->m_stop) {
        DWORD sleepMs = kStoppedScanMs;
        if (DriverRunning()) {
            int code = channel->m_deviceScanPriority;
            if (code != 8 && code != applied && ApplyPriorityCode(code))
                applied = code;
            channel->ScanDevices();
            sleepMs = kRunningScanMs;
        }
        WaitForMultipleObjects(2, waits, FALSE, sleepMs);
    }
    return 0;
}

void CChannel::ScanDevices()
{
    if (!m_enabled)
        return;
    // Devices are added and removed under this lock, never during their scan.
    std::lock_guard<std::recursive_mutex> guard(m_devices.Lock());
    for (CDevice *device : m_devices.Items()) {
        if (!m_enabled || !DriverRunning() || m_stop)
            break;
        device->HandleConnection();
        device->ScanBlocks();
        device->Send();
    }
}

DWORD WINAPI CChannel::MessageParseThread(void *self)
{
    CChannel *channel = static_cast<CChannel *>(self);
    if (channel->m_messageParsePriority != 8)
        ApplyPriorityCode(channel->m_messageParsePriority);
    HANDLE waits[3] = {channel->m_stopEvent, channel->m_wakeEvent, channel->m_parseQueue.GetEvent()};
    while (!channel->m_stop) {
        DWORD which = WaitForMultipleObjects(3, waits, FALSE, kParseTickMs);
        if (which == WAIT_OBJECT_0)
            continue;
        channel->ParseCompleted();
    }
    return 0;
}

void CChannel::ParseCompleted()
{
    // Each moved request is one fewer in flight on its device and reports
    // its connection state (MsgDone).
    MoveLockedItems<CProtocolMsg>(&m_activeQueue, IsFinished, nullptr, &m_parseQueue, true, false, MsgDone);
    for (;;) {
        CProtocolMsg *msg;
        CDataBlock *block = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_parseLock);
            msg = m_parseQueue.RemoveHead();
            if (!msg)
                break;
            if (IMsgBlock *owner = msg->GetBlock())
                block = dynamic_cast<CDataBlock *>(owner);
            m_parsing = block;
        }
        LONG state = msg->GetState();
        if (!block || state == CXAction::StateNew || state == CXAction::StateStarted)
            MsgHandBackWithoutCount(msg);   // nothing to process: back to its owner
        else if (msg->Succeeded())
            block->ProcessReply(msg);
        else
            block->ProcessFailure(msg);
        {
            std::lock_guard<std::mutex> guard(m_parseLock);
            m_parsing = nullptr;
        }
        m_parseDone.notify_all();
    }
}

void CChannel::WaitUntilNotParsing(const CDataBlock *block)
{
    if (!block || GetCurrentThreadId() == m_parseThreadId)
        return;
    std::unique_lock<std::mutex> guard(m_parseLock);
    m_parseDone.wait(guard, [&] { return m_parsing != block; });
}

int CChannel::RemoveRequests(int (*predicate)(CProtocolMsg *, void *), void *argument, bool active, bool parse)
{
    int removed = 0;
    // An active request is aborted at its resource; it was in flight, so its
    // device counts it down as it goes back. Parsed ones were counted already.
    if (active)
        removed += MoveLockedItems<CProtocolMsg>(&m_activeQueue, predicate, argument, nullptr, false, false,
                                                 MsgCancel);
    if (parse) {
        std::lock_guard<std::mutex> guard(m_parseLock);
        removed += MoveLockedItems<CProtocolMsg>(&m_parseQueue, predicate, argument, nullptr, false, false,
                                                 MsgHandBackWithoutCount);
    }
    return removed;
}

int CChannel::RemoveBlockRequests(const IMsgBlock *block, bool active, bool parse)
{
    return RemoveRequests(IsOfBlock, const_cast<IMsgBlock *>(block), active, parse);
}

int CChannel::RemoveDeviceRequests(const IMsgDevice *device)
{
    return RemoveRequests(IsOfDevice, const_cast<IMsgDevice *>(device), true, true);
}

bool CChannel::OpenRecord(ChannelConnection &record)
{
    std::lock_guard<std::mutex> guard(record.lock);
    if (!record.processor)
        record.processor = new CXActionProcessor();
    if (record.state != 1 &&
        record.processor->Start(record.cpName.c_str(), record.vfdName.c_str(), m_wakeEvent))
        record.state = 1;
    return record.state == 1;
}

bool CChannel::HoldRecord(ChannelConnection &record)
{
    {
        std::lock_guard<std::mutex> guard(record.lock);
        ++record.users;
    }
    return OpenRecord(record);
}

void CChannel::ReleaseRecord(ChannelConnection &record, const std::string &connName)
{
    CXActionProcessor *retired = nullptr;
    {
        std::lock_guard<std::mutex> guard(record.lock);
        if (record.state == 1 && record.processor && !connName.empty())
            record.processor->CancelByConnection(connName.c_str());
        if (record.users > 0 && --record.users == 0) {
            retired = record.processor;
            record.processor = nullptr;
            record.state = 0;
        }
    }
    DeferProcessorDestroy(retired);
}
