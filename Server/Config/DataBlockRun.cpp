// The data block at run time: the poll scheduler, the read request, reply
// processing with the deadband of the HMI's exception points, and failure
// handling. Tick values are unsigned 32-bit throughout, so every comparison
// stays right when the tick count wraps.
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "EventCode.h"
#include "ServerMsg.h"
#include "Store.h"
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace {

const uint32_t kNone = uint32_t(-1);

uint32_t SystemTicks() { return GetTickCount(); }
std::atomic<DataBlockTickFn> g_tick{SystemTicks};

// Set by tests to compare: the scheduler then reads the access flag and the
// status on every pass, even where they cannot change what the pass does.
std::atomic<bool> g_readEveryPass{false};

// Set while the last read message was built; a failed build posts its line
// only then, so a run of failures is reported once.
std::atomic<bool> g_buildLineArmed{true};

const CS7Types &Types() { return CS7Types::Instance(); }

bool InWindow(uint32_t now, uint32_t a0, uint32_t a1)
{
    return a0 <= a1 ? (now >= a0 && now <= a1) : (now >= a0 || now <= a1);
}

// Due when now lies outside [t0, t1).
bool IsDue(uint32_t now, uint32_t t0, uint32_t t1)
{
    return t0 <= t1 ? (now < t0 || now >= t1) : (now >= t1 && now < t0);
}

void PostBuildError(const std::string &name, LONG code)
{
    if (g_buildLineArmed.exchange(false))
        CDataBlock::PostBuildLine(name, code);
}

// A normal number or zero; NaN, infinities and denormals are not.
bool RealIsValid(uint32_t bits)
{
    uint32_t exponent = (bits >> 23) & 0xFF;
    uint32_t mantissa = bits & 0x7FFFFF;
    return exponent != 0xFF && !(exponent == 0 && mantissa != 0);
}

template <class T> T Load(const unsigned char *p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

void CDataBlock::PostBuildLine(const std::string &name, LONG code)
{
    LogMessage(SeverityDebug2, "Message build error for datablock %s:  error = 0x%08lX", name.c_str(),
               static_cast<unsigned long>(code));
}

void SetSchedulerReadsEveryPass(bool every) { g_readEveryPass.store(every); }

void SetDataBlockTickSource(DataBlockTickFn tick) { g_tick.store(tick ? tick : SystemTicks); }
uint32_t DataBlockTicks() { return g_tick.load()(); }

void CDataBlock::PublishAddress()
{
    if (!m_valid)
        return;
    CCommonMemory *store = ServerStore();
    store->SetInternalAddress(m_index, m_internalAddress, 0);
    store->SetBytesInUse(m_index, static_cast<unsigned short>(std::min(BytesInUse(), unsigned(kImageDataBytes))));
    uint16_t type = m_address.dataType;
    store->SetDataBlock(m_index, sizeof type, &type, kImageTypeOffset);
}

uint16_t CDataBlock::WriteStatus(uint8_t low)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    uint16_t before = m_status;
    unsigned short stored;
    // The high byte belongs to others: the store keeps what it holds.
    if (m_valid && ServerStore()->SetDataBlockQuality(m_index, low, &stored) == STORE_OK)
        before = stored;
    m_status = uint16_t((before & 0xFF00) | low);
    return before;
}

void CDataBlock::ReportStatusChange()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const ExceptionRegistration &r : m_registrations) {
        ExceptionRecord record{0, r.tag, 0, r.id};
        ServerStore()->AddException(&record);
    }
}

void CDataBlock::PostCommLine(bool failed)
{
    std::string text = m_name + (failed ? " Communications failed" : " Communications Recovered");
    ServerMessage line;
    line.severity = SeverityInfo;
    line.text = text;
    line.eventCode = (failed ? CEventCode::CommFailed() : CEventCode::CommRecovered()).Value();
    line.source = m_name;
    line.sendEvent = m_sendEvents ? TRUE : FALSE;
    PostServerMessage(line);
    CDriver *driver = CDriver::Current();
    SendConfigHmiAlarmLine(text.c_str(), driver ? driver->Acronym().c_str() : "");
}

IMsgDevice *CDataBlock::GetMsgDevice() { return dynamic_cast<IMsgDevice *>(m_device); }

void CDataBlock::AddMsgRetry() { CountMessage(PID_MsgRetryCount); }
void CDataBlock::AddMsgTimeout() { CountMessage(PID_MsgTimeoutCount); }

void CDataBlock::TakeBackMsg(CProtocolMsg *msg)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (msg == m_readMsg) {
        ResetReadMessage();
        m_outstanding = false;
    } else {
        delete msg;
    }
}

