// Tear-off interface objects: every interface of an OPC server, group or
// subscription beside its own IUnknown. A tear-off keeps no count of its own
// and lives as long as its owner, to which its IUnknown methods forward.
#pragma once
#include <windows.h>
#include <unknwn.h>

HRESULT ForwardQueryInterface(IUnknown *owner, REFIID riid, void **ppv);
ULONG ForwardAddRef(IUnknown *owner);
ULONG ForwardRelease(IUnknown *owner);

template <class I> class CTearOff : public I {
public:
    explicit CTearOff(IUnknown *owner) : m_pUnkOwner(owner) {}
    virtual ~CTearOff() {}
    CTearOff(const CTearOff &) = delete;
    CTearOff &operator=(const CTearOff &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override { return ForwardQueryInterface(m_pUnkOwner, riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return ForwardAddRef(m_pUnkOwner); }
    STDMETHODIMP_(ULONG) Release() override { return ForwardRelease(m_pUnkOwner); }

    IUnknown *Owner() const { return m_pUnkOwner; }

protected:
    IUnknown *m_pUnkOwner;  // not counted: the owner holds the tear-off
};
