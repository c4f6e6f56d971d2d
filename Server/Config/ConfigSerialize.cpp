// The configuration file form of the four configuration classes.
//
// Loading checks every field against what an object of the class can hold
// before any of it is taken, and raises CConfigFileException otherwise: a
// value that no property would have accepted means the file is damaged.
// Objects made by class have no registry defaults and no default name; a
// load sets their fields directly, so it posts no enable or disable lines.
#include "Archive.h"
#include "Channel.h"
#include "ConfigFile.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

const uint32_t kNone = uint32_t(-1);
const uint32_t kMaxDeviceMs = 604799999;

// Reads one object's fields and reports the first one out of bounds.
class CFieldCheck {
public:
    CFieldCheck(CArchive &archive, const char *kind) : m_kind(kind), m_offset(archive.Position()) {}

    void Require(bool ok, const std::string &what) const
    {
        if (!ok)
            throw CConfigFileException(std::string(m_kind) + " at byte " + std::to_string(m_offset) +
                                           ": " + what, m_offset);
    }
    // Texts are limited in characters, as the properties count them.
    void Text(const std::string &text, size_t maxChars, const char *field) const
    {
        Require(ConfigValue::Widen(text).size() <= maxChars,
                std::string(field) + " is longer than " + std::to_string(maxChars) + " characters");
    }
    // An object name as the name rules leave it (empty: a block that was
    // never named): at most 12 characters, none of the forbidden ones.
    void Name(const std::string &name) const
    {
        std::wstring wide = ConfigValue::Widen(name);
        Require(wide.size() <= 12 && std::none_of(wide.begin(), wide.end(), CS7Types::IsSeparator),
                "the name \"" + name + "\" is not a valid object name");
    }
    bool Flag(uint32_t value, const char *field) const
    {
        Require(value <= 1, std::string(field) + " is " + std::to_string(value) + ", not 0 or 1");
        return value != 0;
    }
    void Range(uint32_t value, uint32_t low, uint32_t high, bool noneAllowed, const char *field) const
    {
        Require((noneAllowed && value == kNone) || (value >= low && value <= high),
                std::string(field) + " " + std::to_string(value) + " is out of range");
    }

private:
    const char *m_kind;
    uint64_t m_offset;
};

} // namespace

// The driver stores no fields of its own; a load notes its schema, which
// says whether the file ends with the end-of-tree mark.
void CDriver::Serialize(CArchive &archive)
{
    if (archive.IsLoading())
        ConfigFileLoad::DriverSchema() = archive.GetObjectSchema();
}

void CChannel::Serialize(CArchive &archive)
{
    if (archive.IsStoring()) {
        std::string cp[2], vfd[2];
        ChannelConnection *records[2] = {&m_primary, &m_backup};
        for (int i = 0; i < 2; ++i) {
            std::lock_guard<std::mutex> guard(records[i]->lock);
            cp[i] = records[i]->cpName;
            vfd[i] = records[i]->vfdName;
        }
        archive << long(NameCounter()) << m_name << m_description << cp[0] << vfd[0] << cp[1] << vfd[1]
                << uint32_t(m_enabled ? 1 : 0);
        return;
    }

    CFieldCheck check(archive, "Channel");
    long counter;
    std::string name, description, cp[2], vfd[2];
    uint32_t enabled;
    archive >> counter;
    NameCounter() = counter;
    archive >> name >> description >> cp[0] >> vfd[0] >> cp[1] >> vfd[1] >> enabled;
    check.Name(name);
    for (int i = 0; i < 2; ++i) {
        check.Text(cp[i], 130, "a CP name");
        check.Text(vfd[i], 34, "a VFD name");
    }
    bool on = check.Flag(enabled, "Enabled");

    m_name = name;
    m_description = description;
    ChannelConnection *records[2] = {&m_primary, &m_backup};
    for (int i = 0; i < 2; ++i) {
        std::lock_guard<std::mutex> guard(records[i]->lock);
        records[i]->cpName = cp[i];
        records[i]->vfdName = vfd[i];
    }
    if (!on)
        return;
    // Within a load the channel is enabled once the whole tree stands, so
    // its threads never see a half-read tree.
    if (std::vector<CChannel *> *pending = ConfigFileLoad::PendingEnables())
        pending->push_back(this);
    else
        Enable(false);
}

