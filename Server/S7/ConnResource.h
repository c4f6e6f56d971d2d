// Connection resources: one per S7 connection in use, binding a connection
// object to its processor and carrying at most one request at a time; and
// the processor's list of them with per-thread lock counting.
#pragma once
#include "QorVfd.h"
#include "XAction.h"
#include <string>

// What a resource needs of its processor.
class IResourceOwner {
public:
    virtual WORD NextOrderId() = 0;
    virtual HRESULT SignalCompletion() = 0;
protected:
    ~IResourceOwner() = default;
};

// Results of starting and sending.
enum : LONG {
    RES_OK = 0,
    RES_BUSY = -2,          // a request is already on the resource (nothing started)
    RES_UNUSABLE = -3,      // no processor, or no usable connection
    RES_PENDING = -5,       // the connection is coming up; sent once it is
    RES_SEND_FAILED = -6,
};

class CConnectionResource : public IS7EventTarget {
public:
    enum Coarse : WORD { CoarseIdle = 1, CoarseBusy = 2 };
    enum Detail : WORD {
        DetailInitial = 2, DetailConnecting = 3, DetailSent = 4, DetailCompleted = 5, DetailNoProcessor = 6,
        DetailSendFailed = 7, DetailBroken = 8, DetailClosed = 9, DetailFailed = 10,
        DetailRetriesExhausted = 13, DetailOutOfOrder = 14,
    };

    CConnectionResource(IResourceOwner *owner, CQORVFD *vfd, const char *connName);
    virtual ~CConnectionResource();
    CConnectionResource(const CConnectionResource &) = delete;
    CConnectionResource &operator=(const CConnectionResource &) = delete;

    // Looks up the connection's reference and initiates it.
    HRESULT OpenConnection(S7ErrorRecord *error);
    // RES_OK or RES_PENDING when taken; any other result but RES_BUSY (and
    // RES_UNUSABLE without a processor) completed the request as failed.
    LONG StartRequest(CXAction *request);
    // One timeout tick.
    void Age(DWORD elapsedMs);
    // Receives the VFD's dispatch of one event and completes the request by it.
    HRESULT HandleEvent(DWORD connRef, WORD orderId, int eventCode);
    // Aborts the connection and cancels the request.
    void Close();
    // Forgets the request (completed as cancelled) when it has that order id
    // (any request when orderId is 0); optionally marks the resource for closing.
    bool Cancel(WORD orderId, bool anyOrderId, bool markForClosing);

    bool IsBusy();                    // coarse state busy, or marked for closing
    bool IsCoarseBusy() const { return m_coarse != CoarseIdle; }
    bool IsMarked() const { return m_marked != 0; }
    void Mark() { InterlockedExchange(&m_marked, 1); }
    WORD GetCoarseState() const { return m_coarse; }
    WORD GetDetailState() const { return m_detail; }
    DWORD GetReference() const { return m_conn->GetReference(); }
    const std::string &GetName() const { return m_name; }
    // True once per request started since the last call: a request that
    // finishes between two timeout ticks still counts as use.
    bool TakeUsed() { return InterlockedExchange(&m_used, 0) != 0; }

    // IS7EventTarget
    CQORCONN *GetConnection() override { return m_conn; }
    CXAction *GetCurrentRequest() override { return m_request; }

    // Confirmations for another order id seen in this process.
    static LONG StaleConfirmations();

private:
    LONG Send(bool mayInitiate);
    void Retry();
    void Finish(LONG state, LONG subStatus, WORD detail);
    void RestartTry();

    IResourceOwner *m_owner;
    CQORVFD *m_vfd;
    CQORCONN *m_conn;
    std::string m_name;
    CXAction *m_request = nullptr;
    volatile WORD m_coarse = CoarseIdle;
    volatile WORD m_detail = DetailInitial;
    volatile LONG m_marked = 0;
    volatile LONG m_used = 0;
    CRITICAL_SECTION m_lock;
};

class CResourceLink {
public:
    CConnectionResource *m_resource = nullptr;
    DWORD m_connRef = 0;
    std::string m_connName;
    LONG m_id = 0;
    CResourceLink *m_prev = nullptr;
    CResourceLink *m_next = nullptr;
    volatile LONG m_lockCount = 0;
    volatile DWORD m_owner = 0;
    // Idle close: the countdown runs only once the resource has been busy.
    LONG m_idleCountdownMs = -1;
    bool m_idleNever = true;
    LONG m_busyTimeMs = 0;
    LONG m_purgeCountdownMs = 0;

    // Only the owning thread; below 0 resets to 0.
    void Unlock();
};

class CResourceList {
public:
    CResourceList();
    ~CResourceList();   // deletes every link and its resource
    // Deletes every link and its resource now (the owner's VFD must outlive them).
    void Clear();
    CResourceList(const CResourceList &) = delete;
    CResourceList &operator=(const CResourceList &) = delete;

    // Recursive per thread; another thread's hold makes it retry every 1 ms
    // and give up (false) after 250 tries.
    bool LockList();
    void UnlockList();
    // A try: false while another thread holds the link.
    bool TryLockLink(CResourceLink *link);

    // Null when the list could not be locked.
    CResourceLink *Add(CConnectionResource *resource, DWORD connRef, const char *connName);
    // false when the list could not be locked; *found is the matching link,
    // locked by this thread (Unlock it), or null.
    bool FindByReference(DWORD connRef, CResourceLink **found);
    bool FindByName(const char *connName, CResourceLink **found);
    // Unlinks the link onto the purge list, whose ageing deletes it later.
    bool Remove(CResourceLink *link);
    // Lowers the purge countdowns; deletes links that ran out and that no
    // thread holds.
    void AgePurgeList(DWORD elapsedMs);
    // Frees whatever the calling thread still holds, with a debug dump.
    void LockCheck();

    // Calls f(link) for each link, with the list locked; false when it could not be.
    template <typename F> bool ForEach(F &&f)
    {
        if (!LockList())
            return false;
        for (CResourceLink *link = m_first, *next; link; link = next) {
            next = link->m_next;
            f(link);
        }
        UnlockList();
        return true;
    }

    LONG GetCount() const { return m_count; }
    LONG GetPurgeCount() const;

private:
    template <typename Match> bool Find(Match &&match, CResourceLink **found);
    void Dump();

    CResourceLink *m_first = nullptr;
    CResourceLink *m_last = nullptr;
    volatile LONG m_count = 0;
    volatile LONG m_lockCount = 0;
    volatile DWORD m_owner = 0;
    CRITICAL_SECTION m_cs;
    LONG m_nextId = 1;
    CResourceLink *m_purge = nullptr;   // singly linked through m_next
};
