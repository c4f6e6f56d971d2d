// Automation reads of a data block: values taken from the store's image of
// the block, conditioned like the HMI's, and the raw bytes in use.
#include "DataBlock.h"
#include "DataBlockSignal.h"
#include "Store.h"
#include <algorithm>
#include <cstring>

namespace {

const CS7Types &Types() { return CS7Types::Instance(); }

// A VT_ARRAY | VT_VARIANT of count elements into out.
bool MakeArray(VARIANT *out, LONG count, SAFEARRAY **array)
{
    VariantInit(out);
    *array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(count));
    if (!*array)
        return false;
    V_VT(out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out) = *array;
    return true;
}

void PutElement(SAFEARRAY *array, LONG index, VARIANT *value)
{
    SafeArrayPutElement(array, &index, value);
    VariantClear(value);
}

template <class T> T Load(const unsigned char *p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

LONG CDataBlock::ReadData(VARTYPE wanted, LONG first, LONG bit, LONG count, unsigned sigCond, float high, float low,
                          VARIANT *times, VARIANT *statuses, VARIANT *values)
{
    if (!times || !statuses || !values)
        return E_POINTER;
    VariantInit(times);
    VariantInit(statuses);
    VariantInit(values);
    if (!m_valid)
        return E_FAIL;
    S7Address address;
    unsigned inUse;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        address = m_address;
        inUse = std::min(BytesInUse(), unsigned(kImageDataBytes));
    }
    CCommonMemory *store = ServerStore();
    unsigned char image[kImageSize] = {};
    unsigned short status = 0;
    if (store->GetDataBlock(m_index, kImageSize, image, 0, 1) != STORE_OK ||
        store->GetDataBlockStatus(m_index, &status, nullptr) != STORE_OK)
        return E_FAIL;
    // An automation read keeps the block at its primary rate, as an HMI read does.
    store->SetKIVAccess(m_index, 1);

    const uint16_t type = address.dataType;
    const int units = Types().UnitsPerElement(type);
    const int size = Types().BytesPerElement(type);
    if (first < 0 || first >= LONG(address.length) || count == 0 || units < 1 || size < 1)
        return 1;
    if (first != 0 && (type == S7TypeString || first % units != 0))
        return 1;
    if (wanted == VT_BOOL && (!Types().IsBitAddressable(type) || bit < 0 || bit > 7))
        return 1;
    // The values come from the bytes in use only: an element that would run
    // past them is not there.
    const LONG elements = LONG(inUse) / size;
    if (first >= elements)
        return 1;
    if (count < 0 || count > elements - first)
        count = elements - first;
    const bool text = type == S7TypeAscii || type == S7TypeString;
    const LONG slots = text ? 1 : count;

    FILETIME stamp;
    memcpy(&stamp, image + kImageTimeOffset, sizeof stamp);
    SAFEARRAY *timeArray, *statusArray, *valueArray;
    if (!MakeArray(times, slots, &timeArray) || !MakeArray(statuses, slots, &statusArray) ||
        !MakeArray(values, slots, &valueArray)) {
        VariantClear(times);
        VariantClear(statuses);
        VariantClear(values);
        return E_OUTOFMEMORY;
    }

    PFN_InputSigCond32 condition = nullptr;
    const bool conditioned = wanted != VT_BOOL &&
                             (type == S7TypeInt || type == S7TypeWord || type == S7TypeCounter ||
                              type == S7TypeTimer || type == S7TypeBit || type == S7TypeChar || type == S7TypeByte);
    if (conditioned)
        condition = SignalInputFunction();
    for (LONG i = 0; i < slots; ++i) {
        const unsigned char *p = image + (first + i) * size;
        unsigned short quality = status;
        VARIANT v;
        VariantInit(&v);
        if (text) {
            const char *start = reinterpret_cast<const char *>(image + first);
            size_t length = size_t(count);
            if (type == S7TypeString) {
                start = reinterpret_cast<const char *>(image + 2);
                length = inUse > 2 ? std::min<size_t>(image[1], inUse - 2) : 0;
            }
            ConfigValue::PutText(&v, std::string(start, strnlen(start, length)));
        } else if (wanted == VT_BOOL) {
            V_VT(&v) = VT_BOOL;
            V_BOOL(&v) = VARIANT_BOOL((p[0] >> bit) & 1);
        } else if (conditioned) {
            int raw;
            switch (type) {
            case S7TypeInt: raw = Load<int16_t>(p); break;
            case S7TypeChar: raw = Load<int8_t>(p); break;
            case S7TypeWord:
            case S7TypeCounter:
            case S7TypeTimer: raw = Load<uint16_t>(p); break;
            default: raw = p[0]; break;
            }
            float value = float(raw);
            // The conversion marks its input good before judging the value, so
            // it gets a good word of its own: the block's word may say the
            // data is bad or was never read, and that must reach the caller.
            unsigned short converted = uint16_t((status & 0xFF00) | 0xC0);
            if (condition)
                condition(sigCond, low, high - low, raw, &value,
                          type == S7TypeInt ? int(SIGCOND_FLAG_SIGNED16) : 0, &converted);
            else
                converted = uint16_t((status & 0xFF00) | 0x04);   // bad: configuration error
            if ((status & 0xC0) == 0xC0)
                quality = converted;
            ConfigValue::PutR4(&v, value);
        } else if (type == S7TypeReal) {
            ConfigValue::PutR4(&v, Load<float>(p));
        } else {
            ConfigValue::PutI4(&v, Load<LONG>(p));
        }
        PutElement(valueArray, i, &v);
        VARIANT t, s;
        ConfigValue::PutTime(&t, stamp);
        PutElement(timeArray, i, &t);
        ConfigValue::PutI2(&s, SHORT(quality));
        PutElement(statusArray, i, &s);
    }
    return 0;
}

HRESULT CDataBlock::GetRawDataBlockContent(VARIANT *bytes)
{
    if (!bytes)
        return E_POINTER;
    VariantInit(bytes);
    unsigned inUse;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        inUse = std::min(BytesInUse(), unsigned(kImageDataBytes));
    }
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, inUse);
    if (!array)
        return E_OUTOFMEMORY;
    void *data = nullptr;
    HRESULT hr = SafeArrayAccessData(array, &data);
    if (SUCCEEDED(hr)) {
        if (inUse && (!m_valid || ServerStore()->GetDataBlock(m_index, static_cast<unsigned short>(inUse), data, 0, 1) !=
                                      STORE_OK))
            hr = E_FAIL;
        SafeArrayUnaccessData(array);
    }
    if (FAILED(hr)) {
        SafeArrayDestroy(array);
        return hr;
    }
    V_VT(bytes) = VT_ARRAY | VT_UI1;
    V_ARRAY(bytes) = array;
    return S_OK;
}
