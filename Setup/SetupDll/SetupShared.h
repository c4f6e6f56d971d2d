// What the Setup program, the installation and the uninstall share: the
// INF's name and directory ids, the driver's settings key, whether the
// driver's store is in use, folders made level by level, the system folder,
// and small file and registry questions.
#pragma once
#include <windows.h>
#include <string>

inline constexpr char kInfName[] = "QOR.inf";
inline constexpr char kDriverKey[] = "Software\\Veltrane\\Drivers\\QOR";
// The INF's directory ids of the installation and the language folder.
inline constexpr DWORD kInstallDirId = 65701;
inline constexpr DWORD kLanguageDirId = 65702;

// True when the driver's store is in use (the server or a program that
// reads its data runs): the store's input mutex exists.
bool DriverRunning();

// True when a mutex of that name exists, also when it belongs to another
// account and may not be opened from here.
bool MutexExists(const char *name);

// Creates a folder level by level below its drive or share; false, with the
// failing level's error as the last error, when a level cannot be made.
bool CreateFolderLevels(const std::string &path);

// The system folder, or empty when it cannot be read.
std::string SystemFolder();

// Whether anything (file or folder) is at the path; whether a folder is.
bool FileExists(const std::string &path);
bool IsFolder(const std::string &path);

// A text value (REG_SZ or REG_EXPAND_SZ, not expanded), or empty when the
// key or value is missing or holds no text.
std::string RegText(HKEY root, const char *key, const char *value);
