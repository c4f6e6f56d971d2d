// The automation object as a whole: result and error-information
// convention, handle kinds, names and files, registry defaults, client
// references and Quit, run control, the small interface parts, dispatch
// and the class factory. Calls go through the vtable as a client's would.
#include "app_fixture.h"
#include "CommonMemory.h"
#include "tests/fake_driver_clock.h"

using namespace apptest;

namespace {

const HRESULT kMemberException = HRESULT(0xC1050400);

// The error object a failing call left on this thread.
struct ErrorSeen {
    bool present = false;
    std::string source, description;
    GUID guid{};
};
ErrorSeen TakeErrorInfo()
{
    ErrorSeen seen;
    IErrorInfo *info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return seen;
    seen.present = true;
    BSTR s = nullptr;
    if (SUCCEEDED(info->GetSource(&s)))
        seen.source = Narrow(s);
    SysFreeString(s);
    s = nullptr;
    if (SUCCEEDED(info->GetDescription(&s)))
        seen.description = Narrow(s);
    SysFreeString(s);
    info->GetGUID(&seen.guid);
    info->Release();
    return seen;
}

using AppMembers = AppTest;

TEST_F(AppMembers, FailuresCarryErrorInformationAndSuccessesDoNot)
{
    SetErrorInfo(0, nullptr);
    LONG bogus = 0x7FFF1234;
    int clearsBefore = host.clears;
    EXPECT_EQ(E_INVALIDARG, driver->Poll(bogus));
    ErrorSeen seen = TakeErrorInfo();
    ASSERT_TRUE(seen.present);
    EXPECT_EQ("Veltrane.Hadrel", seen.source);
    EXPECT_TRUE(IsEqualGUID(IID_IDriver, seen.guid));
    EXPECT_EQ(clearsBefore + 1, host.clears) << "the document status is cleared";

    // A code of the message table carries its text.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(HRESULT(CFG_E_UNKNOWN_PROPERTY), SetOne(0, "NoSuchProperty", I4(1)));
    std::string expected;
    ASSERT_EQ(0u, log->GetMessageText(DWORD(CFG_E_UNKNOWN_PROPERTY), expected));
    seen = TakeErrorInfo();
    ASSERT_TRUE(seen.present);
    EXPECT_FALSE(seen.description.empty());
    EXPECT_EQ(0u, expected.find(seen.description)) << seen.description;

    SetErrorInfo(0, nullptr);
    VARIANT_BOOL running = 1;
    EXPECT_EQ(S_OK, driver->get_Running(&running));
    EXPECT_EQ(VARIANT_FALSE, running);
    EXPECT_FALSE(TakeErrorInfo().present);

    ISupportErrorInfo *support = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void **>(&support)));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IDriver));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IQORDriver));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDriverMessage));
    support->Release();
}

TEST_F(AppMembers, AnExceptionInAMemberIsLoggedAndAnswered)
{
    host.throwOnModified = true;
    VARIANT_BOOL saved = 0;
    EXPECT_EQ(kMemberException, driver->get_FileSaved(&saved));
    EXPECT_TRUE(Logged("IDriver::get_FileSaved():  Exception generated"));
    EXPECT_EQ(SeverityError, view.Lines()[0].severity);
    EXPECT_TRUE(TakeErrorInfo().present);

    // The poll stub's disconnection logs with the text of get_KivRef.
    LONG left = -1;
    ASSERT_EQ(S_OK, driver->put_PollRef(0));
    EXPECT_EQ(kMemberException, driver->get_PollRef(&left));
    EXPECT_TRUE(Logged("IDriver::get_KivRef():  Exception generated"));
    host.throwOnModified = false;
}

