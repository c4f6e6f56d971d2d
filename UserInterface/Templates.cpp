#include "Templates.h"
#include "ServerError.h"

const char *const CTemplates::SubKeys[3] = {"ChannelDefaults", "DeviceDefaults", "DataBlockDefaults"};
const char CTemplates::OpenFailed[] = "Open registry failed";
const char CTemplates::WriteFailed[] = "Unable to write to registry";
const char CTemplates::MemoryFailed[] = "Memory allocation failure";

const TemplateValue TemplateValues[29] = {
    {0, "ChannelName", "Name", false, "Channel", nullptr},
    {0, "ChannelDescription", "Description", false, "", nullptr},
    {0, "ChannelEnabled", "Enabled", true, "0", nullptr},
    {1, "DeviceName", "Name", false, "Device", nullptr},
    {1, "DeviceDescription", "Description", false, "", nullptr},
    {1, "DeviceEnabled", "Enabled", true, "0", nullptr},
    {1, "DevicePrimStation", "PrimaryConnName", false, "", "None"},
    {1, "DevicePrimTimeout", "PrimaryReplyTimeout", false, "10", nullptr},
    {1, "DevicePrimRetries", "PrimaryRetries", false, "3", nullptr},
    {1, "DevicePrimDelay", "PrimaryDelay", false, "10", nullptr},
    {1, "DeviceBackStation", "BackupConnName", false, "", "None"},
    {1, "DeviceBackTimeout", "BackupReplyTimeout", false, "10", nullptr},
    {1, "DeviceBackRetries", "BackupRetries", false, "3", nullptr},
    {1, "DeviceBackDelay", "BackupDelay", false, "10", nullptr},
    {2, "DataBlockName", "Name", false, "DataBlock", nullptr},
    {2, "DataBlockDescription", "Description", false, "", nullptr},
    {2, "DataBlockEnabled", "Enabled", true, "0", nullptr},
    {2, "DataBlockStartAddress", "StartAddress", false, "M0", nullptr},
    {2, "DataBlockEndingAddress", "EndAddress", false, "M1", nullptr},
    {2, "DataBlockAddressLength", "Length", false, "2", nullptr},
    {2, "DataBlockPrimaryPoll", "PrimaryPollTime", false, "01", "Disabled"},
    {2, "DataBlockPhase", "Phase", false, "00", nullptr},
    {2, "DataBlockSecondaryPoll", "SecondaryPollTime", false, "", "Disabled"},
    {2, "DataBlockAccessTime", "AccessTime", false, "05:00", "Disabled"},
    {2, "DataBlockLatchData", "LatchData", true, "0", nullptr},
    {2, "DataBlockDisableOutputs", "OutputDisabled", true, "0", nullptr},
    {2, "DataBlockExceptionDeadband", "DeadBand", false, "01", nullptr},
    {2, "DataBlockDataType", "DataType", true, "9", nullptr},
    {2, "DataBlockEnableBlockWrites", "BlockWritesEnabled", true, "0", nullptr},
};

namespace {

// The server reads the connection names under these; the older names are
// kept beside them for tools that read those.
const char *ServerName(const char *name)
{
    std::string text = name;
    if (text == "DevicePrimStation")
        return "DevicePrimConnection";
    if (text == "DeviceBackStation")
        return "DeviceBackConnection";
    return nullptr;
}

} // namespace

bool CTemplates::Read(const std::string &machine, CChannelItem &channel, CDeviceItem &device,
                      CDataBlockItem &block)
{
    CObjectItem *items[3] = {&channel, &device, &block};
    bool ok = true;
    for (int kind = 0; kind < 3; ++kind) {
        if (!m_key.Open(SubKeys[kind], machine)) {
            if (ok)
                m_messages.Box(OpenFailed, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
            ok = false;
            continue;
        }
        for (const TemplateValue &value : TemplateValues) {
            if (value.kind != kind)
                continue;
            std::string text = value.fallback;
            DWORD number = 0;
            if (value.number) {
                if (m_key.ReadNumber(value.name, number))
                    text = std::to_string(long(number));
                if (std::string(value.property) != "DataType")
                    text = text == "0" ? "0" : "1";
            } else {
                const char *serverName = ServerName(value.name);
                if (!(serverName && m_key.ReadText(serverName, text)))
                    m_key.ReadText(value.name, text);
            }
            if (value.emptyShown && text.empty())
                text = value.emptyShown;
            items[kind]->SetCurrent(value.property, text);
        }
        m_key.Close();
    }
    return ok;
}

bool CTemplates::Write(const std::string &machine, const CChannelItem &channel, const CDeviceItem &device,
                       const CDataBlockItem &block)
{
    const CObjectItem *items[3] = {&channel, &device, &block};
    for (int kind = 0; kind < 3; ++kind) {
        if (!m_key.Open(SubKeys[kind], machine)) {
            m_messages.Box(OpenFailed, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        bool written = true;
        for (const TemplateValue &value : TemplateValues) {
            if (value.kind != kind)
                continue;
            std::string text = items[kind]->Current(value.property);
            if (value.number) {
                written &= m_key.WriteNumber(value.name, DWORD(strtol(text.c_str(), nullptr, 10)));
                continue;
            }
            if (value.emptyShown && _stricmp(text.c_str(), value.emptyShown) == 0)
                text.clear();
            written &= m_key.WriteText(value.name, text);
            if (const char *serverName = ServerName(value.name))
                written &= m_key.WriteText(serverName, text);
        }
        m_key.Close();
        if (!written) {
            m_messages.Box(WriteFailed, ToolCaption, MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    return true;
}
