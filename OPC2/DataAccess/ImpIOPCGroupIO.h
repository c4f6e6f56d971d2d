// The group's read and write tear-offs: IOPCSyncIO, answered at once, and
// IOPCAsyncIO2, whose transactions the poll thread completes through the
// group's IOPCDataCallback sink.
#pragma once
#include <windows.h>

#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvGroup;

class CImpIOPCSyncIO : public CTearOff<IOPCSyncIO> {
public:
    CImpIOPCSyncIO(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IOPCSyncIO>(owner), m_pGroup(group) {}
    STDMETHODIMP Read(OPCDATASOURCE source, DWORD count, OPCHANDLE *handles, OPCITEMSTATE **states,
                      HRESULT **errors) override;
    STDMETHODIMP Write(DWORD count, OPCHANDLE *handles, VARIANT *values, HRESULT **errors) override;

private:
    COPCDrvGroup *m_pGroup;
};

// OPC 1.0: transactions answered through the group's IDataObject streams.
class CImpIOPCAsyncIO : public CTearOff<IOPCAsyncIO> {
public:
    CImpIOPCAsyncIO(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IOPCAsyncIO>(owner), m_pGroup(group) {}
    STDMETHODIMP Read(DWORD connection, OPCDATASOURCE source, DWORD count, OPCHANDLE *handles, DWORD *transactionId,
                      HRESULT **errors) override;
    STDMETHODIMP Write(DWORD connection, DWORD count, OPCHANDLE *handles, VARIANT *values, DWORD *transactionId,
                       HRESULT **errors) override;
    STDMETHODIMP Refresh(DWORD connection, OPCDATASOURCE source, DWORD *transactionId) override;
    STDMETHODIMP Cancel(DWORD transactionId) override;

private:
    HRESULT Queue(DWORD type, DWORD connection, DWORD source, DWORD count, OPCHANDLE *handles, VARIANT *values,
                  DWORD *transactionId, HRESULT **errors);
    COPCDrvGroup *m_pGroup;
};

class CImpIOPCAsyncIO2 : public CTearOff<IOPCAsyncIO2> {
public:
    CImpIOPCAsyncIO2(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IOPCAsyncIO2>(owner), m_pGroup(group) {}
    STDMETHODIMP Read(DWORD count, OPCHANDLE *handles, DWORD transactionId, DWORD *cancelId,
                      HRESULT **errors) override;
    STDMETHODIMP Write(DWORD count, OPCHANDLE *handles, VARIANT *values, DWORD transactionId, DWORD *cancelId,
                       HRESULT **errors) override;
    STDMETHODIMP Refresh2(OPCDATASOURCE source, DWORD transactionId, DWORD *cancelId) override;
    STDMETHODIMP Cancel2(DWORD cancelId) override;
    STDMETHODIMP SetEnable(BOOL enable) override;
    STDMETHODIMP GetEnable(BOOL *enable) override;

private:
    // Read and Write: checks, handle checks, the queued transaction.
    HRESULT Queue(DWORD type, DWORD count, OPCHANDLE *handles, VARIANT *values, DWORD transactionId,
                  DWORD *cancelId, HRESULT **errors);
    COPCDrvGroup *m_pGroup;
};
