// The stand-in S7 library, bound by ordinal as the server binds it, against
// a catalogue written by the fixture.
#include "s732.h"
#include "S7Sim.h"
#include "S7VarText.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Lib {
    HMODULE module = nullptr;
    template <typename F> F Get(int ordinal)
    {
        return reinterpret_cast<F>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    }
};

const char *kCp = "CPTEST_A";

class S732 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char dir[MAX_PATH];
        GetTempPathA(sizeof(dir), dir);
        std::string path = std::string(dir) + "s732_test.cfg";
        FILE *f = fopen(path.c_str(), "w");
        fprintf(f, "# catalogue of the stand-in's own tests\n"
                   "cp %s\n"
                   "cp CPTEST_B\n"
                   "vfd %s VFD1\n"
                   "vfd %s VFD2\n"
                   "connection %s VFD1 PLC1\n"
                   "connection %s VFD1 PLC2   # a second controller\n"
                   "connection %s VFD1 REFUSER fail_initiate=-1\n"
                   "connection %s VFD2 SLOW latency=60000\n"
                   "connection %s VFD2 QUICK latency=20\n",
                kCp, kCp, kCp, kCp, kCp, kCp, kCp, kCp);
        fclose(f);
        SetEnvironmentVariableA("S732_CONFIG", path.c_str());
        lib.module = LoadLibraryA("s732.dll");
    }

    void SetUp() override
    {
        ASSERT_NE(lib.module, nullptr);
        open = lib.Get<S7_OPEN>(S7_ORD_OPEN);
        shut = lib.Get<S7_SHUT>(S7_ORD_SHUT);
        cref = lib.Get<S7_GET_CREF>(S7_ORD_GET_CREF);
        initiate = lib.Get<S7_INITIATE>(S7_ORD_INITIATE);
        initiateCnf = lib.Get<S7_GET_INITIATE_CNF>(S7_ORD_GET_INITIATE_CNF);
        receive = lib.Get<S7_RECEIVE>(S7_ORD_RECEIVE);
        discard = lib.Get<S7_DISCARD>(S7_ORD_DISCARD);
        read = lib.Get<S7_READ>(S7_ORD_READ);
        readCnf = lib.Get<S7_GET_READ_CNF>(S7_ORD_GET_READ_CNF);
        write = lib.Get<S7_WRITE>(S7_ORD_WRITE);
        writeCnf = lib.Get<S7_GET_WRITE_CNF>(S7_ORD_GET_WRITE_CNF);
        abortInd = lib.Get<S7_GET_ABORT_IND>(S7_ORD_GET_ABORT_IND);
        errClass = lib.Get<S7_ERR_NUMBER>(S7_ORD_ERR_CLASS);
        errNo = lib.Get<S7_ERR_NUMBER>(S7_ORD_ERR_NO1);
        errText1 = lib.Get<S7_ERR_TEXT>(S7_ORD_ERR_TEXT1);
        errText2 = lib.Get<S7_ERR_TEXT>(S7_ORD_ERR_TEXT2);
        setWindow = lib.Get<S7_SET_WINDOW>(S7_ORD_SET_WINDOW);
    }

    // Opens VFD1, connects connection conn and returns its reference.
    DWORD Connect(DWORD *descr, const char *vfd = "VFD1", const char *conn = "PLC1")
    {
        EXPECT_EQ(open(kCp, vfd, descr), S7LIB_OK);
        DWORD ref = 0;
        EXPECT_EQ(cref(*descr, conn, &ref), S7LIB_OK);
        EXPECT_EQ(initiate(*descr, ref), S7LIB_OK);
        DWORD r;
        WORD id;
        EXPECT_EQ(receive(*descr, &r, &id), S7_EVENT_INITIATE_CNF);
        EXPECT_EQ(initiateCnf(*descr), S7LIB_OK);
        return ref;
    }

    static S7ReadPara ReadPara(const char *text)
    {
        S7ReadPara p{};
        p.access = S7_ACCESS_SYMB_ADDRESS;
        lstrcpynA(p.var_name, text, sizeof(p.var_name));
        return p;
    }

    static Lib lib;
    S7_OPEN open;
    S7_SHUT shut;
    S7_GET_CREF cref;
    S7_INITIATE initiate;
    S7_GET_INITIATE_CNF initiateCnf;
    S7_RECEIVE receive;
    S7_DISCARD discard;
    S7_READ read;
    S7_GET_READ_CNF readCnf;
    S7_WRITE write;
    S7_GET_WRITE_CNF writeCnf;
    S7_GET_ABORT_IND abortInd;
    S7_ERR_NUMBER errClass, errNo;
    S7_ERR_TEXT errText1, errText2;
    S7_SET_WINDOW setWindow;
};
Lib S732::lib;

