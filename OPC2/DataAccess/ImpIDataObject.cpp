#include "ImpIDataObject.h"

#include <cstring>

#include "Brisko.h"
#include "OPCDrvGroup.h"
#include "OPCDrvItem.h"
#include "OPCDrvServer.h"
#include "OpcKit.h"

namespace {

const WORD kStreamFlags[2] = {CHANGE_DATA, CHANGE_DATATIME};

HGLOBAL AllocBlock(SIZE_T size, BYTE **data)
{
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) {
        OutputDebugStringA("GlobalAlloc() failed for OnDataChange() operation\n");
        return nullptr;
    }
    *data = static_cast<BYTE *>(GlobalLock(block));
    if (!*data) {
        OutputDebugStringA("GlobalLock() failed for OnDataChange() operation\n");
        GlobalFree(block);
        return nullptr;
    }
    std::memset(*data, 0, size);
    return block;
}

}  // namespace

CImpIDataObject::CImpIDataObject(IUnknown *owner, COPCDrvGroup *group) : CTearOff<IDataObject>(owner), m_pGroup(group)
{
    std::memset(&m_medium, 0, sizeof(m_medium));
    m_medium.tymed = TYMED_HGLOBAL;
    m_format.cfFormat = 0;
    m_format.ptd = nullptr;
    m_format.dwAspect = DVASPECT_CONTENT;
    m_format.lindex = -1;
    m_format.tymed = TYMED_HGLOBAL;
}

CImpIDataObject::~CImpIDataObject()
{
    for (int slot : {SlotDataTime, SlotData, SlotWriteComplete}) {
        if (!m_pSinks[slot])
            continue;
        try {
            m_pSinks[slot]->Release();
        } catch (...) {
        }
        m_pSinks[slot] = nullptr;
    }
}

int CImpIDataObject::SlotOf(CLIPFORMAT format)
{
    if (format == g_cfData)
        return SlotData;
    if (format == g_cfDataTime)
        return SlotDataTime;
    if (format == g_cfWriteComplete)
        return SlotWriteComplete;
    return -1;
}

STDMETHODIMP CImpIDataObject::DAdvise(FORMATETC *format, DWORD, IAdviseSink *sink, DWORD *connection)
{
    if (!format || !sink || !connection)
        return E_POINTER;
    *connection = 0;
    COPCDrvGroup *g = m_pGroup;
    return g->WhileInServer([&]() -> HRESULT {
        int slot = SlotOf(format->cfFormat);
        if (slot < 0)
            return DV_E_FORMATETC;
        if (m_pSinks[slot])
            return CONNECT_E_ADVISELIMIT;
        HRESULT hr = sink->QueryInterface(IID_IAdviseSink, reinterpret_cast<void **>(&m_pSinks[slot]));
        if (FAILED(hr)) {
            m_pSinks[slot] = nullptr;
            return hr;
        }
        // The next pass sends every active item once.
        if (slot != SlotWriteComplete)
            g->MarkChanged(kStreamFlags[slot], nullptr);
        *connection = format->cfFormat;
        return S_OK;
    });
}

STDMETHODIMP CImpIDataObject::DUnadvise(DWORD connection)
{
    COPCDrvGroup *g = m_pGroup;
    IAdviseSink *released = nullptr;
    HRESULT hr = g->WhileInServer([&]() -> HRESULT {
        int slot = connection <= 0xFFFF ? SlotOf(CLIPFORMAT(connection)) : -1;
        if (slot < 0 || !m_pSinks[slot])
            return OLE_E_NOCONNECTION;
        released = m_pSinks[slot];
        m_pSinks[slot] = nullptr;
        if (slot != SlotWriteComplete)
            g->ClearChanged(kStreamFlags[slot], nullptr);
        return S_OK;
    });
    if (released)
        released->Release();
    return hr;
}

