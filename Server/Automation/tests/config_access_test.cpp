// Configuration access through the automation object: the property-array
// protocol as tables of VARIANT shapes with their results, per-property
// codes and the tree afterwards; building, reading back and taking apart a
// tree of channels, devices and blocks; child lists, names and searches.
#include "app_fixture.h"

using namespace apptest;

namespace {

const HRESULT kReadFailed = HRESULT(0xC1050403);
const HRESULT kResultNotStored = HRESULT(0xC1050404);

// An existing errors array of n elements.
VARIANT ErrorsArray(LONG n)
{
    std::vector<VARIANT> e(size_t(n), Empty());
    return Array(e);
}

using ConfigAccess = AppTest;

struct AddCase {
    const char *label;
    std::function<VARIANT()> names, values, errors;
    HRESULT result;
    std::vector<LONG> codes;     // the errors array afterwards
    size_t channels;             // channels in the tree afterwards
};

TEST_F(ConfigAccess, AddChannelArrayProtocol)
{
    AddChannel("Ch1");
    Variant byRefNames(Names({"Name"})), byRefValues(Array({Str("ByRef")}));
    const AddCase cases[] = {
        {"no properties", Empty, Empty, Empty, S_OK, {}, 2},
        {"a name and a value", [] { return Names({"Name"}); }, [] { return Array({Str("Two")}); }, Empty, S_OK,
         {0}, 3},
        {"an unknown property makes nothing", [] { return Names({"Name", "Colour"}); },
         [] { return Array({Str("Three"), I4(1)}); }, Empty, S_FALSE, {0, CFG_E_UNKNOWN_PROPERTY}, 3},
        {"a name taken in the tree", [] { return Names({"Name"}); }, [] { return Array({Str("CH1")}); }, Empty,
         S_FALSE, {CFG_E_NAME_USED}, 3},
        {"names and values by reference", [&] { return RefTo(&byRefNames.v); },
         [&] { return RefTo(&byRefValues.v); }, [] { return ErrorsArray(1); }, S_OK, {0}, 4},
        {"a name that is no text", [] { return Array({I4(42)}); }, [] { return Array({I4(1)}); }, Empty,
         kReadFailed, {}, 4},
        {"a name left empty", [] { return Array({Str("Name"), Empty()}); },
         [] { return Array({Str("Nine"), I4(1)}); }, Empty, kReadFailed, {}, 4},
        {"an empty name is unknown", [] { return Names({"Name", ""}); }, [] { return Array({Str("Ten"), I4(1)}); },
         Empty, S_FALSE, {0, CFG_E_UNKNOWN_PROPERTY}, 4},
        {"more values than names", [] { return Names({"Name"}); }, [] { return Array({Str("Ten"), I4(1)}); },
         Empty, E_INVALIDARG, {}, 4},
        {"names without values", [] { return Names({"Name"}); }, Empty, Empty, E_INVALIDARG, {}, 4},
        {"one name as a string", [] { return Str("Name"); }, [] { return Str("Five"); }, Empty, E_INVALIDARG,
         {}, 4},
        {"errors of another shape", [] { return Names({"Name"}); }, [] { return Array({Str("Six")}); },
         [] { return I4(0); }, E_INVALIDARG, {}, 4},
        {"fewer values than names", [] { return Names({"Name", "Description"}); },
         [] { return Array({Str("Seven")}); }, Empty, kReadFailed, {}, 4},
        {"an errors array too short", [] { return Names({"Name", "Description"}); },
         [] { return Array({Str("Eight"), Str("d")}); }, [] { return ErrorsArray(1); }, kResultNotStored, {0}, 4},
        {"an empty names array applies nothing", [] { return Array({}); }, Empty, Empty, S_OK, {}, 5},
    };
    for (const AddCase &c : cases) {
        Variant names(c.names()), values(c.values()), errors(c.errors());
        host.modified = false;
        LONG handle = -1;
        EXPECT_EQ(c.result, driver->AddChannel(names.v, values.v, &errors.v, &handle)) << c.label;
        EXPECT_EQ(c.codes, Codes(errors.v)) << c.label;
        EXPECT_EQ(c.channels, app->Driver()->Channels().size()) << c.label;
        EXPECT_EQ(c.result == S_OK, host.modified) << c.label;
        if (c.result == S_OK) {
            EXPECT_EQ(CDriverApp::KindChannel, app->Classify(handle)) << c.label;
        }
    }
    EXPECT_EQ("ByRef", app->Driver()->Channels()[3]->Name());
    Variant n, v, e;
    EXPECT_EQ(E_INVALIDARG, driver->AddChannel(n.v, v.v, &e.v, nullptr));
    EXPECT_EQ(E_INVALIDARG, driver->AddChannel(n.v, v.v, nullptr, nullptr));
}

struct SetCase {
    const char *label;
    std::function<VARIANT()> names, values, errors;
    HRESULT result;
    std::vector<LONG> codes;
    const char *description;     // the device's Description afterwards
    bool modified;
};

TEST_F(ConfigAccess, SetPropertyDataArrayProtocol)
{
    LONG device = AddDevice(AddChannel("Ch1"), "Dev1");
    const SetCase cases[] = {
        {"one name", [] { return Str("Description"); }, [] { return Str("one"); }, Empty, S_OK, {}, "one", true},
        {"one name, its own failure rather than S_FALSE", [] { return Str("Colour"); }, [] { return I4(1); },
         [] { return Error(7); }, CFG_E_UNKNOWN_PROPERTY, {}, "one", false},
        {"one name, a value array", [] { return Str("Description"); }, [] { return Array({Str("x")}); }, Empty,
         E_INVALIDARG, {}, "one", false},
        {"one name, an errors array", [] { return Str("Description"); }, [] { return Str("x"); },
         [] { return ErrorsArray(1); }, E_INVALIDARG, {-1}, "one", false},
        {"names of another type", [] { return I4(3); }, [] { return Str("x"); }, Empty, E_INVALIDARG, {}, "one",
         false},
        {"no values", [] { return Str("Description"); }, Empty, Empty, E_INVALIDARG, {}, "one", false},
        {"an array, one property failing", [] { return Names({"Description", "Colour"}); },
         [] { return Array({Str("two"), I4(1)}); }, Empty, S_FALSE, {0, CFG_E_UNKNOWN_PROPERTY}, "two", true},
        {"an array with VT_ERROR errors", [] { return Names({"Description"}); }, [] { return Array({Str("x")}); },
         [] { return Error(7); }, E_INVALIDARG, {}, "two", false},
        // Arrays that do not match are refused before anything is applied.
        {"fewer values than names", [] { return Names({"Description", "PrimaryRetries"}); },
         [] { return Array({Str("three")}); }, Empty, kReadFailed, {}, "two", false},
        {"more values than names", [] { return Names({"Description"}); },
         [] { return Array({Str("three"), I4(2)}); }, Empty, E_INVALIDARG, {}, "two", false},
        {"an empty names array", [] { return Array({}); }, [] { return Array({}); }, Empty, E_INVALIDARG, {},
         "two", false},
        {"a name that is no text", [] { return Array({Str("Description"), I4(7)}); },
         [] { return Array({Str("three"), I4(2)}); }, Empty, kReadFailed, {}, "two", false},
        {"one empty name is unknown", [] { return Str(""); }, [] { return Str("x"); }, Empty,
         CFG_E_UNKNOWN_PROPERTY, {}, "two", false},
        {"an empty name in an array is unknown", [] { return Names({"Description", ""}); },
         [] { return Array({Str("three"), I4(2)}); }, Empty, S_FALSE, {0, CFG_E_UNKNOWN_PROPERTY}, "three", true},
        {"an errors array too short after one applied", [] { return Names({"Description", "PrimaryRetries"}); },
         [] { return Array({Str("four"), I4(2)}); }, [] { return ErrorsArray(1); }, kResultNotStored, {0}, "four",
         true},
        {"an array stopped before anything applied", [] { return Names({"Colour", "Description"}); },
         [] { return Array({I4(1)}); }, Empty, kReadFailed, {}, "four", false},
    };
    for (const SetCase &c : cases) {
        Variant names(c.names()), values(c.values()), errors(c.errors());
        VARTYPE errorsType = V_VT(&errors.v);
        host.modified = false;
        EXPECT_EQ(c.result, driver->SetPropertyData(device, names.v, values.v, &errors.v)) << c.label;
        if (errorsType == VT_ERROR)
            EXPECT_EQ(7, V_ERROR(&errors.v)) << c.label << ": one name leaves the errors argument alone";
        else
            EXPECT_EQ(c.codes, Codes(errors.v)) << c.label;
        EXPECT_EQ(c.description, GetText(device, "Description")) << c.label;
        EXPECT_EQ(c.modified, host.modified) << c.label;
    }
}

TEST_F(ConfigAccess, GetPropertyDataArrayProtocol)
{
    LONG block = AddBlock(AddDevice(AddChannel("Ch1"), "Dev1"), "Blk1");
    ASSERT_EQ(S_OK, SetOne(block, "StartAddress", Str("DB10,0")));
    ASSERT_EQ(S_OK, SetOne(block, "Length", I4(10)));
    host.modified = false;

    // Three names, the second unknown: its value stays empty.
    Variant names(Names({"Name", "Colour", "Length"})), values, errors;
    EXPECT_EQ(S_FALSE, driver->GetPropertyData(block, names.v, &values.v, &errors.v));
    EXPECT_EQ((std::vector<LONG>{0, CFG_E_UNKNOWN_PROPERTY, 0}), Codes(errors.v));
    std::vector<VARIANT> got = Elements(values.v);
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ("Blk1", TextOf(got[0]));
    EXPECT_EQ(VT_EMPTY, V_VT(&got[1]));
    VariantChangeType(&got[2], &got[2], 0, VT_I4);
    EXPECT_EQ(10, V_I4(&got[2]));
    for (VARIANT &v : got)
        VariantClear(&v);

    // Existing arrays, one by reference, are filled in place.
    Variant held(ErrorsArray(3)), values2, errors2(ErrorsArray(3));
    values2.v = RefTo(&held.v);
    EXPECT_EQ(S_FALSE, driver->GetPropertyData(block, names.v, &values2.v, &errors2.v));
    EXPECT_EQ("Blk1", Texts(held.v)[0]);
    VariantInit(&values2.v);   // the reference is not owned

    struct Case { const char *label; std::function<VARIANT()> names, values, errors; HRESULT result; std::string text; };
    const Case cases[] = {
        {"one name", [] { return Str("Name"); }, Empty, Empty, S_OK, "Blk1"},
        {"one name over a previous value", [] { return Str("Name"); }, [] { return Str("old"); },
         [] { return Error(0); }, S_OK, "Blk1"},
        {"one name, its failure", [] { return Str("Colour"); }, Empty, Empty, CFG_E_UNKNOWN_PROPERTY, ""},
        {"one name, a values array", [] { return Str("Name"); }, [] { return ErrorsArray(1); }, Empty,
         E_INVALIDARG, ""},
        {"one name, an errors array", [] { return Str("Name"); }, Empty, [] { return ErrorsArray(1); },
         E_INVALIDARG, ""},
        {"an array, values of another shape", [] { return Names({"Name"}); }, [] { return I4(1); }, Empty,
         E_INVALIDARG, ""},
        {"names of another type", [] { return I4(1); }, Empty, Empty, E_INVALIDARG, ""},
        {"one empty name", [] { return Str(""); }, Empty, Empty, CFG_E_UNKNOWN_PROPERTY, ""},
        {"an empty names array", [] { return Array({}); }, Empty, Empty, E_INVALIDARG, ""},
        {"a name that is no text", [] { return Array({Str("Name"), I4(3)}); }, Empty, Empty, kReadFailed, ""},
    };
    for (const Case &c : cases) {
        Variant n(c.names()), v(c.values()), e(c.errors());
        EXPECT_EQ(c.result, driver->GetPropertyData(block, n.v, &v.v, &e.v)) << c.label;
        if (!c.text.empty()) {
            EXPECT_EQ(c.text, TextOf(v.v)) << c.label;
        }
    }
    {
        // By object name, an empty property name is as unknown as by handle.
        Variant empty(Str("")), v, e2;
        EXPECT_EQ(CFG_E_UNKNOWN_PROPERTY, driver->GetPropertyData2(Bstr("Blk1"), empty.v, &v.v, &e2.v));
        Variant names2(Names({"Name", ""})), v2, e3;
        EXPECT_EQ(S_FALSE, driver->GetPropertyData2(Bstr("Blk1"), names2.v, &v2.v, &e3.v));
        EXPECT_EQ((std::vector<LONG>{0, CFG_E_UNKNOWN_PROPERTY}), Codes(e3.v));
    }
    Variant n(Str("Name")), e;
    EXPECT_EQ(E_INVALIDARG, driver->GetPropertyData(block, n.v, nullptr, &e.v));
    EXPECT_EQ(E_INVALIDARG, driver->GetPropertyData(block, n.v, &e.v, nullptr));
    EXPECT_FALSE(host.modified) << "reading changes nothing";
}

TEST_F(ConfigAccess, BuildReadBackAndTakeApartATree)
{
    Variant handles, names;
    LONG count = 9;
    ASSERT_EQ(S_OK, driver->GetChannels(&handles.v, &names.v, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(VT_EMPTY, V_VT(&handles.v));
    EXPECT_EQ(VT_EMPTY, V_VT(&names.v));

    // Add with properties, configure, read back.
    LONG ch1 = AddChannel("Ch1"), ch2 = AddChannel("Ch2");
    EXPECT_TRUE(Logged("Channel added - Handle:  " + std::to_string(ch1)));
    Variant devNames(Names({"Name", "PrimaryConnName", "PrimaryRetries"}));
    Variant devValues(Array({Str("Dev1"), Str("PLCBLK1"), I4(5)})), devErrors;
    LONG dev1 = 0;
    ASSERT_EQ(S_OK, driver->AddDevice(ch1, devNames.v, devValues.v, &devErrors.v, &dev1));
    EXPECT_EQ((std::vector<LONG>{0, 0, 0}), Codes(devErrors.v));
    EXPECT_TRUE(Logged("Device added - Handle:  " + std::to_string(dev1)));
    LONG dev2 = 0;
    Variant none, noneValues, noneErrors;
    ASSERT_EQ(S_OK, driver->AddDevice(ch1, none.v, noneValues.v, &noneErrors.v, &dev2)) << "all defaults";
    EXPECT_EQ(VT_EMPTY, V_VT(&noneErrors.v));
    LONG blk1 = AddBlock(dev1, "Blk1");
    EXPECT_TRUE(Logged("Data Block added - Handle:  " + std::to_string(blk1)));
    Variant blkNames(Names({"StartAddress", "Length", "Description"}));
    Variant blkValues(Array({Str("DB10,0"), I4(10), Str("line 3")})), blkErrors;
    ASSERT_EQ(S_OK, driver->SetPropertyData(blk1, blkNames.v, blkValues.v, &blkErrors.v));
    EXPECT_EQ("PLCBLK1", GetText(dev1, "PrimaryConnName"));
    EXPECT_EQ("5", GetText(dev1, "PrimaryRetries"));
    EXPECT_EQ("DB10,0", GetText(blk1, "StartAddress"));
    EXPECT_EQ("line 3", GetText(blk1, "Description"));
    EXPECT_EQ("2", GetText(0, "ChannelCount"));

    ASSERT_EQ(S_OK, driver->GetChannels(&handles.v, &names.v, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ((std::vector<std::string>{"Ch1", "Ch2"}), Texts(names.v));
    std::vector<VARIANT> hs = Elements(handles.v);
    ASSERT_EQ(2u, hs.size());
    EXPECT_EQ(ch1, V_I4(&hs[0]));
    EXPECT_EQ(ch2, V_I4(&hs[1]));
    ASSERT_EQ(S_OK, driver->GetDevices(ch1, &handles.v, &names.v, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ("Dev1", Texts(names.v)[0]);
    ASSERT_EQ(S_OK, driver->GetDataBlocks(dev1, &handles.v, &names.v, &count));
    EXPECT_EQ((std::vector<std::string>{"Blk1"}), Texts(names.v));
    EXPECT_EQ(E_INVALIDARG, driver->GetDevices(dev1, &handles.v, &names.v, &count));
    EXPECT_EQ(E_INVALIDARG, driver->GetDataBlocks(ch1, &handles.v, &names.v, &count));
    EXPECT_EQ(E_INVALIDARG, driver->GetDevices(0, &handles.v, &names.v, &count));
    EXPECT_EQ(E_INVALIDARG, driver->GetChannels(&handles.v, &names.v, nullptr));

    // Names: the driver for "", any case, nothing found is no failure.
    LONG handle = -1;
    VARIANT_BOOL found = 0;
    const std::tuple<const char *, LONG, VARIANT_BOOL> searches[] = {
        {"", 0, VARIANT_TRUE}, {"dev1", dev1, VARIANT_TRUE}, {"BLK1", blk1, VARIANT_TRUE},
        {"Ch2", ch2, VARIANT_TRUE}, {"Nothing", 0, VARIANT_FALSE}};
    for (const auto &s : searches) {
        EXPECT_EQ(S_OK, driver->ObjectName2Handle(Bstr(std::get<0>(s)), &handle, &found)) << std::get<0>(s);
        EXPECT_EQ(std::get<1>(s), handle) << std::get<0>(s);
        EXPECT_EQ(std::get<2>(s), found) << std::get<0>(s);
    }
    EXPECT_EQ(E_POINTER, driver->ObjectName2Handle(nullptr, &handle, &found));
    EXPECT_EQ(E_POINTER, driver->ObjectName2Handle(Bstr("Ch1"), nullptr, &found));
    EXPECT_EQ(E_POINTER, driver->ObjectName2Handle(Bstr("Ch1"), &handle, nullptr));

    // The by-name forms.
    Variant descName(Str("Description")), descValue(Str("by name")), descErrors;
    EXPECT_EQ(S_OK, driver->SetPropertyData2(Bstr("blk1"), descName.v, descValue.v, &descErrors.v));
    EXPECT_EQ("by name", GetText(blk1, "Description"));
    Variant readBack, readErrors;
    EXPECT_EQ(S_OK, driver->GetPropertyData2(Bstr("Blk1"), descName.v, &readBack.v, &readErrors.v));
    EXPECT_EQ("by name", TextOf(readBack.v));
    EXPECT_EQ(E_INVALIDARG, driver->SetPropertyData2(Bstr("Nothing"), descName.v, descValue.v, &descErrors.v));
    EXPECT_EQ(E_POINTER, driver->SetPropertyData2(nullptr, descName.v, descValue.v, &descErrors.v));
    EXPECT_EQ(E_POINTER, driver->SetPropertyData2(Bstr("Blk1"), descName.v, descValue.v, nullptr));
    EXPECT_EQ(E_POINTER, driver->GetPropertyData2(Bstr("Blk1"), descName.v, nullptr, &readErrors.v));
    EXPECT_EQ(E_POINTER, driver->GetPropertyData2(Bstr("Blk1"), descName.v, &readBack.v, nullptr));
    EXPECT_EQ(E_INVALIDARG, driver->GetPropertyData2(Bstr("Nothing"), descName.v, &readBack.v, &readErrors.v));

    // Copy and move: argument checks (the copies themselves have their own test).
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(ch1, Bstr("Dev9"), ch2, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(dev1, Bstr("Dev9"), dev2, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(dev1, nullptr, ch2, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(0, Bstr("Dev9"), ch2, VARIANT_FALSE));

    // Parents of the wrong kind are refused before anything is made.
    Variant n, v, e;
    LONG made = 0;
    EXPECT_EQ(E_INVALIDARG, driver->AddDevice(0, n.v, v.v, &e.v, &made));
    EXPECT_EQ(E_INVALIDARG, driver->AddDevice(dev1, n.v, v.v, &e.v, &made));
    EXPECT_EQ(E_INVALIDARG, driver->AddDataBlock(ch1, n.v, v.v, &e.v, &made));
    EXPECT_EQ(E_INVALIDARG, driver->AddDataBlock(dev1, n.v, v.v, &e.v, nullptr));

    // Taking apart: wrong parents and kinds first, then each level.
    EXPECT_EQ(E_INVALIDARG, driver->RemoveDataBlock(ch1, blk1));
    EXPECT_EQ(E_INVALIDARG, driver->RemoveDataBlock(0, blk1));
    EXPECT_EQ(HRESULT(CFG_E_NO_DATABLOCKS), driver->RemoveDataBlock(dev2, blk1)) << "a device without blocks";
    EXPECT_EQ(E_INVALIDARG, driver->RemoveDevice(dev1, dev2));
    EXPECT_EQ(E_INVALIDARG, driver->RemoveChannel(0));
    EXPECT_EQ(E_INVALIDARG, driver->RemoveChannel(dev1)) << "the driver checks the kind";
    host.modified = false;
    EXPECT_EQ(S_OK, driver->RemoveDataBlock(dev1, blk1));
    EXPECT_TRUE(Logged("Data Block removed - Handle:  " + std::to_string(blk1)));
    EXPECT_TRUE(host.modified);
    EXPECT_EQ(CDriverApp::KindNone, app->Classify(blk1));
    EXPECT_EQ(E_INVALIDARG, driver->RemoveDataBlock(dev1, blk1)) << "gone";
    EXPECT_EQ(S_OK, driver->RemoveDevice(ch1, dev2));
    EXPECT_TRUE(Logged("Device removed - Handle:  " + std::to_string(dev2)));
    EXPECT_EQ(S_OK, driver->RemoveChannel(ch1));
    EXPECT_TRUE(Logged("Channel removed - Handle:  " + std::to_string(ch1)));
    EXPECT_EQ(CDriverApp::KindNone, app->Classify(dev1)) << "went with its channel";
    ASSERT_EQ(S_OK, driver->GetChannels(&handles.v, &names.v, &count));
    EXPECT_EQ(1, count);
    for (VARIANT &h : hs)
        VariantClear(&h);
}

TEST_F(ConfigAccess, CopyAndMoveADeviceWithItsBlocks)
{
    LONG ch1 = AddChannel("Ch1"), ch2 = AddChannel("Ch2");
    Variant devNames(Names({"Name", "PrimaryConnName", "Description"}));
    Variant devValues(Array({Str("Dev1"), Str("PLCBLK1"), Str("press")})), devErrors;
    LONG dev1 = 0;
    ASSERT_EQ(S_OK, driver->AddDevice(ch1, devNames.v, devValues.v, &devErrors.v, &dev1));
    LONG blk1 = AddBlock(dev1, "Blk1");
    Variant blkNames(Names({"StartAddress", "Length"})), blkValues(Array({Str("DB10,0"), I4(10)})), blkErrors;
    ASSERT_EQ(S_OK, driver->SetPropertyData(blk1, blkNames.v, blkValues.v, &blkErrors.v));

    auto find = [&](const char *name) {
        LONG handle = 0;
        VARIANT_BOOL found = VARIANT_FALSE;
        EXPECT_EQ(S_OK, driver->ObjectName2Handle(Bstr(name), &handle, &found));
        return found ? handle : 0;
    };
    auto blockNames = [&](LONG device) {
        Variant handles, names;
        LONG count = 0;
        EXPECT_EQ(S_OK, driver->GetDataBlocks(device, &handles.v, &names.v, &count));
        return count ? Texts(names.v) : std::vector<std::string>{};
    };
    auto deviceCount = [&](LONG channel) {
        Variant handles, names;
        LONG count = -1;
        EXPECT_EQ(S_OK, driver->GetDevices(channel, &handles.v, &names.v, &count));
        return count;
    };

    // A copy takes every setting and block; the blocks get names of their own.
    host.modified = false;
    ASSERT_EQ(S_OK, driver->CopyDevice(dev1, Bstr("Dev9"), ch2, VARIANT_FALSE));
    EXPECT_TRUE(Logged("Device " + std::to_string(dev1) + " copied to channel " + std::to_string(ch2)));
    EXPECT_TRUE(host.modified);
    LONG dev9 = find("Dev9");
    ASSERT_NE(0, dev9);
    EXPECT_EQ("PLCBLK1", GetText(dev9, "PrimaryConnName"));
    EXPECT_EQ("press", GetText(dev9, "Description"));
    std::vector<std::string> copied = blockNames(dev9);
    ASSERT_EQ(1u, copied.size());
    EXPECT_NE("Blk1", copied[0]);
    LONG copiedBlock = find(copied[0].c_str());
    EXPECT_EQ("DB10,0", GetText(copiedBlock, "StartAddress"));
    EXPECT_EQ("10", GetText(copiedBlock, "Length"));
    EXPECT_EQ((std::vector<std::string>{"Blk1"}), blockNames(dev1)) << "the original stays";

    // A copy or move needs a name; nothing is added or moved without one.
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(dev1, Bstr(""), ch2, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, driver->CopyDevice(dev1, Bstr("  "), ch2, VARIANT_TRUE));
    EXPECT_EQ(1, deviceCount(ch2));
    EXPECT_EQ(1, deviceCount(ch1));

    // A name already taken is refused and nothing is added.
    EXPECT_TRUE(FAILED(driver->CopyDevice(dev1, Bstr("dev9"), ch2, VARIANT_FALSE)));
    EXPECT_EQ(1, deviceCount(ch2));

    // A move keeps the name and the block names; the original is gone.
    ASSERT_EQ(S_OK, driver->CopyDevice(dev1, Bstr("Dev1"), ch2, VARIANT_TRUE));
    EXPECT_TRUE(Logged("Device " + std::to_string(dev1) + " moved to channel " + std::to_string(ch2)));
    EXPECT_EQ(0, deviceCount(ch1));
    EXPECT_EQ(2, deviceCount(ch2));
    LONG moved = find("Dev1");
    ASSERT_NE(0, moved);
    EXPECT_EQ((std::vector<std::string>{"Blk1"}), blockNames(moved));

    // A refused move puts the device back where it was.
    EXPECT_TRUE(FAILED(driver->CopyDevice(moved, Bstr("Dev9"), ch1, VARIANT_TRUE)));
    EXPECT_EQ(0, deviceCount(ch1));
    EXPECT_EQ(2, deviceCount(ch2));
    LONG back = find("Dev1");
    ASSERT_NE(0, back);
    EXPECT_EQ("PLCBLK1", GetText(back, "PrimaryConnName"));
    EXPECT_EQ((std::vector<std::string>{"Blk1"}), blockNames(back));
}

TEST_F(ConfigAccess, PropertyNamesOfEachKind)
{
    struct Case { short kind; HRESULT result; size_t count; const char *first; };
    CChannel channel(false, false);
    CDevice device(false);
    CDataBlock block(false, false);
    const Case cases[] = {
        {CDriverApp::KindDriver, S_OK, app->Driver()->Properties().Sorted().size(), "ChannelCount"},
        {CDriverApp::KindChannel, S_OK, channel.Properties().Configurable().size(),
         channel.Properties().Configurable()[0]},
        {CDriverApp::KindDevice, S_OK, device.Properties().Configurable().size(),
         device.Properties().Configurable()[0]},
        {CDriverApp::KindDataBlock, S_OK, block.Properties().Configurable().size(),
         block.Properties().Configurable()[0]},
        {CDriverApp::KindNone, E_INVALIDARG, 0, nullptr},
        {5, E_FAIL, 0, nullptr},
        {-1, E_FAIL, 0, nullptr},
    };
    for (const Case &c : cases) {
        Variant names;
        LONG count = -1;
        EXPECT_EQ(c.result, driver->GetProperties(c.kind, &names.v, &count)) << c.kind;
        if (c.result != S_OK)
            continue;
        EXPECT_EQ(LONG(c.count), count) << c.kind;
        std::vector<std::string> texts = Texts(names.v);
        ASSERT_EQ(c.count, texts.size()) << c.kind;
        EXPECT_EQ(c.first, texts[0]) << c.kind;
        // Again into the array of the first call, and by reference.
        Variant reference(RefTo(&names.v));
        EXPECT_EQ(S_OK, driver->GetProperties(c.kind, &reference.v, &count));
        VariantInit(&reference.v);
    }
    Variant names;
    EXPECT_EQ(E_INVALIDARG, driver->GetProperties(CDriverApp::KindDevice, &names.v, nullptr));
    EXPECT_EQ(E_INVALIDARG, driver->GetProperties(CDriverApp::KindDevice, nullptr, nullptr));
    Variant wrong(I4(1));
    LONG count = 0;
    EXPECT_EQ(E_INVALIDARG, driver->GetProperties(CDriverApp::KindDevice, &wrong.v, &count));
}

} // namespace
