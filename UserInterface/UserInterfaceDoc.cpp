#include "UserInterfaceDoc.h"
#include <stdlib.h>
#include "BstrText.h"
#include "ObjectForm.h"

const char CUserInterfaceDoc::SaveQuestion[] =
    "The I/O Driver Configuration has been modified but not saved. \n\rSave changes? ";
const char *const CUserInterfaceDoc::DeleteQuestions[3] = {
    "All Devices and Data Blocks on this Channel will be deleted.\nContinue?",
    "All Data Blocks on this Device will be deleted.\nContinue?",
    "This Data Block will be deleted.  Continue?",
};
const char CUserInterfaceDoc::FileFilter[] = "Config Files (*.###)|*.###|Text Files (*.CSV)|*.CSV|";
const char CUserInterfaceDoc::ImportTitle[] = "Import 6.x CSV File";
const char CUserInterfaceDoc::ImportQuestion[] = "Import this 6.x CSV file?";
const char CUserInterfaceDoc::RegistryWriteFailed[] = "Unable to write to registry";

namespace {

const char kAcronym[] = "QOR";
const char kDefaultsKey[] = "SOFTWARE\\Veltrane\\Drivers\\QOR\\DriverDefaults";
const char kDefaultName[] = "DriverDefaultConfigFileName";
const char kDefaultPath[] = "DriverDefaultConfigFilePath";
const char kRefreshRate[] = "StatisticsRefreshRate";

// Owns a VARIANT for the length of a call.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
};

} // namespace

// --- the defaults key -------------------------------------------------------------

bool CRegistryDriverDefaults::Open(const std::string &machine)
{
    Close();
    if (machine.empty()) {
        m_root = HKEY_LOCAL_MACHINE;
    } else if (RegConnectRegistryA(("\\\\" + machine).c_str(), HKEY_LOCAL_MACHINE, &m_root) != ERROR_SUCCESS) {
        m_root = NULL;
        return false;
    }
    if (RegCreateKeyExA(m_root, kDefaultsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_key, NULL) != ERROR_SUCCESS)
        m_key = NULL;
    return m_key != NULL;
}

void CRegistryDriverDefaults::Close()
{
    if (m_key)
        RegCloseKey(m_key);
    if (m_root && m_root != HKEY_LOCAL_MACHINE)
        RegCloseKey(m_root);
    m_key = m_root = NULL;
}

