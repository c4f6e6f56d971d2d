#include "Archive.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Cause = CArchiveException::Cause;

Bytes operator+(Bytes left, const Bytes &right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// The characters of text, without terminator or prefix.
Bytes Chars(const std::string &text) { return Bytes(text.begin(), text.end()); }

// The archive exception that call raises (a failure when it raises none).
struct Raised {
    int cause = -1;
    uint64_t offset = 0;
};
Raised RaisedBy(const std::function<void()> &call)
{
    try {
        call();
    } catch (const CArchiveException &e) {
        EXPECT_STRNE("", e.what());
        return Raised{int(e.GetCause()), e.Offset()};
    }
    ADD_FAILURE() << "no exception";
    return Raised{};
}

// A point with one field; remembers the schema it was loaded with.
class CTestPoint : public CObject {
    QOR_DECLARE_SERIAL(CTestPoint)
public:
    int32_t x = 0;
    unsigned loadedSchema = 0;
    void Serialize(CArchive &ar) override
    {
        if (ar.IsStoring()) {
            ar << x;
        } else {
            loadedSchema = ar.GetObjectSchema();
            ar >> x;
        }
    }
};

// Two references to points, not owned (tests free what a load returns).
class CTestPair : public CObject {
    QOR_DECLARE_SERIAL(CTestPair)
public:
    CTestPoint *a = nullptr, *b = nullptr;
    void Serialize(CArchive &ar) override
    {
        if (ar.IsStoring()) {
            ar.WriteObject(a);
            ar.WriteObject(b);
        } else {
            a = static_cast<CTestPoint *>(ar.ReadObject(CTestPoint::StaticClass()));
            b = static_cast<CTestPoint *>(ar.ReadObject(CTestPoint::StaticClass()));
        }
    }
};

// A chain: each node owns the next.
class CTestNode : public CObject {
    QOR_DECLARE_SERIAL(CTestNode)
public:
    std::unique_ptr<CTestNode> next;
    void Serialize(CArchive &ar) override
    {
        if (ar.IsStoring())
            ar.WriteObject(next.get());
        else
            next.reset(static_cast<CTestNode *>(ar.ReadObject(CTestNode::StaticClass())));
    }
};

// Known by name but not creatable.
class CTestStone : public CObject {
    QOR_DECLARE_DYNAMIC(CTestStone)
};

} // namespace

QOR_IMPLEMENT_SERIAL(CTestPoint, CObject, 1)
QOR_IMPLEMENT_SERIAL(CTestPair, CObject, 2)
QOR_IMPLEMENT_SERIAL(CTestNode, CObject, 1)
QOR_IMPLEMENT_DYNAMIC(CTestStone, CObject)

