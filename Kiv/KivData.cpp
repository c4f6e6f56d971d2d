// The exports that move values: reads straight from the block images in the
// store, writes as output records for the server's output thread (control
// items through the server), exception points and the statistics.
#include <math.h>
#include <string.h>
#include <string>
#include "KivLibrary.h"
#include "KivTables.h"
#include "Oxley.h"
#include "S7Types.h"

using kiv::Lib;

namespace {

const CS7Types &Types() { return CS7Types::Instance(); }

void SetStatus(KivStatus *status, uint16_t code)
{
    if (status)
        *status = code;
}

// The store's view of the item's block. The block's own start (first
// internal-address word) and data type describe the image; the item's
// position comes from its address word and element offset.
struct BlockView {
    uint16_t index = 0;
    uint32_t handle = 0;
    uint16_t statusWord = 0;
    uint32_t first = 0;       // bits 0-14 start, 28-31 area
    uint16_t dataType = 0;
    FILETIME time = {0, 0};
    const DataBlockSnapshot *snapshot = nullptr; // what a read took of the block in one call

    uint16_t Start() const { return uint16_t(first & 0x7FFF); }
    uint16_t Area() const { return uint16_t(first >> 28); }
};

bool IsControl(const KivAddress *address) { return address->internalAddress >= KIV_CONTROL_ITEM; }

bool Records(KivBlock *block, KivDevice **device, KivAddress **address)
{
    if (!block || !block->device || !block->address)
        return false;
    *device = block->device;
    *address = block->address;
    return true;
}

bool OwnerMatches(CCommonMemory *store, const KivDevice *device, const KivAddress *address, uint16_t *statusWord)
{
    unsigned long owner = 0;
    unsigned short word = 0;
    if (store->GetDataBlockStatus(address->blockIndex, &word, &owner) != STORE_OK)
        return false;
    *statusWord = word;
    return device->blockHandle != 0 && device->blockHandle == owner;
}

// The block was destroyed and re-created, or the index now names another
// block: the item is parsed again from its canonical text. KIV_E_ADDRESS
// when there is no text; *matches tells whether check() holds afterwards.
template <class Check> uint16_t RevalidateWith(KivBlock *block, KivKind *kind, Check check, bool *matches)
{
    *matches = check();
    if (*matches)
        return KIV_OK;
    char text[KIV_ADDRESS_TEXT];
    KivCopyText(text, sizeof(text), block->address->text);
    if (!text[0])
        return KIV_E_ADDRESS;
    KivStatus parsed = 0;
    kiv_paddr(&parsed, block, kind, text);
    *matches = check();
    return KIV_OK;
}

uint16_t Revalidate(KivBlock *block, KivKind *kind, uint16_t *statusWord, bool *matches)
{
    CCommonMemory *store = kiv::Store();
    return RevalidateWith(
        block, kind, [&] { return OwnerMatches(store, block->device, block->address, statusWord); }, matches);
}

// A read's revalidation: one store call gives the status and owner and, when
// the owner is the item's block, everything else the read needs, setting the
// block's HMI-access flag.
uint16_t RevalidateForRead(KivBlock *block, KivKind *kind, DataBlockSnapshot *snapshot, bool *matches)
{
    CCommonMemory *store = kiv::Store();
    return RevalidateWith(
        block, kind,
        [&] {
            const uint32_t handle = block->device->blockHandle;
            return store->GetDataBlockSnapshot(block->address->blockIndex, handle, snapshot) == STORE_OK &&
                   handle != 0 && snapshot->owner == handle;
        },
        matches);
}

// Start, area, data type and time of the block from a read's snapshot.
bool ViewOfSnapshot(BlockView *view)
{
    const DataBlockSnapshot &snapshot = *view->snapshot;
    if (snapshot.copied < 260)
        return false; // no read time and type word
    view->first = uint32_t(snapshot.first);
    memcpy(&view->time, snapshot.bytes + 250, 8);
    memcpy(&view->dataType, snapshot.bytes + 258, 2);
    return true;
}

// Start, area and data type of the item's block (and the time of its last update).
bool ReadBlock(CCommonMemory *store, BlockView *view)
{
    unsigned long second = 0, first = 0;
    if (store->GetInternalAddress(view->index, &first, &second) != STORE_OK)
        return false;
    view->first = uint32_t(first);
    // The time at 250 and the type at 258 in one take.
    unsigned char tail[10];
    if (store->GetDataBlock(view->index, sizeof(tail), tail, 250, 1) != STORE_OK)
        return false;
    memcpy(&view->time, tail, 8);
    memcpy(&view->dataType, tail + 8, 2);
    return true;
}

// The value type an item is read and written as, and whether it is signed.
void ValueType(const KivDevice *device, uint16_t option, uint16_t blockType, uint16_t *valueType, bool *isSigned)
{
    if (option) {
        *valueType = option;
        *isSigned = (device->optionWord & KIV_OPTION_SIGNED) != 0;
        return;
    }
    *valueType = Types().VariantType(blockType);
    if (*valueType == S7VtEmpty)
        *valueType = S7VtUi1;
    *isSigned = Types().IsSigned(blockType);
}

// The S7 type whose byte order an option's value has in the controller.
uint16_t OptionS7Type(uint16_t valueType)
{
    switch (valueType) {
    case VT_I2: return S7TypeWord;
    case VT_I4: return S7TypeDword;
    case VT_R4: return S7TypeReal;
    default: return S7TypeByte;
    }
}

unsigned ElementBytes(uint16_t valueType)
{
    switch (valueType) {
    case VT_I2: return 2;
    case VT_R4: case VT_I4: return 4;
    default: return 1;
    }
}

// Where an item lies: its offset in address units, and for digital items the bit.
struct Position {
    uint32_t units = 0;     // item offset in the area's address units
    uint16_t bit = 0;
    uint32_t byteOffset = 0; // inside the block image
};

// Fills position for the kind; false when the item does not fit its block.
bool Locate(const KivDevice *device, const KivAddress *address, uint8_t kind, const BlockView &view,
            Position *position)
{
    uint32_t units = device->addressWord & 0x7FFF;
    if (kind == KIV_DIGITAL) {
        const uint32_t bits = (address->internalAddress & 0x0F) + device->elementOffset;
        units += bits / 8;
        position->bit = uint16_t(bits % 8);
    } else {
        units += device->elementOffset;
    }
    position->units = units;
    const int bytesPerUnit = Types().BytesPerUnit(view.Area());
    if (units < view.Start() || bytesPerUnit <= 0 || units - view.Start() >= Types().ReadLimit(view.Area()))
        return false;
    const int unitsPerElement = Types().UnitsPerElement(view.dataType);
    if (units != view.Start() && (unitsPerElement <= 0 || (units - view.Start()) % unsigned(unitsPerElement) != 0))
        return false;
    position->byteOffset = (units - view.Start()) * unsigned(bytesPerUnit);
    return true;
}

bool TextType(uint16_t dataType)
{
    return dataType == S7TypeAscii || dataType == S7TypeChar || dataType == S7TypeByte || dataType == S7TypeString;
}

// Asks the server to lengthen the block to units address units from its start.
void RequestLength(uint32_t handle, uint32_t units)
{
    IQORDriver *server = kiv::Server();
    if (!server)
        return;
    VARIANT name, value, errors;
    VariantInit(&name);
    VariantInit(&value);
    VariantInit(&errors);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(L"Length");
    V_VT(&value) = VT_I4;
    V_I4(&value) = LONG(units);
    server->SetPropertyData(LONG(handle), name, value, &errors);
    VariantClear(&name);
    VariantClear(&errors);
}

uint32_t UnitsOfBytes(const BlockView &view, uint32_t bytes)
{
    const int perUnit = Types().BytesPerUnit(view.Area());
    return perUnit > 0 ? (bytes + unsigned(perUnit) - 1) / unsigned(perUnit) : bytes;
}

bool FloatRefused(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    const uint32_t exponent = (bits >> 23) & 0xFF;
    return exponent == 0xFF || (exponent == 0 && (bits & 0x7FFFFF) != 0);
}

void PutFloat(VARIANT *value, float f)
{
    VariantClear(value);
    V_VT(value) = VT_R4;
    V_R4(value) = f;
}

// value becomes a VT_ARRAY of count elements of type; false when out of memory.
template <class T> bool PutArray(VARIANT *value, VARTYPE type, const T *elements, unsigned count)
{
    SAFEARRAY *array = SafeArrayCreateVector(type, 0, count);
    if (!array)
        return false;
    T *data = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void **>(&data));
    memcpy(data, elements, count * sizeof(T));
    SafeArrayUnaccessData(array);
    V_VT(value) = VARTYPE(VT_ARRAY | type);
    V_ARRAY(value) = array;
    return true;
}

