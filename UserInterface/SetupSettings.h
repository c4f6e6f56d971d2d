// The Setup sheet's presenters. The Display Setup and Default Path pages
// edit the document's settings and the server's default file; the Advanced
// page edits the server's own settings under the driver's registry key on
// the server's machine. The dialogs (SetupSheet.h) only move texts.
#pragma once
#include <windows.h>
#include <string>
#include "QORDriver.h"
#include "ServerError.h"
#include "SettingsKey.h"
#include "UiSinks.h"

class CUserInterfaceDoc;

// Control ids of the Advanced page's fields.
enum AdvancedControl {
    IdcMaxSize = 1169, IdcGrowIncrement = 1170, IdcOverrunBuffer = 1171, IdcSignalDll = 1172, IdcErrorDll = 1173,
    IdcSimulationOff = 1174, IdcSimulationOn = 1175, IdcTimeout = 1176, IdcAutoCreateOn = 1177,
    IdcAutoCreateOff = 1178, IdcAutoStartOff = 1185, IdcAutoStartOn = 1186,
};

// The values of the first two pages.
struct SetupValues {
    bool buttons = true, lines = true, linesAtRoot = true;
    DWORD refreshRate = 1000;
    std::string fileName, filePath;
};

// The refresh rate's text: an integer from 10 to 60000.
extern const char RefreshRateRange[];  // "Please enter an integer between %1 and %2." filled in
bool ParseSetupRefreshRate(const std::string &text, DWORD &rate);

// The sheet's OK: what changed goes to the document, the tree, the registry
// and the server.
void ApplySetup(CUserInterfaceDoc &doc, const SetupValues &before, const SetupValues &after);

class CAdvancedSettings {
public:
    static const HRESULT BadValue = HRESULT(0xC1030311);
    // The text fields by control id, in the page's order.
    static const int TextFields[6];

    CAdvancedSettings(ISettingsKey &key, IMessageSink &messages, IErrorTexts &texts)
        : m_key(key), m_messages(messages), m_texts(texts) {}

    // The page is shown: the values from the driver key on machine (empty:
    // this one). False when the key could not be opened (the fields stay
    // empty).
    bool Load(const std::string &machine);
    // The page is left: the values are written (and the timeout sent to
    // server as "SapiTimeout"). False, with the server's text for a bad
    // value shown, when a number field holds anything but a number; the
    // page then stays.
    bool Leave(IQORDriver *server);
    // The timeout field lost the focus: false (and the text shown) unless it
    // holds a non-zero number.
    bool CheckTimeout(const std::string &text);

    std::string Text(int control) const;
    void SetText(int control, const std::string &text);
    bool Simulation() const { return m_simulation; }
    bool AutoCreate() const { return m_autoCreate; }
    bool AutoStart() const { return m_autoStart; }
    void SetSwitches(bool simulation, bool autoCreate, bool autoStart)
    {
        m_simulation = simulation, m_autoCreate = autoCreate, m_autoStart = autoStart;
    }

    // A whole unsigned number with nothing after it (blanks around allowed).
    static bool ParseNumber(const std::string &text, DWORD &value);

private:
    void Refuse() { ShowServerError(m_messages, m_texts, BadValue); }

    ISettingsKey &m_key;
    IMessageSink &m_messages;
    IErrorTexts &m_texts;
    bool m_opened = false;
    std::string m_fields[6];
    bool m_simulation = false, m_autoCreate = true, m_autoStart = false;
};
