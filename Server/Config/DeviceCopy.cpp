// Copy or move of a device with its data blocks to a channel.
//
// The new objects are made and attached the way a client adds them (every
// writable property set by name, then attached), so the run-time rules of
// adding and removing hold while the driver polls. A move removes the
// original only after its copy stands; names are unique in the whole tree,
// so a move that keeps a name takes it over from the original in between.
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

class CPropertyValue {
public:
    explicit CPropertyValue(const char *name) : m_name(name) { VariantInit(&m_value); }
    CPropertyValue(CPropertyValue &&other) noexcept : m_name(other.m_name), m_value(other.m_value)
    {
        VariantInit(&other.m_value);
    }
    CPropertyValue(const CPropertyValue &) = delete;
    CPropertyValue &operator=(const CPropertyValue &) = delete;
    ~CPropertyValue() { VariantClear(&m_value); }

    const char *Name() const { return m_name; }
    VARIANT *Value() { return &m_value; }
    const VARIANT &Value() const { return m_value; }

private:
    const char *m_name;
    VARIANT m_value;
};

// The writable properties of one object except its name: the configurable
// ones in their order first (their order is the one clients add them in),
// then the rest.
LONG TakeSnapshot(CConfigObject &object, std::vector<CPropertyValue> &values)
{
    const CPropertyTable &table = object.Properties();
    std::vector<const char *> names;
    for (const char *name : table.Configurable())
        names.push_back(name);
    for (const PropertyInfo &info : table.Sorted()) {
        if (info.access != PropWrite)
            continue;
        bool listed = false;
        for (const char *name : names)
            listed = listed || table.Find(name) == &info || lstrcmpiA(name, info.name) == 0;
        if (!listed)
            names.push_back(info.name);
    }
    for (const char *name : names) {
        if (lstrcmpiA(name, "Name") == 0)
            continue;
        values.emplace_back(name);
        LONG code = 0;
        if (object.GetProperty(name, values.back().Value(), &code) != 0)
            return code ? code : E_FAIL;
    }
    return 0;
}

LONG ApplySnapshot(CConfigObject &object, const std::vector<CPropertyValue> &values, const std::string *name)
{
    LONG code = 0;
    if (name && object.SetProperty("Name", name->c_str(), &code) != 0)
        return code ? code : E_FAIL;
    for (const CPropertyValue &value : values)
        if (object.SetProperty(value.Name(), value.Value(), &code) != 0)
            return code ? code : E_FAIL;
    return 0;
}

struct BlockSnapshot {
    std::string name;
    std::vector<CPropertyValue> values;
};

struct DeviceSnapshot {
    std::vector<CPropertyValue> values;
    std::vector<BlockSnapshot> blocks;
};

LONG TakeDeviceSnapshot(CDevice &device, DeviceSnapshot &snapshot)
{
    LONG code = TakeSnapshot(device, snapshot.values);
    for (CDataBlock *block : device.DataBlocks()) {
        if (code != 0)
            break;
        snapshot.blocks.push_back(BlockSnapshot{block->Name(), {}});
        code = TakeSnapshot(*block, snapshot.blocks.back().values);
    }
    return code;
}

// Builds a device from a snapshot and attaches it to channel. With
// keepBlockNames the blocks take their stored names, otherwise new default
// names (a copy's blocks may not share the original's names).
LONG BuildDevice(const DeviceSnapshot &snapshot, const std::string &name, CChannel &channel, bool keepBlockNames)
{
    std::unique_ptr<CDevice> device(new (std::nothrow) CDevice(true));
    if (!device)
        return E_OUTOFMEMORY;
    // An empty name keeps the new device's default name.
    LONG code = ApplySnapshot(*device, snapshot.values, name.empty() ? nullptr : &name);
    if (code != 0)
        return code;
    code = channel.AddDevice(device.get());
    if (code != 0)
        return code;
    CDevice *added = device.release();
    for (const BlockSnapshot &stored : snapshot.blocks) {
        std::unique_ptr<CDataBlock> block(new (std::nothrow) CDataBlock(true, true));
        code = !block || !block->IsValid() ? E_OUTOFMEMORY
                                           : ApplySnapshot(*block, stored.values, keepBlockNames ? &stored.name : nullptr);
        if (code == 0)
            code = added->AddDataBlock(block.get());
        if (code != 0) {
            // No half-copied device stays in the tree.
            channel.RemoveDevice(added);
            return code;
        }
        block.release();
    }
    return 0;
}

} // namespace

LONG CDriver::CopyDevice(CDevice *device, const std::string &newName, CChannel *channel, bool move)
{
    if (!device || !channel)
        return E_INVALIDARG;
    CChannel *source = device->Channel();
    if (!source)
        return E_INVALIDARG;
    DeviceSnapshot snapshot;
    LONG code = TakeDeviceSnapshot(*device, snapshot);
    if (code != 0)
        return code;
    if (!move)
        return BuildDevice(snapshot, newName, *channel, false);

    // A move frees the original's names first; should the new device be
    // refused, the original is put back as it was.
    std::string oldName = device->Name();
    code = source->RemoveDevice(device);
    if (code != 0)
        return code;
    code = BuildDevice(snapshot, newName.empty() ? oldName : newName, *channel, true);
    if (code != 0)
        BuildDevice(snapshot, oldName, *source, true);
    return code;
}
