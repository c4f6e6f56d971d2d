#include "ImpIOPCGroupIO.h"

#include <cstring>
#include <new>
#include <vector>

#include "ImpIDataObject.h"
#include "OPCDrvAsyncTrans.h"
#include "OPCDrvGroup.h"
#include "OPCDrvItem.h"
#include "OpcKit.h"
#include "Brisko.h"

namespace {

bool SinkConnected(COPCDrvGroup *g) { return g->DataCallbackPoint() && g->DataCallbackPoint()->IsConnected(); }

}  // namespace

// IOPCSyncIO

STDMETHODIMP CImpIOPCSyncIO::Read(OPCDATASOURCE source, DWORD count, OPCHANDLE *handles, OPCITEMSTATE **states,
                                  HRESULT **errors)
{
    if (states)
        *states = nullptr;
    if (errors)
        *errors = nullptr;
    if (!errors || !states || !handles)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
        OPCITEMSTATE *s = KitAllocZeroed<OPCITEMSTATE>(g_pIMalloc, count);
        if (!e || !s) {
            KitFree(g_pIMalloc, e);
            KitFree(g_pIMalloc, s);
            return E_OUTOFMEMORY;
        }
        HRESULT result = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            VariantInit(&s[i].vDataValue);
            COPCDrvItem *item = g->FindItem(handles[i]);
            if (!item) {
                e[i] = OPC_E_UNKNOWNITEMID;
            } else {
                e[i] = item->GetValue(DWORD(source), &s[i].vDataValue, &s[i].wQuality, &s[i].ftTimeStamp);
                s[i].hClient = item->ClientHandle();
                if (source == OPC_DS_CACHE && !g->m_bActive)
                    s[i].wQuality = OPC_QUALITY_OUT_OF_SERVICE;
            }
            if (e[i] != S_OK)
                result = S_FALSE;
        }
        *states = s;
        *errors = e;
        return result;
    });
}

STDMETHODIMP CImpIOPCSyncIO::Write(DWORD count, OPCHANDLE *handles, VARIANT *values, HRESULT **errors)
{
    if (errors)
        *errors = nullptr;
    if (!handles || !values || !errors)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (count == 0)
        return E_INVALIDARG;
    return g->WhileInServer([&]() -> HRESULT {
        HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
        if (!e)
            return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            COPCDrvItem *item = g->FindItem(handles[i]);
            // A live item's failed write is its own failure; only a handle
            // that names no item is an invalid handle.
            e[i] = item ? item->WriteValue(&values[i]) : OPC_E_INVALIDHANDLE;
            if (e[i] != S_OK)
                result = S_FALSE;
        }
        *errors = e;
        return result;
    });
}

// IOPCAsyncIO

// Whether connection names an advised stream of the call's kind: a read or
// refresh answers through a data stream, a write through the write-complete
// stream. A request that no stream would answer is refused, not queued.
static bool StreamAdvised(COPCDrvGroup *g, DWORD type, DWORD connection)
{
    CImpIDataObject *data = g->DataObject();
    if (!data)
        return false;
    if (type == TRANS_WRITE1)
        return connection == g_cfWriteComplete && data->IsAdvised(CImpIDataObject::SlotWriteComplete);
    return (connection == g_cfData && data->IsAdvised(CImpIDataObject::SlotData)) ||
           (connection == g_cfDataTime && data->IsAdvised(CImpIDataObject::SlotDataTime));
}

