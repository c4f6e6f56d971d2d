// What the automation tests share: the automation object on a real
// configuration tree with a test host (test_host.h) and the message log
// recording, and VARIANT builders for the property-array protocol.
#pragma once
#include "DriverApp.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "EventCode.h"
#include "EventLogRecorder.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"
#include "tests/TypeLibFile.h"
#include "test_host.h"
#include "tests/config_values.h"
#include "tests/datablock_fixture.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace apptest {

// VARIANT builders; each result is owned by the caller (Variant clears it).
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    explicit Variant(const VARIANT &from) : v(from) {}
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

inline VARIANT Str(const std::string &text) { return configtest::Text(text); }
inline VARIANT I4(LONG n) { return configtest::I4(n); }
inline VARIANT I2(SHORT n) { return configtest::I2(n); }
inline VARIANT Empty()
{
    VARIANT v;
    VariantInit(&v);
    return v;
}
inline VARIANT Error(LONG code)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = code;
    return v;
}
// VT_ARRAY | VT_VARIANT of the elements (taken over).
inline VARIANT Array(std::vector<VARIANT> elements)
{
    SAFEARRAY *array = nullptr;
    CreateVariantSafeArray(LONG(elements.size()), &array);
    for (LONG i = 0; i < LONG(elements.size()); ++i) {
        SafeArrayPutElement(array, &i, &elements[size_t(i)]);
        VariantClear(&elements[size_t(i)]);
    }
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = array;
    return v;
}
inline VARIANT Names(std::initializer_list<const char *> names)
{
    std::vector<VARIANT> e;
    for (const char *n : names)
        e.push_back(Str(n));
    return Array(e);
}
// A reference to target (VT_BYREF | VT_VARIANT); target stays the caller's.
inline VARIANT RefTo(VARIANT *target)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = target;
    return v;
}

// The elements of a VT_ARRAY of VT_VARIANT or VT_BSTR (empty for anything else).
inline std::vector<VARIANT> Elements(const VARIANT &array)
{
    std::vector<VARIANT> out;
    const VARIANT *a = V_VT(&array) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&array) : &array;
    bool texts = V_VT(a) == (VT_ARRAY | VT_BSTR);
    if (V_VT(a) != (VT_ARRAY | VT_VARIANT) && !texts)
        return out;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(V_ARRAY(a), 1, &lo);
    SafeArrayGetUBound(V_ARRAY(a), 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        VARIANT v;
        VariantInit(&v);
        if (texts) {
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = nullptr;
            SafeArrayGetElement(V_ARRAY(a), &i, &V_BSTR(&v));
        } else {
            SafeArrayGetElement(V_ARRAY(a), &i, &v);
        }
        out.push_back(v);
    }
    return out;
}
// The codes of an errors array (VT_ERROR elements; -1 for any other).
inline std::vector<LONG> Codes(const VARIANT &errors)
{
    std::vector<LONG> codes;
    for (VARIANT &e : Elements(errors)) {
        codes.push_back(V_VT(&e) == VT_ERROR ? V_ERROR(&e) : -1);
        VariantClear(&e);
    }
    return codes;
}
inline std::string TextOf(const VARIANT &v)
{
    return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? ConfigValue::Narrow(V_BSTR(&v)) : std::string();
}
inline std::vector<std::string> Texts(const VARIANT &array)
{
    std::vector<std::string> out;
    for (VARIANT &e : Elements(array)) {
        out.push_back(TextOf(e));
        VariantClear(&e);
    }
    return out;
}
inline std::string Narrow(BSTR b) { return b ? ConfigValue::Narrow(b) : std::string(); }

// A BSTR argument that frees itself.
struct Bstr {
    BSTR b;
    explicit Bstr(const std::string &text) : b(SysAllocString(ConfigValue::Widen(text).c_str())) {}
    ~Bstr() { SysFreeString(b); }
    operator BSTR() const { return b; }
};

