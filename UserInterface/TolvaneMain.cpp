// Tolvane.exe: COM in a single-threaded apartment, the connection to the
// server at start (the command line's "/L" or "/N name", else the
// remembered choice), then the main window with the configuration's tree and
// the selected object beside it. Closing the window asks about an unsaved
// configuration and lets the server go.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <string>
#include "ClientFileDialog.h"
#include "MainFrame.h"
#include "ObjectDialog.h"
#include "Profile.h"
#include "ScopeCallback.h"
#include "ServerConnectDlg.h"
#include "StatusBox.h"
#include "UserInterfaceDoc.h"
#include "resource.h"

namespace {

// The status box on screen; the thread waits through the pauses (painting,
// taking no input), as the activation call itself blocks it.
class CStatusBoxSink : public IStatusSink {
public:
    explicit CStatusBoxSink(HINSTANCE instance) : m_box(instance, IDD_STATUS_BOX) {}
    void ShowStatus(const std::string &text) override { m_box.Show(NULL, text); }
    void HideStatus() override { m_box.Hide(); }
    void Pause(DWORD ms) override { CStatusBox::Hold(ms); }

private:
    CStatusBox m_box;
};

std::string LoadText(HINSTANCE instance, UINT id)
{
    char text[512] = "";
    LoadStringA(instance, id, text, sizeof text);
    return text;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    // No container embeds the tool: an embedding or automation start ends here.
    if (StartedAsObjectServer(commandLine ? commandLine : ""))
        return 0;
    if (FAILED(OleInitialize(NULL))) {
        MessageBoxA(NULL, LoadText(instance, IDS_OLE_INIT_FAILED).c_str(), ToolCaption, MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    int exitCode = 0;
    {
        CRegistryProfile profile(HKEY_CURRENT_USER, "Software\\Veltrane\\Tolvane");
        CDcomActivator activator;
        CWindowMessageSink messages;
        CMessageTableTexts texts;
        CSystemNetworkSource network;
        CStatusBoxSink status(instance);
        CNullTreeManager noTree;
        HWND frameWindow = NULL;
        CDialogFileChooser files(&frameWindow);
        CRegistryDriverDefaults defaults;
        CServerConnection connection(profile, activator, status, messages);
        CUserInterfaceDoc document(connection, messages, texts, noTree, files, defaults);
        CMainFrame frame(instance, document, profile);
        CHelpLocator helpFiles;
        CHtmlHelpViewer helpViewer;
        CContextHelpControl helpPopups;
        CToolHelp help(messages, texts, helpViewer, helpPopups);
        help.Locate(helpFiles);
        CViewHelp viewHelp(help, helpFiles);
        CTracewellLibrary tracewell;
        CScopeCallback scope(tracewell);
        frame.SetHelp(&help, &viewHelp);

        // The callback follows the server's data-monitor connection; a
        // reconnect to another server brings another one (or none).
        ITracewellConnect *scopeConnection = nullptr;
        auto attachScope = [&] {
            if (connection.Monitor() == scopeConnection)
                return;
            scope.Destroy();
            scopeConnection = connection.Monitor();
            frame.SetScope(scopeConnection && scope.Initialise(scopeConnection) ? &scope : nullptr);
        };

        std::string node = NodeFromCommandLine(commandLine ? commandLine : "");
        CUserInterfaceDoc::Hooks hooks;
        hooks.connect = [&] {
            CServerConnectDlg dialog(instance, connection, network, messages, node);
            // The command line's node is for the start only.
            node.clear();
            bool attached = dialog.DoModal(frameWindow) == IDOK && connection.Attached();
            if (frameWindow)
                attachScope();
            return attached;
        };
        hooks.refreshViews = [&] { frame.View().Refresh(); };
        hooks.closeProgram = [&] {
            if (frameWindow)
                PostMessageA(frameWindow, WM_CLOSE, 0, 0);
        };
        hooks.objectDialog = [&](bool copy) {
            CObjectDialog dialog(instance, document, copy ? int(KindDevice) : document.Kind(), copy);
            frame.View().Equip(dialog.Pane());
            return int(dialog.DoModal(frameWindow));
        };
        hooks.helpTopic = [&](DWORD topic) { viewHelp.ShowTopic(topic); };
        hooks.waitCursor = [](bool on) { SetCursor(LoadCursor(NULL, on ? IDC_WAIT : IDC_ARROW)); };
        document.SetHooks(hooks);
        document.OnTitleChanged([&] {
            if (frameWindow)
                SetWindowTextA(frameWindow, document.Title().c_str());
        });
        connection.LoadSettings();

        // A cancelled connection at start ends the program without a word.
        if (document.NewDocumentStep()) {
            document.ReadServerStatus();
            if (frame.CreateFrame()) {
                frameWindow = frame.Window();
                // The data monitor, when the server offers its connection.
                attachScope();
                document.AddRecentFile(document.Path());
                document.BuildTree(true);
                frame.View().Refresh();
                ShowWindow(frameWindow, show);
                UpdateWindow(frameWindow);
                frame.Run();
            } else {
                exitCode = 1;
            }
        }
        frameWindow = NULL;
        connection.Release();
    }
    OleUninitialize();
    return exitCode;
}
