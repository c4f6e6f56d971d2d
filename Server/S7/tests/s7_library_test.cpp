// The wrappers, the VFD and connection objects and the enumerations against
// the stand-in library and its simulated controllers.
#include "QorVfd.h"
#include "S7Library.h"
#include "S7Sim.h"
#include "XAction.h"
#include "s732.h"
#include "s7_fixture.h"
#include <cstring>
#include <string>

using namespace s7test;

namespace {

class S7Library : public ::testing::Test {
protected:
    void SetUp() override { UseTestCatalogue(); }
};

TEST_F(S7Library, FailingCallFillsTheErrorRecordAndNamesTheWrapper)
{
    DebugLines lines;
    CQORVFD vfd;
    S7ErrorRecord error;
    ASSERT_EQ(vfd.Open(kCp, kVfd, &error), S_OK);
    DWORD ref = 0;
    EXPECT_EQ(QORGetRefForConn(vfd.GetDescriptor(), "NOSUCH", &ref, &error), QOR_E_S7_LIBRARY);
    EXPECT_EQ(error.returnCode, static_cast<DWORD>(S7LIB_ERR));
    EXPECT_EQ(error.errorClass, S7_CLASS_UNKNOWN_OBJECT);
    EXPECT_EQ(error.errorNumber, 2);
    EXPECT_STREQ(error.errorText, "unknown connection");
    EXPECT_STREQ(error.detailText, "NOSUCH");
    EXPECT_TRUE(lines.Contains("Error QORGetRefForConn"));

    // The next successful call starts from a clear record.
    EXPECT_EQ(QORGetRefForConn(vfd.GetDescriptor(), "PLC1", &ref, &error), S_OK);
    EXPECT_EQ(error.returnCode, 0u);
    EXPECT_STREQ(error.errorText, "");
}

TEST_F(S7Library, OversizedTextsDataAndNullArgumentsAreRefused)
{
    S7ErrorRecord error;
    std::string text32(32, 'A'), text33(33, 'A');
    BYTE data[257] = {};
    struct Row { const char *what; HRESULT hr; bool invalid; };
    const Row rows[] = {
        {"33-character read text", QORReadRequest(1, 1, 1, text33.c_str(), &error), true},
        {"32-character read text", QORReadRequest(1, 1, 1, text32.c_str(), &error), false},
        {"null read text", QORReadRequest(1, 1, 1, nullptr, &error), true},
        {"257-byte write", QORWriteRequest(1, 1, 1, "DB1,B0,1", data, 257, &error), true},
        {"256-byte write", QORWriteRequest(1, 1, 1, "DB1,B0,1", data, 256, &error), false},
        {"33-character write text", QORWriteRequest(1, 1, 1, text33.c_str(), data, 1, &error), true},
        {"null write data", QORWriteRequest(1, 1, 1, "DB1,B0,1", nullptr, 1, &error), true},
        {"null descriptor out", QOROpenCpVfd(kCp, kVfd, nullptr, &error), true},
        {"null reference out", QORGetRefForConn(1, "PLC1", nullptr, &error), true},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.hr == E_INVALIDARG, row.invalid) << row.what << " gave 0x" << std::hex << row.hr;
}

TEST(S7ErrorClass, NonFatalClassesKeepTheConnection)
{
    struct Row { DWORD code; WORD number; WORD cls; bool nonFatal; };
    const Row rows[] = {
        {0, 5, 99, true},        // no return code
        {1, 0, 0, true},         // both numbers 0
        {1, 1, 7, true}, {1, 1, 8, true}, {1, 1, 9, false},
        {1, 1, 30, true}, {1, 1, 31, true}, {1, 1, 32, false},
        {1, 1, 50, true}, {1, 1, 51, true}, {1, 1, 52, false}, {1, 1, 53, true},
        {1, 1, 79, false}, {1, 1, 80, true}, {1, 1, 88, true}, {1, 1, 89, false},
        {1, 1, 149, false}, {1, 1, 150, true}, {1, 1, 151, true}, {1, 1, 152, false},
        {1, 7, 0, false},        // a number without class is fatal
    };
    for (const Row &row : rows) {
        S7ErrorRecord r{};
        r.returnCode = row.code;
        r.errorNumber = row.number;
        r.errorClass = row.cls;
        EXPECT_EQ(IsNonFatalS7Error(r), row.nonFatal) << "class " << row.cls << " number " << row.number;
    }
}

TEST_F(S7Library, AbortTimeoutGoesToTheLibraryInUnitsOf51Ms)
{
    EXPECT_EQ(FormatS7AbortTimeout(1000), "20");
    EXPECT_EQ(FormatS7AbortTimeout(500), "20") << "below the minimum";
    EXPECT_EQ(FormatS7AbortTimeout(1019), "20");
    EXPECT_EQ(FormatS7AbortTimeout(1020), "21");
    EXPECT_EQ(FormatS7AbortTimeout(30000), "589");
    EXPECT_EQ(FormatS7AbortTimeout(0xFFFFFFFFu), "84215046");
    S7ErrorRecord error;
    EXPECT_EQ(SetS7AbortTimeout(1000, &error), S_OK);
}

TEST_F(S7Library, VfdOpensOnceAndClosesOnce)
{
    CQORVFD vfd;
    S7ErrorRecord error;
    EXPECT_EQ(vfd.GetDescriptor(), static_cast<DWORD>(-1));
    ASSERT_EQ(vfd.Open(kCp, kVfd, &error), S_OK);
    DWORD first = vfd.GetDescriptor();
    EXPECT_EQ(vfd.Open(kCp, kVfd, &error), QOR_E_VFD_OPEN);
    EXPECT_EQ(vfd.GetDescriptor(), first);
    EXPECT_EQ(vfd.Close(&error), S_OK);
    EXPECT_EQ(vfd.GetDescriptor(), static_cast<DWORD>(-1));
    EXPECT_EQ(vfd.Close(&error), QOR_E_VFD_NOT_OPEN);
    DWORD ref;
    int code;
    WORD id;
    EXPECT_EQ(vfd.Receive(&ref, &id, &code, &error), QOR_E_VFD_NOT_OPEN);
    EXPECT_EQ(vfd.Open("NOCP", kVfd, &error), QOR_E_S7_LIBRARY);
    EXPECT_FALSE(vfd.IsOpen());
}

// A connection resource reduced to what the dispatch needs.
struct Target : IS7EventTarget {
    CQORCONN *conn = nullptr;
    CXAction *request = nullptr;
    CQORCONN *GetConnection() override { return conn; }
    CXAction *GetCurrentRequest() override { return request; }
};

class S7Connection : public S7Library {
protected:
    void SetUp() override
    {
        S7Library::SetUp();
        ASSERT_EQ(vfd.Open(kCp, kVfd, &error), S_OK);
        ASSERT_TRUE(plc.Open(kCp, kVfd, "PLC2"));
        conn = new CQORCONN(&vfd, "PLC2");
        target.conn = conn;
    }
    void TearDown() override
    {
        delete conn;
        plc.Close();
    }
    // Receives one event and dispatches it to the target (or to none).
    HRESULT Dispatch(IS7EventTarget *to)
    {
        DWORD ref;
        WORD id;
        int code;
        HRESULT hr = vfd.Receive(&ref, &id, &code, &error);
        if (hr != S_OK)
            return hr;
        return vfd.HandleEvent(ref, id, code, &error, to);
    }
    void Connect()
    {
        HRESULT hr = conn->LookUpReference(&error);
        ASSERT_TRUE(hr == S_OK || hr == QOR_E_HAS_REFERENCE);
        ASSERT_EQ(conn->Initiate(&error), S_OK);
        EXPECT_EQ(conn->GetState(), CQORCONN::Connecting);
        ASSERT_EQ(Dispatch(&target), QOR_S7_CONNECTED);
        EXPECT_EQ(conn->GetState(), CQORCONN::Connected);
    }

