// Setup.dll: the installation library that the Setup program loads, and the
// uninstall that rundll32 runs from the installed copy.
#include "InstallDriver.h"
#include "Uninstall.h"

namespace {
std::string Text(const char *text) { return text ? text : ""; }

HMODULE ModuleOf(const void *address)
{
    HMODULE module = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return length && length < MAX_PATH ? std::string(path, length) : std::string();
}

// The folder of a loaded library, or empty.
std::string ModuleFolder(HMODULE module)
{
    std::string path = ModulePath(module);
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
} // namespace

extern "C" __declspec(dllexport) int __cdecl InstallDriver(int install, int newerHmi, int serverNode,
                                                           const char *sourceFolder, const char *installFolder,
                                                           const char *configFolder, const char *languageFolder,
                                                           const char *configName, const char *programFolder)
{
    CInstallArguments args;
    args.install = install;
    args.newerHmi = newerHmi;
    args.serverNode = serverNode;
    args.sourceFolder = Text(sourceFolder);
    args.installFolder = Text(installFolder);
    args.configFolder = Text(configFolder);
    args.languageFolder = Text(languageFolder);
    args.configName = Text(configName);
    args.programFolder = Text(programFolder);
    return RunInstallation(args, DefaultReporter(), DefaultAccounts());
}

typedef void(__cdecl *FinishUninstallFunction)(HMODULE installed, HWND owner);

// The second half of the uninstall, in a copy of this library: the installed
// library is let go so that it and its folder can be removed. Ends the
// process with 0 when the installation was removed.
extern "C" void __cdecl FinishUninstall(HMODULE installed, HWND owner)
{
    std::string folder = ModuleFolder(installed);
    DWORD code = 1;
    // Asked again: this entry is exported, and the server may have started
    // since.
    if (UninstallAllowed(folder, DefaultReporter(), owner)) {
        std::string path = ModulePath(installed);
        // rundll32 holds the one reference; nothing returns into that library.
        for (int i = 0; i < 8 && GetModuleHandleA(path.c_str()); ++i)
            FreeLibrary(installed);
        code = RemoveInstallation(folder, DefaultReporter(), owner);
    }
    MoveFileExA(ModulePath(ModuleOf(reinterpret_cast<const void *>(&FinishUninstall))).c_str(), NULL,
                MOVEFILE_DELAY_UNTIL_REBOOT);
    ExitProcess(code);
}

// rundll32 "<installation folder>\Setup.dll",UninstallDriver: the
// installation's uninstall command. Ends the process with 0 when the
// installation was removed, 1 when it was refused or failed.
extern "C" void CALLBACK UninstallDriver(HWND owner, HINSTANCE, LPSTR, int)
{
    HMODULE installed = ModuleOf(reinterpret_cast<const void *>(&UninstallDriver));
    if (!UninstallAllowed(ModuleFolder(installed), DefaultReporter(), owner))
        ExitProcess(1);
    // A mapped library can remove neither itself nor its folder: a copy in
    // the temporary folder carries on.
    char temp[MAX_PATH] = "", copy[MAX_PATH] = "";
    HMODULE library = NULL;
    if (GetTempPathA(MAX_PATH, temp) && GetTempFileNameA(temp, "QOR", 0, copy) &&
        CopyFileA(ModulePath(installed).c_str(), copy, FALSE))
        library = LoadLibraryA(copy);
    FinishUninstallFunction finish =
        library ? reinterpret_cast<FinishUninstallFunction>(GetProcAddress(library, "FinishUninstall")) : nullptr;
    if (!finish) {
        ShowSetupError(DefaultReporter(), owner, "Failed to prepare the uninstall in the temporary folder",
                       long(GetLastError()));
        if (library)
            FreeLibrary(library);
        if (copy[0])
            DeleteFileA(copy);
        ExitProcess(1);
    }
    finish(installed, owner);
}