HGLOBAL CImpIDataObject::BuildData(const std::vector<OPCHANDLE> &handles, bool withTime, DWORD transactionId,
                                   DWORD source)
{
    COPCDrvGroup *g = m_pGroup;
    const DWORD count = DWORD(handles.size());
    std::vector<COPCDrvItem *> items(count, nullptr);
    std::vector<VARIANT> values(count);
    std::vector<WORD> qualities(count, 0);
    std::vector<FILETIME> times(count, FILETIME{0, 0});
    SIZE_T size = sizeof(OPCGROUPHEADER) + SIZE_T(count) * (withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2));
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&values[i]);
        if ((items[i] = g->FindItem(handles[i])) == nullptr)
            continue;
        items[i]->GetValue(source, &values[i], &qualities[i], &times[i]);
        // A transaction's cache read of an inactive group is out of service,
        // and the header says so.
        if (transactionId && source == SOURCE_CACHE && !g->m_bActive)
            qualities[i] = WORD((qualities[i] & 0xFF1F) | OPC_QUALITY_OUT_OF_SERVICE);
        size += StreamValueSize(&values[i]);
    }
    BYTE *data = nullptr;
    HGLOBAL block = AllocBlock(size, &data);
    if (block) {
        OPCGROUPHEADER *header = reinterpret_cast<OPCGROUPHEADER *>(data);
        header->dwSize = DWORD(size);
        header->dwItemCount = count;
        header->hClientGroup = g->m_hClient;
        header->dwTransactionID = transactionId;
        header->hrStatus = S_OK;
        BYTE *itemHeader = data + sizeof(OPCGROUPHEADER);
        BYTE *value = itemHeader + SIZE_T(count) * (withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2));
        for (DWORD i = 0; i < count; ++i) {
            if (!items[i]) {
                header->hrStatus = S_FALSE;  // its header stays zero
            } else if (withTime) {
                OPCITEMHEADER1 *h = reinterpret_cast<OPCITEMHEADER1 *>(itemHeader);
                h->hClient = items[i]->ClientHandle();
                h->dwValueOffset = DWORD(value - data);
                h->wQuality = qualities[i];
                h->ftTimeStampItem = times[i];
            } else {
                OPCITEMHEADER2 *h = reinterpret_cast<OPCITEMHEADER2 *>(itemHeader);
                h->hClient = items[i]->ClientHandle();
                h->dwValueOffset = DWORD(value - data);
                h->wQuality = qualities[i];
            }
            if (items[i]) {
                value += StreamValueCopy(value, &values[i]);
                if (transactionId == 0)
                    g->ClearChanged(kStreamFlags[withTime ? 1 : 0], items[i]);
            }
            itemHeader += withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
        }
        GlobalUnlock(block);
    }
    for (VARIANT &v : values)
        VariantClear(&v);
    return block;
}

HGLOBAL CImpIDataObject::BuildWriteComplete(const std::vector<OPCHANDLE> &handles, const std::vector<HRESULT> &errors,
                                            DWORD transactionId)
{
    COPCDrvGroup *g = m_pGroup;
    const DWORD count = DWORD(handles.size());
    BYTE *data = nullptr;
    HGLOBAL block = AllocBlock(sizeof(OPCGROUPHEADERWRITE) + SIZE_T(count) * sizeof(OPCITEMHEADERWRITE), &data);
    if (!block)
        return nullptr;
    OPCGROUPHEADERWRITE *header = reinterpret_cast<OPCGROUPHEADERWRITE *>(data);
    header->dwItemCount = count;
    header->hClientGroup = g->m_hClient;
    header->dwTransactionID = transactionId;
    header->hrStatus = S_OK;
    OPCITEMHEADERWRITE *items = reinterpret_cast<OPCITEMHEADERWRITE *>(data + sizeof(OPCGROUPHEADERWRITE));
    for (DWORD i = 0; i < count; ++i) {
        COPCDrvItem *item = g->FindItem(handles[i]);
        if (!item) {
            header->hrStatus = S_FALSE;
            continue;
        }
        items[i].hClient = item->ClientHandle();
        // Each item's own result: a failed write is not reported as done.
        items[i].dwError = i < errors.size() ? errors[i] : S_OK;
    }
    GlobalUnlock(block);
    return block;
}

HRESULT CImpIDataObject::Send(Slot slot, HGLOBAL block)
{
    if (!block)
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    if (IAdviseSink *sink = m_pSinks[slot]) {
        m_format.cfFormat = CLIPFORMAT(slot == SlotData ? g_cfData : slot == SlotDataTime ? g_cfDataTime : g_cfWriteComplete);
        m_medium.tymed = TYMED_HGLOBAL;
        m_medium.hGlobal = block;
        m_medium.pUnkForRelease = nullptr;
        try {
            sink->OnDataChange(&m_format, &m_medium);
        } catch (...) {
            char text[128];
            if (slot == SlotWriteComplete)
                lstrcpynA(text, "IAdviseSink::OnDataChange(): Exception Generated during write complete callback",
                          sizeof(text));
            else
                wsprintfA(text, "IAdviseSink::OnDataChange(): Exception Generated during data callback (with time=%d)",
                          slot == SlotDataTime ? 1 : 0);
            OutputDebugStringA(text);
            hr = E_UNEXPECTED;
        }
        if (slot != SlotWriteComplete && m_pGroup->m_pServer)
            m_pGroup->m_pServer->NoteUpdate();
        m_medium.hGlobal = nullptr;
    }
    GlobalFree(block);
    return hr;
}
