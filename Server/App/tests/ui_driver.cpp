// Presses the server's dialogs from outside, for scripts/service-screenshots.sh:
//   hadrel_ui_driver COMMAND... with the commands
//   wait TITLE MS        until a window with the title exists (exit 1 if not)
//   check TITLE ID 0|1   set a button's check
//   click TITLE ID       send the dialog the command ID (as a button click)
//   text TITLE ID TEXT   set a control's text
//   gone TITLE MS        until no window has the title
//   print TITLE          the static texts of the window, one a line
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

HWND Find(const char *title) { return FindWindowA(NULL, title); }

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    char text[512] = "";
    GetWindowTextA(child, text, sizeof text);
    if (text[0])
        printf("%d\t%s\n", GetDlgCtrlID(child), text);
    return TRUE;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc;) {
        const char *command = argv[i++];
        if (i >= argc)
            return 2;
        const char *title = argv[i++];
        if (!strcmp(command, "wait") || !strcmp(command, "gone")) {
            DWORD limit = DWORD(atoi(argv[i++])), start = GetTickCount();
            bool present = !strcmp(command, "wait");
            while ((Find(title) != NULL) != present) {
                if (GetTickCount() - start > limit)
                    return 1;
                Sleep(50);
            }
            continue;
        }
        HWND window = Find(title);
        if (!window)
            return 1;
        if (!strcmp(command, "check")) {
            int id = atoi(argv[i++]);
            SendMessageA(GetDlgItem(window, id), BM_SETCHECK, atoi(argv[i++]) ? BST_CHECKED : BST_UNCHECKED, 0);
        } else if (!strcmp(command, "click")) {
            int id = atoi(argv[i++]);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(window, id)));
            Sleep(200);
        } else if (!strcmp(command, "text")) {
            int id = atoi(argv[i++]);
            SendMessageA(GetDlgItem(window, id), WM_SETTEXT, 0, LPARAM(argv[i++]));
        } else if (!strcmp(command, "print")) {
            EnumChildWindows(window, PrintChild, 0);
        } else {
            return 2;
        }
    }
    return 0;
}
