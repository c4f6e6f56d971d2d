#include "Archive.h"
#include <cerrno>
#include <cstring>

namespace {

const uint16_t kNullTag = 0x0000;
const uint16_t kNewClassTag = 0xFFFF;
const uint16_t kClassTag = 0x8000;
const uint16_t kBigObjectTag = 0x7FFF;       // a double-word index follows
const uint32_t kBigClassTag = 0x80000000u;
const uint32_t kMaxIndex = 0x7FFFFFFFu;
// Longer names are no class of ours; refusing them early keeps a damaged
// length from reading a large block as a name.
const size_t kMaxClassName = 64;
// A stream of objects each holding the next must not exhaust the stack.
const unsigned kMaxLoadDepth = 256;

using Cause = CArchiveException::Cause;

// Class names come from the stream; keep control bytes out of error texts.
std::string Printable(const std::string &text)
{
    std::string out;
    for (unsigned char c : text)
        out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    return out;
}

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

} // namespace

CArchiveException::CArchiveException(Cause cause, const std::string &text, uint64_t offset)
    : std::runtime_error(text), m_cause(cause), m_offset(offset)
{
}

CArchive::CArchive() : m_mode(Mode::Store) {}

CArchive::CArchive(const void *data, size_t size)
    : m_mode(Mode::Load),
      m_memory(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + (data ? size : 0)),
      m_size(m_memory.size())
{
    m_loadArray.push_back(LoadEntry{nullptr, 0, 0});
}

CArchive::CArchive(const std::string &path, Mode mode) : m_mode(mode)
{
    m_file = std::fopen(path.c_str(), mode == Mode::Store ? "wb" : "rb");
    if (!m_file)
        Fail(Cause::FileError, "cannot open \"" + path + "\": " + std::strerror(errno));
    if (mode == Mode::Load) {
        m_loadArray.push_back(LoadEntry{nullptr, 0, 0});
#ifdef _WIN32
        bool sized = _fseeki64(m_file, 0, SEEK_END) == 0;
        long long size = sized ? _ftelli64(m_file) : -1;
        sized = sized && size >= 0 && _fseeki64(m_file, 0, SEEK_SET) == 0;
#else
        bool sized = fseeko(m_file, 0, SEEK_END) == 0;
        long long size = sized ? (long long)ftello(m_file) : -1;
        sized = sized && size >= 0 && fseeko(m_file, 0, SEEK_SET) == 0;
#endif
        if (!sized) {
            std::fclose(m_file);
            m_file = nullptr;
            Fail(Cause::FileError, "cannot find the length of \"" + path + "\"");
        }
        m_size = uint64_t(size);
    }
}

CArchive::~CArchive()
{
    if (m_file)
        std::fclose(m_file);
}

void CArchive::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (!m_file)
        return;
    bool failed = IsStoring() && std::fflush(m_file) != 0;
    failed = std::fclose(m_file) != 0 || failed;
    m_file = nullptr;
    if (failed)
        Fail(Cause::FileError, "the file could not be written completely");
}

uint64_t CArchive::BytesLeft() const
{
    return IsLoading() ? m_size - m_position : 0;
}

void CArchive::Fail(Cause cause, const std::string &text) const
{
    throw CArchiveException(cause, text, m_position);
}

void CArchive::RequireMode(Mode mode) const
{
    if (m_closed)
        Fail(Cause::WrongMode, "the archive is closed");
    if (m_mode != mode)
        Fail(Cause::WrongMode, mode == Mode::Store ? "cannot store into a loading archive"
                                                   : "cannot load from a storing archive");
}

void CArchive::Need(uint64_t size, const char *what) const
{
    if (BytesLeft() < size)
        Fail(Cause::EndOfFile, std::string("the archive ends at byte ") + std::to_string(m_size) +
                                   " inside " + what);
}

void CArchive::Write(const void *data, size_t size)
{
    RequireMode(Mode::Store);
    if (size == 0)
        return;
    if (m_file) {
        if (std::fwrite(data, 1, size, m_file) != size)
            Fail(Cause::FileError, "the file could not be written");
    } else {
        const uint8_t *bytes = static_cast<const uint8_t *>(data);
        m_memory.insert(m_memory.end(), bytes, bytes + size);
    }
    m_position += size;
}

void CArchive::Read(void *data, size_t size)
{
    RequireMode(Mode::Load);
    Need(size, "a block of bytes");
    if (size == 0)
        return;
    if (m_file) {
        if (std::fread(data, 1, size, m_file) != size)
            Fail(Cause::FileError, "the file could not be read");
    } else {
        std::memcpy(data, m_memory.data() + m_position, size);
    }
    m_position += size;
}

void CArchive::PutLittleEndian(uint64_t value, size_t size)
{
    uint8_t bytes[8];
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(value >> (8 * i));
    Write(bytes, size);
}

uint64_t CArchive::GetLittleEndian(size_t size, const char *what)
{
    RequireMode(Mode::Load);
    Need(size, what);
    uint8_t bytes[8];
    Read(bytes, size);
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint64_t(bytes[i]) << (8 * i);
    return value;
}

