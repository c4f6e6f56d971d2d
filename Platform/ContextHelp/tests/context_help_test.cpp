// The context-help pop-up control as its callers use it: registered from
// ContextHelp.dll, created by its class, a topic shown for a control id from
// the context-help file, the pop-up closed by a click, Escape or focus loss,
// and every call written to the test log.
#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>
#include <sstream>
#include <string>
#include "ContextHelpClass.h"

namespace {

std::string FullPath(const char *name)
{
    char path[MAX_PATH];
    GetFullPathNameA(name, MAX_PATH, path, NULL);
    return path;
}

BSTR Bstr(const std::string &text)
{
    std::wstring wide(text.begin(), text.end());
    return SysAllocString(wide.c_str());
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string PopupText()
{
    HWND popup = FindWindowA(ContextHelpWindowClass, NULL);
    if (!popup || !IsWindowVisible(popup))
        return std::string();
    char text[4096] = {0};
    GetWindowTextA(popup, text, sizeof text);
    return text;
}

class ContextHelp : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(NULL);
        char log[MAX_PATH];
        GetFullPathNameA("context_help_test.log", MAX_PATH, log, NULL);
        m_log = log;
        DeleteFileA(m_log.c_str());
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", m_log.c_str());
        m_library = LoadLibraryA("ContextHelp.dll");
        ASSERT_NE(nullptr, m_library);
        auto reg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(m_library, "DllRegisterServer"));
        ASSERT_NE(nullptr, reg);
        ASSERT_EQ(S_OK, reg());
    }
    void TearDown() override
    {
        if (m_popup)
            m_popup->Release();
        Pump();
        auto unreg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(m_library, "DllUnregisterServer"));
        if (unreg)
            unreg();
        SetEnvironmentVariableA("QOR_TEST_LOG_FILE", NULL);
        DeleteFileA(m_log.c_str());
        CoUninitialize();
    }
    HRESULT Create()
    {
        return CoCreateInstance(CLSID_ContextHelpPopup, NULL, CLSCTX_INPROC_SERVER, IID_IContextHelpPopup,
                                reinterpret_cast<void **>(&m_popup));
    }
    HRESULT ShowId(long id, const std::string &file)
    {
        BSTR path = Bstr(file);
        const HRESULT hr = m_popup->ShowHelpId(id, path, 100, 100);
        SysFreeString(path);
        Pump();
        return hr;
    }
    std::string Log()
    {
        std::ifstream in(m_log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_log;
    HMODULE m_library = nullptr;
    IContextHelpPopup *m_popup = nullptr;
};

}  // namespace

TEST_F(ContextHelp, AControlIdShowsItsTopicFromTheHelpFileAndIsLogged)
{
    ASSERT_EQ(S_OK, Create());
    const std::string file = FullPath("QORf1.chm");
    struct {
        long id;
        const char *words;
    } const cases[] = {
        {7001, "up to 12 characters"},      // a control id: its help id is id + 100000
        {105006, "0 to 9"},                 // a help id as it is
        {199999, "Select an object"},
        {4242, "No help topic is associated with this item."},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(S_OK, ShowId(c.id, file)) << c.id;
        EXPECT_NE(std::string::npos, PopupText().find(c.words)) << c.id << ": " << PopupText();
    }
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\tContextHelp ShowHelpId 7001 " + file + " 100 100\n")) << log;
    EXPECT_NE(std::string::npos, log.find("\tContextHelp ShowHelpId 4242 " + file + " 100 100\n")) << log;
}

TEST_F(ContextHelp, ThePopupClosesOnAClickEscapeOrFocusLoss)
{
    ASSERT_EQ(S_OK, Create());
    const std::string file = FullPath("QORf1.chm");
    HWND other = CreateWindowA("STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    const struct {
        const char *how;
        UINT message;
        WPARAM wParam;
    } closings[] = {
        {"click", WM_LBUTTONDOWN, MK_LBUTTON},
        {"Escape", WM_KEYDOWN, VK_ESCAPE},
        {"focus loss", WM_KILLFOCUS, reinterpret_cast<WPARAM>(other)},
    };
    for (const auto &closing : closings) {
        ASSERT_EQ(S_OK, ShowId(7003, file));
        HWND popup = FindWindowA(ContextHelpWindowClass, NULL);
        ASSERT_NE(nullptr, popup) << closing.how;
        SendMessageA(popup, closing.message, closing.wParam, 0);
        Pump();
        EXPECT_FALSE(IsWindow(popup)) << closing.how;
    }
    // Another key leaves it open; a new request replaces it.
    ASSERT_EQ(S_OK, ShowId(7003, file));
    HWND popup = FindWindowA(ContextHelpWindowClass, NULL);
    SendMessageA(popup, WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(IsWindow(popup));
    ASSERT_EQ(S_OK, ShowId(7004, file));
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_EQ(S_OK, m_popup->Close());
    EXPECT_EQ(nullptr, FindWindowA(ContextHelpWindowClass, NULL));
    DestroyWindow(other);
}

TEST_F(ContextHelp, PagesTextsAndMissingFiles)
{
    ASSERT_EQ(S_OK, Create());
    BSTR file = Bstr(FullPath("QORf1.chm")), page = Bstr("s7Device.htm"), text = Bstr("Plain words.");
    EXPECT_EQ(S_OK, m_popup->ShowTopicFile(file, page, 10, 20));
    Pump();
    EXPECT_NE(std::string::npos, PopupText().find("Retries: 0 to 9."));
    EXPECT_EQ(S_OK, m_popup->ShowText(text, 10, 20));
    EXPECT_EQ("Plain words.", PopupText());
    SysFreeString(file);
    SysFreeString(page);
    SysFreeString(text);
    // No help file: the storage component's code, and no pop-up.
    m_popup->Close();
    EXPECT_TRUE(FAILED(ShowId(7001, FullPath("missing.chm"))));
    EXPECT_EQ(nullptr, FindWindowA(ContextHelpWindowClass, NULL));
    // A help file without a topic map.
    EXPECT_EQ(STG_E_FILENOTFOUND, ShowId(7001, FullPath("QOR.chm")));
}

TEST_F(ContextHelp, UnregisteredTheClassIsNotThere)
{
    auto unreg = reinterpret_cast<HRESULT(WINAPI *)()>(GetProcAddress(m_library, "DllUnregisterServer"));
    ASSERT_EQ(S_OK, unreg());
    EXPECT_EQ(REGDB_E_CLASSNOTREG, Create());
}