// The automation object with a host, a recording message log (its NT
// event log faked) and a new default tree on the stand-in S7 catalogue of
// the data-block tests. The acronym is the process's own, so that the
// tree's store and events and the object's registry defaults are this
// test program's alone.
class AppTest : public testing::Test {
protected:
    void SetUp() override
    {
        blocktest::UseCatalogue();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        acronym = "QA" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, DriverKey().c_str());
        DurationSeparators pinned;
        pinned.time = ":";
        pinned.decimal = ".";
        OverrideDurationSeparators(&pinned);
        log.reset(new CServerMsg("QOR"));
        for (LONG s : {SeverityInfo, SeverityWarning, SeverityError, SeverityDebug1, SeverityDebug2,
                       SeverityDebug3})
            log->SetSwitch(s, TRUE);
        log->SetView(&view);
        log->SetMessageBox(&boxes);
        log->AddEventSink(&events);
        log->OpenEventLog();
        ASSERT_EQ(S_OK, LoadTypeLibEx(TypeLibPath().c_str(), REGKIND_NONE, &typeLib));
        SetDriverErrorInfoHost(&host);
        BeforeCreate();
        app.reset(new CDriverApp(&host, acronym, "QOR I/O Server", "7.10"));
        host.app = app.get();
        ASSERT_TRUE(app->Initialize(typeLib));
        if (WithTree()) {
            ASSERT_EQ(S_OK, app->SetConfigurationRoot(nullptr));
        }
        driver = static_cast<IQORDriver *>(app.get());
    }
    void TearDown() override
    {
        app.reset();
        SetDriverErrorInfoHost(nullptr);
        if (typeLib)
            typeLib->Release();
        log->SetView(nullptr);
        log->RemoveEventSink(&events);
        log.reset();
        OverrideDurationSeparators(nullptr);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, DriverKey().c_str());
        CoUninitialize();
    }
    // Hooks for fixtures that need the registry set up first or no tree.
    virtual void BeforeCreate() {}
    virtual bool WithTree() { return true; }

    std::string DriverKey() const { return "Software\\Veltrane\\Drivers\\" + acronym; }

    bool Logged(const std::string &text) const
    {
        for (const std::string &t : view.Texts())
            if (t == text)
                return true;
        return false;
    }
    int LinesContaining(const std::string &part) const
    {
        int n = 0;
        for (const std::string &t : view.Texts())
            n += t.find(part) != std::string::npos;
        return n;
    }

    // Adds an object with name and further properties; its handle (0 on failure).
    LONG Add(const std::function<HRESULT(VARIANT, VARIANT, VARIANT *, LONG *)> &add, const char *name)
    {
        Variant names(Names({"Name"})), values(Array({Str(name)})), errors;
        LONG handle = 0;
        HRESULT hr = add(names.v, values.v, &errors.v, &handle);
        EXPECT_EQ(S_OK, hr) << name;
        return handle;
    }
    LONG AddChannel(const char *name)
    {
        return Add([&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddChannel(n, v, e, h); },
                   name);
    }
    LONG AddDevice(LONG channel, const char *name)
    {
        return Add([&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddDevice(channel, n, v, e, h); },
                   name);
    }
    LONG AddBlock(LONG device, const char *name)
    {
        return Add(
            [&](VARIANT n, VARIANT v, VARIANT *e, LONG *h) { return driver->AddDataBlock(device, n, v, e, h); },
            name);
    }
    // One property by the single-name form.
    HRESULT SetOne(LONG handle, const char *name, VARIANT value)
    {
        Variant n(Str(name)), v(value), e;
        return driver->SetPropertyData(handle, n.v, v.v, &e.v);
    }
    std::string GetText(LONG handle, const char *name)
    {
        Variant n(Str(name)), v, e;
        EXPECT_EQ(S_OK, driver->GetPropertyData(handle, n.v, &v.v, &e.v)) << name;
        VariantChangeType(&v.v, &v.v, 0, VT_BSTR);
        return TextOf(v.v);
    }

    std::string acronym;
    CEventLogRecorder eventLog;
    CRecordingLogView view;
    CRecordingMessageBox boxes;
    CRecordingEventSink events;
    std::unique_ptr<CServerMsg> log;
    ITypeLib *typeLib = nullptr;
    TestHost host;
    std::unique_ptr<CDriverApp> app;
    IQORDriver *driver = nullptr;
};

} // namespace apptest
