#include "ConfigObject.h"
#include "Driver.h"
#include "Duration.h"
#include "EventCode.h"
#include "HmiAlarm.h"
#include "Registry.h"
#include "S7Types.h"
#include "ServerMsg.h"
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mbstring.h>

QOR_IMPLEMENT_DYNAMIC(CConfigObject, CObject)

namespace {

int CompareNoCase(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        int ca = toupper((unsigned char)*a), cb = toupper((unsigned char)*b);
        if (ca != cb || !ca)
            return ca - cb;
    }
}

std::atomic<HmiAlarmLineFn> g_alarmLine{nullptr};
std::atomic<bool> g_importing{false};


void SetResult(VARIANT *result, LONG code)
{
    if (!result)
        return;
    VariantClear(result);
    V_VT(result) = VT_ERROR;
    V_ERROR(result) = code;
}

} // namespace

CPropertyTable::CPropertyTable(std::initializer_list<PropertyInfo> entries,
                               std::initializer_list<const char *> configurable)
    : m_sorted(entries), m_configurable(configurable)
{
    // Sorted here, once, so that the search never depends on the order in
    // which the names were written down.
    std::sort(m_sorted.begin(), m_sorted.end(), [](const PropertyInfo &a, const PropertyInfo &b) {
        return CompareNoCase(a.name, b.name) < 0;
    });
}

const PropertyInfo *CPropertyTable::Find(const char *name) const
{
    size_t low = 0, high = m_sorted.size();
    while (low < high) {
        size_t mid = (low + high) / 2;
        int c = CompareNoCase(name, m_sorted[mid].name);
        if (c == 0)
            return &m_sorted[mid];
        if (c < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
}

void SetConfigHmiAlarmLine(HmiAlarmLineFn send) { g_alarmLine = send; }

void SendConfigHmiAlarmLine(const char *text, const char *source)
{
    if (HmiAlarmLineFn send = g_alarmLine.load())
        send(text, source);
    else
        SendHmiAlarm(text, source);
}

void SetConfigImporting(bool importing) { g_importing = importing; }
bool IsConfigImporting() { return g_importing; }

CConfigObject::~CConfigObject() = default;

bool CConfigObject::NameEquals(const char *text) const
{
    return text && _mbsicmp((const unsigned char *)m_name.c_str(), (const unsigned char *)text) == 0;
}

LONG CConfigObject::GetPropertyNames(SAFEARRAY *names, BOOL configurableOnly)
{
    std::vector<const char *> list;
    if (configurableOnly && !Properties().Configurable().empty())
        list = Properties().Configurable();
    else
        for (const PropertyInfo &info : Properties().Sorted())
            list.push_back(info.name);
    for (size_t i = 0; i < list.size(); ++i) {
        BSTR name = SysAllocString(ConfigValue::Widen(list[i]).c_str());
        LONG index = LONG(i);
        HRESULT hr = names && name ? SafeArrayPutElement(names, &index, name) : E_FAIL;
        SysFreeString(name);
        if (FAILED(hr))
            return CFG_E_ARRAY_PUT;
    }
    return 0;
}

LONG CConfigObject::GetProperty(BSTR name, VARIANT *value, VARIANT *result)
{
    SetResult(result, 0);
    if (!name || !*name)
        return 0;
    const PropertyInfo *info = Properties().Find(ConfigValue::Narrow(name).c_str());
    if (!info) {
        SetResult(result, CFG_E_UNKNOWN_PROPERTY);
        return 1;
    }
    if (!value) {
        SetResult(result, E_POINTER);
        return 1;
    }
    RecomputeTotals();
    VariantClear(value);
    LONG code = GetValue(*info, value);
    if (code != 0) {
        SetResult(result, code);
        return 1;
    }
    return 0;
}

LONG CConfigObject::SetProperty(BSTR name, const VARIANT &value, VARIANT *result)
{
    SetResult(result, 0);
    if (!name || !*name)
        return 0;
    const PropertyInfo *info = Properties().Find(ConfigValue::Narrow(name).c_str());
    if (!info) {
        SetResult(result, CFG_E_UNKNOWN_PROPERTY);
        return 1;
    }
    if (info->access == PropRead) {
        SetResult(result, CFG_E_READ_ONLY);
        return 1;
    }
    if (info->access == PropReset) {
        ResetCounter(info->id);
        return 0;
    }
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopy(&copy, const_cast<VARIANT *>(&value)))) {
        SetResult(result, E_FAIL);
        return E_FAIL;
    }
    LONG code = SetValue(*info, copy);
    VariantClear(&copy);
    if (code == E_FAIL) {
        SetResult(result, E_FAIL);
        return E_FAIL;
    }
    if (code != 0) {
        SetResult(result, code);
        return 1;
    }
    return 0;
}

