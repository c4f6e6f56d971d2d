// The tool's document: the connection to the server, the selected object of
// each kind and the mode, and every menu command turned into calls of the
// server's automation interface, after which the tree and the view are
// brought up to date. The configuration itself lives in the server; the
// document's path and title mirror the server's file.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>
#include "CmdUI.h"
#include "ToolDocument.h"
#include "TreeAccess.h"

// The tool's command ids.
enum ToolCommand : UINT {
    CmdAddChannel = 32771,
    CmdAddDevice = 32772,
    CmdAddDataBlock = 32773,
    CmdCopyDevice = 32774,
    CmdDelete = 32775,
    CmdModify = 32776,
    CmdConfigMode = 32777,
    CmdStatsMode = 32778,
    CmdTemplates = 32786,
    CmdSetup = 32788,
    CmdOleServer = 32789,
    CmdStart = 32793,
    CmdStop = 32794,
    CmdRefresh = 32798,
    CmdTracewellOn = 32799,
    CmdTracewellOff = 32800,
    CmdFileNew = 57600,
    CmdFileOpen = 57601,
    CmdFileSave = 57603,
    CmdFileSaveAs = 57604,
    CmdRecentFile1 = 57616,  // and the three after it
    CmdAppExit = 57665,
    CmdNextPane = 57680,
};

// The system's file dialog, in open or save mode, as the document asks it.
class IFileChooser {
public:
    virtual ~IFileChooser() = default;
    // False when the user cancelled; else path is the chosen file.
    virtual bool Choose(bool open, const std::string &fileName, const std::string &folder, std::string &path) = 0;
};

// The driver's defaults key "SOFTWARE\Veltrane\Drivers\QOR\DriverDefaults"
// on the connected machine.
class IDriverDefaults {
public:
    virtual ~IDriverDefaults() = default;
    // Opens the key on machine (empty: this one); false when it cannot.
    virtual bool Open(const std::string &machine) = 0;
    // False when the value is missing or not text.
    virtual bool Get(const std::string &name, std::string &value) = 0;
    virtual bool Put(const std::string &name, const std::string &value) = 0;
};

// The registry of this machine or, by name, another one.
class CRegistryDriverDefaults : public IDriverDefaults {
public:
    ~CRegistryDriverDefaults() override { Close(); }
    bool Open(const std::string &machine) override;
    bool Get(const std::string &name, std::string &value) override;
    bool Put(const std::string &name, const std::string &value) override;

private:
    void Close();
    HKEY m_root = NULL, m_key = NULL;
};

class CUserInterfaceDoc : public CToolDocument, public CCmdTarget {
public:
    static const char SaveQuestion[];      // string 213
    static const char *const DeleteQuestions[3];  // strings 220, 221, 222
    static const char FileFilter[];        // string 130, "###" for the acronym
    static const char ImportTitle[];       // "Import 6.x CSV File"
    static const char ImportQuestion[];    // "Import this 6.x CSV file?"
    static const char RegistryWriteFailed[];
    static const HRESULT OldCsvFile = HRESULT(0x8104000D);
    static const HRESULT ImportTextCode = HRESULT(0x8107000E);
    static const size_t RecentCount = 4;

    CUserInterfaceDoc(CServerConnection &connection, IMessageSink &messages, IErrorTexts &texts, CTreeAccess &tree,
                      IFileChooser &files, IDriverDefaults &defaults);

    // What the document asks of the program around it.
    struct Hooks {
        std::function<bool()> connect;            // the connection dialog; true when a server is attached
        std::function<void()> refreshViews;       // the view shows the selected object
        std::function<void()> closeProgram;       // the program ends
        std::function<int(bool copy)> objectDialog;  // the modify / copy dialog; IDOK or IDCANCEL
        std::function<void(bool wait)> waitCursor;
        std::function<void(DWORD topic)> helpTopic;  // the help window follows the context-help id
    };
    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void SetTree(CTreeAccess &tree) { m_tree = &tree; }
    CTreeAccess &Tree() { return *m_tree; }

    // The selected object of each kind.
    CChannelItem &Channel() { return m_channel; }
    CDeviceItem &Device() { return m_device; }
    CDataBlockItem &DataBlock() { return m_block; }
    // The templates for new objects, which the panes edit in template mode.
    CChannelItem &TemplateChannel() { return m_templateChannel; }
    CDeviceItem &TemplateDevice() { return m_templateDevice; }
    CDataBlockItem &TemplateDataBlock() { return m_templateBlock; }
    int Kind() const { return m_kind; }
    void SetKind(int kind) { m_kind = kind; }
    int Mode() const { return m_mode; }
    bool TreeBuilt() const { return m_treeBuilt; }
    void SetRunning(bool running) { m_running = running; }
    int InsertPosition() const { return m_insertPosition; }
    void SetInsertPosition(int position) { m_insertPosition = position; }
    // While the templates dialog is open the panes send nothing.
    bool TemplateMode() const { return m_templateMode; }
    void SetTemplateMode(bool on) { m_templateMode = on; }
    // The context-help id of the last command (control id + 100000).
    void SetHelpContext(DWORD id)
    {
        m_helpContext = id;
        if (m_hooks.helpTopic)
            m_hooks.helpTopic(id);
    }
    DWORD HelpContext() const { return m_helpContext; }
    // A pane's control notification: the help window follows what the user
    // does with a control, not a field whose text the program set (the
    // statistics change theirs at every tick, the forms at every selection).
    void SetHelpContextFromPane(int id, int code)
    {
        if (code != EN_CHANGE && code != EN_UPDATE)
            SetHelpContext(DWORD(100000 + id));
    }

