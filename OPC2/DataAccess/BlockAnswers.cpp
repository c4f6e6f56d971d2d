#include "BlockAnswers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "OpcKit.h"
#include "Registration.h"
#include "Registry.h"

namespace {

const CS7Types &Types() { return CS7Types::Instance(); }

// The server names items by the kind byte that Oxley puts in the item word.
static_assert(int(KIV_DIGITAL) == int(S7ItemDigital) && int(KIV_TEXT) == int(S7ItemText), "item kinds differ");

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Element i of a property array as the server answers it (an array of
// VARIANTs, or of plain 16-bit values; a single value is element 0).
bool Element(VARIANT &values, LONG i, VARIANT *element)
{
    VariantInit(element);
    if (!(V_VT(&values) & VT_ARRAY))
        return i == 0 && SUCCEEDED(VariantCopy(element, &values));
    if (!V_ARRAY(&values))
        return false;
    LONG first = 0;
    SafeArrayGetLBound(V_ARRAY(&values), 1, &first);
    LONG at = first + i;
    switch (V_VT(&values) & VT_TYPEMASK) {
    case VT_VARIANT:
        return SUCCEEDED(SafeArrayGetElement(V_ARRAY(&values), &at, element));
    case VT_I2:
        V_VT(element) = VT_I2;
        return SUCCEEDED(SafeArrayGetElement(V_ARRAY(&values), &at, &V_I2(element)));
    default:
        return false;
    }
}

bool AddressOf(VARIANT &text, S7Address *address)
{
    if (FAILED(VariantChangeType(&text, &text, 0, VT_BSTR)) || !V_BSTR(&text))
        return false;
    char narrow[64] = "";
    WideCharToMultiByte(CP_ACP, 0, V_BSTR(&text), -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    return Types().ParseAddress(narrow, address, false) == S7_OK;
}

}  // namespace

CBlockAnswers::CBlockAnswers(IDriver *driver) : m_driver(driver)
{
    if (m_driver)
        m_driver->AddRef();
    // The server parses an address as a data block made with its defaults,
    // whose type is the default data-block type where a block may have it.
    DWORD type = 0;
    if (QueryRegistryValue(QOR_DRIVER_KEY, "DataBlockDefaults", "DataBlockDataType", &type, REG_DWORD) &&
        type <= S7TypeLast && Types().TypeAllowedInArea(S7AreaNone, uint16_t(type)) &&
        Types().UnitsPerElement(uint16_t(type)) >= 1)
        m_defaultType = uint16_t(type);
}

CBlockAnswers::~CBlockAnswers()
{
    if (m_driver)
        m_driver->Release();
}

unsigned CBlockAnswers::ParsedWidth(uint16_t area) const
{
    uint16_t type = m_defaultType;
    if (Types().TypeInArea(area, type, &type) != S7_OK)
        return 0;
    int units = Types().UnitsPerElement(type);
    return units > 0 ? unsigned(units) : 0;
}

bool CBlockAnswers::Read(const char *text, Position *position)
{
    // A data address of a named device, as the server reads it; control
    // names are left to the server.
    const S7HmiAddress hmi = CS7Types::ReadHmiAddress(text);
    if (hmi.IsControl() || !hmi.separated || hmi.device.empty())
        return false;
    position->device = Upper(hmi.device);
    const char *rest = hmi.position.c_str();
    if (Types().ParseAddress(rest, &position->address, false) != S7_OK)
        return false;
    // The server refuses a bit where its default data type has none; the
    // same shape of address is accepted or refused alike.
    S7Address probe;
    probe.dataType = S7TypeWord;
    position->bit = Types().ParseAddress(rest, &probe, true) != S7_OK;
    return true;
}

CBlockAnswers::Block &CBlockAnswers::Ask(LONG handle)
{
    Block &block = m_blocks[handle];
    if (block.asked || !m_driver)
        return block;
    block.asked = true;
    block.hasType = block.hasExtent = false;
    ++m_asked;
    static const char *const names[] = {"OPCDataType", "StartAddress", "EndAddress", "DataType"};
    VARIANT list, values, errors;
    VariantInit(&values);
    VariantInit(&errors);
    if (FAILED(CreateNameArray(names, 4, &list)))
        return block;
    if (SUCCEEDED(m_driver->GetPropertyData(handle, list, &values, &errors))) {
        VARIANT type, start, end, dataType;
        for (VARIANT *v : {&type, &start, &end, &dataType})
            VariantInit(v);
        if (Element(values, 0, &type) && V_VT(&type) == VT_I2) {
            block.hasType = true;
            block.type = VARTYPE(V_I2(&type));
        }
        S7Address from, to;
        if (Element(values, 1, &start) && Element(values, 2, &end) && Element(values, 3, &dataType) &&
            AddressOf(start, &from) && AddressOf(end, &to) &&
            SUCCEEDED(VariantChangeType(&dataType, &dataType, 0, VT_I2)) && from.area == to.area &&
            from.dbNumber == to.dbNumber && to.start >= from.start) {
            block.extent = from;
            block.extent.length = uint16_t(to.start - from.start + 1);
            block.extent.dataType = uint16_t(V_I2(&dataType));
            block.hasExtent = true;
        }
        for (VARIANT *v : {&type, &start, &end, &dataType})
            VariantClear(v);
    }
    VariantClear(&list);
    VariantClear(&values);
    VariantClear(&errors);
    return block;
}

bool CBlockAnswers::BlockType(LONG handle, VARTYPE *type)
{
    Block &block = Ask(handle);
    if (block.hasType)
        *type = block.type;
    return block.hasType;
}

void CBlockAnswers::Learn(const char *text, BYTE kind, const KivBlock &block)
{
    Position position;
    const KivDevice &device = *block.device;
    const KivAddress &address = *block.address;
    if (!Read(text, &position) || device.blockHandle == 0 || address.internalAddress >= KIV_CONTROL_ITEM)
        return;
    Device &known = m_devices[{position.device, position.bit}];
    known.reference = device.deviceReference;
    // Digital and text items come back as the server's device name, ':' and
    // the position.
    if (CS7Types::NamesItem(kind)) {
        const char *colon = std::strchr(address.text, ':');
        if (colon)
            known.name.assign(address.text, colon);
    }
    LONG handle = LONG(device.blockHandle);
    if (std::find(known.blocks.begin(), known.blocks.end(), handle) == known.blocks.end())
        known.blocks.push_back(handle);
    Block &b = m_blocks[handle];
    b.index = address.blockIndex;
    b.asked = false;  // the parse may have moved the block's ends
}

bool CBlockAnswers::Answer(const char *text, BYTE kind, KivBlock *block)
{
    Position position;
    if (!m_driver || !Read(text, &position))
        return false;
    auto found = m_devices.find({position.device, position.bit});
    if (found == m_devices.end())
        return false;
    const Device &device = found->second;
    const bool named = CS7Types::NamesItem(kind);
    if (named && device.name.empty())
        return false;
    const S7Address &x = position.address;
    const unsigned width = ParsedWidth(x.area);
    for (LONG handle : device.blocks) {
        Block &b = Ask(handle);
        const S7Address &e = b.extent;
        unsigned end = unsigned(e.start) + e.length;
        // The server joins an address to the first block that the parsed
        // element overlaps: inside one block that is the block itself, since
        // the blocks of a device never overlap. It answers only on the
        // block's element boundaries, for an element that the block holds.
        if (!b.hasExtent || e.area != x.area || e.dbNumber != x.dbNumber || width < 1 || x.start < e.start ||
            x.start + width > end)
            continue;
        const unsigned units = Types().ElementAt(e, long(x.start));
        if (units == 0 || x.start + units > end)
            continue;
        KivDevice &d = *block->device;
        KivAddress &a = *block->address;
        d.blockHandle = uint32_t(handle);
        d.addressWord = CS7Types::AddressWord(x);
        d.deviceReference = device.reference;
        a.internalAddress = x.bit;
        a.blockIndex = b.index;
        // The server formats digital and text items; for others it answers
        // its hint, and Oxley keeps the text as given.
        std::string canonical;
        if (named) {
            S7Address at = e;
            at.start = x.start;
            at.bit = x.bit;
            Types().FormatItemName(device.name, at, kind, canonical);
        } else {
            canonical = text + std::strspn(text, " \t");
        }
        size_t n = std::min(canonical.size(), size_t(KIV_ADDRESS_TEXT - 1));
        std::memcpy(a.text, canonical.data(), n);
        a.text[n] = '\0';
        ++m_answered;
        return true;
    }
    return false;
}
