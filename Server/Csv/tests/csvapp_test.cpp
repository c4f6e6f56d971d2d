// Export and import against the real automation object: round trips, the
// fixtures of quoting, the older dialect, and failed imports that leave the
// configuration as it was.
#include "CsvAppFixture.h"

namespace {

std::string Lines(const std::string &bytes, size_t from)
{
    size_t pos = 0;
    for (size_t i = 0; i < from && pos != std::string::npos; ++i) {
        pos = bytes.find('\n', pos);
        if (pos != std::string::npos)
            ++pos;
    }
    return pos == std::string::npos ? std::string() : bytes.substr(pos);
}

TEST_F(CsvAppTest, FullConfigurationRoundTrips)
{
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    CTempFile first("first.csv"), second("second.csv");
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, first.path));

    // Into an empty server.
    ASSERT_EQ(S_OK, app->SetConfigurationRoot(nullptr));
    ASSERT_TRUE(Tree().empty());
    ASSERT_EQ(S_OK, CsvImport(app.get(), host, first.path)) << testing::PrintToString(log.Errors());
    EXPECT_EQ(tree, Tree());
    host.now.wMinute = 18;   // the title's time is the only difference allowed
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, second.path));
    std::string a = first.Read(), b = second.Read();
    EXPECT_EQ(Lines(a, 1), Lines(b, 1));
    EXPECT_EQ("[QOR I/O Driver Configuration Report, Thursday December 10 2026, 10:17 PM]\r\n\r\n!Name,",
              a.substr(0, 84));

    EXPECT_EQ("press line, \"north\" hall", Get("#Line1", "Description"));
    EXPECT_EQ("say \"hi\"", Get("Press1", "Description"));
    EXPECT_EQ("\"quoted\" start", Get("Temps", "Description"));
    EXPECT_EQ("a,b,,c", Get("Robot", "Description"));
    EXPECT_EQ("5", Get("Press1", "PrimaryRetries"));
    EXPECT_EQ("6", Get("Temps", "DataType"));
    EXPECT_EQ(1, host.importingOn);
    EXPECT_EQ(1, host.importingOff);
    EXPECT_FALSE(host.importing);
    EXPECT_EQ(1, host.modified);
    EXPECT_EQ(std::vector<bool>{true}, host.ends);
    EXPECT_TRUE(log.Errors().empty()) << testing::PrintToString(log.Errors());
}

TEST_F(CsvAppTest, SectionsAndQuotingAsWritten)
{
    BuildFullTree();
    CTempFile file("sections.csv");
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, file.path));
    std::string text = file.Read();
    EXPECT_NE(std::string::npos, text.find("\r\n!Name,Description,PrimaryCPName,PrimaryVFDName,BackupCPName,"
                                           "BackupVFDName,Enabled\r\n"));
    EXPECT_NE(std::string::npos, text.find("\r\n\"#Line1\",\"press line, \"\"north\"\" hall\",CP_L2,VFD_A,"));
    EXPECT_NE(std::string::npos, text.find("\r\n\r\n@Channel,Name,Description,PrimaryConnName,"));
    EXPECT_NE(std::string::npos, text.find("\r\n\"#Line1\",Press1,say \"hi\",CONN1,"));
    EXPECT_NE(std::string::npos, text.find("\r\nLine2,Robot,\"a,b,,c\","));
    EXPECT_NE(std::string::npos, text.find("\r\n\r\n#Device,Name,Description,StartAddress,Length,"));
    EXPECT_NE(std::string::npos, text.find("\r\nPress1,Temps,\"\"\"quoted\"\" start\",\"DB10,100\",8,"));
    // The first channel has no device; the later ones' devices and blocks are there.
    EXPECT_NE(std::string::npos, text.find("\r\nRobot,Pos,"));
    EXPECT_EQ("CSV file " + file.path + " written", log.Texts().back());
}

