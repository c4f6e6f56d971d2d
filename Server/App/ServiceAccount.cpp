#include "ServiceAccount.h"
#include <ole2.h>
#include <vector>
#include "Registration.h"
#include "resource.h"

const char DefaultServiceAccount[] = ".\\BrentaIOUser";
const char DefaultServicePassword[] = "vokel";

namespace {

const char kBlankName[] = "User name cannot be blank.";
const char kCaption[] = "Hadrel";
const CLSID CLSID_ContextHelp = {0x1E57C6C4, 0xB069, 0x11D3, {0x8D, 0x43, 0x00, 0x10, 0x4B, 0x13, 0x8C, 0x8C}};
const IID IID_ContextHelp = {0x1E57C6C3, 0xB069, 0x11D3, {0x8D, 0x43, 0x00, 0x10, 0x4B, 0x13, 0x8C, 0x8C}};

std::string g_helpFile;

bool SameText(const std::string &a, const char *b) { return lstrcmpiA(a.c_str(), b) == 0; }

class CSystemChecks : public IAccountChecks {
public:
    DWORD Logon(const std::string &domain, const std::string &user, const std::string &password) override
    {
        HANDLE token = NULL;
        if (LogonUserA(user.c_str(), domain.c_str(), password.c_str(), LOGON32_LOGON_SERVICE,
                       LOGON32_PROVIDER_DEFAULT, &token)) {
            if (token)
                CloseHandle(token);
            return 0;
        }
        DWORD error = GetLastError();
        return error ? error : ERROR_LOGON_FAILURE;
    }
    bool AskUseAnyway(HWND owner, const std::string &text) override
    {
        return MessageBoxA(owner, text.c_str(), kCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    }
    void ShowBlankName(HWND owner, const std::string &text) override
    {
        MessageBoxA(owner, text.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
    }
    void ShowHelp(HWND dialog, DWORD helpId) override
    {
        // The outside control's show-help method: the fourth after the
        // dispatch methods. Without the control there is no help.
        IUnknown *unknown = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ContextHelp, NULL, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                    reinterpret_cast<void **>(&unknown))) ||
            !unknown)
            return;
        OleRun(unknown);
        IUnknown *help = nullptr;
        if (SUCCEEDED(unknown->QueryInterface(IID_ContextHelp, reinterpret_cast<void **>(&help))) && help) {
            POINT point = {10, 10};
            ClientToScreen(dialog, &point);
            std::wstring file(g_helpFile.begin(), g_helpFile.end());
            BSTR path = SysAllocString(file.c_str());
            using ShowHelpFn = HRESULT(STDMETHODCALLTYPE *)(IUnknown *, BSTR, LONG, LONG, LONG);
            ShowHelpFn show = (*reinterpret_cast<ShowHelpFn **>(help))[10];
            show(help, path, LONG(helpId), point.x, point.y);
            SysFreeString(path);
            help->Release();
        }
        unknown->Release();
    }
};

struct DialogState {
    IAccountChecks *checks;
    AccountChoice choice;
    std::string name;
    CServiceAccount result;
};

const int kRadios[] = {IDC_ACCOUNT_SYSTEM, IDC_ACCOUNT_DEFAULT, IDC_ACCOUNT_NAMED};

void EnableNamedFields(HWND dialog, bool on)
{
    for (int id : {IDC_ACCOUNT_USER_LABEL, IDC_ACCOUNT_USER, IDC_ACCOUNT_PASSWORD_LABEL, IDC_ACCOUNT_PASSWORD})
        EnableWindow(GetDlgItem(dialog, id), on);
}

AccountChoice CheckedChoice(HWND dialog)
{
    for (int i = 0; i < 3; ++i)
        if (IsDlgButtonChecked(dialog, kRadios[i]) == BST_CHECKED)
            return AccountChoice(i);
    return ChoiceSystem;
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    std::vector<char> text(size_t(GetWindowTextLengthA(item)) + 2);
    GetWindowTextA(item, text.data(), int(text.size()));
    return text.data();
}