    // True while the document itself changes the tree.
    bool Building() const { return m_building; }
    void SetBuilding(bool on) { m_building = on; }
    void RefreshAllViews() { RefreshViews(); }
    // The channels (with devices and blocks) under the root item; the
    // channel items made.
    std::vector<TreeItem> ReadChannels(TreeItem root, bool *complete = nullptr);

    // The enabling flags from the selection and the mode.
    void UpdateEnabling();
    bool AddChannelEnabled() const { return m_enableAddChannel; }
    bool AddDeviceEnabled() const { return m_enableAddDevice; }
    bool AddDataBlockEnabled() const { return m_enableAddDataBlock; }
    bool DeleteEnabled() const { return m_enableDelete; }
    bool CopyDeviceEnabled() const { return m_enableCopy; }
    bool ModifyEnabled() const { return m_enableModify; }

    // CCmdTarget
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI &ui) override;

    // The connection and what the server's machine holds for the tool: the
    // default file name and path, the statistics refresh rate.
    bool NewDocumentStep();
    // The user may keep, drop or refuse to lose an unsaved configuration;
    // false when the caller must stop.
    bool SaveModified();
    bool OpenByName(const std::string &path);
    bool Save();
    bool SaveAs();

    // The tree from the server: every channel, device and block.
    bool BuildTree(bool afterOpen = false);
    // The devices (with their blocks) of a channel item, the blocks of a
    // device item.
    bool AddDevicesOf(TreeItem channelItem, LONG channel);
    bool AddBlocksOf(TreeItem deviceItem, LONG device);
    // Reads again what lies under item (handle 0: the whole tree).
    void RefreshSubtree(TreeItem item, LONG handle);
    // The frame's 10-second poll: the running state and the server's file.
    void TimerPoll();

    // The defaults on the server (the Setup sheet's fields).
    bool ReadServerDefaults(std::string &name, std::string &path);
    bool WriteServerDefaults(const std::string &name, const std::string &path);
    // The defaults under the driver's key on the server's machine.
    bool WriteRegistryDefaults();
    const std::string &DefaultFileName() const { return m_defaultName; }
    const std::string &DefaultFilePath() const { return m_defaultPath; }
    void SetDefaults(const std::string &name, const std::string &path) { m_defaultName = name, m_defaultPath = path; }
    DWORD RefreshRate() const { return m_refreshRate; }
    // Takes rate when it is 10 to 60000, else 1000; marks the rate changed.
    void SetRefreshRate(DWORD rate);
    bool TakeRateChanged() { bool changed = m_rateChanged; m_rateChanged = false; return changed; }
    static DWORD ParseRefreshRate(const std::string &text);

    const std::vector<std::string> &RecentFiles() const { return m_recent; }
    void AddRecentFile(const std::string &path);

    // The object dialog's OK: the pane's values modify the selected object
    // or, copying, make a new device under the current channel with the
    // source device's blocks. False keeps the dialog open.
    bool FinishObjectDialog(class CObjectForm &form, bool copy);
    // A new device under the current channel with the pane's values and
    // copies of the current device's data blocks; nothing is left of it
    // when the server refuses a part.
    bool CopyDevice(const class CObjectForm &form);
    void SetDialogClosed(bool closed) { m_dialogClosed = closed; }
    bool DialogClosed() const { return m_dialogClosed; }
    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    // The proxies' label change reaches the tree.
    void RelabelItem(CObjectItem &item, const std::string &name) override;

private:
    // A list of (handle, name) from GetChannels, GetDevices or GetDataBlocks.
    typedef std::vector<std::pair<LONG, std::string>> ChildList;
    HRESULT ReadChildren(int parentKind, LONG parent, ChildList &children);
    // AddDevice or AddDataBlock with names and values as arrays; a refused
    // property's code is shown.
    HRESULT AddWithValues(int kind, LONG parent, const std::vector<std::string> &names,
                          const std::vector<std::string> &values, LONG *handle);
    bool ReadChildrenShown(int parentKind, LONG parent, ChildList &children);

    void AddObject(int kind);
    void DeleteSelected();
    void NewFile();
    void OpenFile();
    void ReconnectServer();
    void StartServer(bool start);
    void SetMode(int mode);
    // The tree after the server changed its file.
    void AfterFileChanged(bool selectRoot);
    void RefreshViews() { if (m_hooks.refreshViews) m_hooks.refreshViews(); }
    void Wait(bool on) { if (m_hooks.waitCursor) m_hooks.waitCursor(on); }
    int Ask(const std::string &text, UINT flags) { return m_messages.Box(text, ToolCaption, flags); }
    bool ChooseFile(bool open, std::string &path);
    TreeItem InsertObject(int kind, TreeItem parent, const std::string &name, LONG handle);

    CTreeAccess *m_tree;
    IFileChooser &m_files;
    IDriverDefaults &m_defaults;
    Hooks m_hooks;
    CChannelItem m_channel;
    CDeviceItem m_device;
    CDataBlockItem m_block;
    CChannelItem m_templateChannel{nullptr};
    CDeviceItem m_templateDevice{nullptr};
    CDataBlockItem m_templateBlock{nullptr};
    int m_kind = KindDriver;
    int m_mode = 1;
    bool m_treeBuilt = false;
    bool m_templateMode = false;
    bool m_dialogClosed = false, m_modified = false;
    DWORD m_helpContext = 0;
    bool m_building = false;
    bool m_polling = false;
    int m_insertPosition = InsertLast;
    bool m_enableAddChannel = false, m_enableAddDevice = false, m_enableAddDataBlock = false;
    bool m_enableDelete = false, m_enableCopy = false, m_enableModify = false;
    DWORD m_refreshRate = 1000;
    bool m_rateChanged = false;
    std::string m_defaultName, m_defaultPath;
    std::vector<std::string> m_recent;
};
