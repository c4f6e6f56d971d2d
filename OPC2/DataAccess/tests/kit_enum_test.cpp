// The five enumerators over three elements each, through one set of typed
// tests: Next in both argument orders, Skip (a huge count too), Reset,
// Clone, and the owner kept alive while an enumerator lives.
#include "KitFixture.h"

#include "ConnectionPoint.h"
#include "Enumerators.h"

namespace {

// An object that only says who it is (through its count of references).
class Token : public IUnknown {
public:
    explicit Token(int id = 0) : id(id) {}
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = riid == IID_IUnknown ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    int id;
    LONG refs = 1;
};

// Each kind: how to make three elements 1, 2, 3, fetch them as ids, and
// what a missing fetched count with celt 2 answers.
struct PointsKind {
    using Enum = IEnumConnectionPoints;
    static constexpr HRESULT kNoFetchedCount = E_INVALIDARG;
    static constexpr bool kChecksArgumentsFirst = true;
    CountedOwner pointOwner;
    CImpIConnectionPoint *points[3] = {};
    IID iids[3];
    PointsKind()
    {
        for (int i = 0; i < 3; ++i) {
            iids[i] = IID_IOPCShutdown;
            iids[i].Data1 = i + 1;
            points[i] = new CImpIConnectionPoint(&pointOwner, iids[i], nullptr);
            points[i]->AddRef();
        }
    }
    ~PointsKind()
    {
        for (CImpIConnectionPoint *p : points)
            p->Release();
    }
    Enum *Make(IUnknown *owner, ULONG count)
    {
        IConnectionPoint *list[3] = {points[0], points[1], points[2]};
        return new CImpIEnumConnectionPoints(owner, count, list);
    }
    HRESULT Next(Enum *e, ULONG celt, std::vector<int> &ids, ULONG *fetched)
    {
        IConnectionPoint *got[4] = {};
        HRESULT hr = e->Next(celt, got, fetched);
        for (IConnectionPoint *p : got)
            if (p) {
                IID iid;
                p->GetConnectionInterface(&iid);
                ids.push_back(int(iid.Data1));
                p->Release();
            }
        return hr;
    }
};

struct ConnectionsKind {
    using Enum = IEnumConnections;
    static constexpr HRESULT kNoFetchedCount = E_INVALIDARG;
    static constexpr bool kChecksArgumentsFirst = true;
    Token sink;
    Enum *Make(IUnknown *owner, ULONG count)
    {
        CONNECTDATA list[3] = {{&sink, 1}, {&sink, 2}, {&sink, 3}};
        return new CImpIEnumConnections(owner, count, list);
    }
    HRESULT Next(Enum *e, ULONG celt, std::vector<int> &ids, ULONG *fetched)
    {
        CONNECTDATA got[4] = {};
        HRESULT hr = e->Next(celt, got, fetched);
        for (CONNECTDATA &c : got)
            if (c.pUnk) {
                ids.push_back(int(c.dwCookie));
                c.pUnk->Release();
            }
        return hr;
    }
};

struct AttributesKind {
    using Enum = IEnumOPCItemAttributes;
    static constexpr HRESULT kNoFetchedCount = E_INVALIDARG;
    static constexpr bool kChecksArgumentsFirst = true;
    Enum *Make(IUnknown *owner, ULONG count)
    {
        OPCITEMATTRIBUTES list[3] = {};
        BYTE blob[3] = {9, 8, 7};
        for (int i = 0; i < 3; ++i) {
            list[i].hClient = i + 1;
            list[i].szItemID = const_cast<LPWSTR>(L"Channel1.Device1.DB10,W0");
            list[i].szAccessPath = const_cast<LPWSTR>(L"");
            list[i].dwBlobSize = 3;
            list[i].pBlob = blob;
            V_VT(&list[i].vEUInfo) = VT_EMPTY;
        }
        return new CImpIEnumOPCItemAttributes(owner, count, list, g_pIMalloc);
    }
    HRESULT Next(Enum *e, ULONG celt, std::vector<int> &ids, ULONG *fetched)
    {
        OPCITEMATTRIBUTES *got = nullptr;
        HRESULT hr = e->Next(celt, &got, fetched);
        ULONG n = fetched ? *fetched : (got ? 1 : 0);
        for (ULONG i = 0; i < n; ++i) {
            ids.push_back(int(got[i].hClient));
            EXPECT_EQ(std::wstring(L"Channel1.Device1.DB10,W0"), got[i].szItemID);
            EXPECT_EQ(3u, got[i].dwBlobSize);
            EXPECT_EQ(7, got[i].pBlob[2]);
            FreeItemAttributes(&got[i], g_pIMalloc);
        }
        CoTaskMemFree(got);
        return hr;
    }
};

struct StringsKind {
    using Enum = IEnumString;
    static constexpr HRESULT kNoFetchedCount = E_POINTER;
    static constexpr bool kChecksArgumentsFirst = false;
    Enum *Make(IUnknown *owner, ULONG count)
    {
        std::wstring list[3] = {L"1", L"2", L"3"};
        return new CImpIEnumString(owner, count, list, g_pIMalloc);
    }
    HRESULT Next(Enum *e, ULONG celt, std::vector<int> &ids, ULONG *fetched)
    {
        LPOLESTR got[4] = {};
        HRESULT hr = e->Next(celt, got, fetched);
        for (LPOLESTR s : got)
            if (s) {
                ids.push_back(_wtoi(s));
                CoTaskMemFree(s);
            }
        return hr;
    }
};

struct UnknownsKind {
    using Enum = IEnumUnknown;
    static constexpr HRESULT kNoFetchedCount = E_POINTER;
    static constexpr bool kChecksArgumentsFirst = false;
    Token tokens[3] = {Token(1), Token(2), Token(3)};
    Enum *Make(IUnknown *owner, ULONG count)
    {
        IUnknown *list[3] = {&tokens[0], &tokens[1], &tokens[2]};
        return new CImpIEnumUnknown(owner, count, list);
    }
    HRESULT Next(Enum *e, ULONG celt, std::vector<int> &ids, ULONG *fetched)
    {
        IUnknown *got[4] = {};
        HRESULT hr = e->Next(celt, got, fetched);
        for (IUnknown *u : got)
            if (u) {
                ids.push_back(static_cast<Token *>(u)->id);
                u->Release();
            }
        return hr;
    }
};

template <class Kind> class EnumTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        kind = new Kind;
        e = kind->Make(&owner, 3);
        e->AddRef();
    }
    void TearDown() override
    {
        if (e) {
            EXPECT_EQ(0u, e->Release());
        }
        EXPECT_EQ(1, owner.refs) << "every owner reference given back";
        delete kind;
        KitTest::TearDown();
    }
    std::vector<int> Take(ULONG celt, HRESULT expected)
    {
        std::vector<int> ids;
        ULONG fetched = 99;
        EXPECT_EQ(expected, kind->Next(e, celt, ids, &fetched));
        EXPECT_EQ(ids.size(), fetched);
        return ids;
    }
    CountedOwner owner;
    Kind *kind = nullptr;
    typename Kind::Enum *e = nullptr;
};

