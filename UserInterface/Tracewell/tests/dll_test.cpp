// Tracewell.dll as a host loads it: the four undecorated exports, and the
// per-user profile read at load and the font choice written at unload, and
// the monitor's own fonts drawn in the default colours.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "ScopeCapture.h"
#include "resource.h"

namespace {

const char ConfigurationKey[] = "Software\\Veltrane\\Tracewell\\Configuration";

DWORD ReadValue(const char *name, DWORD missing)
{
    DWORD value = missing, size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, ConfigurationKey, name, RRF_RT_REG_DWORD, NULL, &value, &size) != ERROR_SUCCESS)
        return missing;
    return value;
}

// The monitor's frame on this thread (other test programs may show theirs).
BOOL CALLBACK MatchFrame(HWND window, LPARAM result)
{
    char name[64] = {0};
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpA(name, "TracewellFrame") != 0)
        return TRUE;
    *reinterpret_cast<HWND *>(result) = window;
    return FALSE;
}

HWND OwnFrame()
{
    HWND found = NULL;
    EnumThreadWindows(GetCurrentThreadId(), MatchFrame, reinterpret_cast<LPARAM>(&found));
    return found;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

TEST(TracewellDll, ExportsByUndecoratedNameAndKeepsTheFontChoice)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, ConfigurationKey);
    HMODULE dll = LoadLibraryA("Tracewell.dll");
    ASSERT_TRUE(dll != NULL);
    using Open = int(WINAPI *)(HWND);
    using Close = LRESULT(WINAPI *)();
    using IsOpen = int(WINAPI *)();
    using SendData = int(WINAPI *)(const BYTE *, WORD, int);
    auto open = reinterpret_cast<Open>(GetProcAddress(dll, "VuxOpenScope"));
    auto close = reinterpret_cast<Close>(GetProcAddress(dll, "VuxCloseScope"));
    auto isOpen = reinterpret_cast<IsOpen>(GetProcAddress(dll, "VuxIsScopeOpen"));
    auto send = reinterpret_cast<SendData>(GetProcAddress(dll, "VuxSendScopeData"));
    ASSERT_TRUE(open && close && isOpen && send);

    EXPECT_EQ(0, isOpen());
    ASSERT_EQ(1, open(NULL));
    EXPECT_EQ(1, isOpen());
    const BYTE frame[] = {0x32, 0x01, 0x00, 0x00, 0x44, 0x01};
    EXPECT_EQ(1, send(frame, sizeof(frame), 1));
    EXPECT_EQ(0, send(NULL, 4, 0));
    Pump();
    HWND window = OwnFrame();
    ASSERT_TRUE(window != NULL);
    // The library's own fonts, generated beside it when the build could:
    // 10 x 13 pixel cells.
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(dll, path, MAX_PATH);
    std::string fonts(path);
    fonts = fonts.substr(0, fonts.find_last_of("\\/") + 1) + "HEXFNT.FON";
    if (GetFileAttributesA(fonts.c_str()) != INVALID_FILE_ATTRIBUTES) {
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(40 * 10 + 4, client.right);
        EXPECT_EQ(41 * 13 + 34, client.bottom);
        SendMessageA(window, WM_COMMAND, ID_VIEW_CLEAR, 0);
        const std::vector<BYTE> sent(20, 'S'), received(20, 0x0D);
        EXPECT_EQ(1, send(sent.data(), WORD(sent.size()), 1));
        EXPECT_EQ(1, send(received.data(), WORD(received.size()), 0));
        Pump();
        ExpectColoursInBothFonts(window, GetDlgItem(window, ID_SCOPE_VIEW), 10, 13);
    }
    SendMessageA(window, WM_COMMAND, ID_VIEW_HEX, 0);
    EXPECT_EQ(0, close());
    EXPECT_EQ(0, isOpen());
    EXPECT_EQ(0, send(frame, sizeof(frame), 1));
    ASSERT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(1u, ReadValue("Font", 99));

    // A second load reads it back: the window opens in the hexadecimal font.
    dll = LoadLibraryA("Tracewell.dll");
    ASSERT_TRUE(dll != NULL);
    open = reinterpret_cast<Open>(GetProcAddress(dll, "VuxOpenScope"));
    close = reinterpret_cast<Close>(GetProcAddress(dll, "VuxCloseScope"));
    ASSERT_EQ(1, open(NULL));
    window = OwnFrame();
    HMENU menu = GetMenu(window);
    SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    EXPECT_TRUE(GetMenuState(menu, ID_VIEW_HEX, MF_BYCOMMAND) & MF_CHECKED);
    close();
    FreeLibrary(dll);
    RegDeleteKeyA(HKEY_CURRENT_USER, ConfigurationKey);
}

}  // namespace
