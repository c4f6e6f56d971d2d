// The tool's end of the server's data-monitor connection: a small COM object
// that the server calls with every protocol frame of the blocks whose
// "TracewellOn" is set, and that hands the frames to the Tracewell window
// (sent frames in the send colours, received ones in the receive colours).
// The main frame owns it; the count never deletes it.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include "QORDriver.h"

// The Tracewell window's four entries, a seam so tests see every call.
class IScopeWindow {
public:
    virtual ~IScopeWindow() = default;
    virtual int Open(HWND parent) = 0;
    virtual LRESULT Close() = 0;
    virtual int IsOpen() = 0;
    virtual int Send(const BYTE *bytes, WORD length, int direction) = 0;
};

// Tracewell.dll from the program's folder (loaded on first use; with no
// library the window never opens).
class CTracewellLibrary : public IScopeWindow {
public:
    ~CTracewellLibrary() override;
    int Open(HWND parent) override;
    LRESULT Close() override;
    int IsOpen() override;
    int Send(const BYTE *bytes, WORD length, int direction) override;

private:
    bool Load();
    HMODULE m_module = NULL;
    bool m_tried = false;
    int(WINAPI *m_open)(HWND) = nullptr;
    LRESULT(WINAPI *m_close)() = nullptr;
    int(WINAPI *m_isOpen)() = nullptr;
    int(WINAPI *m_send)(const BYTE *, WORD, int) = nullptr;
};

class CScopeCallback : public ITracewellSink {
public:
    explicit CScopeCallback(IScopeWindow &window);
    ~CScopeCallback();

    // Loads the sink's type information from the server's registered type
    // library and keeps the connection; false when the information is missing.
    bool Initialise(ITracewellConnect *connection);
    // The same over a type library at hand (tests load the server's file).
    bool Initialise(ITracewellConnect *connection, ITypeLib *library);
    // Registers this object with the server (once); false when refused.
    bool Connect();
    // Unregisters; the server's answer, or S_FALSE when not connected.
    HRESULT Disconnect();
    // Lets the type information go; when connected, unregisters and closes
    // the window.
    void Destroy();
    bool Connected() const { return m_connected; }
    // The menu command: closes an open window (unregistering first), or
    // registers and, only then, opens the window without a parent.
    void Toggle();
    bool WindowOpen() { return m_window.IsOpen() != 0; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo **info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *exception, UINT *argError) override;
    // ITracewellSink
    HRESULT STDMETHODCALLTYPE FrameSent(BSTR frame) override;
    HRESULT STDMETHODCALLTYPE FrameReceived(BSTR frame) override;

private:
    HRESULT Frame(BSTR frame, int direction);

    IScopeWindow &m_window;
    LONG m_count = 0;
    ITypeInfo *m_typeInfo = nullptr;
    ITracewellConnect *m_connection = nullptr;
    bool m_connected = false;
    long m_cookie = 0;
};
