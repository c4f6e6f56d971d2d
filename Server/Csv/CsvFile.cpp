// CSV export and import and the message-log report: files, the automation
// object's calls and the log lines. The text work is in CsvText.cpp.
#include "CsvFile.h"
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>
#include "ServerMsg.h"

bool ICsvHost::GetListSeparator(std::string &separator)
{
    char buffer[4] = {0};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SLIST, buffer, sizeof buffer) == 0)
        return false;
    separator = buffer;
    return !separator.empty();
}

namespace {

const char CsvFileError[] = "CSV file error:  %s";
const char LogFileError[] = "Log file error:  %s";
const char ImportObject[] = "Import object";
const char InvalidFileName[] = "Invalid file name";

enum { KindChannel = 2, KindDevice = 3, KindDataBlock = 4 };

// ---- strings and VARIANTs ----

BSTR ToBstr(const std::string &text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, UINT(n));
    if (out && n)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), out, n);
    return out;
}

std::string FromBstr(BSTR text)
{
    if (!text)
        return std::string();
    int length = int(SysStringLen(text));
    int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    if (n)
        WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

// A VARIANT that clears itself.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

// The value as text; false when it cannot be changed to text.
bool VariantText(const VARIANT &value, std::string &text)
{
    Variant copy;
    if (FAILED(VariantChangeType(&copy.v, const_cast<VARIANT *>(&value), 0, VT_BSTR)))
        return false;
    text = FromBstr(copy.v.bstrVal);
    return true;
}

SAFEARRAY *ArrayOf(const VARIANT &v)
{
    if (v.vt == (VT_ARRAY | VT_VARIANT))
        return v.parray;
    if (v.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT) && v.pparray)
        return *v.pparray;
    return nullptr;
}

// Element i of a one-dimensional VARIANT array (VT_EMPTY when absent).
void ArrayElement(const VARIANT &array, LONG i, VARIANT &element)
{
    VariantInit(&element);
    SAFEARRAY *sa = ArrayOf(array);
    LONG lower = 0, upper = -1;
    if (!sa || FAILED(SafeArrayGetLBound(sa, 1, &lower)) || FAILED(SafeArrayGetUBound(sa, 1, &upper)))
        return;
    LONG index = lower + i;
    if (index > upper || FAILED(SafeArrayGetElement(sa, &index, &element)))
        VariantInit(&element);
}

// A VT_ARRAY|VT_VARIANT of the texts as BSTRs, with extra appended.
HRESULT TextArray(const std::vector<std::string> &texts, VARIANT &out, const VARIANT *extra = nullptr)
{
    VariantInit(&out);
    ULONG count = ULONG(texts.size() + (extra ? 1 : 0));
    SAFEARRAY *sa = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (!sa)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < LONG(count); ++i) {
        Variant element;
        if (size_t(i) < texts.size()) {
            element.v.vt = VT_BSTR;
            element.v.bstrVal = ToBstr(texts[size_t(i)]);
        } else {
            VariantCopy(&element.v, const_cast<VARIANT *>(extra));
        }
        HRESULT hr = SafeArrayPutElement(sa, &i, &element.v);
        if (FAILED(hr)) {
            SafeArrayDestroy(sa);
            return hr;
        }
    }
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = sa;
    return S_OK;
}

// The texts of a VARIANT array (names from the automation object).
std::vector<std::string> TextsOf(const VARIANT &array, LONG count)
{
    std::vector<std::string> texts;
    for (LONG i = 0; i < count; ++i) {
        Variant element;
        ArrayElement(array, i, element.v);
        std::string text;
        VariantText(element.v, text);
        texts.push_back(text);
    }
    return texts;
}

std::string MessageText(HRESULT code)
{
    std::string text;
    if (CServerMsg *log = GetServerMsg())
        log->GetMessageText(DWORD(code), text);
    while (!text.empty() && strchr(" \t\r\n", text.back()))
        text.pop_back();
    if (text.empty()) {
        char buffer[16];
        snprintf(buffer, sizeof buffer, "0x%08lX", (unsigned long)code);
        text = buffer;
    }
    return text;
}