TEST_F(AppMembers, HandleKindsFollowTheLiveTree)
{
    LONG channel = AddChannel("Ch1");
    LONG device = AddDevice(channel, "Dev1");
    LONG block = AddBlock(device, "Blk1");
    LONG gone = AddChannel("Gone");
    ASSERT_EQ(S_OK, driver->RemoveChannel(gone));
    // A prototype is a live object but no part of the tree.
    Variant names;
    LONG count = 0;
    ASSERT_EQ(S_OK, driver->GetProperties(CDriverApp::KindChannel, &names.v, &count));

    struct Case { LONG handle; CDriverApp::HandleKind kind; HRESULT pollSwitch; };
    const Case cases[] = {
        {0, CDriverApp::KindDriver, E_INVALIDARG},
        {channel, CDriverApp::KindChannel, E_INVALIDARG},
        {device, CDriverApp::KindDevice, S_OK},
        {block, CDriverApp::KindDataBlock, E_INVALIDARG},
        {gone, CDriverApp::KindNone, E_INVALIDARG},
        {0x7FFFFFFF, CDriverApp::KindNone, E_INVALIDARG},
        {-1, CDriverApp::KindNone, E_INVALIDARG},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.kind, app->Classify(c.handle)) << c.handle;
        EXPECT_EQ(c.pollSwitch, driver->Switch(c.handle)) << c.handle;
        if (c.kind == CDriverApp::KindNone) {
            EXPECT_EQ(E_INVALIDARG, driver->Poll(c.handle)) << c.handle;
            Variant v, e;
            Variant n(Str("Name"));
            EXPECT_EQ(E_INVALIDARG, driver->GetPropertyData(c.handle, n.v, &v.v, &e.v)) << c.handle;
        }
    }
    EXPECT_EQ(CDriverApp::KindNone, app->Classify(LONG(app->Driver()->Handle())))
        << "the driver is named by handle 0 only";
}

