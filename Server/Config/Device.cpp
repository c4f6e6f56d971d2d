#include "Device.h"
#include "ProtocolMsg.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Driver.h"
#include <algorithm>

QOR_IMPLEMENT_SERIAL(CDevice, CConfigObject, 1)

namespace {

const uint32_t kMaxDurationMs = 604799999;

const CPropertyTable &DeviceTable()
{
    static const CPropertyTable table({
        {"BackupConnName", VT_BSTR, PropWrite, PID_BackupConnName, false},
        {"BackupDelay", VT_BSTR, PropWrite, PID_BackupDelay, true},
        {"BackupReplyTimeout", VT_BSTR, PropWrite, PID_BackupReplyTimeout, true},
        {"BackupRetries", VT_I4, PropWrite, PID_BackupRetries, false},
        {"ConnNameInUse", VT_BSTR, PropRead, PID_ConnNameInUse, false},
        {"CPNameInUse", VT_BSTR, PropRead, PID_CPNameInUse, false},
        {"DataBlockCount", VT_I4, PropRead, PID_DataBlockCount, false},
        {"Description", VT_BSTR, PropWrite, PID_Description, false},
        {"Enabled", VT_I2, PropWrite, PID_Enabled, false},
        {"IsUsingPrimary", VT_BOOL, PropRead, PID_IsUsingPrimary, false},
        {"MsgErrorCount", VT_I4, PropReset, PID_MsgErrorCount, false},
        {"MsgReceiveCount", VT_I4, PropReset, PID_MsgReceiveCount, false},
        {"MsgRetryCount", VT_I4, PropReset, PID_MsgRetryCount, false},
        {"MsgTimeoutCount", VT_I4, PropReset, PID_MsgTimeoutCount, false},
        {"MsgTransmitCount", VT_I4, PropReset, PID_MsgTransmitCount, false},
        {"Name", VT_BSTR, PropWrite, PID_Name, false},
        {"PollOverrunCount", VT_I4, PropReset, PID_PollOverrunCount, false},
        {"PrimaryConnName", VT_BSTR, PropWrite, PID_PrimaryConnName, false},
        {"PrimaryDelay", VT_BSTR, PropWrite, PID_PrimaryDelay, true},
        {"PrimaryReplyTimeout", VT_BSTR, PropWrite, PID_PrimaryReplyTimeout, true},
        {"PrimaryRetries", VT_I4, PropWrite, PID_PrimaryRetries, false},
        {"ReadCountMax", VT_I4, PropReset, PID_ReadCountMax, false},
        {"ReadQueueCount", VT_I4, PropRead, PID_ReadQueueCount, false},
        {"SendEvents", VT_I2, PropWrite, PID_SendEvents, false},
        {"VFDNameInUse", VT_BSTR, PropRead, PID_VFDNameInUse, false},
        {"WriteCountMax", VT_I4, PropReset, PID_WriteCountMax, false},
        {"WriteQueueCount", VT_I4, PropRead, PID_WriteQueueCount, false},
    }, {"Name", "Description", "PrimaryConnName", "PrimaryReplyTimeout", "PrimaryRetries",
        "PrimaryDelay", "BackupConnName", "BackupReplyTimeout", "BackupRetries", "BackupDelay",
        "Enabled"});
    return table;
}

} // namespace

long &CDevice::NameCounter()
{
    static long counter = 0;
    return counter;
}