ReportTime LocalReportTime(ICsvHost &host)
{
    SYSTEMTIME st = {};
    host.GetLocalTime(st);
    ReportTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.dayOfWeek = st.wDayOfWeek;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    return t;
}

// ---- files ----

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// A text file being written: "\n" becomes carriage return and line feed.
class TextWriter {
public:
    bool Create(const std::string &path)
    {
        m_path = path;
        m_file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        return m_file != INVALID_HANDLE_VALUE;
    }
    ~TextWriter() { Close(); }
    // False when the write failed; a failure other than a full disk is
    // first given to the document's failure report, and the file is given up.
    bool Write(const std::string &text, ICsvHost *reportTo)
    {
        std::string out;
        for (char c : text) {
            if (c == '\n')
                out += '\r';
            out += c;
        }
        DWORD written = 0;
        if (m_file != INVALID_HANDLE_VALUE && WriteFile(m_file, out.data(), DWORD(out.size()), &written, nullptr) &&
            written == out.size())
            return true;
        DWORD error = GetLastError();
        if (reportTo && !IsDiskFull(error))
            reportTo->ReportFileFailure("Failed to save document.", error, m_path);
        Close();
        return false;
    }
    void Close()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::string m_path;
};

// The lines of a text file (line ends of either kind removed).
enum ReadResult { ReadOk, ReadNoFile, ReadFailed };
ReadResult ReadLines(const std::string &path, std::vector<std::string> &lines, DWORD &error)
{
    lines.clear();
    error = 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return ReadNoFile;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            error = GetLastError();
            CloseHandle(file);
            return ReadFailed;
        }
        if (got == 0)
            break;
        content.append(buffer, got);
    }
    CloseHandle(file);
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return ReadOk;
}

// ---- the tree through the automation object ----

struct Child {
    long handle;
    std::string name;
};

enum ListOf { ListChannels, ListDevices, ListDataBlocks };

HRESULT Children(IQORDriver *app, ListOf list, long parent, std::vector<Child> &children)
{
    children.clear();
    Variant handles, names;
    long count = 0;
    HRESULT hr = list == ListChannels  ? app->GetChannels(&handles.v, &names.v, &count)
                 : list == ListDevices ? app->GetDevices(parent, &handles.v, &names.v, &count)
                                       : app->GetDataBlocks(parent, &handles.v, &names.v, &count);
    if (FAILED(hr))
        return hr;
    std::vector<std::string> texts = TextsOf(names.v, count);
    for (long i = 0; i < count; ++i) {
        Variant element;
        ArrayElement(handles.v, i, element.v);
        Variant asLong;
        if (FAILED(VariantChangeType(&asLong.v, &element.v, 0, VT_I4)))
            return E_FAIL;
        children.push_back(Child{asLong.v.lVal, texts[size_t(i)]});
    }
    return S_OK;
}

HRESULT PropertyNames(IQORDriver *app, short kind, std::vector<std::string> &names)
{
    Variant array;
    long count = 0;
    HRESULT hr = app->GetProperties(kind, &array.v, &count);
    if (FAILED(hr))
        return hr;
    names = TextsOf(array.v, count);
    return S_OK;
}

// The values of an object's properties as text, in the names' order.
HRESULT PropertyValues(IQORDriver *app, long handle, const VARIANT &names, size_t count,
                       std::vector<std::string> &values)
{
    values.clear();
    Variant data, errors;
    HRESULT hr = app->GetPropertyData(handle, names, &data.v, &errors.v);
    // A property that cannot be read would leave its column out of the file
    // and the file could not be read back.
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    for (size_t i = 0; i < count; ++i) {
        Variant element;
        ArrayElement(data.v, LONG(i), element.v);
        std::string text;
        if (!VariantText(element.v, text))
            return DISP_E_TYPEMISMATCH;
        values.push_back(text);
    }
    return S_OK;
}

