#include "ImpIOPCCommon.h"

#include "OpcKit.h"

const LCID CImpIOPCCommon::s_locales[1] = {LOCALE_SYSTEM_DEFAULT};

STDMETHODIMP CImpIOPCCommon::SetLocaleID(LCID lcid)
{
    for (LCID supported : s_locales)
        if (supported == lcid) {
            InterlockedExchange(&m_lcid, LONG(lcid));
            return S_OK;
        }
    return E_INVALIDARG;
}

STDMETHODIMP CImpIOPCCommon::GetLocaleID(LCID *lcid)
{
    if (!lcid)
        return E_INVALIDARG;
    *lcid = LCID(m_lcid);
    return S_OK;
}

STDMETHODIMP CImpIOPCCommon::QueryAvailableLocaleIDs(DWORD *count, LCID **lcids)
{
    if (count)
        *count = 0;
    if (!lcids)
        return E_INVALIDARG;
    *lcids = nullptr;
    if (!count)
        return E_INVALIDARG;
    const DWORD n = sizeof(s_locales) / sizeof(s_locales[0]);
    LCID *array = static_cast<LCID *>(KitAlloc(g_pIMalloc, n * sizeof(LCID)));
    if (!array)
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < n; ++i)
        array[i] = s_locales[i];
    *lcids = array;
    *count = n;
    return S_OK;
}

HRESULT GetErrorStringResult(HRESULT code, LPWSTR *text)
{
    if (!text)
        return E_INVALIDARG;
    *text = nullptr;
    std::string message;
    if (!GetErrorText(DWORD(code), message))
        return E_FAIL;
    *text = AllocWideCopy(message, g_pIMalloc);
    return *text ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CImpIOPCCommon::GetErrorString(HRESULT code, LPWSTR *text)
{
    try {
        return GetErrorStringResult(code, text);
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CImpIOPCCommon::SetClientName(LPCWSTR name)
{
    if (!name)
        return E_INVALIDARG;
    try {
        int n = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
        std::string ansi(n > 0 ? n - 1 : 0, '\0');
        if (n > 1)
            WideCharToMultiByte(CP_ACP, 0, name, -1, &ansi[0], n, nullptr, nullptr);
        std::lock_guard<std::mutex> hold(m_lock);
        m_clientName = ansi;
    } catch (...) {
        return E_FAIL;
    }
    return S_OK;
}

std::string CImpIOPCCommon::GetClientName()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_clientName;
}
