#include "ObjectForm.h"
#include <stdlib.h>
#include "BstrText.h"
#include "resource.h"

const DataTypeEntry DataTypeList[11] = {
    {"BYTE", 9}, {"CHAR", 8}, {"INT", 1}, {"WORD", 2}, {"REAL", 3}, {"DWORD", 6},
    {"DINT", 7}, {"COUNTER", 10}, {"TIMER", 11}, {"ASCII", 0}, {"STRING", 12},
};

const char CObjectForm::BstrFailedText[] = "Error creating bstring for ";

namespace {

const FormField kChannelFields[] = {
    {IDC_CH_NAME, "Name", FieldName, 12, "channel name"},
    {IDC_CH_DESCRIPTION, "Description", FieldText, 40, "channel description"},
    {IDC_CH_ENABLE, "Enabled", FieldCheck, 0, "enabled check box"},
    {IDC_CH_PRIMARY_CP, "PrimaryCPName", FieldTrimmed, 128, "Prim CP name"},
    {IDC_CH_PRIMARY_VFD, "PrimaryVFDName", FieldTrimmed, 32, "Prim VFD name"},
    {IDC_CH_BACKUP_CP, "BackupCPName", FieldTrimmed, 128, "Back CP name"},
    // The backup VFD has no words of its own.
    {IDC_CH_BACKUP_VFD, "BackupVFDName", FieldTrimmed, 32, "Back CP name"},
};

const FormField kDeviceFields[] = {
    {IDC_DEV_NAME, "Name", FieldName, 12, "device name"},
    {IDC_DEV_DESCRIPTION, "Description", FieldText, 40, "device description"},
    {IDC_DEV_ENABLE, "Enabled", FieldCheck, 0, "enabled check box"},
    {IDC_DEV_PRIMARY_CONN, "PrimaryConnName", FieldConn, 32, "device primary station"},
    {IDC_DEV_PRIMARY_TIMEOUT, "PrimaryReplyTimeout", FieldText, 0, "primary timeout"},
    {IDC_DEV_PRIMARY_RETRIES, "PrimaryRetries", FieldRetries, 0, "primary retries"},
    {IDC_DEV_PRIMARY_DELAY, "PrimaryDelay", FieldText, 0, "primary delay"},
    {IDC_DEV_BACKUP_CONN, "BackupConnName", FieldConn, 32, "backup station"},
    {IDC_DEV_BACKUP_TIMEOUT, "BackupReplyTimeout", FieldText, 0, "backup timeout"},
    {IDC_DEV_BACKUP_RETRIES, "BackupRetries", FieldRetries, 0, "backup retries"},
    {IDC_DEV_BACKUP_DELAY, "BackupDelay", FieldText, 0, "backup delay"},
};

const FormField kDataBlockFields[] = {
    {IDC_DB_NAME, "Name", FieldName, 12, "datablock name"},
    {IDC_DB_DESCRIPTION, "Description", FieldText, 40, "datablock description"},
    {IDC_DB_START, "StartAddress", FieldText, 0, "datablock start address"},
    {IDC_DB_END, "EndAddress", FieldText, 0, "datablock end address"},
    {IDC_DB_LENGTH, "Length", FieldText, 0, "datablock address length"},
    {IDC_DB_DEADBAND, "DeadBand", FieldText, 0, "datablock deadband"},
    {IDC_DB_DATATYPE, "DataType", FieldDataType, 0, "datablock datatype"},
    {IDC_DB_PRIMARY_RATE, "PrimaryPollTime", FieldRate, 0, "datablock poll rate"},
    {IDC_DB_SECONDARY_RATE, "SecondaryPollTime", FieldRate, 0, "datablock secondary poll rate"},
    {IDC_DB_PHASE, "Phase", FieldText, 0, "datablock phase"},
    {IDC_DB_ACCESS, "AccessTime", FieldRate, 0, "datablock access time"},
    {IDC_DB_LATCH, "LatchData", FieldCheck, 0, "datablock latch data"},
    {IDC_DB_DISABLE_OUTPUTS, "OutputDisabled", FieldCheck, 0, "datablock disable outputs"},
    {IDC_DB_BLOCK_WRITES, "BlockWritesEnabled", FieldCheck, 0, "datablock block writes enabled"},
    {IDC_DB_ENABLE, "Enabled", FieldCheck, 0, "enabled check box"},
};

std::string Trim(const std::string &text)
{
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
};

} // namespace