// The child whose name matches (ignoring case); first in tree order.
bool FindByName(const std::vector<Child> &children, const std::string &name, long &handle)
{
    for (const Child &child : children)
        if (lstrcmpiA(child.name.c_str(), name.c_str()) == 0) {
            handle = child.handle;
            return true;
        }
    return false;
}

bool FindChannel(IQORDriver *app, const std::string &name, long &handle)
{
    std::vector<Child> channels;
    return SUCCEEDED(Children(app, ListChannels, 0, channels)) && FindByName(channels, name, handle);
}

bool FindDevice(IQORDriver *app, const std::string &name, long &handle)
{
    std::vector<Child> channels;
    if (FAILED(Children(app, ListChannels, 0, channels)))
        return false;
    for (const Child &channel : channels) {
        std::vector<Child> devices;
        if (SUCCEEDED(Children(app, ListDevices, channel.handle, devices)) && FindByName(devices, name, handle))
            return true;
    }
    return false;
}

// One add through the automation object; a refusal is logged with the line.
struct AddRequest {
    std::vector<std::string> names;
    std::vector<std::string> values;
    bool enabled = false;   // a last property "Enabled" given as VT_BOOL true
};

bool AddObject(IQORDriver *app, short kind, long parent, const AddRequest &request, int line, long &handle)
{
    std::vector<std::string> names = request.names;
    Variant enabled;
    if (request.enabled) {
        names.push_back("Enabled");
        enabled.v.vt = VT_BOOL;
        enabled.v.boolVal = VARIANT_TRUE;
    }
    Variant nameArray, valueArray, errors;
    HRESULT hr = TextArray(names, nameArray.v);
    if (SUCCEEDED(hr))
        hr = TextArray(request.values, valueArray.v, request.enabled ? &enabled.v : nullptr);
    handle = 0;
    if (SUCCEEDED(hr)) {
        hr = kind == KindChannel  ? app->AddChannel(nameArray.v, valueArray.v, &errors.v, &handle)
             : kind == KindDevice ? app->AddDevice(parent, nameArray.v, valueArray.v, &errors.v, &handle)
                                  : app->AddDataBlock(parent, nameArray.v, valueArray.v, &errors.v, &handle);
    }
    if (hr == S_OK)
        return true;
    if (FAILED(hr))
        LogMessage(SeverityError, "CSV Line %d, %s", line, MessageText(hr).c_str());
    for (size_t i = 0; i < names.size(); ++i) {
        Variant error;
        ArrayElement(errors.v, LONG(i), error.v);
        if (error.v.vt != VT_ERROR || error.v.scode >= 0)
            continue;
        Variant value;
        ArrayElement(valueArray.v, LONG(i), value.v);
        std::string text;
        if (!VariantText(value.v, text))
            continue;
        LogMessage(SeverityError, "CSV Line %d, %s = %s, %s", line, names[i].c_str(), text.c_str(),
                   MessageText(error.v.scode).c_str());
    }
    return false;
}

// The import flag and the tree swap of one import: whatever way the import
// leaves, the flag goes off and the host keeps either the new tree or the old.
class ImportScope {
public:
    explicit ImportScope(ICsvHost &host) : m_host(host) { m_host.SetImporting(true); }
    ~ImportScope()
    {
        if (m_begun)
            m_host.EndImportTree(m_succeeded);
        m_host.SetImporting(false);
        if (m_succeeded)
            m_host.SetModified();
    }
    ImportScope(const ImportScope &) = delete;
    ImportScope &operator=(const ImportScope &) = delete;

    bool Begin()
    {
        m_begun = SUCCEEDED(m_host.BeginImportTree());
        return m_begun;
    }
    void Succeeded() { m_succeeded = true; }

private:
    ICsvHost &m_host;
    bool m_begun = false;
    bool m_succeeded = false;
};

// Stops an import at a line: the reason with the line number, then the stop.
HRESULT StopAt(int line, const char *reason)
{
    if (reason)
        LogMessage(SeverityError, "CSV Line %d, %s", line, reason);
    LogMessage(SeverityError, CsvFileError, ImportObject);
    return CSV_E_IMPORT;
}

