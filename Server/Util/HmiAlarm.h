// The HMI alarm line: the configuration objects send their state changes
// (enabled, disabled, communication failed and recovered, connection
// switched, driver started and stopped) to the HMI's alarm library
// "dromin.dll". The line acts only while the poll stub is connected: its
// connection opens the line and its disconnection closes it. A missing
// library or export silently skips lines.
#pragma once
#include <windows.h>
#include <string>

class CHmiAlarmLine {
public:
    enum { MaxText = 80 };

    CHmiAlarmLine();
    ~CHmiAlarmLine();
    CHmiAlarmLine(const CHmiAlarmLine &) = delete;
    CHmiAlarmLine &operator=(const CHmiAlarmLine &) = delete;

    // Loads "dromin.dll" and binds "dromin_send_text"; true when loaded.
    bool Open();
    // Frees the library and forgets the export, after any send in progress.
    void Close();
    bool IsOpen();

    // Sends source + " - " + at most 80 characters of text, stamped with the
    // local time. The node name is fetched from "karsel.dll" on first use.
    void Send(const char *text, const char *source);

    // The node name fetched so far (empty until a fetch succeeded).
    std::string GetNodeName();

private:
    bool fetchNodeName();

    CRITICAL_SECTION m_lock; // held for every call into the library
    HMODULE m_library;
    void *m_send;
    std::string m_nodeName;
};

// The server's one alarm line.
CHmiAlarmLine &GetHmiAlarmLine();
// Sends a line through the server's alarm line.
void SendHmiAlarm(const char *text, const char *source);