namespace {

// Calls a by-BSTR member with a narrow name; *code gets the per-property code.
template <class Call>
LONG CallByName(const char *name, LONG *code, Call call)
{
    BSTR bname = SysAllocString(ConfigValue::Widen(name ? name : "").c_str());
    VARIANT result;
    VariantInit(&result);
    LONG answer = call(bname, &result);
    SysFreeString(bname);
    if (code)
        *code = V_VT(&result) == VT_ERROR ? V_ERROR(&result) : 0;
    VariantClear(&result);
    return answer;
}

} // namespace

LONG CConfigObject::SetProperty(const char *name, const VARIANT &value, LONG *code)
{
    return CallByName(name, code, [&](BSTR n, VARIANT *r) { return SetProperty(n, value, r); });
}

LONG CConfigObject::SetProperty(const char *name, const char *text, LONG *code)
{
    VARIANT v;
    ConfigValue::PutText(&v, text);
    LONG answer = SetProperty(name, v, code);
    VariantClear(&v);
    return answer;
}

LONG CConfigObject::SetProperty(const char *name, LONG value, LONG *code)
{
    VARIANT v;
    ConfigValue::PutI4(&v, value);
    return SetProperty(name, v, code);
}

LONG CConfigObject::GetProperty(const char *name, VARIANT *value, LONG *code)
{
    return CallByName(name, code, [&](BSTR n, VARIANT *r) { return GetProperty(n, value, r); });
}

LONG CConfigObject::SetNameValue(const VARIANT &value)
{
    if (V_VT(&value) != VT_BSTR)
        return CFG_E_WRONG_TYPE;
    std::wstring text = V_BSTR(&value) ? V_BSTR(&value) : L"";
    size_t first = text.find_first_not_of(L" \t\r\n\v\f");
    text = first == std::wstring::npos ? std::wstring() : text.substr(first);
    if (text.empty() || std::any_of(text.begin(), text.end(), CS7Types::IsSeparator))
        return CFG_E_INVALID_VALUE;
    if (text.size() > 12)
        text.resize(12);
    std::string name = ConfigValue::Narrow(text.c_str());
    if (CDriver *driver = CDriver::Current()) {
        if (driver->FindByName(name.c_str(), this))
            return CFG_E_NAME_USED;
    }
    m_name = name;
    return 0;
}

void CConfigObject::AssignDefaultName(const std::string &registryBase, const char *builtIn, long &counter)
{
    std::string base = registryBase.empty() ? builtIn : registryBase;
    for (;;) {
        std::string digits = std::to_string(counter);
        // Cut the base, not the number, so each try names a new candidate
        // even when the base alone fills the 12 characters.
        std::string candidate = base.substr(0, digits.size() < 12 ? 12 - digits.size() : 0) + digits;
        ++counter;
        VARIANT v;
        ConfigValue::PutText(&v, candidate);
        LONG code = SetNameValue(v);
        VariantClear(&v);
        if (code == 0)
            return;
        if (code == CFG_E_NAME_USED)
            continue;
        if (base == builtIn)
            return;  // cannot happen with the built-in words; never loop on it
        base = builtIn;
        --counter;
    }
}

void CConfigObject::PostStateLine(const char *kind, bool enabled)
{
    if (IsConfigImporting())
        return;
    std::string text = std::string(kind) + " " + m_name + (enabled ? " Enabled" : " Disabled");
    ServerMessage line;
    line.severity = SeverityInfo;
    line.text = text;
    PostServerMessage(line);
    CDriver *driver = CDriver::Current();
    SendConfigHmiAlarmLine(text.c_str(), driver ? driver->Acronym().c_str() : "");
    if (m_sendEvents) {
        ServerMessage event;
        event.severity = SeverityEventOnly;
        event.text = text;
        event.eventCode = (enabled ? CEventCode::ObjectEnabled() : CEventCode::ObjectDisabled()).Value();
        event.source = m_name;
        event.sendEvent = TRUE;
        PostServerMessage(event);
    }
}