void CDataBlock::ResetReadMessage()
{
    if (!m_readMsg)
        return;
    m_readMsg->ForgetProcessor();
    m_readMsg->SetReceivedData(nullptr, 0);
    m_readMsg->Complete(CXAction::StateNew, CXAction::SubNone);
}

LONG CDataBlock::BuildReadMessage()
{
    if (!m_enabled || !m_device || !m_device->IsActive())
        return E_FAIL;
    if (!m_readMsg) {
        m_readMsg = new (std::nothrow) CProtocolMsg(this);
        if (!m_readMsg) {
            PostBuildError(m_name, E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        m_readBuilt = false;
    }
    m_device->BindMessage(m_readMsg);
    if (m_readBuilt)
        return 0;
    std::string text;
    uint32_t code = Types().FormatSapiAddress(m_address, text);
    if (code == S7_OK && text.size() > 30)
        code = S7_E_LENGTH;
    if (code != S7_OK || !m_readMsg->SetVariableText(text.c_str())) {
        m_sapiAddress = "Error";
        PostBuildError(m_name, LONG(code != S7_OK ? code : E_FAIL));
        return LONG(code != S7_OK ? code : E_FAIL);
    }
    m_readMsg->SetDirection(CXAction::DirectionRead);
    m_sapiAddress = text;
    m_readBuilt = true;
    g_buildLineArmed.store(true);
    return 0;
}

bool CDataBlock::PollDue() { return RunScheduler(false); }

LONG CDataBlock::Poll()
{
    if (!m_enabled)
        return E_FAIL;
    RunScheduler(true);
    return 0;
}

// A pass that polling runs through without a read due, while the access
// window is open or there is none: neither the access flag nor the status
// can change what it does, so it asks the store for neither. With a
// thousand blocks on a channel this is almost every pass of the 10 ms scan.
bool CDataBlock::QuietPass(uint32_t now) const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const Schedule &s = m_schedule;
    if (m_sendBlockWrites || (s.t0 == 0 && s.t1 == 0) || m_primaryPoll == kNone)
        return false;
    if (s.t0 == kNone && s.t1 == kNone)
        return false; // stopped: an HMI read restarts it
    if (m_accessTime != kNone && !InWindow(now, s.a0, s.a1))
        return false; // an HMI read polls at once
    return !IsDue(now, s.t0, s.t1);
}

bool CDataBlock::RunScheduler(bool forced)
{
    if (!m_valid || !m_enabled)
        return false;
    uint32_t now = DataBlockTicks();
    if (!forced && !g_readEveryPass.load(std::memory_order_relaxed) && QuietPass(now))
        return false;
    CCommonMemory *store = ServerStore();
    int access = 0;
    store->GetKIVAccess(m_index, &access, 0);
    {
        unsigned short stored;
        if (store->GetDataBlockStatus(m_index, &stored, nullptr) == STORE_OK) {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            m_status = stored;
        }
    }
    Schedule &s = m_schedule;
    if (!forced) {
        if (m_sendBlockWrites) {
            SendPendingBlockWrites();
            return true;
        }
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (s.t0 == 0 && s.t1 == 0) {
            // The window starts at this scan's own tick: a second reading
            // that ran ahead would put "now" before the window's start and
            // stop the block on its very first scan.
            uint32_t t = now;
            s.t0 = t;
            s.t1 = t + m_phase;
            s.a0 = t + m_phase;
            s.a1 = s.a0 + (m_accessTime == kNone ? m_primaryPoll : m_accessTime);
        }
        if (m_primaryPoll == kNone)
            return false;
        bool stopped = s.t0 == kNone && s.t1 == kNone;
        if (stopped && access) {
            s.t1 = now;
            s.t0 = now - 1;
        }
        if (m_accessTime != kNone && access && !InWindow(now, s.a0, s.a1)) {
            s.t1 = now;
            s.t0 = now - 1;
        }
        if (s.t0 == kNone && s.t1 == kNone)
            return false;
        if (!IsDue(now, s.t0, s.t1))
            return false;
    }

    bool queued = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (m_outstanding) {
            // Fast blocks routinely find their read still on its way.
            if (m_primaryPoll >= 1000 && m_secondaryPoll >= 1000)
                ++m_pollOverrun;
        } else if (m_readMsg && m_readMsg->GetState() != CXAction::StateNew) {
            ++m_pollOverrun;
        } else if (BuildReadMessage() == 0) {
            m_device->ReadQueue().AddTail(m_readMsg);
            m_outstanding = true;
            ++m_msgTransmit;
            queued = true;
        }
    }
    if (forced)
        return queued;

    bool stop = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (access) {
            s.t0 = now;
            s.t1 = now + m_primaryPoll;
            if (m_accessTime == kNone) {
                s.a0 = s.a1 = kNone;
            } else {
                s.a0 = now;
                s.a1 = now + m_accessTime;
            }
        } else if (m_accessTime == kNone || InWindow(now, s.a0, s.a1)) {
            s.t0 = now;
            s.t1 = now + m_primaryPoll;
        } else if (m_secondaryPoll != kNone) {
            s.t0 = now;
            s.t1 = now + m_secondaryPoll;
        } else {
            s.t0 = s.t1 = kNone;
            stop = true;
        }
    }
    if (stop) {
        WriteStatus(m_latchData ? 0x14 : 0x00);
        ReportStatusChange();
    }
    store->SetKIVAccess(m_index, 0);
    return queued;
}

