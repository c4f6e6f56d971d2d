// The Alarm & Event connections: argument and handle checks, the order and
// the member by which forwarded records reach each callback, and the stop
// of a connection whose client does not come back. First in this process,
// then with the automation object in the host program and the callbacks
// in this process's multithreaded apartment.
#include "alarm_sink.h"
#include "remote_host.h"
#include <tlhelp32.h>

using namespace apptest;

namespace {

const HRESULT kNoConnection = HRESULT(0x80040200);
using Call = RecordingAlarmSink::Call;

int ThreadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

void Forward(const std::string &text, const std::string &source, DWORD code, DWORD parameter)
{
    ServerMessage line;
    line.severity = SeverityEventOnly;
    line.text = text;
    line.source = source;
    line.eventCode = code;
    line.eventParameter = parameter;
    line.sendEvent = TRUE;
    PostServerMessage(line);
}

class AlarmConnections : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(S_OK, driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connect)));
    }
    void TearDown() override
    {
        if (connect)
            connect->Release();
        AppTest::TearDown();
    }
    IConnectSink *connect = nullptr;
};

TEST_F(AlarmConnections, ArgumentsHandlesAndValues)
{
    RecordingAlarmSink sink;
    LONG connection = 99;
    EXPECT_EQ(E_POINTER, connect->Connect(IID_IAlarmMessageSink, nullptr, 1, &connection));
    EXPECT_EQ(0, connection);
    EXPECT_EQ(E_POINTER, connect->Connect(IID_IAlarmMessageSink, &sink, 1, nullptr));
    EXPECT_EQ(E_INVALIDARG, connect->Connect(IID_IAlarmMessageSink, &sink, 0, &connection));

    // The wrong identity is refused before anything is made or asked.
    int threads = ThreadsOfThisProcess();
    EXPECT_EQ(kNoConnection, connect->Connect(IID_IDriver, &sink, 1, &connection));
    EXPECT_EQ(0, sink.queryCalls);
    EXPECT_EQ(threads, ThreadsOfThisProcess());
    EXPECT_EQ(0u, app->AlarmConnectionCount());
    EXPECT_EQ(1, sink.Refs());

    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &sink, 1, &connection));
    EXPECT_NE(0, connection);
    EXPECT_TRUE(Logged("Alarm & Event server component connected"));
    EXPECT_EQ(1u, app->AlarmConnectionCount());
    LONG value = 0;
    ASSERT_EQ(S_OK, connect->get_Value(connection, &value));
    EXPECT_EQ(1, value);
    EXPECT_EQ(E_INVALIDARG, connect->put_Value(connection, 0));
    EXPECT_EQ(S_OK, connect->put_Value(connection, -5));
    ASSERT_EQ(S_OK, connect->get_Value(connection, &value));
    EXPECT_EQ(-5, value);
    EXPECT_EQ(E_POINTER, connect->get_Value(connection, nullptr));

    // Only a live connection is accepted: not 0, not a number, not the
    // handle of another live object (a channel), not a closed connection.
    LONG channel = AddChannel("Ch1");
    CConfigObject *channelObject = nullptr;
    ASSERT_EQ(CDriverApp::KindChannel, app->Classify(channel, &channelObject));
    const LONG otherObject = LONG(channelObject->Handle());
    for (LONG bad : {LONG(0), LONG(12345678), otherObject}) {
        EXPECT_EQ(kNoConnection, connect->Disconnect(bad)) << bad;
        EXPECT_EQ(kNoConnection, connect->put_Value(bad, 2)) << bad;
        EXPECT_EQ(kNoConnection, connect->get_Value(bad, &value)) << bad;
    }
    ASSERT_EQ(S_OK, connect->Disconnect(connection));
    EXPECT_TRUE(Logged("Alarm & Event server component disconnected"));
    EXPECT_EQ(kNoConnection, connect->Disconnect(connection));
    EXPECT_EQ(kNoConnection, connect->get_Value(connection, &value));
    EXPECT_EQ(0u, app->AlarmConnectionCount());
    EXPECT_EQ(1, sink.Refs()) << "the main thread's and the worker's references are gone";
}

