// Test doubles that fake the server's side of its interfaces: each records the
// calls it expects and fails the test on any other member. They live on the
// stack of a test; their counts never delete them.
#pragma once

#include "QORDriver.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#define UNEXPECTED_CALL                                      \
    {                                                        \
        ADD_FAILURE() << "unexpected call " << __func__;     \
        return E_NOTIMPL;                                    \
    }

// IUnknown for a stub: answers IUnknown and the listed interfaces, nothing else
// (COM asks for IMarshal and friends, which must simply be refused).
template <class Iface> class StubUnknown : public Iface {
public:
    explicit StubUnknown(std::initializer_list<const IID *> iids) : iids_(iids) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        bool known = IsEqualIID(riid, IID_IUnknown);
        for (const IID *iid : iids_) known = known || IsEqualIID(riid, *iid);
        if (!known) return E_NOINTERFACE;
        *ppv = static_cast<Iface *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }

private:
    LONG refs_ = 1;
    std::vector<const IID *> iids_;
};

template <class Iface> class StubDispatch : public StubUnknown<Iface> {
public:
    using StubUnknown<Iface>::StubUnknown;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                                     UINT *) override UNEXPECTED_CALL
};

// The automation object: the members the marshalling test calls record their
// arguments; each answers fixed out values.
class StubDriver : public StubDispatch<IQORDriver> {
public:
    StubDriver() : StubDispatch({&IID_IDispatch, &IID_IDriver, &IID_IQORDriver}) {}

    std::vector<std::string> calls;
    LONG kivKind = 0;
    struct {
        LONG block; short type; LONG start, bit, count; short signal; float high, low;
        VARTYPE valuesOnEntry;
    } read{};
    std::wstring address;
    short itemWord = 0;
    LONG deviceRefIn = 0;
    struct { LONG on, block, addressWord, internalAddress; BYTE tag; short tagId; BYTE kind; short hmi; } exc{};

