#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "XActionProcessor.h"
#include <algorithm>

QOR_IMPLEMENT_SERIAL(CChannel, CConfigObject, 1)

namespace {

const CPropertyTable &ChannelTable()
{
    static const CPropertyTable table({
        {"ActiveQueueCount", VT_I4, PropRead, PID_ActiveQueueCount, false},
        {"BackupActiveResources", VT_I4, PropRead, PID_BackupActiveResources, false},
        {"BackupCPName", VT_BSTR, PropWrite, PID_BackupCPName, false},
        {"BackupVFDName", VT_BSTR, PropWrite, PID_BackupVFDName, false},
        {"DataBlockCount", VT_I4, PropRead, PID_DataBlockCount, false},
        {"Description", VT_BSTR, PropWrite, PID_Description, false},
        {"DeviceCount", VT_I4, PropRead, PID_DeviceCount, false},
        {"Enabled", VT_I2, PropWrite, PID_Enabled, false},
        {"MsgErrorCount", VT_I4, PropReset, PID_MsgErrorCount, false},
        {"MsgReceiveCount", VT_I4, PropReset, PID_MsgReceiveCount, false},
        {"MsgRetryCount", VT_I4, PropReset, PID_MsgRetryCount, false},
        {"MsgTimeoutCount", VT_I4, PropReset, PID_MsgTimeoutCount, false},
        {"MsgTransmitCount", VT_I4, PropReset, PID_MsgTransmitCount, false},
        {"Name", VT_BSTR, PropWrite, PID_Name, false},
        {"ParseQueueCount", VT_I4, PropRead, PID_ParseQueueCount, false},
        {"PollOverrunCount", VT_I4, PropReset, PID_PollOverrunCount, false},
        {"PrimaryActiveResources", VT_I4, PropRead, PID_PrimaryActiveResources, false},
        {"PrimaryCPName", VT_BSTR, PropWrite, PID_PrimaryCPName, false},
        {"PrimaryVFDName", VT_BSTR, PropWrite, PID_PrimaryVFDName, false},
        {"SendEvents", VT_I2, PropWrite, PID_SendEvents, false},
    }, {"Name", "Description", "PrimaryCPName", "PrimaryVFDName", "BackupCPName", "BackupVFDName",
        "Enabled"});
    return table;
}

bool DriverRunning()
{
    CDriver *driver = CDriver::Current();
    return driver && driver->IsRunning();
}

// The connection resources the record's processor keeps open.
LONG ActiveResources(ChannelConnection &record)
{
    std::lock_guard<std::mutex> guard(record.lock);
    record.activeResources = record.processor ? record.processor->GetResourceCount() : 0;
    return record.activeResources;
}

} // namespace

long &CChannel::NameCounter()
{
    static long counter = 0;
    return counter;
}

CChannel::CChannel() : CChannel(false, true) {}

CChannel::CChannel(bool withDefaults, bool withThreads)
{
    if (withThreads)
        StartThreads();
    if (!withDefaults)
        return;
    CDefaultsReader defaults("ChannelDefaults");
    defaults.ApplyText(*this, "ChannelDescription", "Description");
    unsigned long code;
    if (defaults.Dword("ChannelDeviceScanThreadPriority", &code) && code >= 1 && code <= 15)
        m_deviceScanPriority = int(code);
    if (defaults.Dword("ChannelMessageParseThreadPriority", &code) && code >= 1 && code <= 15)
        m_messageParsePriority = int(code);
    AssignDefaultName(defaults.Text("ChannelName"), "Channel", NameCounter());
}

CChannel::~CChannel()
{
    Disable(false);
    StopThreads();
    m_devices.Clear();
    for (ChannelConnection *record : {&m_primary, &m_backup}) {
        std::lock_guard<std::mutex> guard(record->lock);
        if (record->processor)
            DeferProcessorDestroy(record->processor);
        record->processor = nullptr;
        record->state = 0;
    }
    if (m_wakeEvent)
        CloseHandle(m_wakeEvent);
    if (m_scanWakeEvent)
        CloseHandle(m_scanWakeEvent);
    if (m_stopEvent)
        CloseHandle(m_stopEvent);
}

const CPropertyTable &CChannel::Properties() const { return ChannelTable(); }

LONG CChannel::Enable(bool log)
{
    if (!m_threaded)
        return CFG_E_NO_THREADS;
    if (m_enabled)
        return 0;
    m_enabled = true;
    if (log)
        PostStateLine("Channel", true);
    return 0;
}

void CChannel::Start()
{
    for (CDevice *device : Devices())
        device->Start();
}

void CChannel::Stop(int stopKind)
{
    RemoveBlockRequests(nullptr);
    for (CDevice *device : Devices())
        device->Stop(stopKind);
}

LONG CChannel::Poll()
{
    if (!m_enabled)
        return 0;
    for (CDevice *device : Devices()) {
        LONG result = device->Poll();
        if (result < 0)
            return result;
    }
    return 0;
}