TEST_F(AppMembers, NamesFilesAndDocumentCommands)
{
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, driver->get_Path(&text));
    std::string path = Narrow(text);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ('\\', path.back());
    ASSERT_EQ(S_OK, driver->get_FullName(&text));   // the previous string is freed
    std::string full = Narrow(text);
    EXPECT_EQ(0u, full.find(path));
    EXPECT_NE(std::string::npos, full.find(".exe"));
    ASSERT_EQ(S_OK, driver->get_Name(&text));
    EXPECT_EQ(acronym, Narrow(text));
    ASSERT_EQ(S_OK, driver->get_FullConfigFileName(&text));
    EXPECT_EQ(app->FullDefaultConfigFileName(), Narrow(text)) << "the default full name at first";

    // Default name and folder: set alone, never recomposed into the full name.
    std::string fullDefault = app->FullDefaultConfigFileName();
    EXPECT_EQ(S_OK, driver->put_DefaultConfigFileName(Bstr("plant.qor")));
    EXPECT_EQ(S_OK, driver->put_DefaultConfigFilePath(Bstr("D:\\Cfg\\")));
    EXPECT_EQ(E_INVALIDARG, driver->put_DefaultConfigFileName(nullptr));
    EXPECT_EQ(E_INVALIDARG, driver->put_DefaultConfigFilePath(nullptr));
    ASSERT_EQ(S_OK, driver->get_DefaultConfigFileName(&text));
    EXPECT_EQ("plant.qor", Narrow(text));
    ASSERT_EQ(S_OK, driver->get_DefaultConfigFilePath(&text));
    EXPECT_EQ("D:\\Cfg\\", Narrow(text));
    ASSERT_EQ(S_OK, driver->get_FullDefaultConfigFileName(&text));
    EXPECT_EQ(fullDefault, Narrow(text));

    EXPECT_EQ(S_OK, driver->FileSaveAs(Bstr("C:\\Plant\\line.qor")));
    ASSERT_EQ(S_OK, driver->get_ConfigFileName(&text));
    EXPECT_EQ("line.qor", Narrow(text));
    ASSERT_EQ(S_OK, driver->get_ConfigFilePath(&text));
    EXPECT_EQ("C:\\Plant\\", Narrow(text));
    EXPECT_EQ(S_OK, driver->FileSave());
    EXPECT_EQ(S_OK, driver->FileNew());
    EXPECT_EQ(S_OK, driver->FileOpen(Bstr("C:\\Plant\\other.qor")));
    ASSERT_EQ(S_OK, driver->get_FullConfigFileName(&text));
    EXPECT_EQ("C:\\Plant\\other.qor", Narrow(text));

    // The older CSV dialect: opened, but the names stay those of before.
    host.importOld = true;
    EXPECT_EQ(S_OK, driver->FileOpenEx(Bstr("C:\\Plant\\old.csv"), 1));
    host.importOld = false;
    ASSERT_EQ(S_OK, driver->get_FullConfigFileName(&text));
    EXPECT_EQ("C:\\Plant\\other.qor", Narrow(text));

    // A message-log report is no configuration file: the configuration keeps
    // its name, and its next save goes to its own file.
    EXPECT_EQ(S_OK, driver->FileSaveAs(Bstr("C:\\Plant\\report.LOG")));
    ASSERT_EQ(S_OK, driver->get_FullConfigFileName(&text));
    EXPECT_EQ("C:\\Plant\\other.qor", Narrow(text));
    ASSERT_EQ(S_OK, driver->get_ConfigFileName(&text));
    EXPECT_EQ("other.qor", Narrow(text));
    EXPECT_EQ(S_OK, driver->FileSave());

    // A failing command returns the document's code and changes no name.
    host.documentResult = HRESULT(0x8104000D);
    EXPECT_EQ(HRESULT(0x8104000D), driver->FileOpenEx(Bstr("C:\\Plant\\new.csv"), 0));
    EXPECT_EQ(HRESULT(0x8104000D), driver->FileSaveAs(Bstr("C:\\Plant\\x.qor")));
    EXPECT_EQ(HRESULT(0x8104000D), driver->FileNew());
    ASSERT_EQ(S_OK, driver->get_FullConfigFileName(&text));
    EXPECT_EQ("C:\\Plant\\other.qor", Narrow(text));
    host.documentResult = S_OK;
    EXPECT_EQ(E_INVALIDARG, driver->FileSaveAs(nullptr));
    EXPECT_EQ(E_INVALIDARG, driver->FileOpen(nullptr));
    SysFreeString(text);

    const std::vector<std::string> calls = {
        "Save C:\\Plant\\line.qor", "Save C:\\Plant\\line.qor", "New", "Open C:\\Plant\\other.qor 0",
        "Open C:\\Plant\\old.csv 1", "Save C:\\Plant\\report.LOG", "Save C:\\Plant\\other.qor", "Open C:\\Plant\\new.csv 0", "Save C:\\Plant\\x.qor", "New"};
    EXPECT_EQ(calls, host.calls);

    VARIANT_BOOL saved = 0;
    host.modified = true;
    ASSERT_EQ(S_OK, driver->get_FileSaved(&saved));
    EXPECT_EQ(VARIANT_FALSE, saved);
    host.modified = false;
    ASSERT_EQ(S_OK, driver->get_FileSaved(&saved));
    EXPECT_EQ(VARIANT_TRUE, saved);
}

// The driver's Name shows the product and version the object was made
// with, for a new tree and for one that knows neither, as a tree read from
// a file does.
TEST_F(AppMembers, TheDriversNameShowsTheProductAndItsVersion)
{
    EXPECT_EQ("QOR I/O Server, Version 7.10", GetText(0, "Name"));
    ASSERT_EQ(S_OK, app->SetConfigurationRoot(std::unique_ptr<CDriver>(new CDriver(acronym.c_str(), "", ""))));
    EXPECT_EQ("QOR I/O Server, Version 7.10", GetText(0, "Name"));
}

