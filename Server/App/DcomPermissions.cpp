#include "DcomPermissions.h"
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// A security descriptor taken apart: owner, group and SACL as read, the DACL
// as a list of raw entries so that entries can be put in and taken out.
struct Descriptor {
    Bytes owner, group, sacl;
    bool hasSacl = false;
    std::vector<Bytes> entries;
    bool isNew = false;
};

Bytes SidBytes(PSID sid) { return Bytes(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + GetLengthSid(sid)); }

DWORD LookupSid(const std::string &principal, Bytes &sid)
{
    // Fixed buffers: some systems fault on the size query of an unknown name.
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    char domain[256];
    DWORD sidSize = sizeof buffer, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountNameA(NULL, principal.c_str(), buffer, &sidSize, domain, &domainSize, &use))
        return GetLastError() ? GetLastError() : ERROR_NONE_MAPPED;
    sid = SidBytes(buffer);
    return 0;
}

DWORD ProcessUserSid(Bytes &sid)
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return GetLastError();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, NULL, 0, &size);
    Bytes buffer(size ? size : sizeof(TOKEN_USER));
    DWORD error = 0;
    if (!GetTokenInformation(token, TokenUser, buffer.data(), DWORD(buffer.size()), &size))
        error = GetLastError();
    else
        sid = SidBytes(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid);
    CloseHandle(token);
    return error;
}

Bytes AllowedEntry(const Bytes &sid, DWORD mask)
{
    Bytes entry(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size());
    auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(entry.data());
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = 0;
    ace->Header.AceSize = WORD(entry.size());
    ace->Mask = mask;
    memcpy(&ace->SidStart, sid.data(), sid.size());
    return entry;
}

Bytes DeniedEntry(const Bytes &sid, DWORD mask)
{
    Bytes entry = AllowedEntry(sid, mask);
    reinterpret_cast<ACE_HEADER *>(entry.data())->AceType = ACCESS_DENIED_ACE_TYPE;
    return entry;
}

// The SID of an entry whose type carries one in the common place; null for
// the others, which the removal passes over.
PSID EntrySid(const Bytes &entry)
{
    auto *header = reinterpret_cast<const ACE_HEADER *>(entry.data());
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case SYSTEM_AUDIT_ACE_TYPE:
        return const_cast<DWORD *>(&reinterpret_cast<const ACCESS_ALLOWED_ACE *>(entry.data())->SidStart);
    default:
        return nullptr;
    }
}

DWORD NewDescriptor(Descriptor &d)
{
    Bytes user;
    if (DWORD error = ProcessUserSid(user))
        return error;
    d = Descriptor();
    d.owner = user;
    d.group = user;
    d.entries.push_back(AllowedEntry(user, kComRightsExecute));
    d.isNew = true;
    return 0;
}

// A SID of at most limit bytes at data.
bool SidFits(const BYTE *data, size_t limit)
{
    if (limit < 8 || data[0] != SID_REVISION || data[1] > SID_MAX_SUB_AUTHORITIES)
        return false;
    return 8 + 4 * size_t(data[1]) <= limit;
}

// An ACL of at most limit bytes at data, every entry inside it.
bool AclFits(const BYTE *data, size_t limit)
{
    if (limit < sizeof(ACL))
        return false;
    ACL header;
    memcpy(&header, data, sizeof header);
    if (header.AclSize < sizeof(ACL) || header.AclSize > limit)
        return false;
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < header.AceCount; ++i) {
        if (at + sizeof(ACE_HEADER) > header.AclSize)
            return false;
        ACE_HEADER ace;
        memcpy(&ace, data + at, sizeof ace);
        if (ace.AceSize < sizeof(ACE_HEADER) || at + ace.AceSize > header.AclSize)
            return false;
        if (ace.AceType == ACCESS_ALLOWED_ACE_TYPE || ace.AceType == ACCESS_DENIED_ACE_TYPE ||
            ace.AceType == SYSTEM_AUDIT_ACE_TYPE) {
            if (ace.AceSize < 8 || !SidFits(data + at + 8, ace.AceSize - 8))
                return false;
        }
        at += ace.AceSize;
    }
    return true;
}

