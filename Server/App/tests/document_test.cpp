// The configuration document over its files: the archive's exact bytes
// through the document, a failed open that leaves the tree and the path as
// they were, saves that replace a file only when they succeed, and the
// status codes of each extension.
#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "LogTestDoubles.h"
#include "ServerDoc.h"
#include "ServerMsg.h"
#include "../../Config/tests/config_values.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The automation object as the document sees it: it holds the tree.
class CTreeHost : public IServerDocHost {
public:
    std::unique_ptr<CDriver> driver;
    std::string fullName, title, folder;
    int replaced = 0;

    CDriver *Configuration() override { return driver.get(); }
    HRESULT ReplaceConfiguration(std::unique_ptr<CDriver> next, std::unique_ptr<CDriver> *previous) override
    {
        ++replaced;
        if (previous)
            *previous = std::move(driver);
        driver = next ? std::move(next) : std::unique_ptr<CDriver>(new CDriver("QOR", "QOR I/O Server", "7.10"));
        return S_OK;
    }
    void SetFullConfigFileName(const std::string &name) override { fullName = name; }
    void SetConfigFileTitle(const std::string &name) override { title = name; }
    std::string ConfigFolder() override { return folder; }
    IQORDriver *Automation() override { return nullptr; }
};

std::string TempFolder()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string folder = std::string(dir) + "server_app_doc\\";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

class Document : public testing::Test {
protected:
    CServerMsg log{"QOR"};
    CRecordingLogView view;
    CRecordingMessageBox boxes;
    CTreeHost host;
    std::unique_ptr<CServerDoc> doc;
    std::string folder = TempFolder();
    long counters[3] = {};

    void SetUp() override
    {
        DurationSeparators pinned;
        pinned.time = ":";
        pinned.decimal = ".";
        OverrideDurationSeparators(&pinned);
        log.SetView(&view);
        log.SetMessageBox(&boxes);
        for (LONG severity : {SeverityInfo, SeverityWarning, SeverityError})
            log.SetSwitch(severity, TRUE);
        host.folder = folder;
        doc.reset(new CServerDoc(&host, "QOR"));
        counters[0] = CChannel::NameCounter();
        counters[1] = CDevice::NameCounter();
        counters[2] = CDataBlock::NameCounter();
    }
    void TearDown() override
    {
        doc.reset();
        host.driver.reset();
        CChannel::NameCounter() = counters[0];
        CDevice::NameCounter() = counters[1];
        CDataBlock::NameCounter() = counters[2];
        OverrideDurationSeparators(nullptr);
        log.SetView(nullptr);
        log.SetMessageBox(nullptr);
    }

    bool Logged(const std::string &text)
    {
        for (const std::string &line : view.Texts())
            if (line == text)
                return true;
        return false;
    }
    bool LoggedStart(const std::string &start)
    {
        for (const std::string &line : view.Texts())
            if (line.compare(0, start.size(), start) == 0)
                return true;
        return false;
    }

    // Two channels, a device each, blocks of three types, none enabled so
    // that no worker reaches for a controller.
    void BuildTree()
    {
        using namespace configtest;
        ASSERT_TRUE(doc->New());
        CDriver &driver = *host.driver;
        for (int c = 0; c < 2; ++c) {
            auto *channel = new CChannel;
            EXPECT_EQ(0, Set(*channel, "Name", Text("Line" + std::to_string(c))));
            EXPECT_EQ(0, Set(*channel, "Description", Text(std::string(300, 'd'))));
            EXPECT_EQ(0, Set(*channel, "PrimaryCPName", Text("CP" + std::to_string(c))));
            EXPECT_EQ(0, Set(*channel, "PrimaryVFDName", Text("VFD" + std::to_string(c))));
            ASSERT_EQ(0, driver.AddChannel(channel));
            auto *device = new CDevice;
            EXPECT_EQ(0, Set(*device, "Name", Text("PLC" + std::to_string(c))));
            EXPECT_EQ(0, Set(*device, "PrimaryConnName", Text("CONN" + std::to_string(c))));
            EXPECT_EQ(0, Set(*device, "PrimaryRetries", I4(4)));
            ASSERT_EQ(0, channel->AddDevice(device));
            for (int b = 0; b < 3; ++b) {
                auto *block = new CDataBlock;
                EXPECT_EQ(0, Set(*block, "Name", Text("B" + std::to_string(c) + std::to_string(b))));
                EXPECT_EQ(0, Set(*block, "StartAddress", Text("DB" + std::to_string(10 + b) + ",0")));
                EXPECT_EQ(0, Set(*block, "Length", I4(8 * (b + 1))));
                EXPECT_EQ(0, Set(*block, "DeadBand", R4(0.5f * float(b))));
                ASSERT_EQ(0, device->AddDataBlock(block));
            }
        }
    }
    static size_t Objects(const CDriver &driver)
    {
        size_t count = 1;
        for (CChannel *c : driver.Channels()) {
            ++count;
            for (CDevice *d : c->Devices())
                count += 1 + d->DataBlocks().size();
        }
        return count;
    }
};