TEST_F(S732, EveryOrdinalTheServerUsesIsExported)
{
    for (int ordinal : {2, 11, 12, 14, 15, 24, 25, 28, 29, 31, 34, 35, 36, 39, 40, 41, 42, 44, 47, 48, 49, 50, 58})
        EXPECT_NE(GetProcAddress(lib.module, MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
    EXPECT_EQ(GetProcAddress(lib.module, "s7_open"), nullptr) << "exports carry no names";
}

TEST_F(S732, CatalogueEnumeratesByIndexAndFindsByName)
{
    auto getCp = lib.Get<S7_GET_CP>(S7_ORD_GET_CP);
    auto getVfd = lib.Get<S7_GET_VFD>(S7_ORD_GET_VFD);
    auto getConn = lib.Get<S7_GET_CONNECTION>(S7_ORD_GET_CONNECTION);
    WORD count = 0;
    char name[S7_CP_NAME_MAX + 1];
    ASSERT_EQ(getCp(1, &count, name), S7LIB_OK);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(name, "CPTEST_B");
    EXPECT_EQ(getCp(2, &count, name), S7LIB_ERR);
    ASSERT_EQ(getVfd(kCp, 1, &count, name), S7LIB_OK);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(name, "VFD2");
    EXPECT_EQ(getVfd("NOCP", 0, &count, name), S7LIB_ERR);
    EXPECT_EQ(errClass(), S7_CLASS_UNKNOWN_OBJECT);

    DWORD d = 0, ref = 0;
    ASSERT_EQ(open(kCp, "VFD1", &d), S7LIB_OK);
    ASSERT_EQ(getConn(d, 2, &count, &ref, name), S7LIB_OK);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(name, "REFUSER");
    DWORD byName = 0;
    ASSERT_EQ(cref(d, "REFUSER", &byName), S7LIB_OK);
    EXPECT_EQ(byName, ref);
    EXPECT_EQ(cref(d, "NOSUCH", &byName), S7LIB_ERR);
    EXPECT_EQ(errClass(), S7_CLASS_UNKNOWN_OBJECT);
    EXPECT_EQ(open(kCp, "NOVFD", &d), S7LIB_ERR);
    EXPECT_EQ(shut(d), S7LIB_OK);
    EXPECT_EQ(shut(d), S7LIB_ERR) << "a closed descriptor is gone";
}

TEST_F(S732, LastErrorIsKeptPerThread)
{
    DWORD d;
    ASSERT_EQ(open("NOCP", "VFD1", &d), S7LIB_ERR);
    std::thread other([&] {
        DWORD x;
        open(kCp, "VFD1", nullptr);
        EXPECT_EQ(errClass(), S7_CLASS_PARAMETER);
        (void)x;
    });
    other.join();
    EXPECT_EQ(errClass(), S7_CLASS_UNKNOWN_OBJECT);
    EXPECT_STREQ(errText1(), "unknown CP or VFD");
    EXPECT_STREQ(errText2(), "NOCP");
}

TEST_F(S732, ReadAndWriteReachTheControllersMemory)
{
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(kCp, "VFD1", "PLC1"));
    const BYTE words[10] = {0x12, 0x34, 0, 1, 0, 2, 0, 3, 0xFF, 0xFE};
    ASSERT_TRUE(plc.WriteDb(10, 100, words, sizeof(words)));

    DWORD d;
    DWORD ref = Connect(&d);
    S7ReadPara rp = ReadPara("DB10,W100,5");
    ASSERT_EQ(read(d, ref, 7, &rp), S7LIB_OK);
    DWORD r;
    WORD id;
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_READ_CNF);
    EXPECT_EQ(r, ref);
    EXPECT_EQ(id, 7);
    BYTE buffer[942];
    WORD length = 0;
    ASSERT_EQ(readCnf(d, buffer, sizeof(buffer), &length), S7LIB_OK);
    ASSERT_EQ(length, 10);
    EXPECT_EQ(memcmp(buffer, words, 10), 0);

    S7WritePara wp{};
    wp.access = S7_ACCESS_SYMB_ADDRESS;
    strcpy(wp.var_name, "MW4,2");
    wp.var_length = 4;
    memcpy(wp.value, "\x01\x02\x03\x04", 4);
    ASSERT_EQ(write(d, ref, 8, &wp), S7LIB_OK);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_WRITE_CNF);
    ASSERT_EQ(writeCnf(d), S7LIB_OK);
    BYTE flags[4];
    ASSERT_TRUE(plc.ReadArea(s7sim::AreaFlags, 4, flags, 4));
    EXPECT_EQ(memcmp(flags, "\x01\x02\x03\x04", 4), 0);

    // A bit write changes one bit only.
    strcpy(wp.var_name, "AX4.1");
    wp.var_length = 1;
    wp.value[0] = 1;
    ASSERT_EQ(write(d, ref, 9, &wp), S7LIB_OK);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_WRITE_CNF);
    ASSERT_EQ(writeCnf(d), S7LIB_OK);
    BYTE q = 0;
    plc.ReadArea(s7sim::AreaOutputs, 4, &q, 1);
    EXPECT_EQ(q & 0x02, 0x02);

    // A write whose data does not fit the variable fails in its confirmation.
    wp.var_length = 3;
    ASSERT_EQ(write(d, ref, 10, &wp), S7LIB_OK);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_WRITE_CNF);
    EXPECT_EQ(writeCnf(d), S7LIB_ERR);
    EXPECT_EQ(errClass(), S7_CLASS_TYPE);
    shut(d);
}

