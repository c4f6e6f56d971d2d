#include "DataMonitor.h"
#include <cctype>
#include <cstdio>
#include <cstring>
#include "BstrText.h"

const char CDataMonitor::TitlePrefix[] = "Data Monitor for ";

const MonitorFormatInfo MonitorFormats[FormatCount] = {
    {"Byte", 8, 16},   {"Char", 8, 10},  {"Hex", 8, 20},   {"Decimal", 16, 8}, {"Word", 16, 10}, {"Float", 32, 4},
    {"Long", 32, 5},   {"DWord", 32, 5}, {"Octal", 16, 8}, {"ASCII", 8, 30},   {"Digital", 8, 7},
};

namespace {

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
};

SAFEARRAY *OneElementArray(VARTYPE type)
{
    SAFEARRAYBOUND bound = {1, 0};
    return SafeArrayCreate(type, 1, &bound);
}

// One item of a format at p, bytes least significant first; only the
// format's own width is read (the last item may end the data).
std::string Item(const unsigned char *p, int format)
{
    char text[64] = "";
    const int bytes = MonitorFormats[format].bits / 8;
    uint16_t u16 = bytes >= 2 ? uint16_t(p[0] | p[1] << 8) : 0;
    uint32_t u32 = bytes >= 4 ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24 : 0;
    switch (format) {
    case FormatByte: snprintf(text, sizeof text, "%3d ", p[0]); break;
    case FormatChar: snprintf(text, sizeof text, "%+04d  ", int(static_cast<signed char>(p[0]))); break;
    case FormatHex: snprintf(text, sizeof text, "%02X ", p[0]); break;
    case FormatDecimal: snprintf(text, sizeof text, "%+6hd  ", static_cast<short>(u16)); break;
    case FormatWord: snprintf(text, sizeof text, "%5hu ", u16); break;
    case FormatFloat: {
        float f;
        memcpy(&f, &u32, 4);
        snprintf(text, sizeof text, "%14.7g ", double(f));
        break;
    }
    case FormatLong: snprintf(text, sizeof text, "%+11ld ", long(int32_t(u32))); break;
    case FormatDWord: snprintf(text, sizeof text, "%11lu ", static_cast<unsigned long>(u32)); break;
    case FormatOctal: snprintf(text, sizeof text, "%6ho ", u16); break;
    case FormatAscii: {
        unsigned char c = p[0];
        text[0] = (c == 0 || c >= 0x80) ? ' ' : char(c & 0x7F);
        text[1] = 0;
        break;
    }
    case FormatDigital:
        for (int bit = 7; bit >= 0; --bit)
            text[7 - bit] = (p[0] >> bit) & 1 ? '1' : '0';
        text[8] = ' ';
        text[9] = 0;
        break;
    }
    return text;
}

} // namespace

MonitorLabel MonitorLabel::Parse(const std::string &text)
{
    MonitorLabel label;
    size_t comma = text.find(',');
    size_t rest;
    if (comma != std::string::npos) {
        label.prefix = text.substr(0, comma + 1);
        rest = comma + 1;
    } else {
        rest = 0;
        while (rest < text.size() && !isdigit(static_cast<unsigned char>(text[rest])))
            ++rest;
        label.prefix = text.substr(0, rest);
    }
    // A decimal number, then an optional word, read as the C library's
    // "%d%s" would read them.
    size_t at = rest;
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at])))
        ++at;
    size_t numberStart = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    size_t digits = at;
    while (at < text.size() && isdigit(static_cast<unsigned char>(text[at])))
        ++at;
    if (at == digits)
        return label;
    label.hasNumber = true;
    label.base = strtol(text.substr(numberStart, at - numberStart).c_str(), nullptr, 10);
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at])))
        ++at;
    size_t wordEnd = at;
    while (wordEnd < text.size() && !isspace(static_cast<unsigned char>(text[wordEnd])))
        ++wordEnd;
    label.word = text.substr(at, wordEnd - at);
    return label;
}

std::string MonitorLabel::Format(long offset) const
{
    std::string text = prefix;
    if (hasNumber) {
        char number[32];
        snprintf(number, sizeof number, "%.4ld", base + offset);
        text += number;
        text += word;
    }
    return text + " | ";
}

std::vector<std::string> CDataMonitor::BuildLines(const unsigned char *bytes, size_t count, int format,
                                                  const MonitorLabel &label)
{
    std::vector<std::string> lines;
    if (format < 0 || format >= FormatCount)
        format = FormatByte;
    const MonitorFormatInfo &info = MonitorFormats[format];
    const size_t validBits = count * 8;
    size_t bit = 0;
    while (bit < validBits) {
        std::string line = label.Format(long(bit / 8));
        // An item is shown only when all its bytes are there.
        for (int item = 0; item < info.perLine && bit + info.bits <= validBits; ++item) {
            line += Item(bytes + bit / 8, format);
            bit += size_t(info.bits);
        }
        if (bit + info.bits > validBits)
            bit = validBits;
        lines.push_back(line);
    }
    return lines;
}

