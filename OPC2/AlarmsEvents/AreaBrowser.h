// COPCDrvEventAreaBrowser: IOPCEventAreaBrowser over Aleron's flat area
// space. Four fixed areas under the root ("Driver", "Channels", "Devices",
// "DataBlocks") each hold one kind of source; the sources are asked of the
// I/O server at every call.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include "EventServerMethods.h"
#include "Object.h"
#include "OpcAe.h"

class COPCDrvEventAreaBrowser : public CObject, public IOPCEventAreaBrowser {
    QOR_DECLARE_DYNAMIC(COPCDrvEventAreaBrowser)
public:
    // At the root. owner (AddRef'd while the browser lives, may be null)
    // keeps state alive; state gives the I/O server.
    COPCDrvEventAreaBrowser(aleron::IEventServerState *state, IUnknown *owner);
    ~COPCDrvEventAreaBrowser() override;
    COPCDrvEventAreaBrowser(const COPCDrvEventAreaBrowser &) = delete;
    COPCDrvEventAreaBrowser &operator=(const COPCDrvEventAreaBrowser &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP ChangeBrowsePosition(OPCAEBROWSEDIRECTION direction, LPCWSTR name) override;
    STDMETHODIMP BrowseOPCAreas(OPCAEBROWSETYPE type, LPCWSTR filter, LPENUMSTRING *result) override;
    STDMETHODIMP GetQualifiedAreaName(LPCWSTR area, LPWSTR *result) override;
    STDMETHODIMP GetQualifiedSourceName(LPCWSTR source, LPWSTR *result) override;

private:
    HRESULT Down(const std::wstring &name);
    // The area entered (its index in the table), or -1 at the root.
    int m_area = -1;
    volatile LONG m_refs = 0;
    aleron::IEventServerState *m_state;
    IUnknown *m_owner;
    CRITICAL_SECTION m_lock;   // the position
};
