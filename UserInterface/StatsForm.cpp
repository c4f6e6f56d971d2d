#include "StatsForm.h"
#include <oleauto.h>
#include <cstdio>
#include <cstdlib>
#include "BstrText.h"
#include "VariantArray.h"
#include "resource.h"

const char CStatsForm::NoSimaticError[] = "No Simatic Error";
const char CDriverFormData::ReadResultsFailed[] = "GetPropertyData():  Error retrieving error data";
const char *const CDriverFormData::Names[4] = {"Name", "ChannelCount", "DeviceCount", "DataBlockCount"};
const int CDriverFormData::Controls[4] = {IDC_DRV_NAME, IDC_DRV_CHANNELS, IDC_DRV_DEVICES, IDC_DRV_BLOCKS};
const char *const CDriverFormData::Tips[4] = {
    "Displays the I/O driver acronym, name, and version number.",
    "Displays the number of channels configured for the driver.",
    "Displays the total number of devices configured on all driver channels.",
    "Displays the total number of datablocks configured for all devices on all driver channels."};

namespace {

struct FormTable {
    int templateId;
    UINT timer;
    const char *prefix;
    std::vector<std::string> names;
    std::vector<StatsField> fields;
    std::vector<size_t> times;  // the date values among the names
};

// The names in the order the server is asked; the fields in the order they
// stand on the form.
const FormTable &Table(int kind)
{
    static const FormTable tables[4] = {
        {IDD_SYSTEM_STATS, 1, "",
         {"MsgTransmitCount", "MsgReceiveCount", "MsgTimeoutCount", "MsgRetryCount", "MsgErrorCount",
          "PollOverrunCount", "LastStartTime", "LastStopTime", "LastLoadTime"},
         {{IDC_SYS_TRANSMITS, 0}, {IDC_SYS_RECEIVES, 1}, {IDC_SYS_TIMEOUTS, 2}, {IDC_SYS_RETRIES, 3},
          {IDC_SYS_ERRORS, 4}, {IDC_SYS_OVERRUNS, 5}, {IDC_SYS_STARTED, 6}, {IDC_SYS_STOPPED, 7},
          {IDC_SYS_LOADED, 8}},
         {6, 7, 8}},
        {IDD_CHANNEL_STATS, 2, "Channel Statistics for ",
         {"DeviceCount", "DataBlockCount", "MsgTransmitCount", "MsgReceiveCount", "MsgTimeoutCount",
          "MsgRetryCount", "MsgErrorCount", "PollOverrunCount", "ActiveQueueCount", "ParseQueueCount",
          "PrimaryActiveResources", "BackupActiveResources"},
         {{4001, 2}, {4002, 3}, {4003, 4}, {4004, 5}, {4005, 6}, {4006, 7}, {4007, 0}, {4008, 1}, {4009, 8},
          {4010, 9}, {4011, 10}, {4012, 11}},
         {}},
        {IDD_DEVICE_STATS, 3, "Device Statistics for ",
         {"DataBlockCount", "MsgTransmitCount", "MsgReceiveCount", "MsgErrorCount", "PollOverrunCount",
          "MsgTimeoutCount", "MsgRetryCount", "ReadQueueCount", "ReadCountMax", "WriteQueueCount",
          "WriteCountMax", "ConnNameInUse", "CPNameInUse", "VFDNameInUse", "IsUsingPrimary"},
         {{6001, 0}, {6002, 1}, {6003, 2}, {6004, 3}, {6005, 4}, {6006, 5}, {6007, 6}, {6008, 7}, {6009, 9},
          {6010, 8}, {6011, 10}, {6012, 11}, {6013, 12}, {6014, 13}, {6015, 14}},
         {}},
        {IDD_DATABLOCK_STATS, 4, "Data Block Statistics for ",
         {"MsgTransmitCount", "MsgReceiveCount", "MsgErrorCount", "LastError", "PollOverrunCount", "ReadTime",
          "WriteTime", "ErrorTime", "MsgTimeoutCount", "MsgRetryCount", "QualityString", "SapiReturnCode",
          "SapiDetailedErrorMsg", "SapiDetailedErrorNo", "SapiIecErrorMsg", "SapiIecErrorNo",
          "BlockWritesPending"},
         {{8001, 0}, {8002, 1}, {8003, 8}, {8004, 9}, {8005, 2}, {8006, 3}, {8007, 4}, {8008, 16}, {8009, 5},
          {8010, 6}, {8011, 7}, {8012, 10}},
         {5, 6, 7}},
    };
    return tables[kind < 0 || kind > 3 ? 0 : kind];
}

const size_t kDeviceUsingPrimary = 14;
const size_t kBlockDetailText = 12, kBlockDetailNo = 13, kBlockIecText = 14, kBlockIecNo = 15;

bool FillTexts(Var &holder, const std::vector<std::string> &texts)
{
    if (!MakeArray(holder, texts.size()))
        return false;
    for (LONG i = 0; i < LONG(texts.size()); ++i) {
        Var element;
        V_VT(&element.v) = VT_BSTR;
        V_BSTR(&element.v) = ToBstr(texts[size_t(i)]);
        if (!V_BSTR(&element.v) || FAILED(SafeArrayPutElement(V_ARRAY(&holder.v), &i, &element.v)))
            return false;
    }
    return true;
}

// A per-property result: VT_ERROR or a number; unreadable counts as a
// failure.
bool ResultAt(SAFEARRAY *results, LONG index, LONG &code)
{
    Var element;
    if (!results || FAILED(SafeArrayGetElement(results, &index, &element.v)))
        return false;
    if (V_VT(&element.v) == VT_ERROR) {
        code = V_ERROR(&element.v);
        return true;
    }
    if (V_VT(&element.v) == VT_EMPTY) {
        code = 0;
        return true;
    }
    Var number;
    if (FAILED(VariantChangeType(&number.v, &element.v, 0, VT_I4)))
        return false;
    code = V_I4(&number.v);
    return true;
}

// A date in UTC as local time, to the whole second.
bool UtcToLocal(DATE &date)
{
    SYSTEMTIME utc, local;
    if (!VariantTimeToSystemTime(date, &utc))
        return false;
    utc.wMilliseconds = 0;
    if (!SystemTimeToTzSpecificLocalTime(NULL, &utc, &local))
        return false;
    local.wMilliseconds = 0;
    return SystemTimeToVariantTime(&local, &date) != 0;
}

// The element at index as text; dates from UTC to local first.
bool ValueText(SAFEARRAY *values, LONG index, bool time, std::string &text)
{
    Var element, converted;
    if (!values || FAILED(SafeArrayGetElement(values, &index, &element.v)))
        return false;
    if (time) {
        if (FAILED(VariantChangeType(&element.v, &element.v, 0, VT_DATE)) || !UtcToLocal(V_DATE(&element.v)))
            return false;
    }
    if (FAILED(VariantChangeType(&converted.v, &element.v, 0, VT_BSTR)))
        return false;
    text = FromBstr(V_BSTR(&converted.v));
    return true;
}

std::string RightTrimmed(std::string text)
{
    size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// A numbered text: one line per line feed, the number before the first.
void AddNumbered(std::vector<std::string> &lines, long number, const std::string &text)
{
    size_t start = 0;
    bool first = true;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string piece = RightTrimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        std::string prefix;
        if (number != 0) {
            if (first) {
                char head[24];
                std::snprintf(head, sizeof head, "%4d \t", int(number));
                prefix = head;
            } else {
                prefix = "\t";
            }
        }
        lines.push_back(prefix + piece);
        first = false;
        // A closing line feed leaves no empty line behind.
        if (end == std::string::npos || end + 1 == text.size())
            break;
        start = end + 1;
    }
}

long Number(const std::string &text) { return std::strtol(text.c_str(), nullptr, 10); }

} // namespace

