#include "NetworkTree.h"
#include <stdio.h>

const char CNetworkTree::RootText[] = "Network";
const char CNetworkTree::FailedFormat[] = "Network enumeration failed.  \n\nError code: %lu.";

namespace {

const char kOrderKey[] = "System\\CurrentControlSet\\control\\NetworkProvider\\Order";
const char kServicesKey[] = "System\\CurrentControlSet\\Services\\";

std::string Text(const char *text) { return text ? text : ""; }

bool ReadString(HKEY root, const std::string &key, const char *value, std::string &text)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    char buffer[512];
    DWORD type = 0, size = sizeof buffer - 1;
    LONG rc = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    buffer[size] = '\0';
    text = buffer;
    return true;
}

} // namespace

std::vector<std::string> CSystemNetworkSource::Providers()
{
    std::vector<std::string> providers;
    HKEY order;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOrderKey, 0, KEY_QUERY_VALUE, &order) != ERROR_SUCCESS)
        return providers;
    for (DWORD index = 0;; ++index) {
        char service[256];
        DWORD length = sizeof service;
        if (RegEnumValueA(order, index, service, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::string name;
        if (!ReadString(HKEY_LOCAL_MACHINE, std::string(kServicesKey) + service + "\\NetworkProvider", "Name", name))
            break;
        providers.push_back(name);
    }
    RegCloseKey(order);
    return providers;
}

DWORD CSystemNetworkSource::Enumerate(const NetResource &parent, std::vector<NetResource> &children)
{
    NETRESOURCEA resource = {};
    resource.dwScope = parent.scope;
    resource.dwType = parent.type;
    resource.dwDisplayType = parent.displayType;
    resource.dwUsage = parent.usage;
    std::string local = parent.localName, remote = parent.remoteName, comment = parent.comment,
                provider = parent.provider;
    resource.lpLocalName = local.empty() ? NULL : &local[0];
    resource.lpRemoteName = remote.empty() ? NULL : &remote[0];
    resource.lpComment = comment.empty() ? NULL : &comment[0];
    resource.lpProvider = provider.empty() ? NULL : &provider[0];
    HANDLE enumeration = NULL;
    DWORD rc = WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &resource, &enumeration);
    if (rc != NO_ERROR)
        return rc;
    // One batch: as many entries as a 16 KB buffer holds.
    std::vector<BYTE> buffer(16384);
    DWORD count = DWORD(-1), size = DWORD(buffer.size());
    rc = WNetEnumResourceA(enumeration, &count, buffer.data(), &size);
    if (rc == NO_ERROR) {
        const NETRESOURCEA *entries = reinterpret_cast<const NETRESOURCEA *>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            NetResource child;
            child.scope = entries[i].dwScope;
            child.type = entries[i].dwType;
            child.displayType = entries[i].dwDisplayType;
            child.usage = entries[i].dwUsage;
            child.localName = Text(entries[i].lpLocalName);
            child.remoteName = Text(entries[i].lpRemoteName);
            child.comment = Text(entries[i].lpComment);
            child.provider = Text(entries[i].lpProvider);
            children.push_back(child);
        }
    } else if (rc == ERROR_NO_MORE_ITEMS) {
        rc = NO_ERROR;
    }
    WNetCloseEnum(enumeration);
    return rc;
}

bool CSystemNetworkSource::ErrorText(DWORD code, std::string &text)
{
    char *buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, code, 0, reinterpret_cast<char *>(&buffer), 0, NULL);
    if (!length || !buffer)
        return false;
    text.assign(buffer, length);
    LocalFree(buffer);
    return true;
}

CNetworkTree::CNetworkTree(INetworkSource &source, IMessageSink &messages) : m_source(source), m_messages(messages)
{
    m_root.label = RootText;
    m_root.resource.scope = RESOURCE_GLOBALNET;
    m_root.resource.usage = RESOURCEUSAGE_CONTAINER;
}

bool CNetworkTree::Expand(Item &item)
{
    if (item.expandedOnce)
        return false;
    item.expandedOnce = true;
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    std::vector<NetResource> found;
    DWORD rc = NO_ERROR;
    if (&item == &m_root) {
        for (const std::string &provider : m_source.Providers()) {
            NetResource resource;
            resource.scope = RESOURCE_GLOBALNET;
            resource.displayType = RESOURCEDISPLAYTYPE_NETWORK;
            resource.usage = RESOURCEUSAGE_CONTAINER;
            resource.provider = provider;
            found.push_back(resource);
        }
        if (found.empty())
            rc = ERROR_NO_NETWORK;
    } else {
        rc = m_source.Enumerate(item.resource, found);
    }
    SetCursor(previous);
    if (rc != NO_ERROR) {
        std::string text;
        if (!m_source.ErrorText(rc, text) || text.empty()) {
            char buffer[128];
            snprintf(buffer, sizeof buffer, FailedFormat, static_cast<unsigned long>(rc));
            text = buffer;
        }
        m_messages.Box(text, "Error", MB_OK | MB_ICONEXCLAMATION);
        item.hasButton = false;
        return false;
    }
    for (const NetResource &resource : found) {
        std::unique_ptr<Item> child(new Item);
        child->resource = resource;
        child->parent = &item;
        if (&item == &m_root)
            child->label = resource.provider;
        else
            child->label = resource.remoteName.empty() ? "Unknown" : resource.remoteName;
        // A computer (\\name) has no children here: its shares are not servers.
        bool computer = resource.remoteName.compare(0, 2, "\\\\") == 0;
        child->hasButton = (resource.usage & RESOURCEUSAGE_CONTAINER) && !computer;
        child->expandedOnce = computer;
        item.children.push_back(std::move(child));
    }
    if (found.empty())
        item.hasButton = false;
    return !found.empty();
}
