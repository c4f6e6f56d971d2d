// S7 addresses and data types: the address record, the area and data-type
// tables, the address texts users type and the texts the S7 library takes,
// the check of received data and the byte-order conversion between the
// controller (big-endian) and the host. Pure logic with no Windows headers,
// so that the HMI library compiles the same conversions.
#pragma once
#include <cstdint>
#include <string>

// Area, data-block number, start, length (in address units of the area), bit
// number and data-type code: six 16-bit fields in this order.
struct S7Address {
    uint16_t area = 0;
    uint16_t dbNumber = 0;
    uint16_t start = 0;
    uint16_t length = 0;
    uint16_t bit = 0;
    uint16_t dataType = 0;
};

enum S7Area : uint16_t {
    S7AreaNone = 0, S7AreaDB = 1, S7AreaDI = 2, S7AreaA = 3, S7AreaC = 4,
    S7AreaE = 5, S7AreaM = 6, S7AreaPA = 7, S7AreaPE = 8, S7AreaT = 9,
    S7AreaZ = 10, S7AreaQ = 11, S7AreaI = 12, S7AreaPQ = 13, S7AreaPI = 14,
    S7AreaLast = 14,
};

enum S7DataType : uint16_t {
    S7TypeAscii = 0, S7TypeInt = 1, S7TypeWord = 2, S7TypeReal = 3,
    S7TypeBit = 4, S7TypeNone = 5, S7TypeDword = 6, S7TypeDint = 7,
    S7TypeChar = 8, S7TypeByte = 9, S7TypeCounter = 10, S7TypeTimer = 11,
    S7TypeString = 12, S7TypeLast = 12,
};

// Result codes (16-bit values carried in 32 bits).
enum : uint32_t {
    S7_OK = 0,
    S7_E_LENGTH = 0x8004,       // received length does not match the address
    S7_E_NULL = 0x8006,         // a required pointer is null
    S7_E_AREA = 0x8007,         // area code out of range (or without units)
    S7_E_TYPE = 0x8008,         // unknown or empty data type or type name
    S7_E_BIT = 0x800B,          // bit number above 7
    S7_E_FAIL = 0x80004005,     // address text refused (E_FAIL)
};

// VARIANT type codes as automation clients see the values (the numbers of
// the OLE VARENUM, spelt here so that this header needs no Windows header).
enum : uint16_t {
    S7VtEmpty = 0, S7VtI2 = 2, S7VtI4 = 3, S7VtR4 = 4, S7VtBstr = 8, S7VtUi1 = 17,
};

// Item kinds in the low byte of the HMI's item word.
enum S7ItemKind : uint8_t { S7ItemAnalog = 1, S7ItemDigital = 2, S7ItemText = 3 };

// An HMI address text ("PLC1 DB10,4", "plc1/M7.1", "!Poll:Line3") as the
// server reads it: leading white space dropped and every separator made ':'
// (text), then split at the first ':' into the device part and the position.
struct S7HmiAddress {
    std::string text;
    std::string device;    // as typed; the whole text when there is no ':'
    std::string position;  // empty when there is no ':'
    bool separated = false;  // text holds a ':'
    // A control name ("!Keyword:Object") rather than a data address.
    bool IsControl() const { return !text.empty() && text[0] == '!'; }
};

class CS7Types {
public:
    // The process's one instance.
    static const CS7Types &Instance();

    // Fills area, data-block number, start and bit from text; the other fields
    // stay. With checkType a bit is taken only when address->dataType is
    // bit-addressable. S7_E_FAIL when refused (the area code is stored even
    // then once it was recognised), S7_E_NULL for a null pointer.
    uint32_t ParseAddress(const char *text, S7Address *address, bool checkType) const;
    // The user's text of the start address ('DB10,100', 'M100'); mode 1
    // appends ':' and the bit. S7_E_AREA for an unknown area.
    uint32_t FormatAddress(const S7Address &address, std::string &text, int mode) const;
    // The user's text of the last address (start + length - 1), without bit;
    // empty when the length is 0.
    uint32_t FormatEndAddress(const S7Address &address, std::string &text) const;
    // The S7 library's variable text of a request ('DB10,W100,5', 'AX4.1').
    uint32_t FormatSapiAddress(const S7Address &address, std::string &text) const;

