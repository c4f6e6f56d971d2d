// The service account that the server runs under as a service: created,
// put into the administrators' group and given the right to log on as a
// service. The three account calls go through one seam, since Wine only
// stubs accounts, groups and rights; tests record what was asked.
#pragma once
#include <windows.h>
#include <string>
#include "SetupReporter.h"

enum class RightResult { Granted, PolicyFailed, SidFailed, AddFailed };

class ISetupAccounts {
public:
    virtual ~ISetupAccounts() = default;
    // NetUserAdd at level 1 on the local machine; the NET_API_STATUS.
    virtual DWORD AddUser(const std::string &name, const std::string &password, const std::string &comment,
                          DWORD flags) = 0;
    // Adds the account to a local group; the NET_API_STATUS.
    virtual DWORD AddToGroup(const std::string &group, const std::string &name) = 0;
    // Grants a right to the account through the local policy; on AddFailed
    // status holds the converted Win32 code.
    virtual RightResult GrantRight(const std::string &name, const std::string &right, DWORD &status) = 0;
};

// The platform's calls. With the test variable "QOR_TEST_LOG_FILE" set, the
// calls are written to that file and succeed instead.
ISetupAccounts &DefaultAccounts();

// The account's name, password, comment and flags.
extern const char kServiceAccountName[];
extern const char kServiceAccountPassword[];

// Creates or reuses the account, joins it to "Administrators" and grants
// "SeServiceLogonRight"; failures of the right are shown, the others end
// the step silently.
void CreateServiceAccount(ISetupAccounts &accounts, CSetupReporter &reporter, HWND owner);