TEST_F(CsvAppTest, EmptyConfigurationWritesTheTitleOnly)
{
    CTempFile file("empty.csv");
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, file.path));
    EXPECT_EQ("[QOR I/O Driver Configuration Report, Thursday December 10 2026, 10:17 PM]\r\n\r\n", file.Read());
    ASSERT_EQ(S_OK, CsvImport(app.get(), host, file.path));
    EXPECT_TRUE(Tree().empty());
}

TEST_F(CsvAppTest, RoundTripThroughTheFileCommands)
{
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    CTempFile first("cmd1.csv"), second("cmd2.csv");
    BSTR name = SysAllocStringLen(nullptr, 0);
    auto Wide = [](const std::string &s) { return std::wstring(s.begin(), s.end()); };
    BSTR one = SysAllocString(Wide(first.path).c_str()), two = SysAllocString(Wide(second.path).c_str());
    ASSERT_EQ(S_OK, app->FileSaveAs(one));
    ASSERT_EQ(S_OK, app->FileNew());
    ASSERT_TRUE(Tree().empty());
    ASSERT_EQ(S_OK, app->FileOpen(one)) << testing::PrintToString(log.Errors());
    EXPECT_EQ(tree, Tree());
    ASSERT_EQ(S_OK, app->FileSaveAs(two));
    EXPECT_EQ(first.Read(), second.Read());
    SysFreeString(one), SysFreeString(two), SysFreeString(name);
}

// Fixtures that must not import leave the configuration as it was, with the
// reason and its line number in the log.
TEST_F(CsvAppTest, FailedImportsKeepTheConfiguration)
{
    const struct {
        const char *fixture;
        HRESULT result;
        std::vector<std::string> errors;
    } cases[] = {
        {"missing_parent.csv", CSV_E_IMPORT, {"CSV Line 8, Nowhere Not Found", "CSV file error:  Import object"}},
        {"truncated.csv", CSV_E_IMPORT, {"CSV Line 11, Unterminated quoted text", "CSV file error:  Import object"}},
        {"short_row.csv", CSV_E_IMPORT, {"CSV Line 4, Too few values", "CSV file error:  Import object"}},
        {"long_row.csv", CSV_E_IMPORT, {"CSV Line 4, Too many values", "CSV file error:  Import object"}},
        {"bad_title.csv", CSV_E_IMPORT,
         {"CSV Line 2, Not a configuration report title", "CSV file error:  Import object"}},
        {"outside_section.csv", CSV_E_IMPORT, {"CSV Line 3, Line outside a section", "CSV file error:  Import object"}},
        {"no_such_file.csv", CSV_E_FILE, {"CSV file error:  Invalid file name"}},
    };
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fixture);
        std::vector<std::string> before = log.Errors();
        host.modified = 0;
        EXPECT_EQ(c.result, CsvImport(app.get(), host, CsvFixture(c.fixture)));
        std::vector<std::string> errors = log.Errors();
        errors.erase(errors.begin(), errors.begin() + before.size());
        EXPECT_EQ(c.errors, errors);
        EXPECT_EQ(tree, Tree());
        EXPECT_EQ("say \"hi\"", Get("Press1", "Description"));
        EXPECT_FALSE(host.importing);
        EXPECT_EQ(host.importingOn, host.importingOff);
        EXPECT_EQ(0, host.modified);
    }
    EXPECT_EQ(std::vector<bool>(6, false), host.ends);
}

// While the import runs the enable lines are silent; after a failed import
// they are heard again.
TEST_F(CsvAppTest, FailedImportGivesTheEnableLinesBack)
{
    BuildFullTree();
    size_t before = log.Texts().size();
    ASSERT_EQ(CSV_E_IMPORT, CsvImport(app.get(), host, CsvFixture("enabled_then_missing.csv")));
    std::vector<std::string> texts = log.Texts();
    texts.erase(texts.begin(), texts.begin() + before);
    for (const std::string &text : texts)
        EXPECT_EQ(std::string::npos, text.find(" Enabled")) << text;
    EXPECT_EQ("CSV Line 8, Gone Not Found", log.Errors().front());

    VARIANT names, values, errors;
    names.vt = values.vt = VT_BSTR;
    names.bstrVal = SysAllocString(L"Enabled");
    values.bstrVal = SysAllocString(L"-1");
    VariantInit(&errors);
    BSTR spare = SysAllocString(L"Spare");
    EXPECT_EQ(S_OK, app->SetPropertyData2(spare, names, values, &errors));
    EXPECT_EQ("Channel Spare Enabled", log.Texts().back());
    SysFreeString(spare);
    VariantClear(&names), VariantClear(&values), VariantClear(&errors);
}

