// The IOPCItemProperties tear-off of a COPCDrvServer: eight properties of
// the data block an item ID lies in, read from the I/O server by name.
#pragma once
#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvServer;

class CImpIOPCItemProperties : public CTearOff<IOPCItemProperties> {
public:
    CImpIOPCItemProperties(IUnknown *owner, COPCDrvServer *server);
    ~CImpIOPCItemProperties() override;

    STDMETHODIMP QueryAvailableProperties(LPWSTR itemId, DWORD *count, DWORD **ids, LPWSTR **descriptions,
                                          VARTYPE **types) override;
    STDMETHODIMP GetItemProperties(LPWSTR itemId, DWORD count, DWORD *ids, VARIANT **values,
                                   HRESULT **errors) override;
    STDMETHODIMP LookupItemIDs(LPWSTR itemId, DWORD count, DWORD *ids, LPWSTR **newItemIds,
                               HRESULT **errors) override;

private:
    HRESULT ReadProperties(LONG block, DWORD count, const DWORD *ids, VARIANT *values, HRESULT *errors);

    COPCDrvServer *m_pServer;
    VARIANT m_names;  // the eight server property names, in id order
};
