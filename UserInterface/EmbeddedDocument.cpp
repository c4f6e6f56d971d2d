#include "EmbeddedDocument.h"
#include "UserInterfaceDoc.h"
#include "resource.h"

const uint16_t CEmbeddedDocument::Schema;

// {1D7D3052-F448-11CF-88D0-00A024A34B1B}
const CLSID CEmbeddedDocument::Clsid = {0x1D7D3052, 0xF448, 0x11CF, {0x88, 0xD0, 0x00, 0xA0, 0x24, 0xA3, 0x4B, 0x1B}};

CEmbeddedDocument::CEmbeddedDocument(CUserInterfaceDoc &document, std::string &node)
    : m_doc(document), m_node(node), m_item(document)
{
}

COleServerObject *CEmbeddedDocument::CreateObject()
{
    m_object = new COleServerObject(Clsid, *this);
    return m_object;
}

CEmbeddedDocument::State CEmbeddedDocument::Current() const
{
    State state;
    const CServerConnection &connection = m_doc.Connection();
    state.remote = !connection.ConnectedLocally();
    state.machine = state.remote ? connection.ConnectedName() : std::string();
    state.path = m_doc.Path();
    return state;
}

void CEmbeddedDocument::Changed()
{
    if (!m_object)
        return;
    m_item.Refresh();
    m_object->NotifyChanged();
}

namespace {
const char kContainerSaveFailed[] = "The container could not save the object.";
}

void CEmbeddedDocument::CloseFromUser()
{
    if (!m_object)
        return;
    HRESULT hr = m_object->CloseFromUser();
    if (FAILED(hr) && hr != OLE_E_PROMPTSAVECANCELLED)
        m_doc.ShowText(kContainerSaveFailed);
}

bool CEmbeddedDocument::OnNewEmbedding()
{
    if (!m_doc.NewDocumentStep())
        return false;
    m_doc.ReadServerStatus();
    m_item.Refresh();
    return true;
}

void CEmbeddedDocument::Serialize(CArchive &archive)
{
    if (archive.IsStoring()) {
        State state = Current();
        archive << Schema << uint8_t(state.remote ? 1 : 0) << state.machine << state.path;
        return;
    }
    uint16_t schema = 0;
    uint8_t remote = 0;
    State state;
    archive >> schema;
    if (schema != Schema)
        throw CArchiveException(CArchiveException::Cause::BadSchema, "unknown embedded document schema",
                                archive.Position());
    archive >> remote >> state.machine >> state.path;
    state.remote = remote != 0;
    m_loaded = state;
}

bool CEmbeddedDocument::OnLoadedEmbedding()
{
    // The stored server, without the connection dialog, as a node on the
    // command line would be.
    m_node = m_loaded.remote && !m_loaded.machine.empty() ? m_loaded.machine : CServerConnection::LocalNode;
    if (!m_doc.NewDocumentStep())
        return false;
    m_doc.ReadServerStatus();
    // The stored file, unless the server has it open already.
    if (!m_loaded.path.empty() && lstrcmpiA(m_loaded.path.c_str(), m_doc.Path().c_str()) != 0 &&
        m_doc.SaveModified())
        m_doc.OpenByName(m_loaded.path);
    m_saved = m_loaded;
    m_everSaved = true;
    m_item.Refresh();
    return true;
}

bool CEmbeddedDocument::IsEmbeddingModified() { return !m_everSaved || !(Current() == m_saved); }

void CEmbeddedDocument::SetEmbeddingSaved()
{
    m_saved = Current();
    m_everSaved = true;
}

bool CEmbeddedDocument::ShowOpenWindow(const std::string &title)
{
    return m_hooks.showOpen && m_hooks.showOpen(title);
}

void CEmbeddedDocument::HideOpenWindow()
{
    if (m_hooks.hideOpen)
        m_hooks.hideOpen();
}

bool CEmbeddedDocument::OpenWindowShown() { return m_hooks.openShown && m_hooks.openShown(); }

CInPlaceFrameWnd *CEmbeddedDocument::InPlaceFrame()
{
    return m_hooks.inPlaceFrame ? m_hooks.inPlaceFrame() : nullptr;
}

void CEmbeddedDocument::OnInPlaceDeactivated()
{
    if (m_hooks.inPlaceDeactivated)
        m_hooks.inPlaceDeactivated();
}

bool CEmbeddedDocument::QueryClose() { return m_doc.SaveModified(); }

void CEmbeddedDocument::OnReleased()
{
    m_object = nullptr;
    if (m_hooks.released)
        m_hooks.released();
}

bool CEmbeddedDocument::OnUpdateCmdUI(CCmdUI &ui)
{
    switch (ui.Id()) {
    case ID_FILE_UPDATE:
    case ID_FILE_SAVE_COPY_AS:
        ui.Enable(m_object != nullptr && m_doc.Server() != nullptr);
        return true;
    }
    return false;
}

bool CEmbeddedDocument::OnCmdMsg(UINT id)
{
    switch (id) {
    case ID_FILE_UPDATE:
        // The container saves the object now and shows its new picture.
        if (m_object) {
            m_item.Refresh();
            if (FAILED(m_object->SaveToContainer()))
                m_doc.ShowText(kContainerSaveFailed);
        }
        return true;
    case ID_FILE_SAVE_COPY_AS:
        // The configuration under another name on the server's machine; the
        // object then names that file, as the server has it open.
        if (m_doc.SaveAs())
            Changed();
        return true;
    }
    return false;
}
