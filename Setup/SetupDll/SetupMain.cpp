// Setup.dll: the installation library that the Setup program loads.
#include "InstallDriver.h"

namespace {
std::string Text(const char *text) { return text ? text : ""; }
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
