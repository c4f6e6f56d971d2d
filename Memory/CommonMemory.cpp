#include "CommonMemory.h"
#include <stdio.h>
#include <string.h>
#include <new>
#include "EventLog.h"
#include "SharedArea.h"
#include "StoreLock.h"

namespace {

const DWORD EntryBytes = sizeof(DataBlockEntry);
const DWORD HeaderBytes = sizeof(QueueHeader);
const DWORD MaxEntries = 0x10000; // what a 16-bit index names

struct GroupNames {
    const char *lock;
    const char *areas[2];
};
// Indexed by CCommonMemory::Group; the areas in CCommonMemory::Area order.
const GroupNames Groups[] = {
    {"%s_InputLock", {"%s_InputArea", "%s_BlockList"}},
    {"%s_OutputLock", {"%s_OutputArea", NULL}},
    {"%s_ExceptionLock", {"%s_ExceptionArea", NULL}},
    {"%s_EventLock", {"%s_EventArea", NULL}},
};
const unsigned long GroupFlags[] = {
    STORE_INPUT_GROUP | STORE_INPUT_GROUP_ALT, STORE_OUTPUT_GROUP, STORE_EXCEPTION_GROUP, STORE_EVENT_GROUP};
// The first area of each group, by CCommonMemory::Area.
const int FirstArea[] = {0, 2, 3, 4};

struct QueueKind {
    DWORD recordSize;
    bool restartWhenDrained; // a drained queue starts again at slot 1
};
// By CCommonMemory::Area, from OutputArea on.
const QueueKind Queues[] = {
    {sizeof(OutputRecord), true},
    {sizeof(ExceptionRecord), true},
    {sizeof(EventRecord), false},
};

// A mutex that its owner left by dying counts as acquired: a crashed server
// or HMI must not freeze the other. Only the lazy open waits for the mutex.
unsigned long Acquire(HANDLE mutex)
{
    DWORD wait = WaitForSingleObject(mutex, INFINITE);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return STORE_OK;
    DWORD error = GetLastError();
    return error ? error : ERROR_INVALID_HANDLE;
}

unsigned long Release(HANDLE mutex, unsigned long result)
{
    if (!ReleaseMutex(mutex)) {
        DWORD error = GetLastError();
        return error ? error : ERROR_NOT_OWNER;
    }
    return result;
}

void FormatName(char *out, size_t size, const char *pattern, const char *name)
{
    snprintf(out, size, pattern, name);
}

unsigned long HeaderOf(SharedArea *queue, QueueHeader **header)
{
    void *at = NULL;
    unsigned long result = queue->Access(0, HeaderBytes, &at);
    *header = static_cast<QueueHeader *>(at);
    return result;
}

uint32_t &SlotFlag(void *slot) { return *static_cast<uint32_t *>(slot); }

} // namespace

CCommonMemory::CCommonMemory(unsigned long flags, const char *name)
    : m_areas(), m_locks(), m_words(), m_outputEvent(NULL), m_freeEntries(0), m_firstUnused(0), m_opened(0), m_flags(flags)
{
    InitializeCriticalSection(&m_openLock);
    snprintf(m_name, sizeof(m_name), "%s", name ? name : "");
    snprintf(m_registryPath, sizeof(m_registryPath), "Software\\Veltrane\\Drivers\\%s", m_name);
}

CCommonMemory::~CCommonMemory()
{
    InterlockedExchange(&m_opened, 0);
    for (SharedArea *&area : m_areas) {
        delete area;
        area = NULL;
    }
    for (StoreLock *&word : m_words) {
        delete word;
        word = NULL;
    }
    for (HANDLE &lock : m_locks) {
        if (lock)
            CloseHandle(lock);
        lock = NULL;
    }
    if (m_outputEvent)
        CloseHandle(m_outputEvent);
    DeleteCriticalSection(&m_openLock);
}

