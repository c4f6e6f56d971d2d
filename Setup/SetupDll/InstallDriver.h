// The installation run by the Setup library's one export, InstallDriver:
// files and registry lines from the INF "QOR.inf", shortcuts, shared-library
// counts, the service account, COM registration and the first
// configuration file.
#pragma once
#include <windows.h>
#include <string>
#include "ServiceAccount.h"
#include "SetupReporter.h"

struct CInstallArguments {
    int install = 0;          // 0 returns at once
    int newerHmi = 0;         // 1 when the newer HMI key was found
    int serverNode = 0;       // 1 server node, 0 client node
    std::string sourceFolder; // the distribution folder
    std::string installFolder;
    std::string configFolder; // the HMI's database path
    std::string languageFolder;
    std::string configName;   // the SCADA node name; empty skips the configuration file
    std::string programFolder;
};

// 1 when the installation ran to its end, 0 when it was stopped.
int RunInstallation(const CInstallArguments &arguments, CSetupReporter &reporter, ISetupAccounts &accounts);

// The longest a registration program may take before Setup calls it failed.
const DWORD kRegistrationWaitMs = 60000;

// The exported entry's signature, for the program that loads the library.
typedef int(__cdecl *InstallDriverFunction)(int install, int newerHmi, int serverNode, const char *sourceFolder,
                                            const char *installFolder, const char *configFolder,
                                            const char *languageFolder, const char *configName,
                                            const char *programFolder);
