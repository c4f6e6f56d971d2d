// "About Tolvane" (dialog 100): the version and the product's name.
#pragma once
#include <windows.h>

void ShowAboutBox(HINSTANCE instance, HWND owner);
