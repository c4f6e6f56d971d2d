#include "ProtocolMsg.h"
#include "XActionProcessor.h"
#include <cstring>

CProtocolMsg::CProtocolMsg(IMsgBlock *block) : m_block(block)
{
    SetDirection(DirectionRead);
}

CProtocolMsg::~CProtocolMsg() = default;

LONG CProtocolMsg::Submit(CXActionProcessor *processor)
{
    m_processor = processor;
    return processor ? processor->Submit(this) : CXActionProcessor::SubmitFailed;
}

bool CProtocolMsg::Succeeded() const
{
    LONG sub = GetSubStatus();
    return GetState() == StateCompleted && sub >= SubNone && sub <= SubCancelled;
}

bool CProtocolMsg::Outcome(bool *success) const
{
    if (GetSubStatus() == SubSuccess) {
        *success = true;
        return true;
    }
    if (GetState() == StateTimedOut || (GetSubStatus() == SubError && !IsNonFatalS7Error(GetError()))) {
        *success = false;
        return true;
    }
    return false;
}

bool CProtocolMsg::BelongsToDevice(const IMsgDevice *device) const
{
    return m_block && m_block->GetMsgDevice() == device;
}

void CProtocolMsg::OnRetry()
{
    if (!m_block)
        return;
    m_block->AddMsgRetry();
    if (IMsgDevice *device = m_block->GetMsgDevice())
        device->AddMsgRetry();
}

void CProtocolMsg::OnTimeout()
{
    if (!m_block)
        return;
    m_block->AddMsgTimeout();
    if (IMsgDevice *device = m_block->GetMsgDevice())
        device->AddMsgTimeout();
}

CBlockWriteMsg::CBlockWriteMsg() { memset(&m_record, 0, sizeof(m_record)); }

namespace {

IMsgDevice *DeviceOf(CProtocolMsg *msg)
{
    return msg->GetBlock() ? msg->GetBlock()->GetMsgDevice() : nullptr;
}

void HandBack(CProtocolMsg *msg, bool count)
{
    IMsgBlock *block = msg->GetBlock();
    if (!block) {
        delete msg;
        return;
    }
    IMsgDevice *device = block->GetMsgDevice();
    block->TakeBackMsg(msg);
    if (count && device)
        device->ReleaseOutstanding();
}

} // namespace

void MsgDone(CProtocolMsg *msg)
{
    if (!msg)
        return;
    IMsgDevice *device = DeviceOf(msg);
    bool success = false;
    if (device && msg->Outcome(&success))
        device->SetCommFailed(!success);
    if (device)
        device->ReleaseOutstanding();
    IMsgBlock *block = msg->GetBlock();
    if (block && msg->GetReceivedLength() && block->IsDataMonitorOn())
        block->SendToDataMonitor(msg->GetReceivedData(), msg->GetReceivedLength(), 0);
}

void MsgCancel(CProtocolMsg *msg)
{
    if (!msg)
        return;
    if (CXActionProcessor *processor = msg->GetProcessor())
        processor->CancelByOrderId(msg->GetOrderId());
    msg->ForgetProcessor();
    HandBack(msg, true);
}

void MsgHandBack(CProtocolMsg *msg)
{
    if (msg)
        HandBack(msg, true);
}

void MsgHandBackWithoutCount(CProtocolMsg *msg)
{
    if (msg)
        HandBack(msg, false);
}

bool Checksum(const BYTE *data, DWORD length, uint16_t *sum, int kind)
{
    if (!sum || (length && !data))
        return false;
    uint16_t s = *sum;
    switch (kind) {
    case ChecksumAdditive: {
        uint8_t low = static_cast<uint8_t>(s & 0xFF);
        for (DWORD i = 0; i < length; ++i)
            low = static_cast<uint8_t>(low + data[i]);
        s = static_cast<uint16_t>((s & 0xFF00) | low);
        break;
    }
    case ChecksumCrc16:
        for (DWORD i = 0; i < length; ++i) {
            s ^= data[i];
            for (int bit = 0; bit < 8; ++bit)
                s = (s & 1) ? static_cast<uint16_t>((s >> 1) ^ 0xA001) : static_cast<uint16_t>(s >> 1);
        }
        break;
    default:
        return false;
    }
    *sum = s;
    return true;
}
