#include "OPCDrvGroup.h"

#include <algorithm>
#include <new>

#include "Brisko.h"
#include "ImpIDataObject.h"
#include "ImpIOPCGroupIO.h"
#include "ImpIOPCItemMgt.h"
#include "ImpIOPCServer.h"
#include "OPCDrvAsyncTrans.h"
#include "OPCDrvItem.h"
#include "OPCDrvServer.h"
#include "OpcKit.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvGroup, CObject)

COPCDrvGroup::COPCDrvGroup(COPCDrvServer *server) : m_pServer(server), m_dwNextTick(GetTickCount())
{
    InitializeCriticalSection(&m_cs);
    TIME_ZONE_INFORMATION zone;
    if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID)
        m_lTimeBias = zone.Bias;
    m_dwMinRate = server ? server->SleepTime() : 0;
}

COPCDrvGroup::~COPCDrvGroup()
{
    delete m_pImpIOPCGroupStateMgt;
    delete m_pImpIOPCItemMgt;
    delete m_pImpIOPCSyncIO;
    delete m_pImpIOPCAsyncIO2;
    delete m_pImpIOPCAsyncIO;
    delete m_pImpIDataObject;
    delete m_pImpIConnPointContainer;
    if (m_pDataCallbackPoint) {
        m_pDataCallbackPoint->DetachOwner();  // a client may hold the point longer
        m_pDataCallbackPoint->DisconnectSink();
        m_pDataCallbackPoint->Release();
    }
    for (auto &list : m_trans) {
        for (COPCDrvAsyncTrans *trans : list)
            trans->Release();
        list.clear();
    }
    RemoveAllItems();
    DeleteCriticalSection(&m_cs);
}

// A tear-off, made on its first request.
template <class T> T *COPCDrvGroup::TearOff(T *&slot)
{
    EnterCriticalSection(&m_cs);
    if (!slot)
        slot = new (std::nothrow) T(static_cast<IUnknown *>(this), this);
    T *result = slot;
    LeaveCriticalSection(&m_cs);
    return result;
}

