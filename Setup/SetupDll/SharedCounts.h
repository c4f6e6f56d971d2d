// The "SharedDlls" counts of the files that an installation shares with
// other software. Each installation adds 1 to the count of every such file
// present, and writes what it added into its record file (the installed
// INF's section "SharedDlls"), so that the uninstall takes back exactly
// that and leaves other software's counts alone.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A shared file: in the installation folder or in the system folder;
// registered ones register themselves (DllRegisterServer) when installed
// and are unregistered before they are removed. Only a file that this
// system ships (its INF copies it) is ever removed; the others belong to
// outside software, whose files are counted while this system uses them.
struct CSharedFile {
    const char *name;
    bool systemFolder;
    bool registered;
    bool shipped;
};
extern const CSharedFile kSharedFiles[];
extern const size_t kSharedFileCount;

std::string SharedFilePath(const CSharedFile &file, const std::string &installFolder,
                           const std::string &systemFolder);

// Which shared files are there before the installation copies its own, one
// entry per shared file.
std::vector<bool> SharedFilesPresent(const std::string &installFolder, const std::string &systemFolder);

// After the installation's files are in place: adds 1 to the count of each
// shared file present and records it in the record file. A missing value
// starts at 1; for a file that was there before without a count (software
// that does not count placed it) it starts at 2, so that taking back this
// installation's 1 leaves that file counted. A value that cannot be read
// for another reason stays, and so does every count when the record file is
// missing or a raise cannot be recorded, as nothing could take it back.
void CountSharedLibraries(const std::string &installFolder, const std::string &systemFolder,
                          const std::string &recordFile, const std::vector<bool> &presentBefore);

// What the record file says the installation added, one entry per shared file.
std::vector<UINT> RaisedCounts(const std::string &installFolder, const std::string &systemFolder,
                               const std::string &recordFile);

// Takes the raised counts back; a file whose count reaches 0 loses its value
// and, when this system ships it, is removed (unregistered first when
// registered; when it is in use, at the next restart).
void ReleaseSharedLibraries(const std::vector<UINT> &raised, const std::string &installFolder,
                            const std::string &systemFolder);