    CQORVFD vfd;
    S7ErrorRecord error;
    s7sim::Controller plc;
    CQORCONN *conn = nullptr;
    Target target;
};

TEST_F(S7Connection, StateRulesOfTheConnectionObject)
{
    EXPECT_EQ(conn->Initiate(&error), QOR_E_NO_REFERENCE);
    EXPECT_EQ(conn->Abort(&error), QOR_E_NO_REFERENCE);
    ASSERT_EQ(conn->LookUpReference(&error), S_OK);
    EXPECT_EQ(conn->LookUpReference(&error), QOR_E_HAS_REFERENCE);
    EXPECT_EQ(conn->Abort(&error), QOR_E_NOT_CONNECTED);
    CXAction read;
    read.SetVariableText("DB10,B0,1");
    EXPECT_EQ(conn->Send(&read, &error), QOR_E_NOT_CONNECTED);
    Connect();
    EXPECT_TRUE(conn->WasConnected());
    EXPECT_EQ(conn->Initiate(&error), QOR_E_CONNECTED);
    read.SetDirection(7);
    EXPECT_EQ(conn->Send(&read, &error), E_FAIL) << "neither read nor write";
    EXPECT_EQ(conn->Abort(&error), S_OK);
    EXPECT_EQ(conn->GetState(), CQORCONN::Disconnected);
    EXPECT_FALSE(conn->WasConnected());

    CQORCONN orphan(nullptr, "PLC2");
    EXPECT_EQ(orphan.LookUpReference(&error), QOR_E_NO_VFD);
    EXPECT_EQ(orphan.Initiate(&error), QOR_E_NO_VFD);
    EXPECT_EQ(orphan.Send(&read, &error), QOR_E_NO_VFD);
}

TEST_F(S7Connection, ReadAndWriteThroughTheDispatch)
{
    const BYTE bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(plc.WriteDb(10, 100, bytes, sizeof(bytes)));
    Connect();
    CXAction read;
    read.SetVariableText("DB10,W100,5");
    read.SetOrderId(41);
    target.request = &read;
    ASSERT_EQ(conn->Send(&read, &error), S_OK);
    ASSERT_EQ(Dispatch(&target), QOR_S7_READ_DONE);
    ASSERT_EQ(read.GetReceivedLength(), 10u);
    EXPECT_EQ(memcmp(read.GetReceivedData(), bytes, 10), 0);

    CXAction write;
    write.SetDirection(CXAction::DirectionWrite);
    write.SetVariableText("DB10,B0,2");
    write.SetWriteData("\xAA\xBB", 2);
    write.SetOrderId(42);
    target.request = &write;
    ASSERT_EQ(conn->Send(&write, &error), S_OK);
    ASSERT_EQ(Dispatch(&target), QOR_S7_WRITE_DONE);
    BYTE back[2];
    plc.ReadDb(10, 0, back, 2);
    EXPECT_EQ(memcmp(back, "\xAA\xBB", 2), 0);
}

// Each row: a fault of the controller and the result the dispatch gives.
struct DispatchCase {
    const char *name;
    LONG s7sim::Shared::*fault;
    HRESULT result;
};

class S7Dispatch : public S7Connection, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(S7Dispatch, EventMapsToItsResult)
{
    Connect();
    plc.SetError(88, 12, "first text", "second text");
    plc.get()->*GetParam().fault = 1;
    CXAction read;
    read.SetVariableText("DB10,B0,4");
    read.SetOrderId(7);
    target.request = &read;
    ASSERT_EQ(conn->Send(&read, &error), S_OK);
    EXPECT_EQ(Dispatch(&target), GetParam().result);
    if (GetParam().result == QOR_S7_CNF_ERROR) {
        EXPECT_EQ(read.GetError().errorClass, 88);
        EXPECT_STREQ(read.GetError().errorText, "first text");
        EXPECT_STREQ(read.GetError().detailText, "second text");
    }
    if (GetParam().result == QOR_S7_ABORTED) {
        EXPECT_EQ(conn->GetState(), CQORCONN::Disconnected);
        EXPECT_EQ(error.errorClass, 88) << "the abort's reason is in the record";
    }
    plc.SetError(0, 0, "", "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, S7Dispatch,
    ::testing::Values(DispatchCase{"Stale", &s7sim::Shared::staleConfirmation, QOR_S7_STALE_READ},
                      DispatchCase{"Error", &s7sim::Shared::errorConfirmation, QOR_S7_CNF_ERROR},
                      DispatchCase{"Abort", &s7sim::Shared::abortIndication, QOR_S7_ABORTED},
                      DispatchCase{"Notice", &s7sim::Shared::strayNotice, QOR_S7_DISCARDED},
                      DispatchCase{"VfdState", &s7sim::Shared::strayVfdState, QOR_S7_VFD_STATE},
                      DispatchCase{"Dropped", &s7sim::Shared::dropConfirmation, QOR_S7_NO_EVENT}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(S7Connection, EventWithoutResourceIsConsumedThroughATemporaryObject)
{
    Connect();
    LONG live = CQORVFD::LiveObjects();
    CXAction read;
    read.SetVariableText("DB10,B0,4");
    ASSERT_EQ(conn->Send(&read, &error), S_OK);
    EXPECT_EQ(Dispatch(nullptr), E_FAIL);
    EXPECT_EQ(CQORVFD::LiveObjects(), live) << "the temporary object is gone";
    EXPECT_EQ(Dispatch(nullptr), QOR_S7_NO_EVENT) << "nothing is left for the next receive";
}

TEST_F(S7Library, EnumerationsListTheCatalogue)
{
    S7CpList *cps = nullptr;
    HRESULT code = S_OK;
    ASSERT_EQ(QOREnumerateCps(&cps, &code), S_OK);
    ASSERT_EQ(cps->rows.size(), 2u);
    EXPECT_EQ(cps->rows[1].index, 1);
    EXPECT_STREQ(cps->rows[1].name, "CPSRV2");
    EXPECT_EQ(QORFreeCpList(cps), S_OK);

    S7VfdList *vfds = nullptr;
    ASSERT_EQ(QOREnumerateVfds(kCp, &vfds, &code), S_OK);
    EXPECT_STREQ(vfds->cpName, kCp);
    ASSERT_EQ(vfds->rows.size(), 3u);
    EXPECT_STREQ(vfds->rows[1].name, "VFD2");
    QORFreeVfdList(vfds);
    ASSERT_EQ(QOREnumerateVfds("CPSRV2", &vfds, &code), S_OK) << "a CP without VFDs";
    EXPECT_TRUE(vfds->rows.empty());
    QORFreeVfdList(vfds);
    EXPECT_EQ(QOREnumerateVfds("NOCP", &vfds, &code), E_FAIL);
    EXPECT_EQ(code, QOR_E_S7_LIBRARY);
    EXPECT_EQ(vfds, nullptr);

    S7ConnList *conns = nullptr;
    ASSERT_EQ(QOREnumerateConnections(kCp, "VFD2", &conns, &code), S_OK);
    ASSERT_EQ(conns->rows.size(), 1u);
    EXPECT_STREQ(conns->rows[0].name, "REFUSER");
    EXPECT_STREQ(conns->vfdName, "VFD2");
    QORFreeConnList(conns);
    EXPECT_EQ(QOREnumerateConnections(kCp, "NOVFD", &conns, &code), E_FAIL);
    EXPECT_EQ(code, QOR_E_S7_LIBRARY);
}

} // namespace