struct ReadRequest {
    KivStatus *status;
    KivDevice *device;
    KivKind *kind;
    BlockView view;
    Position position;
    uint16_t valueType;
    bool isSigned;
    bool converted;      // an option code: the raw bytes are in controller order
    short count;
    uint16_t *quality;
    VARIANT *value;
};

// Reads bytes of the item; STORE_NOT_OPENED when they pass the valid bytes.
unsigned long ReadBytes(const BlockView &view, uint32_t offset, uint32_t length, void *bytes)
{
    if (offset + length > 0xFFFF)
        return STORE_NOT_IN_USE;
    if (view.snapshot && offset + length <= view.snapshot->copied) {
        if (offset + length > view.snapshot->bytesInUse)
            return STORE_NOT_OPENED;
        memcpy(bytes, view.snapshot->bytes + offset, length);
        return STORE_OK;
    }
    return kiv::Store()->GetDataBlock(view.index, uint16_t(length), bytes, uint16_t(offset), 0);
}

void ReadAnalog(ReadRequest &r)
{
    const unsigned elementBytes = ElementBytes(r.valueType);
    const unsigned count = r.count > 1 ? unsigned(r.count) : 1;
    unsigned char raw[256 * 4];
    const uint32_t total = elementBytes * count;
    if (count > 256) {
        SetStatus(r.status, KIV_E_ADDRESS);
        KivClearQuality(r.quality);
        return;
    }
    unsigned long result = ReadBytes(r.view, r.position.byteOffset, total, raw);
    if (result != STORE_OK) {
        // Find the first element that does not lie in the valid bytes.
        unsigned whole = 0;
        while (whole < count &&
               ReadBytes(r.view, r.position.byteOffset + whole * elementBytes, elementBytes, raw) == STORE_OK)
            ++whole;
        KivClearQuality(r.quality);
        if (result == STORE_NOT_OPENED)
            RequestLength(r.view.handle,
                          UnitsOfBytes(r.view, r.position.byteOffset + (whole + 1) * elementBytes));
        else
            SetStatus(r.status, KIV_E_ADDRESS);
        PutFloat(r.value, 0);
        return;
    }
    if (r.converted && elementBytes > 1) {
        unsigned converted = 0;
        if (Types().ConvertData(OptionS7Type(r.valueType), reinterpret_cast<char *>(raw), total,
                                reinterpret_cast<char *>(raw), &converted) != S7_OK) {
            KivClearQuality(r.quality);
            PutFloat(r.value, 0);
            return;
        }
    }
    const bool needSignal = elementBytes <= 2;
    if (needSignal && !kiv::BindSignal()) {
        SetStatus(r.status, KIV_E_SIGNAL);
        r.device->signalIndex = 0;
        PutFloat(r.value, 0);
        return;
    }
    float values[256];
    for (unsigned e = 0; e < count; ++e) {
        const unsigned char *p = raw + e * elementBytes;
        if (elementBytes == 4 && r.valueType == VT_R4) {
            float f;
            memcpy(&f, p, 4);
            if (FloatRefused(f)) {
                *r.quality = uint16_t((*r.quality & 0xFF00) | 0x1F);
                PutFloat(r.value, 0);
                return;
            }
            values[e] = f;
        } else if (elementBytes == 4) {
            uint32_t u;
            memcpy(&u, p, 4);
            values[e] = r.isSigned ? float(int32_t(u)) : float(u);
        } else {
            int rawValue;
            if (elementBytes == 2) {
                uint16_t u;
                memcpy(&u, p, 2);
                rawValue = r.isSigned ? int(int16_t(u)) : int(u);
            } else {
                rawValue = r.isSigned ? int(int8_t(*p)) : int(*p);
            }
            unsigned short q = uint16_t((*r.quality & 0xFF00) | 0xC0);
            float f = 0;
            Lib().signal.input(r.device->signalIndex, r.kind->low, r.kind->span, rawValue, &f,
                               r.isSigned ? int(SIGCOND_FLAG_SIGNED16) : 0, &q);
            if (!KivQualityGood(q))
                *r.quality = q;
            values[e] = f;
        }
    }
    VariantClear(r.value);
    if (count == 1) {
        PutFloat(r.value, values[0]);
        return;
    }
    if (!PutArray(r.value, VT_R4, values, count))
        SetStatus(r.status, KIV_E_SERVER);
}

