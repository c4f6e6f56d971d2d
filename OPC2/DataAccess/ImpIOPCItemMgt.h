// The group's IOPCItemMgt tear-off: adds, validates and removes items, sets
// their active state, client handles and requested types, and enumerates
// their attributes.
#pragma once
#include <windows.h>

#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvGroup;
class COPCDrvItem;

class CImpIOPCItemMgt : public CTearOff<IOPCItemMgt> {
public:
    CImpIOPCItemMgt(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IOPCItemMgt>(owner), m_pGroup(group) {}

    STDMETHODIMP AddItems(DWORD count, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors) override;
    STDMETHODIMP ValidateItems(DWORD count, OPCITEMDEF *items, BOOL blobUpdate, OPCITEMRESULT **results,
                               HRESULT **errors) override;
    STDMETHODIMP RemoveItems(DWORD count, OPCHANDLE *handles, HRESULT **errors) override;
    STDMETHODIMP SetActiveState(DWORD count, OPCHANDLE *handles, BOOL active, HRESULT **errors) override;
    STDMETHODIMP SetClientHandles(DWORD count, OPCHANDLE *handles, OPCHANDLE *clients, HRESULT **errors) override;
    STDMETHODIMP SetDatatypes(DWORD count, OPCHANDLE *handles, VARTYPE *types, HRESULT **errors) override;
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN *out) override;

private:
    // AddItems and ValidateItems: each definition set up on an item of this
    // group, kept (add) or dropped.
    HRESULT SetUpItems(DWORD count, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors, bool add);
    // For each handle of a live item of this group, body's result; the
    // others OPC_E_INVALIDHANDLE. S_OK or S_FALSE, the errors allocated.
    template <class Body> HRESULT ForEachItem(DWORD count, const OPCHANDLE *handles, HRESULT **errors, Body body);

    COPCDrvGroup *m_pGroup;
};
