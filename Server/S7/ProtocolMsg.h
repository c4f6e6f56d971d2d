// The message objects through which a data block talks to its controller:
// the block's read (or single write) message, the block-write message that
// carries one output record, the hand-backs that the device and channel
// queues apply to messages they take out, and the frame checksums.
#pragma once
#include "XAction.h"
#include "StoreRecords.h"
#include <string>

class CXActionProcessor;
class CProtocolMsg;

// What a message needs of its device (the device object implements it).
class IMsgDevice {
public:
    virtual void AddMsgRetry() = 0;           // "MsgRetryCount"
    virtual void AddMsgTimeout() = 0;         // "MsgTimeoutCount"
    virtual void SetCommFailed(bool failed) = 0;
    // Interlocked: one message fewer outstanding on the device.
    virtual void ReleaseOutstanding() = 0;
protected:
    ~IMsgDevice() = default;
};

// What a message needs of its data block (the data block implements it).
class IMsgBlock {
public:
    virtual IMsgDevice *GetMsgDevice() = 0;   // may be null
    virtual void AddMsgRetry() = 0;
    virtual void AddMsgTimeout() = 0;
    // The block takes its message back (and owns it again).
    virtual void TakeBackMsg(CProtocolMsg *msg) = 0;
    virtual bool IsDataMonitorOn() = 0;
    // A frame of this block's traffic: direction 1 sent, 0 received.
    virtual void SendToDataMonitor(const BYTE *data, DWORD length, int direction) = 0;
protected:
    ~IMsgBlock() = default;
};

class CProtocolMsg : public CXAction {
public:
    explicit CProtocolMsg(IMsgBlock *block = nullptr);
    ~CProtocolMsg() override;

    IMsgBlock *GetBlock() const { return m_block; }
    void SetBlock(IMsgBlock *block) { m_block = block; }

    // Remembers the processor and submits the message to it.
    LONG Submit(CXActionProcessor *processor);
    CXActionProcessor *GetProcessor() const { return m_processor; }
    void ForgetProcessor() { m_processor = nullptr; }

    // Completion state 2 with sub-status 0, 1 or 2.
    bool Succeeded() const;
    // True when the outcome is known: *success from sub-status 1 (true), or
    // a timeout or a fatal error record (false). A non-fatal error is not known.
    bool Outcome(bool *success) const;
    bool BelongsToDevice(const IMsgDevice *device) const;

    void OnRetry() override;
    void OnTimeout() override;

    // Filled in by the device before it sends the message.
    std::string m_cpName, m_vfdName, m_connName;
    LONG m_flag = 0;
    LONG m_counter = 0;
    LONG m_subCounter = 0;
    // Nonzero: the block takes it over as its last result.
    LONG m_result = 0;

private:
    IMsgBlock *m_block;
    CXActionProcessor *m_processor = nullptr;
};

// One output record for a block write.
class CBlockWriteMsg {
public:
    CBlockWriteMsg();
    OutputRecord m_record;
};

// Completion hand-backs, applied to each message taken out of a queue.
// Every one of them copes with a message that has no block.
void MsgDone(CProtocolMsg *msg);
void MsgCancel(CProtocolMsg *msg);
void MsgHandBack(CProtocolMsg *msg);
void MsgHandBackWithoutCount(CProtocolMsg *msg);

enum ChecksumKind { ChecksumCrc16 = 0, ChecksumAdditive = 1 };
// kind 0: CRC-16 with the reflected polynomial 0xA001 from *sum; kind 1: the
// 8-bit additive sum in the low byte of *sum. False for another kind.
bool Checksum(const BYTE *data, DWORD length, uint16_t *sum, int kind);
