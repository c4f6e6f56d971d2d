#pragma once
// The server's one automation object and its class factory.
#include <windows.h>
#include <memory>
#include <string>
#include "QORDriver.h"
#include "DriverAppHost.h"

class CDriver;
class CChannel;
class CDevice;
class CDataBlock;
class CConfigObject;

class CDriverApp : public IQORDriver {
public:
    // acronym: the driver's short name; the product name and version are
    // what the driver's Name shows ("<product>, Version <version>").
    CDriverApp(IDriverAppHost *host, const std::string &acronym, const std::string &productName,
               const std::string &productVersion);
    virtual ~CDriverApp();

    // Registry defaults, type information from typeLib, the interface parts.
    // Logs its failures; false when the object cannot be used.
    bool Initialize(ITypeLib *typeLib);

    // The configuration root; null makes a new default driver. Refuses (E_INVALIDARG)
    // anything that is not a CDriver. The Name property follows the root; the
    // root takes this object's product name and version.
    HRESULT SetConfigurationRoot(std::unique_ptr<CDriver> driver);
    // The same, handing the previous root to the caller instead of deleting
    // it (a CSV import keeps it until the new tree stands).
    HRESULT ExchangeConfigurationRoot(std::unique_ptr<CDriver> driver, std::unique_ptr<CDriver> *previous);
    CDriver *Driver() const;

    // File names kept current by the document.
    void SetFullConfigFileName(const std::string &fullName);   // also derives the folder
    void SetConfigFileTitle(const std::string &fileName);
    const std::string &FullConfigFileName() const;
    const std::string &ConfigFileName() const;
    const std::string &ConfigFilePath() const;
    const std::string &FullDefaultConfigFileName() const;
    const std::string &Acronym() const;
    // The default name and folder as the registry or the setters left them.
    const std::string &DefaultConfigFileName() const { return m_defaultFileName; }
    const std::string &DefaultConfigFilePath() const { return m_defaultFilePath; }
    bool SaveOnRelease() const { return m_saveOnRelease != 0; }

    // Client counts that the module reads and clears when its last reference goes.
    LONG KivRefs() const;
    LONG PollRefs() const;
    LONG OpcClients() const;
    bool MorritConnected() const { return m_morrit != 0; }
    void ClearClientCounts();
    void PublishStatus();            // the counts into the driver's status block
    // The module's state word, published with the counts (offset 0 of the status block).
    void SetServerState(WORD state) { m_serverState = state; PublishStatus(); }

    // The interface parts the module hands out (no reference added).
    IUnknown *ErrorInfoPart();
    IUnknown *MessagePart();
    IUnknown *OpcConnectionsPart();
    IUnknown *ConnectSinkPart();
    // The Alarm & Event connections open now.
    size_t AlarmConnectionCount() const;

    // Object handle kinds: 0 none, 1 driver (handle 0), 2 channel, 3 device,
    // 4 data block. Only live objects of the current tree classify; object
    // (may be null) receives the object named.
    enum HandleKind { KindNone = 0, KindDriver = 1, KindChannel = 2, KindDevice = 3, KindDataBlock = 4 };
    HandleKind Classify(LONG handle, CConfigObject **object = nullptr) const;

    // IUnknown: the module's identity.
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch through the IDriver type information.
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale, DISPID *ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override;

