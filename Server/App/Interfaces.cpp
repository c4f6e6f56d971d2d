#include "Interfaces.h"
#include <algorithm>
#include <cctype>
#include <new>
#include "ConfigObject.h"
#include "DriverApp.h"
#include "MainFrame.h"
#include "QORDriver.h"
#include "TracewellConnect.h"
#include "Registration.h"
#include "ServerDoc.h"
#include "ServiceMode.h"
#include "ServerMsg.h"

namespace {

CInterfaces *g_module = nullptr;

} // namespace

CInterfaces::CInterfaces(const CServerVersion &version) : m_version(version), m_names(MakeServerNames(version)) {}

CInterfaces::~CInterfaces() = default;

CInterfaces *CInterfaces::Get() { return g_module; }

bool CInterfaces::StartUp(const CServerVersion &version, CommandLineAction action, int &exitCode)
{
    exitCode = 1;
    if (g_module) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "CInterfaces");
        return false;
    }
    g_module = new CInterfaces(version);
    return g_module->Start(action, exitCode);
}

bool CInterfaces::Start(CommandLineAction action, int &exitCode)
{
    exitCode = 1;
    switch (action) {
    case CommandLineAction::Unregister:
        exitCode = UnregisterServer(m_names) ? 0 : 1;
        return false;
    case CommandLineAction::Register:
        exitCode = RegisterServer(m_names, false) ? 0 : 1;
        return false;
    case CommandLineAction::RegisterService:
        exitCode = RegisterServer(m_names, true) ? 0 : 1;
        return false;
    case CommandLineAction::StartedByCom:
        m_startedByCom = true;
        break;
    case CommandLineAction::PlainStart:
        m_serviceMode = IsServiceInstalled(m_names.serviceName);
        break;
    }
    if (!m_startedByCom && !m_serviceMode && !RegisterServer(m_names, false))
        return false;
    if (!LoadServerTypeLib()) {
        LogMessage(SeverityFatal, "Error loading Server Type Library");
        return false;
    }
    // Made with one reference, the module's, released at shutdown.
    m_factory = new CDriverAppFactory();
    if (FAILED(m_factory->StartUp(this, m_version.acronym, m_version.productName, m_version.productVersion, m_typeLib)))
        return false;
    SetDriverErrorInfoHost(this);
    m_monitor = new (std::nothrow) CTracewellConnect(this);
    if (!m_monitor) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "TracewellConnect");
        return false;
    }
    if (!m_monitor->Initialize(m_typeLib)) {
        LogMessage(SeverityFatal, "Server object initialization error:  %s", "TracewellConnect");
        return false;
    }
    DataMonitor::Register(m_monitor);
    // The class object is registered once start-up is done (see
    // ResumeClassObjects): registered suspended it would need
    // CoResumeClassObjects, which not every COM runtime carries out.
    if (!m_startedByCom) {
        HRESULT hr = m_factory->CreateInstance(NULL, IID_IUnknown, reinterpret_cast<void **>(&m_startupReference));
        if (FAILED(hr) || !m_startupReference) {
            m_startupReference = nullptr;
            LogMessage(SeverityFatal, "Error creating Server Application Object");
            return false;
        }
    }
    if (m_serviceMode) {
        SetServiceCloseRequest([] { return g_module && g_module->PostMainWindowClose(); });
        if (!StartServiceDispatcher())
            return false;
    }
    exitCode = 0;
    return true;
}

bool CInterfaces::LoadServerTypeLib()
{
    if (SUCCEEDED(LoadRegTypeLib(LIBID_QORDriverLib, 7, 0, 9, &m_typeLib)) && m_typeLib)
        return true;
    // Not registered (or registered elsewhere): the file beside the program,
    // then the copy embedded in the program itself.
    for (const std::string &path : {m_names.typeLibPath, m_names.modulePath}) {
        m_typeLib = nullptr;
        if (SUCCEEDED(LoadTypeLib(ConfigValue::Widen(path).c_str(), &m_typeLib)) && m_typeLib)
            return true;
    }
    m_typeLib = nullptr;
    return false;
}

void CInterfaces::Attach(CMainFrame *frame, CServerDoc *document)
{
    m_frame = frame;
    m_document = document;
}

HRESULT CInterfaces::ResumeClassObjects()
{
    if (!m_factory)
        return E_UNEXPECTED;
    if (!m_classCookie) {
        HRESULT hr = CoRegisterClassObject(CLSID_QORDriver, static_cast<IClassFactory *>(m_factory),
                                           CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, REGCLS_MULTIPLEUSE,
                                           &m_classCookie);
        if (FAILED(hr)) {
            m_classCookie = 0;
            LogMessage(SeverityFatal, "Error registering Server Class Factory with OLE");
            return hr;
        }
    }
    CoResumeClassObjects();
    return S_OK;
}

