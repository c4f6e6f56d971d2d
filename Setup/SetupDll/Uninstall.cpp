#include "Uninstall.h"
#include <setupapi.h>
#include <shlobj.h>
#include "SetupShared.h"
#include "SharedCounts.h"

namespace {

// Only a key without values and subkeys goes: it may be shared.
void DeleteKeyIfEmpty(HKEY root, const char *key)
{
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0, values = 0;
    LONG result = RegQueryInfoKeyA(handle, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(handle);
    if (result == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(root, key);
}

// A folder's full, long and upper-cased form without a closing "\", so
// that two spellings of one folder compare equal.
std::string FolderKey(const std::string &folder)
{
    char full[MAX_PATH] = "", longer[MAX_PATH] = "";
    DWORD length = GetFullPathNameA(folder.c_str(), MAX_PATH, full, NULL);
    std::string key = length && length < MAX_PATH ? full : folder;
    length = GetLongPathNameA(key.c_str(), longer, MAX_PATH);
    if (length && length < MAX_PATH)
        key = longer;
    while (key.size() > 3 && key.back() == '\\')
        key.pop_back();
    CharUpperBuffA(&key[0], DWORD(key.size()));
    return key;
}

const char kUninstallTitle[] = "Veltrane QOR Driver Setup";

} // namespace

bool UninstallAllowed(const std::string &libraryFolder, CSetupReporter &reporter, HWND owner)
{
    std::string installed = RegText(HKEY_LOCAL_MACHINE, kDriverKey, "BasePath");
    if (installed.empty()) {
        reporter.Show(owner,
                      "The Veltrane QOR Driver is not installed: no installation folder is registered. Nothing was "
                      "removed.",
                      kUninstallTitle, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (libraryFolder.empty() || FolderKey(libraryFolder) != FolderKey(installed)) {
        reporter.Show(owner,
                      "This uninstall runs from " + libraryFolder + ", but the Veltrane QOR Driver is installed in " +
                          installed + ". Nothing was removed; use the uninstall of the installation folder.",
                      kUninstallTitle, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (!DriverRunning())
        return true;
    reporter.Show(owner,
                  "The Veltrane QOR Driver is running. Please shutdown the Veltrane QOR Driver application and the "
                  "programs that use its data before uninstalling.",
                  kUninstallTitle, MB_OK | MB_ICONSTOP);
    return false;
}

DWORD RemoveInstallation(const std::string &installFolder, CSetupReporter &reporter, HWND owner)
{
    std::string infPath = installFolder + "\\" + kInfName;
    HINF inf = SetupOpenInfFileA(infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) {
        ShowSetupError(reporter, owner, "Failed to open server's information file " + infPath, long(GetLastError()));
        return 1;
    }
    // The help file went to the language folder that the settings name.
    std::string language = RegText(HKEY_LOCAL_MACHINE, kDriverKey, "NlsPath");
    SetupSetDirectoryIdA(inf, kInstallDirId, installFolder.c_str());
    SetupSetDirectoryIdA(inf, kLanguageDirId, language.empty() ? installFolder.c_str() : language.c_str());
    char links[MAX_PATH] = "";
    if (!SetupGetTargetPathA(inf, NULL, "Uninstall.Links", links, MAX_PATH, NULL))
        links[0] = '\0';
    // Read before the section removes the INF that holds the record.
    std::string system = SystemFolder();
    std::vector<UINT> raised = RaisedCounts(installFolder, system, infPath);

    void *context = SetupInitDefaultQueueCallback(owner);
    BOOL removed = context && SetupInstallFromInfSectionA(owner, inf, "DefaultUninstall", SPINST_ALL, NULL, NULL, 0,
                                                          SetupDefaultQueueCallbackA, context, NULL, NULL);
    DWORD error = GetLastError();
    if (context)
        SetupTermDefaultQueueCallback(context);
    if (removed)
        SetupInstallServicesFromInfSectionA(inf, "DefaultUninstall.Services", 0);
    SetupCloseInfFile(inf);
    if (!removed) {
        ShowSetupError(reporter, owner, "Failed to remove the installed files and settings", long(error));
        return 1;
    }

    ReleaseSharedLibraries(raised, installFolder, system);
    if (links[0] && RemoveDirectoryA(links))
        SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, links, NULL);
    DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers");
    DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Software\\Veltrane");
    // What is left there (the user's configuration files) keeps the folder;
    // so does anything else in the help folder.
    RemoveDirectoryA(installFolder.c_str());
    if (!language.empty())
        RemoveDirectoryA(language.c_str());
    return 0;
}