// Runs the peer program and answers its exit code.
DWORD RunPeer(const std::string &args)
{
    std::string line = "s732_peer.exe " + args;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 99;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 98;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

TEST_F(S732, AnotherProcessSeesAndSetsTheControllersMemory)
{
    DWORD d;
    DWORD ref = Connect(&d, "VFD1", "PLC2");
    ASSERT_EQ(RunPeer(std::string("write ") + kCp + " VFD1 PLC2 77 10 CAFE0102"), 0u);
    S7ReadPara rp = ReadPara("DB77,B10,4");
    ASSERT_EQ(read(d, ref, 1, &rp), S7LIB_OK);
    DWORD r;
    WORD id;
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_READ_CNF);
    BYTE buffer[942];
    WORD length = 0;
    ASSERT_EQ(readCnf(d, buffer, sizeof(buffer), &length), S7LIB_OK);
    ASSERT_EQ(length, 4);
    EXPECT_EQ(memcmp(buffer, "\xCA\xFE\x01\x02", 4), 0);

    S7WritePara wp{};
    wp.access = S7_ACCESS_SYMB_ADDRESS;
    strcpy(wp.var_name, "DB77,W20,1");
    wp.var_length = 2;
    memcpy(wp.value, "\xBE\xEF", 2);
    ASSERT_EQ(write(d, ref, 2, &wp), S7LIB_OK);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_WRITE_CNF);
    ASSERT_EQ(writeCnf(d), S7LIB_OK);
    EXPECT_EQ(RunPeer(std::string("check ") + kCp + " VFD1 PLC2 77 20 BEEF"), 0u);
    EXPECT_EQ(RunPeer(std::string("check ") + kCp + " VFD1 PLC2 77 20 BEEE"), 1u);
    shut(d);
}

