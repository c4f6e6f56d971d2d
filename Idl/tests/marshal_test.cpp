// The interfaces cross apartments (and so processes) by the type-library
// marshaller alone: with the library registered, an object in this thread's
// apartment is called through a proxy from another apartment, and every
// argument arrives in the member that the caller meant.

#include "QORDriver.h"
#include "StubObjects.h"
#include "TypeLibFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

class MarshalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        Ref<ITypeLib> lib;
        ASSERT_EQ(S_OK, LoadTypeLibEx(TypeLibPath().c_str(), REGKIND_NONE, lib.out()));
        // Registration is what installs the type-library marshaller for each
        // interface; the test prefix is made fresh for every run.
        std::wstring path = TypeLibPath();
        ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), &path[0], nullptr));
    }
    void TearDown() override { CoUninitialize(); }

    // Runs body on a new thread in a single-threaded apartment of its own,
    // with a proxy for object, which stays in this thread's apartment.
    template <class I> void CallFromOtherApartment(REFIID iid, I *object, const std::function<void(I *)> &body)
    {
        IStream *stream = nullptr;
        ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(iid, object, &stream));
        std::thread caller([&] {
            ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
            I *proxy = nullptr;
            HRESULT hr = CoGetInterfaceAndReleaseStream(stream, iid, reinterpret_cast<void **>(&proxy));
            EXPECT_EQ(S_OK, hr);
            if (SUCCEEDED(hr)) {
                EXPECT_NE(static_cast<void *>(object), static_cast<void *>(proxy)) << "a proxy, not the object";
                body(proxy);
                proxy->Release();
            }
            CoUninitialize();
        });
        caller.join();
        CoDisconnectObject(object, 0);
    }
};

TEST_F(MarshalTest, QORDriverCallsReachTheMemberMeantWithTheirArguments)
{
    StubDriver driver;
    LONG remaining = -1;
    HRESULT startWait = E_FAIL, startNoWait = E_FAIL, read = E_FAIL, parse = E_FAIL, reg = E_FAIL;
    VARIANT values, qualities, stamps;
    LONG deviceRef = 9, addressWord = 0, internalAddress = 0, block = 0;
    short index = 0;

    CallFromOtherApartment<IQORDriver>(IID_IQORDriver, &driver, [&](IQORDriver *p) {
        EXPECT_EQ(S_OK, p->put_KivRef(121167));
        EXPECT_EQ(S_OK, p->get_KivRef(&remaining));

        // The out VARIANTs may hold the caller's previous values.
        VariantInit(&values);
        V_VT(&values) = VT_I4;
        V_I4(&values) = 7;
        VariantInit(&qualities);
        VariantInit(&stamps);
        read = p->ReadData(0x1001, VT_R4, 3, -1, 2, 5, 100.5f, -20.25f, &values, &qualities, &stamps);

        BSTR text = SysAllocString(L"DB10,REAL4");
        parse = p->SetDataAddress(text, 0x0104, &deviceRef, &addressWord, &internalAddress, &block, &index);
        SysFreeString(text);

        reg = p->RegisterException(1, 0x2002, 0x11, 0x10000004, 0xAB, 0x1234, 0xCD, -5);
        startWait = p->Start(VARIANT_TRUE);
        startNoWait = p->Start(VARIANT_FALSE);
    });

    std::vector<std::string> expected = {"put_KivRef", "get_KivRef", "ReadData", "SetDataAddress",
                                         "RegisterException", "Start", "Start"};
    EXPECT_EQ(expected, driver.calls);

    EXPECT_EQ(121167, driver.kivKind);
    EXPECT_EQ(2, remaining);

    EXPECT_EQ(S_OK, read);
    EXPECT_EQ(0x1001, driver.read.block);
    EXPECT_EQ(VT_R4, driver.read.type);
    EXPECT_EQ(3, driver.read.start);
    EXPECT_EQ(-1, driver.read.bit);
    EXPECT_EQ(2, driver.read.count);
    EXPECT_EQ(5, driver.read.signal);
    EXPECT_EQ(100.5f, driver.read.high);
    EXPECT_EQ(-20.25f, driver.read.low);
    EXPECT_EQ(VT_I4, driver.read.valuesOnEntry) << "the previous value reaches the server";
    ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&values));
    LONG lo = -1, hi = -1;
    SafeArrayGetLBound(V_ARRAY(&values), 1, &lo);
    SafeArrayGetUBound(V_ARRAY(&values), 1, &hi);
    EXPECT_EQ(0, lo);
    EXPECT_EQ(1, hi);
    for (LONG i = 0; i <= hi; ++i) {
        VARIANT v;
        VariantInit(&v);
        ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(&values), &i, &v));
        EXPECT_EQ(VT_R4, V_VT(&v));
        EXPECT_EQ(1.5f + i, V_R4(&v));
    }
    EXPECT_EQ(VT_EMPTY, V_VT(&qualities));
    VariantClear(&values);

    EXPECT_EQ(S_OK, parse);
    EXPECT_EQ(L"DB10,REAL4", driver.address);
    EXPECT_EQ(0x0104, driver.itemWord);
    EXPECT_EQ(9, driver.deviceRefIn);
    EXPECT_EQ(77, deviceRef);
    EXPECT_EQ(0x11, addressWord);
    EXPECT_EQ(0x10000004, internalAddress);
    EXPECT_EQ(0x2002, block);
    EXPECT_EQ(3, index);

    EXPECT_EQ(S_OK, reg);
    EXPECT_EQ(1, driver.exc.on);
    EXPECT_EQ(0x2002, driver.exc.block);
    EXPECT_EQ(0x11, driver.exc.addressWord);
    EXPECT_EQ(0x10000004, driver.exc.internalAddress);
    EXPECT_EQ(0xAB, driver.exc.tag);
    EXPECT_EQ(0x1234, driver.exc.tagId);
    EXPECT_EQ(0xCD, driver.exc.kind);
    EXPECT_EQ(-5, driver.exc.hmi);

    EXPECT_EQ(S_OK, startWait);
    EXPECT_EQ(HRESULT(0xC1030320), startNoWait) << "a failing code passes through unchanged";
}

