// The network browser of the connection dialog: a tree under "Network" of
// the network providers, then what each resource holds, enumerated once per
// item when it is first expanded. INetworkSource is the seam over the
// registry's provider list and the WNet enumeration (Wine has no network
// providers); CNetworkTree holds the items without any window, and the
// dialog mirrors them in its tree control.
#pragma once
#include <windows.h>
#include <winnetwk.h>
#include <memory>
#include <string>
#include <vector>
#include "UiSinks.h"

struct NetResource {
    DWORD scope = RESOURCE_GLOBALNET;
    DWORD type = RESOURCETYPE_ANY;
    DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
    DWORD usage = RESOURCEUSAGE_CONTAINER;
    std::string localName, remoteName, comment, provider;
};

class INetworkSource {
public:
    virtual ~INetworkSource() = default;
    // The network providers' display names in their order.
    virtual std::vector<std::string> Providers() = 0;
    // Every resource of any type in the global network below parent, in one
    // batch; 0 or the system error.
    virtual DWORD Enumerate(const NetResource &parent, std::vector<NetResource> &children) = 0;
    // The system's text for an error; false when there is none.
    virtual bool ErrorText(DWORD code, std::string &text) = 0;
};

// The registry's provider list and WNetOpenEnum / WNetEnumResource.
class CSystemNetworkSource : public INetworkSource {
public:
    std::vector<std::string> Providers() override;
    DWORD Enumerate(const NetResource &parent, std::vector<NetResource> &children) override;
    bool ErrorText(DWORD code, std::string &text) override;
};

class CNetworkTree {
public:
    struct Item {
        NetResource resource;
        std::string label;
        bool expandedOnce = false;
        bool hasButton = true;   // shows an expand button
        Item *parent = nullptr;
        std::vector<std::unique_ptr<Item>> children;
        void *handle = nullptr;  // the tree control's item
    };
    static const char RootText[];     // "Network"
    static const char FailedFormat[]; // the text when the system has none

    CNetworkTree(INetworkSource &source, IMessageSink &messages);
    Item &Root() { return m_root; }
    // The first expansion of item lists its children (true when it added
    // any); later ones do nothing. An error is shown and marks the item
    // expanded once all the same.
    bool Expand(Item &item);
    // The text the machine name takes when item is selected.
    static std::string SelectedName(const Item &item) { return item.resource.remoteName; }

private:
    INetworkSource &m_source;
    IMessageSink &m_messages;
    Item m_root;
};
