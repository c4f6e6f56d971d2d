// The automation object: its life, registry defaults, identity, dispatch,
// the small interface parts, the class factory, the error-info publisher,
// and the members that concern the application itself (names and files,
// visibility, client references, file commands, run control).
#include "DriverApp.h"
#include "TypeInfoDispatch.h"
#include "DriverAppGuard.h"
#include "DriverAppAlarms.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "EventCode.h"
#include "HmiAlarm.h"
#include "Registry.h"
#include "ServerMsg.h"
#include <cctype>

using automation::ArgText;
using automation::PutString;

namespace {

IDriverAppHost *g_errorHost = nullptr;

const LONG kMemberException = LONG(0xC1050400);

// Whether a file name's extension (after its last ".") is LOG, in any case.
bool IsLogReportName(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || path.size() - dot != 4)
        return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str() + dot + 1, 3, "LOG", 3) == CSTR_EQUAL;
}
const LONG kMorritClientKind = 121167;   // the HMI's scan and alarm task

// Interlocked decrement that stops at 0: a client that disconnects more
// often than it connected must not drive a count negative (a negative HMI
// or poll-stub count would refuse Quit for good).
LONG DecrementToZero(volatile LONG *count)
{
    for (;;) {
        LONG now = *count;
        if (now <= 0)
            return 0;
        if (InterlockedCompareExchange(count, now - 1, now) == now)
            return now - 1;
    }
}

std::string ProgramPath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, &path[0], DWORD(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string DefaultsKey(const std::string &acronym)
{
    return "Software\\Veltrane\\Drivers\\" + acronym + "\\DriverDefaults";
}

} // namespace

namespace automation {

std::string ArgText(BSTR text)
{
    try {
        return text ? ConfigValue::Narrow(text) : std::string();
    } catch (const std::bad_alloc &) {
        throw StringCopyFailed();
    }
}

HRESULT PutString(BSTR *out, const std::string &text)
{
    if (!out)
        return E_INVALIDARG;
    SysFreeString(*out);
    *out = SysAllocString(ConfigValue::Widen(text).c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

void LogMemberException(const char *member)
{
    try {
        LogMessage(SeverityError, "%s():  Exception generated", member);
    } catch (...) {
    }
}

} // namespace automation

// --- error information ------------------------------------------------------

void SetDriverErrorInfoHost(IDriverAppHost *host) { g_errorHost = host; }

HRESULT SetDriverErrorInfo(HRESULT code)
{
    ICreateErrorInfo *create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
        create->SetGUID(IID_IDriver);
        create->SetSource(const_cast<LPOLESTR>(L"Veltrane.Hadrel"));
        std::string text;
        if (CServerMsg *log = GetServerMsg()) {
            try {
                if (log->GetMessageText(DWORD(code), text) != 0)
                    text.clear();
            } catch (...) {
                text.clear();
            }
        }
        while (!text.empty() && isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        if (!text.empty()) {
            std::wstring wide = ConfigValue::Widen(text);
            create->SetDescription(&wide[0]);
        }
        IErrorInfo *info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info))) && info) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    if (g_errorHost)
        g_errorHost->ClearDocumentStatus();
    return code;
}

HRESULT CreateVariantSafeArray(LONG count, SAFEARRAY **out)
{
    if (!out || count < 0)
        return E_INVALIDARG;
    *out = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(count));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// --- the interface parts ----------------------------------------------------

// Every part answers for the module's identity.
#define QOR_FORWARD_IUNKNOWN(owner)                                                         \
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override                           \
    {                                                                                       \
        return owner->QueryInterface(iid, out);                                             \
    }                                                                                       \
    STDMETHODIMP_(ULONG) AddRef() override { return owner->AddRef(); }                      \
    STDMETHODIMP_(ULONG) Release() override { return owner->Release(); }

class CDriverApp::CErrorInfoPart : public ISupportErrorInfo {
public:
    explicit CErrorInfoPart(CDriverApp *owner) : m_owner(owner) {}
    QOR_FORWARD_IUNKNOWN(m_owner)
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return IsEqualIID(iid, IID_IDriver) ? S_OK : S_FALSE;
    }

