// What the tool's presenters ask of the screen, behind seams so that the
// headless tests record it: message boxes, and the connection status box
// with its pauses.
#pragma once
#include <windows.h>
#include <string>

class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    // A message box; the button pressed (IDOK, IDYES ...).
    virtual int Box(const std::string &text, const std::string &caption, UINT flags) = 0;
};

class IStatusSink {
public:
    virtual ~IStatusSink() = default;
    virtual void ShowStatus(const std::string &text) = 0;
    virtual void HideStatus() = 0;
    // Keeps the status on screen for ms milliseconds (the thread waits).
    virtual void Pause(DWORD ms) = 0;
};

// Message boxes owned by a window of this program: the given one, else the
// thread's active window (the dialog in front), so that the box is modal to it.
class CWindowMessageSink : public IMessageSink {
public:
    explicit CWindowMessageSink(HWND owner = NULL) : m_owner(owner) {}
    void SetOwner(HWND owner) { m_owner = owner; }
    int Box(const std::string &text, const std::string &caption, UINT flags) override
    {
        HWND owner = m_owner && IsWindow(m_owner) ? m_owner : GetActiveWindow();
        return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
    }

private:
    HWND m_owner;
};
