// CCommonMemory: the shared memory store that the server and the HMI library
// open by the driver name. It holds the table of data blocks with their bytes
// and the output, exception and event record queues, each group in named
// sections. Each group has its named mutex ("%s_InputLock", "%s_OutputLock",
// "%s_ExceptionLock", "%s_EventLock"), which guards the opening of its
// sections and tells others that the store is in use, and its lock word
// (StoreLock.h), which every method of the group holds while it works.
// Everything is opened on the first call; one object serves every thread of
// a process.
//
// Results: 0, or a StoreResult (StoreRecords.h), or the system error of a
// failed wait for a group's lock. A lock left by a thread that died holding
// it is taken over: a crashed server or HMI does not freeze the other.
#pragma once
#include <windows.h>
#include "StoreRecords.h"

#if defined(TESSARY_EXPORTS)
#define TESSARY_API __declspec(dllexport)
#else
#define TESSARY_API __declspec(dllimport)
#endif

class SharedArea;
class StoreLock;
class IEventLogBackend;

// Where this library's own event-log reports go (EventLog.h); null restores
// the NT event log. Answers the backend it replaces. The library keeps an
// event log apart from its host's, so a test that wants to see the store's
// reports installs its recorder here as well.
extern "C" TESSARY_API IEventLogBackend *SetStoreEventLogBackend(IEventLogBackend *backend);

// What a reader of a block needs, taken in one call (GetDataBlockSnapshot).
struct DataBlockSnapshot {
    enum { MaxBytes = 260 }; // a server block: data, read time and type word
    unsigned short status;
    unsigned long owner;
    unsigned long first, second; // the internal address
    unsigned short size, bytesInUse;
    unsigned short copied;       // bytes of the block in bytes, from its offset 0
    unsigned char bytes[MaxBytes];
};

class TESSARY_API CCommonMemory {
public:
    enum { MaxName = 259 };

    // Stores the name and the flag set (StoreFlags); opens nothing.
    CCommonMemory(unsigned long flags, const char *name);
    ~CCommonMemory();
    CCommonMemory(const CCommonMemory &) = delete;
    CCommonMemory &operator=(const CCommonMemory &) = delete;

    // Data blocks. Every method answers 8 when the store cannot be opened.
    // A new block of size bytes (1..65535), zeroed; its entry index in *index.
    // owner is a 32-bit handle of the caller's choosing, never a pointer: the
    // processes sharing the store need not have the same word size.
    unsigned long CreateDataBlock(unsigned short *index, unsigned short size, unsigned long owner);
    unsigned long DestroyDataBlock(unsigned short index);
    // Copies length bytes into the block at offset; 9 unless offset + length <= size.
    unsigned long SetDataBlock(unsigned short index, unsigned short length, const void *source,
                               unsigned short offset);
    // Copies out; 8 past the bytes in use unless force is nonzero, 9 past the size.
    unsigned long GetDataBlock(unsigned short index, unsigned short length, void *destination,
                               unsigned short offset, int force);
    unsigned long SetBytesInUse(unsigned short index, unsigned short count);
    unsigned long SetDataBlockStatus(unsigned short index, unsigned short status);
    // Sets the status word's low byte (the quality) and keeps its high byte,
    // in one take of the lock; the word as it was before goes to *previous
    // (may be null).
    unsigned long SetDataBlockQuality(unsigned short index, unsigned char quality, unsigned short *previous);
    // owner may be null.
    unsigned long GetDataBlockStatus(unsigned short index, unsigned short *status, unsigned long *owner);
    unsigned long SetKIVAccess(unsigned short index, int flag);
    // reset == 1 clears the flag after reading it.
    unsigned long GetKIVAccess(unsigned short index, int *flag, int reset);
    // Status word and owner of the block at index, and, when its owner value
    // is owner (not 0), also its internal address, its sizes and its first
    // bytes, with the HMI-access flag set: all under one take of the lock.
    // 9 when the entry is free (the snapshot is then left as it was).
    unsigned long GetDataBlockSnapshot(unsigned short index, unsigned long owner, DataBlockSnapshot *snapshot);
    unsigned long SetInternalAddress(unsigned short index, unsigned long first, unsigned long second);
    unsigned long GetInternalAddress(unsigned short index, unsigned long *first, unsigned long *second);
    // The number of live blocks of all processes, read without the mutex.
    long GetDataBlockCount();
    // Committed bytes of the input area and the block list in this process; each may be null.
    void GetDataBlockSize(unsigned long *input, unsigned long *table);

    // Queues of OutputRecord (280 bytes), ExceptionRecord (8) and
    // EventRecord (140). Add answers STORE_OVERRUN when the reservation is
    // used up (the record is dropped); the takes answer 259 when the queue is
    // empty. AddOutput sets "%s_OutputEvent" and refuses a length over 256.
    unsigned long AddOutput(const void *record);
    unsigned long GetOutputHead(void *record);
    // Takes the record in slot index; 9 unless the slot holds a queued record.
    unsigned long GetOutputAt(void *record, unsigned long index);
    unsigned long GetOutputCount(unsigned long *count);
    unsigned long AddException(const void *record);
    unsigned long GetExceptionHead(void *record);
    unsigned long GetExceptionAt(void *record, unsigned long index);
    unsigned long GetExceptionCount(unsigned long *count);
    unsigned long AddEvent(const void *record);
    unsigned long GetEventHead(void *record);
    unsigned long GetEventAt(void *record, unsigned long index);
    unsigned long GetEventCount(unsigned long *count);

private:
    enum Group { InputGroup, OutputGroup, ExceptionGroup, EventGroup, GroupCount };
    enum Area { InputArea, BlockList, OutputArea, ExceptionArea, EventArea, AreaCount };

    unsigned long EnsureOpen();
    unsigned long Open();
    unsigned long OpenGroup(Group group);
    unsigned long EntryAt(unsigned short index, DataBlockEntry **entry);
    unsigned long LiveEntry(unsigned short index, DataBlockEntry **entry);
    unsigned long BlockBytes(const DataBlockEntry *entry, unsigned short offset, unsigned short length,
                             bool needValid, void **bytes);
    unsigned long TakeEntry(unsigned short size, unsigned short *index, DataBlockEntry **entry);
    template <class Operation> unsigned long UnderLock(Group group, Operation operation);
    template <class Operation> unsigned long UnderEntryLock(unsigned short index, Operation operation);
    unsigned long AddRecord(Area area, const void *record);
    unsigned long TakeRecord(Area area, void *record, bool atIndex, unsigned long index);
    unsigned long CountRecords(Area area, unsigned long *count);

    SharedArea *m_areas[AreaCount];
    HANDLE m_locks[GroupCount];  // the named mutexes: the lazy open, and the store's presence
    StoreLock *m_words[GroupCount]; // what every method serialises on
    HANDLE m_outputEvent;
    LONG m_freeEntries;      // entries this process freed and may reuse
    DWORD m_firstUnused;     // every entry below it has been used
    volatile LONG m_opened;
    CRITICAL_SECTION m_openLock;
    unsigned long m_flags;
    char m_name[MaxName + 1];
    char m_registryPath[MaxName + 32];
};
