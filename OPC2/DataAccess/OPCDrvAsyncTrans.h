// COPCDrvAsyncTrans: one asynchronous request of a group, waiting in one of
// the group's transaction lists for the poll thread to complete it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "Object.h"
#include "OpcDataAccess.h"

class COPCDrvGroup;
class COPCDrvItem;

// Transaction types.
enum : DWORD {
    TRANS_WRITE1 = 0, TRANS_READ1 = 1, TRANS_WRITE2 = 3, TRANS_READ2 = 4, TRANS_CANCEL = 5, TRANS_REFRESH2 = 6
};

class COPCDrvAsyncTrans : public CObject {
    QOR_DECLARE_DYNAMIC(COPCDrvAsyncTrans)
public:
    explicit COPCDrvAsyncTrans(COPCDrvGroup *group);
    ~COPCDrvAsyncTrans() override;

    ULONG AddRef() { return InterlockedIncrement(&m_cRef); }
    ULONG Release();

    // Takes a request; with a client id it keeps it and draws a cancel id,
    // otherwise it draws the transaction id. Handles name the group's items.
    HRESULT SetUp(UINT format, DWORD type, DWORD source, DWORD count, const OPCHANDLE *handles,
                  const VARIANT *values, const DWORD *clientTransactionId);

    // The library-wide id counter, which never gives 0.
    static DWORD NextId();

    COPCDrvGroup *m_pGroup;  // not counted: the group owns the transaction
    DWORD m_dwTransactionId = 0;
    DWORD m_dwCancelId = 0;
    DWORD m_dwType = 0;
    DWORD m_dwSource = 1;
    UINT m_format = 1;
    std::vector<OPCHANDLE> m_handles;
    std::vector<COPCDrvItem *> m_items;  // held; null where a handle named no item
    std::vector<VARIANT> m_values;

private:
    void Clear();
    LONG m_cRef = 1;
};
