// The transaction processor with its connection resources, end to end
// against the simulated controllers.
#include "S7Sim.h"
#include "S7Types.h"
#include "XActionProcessor.h"
#include "FakeClock.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"
#include "s732.h"
#include "s7_fixture.h"
#include "s7_test_util.h"
#include <cstring>
#include <memory>
#include <thread>

using namespace s7test;

namespace {

class Processor : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTestCatalogue();
        completion = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        processor = std::make_unique<CXActionProcessor>(&clock);
        ASSERT_TRUE(processor->Start(kCp, kVfd, completion));
        ASSERT_EQ(processor->GetState(), CXActionProcessor::StateRunning);
    }
    void TearDown() override
    {
        processor.reset();
        CloseHandle(completion);
    }
    // Opens a connection's controller with every fault switch off.
    void UseController(const char *conn)
    {
        ASSERT_TRUE(plc.Open(kCp, kVfd, conn));
        s7sim::Shared *s = plc.get();
        s->dropConfirmation = s->abortIndication = s->staleConfirmation = s->errorConfirmation = 0;
        s->suppressNotify = s->strayNotice = s->strayVfdState = s->failInitiate = 0;
        s->latencyMs = 0;
        plc.SetError(0, 0, "", "");
    }
    WORD Detail(const char *conn)
    {
        WORD coarse = 0, detail = 0;
        processor->GetResourceState(conn, &coarse, &detail);
        return detail;
    }

    FakeClock clock;
    HANDLE completion = nullptr;
    std::unique_ptr<CXActionProcessor> processor;
    s7sim::Controller plc;
};

TEST_F(Processor, ReadReturnsTheControllersMemoryAndWriteReachesIt)
{
    UseController("PLC1");
    const BYTE words[10] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
    ASSERT_TRUE(plc.WriteDb(10, 100, words, sizeof(words)));
    S7Address address;
    address.area = S7AreaDB;
    address.dbNumber = 10;
    address.start = 100;
    address.length = 10;
    address.dataType = S7TypeWord;
    std::string text;
    ASSERT_EQ(CS7Types::Instance().FormatSapiAddress(address, text), 0u);
    ASSERT_EQ(text, "DB10,W100,5");

    CountingRequest read("PLC1", text.c_str());
    LONG id = processor->Submit(&read);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetState(), CXAction::StateCompleted);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubSuccess);
    ASSERT_EQ(read.GetReceivedLength(), 10u);
    EXPECT_EQ(memcmp(read.GetReceivedData(), words, 10), 0);
    EXPECT_EQ(Detail("PLC1"), CConnectionResource::DetailCompleted);

    CountingRequest write("PLC1", "DB10,B0,3");
    write.SetDirection(CXAction::DirectionWrite);
    write.SetWriteData("\x01\x02\x03", 3);
    ASSERT_GT(processor->Submit(&write), 0);
    ASSERT_TRUE(WaitDone(write));
    EXPECT_EQ(write.GetSubStatus(), CXAction::SubSuccess);
    BYTE back[3];
    plc.ReadDb(10, 0, back, 3);
    EXPECT_EQ(memcmp(back, "\x01\x02\x03", 3), 0);
}

TEST_F(Processor, OversizedTextOrDataFailsTheRequestWithInvalidArg)
{
    UseController("PLC1");
    std::string text33(33, 'B');
    BYTE data[257] = {};
    struct Row { const char *what; std::string text; DWORD length; };
    const Row rows[] = {{"33-character text", text33, 0}, {"257-byte data", "DB10,B0,1", 257}};
    for (const Row &row : rows) {
        CountingRequest r("PLC1", "");
        ASSERT_TRUE(r.SetVariableText(row.text.c_str())) << row.what;
        if (row.length) {
            r.SetDirection(CXAction::DirectionWrite);
            ASSERT_TRUE(r.SetWriteData(data, row.length));
        }
        // The first request may still wait for the connection to come up.
        LONG result = processor->Submit(&r);
        ASSERT_TRUE(WaitDone(r)) << row.what;
        EXPECT_NE(result, CXActionProcessor::SubmitBusy) << row.what;
        EXPECT_EQ(r.GetSubStatus(), CXAction::SubError) << row.what;
        EXPECT_EQ(r.GetError().returnCode, static_cast<DWORD>(E_INVALIDARG)) << row.what;
    }
}

