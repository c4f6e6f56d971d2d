#include "DataBlock.h"
#include "DataMonitor.h"
#include "Device.h"
#include "Driver.h"
#include "Quality.h"
#include "ServerMsg.h"
#include "Store.h"
#include <cmath>

QOR_IMPLEMENT_SERIAL(CDataBlock, CConfigObject, 1)

namespace {

const uint32_t kNone = uint32_t(-1);

const CPropertyTable &DataBlockTable()
{
    static const CPropertyTable table({
        {"AccessTime", VT_BSTR, PropWrite, PID_AccessTime, true},
        {"BlockWritesEnabled", VT_I2, PropWrite, PID_BlockWritesEnabled, false},
        {"BlockWritesPending", VT_I4, PropRead, PID_BlockWritesPending, false},
        {"TracewellOn", VT_I2, PropWrite, PID_TracewellOn, false},
        {"DataType", VT_I2, PropWrite, PID_DataType, false},
        {"DeadBand", VT_R4, PropWrite, PID_DeadBand, false},
        {"Description", VT_BSTR, PropWrite, PID_Description, false},
        {"Enabled", VT_I2, PropWrite, PID_Enabled, false},
        {"EndAddress", VT_BSTR, PropWrite, PID_EndAddress, false},
        {"ErrorTime", VT_DATE, PropRead, PID_ErrorTime, false},
        {"LastError", VT_I4, PropReset, PID_LastError, false},
        {"LatchData", VT_I2, PropWrite, PID_LatchData, false},
        {"Length", VT_I4, PropWrite, PID_Length, false},
        {"MsgErrorCount", VT_I4, PropReset, PID_MsgErrorCount, false},
        {"MsgReceiveCount", VT_I4, PropReset, PID_MsgReceiveCount, false},
        {"MsgRetryCount", VT_I4, PropReset, PID_MsgRetryCount, false},
        {"MsgTimeoutCount", VT_I4, PropReset, PID_MsgTimeoutCount, false},
        {"MsgTransmitCount", VT_I4, PropReset, PID_MsgTransmitCount, false},
        {"Name", VT_BSTR, PropWrite, PID_Name, false},
        {"OPCDataType", VT_I2, PropRead, PID_OPCDataType, false},
        {"OutputDisabled", VT_I2, PropWrite, PID_OutputDisabled, false},
        {"Phase", VT_BSTR, PropWrite, PID_Phase, true},
        {"PollOverrunCount", VT_I4, PropReset, PID_PollOverrunCount, false},
        {"PrimaryPollTime", VT_BSTR, PropWrite, PID_PrimaryPollTime, true},
        {"Quality", VT_I2, PropRead, PID_Quality, false},
        {"QualityString", VT_BSTR, PropRead, PID_QualityString, false},
        {"ReadTime", VT_DATE, PropRead, PID_ReadTime, false},
        {"SapiAddress", VT_BSTR, PropRead, PID_SapiAddress, false},
        {"SapiDetailedErrorMsg", VT_BSTR, PropRead, PID_SapiDetailedErrorMsg, false},
        {"SapiDetailedErrorNo", VT_I4, PropRead, PID_SapiDetailedErrorNo, false},
        {"SapiIecErrorMsg", VT_BSTR, PropRead, PID_SapiIecErrorMsg, false},
        {"SapiIecErrorNo", VT_I4, PropRead, PID_SapiIecErrorNo, false},
        {"SapiReturnCode", VT_I4, PropRead, PID_SapiReturnCode, false},
        {"SecondaryPollTime", VT_BSTR, PropWrite, PID_SecondaryPollTime, true},
        {"SendBlockWrites", VT_I4, PropWrite, PID_SendBlockWrites, false},
        {"SendEvents", VT_I2, PropWrite, PID_SendEvents, false},
        {"StartAddress", VT_BSTR, PropWrite, PID_StartAddress, false},
        {"WriteTime", VT_DATE, PropRead, PID_WriteTime, false},
    }, {"Name", "Description", "StartAddress", "Length", "PrimaryPollTime", "SecondaryPollTime",
        "Phase", "AccessTime", "DeadBand", "Enabled", "LatchData", "OutputDisabled",
        "BlockWritesEnabled", "DataType"});
    return table;
}

const CS7Types &Types() { return CS7Types::Instance(); }

LONG OnOff(const VARIANT &value, bool *flag)
{
    SHORT on;
    if (LONG code = ConfigValue::Int16(value, &on))
        return code;
    *flag = on != 0;
    return 0;
}

} // namespace

