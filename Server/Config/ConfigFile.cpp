#include "ConfigFile.h"
#include "Archive.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include <windows.h>
#include <algorithm>
#include <set>
#include <cstdio>

namespace ConfigFileLoad {
std::vector<CChannel *> *&PendingEnables()
{
    static thread_local std::vector<CChannel *> *pending = nullptr;
    return pending;
}
unsigned &DriverSchema()
{
    static thread_local unsigned schema = 0;
    return schema;
}
} // namespace ConfigFileLoad

namespace {

const char kErrorPrefix[] = "CDriverDoc::Serialize Exception : ";

std::string ErrorText(const std::string &fault)
{
    return (kErrorPrefix + fault).substr(0, 255);
}

std::string Hex(LONG code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// The default-name counters, put back when a load fails.
struct NameCounters {
    long channel = CChannel::NameCounter();
    long device = CDevice::NameCounter();
    long block = CDataBlock::NameCounter();
    void Restore() const
    {
        CChannel::NameCounter() = channel;
        CDevice::NameCounter() = device;
        CDataBlock::NameCounter() = block;
    }
};

// Installs the pending-enable list for the load's duration.
class CPendingScope {
public:
    CPendingScope() : m_outer(ConfigFileLoad::PendingEnables()) { ConfigFileLoad::PendingEnables() = &m_list; }
    ~CPendingScope() { ConfigFileLoad::PendingEnables() = m_outer; }
    std::vector<CChannel *> &List() { return m_list; }
    void Forget(const CObject *object)
    {
        m_list.erase(std::remove(m_list.begin(), m_list.end(), object), m_list.end());
    }

private:
    std::vector<CChannel *> m_list;
    std::vector<CChannel *> *m_outer;
};

// Reads objects and places each under the latest accepted object of the
// level above it.
class CTreeLoader {
public:
    CTreeLoader(CArchive &archive, ConfigLoadResult &result) : m_archive(archive), m_result(result) {}

    std::unique_ptr<CDriver> Run()
    {
        m_archive.AcceptAnySchema(true);
        ConfigFileLoad::DriverSchema() = 0;
        bool ended = false;
        while (!m_archive.AtEnd()) {
            uint64_t at = m_archive.Position();
            CObject *read = m_archive.ReadObject(CConfigObject::StaticClass());
            if (!read) {
                // The end-of-tree mark: the file must end right here.
                if (!m_archive.AtEnd())
                    throw CArchiveException(CArchiveException::Cause::BadTag,
                                            "bytes after the end of the tree at byte " +
                                                std::to_string(m_archive.Position()),
                                            m_archive.Position());
                ended = true;
                break;
            }
            // A reference to an object read before would be owned twice.
            if (m_held.count(read))
                throw CArchiveException(CArchiveException::Cause::BadTag,
                                        "a reference to an earlier object at byte " + std::to_string(at), at);
            std::unique_ptr<CConfigObject> object(static_cast<CConfigObject *>(read));
            m_held.insert(read);
            Place(std::move(object), at);
        }
        if (!m_driver)
            throw CConfigFileException("the file holds no driver", m_archive.Position());
        if (m_driverSchema >= kDriverSchemaWithEnd && !ended)
            throw CArchiveException(CArchiveException::Cause::EndOfFile,
                                    "the file ends at byte " + std::to_string(m_archive.Position()) +
                                        " before the end of the tree",
                                    m_archive.Position());
        for (CChannel *channel : m_pending.List())
            channel->Enable(false);
        return std::move(m_driver);
    }

private:
    void Place(std::unique_ptr<CConfigObject> object, uint64_t at)
    {
        if (object->IsKindOf(CDriver::StaticClass())) {
            // A file holds one tree; a second root would silently drop the first.
            if (m_driver)
                throw CConfigFileException("a second driver at byte " + std::to_string(at), at);
            m_driver.reset(static_cast<CDriver *>(object.release()));
            m_driverSchema = ConfigFileLoad::DriverSchema();
            return;
        }
        if (object->IsKindOf(CChannel::StaticClass())) {
            auto *channel = static_cast<CChannel *>(object.get());
            m_channel = nullptr;
            m_device = nullptr;
            if (!m_driver)
                return Skip(std::move(object), at, "it comes before the driver");
            if (LONG code = m_driver->AddChannel(channel))
                return Skip(std::move(object), at, "the driver refused it (" + Hex(code) + ")");
            m_channel = static_cast<CChannel *>(object.release());
            return;
        }
        if (object->IsKindOf(CDevice::StaticClass())) {
            auto *device = static_cast<CDevice *>(object.get());
            m_device = nullptr;
            if (!m_channel)
                return Skip(std::move(object), at, "no channel in the tree to hold it");
            if (LONG code = m_channel->AddDevice(device))
                return Skip(std::move(object), at, "channel " + m_channel->Name() + " refused it (" + Hex(code) + ")");
            m_device = static_cast<CDevice *>(object.release());
            return;
        }
        if (object->IsKindOf(CDataBlock::StaticClass())) {
            auto *block = static_cast<CDataBlock *>(object.get());
            if (!m_device)
                return Skip(std::move(object), at, "no device in the tree to hold it");
            if (LONG code = m_device->AddDataBlock(block))
                return Skip(std::move(object), at, "device " + m_device->Name() + " refused it (" + Hex(code) + ")");
            object.release();
            return;
        }
        throw CConfigFileException(std::string("an object of class ") + object->GetRuntimeClass()->className +
                                       " at byte " + std::to_string(at) + " has no place in the tree", at);
    }

    void Skip(std::unique_ptr<CConfigObject> object, uint64_t at, const std::string &why)
    {
        m_pending.Forget(object.get());
        m_held.erase(object.get());
        m_result.skipped.push_back(std::string(object->GetRuntimeClass()->className + 1) + " " + object->Name() +
                                   " at byte " + std::to_string(at) + " left out: " + why);
    }

    CArchive &m_archive;
    ConfigLoadResult &m_result;
    CPendingScope m_pending;
    std::unique_ptr<CDriver> m_driver;
    CChannel *m_channel = nullptr;   // null: devices now have no place
    CDevice *m_device = nullptr;     // null: blocks now have no place
    unsigned m_driverSchema = 0;
    std::set<const CObject *> m_held;   // the objects read so far that still live
};

} // namespace

void StoreConfiguration(CArchive &archive, const CDriver &driver)
{
    archive.WriteObject(&driver);
    for (CChannel *channel : driver.Channels()) {
        archive.WriteObject(channel);
        for (CDevice *device : channel->Devices()) {
            archive.WriteObject(device);
            for (CDataBlock *block : device->DataBlocks())
                archive.WriteObject(block);
        }
    }
    archive.WriteObject(nullptr);   // the end of the tree
}

ConfigLoadResult LoadConfiguration(CArchive &archive)
{
    ConfigLoadResult result;
    NameCounters counters;
    try {
        CTreeLoader loader(archive, result);
        result.driver = loader.Run();
        return result;
    } catch (const CArchiveException &e) {
        result.error = ErrorText(e.what());
        result.formatFault = true;
    } catch (const CConfigFileException &e) {
        result.error = ErrorText(e.what());
    } catch (const std::exception &e) {
        result.error = ErrorText(e.what());
    } catch (...) {
        result.error = ErrorText("unknown failure");
    }
    result.driver.reset();
    result.skipped.clear();
    counters.Restore();
    return result;
}

ConfigLoadResult LoadConfigurationFile(const std::string &path)
{
    std::unique_ptr<CArchive> archive;
    try {
        archive.reset(new CArchive(path, CArchive::Mode::Load));
    } catch (const std::exception &e) {
        ConfigLoadResult result;
        result.error = ErrorText(e.what());
        result.openFault = true;
        return result;
    }
    return LoadConfiguration(*archive);
}

bool SaveConfigurationFile(const std::string &path, const CDriver &driver, std::string *error)
{
    std::string temporary = path + ".tmp";
    std::string fault;
    try {
        CArchive archive(temporary, CArchive::Mode::Store);
        StoreConfiguration(archive, driver);
        archive.Close();
    } catch (const std::exception &e) {
        fault = e.what();
    }
    if (fault.empty() &&
        !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fault = "cannot replace " + path + " (error " + std::to_string(GetLastError()) + ")";
    if (fault.empty())
        return true;
    DeleteFileA(temporary.c_str());
    if (error)
        *error = ErrorText(fault);
    return false;
}