TEST_F(Processor, OrderIdsRunFrom1To65535AndWrapTo1)
{
    for (LONG expected = 1; expected <= 65535; ++expected) {
        CXAction query;
        query.SetKind(CXAction::KindConnectionStatus);
        query.SetConnectionName("PLC1");
        query.SetCompletionValue(0);
        processor->Submit(&query);
        ASSERT_EQ(query.GetOrderId(), expected);
    }
    CXAction next;
    next.SetKind(CXAction::KindConnectionState);
    next.SetConnectionName("NOCONN");
    next.SetCompletionValue(0);
    EXPECT_EQ(processor->Submit(&next), CConnectionResource::CoarseIdle) << "no resource: idle";
    EXPECT_EQ(next.GetOrderId(), 1) << "0 is never used";
    EXPECT_EQ(next.GetState(), CXAction::StateCompleted);
}

TEST_F(Processor, BusyConnectionAnswersMinus3AndLeavesTheRequestUnstarted)
{
    UseController("PLC2");
    plc->dropConfirmation = -1;
    CountingRequest first("PLC2", "DB10,B0,1");
    LONG id = processor->Submit(&first);
    ASSERT_GT(id, 0);
    EXPECT_TRUE(processor->IsConnectionInUse("PLC2"));
    CountingRequest second("PLC2", "DB10,B0,1");
    EXPECT_EQ(processor->Submit(&second), CXActionProcessor::SubmitBusy);
    EXPECT_EQ(second.GetState(), CXAction::StateNew);

    CXAction status;
    status.SetKind(CXAction::KindConnectionStatus);
    status.SetConnectionName("PLC2");
    status.SetCompletionValue(0);
    EXPECT_EQ(processor->Submit(&status), 1);

    EXPECT_EQ(processor->CancelByOrderId(static_cast<WORD>(id + 1000)), 16u);
    EXPECT_EQ(processor->CancelByOrderId(first.GetOrderId()), 0u);
    EXPECT_EQ(first.GetState(), CXAction::StateFailed);
    EXPECT_EQ(first.GetSubStatus(), CXAction::SubCancelled);
    plc->dropConfirmation = 0;
    EXPECT_EQ(processor->CancelByConnection("NOCONN"), 16u);
}

// A request whose confirmation never comes: each expiry of its timeout is
// a retry under a new order id until the retries are used up.
class ProcessorTimeout : public Processor, public ::testing::WithParamInterface<LONG> {};

TEST_P(ProcessorTimeout, RetriesWithNewOrderIdsThenRetriesExhausted)
{
    const LONG retries = GetParam();
    UseController("PLC3");
    plc->dropConfirmation = -1;
    LONG readsBefore = plc->reads;
    CountingRequest read("PLC3", "DB10,B0,1", retries, 3000);
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitFor([&] { return plc->reads - readsBefore == 1; }));
    WORD lastId = plc->lastOrderId;
    for (LONG i = 0; i < retries; ++i) {
        clock.Advance(2999);
        ASSERT_TRUE(WaitTicks(*processor));
        EXPECT_EQ(plc->reads - readsBefore, i + 1) << "not yet expired";
        clock.Advance(1);
        ASSERT_TRUE(WaitFor([&] { return plc->reads - readsBefore == i + 2; }));
        EXPECT_NE(plc->lastOrderId, lastId) << "a retry takes a new order id";
        EXPECT_EQ(read.GetOrderId(), plc->lastOrderId);
        lastId = plc->lastOrderId;
        EXPECT_EQ(read.GetState(), CXAction::StateStarted);
    }
    clock.Advance(3000);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetState(), CXAction::StateTimedOut);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubError);
    EXPECT_EQ(read.timeouts, retries + 1);
    EXPECT_EQ(read.retries, retries);
    EXPECT_EQ(Detail("PLC3"), CConnectionResource::DetailRetriesExhausted);
    plc->dropConfirmation = 0;
}

INSTANTIATE_TEST_SUITE_P(Retries, ProcessorTimeout, ::testing::Values(0, 2));

TEST_F(Processor, AbortIndicationFailsTheRequestWithItsErrorRecord)
{
    UseController("PLC4");
    CountingRequest warmUp("PLC4", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&warmUp), 0);
    ASSERT_TRUE(WaitDone(warmUp));
    plc.SetError(21, 9, "partner ended the connection", "PLC4");
    plc->abortIndication = 1;
    CountingRequest read("PLC4", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetState(), CXAction::StateFailed);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubError);
    EXPECT_EQ(read.GetError().errorClass, 21);
    EXPECT_EQ(read.GetError().errorNumber, 9);
    EXPECT_STREQ(read.GetError().errorText, "partner ended the connection");
    EXPECT_FALSE(IsNonFatalS7Error(read.GetError()));
    EXPECT_EQ(Detail("PLC4"), CConnectionResource::DetailClosed);

    // The next request brings the connection up again.
    plc.SetError(0, 0, "", "");
    LONG initiates = plc->initiates;
    CountingRequest again("PLC4", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&again), 0);
    ASSERT_TRUE(WaitDone(again));
    EXPECT_EQ(again.GetSubStatus(), CXAction::SubSuccess);
    EXPECT_EQ(plc->initiates, initiates + 1);
}

