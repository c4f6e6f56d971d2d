// The IPersistFile tear-off of a COPCDrvServer: loads and saves the I/O
// server's configuration file. It keeps no file state of its own; every call
// goes to the I/O server.
#pragma once
#include <objidl.h>

#include "TearOff.h"

class COPCDrvServer;

class CImpIPersistFile : public CTearOff<IPersistFile> {
public:
    CImpIPersistFile(IUnknown *owner, COPCDrvServer *server);

    STDMETHODIMP GetClassID(CLSID *clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR fileName, DWORD mode) override;
    STDMETHODIMP Save(LPCOLESTR fileName, BOOL remember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR fileName) override;
    STDMETHODIMP GetCurFile(LPOLESTR *fileName) override;

private:
    COPCDrvServer *m_pServer;
};

// Whether a configuration file of that name may be loaded: a name whose
// file part has an extension must have exactly "QOR".
bool IsConfigFileName(const char *name);
