// setup_ui_driver: presses Setup's buttons and fills its wizard pages from
// outside, for the end-to-end test and the screenshot script. Each argument
// group is one step:
//   wait TITLE MS          until a visible window with the title exists
//                          ("@wizard": the wizard, whose title is its page's)
//   click TITLE ID         the button ID of that window
//   page TITLE ID TEXT     sets the text of control ID on the wizard's page
//   onpage TITLE ID MS     until the wizard's page has control ID
//   pagecheck TITLE ID     checks the radio button ID on the wizard's page
//   pageclick TITLE ID     the button ID on the wizard's page
//   next TITLE / finish TITLE / back TITLE   the wizard's buttons
//   answer TITLE ID        the button ID (IDYES 6, IDNO 7, IDOK 1) of a box
//   expand TITLE ID        expands the first root of tree control ID
//   shows TEXT MS          until a visible window has a control with the text
//   sleep MS
// Exit code 0 when every step found its window, else the failing step's number.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "window_wait.h"

// The wizard's title is its page's: "@wizard" finds the visible window that
// holds a property-sheet page.
static BOOL CALLBACK FindSheet(HWND hwnd, LPARAM param)
{
    if (!IsWindowVisible(hwnd) || !SendMessageA(hwnd, PSM_GETCURRENTPAGEHWND, 0, 0))
        return TRUE;
    *reinterpret_cast<HWND *>(param) = hwnd;
    return FALSE;
}

static HWND WaitFor(const char *title, DWORD ms)
{
    return WaitForVisible(
        [title] {
            HWND hwnd = NULL;
            if (!strcmp(title, "@wizard"))
                EnumWindows(FindSheet, reinterpret_cast<LPARAM>(&hwnd));
            else
                hwnd = FindWindowA(NULL, title);
            return hwnd;
        },
        ms);
}


static HWND Page(HWND sheet)
{
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

int main(int argc, char **argv)
{
    int step = 0;
    for (int i = 1; i < argc; ++step) {
        const char *command = argv[i];
        HWND hwnd = NULL;
        int args = 0;
        if (!strcmp(command, "wait") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], DWORD(atoi(argv[i + 2])));
            args = 2;
        } else if ((!strcmp(command, "click") || !strcmp(command, "answer")) && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            if (hwnd)
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hwnd, atoi(argv[i + 2]))));
            args = 2;
        } else if (!strcmp(command, "page") && i + 3 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            if (hwnd)
                SetDlgItemTextA(Page(hwnd), atoi(argv[i + 2]), argv[i + 3]);
            args = 3;
        } else if (!strcmp(command, "onpage") && i + 3 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            DWORD start = GetTickCount();
            while (hwnd && !GetDlgItem(Page(hwnd), atoi(argv[i + 2]))) {
                if (GetTickCount() - start > DWORD(atoi(argv[i + 3]))) {
                    hwnd = NULL;
                    break;
                }
                Sleep(100);
            }
            args = 3;
        } else if (!strcmp(command, "pagecheck") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            if (hwnd)
                SendDlgItemMessageA(Page(hwnd), atoi(argv[i + 2]), BM_CLICK, 0, 0);
            args = 2;
        } else if (!strcmp(command, "pageclick") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            if (hwnd)
                PostMessageA(Page(hwnd), WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(Page(hwnd), atoi(argv[i + 2]))));
            args = 2;
        } else if ((!strcmp(command, "next") || !strcmp(command, "finish") || !strcmp(command, "back")) &&
                   i + 1 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            int button = !strcmp(command, "next") ? PSBTN_NEXT : !strcmp(command, "back") ? PSBTN_BACK : PSBTN_FINISH;
            if (hwnd)
                PostMessageA(hwnd, PSM_PRESSBUTTON, button, 0);
            args = 1;
        } else if (!strcmp(command, "expand") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 20000);
            if (hwnd) {
                HWND tree = GetDlgItem(hwnd, atoi(argv[i + 2]));
                LRESULT root = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
                SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, root);
                SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, root);
            }
            args = 2;
        } else if (!strcmp(command, "shows") && i + 2 < argc) {
            hwnd = WaitForControlText(argv[i + 1], DWORD(atoi(argv[i + 2])), true);
            args = 2;
        } else if (!strcmp(command, "sleep") && i + 1 < argc) {
            Sleep(DWORD(atoi(argv[i + 1])));
            hwnd = HWND(1);
            args = 1;
        } else {
            fprintf(stderr, "unknown step %s\n", command);
            return 100;
        }
        if (!hwnd) {
            fprintf(stderr, "step %d (%s %s): no window\n", step + 1, command, i + 1 < argc ? argv[i + 1] : "");
            return step + 1;
        }
        i += 1 + args;
        Sleep(200);
    }
    return 0;
}
