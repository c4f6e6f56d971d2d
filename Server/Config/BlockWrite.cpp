// Writes into a data block's controller memory: single writes (with bit
// writes and read-modify-write of one byte), block writes that merge the
// pending values into one write of the whole block, and the automation
// write by VARIANT type.
#include "DataBlock.h"
#include "DataBlockSignal.h"
#include "Device.h"
#include "Driver.h"
#include "ServerMsg.h"
#include "Store.h"
#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace {

const CS7Types &Types() { return CS7Types::Instance(); }

std::mutex g_useLock;
std::set<const CDataBlock *> g_liveBlocks;   // guarded by g_useLock

const LONG kBadValue = 101, kValueTooLong = 102;

void PostMergeError(const std::string &name)
{
    LogMessage(SeverityDebug2, "Error building Block Write Message for Datablock %s", name.c_str());
}

struct RecordFields {
    uint16_t area, dbNumber, start, type, bit;
};

RecordFields FieldsOf(const OutputRecord &r)
{
    S7Address a;
    CS7Types::FromAddressWord(r.address, &a);
    return {a.area, a.dbNumber, a.start, uint16_t((r.bitAndType >> 4) & 0x1F), uint16_t(r.bitAndType & 0x0F)};
}

bool IsByteType(uint16_t type) { return type == S7TypeChar || type == S7TypeByte; }

} // namespace

CDataBlock::UseLock::UseLock() { g_useLock.lock(); }
CDataBlock::UseLock::~UseLock() { g_useLock.unlock(); }

void CDataBlock::TrackLive(CDataBlock *block, bool live)
{
    std::lock_guard<std::mutex> guard(g_useLock);
    if (live)
        g_liveBlocks.insert(block);
    else
        g_liveBlocks.erase(block);
}

CDataBlock *CDataBlock::FromHandle(uint32_t handle)
{
    CDataBlock *block = LiveObjectAs<CDataBlock>(handle);
    if (!block || !g_liveBlocks.count(block) || !block->Device())
        return nullptr;
    return block;
}

bool CDataBlock::IsActive() const { return m_enabled && m_device && m_device->IsActive(); }

size_t CDataBlock::PendingBlockWrites() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_pending.size();
}

void CDataBlock::ClearPendingWrites()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (CBlockWriteMsg *w : m_pending)
        delete w;
    m_pending.clear();
}

void CDataBlock::DropQueuedWrites()
{
    if (!m_device)
        return;
    CLockedList<CProtocolMsg> &queue = m_device->WriteQueue();
    queue.Lock();
    std::list<CProtocolMsg *> &items = queue.Items();
    for (auto it = items.begin(); it != items.end();) {
        if ((*it)->GetBlock() == static_cast<IMsgBlock *>(this) && *it != m_readMsg) {
            delete *it;
            it = items.erase(it);
        } else {
            ++it;
        }
    }
    queue.Unlock();
}

LONG CDataBlock::WriteOutput(const OutputRecord &record)
{
    return m_blockWrites ? QueueBlockWrite(record) : SingleWrite(record);
}

