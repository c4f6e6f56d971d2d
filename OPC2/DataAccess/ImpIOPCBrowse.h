// The IOPCBrowseServerAddressSpace tear-off of a COPCDrvServer: devices of
// every channel are the branches, the data blocks of a device its leaves,
// shown as their address ranges. The position belongs to this tear-off, so
// each server object browses on its own.
#pragma once
#include <string>
#include <vector>

#include "OpcDataAccess.h"
#include "OpcKit.h"
#include "TearOff.h"

class COPCDrvServer;

class CImpIOPCBrowseServerAddressSpace : public CTearOff<IOPCBrowseServerAddressSpace> {
public:
    CImpIOPCBrowseServerAddressSpace(IUnknown *owner, COPCDrvServer *server);
    ~CImpIOPCBrowseServerAddressSpace() override;

    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE *organization) override;
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR name) override;
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE dataType, DWORD accessRights,
                                  LPENUMSTRING *items) override;
    STDMETHODIMP GetItemID(LPWSTR itemDataId, LPWSTR *itemId) override;
    STDMETHODIMP BrowseAccessPaths(LPCWSTR itemId, LPENUMSTRING *paths) override;

private:
    // The leaves of a device: "Start - End", with the hint when asked and
    // the text (without it) passes the filter.
    HRESULT ListLeaves(const std::string &device, std::vector<std::string> &leaves);
    HRESULT ListFlat(std::vector<std::string> &list);
    HRESULT ItemIDOf(const std::string &id, std::string &result);

    COPCDrvServer *m_pServer;
    int m_level = 0;  // 0 at the root, 1 inside a device
    std::string m_device;
    VARIANT m_blockNames;  // "StartAddress", "EndAddress"
    DWORD m_returnHints = 1;
    DWORD m_returnOptions = 0;
    CNameFilter m_filter;
};