STDMETHODIMP COPCDrvGroup::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown *>(this);
    } else if (riid == IID_IOPCGroupStateMgt || riid == IID_IOPCItemMgt || riid == IID_IOPCSyncIO ||
               riid == IID_IOPCAsyncIO2 || riid == IID_IDataObject || riid == IID_IOPCAsyncIO) {
        if (riid == IID_IOPCGroupStateMgt)
            *ppv = static_cast<IOPCGroupStateMgt *>(TearOff(m_pImpIOPCGroupStateMgt));
        else if (riid == IID_IOPCItemMgt)
            *ppv = static_cast<IOPCItemMgt *>(TearOff(m_pImpIOPCItemMgt));
        else if (riid == IID_IOPCSyncIO)
            *ppv = static_cast<IOPCSyncIO *>(TearOff(m_pImpIOPCSyncIO));
        else if (riid == IID_IOPCAsyncIO2)
            *ppv = static_cast<IOPCAsyncIO2 *>(TearOff(m_pImpIOPCAsyncIO2));
        else if (riid == IID_IOPCAsyncIO)
            *ppv = static_cast<IOPCAsyncIO *>(TearOff(m_pImpIOPCAsyncIO));
        else
            *ppv = static_cast<IDataObject *>(TearOff(m_pImpIDataObject));
        if (!*ppv)
            return E_OUTOFMEMORY;
    } else if (riid == IID_IConnectionPointContainer) {
        EnterCriticalSection(&m_cs);
        if (!m_pImpIConnPointContainer) {
            if (!m_pDataCallbackPoint) {
                m_pDataCallbackPoint =
                    new (std::nothrow) CImpIConnectionPoint(static_cast<IUnknown *>(this), IID_IOPCDataCallback, nullptr);
                if (m_pDataCallbackPoint)
                    m_pDataCallbackPoint->AddRef();
            }
            if (m_pDataCallbackPoint)
                m_pImpIConnPointContainer = new (std::nothrow)
                    CImpIConnectionPointContainer(static_cast<IUnknown *>(this), &m_pDataCallbackPoint, 1);
        }
        *ppv = static_cast<IConnectionPointContainer *>(m_pImpIConnPointContainer);
        LeaveCriticalSection(&m_cs);
        if (!*ppv)
            return E_OUTOFMEMORY;
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COPCDrvGroup::AddRef() { return InterlockedIncrement(&m_cRef); }

STDMETHODIMP_(ULONG) COPCDrvGroup::Release()
{
    ULONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return count;
}

void COPCDrvGroup::SetUpdateRate(DWORD requested, DWORD *revised)
{
    EnterCriticalSection(&m_cs);
    m_dwUpdateRate = requested > m_dwMinRate ? requested : m_dwMinRate;
    if (revised)
        *revised = m_dwUpdateRate;
    LeaveCriticalSection(&m_cs);
}

void COPCDrvGroup::SetActive(BOOL active)
{
    EnterCriticalSection(&m_cs);
    BOOL flag = active ? TRUE : FALSE;
    if (flag != m_bActive) {
        m_bActive = flag;
        if (flag)
            MarkChanged(CHANGE_ALL, nullptr);
        else
            ClearChanged(CHANGE_ALL, nullptr);
    }
    LeaveCriticalSection(&m_cs);
}

bool COPCDrvGroup::GroupProcess()
{
    EnterCriticalSection(&m_cs);
    DWORD now = GetTickCount();
    // Compared as a signed distance, so that the tick counter's wrap after
    // 49.7 days neither stops the updates nor makes every pass due.
    bool due = LONG(now - m_dwNextTick) >= 0;
    bool activeDue = due && m_bActive;
    if (activeDue)
        UpdateDataCache();
    if (due)
        m_dwNextTick = GetTickCount() + m_dwUpdateRate;
    try {
        DataChangeProcess();
    } catch (...) {
    }
    try {
        AsyncProcess();
    } catch (...) {
    }
    LeaveCriticalSection(&m_cs);
    return activeDue;
}

void COPCDrvGroup::UpdateDataCache()
{
    try {
        for (COPCDrvItem *item : m_items)
            if (item->IsActive() && item->UpdateCache())
                MarkChanged(CHANGE_ALL, item);
    } catch (...) {
    }
}

void COPCDrvGroup::DataChangeProcess()
{
    // OPC 1.0 streams: with time first, then without.
    if (m_pImpIDataObject && m_bActive) {
        for (bool withTime : {true, false}) {
            CImpIDataObject::Slot slot = withTime ? CImpIDataObject::SlotDataTime : CImpIDataObject::SlotData;
            WORD flag = withTime ? CHANGE_DATATIME : CHANGE_DATA;
            if (!m_pImpIDataObject->IsAdvised(slot) || m_changeCount[FlagIndex(flag)] == 0)
                continue;
            try {
                std::vector<OPCHANDLE> handles;
                for (COPCDrvItem *item : m_items)
                    if (IsChanged(flag, item))
                        handles.push_back(item->ServerHandle());
                m_pImpIDataObject->Send(slot, m_pImpIDataObject->BuildData(handles, withTime, 0, SOURCE_DEVICE));
            } catch (...) {
            }
        }
    }
    if (m_pDataCallbackPoint && m_changeCount[0] > 0 && m_bActive && m_pDataCallbackPoint->GetEnable() &&
        m_pDataCallbackPoint->IsConnected())
        OnDataChange();
}

void COPCDrvGroup::OnDataChange()
{
    ULONG count = m_changeCount[0];
    std::vector<OPCHANDLE> clients;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
    clients.reserve(count);
    HRESULT masterQuality = S_OK, masterError = S_OK;
    for (COPCDrvItem *item : m_items) {
        if (clients.size() >= count)
            break;
        if (!IsChanged(CHANGE_CALLBACK, item))
            continue;
        VARIANT value;
        VariantInit(&value);
        WORD quality = 0;
        FILETIME time = {0, 0};
        HRESULT hr = item->GetValue(SOURCE_CACHE, &value, &quality, &time);
        clients.push_back(item->ClientHandle());
        values.push_back(value);
        qualities.push_back(quality);
        times.push_back(time);
        errors.push_back(hr);
        if ((quality & OPC_QUALITY_MASK) == 0)
            masterQuality = S_FALSE;
        if (hr != S_OK)
            masterError = S_FALSE;
        ClearChanged(CHANGE_CALLBACK, item);
    }
    if (!clients.empty()) {
        if (IUnknown *sink = m_pDataCallbackPoint->AcquireSink()) {
            try {
                static_cast<IOPCDataCallback *>(sink)->OnDataChange(
                    0, m_hClient, masterQuality, masterError, DWORD(clients.size()), clients.data(), values.data(),
                    qualities.data(), times.data(), errors.data());
            } catch (...) {
            }
            sink->Release();
        }
    }
    for (VARIANT &v : values)
        VariantClear(&v);
}

void COPCDrvGroup::AsyncProcess()
{
    // OPC 1.0 reads, then writes, each answered through the stream that its
    // connection names; transactions wait while no stream is advised.
    if (CImpIDataObject *data = m_pImpIDataObject) {
        bool readStream = data->IsAdvised(CImpIDataObject::SlotData) || data->IsAdvised(CImpIDataObject::SlotDataTime);
        std::vector<COPCDrvAsyncTrans *> reads = readStream ? m_trans[0] : std::vector<COPCDrvAsyncTrans *>();
        for (COPCDrvAsyncTrans *trans : reads) {
            try {
                bool withTime = trans->m_format == g_cfDataTime;
                CImpIDataObject::Slot slot = withTime ? CImpIDataObject::SlotDataTime : CImpIDataObject::SlotData;
                if (data->IsAdvised(slot))
                    data->Send(slot, data->BuildData(trans->m_handles, withTime, trans->m_dwTransactionId,
                                                     trans->m_dwSource));
            } catch (...) {
            }
            RemoveTransaction(1, trans, true);
        }
        bool writeStream = data->IsAdvised(CImpIDataObject::SlotWriteComplete);
        std::vector<COPCDrvAsyncTrans *> writes = writeStream ? m_trans[1] : std::vector<COPCDrvAsyncTrans *>();
        for (COPCDrvAsyncTrans *trans : writes) {
            try {
                std::vector<HRESULT> errors(trans->m_handles.size(), S_OK);
                for (size_t i = 0; i < trans->m_handles.size(); ++i) {
                    COPCDrvItem *item = FindItem(trans->m_handles[i]);
                    errors[i] = item && i < trans->m_values.size() ? item->WriteValue(&trans->m_values[i])
                                                                  : OPC_E_INVALIDHANDLE;
                }
                if (trans->m_format == g_cfWriteComplete)
                    data->Send(CImpIDataObject::SlotWriteComplete,
                               data->BuildWriteComplete(trans->m_handles, errors, trans->m_dwTransactionId));
            } catch (...) {
            }
            RemoveTransaction(2, trans, true);
        }
    }
    if (!m_pDataCallbackPoint)
        return;
    IUnknown *sink = m_pDataCallbackPoint->AcquireSink();
    if (!sink)
        return;
    // Reads and refreshes, then writes, then cancels, each in list order.
    for (DWORD kind : {4u, 8u, 16u}) {
        std::vector<COPCDrvAsyncTrans *> list = m_trans[ListIndex(kind)];
        for (COPCDrvAsyncTrans *trans : list) {
            try {
                CompleteTransaction(trans, static_cast<IOPCDataCallback *>(sink));
            } catch (...) {
            }
            RemoveTransaction(kind, trans, true);
        }
    }
    sink->Release();
}

void COPCDrvGroup::CompleteTransaction(COPCDrvAsyncTrans *trans, IOPCDataCallback *sink)
{
    DWORD count = DWORD(trans->m_handles.size());
    if (trans->m_dwType == TRANS_CANCEL) {
        sink->OnCancelComplete(trans->m_dwTransactionId, m_hClient);
        return;
    }
    std::vector<OPCHANDLE> clients(count, 0);
    std::vector<HRESULT> errors(count, S_OK);
    HRESULT masterQuality = S_OK, masterError = S_OK;
    if (trans->m_dwType == TRANS_WRITE2) {
        for (DWORD i = 0; i < count; ++i) {
            COPCDrvItem *item = FindItem(trans->m_handles[i]);
            if (!item) {
                errors[i] = OPC_E_UNKNOWNITEMID;
            } else {
                clients[i] = item->ClientHandle();
                errors[i] = i < trans->m_values.size() ? item->WriteValue(&trans->m_values[i]) : E_FAIL;
            }
            if (errors[i] != S_OK)
                masterError = S_FALSE;
        }
        sink->OnWriteComplete(trans->m_dwTransactionId, m_hClient, masterError, count, clients.data(),
                              errors.data());
        return;
    }
    std::vector<VARIANT> values(count);
    std::vector<WORD> qualities(count, 0);
    std::vector<FILETIME> times(count, FILETIME{0, 0});
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&values[i]);
        // An item removed since the request was queued: the same code as a
        // synchronous read of an unknown handle.
        COPCDrvItem *item = FindItem(trans->m_handles[i]);
        if (!item) {
            errors[i] = OPC_E_UNKNOWNITEMID;
            masterQuality = masterError = S_FALSE;
            continue;
        }
        clients[i] = item->ClientHandle();
        errors[i] = item->GetValue(trans->m_dwSource, &values[i], &qualities[i], &times[i]);
        if (trans->m_dwSource == SOURCE_CACHE && !m_bActive) {
            qualities[i] = OPC_QUALITY_OUT_OF_SERVICE;
            masterQuality = S_FALSE;
        }
        if ((qualities[i] & OPC_QUALITY_MASK) == 0)
            masterQuality = S_FALSE;
        if (errors[i] != S_OK)
            masterError = S_FALSE;
    }
    if (trans->m_dwType == TRANS_READ2)
        sink->OnReadComplete(trans->m_dwTransactionId, m_hClient, masterQuality, masterError, count, clients.data(),
                             values.data(), qualities.data(), times.data(), errors.data());
    else
        sink->OnDataChange(trans->m_dwTransactionId, m_hClient, masterQuality, masterError, count, clients.data(),
                           values.data(), qualities.data(), times.data(), errors.data());
    for (VARIANT &v : values)
        VariantClear(&v);
}