LONG CDataBlock::SingleWrite(const OutputRecord &r)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!IsActive() || m_outputDisabled)
        return 0;
    const RecordFields f = FieldsOf(r);
    S7Address w;
    w.area = f.area;
    w.dbNumber = f.dbNumber;
    w.start = f.start;
    w.bit = f.bit;
    w.dataType = f.type;
    unsigned char data[kImageDataBytes] = {};
    unsigned length = 0;
    LONG code = 0, lastError = 0;
    const long offsetUnits = long(f.start) - long(m_address.start);
    std::string text;

    if (r.length > kImageDataBytes) {
        code = E_FAIL;
        lastError = kValueTooLong;
    } else if (f.area != m_address.area) {
        code = E_FAIL;
    } else if (r.kind == OUTPUT_DIGITAL) {
        if (m_address.dataType != S7TypeByte || r.length != 1 || f.bit > 7 || offsetUnits < 0 ||
            offsetUnits >= long(m_address.length)) {
            code = E_FAIL;
        } else {
            w.length = 1;
            w.dataType = S7TypeBit;
            length = 1;
            data[0] = r.value[0] ? 1 : 0;
            if (Types().FormatSapiAddress(w, text) != S7_OK || text.size() > 30) {
                // No bit request for this address: write the whole byte.
                unsigned char byte = 0;
                unsigned at = unsigned(offsetUnits) * unsigned(Types().BytesPerUnit(f.area));
                ServerStore()->GetDataBlock(m_index, 1, &byte, static_cast<unsigned short>(at), 1);
                byte = r.value[0] ? uint8_t(byte | 1u << f.bit) : uint8_t(byte & ~(1u << f.bit));
                data[0] = byte;
                w.dataType = S7TypeByte;
                w.bit = 0;
                text.clear();
                if (Types().FormatSapiAddress(w, text) != S7_OK)
                    code = E_FAIL;
            }
        }
    } else {
        const int size = Types().BytesPerElement(f.type);
        const int units = Types().UnitsPerElement(f.type);
        const unsigned count = size >= 1 ? r.length / unsigned(size) : 0;
        if (size < 1 || units < 1 || count == 0 || offsetUnits < 0 ||
            offsetUnits + long(count) * units > long(m_address.length)) {
            code = E_FAIL;
        } else {
            w.length = uint16_t(count * unsigned(units));
            length = count * unsigned(size);
            unsigned converted;
            if (Types().ConvertData(f.type, reinterpret_cast<const char *>(r.value), length,
                                    reinterpret_cast<char *>(data), &converted) != S7_OK) {
                code = E_FAIL;
                lastError = kBadValue;
            }
        }
    }
    if (code == 0 && text.empty() && Types().FormatSapiAddress(w, text) != S7_OK)
        code = E_FAIL;
    if (code == 0 && text.size() > 30)
        code = E_FAIL;

    CProtocolMsg *msg = nullptr;
    if (code == 0) {
        msg = new (std::nothrow) CProtocolMsg(this);
        if (!msg)
            code = E_OUTOFMEMORY;
    }
    if (code == 0) {
        msg->SetDirection(CXAction::DirectionWrite);
        m_device->BindMessage(msg);
        if (!msg->SetVariableText(text.c_str()) || !msg->SetWriteData(data, length))
            code = E_FAIL;
    }
    if (code != 0) {
        delete msg;
        PostBuildLine(m_name, code);
        if (lastError) {
            m_lastError = lastError;
            ++m_msgError;
        }
        return code;
    }
    m_device->WriteQueue().AddTail(msg);
    if (CChannel *channel = m_device->Channel())
        channel->WakeScanThread();
    m_writeTime = ConfigValue::Now();
    ++m_msgTransmit;
    return 0;
}

LONG CDataBlock::QueueBlockWrite(const OutputRecord &r)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!IsActive() || m_outputDisabled)
        return 0;
    CBlockWriteMsg *w = new (std::nothrow) CBlockWriteMsg;
    if (!w) {
        LogMessage(SeverityError, "%s", "Memory allocation failure during block write operation");
        return E_OUTOFMEMORY;
    }
    w->m_record = r;
    // The newest value of a point wins.
    m_pending.remove_if([&](CBlockWriteMsg *p) {
        const OutputRecord &o = p->m_record;
        if (o.address != r.address || o.bitAndType != r.bitAndType || o.kind != r.kind)
            return false;
        delete p;
        return true;
    });
    m_pending.push_back(w);
    return 0;
}

bool CDataBlock::SendPendingBlockWrites()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_sendBlockWrites = false;
    if (m_pending.empty() || !IsActive() || m_outputDisabled)
        return false;
    const unsigned bytes = BytesInUse();
    if (bytes >= 229) {
        PostMergeError(m_name);
        ClearPendingWrites();
        return false;
    }
    OutputRecord merged;
    memset(&merged, 0, sizeof merged);
    merged.address = m_internalAddress;
    merged.bitAndType = uint32_t(m_address.dataType) << 4;
    merged.owner = Handle();
    merged.kind = OUTPUT_ANALOG;
    merged.length = bytes;
    ServerStore()->GetDataBlock(m_index, static_cast<unsigned short>(bytes), merged.value, 0, 1);
    const int unitBytes = Types().BytesPerUnit(m_address.area);
    while (!m_pending.empty()) {
        CBlockWriteMsg *w = m_pending.front();
        m_pending.pop_front();
        const OutputRecord &r = w->m_record;
        const RecordFields f = FieldsOf(r);
        const int size = Types().BytesPerElement(f.type);
        const long offset = (long(f.start) - long(m_address.start)) * unitBytes;
        bool ok = f.area == m_address.area && unitBytes >= 1 && offset >= 0 && long(offset) < long(bytes) &&
                  size >= 1 && r.length >= unsigned(size);
        if (ok && r.kind == OUTPUT_DIGITAL) {
            ok = Types().IsBitAddressable(m_address.dataType) && f.bit <= 7;
            if (ok) {
                unsigned char &byte = merged.value[offset];
                byte = r.value[0] ? uint8_t(byte | 1u << f.bit) : uint8_t(byte & ~(1u << f.bit));
            }
        } else if (ok) {
            // The value must end inside the block as well.
            ok = offset + long(r.length) <= long(bytes);
            if (ok)
                memcpy(merged.value + offset, r.value, r.length);
        }
        if (!ok)
            PostMergeError(m_name);
        delete w;
    }
    return SingleWrite(merged) == 0;
}

