// One S7 request: a read or a write of one variable over one connection,
// with its completion state, retries, timeout and timing. The data block's
// message classes derive from it. State fields change only by interlocked
// exchange because the block reads them from its own thread.
#pragma once
#include "S7Error.h"
#include <stdint.h>

class CXAction {
public:
    enum Kind : LONG { KindReadWrite = 0, KindConnectionStatus = 1, KindConnectionState = 2 };
    enum State : LONG { StateNew = 0, StateStarted = 1, StateCompleted = 2, StateTimedOut = 3, StateFailed = 4 };
    enum SubStatus : LONG { SubNone = 0, SubSuccess = 1, SubCancelled = 2, SubError = 3, SubInProgress = 4 };
    enum Direction : LONG { DirectionRead = 1, DirectionWrite = 2 };
    enum { DataSize = 512, VarTextSize = 34, DefaultRetries = 3, DefaultTimeoutMs = 3000 };

    CXAction();
    virtual ~CXAction();
    CXAction(const CXAction &) = delete;
    CXAction &operator=(const CXAction &) = delete;

    // Settings; each is refused (false) once the request has started.
    bool SetConnectionReference(DWORD connRef);
    bool SetConnectionName(const char *name);
    bool SetCompletionValue(LONG value);
    bool SetErrorRecord(const S7ErrorRecord &record);
    bool SetRetries(LONG retries);
    bool SetTimeout(DWORD timeoutMs);

    WORD GetOrderId() const { return static_cast<WORD>(m_orderId); }
    LONG GetKind() const { return m_kind; }
    LONG GetState() const { return m_state; }
    LONG GetSubStatus() const { return m_subStatus; }
    bool HasConnectionReference() const { return m_connRefKnown; }
    DWORD GetConnectionReference() const { return m_connRef; }
    bool HasConnectionName() const { return m_connNameKnown; }
    const char *GetConnectionName() const { return m_connName; }
    bool HasCompletionValue() const { return m_completionKnown; }
    LONG GetCompletionValue() const { return m_completionValue; }
    LONG GetRetries() const { return m_retries; }
    DWORD GetTimeout() const { return m_timeoutMs; }

    // State 1 from 0 starts the micro timer; sub-status, then state, are
    // stored by interlocked exchange; states 2 to 4 stop the timer.
    void Complete(LONG state, LONG subStatus);
    // Microseconds from the first start to completion.
    ULONGLONG GetDurationMicroseconds() const { return m_durationUs; }

    // The data part.
    LONG GetDirection() const { return m_direction; }
    void SetDirection(LONG direction) { InterlockedExchange(&m_direction, direction); }
    const S7ErrorRecord &GetError() const { return m_error; }
    void StoreError(const S7ErrorRecord &record) { m_error = record; }
    bool SetWriteData(const void *data, DWORD length);
    const BYTE *GetWriteData() const { return m_writeData; }
    DWORD GetWriteLength() const { return m_writeLength; }
    bool SetReceivedData(const void *data, DWORD length);
    const BYTE *GetReceivedData() const { return m_received; }
    DWORD GetReceivedLength() const { return m_receivedLength; }
    // At most 33 characters fit; the library takes at most 32.
    bool SetVariableText(const char *text);
    const char *GetVariableText() const { return m_varText; }
    DWORD GetVariableTextLength() const { return m_varTextLength; }
    void SetSendTime(LONGLONG t) { m_sendTime = t; }
    LONGLONG GetSendTime() const { return m_sendTime; }
    void SetRoundTrip(LONGLONG t) { m_roundTrip = t; }
    LONGLONG GetRoundTrip() const { return m_roundTrip; }

    // Kept from timing out while set (the caller holds the request).
    void SetHold(bool hold) { InterlockedExchange(&m_hold, hold ? 1 : 0); }
    bool IsHeld() const { return m_hold != 0; }

    // Used by the processor and the connection resource.
    void SetKind(LONG kind) { InterlockedExchange(&m_kind, kind); }
    void SetOrderId(WORD id) { InterlockedExchange(&m_orderId, id); }
    LONG m_retriesLeft = 0;        // of the current cycle
    LONG m_timeLeftMs = 0;         // of the current try

    // Notices, in slot order: a plain one, then retry and timeout, which
    // the data block's message overrides.
    virtual void OnNotice() {}
    virtual void OnRetry() {}
    virtual void OnTimeout() {}

private:
    bool IsNew() const { return m_state == StateNew; }

    volatile LONG m_kind = KindReadWrite;
    volatile LONG m_state = StateNew;
    volatile LONG m_subStatus = SubNone;
    volatile LONG m_orderId = 0;
    DWORD m_connRef = 0;
    bool m_connRefKnown = false;
    char m_connName[VarTextSize + 1] = "";
    bool m_connNameKnown = false;
    LONG m_retries = DefaultRetries;
    DWORD m_timeoutMs = DefaultTimeoutMs;
    LONG m_completionValue = 0;
    bool m_completionKnown = false;
    volatile LONG m_hold = 0;
    LONGLONG m_startCounter = 0;
    ULONGLONG m_durationUs = 0;

    volatile LONG m_direction = DirectionRead;
    S7ErrorRecord m_error{};
    BYTE m_writeData[DataSize] = {};
    DWORD m_writeLength = 0;
    BYTE m_received[DataSize] = {};
    DWORD m_receivedLength = 0;
    char m_varText[VarTextSize] = "";
    DWORD m_varTextLength = 0;
    LONGLONG m_sendTime = 0;
    LONGLONG m_roundTrip = 0;
};

// The performance-counter frequency (counts per second), 0 when the
// platform has none.
LONGLONG S7PerformanceFrequency();
