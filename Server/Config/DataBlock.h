// A data block: one contiguous range of one S7 memory area, read on a
// schedule and published to the HMI. Here: its settings, address rules,
// statistics and the schedule fields that the poll scheduler works on.
#pragma once
#include "ConfigObject.h"
#include "ProtocolMsg.h"
#include "S7Types.h"
#include <list>
#include <vector>

class CDevice;

// The tick count (ms) that schedules and access windows run on; tests
// install their own clock (null restores the system's).
using DataBlockTickFn = uint32_t (*)();
void SetDataBlockTickSource(DataBlockTickFn tick);
uint32_t DataBlockTicks();
// Tests only: with every set, the scheduler reads the HMI-access flag and
// the status on every pass, also where it otherwise skips them.
void SetSchedulerReadsEveryPass(bool every);

// One point the HMI asked to be told about (24 bytes, kept sorted by
// ascending address word).
struct ExceptionRegistration {
    uint32_t address;     // area << 28 | data-block number << 15 | start
    uint32_t internal;    // for a data address the bit number (bits 0-3)
    uint8_t tag;
    uint16_t id;
    uint32_t changed;     // set by the deadband rule, cleared when reported
    uint8_t kind;         // 1 analog value, 2 digital bit
    uint32_t hmiValue;    // the HMI's own value, kept only
};
static_assert(sizeof(ExceptionRegistration) == 24, "ExceptionRegistration is 24 bytes");

// The block's shared-memory image.
enum : unsigned short {
    kImageDataBytes = 250, kImageTimeOffset = 250, kImageTypeOffset = 258, kImageSize = 260,
};

class CDataBlock : public CConfigObject, public IMsgBlock {
    QOR_DECLARE_SERIAL(CDataBlock)
public:
    // The object's own fields in the configuration file (children are
    // written by the document, each after its parent).
    void Serialize(CArchive &archive) override;
    CDataBlock();
    // withDefaults: registry defaults; withName: a default name too (a
    // client's new block; temporary blocks get none).
    CDataBlock(bool withDefaults, bool withName);
    ~CDataBlock() override;

    const CPropertyTable &Properties() const override;
    void ResetCounter(PropertyId id) override;

    // E_FAIL when the block is invalid or has no length.
    LONG Enable(bool log);
    // stopKind 1: a connection switch (keeps the last value's quality).
    LONG Disable(bool log, int stopKind = 0);
    // The status a stop leaves: low byte 0x00; with stopKind 1 (connection
    // switch) 0x14 with LatchData on, else the old byte without quality and
    // limit bits. The high byte stays.
    void Stop(int stopKind);
    bool IsEnabled() const { return m_enabled; }
    // False when its shared-memory block could not be made; never enables.
    bool IsValid() const { return m_valid; }
    void SetValid(bool valid) { m_valid = valid; }

    // Runs the scheduler (device-scan thread); true when a read was queued
    // on the device's read queue.
    bool PollDue();
    // A read at once unless one is outstanding; E_FAIL when disabled.
    LONG Poll();
    // A completed request of this block (message-parse thread).
    void ProcessReply(CProtocolMsg *msg);
    // A failed request; null: a failure without one (lost connection).
    void ProcessFailure(CProtocolMsg *msg);

    // Sends the pending block writes as one write (the scheduler does it
    // instead of a poll once "SendBlockWrites" was written); true when sent.
    bool SendPendingBlockWrites();

    // One write from the output queue: a pending block write when block
    // writes are on, else a single write on the device's write queue. 0 when
    // consumed (also when nothing is to be sent), else the build error.
    LONG WriteOutput(const OutputRecord &record);
    // Automation write of one value at element first (see BlockWrite.cpp):
    // 1 when refused, else the result of the write.
    LONG WriteData(LONG first, LONG bit, unsigned sigCond, float high, float low, const VARIANT &value);
    size_t PendingBlockWrites() const;
    // "Message build error for datablock %s:  error = 0x%08lX" at debug 2.
    static void PostBuildLine(const std::string &name, LONG code);
    bool BlockWritesEnabled() const { return m_blockWrites; }
    // The output record of an automation write (kind, value bytes and
    // length by the VARIANT type; conditioned where the type asks for it);
    // 1 when the value's type does not fit the block's data type.
    LONG FormWriteRecord(LONG first, LONG bit, unsigned sigCond, float high, float low, const VARIANT &value,
                         OutputRecord *record);

    // The output thread's hold on the blocks: while a holder lives no block
    // is destroyed, and FromHandle finds only blocks that are not going.
    class UseLock {
    public:
        UseLock();
        ~UseLock();
        UseLock(const UseLock &) = delete;
        UseLock &operator=(const UseLock &) = delete;
    };
    // The live block of the tree (one with a device) with this handle, or
    // null; only under a UseLock.
    static CDataBlock *FromHandle(uint32_t handle);

    // Exception points of the HMI. Add inserts before the first record whose
    // address word is not smaller; Remove takes the first equal record.
    LONG AddRegistration(uint32_t address, uint32_t internal, uint8_t tag, uint16_t id, uint8_t kind,
                         uint32_t hmiValue);
    LONG RemoveRegistration(uint32_t address, uint32_t internal, uint8_t tag, uint16_t id, uint8_t kind);
    std::vector<ExceptionRegistration> Registrations() const;

    // Automation read of count elements from first (see the .cpp for the
    // rules); answers 1 when there is no data. The three arrays are
    // VT_ARRAY | VT_VARIANT: read times, status words, values.
    LONG ReadData(VARTYPE wanted, LONG first, LONG bit, LONG count, unsigned sigCond, float high,
                  float low, VARIANT *times, VARIANT *statuses, VARIANT *values);
    // A VT_UI1 array of the bytes in use, copied from the image.
    HRESULT GetRawDataBlockContent(VARIANT *bytes);

