// The HMI's item records as Oxley sees them, and the status codes that the
// kiv_* exports write through their first argument. The HMI defines these
// records; Oxley reads and writes only the fields below, at these offsets.
// The fields are packed because the HMI's layout has no padding (a 32-bit
// field at offset 10 of KivDevice, for example).
#pragma once
#include <stddef.h>
#include <stdint.h>

// Status codes (16-bit).
enum KivStatusCode : uint16_t {
    KIV_OK = 0,
    KIV_E_SERVER = 510,      // server unreachable or a server call failed; unsupported value type or kind
    KIV_E_ADDRESS = 514,     // address not parsed, or the item does not fit its data block
    KIV_E_OPTION = 515,      // unknown option name or code; the option list does not fit
    KIV_E_SIGNAL = 516,      // signal conditioning missing or unknown; the list does not fit
    KIV_ON_OK = 520,         // kiv_on registered the point
};

// Item kinds of KivKind::kind.
enum KivItemKind : uint8_t { KIV_ANALOG = 1, KIV_DIGITAL = 2, KIV_TEXT = 3 };

// Value types of KivValue::type.
enum KivValueType : uint8_t {
    KIV_VALUE_TEXT = 0, KIV_VALUE_I2 = 1, KIV_VALUE_U2 = 2, KIV_VALUE_FLOAT = 3,
    KIV_VALUE_BYTE = 4, KIV_VALUE_U4 = 6, KIV_VALUE_I4 = 7,
};

// The internal address from 0x10000000 up names a control item; its type in bits 28-31.
enum : uint32_t { KIV_CONTROL_ITEM = 0x10000000 };
enum KivControl : uint32_t { KIV_CONTROL_SWITCH = 1, KIV_CONTROL_POLL = 2, KIV_CONTROL_MODE = 3, KIV_CONTROL_SEND = 4 };

// The option word: low 16 bits the option code, bit 31 a signed option.
enum : uint32_t { KIV_OPTION_SIGNED = 0x80000000u };

enum { KIV_ADDRESS_TEXT = 128 };   // bytes of the canonical text, NUL included

#pragma pack(push, 1)

struct KivDevice {
    uint32_t blockHandle;      // the server's handle of the item's data block
    uint32_t addressWord;      // bits 0-14 offset, 15-27 data-block number, 28-31 area
    uint16_t elementOffset;    // address units (analog, text) or bits (digital)
    uint32_t optionWord;
    uint16_t signalIndex;      // Parvel type index
    uint32_t deviceReference;  // as the address parser returned it
};

struct KivAddress {
    uint8_t hmi[32];           // the HMI's own fields
    uint16_t blockIndex;       // index of the block in the shared block table
    uint32_t internalAddress;
    char text[KIV_ADDRESS_TEXT];
};

struct KivBlock {
    uint32_t hmi;
    KivDevice *device;
    KivAddress *address;
};

struct KivKind {
    uint8_t kind;
    uint8_t count;
    float span;
    float low;
};

struct KivValue {
    uint8_t type;
    uint8_t length;
    uint16_t errorCode;        // HMI error code of the value
    void *value;
};

struct KivException {
    uint8_t tag;
    uint8_t reserved;
    uint16_t tagId;
};

struct KivStats {
    uint16_t word[20];
};

#pragma pack(pop)

static_assert(offsetof(KivDevice, addressWord) == 4 && offsetof(KivDevice, elementOffset) == 8 &&
                  offsetof(KivDevice, optionWord) == 10 && offsetof(KivDevice, signalIndex) == 14 &&
                  offsetof(KivDevice, deviceReference) == 16 && sizeof(KivDevice) == 20,
              "KivDevice layout");
static_assert(offsetof(KivAddress, blockIndex) == 32 && offsetof(KivAddress, internalAddress) == 34 &&
                  offsetof(KivAddress, text) == 38 && sizeof(KivAddress) == 166,
              "KivAddress layout");
static_assert(offsetof(KivKind, count) == 1 && offsetof(KivKind, span) == 2 && offsetof(KivKind, low) == 6 &&
                  sizeof(KivKind) == 10,
              "KivKind layout");
static_assert(offsetof(KivValue, errorCode) == 2 && offsetof(KivValue, value) == 4, "KivValue layout");
static_assert(offsetof(KivException, tagId) == 2 && sizeof(KivException) == 4, "KivException layout");
static_assert(sizeof(KivStats) == 40, "KivStats is 20 words");
// The records that hold pointers have the HMI's 32-bit layout on a 32-bit
// build; a 64-bit HMI's pointers are 8 bytes wide in the same places.
static_assert(offsetof(KivBlock, device) == 4 && offsetof(KivBlock, address) == 4 + sizeof(void *) &&
                  sizeof(KivBlock) == 4 + 2 * sizeof(void *),
              "KivBlock layout");
static_assert(sizeof(KivValue) == 4 + sizeof(void *), "KivValue size");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(KivBlock) == 12 && offsetof(KivBlock, address) == 8 && sizeof(KivValue) == 8,
              "the HMI's 32-bit records");
#endif
