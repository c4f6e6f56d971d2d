// The tool's document for now: it owns the connection to the server, turns
// result codes into message boxes, and keeps the server's running state and
// configuration file name, which give the main window its title.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "ObjectItems.h"
#include "ServerConnection.h"
#include "ServerError.h"

class CToolDocument : public IItemDocument {
public:
    CToolDocument(CServerConnection &connection, IMessageSink &messages, IErrorTexts &texts);

    CServerConnection &Connection() { return m_connection; }
    IMessageSink &Messages() { return m_messages; }
    IErrorTexts &Texts() { return m_texts; }

    // IItemDocument
    IQORDriver *Server() override { return m_connection.Server(); }
    // A result saying the server is gone marks the connection lost before
    // its text shows.
    void ShowError(HRESULT code) override;
    void ShowText(const std::string &text) override;
    void RefreshServerStatus() override;
    void RelabelItem(CObjectItem &item, const std::string &name) override;

    // Reads the running state and the file name from the server; a failing
    // call shows its error text. True when both were read.
    bool ReadServerStatus(bool *pathChanged = nullptr);
    bool Running() const { return m_running; }
    const std::string &Path() const { return m_path; }
    // The file name, "Untitled" when the server has none.
    std::string Title() const { return m_path.empty() ? "Untitled" : m_path; }
    // Called when the title may have changed.
    void OnTitleChanged(std::function<void()> handler) { m_titleChanged = std::move(handler); }

protected:
    // The document's path and title become path.
    void SetPath(const std::string &path);

    CServerConnection &m_connection;
    IMessageSink &m_messages;
    IErrorTexts &m_texts;
    bool m_running = false;

private:
    std::string m_path;
    std::function<void()> m_titleChanged;
};
