#include "OPCDrvAsyncTrans.h"

#include "OPCDrvGroup.h"
#include "OPCDrvItem.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvAsyncTrans, CObject)

namespace {
volatile LONG g_lastId = 0;
}

DWORD COPCDrvAsyncTrans::NextId()
{
    DWORD id = DWORD(InterlockedIncrement(&g_lastId));
    if (id == 0)
        id = DWORD(InterlockedIncrement(&g_lastId));
    return id;
}

// The group owns its transactions and frees them at its end; a reference
// on the group (or through the items on it) would keep it alive forever.
COPCDrvAsyncTrans::COPCDrvAsyncTrans(COPCDrvGroup *group) : m_pGroup(group) {}

COPCDrvAsyncTrans::~COPCDrvAsyncTrans() { Clear(); }

ULONG COPCDrvAsyncTrans::Release()
{
    ULONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return count;
}

void COPCDrvAsyncTrans::Clear()
{
    for (COPCDrvItem *item : m_items)
        if (item)
            item->ListRelease();
    m_items.clear();
    m_handles.clear();
    for (VARIANT &v : m_values)
        VariantClear(&v);
    m_values.clear();
}

HRESULT COPCDrvAsyncTrans::SetUp(UINT format, DWORD type, DWORD source, DWORD count, const OPCHANDLE *handles,
                                 const VARIANT *values, const DWORD *clientTransactionId)
{
    Clear();
    if (type == TRANS_CANCEL) {
        if (!clientTransactionId)
            return E_INVALIDARG;
        m_dwType = type;
        m_dwTransactionId = *clientTransactionId;
        return S_OK;
    }
    if (!handles || (type == TRANS_WRITE1 && !values))
        return E_INVALIDARG;
    if (!m_pGroup)
        return E_POINTER;
    m_dwType = type;
    m_dwSource = source;
    m_format = format;
    try {
        m_handles.assign(handles, handles + count);
        m_items.assign(count, nullptr);
        EnterCriticalSection(&m_pGroup->m_cs);
        for (DWORD i = 0; i < count; ++i)
            if ((m_items[i] = m_pGroup->FindItem(handles[i])) != nullptr)
                m_items[i]->ListAddRef();
        LeaveCriticalSection(&m_pGroup->m_cs);
        if ((type == TRANS_WRITE1 || type == TRANS_WRITE2) && values) {
            m_values.resize(count);
            for (DWORD i = 0; i < count; ++i) {
                VariantInit(&m_values[i]);
                VariantCopy(&m_values[i], const_cast<VARIANT *>(&values[i]));
            }
        }
    } catch (...) {
        Clear();
        return E_OUTOFMEMORY;
    }
    if (clientTransactionId) {
        m_dwTransactionId = *clientTransactionId;
        m_dwCancelId = NextId();
    } else {
        m_dwTransactionId = NextId();
    }
    return S_OK;
}