bool CRegistryDriverDefaults::Get(const std::string &name, std::string &value)
{
    char text[1024] = "";
    DWORD size = sizeof text - 1, type = 0;
    if (!m_key || RegQueryValueExA(m_key, name.c_str(), NULL, &type, reinterpret_cast<BYTE *>(text), &size) !=
                      ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value.assign(text, strnlen(text, size));
    return true;
}

bool CRegistryDriverDefaults::Put(const std::string &name, const std::string &value)
{
    return m_key && RegSetValueExA(m_key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                   DWORD(value.size() + 1)) == ERROR_SUCCESS;
}

// --- the document ------------------------------------------------------------------

CUserInterfaceDoc::CUserInterfaceDoc(CServerConnection &connection, IMessageSink &messages, IErrorTexts &texts,
                                     CTreeAccess &tree, IFileChooser &files, IDriverDefaults &defaults)
    : CToolDocument(connection, messages, texts), m_tree(&tree), m_files(files), m_defaults(defaults),
      m_channel(this), m_device(this), m_block(this)
{
}

void CUserInterfaceDoc::UpdateEnabling()
{
    bool config = m_mode == 1;
    m_enableAddChannel = config;
    m_enableAddDevice = config && m_kind >= KindChannel;
    m_enableAddDataBlock = config && m_kind >= KindDevice;
    m_enableDelete = config && m_kind >= KindChannel;
    // The object dialog copies a device and modifies any object, once the
    // program has it.
    bool dialog = bool(m_hooks.objectDialog);
    m_enableCopy = config && dialog && m_kind == KindDevice;
    m_enableModify = config && dialog && m_kind >= KindChannel;
}

bool CUserInterfaceDoc::OnUpdateCmdUI(CCmdUI &ui)
{
    switch (ui.Id()) {
    case CmdAddChannel: ui.Enable(m_enableAddChannel); return true;
    case CmdAddDevice: ui.Enable(m_enableAddDevice); return true;
    case CmdAddDataBlock: ui.Enable(m_enableAddDataBlock); return true;
    case CmdCopyDevice: ui.Enable(m_enableCopy); return true;
    case CmdDelete: ui.Enable(m_enableDelete); return true;
    case CmdModify: ui.Enable(m_enableModify); return true;
    case CmdConfigMode: ui.Enable(true); ui.SetCheck(m_mode == 1); return true;
    case CmdStatsMode: ui.Enable(true); ui.SetCheck(m_mode == 0); return true;
    case CmdStart: ui.Enable(true); ui.SetCheck(m_running); return true;
    case CmdStop: ui.Enable(true); ui.SetCheck(!m_running); return true;
    case CmdOleServer:
    case CmdFileNew:
    case CmdFileOpen:
    case CmdFileSave:
    case CmdFileSaveAs:
        ui.Enable(true);
        return true;
    }
    if (ui.Id() >= CmdRecentFile1 && ui.Id() < CmdRecentFile1 + RecentCount) {
        ui.Enable(ui.Id() - CmdRecentFile1 < m_recent.size());
        return true;
    }
    return false;
}

bool CUserInterfaceDoc::OnCmdMsg(UINT id)
{
    switch (id) {
    case CmdAddChannel: AddObject(KindChannel); return true;
    case CmdAddDevice: AddObject(KindDevice); return true;
    case CmdAddDataBlock: AddObject(KindDataBlock); return true;
    case CmdDelete: DeleteSelected(); return true;
    case CmdCopyDevice:
        if (m_hooks.objectDialog) {
            int previous = m_kind;
            m_kind = KindDevice;
            if (m_hooks.objectDialog(true) == IDOK)
                RefreshViews();
            else
                m_kind = previous;
        }
        return true;
    case CmdModify:
        if (m_hooks.objectDialog) {
            m_hooks.objectDialog(false);
            RefreshViews();
        }
        return true;
    case CmdConfigMode: SetMode(1); return true;
    case CmdStatsMode: SetMode(0); return true;
    case CmdOleServer: ReconnectServer(); return true;
    case CmdStart: StartServer(true); return true;
    case CmdStop: StartServer(false); return true;
    case CmdFileNew: NewFile(); return true;
    case CmdFileOpen: OpenFile(); return true;
    case CmdFileSave: Save(); return true;
    case CmdFileSaveAs: SaveAs(); return true;
    }
    if (id >= CmdRecentFile1 && id < CmdRecentFile1 + RecentCount) {
        size_t index = id - CmdRecentFile1;
        if (index < m_recent.size() && SaveModified()) {
            std::string path = m_recent[index];
            OpenByName(path);
        }
        return true;
    }
    return false;
}

void CUserInterfaceDoc::SetMode(int mode)
{
    m_mode = mode;
    RefreshViews();
}

void CUserInterfaceDoc::StartServer(bool start)
{
    IQORDriver *server = Server();
    if (!server)
        return;
    Wait(true);
    HRESULT hr = start ? server->Start(VARIANT_FALSE) : server->Stop();
    if (FAILED(hr)) {
        Wait(false);
        ShowError(hr);
        return;
    }
    if (start) {
        m_running = true;
    } else {
        // The server says whether it stopped.
        VARIANT_BOOL running = VARIANT_FALSE;
        hr = server->get_Running(&running);
        if (FAILED(hr))
            ShowError(hr);
        else
            m_running = running != VARIANT_FALSE;
    }
    Wait(false);
}

// --- adding and deleting ------------------------------------------------------------

TreeItem CUserInterfaceDoc::InsertObject(int kind, TreeItem parent, const std::string &name, LONG handle)
{
    static const int images[] = {ImageDriver, ImageChannel, ImageDevice, ImageDataBlock};
    TreeItem item = m_tree->Insert(parent, name, images[kind], handle, m_insertPosition);
    CObjectItem &proxy = kind == KindChannel ? static_cast<CObjectItem &>(m_channel)
                         : kind == KindDevice ? static_cast<CObjectItem &>(m_device)
                                              : static_cast<CObjectItem &>(m_block);
    proxy.SetHandle(handle);
    proxy.SetTreeItem(item);
    return item;
}

void CUserInterfaceDoc::AddObject(int kind)
{
    IQORDriver *server = Server();
    if (!server)
        return;
    Variant names, values, errors;
    LONG handle = 0;
    Wait(true);
    HRESULT hr;
    TreeItem parent;
    LONG parentHandle;
    if (kind == KindChannel) {
        parent = m_tree->Root();
        parentHandle = 0;
        hr = server->AddChannel(names.v, values.v, &errors.v, &handle);
    } else if (kind == KindDevice) {
        parent = m_channel.GetTreeItem();
        parentHandle = m_channel.GetHandle();
        hr = server->AddDevice(parentHandle, names.v, values.v, &errors.v, &handle);
    } else {
        parent = m_device.GetTreeItem();
        parentHandle = m_device.GetHandle();
        hr = server->AddDataBlock(parentHandle, names.v, values.v, &errors.v, &handle);
    }
    if (FAILED(hr)) {
        Wait(false);
        ShowError(hr);
        return;
    }
    // The new object is the last of its parent's list.
    ChildList children;
    if (!ReadChildrenShown(kind - 1, parentHandle, children) || children.empty()) {
        Wait(false);
        return;
    }
    TreeItem item = InsertObject(kind, parent, children.back().second, children.back().first);
    m_kind = kind;
    // The selection is already the document's, and the parent opens with
    // the children it has.
    m_building = true;
    m_tree->EnsureVisible(item);
    m_tree->Select(item);
    m_building = false;
    Wait(false);
    RefreshViews();
}

void CUserInterfaceDoc::DeleteSelected()
{
    IQORDriver *server = Server();
    if (!server || m_kind < KindChannel || m_kind > KindDataBlock)
        return;
    if (Ask(DeleteQuestions[m_kind - 1], MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    Wait(true);
    HRESULT hr;
    TreeItem item, remaining;
    int remainingKind = m_kind - 1;
    if (m_kind == KindChannel) {
        hr = server->RemoveChannel(m_channel.GetHandle());
        item = m_channel.GetTreeItem();
        remaining = m_tree->Root();
    } else if (m_kind == KindDevice) {
        hr = server->RemoveDevice(m_channel.GetHandle(), m_device.GetHandle());
        item = m_device.GetTreeItem();
        remaining = m_channel.GetTreeItem();
    } else {
        hr = server->RemoveDataBlock(m_device.GetHandle(), m_block.GetHandle());
        item = m_block.GetTreeItem();
        remaining = m_device.GetTreeItem();
    }
    Wait(false);
    if (FAILED(hr)) {
        // The object is still in the server, so its item stays.
        ShowError(hr);
        return;
    }
    m_kind = remainingKind;
    m_building = true;
    m_tree->Select(remaining);
    m_tree->Delete(item);
    m_tree->EnsureVisible(remaining);
    m_building = false;
    m_tree->Focus();
    RefreshViews();
}

// --- the tree ---------------------------------------------------------------------------

HRESULT CUserInterfaceDoc::ReadChildren(int parentKind, LONG parent, ChildList &children)
{
    children.clear();
    IQORDriver *server = Server();
    if (!server)
        return E_POINTER;
    Variant handles, names;
    LONG count = 0;
    HRESULT hr = parentKind == KindDriver    ? server->GetChannels(&handles.v, &names.v, &count)
                 : parentKind == KindChannel ? server->GetDevices(parent, &handles.v, &names.v, &count)
                                             : server->GetDataBlocks(parent, &handles.v, &names.v, &count);
    if (FAILED(hr) || count <= 0)
        return hr;
    if (V_VT(&handles.v) != (VT_ARRAY | VT_VARIANT) || V_VT(&names.v) != (VT_ARRAY | VT_VARIANT))
        return E_UNEXPECTED;
    for (LONG i = 0; i < count; ++i) {
        Variant handle, name;
        hr = SafeArrayGetElement(V_ARRAY(&handles.v), &i, &handle.v);
        if (SUCCEEDED(hr))
            hr = VariantChangeType(&handle.v, &handle.v, 0, VT_I4);
        if (SUCCEEDED(hr))
            hr = SafeArrayGetElement(V_ARRAY(&names.v), &i, &name.v);
        if (SUCCEEDED(hr))
            hr = VariantChangeType(&name.v, &name.v, 0, VT_BSTR);
        if (FAILED(hr))
            return hr;
        children.emplace_back(V_I4(&handle.v), FromBstr(V_BSTR(&name.v)));
    }
    return S_OK;
}

bool CUserInterfaceDoc::ReadChildrenShown(int parentKind, LONG parent, ChildList &children)
{
    HRESULT hr = ReadChildren(parentKind, parent, children);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    return true;
}

bool CUserInterfaceDoc::AddBlocksOf(TreeItem deviceItem, LONG device)
{
    ChildList blocks;
    if (!ReadChildrenShown(KindDevice, device, blocks))
        return false;
    for (const auto &block : blocks)
        InsertObject(KindDataBlock, deviceItem, block.second, block.first);
    return true;
}

bool CUserInterfaceDoc::AddDevicesOf(TreeItem channelItem, LONG channel)
{
    ChildList devices;
    if (!ReadChildrenShown(KindChannel, channel, devices))
        return false;
    for (const auto &device : devices) {
        TreeItem item = InsertObject(KindDevice, channelItem, device.second, device.first);
        if (!AddBlocksOf(item, device.first))
            return false;
    }
    return true;
}

std::vector<TreeItem> CUserInterfaceDoc::ReadChannels(TreeItem root, bool *complete)
{
    std::vector<TreeItem> items;
    ChildList channels;
    bool ok = ReadChildrenShown(KindDriver, 0, channels);
    for (size_t i = 0; ok && i < channels.size(); ++i) {
        items.push_back(InsertObject(KindChannel, root, channels[i].second, channels[i].first));
        ok = AddDevicesOf(items.back(), channels[i].first);
    }
    if (complete)
        *complete = ok;
    return items;
}

bool CUserInterfaceDoc::BuildTree(bool afterOpen)
{
    m_building = true;
    m_treeBuilt = false;
    if (m_tree->Clear()) {
        TreeItem root = m_tree->Insert(nullptr, kAcronym, ImageDriver, 0, InsertFirst);
        m_tree->Select(root);
    }
    m_kind = KindDriver;
    TreeItem root = m_tree->Root();
    bool complete = false;
    ReadChannels(root, &complete);
    m_treeBuilt = complete;
    if (afterOpen && root) {
        m_tree->Select(root);
        std::vector<TreeItem> children = m_tree->Children(root);
        if (!children.empty())
            m_tree->EnsureVisible(children.front());
    }
    m_building = false;
    return complete;
}

void CUserInterfaceDoc::RefreshSubtree(TreeItem item, LONG handle)
{
    if (!item || item == m_tree->Root()) {
        BuildTree();
        return;
    }
    Wait(true);
    m_building = true;
    ChildList devices;
    HRESULT hr = ReadChildren(KindChannel, handle, devices);
    if (hr == E_INVALIDARG) {
        // Not a channel: a device's blocks.
        AddBlocksOf(item, handle);
    } else if (FAILED(hr)) {
        ShowError(hr);
    } else {
        m_channel.SetHandle(handle);
        m_channel.SetTreeItem(item);
        for (const auto &device : devices) {
            TreeItem child = InsertObject(KindDevice, item, device.second, device.first);
            if (!AddBlocksOf(child, device.first))
                break;
        }
    }
    m_building = false;
    Wait(false);
    m_tree->Select(item);
}

void CUserInterfaceDoc::AfterFileChanged(bool selectRoot)
{
    AddRecentFile(Path());
    BuildTree(selectRoot);
    RefreshViews();
}

void CUserInterfaceDoc::TimerPoll()
{
    // A lost server was reported once; the poll waits for a new connection.
    // A box the poll shows runs a message loop in which the next tick
    // arrives: that tick does nothing.
    IQORDriver *server = Server();
    if (!server || !m_connection.ConnectedLocally() || m_connection.Lost() || m_polling)
        return;
    m_polling = true;
    bool changed = false;
    if (ReadServerStatus(&changed) && changed) {
        // Another client made the server open another file.
        BuildTree();
        RefreshViews();
    }
    m_polling = false;
}

void CUserInterfaceDoc::RelabelItem(CObjectItem &item, const std::string &name)
{
    if (item.GetTreeItem())
        m_tree->SetText(item.GetTreeItem(), name);
}

// --- files ----------------------------------------------------------------------------

bool CUserInterfaceDoc::SaveModified()
{
    IQORDriver *server = Server();
    if (!server)
        return true;
    VARIANT_BOOL saved = VARIANT_TRUE;
    HRESULT hr = server->get_FileSaved(&saved);
    if (FAILED(hr)) {
        ShowError(hr);
        return true;
    }
    if (saved != VARIANT_FALSE)
        return true;
    switch (Ask(SaveQuestion, MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDYES:
        // A save that failed or was cancelled keeps the configuration: stop.
        return Save();
    case IDNO:
        return true;
    default:
        return false;
    }
}

bool CUserInterfaceDoc::ChooseFile(bool open, std::string &path)
{
    return m_files.Choose(open, m_defaultName, m_defaultPath, path);
}

void CUserInterfaceDoc::NewFile()
{
    IQORDriver *server = Server();
    if (!server || !SaveModified())
        return;
    m_mode = 1;
    m_kind = KindDriver;
    if (TreeItem root = m_tree->Root())
        m_tree->Select(root);
    Wait(true);
    HRESULT hr = server->FileNew();
    Wait(false);
    if (FAILED(hr)) {
        ShowError(hr);
        return;
    }
    ReadServerStatus();
    AfterFileChanged(false);
}

void CUserInterfaceDoc::OpenFile()
{
    if (!Server() || !SaveModified())
        return;
    std::string path;
    if (ChooseFile(true, path))
        OpenByName(path);
}

bool CUserInterfaceDoc::OpenByName(const std::string &path)
{
    IQORDriver *server = Server();
    if (!server)
        return false;
    m_mode = 1;
    BSTR name = ToBstr(path);
    Wait(true);
    HRESULT hr = server->FileOpenEx(name, 0);
    Wait(false);
    if (hr == OldCsvFile) {
        std::string text, question = ImportQuestion;
        if (m_texts.Text(ImportTextCode, text))
            question = path + " " + text;
        if (m_messages.Box(question, ImportTitle, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
            SysFreeString(name);
            return false;
        }
        Wait(true);
        hr = server->FileOpenEx(name, 1);
        Wait(false);
    }
    SysFreeString(name);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    m_kind = KindDriver;
    ReadServerStatus();
    AfterFileChanged(true);
    return true;
}

bool CUserInterfaceDoc::Save()
{
    IQORDriver *server = Server();
    if (!server)
        return false;
    // A local server's file that is not there (a new configuration) needs a
    // name; a remote server's path means nothing on this machine.
    if (m_connection.ConnectedLocally() &&
        (Path().empty() || GetFileAttributesA(Path().c_str()) == INVALID_FILE_ATTRIBUTES))
        return SaveAs();
    Wait(true);
    HRESULT hr = server->FileSave();
    Wait(false);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    return true;
}

bool CUserInterfaceDoc::SaveAs()
{
    IQORDriver *server = Server();
    std::string path;
    if (!server || !ChooseFile(false, path))
        return false;
    BSTR name = ToBstr(path);
    Wait(true);
    HRESULT hr = server->FileSaveAs(name);
    Wait(false);
    SysFreeString(name);
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    ReadServerStatus();
    AddRecentFile(Path());
    return true;
}

void CUserInterfaceDoc::AddRecentFile(const std::string &path)
{
    if (path.empty())
        return;
    for (auto it = m_recent.begin(); it != m_recent.end(); ++it)
        if (lstrcmpiA(it->c_str(), path.c_str()) == 0) {
            m_recent.erase(it);
            break;
        }
    m_recent.insert(m_recent.begin(), path);
    if (m_recent.size() > RecentCount)
        m_recent.resize(RecentCount);
}

// --- connection and defaults ------------------------------------------------------------

DWORD CUserInterfaceDoc::ParseRefreshRate(const std::string &text)
{
    char *end = nullptr;
    long rate = strtol(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || *end != '\0' || rate < 10 || rate > 60000)
        return 1000;
    return DWORD(rate);
}

void CUserInterfaceDoc::SetRefreshRate(DWORD rate)
{
    m_refreshRate = rate >= 10 && rate <= 60000 ? rate : 1000;
    m_rateChanged = true;
}

bool CUserInterfaceDoc::NewDocumentStep()
{
    if (!m_hooks.connect || !m_hooks.connect())
        return false;
    m_defaultName.clear();
    m_defaultPath.clear();
    m_refreshRate = 1000;
    const std::string machine = m_connection.ConnectedLocally() ? std::string() : m_connection.ConnectedName();
    if (m_defaults.Open(machine)) {
        std::string rate;
        m_defaults.Get(kDefaultName, m_defaultName);
        m_defaults.Get(kDefaultPath, m_defaultPath);
        if (m_defaults.Get(kRefreshRate, rate))
            m_refreshRate = ParseRefreshRate(rate);
    }
    return true;
}

void CUserInterfaceDoc::ReconnectServer()
{
    if (!NewDocumentStep()) {
        if (m_hooks.closeProgram)
            m_hooks.closeProgram();
        return;
    }
    ReadServerStatus();
    m_kind = KindDriver;
    BuildTree(true);
    RefreshViews();
}

bool CUserInterfaceDoc::ReadServerDefaults(std::string &name, std::string &path)
{
    IQORDriver *server = Server();
    if (!server)
        return false;
    BSTR text = nullptr;
    HRESULT hr = server->get_DefaultConfigFileName(&text);
    if (SUCCEEDED(hr)) {
        name = FromBstr(text);
        SysFreeString(text);
        text = nullptr;
        hr = server->get_DefaultConfigFilePath(&text);
        if (SUCCEEDED(hr))
            path = FromBstr(text);
        SysFreeString(text);
    }
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    return true;
}

bool CUserInterfaceDoc::WriteServerDefaults(const std::string &name, const std::string &path)
{
    IQORDriver *server = Server();
    if (!server)
        return false;
    BSTR text = ToBstr(name);
    HRESULT hr = server->put_DefaultConfigFileName(text);
    SysFreeString(text);
    if (SUCCEEDED(hr)) {
        text = ToBstr(path);
        hr = server->put_DefaultConfigFilePath(text);
        SysFreeString(text);
    }
    if (FAILED(hr)) {
        ShowError(hr);
        return false;
    }
    return true;
}

bool CUserInterfaceDoc::WriteRegistryDefaults()
{
    const std::string machine = m_connection.ConnectedLocally() ? std::string() : m_connection.ConnectedName();
    bool ok = m_defaults.Open(machine) && m_defaults.Put(kDefaultName, m_defaultName) &&
              m_defaults.Put(kDefaultPath, m_defaultPath) &&
              m_defaults.Put(kRefreshRate, std::to_string(m_refreshRate));
    if (!ok)
        ShowText(RegistryWriteFailed);
    return ok;
}

// --- the object dialog ------------------------------------------------------------------

bool CUserInterfaceDoc::FinishObjectDialog(CObjectForm &form, bool copy)
{
    if (copy) {
        if (!CopyDevice(form))
            return false;
    } else {
        CObjectItem &proxy = form.Proxy();
        form.CopyTo(proxy);
        if (!proxy.Modify())
            return false;
        m_modified = true;
    }
    m_dialogClosed = true;
    return true;
}

namespace {

// A VT_VARIANT array of texts (null when it cannot be made).
SAFEARRAY *TextArray(const std::vector<std::string> &texts)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(texts.size()));
    for (LONG i = 0; array && i < LONG(texts.size()); ++i) {
        VARIANT v;
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ToBstr(texts[i]);
        HRESULT hr = V_BSTR(&v) ? SafeArrayPutElement(array, &i, &v) : E_OUTOFMEMORY;
        VariantClear(&v);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return nullptr;
        }
    }
    return array;
}

} // namespace

HRESULT CUserInterfaceDoc::AddWithValues(int kind, LONG parent, const std::vector<std::string> &names,
                                         const std::vector<std::string> &values, LONG *handle)
{
    IQORDriver *server = Server();
    if (!server)
        return E_POINTER;
    Variant nameList, valueList, errors;
    V_ARRAY(&nameList.v) = TextArray(names);
    V_ARRAY(&valueList.v) = TextArray(values);
    if (!V_ARRAY(&nameList.v) || !V_ARRAY(&valueList.v)) {
        ShowText(CObjectItem::ArrayFailedText);
        return E_OUTOFMEMORY;
    }
    V_VT(&nameList.v) = V_VT(&valueList.v) = VT_ARRAY | VT_VARIANT;
    *handle = 0;
    HRESULT hr = kind == KindDevice ? server->AddDevice(parent, nameList.v, valueList.v, &errors.v, handle)
                                    : server->AddDataBlock(parent, nameList.v, valueList.v, &errors.v, handle);
    if (hr == S_FALSE && V_VT(&errors.v) == (VT_ARRAY | VT_VARIANT)) {
        // All or nothing: the first refused property says why.
        LONG upper = -1;
        SafeArrayGetUBound(V_ARRAY(&errors.v), 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            Variant error;
            if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&errors.v), &i, &error.v)) && V_VT(&error.v) == VT_ERROR &&
                V_ERROR(&error.v) != 0) {
                ShowError(V_ERROR(&error.v));
                return V_ERROR(&error.v);
            }
        }
    }
    if (hr != S_OK) {
        hr = FAILED(hr) ? hr : E_FAIL;
        ShowError(hr);
    }
    return hr;
}

