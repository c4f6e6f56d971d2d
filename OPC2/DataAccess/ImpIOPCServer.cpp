#include "ImpIOPCServer.h"

#include <cstdio>
#include <cstring>

#include "OPCDrvGroup.h"
#include "OPCDrvServer.h"
#include "OpcKit.h"

std::string WideToText(LPCWSTR text)
{
    if (!text)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], n, nullptr, nullptr);
    return ansi;
}

CImpIOPCServer::CImpIOPCServer(IUnknown *owner, COPCDrvServer *server)
    : CTearOff<IOPCServer>(owner), m_pServer(server)
{
    char vendor[128];
    std::snprintf(vendor, sizeof(vendor), "%sOPC - Veltrane Inc. OPC Server v%d.%d.%d", "QOR", 7, 20, 1);
    m_vendor = vendor;
}

STDMETHODIMP CImpIOPCServer::AddGroup(LPCWSTR name, BOOL active, DWORD requestedRate, OPCHANDLE clientGroup,
                                      LONG *timeBias, FLOAT *percentDeadband, DWORD lcid, OPCHANDLE *serverGroup,
                                      DWORD *revisedRate, REFIID riid, LPUNKNOWN *unknown)
{
    if (serverGroup)
        *serverGroup = 0;
    if (revisedRate)
        *revisedRate = 0;
    if (unknown)
        *unknown = nullptr;
    if (!name || !serverGroup || !revisedRate || !unknown)
        return E_INVALIDARG;
    try {
        std::string text = WideToText(name);
        if (!text.empty() && m_pServer->IsGroupName(text))
            return OPC_E_DUPLICATENAME;

        COPCDrvGroup *group = nullptr;
        HRESULT hr = m_pServer->CreateGroup(&group);
        if (FAILED(hr))
            return hr;
        group->AddRef();
        hr = group->QueryInterface(riid, reinterpret_cast<void **>(unknown));
        if (FAILED(hr)) {
            group->Release();
            return hr;
        }
        IOPCGroupStateMgt *state = nullptr;
        hr = group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void **>(&state));
        if (SUCCEEDED(hr)) {
            hr = state->SetState(&requestedRate, revisedRate, &active, timeBias, percentDeadband, &lcid, &clientGroup);
            state->Release();
        } else {
            hr = E_FAIL;
        }
        // The name is settled and the group entered under the server's lock,
        // so that two clients cannot add the same name at once.
        if (SUCCEEDED(hr)) {
            HRESULT named = m_pServer->EnterNamedGroup(group, text);
            if (FAILED(named))
                hr = named;
            else
                *serverGroup = group->ServerHandle();
        }
        if (FAILED(hr)) {
            (*unknown)->Release();
            *unknown = nullptr;
            *revisedRate = 0;
        }
        group->Release();
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIOPCServer::GetErrorString(HRESULT code, LCID locale, LPWSTR *text)
{
    if (!text)
        return E_INVALIDARG;
    *text = nullptr;
    IOPCCommon *common = m_pServer->Common();
    if (!common)
        return E_FAIL;
    LCID previous = 0;
    common->GetLocaleID(&previous);
    common->SetLocaleID(locale);
    HRESULT hr = common->GetErrorString(code, text);
    if (previous != locale)
        common->SetLocaleID(previous);
    common->Release();
    return hr;
}

STDMETHODIMP CImpIOPCServer::GetGroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN *unknown)
{
    if (!unknown)
        return E_INVALIDARG;
    *unknown = nullptr;
    if (!name || !*name)
        return E_INVALIDARG;
    COPCDrvGroup *group = m_pServer->FindGroup(WideToText(name));
    if (!group)
        return E_INVALIDARG;
    HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void **>(unknown));
    group->Release();
    return hr;
}

STDMETHODIMP CImpIOPCServer::GetStatus(OPCSERVERSTATUS **status)
{
    if (!status)
        return E_INVALIDARG;
    *status = nullptr;
    OPCSERVERSTATUS *s = static_cast<OPCSERVERSTATUS *>(KitAlloc(g_pIMalloc, sizeof(OPCSERVERSTATUS)));
    if (!s)
        return E_OUTOFMEMORY;
    std::memset(s, 0, sizeof(*s));
    m_pServer->FillStatus(s);
    s->szVendorInfo = AllocWideCopy(m_vendor, g_pIMalloc);
    if (!s->szVendorInfo) {
        KitFree(g_pIMalloc, s);
        return E_OUTOFMEMORY;
    }
    *status = s;
    return S_OK;
}

STDMETHODIMP CImpIOPCServer::RemoveGroup(OPCHANDLE serverGroup, BOOL force)
{
    try {
        return m_pServer->RemoveGroupFromServer(serverGroup, force);
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIOPCServer::CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, LPUNKNOWN *unknown)
{
    if (!unknown)
        return E_INVALIDARG;
    *unknown = nullptr;
    return m_pServer->CreateGroupEnumerator(scope, riid, unknown);
}