private:
    CDriverApp *m_owner;
};

class CDriverApp::CMessagePart : public IDriverMessage {
public:
    CMessagePart(CDriverApp *owner, IDriverAppHost *host) : m_owner(owner), m_host(host) {}
    ~CMessagePart()
    {
        if (m_typeInfo)
            m_typeInfo->Release();
    }
    bool Initialize(ITypeLib *typeLib)
    {
        return typeLib && SUCCEEDED(typeLib->GetTypeInfoOfGuid(IID_IDriverMessage, &m_typeInfo)) && m_typeInfo;
    }
    QOR_FORWARD_IUNKNOWN(m_owner)
    STDMETHODIMP GetTypeInfoCount(UINT *count) override { return TypeInfoDispatch::Count(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **info) override
    {
        return TypeInfoDispatch::Info(m_typeInfo, index, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        return TypeInfoDispatch::Ids(m_typeInfo, iid, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override
    {
        return TypeInfoDispatch::Call(static_cast<IDriverMessage *>(this), m_typeInfo, id, iid, flags, params, result,
                                      exception, argError);
    }
    STDMETHODIMP LogInfo(BSTR text) override { return Post(SeverityInfo, text); }
    STDMETHODIMP LogWarning(BSTR text) override { return Post(SeverityWarning, text); }
    STDMETHODIMP LogError(BSTR text) override { return Post(SeverityError, text); }
    STDMETHODIMP LogFatal(BSTR text) override { return Post(SeverityFatal, text); }

private:
    HRESULT Post(LONG severity, BSTR text)
    {
        try {
            // A CSV import posts its own lines; clients' lines would bury them.
            if (m_host && m_host->DocumentImporting())
                return S_FALSE;
            LogMessage(severity, "%s", ArgText(text).c_str());
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    CDriverApp *m_owner;
    IDriverAppHost *m_host;
    ITypeInfo *m_typeInfo = nullptr;
};

class CDriverApp::COpcConnectionsPart : public IOPCConnections {
public:
    explicit COpcConnectionsPart(CDriverApp *owner) : m_owner(owner) {}
    QOR_FORWARD_IUNKNOWN(m_owner)
    STDMETHODIMP Connect(LONG *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = InterlockedIncrement(&m_owner->m_opcClients);
        LogMessage(SeverityDebug3, "OPC client connected");
        m_owner->PublishStatus();
        return S_OK;
    }
    STDMETHODIMP Disconnect(LONG *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = DecrementToZero(&m_owner->m_opcClients);
        LogMessage(SeverityDebug3, "OPC client disconnected");
        m_owner->PublishStatus();
        return S_OK;
    }
    STDMETHODIMP GetCount(LONG *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = m_owner->m_opcClients;
        return S_OK;
    }

private:
    CDriverApp *m_owner;
};

// --- life ---------------------------------------------------------------------

CDriverApp::CDriverApp(IDriverAppHost *host, const std::string &acronym, const std::string &productName,
                       const std::string &productVersion)
    : m_host(host), m_acronym(acronym), m_productName(productName), m_productVersion(productVersion)
{
    LogMessage(SeverityDebug3, "Creating new CDriverApp Object (0x%p) at %ld ms\n", static_cast<void *>(this),
               long(GetTickCount()));
}

CDriverApp::~CDriverApp()
{
    if (m_initialized) {
        CoReleaseServerProcess();
        WriteDefaults();
    }
    m_protoChannel.reset();
    m_protoDevice.reset();
    m_protoBlock.reset();
    // Connections first: their workers may still be delivering.
    m_connectSink.reset();
    m_errorInfo.reset();
    m_message.reset();
    m_opcConnections.reset();
    if (m_typeInfo)
        m_typeInfo->Release();
    m_driver.reset();
}

bool CDriverApp::Initialize(ITypeLib *typeLib)
{
    m_fullName = ProgramPath();
    m_path = m_fullName.substr(0, m_fullName.find_last_of('\\') + 1);
    m_defaultFilePath = m_path;
    ReadDefaults();
    m_fullConfigFileName = m_fullDefaultFileName;
    SetFileNames(m_fullConfigFileName);

    if (!typeLib || FAILED(typeLib->GetTypeInfoOfGuid(IID_IDriver, &m_typeInfo)) || !m_typeInfo) {
        m_typeInfo = nullptr;
        LogMessage(SeverityError, "Failed to load type information for interface %s", "IDriver");
        return false;
    }

    // The parts in their order; a failure undoes the ones made.
    m_errorInfo.reset(new (std::nothrow) CErrorInfoPart(this));
    if (!m_errorInfo) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "ISupportErrorInfo");
        return false;
    }
    m_message.reset(new (std::nothrow) CMessagePart(this, m_host));
    if (!m_message) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "IDriverMessage");
        m_errorInfo.reset();
        return false;
    }
    if (!m_message->Initialize(typeLib)) {
        LogMessage(SeverityError, "Failed to load type information for interface %s", "IDriverMessage");
        LogMessage(SeverityFatal, "Server object initialization error:  %s", "IDriverMessage");
        m_message.reset();
        m_errorInfo.reset();
        return false;
    }
    m_opcConnections.reset(new (std::nothrow) COpcConnectionsPart(this));
    if (!m_opcConnections) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "IOPCConnections");
        m_message.reset();
        m_errorInfo.reset();
        return false;
    }
    m_connectSink.reset(new (std::nothrow) CConnectSinkPart(this));
    if (!m_connectSink) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "IConnectSink");
        m_opcConnections.reset();
        m_message.reset();
        m_errorInfo.reset();
        return false;
    }
    CoAddRefServerProcess();
    m_initialized = true;
    return true;
}

