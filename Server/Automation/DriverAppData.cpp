// Data access through the automation object: reads and writes of block
// items, HMI addresses and their canonical texts, exception registrations,
// a block's raw bytes, and the S7 configuration lists.
#include "DriverApp.h"
#include "DriverAppGuard.h"
#include "DataBlock.h"
#include "Driver.h"

using automation::ArgText;
using automation::PutString;

STDMETHODIMP CDriverApp::ReadData(LONG dataBlockHandle, short dataType, LONG startElement, LONG bit, LONG count,
                                  short signalType, float highEU, float lowEU, VARIANT *values,
                                  VARIANT *qualities, VARIANT *timeStamps)
{
    return Guarded("IDrvDataBlock::ReadData", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        if (Classify(dataBlockHandle, &object) != KindDataBlock || !values || !qualities || !timeStamps)
            return E_INVALIDARG;
        // The caller may hand back the arrays of its previous call.
        VariantClear(values);
        VariantClear(qualities);
        VariantClear(timeStamps);
        LONG code = static_cast<CDataBlock *>(object)->ReadData(VARTYPE(dataType), startElement, bit, count,
                                                                 unsigned(signalType), highEU, lowEU, timeStamps,
                                                                 qualities, values);
        return code < 0 ? HRESULT(code) : S_OK;
    });
}

STDMETHODIMP CDriverApp::WriteData(LONG dataBlockHandle, LONG startElement, LONG bit, short signalType,
                                   float highEU, float lowEU, VARIANT data)
{
    return Guarded("IDrvDataBlock::WriteData", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        if (Classify(dataBlockHandle, &object) != KindDataBlock)
            return E_INVALIDARG;
        LONG code = static_cast<CDataBlock *>(object)->WriteData(startElement, bit, unsigned(signalType), highEU,
                                                                  lowEU, data);
        return code < 0 ? HRESULT(code) : S_OK;
    });
}

STDMETHODIMP CDriverApp::SetDataAddress(BSTR address, short itemWord, LONG *deviceReference, LONG *addressWord,
                                        LONG *internalAddress, LONG *dataBlockHandle, short *dataBlockIndex)
{
    return Guarded("IDriver::SetDataAddress", [&]() -> HRESULT {
        if (!deviceReference || !addressWord || !internalAddress || !dataBlockHandle || !dataBlockIndex)
            return E_INVALIDARG;
        if (!m_driver)
            return E_FAIL;
        std::string text = ArgText(address);
        uint32_t reference = uint32_t(*deviceReference), word = 0, internal = 0, handle = 0;
        unsigned short index = 0;
        LONG code = m_driver->SetDataAddress(text.c_str(), uint32_t(uint16_t(itemWord)), &reference, &word,
                                             &internal, &index, &handle);
        *deviceReference = LONG(reference);
        *addressWord = LONG(word);
        *internalAddress = LONG(internal);
        *dataBlockHandle = LONG(handle);
        *dataBlockIndex = short(index);
        if (code != 0)
            return code;
        // A data address joined, grew or created a block of the configuration.
        if (handle != 0 && internal < 0x10000000u && m_host)
            m_host->SetDocumentModified();
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::GetDataAddress(LONG addressWord, LONG internalAddress, LONG dataBlockHandle,
                                        LONG itemWord, BSTR *address)
{
    return Guarded("IDriver::GetDataAddress", [&]() -> HRESULT {
        if (!address)
            return E_INVALIDARG;
        if (!m_driver)
            return E_FAIL;
        // No block (0) answers the hint text; any other handle must name a
        // live object: a data block, or for a control item any object.
        CConfigObject *object = nullptr;
        HandleKind kind = Classify(dataBlockHandle, &object);
        if (dataBlockHandle != 0 &&
            (uint32_t(internalAddress) >= 0x10000000u ? kind == KindNone : kind != KindDataBlock))
            return E_INVALIDARG;
        std::string text;
        LONG code = m_driver->GetDataAddress(uint32_t(addressWord), uint32_t(internalAddress),
                                             uint32_t(dataBlockHandle), uint32_t(itemWord), &text);
        if (code != 0)
            return code;
        return PutString(address, text);
    });
}

STDMETHODIMP CDriverApp::RegisterException(LONG on, LONG dataBlockHandle, LONG addressWord, LONG internalAddress,
                                           unsigned char tag, short tagId, unsigned char itemKind, short hmiValue)
{
    return Guarded("IQORDriver::RegisterException", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        if (Classify(dataBlockHandle, &object) != KindDataBlock)
            return E_INVALIDARG;
        LONG code = m_driver->RegisterException(on != 0, static_cast<CDataBlock *>(object), uint32_t(addressWord),
                                                uint32_t(internalAddress), tag, uint16_t(tagId), itemKind,
                                                uint32_t(uint16_t(hmiValue)));
        return code != 0 ? HRESULT(code) : S_OK;
    });
}

namespace {

// The common start of the three lists: both outs reset before anything else.
HRESULT PrepareList(CDriver *driver, VARIANT *names, LONG *count)
{
    if (!names || !count)
        return E_INVALIDARG;
    VariantClear(names);
    *count = 0;
    return driver ? S_OK : E_FAIL;
}

} // namespace

STDMETHODIMP CDriverApp::GetConfiguredCPList(VARIANT *names, LONG *count)
{
    return Guarded("IQORDriver::GetConfiguredCPList", [&]() -> HRESULT {
        HRESULT hr = PrepareList(m_driver.get(), names, count);
        return FAILED(hr) ? hr : HRESULT(m_driver->GetCpNames(names, count));
    });
}

STDMETHODIMP CDriverApp::GetConfiguredVFDList(BSTR cpName, VARIANT *names, LONG *count)
{
    return Guarded("IQORDriver::GetConfiguredVFDList", [&]() -> HRESULT {
        HRESULT hr = PrepareList(m_driver.get(), names, count);
        if (FAILED(hr))
            return hr;
        std::string cp = ArgText(cpName);
        return m_driver->GetVfdNames(cp.c_str(), names, count);
    });
}

STDMETHODIMP CDriverApp::GetConfiguredCONNList(BSTR cpName, BSTR vfdName, VARIANT *names, LONG *count)
{
    return Guarded("IQORDriver::GetConfiguredCONNList", [&]() -> HRESULT {
        HRESULT hr = PrepareList(m_driver.get(), names, count);
        if (FAILED(hr))
            return hr;
        std::string cp = ArgText(cpName), vfd = ArgText(vfdName);
        return m_driver->GetConnectionNames(cp.c_str(), vfd.c_str(), names, count);
    });
}

STDMETHODIMP CDriverApp::GetRawDataBlockContent(LONG dataBlockHandle, VARIANT *content)
{
    return Guarded("IQORDriver::GetRawDataBlockContent", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        if (!content || Classify(dataBlockHandle, &object) != KindDataBlock)
            return E_INVALIDARG;
        VariantClear(content);
        return static_cast<CDataBlock *>(object)->GetRawDataBlockContent(content);
    });
}