// The registry value is outside data: every offset and length of the
// self-relative form is checked before the system reads it.
bool StoredDescriptorFits(const Bytes &stored)
{
    struct Relative {
        BYTE revision, sbz1;
        WORD control;
        DWORD owner, group, sacl, dacl;
    } header;
    if (stored.size() < sizeof header)
        return false;
    memcpy(&header, stored.data(), sizeof header);
    if (header.revision != SECURITY_DESCRIPTOR_REVISION || !(header.control & SE_SELF_RELATIVE))
        return false;
    for (DWORD offset : {header.owner, header.group})
        if (offset && (offset >= stored.size() || !SidFits(stored.data() + offset, stored.size() - offset)))
            return false;
    const std::pair<WORD, DWORD> acls[] = {{SE_SACL_PRESENT, header.sacl}, {SE_DACL_PRESENT, header.dacl}};
    for (const auto &acl : acls)
        if ((header.control & acl.first) && acl.second &&
            (acl.second >= stored.size() || !AclFits(stored.data() + acl.second, stored.size() - acl.second)))
            return false;
    return true;
}

DWORD ParseDescriptor(const Bytes &stored, Descriptor &d)
{
    auto *sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<BYTE *>(stored.data()));
    if (!StoredDescriptorFits(stored) || !IsValidSecurityDescriptor(sd))
        return ERROR_INVALID_SECURITY_DESCR;
    d = Descriptor();
    PSID sid = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (GetSecurityDescriptorOwner(sd, &sid, &defaulted) && sid)
        d.owner = SidBytes(sid);
    if (GetSecurityDescriptorGroup(sd, &sid, &defaulted) && sid)
        d.group = SidBytes(sid);
    PACL acl = nullptr;
    if (GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted) && present && acl) {
        d.hasSacl = true;
        d.sacl.assign(reinterpret_cast<BYTE *>(acl), reinterpret_cast<BYTE *>(acl) + acl->AclSize);
    }
    if (!GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted))
        return GetLastError();
    if (present && acl)
        for (DWORD i = 0; i < acl->AceCount; ++i) {
            void *ace = nullptr;
            if (!GetAce(acl, i, &ace))
                return GetLastError();
            auto *header = static_cast<ACE_HEADER *>(ace);
            d.entries.emplace_back(static_cast<BYTE *>(ace), static_cast<BYTE *>(ace) + header->AceSize);
        }
    return 0;
}

DWORD ReadDescriptor(HKEY root, const std::string &keyName, const std::string &valueName, Descriptor &d)
{
    HKEY key = NULL;
    LONG result = RegOpenKeyExA(root, keyName.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result == ERROR_FILE_NOT_FOUND)
        return NewDescriptor(d);
    if (result != ERROR_SUCCESS)
        return DWORD(result);
    DWORD type = 0, size = 0;
    Bytes stored;
    result = RegQueryValueExA(key, valueName.c_str(), NULL, &type, NULL, &size);
    if (result == ERROR_SUCCESS && size > 0) {
        stored.resize(size);
        result = RegQueryValueExA(key, valueName.c_str(), NULL, &type, stored.data(), &size);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || stored.empty())
        return NewDescriptor(d);
    // A value that is not a descriptor is replaced by a new one rather than
    // trusted.
    if (ParseDescriptor(stored, d) != 0)
        return NewDescriptor(d);
    return 0;
}

