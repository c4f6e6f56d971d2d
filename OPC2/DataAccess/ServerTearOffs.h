// The tear-offs of a COPCDrvServer for browsing, item properties and the
// configuration file, each made on its first request and kept until the
// server object goes.
#pragma once
#include <windows.h>
#include <unknwn.h>

class COPCDrvServer;
class CImpIOPCBrowseServerAddressSpace;
class CImpIOPCItemProperties;
class CImpIPersistFile;

class CServerTearOffs {
public:
    CServerTearOffs(IUnknown *owner, COPCDrvServer *server) : m_pOwner(owner), m_pServer(server) {}
    ~CServerTearOffs();
    CServerTearOffs(const CServerTearOffs &) = delete;
    CServerTearOffs &operator=(const CServerTearOffs &) = delete;

    static bool Serves(REFIID riid);
    // The tear-off for riid (not AddRef'd), null when it cannot be made.
    void *Get(REFIID riid);

private:
    IUnknown *m_pOwner;
    COPCDrvServer *m_pServer;
    CImpIOPCBrowseServerAddressSpace *m_pBrowse = nullptr;
    CImpIOPCItemProperties *m_pProperties = nullptr;
    CImpIPersistFile *m_pPersistFile = nullptr;
};
