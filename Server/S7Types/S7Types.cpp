#include "S7Types.h"
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

struct AreaRow {
    const char *parseText;
    const char *libraryText;
    int bytesPerUnit;
    unsigned readMax;
    unsigned writeMax;
    uint16_t defaultType;
};

const AreaRow kAreas[S7AreaLast + 1] = {
    {"", "", 0, 0, 0, S7TypeByte},
    {"DB", "DB", 1, 238, 228, S7TypeByte},
    {"DI", "DI", 1, 238, 228, S7TypeByte},
    {"A", "A", 1, 238, 228, S7TypeByte},
    {"C", "C", 2, 119, 114, S7TypeCounter},
    {"E", "E", 1, 238, 228, S7TypeByte},
    {"M", "M", 1, 238, 228, S7TypeByte},
    {"PA", "PA", 1, 238, 228, S7TypeByte},
    {"PE", "PE", 1, 238, 228, S7TypeByte},
    {"T", "T", 2, 119, 114, S7TypeTimer},
    {"Z", "Z", 2, 119, 114, S7TypeCounter},
    {"Q", "A", 1, 238, 228, S7TypeByte},
    {"I", "E", 1, 238, 228, S7TypeByte},
    {"PQ", "PA", 1, 238, 228, S7TypeByte},
    {"PI", "PE", 1, 238, 228, S7TypeByte},
};

struct TypeRow {
    const char *name;       // null: not choosable by name
    const char *letters;
    int bytes;
    int units;
    bool bitAddressable;
    bool isSigned;
    bool elementAddressable;
    uint16_t variantType;
};

const TypeRow kTypes[S7TypeLast + 1] = {
    {"ASCII", "B", 1, 1, false, false, true, S7VtBstr},
    {"INT", "INT", 2, 2, false, true, true, S7VtI2},
    {"WORD", "W", 2, 2, false, false, true, S7VtI2},
    {"REAL", "REAL", 4, 4, false, false, true, S7VtR4},
    {nullptr, "X", 1, 1, true, false, true, S7VtUi1},
    {nullptr, "", 0, 0, false, false, true, S7VtEmpty},
    {"DWORD", "D", 4, 4, false, false, true, S7VtI4},
    {"DINT", "DINT", 4, 4, false, true, true, S7VtI4},
    {"CHAR", "CHAR", 1, 1, false, true, true, S7VtUi1},
    {"BYTE", "B", 1, 1, true, false, true, S7VtUi1},
    {"COUNTER", "", 2, 1, false, false, true, S7VtI2},
    {"TIMER", "", 2, 1, false, false, true, S7VtI2},
    {"STRING", "B", 1, 1, false, false, false, S7VtBstr},
};

const char *const kUserTypeNames[] = {
    "BYTE", "CHAR", "INT", "WORD", "REAL", "DWORD", "DINT", "COUNTER", "TIMER", "ASCII", "STRING",
};

const char kSeparators[] = ":;,./\\ ";

// A non-empty run of decimal digits and nothing else, below limit. Refuses
// overflow instead of wrapping, so that "M65636" is not taken as M100.
bool ParseNumber(const std::string &text, unsigned limit, unsigned *value)
{
    if (text.empty())
        return false;
    unsigned result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + unsigned(c - '0');
        if (result >= limit)
            return false;
    }
    *value = result;
    return true;
}

// The bit part: non-empty, no further separator, at most 7.
bool ParseBit(const std::string &text, unsigned *bit)
{
    return ParseNumber(text, 8, bit);
}

bool EqualNoCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (std::toupper((unsigned char)*a) != std::toupper((unsigned char)*b))
            return false;
    return *a == *b;
}

} // namespace

const CS7Types &CS7Types::Instance()
{
    static const CS7Types instance;
    return instance;
}