TEST_F(Processor, StaleConfirmationRetriesUnderANewOrderId)
{
    UseController("PLC5");
    plc->staleConfirmation = 1;
    LONG stale = CConnectionResource::StaleConfirmations();
    LONG reads = plc->reads;
    CountingRequest read("PLC5", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubSuccess);
    EXPECT_EQ(read.retries, 1);
    EXPECT_EQ(read.timeouts, 0);
    EXPECT_EQ(plc->reads - reads, 2);
    EXPECT_EQ(CConnectionResource::StaleConfirmations(), stale + 1);
}

TEST_F(Processor, ErrorConfirmationFailsTheRequestWithItsRecord)
{
    UseController("PLC5");
    plc.SetError(150, 5, "object access not possible", "DB10,B0,1");
    plc->errorConfirmation = 1;
    CountingRequest read("PLC5", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetState(), CXAction::StateCompleted);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubError);
    EXPECT_EQ(read.GetError().errorClass, 150);
    EXPECT_TRUE(IsNonFatalS7Error(read.GetError()));
    EXPECT_EQ(Detail("PLC5"), CConnectionResource::DetailFailed);
}

TEST_F(Processor, EventsDrainOnTheSilentTickWhenNoMessageArrives)
{
    UseController("PLC6");
    plc->suppressNotify = 1;
    CountingRequest read("PLC6", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read)) << "the 500 ms tick must poll the library";
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubSuccess);
    plc->suppressNotify = 0;
}

TEST_F(Processor, IdleConnectionClosesTenSecondsAfterItsLastRequest)
{
    UseController("PLC7");
    LONG aborts = plc->aborts;
    CountingRequest read("PLC7", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    ASSERT_TRUE(WaitTicks(*processor));
    EXPECT_EQ(processor->GetResourceCount(), 1);
    // A request on the open connection, done between two ticks, restarts the countdown.
    clock.Advance(9000);
    ASSERT_TRUE(WaitTicks(*processor));
    CountingRequest again("PLC7", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&again), 0);
    ASSERT_TRUE(WaitDone(again));
    ASSERT_TRUE(WaitTicks(*processor));
    clock.Advance(9999);
    ASSERT_TRUE(WaitTicks(*processor));
    EXPECT_EQ(processor->GetResourceCount(), 1) << "1 ms before the idle close";
    // One big step past 0 closes it all the same.
    clock.Advance(5000);
    ASSERT_TRUE(WaitFor([&] { return processor->GetResourceCount() == 0; }));
    EXPECT_EQ(plc->aborts, aborts + 1);
}

TEST_F(Processor, EventWithoutResourceIsConsumedAndReported)
{
    UseController("PLC8");
    DebugLines lines;
    plc->latencyMs = 200;
    CountingRequest read("PLC8", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    // The resource goes before its initiate confirmation arrives.
    EXPECT_EQ(processor->CancelByConnection("PLC8"), 0u);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubCancelled);
    ASSERT_TRUE(WaitFor([&] { return lines.Contains("No matching resource found - for vfd=VFD1"); }));
    plc->latencyMs = 0;
}

TEST_F(Processor, StoppingWaitsForABusyConnectionAndRefusesNewRequests)
{
    UseController("PLC8");
    plc->dropConfirmation = -1;
    DebugLines lines;
    LONG reads = plc->reads;
    CountingRequest busy("PLC8", "DB10,B0,1", 1, 3000);
    ASSERT_GT(processor->Submit(&busy), 0);
    ASSERT_TRUE(WaitFor([&] { return plc->reads - reads == 1; }));
    processor->Stop();
    EXPECT_EQ(processor->GetState(), CXActionProcessor::StateStopping);
    CountingRequest late("PLC8", "DB10,B0,1");
    EXPECT_EQ(processor->Submit(&late), CXActionProcessor::SubmitNotRunning);
    EXPECT_EQ(late.GetState(), CXAction::StateFailed);
    EXPECT_EQ(late.GetSubStatus(), CXAction::SubError);

    std::atomic<bool> gone{false};
    std::thread destroyer([&] {
        processor.reset();
        gone = true;
    });
    EXPECT_TRUE(WaitFor([&] {
        clock.Advance(500);
        Sleep(5);
        return gone.load();
    }, 60000));
    destroyer.join();
    EXPECT_EQ(busy.GetState(), CXAction::StateTimedOut) << "the busy request ran out first";
    EXPECT_TRUE(lines.Contains("Shutdown Complete for vfd=VFD1"));
    plc->dropConfirmation = 0;
}