// Reads the file for an import; a read error is reported and stops it.
HRESULT ReadImportFile(ICsvHost &host, const std::string &path, std::vector<std::string> &lines)
{
    DWORD error = 0;
    switch (ReadLines(path, lines, error)) {
    case ReadOk:
        return S_OK;
    case ReadNoFile:
        LogMessage(SeverityError, CsvFileError, InvalidFileName);
        return CSV_E_FILE;
    default:
        // Taking what was read as the whole file would replace the
        // configuration with part of it.
        if (!IsDiskFull(error))
            host.ReportFileFailure("Failed to open document.", error, path);
        LogMessage(SeverityError, CsvFileError, "Read");
        return CSV_E_IMPORT;
    }
}

bool CanOpenForReading(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// ---- export ----

// One section: its header and a line per object, each with its parent's name first.
struct ExportRow {
    std::string parent;   // empty for channels
    long handle;
};

bool WriteSection(IQORDriver *app, TextWriter &file, ICsvHost &host, const std::string &separator,
                  short kind, const std::vector<ExportRow> &rows, const char *what)
{
    if (rows.empty())
        return true;
    std::vector<std::string> names;
    Variant nameArray;
    bool ok = SUCCEEDED(PropertyNames(app, kind, names)) && SUCCEEDED(TextArray(names, nameArray.v));
    std::string text;
    if (ok) {
        if (kind == KindChannel)
            text = "!" + JoinCsvValues(names, separator) + "\n";
        else
            text = std::string("\n") + (kind == KindDevice ? "@Channel" : "#Device") + separator +
                   JoinCsvValues(names, separator) + "\n";
    }
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        std::vector<std::string> values;
        ok = SUCCEEDED(PropertyValues(app, rows[i].handle, nameArray.v, names.size(), values));
        if (kind != KindChannel)
            values.insert(values.begin(), rows[i].parent);
        text += JoinCsvValues(values, separator) + "\n";
    }
    if (ok && file.Write(text, &host))
        return true;
    LogMessage(SeverityError, CsvFileError, what);
    return false;
}

// ---- older dialect ----

// A row's value for a column; empty when the row is shorter.
std::string ColumnValue(const std::vector<std::string> &fields, int column)
{
    return column >= 0 && size_t(column) < fields.size() ? fields[size_t(column)] : std::string();
}

const OldCsvColumn *Column(const std::vector<OldCsvColumn> &columns, const char *property)
{
    for (const OldCsvColumn &column : columns)
        if (strcmp(column.property, property) == 0)
            return &column;
    return nullptr;
}

// The properties of names whose column exists, with the row's values.
void AddPresent(const std::vector<OldCsvColumn> &columns, const std::vector<std::string> &fields,
                std::initializer_list<const char *> names, AddRequest &request)
{
    for (const char *name : names) {
        const OldCsvColumn *column = Column(columns, name);
        if (column && column->column >= 0) {
            request.names.push_back(name);
            request.values.push_back(ColumnValue(fields, column->column));
        }
    }
}

bool StartsWithDigit(const std::string &text) { return !text.empty() && text[0] >= '0' && text[0] <= '9'; }