void CDataBlock::ApplyDeadband(const unsigned char *old, unsigned char *work, unsigned bytes)
{
    const uint16_t type = m_address.dataType;
    const int size = Types().BytesPerElement(type);
    const int unitBytes = Types().BytesPerUnit(m_address.area);
    const float band = m_deadBand;
    for (ExceptionRegistration &r : m_registrations) {
        if ((r.address >> 28) != m_address.area) {
            r.changed = 1;
            continue;
        }
        long units = long(r.address & 0x7FFF) - long(m_internalAddress & 0x7FFF);
        if (units < 0 || unitBytes < 1 || size < 1 || unsigned(units * unitBytes + size) > bytes) {
            r.changed = 1;
            continue;
        }
        unsigned offset = unsigned(units * unitBytes);
        const unsigned char *o = old + offset;
        unsigned char *n = work + offset;
        bool changed = false, keepOld = false;
        if (r.kind == 1) {
            switch (type) {
            case S7TypeInt:
            case S7TypeWord:
            case S7TypeByte:
            case S7TypeBit:
            case S7TypeChar: {
                double a, b;
                if (type == S7TypeInt) { a = Load<int16_t>(o); b = Load<int16_t>(n); }
                else if (type == S7TypeWord) { a = Load<uint16_t>(o); b = Load<uint16_t>(n); }
                else if (type == S7TypeChar) { a = Load<int8_t>(o); b = Load<int8_t>(n); }
                else { a = Load<uint8_t>(o); b = Load<uint8_t>(n); }
                changed = std::fabs(a - b) >= band;
                keepOld = !changed;
                break;
            }
            case S7TypeReal: {
                uint32_t ob = Load<uint32_t>(o), nb = Load<uint32_t>(n);
                bool ov = RealIsValid(ob), nv = RealIsValid(nb);
                if (ov != nv) {
                    changed = true;
                } else if (!ov) {
                    keepOld = true;
                } else {
                    float a = Load<float>(o), b = Load<float>(n);
                    if (band == 0.0f)
                        changed = a != b;
                    else
                        changed = std::fabs(double(a) - double(b)) >= band;
                    keepOld = !changed;
                }
                break;
            }
            case S7TypeDword:
            case S7TypeDint: {
                // In 64 bits: a 32-bit difference overflows (0 to 0xFFFFFFFF).
                int64_t a, b;
                if (type == S7TypeDword) { a = Load<uint32_t>(o); b = Load<uint32_t>(n); }
                else { a = Load<int32_t>(o); b = Load<int32_t>(n); }
                if (band == 0.0f) {
                    changed = a != b;
                } else {
                    int64_t d = a > b ? a - b : b - a;
                    changed = d >= int64_t(band);
                    keepOld = !changed;
                }
                break;
            }
            default:
                break;
            }
        } else if (r.kind == 2) {
            if (type == S7TypeByte || type == S7TypeBit || type == S7TypeChar) {
                unsigned bit = r.internal & 0x0F;
                changed = bit > 7 || ((o[0] ^ n[0]) >> bit & 1) != 0;
            }
        }
        if (changed)
            r.changed = 1;
        else if (keepOld)
            memcpy(n, o, size_t(size));
    }
}