CArchive &CArchive::operator<<(uint8_t value)
{
    PutLittleEndian(value, 1);
    return *this;
}

CArchive &CArchive::operator<<(uint16_t value)
{
    PutLittleEndian(value, 2);
    return *this;
}

CArchive &CArchive::operator<<(uint32_t value)
{
    PutLittleEndian(value, 4);
    return *this;
}

CArchive &CArchive::operator<<(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(bits, 4);
    return *this;
}

CArchive &CArchive::operator<<(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(bits, 8);
    return *this;
}

CArchive &CArchive::operator<<(const std::string &value)
{
    RequireMode(Mode::Store);
    uint64_t length = value.size();
    if (length > 0xFFFFFFFFu)
        Fail(Cause::BadLength, "a string longer than 4 GB cannot be stored");
    if (length < 0xFF) {
        *this << uint8_t(length);
    } else if (length < 0xFFFF) {
        *this << uint8_t(0xFF) << uint16_t(length);
    } else {
        *this << uint8_t(0xFF) << uint16_t(0xFFFF) << uint32_t(length);
    }
    Write(value.data(), value.size());
    return *this;
}

CArchive &CArchive::operator>>(uint8_t &value)
{
    value = uint8_t(GetLittleEndian(1, "a byte"));
    return *this;
}

CArchive &CArchive::operator>>(int8_t &value)
{
    value = int8_t(GetLittleEndian(1, "a byte"));
    return *this;
}

CArchive &CArchive::operator>>(uint16_t &value)
{
    value = uint16_t(GetLittleEndian(2, "a word"));
    return *this;
}

CArchive &CArchive::operator>>(int16_t &value)
{
    value = int16_t(GetLittleEndian(2, "a word"));
    return *this;
}

CArchive &CArchive::operator>>(uint32_t &value)
{
    value = uint32_t(GetLittleEndian(4, "a double word"));
    return *this;
}

CArchive &CArchive::operator>>(int32_t &value)
{
    value = int32_t(uint32_t(GetLittleEndian(4, "a double word")));
    return *this;
}

CArchive &CArchive::operator>>(unsigned long &value)
{
    value = uint32_t(GetLittleEndian(4, "a double word"));
    return *this;
}

CArchive &CArchive::operator>>(long &value)
{
    value = int32_t(uint32_t(GetLittleEndian(4, "a double word")));
    return *this;
}

CArchive &CArchive::operator>>(float &value)
{
    uint32_t bits = uint32_t(GetLittleEndian(4, "a float"));
    std::memcpy(&value, &bits, sizeof value);
    return *this;
}

CArchive &CArchive::operator>>(double &value)
{
    uint64_t bits = GetLittleEndian(8, "a double");
    std::memcpy(&value, &bits, sizeof value);
    return *this;
}

CArchive &CArchive::operator>>(std::string &value)
{
    RequireMode(Mode::Load);
    uint64_t length = GetLittleEndian(1, "a string length");
    if (length == 0xFF) {
        length = GetLittleEndian(2, "a string length");
        if (length == 0xFFFF)
            length = GetLittleEndian(4, "a string length");
    }
    // Checked before allocating: a damaged prefix must not ask for gigabytes.
    if (length > BytesLeft())
        Fail(Cause::BadLength, "a string of " + std::to_string(length) + " bytes at byte " +
                                   std::to_string(m_position) + " runs past the end of the archive");
    std::string text(size_t(length), '\0');
    Read(&text[0], text.size());
    value.swap(text);
    return *this;
}

uint32_t CArchive::TakeStoreIndex()
{
    if (m_nextIndex > kMaxIndex)
        Fail(Cause::BadIndex, "too many objects for one archive");
    return m_nextIndex++;
}

void CArchive::WriteIndexTag(uint32_t index, bool isClass)
{
    if (index < kBigObjectTag) {
        *this << uint16_t(isClass ? (kClassTag | index) : index);
    } else {
        *this << kBigObjectTag << uint32_t(isClass ? (kBigClassTag | index) : index);
    }
}

void CArchive::WriteObject(const CObject *object)
{
    RequireMode(Mode::Store);
    if (!object) {
        *this << kNullTag;
        return;
    }
    auto known = m_storeMap.find(object);
    if (known != m_storeMap.end()) {
        WriteIndexTag(known->second, false);
        return;
    }

    const CRuntimeClass *record = object->GetRuntimeClass();
    size_t nameLength = std::strlen(record->className);
    if (!record->createObject || record->schema >= 0xFFFF || nameLength == 0 ||
        nameLength > kMaxClassName)
        Fail(Cause::BadClass, std::string("objects of class ") + record->className +
                                  " cannot be stored");
    auto knownClass = m_storeMap.find(record);
    if (knownClass != m_storeMap.end()) {
        WriteIndexTag(knownClass->second, true);
    } else {
        *this << kNewClassTag << uint16_t(record->schema) << uint16_t(nameLength);
        Write(record->className, nameLength);
        m_storeMap[record] = TakeStoreIndex();
    }
    // Indexed before its fields, so that references to itself inside them
    // are written as back-references.
    m_storeMap[object] = TakeStoreIndex();
    const_cast<CObject *>(object)->Serialize(*this);
}

