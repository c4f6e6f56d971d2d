// The kit's five enumerators. All share one layout (count, owner, position,
// private copy of the elements, allocator) and the Skip and Reset code; an
// enumerator keeps its owner alive while it lives.
#pragma once
#include <windows.h>
#include <ocidl.h>

#include <new>
#include <string>
#include <vector>

#include "OpcDataAccess.h"

// The library's task allocator (g_pIMalloc).
IMalloc *KitMalloc();

// Moves position by celt when that stays within count (S_OK), else S_FALSE
// and the position stays.
HRESULT EnumSkip(ULONG &position, ULONG count, ULONG celt);
HRESULT EnumReset(ULONG &position);

template <class Derived, class I, class Elem, const IID *Iid> class CImpIEnumBase : public I {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_INVALIDARG;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != *Iid)
            return E_NOINTERFACE;
        *ppv = static_cast<I *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        ULONG count = InterlockedIncrement(&m_cRef);
        if (m_pUnkOwner)
            m_pUnkOwner->AddRef();
        return count;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        if (m_pUnkOwner)
            m_pUnkOwner->Release();
        ULONG count = InterlockedDecrement(&m_cRef);
        if (count == 0)
            delete static_cast<Derived *>(this);
        return count;
    }
    STDMETHODIMP Skip(ULONG celt) override { return EnumSkip(m_iCur, Count(), celt); }
    STDMETHODIMP Reset() override { return EnumReset(m_iCur); }
    STDMETHODIMP Clone(I **ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        Derived *copy = new (std::nothrow) Derived(m_pUnkOwner, Count(), m_elements.data(), m_pMalloc);
        if (!copy)
            return E_OUTOFMEMORY;
        copy->m_iCur = m_iCur;
        copy->AddRef();
        *ppEnum = copy;
        return S_OK;
    }

    ULONG Count() const { return ULONG(m_elements.size()); }
    ULONG Position() const { return m_iCur; }

protected:
    // Without an allocator of its own, the library's task allocator.
    CImpIEnumBase(IUnknown *owner, IMalloc *malloc) : m_pUnkOwner(owner), m_pMalloc(malloc ? malloc : KitMalloc()) {}
    virtual ~CImpIEnumBase() {}

    // Next of the connection-point, connection and item-attribute
    // enumerators: argument tests first; copy(element, slot) makes the
    // caller's own copy.
    template <class Out, class Copy> HRESULT NextChecked(ULONG celt, Out *out, ULONG *fetched, Copy copy)
    {
        if (fetched)
            *fetched = 0;
        if (!out)
            return E_POINTER;
        out[0] = Out();
        if (!fetched && celt != 1)
            return E_INVALIDARG;
        return NextLoop(celt, out, fetched, copy);
    }
    // Next of the string and unknown enumerators: no elements answers
    // S_FALSE before any argument test, and a missing fetched count with
    // celt other than 1 is E_POINTER.
    template <class Out, class Copy> HRESULT NextLoose(ULONG celt, Out *out, ULONG *fetched, Copy copy)
    {
        if (fetched)
            *fetched = 0;
        if (out)
            out[0] = Out();
        if (m_elements.empty())
            return S_FALSE;
        if (!out || (!fetched && celt != 1))
            return E_POINTER;
        return NextLoop(celt, out, fetched, copy);
    }
    template <class Out, class Copy> HRESULT NextLoop(ULONG celt, Out *out, ULONG *fetched, Copy copy)
    {
        if (m_elements.empty() || m_iCur >= Count())
            return S_FALSE;
        ULONG n = 0;
        while (n < celt && m_iCur < Count()) {
            HRESULT hr = copy(m_elements[m_iCur], &out[n]);
            if (FAILED(hr)) {
                if (fetched)
                    *fetched = n;
                return hr;
            }
            ++m_iCur;
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

    LONG m_cRef = 0;
    IUnknown *m_pUnkOwner;
    ULONG m_iCur = 0;
    std::vector<Elem> m_elements;
    IMalloc *m_pMalloc;
};

class CImpIEnumConnectionPoints
    : public CImpIEnumBase<CImpIEnumConnectionPoints, IEnumConnectionPoints, IConnectionPoint *,
                           &IID_IEnumConnectionPoints> {
public:
    CImpIEnumConnectionPoints(IUnknown *owner, ULONG count, IConnectionPoint *const *points, IMalloc *malloc = nullptr);
    ~CImpIEnumConnectionPoints() override;
    STDMETHODIMP Next(ULONG celt, IConnectionPoint **points, ULONG *fetched) override;
};

class CImpIEnumConnections
    : public CImpIEnumBase<CImpIEnumConnections, IEnumConnections, CONNECTDATA, &IID_IEnumConnections> {
public:
    CImpIEnumConnections(IUnknown *owner, ULONG count, const CONNECTDATA *connections, IMalloc *malloc = nullptr);
    ~CImpIEnumConnections() override;
    STDMETHODIMP Next(ULONG celt, CONNECTDATA *connections, ULONG *fetched) override;
};

class CImpIEnumOPCItemAttributes
    : public CImpIEnumBase<CImpIEnumOPCItemAttributes, IEnumOPCItemAttributes, OPCITEMATTRIBUTES,
                           &IID_IEnumOPCItemAttributes> {
public:
    CImpIEnumOPCItemAttributes(IUnknown *owner, ULONG count, const OPCITEMATTRIBUTES *items, IMalloc *malloc);
    ~CImpIEnumOPCItemAttributes() override;
    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES **items, ULONG *fetched) override;
};

class CImpIEnumString : public CImpIEnumBase<CImpIEnumString, IEnumString, std::wstring, &IID_IEnumString> {
public:
    CImpIEnumString(IUnknown *owner, ULONG count, const std::wstring *texts, IMalloc *malloc);
    STDMETHODIMP Next(ULONG celt, LPOLESTR *texts, ULONG *fetched) override;
};

class CImpIEnumUnknown : public CImpIEnumBase<CImpIEnumUnknown, IEnumUnknown, IUnknown *, &IID_IEnumUnknown> {
public:
    CImpIEnumUnknown(IUnknown *owner, ULONG count, IUnknown *const *objects, IMalloc *malloc = nullptr);
    ~CImpIEnumUnknown() override;
    STDMETHODIMP Next(ULONG celt, IUnknown **objects, ULONG *fetched) override;
};