HRESULT ImportOldLines(IQORDriver *app, const std::vector<std::string> &lines, const std::string &separator)
{
    OldCsvSection section = OldNone;
    std::vector<OldCsvColumn> columns;
    AddRequest timing;   // the current channel's six timing properties
    std::string lastDevice;
    long device = 0;
    int number = 0;
    for (const std::string &raw : lines) {
        ++number;
        std::string line = TrimLeft(raw);
        if (line.empty() || line[0] == '[')
            continue;
        OldCsvSection starts = OldCsvSectionOf(line);
        if (starts != OldNone) {
            section = starts;
            columns = MapOldCsvColumns(section, CutOldCsvLine(line.substr(1), separator));
            continue;
        }
        std::vector<std::string> fields = CutOldCsvLine(line, separator);
        long handle = 0;
        if (section == OldChannel) {
            timing = AddRequest();
            AddPresent(columns, fields,
                       {"PrimaryReplyTimeout", "PrimaryDelay", "PrimaryRetries", "BackupReplyTimeout",
                        "BackupDelay", "BackupRetries"},
                       timing);
        } else if (section == OldDevice) {
            AddRequest channel;
            AddPresent(columns, fields, {"PrimaryCPName", "PrimaryVFDName", "BackupCPName", "BackupVFDName"},
                       channel);
            long channelHandle = 0;
            if (!AddObject(app, KindChannel, 0, channel, number, channelHandle))
                return StopAt(number, nullptr);
            AddRequest request;
            AddPresent(columns, fields, {"Name", "Description", "PrimaryConnName", "BackupConnName"}, request);
            request.names.insert(request.names.end(), timing.names.begin(), timing.names.end());
            request.values.insert(request.values.end(), timing.values.begin(), timing.values.end());
            if (!AddObject(app, KindDevice, channelHandle, request, number, handle))
                return StopAt(number, nullptr);
        } else if (section == OldDataBlock) {
            AddRequest request;
            AddPresent(columns, fields,
                       {"Name", "StartAddress", "Length", "DataType", "PrimaryPollTime", "AccessTime", "DeadBand",
                        "BlockWritesEnabled"},
                       request);
            for (size_t i = 0; i < request.names.size(); ++i) {
                std::string &name = request.names[i], &value = request.values[i];
                if (name == "Name" && !value.empty())
                    value = "DataBlock" + value;
                else if (name == "DataType")
                    value = OldCsvDataType(value);
                else if ((name == "PrimaryPollTime" || name == "AccessTime") && !StartsWithDigit(value))
                    value.clear();
                else if (name == "BlockWritesEnabled")
                    value = !value.empty() && (value[0] == 'Y' || value[0] == 'y') ? "-1" : "0";
            }
            request.enabled = true;
            std::string deviceName;
            if (const OldCsvColumn *column = Column(columns, "Device"))
                deviceName = ColumnValue(fields, column->column);
            if (deviceName.empty())
                return StopAt(number, "Corrupted 6x CSV file");
            if (deviceName != lastDevice || device == 0) {
                device = 0;
                if (!FindDevice(app, deviceName, device))
                    return StopAt(number, "Corrupted 6x CSV file");
                lastDevice = deviceName;
            }
            if (!AddObject(app, KindDataBlock, device, request, number, handle))
                return StopAt(number, nullptr);
        }
        // Lines before the first section header have no columns to go by.
    }
    return S_OK;
}

// ---- own dialect ----

enum OwnSection { OwnNone, OwnChannel, OwnDevice, OwnDataBlock };

