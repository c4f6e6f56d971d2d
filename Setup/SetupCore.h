// The Setup program without windows: what the worker finds out (driver
// running, the HMI, an earlier installation), the checks behind the wizard's
// pages, and the call into the Setup library. Everything the user sees or
// answers goes through an injected asker: the wizard and message boxes in
// the program, a script in tests.
#pragma once
#include <windows.h>
#include <string>
#include "SetupShared.h"

// Exit codes of the worker.
const DWORD kSetupInstalled = 99;
const DWORD kSetupCancelled = 98;

// What the HMI's registry key says; the pages start from it.
struct CHmiInfo {
    bool found = false;
    int newerKey = 0;       // 1 the newer key, 0 the older one (or none)
    std::string basePath;   // also the first installation folder
    std::string databasePath;
    std::string languagePath;
    std::string nodeName;
    std::string folderName; // "Halvo", "Brenta Dynamics" or "Veltrane Brenta"
};

enum class NodeType { None, Server, Client };

// What the wizard gathered; it starts from the HMI's values.
struct CWizardChoices {
    bool releaseNotes = false; // the release-notes page comes first
    bool nodeNamePage = false; // the HMI was found
    std::string installFolder;
    NodeType nodeType = NodeType::None;
    std::string nodeName;
    std::string programFolder;
};

class ISetupAsker {
public:
    virtual ~ISetupAsker() = default;
    // A message box or question; the button chosen.
    virtual int Ask(const std::string &text, const std::string &title, UINT style) = 0;
    // Runs the wizard over choices; true when it ended with Finish. The
    // pages' checks are CheckDestination and PassPreviousInstallation.
    virtual bool RunWizard(CWizardChoices &choices) = 0;
};

// Reads the HMI's keys: the newer one under HKEY_CLASSES_ROOT "Software\Brenta
// Dynamics", else the older "Software\Kestrune".
CHmiInfo DetectHmi();

// The installation-folder page's Next: trims text, asks to create a missing
// folder and creates it level by level. True (with the folder in path) when
// the page may be left.
bool CheckDestination(const std::string &text, ISetupAsker &asker, std::string &path);

// Leaving the licence page: an earlier installation is found by its
// uninstall command, which may be run (and waited for). False when the user
// stops here. runUninstall starts and awaits the command; true when it started.
typedef bool (*UninstallRunner)(const std::string &command);
bool PassPreviousInstallation(ISetupAsker &asker, UninstallRunner runUninstall);
bool RunAndAwait(const std::string &command);

// Trims blanks and tabs from both ends.
std::string Trim(const std::string &text);

// The language path rule and the server flag after Finish.
std::string LanguagePath(const CHmiInfo &hmi, const std::string &installFolder);
int ServerFlag(NodeType type);

// The worker: steps 1-7. programFolder is the folder of Setup.exe, which
// holds Setup.dll; currentFolder holds the release notes and the licence.
DWORD RunSetupWorker(ISetupAsker &asker, const std::string &programFolder);

// The main dialog's timer: 0 while the worker runs, else kSetupInstalled or
// kSetupCancelled (any other ending counts as cancelled).
DWORD WorkerOutcome(DWORD exitCode);

// The first bytes of a file as text, at most limit bytes (the licence page
// keeps at most limit - 2 of them); empty when it cannot be read.
std::string ReadTextFile(const std::string &path, size_t limit);