void CDriverApp::ReadDefaults()
{
    m_fullDefaultFileName = m_defaultFilePath + m_defaultFileName;
    CRegistry key;
    std::string path = DefaultsKey(m_acronym);
    HKEY probe = nullptr;
    // Reading must not create the key.
    bool open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS;
    if (probe)
        RegCloseKey(probe);
    if (!open || key.OpenKey(path.c_str(), nullptr, KEY_READ) != 0) {
        LogMessage(SeverityError, "Error reading system registry:  %s", "DriverApp");
        return;
    }
    // The values are read whole and extended as strings: a value that fills
    // the registry's text limit still gets its backslash or extension.
    auto readText = [&](const char *name, std::string *value) {
        std::string buffer(CRegistry::MaxTextBytes, '\0');
        unsigned long length = (unsigned long)buffer.size();
        if (key.ReadValue(name, &buffer[0], &length) != 0)
            return false;
        buffer.resize(strlen(buffer.c_str()));
        *value = buffer;
        return true;
    };
    std::string folder, name;
    bool ok = readText("DriverDefaultConfigFilePath", &folder);
    if (ok) {
        // An empty value leaves the current one.
        if (!folder.empty()) {
            if (folder.back() != '\\')
                folder += '\\';
            m_defaultFilePath = folder;
        }
        ok = readText("DriverDefaultConfigFileName", &name);
    }
    if (ok) {
        if (!name.empty()) {
            if (name.find('.') == std::string::npos)
                name += "." + Lower(m_acronym);
            m_defaultFileName = name;
        }
        m_fullDefaultFileName = m_defaultFilePath + m_defaultFileName;
        unsigned long save = 1;
        ok = key.ReadValue("FileSaveOnBrentaExit", &save) == 0;
        if (ok)
            m_saveOnRelease = LONG(save);
    }
    if (!ok)
        LogMessage(SeverityError, "Error reading system registry:  %s", "DriverApp");
}

