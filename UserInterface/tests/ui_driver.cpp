// tolvane_ui_driver: presses the tool's buttons from outside, for the
// screenshot script (a user's clicks without a mouse). Each argument group
// is one step:
//   wait TITLE MS            until a visible window with the title exists
//   click TITLE ID           the button ID of that window
//   check TITLE ID 0|1       sets a check box or radio button
//   text TITLE ID TEXT       sets a control's text
//   expand TITLE ID          expands the root of tree control ID
//   command CLASS ID         a menu command to the first window of the class
//   close CLASS              closes the first window of the class
//   shows TEXT MS            until a visible window has a control with the text
//   treeall CLASS            expands every item of the tree in that window
//   treepath CLASS PATH      selects the tree item at PATH ("0.1.0": the
//                            root's second child's first child)
//   menu CLASS KEY           opens the menu bar's popup with mnemonic KEY
//   keydown CLASS VK         posts a key press (decimal virtual key) to the
//                            window's thread
//   f1 CLASS ID              F1 as the system delivers it (WM_KEYF1) to the
//                            visible control ID inside the window of the class
//   notify CLASS ID CODE     the control's notification CODE (decimal) to its parent
//   dragbar CLASS ID X Y     drags the docking bar that holds control ID (by its
//                            gripper, or its mini frame's caption while it
//                            floats) to the client point X, Y of the window of
//                            the class (negative: from the right or bottom)
//   select TITLE ID INDEX    chooses entry INDEX of combo box ID, as a user's
//                            choice tells the window
//   sleep MS
// Exit code 0 when every step found its window, else the failing step's number.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "mouse_drag.h"
#include "window_wait.h"

static HWND Find(const char *title)
{
    return FindWindowA(NULL, title);
}

static HWND WaitFor(const char *title, DWORD ms)
{
    return WaitForVisible([title] { return Find(title); }, ms);
}


static HWND FindVisibleChild(HWND parent, int id)
{
    struct Search {
        int id;
        HWND found;
        static BOOL CALLBACK Child(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            if (GetDlgCtrlID(hwnd) != s.id || !IsWindowVisible(hwnd))
                return TRUE;
            s.found = hwnd;
            return FALSE;
        }
    } search{id, NULL};
    EnumChildWindows(parent, Search::Child, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static HWND TreeOf(const char *className)
{
    HWND top = FindWindowA(className, NULL);
    return top ? FindWindowExA(FindWindowExA(top, NULL, "#32770", NULL), NULL, "SysTreeView32", NULL) : NULL;
}

static void ExpandAll(HWND tree, LPARAM item)
{
    for (; item; item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item)) {
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, item);
        ExpandAll(tree, SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, item));
    }
}

static HWND SelectPath(HWND tree, const char *path)
{
    LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (const char *p = path; item && *p;) {
        int index = atoi(p);
        for (int n = 0; item && n < index; ++n)
            item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
        while (*p && *p != '.')
            ++p;
        if (*p == '.') {
            ++p;
            if (item)
                item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
        }
    }
    if (!item)
        return NULL;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item);
    SetForegroundWindow(GetAncestor(tree, GA_ROOT));
    return tree;
}