TEST_F(CsvAppTest, RefusedAddReportsEachProperty)
{
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    ASSERT_EQ(CSV_E_IMPORT, CsvImport(app.get(), host, CsvFixture("refused_add.csv")));
    std::vector<std::string> errors = log.Errors();
    ASSERT_EQ(2u, errors.size()) << testing::PrintToString(errors);
    EXPECT_EQ(0u, errors[0].find("CSV Line 6, PrimaryRetries = 12, ")) << errors[0];
    EXPECT_EQ("CSV file error:  Import object", errors[1]);
    EXPECT_EQ(tree, Tree());
}

TEST_F(CsvAppTest, RefusedAttachReportsTheCodesText)
{
    ASSERT_EQ(CSV_E_IMPORT, CsvImport(app.get(), host, CsvFixture("duplicate_name.csv")));
    std::vector<std::string> errors = log.Errors();
    ASSERT_EQ(2u, errors.size()) << testing::PrintToString(errors);
    EXPECT_EQ(0u, errors[0].find("CSV Line 5, ")) << errors[0];
    EXPECT_EQ(std::string::npos, errors[0].find("0xC1030301")) << "the message table's text, not the number";
    EXPECT_TRUE(Tree().empty());
}

TEST_F(CsvAppTest, RoundTripWithAnotherSeparator)
{
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    host.separator = ";";
    CTempFile first("semi1.csv"), second("semi2.csv");
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, first.path));
    std::string text = first.Read();
    EXPECT_NE(std::string::npos, text.find("\r\nPress1;Temps;\"\"\"quoted\"\" start\";DB10,100;8;"));
    ASSERT_EQ(S_OK, CsvImport(app.get(), host, first.path)) << testing::PrintToString(log.Errors());
    EXPECT_EQ(tree, Tree());
    ASSERT_EQ(S_OK, CsvExport(app.get(), host, second.path));
    EXPECT_EQ(text, second.Read());

    // The system's own separator is what the document's host reads by default.
    std::string separator;
    ASSERT_TRUE(host.ICsvHost::GetListSeparator(separator));
    EXPECT_FALSE(separator.empty());
    EXPECT_LE(separator.size(), 3u);
}

TEST_F(CsvAppTest, NewConfigurationRefusedLeavesTheFlagOff)
{
    host.beginTree = [] { return E_FAIL; };
    EXPECT_EQ(E_FAIL, CsvImport(app.get(), host, CsvFixture("quoting.csv")));
    EXPECT_FALSE(host.importing);
    EXPECT_TRUE(host.ends.empty());
    host.beginTree = [] { return S_OK; };
    host.endTree = [](bool) {};
    host.separatorFails = true;
    EXPECT_EQ(E_FAIL, CsvImport(app.get(), host, CsvFixture("quoting.csv")));
    EXPECT_EQ("CSV file error:  ", log.Errors().back());
    EXPECT_FALSE(host.importing);
    EXPECT_EQ(std::vector<bool>{false}, host.ends);
}

TEST_F(CsvAppTest, QuotedSeparatorAndEmbeddedQuoteImport)
{
    ASSERT_EQ(S_OK, CsvImport(app.get(), host, CsvFixture("quoting.csv"))) << testing::PrintToString(log.Errors());
    EXPECT_EQ((std::vector<std::string>{"Hall", "Hall/Mixer", "Hall/Mixer/Speeds"}), Tree());
    EXPECT_EQ("north; east, and \"west\"", Get("Hall", "Description"));
    EXPECT_EQ("6\" pipe", Get("Mixer", "Description"));
    EXPECT_EQ("", Get("Speeds", "Description"));   // trailing empty value
    EXPECT_EQ("CP_1", Get("Hall", "PrimaryCPName"));
}

