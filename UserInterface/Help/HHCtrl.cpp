#include "HHCtrl.h"
#include <commctrl.h>

const char HelpButtonTexts[] = "Home|Back|Forward|Print|Close|";

namespace {
const char PaneClass[] = "QorHelpPane";
}

CHHCtrl::CHHCtrl(HelpBrowserFactory factory) : m_factory(std::move(factory))
{
    // This platform's web-browser control has no HTML engine to host, so the
    // pages are shown as text unless the caller brings a browser.
    if (!m_factory)
        m_factory = [] { return std::unique_ptr<IHelpBrowser>(new CTextHelpBrowser); };
}

CHHCtrl::~CHHCtrl()
{
    if (m_hwnd && IsWindow(m_hwnd))
        DestroyWindow(m_hwnd);
    if (m_images)
        ImageList_Destroy(m_images);
    if (m_hotImages)
        ImageList_Destroy(m_hotImages);
}

bool CHHCtrl::Create(HWND parent, const RECT &rect, UINT mask, const std::string &homeText, bool withTexts,
                     HINSTANCE resources)
{
    m_homeText = homeText;
    m_homeTopic = 0;
    return CreateWindows(parent, rect, mask, withTexts, resources);
}

bool CHHCtrl::Create(HWND parent, const RECT &rect, UINT mask, DWORD homeTopic, bool withTexts, HINSTANCE resources)
{
    m_homeText.clear();
    m_homeTopic = homeTopic;
    return CreateWindows(parent, rect, mask, withTexts, resources);
}

bool CHHCtrl::CreateInPlaceOf(HWND parent, int controlId, UINT mask, DWORD homeTopic, bool withTexts,
                              HINSTANCE resources)
{
    HWND control = GetDlgItem(parent, controlId);
    if (!control)
        return false;
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(NULL, parent, reinterpret_cast<POINT *>(&rect), 2);
    DestroyWindow(control);
    return Create(parent, rect, mask, homeTopic, withTexts, resources);
}

bool CHHCtrl::CreateWindows(HWND parent, const RECT &rect, UINT mask, bool withTexts, HINSTANCE resources)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = PaneClass;
    RegisterClassA(&wc);  // fails harmlessly when the class is there
    m_hwnd = CreateWindowExA(0, PaneClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, parent, NULL, wc.hInstance, this);
    if (!m_hwnd)
        return false;
    if (m_homeText.empty() && !m_homeTopic)
        mask &= ~Home;
    if (mask)
        CreateToolbar(mask, withTexts, resources ? resources : GetModuleHandleA(NULL));
    RECT client;
    GetClientRect(m_hwnd, &client);
    client.top = m_barHeight ? m_barHeight + Gap : 0;
    m_browser = m_factory();
    if (!m_browser ||
        !m_browser->Create(m_hwnd, BrowserId, client, [this](int notice, bool on) { OnCommandState(notice, on); })) {
        // Without its browser the window has nothing to show.
        m_browser.reset();
        DestroyWindow(m_hwnd);
        m_hwnd = NULL;
        return false;
    }
    Layout();
    return true;
}