long &CDataBlock::NameCounter()
{
    static long counter = 0;
    return counter;
}

CDataBlock::CDataBlock() : CDataBlock(false, false) {}

CDataBlock::CDataBlock(bool withDefaults, bool withName)
{
    TrackLive(this, true);
    m_address.dataType = S7TypeByte;
    uint32_t now = DataBlockTicks();
    m_schedule = {0, 0, now, now + m_accessTime};
    if (ServerStore()->CreateDataBlock(&m_index, kImageSize, Handle()) != STORE_OK) {
        m_valid = false;
        ServerMessage line;
        line.severity = SeverityFatal;
        line.messageId = 0xC1060501;
        line.eventLog = TRUE;
        PostServerMessage(line);
    } else {
        PublishAddress();
        WriteStatus(0);
    }
    if (!withDefaults)
        return;
    CDefaultsReader defaults("DataBlockDefaults");
    defaults.ApplyText(*this, "DataBlockDescription", "Description");
    defaults.ApplyText(*this, "DataBlockPrimaryPoll", "PrimaryPollTime");
    defaults.ApplyText(*this, "DataBlockPhase", "Phase");
    defaults.ApplyText(*this, "DataBlockSecondaryPoll", "SecondaryPollTime");
    defaults.ApplyText(*this, "DataBlockAccessTime", "AccessTime");
    defaults.ApplyDword(*this, "DataBlockLatchData", "LatchData");
    defaults.ApplyDword(*this, "DataBlockDisableOutputs", "OutputDisabled");
    defaults.ApplyDword(*this, "DataBlockEnableBlockWrites", "BlockWritesEnabled");
    defaults.ApplyText(*this, "DataBlockExceptionDeadBand", "DeadBand");
    defaults.ApplyDword(*this, "DataBlockDataType", "DataType");
    if (withName)
        AssignDefaultName(defaults.Text("DataBlockName"), "DataBlock", NameCounter());
}

CDataBlock::~CDataBlock()
{
    // Waits for the output thread to finish with this block.
    TrackLive(this, false);
    m_enabled = false;
    DropQueuedWrites();
    if (m_device)
        m_device->RemoveBlockMessages(this);
    ClearPendingWrites();
    delete m_readMsg;
    if (m_valid)
        ServerStore()->DestroyDataBlock(m_index);
}

const CPropertyTable &CDataBlock::Properties() const { return DataBlockTable(); }

unsigned CDataBlock::BytesInUse() const
{
    unsigned bytes = 0;
    Types().BytesOfLength(m_address.area, m_address.length, &bytes);
    return bytes;
}

void CDataBlock::ResetSchedule()
{
    uint32_t now = DataBlockTicks();
    m_schedule = {0, 0, now, m_accessTime == kNone ? now : now + m_accessTime};
}

LONG CDataBlock::Enable(bool log)
{
    if (!m_valid || m_address.length == 0)
        return E_FAIL;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    ResetSchedule();
    if (m_readMsg)
        m_readMsg->m_flag = 0;
    m_enabled = true;
    if (log)
        PostStateLine("DataBlock", true);
    return 0;
}

void CDataBlock::Stop(int stopKind)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    uint16_t low = m_status & 0xFF;
    if (stopKind == 1)
        low = m_latchData ? 0x14 : uint16_t(low & ~0xC3);
    else
        low = 0x00;
    WriteStatus(uint8_t(low));
    ReportStatusChange();
}

LONG CDataBlock::Disable(bool log, int stopKind)
{
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_enabled = false;
        DropQueuedWrites();
        if (m_device)
            m_device->RemoveBlockMessages(this);
        m_outstanding = false;
    }
    Stop(stopKind);
    if (log)
        PostStateLine("DataBlock", false);
    return 0;
}

void CDataBlock::ClearErrorDetails()
{
    m_sapiReturnCode = m_sapiIecErrorNo = m_sapiDetailedErrorNo = 0;
    m_sapiIecErrorMsg.clear();
    m_sapiDetailedErrorMsg.clear();
}