TEST_F(S732, RequestsNeedAnEstablishedConnectionAndAValidText)
{
    DWORD d, ref;
    ASSERT_EQ(open(kCp, "VFD1", &d), S7LIB_OK);
    ASSERT_EQ(cref(d, "PLC2", &ref), S7LIB_OK);
    S7ReadPara rp = ReadPara("DB10,W100,5");
    EXPECT_EQ(read(d, ref, 1, &rp), S7LIB_ERR);
    EXPECT_EQ(errClass(), S7_CLASS_STATE);
    shut(d);
    ref = Connect(&d, "VFD1", "PLC2");
    rp = ReadPara("XY10");
    EXPECT_EQ(read(d, ref, 1, &rp), S7LIB_ERR);
    EXPECT_EQ(errClass(), S7_CLASS_PARAMETER);
    EXPECT_EQ(initiate(d, ref), S7LIB_ERR) << "already connected";
    auto abortConn = lib.Get<S7_ABORT>(S7_ORD_ABORT);
    EXPECT_EQ(abortConn(d, ref), S7LIB_OK);
    rp = ReadPara("DB10,W100,5");
    EXPECT_EQ(read(d, ref, 1, &rp), S7LIB_ERR) << "aborted";
    shut(d);
}

TEST_F(S732, ReceiveIsNonBlockingAndAnUnconsumedEventIsDropped)
{
    DWORD d;
    DWORD ref = Connect(&d);
    DWORD r = 99;
    WORD id = 99;
    EXPECT_EQ(receive(d, &r, &id), S7_NO_EVENT);
    EXPECT_EQ(r, 0u);
    S7ReadPara rp = ReadPara("DB10,B0,4");
    ASSERT_EQ(read(d, ref, 1, &rp), S7LIB_OK);
    ASSERT_EQ(read(d, ref, 2, &rp), S7LIB_OK);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_READ_CNF);
    EXPECT_EQ(id, 1);
    ASSERT_EQ(receive(d, &r, &id), S7_EVENT_READ_CNF) << "the first was left unconsumed";
    EXPECT_EQ(id, 2);
    EXPECT_EQ(writeCnf(d), S7LIB_ERR) << "the wrong getter consumes nothing";
    EXPECT_EQ(errClass(), S7_CLASS_NO_EVENT);
    EXPECT_EQ(discard(d), S7LIB_OK);
    EXPECT_EQ(discard(d), S7LIB_ERR);
    EXPECT_EQ(receive(d, &r, &id), S7_NO_EVENT);
    EXPECT_EQ(receive(0xDEAD, &r, &id), S7_EVENT_BAD_DESCRIPTOR);
    shut(d);
}

TEST_F(S732, EachDescriptorHasItsOwnEventsAndOneMessagePerEvent)
{
    HWND window = CreateWindowA("STATIC", "s732 test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    DWORD d1, d2;
    DWORD ref = Connect(&d1);
    ASSERT_EQ(open(kCp, "VFD1", &d2), S7LIB_OK);
    ASSERT_EQ(setWindow(d1, window, 1025), S7LIB_OK);
    S7ReadPara rp = ReadPara("DB10,B0,4");
    for (WORD id = 1; id <= 3; ++id)
        ASSERT_EQ(read(d1, ref, id, &rp), S7LIB_OK);
    int posted = 0;
    MSG msg;
    while (PeekMessageA(&msg, window, 1025, 1025, PM_REMOVE))
        ++posted;
    EXPECT_EQ(posted, 3);
    DWORD r;
    WORD id;
    EXPECT_EQ(receive(d2, &r, &id), S7_NO_EVENT) << "the other descriptor sees nothing";
    EXPECT_EQ(receive(d1, &r, &id), S7_EVENT_READ_CNF);
    shut(d1);
    shut(d2);
    DestroyWindow(window);
}

TEST_F(S732, ConcurrentDescriptorsKeepTheirOwnEventsAndErrors)
{
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(kCp, "VFD1", "PLC1"));
    for (BYTE i = 0; i < 8; ++i)
        plc.WriteDb(20, i, &i, 1);
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            DWORD d;
            DWORD ref = Connect(&d);
            char text[32];
            snprintf(text, sizeof(text), "DB20,B%d,1", t);
            S7ReadPara rp = ReadPara(text);
            for (WORD id = 1; id <= 200; ++id) {
                DWORD r;
                WORD got;
                BYTE value = 0xFF;
                WORD length = 0;
                if (read(d, ref, id, &rp) == S7LIB_OK && receive(d, &r, &got) == S7_EVENT_READ_CNF && got == id &&
                    readCnf(d, &value, 1, &length) == S7LIB_OK && length == 1 && value == t)
                    ++good[t];
                // A failure of this thread's own making leaves the others' errors alone.
                open("NOCP", "VFD1", &r);
                if (errClass() != S7_CLASS_UNKNOWN_OBJECT)
                    --good[t];
            }
            shut(d);
        });
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(good[t], 200) << "thread " << t;
}