void CDevice::Serialize(CArchive &archive)
{
    if (archive.IsStoring()) {
        archive << long(NameCounter()) << m_name << m_description << m_primary.name << m_backup.name
                << m_primary.retries << m_backup.retries << m_primary.replyTimeout << m_backup.replyTimeout
                << m_primary.delay << m_backup.delay << uint32_t(m_enabled ? 1 : 0) << m_reference;
        return;
    }

    CFieldCheck check(archive, "Device");
    long counter;
    std::string name, description;
    DeviceConnection records[2];
    uint32_t enabled, reference;
    archive >> counter;
    NameCounter() = counter;
    archive >> name >> description >> records[0].name >> records[1].name >> records[0].retries >>
        records[1].retries >> records[0].replyTimeout >> records[1].replyTimeout >> records[0].delay >>
        records[1].delay >> enabled >> reference;
    check.Name(name);
    for (const DeviceConnection &record : records) {
        check.Text(record.name, 34, "a connection name");
        check.Require(record.retries >= 0 && record.retries <= 9,
                      "Retries " + std::to_string(record.retries) + " is out of range");
        check.Range(record.replyTimeout, 1000, kMaxDeviceMs, false, "ReplyTimeout");
        check.Range(record.delay, 0, kMaxDeviceMs, false, "Delay");
    }
    bool on = check.Flag(enabled, "Enabled");

    m_name = name;
    m_description = description;
    m_primary = records[0];
    m_backup = records[1];
    m_reference = reference;
    // A loaded device starts on its primary connection.
    m_usingPrimary = true;
    m_nameInUse = m_primary.name;
    // Taken as stored: a device does nothing until its channel is enabled.
    m_enabled = on;
}

void CDataBlock::Serialize(CArchive &archive)
{
    if (archive.IsStoring()) {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        archive << long(NameCounter()) << m_name << m_description << m_address.area << m_address.dbNumber
                << m_address.start << m_address.length << m_address.dataType << m_internalAddress
                << m_primaryPoll << m_secondaryPoll << m_accessTime << m_phase
                << uint32_t(m_outputDisabled) << uint32_t(m_latchData) << uint32_t(m_enabled) << m_deadBand
                << uint32_t(m_blockWrites);
        return;
    }

    CFieldCheck check(archive, "DataBlock");
    long counter;
    std::string name, description;
    S7Address a;
    uint32_t internal, primary, secondary, access, phase, outputDisabled, latch, enabled, blockWrites;
    float deadBand;
    archive >> counter;
    NameCounter() = counter;
    archive >> name >> description >> a.area >> a.dbNumber >> a.start >> a.length >> a.dataType >> internal >>
        primary >> secondary >> access >> phase >> outputDisabled >> latch >> enabled >> deadBand >> blockWrites;

    check.Name(name);
    const CS7Types &types = CS7Types::Instance();
    check.Require(a.area <= S7AreaLast, "area code " + std::to_string(a.area) + " is not an area");
    check.Require(a.dataType <= S7TypeLast, "data-type code " + std::to_string(a.dataType) + " is not a type");
    check.Require(a.dbNumber <= 0x1FFF && (types.IsDataBlockArea(a.area) || a.dbNumber == 0),
                  "data-block number " + std::to_string(a.dbNumber) + " is not valid in its area");
    check.Require(a.start <= 0x7FFF, "start " + std::to_string(a.start) + " is out of range");
    bool writes = check.Flag(blockWrites, "BlockWritesEnabled");
    if (a.length != 0) {
        int units = types.UnitsPerElement(a.dataType);
        check.Require(types.BytesPerUnit(a.area) > 0 && types.TypeAllowedInArea(a.area, a.dataType) && units > 0,
                      "data type " + std::to_string(a.dataType) + " is not allowed in area " +
                          std::to_string(a.area));
        check.Require(a.length % unsigned(units) == 0 && a.length <= types.ReadLimit(a.area) &&
                          (!writes || a.length <= types.WriteLimit(a.area)),
                      "length " + std::to_string(a.length) + " does not fit its area and type");
    }
    // The address resolution may clear the low four bits of the start in
    // the word; anything else in it must be the address itself.
    uint32_t word = types.AddressWord(a);
    check.Require(internal == word || internal == (word & ~0xFu),
                  "internal address word does not match its address");
    check.Range(primary, 0, kNone - 1, true, "PrimaryPollTime");
    check.Range(secondary, 0, kNone - 1, true, "SecondaryPollTime");
    check.Range(access, 1000, kNone - 1, true, "AccessTime");
    check.Range(phase, 0, kNone - 1, false, "Phase");
    check.Require(std::isfinite(deadBand) && deadBand >= 0.0f, "DeadBand is not a valid value");
    bool outputsOff = check.Flag(outputDisabled, "OutputDisabled");
    bool latchOn = check.Flag(latch, "LatchData");
    bool on = check.Flag(enabled, "Enabled");
    check.Require(!on || a.length != 0, "an enabled block has no length");

    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_name = name;
    m_description = description;
    a.bit = 0;
    m_address = a;
    m_internalAddress = internal;
    m_readBuilt = false;
    m_primaryPoll = primary;
    m_secondaryPoll = secondary;
    m_accessTime = access;
    m_phase = phase;
    m_outputDisabled = outputsOff;
    m_latchData = latchOn;
    m_deadBand = deadBand;
    m_blockWrites = writes;
    // The HMI reads the address, the bytes in use and the type from the store.
    PublishAddress();
    // Taken as stored, without a line; the schedule starts at the first scan.
    ResetSchedule();
    m_enabled = on && m_valid;
}
