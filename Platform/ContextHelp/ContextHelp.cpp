// ContextHelp.dll: the context-help pop-up control (apartment-threaded, in
// process). Each call shows one pop-up window on the caller's thread, which
// closes on a click, Escape or when it loses the focus.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <string>
#include "ChmStorageReader.h"
#include "ContextHelpClass.h"
#include "HelpTopics.h"
#include "TestLog.h"

namespace {

HINSTANCE g_module;
LONG g_objects;
LONG g_locks;

std::string Narrow(BSTR text)
{
    if (!text)
        return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, NULL, NULL);
    return out;
}

// The one pop-up of the thread that made it.
class CPopupWindow {
public:
    static void Show(const std::string &text, int x, int y);
    static void Close();

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static HWND s_window;
};
HWND CPopupWindow::s_window;

void CPopupWindow::Close()
{
    if (s_window && IsWindow(s_window))
        DestroyWindow(s_window);
    s_window = NULL;
}

void CPopupWindow::Show(const std::string &text, int x, int y)
{
    Close();
    WNDCLASSA wc = {};
    wc.style = CS_SAVEBITS | CS_DROPSHADOW;
    wc.lpfnWndProc = Proc;
    wc.hInstance = g_module;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_INFOBK);
    wc.lpszClassName = ContextHelpWindowClass;
    RegisterClassA(&wc);  // fails harmlessly when the class is there

    // Size the window to the text, at most a third of the screen wide.
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT box = {0, 0, GetSystemMetrics(SM_CXSCREEN) / 3, 0};
    DrawTextA(dc, text.c_str(), -1, &box, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    // The text's box with its margins is the client area; the border comes round it.
    RECT frame = {0, 0, box.right + 16, box.bottom + 12};
    AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
    s_window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, ContextHelpWindowClass, text.c_str(),
                               WS_POPUP | WS_BORDER, x, y, frame.right - frame.left, frame.bottom - frame.top, NULL,
                               NULL, g_module, NULL);
    if (!s_window)
        return;
    ShowWindow(s_window, SW_SHOW);
    SetForegroundWindow(s_window);
    SetFocus(s_window);
    UpdateWindow(s_window);
}

LRESULT CALLBACK CPopupWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        char text[4096];
        GetWindowTextA(hwnd, text, sizeof text);
        RECT client;
        GetClientRect(hwnd, &client);
        InflateRect(&client, -8, -6);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        DrawTextA(dc, text, -1, &client, DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_KILLFOCUS:
        DestroyWindow(hwnd);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            DestroyWindow(hwnd);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            DestroyWindow(hwnd);
        return 0;
    case WM_NCDESTROY:
        if (s_window == hwnd)
            s_window = NULL;
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The text of a page of a help file; the reader's code when it cannot be read.
HRESULT PageText(ChmStorageReader &reader, const std::string &page, std::string &text)
{
    std::string html;
    const std::string path = page.empty() || page[0] == '/' ? page : "/" + page;
    HRESULT hr = reader.ReadStream(path.c_str(), html);
    if (FAILED(hr))
        return hr;
    std::string title;
    text = PlainTextFromHtml(html, &title);
    return S_OK;
}

class CContextHelpPopup : public IContextHelpPopup {
public:
    CContextHelpPopup() { InterlockedIncrement(&g_objects); }
    virtual ~CContextHelpPopup() { InterlockedDecrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IContextHelpPopup))
            return E_NOINTERFACE;
        *out = static_cast<IContextHelpPopup *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

    HRESULT STDMETHODCALLTYPE Close() override
    {
        AppendTestLog("ContextHelp Close");
        CPopupWindow::Close();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ShowText(BSTR text, long x, long y) override
    {
        AppendTestLog("ContextHelp ShowText " + std::to_string(x) + " " + std::to_string(y) + " " + Narrow(text));
        CPopupWindow::Show(Narrow(text), x, y);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ShowTopicFile(BSTR helpFile, BSTR topicFile, long x, long y) override
    {
        const std::string file = Narrow(helpFile), page = Narrow(topicFile);
        AppendTestLog("ContextHelp ShowTopicFile " + file + " " + page + " " + std::to_string(x) + " " +
                      std::to_string(y));
        ChmStorageReader reader;
        HRESULT hr = reader.Open(file.c_str());
        std::string text;
        if (SUCCEEDED(hr))
            hr = PageText(reader, page, text);
        if (FAILED(hr))
            return hr;
        CPopupWindow::Show(text, x, y);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ShowHelpId(long id, BSTR helpFile, long x, long y) override
    {
        const std::string file = Narrow(helpFile);
        AppendTestLog("ContextHelp ShowHelpId " + std::to_string(id) + " " + file + " " + std::to_string(x) + " " +
                      std::to_string(y));
        const DWORD topic = id < 100000 ? static_cast<DWORD>(id) + 100000 : static_cast<DWORD>(id);
        ChmStorageReader reader;
        CHelpTopicMap map;
        HRESULT hr = reader.Open(file.c_str());
        if (SUCCEEDED(hr))
            hr = map.Load(reader);
        if (FAILED(hr))
            return hr;
        std::string page, text;
        if (FAILED(TopicFileName(reader, map, topic, page)) || FAILED(PageText(reader, page, text)))
            text = "No help topic is associated with this item.";
        CPopupWindow::Show(text, x, y);
        return S_OK;
    }

private:
    LONG m_refs = 1;
};

class CClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CContextHelpPopup *popup = new (std::nothrow) CContextHelpPopup;
        if (!popup)
            return E_OUTOFMEMORY;
        const HRESULT hr = popup->QueryInterface(riid, out);
        popup->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }
};
CClassFactory g_factory;

const char ClassKey[] = "CLSID\\{1E57C6C4-B069-11D3-8D43-00104B138C8C}";

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_ContextHelpPopup))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllRegisterServer()
{
    char path[MAX_PATH];
    if (!GetModuleFileNameA(g_module, path, MAX_PATH))
        return SELFREG_E_CLASS;
    const std::string server = std::string(ClassKey) + "\\InprocServer32";
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ClassKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    static const char name[] = "Context Help Popup";
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(name), sizeof name);
    RegCloseKey(key);
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, server.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    static const char model[] = "Apartment";
    LONG rc = RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(path), DWORD(strlen(path) + 1));
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE *>(model), sizeof model);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    const std::string server = std::string(ClassKey) + "\\InprocServer32";
    RegDeleteKeyA(HKEY_CLASSES_ROOT, server.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ClassKey);
    return S_OK;
}