    // Whether c separates the parts of an address text (":;,./\" or a
    // blank). Object names hold none, since an HMI address names its device
    // in front of one.
    static bool IsSeparator(int c);
    static S7HmiAddress ReadHmiAddress(const char *text);
    // The server's name of an HMI item of this kind at address on device:
    // "PLC1:DB10,4", and for a digital item with ':' and the bit. Only
    // digital and text items are named (NamesItem); S7_E_TYPE for another
    // kind, S7_E_AREA for an unknown area (text empty then).
    static bool NamesItem(unsigned kind) { return kind == S7ItemDigital || kind == S7ItemText; }
    uint32_t FormatItemName(const std::string &device, const S7Address &address, unsigned kind,
                            std::string &text) const;

    // The address word of the store and the HMI: area in bits 28-31,
    // data-block number in 15-27, start in 0-14.
    static uint32_t AddressWord(const S7Address &address);
    // Area, data-block number and start from an address word; the other
    // fields stay.
    static void FromAddressWord(uint32_t word, S7Address *address);
    // The data type a block in the area takes when given dataType: dataType
    // where the area allows it, else the area's default type. S7_E_AREA
    // above 14.
    uint32_t TypeInArea(uint16_t area, uint16_t dataType, uint16_t *type) const;
    // Address units of the element that begins at start in a block at
    // block (its area, start and data type), counted from the block's start
    // either way; 0 when start falls inside an element or the type has no
    // element size. The server resolves an address into a block only there.
    unsigned ElementAt(const S7Address &block, long start) const;

    // Checks received data against the address, then converts its byte order
    // into destination (which holds length bytes). *count is the number of
    // whole elements converted.
    uint32_t ConvertReply(const S7Address *address, const char *data, unsigned length,
                          char *destination, unsigned *count) const;
    // The byte-order conversion alone; its own inverse, so it also turns host
    // values into controller order before a write. Source and destination
    // may be the same buffer. Bytes past the last whole element are copied
    // unchanged.
    uint32_t ConvertData(uint16_t dataType, const char *source, unsigned length,
                         char *destination, unsigned *count) const;

    // Lookups by code.
    uint32_t TypeName(uint16_t dataType, const char **name) const;   // S7_E_TYPE when none
    const char *AreaText(uint16_t area, bool libraryText) const;      // null above 14
    // The type code of a name, ignoring case; false when not found.
    bool TypeCode(const char *name, uint16_t *dataType) const;
    int BytesPerElement(uint16_t dataType) const;                     // -1 above 12
    int UnitsPerElement(uint16_t dataType) const;                     // -1 above 12
    bool IsBitAddressable(uint16_t dataType) const;
    bool IsSigned(uint16_t dataType) const;
    bool IsElementAddressable(uint16_t dataType) const;
    uint16_t VariantType(uint16_t dataType) const;                    // 0 above 12
    int BytesPerUnit(uint16_t area) const;                            // -1 above 14
    unsigned ReadLimit(uint16_t area) const;                          // 0 above 14
    unsigned WriteLimit(uint16_t area) const;                         // 0 above 14
    uint32_t DefaultType(uint16_t area, uint16_t *dataType) const;    // S7_E_AREA above 14
    // length x bytes per unit of the area.
    uint32_t BytesOfLength(uint16_t area, unsigned length, unsigned *bytes) const;
    // bytes / bytes per unit, with the remainder; S7_E_AREA for an area
    // without units (area 0) as well as above 14.
    uint32_t AddressesOfBytes(uint16_t area, unsigned bytes, unsigned *addresses,
                              unsigned *remainder) const;
    // length / units per element; S7_E_TYPE for a type without units.
    uint32_t ElementsOfLength(uint16_t dataType, unsigned length, unsigned *elements) const;
    bool IsDataBlockArea(uint16_t area) const { return area < 3; }
    bool TypeAllowedInArea(uint16_t area, uint16_t dataType) const;

    // The type names in the order they are offered to users; count entries.
    static const char *const *UserTypeNames(unsigned *count);

private:
    CS7Types() = default;
};