void CDriverApp::WriteDefaults()
{
    CRegistry key;
    bool ok = key.OpenKey(DefaultsKey(m_acronym).c_str(), nullptr, KEY_WRITE) == 0 &&
              key.WriteValue("DriverDefaultConfigFilePath", m_defaultFilePath.c_str()) == 0 &&
              key.WriteValue("DriverDefaultConfigFileName", m_defaultFileName.c_str()) == 0 &&
              key.WriteValue("FileSaveOnBrentaExit", (unsigned long)m_saveOnRelease) == 0;
    if (!ok)
        LogMessage(SeverityError, "Error writing to system registry:  %s", "DriverApp");
}

HRESULT CDriverApp::SetConfigurationRoot(std::unique_ptr<CDriver> driver)
{
    return ExchangeConfigurationRoot(std::move(driver), nullptr);
}

HRESULT CDriverApp::ExchangeConfigurationRoot(std::unique_ptr<CDriver> driver, std::unique_ptr<CDriver> *previous)
{
    if (driver && !driver->IsKindOf(CDriver::StaticClass()))
        return E_INVALIDARG;
    if (!driver) {
        driver.reset(new (std::nothrow) CDriver(m_acronym.c_str(), m_productName.c_str(), m_productVersion.c_str()));
        if (!driver)
            return E_OUTOFMEMORY;
    } else {
        // A tree read from a file or made by an import knows no product.
        driver->SetProduct(m_productName, m_productVersion);
    }
    if (previous)
        *previous = std::move(m_driver);
    m_driver = std::move(driver);
    m_name = m_driver->Name();
    PublishStatus();
    return S_OK;
}

CDriver *CDriverApp::Driver() const { return m_driver.get(); }

void CDriverApp::SetFileNames(const std::string &fullName)
{
    m_fullConfigFileName = fullName;
    size_t slash = fullName.find_last_of('\\');
    m_configFileName = slash == std::string::npos ? fullName : fullName.substr(slash + 1);
    m_configFilePath = slash == std::string::npos ? std::string() : fullName.substr(0, slash + 1);
}

void CDriverApp::SetFullConfigFileName(const std::string &fullName)
{
    m_fullConfigFileName = fullName;
    size_t slash = fullName.find_last_of('\\');
    m_configFilePath = slash == std::string::npos ? std::string() : fullName.substr(0, slash + 1);
}

void CDriverApp::SetConfigFileTitle(const std::string &fileName) { m_configFileName = fileName; }
const std::string &CDriverApp::FullConfigFileName() const { return m_fullConfigFileName; }
const std::string &CDriverApp::ConfigFileName() const { return m_configFileName; }
const std::string &CDriverApp::ConfigFilePath() const { return m_configFilePath; }
const std::string &CDriverApp::FullDefaultConfigFileName() const { return m_fullDefaultFileName; }
const std::string &CDriverApp::Acronym() const { return m_acronym; }

LONG CDriverApp::KivRefs() const { return m_kivRefs; }
LONG CDriverApp::PollRefs() const { return m_pollRefs; }
LONG CDriverApp::OpcClients() const { return m_opcClients; }

void CDriverApp::ClearClientCounts()
{
    InterlockedExchange(&m_kivRefs, 0);
    InterlockedExchange(&m_pollRefs, 0);
    InterlockedExchange(&m_opcClients, 0);
    InterlockedExchange(&m_morrit, 0);
    PublishStatus();
}

void CDriverApp::PublishStatus()
{
    if (m_driver)
        m_driver->PublishServerStatus(m_serverState, uint16_t(m_kivRefs), uint16_t(m_opcClients),
                                      uint16_t(m_pollRefs));
}

IUnknown *CDriverApp::ErrorInfoPart() { return m_errorInfo.get(); }
IUnknown *CDriverApp::MessagePart() { return m_message.get(); }
IUnknown *CDriverApp::OpcConnectionsPart() { return m_opcConnections.get(); }
IUnknown *CDriverApp::ConnectSinkPart() { return static_cast<IConnectSink *>(m_connectSink.get()); }
size_t CDriverApp::AlarmConnectionCount() const { return m_connectSink ? m_connectSink->ConnectionCount() : 0; }