DWORD S7MessageId(long iec, long detail)
{
    // The detail keeps to the low word: a larger one would reach the
    // facility and name another library's message.
    return 0x40000000u | ((0x200u | (DWORD(iec) & 0xF)) << 16) | (DWORD(detail) & 0xFFFF);
}

std::vector<std::string> S7ErrorLines(long iec, const std::string &iecText, long detail,
                                      const std::string &detailText, IErrorTexts &texts)
{
    std::vector<std::string> lines;
    if (iec == 0) {
        lines.push_back(CStatsForm::NoSimaticError);
        return lines;
    }
    AddNumbered(lines, iec, iecText);
    AddNumbered(lines, detail, detailText);
    std::string table;
    if (!texts.Text(HRESULT(S7MessageId(iec, detail)), table) || table.empty())
        table = " ";
    lines.push_back(RightTrimmed(table).empty() ? " " : RightTrimmed(table));
    return lines;
}

std::string PrimaryOrBackup(const std::string &value)
{
    return Number(value) != 0 ? "Primary" : "Backup";
}

// --- the statistics forms ------------------------------------------------------------

CStatsForm::CStatsForm(CUserInterfaceDoc &document, IErrorTexts &texts, int kind, IFormTimer &timer)
    : m_doc(document), m_texts(texts), m_kind(kind), m_timer(timer), m_names(Table(kind).names),
      m_values(m_names.size())
{
}