HRESULT ImportOwnLines(IQORDriver *app, const std::vector<std::string> &lines, const std::string &separator)
{
    OwnSection section = OwnNone;
    std::vector<std::string> names;
    bool titled = false;
    int number = 0;
    for (const std::string &raw : lines) {
        ++number;
        std::string line = TrimLeft(raw);
        if (line.empty())
            continue;
        if (!titled) {
            if (!IsCsvTitleLine(line))
                return StopAt(number, "Not a configuration report title");
            titled = true;
            continue;
        }
        char mark = line[0];
        if (mark == '[')
            continue;
        if (mark == '!' || mark == '@' || mark == '#') {
            std::string rest = line.substr(1);
            if (mark != '!') {
                size_t after = rest.find(separator);
                rest = after == std::string::npos ? std::string() : rest.substr(after + separator.size());
            }
            if (!SplitCsvLine(rest, separator, names))
                return StopAt(number, "Unterminated quoted text");
            while (!names.empty() && names.back().empty())
                names.pop_back();
            section = mark == '!' ? OwnChannel : mark == '@' ? OwnDevice : OwnDataBlock;
            continue;
        }
        // The export never writes a row outside a section; such a row has
        // no names for its values, so the file is not one of ours.
        if (section == OwnNone)
            return StopAt(number, "Line outside a section");
        AddRequest request;
        request.names = names;
        if (!SplitCsvLine(line, separator, request.values))
            return StopAt(number, "Unterminated quoted text");
        std::string parent;
        if (section != OwnChannel) {
            parent = request.values.front();
            request.values.erase(request.values.begin());
        }
        // A separator after the last value (an editor's trailing empty
        // fields) is not a value of its own.
        while (request.values.size() > names.size() && request.values.back().empty())
            request.values.pop_back();
        if (request.values.size() > names.size())
            return StopAt(number, "Too many values");
        if (request.values.size() < names.size())
            return StopAt(number, "Too few values");
        long parentHandle = 0, handle = 0;
        if (section == OwnDevice && !FindChannel(app, parent, parentHandle)) {
            LogMessage(SeverityError, "CSV Line %d, %s Not Found", number, parent.c_str());
            return StopAt(number, nullptr);
        }
        if (section == OwnDataBlock && !FindDevice(app, parent, parentHandle)) {
            LogMessage(SeverityError, "CSV Line %d, %s Not Found", number, parent.c_str());
            return StopAt(number, nullptr);
        }
        short kind = section == OwnChannel ? KindChannel : section == OwnDevice ? KindDevice : KindDataBlock;
        if (!AddObject(app, kind, parentHandle, request, number, handle))
            return StopAt(number, nullptr);
    }
    if (!titled)
        return StopAt(number, "Not a configuration report title");
    return S_OK;
}

}  // namespace

HRESULT CsvExport(IQORDriver *app, ICsvHost &host, const std::string &path)
{
    std::string separator;
    if (!app || !host.GetListSeparator(separator)) {
        LogMessage(SeverityError, CsvFileError, "Failed when retrieving locale information");
        return CSV_E_EXPORT;
    }
    TextWriter file;
    if (!file.Create(path)) {
        LogMessage(SeverityError, CsvFileError, "Creation");
        return CSV_E_EXPORT;
    }
    if (!file.Write(CsvTitleLine(host.Acronym(), LocalReportTime(host)) + "\n\n", &host)) {
        LogMessage(SeverityError, CsvFileError, "Write header");
        return CSV_E_EXPORT;
    }
    std::vector<ExportRow> channelRows, deviceRows, blockRows;
    std::vector<Child> channels;
    bool listed = SUCCEEDED(Children(app, ListChannels, 0, channels));
    for (const Child &channel : channels) {
        channelRows.push_back(ExportRow{std::string(), channel.handle});
        std::vector<Child> devices;
        listed = listed && SUCCEEDED(Children(app, ListDevices, channel.handle, devices));
        for (const Child &device : devices) {
            deviceRows.push_back(ExportRow{channel.name, device.handle});
            std::vector<Child> blocks;
            listed = listed && SUCCEEDED(Children(app, ListDataBlocks, device.handle, blocks));
            for (const Child &block : blocks)
                blockRows.push_back(ExportRow{device.name, block.handle});
        }
    }
    if (!listed) {
        LogMessage(SeverityError, CsvFileError, "Write channel");
        return CSV_E_EXPORT;
    }
    if (!WriteSection(app, file, host, separator, KindChannel, channelRows, "Write channel") ||
        !WriteSection(app, file, host, separator, KindDevice, deviceRows, "Write device") ||
        !WriteSection(app, file, host, separator, KindDataBlock, blockRows, "Write datablock"))
        return CSV_E_EXPORT;
    file.Close();
    LogMessage(SeverityInfo, "CSV file %s written", path.c_str());
    return S_OK;
}