namespace {

const Bytes kPointClass = Bytes{0xFF, 0xFF, 0x01, 0x00, 0x0A, 0x00} + Chars("CTestPoint");
const Bytes kPairClass = Bytes{0xFF, 0xFF, 0x02, 0x00, 0x09, 0x00} + Chars("CTestPair");

TEST(Archive, PrimitivesAreLittleEndianAndFixedWidth)
{
    CArchive out;
    out << uint8_t(0xAB) << int8_t(-2) << uint16_t(0x1234) << int16_t(-2) << uint32_t(0x89ABCDEF)
        << int32_t(-2) << long(-100000) << static_cast<unsigned long>(0xDEADBEEFul) << 1.5f << -2.0;
    const Bytes expected = {0xAB, 0xFE, 0x34, 0x12, 0xFE, 0xFF, 0xEF, 0xCD, 0xAB, 0x89,
                            0xFE, 0xFF, 0xFF, 0xFF, 0x60, 0x79, 0xFE, 0xFF, 0xEF, 0xBE,
                            0xAD, 0xDE, 0x00, 0x00, 0xC0, 0x3F, 0, 0, 0, 0, 0, 0, 0x00, 0xC0};
    ASSERT_EQ(expected, out.Bytes());

    CArchive in(expected.data(), expected.size());
    uint8_t u8; int8_t i8; uint16_t u16; int16_t i16; uint32_t u32; int32_t i32;
    long l; unsigned long ul; float f; double d;
    in >> u8 >> i8 >> u16 >> i16 >> u32 >> i32 >> l >> ul >> f >> d;
    EXPECT_EQ(0xAB, u8);
    EXPECT_EQ(-2, i8);
    EXPECT_EQ(0x1234, u16);
    EXPECT_EQ(-2, i16);
    EXPECT_EQ(0x89ABCDEFu, u32);
    EXPECT_EQ(-2, i32);
    EXPECT_EQ(-100000L, l);
    EXPECT_EQ(0xDEADBEEFul, ul);
    EXPECT_EQ(1.5f, f);
    EXPECT_EQ(-2.0, d);
    EXPECT_TRUE(in.AtEnd());
}

TEST(Archive, StringLengthPrefixesEscalateAtTheLimits)
{
    struct Case {
        size_t length;
        Bytes prefix;
    } cases[] = {
        {0, {0x00}},
        {1, {0x01}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65534, {0xFF, 0xFE, 0xFF}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length, 'q');
        if (c.length)
            text.back() = 'z';  // the last byte must arrive too
        CArchive out;
        out << text << uint8_t(0x5A);
        ASSERT_EQ(c.prefix + Chars(text) + Bytes{0x5A}, out.Bytes());

        CArchive in(out.Bytes().data(), out.Bytes().size());
        std::string loaded = "old";
        uint8_t marker;
        in >> loaded >> marker;
        EXPECT_EQ(text, loaded);
        EXPECT_EQ(0x5A, marker);
        EXPECT_TRUE(in.AtEnd());
    }
}

// Deletes every distinct object that a load handed out.
struct Loaded {
    std::set<CObject *> objects;
    CObject *Keep(CObject *object)
    {
        if (object)
            objects.insert(object);
        return object;
    }
    ~Loaded()
    {
        for (CObject *object : objects)
            delete object;
    }
};

TEST(Archive, ClassTagsAndBackReferencesFollowFirstAppearance)
{
    CTestPoint p1, p2, p3;
    p1.x = 0x11;
    p2.x = 0x22;
    p3.x = 0x33;
    CTestPair pair1, pair2;
    pair1.a = &p1;
    pair1.b = &p3;
    pair2.a = &p3;
    pair2.b = &p3;

    CArchive out;
    out.WriteObject(&p1);
    out.WriteObject(&p2);
    out.WriteObject(&p1);
    out.WriteObject(&pair1);
    out.WriteObject(nullptr);
    out.WriteObject(&pair2);
    // Indices: 1 point class, 2 p1, 3 p2, 4 pair class, 5 pair1, 6 p3, 7 pair2.
    const Bytes expected = kPointClass + Bytes{0x11, 0, 0, 0} +   // p1
                           Bytes{0x01, 0x80, 0x22, 0, 0, 0} +      // p2: known class
                           Bytes{0x02, 0x00} +                     // p1 again
                           kPairClass + Bytes{0x02, 0x00} +        // pair1: p1,
                           Bytes{0x01, 0x80, 0x33, 0, 0, 0} +      //   new p3
                           Bytes{0x00, 0x00} +                     // null
                           Bytes{0x04, 0x80, 0x06, 0x00, 0x06, 0x00};  // pair2: p3, p3
    ASSERT_EQ(expected, out.Bytes());

    CArchive in(expected.data(), expected.size());
    Loaded loaded;
    auto *q1 = static_cast<CTestPoint *>(loaded.Keep(in.ReadObject(CTestPoint::StaticClass())));
    auto *q2 = static_cast<CTestPoint *>(loaded.Keep(in.ReadObject(CObject::StaticClass())));
    CObject *again = loaded.Keep(in.ReadObject(CTestPoint::StaticClass()));
    auto *r1 = static_cast<CTestPair *>(loaded.Keep(in.ReadObject(CTestPair::StaticClass())));
    ASSERT_NE(nullptr, r1);
    loaded.Keep(r1->b);
    EXPECT_EQ(nullptr, in.ReadObject(CObject::StaticClass()));
    auto *r2 = static_cast<CTestPair *>(loaded.Keep(in.ReadObject(CTestPair::StaticClass())));
    EXPECT_TRUE(in.AtEnd());

    ASSERT_NE(nullptr, q1);
    ASSERT_NE(nullptr, q2);
    EXPECT_EQ(0x11, q1->x);
    EXPECT_EQ(1u, q1->loadedSchema);
    EXPECT_EQ(CTestPoint::StaticClass(), q2->GetRuntimeClass());
    EXPECT_EQ(0x22, q2->x);
    EXPECT_EQ(q1, again);
    EXPECT_EQ(q1, r1->a);
    ASSERT_NE(nullptr, r1->b);
    EXPECT_EQ(0x33, r1->b->x);
    ASSERT_NE(nullptr, r2);
    EXPECT_EQ(r1->b, r2->a);
    EXPECT_EQ(r1->b, r2->b);
    EXPECT_EQ(5u, loaded.objects.size());
}

TEST(Archive, IndicesBeyond0x7FFEUseTheLongTags)
{
    // 1 point class, 2..33001 points, 33002 pair class, 33003 first pair.
    const size_t count = 33000;
    std::vector<CTestPoint> points(count);
    CTestPair first, second;
    CArchive out;
    for (size_t i = 0; i < count; ++i) {
        points[i].x = int32_t(i);
        out.WriteObject(&points[i]);
    }
    out.WriteObject(&first);
    out.WriteObject(&second);
    out.WriteObject(&points.back());
    const Bytes tail = kPairClass + Bytes{0, 0, 0, 0} +                    // first, two nulls
                       Bytes{0xFF, 0x7F, 0xEA, 0x80, 0x00, 0x80, 0, 0, 0, 0} +  // 0x80000000|33002
                       Bytes{0xFF, 0x7F, 0xE9, 0x80, 0x00, 0x00};             // object 33001
    ASSERT_GE(out.Bytes().size(), tail.size());
    EXPECT_EQ(tail, Bytes(out.Bytes().end() - tail.size(), out.Bytes().end()));

    CArchive in(out.Bytes().data(), out.Bytes().size());
    Loaded loaded;
    CObject *last = nullptr;
    for (size_t i = 0; i < count; ++i)
        last = loaded.Keep(in.ReadObject(CTestPoint::StaticClass()));
    loaded.Keep(in.ReadObject(CTestPair::StaticClass()));
    CObject *secondPair = loaded.Keep(in.ReadObject(CTestPair::StaticClass()));
    ASSERT_NE(nullptr, secondPair);
    EXPECT_EQ(CTestPair::StaticClass(), secondPair->GetRuntimeClass());
    EXPECT_EQ(last, in.ReadObject(CTestPoint::StaticClass()));
    EXPECT_EQ(int32_t(count - 1), static_cast<CTestPoint *>(last)->x);
    EXPECT_TRUE(in.AtEnd());
}

// Reads objects (or, when asked, one string) until the archive fails.
struct CorruptCase {
    const char *name;
    Bytes bytes;
    Cause cause;
    enum { Objects, NewPoints, Pairs, String } read = Objects;
};

TEST(Archive, DamagedInputIsReportedWithoutReadingPastTheEnd)
{
    const Bytes point1 = kPointClass + Bytes{1, 0, 0, 0};
    // The "not creatable" case needs a class that is registered.
    ASSERT_EQ(CTestStone::StaticClass(), CRuntimeClass::FromName("CTestStone"));
    const CorruptCase cases[] = {
        {"empty archive", {}, Cause::EndOfFile},
        {"tag cut short", {0xFF}, Cause::EndOfFile},
        {"class record cut short", {0xFF, 0xFF, 0x01, 0x00}, Cause::EndOfFile},
        {"object fields cut short", kPointClass + Bytes{1, 0}, Cause::EndOfFile},
        {"second object cut short", point1 + Bytes{0x01, 0x80, 7}, Cause::EndOfFile},
        {"long tag cut short", point1 + Bytes{0xFF, 0x7F, 0x02}, Cause::EndOfFile},
        {"class name past the end", Bytes{0xFF, 0xFF, 1, 0, 0x0A, 0} + Chars("CTest"), Cause::BadLength},
        {"empty class name", {0xFF, 0xFF, 1, 0, 0, 0, 'C'}, Cause::BadClass},
        {"class name too long", Bytes{0xFF, 0xFF, 1, 0, 0xFF, 0xFF} + Bytes(0xFFFF, 'C'), Cause::BadClass},
        {"unknown class", Bytes{0xFF, 0xFF, 1, 0, 5, 0} + Chars("CNope"), Cause::UnknownClass},
        {"class name with a NUL", Bytes{0xFF, 0xFF, 1, 0, 11, 0} + Chars("CTestPoint") + Bytes{0},
         Cause::UnknownClass},
        {"class not creatable", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 10, 0} + Chars("CTestStone"),
         Cause::BadClass},
        {"schema mismatch", Bytes{0xFF, 0xFF, 2, 0, 10, 0} + Chars("CTestPoint") + Bytes{1, 0, 0, 0},
         Cause::BadSchema},
        {"class tag 0x8000", {0x00, 0x80}, Cause::BadTag},
        {"class index beyond the table", point1 + Bytes{0x03, 0x80}, Cause::BadIndex},
        {"class index naming an object", point1 + Bytes{0x02, 0x80}, Cause::BadIndex},
        {"long class index beyond the table", point1 + Bytes{0xFF, 0x7F, 9, 0, 0, 0x80}, Cause::BadIndex},
        {"object index beyond the table", point1 + Bytes{0x07, 0x00}, Cause::BadIndex},
        {"object index naming a class", point1 + Bytes{0x01, 0x00}, Cause::BadIndex},
        {"object index on an empty table", {0x01, 0x00}, Cause::BadIndex},
        {"back-reference where a new object belongs", point1 + Bytes{0x02, 0x00}, Cause::BadTag,
         CorruptCase::NewPoints},
        {"null where a new object belongs", {0x00, 0x00}, Cause::BadTag, CorruptCase::NewPoints},
        {"object of the wrong kind", point1, Cause::BadClass, CorruptCase::Pairs},
        {"member of the wrong kind", kPairClass + kPairClass, Cause::BadClass, CorruptCase::Pairs},
        {"string past the end", {0x05, 'a', 'b'}, Cause::BadLength, CorruptCase::String},
        {"huge string length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}, Cause::BadLength,
         CorruptCase::String},
        {"string prefix cut short", {0xFF, 0x10}, Cause::EndOfFile, CorruptCase::String},
    };
    for (const CorruptCase &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned liveBefore = LiveObjectCount();
        {
            CArchive in(c.bytes.data(), c.bytes.size());
            Loaded loaded;
            Raised raised = RaisedBy([&] {
                for (int guard = 0; guard < 10; ++guard) {
                    switch (c.read) {
                    case CorruptCase::Objects:
                        loaded.Keep(in.ReadObject(CObject::StaticClass()));
                        break;
                    case CorruptCase::NewPoints:
                        loaded.Keep(in.ReadNew<CTestPoint>().release());
                        break;
                    case CorruptCase::Pairs:
                        loaded.Keep(in.ReadObject(CTestPair::StaticClass()));
                        break;
                    case CorruptCase::String: {
                        std::string text;
                        in >> text;
                        break;
                    }
                    }
                }
            });
            EXPECT_EQ(int(c.cause), raised.cause);
            EXPECT_LE(raised.offset, c.bytes.size());
            EXPECT_LE(in.Position(), c.bytes.size());
        }
        // An object whose fields failed to load is not left behind.
        EXPECT_EQ(liveBefore, LiveObjectCount());
    }
}