TEST_F(AppMembers, NullOutArgumentsAreRefused)
{
    const std::vector<std::pair<const char *, std::function<HRESULT()>>> calls = {
        {"get_Application", [&] { return driver->get_Application(nullptr); }},
        {"get_Name", [&] { return driver->get_Name(nullptr); }},
        {"get_Path", [&] { return driver->get_Path(nullptr); }},
        {"get_FullName", [&] { return driver->get_FullName(nullptr); }},
        {"get_ConfigFileName", [&] { return driver->get_ConfigFileName(nullptr); }},
        {"get_ConfigFilePath", [&] { return driver->get_ConfigFilePath(nullptr); }},
        {"get_FullConfigFileName", [&] { return driver->get_FullConfigFileName(nullptr); }},
        {"get_DefaultConfigFileName", [&] { return driver->get_DefaultConfigFileName(nullptr); }},
        {"get_DefaultConfigFilePath", [&] { return driver->get_DefaultConfigFilePath(nullptr); }},
        {"get_FullDefaultConfigFileName", [&] { return driver->get_FullDefaultConfigFileName(nullptr); }},
        {"get_FileSaved", [&] { return driver->get_FileSaved(nullptr); }},
        {"get_Visible", [&] { return driver->get_Visible(nullptr); }},
        {"get_Running", [&] { return driver->get_Running(nullptr); }},
        {"get_KivRef", [&] { return driver->get_KivRef(nullptr); }},
        {"get_PollRef", [&] { return driver->get_PollRef(nullptr); }},
        {"GetTypeInfoCount", [&] { return driver->GetTypeInfoCount(nullptr); }},
        {"GetTypeInfo", [&] { return driver->GetTypeInfo(0, 0, nullptr); }},
        {"QueryInterface", [&] { return driver->QueryInterface(IID_IDriver, nullptr); }},
    };
    for (const auto &c : calls)
        EXPECT_EQ(E_INVALIDARG, c.second()) << c.first;
    EXPECT_EQ(E_NOTIMPL, driver->ReservedMethod1(1, 2, 3, 4, 5, 6));
    EXPECT_EQ(E_NOTIMPL, driver->ReservedMethod2(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12));
}

TEST_F(AppMembers, VisibleShowsOnlyForTrue)
{
    const std::pair<VARIANT_BOOL, bool> cases[] = {{-1, true}, {1, false}, {-1, true}, {0, false}, {2, false}};
    for (const auto &c : cases) {
        ASSERT_EQ(S_OK, driver->put_Visible(c.first));
        EXPECT_EQ(c.second, host.visible) << c.first;
        VARIANT_BOOL visible = 7;
        ASSERT_EQ(S_OK, driver->get_Visible(&visible));
        EXPECT_EQ(c.second ? VARIANT_TRUE : VARIANT_FALSE, visible);
    }
}

// The four words of the driver's status block: state, HMI, OPC, poll stub.
std::vector<uint16_t> StatusWords(CDriver *d)
{
    uint16_t words[8] = {};
    if (!d->Store() || !d->HasStatusBlock())
        return {};
    d->Store()->GetDataBlock(d->StatusBlockIndex(), sizeof words, words, 0, 1);
    return {words[0], words[2], words[4], words[6]};
}

