// The event server's members against the automation object of a real
// configuration tree in this process: the event space, the sources'
// conditions, and the switching of "SendEvents" by source and by area.
#include "EventServerMethods.h"
#include "EventSpace.h"
#include "task_strings.h"
#include "../../../Server/Automation/tests/app_fixture.h"

using namespace apptest;
using namespace aleron;

namespace {

struct FakeState : IEventServerState {
    IDriver *driver = nullptr;
    std::wstring vendor = FormatVendorText("QOR", 7, 20, 1);
    IDriver *Driver() override
    {
        if (driver)
            driver->AddRef();
        return driver;
    }
    OPCEVENTSERVERSTATE ServerState() override { return OPCAE_STATUS_RUNNING; }
    FILETIME StartTime() override { return FILETIME{5, 6}; }
    const std::wstring &VendorText() override { return vendor; }
    HRESULT CreateSubscription(BOOL, DWORD, DWORD, OPCHANDLE, REFIID, IUnknown **, DWORD *, DWORD *) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateBrowser(REFIID, IUnknown **) override { return E_NOTIMPL; }
};

using Names = std::vector<std::wstring>;

class EventServerMembers : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        state.driver = driver;
        channel = AddChannel("Ch1");
        device = AddDevice(channel, "Dev1");
        block = AddBlock(device, "Blk1");
        block2 = AddBlock(device, "Blk2");
    }
    std::string SendEvents(LONG handle) { return GetText(handle, "SendEvents"); }

    FakeState state;
    CEventServerMethods methods{&state};
    LONG channel = 0, device = 0, block = 0, block2 = 0;
};

TEST_F(EventServerMembers, StatusAndTheEventSpace)
{
    OPCEVENTSERVERSTATUS *status = nullptr;
    ASSERT_EQ(S_OK, methods.GetStatus(&status));
    EXPECT_EQ(L"QOROPCAE - Veltrane Inc. OPC Alarms & Events Server v7.20.1", std::wstring(status->szVendorInfo));
    EXPECT_EQ(7, status->wMajorVersion);
    EXPECT_EQ(20, status->wMinorVersion);
    EXPECT_EQ(1, status->wBuildNumber);
    EXPECT_EQ(OPCAE_STATUS_RUNNING, status->dwServerState);
    EXPECT_EQ(6u, status->ftStartTime.dwHighDateTime);
    EXPECT_EQ(0u, status->ftLastUpdateTime.dwLowDateTime | status->ftLastUpdateTime.dwHighDateTime);
    EXPECT_NE(0u, status->ftCurrentTime.dwHighDateTime);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    EXPECT_EQ(E_INVALIDARG, methods.GetStatus(nullptr));

    DWORD mask = 0;
    EXPECT_EQ(S_OK, methods.QueryAvailableFilters(&mask));
    EXPECT_EQ(26u, mask);
    EXPECT_EQ(E_FAIL, methods.QueryAvailableFilters(nullptr));

    struct CategoryCase {
        DWORD eventType;
        HRESULT result;
    } categoryCases[] = {{1, S_OK}, {7, S_OK}, {2, E_FAIL}, {4, E_FAIL}, {0, E_INVALIDARG}};
    for (const CategoryCase &c : categoryCases) {
        DWORD count = 99, *ids = nullptr;
        LPWSTR *texts = nullptr;
        ASSERT_EQ(c.result, methods.QueryEventCategories(c.eventType, &count, &ids, &texts)) << c.eventType;
        if (c.result != S_OK) {
            EXPECT_EQ(0u, count);
            EXPECT_EQ(nullptr, ids);
            continue;
        }
        ASSERT_EQ(3u, count);
        EXPECT_EQ((std::vector<DWORD>{1, 2, 4}), std::vector<DWORD>(ids, ids + 3));
        EXPECT_EQ((Names{L"DataBlock Status", L"Object State", L"Driver State"}), TakeStrings(texts, count));
        CoTaskMemFree(ids);
    }

    struct NameCase {
        DWORD category;
        const wchar_t *condition;
        HRESULT result;
        Names names;
    } nameCases[] = {
        {1, L"COMM Status", S_OK, {L"COMM Failure", L"COMM Recovered"}},
        {2, L"Enabled State", S_OK, {L"Enabled", L"Disabled"}},
        {4, L"Running State", S_OK, {L"Running", L"Stopped"}},
        {3, L"comm status", E_FAIL, {}},
    };
    for (const NameCase &c : nameCases) {
        DWORD count = 0;
        LPWSTR *names = nullptr;
        ASSERT_EQ(c.result, methods.QueryConditionNames(c.category, &count, &names)) << c.category;
        if (c.result == S_OK) {
            EXPECT_EQ(Names{c.condition}, TakeStrings(names, count));
        }
        ASSERT_EQ(c.result, methods.QuerySubConditionNames(const_cast<LPWSTR>(c.condition), &count, &names));
        if (c.result == S_OK) {
            EXPECT_EQ(c.names, TakeStrings(names, count));
        }
    }

    DWORD count = 5, *ids = nullptr;
    LPWSTR *texts = nullptr;
    VARTYPE *types = nullptr;
    EXPECT_EQ(S_OK, methods.QueryEventAttributes(1, &count, &ids, &texts, &types));
    EXPECT_EQ(0u, count);
    LPWSTR *items = nullptr, *nodes = nullptr;
    CLSID *clsids = nullptr;
    EXPECT_EQ(E_NOTIMPL, methods.TranslateToItemIDs(nullptr, 1, nullptr, nullptr, 0, nullptr, &items, &nodes, &clsids));
    EXPECT_EQ(E_INVALIDARG, methods.TranslateToItemIDs(nullptr, 1, nullptr, nullptr, 0, nullptr, &items, nullptr, &clsids));
    OPCCONDITIONSTATE *conditionState = nullptr;
    EXPECT_EQ(E_NOTIMPL, methods.GetConditionState(nullptr, nullptr, 0, nullptr, &conditionState));
    EXPECT_EQ(E_INVALIDARG, methods.GetConditionState(nullptr, nullptr, 0, nullptr, nullptr));
}

