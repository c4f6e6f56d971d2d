// Tolvane.exe: COM in a single-threaded apartment, the connection to the
// server at start (the command line's "/L" or "/N name", else the
// remembered choice), then the main window with the configuration's tree and
// the selected object beside it. Closing the window asks about an unsaved
// configuration and lets the server go. Started by COM ("/Embedding") it
// serves one embedded object, in a container's window or its own, and ends
// when the container lets the object go; "/RegServer" and "/UnregServer"
// write or remove the object's class and end.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <memory>
#include <string>
#include <vector>
#include "ClientFileDialog.h"
#include "EmbeddedDocument.h"
#include "MainFrame.h"
#include "ObjectDialog.h"
#include "Profile.h"
#include "ScopeCallback.h"
#include "ServerConnectDlg.h"
#include "ServerFrames.h"
#include "StatusBox.h"
#include "UserInterfaceDoc.h"
#include "resource.h"

namespace {

// How long a start by COM waits for the object it was started for.
const DWORD kUnusedEmbeddingMs = 60000;

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

std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof path);
    return path;
}

// The class's registry texts from the document template's string.
CTemplateServer::Registration TemplateRegistration(HINSTANCE instance)
{
    std::vector<std::string> fields = CTemplateServer::TemplateFields(LoadText(instance, IDR_MAINFRAME));
    fields.resize(7);
    CTemplateServer::Registration reg;
    reg.clsid = CEmbeddedDocument::Clsid;
    reg.appName = fields[0];
    reg.shortName = fields[2];
    reg.progId = fields[5];
    reg.typeName = fields[6];
    reg.verbs = {"&Edit", "&Open"};
    // Embedded only: nothing inside the object can be linked to.
    reg.miscStatus = OLEMISC_CANTLINKINSIDE;
    return reg;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    const std::string line = commandLine ? commandLine : "";
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
        CHelpLocator helpFiles;
        CHtmlHelpViewer helpViewer;
        CContextHelpControl helpPopups;
        CToolHelp help(messages, texts, helpViewer, helpPopups);
        help.Locate(helpFiles);
        CViewHelp viewHelp(help, helpFiles);
        CTracewellLibrary tracewell;
        CScopeCallback scope(tracewell);

        std::string node = NodeFromCommandLine(line);
        // The document template and its server: one embedded object per process.
        CEmbeddedDocument embedded(document, node);
        CTemplateServer templateServer(TemplateRegistration(instance), [&] { return embedded.CreateObject(); });
        const bool embedding = StartedAsObjectServer(line);
        std::string containerName;
        std::unique_ptr<CMainFrame> frame;
        std::unique_ptr<CInPlaceFrame> inPlace;
        auto makeFrame = [&]() -> CMainFrame * {
            if (embedding)
                frame.reset(new CEmbeddedFrame(instance, document, profile, embedded, [&] { embedded.CloseFromUser(); }));
            else
                frame.reset(new CMainFrame(instance, document, profile));
            frame->SetHelp(&help, &viewHelp);
            return frame.get();
        };
        auto frameTitle = [&] {
            return containerName.empty() ? document.Title() : document.Title() + " in " + containerName;
        };

        // The callback follows the server's data-monitor connection; a
        // reconnect to another server brings another one (or none).
        ITracewellConnect *scopeConnection = nullptr;
        auto attachScope = [&] {
            if (!frame || connection.Monitor() == scopeConnection)
                return;
            scope.Destroy();
            scopeConnection = connection.Monitor();
            frame->SetScope(scopeConnection && scope.Initialise(scopeConnection) ? &scope : nullptr);
        };

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
        // The view on screen: the in-place frame's while the object is active
        // in place, else the main window's.
        auto activeView = [&]() -> CObjectView * {
            if (inPlace && inPlace->Window())
                return &inPlace->View();
            return frame ? &frame->View() : nullptr;
        };
        hooks.refreshViews = [&] {
            if (CObjectView *view = activeView())
                view->Refresh();
            embedded.Changed();
        };
        hooks.closeProgram = [&] {
            if (embedded.Object())
                embedded.Object()->Close(OLECLOSE_NOSAVE);
            else if (frameWindow)
                PostMessageA(frameWindow, WM_CLOSE, 0, 0);
        };
        hooks.objectDialog = [&](bool copy) {
            CObjectDialog dialog(instance, document, copy ? int(KindDevice) : document.Kind(), copy);
            if (CObjectView *view = activeView())
                view->Equip(dialog.Pane());
            return int(dialog.DoModal(frameWindow));
        };
        hooks.helpTopic = [&](DWORD topic) { viewHelp.ShowTopic(topic); };
        hooks.waitCursor = [](bool on) { SetCursor(LoadCursor(NULL, on ? IDC_WAIT : IDC_ARROW)); };
        document.SetHooks(hooks);
        document.OnTitleChanged([&] {
            if (frameWindow)
                SetWindowTextA(frameWindow, frameTitle().c_str());
            embedded.Changed();
        });
        connection.LoadSettings();

        // The main window once the document is connected: its tree, the
        // data monitor, the view.
        auto createFrame = [&]() -> bool {
            CMainFrame *made = makeFrame();
            bool created = embedding ? static_cast<CEmbeddedFrame *>(made)->CreateEmbedded() : made->CreateFrame();
            if (!created)
                return false;
            frameWindow = made->Window();
            SetWindowTextA(frameWindow, frameTitle().c_str());
            attachScope();
            document.AddRecentFile(document.Path());
            document.BuildTree(true);
            made->View().Refresh();
            return true;
        };

        if (HasSwitch(line, "UNREGSERVER")) {
            templateServer.Unregister();
        } else if (HasSwitch(line, "REGSERVER")) {
            exitCode = templateServer.Register(ProgramPath()) ? 0 : 1;
        } else if (embedding) {
            CEmbeddedDocument::Hooks server;
            server.showOpen = [&](const std::string &title) {
                containerName = title;
                if (!frameWindow && !createFrame())
                    return false;
                SetWindowTextA(frameWindow, frameTitle().c_str());
                ShowWindow(frameWindow, SW_SHOW);
                SetForegroundWindow(frameWindow);
                return true;
            };
            server.hideOpen = [&] {
                if (frameWindow)
                    ShowWindow(frameWindow, SW_HIDE);
            };
            server.openShown = [&] { return frameWindow && IsWindowVisible(frameWindow); };
            server.inPlaceFrame = [&]() -> CInPlaceFrameWnd * {
                inPlace.reset(new CInPlaceFrame(instance, document, [&] {
                    if (embedded.Object())
                        embedded.Object()->EndInPlace();
                }));
                inPlace->View().SetHelp(&help, &viewHelp);
                return inPlace.get();
            };
            server.inPlaceDeactivated = [&] {
                // The frame's window is gone; the object is destroyed later,
                // outside the call that ended it.
                if (frame)
                    frame->View().Refresh();
            };
            server.released = [] { PostQuitMessage(0); };
            embedded.SetHooks(server);
            // No window until the container shows the object.
            if (SUCCEEDED(templateServer.RegisterClassObject())) {
                // COM asks for the object as soon as the class is there; a
                // start whose caller gave up, or a stray one, ends instead
                // of waiting for ever.
                templateServer.QuitIfUnused(kUnusedEmbeddingMs);
                MSG msg;
                while (GetMessageA(&msg, NULL, 0, 0) > 0) {
                    HWND inside = inPlace ? inPlace->Window() : NULL;
                    bool taken = inside && (msg.hwnd == inside || IsChild(inside, msg.hwnd))
                                     ? inPlace->PreTranslateMessage(msg)
                                     : frame && frame->Window() && frame->PreTranslateMessage(msg);
                    if (taken)
                        continue;
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            } else {
                exitCode = 1;
            }
            templateServer.RevokeClassObject();
        } else {
            // Containers find the tool where it runs from.
            templateServer.Register(ProgramPath());
            // A cancelled connection at start ends the program without a word.
            if (document.NewDocumentStep()) {
                document.ReadServerStatus();
                if (createFrame()) {
                    ShowWindow(frameWindow, show);
                    UpdateWindow(frameWindow);
                    frame->Run();
                } else {
                    exitCode = 1;
                }
            }
        }
        // The windows go before the objects they show: as its window goes,
        // the in-place frame gives the document back the tree it had before,
        // and the main window leaves it the do-nothing tree, so the document
        // keeps no tree of a frame that is gone.
        inPlace.reset();
        if (frameWindow && IsWindow(frameWindow))
            DestroyWindow(frameWindow);
        frameWindow = NULL;
        frame.reset();
        connection.Release();
    }
    OleUninitialize();
    return exitCode;
}
