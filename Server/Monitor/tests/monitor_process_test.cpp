// The data-monitor connection of the real server program: a client process
// (this test) connects its callback, turns "TracewellOn" on for a block that
// the server polls from the simulated controller, and receives the block's
// requests and replies in turn.
#include <gtest/gtest.h>
#include <ole2.h>
#include <functional>
#include <string>
#include <vector>
#include "FrameSinkBase.h"
#include "server_session.h"

namespace {

using kivserver::I2;
using kivserver::Properties;

// Waits while serving calls that come into this apartment.
bool PumpUntil(const std::function<bool()> &done, DWORD timeoutMs = 15000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

// The tool's callback: records each frame with its direction.
class RecordingSink : public FrameSinkBase {
public:
    struct Frame {
        int direction;
        std::string bytes;
    };
    std::vector<Frame> frames;

protected:
    HRESULT OnFrame(int direction, BSTR frame) override
    {
        frames.push_back(Frame{direction, std::string(reinterpret_cast<const char *>(frame), SysStringByteLen(frame))});
        return S_OK;
    }
};

HRESULT SetTracewell(IQORDriver *driver, LONG block, short on)
{
    Properties p({{"TracewellOn", I2(on)}});
    VARIANT errors;
    VariantInit(&errors);
    HRESULT hr = driver->SetPropertyData(block, p.names, p.values, &errors);
    VariantClear(&errors);
    return hr;
}

TEST(MonitorProcess, AConnectedClientGetsTheRequestsAndRepliesOfABlockWithTracewellOn)
{
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    {
        kivserver::ServerSession session;
        ASSERT_TRUE(session.Prepare()) << session.failure;
        ASSERT_TRUE(session.Put(20, 0, {0xDE, 0xAD, 0x00, 0xEF}));
        ASSERT_TRUE(session.Configure({{"MonBlk", 9, "DB20,0", 4, 0.0f}, {"QuietBlk", 9, "DB21,0", 2, 0.0f}}))
            << session.failure << "\n" << session.Log();
        IQORDriver *driver = session.driver;
        LONG block = 0;
        VARIANT_BOOL found = VARIANT_FALSE;
        BSTR name = SysAllocString(L"MonBlk");
        ASSERT_EQ(S_OK, driver->ObjectName2Handle(name, &block, &found));
        SysFreeString(name);
        ASSERT_EQ(VARIANT_TRUE, found);

        ITracewellConnect *monitor = nullptr;
        ASSERT_EQ(S_OK, driver->QueryInterface(IID_ITracewellConnect, reinterpret_cast<void **>(&monitor)));
        RecordingSink sink;
        LONG cookie = -1;
        ASSERT_EQ(S_OK, monitor->Connect(&sink, 0, &cookie));
        EXPECT_EQ(0, cookie);
        EXPECT_EQ(E_UNEXPECTED, monitor->Connect(&sink, 0, &cookie));
        EXPECT_EQ(E_UNEXPECTED, monitor->Disconnect(1));

        // Polled, but nobody asked for its traffic yet.
        PumpUntil([] { return false; }, 500);
        EXPECT_TRUE(sink.frames.empty());

        ASSERT_EQ(S_OK, SetTracewell(driver, block, 1));
        ASSERT_TRUE(PumpUntil([&] { return sink.frames.size() >= 9; })) << sink.frames.size() << "\n" << session.Log();
        EXPECT_EQ(S_OK, SetTracewell(driver, block, 0));

        // From the first request on: request, reply, request, reply...
        size_t first = sink.frames[0].direction == 1 ? 0 : 1;
        for (size_t i = first; i + 1 < sink.frames.size(); i += 2) {
            const RecordingSink::Frame &sent = sink.frames[i], &received = sink.frames[i + 1];
            EXPECT_EQ(1, sent.direction) << i;
            EXPECT_NE(std::string::npos, sent.bytes.find("DB20")) << sent.bytes;
            EXPECT_EQ(0, received.direction) << i;
            EXPECT_EQ(std::string("\xDE\xAD\x00\xEF", 4), received.bytes) << i;
        }

        EXPECT_EQ(S_OK, monitor->Disconnect(0));
        EXPECT_TRUE(PumpUntil([&] { return sink.Refs() == 1; })) << "the server let the callback go";
        monitor->Release();
    }
    CoUninitialize();
}

} // namespace
