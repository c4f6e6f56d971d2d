// Setup.exe: the installation wizard of the QOR I/O server.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "SetupWizard.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder = path;
    folder = folder.substr(0, folder.find_last_of('\\'));
    RunMainDialog(instance, folder);
    return 0;
}