void ReadDigital(ReadRequest &r)
{
    const unsigned count = r.count > 1 ? unsigned(r.count) : 1;
    const uint32_t bytes = (r.position.bit + count - 1) / 8 + 1;
    unsigned char raw[64];
    if (bytes > sizeof(raw) || ReadBytes(r.view, r.position.byteOffset, bytes, raw) != STORE_OK) {
        SetStatus(r.status, KIV_E_ADDRESS);
        KivClearQuality(r.quality);
        return;
    }
    auto bitAt = [&](unsigned e) -> VARIANT_BOOL {
        const unsigned n = r.position.bit + e;
        return VARIANT_BOOL((raw[n / 8] >> (n % 8)) & 1);
    };
    VariantClear(r.value);
    if (count == 1) {
        V_VT(r.value) = VT_BOOL;
        V_BOOL(r.value) = bitAt(0);
        return;
    }
    VARIANT_BOOL bits[256];
    for (unsigned e = 0; e < count && e < 256; ++e)
        bits[e] = bitAt(e);
    if (count > 256 || !PutArray(r.value, VT_BOOL, bits, count))
        SetStatus(r.status, KIV_E_SERVER);
}

void ReadText(ReadRequest &r)
{
    const unsigned count = r.count > 0 ? unsigned(r.count) : 0;
    char text[258] = "";
    uint32_t offset = r.position.byteOffset;
    if (r.view.dataType == S7TypeString) {
        if (r.position.units != r.view.Start()) {
            SetStatus(r.status, KIV_E_ADDRESS);
            KivClearQuality(r.quality);
            return;
        }
        offset += 2;   // past the maximum and current length bytes
    }
    if (count > 256) {
        SetStatus(r.status, KIV_E_ADDRESS);
        KivClearQuality(r.quality);
        return;
    }
    unsigned long result = count ? ReadBytes(r.view, offset, count, text) : STORE_OK;
    if (result != STORE_OK) {
        KivClearQuality(r.quality);
        if (result == STORE_NOT_OPENED)
            RequestLength(r.view.handle, UnitsOfBytes(r.view, offset + count));
        else
            SetStatus(r.status, KIV_E_ADDRESS);
        text[0] = '\0';
    }
    text[count] = '\0';
    const int wideCount = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    BSTR bstr = SysAllocStringLen(NULL, wideCount > 0 ? wideCount - 1 : 0);
    if (bstr && wideCount > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, bstr, wideCount);
    VariantClear(r.value);
    V_VT(r.value) = VT_BSTR;
    V_BSTR(r.value) = bstr;
}