TEST_F(AppMembers, ClientReferencesAndQuit)
{
    IOPCConnections *opc = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IOPCConnections, reinterpret_cast<void **>(&opc)));
    LONG n = -1;

    // Disconnections without a connection never take a count below 0.
    EXPECT_EQ(S_OK, driver->get_KivRef(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(S_OK, driver->get_PollRef(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(S_OK, opc->Disconnect(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(0, app->KivRefs());
    EXPECT_EQ(0, app->OpcClients());

    // Only OPC clients: Quit closes the window.
    EXPECT_EQ(S_OK, opc->Connect(&n));
    EXPECT_EQ(1, n);
    EXPECT_EQ(S_OK, driver->Quit());
    EXPECT_EQ(1, host.closes);
    host.closeFails = true;
    EXPECT_EQ(E_FAIL, driver->Quit());
    host.closeFails = false;

    // Three HMI references (one the Morrit task), one OPC client, the poll
    // stub going: the Morrit reference goes first, then one more.
    ASSERT_EQ(S_OK, driver->put_KivRef(121167));
    ASSERT_EQ(S_OK, driver->put_KivRef(5));
    ASSERT_EQ(S_OK, driver->put_KivRef(5));
    ASSERT_EQ(S_OK, driver->put_PollRef(0));
    EXPECT_TRUE(app->MorritConnected());
    EXPECT_EQ((std::vector<uint16_t>{0, 3, 1, 1}), StatusWords(app->Driver()));
    EXPECT_EQ(kMemberException, driver->Quit());
    EXPECT_TRUE(Logged("IDriver::Quit():  Denied, Brenta app. connected"));
    EXPECT_EQ(1 + 1, host.closes);
    host.modified = true;
    ASSERT_EQ(S_OK, driver->get_PollRef(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(1, app->KivRefs()) << "down to the OPC count";
    EXPECT_FALSE(app->MorritConnected());
    EXPECT_TRUE(Logged("Releasing Brenta Morrit reference"));
    EXPECT_EQ(1, LinesContaining("Releasing Brenta KIV reference"));
    EXPECT_TRUE(Logged("Saving config file on Brenta app. release"));
    EXPECT_EQ("Save " + app->FullConfigFileName(), host.calls.back());
    EXPECT_EQ((std::vector<uint16_t>{0, 1, 1, 0}), StatusWords(app->Driver()));
    for (const char *line : {"Brenta Morrit connected", "Brenta KIV component connected",
                             "Brenta poll stub connected", "Brenta poll stub disconnected",
                             "OPC client connected", "OPC client disconnected"})
        EXPECT_TRUE(Logged(line)) << line;

    EXPECT_EQ(S_OK, driver->get_KivRef(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(S_OK, driver->get_KivRef(&n));
    EXPECT_EQ(0, n) << "a dispatch client reading KivRef cannot lock Quit out";
    EXPECT_EQ(S_OK, opc->GetCount(&n));
    EXPECT_EQ(1, n);
    EXPECT_EQ(S_OK, driver->Quit());
    EXPECT_EQ(E_INVALIDARG, opc->Connect(nullptr));
    EXPECT_EQ(E_INVALIDARG, opc->Disconnect(nullptr));
    EXPECT_EQ(E_INVALIDARG, opc->GetCount(nullptr));

    app->SetServerState(7);
    app->ClearClientCounts();
    EXPECT_EQ((std::vector<uint16_t>{7, 0, 0, 0}), StatusWords(app->Driver()));
    opc->Release();
}

using configtest::FakeClock;
using configtest::FakeSleep;
using configtest::g_clock;
using configtest::g_slept;

TEST_F(AppMembers, StartAndStop)
{
    while (PendingProcessorDestroys() > 0)
        Sleep(1);
    g_clock = 130000000000000000ull;
    g_slept.clear();
    SetDriverClock(FakeClock, FakeSleep);
    ASSERT_EQ(S_OK, SetOne(0, "SendEvents", I2(1)));
    EXPECT_EQ(S_OK, driver->Start(VARIANT_FALSE));
    VARIANT_BOOL running = 0;
    ASSERT_EQ(S_OK, driver->get_Running(&running));
    EXPECT_EQ(VARIANT_TRUE, running);
    EXPECT_EQ(S_OK, driver->Stop());
    while (PendingProcessorDestroys() > 0)
        Sleep(1);

    g_clock += 20000000;   // 2 s later
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(HRESULT(CFG_E_START_TOO_SOON), driver->Start(VARIANT_FALSE));
    ErrorSeen seen = TakeErrorInfo();
    ASSERT_TRUE(seen.present);
    EXPECT_FALSE(seen.description.empty()) << "the message table's text";
    EXPECT_EQ(S_OK, driver->StartWait());
    EXPECT_EQ(std::vector<DWORD>{3000}, g_slept);
    EXPECT_EQ(S_OK, driver->Stop());
    SetDriverClock(nullptr, nullptr);

    std::vector<CRecordingEventSink::Event> sent = events.Events();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ("Driver Started", sent[0].text);
    EXPECT_EQ(acronym, sent[0].source);
    EXPECT_EQ(CEventCode(4, 3, 1).Value(), sent[0].eventCode);
    EXPECT_EQ("Driver Stopped", sent[1].text);
    EXPECT_EQ(CEventCode(4, 3, 2).Value(), sent[1].eventCode);
    EXPECT_EQ(2, LinesContaining("Driver Started"));
}

TEST_F(AppMembers, MessagePartLogsUnlessImporting)
{
    IDriverMessage *message = nullptr;
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IDriverMessage, reinterpret_cast<void **>(&message)));
    const std::pair<std::function<HRESULT(BSTR)>, LONG> members[] = {
        {[&](BSTR t) { return message->LogInfo(t); }, SeverityInfo},
        {[&](BSTR t) { return message->LogWarning(t); }, SeverityWarning},
        {[&](BSTR t) { return message->LogError(t); }, SeverityError},
        {[&](BSTR t) { return message->LogFatal(t); }, SeverityFatal},
    };
    for (const auto &m : members) {
        size_t before = view.Lines().size();
        host.importing = true;
        EXPECT_EQ(S_FALSE, m.first(Bstr("while importing")));
        EXPECT_EQ(before, view.Lines().size());
        host.importing = false;
        EXPECT_EQ(S_OK, m.first(Bstr("client line")));
        ASSERT_EQ(before + 1, view.Lines().size());
        EXPECT_EQ("client line", view.Lines()[0].text);
        EXPECT_EQ(m.second, view.Lines()[0].severity);
    }
    EXPECT_EQ(1u, boxes.Boxes().size()) << "the fatal line's box";

    // Every part answers for the one identity.
    LONG before = host.refs;
    IUnknown *unknown = nullptr;
    ASSERT_EQ(S_OK, message->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown *>(static_cast<IQORDriver *>(app.get())), unknown);
    EXPECT_EQ(before + 1, host.refs);
    unknown->Release();
    message->Release();
    UINT count = 0;
    EXPECT_EQ(S_OK, message->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
}

TEST_F(AppMembers, DispatchThroughTheDriverTypeInformation)
{
    ITypeInfo *info = nullptr;
    EXPECT_EQ(DISP_E_BADINDEX, driver->GetTypeInfo(1, 0, &info));
    ASSERT_EQ(S_OK, driver->GetTypeInfo(0, 0, &info));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(IID_IDriver, attr->guid));
    info->ReleaseTypeAttr(attr);
    info->Release();

    IDispatch *application = nullptr;
    ASSERT_EQ(S_OK, driver->get_Application(&application));
    EXPECT_EQ(static_cast<IDispatch *>(driver), application);
    application->Release();

    // A failure through Invoke arrives as an exception with the error info.
    LPOLESTR name = const_cast<LPOLESTR>(L"RemoveChannel");
    DISPID id = 0;
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    VARIANT arg = I4(0x7FFF0001);
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXCEPINFO exception = {};
    Variant result;
    UINT argError = 0;
    EXPECT_EQ(DISP_E_EXCEPTION,
              driver->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result.v, &exception, &argError));
    EXPECT_EQ(E_INVALIDARG, exception.scode);
    EXPECT_EQ("Veltrane.Hadrel", Narrow(exception.bstrSource));
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    // The property-array protocol as a script client uses it: out arguments
    // by reference, the errors array made by the member.
    name = const_cast<LPOLESTR>(L"AddChannel");
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    Variant names(Names({"Name", "Description"})), values(Array({Str("Script"), Str("by dispatch")})), errors;
    LONG handle = 0;
    VARIANT add[4];   // in reverse order
    VariantInit(&add[0]);
    V_VT(&add[0]) = VT_BYREF | VT_I4;
    V_I4REF(&add[0]) = &handle;
    add[1] = RefTo(&errors.v);
    add[2] = RefTo(&values.v);
    add[3] = RefTo(&names.v);
    DISPPARAMS addParams = {add, nullptr, 4, 0};
    ASSERT_EQ(S_OK, driver->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &addParams, nullptr, nullptr, nullptr));
    EXPECT_EQ((std::vector<LONG>{0, 0}), Codes(errors.v));
    EXPECT_EQ(CDriverApp::KindChannel, app->Classify(handle));
    EXPECT_EQ("by dispatch", GetText(handle, "Description"));

    // A property through dispatch.
    name = const_cast<LPOLESTR>(L"Name");
    ASSERT_EQ(S_OK, driver->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    Variant got;
    ASSERT_EQ(S_OK, driver->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &got.v, nullptr, nullptr));
    EXPECT_EQ(acronym, TextOf(got.v));
}

// Registry defaults are read at initialisation and written back at the end.
class RegistryDefaults : public AppTest {
protected:
    void BeforeCreate() override
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (DriverKey() + "\\DriverDefaults").c_str(), 0,
                                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        // A folder of 150 characters without its backslash: the appended one
        // must neither be lost nor overrun what follows.
        folder = "C:\\" + std::string(147, 'f');
        RegSetValueExA(key, "DriverDefaultConfigFilePath", 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                       DWORD(folder.size() + 1));
        RegSetValueExA(key, "DriverDefaultConfigFileName", 0, REG_SZ, reinterpret_cast<const BYTE *>(fileName),
                       DWORD(strlen(fileName) + 1));
        DWORD save = 0;
        RegSetValueExA(key, "FileSaveOnBrentaExit", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&save),
                       sizeof save);
        RegCloseKey(key);
    }
    std::string ReadText(const char *name)
    {
        char buffer[1024] = {};
        DWORD size = sizeof buffer;
        RegGetValueA(HKEY_LOCAL_MACHINE, (DriverKey() + "\\DriverDefaults").c_str(), name, RRF_RT_REG_SZ, nullptr,
                     buffer, &size);
        return buffer;
    }
    std::string folder;
    const char *fileName = "Plant";
};

TEST_F(RegistryDefaults, NameGetsTheDriverExtensionAndFolderItsBackslash)
{
    EXPECT_EQ(folder + "\\", app->DefaultConfigFilePath());
    EXPECT_EQ("Plant." + std::string("qa") + std::to_string(GetCurrentProcessId()), app->DefaultConfigFileName());
    EXPECT_EQ(folder + "\\Plant.qa" + std::to_string(GetCurrentProcessId()), app->FullDefaultConfigFileName());
    EXPECT_EQ(app->FullDefaultConfigFileName(), app->FullConfigFileName());
    EXPECT_FALSE(app->SaveOnRelease());
    EXPECT_EQ(0, LinesContaining("Error reading system registry"));

    // A name with a dot is kept; the values go back at the end.
    ASSERT_EQ(S_OK, driver->put_DefaultConfigFileName(Bstr("line.v2")));
    app.reset();
    EXPECT_EQ("line.v2", ReadText("DriverDefaultConfigFileName"));
    EXPECT_EQ(folder + "\\", ReadText("DriverDefaultConfigFilePath"));
}

class RegistryDottedName : public RegistryDefaults {
protected:
    RegistryDottedName() { fileName = "plant.cfg"; }
};

TEST_F(RegistryDottedName, ANameWithADotIsKept)
{
    EXPECT_EQ("plant.cfg", app->DefaultConfigFileName());
    EXPECT_EQ(folder + "\\plant.cfg", app->FullConfigFileName());
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_ConfigFileName(&name));
    EXPECT_EQ("plant.cfg", Narrow(name));
    SysFreeString(name);
}

TEST_F(AppMembers, MissingDefaultsAreLoggedAndTheProgramFolderUsed)
{
    EXPECT_TRUE(Logged("Error reading system registry:  DriverApp"));
    BSTR path = nullptr;
    ASSERT_EQ(S_OK, driver->get_Path(&path));
    EXPECT_EQ(Narrow(path), app->DefaultConfigFilePath());
    SysFreeString(path);
    EXPECT_TRUE(app->SaveOnRelease());
}

TEST(AppInitialization, WithoutTypeInformationTheObjectIsUnusable)
{
    CRecordingLogView view;
    CServerMsg log("QOR");
    log.SetSwitch(SeverityError, TRUE);
    log.SetView(&view);
    TestHost host;
    CDriverApp app(&host, "QAInit", "QOR I/O Server", "7.10");
    host.app = &app;
    EXPECT_FALSE(app.Initialize(nullptr));
    EXPECT_EQ("Failed to load type information for interface IDriver", view.Texts()[0]);
    ITypeInfo *info = nullptr;
    EXPECT_EQ(E_FAIL, app.GetTypeInfo(0, 0, &info));
    log.SetView(nullptr);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QAInit");
}

// The class factory hands the one object to every client.
class Factory : public AppTest {
protected:
    bool WithTree() override { return false; }
};

TEST_F(Factory, OneObjectForEveryClientAndOneTableEntry)
{
    CDriverAppFactory *factory = new CDriverAppFactory;
    IUnknown *object = nullptr;
    EXPECT_EQ(E_UNEXPECTED, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(&object)));
    TestHost factoryHost;
    ASSERT_EQ(S_OK, factory->StartUp(&factoryHost, acronym + "F", "QOR I/O Server", "7.10", typeLib));
    factoryHost.app = factory->App();
    ASSERT_NE(nullptr, factory->App());

    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(reinterpret_cast<IUnknown *>(&factoryHost), IID_IUnknown,
                                      reinterpret_cast<void **>(&object)));
    IQORDriver *first = nullptr, *second = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IQORDriver, reinterpret_cast<void **>(&first)));
    IUnknown *active = nullptr;
    ASSERT_EQ(S_OK, GetActiveObject(CLSID_QORDriver, nullptr, &active)) << "the running-object table entry";
    active->Release();
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IQORDriver, reinterpret_cast<void **>(&second)));
    EXPECT_EQ(first, second);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void **>(&object)));
    first->Release();
    second->Release();

    IClassFactory *asFactory = nullptr;
    EXPECT_EQ(E_INVALIDARG, factory->QueryInterface(IID_IClassFactory, nullptr));
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDriver, reinterpret_cast<void **>(&asFactory)));
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void **>(&asFactory)));
    EXPECT_EQ(static_cast<IClassFactory *>(factory), asFactory);
    EXPECT_EQ(1u, asFactory->Release());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));

    factory->Shutdown();
    EXPECT_EQ(nullptr, factory->App());
    EXPECT_NE(S_OK, GetActiveObject(CLSID_QORDriver, nullptr, &active)) << "revoked";
    EXPECT_EQ(0u, factory->Release());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (DriverKey() + "F").c_str());
}