// A chain of depth nodes, the innermost ending in a null.
Bytes NodeChain(size_t depth)
{
    Bytes bytes = Bytes{0xFF, 0xFF, 1, 0, 9, 0} + Chars("CTestNode");
    for (size_t i = 1; i < depth; ++i) {
        bytes.push_back(0x01);
        bytes.push_back(0x80);
    }
    return bytes + Bytes{0x00, 0x00};
}

TEST(Archive, NestingIsLimitedBeforeTheStackIs)
{
    std::vector<uint8_t> fine = NodeChain(200);
    CArchive in(fine.data(), fine.size());
    std::unique_ptr<CTestNode> head = in.ReadNew<CTestNode>();
    size_t depth = 0;
    for (CTestNode *node = head.get(); node; node = node->next.get())
        ++depth;
    EXPECT_EQ(200u, depth);
    EXPECT_TRUE(in.AtEnd());
    head.reset();

    unsigned liveBefore = LiveObjectCount();
    std::vector<uint8_t> deep = NodeChain(5000);
    CArchive tooDeep(deep.data(), deep.size());
    EXPECT_EQ(int(Cause::TooDeep), RaisedBy([&] { tooDeep.ReadNew<CTestNode>(); }).cause);
    EXPECT_EQ(liveBefore, LiveObjectCount());
}