void CHHCtrl::CreateToolbar(UINT mask, bool withTexts, HINSTANCE resources)
{
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
    m_barHeight = withTexts ? BarHeightWithTexts : BarHeight;
    m_toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NODIVIDER,
                                0, 0, 0, m_barHeight, m_hwnd, NULL, NULL, NULL);
    if (!m_toolbar)
        return;
    SendMessageA(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    m_images = ImageList_LoadImageA(resources, MAKEINTRESOURCEA(NormalBitmap), ImageSize, 0, RGB(255, 0, 255),
                                    IMAGE_BITMAP, LR_CREATEDIBSECTION);
    m_hotImages = ImageList_LoadImageA(resources, MAKEINTRESOURCEA(HotBitmap), ImageSize, 0, RGB(255, 0, 255),
                                       IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (m_images)
        SendMessageA(m_toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_images));
    if (m_hotImages)
        SendMessageA(m_toolbar, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(m_hotImages));

    // The texts, separated by bars: string 20737 of the program, else ours.
    char texts[256] = {0};
    if (!LoadStringA(resources, ButtonTextsString, texts, sizeof texts))
        lstrcpynA(texts, HelpButtonTexts, sizeof texts);
    std::string list;
    for (const char *c = texts; *c; ++c)
        list += *c == '|' ? '\0' : *c;
    list += '\0';
    INT_PTR firstText = withTexts ? SendMessageA(m_toolbar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(list.c_str())) : -1;
    for (int index = 0; index <= LastCommand - FirstCommand; ++index) {
        if (!(mask & (1u << index)))
            continue;
        TBBUTTON button = {};
        button.iBitmap = index;
        button.idCommand = FirstCommand + index;
        // Back and Forward wait for the browser to say there is somewhere to go.
        button.fsState = (index == 1 || index == 2) ? 0 : TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
        button.iString = withTexts && firstText >= 0 ? firstText + index : -1;
        SendMessageA(m_toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
}

void CHHCtrl::Layout()
{
    if (!m_hwnd)
        return;
    RECT client;
    GetClientRect(m_hwnd, &client);
    if (m_toolbar)
        MoveWindow(m_toolbar, 0, 0, client.right, m_barHeight, TRUE);
    if (m_browser && m_browser->Window()) {
        const int top = m_barHeight ? m_barHeight + Gap : 0;
        MoveWindow(m_browser->Window(), 0, top, client.right, client.bottom > top ? client.bottom - top : 0, TRUE);
    }
}

void CHHCtrl::OnCommandState(int notice, bool enabled)
{
    if (!m_toolbar)
        return;
    const int command = notice == IHelpBrowser::NoticeForward ? FirstCommand + 2
                        : notice == IHelpBrowser::NoticeBack  ? FirstCommand + 1
                                                              : 0;
    if (command)
        SendMessageA(m_toolbar, TB_ENABLEBUTTON, command, MAKELONG(enabled ? TRUE : FALSE, 0));
}

bool CHHCtrl::ButtonEnabled(int command) const
{
    return m_toolbar && SendMessageA(m_toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
}

void CHHCtrl::SetHelpFile(const std::string &path)
{
    if (path == m_helpFile)
        return;
    m_helpFile = path;
    m_reader.Close();
    m_map = CHelpTopicMap();
}

HRESULT CHHCtrl::Navigate(const std::string &url)
{
    return m_browser ? m_browser->Navigate(url) : E_FAIL;
}

HRESULT CHHCtrl::NavigateFile(const std::string &topicFile)
{
    return Navigate(HelpFileUrl(m_helpFile, topicFile));
}

HRESULT CHHCtrl::NavigateTopic(DWORD topic)
{
    if (m_helpFile.empty())
        return STG_E_PATHNOTFOUND;
    if (!m_map.Loaded()) {
        if (!m_reader.IsOpen() && FAILED(m_reader.Open(m_helpFile.c_str())))
            return STG_E_PATHNOTFOUND;
        const HRESULT hr = m_map.Load(m_reader);
        if (FAILED(hr))
            return hr;
    }
    std::string page;
    if (FAILED(TopicFileName(m_reader, m_map, topic, page)))
        return E_FAIL;
    return NavigateFile(page);
}

HRESULT CHHCtrl::GoHome()
{
    if (!m_homeText.empty()) {
        if (m_homeText.find(':') != std::string::npos || m_helpFile.empty())
            return Navigate(m_homeText);
        return NavigateFile(m_homeText);
    }
    return m_homeTopic ? NavigateTopic(m_homeTopic) : S_FALSE;
}

bool CHHCtrl::OnCommand(int id)
{
    switch (id) {
    case FirstCommand:
        GoHome();
        return true;
    case FirstCommand + 1:
        if (m_browser)
            m_browser->Back();
        return true;
    case FirstCommand + 2:
        if (m_browser)
            m_browser->Forward();
        return true;
    case FirstCommand + 3:
    case PrintCommand:
        if (m_browser)
            m_browser->Print();
        return true;
    case FirstCommand + 4:
        if (m_hwnd)
            PostMessageA(GetParent(m_hwnd), WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}

LRESULT CALLBACK CHHCtrl::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CHHCtrl *self;
    if (message == WM_NCCREATE) {
        self = static_cast<CHHCtrl *>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CHHCtrl *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (self) {
        switch (message) {
        case WM_SIZE:
            self->Layout();
            return 0;
        case WM_COMMAND:
            if (self->OnCommand(LOWORD(wParam)))
                return 0;
            break;
        case WM_NCDESTROY:
            self->m_hwnd = NULL;
            self->m_toolbar = NULL;
            break;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
