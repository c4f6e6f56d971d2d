// SharedArea: one named, page-file-backed section that every process of the
// store maps. The section is only reserved; pages are committed from the base
// up, in steps, before each access, up to the high-water mark that all
// processes share through the area's control block "%s_CB".
#pragma once
#include <windows.h>
#include <stdint.h>

// The 16-byte control block shared by every process that opens an area.
struct AreaControlBlock {
    uint32_t reserved0;
    uint32_t reserved1;
    volatile LONG highWater; // one more than the highest byte offset touched by any process
    volatile LONG liveCount; // live blocks (block list only)
};
static_assert(sizeof(AreaControlBlock) == 16, "AreaControlBlock is 16 bytes");

// Sizes read from the driver's registry key, before rounding.
struct AreaSettings {
    DWORD maxSize = 10000000;
    DWORD growIncrement = 4095;
    DWORD overrunBuffer = 4095;
    // Reads "MaxSize", "GrowIncrement" and "OverrunBuffer"; missing values keep their defaults.
    void Read(const char *registryPath);
};

class SharedArea {
public:
    SharedArea() = default;
    ~SharedArea();
    SharedArea(const SharedArea &) = delete;
    SharedArea &operator=(const SharedArea &) = delete;

    // Creates or opens the control block and the section; 0 or a system error.
    // Failures of the control block are reported to the event log as well.
    DWORD Create(const char *eventSource, const AreaSettings &settings, const char *areaName);

    // Commits what [offset, offset + length) needs and answers its address in
    // *at: 0, STORE_OVERRUN past the reservation (nothing committed), or a
    // commit failure.
    unsigned long Access(DWORD offset, DWORD length, void **at);
    // Whether any process has touched [offset, offset + length): bytes beyond
    // the high-water mark were never written and read as zeros.
    bool Touched(DWORD offset, DWORD length) const;

    BYTE *Base() const { return m_base; }
    DWORD MaxSize() const { return m_maxSize; }
    DWORD GrowIncrement() const { return m_grow; }
    DWORD HighWater() const { return static_cast<DWORD>(m_cb->highWater); }
    // The committed run of pages from the base, as this process sees it.
    DWORD CommittedSize() const;
    const char *Name() const { return m_name; }

    LONG LiveCount() const { return m_cb->liveCount; }
    LONG IncrementLiveCount() { return InterlockedIncrement(&m_cb->liveCount); }
    LONG DecrementLiveCount() { return InterlockedDecrement(&m_cb->liveCount); }

private:
    unsigned long Commit(DWORD end);
    void RaiseHighWater(DWORD end);

    char m_name[MAX_PATH] = {};
    char m_source[MAX_PATH] = {};
    DWORD m_maxSize = 0, m_grow = 0, m_overrun = 0;
    DWORD m_committed = 0; // what this process has committed (cached)
    HANDLE m_section = NULL;
    BYTE *m_base = NULL;
    HANDLE m_cbSection = NULL;
    AreaControlBlock *m_cb = NULL;
};

// The NULL-DACL security attributes that every named object of the store uses:
// the server may run as a service and the HMI as a desktop user.
class OpenSecurity {
public:
    OpenSecurity();
    SECURITY_ATTRIBUTES *Attributes() { return &m_attributes; }

private:
    SECURITY_DESCRIPTOR m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
};

// Reports one area failure to the event log: an error entry with the object's
// name and the system's text for the error as insertion strings.
void ReportAreaFailure(const char *eventSource, DWORD eventId, const char *objectName, DWORD error);
