// The tool's help services: where its two help files lie, the context-help
// pop-up for a control, whole topics in the HTML Help viewer, and the help
// program for Help Topics. The viewer and the pop-up control are seams, so
// tests (and runs with QOR_TEST_LOG_FILE set) see what was asked.
#pragma once
#include <windows.h>
#include <string>
#include "HelpLocator.h"
#include "ServerError.h"
#include "UiSinks.h"

// The HTML Help viewer and the help program.
class IHelpViewer {
public:
    virtual ~IHelpViewer() = default;
    // Shows "file::\page" (or "...>window") in the viewer; false when it could not.
    virtual bool DisplayTopic(HWND owner, const std::string &target) = 0;
    // Starts commandLine as a new process in folder; false when it could not.
    virtual bool Spawn(const std::string &commandLine, const std::string &folder) = 0;
};

// The viewer of the platform (hhctrl.ocx's HtmlHelp and a new process). With
// QOR_TEST_LOG_FILE set it appends "HtmlHelp target" / "Spawn command" lines
// to that file instead.
class CHtmlHelpViewer : public IHelpViewer {
public:
    bool DisplayTopic(HWND owner, const std::string &target) override;
    bool Spawn(const std::string &commandLine, const std::string &folder) override;
};

// The outside context-help control: created for each request.
class IContextHelpControl {
public:
    virtual ~IContextHelpControl() = default;
    // Creates the control and asks it for id's help from file at 100, 100;
    // created tells whether the control could be made (the result is then
    // the creation's).
    virtual HRESULT Show(int id, const std::string &file, bool &created) = 0;
};

class CContextHelpControl : public IContextHelpControl {
public:
    HRESULT Show(int id, const std::string &file, bool &created) override;
};

class CToolHelp {
public:
    static const char HelpFileName[];         // "QOR.chm"
    static const char ContextHelpFileName[];  // "QORf1.chm"
    enum : DWORD { ControlMissingCode = 0xC107000E };

    CToolHelp(IMessageSink &messages, IErrorTexts &texts, IHelpViewer &viewer, IContextHelpControl &control)
        : m_messages(messages), m_texts(texts), m_viewer(viewer), m_control(control)
    {
    }

    // Finds both files in the installation folders, else in the program's
    // own folder (the help control and the viewer need a full path when the
    // program runs in another folder); the bare names when neither holds them.
    void Locate(IHelpFileSystem &files);
    const std::string &HelpFile() const { return m_helpFile; }
    const std::string &ContextHelpFile() const { return m_contextHelpFile; }

    // The context-help pop-up for a control; a control that cannot be made
    // shows the text of 0xC107000E, a failing request its own code's text.
    void ShowPopup(int controlId);
    // "%s::\page" of the help file in the viewer ("Getting Started....", "Troubleshooting ...").
    void ShowTopic(HWND owner, const std::string &page);
    // "%s::\page>pop-up" of the context-help file (the panes' Help buttons).
    void ShowPopupTopic(HWND owner, const std::string &page);
    // A target as it stands ("file::\page>pop-up").
    void Display(HWND owner, const std::string &target) { m_viewer.DisplayTopic(owner, target); }
    // Help Topics: "HH " + the help file, in the help file's folder.
    void HelpTopics();

private:
    IMessageSink &m_messages;
    IErrorTexts &m_texts;
    IHelpViewer &m_viewer;
    IContextHelpControl &m_control;
    std::string m_helpFile = HelpFileName;
    std::string m_contextHelpFile = ContextHelpFileName;
};