TEST_F(EventServerMembers, SourcesListTheirConditions)
{
    struct Case {
        const wchar_t *source;
        HRESULT result;
        Names conditions;
    } cases[] = {
        {L"Hadrel", E_FAIL, {}},
        {L"hadrel", E_FAIL, {}},
        {L"Blk1", S_OK, {L"COMM Status", L"Enabled State"}},
        {L"DataBlocks:blk2", S_OK, {L"COMM Status", L"Enabled State"}},
        {L"Ch1", S_OK, {L"Enabled State"}},
        {L"Dev1", S_OK, {L"Enabled State"}},
        {L"Devices:Dev1", S_OK, {L"Enabled State"}},
        {L"Nothing", E_FAIL, {}},
    };
    for (const Case &c : cases) {
        DWORD count = 7;
        LPWSTR *names = nullptr;
        ASSERT_EQ(c.result, methods.QuerySourceConditions(const_cast<LPWSTR>(c.source), &count, &names))
            << ConfigValue::Narrow(c.source);
        if (c.result == S_OK) {
            EXPECT_EQ(c.conditions, TakeStrings(names, count));
        } else {
            EXPECT_EQ(nullptr, names);
        }
    }
}

TEST_F(EventServerMembers, SwitchingSendEventsBySourceAndArea)
{
    auto call = [&](HRESULT (CEventServerMethods::*member)(DWORD, LPWSTR *), std::vector<const wchar_t *> names) {
        return (methods.*member)(DWORD(names.size()), const_cast<LPWSTR *>(names.data()));
    };
    using M = CEventServerMethods;
    ASSERT_EQ("0", SendEvents(block));
    EXPECT_EQ(S_OK, call(&M::EnableConditionBySource, {L"Blk1"}));
    EXPECT_EQ("1", SendEvents(block));
    EXPECT_EQ("0", SendEvents(block2));
    EXPECT_EQ(S_OK, call(&M::DisableConditionBySource, {L"DataBlocks:Blk1"}));
    EXPECT_EQ("0", SendEvents(block));
    EXPECT_EQ(S_OK, call(&M::EnableConditionBySource, {L"hadrel", L"Devices:DEV1"}));
    EXPECT_EQ("1", SendEvents(0));
    EXPECT_EQ("1", SendEvents(device));

    EXPECT_EQ(S_OK, call(&M::EnableConditionByArea, {L"datablocks", L"Channels"}));
    EXPECT_EQ("1", SendEvents(block));
    EXPECT_EQ("1", SendEvents(block2));
    EXPECT_EQ("1", SendEvents(channel));
    EXPECT_EQ(S_OK, call(&M::DisableConditionByArea, {L"Driver", L"Devices", L"DataBlocks"}));
    EXPECT_EQ("0", SendEvents(0));
    EXPECT_EQ("0", SendEvents(device));
    EXPECT_EQ("0", SendEvents(block2));
    EXPECT_EQ("1", SendEvents(channel));

    // The list rules, and names that are no area or no source.
    EXPECT_EQ(S_OK, call(&M::EnableConditionByArea, {L"Nowhere"}));
    EXPECT_EQ(E_FAIL, call(&M::EnableConditionBySource, {L"Nothing"}));
    LPWSTR none[1] = {nullptr};
    EXPECT_EQ(E_FAIL, methods.EnableConditionBySource(0, none));
    EXPECT_EQ(E_INVALIDARG, call(&M::DisableConditionBySource, {L""}));
    EXPECT_EQ(E_INVALIDARG, methods.EnableConditionByArea(1, nullptr));
    // The first failing name ends the call: what came before stays done.
    EXPECT_EQ(E_FAIL, call(&M::EnableConditionBySource, {L"Blk2", L"Nothing", L"Dev1"}));
    EXPECT_EQ("1", SendEvents(block2));
    EXPECT_EQ("0", SendEvents(device));

    // Without the I/O server every switch fails.
    state.driver = nullptr;
    EXPECT_EQ(E_FAIL, call(&M::EnableConditionBySource, {L"Blk1"}));
    EXPECT_EQ(E_FAIL, call(&M::EnableConditionByArea, {L"Driver"}));
    DWORD count = 0;
    LPWSTR *names = nullptr;
    EXPECT_EQ(E_FAIL, methods.QuerySourceConditions(const_cast<LPWSTR>(L"Blk1"), &count, &names));
}

TEST_F(EventServerMembers, AcknowledgingAnswersOneSuccessPerCondition)
{
    LPWSTR sources[3] = {const_cast<LPWSTR>(L"Blk1"), const_cast<LPWSTR>(L"Blk2"), const_cast<LPWSTR>(L"Dev1")};
    LPWSTR conditions[3] = {const_cast<LPWSTR>(L"COMM Status"), const_cast<LPWSTR>(L"COMM Status"),
                            const_cast<LPWSTR>(L"Enabled State")};
    FILETIME times[3] = {};
    DWORD cookies[3] = {};
    HRESULT *errors = nullptr;
    ASSERT_EQ(S_OK, methods.AckCondition(3, nullptr, nullptr, sources, conditions, times, cookies, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK}), std::vector<HRESULT>(errors, errors + 3));
    CoTaskMemFree(errors);
    EXPECT_EQ(E_INVALIDARG, methods.AckCondition(3, nullptr, nullptr, sources, conditions, times, cookies, nullptr));
    EXPECT_EQ(E_INVALIDARG, methods.AckCondition(3, nullptr, nullptr, sources, nullptr, times, cookies, &errors));
    EXPECT_EQ(nullptr, errors);
}

} // namespace
