// The application object of the server program: start-up (version block,
// message log, COM, single instance, window and document, the COM module,
// the configuration, the class objects, "DriverAutoStart") and the exit in
// its order.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include "MainFrame.h"
#include "ServerDoc.h"
#include "ServerVersion.h"

class CServerMsg;
class CDriverApp;
class CLogTestTap;

class CServerApp : public IMainFrameOwner, public IServerDocHost {
public:
    // Longest wait at exit for objects still being destroyed on other threads.
    static const DWORD PendingDestroyLimitMs = 60000;

    CServerApp();
    ~CServerApp() override;

    // Start-up; false ends the process with exitCode.
    bool InitInstance(HINSTANCE instance, const std::string &commandLine, int &exitCode);
    // The message loop; its exit code.
    int Run();
    // The exit: "Server shutdown", the COM module, the mutex, the pending
    // destructions, the message log.
    void ExitInstance();

    const CServerVersion &Version() const { return m_version; }
    const std::string &HelpFile() const { return m_helpFile; }

    // IMainFrameOwner.
    bool CanCloseWithoutAsking() override;
    void StopDriver() override;
    void HideThroughAutomation() override;
    int AskShutdown(HWND frame, const char *text) override;
    bool OnCommand(HWND frame, UINT id) override;
    bool CommandState(UINT id, bool &enabled, bool &checked) override;
    void CloseAnswered(bool closed) override;

    // IServerDocHost.
    CDriver *Configuration() override;
    HRESULT ReplaceConfiguration(std::unique_ptr<CDriver> driver, std::unique_ptr<CDriver> *previous) override;
    void SetFullConfigFileName(const std::string &fullName) override;
    void SetConfigFileTitle(const std::string &fileName) override;
    std::string ConfigFolder() override;
    IQORDriver *Automation() override;

private:
    CDriverApp *App() const;
    void UpdateTitle();
    void ShowAbout(HWND owner);
    static void TitleChanged(void *self);

    HINSTANCE m_instance = NULL;
    CServerVersion m_version;
    std::unique_ptr<CServerMsg> m_log;
    std::unique_ptr<CLogTestTap> m_testTap;
    bool m_comInitialized = false;
    HANDLE m_mutex = NULL;
    std::unique_ptr<CServerDoc> m_document;
    std::unique_ptr<CMainFrame> m_frame;
    std::string m_helpFile;
};

// The help file: the first folder of the known registry values that holds
// it, else the bare name.
std::string FindHelpFile(const std::string &acronym, const std::string &fileName);