INT_PTR CALLBACK AccountDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *state = reinterpret_cast<DialogState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        state = reinterpret_cast<DialogState *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        CheckRadioButton(dialog, IDC_ACCOUNT_SYSTEM, IDC_ACCOUNT_NAMED, kRadios[state->choice]);
        SetDlgItemTextA(dialog, IDC_ACCOUNT_USER, state->name.c_str());
        EnableNamedFields(dialog, state->choice == ChoiceNamed);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ACCOUNT_SYSTEM:
        case IDC_ACCOUNT_DEFAULT:
        case IDC_ACCOUNT_NAMED: {
            bool named = LOWORD(wParam) == IDC_ACCOUNT_NAMED;
            EnableNamedFields(dialog, named);
            if (named)
                SetFocus(GetDlgItem(dialog, IDC_ACCOUNT_USER));
            return TRUE;
        }
        case IDOK: {
            std::string typed = ItemText(dialog, IDC_ACCOUNT_USER);
            if (AcceptAccount(CheckedChoice(dialog), typed, ItemText(dialog, IDC_ACCOUNT_PASSWORD), *state->checks,
                              dialog, state->result))
                EndDialog(dialog, IDOK);
            else if (CheckedChoice(dialog) == ChoiceNamed && TrimUserName(typed).empty())
                SetFocus(GetDlgItem(dialog, IDC_ACCOUNT_USER));
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDHELP:
            state->checks->ShowHelp(dialog, HelpButtonId);
            return TRUE;
        }
        break;
    case WM_HELP: {
        auto *info = reinterpret_cast<HELPINFO *>(lParam);
        int id = info ? info->iCtrlId : 0;
        if (id != IDOK && id != IDCANCEL && id != IDHELP)
            state->checks->ShowHelp(dialog, ControlHelpId(id));
        return TRUE;
    }
    }
    return FALSE;
}

// The service's present account; false when its configuration cannot be read.
bool PresentAccount(SC_HANDLE service, std::string &account)
{
    std::vector<BYTE> buffer(548);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data()), DWORD(buffer.size()),
                             &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size())
            return false;
        buffer.resize(needed);
        if (!QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data()),
                                 DWORD(buffer.size()), &needed))
            return false;
    }
    const char *name = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data())->lpServiceStartName;
    account = name ? name : "";
    return true;
}

} // namespace

IAccountChecks &SystemAccountChecks()
{
    static CSystemChecks checks;
    return checks;
}

void SetServiceAccountHelpFile(const std::string &path) { g_helpFile = path; }

AccountChoice FirstAccountChoice(const char *presentAccount, bool serviceExists, std::string &name)
{
    name.clear();
    if (!serviceExists)
        return ChoiceDefault;
    std::string account = presentAccount ? presentAccount : "";
    if (account.empty() || SameText(account, "LocalSystem") || SameText(account, ".\\LocalSystem"))
        return ChoiceSystem;
    if (SameText(account, DefaultServiceAccount))
        return ChoiceDefault;
    name = account;
    return ChoiceNamed;
}

std::string TrimUserName(const std::string &typed)
{
    const char trimmed[] = " \t\\";
    size_t first = typed.find_first_not_of(trimmed);
    if (first == std::string::npos)
        return std::string();
    return typed.substr(first, typed.find_last_not_of(trimmed) - first + 1);
}

std::string VerificationQuestion(DWORD error)
{
    std::string text = "Account verification failed.\n\n";
    if (error == ERROR_LOGON_TYPE_NOT_GRANTED)
        text += "Log On As a Service privilege is needed but not granted to the account at this computer.\n";
    else
        text += SystemErrorText(error) + "\n";
    return text + "\nRegistration or startup may fail.  Use this account anyway?";
}

bool AcceptAccount(AccountChoice choice, const std::string &typedUser, const std::string &password,
                   IAccountChecks &checks, HWND owner, CServiceAccount &result)
{
    std::string account, secret;
    switch (choice) {
    case ChoiceSystem:
        result = CServiceAccount();
        return true;
    case ChoiceDefault:
        account = DefaultServiceAccount;
        secret = DefaultServicePassword;
        break;
    case ChoiceNamed: {
        std::string name = TrimUserName(typedUser);
        if (name.empty()) {
            checks.ShowBlankName(owner, kBlankName);
            return false;
        }
        account = name.find('\\') == std::string::npos ? ".\\" + name : name;
        secret = password;
        break;
    }
    }
    size_t split = account.find('\\');
    std::string domain = account.substr(0, split), user = account.substr(split + 1);
    DWORD error = checks.Logon(domain, user, secret);
    if (error != 0 && error != ERROR_PRIVILEGE_NOT_HELD && !checks.AskUseAnyway(owner, VerificationQuestion(error)))
        return false;
    result.account = account;
    result.password = secret;
    return true;
}

bool AskServiceAccount(SC_HANDLE service, CServiceAccount &account, IAccountChecks &checks)
{
    DialogState state{&checks, ChoiceDefault, std::string(), CServiceAccount()};
    std::string present;
    bool known = service && PresentAccount(service, present);
    state.choice = FirstAccountChoice(known ? present.c_str() : nullptr, service != NULL, state.name);
    INT_PTR answer = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_SERVICE_ACCOUNT), NULL,
                                     AccountDialogProc, LPARAM(&state));
    if (answer != IDOK)
        return false;
    account = state.result;
    return true;
}
