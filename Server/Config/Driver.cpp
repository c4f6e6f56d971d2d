#include "Driver.h"
#include "ConfigFile.h"
#include <vector>
#include <mutex>
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Registry.h"
#include "Store.h"
#include "ServerMsg.h"
#include <algorithm>
#include <atomic>

// Schema 2: the file ends with a null object after the tree (see ConfigFile.h).
QOR_IMPLEMENT_SERIAL(CDriver, CConfigObject, kDriverSchemaWithEnd)

namespace {

// The live drivers, newest last. The newest is the current one; while a
// configuration loads, the tree being loaded is newest, and when a failed
// load deletes it the previous tree becomes current again.
std::mutex g_driversLock;
std::vector<CDriver *> g_drivers;

const CPropertyTable &DriverTable()
{
    static const CPropertyTable table({
        {"ChannelCount", VT_I4, PropRead, PID_ChannelCount, false},
        {"DataBlockCount", VT_I4, PropRead, PID_DataBlockCount, false},
        {"DeviceCount", VT_I4, PropRead, PID_DeviceCount, false},
        {"LastLoadTime", VT_DATE, PropRead, PID_LastLoadTime, false},
        {"LastStartTime", VT_DATE, PropRead, PID_LastStartTime, false},
        {"LastStopTime", VT_DATE, PropRead, PID_LastStopTime, false},
        {"MsgErrorCount", VT_I4, PropReset, PID_MsgErrorCount, false},
        {"MsgReceiveCount", VT_I4, PropReset, PID_MsgReceiveCount, false},
        {"MsgRetryCount", VT_I4, PropReset, PID_MsgRetryCount, false},
        {"MsgTimeoutCount", VT_I4, PropReset, PID_MsgTimeoutCount, false},
        {"MsgTransmitCount", VT_I4, PropReset, PID_MsgTransmitCount, false},
        {"Name", VT_BSTR, PropRead, PID_Name, false},
        {"PollOverrunCount", VT_I4, PropReset, PID_PollOverrunCount, false},
        {"SapiTimeout", VT_I4, PropWrite, PID_SapiTimeout, false},
        {"SendEvents", VT_I2, PropWrite, PID_SendEvents, false},
    }, {});
    return table;
}

} // namespace

CDriver::CDriver() : CDriver("QOR", "", "") {}

CDriver::CDriver(const char *acronym, const char *productName, const char *versionText)
    : m_acronym(acronym ? acronym : ""), m_productName(productName ? productName : ""),
      m_versionText(versionText ? versionText : "")
{
    m_name = m_acronym;
    ReadRegistry();
    CreateStore();
    m_lastLoadTime = ConfigValue::Now();
    std::lock_guard<std::mutex> guard(g_driversLock);
    g_drivers.push_back(this);
}

CDriver::~CDriver()
{
    StopOutputThread();
    m_channels.Clear();
    DestroyStore();
    std::lock_guard<std::mutex> guard(g_driversLock);
    g_drivers.erase(std::remove(g_drivers.begin(), g_drivers.end(), this), g_drivers.end());
    if (!g_drivers.empty() && g_drivers.back()->m_store)
        SetServerStore(g_drivers.back()->m_store);
}

CDriver *CDriver::Current()
{
    std::lock_guard<std::mutex> guard(g_driversLock);
    return g_drivers.empty() ? nullptr : g_drivers.back();
}

const CPropertyTable &CDriver::Properties() const { return DriverTable(); }

void CDriver::ReadRegistry()
{
    CRegistry key;
    if (key.OpenKey(QOR_DRIVER_KEY, nullptr, KEY_READ) == 0) {
        unsigned long value;
        if (key.ReadValue("DriverAutoCreate", &value) == 0)
            m_autoCreate = value != 0;
        if (key.ReadValue("DriverSapiTimeout", &value) == 0)
            m_sapiTimeout = value < 1000 ? 1000 : uint32_t(value);
    }
    ReadWriteQueueMaxSize();
}

