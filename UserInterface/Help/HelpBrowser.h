// The browser part of the help window, behind a seam: the web-browser control
// where the platform can host one, else the plain-text stand-in that shows a
// help file's page as text in a read-only edit with its own history.
#pragma once
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "ChmStorageReader.h"

class IHelpBrowser {
public:
    // The browser's command-state notices: Forward (1) or Back (2) became
    // possible or not.
    enum { NoticeForward = 1, NoticeBack = 2 };
    using StateSink = std::function<void(int notice, bool enabled)>;

    virtual ~IHelpBrowser() = default;
    virtual bool Create(HWND parent, int id, const RECT &rect, StateSink sink) = 0;
    virtual HWND Window() const = 0;
    virtual HRESULT Navigate(const std::string &url) = 0;
    virtual HRESULT Back() = 0;
    virtual HRESULT Forward() = 0;
    virtual HRESULT Print() = 0;
};

// Makes the browser for a new help window.
using HelpBrowserFactory = std::function<std::unique_ptr<IHelpBrowser>()>;

// A help file's pages as plain text: "its:file::page" (or "file::page")
// shows the page's text; a history of the pages shown, with Back and
// Forward. Print is not offered (E_NOTIMPL).
class CTextHelpBrowser : public IHelpBrowser {
public:
    bool Create(HWND parent, int id, const RECT &rect, StateSink sink) override;
    HWND Window() const override { return m_edit; }
    HRESULT Navigate(const std::string &url) override;
    HRESULT Back() override;
    HRESULT Forward() override;
    HRESULT Print() override { return E_NOTIMPL; }

    const std::vector<std::string> &History() const { return m_history; }
    std::string Text() const;

private:
    HRESULT Show(const std::string &url);
    void Notify();

    HWND m_edit = NULL;
    StateSink m_sink;
    std::vector<std::string> m_history;
    size_t m_at = 0;  // index of the page shown, valid while the history is not empty
    std::string m_file;
    ChmStorageReader m_reader;
};
