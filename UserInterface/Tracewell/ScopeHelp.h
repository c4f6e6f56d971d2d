// Context help of the data monitor: where the help file lies, which point and
// topic a press of F1 asks for, and the text shown when the outside
// context-help control cannot show it.
#pragma once
#include <string>
#include <windows.h>
#include <objbase.h>
#include "HelpLocator.h"

extern const char ScopeHelpFile[];  // "QORf1.chm"

// The registry and file system as the search sees them; tests put tables behind it.
using IScopeHelpLocator = IHelpLocator;
// The registry and the disk.
using CScopeHelpLocator = CHelpLocator;

// The help file in the first of the five folders that holds it, else the bare name.
std::string FindScopeHelpFile(IScopeHelpLocator &locator);

// What F1 asks for.
enum class ScopeHelpKind { Menu, Control };
struct ScopeHelpInput {
    bool modifierHeld;  // Shift, Ctrl or Alt
    ScopeHelpKind kind;
    int id;             // menu item or control identifier
    POINT mouse;        // screen position of the mouse (menus)
    RECT control;       // screen rectangle of the control (controls)
    bool isToolbar;     // the control is the frame's toolbar
};
struct ScopeHelpRequest {
    bool show;
    POINT point;
    int id;       // the help identifier; the topic asked for is id + 100000
};
ScopeHelpRequest ScopeHelpFor(const ScopeHelpInput &input);
enum { ScopeToolbarHelpId = 22786, ScopeHelpIdOffset = 100000 };

// "error %lX %s F1 id %d embedded 1d %d"
std::string ScopeHelpErrorText(HRESULT hr, const std::string &file, int id);

// The outside context-help control (ContextHelp.dll stands in for it).
class IScopeHelpControl {
public:
    virtual ~IScopeHelpControl() = default;
    virtual HRESULT ShowTopic(const std::string &file, int topic, POINT point) = 0;
};
// Creates the control by its class and asks it for the topic at the point;
// without it the creation's result comes back.
class CScopeHelpControl : public IScopeHelpControl {
public:
    HRESULT ShowTopic(const std::string &file, int topic, POINT point) override;
};