LONG CDataBlock::Counter(PropertyId id) const
{
    switch (id) {
    case PID_MsgTransmitCount: return m_msgTransmit;
    case PID_MsgReceiveCount: return m_msgReceive;
    case PID_MsgTimeoutCount: return m_msgTimeout;
    case PID_MsgRetryCount: return m_msgRetry;
    case PID_MsgErrorCount: return m_msgError;
    case PID_PollOverrunCount: return m_pollOverrun;
    case PID_LastError: return m_lastError;
    default: return 0;
    }
}

void CDataBlock::CountMessage(PropertyId id)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    switch (id) {
    case PID_MsgTransmitCount: ++m_msgTransmit; break;
    case PID_MsgReceiveCount: ++m_msgReceive; break;
    case PID_MsgTimeoutCount: ++m_msgTimeout; break;
    case PID_MsgRetryCount: ++m_msgRetry; break;
    case PID_MsgErrorCount: ++m_msgError; break;
    case PID_PollOverrunCount: ++m_pollOverrun; break;
    default: break;
    }
}

void CDataBlock::ResetCounter(PropertyId id)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    switch (id) {
    case PID_MsgTransmitCount: m_msgTransmit = 0; break;
    case PID_MsgReceiveCount: m_msgReceive = 0; break;
    case PID_MsgTimeoutCount: m_msgTimeout = 0; break;
    case PID_MsgRetryCount: m_msgRetry = 0; break;
    case PID_PollOverrunCount: m_pollOverrun = 0; break;
    case PID_MsgErrorCount:
        m_msgError = 0;
        m_lastError = 0;
        ClearErrorDetails();
        break;
    case PID_LastError:
        m_lastError = 0;
        ClearErrorDetails();
        break;
    default: break;
    }
}

void CDataBlock::ApplyAddress(const S7Address &address)
{
    bool wasEnabled = m_enabled;
    if (wasEnabled)
        Disable(false);
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_address = address;
        m_internalAddress = Types().AddressWord(address);
        m_readBuilt = false;
        PublishAddress();
    }
    if (wasEnabled)
        Enable(false);
}

LONG CDataBlock::CheckAndApply(S7Address c, unsigned length)
{
    if (Types().TypeInArea(c.area, c.dataType, &c.dataType) != S7_OK)
        return CFG_E_TYPE_NOT_IN_AREA;
    int units = Types().UnitsPerElement(c.dataType);
    if (units < 1)
        return CFG_E_INVALID_VALUE;
    uint64_t rounded = (uint64_t(length) + unsigned(units) - 1) / unsigned(units) * unsigned(units);
    if (rounded == 0 || rounded > Types().ReadLimit(c.area))
        return CFG_E_READ_LIMIT;
    if (m_blockWrites && rounded > Types().WriteLimit(c.area))
        return CFG_E_WRITE_LIMIT;
    if (m_device && m_device->FindOverlap(c.area, c.dbNumber, c.start, unsigned(rounded), this))
        return CFG_E_BLOCK_COLLIDES;
    c.length = uint16_t(rounded);
    ApplyAddress(c);
    return 0;
}

LONG CDataBlock::SetAddressText(const VARIANT &value, bool end)
{
    std::string text;
    if (LONG code = ConfigValue::Text(value, &text))
        return code;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return CFG_E_INVALID_VALUE;
    S7Address parsed = m_address;
    if (Types().ParseAddress(text.c_str(), &parsed, true) != S7_OK)
        return CFG_E_BAD_ADDRESS;

    S7Address c = m_address;
    unsigned length = 1;
    bool hasLength = m_address.length > 0;
    if (!end || !hasLength) {
        c.area = parsed.area;
        c.dbNumber = parsed.dbNumber;
        c.start = parsed.start;
        c.bit = parsed.bit;
        if (!end && hasLength) {
            // The end stays where it was, so the start may not pass it.
            unsigned oldEnd = unsigned(m_address.start) + m_address.length - 1;
            if (c.start > oldEnd)
                return CFG_E_INVALID_VALUE;
            length = oldEnd - c.start + 1;
        }
    } else {
        if (parsed.area != m_address.area || parsed.dbNumber != m_address.dbNumber)
            return CFG_E_END_OTHER_AREA;
        if (parsed.start < m_address.start)
            return CFG_E_INVALID_VALUE;
        length = unsigned(parsed.start) - m_address.start + 1;
    }
    return CheckAndApply(c, length);
}

