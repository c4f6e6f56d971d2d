// A data block: one contiguous range of one S7 memory area, read on a
// schedule and published to the HMI. Here: its settings, address rules,
// statistics and the schedule fields that the poll scheduler works on.
#pragma once
#include "ConfigObject.h"
#include "S7Types.h"

class CDevice;

class CDataBlock : public CConfigObject {
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

    CDevice *Device() const { return m_device; }
    const S7Address &Address() const { return m_address; }
    // Area in bits 28-31, data-block number in 15-27, start in 0-14.
    uint32_t InternalAddress() const { return m_internalAddress; }
    static uint32_t InternalAddressOf(const S7Address &address);
    unsigned BytesInUse() const;

    uint32_t PrimaryPollTime() const { return m_primaryPoll; }
    uint32_t SecondaryPollTime() const { return m_secondaryPoll; }
    uint32_t Phase() const { return m_phase; }
    uint32_t AccessTime() const { return m_accessTime; }
    float DeadBand() const { return m_deadBand; }
    bool ReadMessageBuilt() const { return m_readBuilt; }
    void SetStatus(uint16_t status) { m_status = status; }
    uint16_t Status() const { return m_status; }

    // Schedule (tick counts): poll window [T0, T1), access window [A0, A1].
    struct Schedule { uint32_t t0, t1, a0, a1; };
    Schedule GetSchedule() const { return m_schedule; }
    void SetSchedule(const Schedule &s) { m_schedule = s; }

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
    void ResetSchedule();
    void ClearErrorDetails();

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
    LONG m_blockWritesPending = 0;
    LONG m_msgTransmit = 0, m_msgReceive = 0, m_msgTimeout = 0, m_msgRetry = 0, m_msgError = 0;
    LONG m_pollOverrun = 0, m_lastError = 0;
    FILETIME m_readTime{}, m_writeTime{}, m_errorTime{};
    LONG m_sapiReturnCode = 0, m_sapiIecErrorNo = 0, m_sapiDetailedErrorNo = 0;
    std::string m_sapiIecErrorMsg, m_sapiDetailedErrorMsg;
    mutable std::recursive_mutex m_lock;
};