TEST_F(Processor, ReceiveLockLeftByADeadOwnerIsTaken)
{
    UseController("PLC1");
    // A thread that ends while holding the machine-wide lock abandons it.
    std::thread owner([] {
        HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, "VELTRANE_QOR_XACTION_PROCESSOR_RECEIVE_LOCK");
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
        CloseHandle(m);
    });
    owner.join();
    CountingRequest read("PLC1", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubSuccess);
    // The receive released the lock it took over: others may receive again.
    std::thread other([] {
        HANDLE m = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "VELTRANE_QOR_XACTION_PROCESSOR_RECEIVE_LOCK");
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
        ReleaseMutex(m);
        CloseHandle(m);
    });
    other.join();
}

TEST_F(Processor, StoppedProcessorStartsAgain)
{
    UseController("PLC1");
    processor->Stop();
    CountingRequest refused("PLC1", "DB10,B0,1");
    EXPECT_EQ(processor->Submit(&refused), CXActionProcessor::SubmitNotRunning);
    ASSERT_TRUE(processor->Start(kCp, kVfd, completion));
    CountingRequest read("PLC1", "DB10,B0,1");
    ASSERT_GT(processor->Submit(&read), 0);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubSuccess);
}

TEST_F(Processor, RequestWithoutConnectionFails)
{
    CXAction nowhere;
    nowhere.SetVariableText("DB10,B0,1");
    EXPECT_EQ(processor->Submit(&nowhere), CXActionProcessor::SubmitFailed);
    EXPECT_EQ(nowhere.GetSubStatus(), CXAction::SubError);
    CXAction unknown;
    unknown.SetConnectionName("NOSUCH");
    unknown.SetVariableText("DB10,B0,1");
    EXPECT_LT(processor->Submit(&unknown), 0);
    EXPECT_NE(processor->Submit(&unknown), CXActionProcessor::SubmitBusy);
    EXPECT_EQ(unknown.GetError().errorClass, S7_CLASS_UNKNOWN_OBJECT);
}

TEST(ProcessorStart, FailedOpenReturnsFalseAndRefusedInitiateFailsTheRequest)
{
    UseTestCatalogue();
    CXActionProcessor bad;
    S7ErrorRecord error;
    EXPECT_FALSE(bad.Start("NOCP", kVfd, nullptr, &error));
    EXPECT_EQ(error.errorClass, S7_CLASS_UNKNOWN_OBJECT);
    EXPECT_EQ(bad.GetState(), CXActionProcessor::StateIdle);

    CXActionProcessor p;
    ASSERT_TRUE(p.Start(kCp, "VFD2", nullptr));
    CountingRequest read("REFUSER", "DB10,B0,1");
    LONG result = p.Submit(&read);
    ASSERT_TRUE(WaitDone(read));
    EXPECT_NE(result, CXActionProcessor::SubmitBusy);
    EXPECT_EQ(read.GetSubStatus(), CXAction::SubError);
    EXPECT_EQ(read.GetError().errorClass, S7_CLASS_INITIATE);
}

} // namespace

// The receive window's class taken already: the receive thread cannot set up
// its window. The failure goes to the message log as a fatal line, and an
// unanswered box does not hold the worker thread (or the start that waits
// for it).
TEST(ProcessorReceiveWindow, ASetUpFailureIsAFatalLogLineThatHoldsNoWorker)
{
    UseTestCatalogue();
    CServerMsg log("QORS7Test");
    CRecordingLogView view;
    CRecordingMessageBox boxes;
    log.SetView(&view);
    log.SetMessageBox(&boxes);
    boxes.Hold();

    auto processor = std::make_unique<CXActionProcessor>();
    char className[256];
    snprintf(className, sizeof(className), "%llX%s%s",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(processor.get())),
             "_{A87274E5-05D1-4362-8F5E-5E5DD20F4CE4}_", kVfd);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    ASSERT_NE(0, RegisterClassA(&wc));

    EXPECT_FALSE(processor->Start(kCp, kVfd, nullptr));
    processor.reset();
    UnregisterClassA(className, GetModuleHandleA(nullptr));

    bool logged = false;
    for (const CRecordingLogView::Line &line : view.Lines())
        logged |= line.severity == SeverityFatal && line.text == "fatal error, can't register a window class.";
    EXPECT_TRUE(logged);
    ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
    EXPECT_NE(GetCurrentThreadId(), boxes.Boxes()[0].threadId);
    boxes.Release();
    ASSERT_TRUE(boxes.WaitForAnswers(1, 5000));
    log.SetView(nullptr);
}
