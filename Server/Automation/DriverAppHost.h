#pragma once
// What the automation object needs from the program around it: the server
// module's COM identity, the main window and the configuration document.
// Hadrel's COM server module implements it; tests use a small host of their own.
#include <windows.h>
#include <string>

class IDriverAppHost {
public:
    virtual ~IDriverAppHost() = default;

    // The one COM identity that every interface of the server forwards to.
    virtual HRESULT ModuleQueryInterface(REFIID iid, void **out) = 0;
    virtual ULONG ModuleAddRef() = 0;
    virtual ULONG ModuleRelease() = 0;

    // The main window. PostMainWindowClose answers false when WM_CLOSE
    // could not be posted.
    virtual bool IsMainWindowVisible() = 0;
    virtual void ShowMainWindow(bool show) = 0;
    virtual bool PostMainWindowClose() = 0;

    // The configuration document. Each command answers S_OK or the
    // document's status code of the failed operation.
    virtual HRESULT DocumentNew() = 0;
    virtual HRESULT DocumentSave(const std::string &path) = 0;
    // importedOld (may be null) is set when the older CSV dialect was read.
    virtual HRESULT DocumentOpen(const std::string &path, bool allowOldCsv, bool *importedOld) = 0;
    virtual bool DocumentModified() = 0;
    virtual void SetDocumentModified() = 0;
    virtual bool DocumentImporting() = 0;
    // A failing automation call has reported the document's status code.
    virtual void ClearDocumentStatus() = 0;
};
