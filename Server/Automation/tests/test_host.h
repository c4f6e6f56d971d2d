// A host that fakes Hadrel's COM server module around the automation
// object: its COM identity hands out the object's interfaces (and counts
// references), the main window and the document only record what they
// are asked. Used by the in-process tests and by the out-of-process test's
// host program.
#pragma once
#include "DriverApp.h"
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace apptest {

// Fakes Hadrel's COM server module around the automation object.
class TestHost : public IDriverAppHost {
public:
    CDriverApp *app = nullptr;
    LONG refs = 0;
    bool visible = false;
    int shows = 0, closes = 0, clears = 0;
    bool closeFails = false;
    bool modified = false;
    bool importing = false;
    bool importOld = false;              // DocumentOpen reports the older CSV dialect
    HRESULT documentResult = S_OK;       // what the document commands answer
    bool throwOnModified = false;        // DocumentModified throws, to reach the catch-all
    std::vector<std::string> calls;      // "New", "Save <path>", "Open <path> <allowOld>"
    std::function<bool()> onClose;       // what closing the main window does

    HRESULT ModuleQueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        IUnknown *part = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IDriver) ||
            IsEqualIID(iid, IID_IQORDriver))
            part = static_cast<IQORDriver *>(app);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo))
            part = app->ErrorInfoPart();
        else if (IsEqualIID(iid, IID_IDriverMessage))
            part = app->MessagePart();
        else if (IsEqualIID(iid, IID_IOPCConnections))
            part = app->OpcConnectionsPart();
        else if (IsEqualIID(iid, IID_IConnectSink))
            part = app->ConnectSinkPart();
        if (!part)
            return E_NOINTERFACE;
        *out = part;
        ModuleAddRef();
        return S_OK;
    }
    ULONG ModuleAddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    ULONG ModuleRelease() override { return ULONG(InterlockedDecrement(&refs)); }

    bool IsMainWindowVisible() override { return visible; }
    void ShowMainWindow(bool show) override
    {
        visible = show;
        ++shows;
    }
    bool PostMainWindowClose() override
    {
        ++closes;
        if (closeFails)
            return false;
        return onClose ? onClose() : true;
    }
    HRESULT DocumentNew() override
    {
        calls.push_back("New");
        return documentResult;
    }
    HRESULT DocumentSave(const std::string &path) override
    {
        calls.push_back("Save " + path);
        if (SUCCEEDED(documentResult))
            modified = false;
        return documentResult;
    }
    HRESULT DocumentOpen(const std::string &path, bool allowOldCsv, bool *importedOld) override
    {
        calls.push_back("Open " + path + (allowOldCsv ? " 1" : " 0"));
        if (importedOld)
            *importedOld = importOld;
        return documentResult;
    }
    bool DocumentModified() override
    {
        if (throwOnModified)
            throw std::runtime_error("document gone");
        return modified;
    }
    void SetDocumentModified() override { modified = true; }
    bool DocumentImporting() override { return importing; }
    void ClearDocumentStatus() override { ++clears; }
};

} // namespace apptest
