// The uninstall that the installation leaves under the Uninstall key: the
// installed Setup.dll's UninstallDriver, run by rundll32. It refuses while
// the driver's store is in use, since a running server keeps its files and
// writes its settings back; otherwise it removes what the installation
// made and leaves the user's configuration files.
#pragma once
#include <windows.h>
#include <string>
#include "SetupReporter.h"

// False, after a box that says why, while the driver's store is in use.
bool UninstallAllowed(CSetupReporter &reporter, HWND owner);

// Removes the installation in installFolder through its installed INF
// (files, COM registrations, settings, shortcuts, the service), takes back
// the shared counts it raised, and removes the shared files nobody counts
// any more, the shortcut folder, the installation folder and the driver
// keys it leaves empty. 0 when removed, 1 (after a box) when not.
DWORD RemoveInstallation(const std::string &installFolder, CSetupReporter &reporter, HWND owner);