CDriverApp::HandleKind CDriverApp::Classify(LONG handle, CConfigObject **object) const
{
    if (object)
        *object = nullptr;
    if (!m_driver)
        return KindNone;
    if (handle == 0) {
        if (object)
            *object = m_driver.get();
        return KindDriver;
    }
    // Only the live-object set resolves a handle; prototypes and objects of
    // another tree are live but are not this tree's.
    auto inTree = [&](CChannel *channel) {
        if (!channel)
            return false;
        for (CChannel *c : m_driver->Channels())
            if (c == channel)
                return true;
        return false;
    };
    HandleKind kind = KindNone;
    CConfigObject *found = nullptr;
    uint32_t h = uint32_t(handle);
    if (CChannel *channel = LiveObjectAs<CChannel>(h)) {
        if (inTree(channel))
            kind = KindChannel, found = channel;
    } else if (CDevice *device = LiveObjectAs<CDevice>(h)) {
        if (inTree(device->Channel()))
            kind = KindDevice, found = device;
    } else if (CDataBlock *block = LiveObjectAs<CDataBlock>(h)) {
        if (block->Device() && inTree(block->Device()->Channel()))
            kind = KindDataBlock, found = block;
    }
    if (object)
        *object = found;
    return kind;
}

// --- identity and dispatch ----------------------------------------------------

STDMETHODIMP CDriverApp::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    return m_host ? m_host->ModuleQueryInterface(iid, out) : E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CDriverApp::AddRef() { return m_host ? m_host->ModuleAddRef() : 1; }
STDMETHODIMP_(ULONG) CDriverApp::Release() { return m_host ? m_host->ModuleRelease() : 1; }

STDMETHODIMP CDriverApp::GetTypeInfoCount(UINT *count) { return TypeInfoDispatch::Count(count); }

STDMETHODIMP CDriverApp::GetTypeInfo(UINT index, LCID, ITypeInfo **info)
{
    return TypeInfoDispatch::Info(m_typeInfo, index, info);
}

STDMETHODIMP CDriverApp::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids)
{
    return TypeInfoDispatch::Ids(m_typeInfo, iid, names, count, ids);
}

// The IDriver type information: the members of IQORDriver's end are reached
// through the vtable only.
STDMETHODIMP CDriverApp::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                EXCEPINFO *exception, UINT *argError)
{
    return TypeInfoDispatch::Call(static_cast<IDriver *>(this), m_typeInfo, id, iid, flags, params, result, exception,
                                  argError);
}

// --- application, names and files -------------------------------------------

