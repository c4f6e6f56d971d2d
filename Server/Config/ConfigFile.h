// The configuration file: the whole tree as one archive stream, the driver
// first, then each channel followed by its devices, each device followed by
// its data blocks, then a null object that marks the tree's end.
//
// The stream holds no count, so without that mark a file cut between two
// objects would read as a smaller tree. The driver's class is stored with
// schema 2 to say that the mark follows: such a file must end with it and
// right after it. A file whose driver has schema 1 (written before the mark
// existed) is read to its end as before.
//
// Loading builds a new tree and hands it over only when the whole file was
// read: a damaged file gives an error and no tree, so the caller's present
// tree is never touched. Objects that cannot join the tree (a channel before
// the driver, a device before any channel, a block before any device, the
// children of an object its parent refused, an object whose add was refused)
// are left out and named in the result.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class CArchive;
class CChannel;
class CDriver;

// The driver class's schema in files that end with the mark.
const unsigned kDriverSchemaWithEnd = 2;

// A field of a stored object that no object of its class can hold (a length,
// type, address, range or flag out of bounds). Raised while loading.
class CConfigFileException : public std::runtime_error {
public:
    CConfigFileException(const std::string &text, uint64_t offset)
        : std::runtime_error(text), m_offset(offset) {}
    // Where in the stream the faulty object's fields begin.
    uint64_t Offset() const { return m_offset; }

private:
    uint64_t m_offset;
};

struct ConfigLoadResult {
    // The new tree; null when the load failed.
    std::unique_ptr<CDriver> driver;
    // Why it failed, "CDriverDoc::Serialize Exception : " and the fault (at
    // most 255 characters); empty on success.
    std::string error;
    // True when the fault is in the stream's form (truncated, bad tag, class
    // or length) rather than in a field's value or the file's order.
    bool formatFault = false;
    // True when the file could not be opened for reading (nothing was read).
    bool openFault = false;
    // One line per object left out of the tree.
    std::vector<std::string> skipped;

    bool Succeeded() const { return driver != nullptr; }
};

// Writes the tree. Raises CArchiveException when the archive cannot take it.
void StoreConfiguration(CArchive &archive, const CDriver &driver);

// Reads a whole archive into a new tree. Never raises for faults of the
// stream. Channels stored as enabled are enabled (without log lines) once the
// tree is complete; on failure nothing is enabled and the three default-name
// counters keep the values they had before the call.
ConfigLoadResult LoadConfiguration(CArchive &archive);

// The same on a file; a file that cannot be opened or read is an error too.
ConfigLoadResult LoadConfigurationFile(const std::string &path);

// Writes the tree into a temporary file beside path and puts it in place of
// path only when every byte was written; a failure leaves path as it was.
// error (optional) receives the reason.
bool SaveConfigurationFile(const std::string &path, const CDriver &driver, std::string *error = nullptr);

namespace ConfigFileLoad {
// While LoadConfiguration runs on this thread, the channels read from the
// stream that are to be enabled; null at other times (a channel read outside
// a load then enables itself at once).
std::vector<CChannel *> *&PendingEnables();
// The schema stored with the driver read last on this thread.
unsigned &DriverSchema();
} // namespace ConfigFileLoad