uint32_t CS7Types::ParseAddress(const char *input, S7Address *address, bool checkType) const
{
    if (!input || !address)
        return S7_E_NULL;

    std::string text(input);
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return S7_E_FAIL;
    size_t last = text.find_last_not_of(" \t\r\n");
    text = text.substr(first, last - first + 1);
    for (char &c : text)
        c = char(std::toupper((unsigned char)c));

    if (IsSeparator(text[0]))
        return S7_E_FAIL;

    std::string firstPart = text, secondPart;
    bool hasSecond = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsSeparator(text[i])) {
            firstPart = text.substr(0, i);
            secondPart = text.substr(i + 1);
            hasSecond = true;
            break;
        }
    }
    if (hasSecond && secondPart.empty())
        return S7_E_FAIL;

    size_t digits = 0;
    while (digits < firstPart.size() && !std::isdigit((unsigned char)firstPart[digits]))
        ++digits;
    std::string areaText = firstPart.substr(0, digits);
    std::string number = firstPart.substr(digits);

    int area = -1;
    for (int code = 0; code <= S7AreaLast; ++code) {
        if (areaText == kAreas[code].parseText) {
            area = code;
            break;
        }
    }
    if (area < 0)
        return S7_E_FAIL;
    address->area = uint16_t(area);

    unsigned dbNumber = 0, start = 0, bit = 0;
    std::string startText, bitText;
    bool hasBit = false;
    if (IsDataBlockArea(uint16_t(area))) {
        if (!hasSecond || !ParseNumber(number, 8192, &dbNumber))
            return S7_E_FAIL;
        if (IsSeparator(secondPart[0]))
            return S7_E_FAIL;
        size_t sep = 0;
        while (sep < secondPart.size() && !IsSeparator(secondPart[sep]))
            ++sep;
        startText = secondPart.substr(0, sep);
        if (sep < secondPart.size()) {
            hasBit = true;
            bitText = secondPart.substr(sep + 1);
        }
    } else {
        startText = number;
        if (hasSecond) {
            hasBit = true;
            bitText = secondPart;
        }
    }

    if (!ParseNumber(startText, 0x8000, &start))
        return S7_E_FAIL;
    if (hasBit) {
        if (!ParseBit(bitText, &bit))
            return S7_E_FAIL;
        if (checkType && !IsBitAddressable(address->dataType))
            return S7_E_FAIL;
    }

    address->dbNumber = uint16_t(dbNumber);
    address->start = uint16_t(start);
    address->bit = uint16_t(bit);
    return S7_OK;
}

bool CS7Types::IsSeparator(int c) { return c > 0 && c < 0x80 && std::strchr(kSeparators, c) != nullptr; }

S7HmiAddress CS7Types::ReadHmiAddress(const char *input)
{
    S7HmiAddress a;
    a.text = input ? input : "";
    a.text.erase(0, a.text.find_first_not_of(" \t\r\n"));
    for (char &c : a.text)
        if (IsSeparator((unsigned char)c))
            c = ':';
    size_t colon = a.text.find(':');
    a.separated = colon != std::string::npos;
    a.device = a.text.substr(0, colon);
    if (a.separated)
        a.position = a.text.substr(colon + 1);
    return a;
}

uint32_t CS7Types::FormatItemName(const std::string &device, const S7Address &address, unsigned kind,
                                  std::string &text) const
{
    text.clear();
    if (!NamesItem(kind))
        return S7_E_TYPE;
    std::string position;
    if (uint32_t result = FormatAddress(address, position, kind == S7ItemDigital ? 1 : 0))
        return result;
    text = device + ":" + position;
    return S7_OK;
}

uint32_t CS7Types::AddressWord(const S7Address &a)
{
    return uint32_t(a.area & 0xF) << 28 | uint32_t(a.dbNumber & 0x1FFF) << 15 | uint32_t(a.start & 0x7FFF);
}

void CS7Types::FromAddressWord(uint32_t word, S7Address *address)
{
    address->area = uint16_t(word >> 28);
    address->dbNumber = uint16_t((word >> 15) & 0x1FFF);
    address->start = uint16_t(word & 0x7FFF);
}

uint32_t CS7Types::TypeInArea(uint16_t area, uint16_t dataType, uint16_t *type) const
{
    if (!type)
        return S7_E_NULL;
    if (TypeAllowedInArea(area, dataType)) {
        *type = dataType;
        return S7_OK;
    }
    return DefaultType(area, type);
}

unsigned CS7Types::ElementAt(const S7Address &block, long start) const
{
    int units = UnitsPerElement(block.dataType);
    if (units < 1 || (start - long(block.start)) % units != 0)
        return 0;
    return unsigned(units);
}

namespace {

std::string FormatAt(const S7Address &address, unsigned start, bool withBit)
{
    char buffer[64];
    const char *area = kAreas[address.area].parseText;
    if (address.area < 3)
        std::snprintf(buffer, sizeof buffer, "%s%u,%u", area, unsigned(address.dbNumber), start);
    else
        std::snprintf(buffer, sizeof buffer, "%s%u", area, start);
    std::string text(buffer);
    if (withBit)
        text += ":" + std::to_string(unsigned(address.bit));
    return text;
}

} // namespace