// Threads of one process may make their first calls at the same time: the
// open runs once, under a lock of this process.
unsigned long CCommonMemory::EnsureOpen()
{
    if (InterlockedCompareExchange(&m_opened, 0, 0))
        return STORE_OK;
    EnterCriticalSection(&m_openLock);
    unsigned long result = m_opened ? STORE_OK : Open();
    LeaveCriticalSection(&m_openLock);
    return result == STORE_OK ? STORE_OK : STORE_NOT_OPENED;
}

unsigned long CCommonMemory::Open()
{
    for (int group = 0; group < GroupCount; ++group) {
        if (!(m_flags & GroupFlags[group]))
            continue;
        unsigned long result = OpenGroup(static_cast<Group>(group));
        if (result != STORE_OK)
            return result;
    }
    InterlockedExchange(&m_opened, 1);
    return STORE_OK;
}

// Opens what the group still lacks: its mutex (and the output event), its
// lock word, then, holding the mutex so that no other process sees a
// half-made control block, its areas. The mutex stays open for the life of
// the object: others learn from its name that the store is in use.
unsigned long CCommonMemory::OpenGroup(Group group)
{
    OpenSecurity security;
    char name[MaxName + 32];
    if (!m_locks[group]) {
        FormatName(name, sizeof(name), Groups[group].lock, m_name);
        m_locks[group] = CreateMutexA(security.Attributes(), FALSE, name);
        if (!m_locks[group])
            return GetLastError();
    }
    if (group == OutputGroup && !m_outputEvent) {
        FormatName(name, sizeof(name), "%s_OutputEvent", m_name);
        m_outputEvent = CreateEventA(security.Attributes(), FALSE, FALSE, name);
        if (!m_outputEvent)
            return GetLastError();
    }
    if (!m_words[group]) {
        StoreLock *word = new (std::nothrow) StoreLock;
        if (!word)
            return ERROR_NOT_ENOUGH_MEMORY;
        FormatName(name, sizeof(name), Groups[group].lock, m_name);
        DWORD opened = word->Open(m_name, group, name);
        if (opened != 0) {
            delete word;
            return opened;
        }
        m_words[group] = word;
    }
    unsigned long result = Acquire(m_locks[group]);
    if (result != STORE_OK)
        return result;
    AreaSettings settings;
    settings.Read(m_registryPath);
    for (int i = 0; i < 2 && Groups[group].areas[i] && result == STORE_OK; ++i) {
        int area = FirstArea[group] + i;
        if (m_areas[area])
            continue;
        SharedArea *made = new (std::nothrow) SharedArea;
        if (!made) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        FormatName(name, sizeof(name), Groups[group].areas[i], m_name);
        result = made->Create(m_name, settings, name);
        if (result != STORE_OK) {
            delete made;
            break;
        }
        m_areas[area] = made;
        if (area == BlockList) {
            m_freeEntries = 0;
            m_firstUnused = 0;
        }
    }
    return Release(m_locks[group], result);
}

template <class Operation> unsigned long CCommonMemory::UnderLock(Group group, Operation operation)
{
    unsigned long result = EnsureOpen();
    if (result != STORE_OK)
        return result;
    StoreLock *word = m_words[group];
    if (!word)
        return STORE_NOT_OPENED; // the flag set left this group out
    result = word->Acquire();
    if (result != STORE_OK)
        return result;
    result = operation();
    unsigned long released = word->Release();
    return released != STORE_OK ? released : result;
}

// ---- data blocks

template <class Operation> unsigned long CCommonMemory::UnderEntryLock(unsigned short index, Operation operation)
{
    unsigned long result = EnsureOpen();
    if (result != STORE_OK)
        return result;
    SharedArea *table = m_areas[BlockList];
    if (!table)
        return STORE_NOT_OPENED;
    DWORD offset = static_cast<DWORD>(index) * EntryBytes;
    if (offset + EntryBytes > table->MaxSize() || !table->Touched(offset, EntryBytes))
        return STORE_NOT_IN_USE;
    return UnderLock(InputGroup, operation);
}