STDMETHODIMP CDriverApp::get_Application(IDispatch **application)
{
    return Guarded("IDriver::get_Application", [&]() -> HRESULT {
        if (!application)
            return E_INVALIDARG;
        *application = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_Name(BSTR *name)
{
    return Guarded("IDriver::get_Name", [&] { return PutString(name, m_name); });
}

STDMETHODIMP CDriverApp::get_Path(BSTR *path)
{
    return Guarded("IDriver::get_Path", [&] { return PutString(path, m_path); });
}

STDMETHODIMP CDriverApp::get_FullName(BSTR *fullName)
{
    return Guarded("IDriver::get_FullName", [&] { return PutString(fullName, m_fullName); });
}

STDMETHODIMP CDriverApp::get_ConfigFileName(BSTR *fileName)
{
    return Guarded("IDriver::get_ConfigFileName", [&] { return PutString(fileName, m_configFileName); });
}

STDMETHODIMP CDriverApp::get_ConfigFilePath(BSTR *filePath)
{
    return Guarded("IDriver::get_ConfigFilePath", [&] { return PutString(filePath, m_configFilePath); });
}

STDMETHODIMP CDriverApp::get_FullConfigFileName(BSTR *fullFileName)
{
    return Guarded("IDriver::get_FullConfigFileName",
                   [&] { return PutString(fullFileName, m_fullConfigFileName); });
}

STDMETHODIMP CDriverApp::put_DefaultConfigFileName(BSTR fileName)
{
    return Guarded("IDriver::put_DefaultConfigFileName", [&]() -> HRESULT {
        if (!fileName)
            return E_INVALIDARG;
        m_defaultFileName = ArgText(fileName);
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_DefaultConfigFileName(BSTR *fileName)
{
    return Guarded("IDriver::get_DefaultConfigFileName", [&] { return PutString(fileName, m_defaultFileName); });
}

STDMETHODIMP CDriverApp::put_DefaultConfigFilePath(BSTR filePath)
{
    return Guarded("IDriver::put_DefaultConfigFilePath", [&]() -> HRESULT {
        if (!filePath)
            return E_INVALIDARG;
        m_defaultFilePath = ArgText(filePath);
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_DefaultConfigFilePath(BSTR *filePath)
{
    return Guarded("IDriver::get_DefaultConfigFilePath", [&] { return PutString(filePath, m_defaultFilePath); });
}

STDMETHODIMP CDriverApp::get_FullDefaultConfigFileName(BSTR *fullFileName)
{
    return Guarded("IDriver::get_FullDefaultConfigFileName",
                   [&] { return PutString(fullFileName, m_fullDefaultFileName); });
}

STDMETHODIMP CDriverApp::get_FileSaved(VARIANT_BOOL *saved)
{
    return Guarded("IDriver::get_FileSaved", [&]() -> HRESULT {
        if (!saved)
            return E_INVALIDARG;
        *saved = m_host && m_host->DocumentModified() ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::put_Visible(VARIANT_BOOL visible)
{
    return Guarded("IDriver::put_Visible", [&]() -> HRESULT {
        if (m_host)
            m_host->ShowMainWindow(visible == VARIANT_TRUE);
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_Visible(VARIANT_BOOL *visible)
{
    return Guarded("IDriver::get_Visible", [&]() -> HRESULT {
        if (!visible)
            return E_INVALIDARG;
        *visible = m_host && m_host->IsMainWindowVisible() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_Running(VARIANT_BOOL *running)
{
    return Guarded("IDriver::get_Running", [&]() -> HRESULT {
        if (!running)
            return E_INVALIDARG;
        *running = m_driver && m_driver->IsRunning() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

// --- client references -------------------------------------------------------

STDMETHODIMP CDriverApp::put_KivRef(LONG clientKind)
{
    return Guarded("IDriver::put_KivRef", [&]() -> HRESULT {
        if (clientKind == kMorritClientKind) {
            LogMessage(SeverityDebug3, "Brenta Morrit connected");
            InterlockedExchange(&m_morrit, 1);
        } else {
            LogMessage(SeverityDebug3, "Brenta KIV component connected");
        }
        InterlockedIncrement(&m_kivRefs);
        PublishStatus();
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_KivRef(LONG *remaining)
{
    return Guarded("IDriver::get_KivRef", [&]() -> HRESULT {
        if (!remaining)
            return E_INVALIDARG;
        LogMessage(SeverityDebug3, "Brenta KIV component disconnected");
        *remaining = DecrementToZero(&m_kivRefs);
        PublishStatus();
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::put_PollRef(LONG)
{
    return Guarded("IDriver::put_PollRef", [&]() -> HRESULT {
        LogMessage(SeverityDebug3, "Brenta poll stub connected");
        InterlockedIncrement(&m_pollRefs);
        GetHmiAlarmLine().Open();
        PublishStatus();
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::get_PollRef(LONG *remaining)
{
    // Logged with the text of get_KivRef, as the HMI's tools expect.
    return Guarded("IDriver::get_KivRef", [&]() -> HRESULT {
        if (!remaining)
            return E_INVALIDARG;
        LogMessage(SeverityDebug3, "Brenta poll stub disconnected");
        LONG left = DecrementToZero(&m_pollRefs);
        if (left < 1) {
            // The HMI application is going: drop the references its
            // components did not give back, down to what the OPC clients hold.
            if (m_kivRefs > 0 && m_morrit) {
                LogMessage(SeverityDebug3, "Releasing Brenta Morrit reference");
                DecrementToZero(&m_kivRefs);
                InterlockedExchange(&m_morrit, 0);
                GetHmiAlarmLine().Close();
            }
            while (m_kivRefs > m_opcClients) {
                LogMessage(SeverityDebug3, "Releasing Brenta KIV reference");
                DecrementToZero(&m_kivRefs);
            }
            if (m_saveOnRelease && m_host && m_host->DocumentModified()) {
                LogMessage(SeverityDebug1, "Saving config file on Brenta app. release");
                m_host->DocumentSave(m_fullConfigFileName);
            }
        }
        *remaining = m_pollRefs;
        PublishStatus();
        return S_OK;
    });
}

// --- file commands and run control -------------------------------------------

HRESULT CDriverApp::SaveDocument(const std::string &path)
{
    if (!m_host)
        return E_FAIL;
    return m_host->DocumentSave(path);
}

STDMETHODIMP CDriverApp::FileNew()
{
    return Guarded("IDriver::FileNew", [&]() -> HRESULT { return m_host ? m_host->DocumentNew() : E_FAIL; });
}

STDMETHODIMP CDriverApp::FileSave()
{
    return Guarded("IDriver::FileSave", [&] { return SaveDocument(m_fullConfigFileName); });
}

STDMETHODIMP CDriverApp::FileSaveAs(BSTR fileName)
{
    return Guarded("IDriver::FileSaveAs", [&]() -> HRESULT {
        std::string path = ArgText(fileName);
        if (path.empty())
            return E_INVALIDARG;
        HRESULT hr = SaveDocument(path);
        if (FAILED(hr))
            return hr;
        // A message-log report is no configuration file: the configuration
        // keeps its name, so that its next save does not land in the report.
        if (!IsLogReportName(path))
            SetFileNames(path);
        return S_OK;
    });
}

STDMETHODIMP CDriverApp::FileOpen(BSTR fileName)
{
    return Guarded("IDriver::FileOpen", [&] { return OpenFile(ArgText(fileName), 0); });
}

STDMETHODIMP CDriverApp::FileOpenEx(BSTR fileName, LONG flags)
{
    return Guarded("IQORDriver::FileOpenEx", [&] { return OpenFile(ArgText(fileName), flags); });
}

HRESULT CDriverApp::OpenFile(const std::string &path, LONG flags)
{
    if (path.empty())
        return E_INVALIDARG;
    if (!m_host)
        return E_FAIL;
    bool importedOld = false;
    HRESULT hr = m_host->DocumentOpen(path, (flags & 1) != 0, &importedOld);
    if (FAILED(hr))
        return hr;
    // A file of the older CSV dialect must be saved under a name of its own.
    if (!importedOld)
        SetFileNames(path);
    return S_OK;
}

STDMETHODIMP CDriverApp::Quit()
{
    return Guarded("IDriver::Quit", [&]() -> HRESULT {
        if (m_kivRefs != 0 || m_pollRefs != 0) {
            LogMessage(SeverityWarning, "IDriver::Quit():  Denied, Brenta app. connected");
            return kMemberException;
        }
        return m_host && m_host->PostMainWindowClose() ? S_OK : E_FAIL;
    });
}

STDMETHODIMP CDriverApp::Poll(LONG handle)
{
    return Guarded("IDriver::Poll", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        LONG code;
        switch (Classify(handle, &object)) {
        case KindDriver: code = static_cast<CDriver *>(object)->Poll(); break;
        case KindChannel: code = static_cast<CChannel *>(object)->Poll(); break;
        case KindDevice: code = static_cast<CDevice *>(object)->Poll(); break;
        case KindDataBlock: code = static_cast<CDataBlock *>(object)->Poll(); break;
        default: return E_INVALIDARG;
        }
        return code < 0 ? HRESULT(code) : S_OK;
    });
}

STDMETHODIMP CDriverApp::Switch(LONG deviceHandle)
{
    return Guarded("IDriver::Switch", [&]() -> HRESULT {
        CConfigObject *object = nullptr;
        if (Classify(deviceHandle, &object) != KindDevice)
            return E_INVALIDARG;
        LONG code = static_cast<CDevice *>(object)->RequestSwitch();
        return code < 0 ? HRESULT(code) : S_OK;
    });
}

HRESULT CDriverApp::RunControl(bool start, bool wait)
{
    if (!m_driver)
        return E_FAIL;
    LONG code = start ? m_driver->Start(wait) : m_driver->Stop();
    if (code < 0)
        return code;
    ServerMessage line;
    line.severity = SeverityInfo;
    line.text = start ? "Driver Started" : "Driver Stopped";
    line.source = m_driver->Name();
    line.sendEvent = m_driver->SendEvents();
    line.eventCode = CEventCode(4, 3, start ? 1 : 2).Value();
    PostServerMessage(line);
    return S_OK;
}

STDMETHODIMP CDriverApp::StartWait()
{
    return Guarded("IDriver::StartWait", [&] { return RunControl(true, true); });
}

STDMETHODIMP CDriverApp::Start(VARIANT_BOOL wait)
{
    return Guarded("IQORDriver::Start", [&] { return RunControl(true, wait != 0); });
}

STDMETHODIMP CDriverApp::Stop()
{
    return Guarded("IDriver::Stop", [&] { return RunControl(false, false); });
}

STDMETHODIMP CDriverApp::ReservedMethod1(LONG, LONG, LONG, LONG, LONG, LONG) { return E_NOTIMPL; }

STDMETHODIMP CDriverApp::ReservedMethod2(LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG)
{
    return E_NOTIMPL;
}

// --- class factory --------------------------------------------------------------

CDriverAppFactory::CDriverAppFactory() = default;

CDriverAppFactory::~CDriverAppFactory() { Shutdown(); }

HRESULT CDriverAppFactory::StartUp(IDriverAppHost *host, const std::string &acronym, const std::string &productName,
                                   const std::string &productVersion, ITypeLib *typeLib)
{
    if (m_app)
        return S_OK;
    SetDriverErrorInfoHost(host);
    CDriverApp *app = new (std::nothrow) CDriverApp(host, acronym, productName, productVersion);
    if (!app) {
        LogMessage(SeverityFatal, "Server object creation error:  %s", "DriverApp");
        return E_OUTOFMEMORY;
    }
    if (!app->Initialize(typeLib)) {
        LogMessage(SeverityFatal, "Server object initialization error:  %s", "DriverApp");
        delete app;
        return E_FAIL;
    }
    // The data-monitor connection object joins here once it exists.
    m_app = app;
    return S_OK;
}

CDriverApp *CDriverAppFactory::App() const { return m_app; }

void CDriverAppFactory::Shutdown()
{
    if (m_registered) {
        HRESULT hr = RevokeActiveObject(m_rotCookie, nullptr);
        if (FAILED(hr))
            LogMessage(SeverityError, "Application Object ROT revocation failed");
        m_registered = false;
    }
    if (m_app) {
        CoDisconnectObject(static_cast<IDriver *>(m_app), 0);
        delete m_app;
        m_app = nullptr;
    }
}

STDMETHODIMP CDriverAppFactory::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
        return E_NOINTERFACE;
    *out = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CDriverAppFactory::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CDriverAppFactory::Release()
{
    LONG left = InterlockedDecrement(&m_refs);
    if (left == 0)
        delete this;
    return ULONG(left);
}

STDMETHODIMP CDriverAppFactory::CreateInstance(IUnknown *outer, REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!m_app)
        return E_UNEXPECTED;
    if (!m_registered) {
        // Weak: the table's entry must not keep the server alive.
        HRESULT hr = RegisterActiveObject(static_cast<IDriver *>(m_app), CLSID_QORDriver, ACTIVEOBJECT_WEAK,
                                          &m_rotCookie);
        if (FAILED(hr)) {
            LogMessage(SeverityFatal, "Application Object ROT registration failed");
            return hr;
        }
        m_registered = true;
    }
    return m_app->QueryInterface(iid, out);
}

STDMETHODIMP CDriverAppFactory::LockServer(BOOL lock)
{
    if (lock)
        CoAddRefServerProcess();
    else
        CoReleaseServerProcess();
    return S_OK;
}