LONG CDataBlock::WriteData(LONG first, LONG bit, unsigned sigCond, float high, float low, const VARIANT &value)
{
    CDriver *driver = CDriver::Current();
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (m_outputDisabled || !driver || !driver->IsRunning() || !IsActive())
            return 1;
    }
    OutputRecord r;
    if (LONG refused = FormWriteRecord(first, bit, sigCond, high, low, value, &r))
        return refused;
    // The result of the write itself: a value that cannot be sent is no success.
    return WriteOutput(r);
}

LONG CDataBlock::FormWriteRecord(LONG first, LONG bit, unsigned sigCond, float high, float low,
                                 const VARIANT &value, OutputRecord *record)
{
    S7Address a;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (first < 0 || first >= LONG(m_address.length))
            return 1;
        a = m_address;
    }
    OutputRecord &r = *record;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT *>(&value))))
        return 1;
    memset(&r, 0, sizeof r);
    S7Address at = a;
    at.start = uint16_t(a.start + first);
    r.address = CS7Types::AddressWord(at);
    r.bitAndType = uint32_t(a.dataType) << 4 | (uint32_t(bit) & 0x0F);
    r.owner = Handle();
    r.kind = OUTPUT_ANALOG;
    const uint16_t type = a.dataType;
    const float span = high - low;
    auto condition = [&](float in, int *raw) {
        PFN_OutputSigCond32 out = SignalOutputFunction();
        if (!out)
            return false;
        unsigned short quality = 0;
        out(sigCond, low, span, in, raw, type == S7TypeInt ? int(SIGCOND_FLAG_SIGNED16) : 0, &quality);
        return true;
    };
    // Puts n bytes of a host value into controller order as the given type.
    auto controllerOrder = [&](uint16_t as, const void *host, unsigned n) {
        unsigned count;
        Types().ConvertData(as, static_cast<const char *>(host), n, reinterpret_cast<char *>(r.value), &count);
        r.length = n;
    };
    bool refused = false;
    int raw = 0;
    switch (V_VT(&v)) {
    case VT_I2:
        if (type == S7TypeInt || type == S7TypeWord || type == S7TypeCounter || type == S7TypeTimer) {
            refused = !condition(float(V_I2(&v)), &raw);
            uint16_t word = uint16_t(raw);
            memcpy(r.value, &word, 2);
            r.length = 2;
        } else if (IsByteType(type)) {
            refused = !condition(float(V_I2(&v)), &raw);
            uint16_t word = uint16_t(raw);
            controllerOrder(S7TypeWord, &word, 2);
        } else {
            refused = true;
        }
        break;
    case VT_I4:
        if (type == S7TypeDword || type == S7TypeDint) {
            memcpy(r.value, &V_I4(&v), 4);
            r.length = 4;
        } else if (IsByteType(type)) {
            // Byte blocks take the bytes as they are: give them in controller order.
            controllerOrder(S7TypeDword, &V_I4(&v), 4);
        } else {
            refused = true;
        }
        break;
    case VT_R4:
        if (type == S7TypeReal) {
            memcpy(r.value, &V_R4(&v), 4);
            r.length = 4;
        } else if (IsByteType(type)) {
            controllerOrder(S7TypeReal, &V_R4(&v), 4);
        } else {
            refused = true;
        }
        break;
    case VT_BOOL:
        if (Types().IsBitAddressable(type) && bit >= 0 && bit <= 7) {
            r.kind = OUTPUT_DIGITAL;
            r.value[0] = V_BOOL(&v) ? 1 : 0;
            r.length = 1;
        } else {
            refused = true;
        }
        break;
    case VT_UI1:
        if (IsByteType(type)) {
            refused = !condition(float(V_UI1(&v)), &raw);
            r.value[0] = uint8_t(raw);
            r.length = 1;
        } else {
            refused = true;
        }
        break;
    default:
        refused = true;
        break;
    }
    VariantClear(&v);
    return refused ? 1 : 0;
}