// Items

HRESULT COPCDrvGroup::CreateItem(COPCDrvItem **item)
{
    if (!item)
        return E_INVALIDARG;
    *item = new (std::nothrow) COPCDrvItem(this);
    return *item ? S_OK : E_OUTOFMEMORY;
}

HRESULT COPCDrvGroup::AddItem(COPCDrvItem *item)
{
    if (!item)
        return E_INVALIDARG;
    EnterCriticalSection(&m_cs);
    HRESULT hr = S_OK;
    try {
        m_itemSet.insert(item);
        m_items.push_back(item);
        item->ListAddRef();
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&m_cs);
    return hr;
}

COPCDrvItem *COPCDrvGroup::FindItem(OPCHANDLE handle)
{
    COPCDrvItem *item = LiveObjectAs<COPCDrvItem>(handle);
    if (!item || item->Group() != this)
        return nullptr;
    return m_itemSet.count(item) ? item : nullptr;
}

HRESULT COPCDrvGroup::RemoveItem(OPCHANDLE handle, bool force)
{
    EnterCriticalSection(&m_cs);
    COPCDrvItem *item = FindItem(handle);
    if (item) {
        ClearChanged(CHANGE_ALL, item);
        m_items.erase(std::find(m_items.begin(), m_items.end(), item));
        m_itemSet.erase(item);
    }
    LeaveCriticalSection(&m_cs);
    if (!item)
        return E_INVALIDARG;
    // The list's reference; with force every other one too (the group's end).
    if (force)
        while (item->ListRelease() != 0) {
        }
    else
        item->ListRelease();
    return S_OK;
}