TEST_F(Document, NewConfigurationIsUntitledInTheConfigurationFolder)
{
    ASSERT_TRUE(doc->New());
    ASSERT_NE(nullptr, host.driver);
    EXPECT_EQ(folder + "Untitled.qor", doc->PathName());
    EXPECT_EQ("Untitled.qor", doc->Title());
    EXPECT_EQ(doc->PathName(), host.fullName);
    EXPECT_EQ("Untitled.qor", host.title);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_TRUE(Logged("New configuration created"));
}

TEST_F(Document, EmptyTreeSavesAsTheDriverClassRecordAlone)
{
    ASSERT_TRUE(doc->New());
    std::string path = folder + "empty.qor";
    doc->SetModified(true);
    ASSERT_EQ(S_OK, doc->Save(path));
    const Bytes expected = {0xFF, 0xFF, 0x02, 0x00, 0x07, 0x00, 'C', 'D', 'r', 'i', 'v', 'e', 'r', 0x00, 0x00};
    EXPECT_EQ(expected, ReadFile(path));
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(path, doc->PathName());
    EXPECT_TRUE(Logged("Configuration file saved as " + path));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".tmp").c_str()));
}

TEST_F(Document, FullTreeSavedOpenedAndSavedAgainIsByteIdentical)
{
    BuildTree();
    std::string first = folder + "full.qor", second = folder + "FULL2.QOR";
    ASSERT_EQ(S_OK, doc->Save(first));
    CDriver *before = host.driver.get();
    ASSERT_EQ(S_OK, doc->Open(first, false, nullptr));
    EXPECT_NE(before, host.driver.get());
    EXPECT_EQ(11u, Objects(*host.driver));
    EXPECT_TRUE(Logged("Configuration file " + first + " loaded"));
    EXPECT_EQ(first, host.fullName);
    ASSERT_EQ(S_OK, doc->Save(second));
    Bytes a = ReadFile(first), b = ReadFile(second);
    EXPECT_GT(a.size(), 300u);
    EXPECT_EQ(a, b);
}

TEST_F(Document, ADamagedFileIsReportedAndLeavesTheTreeAndThePath)
{
    BuildTree();
    std::string good = folder + "good.qor";
    ASSERT_EQ(S_OK, doc->Save(good));
    Bytes whole = ReadFile(good);
    CDriver *present = host.driver.get();
    const std::string path = doc->PathName();
    const int replaced = host.replaced;

    struct Case {
        const char *name;
        Bytes bytes;
    } cases[] = {
        {"cut.qor", Bytes(whole.begin(), whole.begin() + whole.size() / 2)},
        {"cut1.qor", Bytes(whole.begin(), whole.end() - 1)},
        {"zero.qor", Bytes()},
        {"junk.qor", Bytes{0xFF, 0xFF, 0x01, 0x00, 0x07, 0x00, 'C', 'D', 'r', 'i', 'v', 'e', 'X'}},
    };
    for (const Case &c : cases) {
        std::string damaged = folder + c.name;
        WriteFile(damaged, c.bytes);
        EXPECT_EQ(HRESULT(DOC_E_ARCHIVE), doc->Open(damaged, false, nullptr)) << c.name;
        EXPECT_EQ(DOC_E_ARCHIVE, doc->Status()) << c.name;
        EXPECT_EQ(present, host.driver.get()) << c.name;
        EXPECT_EQ(replaced, host.replaced) << c.name;
        EXPECT_EQ(11u, Objects(*host.driver)) << c.name;
        EXPECT_EQ(path, doc->PathName()) << c.name;
        EXPECT_EQ(path, host.fullName) << c.name;
        EXPECT_TRUE(LoggedStart("Unexpected file format.  " + damaged) || LoggedStart("Failed to open document.  " + damaged))
            << c.name;
        EXPECT_TRUE(LoggedStart("CDriverDoc::Serialize Exception : ")) << c.name;
    }
    EXPECT_TRUE(boxes.Boxes().empty());
    doc->ClearStatus();
    EXPECT_EQ(0, doc->Status());
}

