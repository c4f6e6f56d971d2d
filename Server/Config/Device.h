// A device: one S7 controller reached over a named S7 connection of its
// channel's VFD, with an optional backup connection.
#pragma once
#include "ConfigObject.h"
#include "DataBlock.h"
#include "LockedList.h"
#include "ProtocolMsg.h"

class CChannel;
struct ChannelConnection;

// How a device hands a request to its channel record's processor; tests
// install their own (null restores the processor's Submit).
using DeviceSubmitFn = LONG (*)(CXActionProcessor *processor, CProtocolMsg *msg);
void SetDeviceSubmit(DeviceSubmitFn submit);

struct DeviceConnection {
    std::string name;             // at most 34 characters
    LONG retries = 3;             // 0 to 9
    uint32_t replyTimeout = 10000; // 1000 to 604799999 ms
    uint32_t delay = 10000;       // 0 to 604799999 ms
};

class CDevice : public CConfigObject, public IMsgDevice {
    QOR_DECLARE_SERIAL(CDevice)
public:
    // The object's own fields in the configuration file (children are
    // written by the document, each after its parent).
    void Serialize(CArchive &archive) override;
    CDevice();
    explicit CDevice(bool withDefaults);
    ~CDevice() override;

    const CPropertyTable &Properties() const override;
    void ResetCounter(PropertyId id) override;

    LONG Enable(bool log);
    LONG Disable(bool log, int stopKind = 0);
    // From the driver's start: clears the stop and failure state, asks for
    // the primary connection without a message, resets every block's schedule.
    void Start();
    // Empties both queues, stops every block with the stop kind, takes the
    // device's requests out of the channel's queues and gives up the
    // channel connection record.
    void Stop(int stopKind);
    // Forced poll of every block; stops at the first negative result.
    LONG Poll();
    // Automation Switch: to the other connection at the next scan pass.
    LONG RequestSwitch();

    // Switch request word: low two bits 1 primary, 2 backup, 3 the other
    // one; SwitchQuiet posts no switch line.
    enum : uint32_t { SwitchPrimary = 1, SwitchBackup = 2, SwitchOther = 3, SwitchQuiet = 0x80000000u };
    void SetSwitchRequest(uint32_t request) { InterlockedExchange(&m_switchRequest, LONG(request)); }

    // The three steps of a device-scan pass of the channel's thread.
    void HandleConnection();
    void ScanBlocks();
    void Send();

    // IMsgDevice: the requests' counts, the connection state that a
    // completed request reports, and one request fewer in flight (never
    // below zero).
    void AddMsgRetry() override { CountRetry(); }
    void AddMsgTimeout() override { CountTimeout(); }
    void SetCommFailed(bool failed) override;
    void ReleaseOutstanding() override;

    LONG InFlight() const { return m_inFlight; }
    bool ConnectionFailed() const { return m_commFailed != 0; }
    bool Recovering() const { return m_recovering != 0; }
    // The channel record the device holds, or null.
    ChannelConnection *HeldRecord() const { return m_record; }
    bool IsEnabled() const { return m_enabled; }
    // Enabled, and its channel enabled.
    bool IsActive() const;

    CChannel *Channel() const { return m_channel; }
    const DeviceConnection &Primary() const { return m_primary; }
    const DeviceConnection &Backup() const { return m_backup; }
    bool IsUsingPrimary() const { return m_usingPrimary; }
    // The connection in use: after a switch to the backup (the connection
    // layer decides when), or back to the primary.
    void SetUsingPrimary(bool primary);
    const DeviceConnection &InUse() const { return m_usingPrimary ? m_primary : m_backup; }

    // Reference value stored in the configuration: CRC-16 of the name in
    // the high word, a time stamp in the low word.
    uint32_t Reference() const { return m_reference; }
    void SetReference(uint32_t reference) { m_reference = reference; }

    // CFG_E_BLOCK_COLLIDES for a block of the same name, or of the same area
    // and data-block number with an overlapping range (both with a length).
    LONG AddDataBlock(CDataBlock *block);
    LONG RemoveDataBlock(CObject *block);
    LONG GetDataBlocks(SAFEARRAY *handles, SAFEARRAY *names);
    std::vector<CDataBlock *> DataBlocks() const;
    // The block of this device (other than skip) whose range collides.
    CDataBlock *FindOverlap(uint16_t area, uint16_t dbNumber, unsigned start, unsigned length,
                            const CDataBlock *skip) const;

    // The messages waiting to be sent, reads and writes; the channel's
    // device-scan thread sends them, one request in flight per device.
    CLockedList<CProtocolMsg> &ReadQueue() { return m_readQueue; }
    CLockedList<CProtocolMsg> &WriteQueue() { return m_writeQueue; }
    // Binds a message to the connection in use: the channel record's CP and
    // VFD, the device connection's name, timeout and retries.
    void BindMessage(CProtocolMsg *msg) const;
    // Takes a block's messages out of both queues (the block is being
    // disabled or destroyed); answers how many were removed. The messages
    // stay the block's.
    int RemoveBlockMessages(const IMsgBlock *block);

    // The device's own counts, raised by its requests.
    void CountRetry() { InterlockedIncrement(&m_msgRetryCount); }
    void CountTimeout() { InterlockedIncrement(&m_msgTimeoutCount); }

    // A count or the sum of a counter over its blocks (its own retry and
    // timeout counts).
    LONG Sum(PropertyId id) const;

    static long &NameCounter();
    static uint16_t Crc16(const std::string &text);

private:
    friend class CChannel;
    LONG GetValue(const PropertyInfo &info, VARIANT *value) override;
    LONG SetValue(const PropertyInfo &info, const VARIANT &value) override;
    LONG SetConnName(DeviceConnection &record, const VARIANT &value);
    // The channel record for the connection in use: the backup record when
    // the backup connection is in use and the channel has a backup CP and VFD.
    ChannelConnection *ChannelRecordInUse() const;
    // Holds the record for the connection in use; false (and the failure
    // flag set) when its VFD is not open.
    bool GetResource(ChannelConnection **record);
    void StopQueues(int stopKind);
    void ReleaseHold();

    CChannel *m_channel = nullptr;
    CChildList<CDataBlock> m_blocks;
    DeviceConnection m_primary, m_backup;
    bool m_usingPrimary = true;
    std::string m_nameInUse;
    ChannelConnection *m_record = nullptr;   // the channel record held
    std::string m_heldConnName;              // the connection name it serves
    volatile bool m_enabled = false;
    volatile LONG m_switchRequest = 0;
    volatile LONG m_commFailed = 0, m_recovering = 0, m_stopFlag = 0;
    volatile LONG m_inFlight = 0;
    int m_lastQueue = 1;                     // 0 read, 1 write: reads go first
    size_t m_scanCursor = 0;
    uint32_t m_reference = 0;
    volatile LONG m_msgRetryCount = 0, m_msgTimeoutCount = 0;
    CLockedList<CProtocolMsg> m_readQueue, m_writeQueue;
};
