// The group's IDataObject tear-off for OPC 1.0 clients: one advise sink per
// stream format, and the streams (blocks of global memory) the poll pass
// builds and hands to them.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <vector>

#include "OpcDataAccess.h"
#include "TearOff.h"

class COPCDrvGroup;

// The published records of the streams keep their 32-bit sizes.
static_assert(sizeof(OPCGROUPHEADER) == 20 && sizeof(OPCITEMHEADER1) == 20 && sizeof(OPCITEMHEADER2) == 12 &&
                  sizeof(OPCGROUPHEADERWRITE) == 16 && sizeof(OPCITEMHEADERWRITE) == 8,
              "the OPC 1.0 stream records");

class CImpIDataObject : public CTearOff<IDataObject> {
public:
    enum Slot { SlotData = 0, SlotDataTime = 1, SlotWriteComplete = 2 };

    CImpIDataObject(IUnknown *owner, COPCDrvGroup *group);
    ~CImpIDataObject() override;

    STDMETHODIMP GetData(FORMATETC *, STGMEDIUM *) override { return E_NOTIMPL; }
    STDMETHODIMP GetDataHere(FORMATETC *, STGMEDIUM *) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC *) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC *, FORMATETC *) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC *, STGMEDIUM *, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC **) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC *format, DWORD flags, IAdviseSink *sink, DWORD *connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA **) override { return E_NOTIMPL; }

    // Under the group lock (the poll pass).
    bool IsAdvised(Slot slot) const { return m_pSinks[slot] != nullptr; }
    // The stream of a list of item handles (a removed item: a zero header,
    // status S_FALSE); a data change (transaction id 0) takes each packed
    // item's mark off. Null when the memory cannot be had.
    HGLOBAL BuildData(const std::vector<OPCHANDLE> &handles, bool withTime, DWORD transactionId, DWORD source);
    HGLOBAL BuildWriteComplete(const std::vector<OPCHANDLE> &handles, const std::vector<HRESULT> &errors,
                               DWORD transactionId);
    // Hands the block to the slot's sink and frees it.
    HRESULT Send(Slot slot, HGLOBAL block);

private:
    static int SlotOf(CLIPFORMAT format);
    COPCDrvGroup *m_pGroup;
    IAdviseSink *m_pSinks[3] = {nullptr, nullptr, nullptr};
    STGMEDIUM m_medium;
    FORMATETC m_format;
};
