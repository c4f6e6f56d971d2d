// The tool's document as an embedded object: what goes into the
// container's storage (the connection and the configuration file the
// document shows, so that opening the object again brings back the same
// server and file), the picture, and the commands of the embedded menu
// ("&Update", "Save Copy &As...").
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include "CmdUI.h"
#include "OleServer.h"
#include "SrvrItem.h"

class CUserInterfaceDoc;

class CEmbeddedDocument : public IServerDocument, public CCmdTarget {
public:
    // The template server's class.
    static const CLSID Clsid;
    // The schema of the stream in the container's storage.
    static const uint16_t Schema = 1;

    // What the document stores: the server it is connected to and the file.
    struct State {
        bool remote = false;
        std::string machine;
        std::string path;
        bool operator==(const State &other) const
        {
            return remote == other.remote && machine == other.machine && path == other.path;
        }
    };

    // What the embedded object asks of the program's windows.
    struct Hooks {
        std::function<bool(const std::string &title)> showOpen;
        std::function<void()> hideOpen;
        std::function<bool()> openShown;
        std::function<CInPlaceFrameWnd *()> inPlaceFrame;
        std::function<void()> inPlaceDeactivated;
        std::function<void()> released;
    };

    // node: the connection step's command-line node, which a loaded
    // object sets to the server it names.
    CEmbeddedDocument(CUserInterfaceDoc &document, std::string &node);
    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The template server's factory.
    COleServerObject *CreateObject();
    COleServerObject *Object() const { return m_object; }
    CUserInterfaceSrvrItem &SrvrItem() { return m_item; }
    // The document changed: the picture is read again and the container told.
    void Changed();
    // The user closed the object's own window; a save the container failed
    // is said, and the object stays open.
    void CloseFromUser();
    State Current() const;

    // IServerDocument
    bool OnNewEmbedding() override;
    void Serialize(CArchive &archive) override;
    bool OnLoadedEmbedding() override;
    bool IsEmbeddingModified() override;
    void SetEmbeddingSaved() override;
    CServerItem &Item() override { return m_item; }
    bool ShowOpenWindow(const std::string &title) override;
    void HideOpenWindow() override;
    bool OpenWindowShown() override;
    CInPlaceFrameWnd *InPlaceFrame() override;
    void OnInPlaceDeactivated() override;
    bool QueryClose() override;
    void OnReleased() override;

    // CCmdTarget
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI &ui) override;

private:
    CUserInterfaceDoc &m_doc;
    std::string &m_node;
    CUserInterfaceSrvrItem m_item;
    Hooks m_hooks;
    COleServerObject *m_object = nullptr;
    State m_loaded, m_saved;
    bool m_everSaved = false;
};