// A configuration of a channel, a device and a block, cut at every length
// down to an empty file: each cut is a damaged file with its code, the
// present tree stays current and the document keeps its name.
TEST_F(Document, EveryCutOfASavedFileIsADamagedFile)
{
    using namespace configtest;
    ASSERT_TRUE(doc->New());
    auto *channel = new CChannel;
    EXPECT_EQ(0, Set(*channel, "Name", Text("Line1")));
    ASSERT_EQ(0, host.driver->AddChannel(channel));
    auto *device = new CDevice;
    EXPECT_EQ(0, Set(*device, "Name", Text("PLC1")));
    ASSERT_EQ(0, channel->AddDevice(device));
    auto *block = new CDataBlock;
    EXPECT_EQ(0, Set(*block, "Name", Text("Speeds")));
    EXPECT_EQ(0, Set(*block, "StartAddress", Text("DB10,0")));
    ASSERT_EQ(0, device->AddDataBlock(block));
    std::string good = folder + "small.qor";
    ASSERT_EQ(S_OK, doc->Save(good));
    const Bytes whole = ReadFile(good);
    CDriver *present = host.driver.get();
    const int replaced = host.replaced;

    std::string cutPath = folder + "cut.qor";
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        WriteFile(cutPath, Bytes(whole.begin(), whole.begin() + cut));
        ASSERT_EQ(HRESULT(DOC_E_ARCHIVE), doc->Open(cutPath, false, nullptr)) << "cut at " << cut;
        ASSERT_EQ(present, host.driver.get()) << "cut at " << cut;
    }
    EXPECT_EQ(replaced, host.replaced);
    EXPECT_EQ(4u, Objects(*host.driver));
    EXPECT_EQ(good, doc->PathName());
    EXPECT_EQ(S_OK, doc->Open(good, false, nullptr));
    EXPECT_EQ(4u, Objects(*host.driver));
}

TEST_F(Document, AMissingFileIsAnOpenFailureThatTouchesNothing)
{
    ASSERT_TRUE(doc->New());
    CDriver *present = host.driver.get();
    std::string missing = folder + "missing.qor";
    DeleteFileA(missing.c_str());
    EXPECT_EQ(HRESULT(DOC_E_OPEN), doc->Open(missing, false, nullptr));
    EXPECT_EQ(present, host.driver.get());
    EXPECT_EQ(folder + "Untitled.qor", doc->PathName());
    EXPECT_TRUE(Logged("Cannot find this file.  " + missing));
}

TEST_F(Document, ExtensionsChooseTheFormatAndUnknownOnesChangeNothing)
{
    BuildTree();
    std::string lower = folder + "config.qor", upper = folder + "CASE.QOR";
    ASSERT_EQ(S_OK, doc->Save(lower));
    ASSERT_EQ(S_OK, doc->Save(upper));
    EXPECT_EQ(S_OK, doc->Open(lower, false, nullptr));
    EXPECT_EQ(S_OK, doc->Open(upper, false, nullptr));
    CDriver *present = host.driver.get();

    struct Case {
        std::string path;
        bool open;
        HRESULT code;
        const char *line;   // null: nothing logged
    } cases[] = {
        {folder + "config", true, DOC_E_EXTENSION, nullptr},
        {folder + "config.", true, DOC_E_EXTENSION, nullptr},
        {folder + "config.txt", true, DOC_E_EXTENSION, "Invalid file extension:  File Open"},
        {folder + "dir.qor\\config", true, DOC_E_EXTENSION, nullptr},
        {folder + "config", false, DOC_E_EXTENSION, nullptr},
        {folder + "config.txt", false, DOC_E_EXTENSION, "Invalid file extension:  File Save"},
    };
    for (const Case &c : cases) {
        size_t lines = view.Texts().size();
        HRESULT hr = c.open ? doc->Open(c.path, false, nullptr) : doc->Save(c.path);
        EXPECT_EQ(c.code, hr) << c.path;
        EXPECT_EQ(c.code, HRESULT(doc->Status())) << c.path;
        EXPECT_EQ(present, host.driver.get()) << c.path;
        if (c.line)
            EXPECT_EQ(c.line, view.Texts().front()) << c.path;
        else
            EXPECT_EQ(lines, view.Texts().size()) << c.path;
    }
    EXPECT_EQ(upper, doc->PathName());

    EXPECT_EQ("QOR", CServerDoc::Extension("C:\\a.b\\file.qor"));
    EXPECT_EQ("", CServerDoc::Extension("C:\\a.b\\file"));
    EXPECT_EQ("CSV", CServerDoc::Extension("x.tar.csv"));
}

