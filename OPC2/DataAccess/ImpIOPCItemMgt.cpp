#include "ImpIOPCItemMgt.h"

#include <cstring>
#include <new>
#include <vector>

#include "BlockAnswers.h"
#include "ClassFactory.h"
#include "Enumerators.h"
#include "OPCDrvGroup.h"
#include "OPCDrvItem.h"
#include "OpcKit.h"

template <class Body>
HRESULT CImpIOPCItemMgt::ForEachItem(DWORD count, const OPCHANDLE *handles, HRESULT **errors, Body body)
{
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        *errors = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
        if (!*errors)
            return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            COPCDrvItem *item = g->FindItem(handles[i]);
            (*errors)[i] = item ? body(item, i) : OPC_E_INVALIDHANDLE;
            if ((*errors)[i] != S_OK)
                result = S_FALSE;
        }
        return result;
    });
}

HRESULT CImpIOPCItemMgt::SetUpItems(DWORD count, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors,
                                    bool add)
{
    if (results)
        *results = nullptr;
    if (errors)
        *errors = nullptr;
    if (!items || !results || !errors || count == 0)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    OPCITEMRESULT *r = KitAllocZeroed<OPCITEMRESULT>(g_pIMalloc, count);
    HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
    if (!r || !e) {
        KitFree(g_pIMalloc, r);
        KitFree(g_pIMalloc, e);
        return E_OUTOFMEMORY;
    }
    HRESULT result = S_OK;
    bool activated = false;
    IDriver *driver = g_ClassFactory.AcquireDriver();
    CBlockAnswers answers(driver);
    if (driver)
        driver->Release();
    // No group lock while an item is set up: parsing asks the I/O server,
    // which can take seconds.
    for (DWORD i = 0; i < count; ++i) {
        COPCDrvItem *item = nullptr;
        HRESULT hr = g->CreateItem(&item);
        if (SUCCEEDED(hr)) {
            item->AddRef();
            try {
                hr = item->SetUp(&items[i], &r[i], answers);
            } catch (...) {
                hr = E_FAIL;
            }
            if (SUCCEEDED(hr) && add) {
                hr = g->AddItem(item);
                if (SUCCEEDED(hr) && items[i].bActive) {
                    g->SetItemActive(item, TRUE);
                    activated = true;
                }
            }
            if (FAILED(hr) || !add)
                std::memset(&r[i], 0, sizeof(r[i]));
            if (!add && SUCCEEDED(hr))
                r[i].vtCanonicalDataType = item->m_vtCanonical, r[i].dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
            item->Release();
        }
        e[i] = hr;
        if (hr != S_OK)
            result = S_FALSE;
    }
    *results = r;
    *errors = e;
    if (activated)
        StartPollingIfAsked();
    return result;
}

STDMETHODIMP CImpIOPCItemMgt::AddItems(DWORD count, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors)
{
    return SetUpItems(count, items, results, errors, true);
}

STDMETHODIMP CImpIOPCItemMgt::ValidateItems(DWORD count, OPCITEMDEF *items, BOOL, OPCITEMRESULT **results,
                                            HRESULT **errors)
{
    return SetUpItems(count, items, results, errors, false);
}

STDMETHODIMP CImpIOPCItemMgt::RemoveItems(DWORD count, OPCHANDLE *handles, HRESULT **errors)
{
    if (errors)
        *errors = nullptr;
    if (!errors || !handles || count == 0)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    HRESULT *e = KitAllocZeroed<HRESULT>(g_pIMalloc, count);
    if (!e)
        return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        e[i] = g->RemoveItem(handles[i], false) == S_OK ? S_OK : OPC_E_INVALIDHANDLE;
        if (e[i] != S_OK)
            result = S_FALSE;
    }
    *errors = e;
    return result;
}

STDMETHODIMP CImpIOPCItemMgt::SetActiveState(DWORD count, OPCHANDLE *handles, BOOL active, HRESULT **errors)
{
    if (errors)
        *errors = nullptr;
    if (!errors || !handles || count == 0)
        return E_INVALIDARG;
    COPCDrvGroup *g = m_pGroup;
    std::vector<COPCDrvItem *> started;
    HRESULT hr = ForEachItem(count, handles, errors, [&](COPCDrvItem *item, DWORD) -> HRESULT {
        if (item->SetActive(active)) {
            if (active) {
                g->MarkChanged(CHANGE_ALL, item);
                started.push_back(item);
            } else {
                g->ClearChanged(CHANGE_ALL, item);
            }
        }
        return S_OK;
    });
    // Starting the I/O server's polling can take seconds: done without the
    // group's lock.
    if (!started.empty())
        StartPollingIfAsked();
    return hr;
}

STDMETHODIMP CImpIOPCItemMgt::SetClientHandles(DWORD count, OPCHANDLE *handles, OPCHANDLE *clients, HRESULT **errors)
{
    if (errors)
        *errors = nullptr;
    if (!errors || !handles || !clients)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    return ForEachItem(count, handles, errors, [&](COPCDrvItem *item, DWORD i) -> HRESULT {
        item->SetClientHandle(clients[i]);
        return S_OK;
    });
}

STDMETHODIMP CImpIOPCItemMgt::SetDatatypes(DWORD count, OPCHANDLE *handles, VARTYPE *types, HRESULT **errors)
{
    if (errors)
        *errors = nullptr;
    if (!errors || !handles || !types)
        return E_INVALIDARG;
    if (count == 0)
        return E_FAIL;
    return ForEachItem(count, handles, errors,
                       [&](COPCDrvItem *item, DWORD i) -> HRESULT { return item->SetRequestedType(types[i]); });
}

STDMETHODIMP CImpIOPCItemMgt::CreateEnumerator(REFIID riid, LPUNKNOWN *out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    COPCDrvGroup *g = m_pGroup;
    if (g->IsRemoved())
        return E_FAIL;
    if (riid != IID_IEnumOPCItemAttributes)
        return E_INVALIDARG;
    std::vector<OPCITEMATTRIBUTES> snapshot;
    HRESULT hr = g->WhileInServer([&]() -> HRESULT {
        snapshot.resize(g->m_items.size());
        for (size_t i = 0; i < g->m_items.size(); ++i) {
            HRESULT got = g->m_items[i]->GetAttributes(&snapshot[i], g_pIMalloc);
            if (FAILED(got)) {
                snapshot.resize(i);
                return got;
            }
        }
        return S_OK;
    });
    if (SUCCEEDED(hr) && snapshot.empty())
        hr = S_FALSE;
    if (hr == S_OK) {
        CImpIEnumOPCItemAttributes *e = new (std::nothrow)
            CImpIEnumOPCItemAttributes(Owner(), ULONG(snapshot.size()), snapshot.data(), g_pIMalloc);
        if (!e) {
            hr = E_OUTOFMEMORY;
        } else {
            e->AddRef();
            hr = e->QueryInterface(riid, reinterpret_cast<void **>(out));
            e->Release();
        }
    }
    for (OPCITEMATTRIBUTES &a : snapshot)
        FreeItemAttributes(&a, g_pIMalloc);
    return hr;
}