    // IDriver: application, names and files.
    STDMETHODIMP get_Application(IDispatch **application) override;
    STDMETHODIMP get_Name(BSTR *name) override;
    STDMETHODIMP get_Path(BSTR *path) override;
    STDMETHODIMP get_FullName(BSTR *fullName) override;
    STDMETHODIMP get_ConfigFileName(BSTR *fileName) override;
    STDMETHODIMP get_ConfigFilePath(BSTR *filePath) override;
    STDMETHODIMP get_FullConfigFileName(BSTR *fullFileName) override;
    STDMETHODIMP put_DefaultConfigFileName(BSTR fileName) override;
    STDMETHODIMP get_DefaultConfigFileName(BSTR *fileName) override;
    STDMETHODIMP put_DefaultConfigFilePath(BSTR filePath) override;
    STDMETHODIMP get_DefaultConfigFilePath(BSTR *filePath) override;
    STDMETHODIMP get_FullDefaultConfigFileName(BSTR *fullFileName) override;
    STDMETHODIMP get_FileSaved(VARIANT_BOOL *saved) override;
    STDMETHODIMP put_Visible(VARIANT_BOOL visible) override;
    STDMETHODIMP get_Visible(VARIANT_BOOL *visible) override;
    STDMETHODIMP get_Running(VARIANT_BOOL *running) override;
    // Client references.
    STDMETHODIMP put_KivRef(LONG clientKind) override;
    STDMETHODIMP get_KivRef(LONG *remaining) override;
    STDMETHODIMP put_PollRef(LONG unused) override;
    STDMETHODIMP get_PollRef(LONG *remaining) override;
    // File commands and run control.
    STDMETHODIMP FileNew() override;
    STDMETHODIMP FileSave() override;
    STDMETHODIMP FileSaveAs(BSTR fileName) override;
    STDMETHODIMP FileOpen(BSTR fileName) override;
    STDMETHODIMP Quit() override;
    STDMETHODIMP Poll(LONG handle) override;
    STDMETHODIMP Switch(LONG deviceHandle) override;
    STDMETHODIMP StartWait() override;
    STDMETHODIMP Stop() override;
    // Configuration tree.
    STDMETHODIMP AddChannel(VARIANT names, VARIANT values, VARIANT *errors, LONG *channelHandle) override;
    STDMETHODIMP RemoveChannel(LONG channelHandle) override;
    STDMETHODIMP AddDevice(LONG channelHandle, VARIANT names, VARIANT values, VARIANT *errors,
                           LONG *deviceHandle) override;
    STDMETHODIMP RemoveDevice(LONG channelHandle, LONG deviceHandle) override;
    STDMETHODIMP CopyDevice(LONG deviceHandle, BSTR newName, LONG channelHandle, VARIANT_BOOL move) override;
    STDMETHODIMP AddDataBlock(LONG deviceHandle, VARIANT names, VARIANT values, VARIANT *errors,
                              LONG *dataBlockHandle) override;
    STDMETHODIMP RemoveDataBlock(LONG deviceHandle, LONG dataBlockHandle) override;
    STDMETHODIMP SetPropertyData(LONG handle, VARIANT names, VARIANT values, VARIANT *errors) override;
    STDMETHODIMP GetPropertyData(LONG handle, VARIANT names, VARIANT *values, VARIANT *errors) override;
    STDMETHODIMP GetProperties(short objectKind, VARIANT *names, LONG *count) override;
    STDMETHODIMP GetChannels(VARIANT *handles, VARIANT *names, LONG *count) override;
    STDMETHODIMP GetDevices(LONG channelHandle, VARIANT *handles, VARIANT *names, LONG *count) override;
    STDMETHODIMP GetDataBlocks(LONG deviceHandle, VARIANT *handles, VARIANT *names, LONG *count) override;
    // Data access.
    STDMETHODIMP ReadData(LONG dataBlockHandle, short dataType, LONG startElement, LONG bit, LONG count,
                          short signalType, float highEU, float lowEU, VARIANT *values, VARIANT *qualities,
                          VARIANT *timeStamps) override;
    STDMETHODIMP WriteData(LONG dataBlockHandle, LONG startElement, LONG bit, short signalType, float highEU,
                           float lowEU, VARIANT data) override;
    STDMETHODIMP SetDataAddress(BSTR address, short itemWord, LONG *deviceReference, LONG *addressWord,
                                LONG *internalAddress, LONG *dataBlockHandle, short *dataBlockIndex) override;
    STDMETHODIMP GetDataAddress(LONG addressWord, LONG internalAddress, LONG dataBlockHandle, LONG itemWord,
                                BSTR *address) override;
    STDMETHODIMP ReservedMethod1(LONG, LONG, LONG, LONG, LONG, LONG) override;
    STDMETHODIMP SetPropertyData2(BSTR objectName, VARIANT names, VARIANT values, VARIANT *errors) override;
    STDMETHODIMP GetPropertyData2(BSTR objectName, VARIANT names, VARIANT *values, VARIANT *errors) override;
    STDMETHODIMP ReservedMethod2(LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG,
                                 LONG) override;
    // IQORDriver.
    STDMETHODIMP RegisterException(LONG on, LONG dataBlockHandle, LONG addressWord, LONG internalAddress,
                                   unsigned char tag, short tagId, unsigned char itemKind,
                                   short hmiValue) override;
    STDMETHODIMP GetConfiguredCPList(VARIANT *names, LONG *count) override;
    STDMETHODIMP GetConfiguredVFDList(BSTR cpName, VARIANT *names, LONG *count) override;
    STDMETHODIMP GetConfiguredCONNList(BSTR cpName, BSTR vfdName, VARIANT *names, LONG *count) override;
    STDMETHODIMP GetRawDataBlockContent(LONG dataBlockHandle, VARIANT *content) override;
    STDMETHODIMP FileOpenEx(BSTR fileName, LONG flags) override;
    STDMETHODIMP ObjectName2Handle(BSTR name, LONG *handle, VARIANT_BOOL *found) override;
    STDMETHODIMP Start(VARIANT_BOOL wait) override;

private:
    class CErrorInfoPart;
    class CMessagePart;
    class COpcConnectionsPart;
    friend class COpcConnectionsPart;
    class CConnectSinkPart;   // DriverAppAlarms.h