void CDataBlock::ClearAddress()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_address = S7Address();
    m_address.dataType = S7TypeByte;
    m_internalAddress = 0;
    m_deadBand = 1.0f;
    m_latchData = m_outputDisabled = m_blockWrites = m_tracewellOn = m_sendBlockWrites = false;
    ClearPendingWrites();
    m_msgTransmit = m_msgReceive = m_msgTimeout = m_msgRetry = m_msgError = 0;
    m_pollOverrun = m_lastError = 0;
    ClearErrorDetails();
    m_readBuilt = false;
    PublishAddress();
}

LONG CDataBlock::SetLength(LONG length)
{
    if (length == 0) {
        if (m_enabled)
            return CFG_E_LENGTH_ENABLED;
        ClearAddress();
        return 0;
    }
    if (length < 0)
        return CFG_E_INVALID_VALUE;
    return CheckAndApply(m_address, unsigned(length));
}

LONG CDataBlock::SetDataType(SHORT type)
{
    if (type < 0 || type > S7TypeLast)
        return CFG_E_BAD_DATATYPE;
    if (!Types().TypeAllowedInArea(m_address.area, uint16_t(type)))
        return CFG_E_TYPE_NOT_IN_AREA;
    // The none type has no element size: no length can be a whole number of it.
    int units = Types().UnitsPerElement(uint16_t(type));
    if (units < 1)
        return CFG_E_INVALID_VALUE;
    S7Address c = m_address;
    c.dataType = uint16_t(type);
    if (c.length % unsigned(units) == 0) {
        ApplyAddress(c);
        return 0;
    }
    return CheckAndApply(c, c.length);
}

LONG CDataBlock::GetValue(const PropertyInfo &info, VARIANT *value)
{
    using namespace ConfigValue;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    switch (info.id) {
    case PID_Name: PutText(value, m_name); return 0;
    case PID_Description: PutText(value, m_description); return 0;
    case PID_AccessTime: PutDuration(value, m_accessTime); return 0;
    case PID_PrimaryPollTime: PutDuration(value, m_primaryPoll); return 0;
    case PID_SecondaryPollTime: PutDuration(value, m_secondaryPoll); return 0;
    case PID_Phase: PutDuration(value, m_phase); return 0;
    case PID_BlockWritesEnabled: PutI2(value, m_blockWrites); return 0;
    case PID_BlockWritesPending: PutI4(value, LONG(m_pending.size())); return 0;
    case PID_TracewellOn: PutI2(value, m_tracewellOn); return 0;
    case PID_DataType: PutI2(value, SHORT(m_address.dataType)); return 0;
    case PID_DeadBand: PutR4(value, m_deadBand); return 0;
    case PID_Enabled: PutI2(value, m_enabled); return 0;
    case PID_LatchData: PutI2(value, m_latchData); return 0;
    case PID_OutputDisabled: PutI2(value, m_outputDisabled); return 0;
    case PID_SendEvents: PutI2(value, m_sendEvents); return 0;
    case PID_SendBlockWrites: PutI4(value, 0); return 0;
    case PID_Length: PutI4(value, m_address.length); return 0;
    case PID_OPCDataType: PutI2(value, SHORT(Types().VariantType(m_address.dataType))); return 0;
    case PID_Quality: PutI2(value, SHORT(m_status)); return 0;
    case PID_QualityString: {
        std::string text;
        if (GetQualityText(m_status & 0xFF, text) != 1)
            return E_FAIL;
        PutText(value, text);
        return 0;
    }
    case PID_StartAddress:
    case PID_EndAddress: {
        std::string text;
        if (m_address.length != 0) {
            if (info.id == PID_StartAddress)
                Types().FormatAddress(m_address, text, m_address.dataType == S7TypeBit ? 1 : 0);
            else
                Types().FormatEndAddress(m_address, text);
        }
        PutText(value, text);
        return 0;
    }
    case PID_SapiAddress: {
        std::string text;
        if (Types().FormatSapiAddress(m_address, text) != S7_OK)
            text = "Error";
        PutText(value, text);
        return 0;
    }
    case PID_ReadTime: PutTime(value, m_readTime); return 0;
    case PID_WriteTime: PutTime(value, m_writeTime); return 0;
    case PID_ErrorTime: PutTime(value, m_errorTime); return 0;
    case PID_SapiReturnCode: PutI4(value, m_sapiReturnCode); return 0;
    case PID_SapiIecErrorNo: PutI4(value, m_sapiIecErrorNo); return 0;
    case PID_SapiDetailedErrorNo: PutI4(value, m_sapiDetailedErrorNo); return 0;
    case PID_SapiIecErrorMsg: PutText(value, m_sapiIecErrorMsg.substr(0, 128)); return 0;
    case PID_SapiDetailedErrorMsg: PutText(value, m_sapiDetailedErrorMsg.substr(0, 128)); return 0;
    default:
        PutI4(value, Counter(info.id));
        return 0;
    }
}