// Each row: a fault switch, what the next read then receives.
struct FaultCase {
    const char *name;
    LONG s7sim::Shared::*counter;
    int firstEvent;      // code of the first event after the read
    bool getterFails;    // the matching getter of that event fails
    bool staleId;        // the event carries another order id
};

class S732Faults : public S732, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(S732Faults, InjectedFaultShapesTheNextAnswer)
{
    const FaultCase &c = GetParam();
    s7sim::Controller plc;
    ASSERT_TRUE(plc.Open(kCp, "VFD1", "PLC2"));
    plc.SetError(88, 33, "injected text one", "injected text two");
    DWORD d;
    DWORD ref = Connect(&d, "VFD1", "PLC2");
    plc.get()->*c.counter = 1;
    S7ReadPara rp = ReadPara("DB10,B0,2");
    ASSERT_EQ(read(d, ref, 500, &rp), S7LIB_OK);
    DWORD r;
    WORD id;
    int code = receive(d, &r, &id);
    EXPECT_EQ(code, c.firstEvent);
    if (code == S7_EVENT_READ_CNF) {
        EXPECT_EQ(id != 500, c.staleId);
        BYTE buffer[942];
        WORD length;
        EXPECT_EQ(readCnf(d, buffer, sizeof(buffer), &length) == S7LIB_ERR, c.getterFails);
    } else if (code == S7_EVENT_ABORT_IND) {
        EXPECT_EQ(abortInd(d) == S7LIB_ERR, c.getterFails);
    }
    if (c.getterFails) {
        EXPECT_EQ(errClass(), 88);
        EXPECT_EQ(errNo(), 33);
        EXPECT_STREQ(errText1(), "injected text one");
        EXPECT_STREQ(errText2(), "injected text two");
    }
    EXPECT_EQ(plc.get()->*c.counter, 0) << "one occasion used";
    plc.SetError(0, 0, "", "");
    shut(d);
}