HRESULT COPCDrvGroup::RemoveAllItems()
{
    std::vector<COPCDrvItem *> items;
    EnterCriticalSection(&m_cs);
    items = m_items;
    LeaveCriticalSection(&m_cs);
    HRESULT result = S_OK;
    for (COPCDrvItem *item : items)
        if (RemoveItem(item->ServerHandle(), true) != S_OK)
            result = S_FALSE;
    return result;
}

ULONG COPCDrvGroup::ItemCount()
{
    EnterCriticalSection(&m_cs);
    ULONG count = ULONG(m_items.size());
    LeaveCriticalSection(&m_cs);
    return count;
}

void COPCDrvGroup::SetItemActive(COPCDrvItem *item, BOOL active)
{
    // The item decides under its own lock; the marks follow under the
    // group's, so that the lock order stays group before item.
    if (!item->SetActive(active))
        return;
    EnterCriticalSection(&m_cs);
    if (active)
        MarkChanged(CHANGE_ALL, item);
    else
        ClearChanged(CHANGE_ALL, item);
    LeaveCriticalSection(&m_cs);
}

HRESULT COPCDrvGroup::CopyFrom(COPCDrvGroup &from)
{
    EnterCriticalSection(&from.m_cs);
    m_dwUpdateRate = from.m_dwUpdateRate;
    m_fDeadband = from.m_fDeadband;
    m_lTimeBias = from.m_lTimeBias;
    m_dwLcid = from.m_dwLcid;
    m_hClient = from.m_hClient;
    HRESULT hr = S_OK;
    for (COPCDrvItem *source : from.m_items) {
        COPCDrvItem *copy = nullptr;
        if (FAILED(hr = CreateItem(&copy)))
            break;
        copy->AddRef();
        copy->CopyFrom(*source);
        hr = AddItem(copy);
        copy->Release();
        if (FAILED(hr))
            break;
    }
    LeaveCriticalSection(&from.m_cs);
    return hr;
}