namespace {

// The part both dialects share once the file is known to be theirs: the flag
// on, a fresh tree, the separator, the lines; the tree kept only on success.
HRESULT ImportFile(IQORDriver *app, ICsvHost &host, const std::string &path, const std::string &separator,
                   HRESULT (*importLines)(IQORDriver *, const std::vector<std::string> &, const std::string &))
{
    ImportScope scope(host);
    if (!scope.Begin()) {
        LogMessage(SeverityError, CsvFileError, "New configuration");
        return E_FAIL;
    }
    std::string own = separator;
    if (own.empty() && !host.GetListSeparator(own)) {
        LogMessage(SeverityError, CsvFileError, "");
        return E_FAIL;
    }
    std::vector<std::string> lines;
    HRESULT hr = ReadImportFile(host, path, lines);
    if (SUCCEEDED(hr))
        hr = importLines(app, lines, own);
    if (FAILED(hr))
        return hr;
    LogMessage(SeverityInfo, "CSV file %s loaded", path.c_str());
    scope.Succeeded();
    return S_OK;
}

}  // namespace

HRESULT CsvImport(IQORDriver *app, ICsvHost &host, const std::string &path)
{
    if (!app || !CanOpenForReading(path)) {
        LogMessage(SeverityError, CsvFileError, InvalidFileName);
        return CSV_E_FILE;
    }
    // The own dialect reads its separator after the new tree is made.
    return ImportFile(app, host, path, std::string(), ImportOwnLines);
}

HRESULT CsvImportOld(IQORDriver *app, ICsvHost &host, const std::string &path)
{
    HRESULT dialect = CsvIsOldDialect(path);
    if (FAILED(dialect) || !app) {
        LogMessage(SeverityError, CsvFileError, InvalidFileName);
        return CSV_E_FILE;
    }
    if (dialect != S_OK) {
        LogMessage(SeverityError, "CSV Line %d, %s", 1, "Not a 6x CSV file");
        LogMessage(SeverityError, CsvFileError, ImportObject);
        return CSV_E_IMPORT;
    }
    std::string separator;
    if (!host.GetListSeparator(separator)) {
        LogMessage(SeverityError, CsvFileError, "Failed when retrieving locale information");
        return E_FAIL;
    }
    return ImportFile(app, host, path, separator, ImportOldLines);
}

HRESULT CsvIsOldDialect(const std::string &path)
{
    if (path.size() <= 4 || lstrcmpiA(path.substr(path.size() - 4).c_str(), ".CSV") != 0)
        return S_FALSE;
    std::vector<std::string> lines;
    DWORD error = 0;
    if (ReadLines(path, lines, error) != ReadOk)
        return CSV_E_FILE;
    for (const std::string &raw : lines) {
        std::string line = TrimLeft(raw);
        if (!line.empty())
            return IsOldCsvTitleLine(line) ? S_OK : S_FALSE;
    }
    return S_FALSE;
}

HRESULT CsvOpen(IQORDriver *app, ICsvHost &host, const std::string &path, bool allowOld, bool *importedOld)
{
    if (importedOld)
        *importedOld = false;
    if (CsvIsOldDialect(path) != S_OK)
        return CsvImport(app, host, path);
    if (!allowOld)
        return CSV_W_OLD_DIALECT;
    if (importedOld)
        *importedOld = true;
    return CsvImportOld(app, host, path);
}

HRESULT WriteLogReport(ICsvHost &host, const std::string &path)
{
    TextWriter file;
    if (!file.Create(path)) {
        LogMessage(SeverityError, LogFileError, "Creation");
        return CSV_E_LOG_REPORT;
    }
    if (!file.Write(LogReportTitle(host.Acronym(), LocalReportTime(host)) + LogReportHeader(), nullptr)) {
        LogMessage(SeverityError, LogFileError, "Writing");
        return CSV_E_LOG_REPORT;
    }
    int count = host.LogRowCount();
    for (int i = 0; i < count; ++i) {
        CsvLogRow row;
        std::string line;
        // A row left out would make the report look whole when it is not.
        if (!host.GetLogRow(i, row) || !LogReportLine(i + 1, row, line)) {
            LogMessage(SeverityError, LogFileError, "GetItem");
            return CSV_E_LOG_REPORT;
        }
        if (!file.Write(line, nullptr)) {
            LogMessage(SeverityError, LogFileError, "Writing");
            return CSV_E_LOG_REPORT;
        }
    }
    file.Close();
    LogMessage(SeverityInfo, "Log file %s written", path.c_str());
    return S_OK;
}