TEST(Archive, BackReferenceToADeletedObjectIsRefused)
{
    const Bytes bytes = kPointClass + Bytes{1, 0, 0, 0} + Bytes{0x02, 0x00};
    CArchive in(bytes.data(), bytes.size());
    delete in.ReadObject(CTestPoint::StaticClass());
    EXPECT_EQ(int(Cause::BadIndex), RaisedBy([&] { in.ReadObject(CTestPoint::StaticClass()); }).cause);
}

TEST(Archive, AnySchemaIsAcceptedWhenAskedAndReportedToTheObject)
{
    const Bytes bytes = Bytes{0xFF, 0xFF, 7, 0, 10, 0} + Chars("CTestPoint") + Bytes{9, 0, 0, 0} +
                        Bytes{0x01, 0x80, 8, 0, 0, 0};
    CArchive in(bytes.data(), bytes.size());
    in.AcceptAnySchema(true);
    std::unique_ptr<CTestPoint> first = in.ReadNew<CTestPoint>();
    std::unique_ptr<CTestPoint> second = in.ReadNew<CTestPoint>();
    EXPECT_EQ(9, first->x);
    EXPECT_EQ(7u, first->loadedSchema);
    EXPECT_EQ(8, second->x);
    EXPECT_EQ(7u, second->loadedSchema);
    EXPECT_EQ(unsigned(-1), in.GetObjectSchema());
}

