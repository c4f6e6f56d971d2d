#include "CsvText.h"
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool EqualsNoCase(const std::string &a, const char *b)
{
    size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

bool At(const std::string &text, size_t pos, const std::string &what)
{
    return !what.empty() && text.compare(pos, what.size(), what) == 0;
}

const char *const DayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const MonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

}  // namespace

std::string TrimLeft(const std::string &text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return text.substr(i);
}

std::string TrimBlanks(const std::string &text)
{
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

bool StartsWithNoCase(const std::string &text, const char *prefix)
{
    size_t n = strlen(prefix);
    return text.size() >= n && EqualsNoCase(text.substr(0, n), prefix);
}

bool SplitCsvLine(const std::string &line, const std::string &separator, std::vector<std::string> &fields)
{
    fields.clear();
    size_t pos = 0;
    for (;;) {
        if (pos < line.size() && line[pos] == '"') {
            std::string field;
            size_t i = pos + 1;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] != '"') {
                    field += line[i++];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else if (i + 1 == line.size() || At(line, i + 1, separator)) {
                    closed = true;
                    ++i;
                    break;
                } else {
                    // A lone quote inside the field (a file written without
                    // doubling) stays part of the value.
                    field += line[i++];
                }
            }
            if (!closed)
                return false;
            fields.push_back(field);
            if (i >= line.size())
                return true;
            pos = i + separator.size();
            continue;
        }
        size_t next = separator.empty() ? std::string::npos : line.find(separator, pos);
        if (next == std::string::npos) {
            fields.push_back(line.substr(pos));
            return true;
        }
        fields.push_back(line.substr(pos, next - pos));
        pos = next + separator.size();
    }
}

std::string QuoteCsvValue(const std::string &value, const std::string &separator, bool first)
{
    // Any character of the separator, not only the whole of it: a value that
    // ends or begins with part of a longer separator would otherwise shift
    // the split, which takes the separator's first occurrence.
    bool quote = (!separator.empty() && value.find_first_of(separator) != std::string::npos) ||
                 (!value.empty() && value[0] == '"') ||
                 (first && !value.empty() && strchr("!@#[", value[0]) != nullptr);
    if (!quote)
        return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string JoinCsvValues(const std::vector<std::string> &values, const std::string &separator)
{
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += separator;
        out += QuoteCsvValue(values[i], separator, i == 0);
    }
    return out;
}

std::string FormatReportTime(const ReportTime &time)
{
    int hour12 = time.hour % 12;
    if (hour12 == 0)
        hour12 = 12;
    const char *day = time.dayOfWeek >= 0 && time.dayOfWeek < 7 ? DayNames[time.dayOfWeek] : "";
    const char *month = time.month >= 1 && time.month <= 12 ? MonthNames[time.month - 1] : "";
    char buffer[96];
    snprintf(buffer, sizeof buffer, "%s %s %02d %d, %02d:%02d %s", day, month, time.day, time.year, hour12,
             time.minute, time.hour < 12 ? "AM" : "PM");
    return buffer;
}

std::string CsvTitleLine(const std::string &acronym, const ReportTime &time)
{
    return "[" + acronym + " I/O Driver Configuration Report, " + FormatReportTime(time) + "]";
}

bool IsCsvTitleLine(const std::string &line)
{
    std::string text = TrimLeft(line);
    return !text.empty() && text[0] == '[' && text.find(" I/O Driver Configuration Report, ") != std::string::npos;
}

const char OldCsvTitle[] = "K_5  Driver Configuration Report";

bool IsOldCsvTitleLine(const std::string &line)
{
    size_t bracket = line.find('[');
    return bracket != std::string::npos && line.find(OldCsvTitle, bracket) != std::string::npos;
}

OldCsvSection OldCsvSectionOf(const std::string &line)
{
    if (StartsWithNoCase(line, "!CHANNEL"))
        return OldChannel;
    if (StartsWithNoCase(line, "!DEVICE"))
        return OldDevice;
    if (StartsWithNoCase(line, "!IOREC"))
        return OldDataBlock;
    return OldNone;
}

