// The statistics forms' logic, without a window: which counters each form
// asks the server for, the refresh on a timer and the rules that stop it,
// the reset of the counters, the S7 library's last error as list lines, and
// the driver form's four values.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "ServerError.h"
#include "UserInterfaceDoc.h"

// The form's timer; the window's SetTimer on screen, a hand-ticked fake in
// tests.
class IFormTimer {
public:
    virtual ~IFormTimer() = default;
    virtual void Start(UINT id, DWORD milliseconds) = 0;
    virtual void Stop(UINT id) = 0;
};

// A shown field: its control and the index of its statistic in the names.
struct StatsField {
    int control;
    size_t index;
};

// The lines of the "Last Simatic Error:" list. texts gives the message
// table's text for the combined message id.
std::vector<std::string> S7ErrorLines(long iec, const std::string &iecText, long detail,
                                      const std::string &detailText, IErrorTexts &texts);
// The message id of an S7 library error: its IEC class and detail.
DWORD S7MessageId(long iec, long detail);
// "Primary" when the value reads as a non-zero number, else "Backup".
std::string PrimaryOrBackup(const std::string &value);

// The System Statistics form (KindDriver) and the statistics panes of a
// channel, device and data block.
class CStatsForm {
public:
    static const char NoSimaticError[];  // "No Simatic Error"

    CStatsForm(CUserInterfaceDoc &document, IErrorTexts &texts, int kind, IFormTimer &timer);

    int Kind() const { return m_kind; }
    int Template() const;
    UINT TimerId() const;
    // "Channel Statistics for " and so on; empty for the System form.
    const char *TitlePrefix() const;
    const std::vector<std::string> &Names() const { return m_names; }
    const std::vector<StatsField> &Fields() const;
    // Index of the control in Fields(), or -1.
    int IndexOf(int control) const;

    // Builds the reset values; false (after "SafeArrayCreate() failed")
    // when the arrays cannot be made.
    bool Init();
    // The title: the prefix and the selected object's label.
    std::string Title() const;

    void Show();
    void Hide();
    bool TimerRunning() const { return m_running; }
    // A timer tick: a changed rate restarts the timer, then the refresh.
    void Tick();
    // Reads every statistic; false (and the timer stopped) on a failure.
    bool Refresh();
    // Writes "0" to every name; a failing call shows its text.
    void Reset();

    // The text of the statistic at index, as the field shows it.
    std::string Text(size_t index) const;
    // The data block's error list, built after each refresh.
    const std::vector<std::string> &ErrorLines() const { return m_errorLines; }
    // The help topic of the Troubleshooting button.
    static std::string TroubleshootingTopic(const std::string &helpFile);

private:
    LONG Handle() const;
    void StopTimer();
    bool IsTime(size_t index) const;

    CUserInterfaceDoc &m_doc;
    IErrorTexts &m_texts;
    int m_kind;
    IFormTimer &m_timer;
    std::vector<std::string> m_names, m_values, m_zeros;
    std::vector<std::string> m_errorLines;
    bool m_running = false;
};

// The driver form: name and the three counts of handle 0.
class CDriverFormData {
public:
    static const char ReadResultsFailed[];  // "GetPropertyData():  Error retrieving error data"
    static const char *const Names[4];
    static const int Controls[4];           // 2804, 2801, 2802, 2803
    static const char *const Tips[4];       // the tooltips 9000-9003

    explicit CDriverFormData(CUserInterfaceDoc &document) : m_doc(document), m_values(4) {}
    // False when the call failed: the texts stay as they were. poll: the
    // document's timer poll follows the read, as the form's refresh asks.
    bool Refresh(bool poll = true);
    const std::string &Text(size_t index) const { return m_values[index]; }
    static std::string GettingStartedTopic(const std::string &helpFile);

private:
    CUserInterfaceDoc &m_doc;
    std::vector<std::string> m_values;
};

// The template of the form the view shows for a selection kind and mode
// (mode 1: configuration, 0: statistics).
int ViewFormFor(int kind, int mode);
