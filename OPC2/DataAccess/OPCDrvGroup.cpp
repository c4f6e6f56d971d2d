#include "OPCDrvGroup.h"

#include <new>

#include "ImpIOPCServer.h"
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
    DeleteCriticalSection(&m_cs);
}

STDMETHODIMP COPCDrvGroup::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown *>(this);
    } else if (riid == IID_IOPCGroupStateMgt) {
        EnterCriticalSection(&m_cs);
        if (!m_pImpIOPCGroupStateMgt)
            m_pImpIOPCGroupStateMgt = new (std::nothrow) CImpIOPCGroupStateMgt(static_cast<IUnknown *>(this), this);
        *ppv = static_cast<IOPCGroupStateMgt *>(m_pImpIOPCGroupStateMgt);
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
    m_bActive = active ? TRUE : FALSE;
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
    if (due)
        m_dwNextTick = now + m_dwUpdateRate;
    LeaveCriticalSection(&m_cs);
    return activeDue;
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
    return m_pGroup->IsRemoved() ? E_FAIL : E_NOTIMPL;
}