HRESULT CImpIOPCAsyncIO::Queue(DWORD type, DWORD connection, DWORD source, DWORD count, OPCHANDLE *handles,
                               VARIANT *values, DWORD *transactionId, HRESULT **errors)
{
    if (transactionId)
        *transactionId = 0;
    if (errors)
        *errors = nullptr;
    if (!handles || (type == TRANS_WRITE1 && !values) || !transactionId || !errors)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (count == 0)
        return type == TRANS_WRITE1 ? E_INVALIDARG : E_FAIL;
    return g->WhileInServer([&]() -> HRESULT {
        if (!StreamAdvised(g, type, connection))
            return CONNECT_E_NOCONNECTION;
        HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
        if (!e)
            return E_OUTOFMEMORY;
        *errors = e;
        bool bad = false;
        for (DWORD i = 0; i < count; ++i)
            if ((e[i] = g->FindItem(handles[i]) ? S_OK : OPC_E_INVALIDHANDLE) != S_OK)
                bad = true;
        if (bad)
            return S_FALSE;
        COPCDrvAsyncTrans *trans = new (std::nothrow) COPCDrvAsyncTrans(g);
        if (!trans)
            return E_OUTOFMEMORY;
        HRESULT hr = trans->SetUp(UINT(connection), type, source, count, handles, values, nullptr);
        if (SUCCEEDED(hr))
            hr = g->AddTransaction(type == TRANS_WRITE1 ? 2 : 1, trans);
        if (FAILED(hr)) {
            trans->Release();
            return E_FAIL;
        }
        *transactionId = trans->m_dwTransactionId;
        return S_OK;
    });
}

STDMETHODIMP CImpIOPCAsyncIO::Read(DWORD connection, OPCDATASOURCE source, DWORD count, OPCHANDLE *handles,
                                   DWORD *transactionId, HRESULT **errors)
{
    return Queue(TRANS_READ1, connection, DWORD(source), count, handles, nullptr, transactionId, errors);
}

STDMETHODIMP CImpIOPCAsyncIO::Write(DWORD connection, DWORD count, OPCHANDLE *handles, VARIANT *values,
                                    DWORD *transactionId, HRESULT **errors)
{
    return Queue(TRANS_WRITE1, connection, SOURCE_CACHE, count, handles, values, transactionId, errors);
}

STDMETHODIMP CImpIOPCAsyncIO::Refresh(DWORD connection, OPCDATASOURCE source, DWORD *transactionId)
{
    if (transactionId)
        *transactionId = 0;
    if (!transactionId)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    std::vector<OPCHANDLE> handles;
    HRESULT hr = g->WhileInServer([&]() -> HRESULT {
        if (!StreamAdvised(g, TRANS_READ1, connection))
            return CONNECT_E_NOCONNECTION;
        if (!g->m_bActive)
            return E_FAIL;
        for (COPCDrvItem *item : g->m_items)
            if (item->IsActive())
                handles.push_back(item->ServerHandle());
        return handles.empty() ? E_FAIL : S_OK;
    });
    if (hr != S_OK)
        return hr;
    HRESULT *errors = nullptr;
    hr = Read(connection, source, DWORD(handles.size()), handles.data(), transactionId, &errors);
    KitFree(g_pIMalloc, errors);
    return hr == S_OK ? S_OK : E_FAIL;
}

STDMETHODIMP CImpIOPCAsyncIO::Cancel(DWORD transactionId)
{
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        COPCDrvAsyncTrans *trans = nullptr;
        DWORD kind = 0;
        if (FAILED(g->FindByTransactionId(transactionId, 1 | 2, &trans, &kind)))
            return E_FAIL;
        return g->RemoveTransaction(kind, trans, true);
    });
}

// IOPCAsyncIO2

