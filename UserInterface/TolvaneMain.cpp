// Tolvane.exe for now: COM in a single-threaded apartment, the connection to
// the server at start (the command line's "/L" or "/N name", else the
// remembered choice), and a plain main window titled with the server's
// configuration file that shows the connection. "&OLE Server" reconnects;
// closing the window lets the server go.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <string>
#include "Profile.h"
#include "ServerConnectDlg.h"
#include "StatusBox.h"
#include "ToolDocument.h"
#include "resource.h"

namespace {

const char kFrameClass[] = "TolvaneMainFrame";
const UINT_PTR kPollTimer = 2;
const UINT kPollMs = 10000;

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

struct App {
    HINSTANCE instance = NULL;
    CRegistryProfile profile{HKEY_CURRENT_USER, "Software\\Veltrane\\Tolvane"};
    CDcomActivator activator;
    CWindowMessageSink messages;
    CMessageTableTexts texts;
    CSystemNetworkSource network;
    CStatusBoxSink *status = nullptr;
    CServerConnection *connection = nullptr;
    CToolDocument *document = nullptr;
    HWND frame = NULL;
};
App *g_app = nullptr;

// The connection dialog; true when a server is attached after it.
bool RunConnectDialog(const std::string &node)
{
    CServerConnectDlg dialog(g_app->instance, *g_app->connection, g_app->network, g_app->messages, node);
    INT_PTR result = dialog.DoModal(g_app->frame);
    return result == IDOK && g_app->connection->Attached();
}

std::string ConnectionText()
{
    CServerConnection &c = *g_app->connection;
    if (!c.Attached())
        return "Not connected";
    std::string text = c.ConnectedLocally() ? "Connected to the local I/O server"
                                            : "Connected to the I/O server on " + c.ConnectedName();
    return text;
}

void UpdateTitle()
{
    if (g_app->frame)
        SetWindowTextA(g_app->frame, g_app->document->Title().c_str());
    if (g_app->frame)
        InvalidateRect(g_app->frame, NULL, TRUE);
}

void Paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    CToolDocument &doc = *g_app->document;
    std::string lines[] = {
        ConnectionText(),
        "Configuration file: " + doc.Title(),
        std::string("Polling: ") + (doc.Running() ? "running" : "stopped"),
        std::string("Data monitor connection: ") + (g_app->connection->Monitor() ? "available" : "not offered by the server"),
    };
    int y = 12;
    for (const std::string &line : lines) {
        TextOutA(dc, 12, y, line.c_str(), int(line.size()));
        y += 20;
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_OLE_SERVER:
            if (!RunConnectDialog(std::string())) {
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            g_app->document->ReadServerStatus();
            UpdateTitle();
            return 0;
        case ID_APP_EXIT:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_TIMER:
        // Another client may make the local server open another file.
        if (wParam == kPollTimer && g_app->connection->Attached() && g_app->connection->ConnectedLocally())
            g_app->document->ReadServerStatus();
        return 0;
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, kPollTimer);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool CreateFrame()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = g_app->instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hIcon = LoadIcon(NULL, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kFrameClass;
    if (!RegisterClassA(&wc))
        return false;
    g_app->frame = CreateWindowExA(0, kFrameClass, g_app->document->Title().c_str(), WS_OVERLAPPEDWINDOW,
                                   CW_USEDEFAULT, CW_USEDEFAULT, 560, 220, NULL,
                                   LoadMenuA(g_app->instance, MAKEINTRESOURCEA(IDR_MAINFRAME)), g_app->instance,
                                   NULL);
    if (!g_app->frame)
        return false;
    SetTimer(g_app->frame, kPollTimer, kPollMs, NULL);
    return true;
}

std::string LoadText(UINT id)
{
    char text[512] = "";
    LoadStringA(g_app->instance, id, text, sizeof text);
    return text;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    App app;
    app.instance = instance;
    g_app = &app;
    if (FAILED(OleInitialize(NULL))) {
        MessageBoxA(NULL, LoadText(IDS_OLE_INIT_FAILED).c_str(), ToolCaption, MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    int exitCode = 0;
    {
        CStatusBoxSink status(instance);
        CServerConnection connection(app.profile, app.activator, status, app.messages);
        CToolDocument document(connection, app.messages, app.texts);
        app.status = &status;
        app.connection = &connection;
        app.document = &document;
        document.OnTitleChanged(UpdateTitle);
        connection.LoadSettings();

        // A cancelled connection at start ends the program without a word.
        if (RunConnectDialog(NodeFromCommandLine(commandLine ? commandLine : ""))) {
            document.ReadServerStatus();
            if (CreateFrame()) {
                ShowWindow(app.frame, show);
                UpdateWindow(app.frame);
                MSG msg;
                while (GetMessageA(&msg, NULL, 0, 0) > 0) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            } else {
                exitCode = 1;
            }
        }
        connection.Release();
        app.frame = NULL;
    }
    OleUninitialize();
    g_app = nullptr;
    return exitCode;
}
