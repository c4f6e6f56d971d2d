#include "CsvAppFixture.h"

namespace {

BSTR Bstr(const std::string &text)
{
    std::wstring wide(text.begin(), text.end());
    return SysAllocString(wide.c_str());
}

std::string Narrow(BSTR text)
{
    std::string out;
    for (UINT i = 0; text && i < SysStringLen(text); ++i)
        out += char(text[i]);
    return out;
}

SAFEARRAY *Strings(const std::vector<std::string> &texts)
{
    SAFEARRAY *sa = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(texts.size()));
    for (LONG i = 0; i < LONG(texts.size()); ++i) {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = Bstr(texts[size_t(i)]);
        SafeArrayPutElement(sa, &i, &v);
        VariantClear(&v);
    }
    return sa;
}

}  // namespace

void CsvAppTest::Arrays(const Props &props, VARIANT &names, VARIANT &values)
{
    std::vector<std::string> n, v;
    for (const auto &p : props) {
        n.push_back(p.first);
        v.push_back(p.second);
    }
    names.vt = values.vt = VT_ARRAY | VT_VARIANT;
    names.parray = Strings(n);
    values.parray = Strings(v);
}

LONG CsvAppTest::Add(int kind, LONG parent, const Props &props)
{
    VARIANT names, values, errors;
    VariantInit(&errors);
    Arrays(props, names, values);
    LONG handle = 0;
    HRESULT hr = kind == 2   ? app->AddChannel(names, values, &errors, &handle)
                 : kind == 3 ? app->AddDevice(parent, names, values, &errors, &handle)
                             : app->AddDataBlock(parent, names, values, &errors, &handle);
    EXPECT_EQ(S_OK, hr) << props[0].second;
    VariantClear(&names), VariantClear(&values), VariantClear(&errors);
    return handle;
}

std::string CsvAppTest::Get(const std::string &object, const std::string &property)
{
    BSTR name = Bstr(object);
    VARIANT names, value, error, text;
    names.vt = VT_BSTR;
    names.bstrVal = Bstr(property);
    VariantInit(&value), VariantInit(&error), VariantInit(&text);
    std::string out;
    if (SUCCEEDED(app->GetPropertyData2(name, names, &value, &error)) &&
        SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)))
        out = Narrow(text.bstrVal);
    SysFreeString(name);
    VariantClear(&names), VariantClear(&value), VariantClear(&error), VariantClear(&text);
    return out;
}

namespace {

std::vector<std::pair<LONG, std::string>> List(IQORDriver *app, int level, LONG parent)
{
    VARIANT handles, names;
    VariantInit(&handles), VariantInit(&names);
    LONG count = 0;
    if (level == 0)
        app->GetChannels(&handles, &names, &count);
    else if (level == 1)
        app->GetDevices(parent, &handles, &names, &count);
    else
        app->GetDataBlocks(parent, &handles, &names, &count);
    std::vector<std::pair<LONG, std::string>> out;
    for (LONG i = 0; i < count; ++i) {
        VARIANT h, n;
        VariantInit(&h), VariantInit(&n);
        SafeArrayGetElement(handles.parray, &i, &h);
        SafeArrayGetElement(names.parray, &i, &n);
        out.push_back({h.lVal, Narrow(n.bstrVal)});
        VariantClear(&h), VariantClear(&n);
    }
    VariantClear(&handles), VariantClear(&names);
    return out;
}

}  // namespace

std::vector<std::string> CsvAppTest::Tree()
{
    std::vector<std::string> tree;
    for (const auto &channel : List(app.get(), 0, 0)) {
        tree.push_back(channel.second);
        for (const auto &device : List(app.get(), 1, channel.first)) {
            tree.push_back(channel.second + "/" + device.second);
            for (const auto &block : List(app.get(), 2, device.first))
                tree.push_back(channel.second + "/" + device.second + "/" + block.second);
        }
    }
    return tree;
}

void CsvAppTest::BuildFullTree()
{
    AddChannel({{"Name", "Empty"}, {"Description", "no devices here"}});
    LONG line = AddChannel({{"Name", "#Line1"},
                            {"Description", "press line, \"north\" hall"},
                            {"PrimaryCPName", "CP_L2"},
                            {"PrimaryVFDName", "VFD_A"},
                            {"BackupCPName", "CP_L2B"},
                            {"BackupVFDName", "VFD_B"}});
    LONG press = AddDevice(line, {{"Name", "Press1"},
                                  {"Description", "say \"hi\""},
                                  {"PrimaryConnName", "CONN1"},
                                  {"PrimaryRetries", "5"},
                                  {"BackupConnName", "CONN1B"}});
    AddDataBlock(press, {{"Name", "Temps"},
                         {"Description", "\"quoted\" start"},
                         {"StartAddress", "DB10,100"},
                         {"Length", "8"},
                         {"DeadBand", "2.5"},
                         {"DataType", "6"}});
    AddDataBlock(press, {{"Name", "Flags"}, {"StartAddress", "DB10,200"}, {"Length", "4"}, {"Enabled", "-1"}});
    LONG idle = AddDevice(line, {{"Name", "Idle"}});
    (void)idle;
    LONG other = AddChannel({{"Name", "Line2"}, {"Description", ""}, {"Enabled", "-1"}});
    LONG robot = AddDevice(other, {{"Name", "Robot"}, {"Description", "a,b,,c"}, {"Enabled", "-1"}});
    AddDataBlock(robot, {{"Name", "Pos"}, {"StartAddress", "DB20,0"}, {"Length", "2"}, {"BlockWritesEnabled", "-1"}});
    AddChannel({{"Name", "Spare"}});
}
