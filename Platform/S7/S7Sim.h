// The simulated controller behind the stand-in s732.dll. Each configured
// connection has its own controller whose memory and fault switches live in a
// named shared section, so that a test in this or another process can set the
// controller's memory and make it misbehave while the server talks to it.
//
// Fault counters: 0 off, N > 0 the next N occasions, -1 every occasion.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string>
#include <cstring>

namespace s7sim {

constexpr DWORD kMagic = 0x53375331;   // "S7S1"
constexpr int kDataBlockSlots = 32;     // distinct DB numbers one controller holds
constexpr DWORD kAreaBytes = 32768;     // every area spans the whole start range

enum Area { AreaFlags, AreaInputs, AreaOutputs, AreaCounters, AreaTimers, AreaCount };

struct Shared {
    DWORD magic;
    volatile LONG lock;          // spin lock shared by every process
    volatile LONG configured;    // the configuration file's switches were applied
    DWORD latencyMs;             // delay of every confirmation
    LONG failInitiate;           // negative initiate confirmations
    LONG abortIndication;        // a request is answered by an abort indication
    LONG dropConfirmation;       // a request gets no confirmation at all
    LONG staleConfirmation;      // a confirmation carries an older order id
    LONG errorConfirmation;      // a confirmation fails with the error below
    WORD errorNumber;
    WORD errorClass;
    char errorText1[128];
    char errorText2[128];
    LONG strayNotice;            // events 1 posted ahead of the next confirmation
    LONG strayVfdState;          // events 260 likewise
    LONG suppressNotify;         // while nonzero no message is posted per event
    // What the controller saw, for tests.
    volatile LONG reads, writes, initiates, aborts;
    WORD lastOrderId;
    WORD dbNumber[kDataBlockSlots];   // 0: slot free
    BYTE db[kDataBlockSlots][kAreaBytes];
    BYTE area[AreaCount][kAreaBytes];
};

// The section's name for one connection: only characters that a kernel
// object name takes.
inline std::string SectionName(const char *cp, const char *vfd, const char *conn)
{
    std::string name = "s732sim.";
    for (const char *part : {cp, vfd, conn}) {
        for (const char *p = part; *p; ++p) {
            char c = *p;
            name += (c == '\\' || c == '/' || c == ':' || c == ' ') ? '_' : c;
        }
        name += '.';
    }
    return name;
}

class SharedLock {
public:
    explicit SharedLock(Shared *s) : m_s(s)
    {
        while (InterlockedCompareExchange(&m_s->lock, 1, 0) != 0)
            Sleep(0);
    }
    ~SharedLock() { InterlockedExchange(&m_s->lock, 0); }
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;
private:
    Shared *m_s;
};

// Uses one fault occasion under the section's lock; true when it applies.
inline bool TakeFault(Shared *s, LONG Shared::*counter)
{
    SharedLock lock(s);
    LONG &n = s->*counter;
    if (n < 0)
        return true;
    if (n > 0) {
        --n;
        return true;
    }
    return false;
}

// The memory of one area; a data block gets a slot on first use, null when
// all slots are taken or the number is 0.
inline BYTE *AreaMemory(Shared *s, bool dataBlock, Area area, WORD dbNumber)
{
    if (!dataBlock)
        return area < AreaCount ? s->area[area] : nullptr;
    if (dbNumber == 0)
        return nullptr;
    SharedLock lock(s);
    for (int i = 0; i < kDataBlockSlots; ++i)
        if (s->dbNumber[i] == dbNumber)
            return s->db[i];
    for (int i = 0; i < kDataBlockSlots; ++i)
        if (s->dbNumber[i] == 0) {
            s->dbNumber[i] = dbNumber;
            return s->db[i];
        }
    return nullptr;
}

// A view of one simulated controller, made or opened by name.
class Controller {
public:
    Controller() = default;
    ~Controller() { Close(); }
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // created (out) tells whether this call made the section.
    bool Open(const char *cp, const char *vfd, const char *conn, bool *created = nullptr)
    {
        Close();
        std::string name = SectionName(cp, vfd, conn);
        m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(Shared), name.c_str());
        if (!m_mapping)
            return false;
        bool made = GetLastError() != ERROR_ALREADY_EXISTS;
        m_shared = static_cast<Shared *>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (!m_shared) {
            Close();
            return false;
        }
        InterlockedCompareExchange(reinterpret_cast<volatile LONG *>(&m_shared->magic),
                                   static_cast<LONG>(kMagic), 0);
        if (created)
            *created = made;
        return true;
    }
    void Close()
    {
        if (m_shared)
            UnmapViewOfFile(m_shared);
        if (m_mapping)
            CloseHandle(m_mapping);
        m_shared = nullptr;
        m_mapping = nullptr;
    }
    Shared *operator->() const { return m_shared; }
    Shared *get() const { return m_shared; }

    // Controller memory in the controller's own byte order.
    bool WriteDb(WORD db, DWORD offset, const void *data, DWORD length)
    {
        return Copy(AreaMemory(m_shared, true, AreaFlags, db), offset, data, length, true);
    }
    bool ReadDb(WORD db, DWORD offset, void *data, DWORD length)
    {
        return Copy(AreaMemory(m_shared, true, AreaFlags, db), offset, data, length, false);
    }
    bool WriteArea(Area area, DWORD offset, const void *data, DWORD length)
    {
        return Copy(AreaMemory(m_shared, false, area, 0), offset, data, length, true);
    }
    bool ReadArea(Area area, DWORD offset, void *data, DWORD length)
    {
        return Copy(AreaMemory(m_shared, false, area, 0), offset, data, length, false);
    }
    // The error that errorConfirmation injects.
    void SetError(WORD errorClass, WORD errorNumber, const char *text1, const char *text2)
    {
        SharedLock lock(m_shared);
        m_shared->errorClass = errorClass;
        m_shared->errorNumber = errorNumber;
        lstrcpynA(m_shared->errorText1, text1, sizeof(m_shared->errorText1));
        lstrcpynA(m_shared->errorText2, text2, sizeof(m_shared->errorText2));
    }

private:
    bool Copy(BYTE *memory, DWORD offset, const void *data, DWORD length, bool toController)
    {
        if (!memory || offset > kAreaBytes || length > kAreaBytes - offset)
            return false;
        SharedLock lock(m_shared);
        if (toController)
            memcpy(memory + offset, data, length);
        else
            memcpy(data ? const_cast<void *>(data) : nullptr, memory + offset, length);
        return true;
    }
    HANDLE m_mapping = nullptr;
    Shared *m_shared = nullptr;
};

} // namespace s7sim