void ControlValue(uint8_t kind, VARIANT *value)
{
    VariantClear(value);
    if (kind == KIV_DIGITAL) {
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = VARIANT_FALSE;
    } else if (kind == KIV_TEXT) {
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = SysAllocString(L"");
    } else {
        PutFloat(value, 0);
    }
}

BSTR NarrowToBstr(const char *text, int length)
{
    const int wide = MultiByteToWideChar(CP_ACP, 0, text, length, NULL, 0);
    BSTR bstr = SysAllocStringLen(NULL, wide > 0 ? wide : 0);
    if (bstr && wide > 0)
        MultiByteToWideChar(CP_ACP, 0, text, length, bstr, wide);
    return bstr;
}

}  // namespace

extern "C" {

void __cdecl kiv_readEx(KivStatus *status, KivBlock *block, KivKind *kind, FILETIME *time,
                        unsigned short *qualityWord, short count, VARIANT *value, short option)
{
    SetStatus(status, KIV_OK);
    if (status)
        status[1] = 0;
    if (time)
        GetSystemTimeAsFileTime(time);
    unsigned short localQuality = 0;
    uint16_t *quality = qualityWord ? qualityWord : &localQuality;
    VARIANT localValue;
    VariantInit(&localValue);
    if (!value)
        value = &localValue;
    else
        VariantClear(value);
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address) || !kind) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }

    kiv::Store(); // the store object exists from here on, as for every export

    if (IsControl(address)) {
        *quality = uint16_t((*quality & ~0xFCu) | 0xC0);
        ControlValue(kind->kind, value);
        VariantClear(&localValue);
        return;
    }

    ReadRequest r{status, device, kind, BlockView(), Position(), 0, false, option != 0, count, quality, value};
    DataBlockSnapshot snapshot;
    snapshot.status = 0;
    r.view.snapshot = &snapshot;
    bool matches = false;
    uint16_t revalidated = RevalidateForRead(block, kind, &snapshot, &matches);
    *quality = snapshot.status;
    if (revalidated != KIV_OK) {
        SetStatus(status, revalidated);
        return;
    }
    if (!matches) {
        KivClearQuality(quality);
        return;
    }
    // The snapshot set the block's HMI-access flag.
    r.view.index = address->blockIndex;
    r.view.handle = device->blockHandle;
    r.view.statusWord = snapshot.status;
    if (!ViewOfSnapshot(&r.view)) {
        SetStatus(status, KIV_E_ADDRESS);
        KivClearQuality(quality);
        return;
    }
    if (time)
        *time = r.view.time;
    if (Lib().simulation)
        *quality |= 0xC0;
    // A bad quality with substatus 5 still carries the block's last known value.
    if (!KivQualityGood(*quality) && KivSubstatus(*quality) != 5) {
        PutFloat(value, 0);
        return;
    }
    if (option && r.view.dataType != S7TypeByte && r.view.dataType != S7TypeChar) {
        SetStatus(status, KIV_E_ADDRESS);
        KivClearQuality(quality);
        return;
    }
    ValueType(device, uint16_t(option), r.view.dataType, &r.valueType, &r.isSigned);
    bool fits = Locate(device, address, kind->kind, r.view, &r.position);
    if (kind->kind == KIV_DIGITAL && r.valueType != S7VtUi1)
        fits = false;
    if (kind->kind == KIV_TEXT && !TextType(r.view.dataType))
        fits = false;
    if (!fits && kind->kind >= KIV_ANALOG && kind->kind <= KIV_TEXT) {
        SetStatus(status, KIV_E_ADDRESS);
        KivClearQuality(quality);
        return;
    }
    switch (kind->kind) {
    case KIV_ANALOG: ReadAnalog(r); break;
    case KIV_DIGITAL: ReadDigital(r); break;
    case KIV_TEXT: ReadText(r); break;
    default: SetStatus(status, KIV_E_SERVER); return;
    }
    if (!KivQualityGood(*quality) && KivSubstatus(*quality) == 5 && status)
        status[1] = 1;
}