HRESULT CImpIOPCAsyncIO2::Queue(DWORD type, DWORD count, OPCHANDLE *handles, VARIANT *values, DWORD transactionId,
                                DWORD *cancelId, HRESULT **errors)
{
    if (cancelId)
        *cancelId = 0;
    if (errors)
        *errors = nullptr;
    if (!handles || (type == TRANS_WRITE2 && !values) || !cancelId || !errors)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (count == 0 || transactionId == 0)
        return E_INVALIDARG;
    if (!SinkConnected(g))
        return CONNECT_E_NOCONNECTION;
    return g->WhileInServer([&]() -> HRESULT {
        HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
        if (!e)
            return E_OUTOFMEMORY;
        DWORD bad = 0;
        for (DWORD i = 0; i < count; ++i)
            if ((e[i] = g->FindItem(handles[i]) ? S_OK : OPC_E_INVALIDHANDLE) != S_OK)
                ++bad;
        if (bad == count) {
            *errors = e;
            return OPC_E_INVALIDHANDLE;
        }
        COPCDrvAsyncTrans *trans = new (std::nothrow) COPCDrvAsyncTrans(g);
        if (!trans) {
            KitFree(g_pIMalloc, e);
            return E_OUTOFMEMORY;
        }
        HRESULT hr = trans->SetUp(0, type, type == TRANS_READ2 ? SOURCE_DEVICE : SOURCE_CACHE, count, handles, values,
                                  &transactionId);
        if (SUCCEEDED(hr))
            hr = g->AddTransaction(type == TRANS_READ2 ? 4 : 8, trans);
        if (FAILED(hr)) {
            trans->Release();
            KitFree(g_pIMalloc, e);
            return hr == E_OUTOFMEMORY ? hr : E_FAIL;
        }
        *cancelId = trans->m_dwCancelId;
        *errors = e;
        return bad ? S_FALSE : S_OK;
    });
}

STDMETHODIMP CImpIOPCAsyncIO2::Read(DWORD count, OPCHANDLE *handles, DWORD transactionId, DWORD *cancelId,
                                    HRESULT **errors)
{
    return Queue(TRANS_READ2, count, handles, nullptr, transactionId, cancelId, errors);
}

STDMETHODIMP CImpIOPCAsyncIO2::Write(DWORD count, OPCHANDLE *handles, VARIANT *values, DWORD transactionId,
                                     DWORD *cancelId, HRESULT **errors)
{
    return Queue(TRANS_WRITE2, count, handles, values, transactionId, cancelId, errors);
}

STDMETHODIMP CImpIOPCAsyncIO2::Refresh2(OPCDATASOURCE source, DWORD transactionId, DWORD *cancelId)
{
    if (cancelId)
        *cancelId = 0;
    if (!cancelId)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (transactionId == 0)
        return E_INVALIDARG;
    if (!SinkConnected(g))
        return CONNECT_E_NOCONNECTION;
    return g->WhileInServer([&]() -> HRESULT {
        if (!g->m_bActive)
            return E_FAIL;
        std::vector<OPCHANDLE> handles;
        for (COPCDrvItem *item : g->m_items)
            if (item->IsActive())
                handles.push_back(item->ServerHandle());
        if (handles.empty())
            return E_FAIL;
        COPCDrvAsyncTrans *trans = new (std::nothrow) COPCDrvAsyncTrans(g);
        if (!trans)
            return E_OUTOFMEMORY;
        HRESULT hr = trans->SetUp(0, TRANS_REFRESH2, DWORD(source), DWORD(handles.size()), handles.data(), nullptr,
                                  &transactionId);
        if (SUCCEEDED(hr))
            hr = g->AddTransaction(4, trans);
        if (FAILED(hr)) {
            trans->Release();
            return E_FAIL;
        }
        *cancelId = trans->m_dwCancelId;
        return S_OK;
    });
}

STDMETHODIMP CImpIOPCAsyncIO2::Cancel2(DWORD cancelId)
{
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        COPCDrvAsyncTrans *trans = nullptr;
        DWORD kind = 0;
        if (FAILED(g->FindByCancelId(cancelId, 4 | 8, &trans, &kind)))
            return E_FAIL;
        return g->CancelTransaction(kind, trans);
    });
}

STDMETHODIMP CImpIOPCAsyncIO2::SetEnable(BOOL enable)
{
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (!SinkConnected(g))
        return CONNECT_E_NOCONNECTION;
    g->DataCallbackPoint()->SetEnable(enable);
    return S_OK;
}

STDMETHODIMP CImpIOPCAsyncIO2::GetEnable(BOOL *enable)
{
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved() || !enable)
        return E_FAIL;
    if (!SinkConnected(g))
        return CONNECT_E_NOCONNECTION;
    *enable = g->DataCallbackPoint()->GetEnable();
    return S_OK;
}