TEST_F(Factory, StartUpFailureIsLoggedAsFatal)
{
    CDriverAppFactory *factory = new CDriverAppFactory;
    TestHost factoryHost;
    EXPECT_EQ(E_FAIL, factory->StartUp(&factoryHost, acronym + "F", "QOR I/O Server", "7.10", nullptr));
    EXPECT_EQ(nullptr, factory->App());
    EXPECT_TRUE(Logged("Server object initialization error:  DriverApp"));
    EXPECT_EQ(1u, boxes.Boxes().size());
    factory->Release();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (DriverKey() + "F").c_str());
}

TEST_F(Factory, WithoutATreeTheTreeMembersFail)
{
    LONG count = 5;
    Variant names;
    EXPECT_EQ(E_FAIL, driver->GetConfiguredVFDList(Bstr("CPBLK"), &names.v, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(E_INVALIDARG, driver->Poll(0));
    EXPECT_EQ(E_FAIL, driver->StartWait());
    ASSERT_EQ(S_OK, app->SetConfigurationRoot(nullptr));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_Name(&name));
    EXPECT_EQ(acronym, Narrow(name));
    SysFreeString(name);
    EXPECT_EQ(S_OK, driver->GetConfiguredVFDList(Bstr("CPBLK"), &names.v, &count));
    EXPECT_EQ(std::vector<std::string>{"VFDBLK"}, Texts(names.v));
}

} // namespace
