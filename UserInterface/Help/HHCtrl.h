// CHHCtrl: the help window embedded in the tool, an optional toolbar (Home,
// Back, Forward, Print, Close) above a browser that shows pages of the
// compiled help file: by URL, by file name inside the help file, or by topic
// number through the file's topic map.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "ChmStorageReader.h"
#include "HelpBrowser.h"
#include "HelpTopics.h"

class CHHCtrl {
public:
    enum {
        BrowserId = 59648,
        FirstCommand = 0xFF00,  // Home, Back, Forward, Print, Close: FirstCommand + index
        LastCommand = 0xFF04,
        PrintCommand = 57607,   // the class library's print command
        NormalBitmap = 32000,
        HotBitmap = 32001,
        ButtonTextsString = 20737,
        ImageSize = 20,
        BarHeight = 28,
        BarHeightWithTexts = 43,
        Gap = 2,
    };
    enum Button { Home = 1, Back = 2, Forward = 4, Print = 8, Close = 16 };

    // The browser comes from factory; by default the plain-text browser.
    explicit CHHCtrl(HelpBrowserFactory factory = nullptr);
    ~CHHCtrl();
    CHHCtrl(const CHHCtrl &) = delete;
    CHHCtrl &operator=(const CHHCtrl &) = delete;

    // The window with a toolbar of the buttons in mask (none when 0; Home
    // only with a home text or topic), the browser below. resources: the
    // module holding the bitmaps (NULL: the program).
    bool Create(HWND parent, const RECT &rect, UINT mask, const std::string &homeText, bool withTexts = false,
                HINSTANCE resources = NULL);
    bool Create(HWND parent, const RECT &rect, UINT mask, DWORD homeTopic, bool withTexts = false,
                HINSTANCE resources = NULL);
    // The same in the place of a control of parent, which is destroyed.
    bool CreateInPlaceOf(HWND parent, int controlId, UINT mask, DWORD homeTopic, bool withTexts = false,
                         HINSTANCE resources = NULL);

    void SetHelpFile(const std::string &path);
    const std::string &HelpFile() const { return m_helpFile; }

    HRESULT Navigate(const std::string &url);
    // A page inside the help file: "its:%s::%s".
    HRESULT NavigateFile(const std::string &topicFile);
    // A topic number of the help file's topic map; codes as the map's, E_FAIL
    // when the number is not there (the pane stays as it was).
    HRESULT NavigateTopic(DWORD topic);

    // Toolbar commands (and the class library's print command); true when handled.
    bool OnCommand(int id);
    HRESULT GoHome();

    HWND Window() const { return m_hwnd; }
    HWND Toolbar() const { return m_toolbar; }
    IHelpBrowser *Browser() const { return m_browser.get(); }
    bool ButtonEnabled(int command) const;

private:
    bool CreateWindows(HWND parent, const RECT &rect, UINT mask, bool withTexts, HINSTANCE resources);
    void CreateToolbar(UINT mask, bool withTexts, HINSTANCE resources);
    void Layout();
    void OnCommandState(int notice, bool enabled);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HelpBrowserFactory m_factory;
    std::unique_ptr<IHelpBrowser> m_browser;
    HWND m_hwnd = NULL;
    HWND m_toolbar = NULL;
    HIMAGELIST m_images = NULL, m_hotImages = NULL;
    int m_barHeight = 0;
    std::string m_helpFile;
    std::string m_homeText;
    DWORD m_homeTopic = 0;
    ChmStorageReader m_reader;
    CHelpTopicMap m_map;
};

extern const char HelpButtonTexts[];  // string 20737