using Kinds = ::testing::Types<PointsKind, ConnectionsKind, AttributesKind, StringsKind, UnknownsKind>;
TYPED_TEST_SUITE(EnumTest, Kinds);

TYPED_TEST(EnumTest, NextDeliversInOrderAndSaysWhenItRanShort)
{
    EXPECT_EQ(std::vector<int>({1, 2}), this->Take(2, S_OK));
    EXPECT_EQ(std::vector<int>({3}), this->Take(2, S_FALSE));
    EXPECT_EQ(std::vector<int>(), this->Take(1, S_FALSE));
    EXPECT_EQ(S_OK, this->e->Reset());
    EXPECT_EQ(std::vector<int>({1, 2, 3}), this->Take(3, S_OK));
}

TYPED_TEST(EnumTest, OneElementNeedsNoFetchedCountButMoreDo)
{
    std::vector<int> ids;
    EXPECT_EQ(S_OK, this->kind->Next(this->e, 1, ids, nullptr));
    EXPECT_EQ(std::vector<int>({1}), ids);
    ids.clear();
    EXPECT_EQ(TypeParam::kNoFetchedCount, this->kind->Next(this->e, 2, ids, nullptr));
    EXPECT_TRUE(ids.empty());
}

TYPED_TEST(EnumTest, SkipStaysWithinTheCountEvenForAHugeCount)
{
    EXPECT_EQ(S_FALSE, this->e->Skip(4));
    EXPECT_EQ(std::vector<int>({1}), this->Take(1, S_OK)) << "a refused Skip keeps the position";
    // From position 1, 0xFFFFFFFF would wrap to 0 if added before the test.
    EXPECT_EQ(S_FALSE, this->e->Skip(0xFFFFFFFFu));
    EXPECT_EQ(S_FALSE, this->e->Skip(0xFFFFFFFEu));
    EXPECT_EQ(std::vector<int>({2}), this->Take(1, S_OK));
    EXPECT_EQ(S_OK, this->e->Reset());
    EXPECT_EQ(S_OK, this->e->Skip(3));
    EXPECT_EQ(std::vector<int>(), this->Take(1, S_FALSE));
}