LONG CChannel::Disable(bool log, int stopKind)
{
    if (!m_enabled)
        return 0;
    m_enabled = false;
    Stop(stopKind);
    if (log)
        PostStateLine("Channel", false);
    return 0;
}

void CChannel::ResetCounter(PropertyId id)
{
    for (CDevice *device : Devices())
        device->ResetCounter(id);
}

LONG CChannel::AddDevice(CDevice *device)
{
    if (!device)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(m_devices.Lock());
    if (m_devices.NameTaken(device))
        return CFG_E_NAME_USED;
    device->m_channel = this;
    m_devices.Append(device);
    return 0;
}

LONG CChannel::RemoveDevice(CObject *device) { return m_devices.Remove(device, CFG_E_NO_DEVICES); }

LONG CChannel::GetDevices(SAFEARRAY *handles, SAFEARRAY *names)
{
    return m_devices.PutHandlesAndNames(handles, names);
}

std::vector<CDevice *> CChannel::Devices() const { return m_devices.Items(); }

LONG CChannel::Sum(PropertyId id) const
{
    if (id == PID_DeviceCount)
        return LONG(Devices().size());
    LONG total = 0;
    for (CDevice *device : Devices())
        total += device->Sum(id);
    return total;
}

LONG CChannel::GetValue(const PropertyInfo &info, VARIANT *value)
{
    using namespace ConfigValue;
    switch (info.id) {
    case PID_Name: PutText(value, m_name); return 0;
    case PID_Description: PutText(value, m_description); return 0;
    case PID_PrimaryCPName: PutText(value, m_primary.cpName); return 0;
    case PID_PrimaryVFDName: PutText(value, m_primary.vfdName); return 0;
    case PID_BackupCPName: PutText(value, m_backup.cpName); return 0;
    case PID_BackupVFDName: PutText(value, m_backup.vfdName); return 0;
    case PID_Enabled: PutI2(value, m_enabled ? 1 : 0); return 0;
    case PID_SendEvents: PutI2(value, m_sendEvents ? 1 : 0); return 0;
    case PID_ActiveQueueCount: PutI4(value, LONG(m_activeQueue.GetCount())); return 0;
    case PID_ParseQueueCount: PutI4(value, LONG(m_parseQueue.GetCount())); return 0;
    case PID_PrimaryActiveResources: PutI4(value, ActiveResources(m_primary)); return 0;
    case PID_BackupActiveResources: PutI4(value, ActiveResources(m_backup)); return 0;
    default:
        PutI4(value, Sum(info.id));
        return 0;
    }
}

LONG CChannel::SetCpName(ChannelConnection &record, const VARIANT &value)
{
    std::string text;
    if (LONG code = ConfigValue::Text(value, &text, 130))
        return code;
    if (m_enabled && DriverRunning())
        return CFG_E_CP_VFD_LOCKED;
    std::lock_guard<std::mutex> guard(record.lock);
    record.cpName = text;
    return 0;
}

LONG CChannel::SetVfdName(ChannelConnection &record, const VARIANT &value)
{
    std::string text;
    if (LONG code = ConfigValue::Text(value, &text, 34))
        return code;
    if (m_enabled && DriverRunning())
        return CFG_E_CP_VFD_LOCKED;
    // An empty name is no VFD at all: clearing a backup never collides.
    if (!text.empty() && text != record.vfdName) {
        std::vector<CChannel *> channels;
        if (CDriver *driver = CDriver::Current())
            channels = driver->Channels();
        if (std::find(channels.begin(), channels.end(), this) == channels.end())
            channels.push_back(this);
        for (CChannel *channel : channels) {
            for (ChannelConnection *other : {&channel->m_primary, &channel->m_backup}) {
                if (other != &record && other->vfdName == text)
                    return CFG_E_VFD_USED;
            }
        }
    }
    std::lock_guard<std::mutex> guard(record.lock);
    record.vfdName = text;
    return 0;
}

LONG CChannel::SetValue(const PropertyInfo &info, const VARIANT &value)
{
    switch (info.id) {
    case PID_Name:
        return SetNameValue(value);
    case PID_Description:
        return ConfigValue::Text(value, &m_description);
    case PID_PrimaryCPName:
        return SetCpName(m_primary, value);
    case PID_BackupCPName:
        return SetCpName(m_backup, value);
    case PID_PrimaryVFDName:
        return SetVfdName(m_primary, value);
    case PID_BackupVFDName:
        return SetVfdName(m_backup, value);
    case PID_Enabled: {
        SHORT on;
        if (LONG code = ConfigValue::Int16(value, &on))
            return code;
        return on ? Enable(true) : Disable(true);
    }
    case PID_SendEvents: {
        SHORT on;
        if (LONG code = ConfigValue::Int16(value, &on))
            return code;
        m_sendEvents = on != 0;
        return 0;
    }
    default:
        return CFG_E_READ_ONLY;
    }
}