int CStatsForm::Template() const { return Table(m_kind).templateId; }
UINT CStatsForm::TimerId() const { return Table(m_kind).timer; }
const char *CStatsForm::TitlePrefix() const { return Table(m_kind).prefix; }
const std::vector<StatsField> &CStatsForm::Fields() const { return Table(m_kind).fields; }

int CStatsForm::IndexOf(int control) const
{
    const std::vector<StatsField> &fields = Fields();
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].control == control)
            return int(i);
    return -1;
}

bool CStatsForm::IsTime(size_t index) const
{
    for (size_t time : Table(m_kind).times)
        if (time == index)
            return true;
    return false;
}

bool CStatsForm::Init()
{
    m_zeros.assign(m_names.size(), "0");
    Var names, zeros;
    if (!FillTexts(names, m_names) || !FillTexts(zeros, m_zeros)) {
        m_doc.ShowText(CObjectItem::ArrayFailedText);
        return false;
    }
    return true;
}

LONG CStatsForm::Handle() const
{
    switch (m_kind) {
    case KindChannel: return m_doc.Channel().GetHandle();
    case KindDevice: return m_doc.Device().GetHandle();
    case KindDataBlock: return m_doc.DataBlock().GetHandle();
    }
    return 0;
}

std::string CStatsForm::Title() const
{
    if (m_kind == KindDriver)
        return std::string();
    std::string label;
    TreeItem selected = m_doc.Tree().Selected();
    if (selected)
        label = m_doc.Tree().Text(selected);
    return TitlePrefix() + label;
}

void CStatsForm::StopTimer()
{
    if (m_running)
        m_timer.Stop(TimerId());
    m_running = false;
}

void CStatsForm::Show()
{
    if (m_running)
        return;
    // A rate change made while hidden is the rate started with now.
    m_doc.SetHelpContext(199999);
    if (!Refresh())
        return;
    m_doc.TakeRateChanged();
    m_timer.Start(TimerId(), m_doc.RefreshRate());
    m_running = true;
}

void CStatsForm::Hide() { StopTimer(); }

void CStatsForm::Tick()
{
    if (!m_running)
        return;
    if (m_doc.TakeRateChanged())
        m_timer.Start(TimerId(), m_doc.RefreshRate());
    Refresh();
}