INSTANTIATE_TEST_SUITE_P(
    Table, S732Faults,
    ::testing::Values(
        FaultCase{"Dropped", &s7sim::Shared::dropConfirmation, S7_NO_EVENT, false, false},
        FaultCase{"Stale", &s7sim::Shared::staleConfirmation, S7_EVENT_READ_CNF, false, true},
        FaultCase{"Error", &s7sim::Shared::errorConfirmation, S7_EVENT_READ_CNF, true, false},
        FaultCase{"Abort", &s7sim::Shared::abortIndication, S7_EVENT_ABORT_IND, true, false},
        FaultCase{"StrayNotice", &s7sim::Shared::strayNotice, S7_EVENT_NOTICE, false, false},
        FaultCase{"StrayVfdState", &s7sim::Shared::strayVfdState, S7_EVENT_VFD_STATE, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(S732, ConfigurationSwitchesApply)
{
    DWORD d, ref, r;
    WORD id;
    ASSERT_EQ(open(kCp, "VFD1", &d), S7LIB_OK);
    ASSERT_EQ(cref(d, "REFUSER", &ref), S7LIB_OK);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(initiate(d, ref), S7LIB_OK);
        ASSERT_EQ(receive(d, &r, &id), S7_EVENT_INITIATE_CNF);
        EXPECT_EQ(initiateCnf(d), S7LIB_ERR) << "every initiate is refused";
        EXPECT_EQ(errClass(), S7_CLASS_INITIATE);
    }
    shut(d);

    // A latency holds the confirmation back.
    ASSERT_EQ(open(kCp, "VFD2", &d), S7LIB_OK);
    ASSERT_EQ(cref(d, "SLOW", &ref), S7LIB_OK);
    ASSERT_EQ(initiate(d, ref), S7LIB_OK);
    EXPECT_EQ(receive(d, &r, &id), S7_NO_EVENT);
    shut(d);
    ASSERT_EQ(open(kCp, "VFD2", &d), S7LIB_OK);
    ASSERT_EQ(cref(d, "QUICK", &ref), S7LIB_OK);
    ASSERT_EQ(initiate(d, ref), S7LIB_OK);
    int code = S7_NO_EVENT;
    for (int i = 0; i < 1000 && code == S7_NO_EVENT; ++i) {
        Sleep(10);
        code = receive(d, &r, &id);
    }
    EXPECT_EQ(code, S7_EVENT_INITIATE_CNF);
    shut(d);
}

TEST_F(S732, MiniDatabaseTakesTheAbortTimeoutAsDecimalText)
{
    auto set = lib.Get<S7_MINI_DB_SET>(S7_ORD_MINI_DB_SET);
    EXPECT_EQ(set(S7_MINI_DB_ABORT_TIMEOUT, "20"), S7LIB_OK);
    EXPECT_EQ(set(S7_MINI_DB_ABORT_TIMEOUT, "2x"), S7LIB_ERR);
    EXPECT_EQ(set(61, "20"), S7LIB_ERR);
}

TEST(S7VarText, ParsesTheRequestTexts)
{
    struct Row { const char *text; bool ok; bool db; int area; int dbNumber; unsigned offset, bytes; int bit; };
    const Row rows[] = {
        {"DB10,W100,5", true, true, 0, 10, 100, 10, -1},
        {"DB10,X100.3", true, true, 0, 10, 100, 1, 3},
        {"DB10,REAL4,2", true, true, 0, 10, 4, 8, -1},
        {"DB10,DINT4", true, true, 0, 10, 4, 4, -1},
        {"MW100,5", true, false, s7sim::AreaFlags, 0, 100, 10, -1},
        {"AX4.1", true, false, s7sim::AreaOutputs, 0, 4, 1, 1},
        {"EB2,3", true, false, s7sim::AreaInputs, 0, 2, 3, -1},
        {"C10,3", true, false, s7sim::AreaCounters, 0, 20, 6, -1},
        {"T5", true, false, s7sim::AreaTimers, 0, 10, 2, -1},
        {"DB10,X100.8", false, false, 0, 0, 0, 0, 0}, {"DB0,B0", false, false, 0, 0, 0, 0, 0}, {"DB10", false, false, 0, 0, 0, 0, 0},
        {"MW100,0", false, false, 0, 0, 0, 0, 0}, {"QW1", false, false, 0, 0, 0, 0, 0}, {"MW100,5x", false, false, 0, 0, 0, 0, 0}, {"", false, false, 0, 0, 0, 0, 0},
    };
    for (const Row &row : rows) {
        s7sim::VarRange r;
        bool ok = s7sim::ParseVarText(row.text, &r);
        EXPECT_EQ(ok, row.ok) << row.text;
        if (!ok || !row.ok)
            continue;
        EXPECT_EQ(r.dataBlock, row.db) << row.text;
        if (!row.db) {
            EXPECT_EQ(r.area, row.area) << row.text;
        }
        EXPECT_EQ(r.dbNumber, row.dbNumber) << row.text;
        EXPECT_EQ(r.offset, row.offset) << row.text;
        EXPECT_EQ(r.bytes, row.bytes) << row.text;
        EXPECT_EQ(r.bit ? r.bitNumber : -1, row.bit) << row.text;
    }
}

} // namespace
