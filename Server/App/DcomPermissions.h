// DCOM launch and access rights of an AppID: the self-relative security
// descriptors in the named values "AccessPermission" and "LaunchPermission"
// under HKEY_CLASSES_ROOT "APPID\{...}", edited entry by entry.
#pragma once
#include <windows.h>
#include <string>

// The COM execute right of an allowed entry.
const DWORD kComRightsExecute = 1;

// Removes principal from the AppID's value, then, with add, puts it back as
// an allowed (allow) or denied entry. Results are not reported: registration
// goes on whatever happens here.
void SetAccessPermission(const std::string &appId, const std::string &principal, bool add, bool allow);
void SetLaunchPermission(const std::string &appId, const std::string &principal, bool add, bool allow);

// The key name of an AppID text: "APPID\" followed by the text, braces
// added when it has none.
std::string AppIdKeyName(const std::string &appId);

// The edits themselves; 0 or the Win32 error of the first call that failed.
// A missing key or value starts from a new descriptor that allows the
// process's user (and, before the edit, "SYSTEM" and "INTERACTIVE").
DWORD AddPrincipalToNamedValue(HKEY root, const std::string &keyName, const std::string &valueName,
                               const std::string &principal, bool allow);
DWORD RemovePrincipalFromNamedValue(HKEY root, const std::string &keyName, const std::string &valueName,
                                    const std::string &principal);