TEST_F(CsvAppTest, OldDialectImportsWithTranslatedValues)
{
    std::string path = CsvFixture("old_dialect.csv");
    EXPECT_EQ(S_OK, CsvIsOldDialect(path));
    EXPECT_EQ(S_FALSE, CsvIsOldDialect(CsvFixture("quoting.csv")));
    EXPECT_EQ(CSV_E_FILE, CsvIsOldDialect(CsvFixture("no_such_file.csv")));

    BuildFullTree();
    std::vector<std::string> before = Tree();
    bool importedOld = true;
    EXPECT_EQ(CSV_W_OLD_DIALECT, CsvOpen(app.get(), host, path, false, &importedOld));
    EXPECT_FALSE(importedOld);
    EXPECT_EQ(before, Tree());
    EXPECT_EQ(0, host.importingOn);

    ASSERT_EQ(S_OK, CsvOpen(app.get(), host, path, true, &importedOld)) << testing::PrintToString(log.Errors());
    EXPECT_TRUE(importedOld);
    // Each device row makes a channel of its own, named by default.
    std::vector<std::string> tree = Tree();
    ASSERT_EQ(6u, tree.size()) << testing::PrintToString(tree);
    std::string one = tree[0], two = tree[4];
    EXPECT_EQ((std::vector<std::string>{one, one + "/PRESS7", one + "/PRESS7/DataBlock12",
                                        one + "/PRESS7/DataBlockA", two, two + "/OVEN"}),
              tree);
    EXPECT_EQ("CP_EAST", Get(one, "PrimaryCPName"));
    EXPECT_EQ("VFD7", Get(one, "PrimaryVFDName"));
    EXPECT_EQ("CP_WEST", Get(two, "PrimaryCPName"));
    EXPECT_EQ("1", Get("DataBlock12", "BlockWritesEnabled"));
    EXPECT_EQ("6", Get("DataBlock12", "DataType"));
    EXPECT_EQ("1", Get("DataBlock12", "Enabled"));
    EXPECT_EQ("0", Get("DataBlockA", "BlockWritesEnabled"));
    EXPECT_EQ("2", Get("DataBlockA", "DataType"));
    EXPECT_EQ("", Get("DataBlockA", "AccessTime"));   // "NONE" does not begin with a digit
    EXPECT_EQ("stamping press, line 7", Get("PRESS7", "Description"));
    EXPECT_EQ("CONN7", Get("PRESS7", "PrimaryConnName"));
    EXPECT_EQ("4", Get("PRESS7", "PrimaryRetries"));
    EXPECT_EQ("2", Get("PRESS7", "BackupRetries"));
    EXPECT_EQ("20", Get("PRESS7", "PrimaryReplyTimeout"));   // blanks around the value removed
    EXPECT_EQ("06", Get("OVEN", "BackupDelay"));
    EXPECT_FALSE(host.importing);
    EXPECT_EQ(1, host.modified);
}

TEST_F(CsvAppTest, CorruptedOldDialectKeepsTheConfiguration)
{
    BuildFullTree();
    std::vector<std::string> tree = Tree();
    EXPECT_EQ(CSV_E_IMPORT, CsvImportOld(app.get(), host, CsvFixture("old_corrupted.csv")));
    EXPECT_EQ((std::vector<std::string>{"CSV Line 9, Corrupted 6x CSV file", "CSV file error:  Import object"}),
              log.Errors());
    EXPECT_EQ(tree, Tree());
    EXPECT_FALSE(host.importing);
    // The own dialect is not the older one.
    EXPECT_EQ(CSV_E_IMPORT, CsvImportOld(app.get(), host, CsvFixture("quoting.csv")));
    EXPECT_EQ(tree, Tree());
}

}  // namespace
