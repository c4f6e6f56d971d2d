// The tool's side of the data monitor for tests and the benchmark: an
// ITracewellSink whose two frame methods come to OnFrame (direction 1 sent,
// 0 received); the dispatch methods are not used. A sink given a
// free-threaded marshaler is called directly on the server's sender thread
// in the same process.
#pragma once
#include <windows.h>
#include <ole2.h>
#include "QORDriver.h"

class FrameSinkBase : public ITracewellSink {
public:
    virtual ~FrameSinkBase()
    {
        if (m_marshaler)
            m_marshaler->Release();
    }
    void UseFreeThreadedMarshaler() { CoCreateFreeThreadedMarshaler(this, &m_marshaler); }
    LONG Refs() const { return m_refs; }

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IMarshal) && m_marshaler)
            return m_marshaler->QueryInterface(iid, out);
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, IID_ITracewellSink))
            return E_NOINTERFACE;
        *out = static_cast<ITracewellSink *>(this);
        AddRef();
        return S_OK;
    }
    // The test owns the object: counts only.
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_refs)); }
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP FrameSent(BSTR frame) override { return OnFrame(1, frame); }
    STDMETHODIMP FrameReceived(BSTR frame) override { return OnFrame(0, frame); }

protected:
    virtual HRESULT OnFrame(int direction, BSTR frame) = 0;

private:
    volatile LONG m_refs = 1;
    IUnknown *m_marshaler = nullptr;
};
