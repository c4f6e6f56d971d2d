// COPCDrvGroup: one OPC group of a server object, with its state and its
// IOPCGroupStateMgt tear-off. A group taken out of its server's list stays a
// live object while the client holds it, answers E_FAIL to every call, and
// is freed at its last Release.
#pragma once
#include <windows.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "ConnectionPoint.h"
#include "OPCDrvAsyncTrans.h"
#include "Object.h"
#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvServer;
class COPCDrvGroup;
class COPCDrvItem;
class COPCDrvAsyncTrans;
class CImpIOPCItemMgt;
class CImpIOPCSyncIO;
class CImpIOPCAsyncIO2;
class CImpIOPCAsyncIO;
class CImpIDataObject;

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
    // Activation marks every active item for the client, deactivation
    // clears every pending change.
    void SetActive(BOOL active);
    // The poll thread's pass (server lock held): true when an active
    // group's update came due.
    bool GroupProcess();

    // Items. Handles are the items' live-object handles; an item of another
    // group, or one no longer in this group, is no item of this group.
    HRESULT CreateItem(COPCDrvItem **item);
    HRESULT AddItem(COPCDrvItem *item);
    HRESULT RemoveItem(OPCHANDLE handle, bool force);
    HRESULT RemoveAllItems();
    ULONG ItemCount();
    // Under the group lock: the item of this group with that handle, or null.
    COPCDrvItem *FindItem(OPCHANDLE handle);
    // Sets an item's active state, marking or clearing its changes.
    void SetItemActive(COPCDrvItem *item, BOOL active);
    // The clone's copy: state without name and active flag, then the items.
    HRESULT CopyFrom(COPCDrvGroup &from);

    // Change flags (CHANGE_*), for one item or (item null) every item.
    void MarkChanged(WORD flags, COPCDrvItem *item, ULONG *pending = nullptr);
    void ClearChanged(WORD flags, COPCDrvItem *item);
    bool IsChanged(WORD flag, COPCDrvItem *item);
    ULONG ChangeCount(WORD flag);

    // Transactions, by list kind 1, 2, 4, 8, 16.
    HRESULT AddTransaction(DWORD kind, COPCDrvAsyncTrans *trans);
    HRESULT RemoveTransaction(DWORD kind, COPCDrvAsyncTrans *trans, bool release);
    // Lists 1, 2, 4, 8 named by kinds, in that order: the first transaction
    // whose transaction id or cancel id is id; E_FAIL when none.
    HRESULT FindByTransactionId(DWORD id, DWORD kinds, COPCDrvAsyncTrans **trans, DWORD *kind = nullptr)
    {
        return FindTransaction(&COPCDrvAsyncTrans::m_dwTransactionId, id, kinds, trans, kind);
    }
    HRESULT FindByCancelId(DWORD id, DWORD kinds, COPCDrvAsyncTrans **trans, DWORD *kind = nullptr)
    {
        return FindTransaction(&COPCDrvAsyncTrans::m_dwCancelId, id, kinds, trans, kind);
    }
    HRESULT CancelTransaction(DWORD kind, COPCDrvAsyncTrans *trans);
    ULONG TransactionCount(DWORD kind);

    // The IOPCDataCallback point, made on the first request for the container.
    CImpIConnectionPoint *DataCallbackPoint() { return m_pDataCallbackPoint; }
    // The OPC 1.0 streams' tear-off, once asked for.
    CImpIDataObject *DataObject() { return m_pImpIDataObject; }
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

    // The pass's steps (group lock held).
    void UpdateDataCache();
    void DataChangeProcess();
    void OnDataChange();
    void AsyncProcess();
    // One OPC 2.0 transaction answered through sink.
    void CompleteTransaction(COPCDrvAsyncTrans *trans, IOPCDataCallback *sink);

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

    std::vector<COPCDrvItem *> m_items;         // each with the list's reference
    std::unordered_set<COPCDrvItem *> m_itemSet;  // the same items, for handle checks
    ULONG m_changeCount[3] = {0, 0, 0};         // by flag 1, 2, 4
    std::vector<COPCDrvAsyncTrans *> m_trans[5];  // lists 1, 2, 4, 8, 16

private:
    template <class T> T *TearOff(T *&slot);
    HRESULT FindTransaction(DWORD COPCDrvAsyncTrans::*field, DWORD id, DWORD kinds, COPCDrvAsyncTrans **trans,
                            DWORD *kind);
    static int ListIndex(DWORD kind);
    static int FlagIndex(WORD flag) { return flag == 1 ? 0 : flag == 2 ? 1 : 2; }

    LONG m_cRef = 0;
    CImpIOPCGroupStateMgt *m_pImpIOPCGroupStateMgt = nullptr;
    CImpIOPCItemMgt *m_pImpIOPCItemMgt = nullptr;
    CImpIOPCSyncIO *m_pImpIOPCSyncIO = nullptr;
    CImpIOPCAsyncIO2 *m_pImpIOPCAsyncIO2 = nullptr;
    CImpIOPCAsyncIO *m_pImpIOPCAsyncIO = nullptr;
    CImpIDataObject *m_pImpIDataObject = nullptr;
    CImpIConnectionPointContainer *m_pImpIConnPointContainer = nullptr;
    CImpIConnectionPoint *m_pDataCallbackPoint = nullptr;
};