void CDriver::ReadWriteQueueMaxSize()
{
    CRegistry defaults;
    if (defaults.OpenKey(QOR_DRIVER_KEY "\\DriverDefaults", nullptr, KEY_READ) == 0) {
        unsigned long value;
        if (defaults.ReadValue("WriteQueueMaxSize", &value) == 0)
            m_writeQueueMaxSize = uint32_t(value);
    }
}

std::string CDriver::DisplayName() const
{
    return m_productName + ", Version " + m_versionText;
}

void CDriver::SetProduct(const std::string &productName, const std::string &versionText)
{
    m_productName = productName;
    m_versionText = versionText;
}

void CDriver::SetRunningState(bool running)
{
    if (running == IsRunning())
        return;
    InterlockedExchange(&m_running, running ? 1 : 0);
    (running ? m_lastStartTime : m_lastStopTime) = ConfigValue::Now();
}

void CDriver::ResetCounter(PropertyId id)
{
    for (CChannel *channel : Channels())
        channel->ResetCounter(id);
}

LONG CDriver::AddChannel(CChannel *channel)
{
    if (!channel)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(m_channels.Lock());
    if (m_channels.NameTaken(channel))
        return CFG_E_NAME_USED;
    m_channels.Append(channel);
    return 0;
}

LONG CDriver::RemoveChannel(CObject *channel) { return m_channels.Remove(channel, CFG_E_NO_CHANNELS); }

LONG CDriver::GetChannels(SAFEARRAY *handles, SAFEARRAY *names)
{
    return m_channels.PutHandlesAndNames(handles, names);
}

std::vector<CChannel *> CDriver::Channels() const { return m_channels.Items(); }

CConfigObject *CDriver::FindByName(const char *name, const CConfigObject *skip) const
{
    std::lock_guard<std::recursive_mutex> guard(m_channels.Lock());
    std::vector<CChannel *> channels = m_channels.Items();
    for (CChannel *channel : channels)
        if (channel != skip && channel->NameEquals(name))
            return channel;
    for (CChannel *channel : channels)
        for (CDevice *device : channel->Devices())
            if (device != skip && device->NameEquals(name))
                return device;
    for (CChannel *channel : channels)
        for (CDevice *device : channel->Devices())
            for (CDataBlock *block : device->DataBlocks())
                if (block != skip && block->NameEquals(name))
                    return block;
    return nullptr;
}

LONG CDriver::GetValue(const PropertyInfo &info, VARIANT *value)
{
    using namespace ConfigValue;
    switch (info.id) {
    case PID_Name:
        PutText(value, DisplayName());
        return 0;
    case PID_SapiTimeout:
        PutI4(value, LONG(m_sapiTimeout));
        return 0;
    case PID_SendEvents:
        PutI2(value, m_sendEvents ? 1 : 0);
        return 0;
    case PID_LastLoadTime:
        PutTime(value, m_lastLoadTime);
        return 0;
    case PID_LastStartTime:
        PutTime(value, m_lastStartTime);
        return 0;
    case PID_LastStopTime:
        PutTime(value, m_lastStopTime);
        return 0;
    default:
        break;
    }
    // Counts and sums over the tree, through the channels' own answers.
    std::vector<CChannel *> channels = Channels();
    if (info.id == PID_ChannelCount) {
        PutI4(value, LONG(channels.size()));
        return 0;
    }
    LONG total = 0;
    for (CChannel *channel : channels)
        total += channel->Sum(info.id);
    PutI4(value, total);
    return 0;
}

LONG CDriver::SetValue(const PropertyInfo &info, const VARIANT &value)
{
    switch (info.id) {
    case PID_SapiTimeout: {
        LONG ms;
        if (LONG code = ConfigValue::Int32(value, &ms))
            return code;
        if (ms < 1000)
            return CFG_E_INVALID_VALUE;
        m_sapiTimeout = uint32_t(ms);
        return 0;
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
