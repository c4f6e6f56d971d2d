// A channel: the devices that share one S7 communication processor (CP)
// and VFD, with an optional backup CP and VFD.
#pragma once
#include "ConfigObject.h"
#include "Device.h"
#include "LockedList.h"
#include <condition_variable>

class CXActionProcessor;
class CProtocolMsg;
class IMsgBlock;
class IMsgDevice;

// One of a channel's two CP/VFD pairs and the transaction processor that
// serves it, shared by the devices that hold the record.
struct ChannelConnection {
    std::string cpName;     // at most 130 characters
    std::string vfdName;    // at most 34 characters
    CXActionProcessor *processor = nullptr;
    LONG users = 0;         // devices holding this record
    LONG state = 0;         // 1 once the processor opened the VFD
    LONG activeResources = 0;
    std::mutex lock;
};

// Deletes a processor on a short-lived thread (stopping it may wait for its
// threads); the driver's pending-destroy count covers the thread's life.
void DeferProcessorDestroy(CXActionProcessor *processor);
// Processor deletions still running on their threads, process-wide.
LONG PendingProcessorDestroys();

class CChannel : public CConfigObject {
    QOR_DECLARE_SERIAL(CChannel)
public:
    // The object's own fields in the configuration file (children are
    // written by the document, each after its parent).
    void Serialize(CArchive &archive) override;
    // Created by class (configuration load): no defaults, no default name.
    CChannel();
    // withDefaults: a client's new channel, with registry defaults and a
    // default name. withThreads: false for prototype objects, which can
    // never be enabled.
    CChannel(bool withDefaults, bool withThreads = true);
    ~CChannel() override;

    const CPropertyTable &Properties() const override;
    void ResetCounter(PropertyId id) override;

    // Enable: CFG_E_NO_THREADS without worker threads; already enabled
    // answers 0 silently. log: post the enable/disable lines.
    LONG Enable(bool log);
    LONG Disable(bool log, int stopKind = 0);
    // From the driver's start: every device back to its primary
    // connection, every block's schedule reset.
    void Start();
    // Takes every request out of the active and parse queues (aborting the
    // active ones), then stops every device with the stop kind.
    void Stop(int stopKind);
    // Forced poll of every enabled device; stops at the first negative result.
    LONG Poll();
    bool IsEnabled() const { return m_enabled; }
    bool IsThreaded() const { return m_threaded; }

    ChannelConnection &Primary() { return m_primary; }
    ChannelConnection &Backup() { return m_backup; }
    int DeviceScanPriority() const { return m_deviceScanPriority; }
    int MessageParsePriority() const { return m_messageParsePriority; }
    void SetThreadPriorities(int deviceScan, int messageParse);

    // Requests handed to a connection resource and not yet completed, and
    // completed ones waiting for their block.
    CLockedList<CProtocolMsg> &ActiveQueue() { return m_activeQueue; }
    CLockedList<CProtocolMsg> &ParseQueue() { return m_parseQueue; }
    // The message-parse thread's wake event: every processor of the channel
    // signals it on completion, and devices after a refused send.
    HANDLE WakeEvent() const { return m_wakeEvent; }
    void WakeParseThread();
    // A write was queued: the device scan sends it now, not at its next tick.
    void WakeScanThread();
    // Takes the requests of one block (null: of every block) out of the
    // active queue, the parse queue or both: active ones are aborted at
    // their connection resource first; each goes back to its block.
    // Answers the number removed.
    int RemoveBlockRequests(const IMsgBlock *block, bool active = true, bool parse = true);
    // Returns once the parse thread is not handing a message to block (a
    // block about to be deleted); the caller must not hold the block's lock.
    void WaitUntilNotParsing(const CDataBlock *block);
    // The same for every request of one device.
    int RemoveDeviceRequests(const IMsgDevice *device);

    // A device takes a hold on a connection record; the first hold creates
    // the record's processor and opens the VFD. True when the record's VFD
    // is open (state 1).
    bool HoldRecord(ChannelConnection &record);
    // Creates the processor when missing and opens the VFD unless open.
    bool OpenRecord(ChannelConnection &record);
    // Gives a hold up: the processor forgets the connection name; the last
    // user's release stops and deletes the processor on another thread.
    void ReleaseRecord(ChannelConnection &record, const std::string &connName);

    // One pass of the device-scan thread over the devices (connection
    // handling, block scan, send), and one round of the message-parse
    // thread (collect completed requests, then hand them to their blocks).
    // The threads call these; tests may too.
    void ScanDevices();
    void ParseCompleted();

    LONG AddDevice(CDevice *device);
    LONG RemoveDevice(CObject *device);
    LONG GetDevices(SAFEARRAY *handles, SAFEARRAY *names);
    std::vector<CDevice *> Devices() const;

    // A count or the sum of a counter over its devices.
    LONG Sum(PropertyId id) const;

    // The process-wide counter of default channel names.
    static long &NameCounter();

protected:
    LONG GetValue(const PropertyInfo &info, VARIANT *value) override;
    LONG SetValue(const PropertyInfo &info, const VARIANT &value) override;

private:
    static DWORD WINAPI DeviceScanThread(void *self);
    static DWORD WINAPI MessageParseThread(void *self);
    void StartThreads();
    void StopThreads();
    int RemoveRequests(int (*predicate)(CProtocolMsg *, void *), void *argument, bool active, bool parse);

    LONG SetCpName(ChannelConnection &record, const VARIANT &value);
    LONG SetVfdName(ChannelConnection &record, const VARIANT &value);

    CChildList<CDevice> m_devices;
    ChannelConnection m_primary, m_backup;
    volatile bool m_enabled = false;
    bool m_threaded = false;
    CLockedList<CProtocolMsg> m_activeQueue, m_parseQueue;
    // The block the parse thread is handing a message to, so that a block
    // is never deleted under it.
    std::mutex m_parseLock;
    std::condition_variable m_parseDone;
    const CDataBlock *m_parsing = nullptr;
    HANDLE m_wakeEvent = nullptr, m_stopEvent = nullptr, m_scanWakeEvent = nullptr;
    HANDLE m_scanThread = nullptr, m_parseThread = nullptr;
    DWORD m_parseThreadId = 0;
    volatile LONG m_stop = 0;
    int m_deviceScanPriority = 8;     // 8: leave the thread's priority as it is
    int m_messageParsePriority = 8;
};