    // The catch-all of every member: body's result, with error information
    // for a failure; an escaping exception is logged as
    // "<member>():  Exception generated" and gives 0xC1050400.
    // (DriverAppGuard.h)
    template <class F> static HRESULT Guarded(const char *member, F &&body);

    void ReadDefaults();
    void WriteDefaults();
    void SetFileNames(const std::string &fullName);
    HRESULT SaveDocument(const std::string &path);
    HRESULT OpenFile(const std::string &path, LONG flags);
    // Add* and the property-array members (DriverAppConfig.cpp).
    HRESULT AddObject(HandleKind parentKind, LONG parentHandle, VARIANT &names, VARIANT &values,
                      VARIANT *errors, LONG *handle);
    HRESULT SetPropertyArray(LONG handle, VARIANT &names, VARIANT &values, VARIANT *errors);
    HRESULT GetPropertyArray(LONG handle, VARIANT &names, VARIANT *values, VARIANT *errors);
    HRESULT ListChildren(HandleKind parentKind, LONG parentHandle, VARIANT *handles, VARIANT *names,
                         LONG *count);
    HRESULT RunControl(bool start, bool wait);
    HRESULT RemoveChild(HandleKind parentKind, LONG parentHandle, LONG childHandle);
    // The handle of the object named (empty: the driver); found false when none.
    void FindObject(const std::string &name, LONG *handle, bool *found) const;
    CConfigObject *Prototype(HandleKind kind);

    IDriverAppHost *m_host;
    std::string m_acronym, m_productName, m_productVersion;
    std::unique_ptr<CDriver> m_driver;
    std::unique_ptr<CErrorInfoPart> m_errorInfo;
    std::unique_ptr<CMessagePart> m_message;
    std::unique_ptr<COpcConnectionsPart> m_opcConnections;
    std::unique_ptr<CConnectSinkPart> m_connectSink;
    std::string m_name, m_path, m_fullName;
    std::string m_configFileName, m_configFilePath, m_fullConfigFileName;
    std::string m_defaultFileName, m_defaultFilePath, m_fullDefaultFileName;
    ITypeInfo *m_typeInfo = nullptr;
    std::unique_ptr<CChannel> m_protoChannel;
    std::unique_ptr<CDevice> m_protoDevice;
    std::unique_ptr<CDataBlock> m_protoBlock;
    volatile LONG m_saveOnRelease = 1;
    volatile LONG m_kivRefs = 0, m_pollRefs = 0, m_morrit = 0, m_opcClients = 0;
    WORD m_serverState = 0;
    bool m_initialized = false;
};

// The class factory: created and started by the module before the class
// object is registered; hands the one automation object to every client.
class CDriverAppFactory : public IClassFactory {
public:
    // Made with one reference, the creator's; the last Release deletes it.
    CDriverAppFactory();
    virtual ~CDriverAppFactory();
    // Creates and initialises the automation object; logs and fails as the
    // start-up rules say. The factory keeps the object until Shutdown.
    HRESULT StartUp(IDriverAppHost *host, const std::string &acronym, const std::string &productName,
                    const std::string &productVersion, ITypeLib *typeLib);
    CDriverApp *App() const;
    // Revokes the running-object-table entry (logging a failure), disconnects and
    // destroys the automation object.
    void Shutdown();

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    volatile LONG m_refs = 1;
    CDriverApp *m_app = nullptr;
    DWORD m_rotCookie = 0;
    bool m_registered = false;
};

// Publishes the message-table text of a failing code as error information
// with the IDriver identity and "Veltrane.Hadrel" as source; clears the
// document status through the host; returns code unchanged.
HRESULT SetDriverErrorInfo(HRESULT code);
void SetDriverErrorInfoHost(IDriverAppHost *host);

// A one-dimensional SAFEARRAY of VARIANT, lower bound 0.
HRESULT CreateVariantSafeArray(LONG count, SAFEARRAY **out);