namespace ConfigValue {

std::string Narrow(const wchar_t *text)
{
    if (!text || !*text)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

std::wstring Widen(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    out.resize(wcslen(out.c_str()));
    return out;
}

LONG Text(const VARIANT &value, std::string *text, size_t maxChars)
{
    if (V_VT(&value) != VT_BSTR)
        return CFG_E_WRONG_TYPE;
    const wchar_t *b = V_BSTR(&value) ? V_BSTR(&value) : L"";
    if (wcslen(b) > maxChars)
        return CFG_E_WRONG_TYPE;
    *text = Narrow(b);
    return 0;
}

static LONG ChangeTo(const VARIANT &value, VARTYPE type, VARIANT *out)
{
    VariantInit(out);
    HRESULT hr = VariantChangeType(out, const_cast<VARIANT *>(&value), 0, type);
    return SUCCEEDED(hr) ? LONG(0) : LONG(CFG_E_WRONG_TYPE);
}

LONG Int16(const VARIANT &value, SHORT *result)
{
    if (V_VT(&value) == VT_I2) {
        *result = V_I2(&value);
        return 0;
    }
    VARIANT v;
    if (LONG code = ChangeTo(value, VT_I2, &v))
        return code;
    *result = V_I2(&v);
    return 0;
}

LONG Int32(const VARIANT &value, LONG *result)
{
    VARIANT v;
    if (LONG code = ChangeTo(value, VT_I4, &v))
        return code;
    *result = V_I4(&v);
    return 0;
}

LONG Real(const VARIANT &value, float *result)
{
    VARIANT v;
    if (LONG code = ChangeTo(value, VT_R4, &v))
        return code;
    *result = V_R4(&v);
    return 0;
}

LONG Duration(const VARIANT &value, bool allowNone, uint32_t minMs, uint32_t maxMs, uint32_t *ms)
{
    std::string text;
    if (LONG code = Text(value, &text))
        return code;
    size_t first = text.find_first_not_of(" \t\r\n\v\f");
    text = first == std::string::npos ? std::string() : text.substr(first);
    if (text.empty()) {
        if (!allowNone)
            return CFG_E_INVALID_VALUE;
        *ms = uint32_t(-1);
        return 0;
    }
    uint32_t parsed;
    if (!DurationTextToMs(text.c_str(), &parsed) || parsed < minMs || parsed > maxMs)
        return CFG_E_INVALID_VALUE;
    *ms = parsed;
    return 0;
}

void PutText(VARIANT *value, const std::string &text)
{
    VariantInit(value);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocString(Widen(text).c_str());
}

void PutI2(VARIANT *value, SHORT v) { VariantInit(value); V_VT(value) = VT_I2; V_I2(value) = v; }
void PutI4(VARIANT *value, LONG v) { VariantInit(value); V_VT(value) = VT_I4; V_I4(value) = v; }
void PutR4(VARIANT *value, float v) { VariantInit(value); V_VT(value) = VT_R4; V_R4(value) = v; }

void PutBool(VARIANT *value, bool v)
{
    VariantInit(value);
    V_VT(value) = VT_BOOL;
    V_BOOL(value) = v ? VARIANT_TRUE : VARIANT_FALSE;
}

void PutDuration(VARIANT *value, uint32_t ms)
{
    PutText(value, ms == uint32_t(-1) ? std::string() : MsToDurationText(ms));
}

void PutTime(VARIANT *value, const FILETIME &time)
{
    VariantInit(value);
    if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0)
        return;
    FILETIME local;
    SYSTEMTIME st;
    DATE date;
    if (FileTimeToLocalFileTime(&time, &local) && FileTimeToSystemTime(&local, &st) &&
        SystemTimeToVariantTime(&st, &date)) {
        V_VT(value) = VT_DATE;
        V_DATE(value) = date;
    }
}

FILETIME Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}

} // namespace ConfigValue

CDefaultsReader::CDefaultsReader(const char *subKey) : m_key(new CRegistry), m_open(false)
{
    std::string path = std::string(QOR_DRIVER_KEY) + "\\" + subKey;
    m_open = m_key->OpenKey(path.c_str(), nullptr, KEY_READ) == 0;
}

CDefaultsReader::~CDefaultsReader() { delete m_key; }

std::string CDefaultsReader::Text(const char *name)
{
    if (!m_open)
        return std::string();
    char buffer[128] = "";
    unsigned long length = sizeof buffer;
    if (m_key->ReadValue(name, buffer, &length) != 0)
        return std::string();
    return buffer;
}

bool CDefaultsReader::Dword(const char *name, unsigned long *value)
{
    return m_open && m_key->ReadValue(name, value) == 0;
}

void CDefaultsReader::ApplyText(CConfigObject &object, const char *value, const char *property)
{
    if (!m_open)
        return;
    char buffer[128] = "";
    unsigned long length = sizeof buffer;
    if (m_key->ReadValue(value, buffer, &length) == 0)
        object.SetProperty(property, buffer);
}

void CDefaultsReader::ApplyDword(CConfigObject &object, const char *value, const char *property)
{
    unsigned long number;
    if (Dword(value, &number))
        object.SetProperty(property, LONG(number));
}