void __cdecl kiv_read(KivStatus *status, KivBlock *block, KivKind *kind, KivValue *value)
{
    SetStatus(status, KIV_OK);
    if (!value || !block || !block->device) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }
    const short count = (kind && kind->kind == KIV_TEXT) ? short(value->length) : 1;
    unsigned short quality = 0;
    VARIANT v;
    VariantInit(&v);
    kiv_readEx(status, block, kind, NULL, &quality, count, &v, short(block->device->optionWord & 0xFFFF));
    value->errorCode = KivHmiCodeOfQuality(uint8_t(quality));
    const bool good = KivQualityGood(quality);
    if (!good && KivSubstatus(quality) != 5) {
        VariantClear(&v);
        V_VT(&v) = VT_R4;
        V_R4(&v) = 0;
    } else if (!good && status) {
        status[1] = 1;
    }
    switch (V_VT(&v)) {
    case VT_R4:
        value->type = KIV_VALUE_FLOAT;
        value->length = 4;
        if (value->value)
            memcpy(value->value, &V_R4(&v), 4);
        break;
    case VT_BSTR: {
        const int capacity = value->length + 1;
        value->type = KIV_VALUE_TEXT;
        if (value->value) {
            char *text = static_cast<char *>(value->value);
            int written = V_BSTR(&v) ? WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, text, capacity, NULL, NULL) : 0;
            text[written > 0 ? written - 1 : 0] = '\0';
            text[capacity - 1] = '\0';
        }
        break;
    }
    case VT_BOOL:
        value->type = KIV_VALUE_BYTE;
        value->length = 1;
        if (value->value)
            *static_cast<uint8_t *>(value->value) = uint8_t(V_BOOL(&v) & 0xFF);
        break;
    default:
        break;
    }
    VariantClear(&v);
}

}  // extern "C"

namespace {

// The bytes of a write, as the record carries them.
struct WriteValue {
    uint8_t bytes[OutputRecord::MaxValueBytes];
    uint32_t length = 0;
};

uint16_t BuildAnalog(KivDevice *device, KivKind *kind, uint16_t valueType, bool isSigned, bool converted,
                     VARIANT *in, unsigned short *quality, WriteValue *out)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, in, 0, VT_R4)))
        return KIV_E_SERVER;
    const float f = V_R4(&v);
    const unsigned bytes = ElementBytes(valueType);
    if (valueType == VT_I4 || valueType == VT_R4) {
        if (valueType == VT_I4) {
            const int32_t i = int32_t(f);
            memcpy(out->bytes, &i, 4);
        } else {
            memcpy(out->bytes, &f, 4);
        }
    } else {
        if (!kiv::BindSignal()) {
            device->signalIndex = 0;
            return KIV_E_SIGNAL;
        }
        int raw = 0;
        Lib().signal.output(device->signalIndex, kind->low, kind->span, f, &raw,
                            isSigned ? int(SIGCOND_FLAG_SIGNED16) : 0, quality);
        if (bytes == 2) {
            const uint16_t word = uint16_t(raw);
            memcpy(out->bytes, &word, 2);
        } else {
            out->bytes[0] = uint8_t(raw);
        }
    }
    out->length = bytes;
    if (converted && bytes > 1) {
        unsigned count = 0;
        if (Types().ConvertData(OptionS7Type(valueType), reinterpret_cast<char *>(out->bytes), bytes,
                                reinterpret_cast<char *>(out->bytes), &count) != S7_OK)
            return KIV_E_SERVER;
    }
    return KIV_OK;
}

