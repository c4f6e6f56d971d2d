// The IOPCServer tear-off of a COPCDrvServer.
#pragma once
#include "OpcDataAccess.h"
#include "TearOff.h"

#include <string>

class COPCDrvServer;

class CImpIOPCServer : public CTearOff<IOPCServer> {
public:
    CImpIOPCServer(IUnknown *owner, COPCDrvServer *server);

    STDMETHODIMP AddGroup(LPCWSTR name, BOOL active, DWORD requestedRate, OPCHANDLE clientGroup, LONG *timeBias,
                          FLOAT *percentDeadband, DWORD lcid, OPCHANDLE *serverGroup, DWORD *revisedRate,
                          REFIID riid, LPUNKNOWN *unknown) override;
    STDMETHODIMP GetErrorString(HRESULT code, LCID locale, LPWSTR *text) override;
    STDMETHODIMP GetGroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN *unknown) override;
    STDMETHODIMP GetStatus(OPCSERVERSTATUS **status) override;
    STDMETHODIMP RemoveGroup(OPCHANDLE serverGroup, BOOL force) override;
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, LPUNKNOWN *unknown) override;

    const std::string &VendorText() const { return m_vendor; }

private:
    COPCDrvServer *m_pServer;
    std::string m_vendor;
};

// Wide and ANSI texts of the OPC interfaces.
std::string WideToText(LPCWSTR text);
