#include "TearOff.h"

HRESULT ForwardQueryInterface(IUnknown *owner, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    return owner->QueryInterface(riid, ppv);
}

ULONG ForwardAddRef(IUnknown *owner) { return owner->AddRef(); }

ULONG ForwardRelease(IUnknown *owner) { return owner->Release(); }