unsigned long CCommonMemory::EntryAt(unsigned short index, DataBlockEntry **entry)
{
    void *at = NULL;
    unsigned long result = m_areas[BlockList]->Access(static_cast<DWORD>(index) * EntryBytes, EntryBytes, &at);
    *entry = static_cast<DataBlockEntry *>(at);
    return result;
}

// An entry that no process has touched was never used: it is answered 9
// without committing anything. So is an index past the reservation.
unsigned long CCommonMemory::LiveEntry(unsigned short index, DataBlockEntry **entry)
{
    SharedArea *table = m_areas[BlockList];
    DWORD offset = static_cast<DWORD>(index) * EntryBytes;
    if (offset + EntryBytes > table->MaxSize() || !table->Touched(offset, EntryBytes))
        return STORE_NOT_IN_USE;
    unsigned long result = EntryAt(index, entry);
    if (result != STORE_OK)
        return result;
    return (*entry)->inUse == 1 ? STORE_OK : STORE_NOT_IN_USE;
}

// Finds the entry for a new block: with entries freed by this process, the
// first free one large enough; otherwise the first entry never used by any
// process (the live count says nothing about where holes made by another
// process lie). Changes nothing.
unsigned long CCommonMemory::TakeEntry(unsigned short size, unsigned short *index, DataBlockEntry **reuse)
{
    SharedArea *table = m_areas[BlockList];
    *reuse = NULL;
    for (DWORD i = m_freeEntries > 0 ? 0 : m_firstUnused;; ++i) {
        DWORD offset = i * EntryBytes;
        if (i >= MaxEntries || offset + EntryBytes > table->MaxSize())
            return STORE_OVERRUN;
        if (!table->Touched(offset, EntryBytes)) {
            *index = static_cast<unsigned short>(i);
            return STORE_OK;
        }
        DataBlockEntry *entry;
        unsigned long result = EntryAt(static_cast<unsigned short>(i), &entry);
        if (result != STORE_OK)
            return result;
        if (entry->size == 0 && entry->inUse != 1) {
            *index = static_cast<unsigned short>(i);
            return STORE_OK;
        }
        if (i == m_firstUnused)
            m_firstUnused = i + 1;
        if (m_freeEntries > 0 && entry->inUse == 0 && entry->size >= size) {
            *index = static_cast<unsigned short>(i);
            *reuse = entry;
            return STORE_OK;
        }
    }
}

unsigned long CCommonMemory::CreateDataBlock(unsigned short *index, unsigned short size, unsigned long owner)
{
    if (!index)
        return STORE_BAD_PARAMETER;
    *index = 0;
    if (size == 0)
        return STORE_BAD_PARAMETER;
    return UnderLock(InputGroup, [&]() -> unsigned long {
        unsigned short found;
        DataBlockEntry *reused;
        unsigned long result = TakeEntry(size, &found, &reused);
        if (result != STORE_OK)
            return result;
        // Blocks lie one after another: a reused entry moves down behind its
        // predecessor when that was reused smaller.
        DWORD offset = 0;
        if (found > 0) {
            DataBlockEntry *previous;
            result = EntryAt(found - 1, &previous);
            if (result != STORE_OK)
                return result;
            offset = previous->dataOffset + previous->size;
        }
        void *bytes;
        if (offset > m_areas[InputArea]->MaxSize())
            return STORE_OVERRUN;
        result = m_areas[InputArea]->Access(offset, size, &bytes);
        if (result != STORE_OK)
            return result;
        DataBlockEntry *entry;
        result = EntryAt(found, &entry);
        if (result != STORE_OK)
            return result;
        ZeroMemory(bytes, size);
        if (reused)
            --m_freeEntries;
        entry->status.word = 0;
        entry->reserved = 0;
        entry->dataOffset = offset;
        entry->size = size;
        entry->bytesInUse = 0;
        entry->kivAccess = 0;
        entry->internalFirst = 0;
        entry->internalSecond = 0;
        entry->owner = owner;
        entry->inUse = 1;
        m_areas[BlockList]->IncrementLiveCount();
        *index = found;
        return STORE_OK;
    });
}