bool CStatsForm::Refresh()
{
    IQORDriver *server = m_doc.Server();
    Var names, values, results;
    if (!server || !FillTexts(names, m_names) || !MakeArray(values, m_names.size()) ||
        !MakeArray(results, m_names.size())) {
        StopTimer();
        return false;
    }
    HRESULT hr = server->GetPropertyData(Handle(), names.v, &values.v, &results.v);
    if (FAILED(hr)) {
        StopTimer();
        return false;
    }
    m_doc.RefreshServerStatus();
    SAFEARRAY *valueArray = HeldArray(values.v), *resultArray = HeldArray(results.v);
    std::vector<std::string> texts = m_values;
    for (size_t i = 0; i < m_names.size(); ++i) {
        LONG code = 0;
        std::string text;
        if (!ResultAt(resultArray, LONG(i), code) || code != 0 ||
            !ValueText(valueArray, LONG(i), IsTime(i), text)) {
            // What was read so far shows; the timer waits for the next show.
            m_values = texts;
            StopTimer();
            return false;
        }
        texts[i] = text;
    }
    m_values = texts;
    if (m_kind == KindDataBlock)
        m_errorLines = S7ErrorLines(Number(m_values[kBlockIecNo]), m_values[kBlockIecText],
                                    Number(m_values[kBlockDetailNo]), m_values[kBlockDetailText], m_texts);
    return true;
}

std::string CStatsForm::Text(size_t index) const
{
    if (index >= m_values.size())
        return std::string();
    if (m_kind == KindDevice && index == kDeviceUsingPrimary)
        return m_values[index].empty() ? std::string() : PrimaryOrBackup(m_values[index]);
    return m_values[index];
}

void CStatsForm::Reset()
{
    IQORDriver *server = m_doc.Server();
    if (!server)
        return;
    Var names, zeros, results;
    if (!FillTexts(names, m_names) || !FillTexts(zeros, std::vector<std::string>(m_names.size(), "0")) ||
        !MakeArray(results, m_names.size())) {
        m_doc.ShowText(CObjectItem::ArrayFailedText);
        return;
    }
    // Some names are read-only counts: their refusals are expected.
    HRESULT hr = server->SetPropertyData(Handle(), names.v, zeros.v, &results.v);
    if (FAILED(hr))
        m_doc.ShowError(hr);
}

std::string CStatsForm::TroubleshootingTopic(const std::string &helpFile)
{
    return helpFile + "::\\START_s7Troubleshooting.htm";
}

// --- the driver form -----------------------------------------------------------------

bool CDriverFormData::Refresh(bool poll)
{
    IQORDriver *server = m_doc.Server();
    Var names, values, results;
    if (!server || !FillTexts(names, std::vector<std::string>(Names, Names + 4)) || !MakeArray(values, 4) ||
        !MakeArray(results, 4))
        return false;
    HRESULT hr = server->GetPropertyData(0, names.v, &values.v, &results.v);
    if (FAILED(hr))
        return false;
    if (poll)
        m_doc.TimerPoll();
    SAFEARRAY *valueArray = HeldArray(values.v), *resultArray = HeldArray(results.v);
    if (!resultArray) {
        m_doc.ShowText(ReadResultsFailed);
        return true;
    }
    for (size_t i = 0; i < 4; ++i) {
        std::string text;
        if (!ValueText(valueArray, LONG(i), false, text))
            break;
        m_values[i] = text;
    }
    return true;
}

std::string CDriverFormData::GettingStartedTopic(const std::string &helpFile)
{
    return helpFile + "::\\start_s72.htm";
}

int ViewFormFor(int kind, int mode)
{
    static const int config[4] = {IDD_DRIVER_FORM, IDD_CHANNEL_FORM, IDD_DEVICE_FORM, IDD_DATABLOCK_FORM};
    if (kind < KindDriver || kind > KindDataBlock)
        kind = KindDriver;
    return mode == 1 ? config[kind] : Table(kind).templateId;
}