bool CDataMonitor::ReadProperty(const char *name, VARIANT &value)
{
    if (!m_server)
        return false;
    Variant names, values, errors;
    V_VT(&names.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&names.v) = OneElementArray(VT_VARIANT);
    V_VT(&values.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&values.v) = OneElementArray(VT_VARIANT);
    V_VT(&errors.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&errors.v) = OneElementArray(VT_VARIANT);
    if (!V_ARRAY(&names.v) || !V_ARRAY(&values.v) || !V_ARRAY(&errors.v))
        return false;
    Variant element;
    V_VT(&element.v) = VT_BSTR;
    V_BSTR(&element.v) = ToBstr(name);
    LONG index = 0;
    SafeArrayPutElement(V_ARRAY(&names.v), &index, &element.v);
    if (m_server->GetPropertyData(m_handle, names.v, &values.v, &errors.v) != S_OK)
        return false;
    return SUCCEEDED(SafeArrayGetElement(V_ARRAY(&values.v), &index, &value));
}

bool CDataMonitor::LocalTimeText(const VARIANT &value, std::string &text)
{
    if (V_VT(&value) != VT_DATE)
        return false;
    SYSTEMTIME utc, local;
    FILETIME fileUtc, fileLocal;
    if (!VariantTimeToSystemTime(V_DATE(&value), &utc) || !SystemTimeToFileTime(&utc, &fileUtc) ||
        !FileTimeToLocalFileTime(&fileUtc, &fileLocal) || !FileTimeToSystemTime(&fileLocal, &local))
        return false;
    local.wMilliseconds = 0;
    Variant shown;
    V_VT(&shown.v) = VT_DATE;
    if (!SystemTimeToVariantTime(&local, &V_DATE(&shown.v)) ||
        FAILED(VariantChangeType(&shown.v, &shown.v, 0, VT_BSTR)))
        return false;
    text = FromBstr(V_BSTR(&shown.v));
    return true;
}

void CDataMonitor::ReadTimeInto(const char *name, std::string &field)
{
    Variant value;
    if (ReadProperty(name, value.v))
        LocalTimeText(value.v, field);
}

void CDataMonitor::Open()
{
    m_format = FormatByte;
    m_lines.reserve(32);
    Variant name, description, start, registerSize, length;
    if (ReadProperty("Name", name.v) && SUCCEEDED(VariantChangeType(&name.v, &name.v, 0, VT_BSTR)))
        m_name = FromBstr(V_BSTR(&name.v));
    if (ReadProperty("Description", description.v) &&
        SUCCEEDED(VariantChangeType(&description.v, &description.v, 0, VT_BSTR)))
        m_description = FromBstr(V_BSTR(&description.v));
    if (ReadProperty("StartAddress", start.v) && SUCCEEDED(VariantChangeType(&start.v, &start.v, 0, VT_BSTR)))
        m_startAddress = FromBstr(V_BSTR(&start.v));
    // Read for the server's sake of order; the display shows bytes whatever
    // the block's register size.
    ReadProperty("RegisterSize", registerSize.v);
    ReadProperty("Length", length.v);
    m_elementBits = 8;
    m_label = MonitorLabel::Parse(m_startAddress);
}

bool CDataMonitor::Refresh()
{
    ReadTimeInto("ReadTime", m_readTime);
    ReadTimeInto("WriteTime", m_writeTime);
    ReadTimeInto("ErrorTime", m_errorTime);
    {
        Variant quality;
        if (ReadProperty("QualityString", quality.v) && V_VT(&quality.v) == VT_BSTR)
            m_quality = FromBstr(V_BSTR(&quality.v));
    }
    if (!m_server)
        return false;
    Variant content;
    if (FAILED(m_server->GetRawDataBlockContent(m_handle, &content.v)))
        return false;
    size_t count = 0;
    if ((V_VT(&content.v) & VT_ARRAY) && V_ARRAY(&content.v) && SafeArrayGetDim(V_ARRAY(&content.v)) == 1 &&
        SafeArrayGetElemsize(V_ARRAY(&content.v)) == 1) {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(V_ARRAY(&content.v), 1, &lower);
        SafeArrayGetUBound(V_ARRAY(&content.v), 1, &upper);
        // Never more than the buffer holds, and only what was copied counts.
        count = upper >= lower ? size_t(upper - lower + 1) : 0;
        if (count > BufferSize)
            count = BufferSize;
        void *data = nullptr;
        if (count && SUCCEEDED(SafeArrayAccessData(V_ARRAY(&content.v), &data))) {
            memcpy(m_buffer, data, count);
            SafeArrayUnaccessData(V_ARRAY(&content.v));
        } else {
            count = 0;
        }
    }
    m_validBits = count * 8;
    m_lines = BuildLines(m_buffer, count, m_format, m_label);
    return true;
}
