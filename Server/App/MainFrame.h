// The server's one frame window around the message-log list view. It is
// created hidden; clients show it through the automation property Visible.
// Closing it asks before it cuts off connected clients.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "LogView.h"
#include "ServerDoc.h"

// What the frame asks of the program around it.
class IMainFrameOwner {
public:
    virtual ~IMainFrameOwner() = default;
    // True when the server may close without asking: not started by COM,
    // and neither the HMI nor the poll stub holds it.
    virtual bool CanCloseWithoutAsking() = 0;
    virtual void StopDriver() = 0;
    // Hides the window the way a client would (Visible = false).
    virtual void HideThroughAutomation() = 0;
    // The close question; IDYES, IDNO or IDCANCEL.
    virtual int AskShutdown(HWND frame, const char *text) = 0;
    // Menu commands the frame does not handle itself; true when handled.
    virtual bool OnCommand(HWND frame, UINT id) = 0;
    // The state of a menu command: false when the owner does not know it.
    virtual bool CommandState(UINT id, bool &enabled, bool &checked) = 0;
    // What became of a close request: closed, or refused.
    virtual void CloseAnswered(bool closed) {}
};

class CMainFrame : public ILogView, public ILogList, public ILogRowSource {
public:
    static const char ClassName[];
    static const char ShutdownQuestion[];

    explicit CMainFrame(IMainFrameOwner *owner);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame &) = delete;
    CMainFrame &operator=(const CMainFrame &) = delete;

    // Creates the frame hidden, 470 by 250 pixels, placed from the screen size.
    bool Create(HINSTANCE instance, const std::string &title);
    HWND Window() const { return m_hwnd; }
    HWND ListView() const { return m_list; }
    bool IsVisible() const { return m_hwnd && IsWindowVisible(m_hwnd); }
    void Show(bool show);
    void SetTitle(const std::string &title);
    // The log lines kept at most (the message log's "DriverMaximumMessages").
    void SetMaximumLines(DWORD maximum) { m_maximum = maximum; }

    // ILogView: lines arrive as message 1026 on the window's thread.
    BOOL PostLine(LONG severity, LogLineRecord *record) override;
    void ClearLines() override;
    // ILogList over the list view.
    int GetCount() override;
    void DeleteItem(int index) override;
    void InsertItem(int index, LONG severity, const std::string &text, const std::string &date,
                    const std::string &time) override;
    // ILogRowSource for the log report.
    int LogRowCount() override { return GetCount(); }
    bool GetLogRow(int index, int &image, std::string &message, std::string &date, std::string &time) override;

    // The close rule (WM_CLOSE); true when the window was destroyed.
    bool OnClose();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Layout();
    void UpdateMenu(HMENU menu);
    std::string ItemText(int index, int column);

    IMainFrameOwner *m_owner;
    HWND m_hwnd = NULL;
    HWND m_list = NULL;
    HWND m_status = NULL;
    HIMAGELIST m_images = NULL;
    DWORD m_maximum = 200;
};