TEST_F(AlarmConnections, EachCallbackGetsEveryRecordOnceInPostingOrder)
{
    RecordingAlarmSink first, second;
    LONG a = 0, b = 0;
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &first, 1, &a));
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &second, 3, &b));

    // A non-zero event parameter goes through OnMessage, 0 through
    // OnMessage2; lines not marked for forwarding never arrive.
    std::vector<Call> expected;
    for (int i = 0; i < 40; ++i) {
        std::string text = "record " + std::to_string(i);
        DWORD parameter = i % 3 == 0 ? 0 : DWORD(i);
        Forward(text, "DB" + std::to_string(i), CEventCode(1, 1, 1 + i % 2).Value(), parameter);
        LogMessage(SeverityInfo, "not forwarded %d", i);
        expected.push_back(Call{parameter ? "OnMessage" : "OnMessage2", text, "DB" + std::to_string(i),
                                LONG(CEventCode(1, 1, 1 + i % 2).Value())});
    }
    EXPECT_EQ(expected, first.WaitFor(expected.size(), 10000));
    EXPECT_EQ(expected, second.WaitFor(expected.size(), 10000));
    Sleep(100);
    EXPECT_EQ(expected.size(), first.Calls().size()) << "nothing twice";

    ASSERT_EQ(S_OK, connect->Disconnect(a));
    Forward("after", "Hadrel", 0x030104, 0);
    ASSERT_EQ(expected.size() + 1, second.WaitFor(expected.size() + 1, 10000).size());
    EXPECT_EQ(expected.size(), first.Calls().size()) << "a closed connection receives nothing";
    // The server's end closes what is still open.
    connect->Release();
    connect = nullptr;
    app.reset();
    EXPECT_EQ(1, second.Refs());
}

// The automation object in the host program; the callbacks here.
class RemoteAlarmConnections : public testing::Test {
protected:
    void SetUp() override
    {
        remote.Start(COINIT_MULTITHREADED);
        ASSERT_NE(nullptr, remote.driver);
        driver = remote.driver;
        ASSERT_EQ(S_OK, driver->QueryInterface(IID_IConnectSink, reinterpret_cast<void **>(&connect)));
    }
    void TearDown() override
    {
        if (connect)
            connect->Release();
        remote.Stop();
    }
    HRESULT SetShort(LONG handle, const char *name, SHORT value)
    {
        Variant n(Str(name)), v(I2(value)), e;
        return driver->SetPropertyData(handle, n.v, v.v, &e.v);
    }
    LONG AddNamed(const std::function<HRESULT(VARIANT, VARIANT, VARIANT *, LONG *)> &add,
                  std::initializer_list<const char *> names, std::vector<VARIANT> values)
    {
        Variant n(Names(names)), v(Array(values)), e;
        LONG handle = 0;
        EXPECT_EQ(S_OK, add(n.v, v.v, &e.v, &handle));
        return handle;
    }
    // A channel, a device and a block "Blk1" that sends events; its handle.
    LONG MakeBlock()
    {
        LONG channel = AddNamed([&](VARIANT n, VARIANT v, VARIANT *e,
                                    LONG *h) { return driver->AddChannel(n, v, e, h); },
                                {"Name", "PrimaryCPName"}, {Str("Ch1"), Str("CPBLK")});
        LONG device = AddNamed([&](VARIANT n, VARIANT v, VARIANT *e,
                                   LONG *h) { return driver->AddDevice(channel, n, v, e, h); },
                               {"Name", "PrimaryConnName"}, {Str("Dev1"), Str("PLCBLK1")});
        LONG block = AddNamed([&](VARIANT n, VARIANT v, VARIANT *e,
                                  LONG *h) { return driver->AddDataBlock(device, n, v, e, h); },
                              {"Name", "StartAddress", "Length"}, {Str("Blk1"), Str("DB10,0"), I4(10)});
        EXPECT_EQ(S_OK, SetShort(block, "SendEvents", 1));
        return block;
    }

    // Members, so that they outlive the host, which may still call them.
    RecordingAlarmSink sinks[3];
    RemoteHost remote;
    IQORDriver *driver = nullptr;
    IConnectSink *connect = nullptr;
};

