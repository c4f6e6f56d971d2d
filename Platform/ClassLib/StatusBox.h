// CStatusBox: a small modeless box that shows progress as one centred text
// line beside an icon (the program's template, normally 171, holds a static
// text with id TextId and, optionally, an icon control IconId that shows the
// information icon when the template gives it none). Show makes it visible on top and paints it at once,
// since the caller usually blocks its thread right after.
#pragma once
#include "Dialog.h"

class CStatusBox : public CDialog {
public:
    enum { DefaultTemplate = 171, TextId = 1000, IconId = 1001 };

    explicit CStatusBox(HINSTANCE instance, UINT templateId = DefaultTemplate) : CDialog(instance, templateId) {}

    // Creates the box when needed, sets its text, shows and paints it.
    bool Show(HWND parent, const std::string &text);
    void Hide();
    // Keeps the thread waiting for ms while the box (and every window of the
    // thread) is still painted; no input is taken meanwhile.
    static void Hold(DWORD ms);
    std::string Text() const { return Window() ? ItemText(TextId) : std::string(); }

protected:
    BOOL OnInitDialog() override;
};
