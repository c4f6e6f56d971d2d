// The uninstall that the installation leaves under the Uninstall key: the
// installed Setup.dll's UninstallDriver, run by rundll32. It refuses while
// the driver's store is in use, since a running server keeps its files and
// writes its settings back, and when it is not the installed copy; otherwise
// it removes what the installation made and leaves the user's configuration
// files.
#pragma once
#include <windows.h>
#include <string>
#include "SetupReporter.h"

// False, after a box that says why, unless libraryFolder (where the running
// Setup.dll lies) is the registered installation folder, or while the
// driver's store is in use. A Setup.dll elsewhere, such as the distribution
// folder's, would remove the files its own folder holds.
bool UninstallAllowed(const std::string &libraryFolder, CSetupReporter &reporter, HWND owner);

// Removes the installation in installFolder through its installed INF
// (files, COM registrations, settings, shortcuts, the service), takes back
// the shared counts it raised, and removes the shared files nobody counts
// any more, the shortcut folder, the installation and help folders and the
// driver keys it leaves empty. 0 when removed, 1 (after a box) when not.
DWORD RemoveInstallation(const std::string &installFolder, CSetupReporter &reporter, HWND owner);