uint16_t BuildDigital(VARIANT *in, WriteValue *out)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, in, 0, VT_UI1)))
        return KIV_E_SERVER;
    out->bytes[0] = V_UI1(&v) == 255 ? 1 : V_UI1(&v);
    out->length = 1;
    return KIV_OK;
}

uint16_t BuildText(uint16_t dataType, short count, VARIANT *in, WriteValue *out)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, in, 0, VT_BSTR)))
        return KIV_E_SERVER;
    char text[OutputRecord::MaxValueBytes + 1] = "";
    if (V_BSTR(&v))
        WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, text, sizeof(text) - 1, NULL, NULL);
    text[sizeof(text) - 1] = '\0';
    VariantClear(&v);
    unsigned length = count > 0 ? unsigned(count) : 0;
    memset(out->bytes, 0, sizeof(out->bytes));
    if (dataType == S7TypeString) {
        if (length > OutputRecord::MaxValueBytes - 2)
            length = OutputRecord::MaxValueBytes - 2;
        size_t used = strlen(text);
        if (used > length)
            used = length;
        // Maximum length, then the current length: the controller takes the
        // header's current length as the string's, so it must be the text's.
        out->bytes[0] = uint8_t(length);
        out->bytes[1] = uint8_t(used);
        memcpy(out->bytes + 2, text, used);
        out->length = length + 2;
    } else {
        if (length > OutputRecord::MaxValueBytes)
            length = OutputRecord::MaxValueBytes;
        size_t used = strlen(text);
        memcpy(out->bytes, text, used < length ? used : length);
        out->length = length;
    }
    return KIV_OK;
}

// Control items call the server.
uint16_t SendControl(KivDevice *device, KivAddress *address, const VARIANT &value)
{
    IQORDriver *server = kiv::Server();
    if (!server)
        return KIV_E_SERVER;
    const LONG handle = LONG(device->blockHandle);
    HRESULT hr = E_FAIL;
    const uint32_t type = address->internalAddress >> 28;
    if (type == KIV_CONTROL_SWITCH) {
        hr = server->Switch(handle);
    } else if (type == KIV_CONTROL_POLL) {
        hr = server->Poll(handle);
    } else if (type == KIV_CONTROL_MODE || type == KIV_CONTROL_SEND) {
        VARIANT name, errors;
        VariantInit(&name);
        VariantInit(&errors);
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = SysAllocString(type == KIV_CONTROL_MODE ? L"Enabled" : L"SendBlockWrites");
        hr = server->SetPropertyData(handle, name, value, &errors);
        // A refused property shows in its error element.
        VARIANT element;
        VariantInit(&element);
        if (SUCCEEDED(hr)) {
            if (V_VT(&errors) == VT_ERROR && V_ERROR(&errors) != 0)
                hr = V_ERROR(&errors);
            else if (V_VT(&errors) == (VT_ARRAY | VT_VARIANT)) {
                LONG i = 0;
                if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&errors), &i, &element)) &&
                    ((V_VT(&element) == VT_ERROR && V_ERROR(&element) != S_OK) ||
                     (V_VT(&element) != VT_ERROR && SUCCEEDED(VariantChangeType(&element, &element, 0, VT_I4)) &&
                      V_I4(&element) != 0)))
                    hr = E_FAIL;
            }
        }
        VariantClear(&element);
        VariantClear(&name);
        VariantClear(&errors);
    }
    return SUCCEEDED(hr) ? KIV_OK : KIV_E_SERVER;
}

// Simulation: the write lands in the block image at once.
uint16_t ApplyToImage(const BlockView &view, uint8_t kind, const Position &position, const WriteValue &value)
{
    CCommonMemory *store = kiv::Store();
    if (kind == KIV_DIGITAL) {
        uint8_t byte = 0;
        if (store->GetDataBlock(view.index, 1, &byte, uint16_t(position.byteOffset), 1) != STORE_OK)
            return KIV_E_ADDRESS;
        byte = value.bytes[0] ? uint8_t(byte | (1u << position.bit)) : uint8_t(byte & ~(1u << position.bit));
        return store->SetDataBlock(view.index, 1, &byte, uint16_t(position.byteOffset)) == STORE_OK ? KIV_OK
                                                                                                     : KIV_E_ADDRESS;
    }
    return store->SetDataBlock(view.index, uint16_t(value.length), value.bytes, uint16_t(position.byteOffset)) ==
                   STORE_OK
               ? KIV_OK
               : KIV_E_ADDRESS;
}

}  // namespace

