#include "SharedCounts.h"
#include <ole2.h>
#include "SetupShared.h"

namespace {

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kRecordSection[] = "SharedDlls";

// The count under the value, or false when it is missing or not a count.
bool ReadCount(HKEY key, const std::string &path, DWORD &count, LONG &result)
{
    DWORD size = sizeof count, type = 0;
    result = RegQueryValueExA(key, path.c_str(), NULL, &type, reinterpret_cast<BYTE *>(&count), &size);
    return result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof count;
}

void RemoveSharedFile(const CSharedFile &file, const std::string &path)
{
    if (!FileExists(path))
        return;
    if (file.registered) {
        if (HMODULE library = LoadLibraryA(path.c_str())) {
            typedef HRESULT(STDAPICALLTYPE * UnregisterFunction)();
            if (UnregisterFunction unregister =
                    reinterpret_cast<UnregisterFunction>(GetProcAddress(library, "DllUnregisterServer")))
                unregister();
            FreeLibrary(library);
        }
    }
    if (!DeleteFileA(path.c_str()))
        MoveFileExA(path.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

} // namespace

// Shipped: the store and the message texts in the installation folder (a
// server node's), the OPC proxy libraries in the system folder (both nodes).
const CSharedFile kSharedFiles[] = {
    {"Tessary.dll", false, false, true},     {"ZorbErr.dll", false, false, true},
    {"Dornel.OCX", false, true, false},      {"QORPS.dll", true, true, false},
    {"OPCProxy.dll", true, true, true},      {"opccomn_ps.dll", true, true, false},
    {"opc_aeps.dll", true, true, true},
};
const size_t kSharedFileCount = sizeof kSharedFiles / sizeof kSharedFiles[0];

std::string SharedFilePath(const CSharedFile &file, const std::string &installFolder,
                           const std::string &systemFolder)
{
    std::string folder = file.systemFolder ? systemFolder : installFolder;
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder + file.name;
}

std::vector<bool> SharedFilesPresent(const std::string &installFolder, const std::string &systemFolder)
{
    std::vector<bool> present;
    for (size_t i = 0; i < kSharedFileCount; ++i)
        present.push_back(FileExists(SharedFilePath(kSharedFiles[i], installFolder, systemFolder)));
    return present;
}

void CountSharedLibraries(const std::string &installFolder, const std::string &systemFolder,
                          const std::string &recordFile, const std::vector<bool> &presentBefore)
{
    if (recordFile.empty() || !FileExists(recordFile))
        return;
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    const char *record = recordFile.c_str();
    for (size_t i = 0; i < kSharedFileCount; ++i) {
        std::string path = SharedFilePath(kSharedFiles[i], installFolder, systemFolder);
        // Outside files this system does not ship are not counted.
        if (!FileExists(path))
            continue;
        DWORD count = 0;
        LONG result;
        if (ReadCount(key, path, count, result))
            ++count;
        else if (result == ERROR_FILE_NOT_FOUND)
            count = i < presentBefore.size() && presentBefore[i] ? 2 : 1;
        else
            continue;
        // Recorded first: a raise that the uninstall cannot find is never
        // taken back.
        UINT raised = GetPrivateProfileIntA(kRecordSection, path.c_str(), 0, record);
        if (!WritePrivateProfileStringA(kRecordSection, path.c_str(), std::to_string(raised + 1).c_str(), record))
            continue;
        if (RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), sizeof count) !=
            ERROR_SUCCESS)
            WritePrivateProfileStringA(kRecordSection, path.c_str(),
                                       raised ? std::to_string(raised).c_str() : NULL, record);
    }
    RegCloseKey(key);
    WritePrivateProfileStringA(NULL, NULL, NULL, record);
}

std::vector<UINT> RaisedCounts(const std::string &installFolder, const std::string &systemFolder,
                               const std::string &recordFile)
{
    std::vector<UINT> raised;
    for (size_t i = 0; i < kSharedFileCount; ++i)
        raised.push_back(GetPrivateProfileIntA(
            kRecordSection, SharedFilePath(kSharedFiles[i], installFolder, systemFolder).c_str(), 0,
            recordFile.c_str()));
    return raised;
}

void ReleaseSharedLibraries(const std::vector<UINT> &raised, const std::string &installFolder,
                            const std::string &systemFolder)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < kSharedFileCount && i < raised.size(); ++i) {
        std::string path = SharedFilePath(kSharedFiles[i], installFolder, systemFolder);
        DWORD count = 0;
        LONG result;
        if (!raised[i] || !ReadCount(key, path, count, result))
            continue;
        count = count > raised[i] ? count - raised[i] : 0;
        if (count) {
            RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), sizeof count);
        } else {
            RegDeleteValueA(key, path.c_str());
            if (kSharedFiles[i].shipped)
                RemoveSharedFile(kSharedFiles[i], path);
        }
    }
    RegCloseKey(key);
}
