// The storage archive: a byte stream in the class library's persistent format
// (little-endian fixed-width values, length-prefixed strings, objects tagged
// with their class), stored to or loaded from a memory buffer or a file.
//
// Loading never trusts the stream: every read is checked against the bytes
// left, and every tag, index, class name and schema is validated before use.
// Any fault raises CArchiveException; nothing is read past the end.
#pragma once
#include "Object.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

class CArchiveException : public std::runtime_error {
public:
    enum class Cause {
        EndOfFile,     // the stream ends before the value being read
        BadTag,        // a tag that cannot start the object expected here
        BadIndex,      // a reference to an index not (or no longer) in the archive
        UnknownClass,  // a class name that no registered class has
        BadClass,      // a class that cannot be stored or created, or of the wrong kind
        BadSchema,     // a stored schema other than the class's own
        BadLength,     // a string or class-name length beyond the bytes left
        TooDeep,       // objects nested inside objects beyond any sane depth
        WrongMode,     // storing into a loading archive or the reverse
        FileError,     // the file could not be opened, read or written
    };

    CArchiveException(Cause cause, const std::string &text, uint64_t offset);

    Cause GetCause() const { return m_cause; }
    // Where in the stream the fault was found.
    uint64_t Offset() const { return m_offset; }

private:
    Cause m_cause;
    uint64_t m_offset;
};

class CArchive {
public:
    enum class Mode { Store, Load };

    // Stores into a memory buffer (see Bytes()).
    CArchive();
    // Loads from a copy of size bytes at data.
    CArchive(const void *data, size_t size);
    // Stores into (creating or truncating) or loads from the file at path;
    // raises FileError when it cannot be opened.
    CArchive(const std::string &path, Mode mode);
    // An unclosed file is closed; a store's write errors are then lost, so
    // storing callers end with Close().
    ~CArchive();

    CArchive(const CArchive &) = delete;
    CArchive &operator=(const CArchive &) = delete;

    bool IsStoring() const { return m_mode == Mode::Store; }
    bool IsLoading() const { return m_mode == Mode::Load; }

    // Writes out and closes a file (FileError when that fails); no further
    // reads or writes. Nothing to do for memory archives.
    void Close();

    // The bytes stored so far into a memory archive.
    const std::vector<uint8_t> &Bytes() const { return m_memory; }
    // Bytes read or written so far.
    uint64_t Position() const { return m_position; }
    // Loading: the bytes not yet read; true when none are left.
    uint64_t BytesLeft() const;
    bool AtEnd() const { return BytesLeft() == 0; }

    // Fixed-width values, little-endian whatever the build. long and unsigned
    // long are the format's 32-bit LONG and DWORD.
    CArchive &operator<<(uint8_t value);
    CArchive &operator<<(int8_t value) { return *this << uint8_t(value); }
    CArchive &operator<<(uint16_t value);
    CArchive &operator<<(int16_t value) { return *this << uint16_t(value); }
    CArchive &operator<<(uint32_t value);
    CArchive &operator<<(int32_t value) { return *this << uint32_t(value); }
    CArchive &operator<<(unsigned long value) { return *this << uint32_t(value); }
    CArchive &operator<<(long value) { return *this << uint32_t(value); }
    CArchive &operator<<(float value);
    CArchive &operator<<(double value);
    // A string: its length prefix (byte below 255, else 0xFF and a word below
    // 0xFFFF, else 0xFF, 0xFFFF and a double word), then its bytes.
    CArchive &operator<<(const std::string &value);
    CArchive &operator<<(const char *value) { return *this << std::string(value ? value : ""); }

    CArchive &operator>>(uint8_t &value);
    CArchive &operator>>(int8_t &value);
    CArchive &operator>>(uint16_t &value);
    CArchive &operator>>(int16_t &value);
    CArchive &operator>>(uint32_t &value);
    CArchive &operator>>(int32_t &value);
    CArchive &operator>>(unsigned long &value);
    CArchive &operator>>(long &value);
    CArchive &operator>>(float &value);
    CArchive &operator>>(double &value);
    CArchive &operator>>(std::string &value);

    // Raw bytes without a prefix.
    void Write(const void *data, size_t size);
    void Read(void *data, size_t size);

    // Stores an object with its class record: a null object as 0x0000; an
    // object already stored as its index; otherwise its class (new: 0xFFFF,
    // schema, name length, name; known: 0x8000 | index) followed by the
    // object's own Serialize. Indices beyond 0x7FFE use the long forms
    // (0x7FFF followed by a double word). BadClass for a class that cannot
    // be created by name, as it could never be loaded again.
    void WriteObject(const CObject *object);

    // Loads what WriteObject stored: null, an object stored earlier in this
    // archive (still owned by whoever took it), or a new object that the
    // caller owns. The object must be of kind (or derived from it).
    CObject *ReadObject(const CRuntimeClass *kind);
    // Loads a new object only: a null or a back-reference is BadTag, so
    // the result can never be owned twice.
    std::unique_ptr<CObject> ReadNewObject(const CRuntimeClass *kind);
    template <class T>
    std::unique_ptr<T> ReadNew()
    {
        return std::unique_ptr<T>(static_cast<T *>(ReadNewObject(T::StaticClass()).release()));
    }

    // While an object's Serialize runs during a load: the schema stored with
    // its class; (unsigned)-1 outside such a call.
    unsigned GetObjectSchema() const { return m_loadSchema; }
    // Loading checks each stored schema against the class's own (BadSchema);
    // classes that read every schema ask for this and then call
    // GetObjectSchema().
    void AcceptAnySchema(bool accept) { m_acceptAnySchema = accept; }

private:
    // What an index of the loading archive names: a class record or an
    // object, the latter by its live-set handle so that an object deleted
    // since it was read is never reached.
    struct LoadEntry {
        const CRuntimeClass *record;  // null for objects
        unsigned schema;              // classes: the stored schema
        uint32_t handle;              // objects
    };

    [[noreturn]] void Fail(CArchiveException::Cause cause, const std::string &text) const;
    void RequireMode(Mode mode) const;
    void Need(uint64_t size, const char *what) const;
    void WriteIndexTag(uint32_t index, bool isClass);
    uint32_t TakeStoreIndex();
    void PutLittleEndian(uint64_t value, size_t size);
    uint64_t GetLittleEndian(size_t size, const char *what);
    const CRuntimeClass *ReadClassRecord();
    CObject *ReadObjectRecord(const CRuntimeClass *kind, bool newOnly);

    Mode m_mode;
    std::FILE *m_file = nullptr;
    std::vector<uint8_t> m_memory;   // stored bytes, or the bytes to load
    uint64_t m_position = 0;
    uint64_t m_size = 0;             // loading: the stream's length

    // Storing: index of every class record and object written so far.
    std::unordered_map<const void *, uint32_t> m_storeMap;
    // Loading: entry per index; index 0 is the null object.
    std::vector<LoadEntry> m_loadArray;
    uint32_t m_nextIndex = 1;

    bool m_closed = false;
    unsigned m_loadSchema = unsigned(-1);
    unsigned m_loadDepth = 0;          // objects being loaded inside one another
    bool m_acceptAnySchema = false;
};
