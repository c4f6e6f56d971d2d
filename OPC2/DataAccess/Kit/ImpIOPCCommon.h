// CImpIOPCCommon: the IOPCCommon tear-off of a server object.
#pragma once
#include <mutex>
#include <string>

#include "OpcCommon.h"
#include "TearOff.h"

class CImpIOPCCommon : public CTearOff<IOPCCommon> {
public:
    explicit CImpIOPCCommon(IUnknown *owner) : CTearOff<IOPCCommon>(owner) {}

    STDMETHODIMP SetLocaleID(LCID lcid) override;
    STDMETHODIMP GetLocaleID(LCID *lcid) override;
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD *count, LCID **lcids) override;
    STDMETHODIMP GetErrorString(HRESULT code, LPWSTR *text) override;
    STDMETHODIMP SetClientName(LPCWSTR name) override;

    std::string GetClientName();

    // The supported locales: the system default only.
    static const LCID s_locales[1];

private:
    volatile LONG m_lcid = LOCALE_SYSTEM_DEFAULT;
    std::mutex m_lock;
    std::string m_clientName;
};

// The text for code as a task-memory wide string (the shared part of both
// GetErrorString methods): E_INVALIDARG for a null out, E_FAIL without text.
HRESULT GetErrorStringResult(HRESULT code, LPWSTR *text);
