// Calls InstallDriver of the Setup.dll in a distribution folder, as the
// Setup program would after its wizard, with the choices on the command
// line: install_host FLAG NEWERHMI SERVER SOURCE INSTALL CONFIG LANGUAGE NODE PROGRAMFOLDER
// ("-" for an empty text). Prints InstallDriver's result; exits 0 when it
// installed, 1 when it stopped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "InstallDriver.h"

int main(int argc, char **argv)
{
    if (argc != 10) {
        std::fprintf(stderr, "usage: install_host FLAG NEWERHMI SERVER SOURCE INSTALL CONFIG LANGUAGE NODE "
                             "PROGRAMFOLDER\n");
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