CObjectForm::CObjectForm(CUserInterfaceDoc &document, int kind) : m_doc(document), m_kind(kind)
{
    if (kind == KindChannel)
        m_fields.assign(std::begin(kChannelFields), std::end(kChannelFields));
    else if (kind == KindDevice)
        m_fields.assign(std::begin(kDeviceFields), std::end(kDeviceFields));
    else
        m_fields.assign(std::begin(kDataBlockFields), std::end(kDataBlockFields));
    m_values.resize(m_fields.size());
}

int CObjectForm::IndexOf(int control) const
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].control == control)
            return int(i);
    return -1;
}

std::string CObjectForm::Value(const char *property) const
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (!strcmp(m_fields[i].property, property))
            return m_values[i];
    return std::string();
}

CObjectItem &CObjectForm::Proxy()
{
    if (TemplateMode())
        return m_kind == KindChannel ? static_cast<CObjectItem &>(m_doc.TemplateChannel())
               : m_kind == KindDevice ? static_cast<CObjectItem &>(m_doc.TemplateDevice())
                                      : static_cast<CObjectItem &>(m_doc.TemplateDataBlock());
    if (m_kind == KindChannel)
        return m_doc.Channel();
    if (m_kind == KindDevice)
        return m_doc.Device();
    return m_doc.DataBlock();
}

std::string CObjectForm::Shown(const FormField &field, const std::string &value) const
{
    if (field.type == FieldRate && value.empty())
        return "Disabled";
    if (field.type == FieldDataType) {
        // Outside the list (13, say) the list shows nothing; none is "BYTE".
        int code = value.empty() ? -1 : atoi(value.c_str());
        return std::to_string(code == -1 ? 9 : code);
    }
    if (m_kind == KindDevice && !TemplateMode()) {
        // The proxy's display texts for what the server left empty.
        const CDeviceItem &device = m_doc.Device();
        bool primary = strncmp(field.property, "Primary", 7) == 0;
        if (field.type == FieldConn)
            return value.empty() ? "None" : value;
        if (value.empty() && strstr(field.property, "ReplyTimeout"))
            return device.GetReplyTimeout(primary);
        if (value.empty() && field.type == FieldRetries)
            return device.GetRetries(primary);
        if (value.empty() && strstr(field.property, "Delay"))
            return device.GetDelay(primary);
    }
    return value;
}

void CObjectForm::Load()
{
    CObjectItem &proxy = Proxy();
    for (size_t i = 0; i < m_fields.size(); ++i)
        m_values[i] = Shown(m_fields[i], proxy.Current(m_fields[i].property));
}

void CObjectForm::Refresh()
{
    if (TemplateMode() || m_local) {
        for (size_t i = 0; i < m_fields.size(); ++i)
            if (m_fields[i].type == FieldRate && m_values[i].empty())
                m_values[i] = "Disabled";
        return;
    }
    Proxy().Read();
    Load();
}

bool CObjectForm::LocallyRefused(const FormField &field, const std::string &value) const
{
    if (field.type == FieldName)
        return value.find_first_of(":;,./\\ ") != std::string::npos;
    if (field.type == FieldRetries) {
        long retries = strtol(value.c_str(), nullptr, 10);
        return retries < 0 || retries > 9;
    }
    return false;
}

HRESULT CObjectForm::Send(const FormField &field, const std::string &value)
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return E_POINTER;
    Variant name, data, errors;
    V_VT(&name.v) = VT_BSTR;
    V_BSTR(&name.v) = ToBstr(field.property);
    if (field.type == FieldCheck || field.type == FieldDataType) {
        V_VT(&data.v) = VT_I2;
        V_I2(&data.v) = short(field.type == FieldCheck ? (value == "1" ? 1 : 0) : atoi(value.c_str()));
    } else {
        V_VT(&data.v) = VT_BSTR;
        V_BSTR(&data.v) = ToBstr(value);
        if (!V_BSTR(&data.v)) {
            m_doc.ShowText(std::string(BstrFailedText) + field.words);
            return S_FALSE;
        }
    }
    if (!V_BSTR(&name.v)) {
        m_doc.ShowText(std::string(BstrFailedText) + field.words);
        return S_FALSE;
    }
    HRESULT hr = server->SetPropertyData(Proxy().GetHandle(), name.v, data.v, &errors.v);
    if (FAILED(hr))
        m_doc.ShowError(hr);
    return hr;
}