// Change flags

void COPCDrvGroup::MarkChanged(WORD flags, COPCDrvItem *item, ULONG *pending)
{
    EnterCriticalSection(&m_cs);
    // A client that connects or enables callbacks later is told only of
    // later changes.
    if (!m_pDataCallbackPoint || !m_pDataCallbackPoint->GetEnable())
        flags = WORD(flags & ~CHANGE_CALLBACK);
    auto mark = [&](COPCDrvItem *i) {
        if (!i->IsActive())
            return;
        for (WORD bit : {WORD(1), WORD(2), WORD(4)})
            if ((flags & bit) && !(i->m_wChangeFlags & bit)) {
                ++m_changeCount[FlagIndex(bit)];
                i->m_wChangeFlags = WORD(i->m_wChangeFlags | bit);
            }
    };
    if (item)
        mark(item);
    else
        for (COPCDrvItem *i : m_items)
            mark(i);
    if (pending) {
        *pending = 0;
        for (WORD bit : {WORD(1), WORD(2), WORD(4)})
            if (flags & bit)
                *pending += m_changeCount[FlagIndex(bit)];
    }
    LeaveCriticalSection(&m_cs);
}

void COPCDrvGroup::ClearChanged(WORD flags, COPCDrvItem *item)
{
    EnterCriticalSection(&m_cs);
    auto clear = [&](COPCDrvItem *i) {
        for (WORD bit : {WORD(1), WORD(2), WORD(4)})
            if ((flags & bit) && (i->m_wChangeFlags & bit)) {
                --m_changeCount[FlagIndex(bit)];
                i->m_wChangeFlags = WORD(i->m_wChangeFlags & ~bit);
            }
    };
    if (item)
        clear(item);
    else
        for (COPCDrvItem *i : m_items)
            clear(i);
    LeaveCriticalSection(&m_cs);
}

bool COPCDrvGroup::IsChanged(WORD flag, COPCDrvItem *item)
{
    return item->IsActive() && (item->m_wChangeFlags & flag) != 0;
}

