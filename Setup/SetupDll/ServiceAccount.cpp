#include "ServiceAccount.h"
#include <lm.h>
#include <ntsecapi.h>
#include <vector>

const char kServiceAccountName[] = "BrentaIOUser";
const char kServiceAccountPassword[] = "vokel";

namespace {

const char kComment[] = "Account for Brenta I/O Servers";
const char kGroup[] = "Administrators";
const char kLogonRight[] = "SeServiceLogonRight";
// Script, normal account, password never expires.
const DWORD kAccountFlags = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD;
static_assert(kAccountFlags == 0x10201, "account flags");

std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], int(wide.size()));
    wide.resize(length > 0 ? size_t(length - 1) : 0);
    return wide;
}

void InitLsaString(LSA_UNICODE_STRING &target, std::wstring &text)
{
    target.Buffer = &text[0];
    target.Length = USHORT(text.size() * sizeof(wchar_t));
    target.MaximumLength = USHORT((text.size() + 1) * sizeof(wchar_t));
}

class CPlatformAccounts : public ISetupAccounts {
public:
    DWORD AddUser(const std::string &name, const std::string &password, const std::string &comment,
                  DWORD flags) override
    {
        std::wstring wname = Wide(name), wpassword = Wide(password), wcomment = Wide(comment);
        USER_INFO_1 info = {};
        info.usri1_name = &wname[0];
        info.usri1_password = &wpassword[0];
        info.usri1_priv = USER_PRIV_USER;
        info.usri1_home_dir = NULL;
        info.usri1_comment = &wcomment[0];
        info.usri1_flags = flags;
        info.usri1_script_path = NULL;
        DWORD badField = 0;
        return NetUserAdd(NULL, 1, reinterpret_cast<BYTE *>(&info), &badField);
    }

    DWORD AddToGroup(const std::string &group, const std::string &name) override
    {
        std::wstring wgroup = Wide(group), wname = Wide(name);
        LOCALGROUP_MEMBERS_INFO_3 member = {};
        member.lgrmi3_domainandname = &wname[0];
        return NetLocalGroupAddMembers(NULL, wgroup.c_str(), 3, reinterpret_cast<BYTE *>(&member), 1);
    }

    RightResult GrantRight(const std::string &name, const std::string &right, DWORD &status) override
    {
        status = 0;
        LSA_OBJECT_ATTRIBUTES attributes = {};
        LSA_HANDLE policy = NULL;
        if (LsaOpenPolicy(NULL, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy) != 0)
            return RightResult::PolicyFailed;
        // The SID and domain buffers grow from 128 and 16 bytes until they suffice.
        std::vector<BYTE> sid(128);
        std::vector<char> domain(16);
        bool found = false;
        for (int attempt = 0; attempt < 8 && !found; ++attempt) {
            DWORD sidSize = DWORD(sid.size()), domainSize = DWORD(domain.size());
            SID_NAME_USE use;
            if (LookupAccountNameA(NULL, name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use)) {
                found = true;
            } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                sid.resize(std::max<size_t>(sidSize, sid.size() * 2));
                domain.resize(std::max<size_t>(domainSize, domain.size() * 2));
            } else {
                break;
            }
        }
        if (!found) {
            LsaClose(policy);
            return RightResult::SidFailed;
        }
        std::wstring wright = Wide(right);
        LSA_UNICODE_STRING rightString;
        InitLsaString(rightString, wright);
        NTSTATUS result = LsaAddAccountRights(policy, sid.data(), &rightString, 1);
        LsaClose(policy);
        if (result != 0) {
            status = LsaNtStatusToWinError(result);
            return RightResult::AddFailed;
        }
        return RightResult::Granted;
    }
};

// Records the calls in the test log and answers success.
class CRecordingAccounts : public ISetupAccounts {
public:
    DWORD AddUser(const std::string &name, const std::string &password, const std::string &comment,
                  DWORD flags) override
    {
        char buffer[64];
        wsprintfA(buffer, "0x%lX", flags);
        AppendTestLog("ACCOUNT AddUser " + name + " " + password + " \"" + comment + "\" " + buffer);
        return NERR_Success;
    }
    DWORD AddToGroup(const std::string &group, const std::string &name) override
    {
        AppendTestLog("ACCOUNT AddToGroup " + group + " " + name);
        return NERR_Success;
    }
    RightResult GrantRight(const std::string &name, const std::string &right, DWORD &status) override
    {
        status = 0;
        AppendTestLog("ACCOUNT GrantRight " + name + " " + right);
        return RightResult::Granted;
    }
};

} // namespace

ISetupAccounts &DefaultAccounts()
{
    static CPlatformAccounts platform;
    static CRecordingAccounts recording;
    std::string path;
    if (TestLogFile(path))
        return recording;
    return platform;
}

void CreateServiceAccount(ISetupAccounts &accounts, CSetupReporter &reporter, HWND owner)
{
    DWORD result = accounts.AddUser(kServiceAccountName, kServiceAccountPassword, kComment, kAccountFlags);
    if (result != NERR_Success && result != NERR_GroupExists && result != NERR_UserExists)
        return;
    result = accounts.AddToGroup(kGroup, kServiceAccountName);
    if (result != NERR_Success && result != ERROR_MEMBER_IN_ALIAS)
        return;
    DWORD status = 0;
    switch (accounts.GrantRight(kServiceAccountName, kLogonRight, status)) {
    case RightResult::Granted:
        break;
    case RightResult::PolicyFailed:
        ShowSetupError(reporter, owner, "Failed to open policy");
        break;
    case RightResult::SidFailed:
        ShowSetupError(reporter, owner, "GetAccountSid Failed");
        break;
    case RightResult::AddFailed:
        ShowSetupError(reporter, owner, "SetPrivilegeOnAccount failed", long(status));
        break;
    }
}