CObjectForm::Result CObjectForm::Commit(size_t index, const std::string &typed)
{
    if (index >= m_fields.size())
        return Unchanged;
    const FormField &field = m_fields[index];
    std::string value = field.type == FieldName || field.type == FieldTrimmed ? Trim(typed) : typed;
    if (value == m_values[index])
        return Unchanged;
    // Words that mean "none".
    std::string lower = Lower(value);
    if (field.type == FieldRate && (lower == "disabled" || lower == "d"))
        value.clear();
    if (field.type == FieldConn && (lower == "none" || lower == "n" || lower == "-"))
        value.clear();
    if (Shown(field, value) == m_values[index])
        return Unchanged;

    if (TemplateMode() || m_local) {
        if (TemplateMode() && LocallyRefused(field, value)) {
            m_doc.ShowError(LocalRefusal);
            return Refused;
        }
        if (TemplateMode())
            Proxy().SetCurrent(field.property, value);
        m_values[index] = Shown(field, value);
        return Committed;
    }
    HRESULT hr = Send(field, value);
    if (hr != S_OK)
        return Refused;
    if (field.type == FieldName)
        m_doc.RelabelItem(Proxy(), value);
    Proxy().SetCurrent(field.property, value);
    m_values[index] = Shown(field, value);
    Refresh();
    return Committed;
}

std::vector<std::string> CObjectForm::ReadList(HRESULT hr, VARIANT &names, LONG count, bool quiet)
{
    std::vector<std::string> list;
    if (FAILED(hr)) {
        if (!quiet)
            m_doc.ShowError(hr);
        return list;
    }
    // The server answers an array of BSTRs; an array of VARIANTs is taken
    // too, keeping only its texts.
    const bool texts = V_VT(&names) == (VT_ARRAY | VT_BSTR);
    if ((!texts && V_VT(&names) != (VT_ARRAY | VT_VARIANT)) || !V_ARRAY(&names))
        return list;
    for (LONG i = 0; i < count; ++i) {
        Variant element;
        if (texts) {
            BSTR text = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&names), &i, &text)))
                list.push_back(FromBstr(text));
            SysFreeString(text);
        } else if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&names), &i, &element.v)) && V_VT(&element.v) == VT_BSTR) {
            list.push_back(FromBstr(V_BSTR(&element.v)));
        }
    }
    return list;
}

std::vector<std::string> CObjectForm::CpList()
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return {};
    Variant names;
    LONG count = 0;
    HRESULT hr = server->GetConfiguredCPList(&names.v, &count);
    return ReadList(hr, names.v, count, true);
}

std::vector<std::string> CObjectForm::VfdList(const std::string &cp)
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return {};
    Variant names;
    LONG count = 0;
    BSTR name = ToBstr(cp);
    HRESULT hr = server->GetConfiguredVFDList(name, &names.v, &count);
    SysFreeString(name);
    return ReadList(hr, names.v, count, true);
}

std::vector<std::string> CObjectForm::ConnList(bool primary)
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return {};
    const CChannelItem &channel = m_doc.Channel();
    bool backup = !primary && !channel.GetCPName(false).empty() && !channel.GetVFDName(false).empty();
    BSTR cp = ToBstr(channel.GetCPName(!backup)), vfd = ToBstr(channel.GetVFDName(!backup));
    Variant names;
    LONG count = 0;
    HRESULT hr = server->GetConfiguredCONNList(cp, vfd, &names.v, &count);
    SysFreeString(cp);
    SysFreeString(vfd);
    return ReadList(hr, names.v, count, hr == E_OUTOFMEMORY);
}

std::vector<std::string> CObjectForm::PropertyValues() const
{
    std::vector<std::string> values;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const FormField &field = m_fields[i];
        // The shown words for "none" are not values.
        bool none = (field.type == FieldRate && m_values[i] == "Disabled") || (field.type == FieldConn && m_values[i] == "None");
        values.push_back(none ? std::string() : m_values[i]);
    }
    return values;
}

void CObjectForm::CopyTo(CObjectItem &proxy) const
{
    std::vector<std::string> values = PropertyValues();
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (m_values[i] != Shown(m_fields[i], proxy.Current(m_fields[i].property)))
            proxy.SetCurrent(m_fields[i].property, values[i]);
}

std::string CObjectForm::HelpTopic(const std::string &helpFile) const
{
    const char *page = m_kind == KindChannel ? "s7Channel" : m_kind == KindDevice ? "s7Device" : "s7Datablock";
    return helpFile + "::\\" + page + ".htm>pop-up";
}
