// Opens the data monitor through Tracewell.dll, feeds it S7 request and reply
// frames, and saves pictures of its window in both fonts and of its dialogs
// and message boxes as PNG files into the folder named on the command line.
// Run under a real display (scripts/screenshots.sh): windows are read back
// from the screen.
#include <windows.h>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>
#include "PngFile.h"
#include "resource.h"

namespace {

using OpenScope = int(WINAPI *)(HWND);
using CloseScope = LRESULT(WINAPI *)();
using SendScopeData = int(WINAPI *)(const BYTE *, WORD, int);

std::string g_folder;

void Pump(DWORD milliseconds)
{
    const DWORD begin = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - begin < milliseconds);
}

// Pixels of the last picture of the monitor's frame.
std::vector<uint8_t> g_lastPicture;

bool Capture(HWND window, const char *name)
{
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    const uint8_t *p = static_cast<const uint8_t *>(bits);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        rgb[i * 3] = p[i * 4 + 2];
        rgb[i * 3 + 1] = p[i * 4 + 1];
        rgb[i * 3 + 2] = p[i * 4];
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    g_lastPicture = rgb;
    const std::string path = g_folder + "\\" + name;
    const bool ok = WritePng(path, width, height, rgb);
    printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", path.c_str(), width, height);
    return ok;
}

// The picture as a user sees it: sent bytes yellow on blue, received bytes
// green on blue (the default colours), each in more than a few pixels.
bool ShowsBothDirections(const char *name)
{
    long yellow = 0, green = 0, blue = 0;
    for (size_t i = 0; i + 2 < g_lastPicture.size(); i += 3) {
        const uint8_t r = g_lastPicture[i], g = g_lastPicture[i + 1], b = g_lastPicture[i + 2];
        yellow += r == 255 && g == 255 && b == 0;
        green += r == 0 && g == 255 && b == 0;
        blue += r == 0 && g == 0 && b == 255;
    }
    const bool ok = yellow > 500 && green > 500 && blue > 20000;
    printf("%s %s: %ld yellow, %ld green, %ld blue pixels\n", ok ? "checked" : "FAILED", name, yellow, green, blue);
    return ok;
}

// A top-level dialog or message box of this process with that title.
HWND WaitForDialog(const char *title)
{
    for (int i = 0; i < 500; ++i) {
        HWND found = FindWindowA("#32770", title);
        if (found && IsWindowVisible(found)) {
            Sleep(600);  // let it paint
            return found;
        }
        Sleep(20);
    }
    printf("FAILED: no window \"%s\"\n", title);
    return NULL;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int g_shotFailures = 0;

// Waits for the dialog or message box, saves its picture and, when button is
// not 0, presses that button; the window, or null when it never came.
HWND Shot(const char *title, const char *file, int button)
{
    HWND dialog = WaitForDialog(title);
    if (!dialog || !Capture(dialog, file)) {
        ++g_shotFailures;
        return dialog;
    }
    if (button)
        Press(dialog, button);
    return dialog;
}

// Runs steps on a helper thread while the window's thread sits in a modal
// loop started by the command.
void WhileModal(HWND frame, UINT command, void (*steps)())
{
    std::thread helper(steps);
    SendMessageA(frame, WM_COMMAND, command, 0);
    helper.join();
    Pump(300);
}

// Frames as the server exchanges them with an S7 controller over ISO-on-TCP:
// a read request of DB10 (sent) and its reply with a text and counters
// (received), and a write request with its acknowledgement.
std::vector<BYTE> ReadRequest(int sequence)
{
    return {0x03, 0x00, 0x00, 0x1F, 0x02, 0xF0, 0x80, 0x32, 0x01, 0x00, 0x00, BYTE(sequence >> 8), BYTE(sequence),
            0x00, 0x0E, 0x00, 0x00, 0x04, 0x01, 0x12, 0x0A, 0x10, 0x02, 0x00, 0x28, 0x00, 0x0A, 0x84, 0x00, 0x00,
            0x00};
}

std::vector<BYTE> ReadReply(int sequence)
{
    std::vector<BYTE> frame = {0x03, 0x00, 0x00, 0x41, 0x02, 0xF0, 0x80, 0x32, 0x03, 0x00, 0x00,
                               BYTE(sequence >> 8), BYTE(sequence), 0x00, 0x02, 0x00, 0x2C, 0x00, 0x00,
                               0x04, 0x01, 0xFF, 0x04, 0x01, 0x40};
    char text[41];
    snprintf(text, sizeof(text), "LINE 1 RUNNING  BATCH %04d  TEMP %3d.%d C", 1200 + sequence,
             60 + sequence % 7, sequence % 10);
    frame.insert(frame.end(), text, text + 40);
    return frame;
}

std::vector<BYTE> WriteRequest(int sequence)
{
    return {0x03, 0x00, 0x00, 0x25, 0x02, 0xF0, 0x80, 0x32, 0x01, 0x00, 0x00, BYTE(sequence >> 8), BYTE(sequence),
            0x00, 0x0E, 0x00, 0x06, 0x05, 0x01, 0x12, 0x0A, 0x10, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x84, 0x00, 0x00,
            0x64, 0x00, 0x04, 0x00, 0x10, 0x01, BYTE(sequence)};
}

std::vector<BYTE> WriteReply(int sequence)
{
    return {0x03, 0x00, 0x00, 0x16, 0x02, 0xF0, 0x80, 0x32, 0x03, 0x00, 0x00, BYTE(sequence >> 8), BYTE(sequence),
            0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x05, 0x01, 0xFF};
}

}  // namespace