// Runs change on the live entry at index, under the input lock. An entry
// that no process has touched answers 9 without the lock: the table's
// high-water mark only grows.
#define WITH_LIVE_ENTRY(index, change)                                                                       \
    UnderEntryLock(index, [&]() -> unsigned long {                                                            \
        DataBlockEntry *entry;                                                                                \
        unsigned long result = LiveEntry(index, &entry);                                                      \
        if (result == STORE_OK) {                                                                             \
            change;                                                                                           \
        }                                                                                                     \
        return result;                                                                                        \
    })

// The address of [offset, offset + length) of the entry's block: 9 past its
// size; with needValid, 8 past its bytes in use.
unsigned long CCommonMemory::BlockBytes(const DataBlockEntry *entry, unsigned short offset, unsigned short length,
                                        bool needValid, void **bytes)
{
    DWORD end = static_cast<DWORD>(offset) + length;
    if (end > entry->size)
        return STORE_NOT_IN_USE;
    if (needValid && end > entry->bytesInUse)
        return STORE_NOT_OPENED;
    return m_areas[InputArea]->Access(entry->dataOffset + offset, length, bytes);
}

unsigned long CCommonMemory::DestroyDataBlock(unsigned short index)
{
    return WITH_LIVE_ENTRY(index, {
        entry->inUse = 0;
        ++m_freeEntries;
        m_areas[BlockList]->DecrementLiveCount();
    });
}

unsigned long CCommonMemory::SetDataBlock(unsigned short index, unsigned short length, const void *source,
                                          unsigned short offset)
{
    if (!source)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        void *bytes;
        result = BlockBytes(entry, offset, length, false, &bytes);
        if (result == STORE_OK)
            memcpy(bytes, source, length);
    });
}

unsigned long CCommonMemory::GetDataBlock(unsigned short index, unsigned short length, void *destination,
                                          unsigned short offset, int force)
{
    if (!destination)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        void *bytes;
        result = BlockBytes(entry, offset, length, !force, &bytes);
        if (result == STORE_OK)
            memcpy(destination, bytes, length);
    });
}

unsigned long CCommonMemory::SetBytesInUse(unsigned short index, unsigned short count)
{
    return WITH_LIVE_ENTRY(index, entry->bytesInUse = count);
}

unsigned long CCommonMemory::SetDataBlockStatus(unsigned short index, unsigned short status)
{
    return WITH_LIVE_ENTRY(index, entry->status.word = status);
}

unsigned long CCommonMemory::SetDataBlockQuality(unsigned short index, unsigned char quality,
                                                unsigned short *previous)
{
    return WITH_LIVE_ENTRY(index, {
        if (previous)
            *previous = entry->status.word;
        entry->status.word = static_cast<uint16_t>((entry->status.word & 0xFF00) | quality);
    });
}

unsigned long CCommonMemory::GetDataBlockStatus(unsigned short index, unsigned short *status, unsigned long *owner)
{
    if (!status)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        *status = entry->status.word;
        if (owner)
            *owner = entry->owner;
    });
}

unsigned long CCommonMemory::SetKIVAccess(unsigned short index, int flag)
{
    return WITH_LIVE_ENTRY(index, entry->kivAccess = static_cast<uint32_t>(flag));
}

unsigned long CCommonMemory::GetKIVAccess(unsigned short index, int *flag, int reset)
{
    if (!flag)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        *flag = static_cast<int>(entry->kivAccess);
        if (reset == 1)
            entry->kivAccess = 0;
    });
}