LONG CDataBlock::SetValue(const PropertyInfo &info, const VARIANT &value)
{
    using namespace ConfigValue;
    switch (info.id) {
    case PID_Name:
        return SetNameValue(value);
    case PID_Description:
        return Text(value, &m_description);
    case PID_AccessTime: {
        uint32_t ms;
        if (LONG code = Duration(value, true, 1000, kNone - 1, &ms))
            return code;
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_accessTime = ms;
        uint32_t now = DataBlockTicks();
        m_schedule.a0 = now;
        m_schedule.a1 = ms == kNone ? now : now + ms;
        return 0;
    }
    case PID_PrimaryPollTime: {
        uint32_t ms;
        if (LONG code = Duration(value, true, 0, kNone - 1, &ms))
            return code;
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_primaryPoll = ms;
        bool scheduled = !(m_schedule.t0 == 0 && m_schedule.t1 == 0) &&
                         !(m_schedule.t0 == kNone && m_schedule.t1 == kNone);
        if (m_enabled && scheduled) {
            uint32_t now = DataBlockTicks();
            m_schedule.t1 = now;
            m_schedule.t0 = now - 1;
        }
        return 0;
    }
    case PID_SecondaryPollTime:
        return Duration(value, true, 0, kNone - 1, &m_secondaryPoll);
    case PID_Phase:
        return Duration(value, false, 0, kNone - 1, &m_phase);
    case PID_DeadBand: {
        float band;
        if (LONG code = Real(value, &band))
            return code;
        if (!(band >= 0.0f) || std::isinf(band))
            return CFG_E_INVALID_VALUE;
        m_deadBand = band;
        return 0;
    }
    case PID_BlockWritesEnabled: {
        bool on;
        if (LONG code = OnOff(value, &on))
            return code;
        if (on && m_address.length > Types().WriteLimit(m_address.area))
            return CFG_E_WRITE_LIMIT;
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_blockWrites = on;
        if (!on)
            ClearPendingWrites();
        return 0;
    }
    case PID_TracewellOn: return OnOff(value, &m_tracewellOn);
    case PID_LatchData: return OnOff(value, &m_latchData);
    case PID_OutputDisabled: return OnOff(value, &m_outputDisabled);
    case PID_SendEvents: return OnOff(value, &m_sendEvents);
    case PID_SendBlockWrites:
        m_sendBlockWrites = true;
        return 0;
    case PID_Enabled: {
        bool on;
        if (LONG code = OnOff(value, &on))
            return code;
        if (!on)
            return Disable(true);
        if (m_address.length == 0)
            return CFG_E_NO_LENGTH;
        return Enable(true);
    }
    case PID_StartAddress: return SetAddressText(value, false);
    case PID_EndAddress: return SetAddressText(value, true);
    case PID_Length: {
        LONG length;
        if (LONG code = Int32(value, &length))
            return code;
        return SetLength(length);
    }
    case PID_DataType: {
        SHORT type;
        if (LONG code = Int16(value, &type))
            return code;
        return SetDataType(type);
    }
    default:
        return CFG_E_READ_ONLY;
    }
}

void CDataBlock::SendToDataMonitor(const BYTE *data, DWORD length, int direction)
{
    DataMonitor::Send(data, length, direction);
}
