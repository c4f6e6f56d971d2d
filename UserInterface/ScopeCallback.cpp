#include "ScopeCallback.h"
#include <string>
#include "TestLog.h"
#include "TypeInfoDispatch.h"

// --- the library -----------------------------------------------------------------

CTracewellLibrary::~CTracewellLibrary()
{
    if (m_module)
        FreeLibrary(m_module);
}

bool CTracewellLibrary::Load()
{
    if (m_tried)
        return m_module != NULL;
    m_tried = true;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder = path;
    size_t slash = folder.find_last_of('\\');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    m_module = LoadLibraryA((folder + "Tracewell.dll").c_str());
    if (!m_module)
        return false;
    m_open = reinterpret_cast<int(WINAPI *)(HWND)>(GetProcAddress(m_module, "VuxOpenScope"));
    m_close = reinterpret_cast<LRESULT(WINAPI *)()>(GetProcAddress(m_module, "VuxCloseScope"));
    m_isOpen = reinterpret_cast<int(WINAPI *)()>(GetProcAddress(m_module, "VuxIsScopeOpen"));
    m_send = reinterpret_cast<int(WINAPI *)(const BYTE *, WORD, int)>(GetProcAddress(m_module, "VuxSendScopeData"));
    if (!m_open || !m_close || !m_isOpen || !m_send) {
        FreeLibrary(m_module);
        m_module = NULL;
    }
    return m_module != NULL;
}

int CTracewellLibrary::Open(HWND parent) { return Load() ? m_open(parent) : 0; }
LRESULT CTracewellLibrary::Close() { return Load() ? m_close() : 0; }
int CTracewellLibrary::IsOpen() { return m_module ? m_isOpen() : 0; }
int CTracewellLibrary::Send(const BYTE *bytes, WORD length, int direction)
{
    return Load() ? m_send(bytes, length, direction) : 0;
}

// --- the callback ----------------------------------------------------------------

CScopeCallback::CScopeCallback(IScopeWindow &window) : m_window(window) {}

CScopeCallback::~CScopeCallback()
{
    Destroy();
    if (m_connection)
        m_connection->Release();
}

bool CScopeCallback::Initialise(ITracewellConnect *connection)
{
    ITypeLib *library = nullptr;
    if (FAILED(LoadRegTypeLib(LIBID_QORDriverLib, 7, 0, 9, &library)) || !library)
        return false;
    bool done = Initialise(connection, library);
    library->Release();
    return done;
}

bool CScopeCallback::Initialise(ITracewellConnect *connection, ITypeLib *library)
{
    if (m_typeInfo) {
        m_typeInfo->Release();
        m_typeInfo = nullptr;
    }
    HRESULT hr = library ? library->GetTypeInfoOfGuid(IID_ITracewellSink, &m_typeInfo) : E_POINTER;
    if (FAILED(hr) || !m_typeInfo) {
        m_typeInfo = nullptr;
        return false;
    }
    if (connection)
        connection->AddRef();
    if (m_connection)
        m_connection->Release();
    m_connection = connection;
    return true;
}

bool CScopeCallback::Connect()
{
    if (m_connected)
        return true;
    if (!m_connection)
        return false;
    long cookie = 0;
    if (FAILED(m_connection->Connect(static_cast<ITracewellSink *>(this), 0, &cookie)))
        return false;
    m_cookie = cookie;
    m_connected = true;
    return true;
}

HRESULT CScopeCallback::Disconnect()
{
    if (!m_connected)
        return S_FALSE;
    // Cleared first: the server may call in again while the call is out.
    m_connected = false;
    return m_connection->Disconnect(m_cookie);
}

void CScopeCallback::Destroy()
{
    if (m_typeInfo) {
        m_typeInfo->Release();
        m_typeInfo = nullptr;
    }
    if (m_connected) {
        Disconnect();
        m_window.Close();
    }
}

void CScopeCallback::Toggle()
{
    if (m_window.IsOpen()) {
        Disconnect();
        m_window.Close();
    } else if (Connect()) {
        m_window.Open(NULL);
    }
}

HRESULT CScopeCallback::QueryInterface(REFIID iid, void **object)
{
    if (!object)
        return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ITracewellSink) {
        *object = static_cast<ITracewellSink *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CScopeCallback::AddRef() { return ULONG(InterlockedIncrement(&m_count)); }
ULONG CScopeCallback::Release() { return ULONG(InterlockedDecrement(&m_count)); }

// The dispatch slots are the server's own over the held type information.
HRESULT CScopeCallback::GetTypeInfoCount(UINT *count) { return TypeInfoDispatch::Count(count); }

HRESULT CScopeCallback::GetTypeInfo(UINT index, LCID, ITypeInfo **info)
{
    return TypeInfoDispatch::Info(m_typeInfo, index, info);
}

HRESULT CScopeCallback::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids)
{
    return TypeInfoDispatch::Ids(m_typeInfo, iid, names, count, ids);
}

HRESULT CScopeCallback::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                               EXCEPINFO *exception, UINT *argError)
{
    return TypeInfoDispatch::Call(static_cast<ITracewellSink *>(this), m_typeInfo, id, iid, flags, params, result,
                                  exception, argError);
}

HRESULT CScopeCallback::FrameSent(BSTR frame) { return Frame(frame, 1); }
HRESULT CScopeCallback::FrameReceived(BSTR frame) { return Frame(frame, 0); }

HRESULT CScopeCallback::Frame(BSTR frame, int direction)
{
    if (!m_connected)
        return E_FAIL;
    // A window closed by its own close box: the server need not send more.
    if (!m_window.IsOpen()) {
        Disconnect();
        return S_OK;
    }
    UINT length = frame ? SysStringByteLen(frame) : 0;
    if (length > 0xFFFF)
        length = 0xFFFF;
    int shown = m_window.Send(reinterpret_cast<const BYTE *>(frame), WORD(length), direction);
    AppendTestLog("Tracewell frame " + std::to_string(direction) + " " + std::to_string(length) + " shown " +
                  std::to_string(shown));
    return S_OK;
}