const LONG kEnabled = LONG(CEventCode::ObjectEnabled().Value());
const LONG kDisabled = LONG(CEventCode::ObjectDisabled().Value());

TEST_F(RemoteAlarmConnections, TwoCallbacksReceiveEveryRecordInOrder)
{
    RecordingAlarmSink &first = sinks[0], &second = sinks[1];
    LONG a = 0, b = 0;
    EXPECT_EQ(kNoConnection, connect->Connect(IID_IDriver, &first, 1, &a));
    EXPECT_EQ(0, first.queryCalls);
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &first, 1, &a));
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &second, 1, &b));
    EXPECT_NE(a, b);
    LONG value = 0;
    ASSERT_EQ(S_OK, connect->get_Value(b, &value));
    EXPECT_EQ(1, value);

    LONG block = MakeBlock();
    std::vector<Call> expected;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(S_OK, SetShort(block, "Enabled", 0));
        ASSERT_EQ(S_OK, SetShort(block, "Enabled", 1));
        expected.push_back(Call{"OnMessage2", "DataBlock Blk1 Disabled", "Blk1", kDisabled});
        expected.push_back(Call{"OnMessage2", "DataBlock Blk1 Enabled", "Blk1", kEnabled});
    }
    ASSERT_EQ(S_OK, SetShort(0, "SendEvents", 1));
    ASSERT_EQ(S_OK, driver->Start(VARIANT_FALSE));
    expected.push_back(Call{"OnMessage2", "Driver Started", remote.acronym, LONG(CEventCode(4, 3, 1).Value())});

    EXPECT_EQ(expected, first.WaitFor(expected.size(), 10000));
    EXPECT_EQ(expected, second.WaitFor(expected.size(), 10000));
    EXPECT_EQ(S_OK, driver->Stop());

    EXPECT_EQ(S_OK, connect->Disconnect(a));
    EXPECT_EQ(kNoConnection, connect->Disconnect(a));
    EXPECT_EQ(kNoConnection, connect->get_Value(a, &value));
    // b stays open: the host's end closes it.
    connect->Release();
    connect = nullptr;
    EXPECT_EQ(0u, remote.QuitAndWait());
}

TEST_F(RemoteAlarmConnections, ABlockedClientDelaysOnlyItsOwnConnection)
{
    RecordingAlarmSink &blocked = sinks[0], &other = sinks[1], &later = sinks[2];
    blocked.BlockCalls(60000);
    LONG a = 0, b = 0, c = 0;
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &blocked, 1, &a));
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &other, 1, &b));
    LONG block = MakeBlock();
    ASSERT_EQ(S_OK, SetShort(block, "Enabled", 0));
    ASSERT_TRUE(blocked.WaitBlocked(10000)) << "the first record reached the blocking client";
    ASSERT_EQ(S_OK, SetShort(block, "Enabled", 1));
    std::vector<Call> both = {Call{"OnMessage2", "DataBlock Blk1 Disabled", "Blk1", kDisabled},
                              Call{"OnMessage2", "DataBlock Blk1 Enabled", "Blk1", kEnabled}};
    EXPECT_EQ(both, other.WaitFor(2, 10000)) << "the other connection is not held up";

    DWORD before = GetTickCount();
    EXPECT_EQ(S_OK, connect->Disconnect(a));
    DWORD took = GetTickCount() - before;
    // It waited for the worker, then left it: it did not wait for the
    // client's call, which holds for a minute.
    EXPECT_GE(took, 9000u);
    EXPECT_LT(took, 45000u);

    // The server goes on serving: a new client connects and receives.
    ASSERT_EQ(S_OK, connect->Connect(IID_IAlarmMessageSink, &later, 1, &c));
    ASSERT_EQ(S_OK, SetShort(block, "Enabled", 0));
    EXPECT_EQ(std::vector<Call>{both[0]}, later.WaitFor(1, 10000));
    EXPECT_EQ(3u, other.WaitFor(3, 10000).size());
    EXPECT_EQ(1u, blocked.Calls().size()) << "the stopped connection took nothing more";

    // The abandoned worker ends once its call returns: the host still quits.
    blocked.Unblock();
    connect->Release();
    connect = nullptr;
    EXPECT_EQ(0u, remote.QuitAndWait());
}

} // namespace