TYPED_TEST(EnumTest, CloneKeepsPositionAndOwner)
{
    this->Take(1, S_OK);
    typename TypeParam::Enum *copy = nullptr;
    EXPECT_EQ(E_POINTER, this->e->Clone(nullptr));
    ASSERT_EQ(S_OK, this->e->Clone(&copy));
    EXPECT_EQ(3, this->owner.refs) << "each enumerator reference holds the owner";
    std::vector<int> ids;
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, this->kind->Next(copy, 4, ids, &fetched));
    EXPECT_EQ(std::vector<int>({2, 3}), ids);
    EXPECT_EQ(0u, copy->Release());
    EXPECT_EQ(std::vector<int>({2}), this->Take(1, S_OK)) << "the clone moved on its own";
}

TYPED_TEST(EnumTest, AnEmptyListAnswersSFalse)
{
    typename TypeParam::Enum *empty = this->kind->Make(nullptr, 0);
    empty->AddRef();
    std::vector<int> ids;
    ULONG fetched = 5;
    EXPECT_EQ(S_FALSE, this->kind->Next(empty, 1, ids, &fetched));
    EXPECT_EQ(0u, fetched);
    // The string and unknown enumerators answer before looking at arguments.
    if (!TypeParam::kChecksArgumentsFirst) {
        EXPECT_EQ(S_FALSE, this->kind->Next(empty, 2, ids, nullptr));
    }
    EXPECT_EQ(S_FALSE, empty->Skip(1));
    EXPECT_EQ(0u, empty->Release());
}

TEST_F(KitTest, EnumeratorQueryInterfaceAnswersItsOwnInterfaceOnly)
{
    std::wstring texts[1] = {L"x"};
    CImpIEnumString *e = new CImpIEnumString(nullptr, 1, texts, g_pIMalloc);
    e->AddRef();
    void *p = nullptr;
    EXPECT_EQ(E_INVALIDARG, e->QueryInterface(IID_IEnumString, nullptr));
    EXPECT_EQ(E_NOINTERFACE, e->QueryInterface(IID_IEnumUnknown, &p));
    EXPECT_EQ(nullptr, p);
    ASSERT_EQ(S_OK, e->QueryInterface(IID_IEnumString, &p));
    static_cast<IUnknown *>(p)->Release();
    EXPECT_EQ(0u, e->Release());
}

TEST_F(KitTest, AttributesNextWithAHugeCountAllocatesOnlyWhatItDelivers)
{
    OPCITEMATTRIBUTES item = {};
    item.szItemID = const_cast<LPWSTR>(L"A");
    CImpIEnumOPCItemAttributes *e = new CImpIEnumOPCItemAttributes(nullptr, 1, &item, g_pIMalloc);
    e->AddRef();
    OPCITEMATTRIBUTES *got = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(0x10000000u, &got, &fetched));
    ASSERT_EQ(1u, fetched);
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(std::wstring(L"A"), got[0].szItemID);
    EXPECT_EQ(std::wstring(L""), got[0].szAccessPath) << "a missing text is handed out empty";
    FreeItemAttributes(&got[0], g_pIMalloc);
    CoTaskMemFree(got);
    EXPECT_EQ(0u, e->Release());
}

}  // namespace
