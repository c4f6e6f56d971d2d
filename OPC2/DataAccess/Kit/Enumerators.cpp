#include "Enumerators.h"

#include <cstring>

#include "OpcKit.h"

HRESULT EnumSkip(ULONG &position, ULONG count, ULONG celt)
{
    // Compared as what is left, so that a huge celt cannot wrap past count.
    if (count == 0 || position > count || celt > count - position)
        return S_FALSE;
    position += celt;
    return S_OK;
}

HRESULT EnumReset(ULONG &position)
{
    position = 0;
    return S_OK;
}

namespace {

// The two enumerators of interface pointers hold a reference on each.
template <class P> void HoldAll(std::vector<P> &list, P const *from, ULONG count)
{
    list.assign(from, from + count);
    for (P p : list)
        p->AddRef();
}
template <class P> void ReleaseAll(std::vector<P> &list)
{
    for (P p : list)
        p->Release();
    list.clear();
}

}  // namespace

// IEnumConnectionPoints

CImpIEnumConnectionPoints::CImpIEnumConnectionPoints(IUnknown *owner, ULONG count, IConnectionPoint *const *points,
                                                     IMalloc *malloc)
    : CImpIEnumBase(owner, malloc)
{
    HoldAll(m_elements, points, count);
}

CImpIEnumConnectionPoints::~CImpIEnumConnectionPoints()
{
    ReleaseAll(m_elements);
}

STDMETHODIMP CImpIEnumConnectionPoints::Next(ULONG celt, IConnectionPoint **points, ULONG *fetched)
{
    return NextChecked(celt, points, fetched, [](IConnectionPoint *from, IConnectionPoint **to) {
        from->AddRef();
        *to = from;
        return S_OK;
    });
}

// IEnumConnections

CImpIEnumConnections::CImpIEnumConnections(IUnknown *owner, ULONG count, const CONNECTDATA *connections,
                                           IMalloc *malloc)
    : CImpIEnumBase(owner, malloc)
{
    m_elements.assign(connections, connections + count);
    for (CONNECTDATA &c : m_elements)
        if (c.pUnk)
            c.pUnk->AddRef();
}

CImpIEnumConnections::~CImpIEnumConnections()
{
    for (CONNECTDATA &c : m_elements)
        if (c.pUnk)
            c.pUnk->Release();
}

STDMETHODIMP CImpIEnumConnections::Next(ULONG celt, CONNECTDATA *connections, ULONG *fetched)
{
    return NextChecked(celt, connections, fetched, [](const CONNECTDATA &from, CONNECTDATA *to) {
        *to = from;
        if (to->pUnk)
            to->pUnk->AddRef();
        return S_OK;
    });
}

// IEnumOPCItemAttributes

CImpIEnumOPCItemAttributes::CImpIEnumOPCItemAttributes(IUnknown *owner, ULONG count, const OPCITEMATTRIBUTES *items,
                                                       IMalloc *malloc)
    : CImpIEnumBase(owner, malloc)
{
    // A record whose copy failed stays empty rather than half made.
    m_elements.resize(count);
    for (ULONG i = 0; i < count; ++i)
        CopyItemAttributes(&m_elements[i], &items[i], m_pMalloc);
}

CImpIEnumOPCItemAttributes::~CImpIEnumOPCItemAttributes()
{
    for (OPCITEMATTRIBUTES &a : m_elements)
        FreeItemAttributes(&a, m_pMalloc);
}

STDMETHODIMP CImpIEnumOPCItemAttributes::Next(ULONG celt, OPCITEMATTRIBUTES **items, ULONG *fetched)
{
    if (fetched)
        *fetched = 0;
    if (!items)
        return E_POINTER;
    *items = nullptr;
    if (!fetched && celt != 1)
        return E_INVALIDARG;
    if (m_elements.empty() || m_iCur >= Count())
        return S_FALSE;
    // Room for what can be delivered, not for celt: a huge celt would
    // overflow the size.
    ULONG room = celt < Count() - m_iCur ? celt : Count() - m_iCur;
    OPCITEMATTRIBUTES *block = static_cast<OPCITEMATTRIBUTES *>(KitAlloc(m_pMalloc, room * sizeof(OPCITEMATTRIBUTES)));
    if (!block)
        return E_OUTOFMEMORY;
    std::memset(block, 0, room * sizeof(OPCITEMATTRIBUTES));
    ULONG n = 0;
    while (n < room) {
        HRESULT hr = CopyItemAttributes(&block[n], &m_elements[m_iCur], m_pMalloc);
        if (FAILED(hr)) {
            while (n > 0)
                FreeItemAttributes(&block[--n], m_pMalloc);
            KitFree(m_pMalloc, block);
            return hr;
        }
        ++n;
        ++m_iCur;
    }
    *items = block;
    if (fetched)
        *fetched = n;
    return n == celt ? S_OK : S_FALSE;
}

// IEnumString

CImpIEnumString::CImpIEnumString(IUnknown *owner, ULONG count, const std::wstring *texts, IMalloc *malloc)
    : CImpIEnumBase(owner, malloc)
{
    m_elements.assign(texts, texts + count);
}

STDMETHODIMP CImpIEnumString::Next(ULONG celt, LPOLESTR *texts, ULONG *fetched)
{
    IMalloc *malloc = m_pMalloc;
    return NextLoose(celt, texts, fetched, [malloc](const std::wstring &from, LPOLESTR *to) {
        *to = AllocWideCopy(from.c_str(), malloc);
        return *to ? S_OK : E_OUTOFMEMORY;
    });
}

// IEnumUnknown

CImpIEnumUnknown::CImpIEnumUnknown(IUnknown *owner, ULONG count, IUnknown *const *objects, IMalloc *malloc)
    : CImpIEnumBase(owner, malloc)
{
    HoldAll(m_elements, objects, count);
}

CImpIEnumUnknown::~CImpIEnumUnknown()
{
    ReleaseAll(m_elements);
}

STDMETHODIMP CImpIEnumUnknown::Next(ULONG celt, IUnknown **objects, ULONG *fetched)
{
    return NextLoose(celt, objects, fetched, [](IUnknown *from, IUnknown **to) {
        from->AddRef();
        *to = from;
        return S_OK;
    });
}
