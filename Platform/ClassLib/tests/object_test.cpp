#include "Object.h"
#include <gtest/gtest.h>
#include <memory>

namespace {

class CAnimal : public CObject {
    QOR_DECLARE_SERIAL(CAnimal)
public:
    int legs = 4;
};

class CBird : public CAnimal {
    QOR_DECLARE_SERIAL(CBird)
public:
    CBird() { legs = 2; }
};

class CStone : public CObject {
    QOR_DECLARE_DYNAMIC(CStone)
};

} // namespace

QOR_IMPLEMENT_SERIAL(CAnimal, CObject, 1)
QOR_IMPLEMENT_SERIAL(CBird, CAnimal, 3)
QOR_IMPLEMENT_DYNAMIC(CStone, CObject)

namespace {

TEST(RuntimeClass, RecordsCarryNameSchemaAndBase)
{
    EXPECT_STREQ("CBird", CBird::StaticClass()->className);
    EXPECT_EQ(3u, CBird::StaticClass()->schema);
    EXPECT_EQ(CAnimal::StaticClass(), CBird::StaticClass()->baseClass);
    EXPECT_EQ(CObject::StaticClass(), CAnimal::StaticClass()->baseClass);
    EXPECT_TRUE(CBird::StaticClass()->IsDerivedFrom(CObject::StaticClass()));
    EXPECT_FALSE(CAnimal::StaticClass()->IsDerivedFrom(CBird::StaticClass()));
}

TEST(RuntimeClass, CreatesByNameOnlyCreatableClasses)
{
    std::unique_ptr<CObject> bird(CRuntimeClass::CreateObject("CBird"));
    ASSERT_NE(nullptr, bird);
    EXPECT_EQ(CBird::StaticClass(), bird->GetRuntimeClass());
    EXPECT_EQ(2, static_cast<CBird *>(bird.get())->legs);
    EXPECT_EQ(CStone::StaticClass(), CRuntimeClass::FromName("CStone"));
    EXPECT_EQ(nullptr, CRuntimeClass::CreateObject("CStone"));
    EXPECT_EQ(nullptr, CRuntimeClass::CreateObject("cbird"));
    EXPECT_EQ(nullptr, CRuntimeClass::CreateObject("CUnicorn"));
    EXPECT_EQ(nullptr, CRuntimeClass::CreateObject(nullptr));
}

TEST(RuntimeClass, IsKindOfFollowsTheBaseChain)
{
    CBird bird;
    CStone stone;
    EXPECT_TRUE(bird.IsKindOf(CBird::StaticClass()));
    EXPECT_TRUE(bird.IsKindOf(CAnimal::StaticClass()));
    EXPECT_TRUE(bird.IsKindOf(CObject::StaticClass()));
    EXPECT_FALSE(stone.IsKindOf(CAnimal::StaticClass()));
}

TEST(LiveObjects, HandleResolvesOnlyWhileAliveAndOfTheKind)
{
    unsigned before = LiveObjectCount();
    auto *bird = new CBird;
    uint32_t handle = bird->Handle();
    ASSERT_NE(0u, handle);
    EXPECT_EQ(before + 1, LiveObjectCount());
    EXPECT_EQ(bird, LiveObjectAs<CBird>(handle));
    EXPECT_EQ(bird, LiveObjectAs<CAnimal>(handle));
    EXPECT_EQ(nullptr, LiveObjectAs<CStone>(handle));
    EXPECT_EQ(bird, LiveObjectFromHandle(handle, nullptr));
    EXPECT_TRUE(IsLiveObject(bird));

    delete bird;
    EXPECT_EQ(nullptr, LiveObjectAs<CBird>(handle));
    EXPECT_EQ(before, LiveObjectCount());
    // Never-issued values resolve to nothing (no memory is probed).
    EXPECT_EQ(nullptr, LiveObjectFromHandle(0, nullptr));
    EXPECT_EQ(nullptr, LiveObjectFromHandle(0xDEADBEEF, nullptr));
}

TEST(LiveObjects, EveryObjectHasItsOwnHandleAndCopiesGetNewOnes)
{
    CAnimal a, b;
    CAnimal c(a);
    EXPECT_NE(a.Handle(), b.Handle());
    EXPECT_NE(a.Handle(), c.Handle());
    uint32_t before = b.Handle();
    b = a;
    EXPECT_EQ(before, b.Handle());
    EXPECT_EQ(&c, LiveObjectAs<CAnimal>(c.Handle()));
}

TEST(LiveObjects, HandlesAreNotReusedOnWideBuilds)
{
    if (sizeof(void *) == 4)
        GTEST_SKIP() << "32-bit builds use the address";
    uint32_t first;
    {
        CStone stone;
        first = stone.Handle();
    }
    CStone next;
    EXPECT_NE(first, next.Handle());
    EXPECT_EQ(nullptr, LiveObjectFromHandle(first, nullptr));
}

} // namespace
