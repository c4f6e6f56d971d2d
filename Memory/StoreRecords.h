// Records that the store keeps in shared memory, their result codes and the
// flag set that selects the groups a process opens. The server and the HMI
// library may be built for different word sizes, so every record is made of
// fixed-width fields and its size is checked here.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Results of the store's methods (32-bit). A failed wait for or release of a
// group mutex answers the system error instead.
enum StoreResult : unsigned long {
    STORE_OK = 0,
    STORE_NOT_OPENED = 8,       // the store could not be opened, or the bytes are not valid
    STORE_NOT_IN_USE = 9,       // the entry is not in use, or the range lies outside the block
    STORE_BAD_PARAMETER = 87,   // a required pointer is null, or a size or length is out of range
    STORE_EMPTY = 259,          // the queue holds no record
    STORE_AREA_MOVED = 0xC1020208,    // a commit landed at another address than the view
    STORE_COMMIT_FAILED = 0xC1020209, // the system refused to commit (also in the event log)
    STORE_OVERRUN = 0xC102020A,       // the area's reservation ("MaxSize") is used up
    STORE_AREA_FAULT = 0xC102020B,    // any other failure of an area
};

// Event-log ids of the areas' own failures (error type).
enum StoreEventId : unsigned long {
    STORE_EVENT_CB_CREATE = 0xC1020200, // the control block cannot be created
    STORE_EVENT_COMMIT = 0xC1020202,    // a commit failed
    STORE_EVENT_CB_MAP = 0xC1020206,    // the control block cannot be mapped
};

// The flag set given to CCommonMemory: which groups a process opens.
enum StoreFlags : unsigned long {
    STORE_INPUT_GROUP = 0x01,     // block table and block bytes (bit 3 selects them too)
    STORE_OUTPUT_GROUP = 0x02,    // output queue and its event
    STORE_EXCEPTION_GROUP = 0x04, // exception queue
    STORE_INPUT_GROUP_ALT = 0x08,
    STORE_EVENT_GROUP = 0x10,     // event queue
    STORE_STANDARD_GROUPS = 15,   // what the server and the HMI library pass
};

// Status word of a block: low byte the OPC quality byte, high byte server flags.
struct DataBlockStatus {
    uint16_t word;
    uint8_t quality() const { return static_cast<uint8_t>(word & 0xFF); }
    uint8_t serverFlags() const { return static_cast<uint8_t>(word >> 8); }
};
static_assert(sizeof(DataBlockStatus) == 2, "DataBlockStatus is one word");

// One entry of the "%s_BlockList" area; entry i lies at offset 32 * i.
struct DataBlockEntry {
    uint32_t inUse;          // 1 live, 0 free
    DataBlockStatus status;
    uint16_t reserved;
    uint32_t dataOffset;     // offset of the block's bytes in "%s_InputArea"
    uint16_t size;           // bytes reserved for the block; 0 only for a never-used entry
    uint16_t bytesInUse;     // how many bytes from the start are valid
    uint32_t kivAccess;      // set by the HMI side on every read
    uint32_t internalFirst;
    uint32_t internalSecond;
    uint32_t owner;          // the creator's 32-bit handle of the block
};
static_assert(sizeof(DataBlockEntry) == 32, "DataBlockEntry is 32 bytes");
static_assert(offsetof(DataBlockEntry, dataOffset) == 8 && offsetof(DataBlockEntry, kivAccess) == 16 &&
                  offsetof(DataBlockEntry, owner) == 28,
              "DataBlockEntry layout");

// Header at offset 0 of each queue area; slot i lies at 12 + i * record size.
struct QueueHeader {
    uint32_t head;      // slot of the oldest record
    uint32_t tail;      // slot where the next record goes
    uint32_t highWater; // the most records ever queued at once
};
static_assert(sizeof(QueueHeader) == 12, "QueueHeader is 12 bytes");

enum OutputKind : uint32_t { OUTPUT_ANALOG = 1, OUTPUT_DIGITAL = 2, OUTPUT_TEXT = 3 };

// A write request from the HMI side to the server.
struct OutputRecord {
    enum { MaxValueBytes = 256 };
    uint32_t flag;        // 1 while queued; set by the queue
    uint32_t address;     // bits 0-14 byte offset, 15-27 data-block number, 28-31 area code
    uint32_t bitAndType;  // bits 0-3 bit number, bits 4-8 S7 data-type code
    uint32_t owner;       // owner value of the target block
    uint32_t kind;        // OutputKind
    uint32_t length;      // value bytes used, at most MaxValueBytes
    uint8_t value[MaxValueBytes];
};
static_assert(sizeof(OutputRecord) == 280, "OutputRecord is 280 bytes");
static_assert(offsetof(OutputRecord, value) == 24, "OutputRecord layout");

// A report-by-exception notice from the server to the HMI side.
struct ExceptionRecord {
    uint32_t flag;
    uint8_t tag;
    uint8_t reserved;
    uint16_t id;
};
static_assert(sizeof(ExceptionRecord) == 8, "ExceptionRecord is 8 bytes");

struct EventRecord {
    uint32_t flag;
    uint8_t data[136];
};
static_assert(sizeof(EventRecord) == 140, "EventRecord is 140 bytes");
