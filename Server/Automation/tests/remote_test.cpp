// The automation object in another process: the host program registers the
// class object, this process gets the object through the class factory and
// makes its calls through the type-library marshaller, then quits the host.
#include "remote_host.h"

using namespace apptest;

namespace {

class RemoteDriver : public testing::Test {
protected:
    void SetUp() override
    {
        remote.Start(COINIT_APARTMENTTHREADED);
        driver = remote.driver;
        acronym = remote.acronym;
        process = remote.process;
    }
    void TearDown() override
    {
        remote.driver = driver;   // the test may have released it already
        remote.Stop();
    }

    RemoteHost remote;
    std::string acronym;
    PROCESS_INFORMATION process = {};
    IQORDriver *driver = nullptr;
};

TEST_F(RemoteDriver, TheSameCallsAcrossProcesses)
{
    ASSERT_NE(nullptr, driver);
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_Name(&name));
    EXPECT_EQ(acronym, Narrow(name));
    SysFreeString(name);

    // Arrays of VARIANTs both ways: a channel with properties and its errors.
    Variant names(Names({"Name", "PrimaryCPName", "Colour"})), values(Array({Str("Ch1"), Str("CPBLK"), I4(1)}));
    Variant errors;
    LONG channel = -1;
    EXPECT_EQ(S_FALSE, driver->AddChannel(names.v, values.v, &errors.v, &channel));
    EXPECT_EQ((std::vector<LONG>{0, 0, CFG_E_UNKNOWN_PROPERTY}), Codes(errors.v));
    Variant goodNames(Names({"Name", "PrimaryCPName"})), goodValues(Array({Str("Ch1"), Str("CPBLK")}));
    Variant goodErrors;
    ASSERT_EQ(S_OK, driver->AddChannel(goodNames.v, goodValues.v, &goodErrors.v, &channel));
    LONG device = 0;
    Variant devNames(Names({"Name", "PrimaryConnName"})), devValues(Array({Str("Dev1"), Str("PLCBLK1")}));
    Variant devErrors;
    ASSERT_EQ(S_OK, driver->AddDevice(channel, devNames.v, devValues.v, &devErrors.v, &device));

    Variant readNames(Names({"Name", "PrimaryCPName", "DeviceCount"})), readValues, readErrors;
    ASSERT_EQ(S_OK, driver->GetPropertyData(channel, readNames.v, &readValues.v, &readErrors.v));
    std::vector<std::string> texts = Texts(readValues.v);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("Ch1", texts[0]);
    EXPECT_EQ("CPBLK", texts[1]);

    Variant handles, childNames;
    LONG count = 0;
    ASSERT_EQ(S_OK, driver->GetDevices(channel, &handles.v, &childNames.v, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(std::vector<std::string>{"Dev1"}, Texts(childNames.v));
    LONG found = 0;
    VARIANT_BOOL match = 0;
    ASSERT_EQ(S_OK, driver->ObjectName2Handle(Bstr("DEV1"), &found, &match));
    EXPECT_EQ(device, found);
    EXPECT_EQ(VARIANT_TRUE, match);

    // Addresses and the block's bytes.
    LONG ref = 0, word = 0, internal = 0, block = 0;
    short index = 0;
    ASSERT_EQ(S_OK, driver->SetDataAddress(Bstr("Dev1 DB10,4"), 3, &ref, &word, &internal, &block, &index));
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, driver->GetDataAddress(word, internal, block, 3, &text));
    EXPECT_EQ("Dev1:DB10,4", Narrow(text));
    SysFreeString(text);
    Variant raw;
    ASSERT_EQ(S_OK, driver->GetRawDataBlockContent(block, &raw.v));
    EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&raw.v));
    Variant cps;
    ASSERT_EQ(S_OK, driver->GetConfiguredCPList(&cps.v, &count));
    EXPECT_EQ(std::vector<std::string>{"CPBLK"}, Texts(cps.v));

    // Failing codes arrive unchanged; the error text travels with dispatch.
    EXPECT_EQ(E_INVALIDARG, driver->RemoveChannel(device));
    Variant colour(Str("Colour")), one(I4(1)), noErrors;
    EXPECT_EQ(HRESULT(CFG_E_UNKNOWN_PROPERTY), driver->SetPropertyData(device, colour.v, one.v, &noErrors.v));
    LPOLESTR member = const_cast<LPOLESTR>(L"SetPropertyData");
    DISPID id = 0;
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &member, 1, 0, &id));
    Variant dispErrors;
    VARIANT args[4];   // in reverse order
    args[3] = I4(device);
    args[2] = Str("Colour");
    args[1] = I4(1);
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = &dispErrors.v;
    DISPPARAMS params = {args, nullptr, 4, 0};
    EXCEPINFO exception = {};
    UINT argError = 0;
    EXPECT_EQ(DISP_E_EXCEPTION,
              driver->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &exception, &argError));
    EXPECT_EQ(HRESULT(CFG_E_UNKNOWN_PROPERTY), exception.scode);
    EXPECT_EQ("Veltrane.Hadrel", Narrow(exception.bstrSource));
    EXPECT_FALSE(Narrow(exception.bstrDescription).empty()) << "the message table's text";
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&args[2]);

    // ReadData as a script client calls it across processes: by name, the
    // three arrays by reference, each made by the server.
    LPOLESTR readMember = const_cast<LPOLESTR>(L"ReadData");
    DISPID readId = 0;
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &readMember, 1, 0, &readId));
    Variant byValues, byQualities, byStamps, readResult;
    VARIANT readArgs[11] = {RefTo(&byStamps.v), RefTo(&byQualities.v), RefTo(&byValues.v), configtest::R4(0),
                            configtest::R4(100), I2(0), I4(4), I4(0), I4(0), I2(VT_I4), I4(block)};   // reversed
    DISPPARAMS readParams = {readArgs, nullptr, 11, 0};
    ASSERT_EQ(S_OK, driver->Invoke(readId, IID_NULL, 0, DISPATCH_METHOD, &readParams, &readResult.v, nullptr,
                                   nullptr));
    for (Variant *array : {&byValues, &byQualities, &byStamps})
        EXPECT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&array->v));

    // The parts through the same identity.
    IOPCConnections *opc = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IOPCConnections, reinterpret_cast<void **>(&opc)));
    EXPECT_EQ(S_OK, opc->Connect(&count));
    EXPECT_EQ(1, count);
    opc->Release();
    IDriverMessage *message = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IDriverMessage, reinterpret_cast<void **>(&message)));
    EXPECT_EQ(S_OK, message->LogInfo(Bstr("from the client")));
    message->Release();

    // An HMI client holds Quit off; once it goes the host closes.
    ASSERT_EQ(S_OK, driver->put_KivRef(7));
    EXPECT_EQ(HRESULT(0xC1050400), driver->Quit());
    ASSERT_EQ(S_OK, driver->get_KivRef(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(S_OK, driver->Quit());
    driver->Release();
    driver = nullptr;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000)) << "the host did not quit";
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
}

} // namespace
