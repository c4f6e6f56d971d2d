#pragma once
// The server's one automation object and its class factory.
#include <windows.h>
#include <memory>
#include <string>
#include "QORDriver.h"
#include "DriverAppHost.h"

class CDriver;

class CDriverApp : public IQORDriver {
public:
    CDriverApp(IDriverAppHost *host, const std::string &acronym);
    virtual ~CDriverApp();

    // Registry defaults, type information from typeLib, the interface parts.
    // Logs its failures; false when the object cannot be used.
    bool Initialize(ITypeLib *typeLib);

    // The configuration root; null makes a new default driver. Refuses (E_INVALIDARG)
    // anything that is not a CDriver. The Name property follows the root.
    HRESULT SetConfigurationRoot(std::unique_ptr<CDriver> driver);
    CDriver *Driver() const;

    // File names kept current by the document.
    void SetFullConfigFileName(const std::string &fullName);   // also derives the folder
    void SetConfigFileTitle(const std::string &fileName);
    const std::string &FullConfigFileName() const;
    const std::string &ConfigFileName() const;
    const std::string &ConfigFilePath() const;
    const std::string &FullDefaultConfigFileName() const;
    const std::string &Acronym() const;

    // Client counts that the module reads and clears when its last reference goes.
    LONG KivRefs() const;
    LONG PollRefs() const;
    LONG OpcClients() const;
    void ClearClientCounts();
    void PublishStatus();            // the counts into the driver's status block

    // The interface parts the module hands out (no reference added).
    IUnknown *ErrorInfoPart();
    IUnknown *MessagePart();
    IUnknown *OpcConnectionsPart();
    IUnknown *ConnectSinkPart();     // null until the alarm connections exist

    // IUnknown, IDispatch, IDriver, IQORDriver: declared by the implementation.
};

// The class factory: created and started by the module before the class
// object is registered; hands the one automation object to every client.
class CDriverAppFactory : public IClassFactory {
public:
    CDriverAppFactory();
    // Creates and initialises the automation object; logs and fails as the
    // start-up rules say. The factory keeps the object until Shutdown.
    HRESULT StartUp(IDriverAppHost *host, const std::string &acronym, ITypeLib *typeLib);
    CDriverApp *App() const;
    // Revokes the running-object-table entry (logging a failure), disconnects and
    // destroys the automation object.
    void Shutdown();
    // IUnknown, IClassFactory: declared by the implementation.
};

// Publishes the message-table text of a failing code as error information
// with the IDriver identity and "Veltrane.Hadrel" as source; clears the
// document status through the host; returns code unchanged.
HRESULT SetDriverErrorInfo(HRESULT code);
void SetDriverErrorInfoHost(IDriverAppHost *host);

// A one-dimensional SAFEARRAY of VARIANT, lower bound 0.
HRESULT CreateVariantSafeArray(LONG count, SAFEARRAY **out);