uint16_t CDevice::Crc16(const std::string &text)
{
    uint16_t crc = 0;
    for (unsigned char c : text) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

CDevice::CDevice() : CDevice(false) {}

CDevice::CDevice(bool withDefaults)
{
    if (withDefaults) {
        CDefaultsReader defaults("DeviceDefaults");
        defaults.ApplyText(*this, "DeviceDescription", "Description");
        defaults.ApplyText(*this, "DevicePrimDelay", "PrimaryDelay");
        defaults.ApplyText(*this, "DevicePrimRetries", "PrimaryRetries");
        defaults.ApplyText(*this, "DevicePrimConnection", "PrimaryConnName");
        defaults.ApplyText(*this, "DevicePrimTimeout", "PrimaryReplyTimeout");
        defaults.ApplyText(*this, "DeviceBackDelay", "BackupDelay");
        defaults.ApplyText(*this, "DeviceBackRetries", "BackupRetries");
        defaults.ApplyText(*this, "DeviceBackConnection", "BackupConnName");
        defaults.ApplyText(*this, "DeviceBackTimeout", "BackupReplyTimeout");
        AssignDefaultName(defaults.Text("DeviceName"), "Device", NameCounter());
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    m_reference = uint32_t(Crc16(m_name)) << 16 | ((now.wMilliseconds | now.wSecond << 10) & 0xFFFF);
    m_nameInUse = m_primary.name;
    // A block leaves only when the channel's queues hold none of its
    // messages and its reply is not being processed.
    m_blocks.SetBeforeDelete([this](CDataBlock *block) {
        if (!m_channel)
            return;
        if (IMsgBlock *owner = dynamic_cast<IMsgBlock *>(block)) {
            RemoveBlockMessages(owner);
            m_channel->RemoveBlockRequests(owner);
        }
        m_channel->WaitUntilNotParsing(block);
    });
}

CDevice::~CDevice()
{
    Disable(false);
    m_blocks.Clear();
}

const CPropertyTable &CDevice::Properties() const { return DeviceTable(); }

LONG CDevice::Enable(bool log)
{
    m_enabled = true;
    if (log)
        PostStateLine("Device", true);
    return 0;
}

LONG CDevice::Disable(bool log, int stopKind)
{
    m_enabled = false;
    Stop(stopKind);
    if (log)
        PostStateLine("Device", false);
    return 0;
}

bool CDevice::IsActive() const
{
    return m_enabled && m_channel && m_channel->IsEnabled();
}

void CDevice::SetUsingPrimary(bool primary)
{
    m_usingPrimary = primary;
    m_nameInUse = InUse().name;
}

void CDevice::ResetCounter(PropertyId id)
{
    switch (id) {
    case PID_MsgRetryCount: InterlockedExchange(&m_msgRetryCount, 0); break;
    case PID_MsgTimeoutCount: InterlockedExchange(&m_msgTimeoutCount, 0); break;
    case PID_ReadCountMax: m_readQueue.ResetHighestCount(); break;
    case PID_WriteCountMax: m_writeQueue.ResetHighestCount(); break;
    default: break;
    }
    for (CDataBlock *block : DataBlocks())
        block->ResetCounter(id);
}

CDataBlock *CDevice::FindOverlap(uint16_t area, uint16_t dbNumber, unsigned start, unsigned length,
                                 const CDataBlock *skip) const
{
    if (length == 0)
        return nullptr;
    for (CDataBlock *b : m_blocks.Items()) {
        const S7Address &a = b->Address();
        if (b == skip || a.length == 0 || a.area != area || a.dbNumber != dbNumber)
            continue;
        unsigned bStart = a.start, bEnd = unsigned(a.start) + a.length;  // half-open
        if (start < bEnd && bStart < start + length)
            return b;
    }
    return nullptr;
}

LONG CDevice::AddDataBlock(CDataBlock *block)
{
    if (!block)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(m_blocks.Lock());
    const S7Address &a = block->Address();
    if (m_blocks.NameTaken(block) || FindOverlap(a.area, a.dbNumber, a.start, a.length, block))
        return CFG_E_BLOCK_COLLIDES;
    block->m_device = this;
    m_blocks.Append(block);
    return 0;
}

LONG CDevice::RemoveDataBlock(CObject *block) { return m_blocks.Remove(block, CFG_E_NO_DATABLOCKS); }

LONG CDevice::GetDataBlocks(SAFEARRAY *handles, SAFEARRAY *names)
{
    return m_blocks.PutHandlesAndNames(handles, names);
}

std::vector<CDataBlock *> CDevice::DataBlocks() const { return m_blocks.Items(); }

LONG CDevice::Sum(PropertyId id) const
{
    switch (id) {
    case PID_MsgRetryCount: return m_msgRetryCount;
    case PID_MsgTimeoutCount: return m_msgTimeoutCount;
    case PID_DataBlockCount: return LONG(DataBlocks().size());
    default: break;
    }
    LONG total = 0;
    for (CDataBlock *block : DataBlocks())
        total += block->Counter(id);
    return total;
}

ChannelConnection *CDevice::ChannelRecordInUse() const
{
    if (!m_channel)
        return nullptr;
    ChannelConnection &backup = m_channel->Backup();
    if (!m_usingPrimary && !backup.cpName.empty() && !backup.vfdName.empty())
        return &backup;
    return &m_channel->Primary();
}

LONG CDevice::GetValue(const PropertyInfo &info, VARIANT *value)
{
    using namespace ConfigValue;
    const ChannelConnection *record = ChannelRecordInUse();
    switch (info.id) {
    case PID_Name: PutText(value, m_name); return 0;
    case PID_Description: PutText(value, m_description); return 0;
    case PID_PrimaryConnName: PutText(value, m_primary.name); return 0;
    case PID_BackupConnName: PutText(value, m_backup.name); return 0;
    case PID_PrimaryReplyTimeout: PutDuration(value, m_primary.replyTimeout); return 0;
    case PID_BackupReplyTimeout: PutDuration(value, m_backup.replyTimeout); return 0;
    case PID_PrimaryDelay: PutDuration(value, m_primary.delay); return 0;
    case PID_BackupDelay: PutDuration(value, m_backup.delay); return 0;
    case PID_PrimaryRetries: PutI4(value, m_primary.retries); return 0;
    case PID_BackupRetries: PutI4(value, m_backup.retries); return 0;
    case PID_Enabled: PutI2(value, m_enabled ? 1 : 0); return 0;
    case PID_SendEvents: PutI2(value, m_sendEvents ? 1 : 0); return 0;
    case PID_IsUsingPrimary: PutBool(value, m_usingPrimary); return 0;
    case PID_ConnNameInUse: PutText(value, m_record ? m_nameInUse : std::string()); return 0;
    case PID_CPNameInUse: PutText(value, record ? record->cpName : std::string()); return 0;
    case PID_VFDNameInUse: PutText(value, record ? record->vfdName : std::string()); return 0;
    case PID_ReadQueueCount: PutI4(value, LONG(m_readQueue.GetCount())); return 0;
    case PID_WriteQueueCount: PutI4(value, LONG(m_writeQueue.GetCount())); return 0;
    case PID_ReadCountMax: PutI4(value, LONG(m_readQueue.GetHighestCount())); return 0;
    case PID_WriteCountMax: PutI4(value, LONG(m_writeQueue.GetHighestCount())); return 0;
    default:
        PutI4(value, Sum(info.id));
        return 0;
    }
}

LONG CDevice::SetConnName(DeviceConnection &record, const VARIANT &value)
{
    std::string text;
    if (LONG code = ConfigValue::Text(value, &text, 34))
        return code;
    if (m_enabled && CDriver::Current() && CDriver::Current()->IsRunning())
        return CFG_E_CONN_LOCKED;
    // An empty name is no connection: clearing a backup never collides.
    if (!text.empty() && text != record.name && m_channel) {
        for (CDevice *device : m_channel->Devices()) {
            for (DeviceConnection *other : {&device->m_primary, &device->m_backup}) {
                if (other != &record && other->name == text)
                    return CFG_E_CONN_USED;
            }
        }
    }
    record.name = text;
    if (&record == &InUse())
        m_nameInUse = text;
    for (CDataBlock *block : DataBlocks())
        block->m_readBuilt = false;
    return 0;
}

LONG CDevice::SetValue(const PropertyInfo &info, const VARIANT &value)
{
    switch (info.id) {
    case PID_Name:
        return SetNameValue(value);
    case PID_Description:
        return ConfigValue::Text(value, &m_description);
    case PID_PrimaryConnName:
        return SetConnName(m_primary, value);
    case PID_BackupConnName:
        return SetConnName(m_backup, value);
    case PID_PrimaryReplyTimeout:
    case PID_BackupReplyTimeout:
    case PID_PrimaryDelay:
    case PID_BackupDelay: {
        bool timeout = info.id == PID_PrimaryReplyTimeout || info.id == PID_BackupReplyTimeout;
        uint32_t ms;
        if (LONG code = ConfigValue::Duration(value, false, timeout ? 1000 : 0, kMaxDurationMs, &ms))
            return code;
        DeviceConnection &record =
            (info.id == PID_PrimaryReplyTimeout || info.id == PID_PrimaryDelay) ? m_primary : m_backup;
        (timeout ? record.replyTimeout : record.delay) = ms;
        return 0;
    }
    case PID_PrimaryRetries:
    case PID_BackupRetries: {
        LONG retries;
        if (LONG code = ConfigValue::Int32(value, &retries))
            return code;
        if (retries < 0 || retries > 9)
            return CFG_E_INVALID_VALUE;
        (info.id == PID_PrimaryRetries ? m_primary : m_backup).retries = retries;
        return 0;
    }
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

void CDevice::BindMessage(CProtocolMsg *msg) const
{
    if (!msg)
        return;
    const ChannelConnection *record = ChannelRecordInUse();
    msg->m_cpName = record ? record->cpName : std::string();
    msg->m_vfdName = record ? record->vfdName : std::string();
    const DeviceConnection &connection = InUse();
    msg->m_connName = connection.name;
    msg->SetConnectionName(connection.name.c_str());
    msg->SetTimeout(connection.replyTimeout);
    msg->SetRetries(connection.retries);
}

static int IsBlockMessage(CProtocolMsg *msg, void *block)
{
    return msg->GetBlock() == static_cast<IMsgBlock *>(block) ? 1 : 0;
}

// The messages belong to their block: taken out of the queue, not freed.
static void KeepMessage(CProtocolMsg *) {}

int CDevice::RemoveBlockMessages(const IMsgBlock *block)
{
    void *argument = const_cast<IMsgBlock *>(block);
    return MoveLockedItems<CProtocolMsg>(&m_readQueue, IsBlockMessage, argument, nullptr, false, false, KeepMessage) +
           MoveLockedItems<CProtocolMsg>(&m_writeQueue, IsBlockMessage, argument, nullptr, false, false, KeepMessage);
}
