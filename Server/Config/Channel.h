// A channel: the devices that share one S7 communication processor (CP)
// and VFD, with an optional backup CP and VFD.
#pragma once
#include "ConfigObject.h"
#include "Device.h"

// One of a channel's two CP/VFD pairs. The transaction processor that
// serves it comes with the S7 connection layer.
struct ChannelConnection {
    std::string cpName;     // at most 130 characters
    std::string vfdName;    // at most 34 characters
    void *processor = nullptr;
    LONG users = 0;         // devices holding this record
    LONG state = 0;         // 1 once the processor opened the VFD
    LONG activeResources = 0;
    std::mutex lock;
};

class CChannel : public CConfigObject {
    QOR_DECLARE_SERIAL(CChannel)
public:
    // The object's own fields in the configuration file (children are
    // written by the document, each after its parent).
    void Serialize(CArchive &archive) override;
    // Created by class (configuration load): no defaults, no default name.
    CChannel();
    // withDefaults: a client's new channel, with registry defaults and a
    // default name. withThreads: false for prototype objects, which can
    // never be enabled.
    CChannel(bool withDefaults, bool withThreads = true);
    ~CChannel() override;

    const CPropertyTable &Properties() const override;
    void ResetCounter(PropertyId id) override;

    // Enable: CFG_E_NO_THREADS without worker threads; already enabled
    // answers 0 silently. log: post the enable/disable lines.
    LONG Enable(bool log);
    LONG Disable(bool log, int stopKind = 0);
    // Stops every device with the stop kind.
    void Stop(int stopKind);
    bool IsEnabled() const { return m_enabled; }
    bool IsThreaded() const { return m_threaded; }

    ChannelConnection &Primary() { return m_primary; }
    ChannelConnection &Backup() { return m_backup; }
    int DeviceScanPriority() const { return m_deviceScanPriority; }
    int MessageParsePriority() const { return m_messageParsePriority; }

    LONG AddDevice(CDevice *device);
    LONG RemoveDevice(CObject *device);
    LONG GetDevices(SAFEARRAY *handles, SAFEARRAY *names);
    std::vector<CDevice *> Devices() const;

    // A count or the sum of a counter over its devices.
    LONG Sum(PropertyId id) const;

    // The process-wide counter of default channel names.
    static long &NameCounter();

protected:
    LONG GetValue(const PropertyInfo &info, VARIANT *value) override;
    LONG SetValue(const PropertyInfo &info, const VARIANT &value) override;

private:
    LONG SetCpName(ChannelConnection &record, const VARIANT &value);
    LONG SetVfdName(ChannelConnection &record, const VARIANT &value);

    CChildList<CDevice> m_devices;
    ChannelConnection m_primary, m_backup;
    bool m_enabled = false;
    bool m_threaded = false;
    LONG m_activeQueueCount = 0;
    LONG m_parseQueueCount = 0;
    int m_deviceScanPriority = 8;     // 8: leave the thread's priority as it is
    int m_messageParsePriority = 8;
};
