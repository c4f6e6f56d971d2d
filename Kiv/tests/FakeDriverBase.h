// An in-process stand-in for the server's automation object: every IDriver
// and IQORDriver member that Oxley does not call answers E_NOTIMPL and is
// recorded as unexpected. It aggregates the free-threaded marshaller, so the
// Global Interface Table hands back the object itself in this process.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>
#include "QORDriver.h"

class FakeDriverBase : public IQORDriver {
public:
    // The calls that a test did not expect, by member name.
    std::vector<std::string> unexpected;

    virtual ~FakeDriverBase() = default;

    // IDispatch: Oxley calls through the vtable only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override { return Unexpected("GetTypeInfoCount"); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return Unexpected("GetTypeInfo"); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return Unexpected("GetIDsOfNames");
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return Unexpected("Invoke");
    }

    HRESULT STDMETHODCALLTYPE get_Application(IDispatch **application) override { return Unexpected("get_Application"); }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override { return Unexpected("get_Name"); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR *path) override { return Unexpected("get_Path"); }
    HRESULT STDMETHODCALLTYPE get_FullName(BSTR *fullName) override { return Unexpected("get_FullName"); }
    HRESULT STDMETHODCALLTYPE get_ConfigFileName(BSTR *fileName) override { return Unexpected("get_ConfigFileName"); }
    HRESULT STDMETHODCALLTYPE get_ConfigFilePath(BSTR *filePath) override { return Unexpected("get_ConfigFilePath"); }
    HRESULT STDMETHODCALLTYPE get_FullConfigFileName(BSTR *fullFileName) override { return Unexpected("get_FullConfigFileName"); }
    HRESULT STDMETHODCALLTYPE put_DefaultConfigFileName(BSTR fileName) override { return Unexpected("put_DefaultConfigFileName"); }
    HRESULT STDMETHODCALLTYPE get_DefaultConfigFileName(BSTR *fileName) override { return Unexpected("get_DefaultConfigFileName"); }
    HRESULT STDMETHODCALLTYPE put_DefaultConfigFilePath(BSTR filePath) override { return Unexpected("put_DefaultConfigFilePath"); }
    HRESULT STDMETHODCALLTYPE get_DefaultConfigFilePath(BSTR *filePath) override { return Unexpected("get_DefaultConfigFilePath"); }
    HRESULT STDMETHODCALLTYPE get_FullDefaultConfigFileName(BSTR *fullFileName) override { return Unexpected("get_FullDefaultConfigFileName"); }
    HRESULT STDMETHODCALLTYPE get_FileSaved(VARIANT_BOOL *saved) override { return Unexpected("get_FileSaved"); }
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL visible) override { return Unexpected("put_Visible"); }
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL *visible) override { return Unexpected("get_Visible"); }
    HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL *running) override { return Unexpected("get_Running"); }
    HRESULT STDMETHODCALLTYPE put_PollRef(LONG unused) override { return Unexpected("put_PollRef"); }
    HRESULT STDMETHODCALLTYPE get_PollRef(LONG *remaining) override { return Unexpected("get_PollRef"); }
    HRESULT STDMETHODCALLTYPE FileNew() override { return Unexpected("FileNew"); }
    HRESULT STDMETHODCALLTYPE FileSave() override { return Unexpected("FileSave"); }
    HRESULT STDMETHODCALLTYPE FileSaveAs(BSTR fileName) override { return Unexpected("FileSaveAs"); }
    HRESULT STDMETHODCALLTYPE FileOpen(BSTR fileName) override { return Unexpected("FileOpen"); }
    HRESULT STDMETHODCALLTYPE Quit() override { return Unexpected("Quit"); }
    HRESULT STDMETHODCALLTYPE StartWait() override { return Unexpected("StartWait"); }
    HRESULT STDMETHODCALLTYPE Stop() override { return Unexpected("Stop"); }
    HRESULT STDMETHODCALLTYPE AddChannel(VARIANT names, VARIANT values, VARIANT *errors, LONG *channelHandle) override { return Unexpected("AddChannel"); }
    HRESULT STDMETHODCALLTYPE RemoveChannel(LONG channelHandle) override { return Unexpected("RemoveChannel"); }
    HRESULT STDMETHODCALLTYPE AddDevice(LONG channelHandle, VARIANT names, VARIANT values, VARIANT *errors, LONG *deviceHandle) override { return Unexpected("AddDevice"); }
    HRESULT STDMETHODCALLTYPE RemoveDevice(LONG channelHandle, LONG deviceHandle) override { return Unexpected("RemoveDevice"); }
    HRESULT STDMETHODCALLTYPE CopyDevice(LONG deviceHandle, BSTR newName, LONG channelHandle, VARIANT_BOOL move) override { return Unexpected("CopyDevice"); }
    HRESULT STDMETHODCALLTYPE AddDataBlock(LONG deviceHandle, VARIANT names, VARIANT values, VARIANT *errors, LONG *dataBlockHandle) override { return Unexpected("AddDataBlock"); }
    HRESULT STDMETHODCALLTYPE RemoveDataBlock(LONG deviceHandle, LONG dataBlockHandle) override { return Unexpected("RemoveDataBlock"); }
    HRESULT STDMETHODCALLTYPE GetProperties(short objectKind, VARIANT *names, LONG *count) override { return Unexpected("GetProperties"); }
    HRESULT STDMETHODCALLTYPE GetChannels(VARIANT *handles, VARIANT *names, LONG *count) override { return Unexpected("GetChannels"); }
    HRESULT STDMETHODCALLTYPE GetDevices(LONG channelHandle, VARIANT *handles, VARIANT *names, LONG *count) override { return Unexpected("GetDevices"); }
    HRESULT STDMETHODCALLTYPE GetDataBlocks(LONG deviceHandle, VARIANT *handles, VARIANT *names, LONG *count) override { return Unexpected("GetDataBlocks"); }
    HRESULT STDMETHODCALLTYPE ReadData(LONG dataBlockHandle, short dataType, LONG startElement, LONG bit, LONG count, short signalType, float highEU, float lowEU, VARIANT *values, VARIANT *qualities, VARIANT *timeStamps) override { return Unexpected("ReadData"); }
    HRESULT STDMETHODCALLTYPE WriteData(LONG dataBlockHandle, LONG startElement, LONG bit, short signalType, float highEU, float lowEU, VARIANT data) override { return Unexpected("WriteData"); }
    HRESULT STDMETHODCALLTYPE ReservedMethod1(LONG reserved1, LONG reserved2, LONG reserved3, LONG reserved4, LONG reserved5, LONG reserved6) override { return Unexpected("ReservedMethod1"); }
    HRESULT STDMETHODCALLTYPE SetPropertyData2(BSTR objectName, VARIANT names, VARIANT values, VARIANT *errors) override { return Unexpected("SetPropertyData2"); }
    HRESULT STDMETHODCALLTYPE GetPropertyData2(BSTR objectName, VARIANT names, VARIANT *values, VARIANT *errors) override { return Unexpected("GetPropertyData2"); }
    HRESULT STDMETHODCALLTYPE ReservedMethod2(LONG reserved1, LONG reserved2, LONG reserved3, LONG reserved4, LONG reserved5, LONG reserved6, LONG reserved7, LONG reserved8, LONG reserved9, LONG reserved10, LONG reserved11, LONG reserved12) override { return Unexpected("ReservedMethod2"); }
    HRESULT STDMETHODCALLTYPE GetConfiguredCPList(VARIANT *names, LONG *count) override { return Unexpected("GetConfiguredCPList"); }
    HRESULT STDMETHODCALLTYPE GetConfiguredVFDList(BSTR cpName, VARIANT *names, LONG *count) override { return Unexpected("GetConfiguredVFDList"); }
    HRESULT STDMETHODCALLTYPE GetConfiguredCONNList(BSTR cpName, BSTR vfdName, VARIANT *names, LONG *count) override { return Unexpected("GetConfiguredCONNList"); }
    HRESULT STDMETHODCALLTYPE GetRawDataBlockContent(LONG dataBlockHandle, VARIANT *content) override { return Unexpected("GetRawDataBlockContent"); }
    HRESULT STDMETHODCALLTYPE FileOpenEx(BSTR fileName, LONG flags) override { return Unexpected("FileOpenEx"); }
    HRESULT STDMETHODCALLTYPE ObjectName2Handle(BSTR name, LONG *handle, VARIANT_BOOL *found) override { return Unexpected("ObjectName2Handle"); }
    HRESULT STDMETHODCALLTYPE Start(VARIANT_BOOL wait) override { return Unexpected("Start"); }

protected:
    HRESULT Unexpected(const char *name)
    {
        unexpected.push_back(name);
        return E_NOTIMPL;
    }
};