unsigned long CCommonMemory::GetDataBlockSnapshot(unsigned short index, unsigned long owner,
                                                  DataBlockSnapshot *snapshot)
{
    if (!snapshot)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        snapshot->status = entry->status.word;
        snapshot->owner = entry->owner;
        if (owner != 0 && entry->owner == owner) {
            snapshot->first = entry->internalFirst;
            snapshot->second = entry->internalSecond;
            snapshot->size = entry->size;
            snapshot->bytesInUse = entry->bytesInUse;
            const unsigned short most = DataBlockSnapshot::MaxBytes;
            unsigned short copied = entry->size < most ? entry->size : most;
            void *bytes;
            result = BlockBytes(entry, 0, copied, false, &bytes);
            if (result == STORE_OK) {
                memcpy(snapshot->bytes, bytes, copied);
                snapshot->copied = copied;
                entry->kivAccess = 1;
            }
        }
    });
}

unsigned long CCommonMemory::SetInternalAddress(unsigned short index, unsigned long first, unsigned long second)
{
    return WITH_LIVE_ENTRY(index, {
        entry->internalFirst = first;
        entry->internalSecond = second;
    });
}

unsigned long CCommonMemory::GetInternalAddress(unsigned short index, unsigned long *first, unsigned long *second)
{
    if (!first || !second)
        return STORE_BAD_PARAMETER;
    return WITH_LIVE_ENTRY(index, {
        *first = entry->internalFirst;
        *second = entry->internalSecond;
    });
}

#undef WITH_LIVE_ENTRY

long CCommonMemory::GetDataBlockCount()
{
    if (EnsureOpen() != STORE_OK || !m_areas[BlockList])
        return STORE_NOT_OPENED;
    return m_areas[BlockList]->LiveCount();
}

void CCommonMemory::GetDataBlockSize(unsigned long *input, unsigned long *table)
{
    bool open = EnsureOpen() == STORE_OK && m_areas[InputArea];
    if (input)
        *input = open ? m_areas[InputArea]->CommittedSize() : 0;
    if (table)
        *table = open ? m_areas[BlockList]->CommittedSize() : 0;
}

// ---- record queues
//
// Head and tail are linear slot indices, the same for every process: a queue
// never wraps, it grows in commit steps until its reservation is used up, and
// the output and exception queues start again at slot 1 once drained. No
// process derives them from what its own view has committed, so a reader
// whose view lags behind the writer's never replays old slots.

unsigned long CCommonMemory::AddRecord(Area area, const void *record)
{
    SharedArea *queue = m_areas[area];
    const QueueKind &kind = Queues[area - OutputArea];
    QueueHeader *header;
    unsigned long result = HeaderOf(queue, &header);
    if (result != STORE_OK)
        return result;
    void *at;
    uint32_t head = header->head, tail = header->tail;
    uint64_t slot = HeaderBytes + static_cast<uint64_t>(tail) * kind.recordSize;
    if (slot + kind.recordSize > queue->MaxSize())
        return STORE_OVERRUN;
    result = queue->Access(static_cast<DWORD>(slot), kind.recordSize, &at);
    if (result != STORE_OK)
        return result;
    memcpy(at, record, kind.recordSize);
    SlotFlag(at) = 1;
    header->tail = tail + 1;
    uint32_t queued = header->tail > head ? header->tail - head : 0;
    if (queued >= header->highWater)
        header->highWater = queued;
    return STORE_OK;
}

