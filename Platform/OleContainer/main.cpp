// ole_container.exe STEP...: the test container as a program, for the
// pictures of a document server inside a container. Steps, in order:
//   insert PROGID     a new object of the class
//   load FILE         the object from a document saved by "save"
//   verb N            DoVerb (0 primary, -1 show, -2 open, -3 hide, -5 in place)
//   save FILE         the object saved into the document, the document to FILE
//   close             the object closed (saved when it changed)
//   sleep MS          handles messages for MS milliseconds
//   log FILE          writes the calls the object made so far to FILE
//   quit              ends the program after the steps before it
// Then it handles messages until its window is closed. Exit code 0, or
// the number of the step that failed.
#include <windows.h>
#include <ole2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include "Container.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (FAILED(OleInitialize(NULL)))
        return 100;
    int code = 0;
    {
        CTestContainer container;
        if (!container.Create(instance, "Test Container"))
            return 101;
        for (int i = 1; i < __argc && code == 0; ++i) {
            std::string step = __argv[i];
            const char *arg = i + 1 < __argc ? __argv[i + 1] : "";
            HRESULT hr = S_OK;
            if (step == "insert") {
                wchar_t progId[128];
                MultiByteToWideChar(CP_ACP, 0, arg, -1, progId, 128);
                CLSID clsid;
                hr = CLSIDFromProgID(progId, &clsid);
                if (SUCCEEDED(hr))
                    hr = container.Insert(clsid);
                ++i;
            } else if (step == "load") {
                hr = container.Load(arg);
                ++i;
            } else if (step == "verb") {
                hr = container.DoVerb(atoi(arg));
                ++i;
            } else if (step == "save") {
                hr = container.SaveAs(arg);
                ++i;
            } else if (step == "close") {
                hr = container.Close(OLECLOSE_SAVEIFDIRTY);
            } else if (step == "log") {
                if (FILE *f = fopen(arg, "w")) {
                    for (const std::string &call : container.Calls())
                        fprintf(f, "%s\n", call.c_str());
                    fclose(f);
                }
                ++i;
            } else if (step == "quit") {
                container.Discard();
                DestroyWindow(container.Window());
                break;
            } else if (step == "sleep") {
                container.Pump(DWORD(atoi(arg)));
                ++i;
            }
            InvalidateRect(container.Window(), NULL, TRUE);
            if (FAILED(hr))
                code = i;
        }
        container.PumpUntil([&] { return !IsWindow(container.Window()); }, INFINITE);
    }
    OleUninitialize();
    return code;
}