ULONG COPCDrvGroup::ChangeCount(WORD flag)
{
    EnterCriticalSection(&m_cs);
    ULONG count = m_changeCount[FlagIndex(flag)];
    LeaveCriticalSection(&m_cs);
    return count;
}

// Transactions

int COPCDrvGroup::ListIndex(DWORD kind)
{
    switch (kind) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    case 16: return 4;
    default: return -1;
    }
}

HRESULT COPCDrvGroup::AddTransaction(DWORD kind, COPCDrvAsyncTrans *trans)
{
    if (!trans)
        return E_POINTER;
    int index = ListIndex(kind);
    if (index < 0)
        return E_INVALIDARG;
    EnterCriticalSection(&m_cs);
    HRESULT hr = S_OK;
    try {
        m_trans[index].push_back(trans);
    } catch (...) {
        hr = E_FAIL;
    }
    LeaveCriticalSection(&m_cs);
    return hr;
}

HRESULT COPCDrvGroup::RemoveTransaction(DWORD kind, COPCDrvAsyncTrans *trans, bool release)
{
    if (!trans)
        return E_POINTER;
    int index = ListIndex(kind);
    if (index < 0)
        return E_INVALIDARG;
    EnterCriticalSection(&m_cs);
    auto &list = m_trans[index];
    auto it = std::find(list.begin(), list.end(), trans);
    bool found = it != list.end();
    if (found)
        list.erase(it);
    LeaveCriticalSection(&m_cs);
    if (!found)
        return E_INVALIDARG;
    if (release)
        trans->Release();
    return S_OK;
}

HRESULT COPCDrvGroup::FindTransaction(DWORD COPCDrvAsyncTrans::*field, DWORD id, DWORD kinds,
                                      COPCDrvAsyncTrans **trans, DWORD *kind)
{
    HRESULT hr = E_FAIL;
    EnterCriticalSection(&m_cs);
    for (DWORD k : {1u, 2u, 4u, 8u}) {
        if (!(kinds & k) || hr == S_OK)
            continue;
        for (COPCDrvAsyncTrans *t : m_trans[ListIndex(k)])
            if (t->*field == id) {
                *trans = t;
                if (kind)
                    *kind = k;
                hr = S_OK;
                break;
            }
    }
    LeaveCriticalSection(&m_cs);
    return hr;
}

HRESULT COPCDrvGroup::CancelTransaction(DWORD kind, COPCDrvAsyncTrans *trans)
{
    EnterCriticalSection(&m_cs);
    HRESULT hr = RemoveTransaction(kind, trans, false);
    if (SUCCEEDED(hr) && (kind == 4 || kind == 8)) {
        DWORD id = trans->m_dwTransactionId;
        hr = trans->SetUp(0, TRANS_CANCEL, SOURCE_CACHE, 0, nullptr, nullptr, &id);
        if (SUCCEEDED(hr))
            hr = AddTransaction(16, trans);
        if (FAILED(hr)) {
            trans->Release();
            hr = E_FAIL;
        }
    } else if (SUCCEEDED(hr)) {
        trans->Release();
    } else {
        hr = E_FAIL;
    }
    LeaveCriticalSection(&m_cs);
    return hr;
}

ULONG COPCDrvGroup::TransactionCount(DWORD kind)
{
    int index = ListIndex(kind);
    if (index < 0)
        return 0;
    EnterCriticalSection(&m_cs);
    ULONG count = ULONG(m_trans[index].size());
    LeaveCriticalSection(&m_cs);
    return count;
}

bool COPCDrvGroup::IsRemoved()
{
    EnterCriticalSection(&m_cs);
    bool removed = m_bRemoved;
    LeaveCriticalSection(&m_cs);
    return removed;
}

std::string COPCDrvGroup::Name()
{
    EnterCriticalSection(&m_cs);
    std::string name = m_name;
    LeaveCriticalSection(&m_cs);
    return name;
}