const CRuntimeClass *CArchive::ReadClassRecord()
{
    uint16_t schema, nameLength;
    *this >> schema >> nameLength;
    if (nameLength == 0 || nameLength > kMaxClassName)
        Fail(Cause::BadClass, "a class name of " + std::to_string(nameLength) + " bytes at byte " +
                                  std::to_string(m_position - 2) + " is not a class name");
    if (nameLength > BytesLeft())
        Fail(Cause::BadLength, "a class name of " + std::to_string(nameLength) + " bytes at byte " +
                                   std::to_string(m_position - 2) + " runs past the end of the archive");
    std::string name(nameLength, '\0');
    Read(&name[0], name.size());

    const CRuntimeClass *record = CRuntimeClass::FromName(name.c_str());
    if (!record || std::strlen(record->className) != name.size())
        Fail(Cause::UnknownClass, "unknown class \"" + Printable(name) + "\"");
    if (!record->createObject)
        Fail(Cause::BadClass, "class " + name + " cannot be created by name");
    if (!m_acceptAnySchema && schema != record->schema)
        Fail(Cause::BadSchema, "class " + name + " is stored with schema " + std::to_string(schema) +
                                   ", expected " + std::to_string(record->schema));
    m_loadArray.push_back(LoadEntry{record, schema, 0});
    return record;
}

CObject *CArchive::ReadObjectRecord(const CRuntimeClass *kind, bool newOnly)
{
    RequireMode(Mode::Load);
    uint64_t start = m_position;
    uint16_t tag;
    *this >> tag;

    uint32_t index = 0;
    bool isClass = true;
    if (tag == kBigObjectTag) {
        uint32_t big;
        *this >> big;
        isClass = (big & kBigClassTag) != 0;
        index = big & ~kBigClassTag;
    } else if (tag != kNewClassTag) {
        isClass = (tag & kClassTag) != 0;
        index = tag & ~kClassTag;
    }
    std::string at = " at byte " + std::to_string(start);

    if (!isClass) {
        if (index == 0 && !newOnly)
            return nullptr;
        if (newOnly)
            Fail(Cause::BadTag, (index == 0 ? "a null object" : "a reference to an earlier object") +
                                      at + " where a new object belongs");
        if (index >= m_loadArray.size() || m_loadArray[index].record)
            Fail(Cause::BadIndex, "object index " + std::to_string(index) + at + " names no object");
        CObject *object = LiveObjectFromHandle(m_loadArray[index].handle, nullptr);
        if (!object)
            Fail(Cause::BadIndex, "object index " + std::to_string(index) + at +
                                      " names an object that no longer exists");
        if (kind && !object->IsKindOf(kind))
            Fail(Cause::BadClass, "object index " + std::to_string(index) + at + " is a " +
                                      object->GetRuntimeClass()->className + ", not a " + kind->className);
        return object;
    }

    const CRuntimeClass *record;
    unsigned schema;
    if (tag == kNewClassTag) {
        record = ReadClassRecord();
        schema = m_loadArray.back().schema;
    } else {
        if (index == 0)
            Fail(Cause::BadTag, "class tag 0x" + Hex(tag) + at + " names no class");
        if (index >= m_loadArray.size() || !m_loadArray[index].record)
            Fail(Cause::BadIndex, "class index " + std::to_string(index) + at + " names no class");
        record = m_loadArray[index].record;
        schema = m_loadArray[index].schema;
    }
    if (kind && !record->IsDerivedFrom(kind))
        Fail(Cause::BadClass, std::string("an object of class ") + record->className + at +
                                  " where a " + kind->className + " belongs");

    std::unique_ptr<CObject> object(record->CreateObject());
    if (!object)
        Fail(Cause::BadClass, std::string("class ") + record->className + " could not be created");
    if (m_loadArray.size() > kMaxIndex)
        Fail(Cause::BadIndex, "too many objects for one archive");
    m_loadArray.push_back(LoadEntry{nullptr, 0, object->Handle()});

    if (m_loadDepth >= kMaxLoadDepth)
        Fail(Cause::TooDeep, "objects nested more than " + std::to_string(kMaxLoadDepth) + " deep" + at);
    // A failed object is deleted; its entry then resolves to nothing.
    unsigned outer = m_loadSchema;
    m_loadSchema = schema;
    ++m_loadDepth;
    try {
        object->Serialize(*this);
    } catch (...) {
        m_loadSchema = outer;
        --m_loadDepth;
        throw;
    }
    m_loadSchema = outer;
    --m_loadDepth;
    return object.release();
}

CObject *CArchive::ReadObject(const CRuntimeClass *kind)
{
    return ReadObjectRecord(kind, false);
}

std::unique_ptr<CObject> CArchive::ReadNewObject(const CRuntimeClass *kind)
{
    return std::unique_ptr<CObject>(ReadObjectRecord(kind, true));
}