    // The block's entry in the store.
    unsigned short StoreIndex() const { return m_index; }
    bool IsReadOutstanding() const { return m_outstanding; }
    CProtocolMsg *ReadMessage() const { return m_readMsg; }

    // IMsgBlock
    IMsgDevice *GetMsgDevice() override;
    void AddMsgRetry() override;
    void AddMsgTimeout() override;
    void TakeBackMsg(CProtocolMsg *msg) override;
    bool IsDataMonitorOn() override { return m_tracewellOn; }
    void SendToDataMonitor(const BYTE *data, DWORD length, int direction) override;

    CDevice *Device() const { return m_device; }
    const S7Address &Address() const { return m_address; }
    // Area in bits 28-31, data-block number in 15-27, start in 0-14.
    uint32_t InternalAddress() const { return m_internalAddress; }
    unsigned BytesInUse() const;

    uint32_t PrimaryPollTime() const { return m_primaryPoll; }
    uint32_t SecondaryPollTime() const { return m_secondaryPoll; }
    uint32_t Phase() const { return m_phase; }
    uint32_t AccessTime() const { return m_accessTime; }
    float DeadBand() const { return m_deadBand; }
    bool ReadMessageBuilt() const { return m_readBuilt; }
    // The whole status word, here and in the store.
    void SetStatus(uint16_t status);
    uint16_t Status() const { return m_status; }

    // Schedule (tick counts): poll window [T0, T1), access window [A0, A1].
    struct Schedule { uint32_t t0, t1, a0, a1; };
    Schedule GetSchedule() const { return m_schedule; }
    void SetSchedule(const Schedule &s) { m_schedule = s; }
    // Waiting for the first scan again (T0 = T1 = 0), access window from now.
    void ResetSchedule();

    // Raises a statistics counter (the request path counts here).
    void CountMessage(PropertyId counter);
    // A statistics counter by its property id (0 for others).
    LONG Counter(PropertyId id) const;

    static long &NameCounter();

private:
    friend class CDevice;
    LONG GetValue(const PropertyInfo &info, VARIANT *value) override;
    LONG SetValue(const PropertyInfo &info, const VARIANT &value) override;
    void ApplyDefaults();
    // StartAddress / EndAddress / Length / DataType: the checked change of
    // the address as a whole, applied with the block disabled.
    LONG SetAddressText(const VARIANT &value, bool end);
    LONG SetLength(LONG length);
    LONG SetDataType(SHORT type);
    // Fits the type to the area, rounds the length up to whole elements and
    // checks the limits and the other blocks before applying.
    LONG CheckAndApply(S7Address candidate, unsigned length);
    void ApplyAddress(const S7Address &address);
    void ClearAddress();
    void ClearErrorDetails();
    // Run-time parts.
    bool RunScheduler(bool forced);
    // True when this pass at now cannot poll, whatever the store holds.
    bool QuietPass(uint32_t now) const;
    LONG BuildReadMessage();
    void ResetReadMessage();
    // Sets the status low byte here and in the store, keeping the stored
    // high byte; answers the word as it was.
    uint16_t WriteStatus(uint8_t low);
    void ReportStatusChange();
    void PostCommLine(bool failed);
    // The status and line of a failure; true when the line was posted.
    bool FailStatus();
    void FailureWithoutRequest();
    void ApplyDeadband(const unsigned char *old, unsigned char *work, unsigned bytes);
    // Bytes in use, internal address and type word into the store.
    void PublishAddress();
    // Writes.
    LONG SingleWrite(const OutputRecord &record);
    LONG QueueBlockWrite(const OutputRecord &record);
    void ClearPendingWrites();
    // Takes this block's unsent writes off the device's write queue and frees them.
    void DropQueuedWrites();
    bool IsActive() const;
    static void TrackLive(CDataBlock *block, bool live);

    CDevice *m_device = nullptr;
    bool m_valid = true;
    bool m_enabled = false;
    S7Address m_address;
    uint32_t m_internalAddress = 0;
    uint32_t m_primaryPoll = 1000;
    uint32_t m_secondaryPoll = uint32_t(-1);
    uint32_t m_phase = 0;
    uint32_t m_accessTime = 300000;
    float m_deadBand = 1.0f;
    bool m_latchData = false, m_outputDisabled = false, m_blockWrites = false;
    bool m_tracewellOn = false, m_sendBlockWrites = false;
    bool m_readBuilt = false;
    uint16_t m_status = 0;
    Schedule m_schedule{0, 0, 0, 0};
    LONG m_msgTransmit = 0, m_msgReceive = 0, m_msgTimeout = 0, m_msgRetry = 0, m_msgError = 0;
    LONG m_pollOverrun = 0, m_lastError = 0;
    FILETIME m_readTime{}, m_writeTime{}, m_errorTime{};
    LONG m_sapiReturnCode = 0, m_sapiIecErrorNo = 0, m_sapiDetailedErrorNo = 0;
    std::string m_sapiIecErrorMsg, m_sapiDetailedErrorMsg;
    std::string m_sapiAddress;
    unsigned short m_index = 0;
    CProtocolMsg *m_readMsg = nullptr;
    bool m_outstanding = false;
    std::vector<ExceptionRegistration> m_registrations;
    std::list<CBlockWriteMsg *> m_pending;
    mutable std::recursive_mutex m_lock;
};
