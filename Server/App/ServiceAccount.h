// The logon-account question of a service registration: which account the
// service "Hadrel" runs under. The dialog moves values between its controls
// and the rules below; the rules reach the system only through
// IAccountChecks, so tests see what was asked (the platform's LogonUser may
// be a stub).
#pragma once
#include <windows.h>
#include <string>

// The service's default account and its password; Setup creates the account
// with them.
extern const char DefaultServiceAccount[];    // ".\BrentaIOUser"
extern const char DefaultServicePassword[];   // "vokel"

enum AccountChoice { ChoiceSystem = 0, ChoiceDefault = 1, ChoiceNamed = 2 };

// What a service registration runs the service under.
struct CServiceAccount {
    std::string account;    // empty: the system account
    std::string password;
};

// What the question asks of the system and of the user.
class IAccountChecks {
public:
    virtual ~IAccountChecks() = default;
    // LogonUser with the service logon type: 0 or the Win32 error.
    virtual DWORD Logon(const std::string &domain, const std::string &user, const std::string &password) = 0;
    // The warning question (Yes, No; No the default): true for Yes.
    virtual bool AskUseAnyway(HWND owner, const std::string &text) = 0;
    // "User name cannot be blank."
    virtual void ShowBlankName(HWND owner, const std::string &text) = 0;
    // Context help at the dialog's client point (10, 10).
    virtual void ShowHelp(HWND dialog, DWORD helpId) = 0;
};

// The system's checks: LogonUser, message boxes and the outside
// context-help control (help does nothing when it is not installed).
IAccountChecks &SystemAccountChecks();
// The help file that context help opens.
void SetServiceAccountHelpFile(const std::string &path);

// The first choice from the service's present account (null: a new
// service); name receives a named account.
AccountChoice FirstAccountChoice(const char *presentAccount, bool serviceExists, std::string &name);
// The user name without blanks, tabs and backslashes at either end.
std::string TrimUserName(const std::string &typed);
// The warning question's text for a failed verification.
std::string VerificationQuestion(DWORD error);
// The OK button: true when the dialog ends with result; false when it
// stays open (blank name, or No to the question).
bool AcceptAccount(AccountChoice choice, const std::string &typedUser, const std::string &password,
                   IAccountChecks &checks, HWND owner, CServiceAccount &result);
// Help ids: the Help button, and F1 on another control.
const DWORD HelpButtonId = 16777215;
inline DWORD ControlHelpId(int controlId) { return 327680 + DWORD(controlId); }

// The whole question for a service (null: not installed yet): its present
// account (configuration query from 548 bytes, grown when asked), then the
// dialog. False when cancelled.
bool AskServiceAccount(SC_HANDLE service, CServiceAccount &account, IAccountChecks &checks = SystemAccountChecks());
