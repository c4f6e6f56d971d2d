#include "ServerApp.h"
#include "Store.h"
#include <cstdio>
#include "Channel.h"
#include "DriverApp.h"
#include "Driver.h"
#include "Interfaces.h"
#include "LogTestTap.h"
#include "ServerMsg.h"
#include "ServiceAccount.h"
#include "ServiceMode.h"
#include "resource.h"

namespace {

CServerApp *g_app = nullptr;

bool FileOpensForReading(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool ReadRegistryText(HKEY root, const std::string &key, const char *value, std::string &text)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    char buffer[MAX_PATH] = "";
    DWORD type = 0, size = sizeof buffer - 1;
    LONG result = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    buffer[size < sizeof buffer ? size : sizeof buffer - 1] = 0;
    text = buffer;
    return true;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto *version = reinterpret_cast<const CServerVersion *>(lParam);
        SetDlgItemTextA(dialog, IDC_ABOUT_PRODUCT, version->productName.c_str());
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, ("Version " + version->productVersion).c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// The log menu's switches by command.
const struct {
    UINT id;
    LONG severity;
} kLogSwitches[] = {
    {ID_LOG_ERRORS, SeverityError},   {ID_LOG_WARNINGS, SeverityWarning}, {ID_LOG_INFO, SeverityInfo},
    {ID_LOG_DEBUG1, SeverityDebug1}, {ID_LOG_DEBUG2, SeverityDebug2},   {ID_LOG_DEBUG3, SeverityDebug3},
};

} // namespace

std::string FindHelpFile(const std::string &acronym, const std::string &fileName)
{
    const struct {
        HKEY root;
        std::string key;
        const char *value;
    } places[] = {
        {HKEY_LOCAL_MACHINE, DriverRegistryKey(acronym), "NlsPath"},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\BASPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\BASPATH", nullptr},
    };
    for (const auto &place : places) {
        std::string folder;
        if (!ReadRegistryText(place.root, place.key, place.value, folder))
            continue;
        std::string path = folder + "\\" + fileName;
        if (FileOpensForReading(path))
            return path;
    }
    return fileName;
}

CServerApp::CServerApp() { g_app = this; }

CServerApp::~CServerApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CDriverApp *CServerApp::App() const
{
    CInterfaces *module = CInterfaces::Get();
    return module ? module->App() : nullptr;
}

bool CServerApp::InitInstance(HINSTANCE instance, const std::string &commandLine, int &exitCode)
{
    m_instance = instance;
    exitCode = 1;
    if (!ReadServerVersion(NULL, m_version))
        return false;

    m_log.reset(new CServerMsg(m_version.acronym.c_str()));
    m_testTap.reset(CLogTestTap::FromEnvironment());
    if (m_testTap) {
        m_log->SetView(m_testTap.get());
        m_log->SetMessageBox(m_testTap.get());
    }
    if (!m_log->OpenEventLog())
        return false;

    if (CoInitializeEx(NULL, COINIT_APARTMENTTHREADED) != S_OK) {
        LogMessage(SeverityFatal, "Error initializing OLE libraries");
        return false;
    }
    m_comInitialized = true;

    m_helpFile = FindHelpFile(m_version.acronym, "Hadrel.chm");
    SetServiceAccountHelpFile(m_helpFile);

    // A registration only writes the registry, so it runs beside a running
    // server, and before anything here that would touch that server's store.
    const CommandLineAction action = ParseCommandLine(commandLine);
    if (action == CommandLineAction::Unregister || action == CommandLineAction::Register ||
        action == CommandLineAction::RegisterService) {
        CInterfaces::StartUp(m_version, action, exitCode);
        return false;
    }

    std::string mutexName = m_version.acronym + "Driver";
    m_mutex = CreateMutexA(NULL, FALSE, mutexName.c_str());
    if (!m_mutex || GetLastError() != ERROR_SUCCESS) {
        // Let go of the name at once: while a denied instance holds it,
        // every later start would be denied too, even after the first ends.
        if (m_mutex)
            CloseHandle(m_mutex);
        m_mutex = NULL;
        // COM or the service manager would wait on a process held by a box
        // that nobody answers.
        if (!IsDesktopStart(commandLine, MakeServerNames(m_version).serviceName))
            m_log->SetUnattended(TRUE);
        LogMessage(SeverityFatal, "Second instance of server denied launch");
        return false;
    }
    // Blocks that a killed predecessor left in the store (kept by an HMI
    // that still holds it) would pass for this server's.
    DestroyBlocksLeftInStore(m_version.acronym.c_str());

    // The document and its frame, hidden whatever the command line says.
    m_document.reset(new CServerDoc(this, m_version.acronym));
    m_frame.reset(new CMainFrame(this));
    if (m_frame->Create(instance, "Hadrel")) {
        m_frame->SetMaximumLines(m_log->GetMaximumMessages());
        if (m_testTap)
            m_testTap->SetView(m_frame.get());
        else
            m_log->SetView(m_frame.get());
        m_document->SetLogRows(m_frame.get());
        m_document->SetTitleListener(TitleChanged, this);
    } else {
        m_frame.reset();
    }
    if (!CInterfaces::StartUp(m_version, action, exitCode))
        return false;
    exitCode = 1;
    CInterfaces *module = CInterfaces::Get();
    module->Attach(m_frame.get(), m_document.get());

    bool loaded = false;
    CDriverApp *app = App();
    std::string configuration = app ? app->FullConfigFileName() : std::string();
    // A default folder without a file name (no defaults in the registry)
    // names no configuration: that is a new one, not a failed open.
    if (!configuration.empty() && configuration.back() != '\\')
        loaded = m_document->Open(configuration, false, nullptr) == S_OK;
    if (!loaded && !m_document->New()) {
        LogMessage(SeverityFatal, "Server object initialization error:  %s", "CServerDoc");
        return false;
    }

    if (!m_frame)
        return false;
    if (FAILED(module->ResumeClassObjects()))
        return false;

    LogMessage(SeverityInfo, "Server initialized");
    if (loaded)
        LogMessage(SeverityInfo, "Configuration file %s loaded", m_document->PathName().c_str());
    else
        LogMessage(SeverityInfo, "New configuration created");

    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverRegistryKey(m_version.acronym).c_str(), 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        DWORD autoStart = 0, type = 0, size = sizeof autoStart;
        if (RegQueryValueExA(key, "DriverAutoStart", NULL, &type, reinterpret_cast<BYTE *>(&autoStart), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && autoStart != 0 && app) {
            VARIANT_BOOL running = VARIANT_FALSE;
            if (SUCCEEDED(app->get_Running(&running)) && running == VARIANT_FALSE)
                app->StartWait();
        }
        RegCloseKey(key);
    }
    exitCode = 0;
    return true;
}

int CServerApp::Run()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, NULL, 0, 0)) != 0) {
        if (got == -1)
            return 1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return int(message.wParam);
}