void CDataBlock::ProcessReply(CProtocolMsg *msg)
{
    if (!msg)
        return;
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    ++m_msgReceive;
    if (msg != m_readMsg) {
        // A write confirmation: read the written values back.
        delete msg;
        guard.unlock();
        if (m_primaryPoll != kNone)
            Poll();
        return;
    }
    unsigned length = msg->GetReceivedLength();
    unsigned char data[CXAction::DataSize];
    memcpy(data, msg->GetReceivedData(), std::min<unsigned>(length, sizeof data));
    ResetReadMessage();
    m_outstanding = false;
    if (!m_readBuilt || !m_enabled || !m_device || !m_device->IsActive())
        return;

    m_readTime = ConfigValue::Now();
    unsigned char converted[CXAction::DataSize];
    unsigned count = 0;
    LONG error = 0;
    if (length > kImageDataBytes)
        error = 102;
    else if (Types().ConvertReply(&m_address, reinterpret_cast<const char *>(data), length,
                                  reinterpret_cast<char *>(converted), &count) != S7_OK)
        error = 101;
    if (error) {
        m_lastError = error;
        ++m_msgError;
        FailureWithoutRequest();
        m_errorTime = ConfigValue::Now();
        return;
    }

    CCommonMemory *store = ServerStore();
    store->SetDataBlock(m_index, sizeof m_readTime, &m_readTime, kImageTimeOffset);
    if (m_registrations.empty()) {
        store->SetDataBlock(m_index, static_cast<unsigned short>(length), converted, 0);
    } else {
        unsigned char old[kImageDataBytes] = {};
        unsigned inUse = std::min(BytesInUse(), unsigned(kImageDataBytes));
        store->GetDataBlock(m_index, static_cast<unsigned short>(inUse), old, 0, 1);
        ApplyDeadband(old, converted, std::min(inUse, length));
        store->SetDataBlock(m_index, static_cast<unsigned short>(length), converted, 0);
        for (ExceptionRegistration &r : m_registrations) {
            if (!r.changed)
                continue;
            r.changed = 0;
            ExceptionRecord record{0, r.tag, 0, r.id};
            store->AddException(&record);
        }
    }

    uint16_t old = WriteStatus(0xC0);
    if ((old & 0xC0) != 0xC0) {
        ReportStatusChange();
        uint8_t sub = uint8_t(old & 0xFC);
        if (sub == 0x0C || sub == 0x14 || sub == 0x18)
            PostCommLine(false);
    }
}

bool CDataBlock::FailStatus()
{
    uint16_t old = WriteStatus(m_latchData ? 0x14 : 0x18);
    ReportStatusChange();
    if ((old & 0xC0) != 0xC0)
        return false;
    PostCommLine(true);
    return true;
}

void CDataBlock::FailureWithoutRequest()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    uint32_t now = DataBlockTicks();
    m_schedule.t0 = now;
    m_schedule.t1 = now + (m_device ? m_device->InUse().delay : 0);
    // A code already given (refused or too long data) says more than 1.
    if (m_enabled && FailStatus() && m_lastError == 0)
        m_lastError = 1;
}

void CDataBlock::ProcessFailure(CProtocolMsg *msg)
{
    if (!msg) {
        FailureWithoutRequest();
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    ++m_msgError;
    m_errorTime = ConfigValue::Now();
    const S7ErrorRecord &e = msg->GetError();
    LONG code = msg->m_result ? msg->m_result : LONG(e.returnCode);
    if (code)
        m_lastError = code;
    else if (m_lastError == 0)
        m_lastError = 1;
    if (e.returnCode || e.errorNumber || e.errorClass) {
        m_sapiReturnCode = LONG(e.returnCode);
        m_sapiIecErrorNo = e.errorNumber;
        m_sapiDetailedErrorNo = e.errorClass;
        m_sapiIecErrorMsg.assign(e.errorText, strnlen(e.errorText, sizeof e.errorText));
        m_sapiDetailedErrorMsg.assign(e.detailText, strnlen(e.detailText, sizeof e.detailText));
    }
    if (msg != m_readMsg) {
        delete msg;
        return;
    }
    uint32_t now = DataBlockTicks();
    m_schedule.t0 = now;
    m_schedule.t1 = now + (m_device ? m_device->InUse().delay : 0);
    if (m_enabled)
        FailStatus();
    ResetReadMessage();
    m_outstanding = false;
}

LONG CDataBlock::AddRegistration(uint32_t address, uint32_t internal, uint8_t tag, uint16_t id, uint8_t kind,
                                 uint32_t hmiValue)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    ExceptionRegistration r{address, internal, tag, id, 0, kind, hmiValue};
    auto at = std::find_if(m_registrations.begin(), m_registrations.end(),
                           [&](const ExceptionRegistration &x) { return x.address >= address; });
    m_registrations.insert(at, r);
    return 0;
}

LONG CDataBlock::RemoveRegistration(uint32_t address, uint32_t internal, uint8_t tag, uint16_t id, uint8_t kind)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto at = std::find_if(m_registrations.begin(), m_registrations.end(), [&](const ExceptionRegistration &x) {
        return x.address == address && x.internal == internal && x.tag == tag && x.id == id && x.kind == kind;
    });
    if (at != m_registrations.end())
        m_registrations.erase(at);
    return 0;
}

std::vector<ExceptionRegistration> CDataBlock::Registrations() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_registrations;
}

void CDataBlock::SetStatus(uint16_t status)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_status = status;
    if (m_valid)
        ServerStore()->SetDataBlockStatus(m_index, m_status);
}
