#include "SharedArea.h"
#include <stdio.h>
#include "Registry.h"
#include "StoreRecords.h"

namespace {

DWORD AllocationGranularity()
{
    static DWORD granularity = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
    }();
    return granularity;
}

// Rounds up to a whole number of units, at least one, and no further than the
// last whole unit that a 32-bit offset reaches.
DWORD RoundUp(uint64_t value, DWORD unit)
{
    if (value == 0)
        value = 1;
    uint64_t rounded = (value + unit - 1) / unit * unit;
    uint64_t limit = 0xFFFFFFFFull / unit * unit;
    return static_cast<DWORD>(rounded < limit ? rounded : limit);
}

} // namespace

void AreaSettings::Read(const char *registryPath)
{
    CRegistry registry;
    if (registry.OpenKey(registryPath) != ERROR_SUCCESS)
        return;
    unsigned long value;
    if (registry.ReadValue("MaxSize", &value) == ERROR_SUCCESS)
        maxSize = value;
    if (registry.ReadValue("GrowIncrement", &value) == ERROR_SUCCESS)
        growIncrement = value;
    if (registry.ReadValue("OverrunBuffer", &value) == ERROR_SUCCESS)
        overrunBuffer = value;
}

OpenSecurity::OpenSecurity()
{
    InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&m_descriptor, TRUE, NULL, FALSE);
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

SharedArea::~SharedArea()
{
    if (m_base)
        UnmapViewOfFile(m_base);
    if (m_section)
        CloseHandle(m_section);
    if (m_cb)
        UnmapViewOfFile(m_cb);
    if (m_cbSection)
        CloseHandle(m_cbSection);
}

DWORD SharedArea::Create(const char *eventSource, const AreaSettings &settings, const char *areaName)
{
    snprintf(m_name, sizeof(m_name), "%s", areaName);
    snprintf(m_source, sizeof(m_source), "%s", eventSource);
    OpenSecurity security;

    char cbName[MAX_PATH + 8];
    snprintf(cbName, sizeof(cbName), "%s_CB", areaName);
    m_cbSection = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0,
                                     sizeof(AreaControlBlock), cbName);
    if (!m_cbSection) {
        DWORD error = GetLastError();
        ReportAreaFailure(m_source, STORE_EVENT_CB_CREATE, cbName, error);
        return error;
    }
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    m_cb = static_cast<AreaControlBlock *>(MapViewOfFile(m_cbSection, FILE_MAP_WRITE, 0, 0, sizeof(AreaControlBlock)));
    if (!m_cb) {
        DWORD error = GetLastError();
        ReportAreaFailure(m_source, STORE_EVENT_CB_MAP, cbName, error);
        CloseHandle(m_cbSection);
        m_cbSection = NULL;
        return error;
    }
    if (!existed)
        ZeroMemory(m_cb, sizeof(*m_cb));

    m_maxSize = RoundUp(settings.maxSize, AllocationGranularity());
    m_grow = RoundUp(settings.growIncrement, AllocationGranularity());
    m_overrun = settings.overrunBuffer;
    uint64_t sectionSize = static_cast<uint64_t>(m_maxSize) + m_overrun;
    m_section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE | SEC_RESERVE,
                                   static_cast<DWORD>(sectionSize >> 32), static_cast<DWORD>(sectionSize), areaName);
    if (!m_section)
        return GetLastError();
    m_base = static_cast<BYTE *>(MapViewOfFile(m_section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!m_base) {
        DWORD error = GetLastError();
        CloseHandle(m_section);
        m_section = NULL;
        return error;
    }
    m_committed = CommittedSize();
    return 0;
}

DWORD SharedArea::CommittedSize() const
{
    MEMORY_BASIC_INFORMATION info;
    if (!m_base || VirtualQuery(m_base, &info, sizeof(info)) != sizeof(info) || info.State != MEM_COMMIT)
        return 0;
    return info.RegionSize < m_maxSize ? static_cast<DWORD>(info.RegionSize) : m_maxSize;
}

bool SharedArea::Touched(DWORD offset, DWORD length) const
{
    return static_cast<uint64_t>(offset) + length <= HighWater();
}

unsigned long SharedArea::Access(DWORD offset, DWORD length, void **at)
{
    uint64_t end = static_cast<uint64_t>(offset) + length;
    if (end > m_maxSize)
        return STORE_OVERRUN;
    if (end > m_committed) {
        unsigned long result = Commit(static_cast<DWORD>(end));
        if (result != STORE_OK)
            return result;
    }
    RaiseHighWater(static_cast<DWORD>(end));
    *at = m_base + offset;
    return STORE_OK;
}

// Commits whole steps from the base up to the shared high-water mark (or end,
// when larger), never past the reservation. The mark itself is raised only
// by Access, after the commit succeeded, so a refused commit leaves the other
// processes unaffected.
unsigned long SharedArea::Commit(DWORD end)
{
    DWORD mark = end > HighWater() ? end : HighWater();
    uint64_t steps = (static_cast<uint64_t>(mark) + m_grow - 1) / m_grow;
    uint64_t wanted = steps * m_grow;
    DWORD size = static_cast<DWORD>(wanted < m_maxSize ? wanted : m_maxSize);

    HANDLE thread = GetCurrentThread();
    int priority = GetThreadPriority(thread);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    void *at = VirtualAlloc(m_base, size, MEM_COMMIT, PAGE_READWRITE);
    DWORD error = GetLastError();
    SetThreadPriority(thread, priority);

    if (!at) {
        ReportAreaFailure(m_source, STORE_EVENT_COMMIT, m_name, error);
        return STORE_COMMIT_FAILED;
    }
    if (at != m_base)
        return STORE_AREA_MOVED;
    m_committed = size;
    return STORE_OK;
}

void SharedArea::RaiseHighWater(DWORD end)
{
    LONG seen = m_cb->highWater;
    while (static_cast<DWORD>(seen) < end) {
        LONG before = InterlockedCompareExchange(&m_cb->highWater, static_cast<LONG>(end), seen);
        if (before == seen)
            break;
        seen = before;
    }
}