TEST_F(MarshalTest, AlarmConnectionCarriesTheCallbackIdentityAndCallsBack)
{
    StubConnectSink connections;
    RecordingAlarmSink sink; // used only from the caller's apartment
    HRESULT connect = E_FAIL, value = E_FAIL;
    LONG connection = 0, stored = 0;

    CallFromOtherApartment<IConnectSink>(IID_IConnectSink, &connections, [&](IConnectSink *p) {
        connect = p->Connect(IID_IAlarmMessageSink, &sink, 1, &connection);
        value = p->get_Value(connection, &stored);
    });

    EXPECT_EQ(S_OK, connect);
    EXPECT_EQ(GuidText(IID_IAlarmMessageSink), GuidText(connections.iid));
    EXPECT_EQ(1, connections.connectValue);
    EXPECT_EQ(5, connection);
    ASSERT_EQ(1u, sink.messages.size());
    EXPECT_EQ(L"Driver Started|QOR", sink.messages[0]);
    EXPECT_EQ(0x00010304, sink.lastCode);
    EXPECT_EQ(S_OK, value);
    EXPECT_EQ(1, stored);
}

// Frames are bytes in a byte-length BSTR: embedded zeros and high bytes must
// arrive as they were sent. (The frame has an even length: Wine 8 rounds an
// odd byte length up by one zero byte on unmarshalling, Windows keeps it.)
TEST_F(MarshalTest, DataMonitorFramesKeepTheirBytes)
{
    RecordingFrameSink sink;
    const char frame[] = {0x32, 0x00, static_cast<char>(0xFF), 0x07, 0x00, static_cast<char>(0x80)};
    HRESULT sent = E_FAIL;

    CallFromOtherApartment<ITracewellSink>(IID_ITracewellSink, &sink, [&](ITracewellSink *p) {
        BSTR b = SysAllocStringByteLen(frame, sizeof frame);
        sent = p->FrameSent(b);
        SysFreeString(b);
    });

    EXPECT_EQ(S_OK, sent);
    ASSERT_EQ(1u, sink.sent.size());
    EXPECT_EQ(std::string(frame, sizeof frame), sink.sent[0]);
}

} // namespace
