// The text side of the CSV files: splitting and quoting, titles, the older
// dialect's columns and type words.
#include <gtest/gtest.h>
#include "CsvText.h"

namespace {

struct SplitCase {
    const char *line;
    const char *separator;
    std::vector<std::string> fields;
};

TEST(CsvSplit, FieldsOfALine)
{
    const SplitCase cases[] = {
        {"a,b,c", ",", {"a", "b", "c"}},
        {"a,,c", ",", {"a", "", "c"}},
        {"a,b,", ",", {"a", "b", ""}},                        // trailing empties are kept
        {"", ",", {""}},
        {"\"x,y\",b", ",", {"x,y", "b"}},                     // quoted separator
        {"a,\"x,y\"", ",", {"a", "x,y"}},                     // ... as the last field, nothing after it
        {"a,\"x,y\",", ",", {"a", "x,y", ""}},
        {"\"say \"\"hi\"\", then go\",b", ",", {"say \"hi\", then go", "b"}},  // quote and separator
        {"\"\"\"hi\"\"\",b", ",", {"\"hi\"", "b"}},           // a value that begins with a quote
        {"say \"hi\",b", ",", {"say \"hi\"", "b"}},           // unquoted field with quotes: unchanged
        {"\"a \"b\" c\",d", ",", {"a \"b\" c", "d"}},         // undoubled quotes inside stay
        {"\"\",x", ",", {"", "x"}},
        {"a;b,c;d", ";", {"a", "b,c", "d"}},
        {"a::b::\"c::d\"", "::", {"a", "b", "c::d"}},         // separator of several characters
    };
    for (const SplitCase &c : cases) {
        std::vector<std::string> fields;
        EXPECT_TRUE(SplitCsvLine(c.line, c.separator, fields)) << c.line;
        EXPECT_EQ(c.fields, fields) << c.line;
    }
}

TEST(CsvSplit, AQuotedFieldCutOffIsRefused)
{
    std::vector<std::string> fields;
    EXPECT_FALSE(SplitCsvLine("a,\"open to the end", ",", fields));
    EXPECT_FALSE(SplitCsvLine("\"", ",", fields));
    EXPECT_FALSE(SplitCsvLine("a,\"b\"\"", ",", fields));
}

TEST(CsvQuote, ValuesAsWrittenReadBackWhole)
{
    const struct {
        const char *value;
        bool first;
        const char *written;
    } cases[] = {
        {"plain", false, "plain"},
        {"", false, ""},
        {"a,b", false, "\"a,b\""},
        {"say \"hi\"", false, "say \"hi\""},               // quote without separator: unchanged
        {"say \"hi\", then go", false, "\"say \"\"hi\"\", then go\""},
        {"\"hi\"", false, "\"\"\"hi\"\"\""},                 // would read as a quoted field
        {"#Line", true, "\"#Line\""},                        // would read as a section header
        {"!x", true, "\"!x\""},
        {"@x", true, "\"@x\""},
        {"[x", true, "\"[x\""},
        {"#Line", false, "#Line"},
    };
    for (const auto &c : cases) {
        std::string written = QuoteCsvValue(c.value, ",", c.first);
        EXPECT_EQ(c.written, written) << c.value;
        std::vector<std::string> fields;
        ASSERT_TRUE(SplitCsvLine(written + ",next", ",", fields)) << c.value;
        EXPECT_EQ((std::vector<std::string>{c.value, "next"}), fields) << c.value;
        ASSERT_TRUE(SplitCsvLine("first," + written, ",", fields)) << c.value;
        EXPECT_EQ((std::vector<std::string>{"first", c.value}), fields) << c.value;
    }
    EXPECT_EQ("\"#a\";\"b;c\";#d", JoinCsvValues({"#a", "b;c", "#d"}, ";"));
}

// Rows joined and split again, with separators of one to three characters
// (the locale allows three): values that hold a part of the separator, at
// either end or alone, come back whole and in their own columns.
TEST(CsvQuote, RowsReadBackWithSeparatorsOfOneToThreeCharacters)
{
    const std::vector<std::vector<std::string>> rows = {
        {",", "O"},          {"a;", "b"},      {"a", ";b"},        {":", ":", ":"},
        {"x:", ":y", "::"},  {"", ",", ""},    {"a,b,c", "d"},     {"\"q\"", ";", "z"},
        {"1;;2", "3::4"},    {";", ""},        {"", ":"},          {"plain", "text"},
        {"|", "||", "|||"},  {"a|", "|b|"},    {"#x;", "y"},       {"::a::", "b::"},
    };
    for (const char *separator : {",", ";", ":", "::", ";;", ",,,", ":::", "|;|", "|"}) {
        for (const auto &row : rows) {
            std::string line = JoinCsvValues(row, separator);
            std::vector<std::string> fields;
            ASSERT_TRUE(SplitCsvLine(line, separator, fields)) << separator << " " << line;
            EXPECT_EQ(row, fields) << "separator " << separator << ", line " << line;
        }
    }
}

TEST(CsvTitle, FormatsOfTheTitles)
{
    ReportTime evening;
    evening.year = 2026, evening.month = 12, evening.day = 7, evening.dayOfWeek = 1;
    evening.hour = 22, evening.minute = 17;
    EXPECT_EQ("[QOR I/O Driver Configuration Report, Monday December 07 2026, 10:17 PM]",
              CsvTitleLine("QOR", evening));
    ReportTime times[] = {evening, evening, evening};
    times[0].hour = 0, times[0].minute = 5;    // midnight is 12 AM
    times[1].hour = 12, times[1].minute = 0;   // noon is 12 PM
    times[2].hour = 9, times[2].month = 1, times[2].day = 3, times[2].dayOfWeek = 6;
    EXPECT_EQ("Monday December 07 2026, 12:05 AM", FormatReportTime(times[0]));
    EXPECT_EQ("Monday December 07 2026, 12:00 PM", FormatReportTime(times[1]));
    EXPECT_EQ("Saturday January 03 2026, 09:17 AM", FormatReportTime(times[2]));
    EXPECT_EQ("\n\tQOR I/O Driver Server Message Log Report, Monday December 07 2026, 10:17 PM\n\n",
              LogReportTitle("QOR", evening));

    EXPECT_TRUE(IsCsvTitleLine(CsvTitleLine("QOR", evening)));
    EXPECT_TRUE(IsCsvTitleLine("  [XYZ I/O Driver Configuration Report, whenever]"));
    EXPECT_FALSE(IsCsvTitleLine("!Name,Description"));
    EXPECT_FALSE(IsCsvTitleLine("QOR I/O Driver Configuration Report, no bracket"));
}

TEST(CsvOldDialect, TitleTest)
{
    const struct {
        const char *line;
        bool old;
    } cases[] = {
        {"[K_5  Driver Configuration Report]", true},
        {"[x] K_5  Driver Configuration Report 1998", true},    // at or after the bracket
        {"K_5  Driver Configuration Report [", false},           // before it only
        {"[K_5 Driver Configuration Report]", false},            // one blank
        {"[k_5  driver configuration report]", false},
        {"[QOR I/O Driver Configuration Report, Monday December 07 2026, 10:17 PM]", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.old, IsOldCsvTitleLine(c.line)) << c.line;

    EXPECT_EQ(OldChannel, OldCsvSectionOf("!CHANNEL,REPLY TIMEOUT"));
    EXPECT_EQ(OldDevice, OldCsvSectionOf("!device,VFD"));
    EXPECT_EQ(OldDataBlock, OldCsvSectionOf("!Iorec,START ADDRESS"));
    EXPECT_EQ(OldNone, OldCsvSectionOf("CHANNEL,1"));
    EXPECT_EQ(OldNone, OldCsvSectionOf("!Name"));
}

TEST(CsvOldDialect, CuttingAndColumns)
{
    EXPECT_EQ((std::vector<std::string>{"a", "b c", "x,y", "", "z"}),
              CutOldCsvLine(" a , b c ,  \"x,y\" ,, z ", ","));
    EXPECT_EQ((std::vector<std::string>{"open,end"}), CutOldCsvLine("\"open,end", ","));

    // Titles in any case and order; "DEVICE" (the section word) names the
    // first device column; a title counts for the first property it names.
    auto columns = MapOldCsvColumns(OldDevice, CutOldCsvLine("DEVICE,vfd,DEVICE NAME,Junk,CONNECTION", ","));
    std::vector<std::pair<std::string, int>> got;
    for (const OldCsvColumn &c : columns)
        got.push_back({c.property, c.column});
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"PrimaryCPName", 0}, {"PrimaryVFDName", 1},
                                                        {"BackupCPName", -1}, {"BackupVFDName", -1},
                                                        {"Name", 2}, {"Description", -1},
                                                        {"PrimaryConnName", 4}, {"BackupConnName", -1}}),
              got);

    columns = MapOldCsvColumns(OldChannel, CutOldCsvLine("CHANNEL,DELAY,REPLY TIMEOUT,DELAY", ","));
    EXPECT_EQ(2, columns[0].column);   // PrimaryReplyTimeout
    EXPECT_EQ(1, columns[1].column);   // PrimaryDelay: the first "DELAY"
    EXPECT_EQ(-1, columns[4].column);  // BackupDelay: a second "DELAY" is not "BACKUP DELAY"

    columns = MapOldCsvColumns(OldDataBlock, CutOldCsvLine("IOREC,DEVICE NAME,BLOCK WRITE", ","));
    EXPECT_STREQ("Device", columns[0].property);
    EXPECT_EQ(1, columns[0].column);
    EXPECT_STREQ("Name", columns[1].property);
    EXPECT_EQ(0, columns[1].column);
    EXPECT_STREQ("BlockWritesEnabled", columns[8].property);
    EXPECT_EQ(2, columns[8].column);
}

TEST(CsvOldDialect, DataTypeWords)
{
    const struct {
        const char *word;
        const char *code;
    } cases[] = {
        {"WORD", "2"},  {"int", "1"},       {"Real", "3"},   {"DINT", "7"},   {"dword", "6"},  {"BYTE", "9"},
        {"COUNTER", "10"}, {"TIMER", "11"}, {"ASCII", "0"}, {"STRING", "12"}, {"5", "5"},     {"WORDS", "WORDS"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.code, OldCsvDataType(c.word)) << c.word;
}

}  // namespace
