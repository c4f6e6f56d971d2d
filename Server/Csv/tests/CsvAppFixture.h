// The real automation object in process, with the small document around it
// that the CSV calls need: IDriverAppHost's file commands go to the CSV calls
// as the document sends them, and the import's tree swap keeps the tree set
// aside as a configuration file in the temporary folder.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include "ConfigFile.h"
#include "ConfigObject.h"
#include "CsvTestHost.h"
#include "Driver.h"
#include "DriverApp.h"

class CTestAppHost : public IDriverAppHost {
public:
    CDriverApp *app = nullptr;
    ICsvHost *csv = nullptr;
    bool modified = false;
    bool importing = false;

    HRESULT ModuleQueryInterface(REFIID, void **out) override
    {
        if (out)
            *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG ModuleAddRef() override { return 2; }
    ULONG ModuleRelease() override { return 1; }
    bool IsMainWindowVisible() override { return false; }
    void ShowMainWindow(bool) override {}
    bool PostMainWindowClose() override { return true; }
    HRESULT DocumentNew() override { return app->SetConfigurationRoot(nullptr); }
    // Only the CSV extension is this test's business.
    HRESULT DocumentSave(const std::string &path) override { return CsvExport(app, *csv, path); }
    HRESULT DocumentOpen(const std::string &path, bool allowOld, bool *importedOld) override
    {
        return CsvOpen(app, *csv, path, allowOld, importedOld);
    }
    bool DocumentModified() override { return modified; }
    void SetDocumentModified() override { modified = true; }
    bool DocumentImporting() override { return importing; }
    void ClearDocumentStatus() override {}
};

class CsvAppTest : public testing::Test {
protected:
    void SetUp() override
    {
        app.reset(new CDriverApp(&appHost, "QOR", "QOR I/O Server", "7.10"));
        ASSERT_EQ(S_OK, app->SetConfigurationRoot(nullptr));
        appHost.app = app.get();
        appHost.csv = &host;
        host.beginTree = [this] {
            // The tree set aside, as the document may keep it: its file.
            std::string error;
            if (!SaveConfigurationFile(setAside.path, *app->Driver(), &error))
                return E_FAIL;
            savedModified = appHost.modified;
            return app->SetConfigurationRoot(nullptr);
        };
        host.onImporting = [](bool on) { SetConfigImporting(on); };
        host.endTree = [this](bool succeeded) {
            if (succeeded)
                return;
            ConfigLoadResult loaded = LoadConfigurationFile(setAside.path);
            ASSERT_TRUE(loaded.Succeeded()) << loaded.error;
            ASSERT_EQ(S_OK, app->SetConfigurationRoot(std::move(loaded.driver)));
            appHost.modified = savedModified;
        };
    }
    void TearDown() override
    {
        app.reset();
        SetConfigImporting(false);
    }

    // name=value pairs to the automation object's add members.
    typedef std::vector<std::pair<std::string, std::string>> Props;
    static void Arrays(const Props &props, VARIANT &names, VARIANT &values);
    // kind: 2 channel, 3 device, 4 data block.
    LONG Add(int kind, LONG parent, const Props &props);
    LONG AddChannel(const Props &props) { return Add(2, 0, props); }
    LONG AddDevice(LONG channel, const Props &props) { return Add(3, channel, props); }
    LONG AddDataBlock(LONG device, const Props &props) { return Add(4, device, props); }
    // A property of the object named, as text ("" when it cannot be read).
    std::string Get(const std::string &object, const std::string &property);
    // Names of the tree in order, "channel/device/block".
    std::vector<std::string> Tree();
    // The tree of the round-trip tests: four channels, the first without
    // devices, values that need quoting, a block on a later device only.
    void BuildFullTree();

    CCsvTestLog log;
    CTestCsvHost host;
    CTestAppHost appHost;
    std::unique_ptr<CDriverApp> app;
    CTempFile setAside{"setaside.qor"};
    bool savedModified = false;
};
