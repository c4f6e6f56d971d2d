// The COM local-server module of the server program: the command line,
// self-registration, the type library, the class object of the automation
// object, the one COM identity that every interface handed out counts on,
// and the close of the server when the last reference goes.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include "DriverAppHost.h"
#include "Registration.h"
#include "ServerVersion.h"

class CDriverApp;
class CTracewellConnect;
class CDriverAppFactory;
class CMainFrame;
class CServerDoc;

class CInterfaces : public IDriverAppHost {
public:
    // The start-up entry for what the command line asked. True: start-up
    // goes on. False: the process ends with exitCode (0 after a successful
    // registration switch).
    static bool StartUp(const CServerVersion &version, CommandLineAction action, int &exitCode);
    // The process's module; null before StartUp and after Shutdown.
    static CInterfaces *Get();
    // Revokes and releases everything, deletes the module, CoUninitialize.
    static void Shutdown();

    // The main window and the document, once they exist.
    void Attach(CMainFrame *frame, CServerDoc *document);
    // From here clients' activation requests are served.
    HRESULT ResumeClassObjects();

    CDriverApp *App() const;
    CTracewellConnect *Monitor() const { return m_monitor; }
    ITypeLib *TypeLib() const { return m_typeLib; }
    bool StartedByCom() const { return m_startedByCom; }
    bool ServiceMode() const { return m_serviceMode; }
    LONG References() const { return m_refs; }
    // False when started by COM; else true when neither the HMI nor the
    // poll stub holds the server.
    bool CanCloseWithoutAsking() const;

    // IDriverAppHost.
    HRESULT ModuleQueryInterface(REFIID iid, void **out) override;
    ULONG ModuleAddRef() override;
    ULONG ModuleRelease() override;
    bool IsMainWindowVisible() override;
    void ShowMainWindow(bool show) override;
    bool PostMainWindowClose() override;
    HRESULT DocumentNew() override;
    HRESULT DocumentSave(const std::string &path) override;
    HRESULT DocumentOpen(const std::string &path, bool allowOldCsv, bool *importedOld) override;
    bool DocumentModified() override;
    void SetDocumentModified() override;
    bool DocumentImporting() override;
    void ClearDocumentStatus() override;

private:
    explicit CInterfaces(const CServerVersion &version);
    ~CInterfaces() override;
    bool Start(CommandLineAction action, int &exitCode);
    bool LoadServerTypeLib();

    CServerVersion m_version;
    CServerNames m_names;
    CDriverAppFactory *m_factory = nullptr;
    // The data-monitor connection, made beside the automation object.
    CTracewellConnect *m_monitor = nullptr;
    ITypeLib *m_typeLib = nullptr;
    CMainFrame *m_frame = nullptr;
    CServerDoc *m_document = nullptr;
    bool m_startedByCom = false;
    bool m_serviceMode = false;
    bool m_shuttingDown = false;
    DWORD m_classCookie = 0;
    // A start from the desktop holds the automation object itself until
    // shutdown, so that the first client's leaving does not close it.
    IUnknown *m_startupReference = nullptr;
    volatile LONG m_refs = 0;
};