void CServerApp::ExitInstance()
{
    if (m_log && CInterfaces::Get())
        LogMessage(SeverityInfo, "Server shutdown");
    // The service says it stopped before the process goes.
    EndServiceDispatcher();
    if (CInterfaces::Get())
        CInterfaces::Shutdown();   // ends with CoUninitialize
    else if (m_comInitialized)
        CoUninitialize();
    m_comInitialized = false;
    if (m_mutex) {
        CloseHandle(m_mutex);
        m_mutex = NULL;
    }
    // Objects handed to short-lived threads for destruction may still log:
    // the log goes only after they are done.
    DWORD started = GetTickCount();
    while (PendingProcessorDestroys() > 0 && GetTickCount() - started < PendingDestroyLimitMs)
        Sleep(20);
    if (m_log) {
        m_log->SetView(nullptr);
        m_log->SetMessageBox(nullptr);
    }
    m_frame.reset();
    m_document.reset();
    m_log.reset();
    m_testTap.reset();
}

void CServerApp::CloseAnswered(bool closed) { ServiceCloseAnswered(closed); }

void CServerApp::TitleChanged(void *self) { static_cast<CServerApp *>(self)->UpdateTitle(); }

void CServerApp::UpdateTitle()
{
    if (m_frame && m_document)
        m_frame->SetTitle(m_document->Title() + (m_document->IsModified() ? "*" : "") + " - Hadrel");
}

