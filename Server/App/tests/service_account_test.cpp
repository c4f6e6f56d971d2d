// The logon-account question of a service registration, through its seam:
// which account is verified, what the warning question says, what each
// answer of the logon check and of the user leads to; and the dialog itself,
// driven from a second thread.
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include "ServiceAccount.h"
#include "resource.h"

namespace {

// Records what the question asked; answers as told.
class CFakeChecks : public IAccountChecks {
public:
    DWORD logonAnswer = 0;
    bool yes = false;
    std::vector<std::string> logons, questions, blanks;
    std::vector<DWORD> helps;

    DWORD Logon(const std::string &domain, const std::string &user, const std::string &password) override
    {
        logons.push_back(domain + "|" + user + "|" + password);
        return logonAnswer;
    }
    bool AskUseAnyway(HWND, const std::string &text) override
    {
        questions.push_back(text);
        return yes;
    }
    void ShowBlankName(HWND, const std::string &text) override { blanks.push_back(text); }
    void ShowHelp(HWND, DWORD helpId) override { helps.push_back(helpId); }
};

const char kNotGranted[] = "Account verification failed.\n\n"
                           "Log On As a Service privilege is needed but not granted to the account at this computer.\n"
                           "\nRegistration or startup may fail.  Use this account anyway?";

TEST(ServiceAccount, EachLogonAnswerAndEachReplyToTheQuestion)
{
    const struct Row {
        const char *what;
        DWORD logon;
        bool yes;
        bool asked;
        bool accepted;
    } rows[] = {
        {"success", 0, false, false, true},
        {"privilege not held", ERROR_PRIVILEGE_NOT_HELD, false, false, true},
        {"logon type not granted, yes", ERROR_LOGON_TYPE_NOT_GRANTED, true, true, true},
        {"logon type not granted, no", ERROR_LOGON_TYPE_NOT_GRANTED, false, true, false},
        {"another error, yes", ERROR_LOGON_FAILURE, true, true, true},
        {"another error, no", ERROR_LOGON_FAILURE, false, true, false},
    };
    for (const Row &row : rows) {
        for (AccountChoice choice : {ChoiceDefault, ChoiceNamed}) {
            SCOPED_TRACE(std::string(row.what) + (choice == ChoiceNamed ? " (named)" : " (default)"));
            CFakeChecks checks;
            checks.logonAnswer = row.logon;
            checks.yes = row.yes;
            CServiceAccount result{"unchanged", "unchanged"};
            EXPECT_EQ(row.accepted, AcceptAccount(choice, "PLANT\\op", "pw", checks, NULL, result));
            ASSERT_EQ(1u, checks.logons.size());
            EXPECT_EQ(choice == ChoiceNamed ? "PLANT|op|pw" : ".|BrentaIOUser|vokel", checks.logons[0]);
            EXPECT_EQ(row.asked ? 1u : 0u, checks.questions.size());
            if (row.asked && row.logon == ERROR_LOGON_TYPE_NOT_GRANTED) {
                EXPECT_EQ(kNotGranted, checks.questions[0]);
            }
            if (row.accepted) {
                EXPECT_EQ(choice == ChoiceNamed ? "PLANT\\op" : ".\\BrentaIOUser", result.account);
                EXPECT_EQ(choice == ChoiceNamed ? "pw" : "vokel", result.password);
            } else {
                EXPECT_EQ("unchanged", result.account) << "a refused account changes nothing";
            }
        }
    }
}

TEST(ServiceAccount, TheQuestionCarriesTheSystemTextOfOtherErrors)
{
    std::string text = VerificationQuestion(ERROR_LOGON_FAILURE);
    EXPECT_EQ(0u, text.find("Account verification failed.\n\n"));
    EXPECT_NE(std::string::npos, text.rfind("\nRegistration or startup may fail.  Use this account anyway?"));
    EXPECT_GT(text.size(), std::string(kNotGranted).size() - 80) << "some text for the error itself";
}

TEST(ServiceAccount, TheSystemAccountNeedsNoCheckAndABlankNameStaysInTheDialog)
{
    CFakeChecks checks;
    CServiceAccount result{"x", "y"};
    EXPECT_TRUE(AcceptAccount(ChoiceSystem, "ignored", "ignored", checks, NULL, result));
    EXPECT_TRUE(result.account.empty());
    EXPECT_TRUE(result.password.empty());
    EXPECT_TRUE(AcceptAccount(ChoiceNamed, " \\op\\\t", "pw", checks, NULL, result));
    EXPECT_EQ(".\\op", result.account) << "no domain: the local machine";
    EXPECT_FALSE(AcceptAccount(ChoiceNamed, " \t\\\\ ", "pw", checks, NULL, result));
    EXPECT_EQ(std::vector<std::string>{"User name cannot be blank."}, checks.blanks);
    EXPECT_EQ(1u, checks.logons.size()) << "a blank name is not checked";
}

TEST(ServiceAccount, TheServicesPresentAccountDecidesTheFirstChoice)
{
    const struct Row {
        const char *account;
        bool exists;
        AccountChoice choice;
        const char *name;
    } rows[] = {
        {nullptr, false, ChoiceDefault, ""},      {"", true, ChoiceSystem, ""},
        {"LocalSystem", true, ChoiceSystem, ""},  {"localsystem", true, ChoiceSystem, ""},
        {".\\LocalSystem", true, ChoiceSystem, ""}, {".\\BrentaIOUser", true, ChoiceDefault, ""},
        {".\\op", true, ChoiceNamed, ".\\op"},     {"PLANT\\op", true, ChoiceNamed, "PLANT\\op"},
    };
    for (const Row &row : rows) {
        std::string name = "before";
        EXPECT_EQ(row.choice, FirstAccountChoice(row.account, row.exists, name)) << (row.account ? row.account : "none");
        EXPECT_EQ(row.name, name);
    }
    EXPECT_EQ("op", TrimUserName("\t \\op \\"));
    EXPECT_EQ("PLANT\\op", TrimUserName("PLANT\\op"));
}

HWND FindDialog()
{
    HWND found = NULL;
    for (int i = 0; i < 200 && !found; ++i) {
        found = FindWindowA(NULL, "Logon Account for Running As A Service");
        // Shown once its initialisation is done.
        if (found && !IsWindowVisible(found))
            found = NULL;
        if (!found)
            Sleep(25);
    }
    return found;
}

TEST(ServiceAccount, TheDialogAsksHelpByIdAndANoKeepsItOpen)
{
    CFakeChecks checks;
    checks.logonAnswer = ERROR_LOGON_FAILURE;
    std::vector<bool> userEnabled;
    std::thread user([&] {
        HWND dialog = FindDialog();
        if (!dialog)
            return;
        HWND name = GetDlgItem(dialog, IDC_ACCOUNT_USER);
        userEnabled.push_back(IsWindowEnabled(name) != FALSE);
        SendMessageA(dialog, WM_COMMAND, IDHELP, 0);
        HELPINFO info = {sizeof info, HELPINFO_WINDOW, IDC_ACCOUNT_USER, name, 0, {0, 0}};
        SendMessageA(dialog, WM_HELP, 0, LPARAM(&info));
        info.iCtrlId = IDOK;
        SendMessageA(dialog, WM_HELP, 0, LPARAM(&info));
        // "Use &This Account" enables the name; OK with a refused logon and No stays.
        SendMessageA(GetDlgItem(dialog, IDC_ACCOUNT_DEFAULT), BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageA(GetDlgItem(dialog, IDC_ACCOUNT_NAMED), BM_SETCHECK, BST_CHECKED, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ACCOUNT_NAMED, BN_CLICKED), 0);
        userEnabled.push_back(IsWindowEnabled(name) != FALSE);
        SendMessageA(name, WM_SETTEXT, 0, LPARAM("op"));
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        userEnabled.push_back(IsWindow(dialog) != FALSE);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    CServiceAccount result;
    EXPECT_FALSE(AskServiceAccount(NULL, result, checks)) << "cancelled";
    user.join();
    EXPECT_EQ((std::vector<bool>{false, true, true}), userEnabled) << "disabled, enabled, still open after No";
    EXPECT_EQ((std::vector<DWORD>{16777215u, 327680u + IDC_ACCOUNT_USER}), checks.helps);
    EXPECT_EQ(std::vector<std::string>{".|op|"}, checks.logons);
    EXPECT_EQ(1u, checks.questions.size());
}

} // namespace
