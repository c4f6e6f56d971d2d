#include "SetupSettings.h"
#include <cctype>
#include <cstdlib>
#include "UserInterfaceDoc.h"

const char RefreshRateRange[] = "Please enter an integer between 10 and 60000.";

namespace {

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
};

// The text fields: control, value name, number or text.
struct AdvancedField {
    int control;
    const char *name;
    bool number;
};
const AdvancedField kFields[6] = {
    {IdcMaxSize, "MaxSize", true},          {IdcGrowIncrement, "GrowIncrement", true},
    {IdcOverrunBuffer, "OverrunBuffer", true}, {IdcSignalDll, "SignalDll", false},
    {IdcErrorDll, "ErrorDll", false},       {IdcTimeout, "DriverSapiTimeout", true},
};
const char kSimulation[] = "SimulationMode", kAutoCreate[] = "DriverAutoCreate", kAutoStart[] = "DriverAutoStart";

// SetPropertyData on the driver (handle 0) with one 32-bit value.
void SendSapiTimeout(IQORDriver *server, DWORD ms)
{
    SAFEARRAYBOUND bound = {1, 0};
    Variant names, values, errors;
    V_VT(&names.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&names.v) = SafeArrayCreate(VT_VARIANT, 1, &bound);
    V_VT(&values.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&values.v) = SafeArrayCreate(VT_VARIANT, 1, &bound);
    V_VT(&errors.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&errors.v) = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!V_ARRAY(&names.v) || !V_ARRAY(&values.v) || !V_ARRAY(&errors.v))
        return;
    LONG at = 0;
    Variant name, value;
    V_VT(&name.v) = VT_BSTR;
    V_BSTR(&name.v) = SysAllocString(L"SapiTimeout");
    V_VT(&value.v) = VT_I4;
    V_I4(&value.v) = LONG(ms);
    SafeArrayPutElement(V_ARRAY(&names.v), &at, &name.v);
    SafeArrayPutElement(V_ARRAY(&values.v), &at, &value.v);
    // The registry holds the value for the next start; a running server that
    // refuses it changes nothing the user could mend here.
    server->SetPropertyData(0, names.v, values.v, &errors.v);
}

} // namespace

const int CAdvancedSettings::TextFields[6] = {IdcMaxSize,   IdcGrowIncrement, IdcOverrunBuffer,
                                              IdcSignalDll, IdcErrorDll,      IdcTimeout};

bool ParseSetupRefreshRate(const std::string &text, DWORD &rate)
{
    DWORD value = 0;
    if (!CAdvancedSettings::ParseNumber(text, value) || value < 10 || value > 60000)
        return false;
    rate = value;
    return true;
}

void ApplySetup(CUserInterfaceDoc &doc, const SetupValues &before, const SetupValues &after)
{
    if (after.refreshRate != before.refreshRate) {
        doc.SetRefreshRate(after.refreshRate);
        doc.WriteRegistryDefaults();
    }
    doc.Tree().SetStyle(1, after.buttons);
    doc.Tree().SetStyle(2, after.lines);
    doc.Tree().SetStyle(4, after.linesAtRoot);
    if (after.fileName != before.fileName || after.filePath != before.filePath)
        doc.WriteServerDefaults(after.fileName, after.filePath);
}

bool CAdvancedSettings::ParseNumber(const std::string &text, DWORD &value)
{
    size_t at = 0, end = text.size();
    while (at < end && isspace(static_cast<unsigned char>(text[at])))
        ++at;
    while (end > at && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    if (at == end || end - at > 10)
        return false;
    unsigned long long number = 0;
    for (size_t i = at; i < end; ++i) {
        if (!isdigit(static_cast<unsigned char>(text[i])))
            return false;
        number = number * 10 + unsigned(text[i] - '0');
    }
    if (number > 0xFFFFFFFFull)
        return false;
    value = DWORD(number);
    return true;
}

std::string CAdvancedSettings::Text(int control) const
{
    for (size_t i = 0; i < 6; ++i)
        if (kFields[i].control == control)
            return m_fields[i];
    return std::string();
}

void CAdvancedSettings::SetText(int control, const std::string &text)
{
    for (size_t i = 0; i < 6; ++i)
        if (kFields[i].control == control)
            m_fields[i] = text;
}

bool CAdvancedSettings::Load(const std::string &machine)
{
    for (std::string &field : m_fields)
        field.clear();
    m_simulation = false, m_autoCreate = true, m_autoStart = false;
    m_opened = m_key.Open(std::string(), machine);
    if (!m_opened)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        const AdvancedField &field = kFields[i];
        DWORD number = 0;
        if (!field.number)
            m_key.ReadText(field.name, m_fields[i]);
        else if (m_key.ReadNumber(field.name, number))
            m_fields[i] = std::to_string(field.control == IdcTimeout ? number / 1000 : number);
    }
    DWORD value = 0;
    if (m_key.ReadNumber(kSimulation, value))
        m_simulation = value != 0;
    if (m_key.ReadNumber(kAutoCreate, value))
        m_autoCreate = value != 0;
    if (m_key.ReadNumber(kAutoStart, value))
        m_autoStart = value != 0;
    return true;
}

bool CAdvancedSettings::CheckTimeout(const std::string &text)
{
    DWORD seconds = 0;
    if (ParseNumber(text, seconds) && seconds > 0 && seconds <= 0xFFFFFFFFu / 1000)
        return true;
    Refuse();
    return false;
}

bool CAdvancedSettings::Leave(IQORDriver *server)
{
    if (!m_opened)
        return true;
    // Every number is checked before anything is written, so a refusal
    // leaves the key as it was.
    DWORD numbers[6] = {};
    for (size_t i = 0; i < 6; ++i) {
        if (!kFields[i].number || m_fields[i].find_first_not_of(" \t") == std::string::npos)
            continue;
        if (kFields[i].control == IdcTimeout) {
            if (!CheckTimeout(m_fields[i]))
                return false;
            ParseNumber(m_fields[i], numbers[i]);
        } else if (!ParseNumber(m_fields[i], numbers[i])) {
            Refuse();
            return false;
        }
    }
    bool written = true, timeoutWritten = false;
    DWORD timeout = 0;
    for (size_t i = 0; i < 6; ++i) {
        if (m_fields[i].find_first_not_of(" \t") == std::string::npos)
            continue;
        if (!kFields[i].number) {
            written &= m_key.WriteText(kFields[i].name, m_fields[i]);
        } else if (kFields[i].control == IdcTimeout) {
            timeout = numbers[i] * 1000;
            timeoutWritten = m_key.WriteNumber(kFields[i].name, timeout);
            written &= timeoutWritten;
        } else {
            written &= m_key.WriteNumber(kFields[i].name, numbers[i]);
        }
    }
    written &= m_key.WriteNumber(kSimulation, m_simulation ? 1 : 0);
    written &= m_key.WriteNumber(kAutoCreate, m_autoCreate ? 1 : 0);
    written &= m_key.WriteNumber(kAutoStart, m_autoStart ? 1 : 0);
    if (server && timeoutWritten)
        SendSapiTimeout(server, timeout);
    m_key.Close();
    m_opened = false;
    if (!written)
        m_messages.Box(CUserInterfaceDoc::RegistryWriteFailed, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
    return true;
}
