// COPCDrvGroup: one OPC group of a server object, with its state and its
// IOPCGroupStateMgt tear-off. A group taken out of its server's list stays a
// live object while the client holds it, answers E_FAIL to every call, and
// is freed at its last Release.
#pragma once
#include <windows.h>

#include <string>

#include "Object.h"
#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvServer;
class COPCDrvGroup;

class CImpIOPCGroupStateMgt : public CTearOff<IOPCGroupStateMgt> {
public:
    CImpIOPCGroupStateMgt(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IOPCGroupStateMgt>(owner), m_pGroup(group) {}
    STDMETHODIMP GetState(DWORD *rate, BOOL *active, LPWSTR *name, LONG *bias, FLOAT *deadband, DWORD *lcid,
                          OPCHANDLE *client, OPCHANDLE *server) override;
    STDMETHODIMP SetState(DWORD *rate, DWORD *revised, BOOL *active, LONG *bias, FLOAT *deadband, DWORD *lcid,
                          OPCHANDLE *client) override;
    STDMETHODIMP SetName(LPCWSTR name) override;
    STDMETHODIMP CloneGroup(LPCWSTR name, REFIID riid, LPUNKNOWN *out) override;

private:
    COPCDrvGroup *m_pGroup;
};

class COPCDrvGroup : public IUnknown, public CObject {
    QOR_DECLARE_DYNAMIC(COPCDrvGroup)
public:
    explicit COPCDrvGroup(COPCDrvServer *server);
    ~COPCDrvGroup() override;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // The group's server handle: its live-object handle.
    OPCHANDLE ServerHandle() const { return Handle(); }
    void SetUpdateRate(DWORD requested, DWORD *revised);
    void SetActive(BOOL active);
    // The poll thread's pass (server lock held): true when an active
    // group's update came due.
    bool GroupProcess();
    // Under the group lock: true when the group left its server.
    bool IsRemoved();
    // Runs body under the group lock unless the group left its server
    // (E_FAIL, every group method's answer then); body's result otherwise.
    template <class Body> HRESULT WhileInServer(Body body)
    {
        EnterCriticalSection(&m_cs);
        HRESULT hr = E_FAIL;
        try {
            if (!m_bRemoved)
                hr = body();
        } catch (...) {
            hr = E_FAIL;
        }
        LeaveCriticalSection(&m_cs);
        return hr;
    }

    std::string Name();
    void SetNameText(const std::string &name);

    CRITICAL_SECTION m_cs;
    COPCDrvServer *m_pServer;  // the server outlives its groups' use of it
    bool m_bInServer = false;  // marked while in the server's list
    bool m_bRemoved = false;   // taken out of the list: E_FAIL from now on
    std::string m_name;
    OPCHANDLE m_hClient = 0;
    DWORD m_dwUpdateRate = 0;
    BOOL m_bActive = FALSE;
    FLOAT m_fDeadband = 0;
    LONG m_lTimeBias = 0;
    DWORD m_dwLcid = 0;
    DWORD m_dwNextTick;
    DWORD m_dwMinRate = 0;  // the server's poll sleep time, copied at creation

private:
    LONG m_cRef = 0;
    CImpIOPCGroupStateMgt *m_pImpIOPCGroupStateMgt = nullptr;
};