extern "C" {

void __cdecl kiv_sendEx(KivStatus *status, KivBlock *block, KivKind *kind, unsigned short *qualityWord,
                        short count, VARIANT value, short option)
{
    SetStatus(status, KIV_OK);
    unsigned short localQuality = 0;
    uint16_t *quality = qualityWord ? qualityWord : &localQuality;
    *quality |= 0xC0;
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address) || !kind) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }
    CCommonMemory *store = kiv::Store();
    if (IsControl(address)) {
        SetStatus(status, SendControl(device, address, value));
        return;
    }
    BlockView view;
    bool matches = false;
    uint16_t code = Revalidate(block, kind, &view.statusWord, &matches);
    if (code == KIV_OK && !matches)
        code = KIV_E_ADDRESS;
    view.index = address->blockIndex;
    view.handle = device->blockHandle;
    if (code == KIV_OK && !ReadBlock(store, &view))
        code = KIV_E_ADDRESS;
    if (code != KIV_OK) {
        SetStatus(status, code);
        return;
    }
    uint16_t valueType = 0;
    bool isSigned = false;
    ValueType(device, uint16_t(option), view.dataType, &valueType, &isSigned);
    Position position;
    bool fits = Locate(device, address, kind->kind, view, &position);
    if (kind->kind == KIV_ANALOG && option && view.dataType != S7TypeByte && view.dataType != S7TypeChar)
        fits = false;
    if (kind->kind == KIV_DIGITAL && view.dataType != S7TypeByte)
        fits = false;
    if (kind->kind == KIV_TEXT && !TextType(view.dataType))
        fits = false;
    if (kind->kind < KIV_ANALOG || kind->kind > KIV_TEXT) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    if (!fits) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }
    WriteValue bytes;
    switch (kind->kind) {
    case KIV_ANALOG: code = BuildAnalog(device, kind, valueType, isSigned, option != 0, &value, quality, &bytes); break;
    case KIV_DIGITAL: code = BuildDigital(&value, &bytes); break;
    default: code = BuildText(view.dataType, count, &value, &bytes); break;
    }
    if (code != KIV_OK) {
        SetStatus(status, code);
        return;
    }
    if (Lib().simulation) {
        SetStatus(status, ApplyToImage(view, kind->kind, position, bytes));
        return;
    }
    OutputRecord record;
    memset(&record, 0, sizeof(record));
    record.address = (position.units & 0x7FFF) | (device->addressWord & 0x0FFF8000u) | (uint32_t(view.Area()) << 28);
    record.bitAndType = uint32_t(view.dataType) << 4 | (kind->kind == KIV_DIGITAL ? position.bit : 0);
    record.owner = device->blockHandle;
    record.kind = kind->kind;
    record.length = bytes.length;
    memcpy(record.value, bytes.bytes, bytes.length);
    // A record the store refuses never reaches the server: say so.
    if (store->AddOutput(&record) != STORE_OK)
        SetStatus(status, KIV_E_SERVER);
}

