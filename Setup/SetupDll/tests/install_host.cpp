// Calls InstallDriver of the Setup.dll in a distribution folder, as the
// Setup program would after its wizard, with the choices on the command
// line: install_host FLAG NEWERHMI SERVER SOURCE INSTALL CONFIG LANGUAGE NODE PROGRAMFOLDER
// ("-" for an empty text). Prints InstallDriver's result; exits 0 when it
// installed, 1 when it stopped.
// install_host uninstall: runs the installation's uninstall command from
// the Uninstall key, as the system's program list would, and exits with its
// exit code (2 when there is none or it cannot start).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "InstallDriver.h"

namespace {

int RunUninstallCommand()
{
    char command[1024] = "";
    DWORD size = sizeof command - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hadrel",
                     "UninstallString", RRF_RT_REG_SZ, NULL, command, &size) != ERROR_SUCCESS) {
        std::fprintf(stderr, "no uninstall command\n");
        return 2;
    }
    std::printf("running %s\n", command);
    std::fflush(stdout);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        std::fprintf(stderr, "cannot start it: %lu\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("the uninstall command ended with %lu\n", code);
    return int(code);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "uninstall") == 0)
        return RunUninstallCommand();
    if (argc != 10) {
        std::fprintf(stderr, "usage: install_host FLAG NEWERHMI SERVER SOURCE INSTALL CONFIG LANGUAGE NODE "
                             "PROGRAMFOLDER\n       install_host uninstall\n");
        return 2;
    }
    auto text = [&](int i) -> const char * { return std::strcmp(argv[i], "-") == 0 ? "" : argv[i]; };
    std::string library = std::string(text(4)) + "\\Setup.dll";
    HMODULE setup = LoadLibraryA(library.c_str());
    if (!setup) {
        std::fprintf(stderr, "cannot load %s: %lu\n", library.c_str(), GetLastError());
        return 2;
    }
    InstallDriverFunction install =
        reinterpret_cast<InstallDriverFunction>(GetProcAddress(setup, "InstallDriver"));
    if (!install) {
        std::fprintf(stderr, "no InstallDriver in %s\n", library.c_str());
        return 2;
    }
    int result = install(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), text(4), text(5), text(6),
                         text(7), text(8), text(9));
    std::printf("InstallDriver returned %d\n", result);
    return result ? 0 : 1;
}