unsigned long CCommonMemory::TakeRecord(Area area, void *record, bool atIndex, unsigned long index)
{
    SharedArea *queue = m_areas[area];
    const QueueKind &kind = Queues[area - OutputArea];
    if (!queue->Touched(0, HeaderBytes))
        return STORE_EMPTY;
    QueueHeader *header;
    unsigned long result = HeaderOf(queue, &header);
    if (result != STORE_OK)
        return result;
    auto slotAt = [&](uint32_t i, void **slot) {
        return queue->Access(HeaderBytes + i * kind.recordSize, kind.recordSize, slot);
    };
    // Slots taken out of order hold flag 0 and are passed over at either end.
    auto trim = [&]() -> unsigned long {
        void *slot;
        while (header->head < header->tail) {
            unsigned long r = slotAt(header->head, &slot);
            if (r != STORE_OK)
                return r;
            if (SlotFlag(slot) == 1)
                break;
            ++header->head;
        }
        while (header->tail > header->head) {
            unsigned long r = slotAt(header->tail - 1, &slot);
            if (r != STORE_OK)
                return r;
            if (SlotFlag(slot) == 1)
                break;
            --header->tail;
        }
        if (header->head >= header->tail && kind.restartWhenDrained)
            header->head = header->tail = 1;
        return STORE_OK;
    };

    if (header->head >= header->tail)
        return STORE_EMPTY;
    if (!atIndex) {
        result = trim();
        if (result != STORE_OK)
            return result;
        if (header->head >= header->tail)
            return STORE_EMPTY;
        index = header->head;
    } else if (index < header->head || index >= header->tail) {
        return STORE_NOT_IN_USE;
    }
    void *slot;
    result = slotAt(static_cast<uint32_t>(index), &slot);
    if (result != STORE_OK)
        return result;
    if (SlotFlag(slot) != 1)
        return STORE_NOT_IN_USE;
    memcpy(record, slot, kind.recordSize);
    SlotFlag(slot) = 0;
    return trim();
}

unsigned long CCommonMemory::CountRecords(Area area, unsigned long *count)
{
    SharedArea *queue = m_areas[area];
    if (!queue->Touched(0, HeaderBytes))
        return STORE_OK;
    QueueHeader *header;
    unsigned long result = HeaderOf(queue, &header);
    if (result != STORE_OK)
        return result;
    *count = header->tail > header->head ? header->tail - header->head : 0;
    return STORE_OK;
}

#define QUEUE_METHODS(Name, AreaId, GroupId)                                                                 \
    unsigned long CCommonMemory::Get##Name##Head(void *record)                                               \
    {                                                                                                         \
        if (!record)                                                                                          \
            return STORE_BAD_PARAMETER;                                                                       \
        return UnderLock(GroupId, [&] { return TakeRecord(AreaId, record, false, 0); });                     \
    }                                                                                                         \
    unsigned long CCommonMemory::Get##Name##At(void *record, unsigned long index)                            \
    {                                                                                                         \
        if (!record)                                                                                          \
            return STORE_BAD_PARAMETER;                                                                       \
        return UnderLock(GroupId, [&] { return TakeRecord(AreaId, record, true, index); });                  \
    }                                                                                                         \
    unsigned long CCommonMemory::Get##Name##Count(unsigned long *count)                                      \
    {                                                                                                         \
        if (!count)                                                                                           \
            return STORE_BAD_PARAMETER;                                                                       \
        *count = 0;                                                                                           \
        return UnderLock(GroupId, [&] { return CountRecords(AreaId, count); });                              \
    }

QUEUE_METHODS(Output, OutputArea, OutputGroup)
QUEUE_METHODS(Exception, ExceptionArea, ExceptionGroup)
QUEUE_METHODS(Event, EventArea, EventGroup)
#undef QUEUE_METHODS

unsigned long CCommonMemory::AddOutput(const void *record)
{
    if (!record)
        return STORE_BAD_PARAMETER;
    if (static_cast<const OutputRecord *>(record)->length > OutputRecord::MaxValueBytes)
        return STORE_BAD_PARAMETER;
    unsigned long result = UnderLock(OutputGroup, [&] { return AddRecord(OutputArea, record); });
    // Signalled once the lock is given back: the reader it wakes finds the
    // record and the lock free, and is not held up by this system call.
    if (result == STORE_OK)
        SetEvent(m_outputEvent);
    return result;
}

unsigned long CCommonMemory::AddException(const void *record)
{
    if (!record)
        return STORE_BAD_PARAMETER;
    return UnderLock(ExceptionGroup, [&] { return AddRecord(ExceptionArea, record); });
}

unsigned long CCommonMemory::AddEvent(const void *record)
{
    if (!record)
        return STORE_BAD_PARAMETER;
    return UnderLock(EventGroup, [&] { return AddRecord(EventArea, record); });
}

IEventLogBackend *SetStoreEventLogBackend(IEventLogBackend *backend) { return SetEventLogBackend(backend); }