void __cdecl kiv_send(KivStatus *status, KivBlock *block, KivKind *kind, KivValue *value)
{
    SetStatus(status, KIV_OK);
    if (!value || !block || !block->device || !value->value) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    VARIANT v;
    VariantInit(&v);
    const void *p = value->value;
    switch (value->type) {
    case KIV_VALUE_TEXT: {
        const char *text = static_cast<const char *>(p);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = NarrowToBstr(text, int(strnlen(text, value->length)));
        break;
    }
    case KIV_VALUE_I2: { int16_t x; memcpy(&x, p, 2); V_VT(&v) = VT_R4; V_R4(&v) = float(x); break; }
    case KIV_VALUE_U2: { uint16_t x; memcpy(&x, p, 2); V_VT(&v) = VT_R4; V_R4(&v) = float(x); break; }
    case KIV_VALUE_FLOAT: { float x; memcpy(&x, p, 4); V_VT(&v) = VT_R4; V_R4(&v) = x; break; }
    case KIV_VALUE_U4: { uint32_t x; memcpy(&x, p, 4); V_VT(&v) = VT_R4; V_R4(&v) = float(x); break; }
    case KIV_VALUE_I4: { int32_t x; memcpy(&x, p, 4); V_VT(&v) = VT_R4; V_R4(&v) = float(x); break; }
    case KIV_VALUE_BYTE: V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_BOOL(*static_cast<const uint8_t *>(p)); break;
    default:
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    const short count = (kind && kind->kind == KIV_TEXT) ? short(value->length) : 1;
    unsigned short quality = 0;
    kiv_sendEx(status, block, kind, &quality, count, v, short(block->device->optionWord & 0xFFFF));
    VariantClear(&v);
    value->errorCode = 0;
}

static void Register(KivStatus *status, KivBlock *block, KivKind *kind, KivException *point, long on,
                     short hmiValue)
{
    SetStatus(status, KIV_OK);
    if (!point)
        return;
    KivDevice *device;
    KivAddress *address;
    if (!Records(block, &device, &address) || !kind) {
        SetStatus(status, KIV_E_ADDRESS);
        return;
    }
    if (!IsControl(address)) {
        uint16_t word = 0;
        bool matches = false;
        uint16_t code = Revalidate(block, kind, &word, &matches);
        if (code != KIV_OK) {
            SetStatus(status, code);
            return;
        }
    }
    IQORDriver *server = kiv::Server();
    HRESULT hr = server ? server->RegisterException(on, LONG(device->blockHandle), LONG(device->addressWord),
                                                    LONG(address->internalAddress), point->tag, short(point->tagId),
                                                    kind->kind, hmiValue)
                        : E_FAIL;
    SetStatus(status, FAILED(hr) ? KIV_E_SERVER : (on ? KIV_ON_OK : KIV_OK));
}

void __cdecl kiv_on(KivStatus *status, KivBlock *block, KivKind *kind, KivException *point, short hmiValue)
{
    Register(status, block, kind, point, 1, hmiValue);
}

void __cdecl kiv_off(KivStatus *status, KivBlock *block, KivKind *kind, KivException *point)
{
    Register(status, block, kind, point, 0, 0);
}

void __cdecl kiv_fetch(void *, void *, KivException *points, short maximum, short *count)
{
    if (count)
        *count = 0;
    if (!points || !count || maximum <= 0)
        return;
    CCommonMemory *store = kiv::Store();
    unsigned long queued = 0;
    if (store->GetExceptionCount(&queued) != STORE_OK)
        return;
    if (queued > unsigned(maximum))
        queued = unsigned(maximum);
    for (unsigned long i = 0; i < queued; ++i) {
        ExceptionRecord record;
        // Another reader may have drained the queue since the count: stop
        // at "empty" (or any failure) instead of reporting a stale record.
        if (store->GetExceptionHead(&record) != STORE_OK)
            break;
        points[*count].tag = record.tag;
        points[*count].tagId = record.id;
        ++*count;
    }
}

static const int kStatWords[kiv::StatCount] = {1, 2, 3, 4, 5, 17};

// True when every error element is 0 up to the array's end.
static bool ErrorsClear(VARIANT *errors, VARIANT *values, KivStats *stats)
{
    if (V_VT(errors) != (VT_ARRAY | VT_VARIANT))
        return false;
    for (LONG i = 0;; ++i) {
        VARIANT element;
        VariantInit(&element);
        HRESULT hr = SafeArrayGetElement(V_ARRAY(errors), &i, &element);
        if (hr == DISP_E_BADINDEX)
            return true;
        if (FAILED(hr))
            return false;
        const bool clear = V_VT(&element) == VT_ERROR ? V_ERROR(&element) == S_OK
                                                      : SUCCEEDED(VariantChangeType(&element, &element, 0, VT_I4)) &&
                                                            V_I4(&element) == 0;
        VariantClear(&element);
        if (!clear)
            return false;
        if (stats && i < kiv::StatCount && V_VT(values) == (VT_ARRAY | VT_VARIANT)) {
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(values), &i, &v)) &&
                SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
                stats->word[kStatWords[i]] = uint16_t(V_I4(&v) & 0xFFFF);
            VariantClear(&v);
        }
    }
}

void __cdecl kiv_read_stats(KivStatus *status, void *, short selector, void *, KivStats *stats)
{
    SetStatus(status, KIV_OK);
    if (selector != 0 || !stats) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    memset(stats, 0, sizeof(*stats));
    IQORDriver *server = kiv::Server();
    if (!server) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    VARIANT values, errors;
    VariantInit(&values);
    VariantInit(&errors);
    HRESULT hr = server->GetPropertyData(0, Lib().statNames, &values, &errors);
    if (FAILED(hr) || !ErrorsClear(&errors, &values, stats))
        SetStatus(status, KIV_E_SERVER);
    VariantClear(&values);
    VariantClear(&errors);
}

void __cdecl kiv_reset_stats(KivStatus *status, void *, short selector)
{
    SetStatus(status, KIV_OK);
    IQORDriver *server = selector == 0 ? kiv::Server() : nullptr;
    if (!server) {
        SetStatus(status, KIV_E_SERVER);
        return;
    }
    VARIANT errors;
    VariantInit(&errors);
    HRESULT hr = server->SetPropertyData(0, Lib().statNames, Lib().statZeros, &errors);
    if (FAILED(hr) || !ErrorsClear(&errors, nullptr, nullptr))
        SetStatus(status, KIV_E_SERVER);
    VariantClear(&errors);
}

}  // extern "C"
