// Context help of the data monitor: where the help file lies, which point and
// topic a press of F1 asks for, and the text shown when the outside
// context-help control cannot show it.
#pragma once
#include <string>
#include <windows.h>
#include <objbase.h>

extern const char ScopeHelpFile[];  // "QORf1.chm"

// The registry and file system as the search sees them; tests put tables behind it.
class IScopeHelpLocator {
public:
    virtual ~IScopeHelpLocator() = default;
    // The REG_SZ value (null name: the key's default value); false when missing.
    virtual bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) = 0;
    virtual bool FileExists(const std::string &path) = 0;
};

// The registry and the disk.
class CScopeHelpLocator : public IScopeHelpLocator {
public:
    bool ReadFolder(HKEY root, const char *key, const char *value, std::string &folder) override;
    bool FileExists(const std::string &path) override;
};

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

// The outside context-help control; absent on this platform.
class IScopeHelpControl {
public:
    virtual ~IScopeHelpControl() = default;
    virtual HRESULT ShowTopic(const std::string &file, int topic, POINT point) = 0;
};
// Creates the control by its class; without it the creation's result comes back.
class CScopeHelpControl : public IScopeHelpControl {
public:
    HRESULT ShowTopic(const std::string &file, int topic, POINT point) override;
};
extern const CLSID CLSID_ScopeHelpControl;  // {1E57C6C4-B069-11D3-8D43-00104B138C8C}
extern const IID IID_IScopeHelpControl;     // {1E57C6C3-B069-11D3-8D43-00104B138C8C}
