// Proxies of the server's channels, devices and data blocks: each keeps the
// object's configurable properties as text, reads them from the server in one
// GetPropertyData call, and sends back only what changed. Booleans are kept
// as "1" and "0". The document (IItemDocument) gives the server pointer, the
// error boxes, the status refresh and the tree label.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "QORDriver.h"

class CObjectItem;

class IItemDocument {
public:
    virtual ~IItemDocument() = default;
    // The attached server, or null.
    virtual IQORDriver *Server() = 0;
    // Shows the error text of a result code.
    virtual void ShowError(HRESULT code) = 0;
    // Shows a plain text (the proxies' own failures).
    virtual void ShowText(const std::string &text) = 0;
    // After each successful read: the server's running state and file name.
    virtual void RefreshServerStatus() = 0;
    // The object's tree item takes the name the server accepted.
    virtual void RelabelItem(CObjectItem &item, const std::string &name) = 0;
};

class CObjectItem {
public:
    static const char ArrayFailedText[];

    virtual ~CObjectItem() = default;

    void SetHandle(LONG handle) { m_handle = handle; }
    LONG GetHandle() const { return m_handle; }
    // The object's tree item, kept for the document.
    void SetTreeItem(void *item) { m_treeItem = item; }
    void *GetTreeItem() const { return m_treeItem; }

    // Refreshes every value from the server. False when the call failed or
    // an array could not be made (nothing changed then); a refused property
    // keeps no text, the others are read on.
    bool Read();
    // Sends the changed values; 1 on success, 0 on failure.
    int Modify();

    size_t Count() const { return m_names.size(); }
    const char *Name(size_t index) const { return m_names[index]; }
    // The stored text of a property by name (empty for an unknown name).
    std::string Current(const char *name) const;
    std::string LastRead(const char *name) const;
    void SetCurrent(const char *name, const std::string &text);

    void SetName(const std::string &text) { SetCurrent("Name", text); }
    std::string GetName() const { return Current("Name"); }
    void SetDescription(const std::string &text) { SetCurrent("Description", text); }
    std::string GetDescription() const { return Current("Description"); }
    void SetEnabled(BOOL on) { SetFlag("Enabled", on); }
    BOOL GetEnabled() const { return GetFlag("Enabled"); }

protected:
    CObjectItem(IItemDocument *document, const char *const *names, size_t count);
    void SetFlag(const char *name, BOOL on) { SetCurrent(name, on ? "1" : "0"); }
    BOOL GetFlag(const char *name) const { return Current(name) == "1"; }
    // The stored text, or shown when it is empty.
    std::string Shown(const char *name, const char *shown) const;

private:
    int Index(const char *name) const;

    IItemDocument *m_document;
    std::vector<const char *> m_names;
    std::vector<std::string> m_current, m_lastRead;
    LONG m_handle = 0;
    void *m_treeItem = nullptr;
};

class CChannelItem : public CObjectItem {
public:
    static const char *const Properties[7];
    explicit CChannelItem(IItemDocument *document) : CObjectItem(document, Properties, 7) {}
    void SetCPName(bool primary, const std::string &text) { SetCurrent(primary ? "PrimaryCPName" : "BackupCPName", text); }
    std::string GetCPName(bool primary) const { return Current(primary ? "PrimaryCPName" : "BackupCPName"); }
    void SetVFDName(bool primary, const std::string &text) { SetCurrent(primary ? "PrimaryVFDName" : "BackupVFDName", text); }
    std::string GetVFDName(bool primary) const { return Current(primary ? "PrimaryVFDName" : "BackupVFDName"); }
};

class CDeviceItem : public CObjectItem {
public:
    static const char *const Properties[11];
    explicit CDeviceItem(IItemDocument *document) : CObjectItem(document, Properties, 11) {}
    void SetConnName(bool primary, const std::string &text) { SetCurrent(Pick(primary, "ConnName").c_str(), text); }
    std::string GetConnName(bool primary) const { return Shown(Pick(primary, "ConnName").c_str(), "None"); }
    void SetReplyTimeout(bool primary, const std::string &text) { SetCurrent(Pick(primary, "ReplyTimeout").c_str(), text); }
    std::string GetReplyTimeout(bool primary) const { return Shown(Pick(primary, "ReplyTimeout").c_str(), "10.0"); }
    void SetRetries(bool primary, const std::string &text) { SetCurrent(Pick(primary, "Retries").c_str(), text); }
    std::string GetRetries(bool primary) const { return Shown(Pick(primary, "Retries").c_str(), "3"); }
    void SetDelay(bool primary, const std::string &text) { SetCurrent(Pick(primary, "Delay").c_str(), text); }
    std::string GetDelay(bool primary) const { return Shown(Pick(primary, "Delay").c_str(), "10.0"); }

private:
    static std::string Pick(bool primary, const char *name) { return std::string(primary ? "Primary" : "Backup") + name; }
};

class CDataBlockItem : public CObjectItem {
public:
    static const char *const Properties[15];
    explicit CDataBlockItem(IItemDocument *document) : CObjectItem(document, Properties, 15) {}
    void SetStartAddress(const std::string &text) { SetCurrent("StartAddress", text); }
    std::string GetStartAddress() const { return Current("StartAddress"); }
    void SetEndAddress(const std::string &text) { SetCurrent("EndAddress", text); }
    std::string GetEndAddress() const { return Current("EndAddress"); }
    void SetLength(const std::string &text) { SetCurrent("Length", text); }
    std::string GetLength() const { return Current("Length"); }
    void SetPollTime(bool primary, const std::string &text) { SetCurrent(primary ? "PrimaryPollTime" : "SecondaryPollTime", text); }
    std::string GetPollTime(bool primary) const { return Shown(primary ? "PrimaryPollTime" : "SecondaryPollTime", "Disabled"); }
    void SetPhase(const std::string &text) { SetCurrent("Phase", text); }
    std::string GetPhase() const { return Current("Phase"); }
    void SetAccessTime(const std::string &text) { SetCurrent("AccessTime", text); }
    std::string GetAccessTime() const { return Shown("AccessTime", "Disabled"); }
    void SetLatchData(BOOL on) { SetFlag("LatchData", on); }
    BOOL GetLatchData() const { return GetFlag("LatchData"); }
    void SetOutputDisabled(BOOL on) { SetFlag("OutputDisabled", on); }
    BOOL GetOutputDisabled() const { return GetFlag("OutputDisabled"); }
    void SetDeadBand(const std::string &text) { SetCurrent("DeadBand", text); }
    std::string GetDeadBand() const { return Shown("DeadBand", "1.0"); }
    void SetBlockWritesEnabled(BOOL on) { SetFlag("BlockWritesEnabled", on); }
    BOOL GetBlockWritesEnabled() const { return GetFlag("BlockWritesEnabled"); }
    // The S7 data-type code; anything outside 0 to 13 reads as 2.
    void SetDataType(int code);
    int GetDataType() const;
};