static HWND ControlOf(const char *className, int id)
{
    struct Search {
        int id;
        HWND found;
        static BOOL CALLBACK Child(HWND hwnd, LPARAM param)
        {
            Search &s = *reinterpret_cast<Search *>(param);
            if (GetDlgCtrlID(hwnd) != s.id || !IsWindowVisible(hwnd))
                return TRUE;
            s.found = hwnd;
            return FALSE;
        }
    } search{id, NULL};
    HWND top = FindWindowA(className, NULL);
    if (top)
        EnumChildWindows(top, Search::Child, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A visible control ID in top or in a mini frame that one of its bars
// floats in.
static HWND ControlOfFrame(HWND top, int id)
{
    HWND found = FindVisibleChild(top, id);
    for (HWND mini = NULL; !found && (mini = FindWindowExA(NULL, mini, "QorMiniFrame", NULL)) != NULL;)
        found = FindVisibleChild(mini, id);
    return found;
}

int main(int argc, char **argv)
{
    int step = 0;
    for (int i = 1; i < argc; ++step) {
        const char *command = argv[i];
        HWND hwnd = NULL;
        if (!strcmp(command, "wait") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], DWORD(atoi(argv[i + 2])));
            i += 3;
        } else if (!strcmp(command, "click") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd)
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hwnd, atoi(argv[i + 2]))));
            i += 3;
        } else if (!strcmp(command, "check") && i + 3 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd)
                SendDlgItemMessageA(hwnd, atoi(argv[i + 2]), BM_SETCHECK, atoi(argv[i + 3]) ? BST_CHECKED : BST_UNCHECKED, 0);
            i += 4;
        } else if (!strcmp(command, "text") && i + 3 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd)
                SetDlgItemTextA(hwnd, atoi(argv[i + 2]), argv[i + 3]);
            i += 4;
        } else if (!strcmp(command, "expand") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd) {
                HWND tree = GetDlgItem(hwnd, atoi(argv[i + 2]));
                LRESULT root = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
                PostMessageA(tree, TVM_EXPAND, TVE_EXPAND, root);
            }
            i += 3;
        } else if (!strcmp(command, "command") && i + 2 < argc) {
            hwnd = FindWindowA(argv[i + 1], NULL);
            if (hwnd)
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), 0), 0);
            i += 3;
        } else if (!strcmp(command, "close") && i + 1 < argc) {
            hwnd = FindWindowA(argv[i + 1], NULL);
            if (hwnd)
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
            i += 2;
        } else if (!strcmp(command, "shows") && i + 2 < argc) {
            hwnd = WaitForControlText(argv[i + 1], DWORD(atoi(argv[i + 2])), false);
            i += 3;
        } else if (!strcmp(command, "treeall") && i + 1 < argc) {
            hwnd = TreeOf(argv[i + 1]);
            if (hwnd)
                ExpandAll(hwnd, SendMessageA(hwnd, TVM_GETNEXTITEM, TVGN_ROOT, 0));
            i += 2;
        } else if (!strcmp(command, "treepath") && i + 2 < argc) {
            hwnd = TreeOf(argv[i + 1]);
            if (hwnd)
                hwnd = SelectPath(hwnd, argv[i + 2]);
            i += 3;
        } else if (!strcmp(command, "menu") && i + 2 < argc) {
            hwnd = FindWindowA(argv[i + 1], NULL);
            if (hwnd) {
                SetForegroundWindow(hwnd);
                PostMessageA(hwnd, WM_SYSCOMMAND, SC_KEYMENU, argv[i + 2][0]);
            }
            i += 3;
        } else if (!strcmp(command, "keydown") && i + 2 < argc) {
            hwnd = FindWindowA(argv[i + 1], NULL);
            if (hwnd)
                PostMessageA(hwnd, WM_KEYDOWN, WPARAM(atoi(argv[i + 2])), 1);
            i += 3;
        } else if (!strcmp(command, "f1") && i + 2 < argc) {
            hwnd = ControlOf(argv[i + 1], atoi(argv[i + 2]));
            if (hwnd)
                PostMessageA(hwnd, 0x004D /* WM_KEYF1 */, 0, 0);
            i += 3;
        } else if (!strcmp(command, "notify") && i + 3 < argc) {
            hwnd = ControlOf(argv[i + 1], atoi(argv[i + 2]));
            if (hwnd)
                PostMessageA(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), atoi(argv[i + 3])),
                             reinterpret_cast<LPARAM>(hwnd));
            i += 4;
        } else if (!strcmp(command, "button") && i + 2 < argc) {
            // A visible button anywhere inside a top window of the class.
            HWND top = FindWindowA(argv[i + 1], NULL);
            hwnd = top ? FindVisibleChild(top, atoi(argv[i + 2])) : NULL;
            if (hwnd)
                PostMessageA(hwnd, BM_CLICK, 0, 0);
            i += 3;
        } else if (!strcmp(command, "sheetpage") && i + 2 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd)
                PostMessageA(hwnd, PSM_SETCURSEL, WPARAM(atoi(argv[i + 2])), 0);
            i += 3;
        } else if (!strcmp(command, "tab") && i + 3 < argc) {
            // Moving the focus of a tab control selects the tab and tells
            // its parent.
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd)
                PostMessageA(GetDlgItem(hwnd, atoi(argv[i + 2])), TCM_SETCURFOCUS, WPARAM(atoi(argv[i + 3])), 0);
            i += 4;
        } else if (!strcmp(command, "dragbar") && i + 4 < argc) {
            HWND top = FindWindowA(argv[i + 1], NULL);
            HWND control = top ? ControlOfFrame(top, atoi(argv[i + 2])) : NULL;
            if (control) {
                RECT client;
                GetClientRect(top, &client);
                int x = atoi(argv[i + 3]), y = atoi(argv[i + 4]);
                POINT to = {x < 0 ? client.right + x : x, y < 0 ? client.bottom + y : y};
                ClientToScreen(top, &to);
                PostBarDrag(GetParent(control), to);
                hwnd = control;
            }
            i += 5;
        } else if (!strcmp(command, "select") && i + 3 < argc) {
            hwnd = WaitFor(argv[i + 1], 10000);
            if (hwnd) {
                HWND combo = GetDlgItem(hwnd, atoi(argv[i + 2]));
                SendMessageA(combo, CB_SETCURSEL, WPARAM(atoi(argv[i + 3])), 0);
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[i + 2]), CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo));
            }
            i += 4;
        } else if (!strcmp(command, "sleep") && i + 1 < argc) {
            Sleep(DWORD(atoi(argv[i + 1])));
            hwnd = HWND(1);
            i += 2;
        } else {
            fprintf(stderr, "unknown step %s\n", command);
            return 100;
        }
        if (!hwnd) {
            fprintf(stderr, "step %d (%s): no window\n", step + 1, command);
            return step + 1;
        }
    }
    return 0;
}