bool CServerApp::CanCloseWithoutAsking()
{
    CInterfaces *module = CInterfaces::Get();
    return !module || module->CanCloseWithoutAsking();
}

void CServerApp::StopDriver()
{
    if (CDriverApp *app = App())
        app->Stop();
}

void CServerApp::HideThroughAutomation()
{
    if (CDriverApp *app = App())
        app->put_Visible(VARIANT_FALSE);
    else if (m_frame)
        m_frame->Show(false);
}

int CServerApp::AskShutdown(HWND frame, const char *text)
{
    if (m_testTap) {
        m_testTap->Write(std::string("question\t") + text);
        return IDCANCEL;
    }
    return MessageBoxA(frame, text, "Hadrel", MB_YESNOCANCEL | MB_ICONQUESTION);
}

void CServerApp::ShowAbout(HWND owner)
{
    DialogBoxParamA(m_instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutProc, LPARAM(&m_version));
}

bool CServerApp::OnCommand(HWND frame, UINT id)
{
    CDriverApp *app = App();
    switch (id) {
    case ID_FILE_NEW:
        m_document->OnFileNew(frame);
        return true;
    case ID_FILE_OPEN:
        m_document->OnFileOpen(frame);
        return true;
    case ID_FILE_SAVE_AS:
        m_document->OnFileSaveAs(frame);
        return true;
    case ID_APP_ABOUT:
        ShowAbout(frame);
        return true;
    case ID_LOG_CLEAR:
        m_log->Clear();
        return true;
    case ID_DRIVER_START:
        if (app)
            app->Start(VARIANT_FALSE);
        return true;
    case ID_DRIVER_STOP:
        if (app)
            app->Stop();
        return true;
    default:
        break;
    }
    for (const auto &entry : kLogSwitches)
        if (entry.id == id) {
            m_log->ToggleSwitch(entry.severity);
            return true;
        }
    return false;
}

bool CServerApp::CommandState(UINT id, bool &enabled, bool &checked)
{
    CDriverApp *app = App();
    VARIANT_BOOL running = VARIANT_FALSE;
    if (app)
        app->get_Running(&running);
    enabled = true;
    checked = false;
    if (id == ID_DRIVER_START) {
        enabled = app && running == VARIANT_FALSE;
        return true;
    }
    if (id == ID_DRIVER_STOP) {
        enabled = app && running != VARIANT_FALSE;
        return true;
    }
    for (const auto &entry : kLogSwitches)
        if (entry.id == id) {
            checked = m_log && m_log->GetSwitch(entry.severity);
            return true;
        }
    return false;
}

CDriver *CServerApp::Configuration()
{
    CDriverApp *app = App();
    return app ? app->Driver() : nullptr;
}

HRESULT CServerApp::ReplaceConfiguration(std::unique_ptr<CDriver> driver, std::unique_ptr<CDriver> *previous)
{
    CDriverApp *app = App();
    if (!app)
        return E_UNEXPECTED;
    return app->ExchangeConfigurationRoot(std::move(driver), previous);
}

void CServerApp::SetFullConfigFileName(const std::string &fullName)
{
    if (CDriverApp *app = App())
        app->SetFullConfigFileName(fullName);
}

void CServerApp::SetConfigFileTitle(const std::string &fileName)
{
    if (CDriverApp *app = App())
        app->SetConfigFileTitle(fileName);
}

std::string CServerApp::ConfigFolder()
{
    CDriverApp *app = App();
    return app ? app->ConfigFilePath() : std::string();
}

IQORDriver *CServerApp::Automation() { return App(); }