void COPCDrvGroup::SetNameText(const std::string &name)
{
    EnterCriticalSection(&m_cs);
    m_name = name;
    LeaveCriticalSection(&m_cs);
}

// IOPCGroupStateMgt

STDMETHODIMP CImpIOPCGroupStateMgt::GetState(DWORD *rate, BOOL *active, LPWSTR *name, LONG *bias, FLOAT *deadband,
                                             DWORD *lcid, OPCHANDLE *client, OPCHANDLE *server)
{
    if (rate)
        *rate = 0;
    if (active)
        *active = FALSE;
    if (name)
        *name = nullptr;
    if (bias)
        *bias = 0;
    if (deadband)
        *deadband = 0;
    if (lcid)
        *lcid = 0;
    if (client)
        *client = 0;
    if (server)
        *server = 0;
    if (!rate || !active || !name || !bias || !deadband || !lcid || !client || !server)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        *rate = g->m_dwUpdateRate;
        *active = g->m_bActive;
        *bias = g->m_lTimeBias;
        *deadband = g->m_fDeadband;
        *lcid = g->m_dwLcid;
        *client = g->m_hClient;
        *server = g->ServerHandle();
        *name = AllocWideCopy(g->m_name, g_pIMalloc);
        return *name ? S_OK : E_OUTOFMEMORY;
    });
}

STDMETHODIMP CImpIOPCGroupStateMgt::SetState(DWORD *rate, DWORD *revised, BOOL *active, LONG *bias, FLOAT *deadband,
                                             DWORD *lcid, OPCHANDLE *client)
{
    if (!revised)
        return E_INVALIDARG;
    *revised = 0;
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        HRESULT hr = S_OK;
        if (rate) {
            g->SetUpdateRate(*rate, revised);
            if (*revised != *rate)
                hr = OPC_S_UNSUPPORTEDRATE;
        } else {
            *revised = g->m_dwUpdateRate;
        }
        if (active)
            g->SetActive(*active);
        if (client)
            g->m_hClient = *client;
        if (deadband)
            g->m_fDeadband = *deadband;
        if (lcid)
            g->m_dwLcid = *lcid;
        if (bias)
            g->m_lTimeBias = *bias;
        return hr;
    });
}

STDMETHODIMP CImpIOPCGroupStateMgt::SetName(LPCWSTR name)
{
    if (!name)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    std::string text = WideToText(name);
    if (text == g->Name())
        return S_OK;
    size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
    if (first == std::string::npos)
        return E_INVALIDARG;
    std::string trimmed = text.substr(first, last - first + 1);
    if (g->m_pServer->IsGroupName(trimmed) || g->m_pServer->IsGroupName(text))
        return OPC_E_DUPLICATENAME;
    g->SetNameText(text);
    return S_OK;
}

STDMETHODIMP CImpIOPCGroupStateMgt::CloneGroup(LPCWSTR name, REFIID riid, LPUNKNOWN *out)
{
    if (out)
        *out = nullptr;
    if (!out || !name)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    COPCDrvServer *server = g->m_pServer;
    if (g->IsRemoved())
        return E_FAIL;
    try {
        std::string text = WideToText(name);
        if (!text.empty() && server->IsGroupName(text))
            return OPC_E_DUPLICATENAME;
        COPCDrvGroup *clone = nullptr;
        HRESULT hr = server->CreateGroup(&clone);
        if (FAILED(hr))
            return hr;
        clone->AddRef();
        // The copy is made under the source's lock only; naming and entering
        // the server's list take the server's lock, which must come first.
        hr = clone->CopyFrom(*g);
        if (SUCCEEDED(hr) && g->IsRemoved())
            hr = E_FAIL;
        if (SUCCEEDED(hr))
            hr = clone->QueryInterface(riid, reinterpret_cast<void **>(out));
        if (SUCCEEDED(hr)) {
            HRESULT entered = server->EnterNamedGroup(clone, text);
            if (FAILED(entered)) {
                (*out)->Release();
                *out = nullptr;
                hr = entered;
            }
        }
        clone->Release();
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}