void CInterfaces::Shutdown()
{
    CInterfaces *module = g_module;
    if (!module)
        return;
    module->m_shuttingDown = true;
    if (module->m_classCookie && FAILED(CoRevokeClassObject(module->m_classCookie)))
        LogMessage(SeverityError, "Error removing Class Object from active OLE status");
    module->m_classCookie = 0;
    if (module->m_startupReference) {
        module->m_startupReference->Release();
        module->m_startupReference = nullptr;
    }
    if (module->m_monitor) {
        // No frames after this: the data blocks' threads end with the
        // configuration below.
        DataMonitor::Register(nullptr);
        CoDisconnectObject(static_cast<ITracewellConnect *>(module->m_monitor), 0);
    }
    if (module->m_factory) {
        // Revokes the running-object-table entry, disconnects and destroys
        // the automation object.
        module->m_factory->Shutdown();
        module->m_factory->Release();
        module->m_factory = nullptr;
    }
    delete module->m_monitor;
    module->m_monitor = nullptr;
    SetDriverErrorInfoHost(nullptr);
    if (module->m_typeLib)
        module->m_typeLib->Release();
    module->m_typeLib = nullptr;
    g_module = nullptr;
    delete module;
    CoUninitialize();
}

CDriverApp *CInterfaces::App() const { return m_factory ? m_factory->App() : nullptr; }

bool CInterfaces::CanCloseWithoutAsking() const
{
    if (m_startedByCom)
        return false;
    CDriverApp *app = App();
    return !app || (app->KivRefs() == 0 && app->PollRefs() == 0);
}

HRESULT CInterfaces::ModuleQueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    try {
        CDriverApp *app = App();
        if (!app)
            return E_NOINTERFACE;
        IUnknown *found = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IDriver) ||
            IsEqualIID(iid, IID_IQORDriver))
            found = static_cast<IQORDriver *>(app);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo))
            found = app->ErrorInfoPart();
        else if (IsEqualIID(iid, IID_IDriverMessage))
            found = app->MessagePart();
        else if (IsEqualIID(iid, IID_IOPCConnections))
            found = app->OpcConnectionsPart();
        else if (IsEqualIID(iid, IID_IConnectSink))
            found = app->ConnectSinkPart();
        else if (IsEqualIID(iid, IID_ITracewellConnect) && m_monitor)
            found = static_cast<ITracewellConnect *>(m_monitor);
        if (!found)
            return E_NOINTERFACE;
        *out = found;
        ModuleAddRef();
        return S_OK;
    } catch (...) {
        *out = nullptr;
        return E_FAIL;
    }
}

ULONG CInterfaces::ModuleAddRef()
{
    LONG count = InterlockedIncrement(&m_refs);
    if (CDriverApp *app = App())
        app->PublishStatus();
    return ULONG(count);
}

ULONG CInterfaces::ModuleRelease()
{
    LONG count = InterlockedDecrement(&m_refs);
    CDriverApp *app = App();
    if (count == 0 && !m_shuttingDown) {
        // The last client went: nobody is left to ask, so the main window's
        // close rule closes without a question.
        m_startedByCom = false;
        if (app)
            app->ClearClientCounts();
        PostMainWindowClose();
    }
    if (app)
        app->PublishStatus();
    return ULONG(count < 0 ? 0 : count);
}

bool CInterfaces::IsMainWindowVisible() { return m_frame && m_frame->IsVisible(); }

void CInterfaces::ShowMainWindow(bool show)
{
    if (m_frame)
        m_frame->Show(show);
}

bool CInterfaces::PostMainWindowClose()
{
    return m_frame && m_frame->Window() && PostMessageA(m_frame->Window(), WM_CLOSE, 0, 0);
}

HRESULT CInterfaces::DocumentNew()
{
    if (!m_document)
        return E_UNEXPECTED;
    return m_document->New() ? S_OK : (m_document->Status() ? m_document->Status() : E_FAIL);
}

HRESULT CInterfaces::DocumentSave(const std::string &path)
{
    return m_document ? m_document->Save(path) : E_UNEXPECTED;
}

HRESULT CInterfaces::DocumentOpen(const std::string &path, bool allowOldCsv, bool *importedOld)
{
    return m_document ? m_document->Open(path, allowOldCsv, importedOld) : E_UNEXPECTED;
}

bool CInterfaces::DocumentModified() { return m_document && m_document->IsModified(); }

void CInterfaces::SetDocumentModified()
{
    if (m_document)
        m_document->SetModified(true);
}

bool CInterfaces::DocumentImporting() { return m_document && m_document->IsImporting(); }

void CInterfaces::ClearDocumentStatus()
{
    if (m_document)
        m_document->ClearStatus();
}
