// Hadrel.exe: the QOR I/O server program.
#include <windows.h>
#include "ServerApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    CServerApp app;
    int exitCode = 1;
    if (app.InitInstance(instance, commandLine ? commandLine : "", exitCode))
        exitCode = app.Run();
    app.ExitInstance();
    return exitCode;
}
