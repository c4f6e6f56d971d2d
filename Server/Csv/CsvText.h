// The text side of the CSV files and the message-log report: line splitting
// and quoting, titles, the older dialect's columns and type words, the
// report's fixed-width lines. Pure string work, so it is tested without files
// or a server.
#pragma once
#include <string>
#include <vector>

// The own dialect's fields of one line (separator: the locale's list
// separator, up to three characters). A field that begins with a double
// quote runs to the quote that is followed by the separator or the end of the
// line, with doubled quotes inside read as one; any other field runs to the
// next separator. Empty fields are kept, trailing ones too. False for a
// quoted field that is never closed (a cut line).
bool SplitCsvLine(const std::string &line, const std::string &separator, std::vector<std::string> &fields);

// A value as written in the own dialect: between double quotes, inner quotes
// doubled, when it holds any of the separator's characters or begins with a quote (which the
// splitting would take as an opening quote); with first set also when it
// begins with a character that marks a line on import ("!", "@", "#", "[").
// Otherwise unchanged.
std::string QuoteCsvValue(const std::string &value, const std::string &separator, bool first = false);

// The values quoted and joined by the separator.
std::string JoinCsvValues(const std::vector<std::string> &values, const std::string &separator);

// The local time of a title.
struct ReportTime {
    int year = 0;
    int month = 1;       // 1-12
    int day = 1;         // 1-31
    int dayOfWeek = 0;   // 0 Sunday - 6 Saturday
    int hour = 0;        // 0-23
    int minute = 0;
};

// "%A %B %d %Y, %I:%M %p" in the C locale: "Monday December 07 2026, 10:17 PM".
std::string FormatReportTime(const ReportTime &time);

// The own dialect's title line, without its line end:
// "[QOR I/O Driver Configuration Report, Monday December 07 2026, 10:17 PM]".
std::string CsvTitleLine(const std::string &acronym, const ReportTime &time);
// Whether line (leading white space removed) is a title of the own dialect.
bool IsCsvTitleLine(const std::string &line);

// The older dialect's title text, with its two blanks.
extern const char OldCsvTitle[];
// Whether line (leading white space removed) holds "[" and, at or after it,
// the older dialect's title.
bool IsOldCsvTitleLine(const std::string &line);

// Sections of the older dialect.
enum OldCsvSection { OldNone, OldChannel, OldDevice, OldDataBlock };
// The section a line starts ("!CHANNEL", "!DEVICE", "!IOREC", any case), or OldNone.
OldCsvSection OldCsvSectionOf(const std::string &line);
// The older dialect's fields: each the text up to the next separator, or,
// when that text holds a double quote, the text from it to the next quote;
// blanks removed at both ends.
std::vector<std::string> CutOldCsvLine(const std::string &line, const std::string &separator);

// The properties a section's columns feed, in table order, and for each the
// column (from 0) of the first title that names it, -1 when none does.
struct OldCsvColumn {
    const char *title;
    const char *property;
    int column;
};
std::vector<OldCsvColumn> MapOldCsvColumns(OldCsvSection section, const std::vector<std::string> &titles);

// An older data-type word ("DWORD") as its type code ("6"); other values unchanged.
std::string OldCsvDataType(const std::string &value);

// Text helpers shared with the file side.
std::string TrimLeft(const std::string &text);
std::string TrimBlanks(const std::string &text);
bool StartsWithNoCase(const std::string &text, const char *prefix);

// The message-log report.
struct CsvLogRow;
std::string LogReportTitle(const std::string &acronym, const ReportTime &time);
// The column header and the dashes.
std::string LogReportHeader();
// Line number (from 1) of row; false for an image index that names no kind.
bool LogReportLine(int number, const CsvLogRow &row, std::string &line);

// One row of the message log's view, as the report prints it.
struct CsvLogRow {
    int image = 0;        // the severity's icon: 0 INFO ... 6 DBG3; others fail the report
    std::string message;  // the "Message" column
    std::string date;     // the "Date" column
    std::string time;     // the "Time" column
};