DWORD WriteDescriptor(HKEY root, const std::string &keyName, const std::string &valueName, const Descriptor &d)
{
    DWORD aclSize = sizeof(ACL);
    for (const Bytes &entry : d.entries)
        aclSize += DWORD(entry.size());
    aclSize = (aclSize + 3) & ~3u;
    Bytes aclBytes(aclSize);
    PACL acl = reinterpret_cast<PACL>(aclBytes.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION))
        return GetLastError();
    for (const Bytes &entry : d.entries)
        if (!AddAce(acl, ACL_REVISION, MAXDWORD, const_cast<BYTE *>(entry.data()), DWORD(entry.size())))
            return GetLastError();

    SECURITY_DESCRIPTOR absolute;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION))
        return GetLastError();
    Bytes owner = d.owner, group = d.group, sacl = d.sacl;
    if (!owner.empty() && !SetSecurityDescriptorOwner(&absolute, owner.data(), FALSE))
        return GetLastError();
    if (!group.empty() && !SetSecurityDescriptorGroup(&absolute, group.data(), FALSE))
        return GetLastError();
    if (d.hasSacl && !SetSecurityDescriptorSacl(&absolute, TRUE, reinterpret_cast<PACL>(sacl.data()), FALSE))
        return GetLastError();
    if (!SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE))
        return GetLastError();

    // Room for the header and the four parts; asking for the size with no
    // buffer is not something every system answers.
    DWORD size = DWORD(64 + owner.size() + group.size() + sacl.size() + aclBytes.size());
    Bytes relative(size);
    if (!MakeSelfRelativeSD(&absolute, relative.data(), &size))
        return GetLastError();
    relative.resize(GetSecurityDescriptorLength(relative.data()));
    size = DWORD(relative.size());

    HKEY key = NULL;
    LONG result = RegCreateKeyExA(root, keyName.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (result != ERROR_SUCCESS)
        return DWORD(result);
    result = RegSetValueExA(key, valueName.c_str(), 0, REG_BINARY, relative.data(), size);
    RegCloseKey(key);
    return DWORD(result);
}

DWORD AddWellKnownEntries(Descriptor &d)
{
    for (const char *name : {"SYSTEM", "INTERACTIVE"}) {
        Bytes sid;
        if (DWORD error = LookupSid(name, sid))
            return error;
        d.entries.push_back(AllowedEntry(sid, kComRightsExecute));
    }
    return 0;
}

void SetPermission(const char *valueName, const std::string &appId, const std::string &principal, bool add,
                   bool allow)
{
    std::string keyName = AppIdKeyName(appId);
    RemovePrincipalFromNamedValue(HKEY_CLASSES_ROOT, keyName, valueName, principal);
    if (add)
        AddPrincipalToNamedValue(HKEY_CLASSES_ROOT, keyName, valueName, principal, allow);
}

} // namespace

std::string AppIdKeyName(const std::string &appId)
{
    if (!appId.empty() && appId[0] == '{')
        return "APPID\\" + appId;
    return "APPID\\{" + appId + "}";
}

// The descriptor of the value ready for an edit (a new one with the
// well-known entries added) and the principal's SID.
static DWORD PrepareEdit(HKEY root, const std::string &keyName, const std::string &valueName,
                         const std::string &principal, Descriptor &d, Bytes &sid)
{
    if (DWORD error = ReadDescriptor(root, keyName, valueName, d))
        return error;
    if (d.isNew)
        if (DWORD error = AddWellKnownEntries(d))
            return error;
    return LookupSid(principal, sid);
}

DWORD AddPrincipalToNamedValue(HKEY root, const std::string &keyName, const std::string &valueName,
                               const std::string &principal, bool allow)
{
    Descriptor d;
    Bytes sid;
    if (DWORD error = PrepareEdit(root, keyName, valueName, principal, d, sid))
        return error;
    if (allow)
        d.entries.push_back(AllowedEntry(sid, kComRightsExecute));
    else
        d.entries.insert(d.entries.begin(), DeniedEntry(sid, GENERIC_ALL));
    return WriteDescriptor(root, keyName, valueName, d);
}

DWORD RemovePrincipalFromNamedValue(HKEY root, const std::string &keyName, const std::string &valueName,
                                    const std::string &principal)
{
    Descriptor d;
    Bytes sid;
    if (DWORD error = PrepareEdit(root, keyName, valueName, principal, d, sid))
        return error;
    for (auto it = d.entries.begin(); it != d.entries.end(); ++it) {
        PSID entrySid = EntrySid(*it);
        if (entrySid && IsValidSid(entrySid) && EqualSid(entrySid, sid.data())) {
            d.entries.erase(it);
            break;
        }
    }
    return WriteDescriptor(root, keyName, valueName, d);
}

void SetAccessPermission(const std::string &appId, const std::string &principal, bool add, bool allow)
{
    SetPermission("AccessPermission", appId, principal, add, allow);
}

void SetLaunchPermission(const std::string &appId, const std::string &principal, bool add, bool allow)
{
    SetPermission("LaunchPermission", appId, principal, add, allow);
}
