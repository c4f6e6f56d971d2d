#include "ItemIdCheck.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Brisko.h"
#include "OpcDataAccess.h"
#include "Oxley.h"

std::string TrimBlanks(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

const char *ParsedAddress(const std::string &address, bool digital)
{
    const char *parsed = address.c_str() + (digital ? 1 : 0);
    return parsed[std::strspn(parsed, " \t")] ? parsed : nullptr;
}

namespace {

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsNone(const std::string &text) { return text.empty() || lstrcmpiA(text.c_str(), "None") == 0; }

}  // namespace

HRESULT CItemIdCheck::Parse(const char *itemId)
{
    m_blockHandle = 0;
    std::string id = Upper(TrimBlanks(itemId ? itemId : ""));
    if (id.empty())
        return OPC_E_INVALIDITEMID;
    m_signal = g_strSignalConditioning;
    m_lo = g_strLoEGU;
    m_hi = g_strHiEGU;
    m_options = g_strHardwareOptions;
    size_t bar = id.find('|');
    m_address = id.substr(0, bar);
    if (bar != std::string::npos) {
        // Up to four parts; the last takes the rest, commas included. A part
        // that is there but empty is empty; a missing one keeps its default.
        std::string *parts[] = {&m_signal, &m_lo, &m_hi, &m_options};
        size_t start = bar + 1;
        for (int i = 0; i < 4; ++i) {
            size_t comma = i < 3 ? id.find(',', start) : std::string::npos;
            *parts[i] = id.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    m_digital = !m_address.empty() && m_address[0] == '!';

    KivDevice device = {};
    KivAddress address = {};
    KivBlock block = {};
    block.device = &device;
    block.address = &address;
    KivKind kind = {};
    kind.kind = m_digital ? KIV_DIGITAL : KIV_ANALOG;
    kind.count = 1;
    kind.low = float(std::atof(m_lo.c_str()));
    kind.span = float(std::atof(m_hi.c_str())) - kind.low;
    const char *parsed = ParsedAddress(m_address, m_digital);
    if (!parsed)
        return OPC_E_INVALIDITEMID;
    KivStatus status = KIV_OK;
    kiv_paddr(&status, &block, &kind, parsed);
    if (status != KIV_OK)
        return OPC_E_INVALIDITEMID;
    if (m_digital) {
        if (!IsNone(m_signal))
            return OPC_E_INVALIDITEMID;
    } else {
        kiv_psig(&status, &block, nullptr, m_signal.c_str());
        if (status != KIV_OK)
            return OPC_E_INVALIDITEMID;
    }
    kiv_popt(&status, &block, nullptr, m_options.c_str());
    if (status != KIV_OK)
        return OPC_E_INVALIDITEMID;
    m_blockHandle = LONG(device.blockHandle);
    return S_OK;
}

std::string CItemIdCheck::FullItemID() const
{
    return m_address + "|" + (m_digital ? std::string() : m_signal) + "," + m_lo + "," + m_hi + "," + m_options;
}
