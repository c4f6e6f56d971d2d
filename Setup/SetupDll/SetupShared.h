// What the Setup program, the installation and the uninstall all ask of the
// machine: whether the driver's store is in use, folders made level by
// level, and the system folder.
#pragma once
#include <windows.h>
#include <string>

// True when the driver's store is in use (the server or a program that
// reads its data runs): the store's input mutex exists.
bool DriverRunning();

// Creates a folder level by level below its drive or share; false, with the
// failing level's error as the last error, when a level cannot be made.
bool CreateFolderLevels(const std::string &path);

// The system folder, or empty when it cannot be read.
std::string SystemFolder();