uint32_t CS7Types::FormatAddress(const S7Address &address, std::string &text, int mode) const
{
    text.clear();
    if (address.area > S7AreaLast)
        return S7_E_AREA;
    text = FormatAt(address, address.start, mode == 1);
    return S7_OK;
}

uint32_t CS7Types::FormatEndAddress(const S7Address &address, std::string &text) const
{
    text.clear();
    if (address.area > S7AreaLast)
        return S7_E_AREA;
    if (address.length == 0)
        return S7_OK;
    text = FormatAt(address, unsigned(address.start) + address.length - 1, false);
    return S7_OK;
}

uint32_t CS7Types::FormatSapiAddress(const S7Address &address, std::string &text) const
{
    text.clear();
    // Area 0 has no library text and no units: no request can name it.
    if (address.area == S7AreaNone || address.area > S7AreaLast)
        return S7_E_AREA;
    // The none type has no letters and no units per element to count with.
    if (address.dataType > S7TypeLast || kTypes[address.dataType].units <= 0)
        return S7_E_TYPE;
    if (address.bit > 7)
        return S7_E_BIT;

    const TypeRow &type = kTypes[address.dataType];
    char tail[32];
    if (address.dataType == S7TypeBit)
        std::snprintf(tail, sizeof tail, ".%u", unsigned(address.bit));
    else
        std::snprintf(tail, sizeof tail, ",%u", unsigned(address.length) / unsigned(type.units));

    char buffer[96];
    if (IsDataBlockArea(address.area))
        std::snprintf(buffer, sizeof buffer, "%s%u,%s%u%s", kAreas[address.area].libraryText,
                      unsigned(address.dbNumber), type.letters, unsigned(address.start), tail);
    else
        std::snprintf(buffer, sizeof buffer, "%s%s%u%s", kAreas[address.area].libraryText,
                      type.letters, unsigned(address.start), tail);
    text = buffer;
    return S7_OK;
}

uint32_t CS7Types::ConvertReply(const S7Address *address, const char *data, unsigned length,
                                char *destination, unsigned *count) const
{
    if (!address || !data || !destination || !count)
        return S7_E_NULL;
    if (address->area > S7AreaLast)
        return S7_E_AREA;
    unsigned expected = unsigned(address->length) * unsigned(kAreas[address->area].bytesPerUnit);
    if (address->dataType == S7TypeString) {
        if (length <= 1 || expected <= 1 || (unsigned char)data[0] > expected - 2)
            return S7_E_LENGTH;
    }
    if (length != expected)
        return S7_E_LENGTH;
    return ConvertData(address->dataType, data, length, destination, count);
}

uint32_t CS7Types::ConvertData(uint16_t dataType, const char *source, unsigned length,
                               char *destination, unsigned *count) const
{
    if (!source || !destination || !count)
        return S7_E_NULL;
    if (dataType > S7TypeLast || dataType == S7TypeNone)
        return S7_E_TYPE;
    unsigned size = unsigned(kTypes[dataType].bytes);
    // Permutation of the bytes of an 8-byte group: bit 0 of the index swaps
    // bytes within words, bit 1 words within double words, bit 2 double
    // words. Element sizes here are 1, 2 and 4 (indexes 0, 1 and 3).
    static const unsigned char kPermutation[8][8] = {
        {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 3, 2, 5, 4, 7, 6},
        {2, 3, 0, 1, 6, 7, 4, 5}, {3, 2, 1, 0, 7, 6, 5, 4},
        {4, 5, 6, 7, 0, 1, 2, 3}, {5, 4, 7, 6, 1, 0, 3, 2},
        {6, 7, 4, 5, 2, 3, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0},
    };
    unsigned index = size >= 2 ? 1 : 0;
    if (size >= 4)
        index |= 2;
    if (size >= 8)
        index |= 4;

    // Whole elements only: a trailing partial element is copied as it is,
    // never read or written past length.
    unsigned elements = length / size;
    for (unsigned e = 0; e < elements; ++e) {
        char element[8];
        std::memcpy(element, source + e * size, size);
        for (unsigned i = 0; i < size; ++i)
            destination[e * size + kPermutation[index][i]] = element[i];
    }
    if (source != destination)
        std::memmove(destination + elements * size, source + elements * size, length - elements * size);
    *count = elements;
    return S7_OK;
}