TEST(Archive, MisuseIsRefused)
{
    CTestStone stone;
    CArchive out;
    uint32_t value;
    struct Case {
        const char *name;
        std::function<void()> call;
        Cause cause;
    } cases[] = {
        {"reading a storing archive", [&] { out >> value; }, Cause::WrongMode},
        {"storing an object that cannot be created", [&] { out.WriteObject(&stone); }, Cause::BadClass},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(int(c.cause), RaisedBy(c.call).cause);
    }
    EXPECT_TRUE(out.Bytes().empty());
    out.Close();
    EXPECT_EQ(int(Cause::WrongMode), RaisedBy([&] { out << uint8_t(1); }).cause);
    const uint8_t byte = 0;
    CArchive in(&byte, 1);
    EXPECT_EQ(int(Cause::WrongMode), RaisedBy([&] { in << uint8_t(1); }).cause);
}

class ArchiveFile : public ::testing::Test {
protected:
    std::string path = (std::filesystem::temp_directory_path() /
                        ("archive_test_" + std::to_string(getpid()) + ".bin")).string();
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(ArchiveFile, StoresAndLoadsTheSameBytesAsMemory)
{
    CTestPoint p;
    p.x = -7;
    CArchive memory;
    memory << std::string(300, 'n') << 2.5;
    memory.WriteObject(&p);
    {
        CArchive file(path, CArchive::Mode::Store);
        file << std::string(300, 'n') << 2.5;
        file.WriteObject(&p);
        file.Close();
    }

    CArchive in(path, CArchive::Mode::Load);
    EXPECT_EQ(memory.Bytes().size(), in.BytesLeft());
    Bytes raw(size_t(in.BytesLeft()));
    in.Read(raw.data(), raw.size());
    EXPECT_EQ(memory.Bytes(), raw);

    CArchive again(path, CArchive::Mode::Load);
    std::string text;
    double d;
    again >> text >> d;
    std::unique_ptr<CTestPoint> loaded = again.ReadNew<CTestPoint>();
    EXPECT_EQ(-7, loaded->x);
    EXPECT_TRUE(again.AtEnd());
}

TEST_F(ArchiveFile, TruncatedFileEndsWithEndOfFile)
{
    const Bytes bytes = kPointClass + Bytes{1, 0};
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    CArchive in(path, CArchive::Mode::Load);
    Raised raised = RaisedBy([&] { delete in.ReadObject(CObject::StaticClass()); });
    EXPECT_EQ(int(Cause::EndOfFile), raised.cause);
    EXPECT_EQ(bytes.size() - 2, raised.offset);
}

TEST_F(ArchiveFile, MissingFileIsAFileError)
{
    EXPECT_EQ(int(Cause::FileError),
              RaisedBy([&] { CArchive in(path + ".missing", CArchive::Mode::Load); }).cause);
}

} // namespace
