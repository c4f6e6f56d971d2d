#include "ServerTearOffs.h"

#include <new>

#include "ImpIOPCBrowse.h"
#include "ImpIOPCItemProperties.h"
#include "ImpIPersistFile.h"

CServerTearOffs::~CServerTearOffs()
{
    delete m_pBrowse;
    delete m_pProperties;
    delete m_pPersistFile;
}

bool CServerTearOffs::Serves(REFIID riid)
{
    return riid == IID_IOPCBrowseServerAddressSpace || riid == IID_IOPCItemProperties || riid == IID_IPersistFile;
}

void *CServerTearOffs::Get(REFIID riid)
{
    if (riid == IID_IOPCBrowseServerAddressSpace) {
        if (!m_pBrowse)
            m_pBrowse = new (std::nothrow) CImpIOPCBrowseServerAddressSpace(m_pOwner, m_pServer);
        return static_cast<IOPCBrowseServerAddressSpace *>(m_pBrowse);
    }
    if (riid == IID_IOPCItemProperties) {
        if (!m_pProperties)
            m_pProperties = new (std::nothrow) CImpIOPCItemProperties(m_pOwner, m_pServer);
        return static_cast<IOPCItemProperties *>(m_pProperties);
    }
    if (riid == IID_IPersistFile) {
        if (!m_pPersistFile)
            m_pPersistFile = new (std::nothrow) CImpIPersistFile(m_pOwner, m_pServer);
        return static_cast<IPersistFile *>(m_pPersistFile);
    }
    return nullptr;
}
