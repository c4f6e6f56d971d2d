// A device: one S7 controller reached over a named S7 connection of its
// channel's VFD, with an optional backup connection.
#pragma once
#include "ConfigObject.h"
#include "DataBlock.h"
#include "LockedList.h"

class CProtocolMsg;
class IMsgBlock;

class CChannel;
struct ChannelConnection;

struct DeviceConnection {
    std::string name;             // at most 34 characters
    LONG retries = 3;             // 0 to 9
    uint32_t replyTimeout = 10000; // 1000 to 604799999 ms
    uint32_t delay = 10000;       // 0 to 604799999 ms
};

class CDevice : public CConfigObject {
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
    // Stops every block with the stop kind (the queues join later).
    void Stop(int stopKind);
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
    const ChannelConnection *ChannelRecordInUse() const;

    CChannel *m_channel = nullptr;
    CChildList<CDataBlock> m_blocks;
    DeviceConnection m_primary, m_backup;
    bool m_usingPrimary = true;
    std::string m_nameInUse;
    bool m_holdsRecord = false;     // holds a channel connection record
    bool m_enabled = false;
    uint32_t m_reference = 0;
    volatile LONG m_msgRetryCount = 0, m_msgTimeoutCount = 0;
    CLockedList<CProtocolMsg> m_readQueue, m_writeQueue;
};
