// The device at run time, on its channel's device-scan thread: connection
// handling and switching, the block scan, and sending one request at a
// time from its read and write queues.
#include "Device.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Driver.h"
#include "ServerMsg.h"
#include "XActionProcessor.h"
#include <algorithm>
#include <cstdio>

namespace {

LONG ProcessorSubmit(CXActionProcessor *processor, CProtocolMsg *msg) { return msg->Submit(processor); }
DeviceSubmitFn g_submit = ProcessorSubmit;

// Queued requests were never in flight: back to their blocks uncounted.
void EmptyQueue(CLockedList<CProtocolMsg> &queue)
{
    MoveLockedItems<CProtocolMsg>(&queue, nullptr, nullptr, nullptr, false, false, MsgHandBackWithoutCount);
}

bool TakeOut(CLockedList<CProtocolMsg> &queue, CProtocolMsg *msg)
{
    queue.Lock();
    std::list<CProtocolMsg *> &items = queue.Items();
    auto it = std::find(items.begin(), items.end(), msg);
    bool found = it != items.end();
    if (found)
        items.erase(it);
    queue.Unlock();
    return found;
}

void PutAtHead(CLockedList<CProtocolMsg> &queue, CProtocolMsg *msg)
{
    queue.Lock();
    queue.Items().push_front(msg);
    queue.Unlock();
    queue.Signal();
}

} // namespace

void SetDeviceSubmit(DeviceSubmitFn submit) { g_submit = submit ? submit : ProcessorSubmit; }

void CDevice::Start()
{
    InterlockedExchange(&m_stopFlag, 0);
    InterlockedExchange(&m_commFailed, 0);
    InterlockedExchange(&m_recovering, 0);
    SetSwitchRequest(SwitchQuiet | SwitchPrimary);
    for (CDataBlock *block : DataBlocks())
        block->ResetSchedule();
}

void CDevice::Stop(int stopKind)
{
    std::lock_guard<std::recursive_mutex> guard(m_blocks.Lock());
    InterlockedExchange(&m_stopFlag, 1);
    EmptyQueue(m_writeQueue);
    EmptyQueue(m_readQueue);
    for (CDataBlock *block : m_blocks.Items())
        block->Stop(stopKind);
    if (m_channel)
        m_channel->RemoveDeviceRequests(this);
    ReleaseHold();
}

LONG CDevice::Poll()
{
    if (!m_enabled)
        return 0;
    for (CDataBlock *block : DataBlocks()) {
        if (!block->IsEnabled())
            continue;
        LONG result = block->Poll();
        if (result < 0)
            return result;
    }
    return 0;
}

LONG CDevice::RequestSwitch()
{
    SetSwitchRequest(SwitchOther);
    return 0;
}

void CDevice::SetCommFailed(bool failed)
{
    if (failed) {
        InterlockedExchange(&m_commFailed, 1);
    } else {
        InterlockedExchange(&m_commFailed, 0);
        InterlockedExchange(&m_recovering, 0);
    }
}

void CDevice::ReleaseOutstanding()
{
    // Never below zero, whoever counts a request down.
    for (;;) {
        LONG count = m_inFlight;
        if (count <= 0 || InterlockedCompareExchange(&m_inFlight, count - 1, count) == count)
            return;
    }
}

void CDevice::ReleaseHold()
{
    ChannelConnection *record = m_record;
    m_record = nullptr;
    if (record && m_channel)
        m_channel->ReleaseRecord(*record, m_heldConnName);
}

bool CDevice::GetResource(ChannelConnection **out)
{
    *out = nullptr;
    ChannelConnection *wanted = ChannelRecordInUse();
    if (!wanted)
        return false;
    bool open;
    if (m_record != wanted) {
        ReleaseHold();
        m_record = wanted;
        m_heldConnName = InUse().name;
        open = m_channel->HoldRecord(*wanted);
    } else {
        m_heldConnName = InUse().name;
        std::lock_guard<std::mutex> guard(wanted->lock);
        open = wanted->state == 1 && wanted->processor;
    }
    if (!open) {
        InterlockedExchange(&m_commFailed, 1);
        return false;
    }
    *out = wanted;
    return true;
}