    HRESULT STDMETHODCALLTYPE put_KivRef(LONG clientKind) override
    {
        calls.push_back(__func__);
        kivKind = clientKind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_KivRef(LONG *remaining) override
    {
        calls.push_back(__func__);
        *remaining = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadData(LONG dataBlockHandle, short dataType, LONG startElement, LONG bit, LONG count,
                                       short signalType, float highEU, float lowEU, VARIANT *values,
                                       VARIANT *qualities, VARIANT *timeStamps) override
    {
        calls.push_back(__func__);
        read = {dataBlockHandle, dataType, startElement, bit, count, signalType, highEU, lowEU, V_VT(values)};
        // As the server does: free what the caller passed, hand back new arrays.
        VariantClear(values);
        VariantClear(qualities);
        VariantClear(timeStamps);
        SAFEARRAY *sa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
        for (LONG i = 0; i < 2; ++i) {
            VARIANT v;
            V_VT(&v) = VT_R4;
            V_R4(&v) = 1.5f + i;
            SafeArrayPutElement(sa, &i, &v);
        }
        V_VT(values) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(values) = sa;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDataAddress(BSTR text, short item, LONG *deviceReference, LONG *addressWord,
                                             LONG *internalAddress, LONG *dataBlockHandle,
                                             short *dataBlockIndex) override
    {
        calls.push_back(__func__);
        address = text ? text : L"";
        itemWord = item;
        deviceRefIn = *deviceReference;
        *deviceReference = 77;
        *addressWord = 0x11;
        *internalAddress = 0x10000004;
        *dataBlockHandle = 0x2002;
        *dataBlockIndex = 3;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterException(LONG on, LONG dataBlockHandle, LONG addressWord, LONG internalAddress,
                                                unsigned char tag, short tagId, unsigned char itemKind,
                                                short hmiValue) override
    {
        calls.push_back(__func__);
        exc = {on, dataBlockHandle, addressWord, internalAddress, tag, tagId, itemKind, hmiValue};
        return S_OK;
    }
    // Refuses a start without waiting, as a start too soon after a stop does.
    HRESULT STDMETHODCALLTYPE Start(VARIANT_BOOL wait) override
    {
        calls.push_back(__func__);
        return wait ? S_OK : HRESULT(0xC1030320);
    }

    HRESULT STDMETHODCALLTYPE get_Application(IDispatch **) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_Path(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_FullName(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_ConfigFileName(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_ConfigFilePath(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_FullConfigFileName(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE put_DefaultConfigFileName(BSTR) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_DefaultConfigFileName(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE put_DefaultConfigFilePath(BSTR) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_DefaultConfigFilePath(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_FullDefaultConfigFileName(BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_FileSaved(VARIANT_BOOL *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE put_PollRef(LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE get_PollRef(LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE FileNew() override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE FileSave() override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE FileSaveAs(BSTR) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE FileOpen(BSTR) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE Quit() override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE Poll(LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE Switch(LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE StartWait() override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE Stop() override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE AddChannel(VARIANT, VARIANT, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE RemoveChannel(LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE AddDevice(LONG, VARIANT, VARIANT, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE RemoveDevice(LONG, LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE CopyDevice(LONG, BSTR, LONG, VARIANT_BOOL) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE AddDataBlock(LONG, VARIANT, VARIANT, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE RemoveDataBlock(LONG, LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE SetPropertyData(LONG, VARIANT, VARIANT, VARIANT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG, VARIANT, VARIANT *, VARIANT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetProperties(short, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetChannels(VARIANT *, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetDevices(LONG, VARIANT *, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetDataBlocks(LONG, VARIANT *, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE WriteData(LONG, LONG, LONG, short, float, float, VARIANT) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetDataAddress(LONG, LONG, LONG, LONG, BSTR *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE ReservedMethod1(LONG, LONG, LONG, LONG, LONG, LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE SetPropertyData2(BSTR, VARIANT, VARIANT, VARIANT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetPropertyData2(BSTR, VARIANT, VARIANT *, VARIANT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE ReservedMethod2(LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG,
                                              LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetConfiguredCPList(VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetConfiguredVFDList(BSTR, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetConfiguredCONNList(BSTR, BSTR, VARIANT *, LONG *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE GetRawDataBlockContent(LONG, VARIANT *) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE FileOpenEx(BSTR, LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE ObjectName2Handle(BSTR, LONG *, VARIANT_BOOL *) override UNEXPECTED_CALL
};

// The server's Alarm & Event connection part: Connect delivers one message to
// the callback before it answers, as a connection's worker would later.
class StubConnectSink : public StubUnknown<IConnectSink> {
public:
    StubConnectSink() : StubUnknown({&IID_IConnectSink}) {}

    IID iid{};
    LONG connectValue = 0;

    HRESULT STDMETHODCALLTYPE Connect(REFIID callbackIid, IUnknown *callback, LONG value, LONG *connection) override
    {
        iid = callbackIid;
        connectValue = value;
        IAlarmMessageSink *sink = nullptr;
        HRESULT hr = callback ? callback->QueryInterface(IID_IAlarmMessageSink, reinterpret_cast<void **>(&sink))
                              : E_POINTER;
        if (FAILED(hr)) return hr;
        BSTR text = SysAllocString(L"Driver Started");
        BSTR source = SysAllocString(L"QOR");
        sink->OnMessage2(text, 0x00010304, source);
        SysFreeString(text);
        SysFreeString(source);
        sink->Release();
        *connection = 5;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Value(LONG connection, LONG *value) override
    {
        if (connection != 5) return HRESULT(0x80040200);
        *value = connectValue;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect(LONG) override UNEXPECTED_CALL
    HRESULT STDMETHODCALLTYPE put_Value(LONG, LONG) override UNEXPECTED_CALL
};

// The client's Alarm & Event callback.
class RecordingAlarmSink : public StubUnknown<IAlarmMessageSink> {
public:
    RecordingAlarmSink() : StubUnknown({&IID_IAlarmMessageSink}) {}

    std::vector<std::wstring> messages;
    LONG lastCode = 0;

    HRESULT STDMETHODCALLTYPE OnMessage2(BSTR message, LONG eventCode, BSTR source) override
    {
        messages.push_back(std::wstring(message) + L"|" + source);
        lastCode = eventCode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnMessage(BSTR, LONG, BSTR) override UNEXPECTED_CALL
};

// The configuration tool's data monitor callback: keeps the frames' bytes.
class RecordingFrameSink : public StubDispatch<ITracewellSink> {
public:
    RecordingFrameSink() : StubDispatch({&IID_IDispatch, &IID_ITracewellSink}) {}

    std::vector<std::string> sent;

    HRESULT STDMETHODCALLTYPE FrameSent(BSTR frame) override
    {
        sent.emplace_back(reinterpret_cast<const char *>(frame), SysStringByteLen(frame));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FrameReceived(BSTR) override UNEXPECTED_CALL
};