std::vector<std::string> CutOldCsvLine(const std::string &line, const std::string &separator)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        size_t next = separator.empty() ? std::string::npos : line.find(separator, pos);
        size_t end = next == std::string::npos ? line.size() : next;
        size_t quote = line.find('"', pos);
        std::string field;
        if (quote != std::string::npos && quote < end) {
            size_t close = line.find('"', quote + 1);
            if (close == std::string::npos) {
                field = line.substr(quote + 1);
                next = std::string::npos;
            } else {
                field = line.substr(quote + 1, close - quote - 1);
                next = separator.empty() ? std::string::npos : line.find(separator, close + 1);
            }
        } else {
            field = line.substr(pos, end - pos);
        }
        fields.push_back(TrimBlanks(field));
        if (next == std::string::npos)
            return fields;
        pos = next + separator.size();
    }
}

std::vector<OldCsvColumn> MapOldCsvColumns(OldCsvSection section, const std::vector<std::string> &titles)
{
    static const OldCsvColumn channel[] = {
        {"REPLY TIMEOUT", "PrimaryReplyTimeout", -1}, {"DELAY", "PrimaryDelay", -1},
        {"RETRIES", "PrimaryRetries", -1},            {"BACKUP REPLY TIMEOUT", "BackupReplyTimeout", -1},
        {"BACKUP DELAY", "BackupDelay", -1},          {"BACKUP RETRIES", "BackupRetries", -1},
    };
    static const OldCsvColumn device[] = {
        {"Device", "PrimaryCPName", -1},         {"VFD", "PrimaryVFDName", -1},
        {"Backup Device", "BackupCPName", -1},   {"Backup VFD", "BackupVFDName", -1},
        {"DEVICE NAME", "Name", -1},             {"DESCRIPTION", "Description", -1},
        {"connection", "PrimaryConnName", -1},   {"Backup connection", "BackupConnName", -1},
    };
    static const OldCsvColumn block[] = {
        {"DEVICE NAME", "Device", -1},        {"IOREC", "Name", -1},
        {"START ADDRESS", "StartAddress", -1}, {"LENGTH", "Length", -1},
        {"DATA TYPE", "DataType", -1},         {"POLL TIME", "PrimaryPollTime", -1},
        {"ACCESS TIME", "AccessTime", -1},     {"DEAD BAND", "DeadBand", -1},
        {"BLOCK WRITE", "BlockWritesEnabled", -1},
    };
    std::vector<OldCsvColumn> columns;
    if (section == OldChannel)
        columns.assign(std::begin(channel), std::end(channel));
    else if (section == OldDevice)
        columns.assign(std::begin(device), std::end(device));
    else if (section == OldDataBlock)
        columns.assign(std::begin(block), std::end(block));
    // Each title goes to the first property without a column that it names.
    for (size_t i = 0; i < titles.size(); ++i)
        for (OldCsvColumn &column : columns)
            if (column.column < 0 && EqualsNoCase(titles[i], column.title)) {
                column.column = int(i);
                break;
            }
    return columns;
}

std::string OldCsvDataType(const std::string &value)
{
    static const struct {
        const char *word;
        const char *code;
    } types[] = {
        {"WORD", "2"},  {"INT", "1"},   {"REAL", "3"},     {"DINT", "7"},   {"DWORD", "6"},
        {"BYTE", "9"},  {"COUNTER", "10"}, {"TIMER", "11"}, {"ASCII", "0"}, {"STRING", "12"},
    };
    for (const auto &type : types)
        if (EqualsNoCase(value, type.word))
            return type.code;
    return value;
}

std::string LogReportTitle(const std::string &acronym, const ReportTime &time)
{
    return "\n\t" + acronym + " I/O Driver Server Message Log Report, " + FormatReportTime(time) + "\n\n";
}

std::string LogReportHeader()
{
    char buffer[128];
    snprintf(buffer, sizeof buffer, " %-4s %-53s%-8s %-4s\n", "No.", "Message", "Date", "Time");
    return std::string(buffer) + std::string(79, '-') + "\n";
}

bool LogReportLine(int number, const CsvLogRow &row, std::string &line)
{
    static const char *const kinds[] = {"INFO", "WARN", "ERR", "FTL", "DBG1", "DBG2", "DBG3"};
    if (row.image < 0 || row.image > 6)
        return false;
    std::string message = row.message.substr(0, 47);
    int size = snprintf(nullptr, 0, "%5d %-4s %-47s %8s %11s\n", number, kinds[row.image], message.c_str(),
                        row.date.c_str(), row.time.c_str());
    std::vector<char> buffer(size_t(size) + 1);
    snprintf(buffer.data(), buffer.size(), "%5d %-4s %-47s %8s %11s\n", number, kinds[row.image],
             message.c_str(), row.date.c_str(), row.time.c_str());
    line.assign(buffer.data(), size_t(size));
    return true;
}
