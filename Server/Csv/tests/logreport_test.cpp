// The message-log report: a golden file from a fixed set of rows, and its failures.
#include <gtest/gtest.h>
#include "CsvTestHost.h"

namespace {

std::vector<CsvLogRow> GoldenRows()
{
    return {
        {2, "CSV Line 7, Channel9 Not Found", "12/10/26", "10:17:02 PM"},
        {0, "Configuration file C:\\Program Files\\QOR\\Config\\plant_north.qor loaded", "12/10/26", "10:16:59 PM"},
        {1, "Device Press4 switched to its backup connection", "12/10/26", "9:05:00 AM"},
        {3, "Fatal", "12/9/26", "11:59:59 PM"},
        {4, "debug one", "12/9/26", "1:00:00 AM"},
        {5, "debug two", "12/9/26", "1:00:00 AM"},
        {6, "", "12/9/26", "1:00:00 AM"},
    };
}

TEST(LogReport, RowsTopFirstInFixedColumns)
{
    CCsvTestLog log;
    CTestCsvHost host;
    host.rows = GoldenRows();
    CTempFile file("report.log");
    ASSERT_EQ(S_OK, WriteLogReport(host, file.path));
    EXPECT_EQ(ReadCsvFixture("logreport.golden"), file.Read());
    EXPECT_EQ(std::vector<std::string>{"Log file " + file.path + " written"}, log.Texts());
}

TEST(LogReport, EmptyViewGivesTitleHeaderAndDashes)
{
    CCsvTestLog log;
    CTestCsvHost host;
    CTempFile file("empty.log");
    ASSERT_EQ(S_OK, WriteLogReport(host, file.path));
    std::string golden = ReadCsvFixture("logreport.golden");
    size_t dashes = golden.find(std::string(79, '-') + "\r\n");
    ASSERT_NE(std::string::npos, dashes);
    EXPECT_EQ(golden.substr(0, dashes + 81), file.Read());
}

TEST(LogReport, FailuresFailTheReport)
{
    CCsvTestLog log;
    {
        CTestCsvHost host;
        host.rows = GoldenRows();
        host.unreadableRow = 3;
        CTempFile file("unreadable.log");
        EXPECT_EQ(CSV_E_LOG_REPORT, WriteLogReport(host, file.path));
        EXPECT_EQ(std::vector<std::string>{"Log file error:  GetItem"}, log.Errors());
    }
    {
        CTestCsvHost host;
        host.rows = GoldenRows();
        host.rows[1].image = 7;
        CTempFile file("badimage.log");
        EXPECT_EQ(CSV_E_LOG_REPORT, WriteLogReport(host, file.path));
    }
    {
        CTestCsvHost host;
        EXPECT_EQ(CSV_E_LOG_REPORT, WriteLogReport(host, "Q:\\no such folder\\x\\report.log"));
        EXPECT_EQ("Log file error:  Creation", log.Errors().back());
    }
}

}  // namespace