int main(int argc, char **argv)
{
    g_folder = argc > 1 ? argv[1] : ".";
    HMODULE dll = LoadLibraryA("Tracewell.dll");
    if (!dll) {
        printf("FAILED: Tracewell.dll not loaded\n");
        return 1;
    }
    auto open = reinterpret_cast<OpenScope>(GetProcAddress(dll, "VuxOpenScope"));
    auto close = reinterpret_cast<CloseScope>(GetProcAddress(dll, "VuxCloseScope"));
    auto send = reinterpret_cast<SendScopeData>(GetProcAddress(dll, "VuxSendScopeData"));
    if (!open || !close || !send || open(NULL) != 1) {
        printf("FAILED: the window did not open\n");
        return 1;
    }
    HWND frame = FindWindowA("TracewellFrame", "Tracewell");
    int failures = 0;
    for (int sequence = 1; sequence <= 14; ++sequence) {
        std::vector<BYTE> out = sequence % 4 == 0 ? WriteRequest(sequence) : ReadRequest(sequence);
        std::vector<BYTE> in = sequence % 4 == 0 ? WriteReply(sequence) : ReadReply(sequence);
        send(out.data(), WORD(out.size()), 1);
        send(in.data(), WORD(in.size()), 0);
        Pump(20);
    }
    Pump(800);
    failures += !Capture(frame, "tracewell-ascii.png");
    failures += !ShowsBothDirections("tracewell-ascii.png");
    SendMessageA(frame, WM_COMMAND, ID_VIEW_HEX, 0);
    Pump(500);
    failures += !Capture(frame, "tracewell-hex.png");
    failures += !ShowsBothDirections("tracewell-hex.png");
    SendMessageA(frame, WM_COMMAND, ID_RUN_PAUSE, 0);
    SendMessageA(frame, WM_COMMAND, ID_VIEW_TOPMOST, 0);
    Pump(500);
    failures += !Capture(frame, "tracewell-paused-topmost.png");
    SendMessageA(frame, WM_COMMAND, ID_RUN_PAUSE, 0);
    SendMessageA(frame, WM_COMMAND, ID_VIEW_TOPMOST, 0);
    SendMessageA(frame, WM_COMMAND, ID_VIEW_ASCII, 0);

    // The options dialog; a width out of range and its message; a changed
    // line count and the question before the buffer is reallocated.
    WhileModal(frame, ID_CONFIGURE_OPTIONS, [] {
        HWND dialog = Shot("Tracewell Options", "tracewell-options.png", 0);
        if (!dialog)
            return;
        SetDlgItemTextA(dialog, IDC_COLUMN_WIDTH, "30");
        PostMessageA(dialog, WM_NEXTDLGCTL, 0, FALSE);
        Shot("Tracewell", "tracewell-invalid-width.png", IDOK);
        Sleep(300);
        SetDlgItemTextA(dialog, IDC_MAXIMUM_LINES, "20");
        PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);
        Sleep(300);
        Press(dialog, IDOK);
        Shot("Tracewell", "tracewell-resize-question.png", IDNO);
        Sleep(300);
        Press(dialog, IDCANCEL);
    });
    WhileModal(frame, ID_COLOR_SEND_FORE, [] { Shot("Color", "tracewell-color.png", IDCANCEL); });
    // F1 on the toolbar: the context-help control is missing, so its error shows.
    std::thread helpHelper([] { Shot("Tracewell", "tracewell-help-error.png", IDOK); });
    HELPINFO info = {sizeof(info), HELPINFO_WINDOW, IDR_SCOPETOOLBAR, GetDlgItem(frame, IDR_SCOPETOOLBAR), 0, {0, 0}};
    SendMessageA(frame, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    helpHelper.join();
    failures += g_shotFailures;

    close();
    Pump(200);
    FreeLibrary(dll);
    printf("%d failures\n", failures);
    return failures ? 1 : 0;
}