bool CUserInterfaceDoc::CopyDevice(const CObjectForm &form)
{
    IQORDriver *server = Server();
    if (!server)
        return false;
    LONG channel = m_channel.GetHandle(), source = m_device.GetHandle();
    // In the proxy's order, "Enabled" last: an enabled device takes no new
    // connection while the driver runs.
    std::vector<std::string> names(std::begin(CDeviceItem::Properties), std::end(CDeviceItem::Properties)), values;
    std::vector<std::string> formValues = form.PropertyValues();
    for (const std::string &name : names)
        for (size_t i = 0; i < form.Fields().size(); ++i)
            if (name == form.Fields()[i].property)
                values.push_back(formValues[i]);
    Wait(true);
    LONG copy = 0;
    bool ok = SUCCEEDED(AddWithValues(KindDevice, channel, names, values, &copy));
    // The source's blocks, each with all its values.
    ChildList blocks;
    if (ok)
        ok = ReadChildrenShown(KindDevice, source, blocks);
    for (size_t i = 0; ok && i < blocks.size(); ++i) {
        CDataBlockItem block(this);
        block.SetHandle(blocks[i].first);
        ok = block.Read();
        std::vector<std::string> names, values;
        for (const char *name : CDataBlockItem::Properties) {
            std::string value = block.Current(name);
            // Block names are unique in the server: the copies take new
            // ones. The end address follows from the start and the length,
            // and a block without an address has none to give.
            if (!strcmp(name, "Name") || !strcmp(name, "EndAddress") ||
                (!strcmp(name, "StartAddress") && value.empty()))
                continue;
            names.push_back(name);
            values.push_back(value);
        }
        LONG added = 0;
        ok = ok && SUCCEEDED(AddWithValues(KindDataBlock, copy, names, values, &added));
    }
    if (!ok) {
        // No half copy: the device goes with whatever blocks it got.
        if (copy)
            server->RemoveDevice(channel, copy);
        Wait(false);
        return false;
    }
    ChildList devices;
    if (ReadChildrenShown(KindChannel, channel, devices)) {
        for (const auto &device : devices)
            if (device.first == copy) {
                m_building = true;
                TreeItem item = InsertObject(KindDevice, m_channel.GetTreeItem(), device.second, copy);
                AddBlocksOf(item, copy);
                m_device.SetHandle(copy);
                m_device.SetTreeItem(item);
                m_kind = KindDevice;
                m_tree->EnsureVisible(item);
                m_tree->Select(item);
                m_building = false;
            }
    }
    m_modified = true;
    Wait(false);
    return true;
}