TEST_F(Document, AFailedSaveLeavesTheOldFileAndIsNeverSuccess)
{
    BuildTree();
    std::string path = folder + "kept.qor";
    ASSERT_EQ(S_OK, doc->Save(path));
    Bytes before = ReadFile(path);
    doc->SetModified(true);
    ASSERT_TRUE(host.driver->Channels().size() == 2);
    host.driver->RemoveChannel(nullptr);

    // The temporary file cannot be made where a folder of its name stands.
    std::string blocker = path + ".tmp";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
    EXPECT_EQ(HRESULT(DOC_E_ARCHIVE), doc->Save(path));
    RemoveDirectoryA(blocker.c_str());
    EXPECT_EQ(before, ReadFile(path));
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(Logged("Failed to save document.  " + path));

    std::string nowhere = folder + "no\\such\\folder\\x.qor";
    EXPECT_EQ(HRESULT(DOC_E_ARCHIVE), doc->Save(nowhere));
    EXPECT_EQ(path, doc->PathName());
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(Document, CsvAndLogReportFailuresCarryTheirCodes)
{
    ASSERT_TRUE(doc->New());
    // Without an automation object the CSV files cannot be made; each
    // failure has its own code and is never success.
    EXPECT_EQ(HRESULT(DOC_E_CSV_EXPORT), doc->Save(folder + "out.csv"));
    EXPECT_EQ(HRESULT(DOC_E_CSV_IMPORT), doc->Open(folder + "in.CSV", false, nullptr));
}

TEST_F(Document, ALogReportLeavesTheConfigurationsNameAndChanges)
{
    BuildTree();
    std::string config = folder + "plant.qor", report = folder + "plant_report.LOG";
    ASSERT_EQ(S_OK, doc->Save(config));
    doc->SetModified(true);
    DeleteFileA(report.c_str());
    ASSERT_EQ(S_OK, doc->Save(report));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(report.c_str()));
    EXPECT_EQ(config, doc->PathName());
    EXPECT_EQ(config, host.fullName);
    EXPECT_EQ("plant.qor", doc->Title());
    EXPECT_TRUE(doc->IsModified()) << "the configuration's changes are still unsaved";
}

// Windows refuses to replace a read-only file; so does the save, in every
// format, with the format's code and the file untouched.
TEST_F(Document, AReadOnlyFileIsNotReplaced)
{
    BuildTree();
    std::string config = folder + "plant.qor";
    ASSERT_EQ(S_OK, doc->Save(config));
    doc->SetModified(true);
    const struct {
        const char *name;
        HRESULT code;
    } cases[] = {{"locked.qor", DOC_E_ARCHIVE}, {"locked.csv", DOC_E_CSV_EXPORT}, {"locked.log", DOC_E_LOG_REPORT}};
    const Bytes kept = {'k', 'e', 'p', 't'};
    for (const auto &c : cases) {
        std::string path = folder + c.name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFile(path, kept);
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << c.name;
        EXPECT_EQ(c.code, doc->Save(path)) << c.name;
        EXPECT_EQ(c.code, HRESULT(doc->Status())) << c.name;
        EXPECT_EQ(kept, ReadFile(path)) << c.name;
        EXPECT_TRUE(Logged("Unable to write to " + path + "  " + path)) << c.name;
        EXPECT_EQ(config, doc->PathName()) << c.name;
        EXPECT_TRUE(doc->IsModified()) << c.name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

TEST(FileDialog, TheExtensionFollowsTheFileType)
{
    CServerFileDialog dialog(false, "QOR", NULL);
    EXPECT_EQ("qor", dialog.TypeExtension(1));
    EXPECT_EQ("csv", dialog.TypeExtension(2));
    EXPECT_EQ("log", dialog.TypeExtension(3));
    const struct {
        const char *name;
        const char *extension;
        const char *result;
    } cases[] = {
        {"plant.qor", "csv", "plant.csv"},
        {"plant", "log", "plant.log"},
        {"plant.v2.qor", "csv", "plant.csv"},   // the extension starts after the first "."
        {"plant.", "qor", "plant.qor"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.result, CServerFileDialog::ReplaceExtension(c.name, c.extension)) << c.name;
}

TEST(FailureText, FileErrorsNameTheirCause)
{
    EXPECT_EQ("Cannot find this file.", CServerDoc::FileFailureText(ERROR_FILE_NOT_FOUND, "x.qor", true));
    EXPECT_EQ("Cannot find this file.", CServerDoc::FileFailureText(ERROR_PATH_NOT_FOUND, "x.qor", true));
    EXPECT_EQ("Unable to read from x.qor", CServerDoc::FileFailureText(ERROR_ACCESS_DENIED, "x.qor", true));
    EXPECT_EQ("Unable to write to x.qor", CServerDoc::FileFailureText(ERROR_ACCESS_DENIED, "x.qor", false));
    EXPECT_EQ("Destination disk drive is full.", CServerDoc::FileFailureText(ERROR_DISK_FULL, "x.qor", false));
}

} // namespace