void CDevice::HandleConnection()
{
    if (!IsActive())
        return;
    // The held record and the connection in use change only under the
    // device lock, as a stop on another thread gives the record up under it.
    std::lock_guard<std::recursive_mutex> guard(m_blocks.Lock());
    bool reconnect = false;
    if (InterlockedExchange(&m_commFailed, 0)) {
        InterlockedExchange(&m_recovering, 1);
        for (CDataBlock *block : m_blocks.Items())
            block->ProcessFailure(nullptr);
        reconnect = true;
    } else if (!m_switchRequest) {
        return;
    }
    uint32_t request = uint32_t(InterlockedExchange(&m_switchRequest, 0));
    bool toPrimary;
    switch (request & 3) {
    case SwitchPrimary: toPrimary = true; break;
    case SwitchBackup: toPrimary = false; break;
    default: toPrimary = !m_usingPrimary; break;
    }
    const DeviceConnection &target = toPrimary ? m_primary : m_backup;
    bool switching = toPrimary != m_usingPrimary && !target.name.empty();
    if (!switching && !reconnect)
        return;

    // The old hold is given up last, so that a processor the new connection
    // shares is not stopped and made again.
    ChannelConnection *old = m_record;
    std::string oldName = m_heldConnName;
    m_record = nullptr;
    bool wasEnabled = m_enabled;
    // The blocks keep their schedules across the silent stop: a failed
    // block still waits out the connection's delay, the others poll on.
    std::vector<std::pair<CDataBlock *, CDataBlock::Schedule>> schedules;
    for (CDataBlock *block : DataBlocks())
        schedules.emplace_back(block, block->GetSchedule());
    if (wasEnabled)
        Disable(false, 1);
    if (switching) {
        std::string from = m_nameInUse;
        SetUsingPrimary(toPrimary);
        if (!(request & SwitchQuiet)) {
            char text[160];
            snprintf(text, sizeof(text), "%s Switching connection from %s to %s", m_name.c_str(), from.c_str(),
                     m_nameInUse.c_str());
            LogMessage(SeverityInfo, "%s", text);
            CDriver *driver = CDriver::Current();
            SendConfigHmiAlarmLine(text, driver ? driver->Acronym().c_str() : "");
        }
    }
    if (wasEnabled) {
        ChannelConnection *record;
        GetResource(&record);
        Enable(false);
        for (const auto &kept : schedules)
            kept.first->SetSchedule(kept.second);
    }
    if (old && m_channel)
        m_channel->ReleaseRecord(*old, oldName);
}

void CDevice::ScanBlocks()
{
    if (!IsActive())
        return;
    std::lock_guard<std::recursive_mutex> guard(m_blocks.Lock());
    if (m_stopFlag)
        return;
    std::vector<CDataBlock *> blocks = m_blocks.Items();
    for (size_t step = 0; step < blocks.size(); ++step) {
        m_scanCursor = (m_scanCursor + 1) % blocks.size();
        blocks[m_scanCursor]->PollDue();
    }
}

void CDevice::Send()
{
    if (!IsActive() || !m_channel)
        return;
    std::lock_guard<std::recursive_mutex> guard(m_blocks.Lock());
    if (InterlockedExchange(&m_stopFlag, 0))
        return;
    if (m_inFlight > 0)
        return;
    for (int turn = 0; turn < 2; ++turn) {
        int index = 1 - m_lastQueue;
        m_lastQueue = index;
        CLockedList<CProtocolMsg> &queue = index == 0 ? m_readQueue : m_writeQueue;
        if (queue.GetCount() == 0)
            continue;
        ChannelConnection *record;
        if (!GetResource(&record))
            return;
        CProtocolMsg *msg = queue.RemoveHead();
        if (!msg)
            return;
        if (IMsgBlock *block = msg->GetBlock()) {
            if (block->IsDataMonitorOn())
                block->SendToDataMonitor(reinterpret_cast<const BYTE *>(msg->GetVariableText()),
                                         msg->GetVariableTextLength(), 1);
        }
        BindMessage(msg);
        if (m_recovering)
            msg->SetRetries(0);
        InterlockedIncrement(&m_inFlight);
        // Listed before it is handed over: a completion that comes at once
        // finds it in the active queue when the parse thread wakes.
        m_channel->ActiveQueue().AddTail(msg, false);
        LONG result = g_submit(record->processor, msg);
        if (result == CXActionProcessor::SubmitBusy) {
            // Back to the head: it stays ahead of anything queued after it
            // (an older write never follows a newer one).
            if (TakeOut(m_channel->ActiveQueue(), msg)) {
                ReleaseOutstanding();
                msg->ForgetProcessor();
                PutAtHead(queue, msg);
            }
            LogMessage(SeverityError, "Connection Resource Busy.");
        } else if (result < 0) {
            // Completed as failed: the parse thread hands it to its block and
            // counts it down, once.
            m_channel->WakeParseThread();
        }
        return;
    }
}