uint32_t CS7Types::TypeName(uint16_t dataType, const char **name) const
{
    if (!name)
        return S7_E_NULL;
    *name = nullptr;
    if (dataType > S7TypeLast || !kTypes[dataType].name)
        return S7_E_TYPE;
    *name = kTypes[dataType].name;
    return S7_OK;
}

const char *CS7Types::AreaText(uint16_t area, bool libraryText) const
{
    if (area > S7AreaLast)
        return nullptr;
    return libraryText ? kAreas[area].libraryText : kAreas[area].parseText;
}

bool CS7Types::TypeCode(const char *name, uint16_t *dataType) const
{
    if (!name || !dataType || !*name)
        return false;
    for (uint16_t code = 0; code <= S7TypeLast; ++code) {
        if (kTypes[code].name && EqualNoCase(kTypes[code].name, name)) {
            *dataType = code;
            return true;
        }
    }
    return false;
}

int CS7Types::BytesPerElement(uint16_t t) const { return t > S7TypeLast ? -1 : kTypes[t].bytes; }
int CS7Types::UnitsPerElement(uint16_t t) const { return t > S7TypeLast ? -1 : kTypes[t].units; }
bool CS7Types::IsBitAddressable(uint16_t t) const { return t <= S7TypeLast && kTypes[t].bitAddressable; }
bool CS7Types::IsSigned(uint16_t t) const { return t <= S7TypeLast && kTypes[t].isSigned; }
bool CS7Types::IsElementAddressable(uint16_t t) const { return t <= S7TypeLast && kTypes[t].elementAddressable; }
uint16_t CS7Types::VariantType(uint16_t t) const { return t > S7TypeLast ? 0 : kTypes[t].variantType; }
int CS7Types::BytesPerUnit(uint16_t a) const { return a > S7AreaLast ? -1 : kAreas[a].bytesPerUnit; }
unsigned CS7Types::ReadLimit(uint16_t a) const { return a > S7AreaLast ? 0 : kAreas[a].readMax; }
unsigned CS7Types::WriteLimit(uint16_t a) const { return a > S7AreaLast ? 0 : kAreas[a].writeMax; }

uint32_t CS7Types::DefaultType(uint16_t area, uint16_t *dataType) const
{
    if (!dataType)
        return S7_E_NULL;
    if (area > S7AreaLast)
        return S7_E_AREA;
    *dataType = kAreas[area].defaultType;
    return S7_OK;
}

uint32_t CS7Types::BytesOfLength(uint16_t area, unsigned length, unsigned *bytes) const
{
    if (!bytes)
        return S7_E_NULL;
    if (area > S7AreaLast)
        return S7_E_AREA;
    *bytes = length * unsigned(kAreas[area].bytesPerUnit);
    return S7_OK;
}

uint32_t CS7Types::AddressesOfBytes(uint16_t area, unsigned bytes, unsigned *addresses,
                                    unsigned *remainder) const
{
    if (!addresses || !remainder)
        return S7_E_NULL;
    if (area > S7AreaLast || kAreas[area].bytesPerUnit <= 0)
        return S7_E_AREA;
    unsigned unit = unsigned(kAreas[area].bytesPerUnit);
    *addresses = bytes / unit;
    *remainder = bytes % unit;
    return S7_OK;
}

uint32_t CS7Types::ElementsOfLength(uint16_t dataType, unsigned length, unsigned *elements) const
{
    if (!elements)
        return S7_E_NULL;
    if (dataType > S7TypeLast || kTypes[dataType].units <= 0)
        return S7_E_TYPE;
    *elements = length / unsigned(kTypes[dataType].units);
    return S7_OK;
}

bool CS7Types::TypeAllowedInArea(uint16_t area, uint16_t dataType) const
{
    if (area > S7AreaLast || dataType > S7TypeLast)
        return false;
    if (dataType == kAreas[area].defaultType)
        return true;
    if (area == S7AreaC || area == S7AreaT || area == S7AreaZ)
        return false;
    return dataType != S7TypeCounter && dataType != S7TypeTimer;
}

const char *const *CS7Types::UserTypeNames(unsigned *count)
{
    if (count)
        *count = sizeof kUserTypeNames / sizeof kUserTypeNames[0];
    return kUserTypeNames;
}
