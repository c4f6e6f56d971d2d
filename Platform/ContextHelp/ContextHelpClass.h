// The context-help pop-up control's class and interface, for its callers.
#pragma once
#include <windows.h>
#include "ContextHelp.h"

// {1E57C6C4-B069-11D3-8D43-00104B138C8C}
const CLSID CLSID_ContextHelpPopup = {0x1E57C6C4, 0xB069, 0x11D3, {0x8D, 0x43, 0x00, 0x10, 0x4B, 0x13, 0x8C, 0x8C}};
// The window class of the pop-up, for tests and screenshots.
const char ContextHelpWindowClass[] = "QorContextHelpPopup";
