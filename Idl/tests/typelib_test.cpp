// The compiled type library against the interface contract: identities,
// inheritance, dual/oleautomation flags, and every member's slot, dispatch id,
// kind and parameters in the order clients are built against.

#include "QORDriver.h"
#include "TypeLibFile.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TypeLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        HRESULT hr = LoadTypeLibEx(TypeLibPath().c_str(), REGKIND_NONE, lib.out());
        ASSERT_EQ(S_OK, hr) << "LoadTypeLibEx " << Narrow(TypeLibPath().c_str());
    }
    void TearDown() override { CoUninitialize(); }

    Ref<ITypeLib> lib;
};

std::string TypeName(ITypeInfo *ti, const TYPEDESC &td)
{
    switch (td.vt) {
    case VT_PTR: return TypeName(ti, *td.lptdesc) + "*";
    case VT_I4: return "long";
    case VT_I2: return "short";
    case VT_UI1: return "byte";
    case VT_R4: return "float";
    case VT_BOOL: return "bool";
    case VT_BSTR: return "BSTR";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_DISPATCH: return "IDispatch*";
    case VT_USERDEFINED: {
        Ref<ITypeInfo> ref;
        BSTR name = nullptr;
        if (FAILED(ti->GetRefTypeInfo(td.hreftype, ref.out()))
            || FAILED(ref->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
            return "?userdefined";
        std::string s = Narrow(name);
        SysFreeString(name);
        return s;
    }
    default: return "?vt" + std::to_string(td.vt);
    }
}

std::string ParamText(ITypeInfo *ti, const ELEMDESC &e)
{
    USHORT f = e.paramdesc.wParamFlags;
    std::string dir;
    if ((f & PARAMFLAG_FIN) && (f & PARAMFLAG_FOUT)) dir = "in,out";
    else if (f & PARAMFLAG_FRETVAL) dir = "out,retval";
    else if (f & PARAMFLAG_FOUT) dir = "out";
    else if (f & PARAMFLAG_FIN) dir = "in";
    return "[" + dir + "] " + TypeName(ti, e.tdesc);
}

// The vtable half of an interface: for a dual interface the library's entry
// is the dispatch half, whose reference -1 is the vtable interface.
void VtableInfo(ITypeInfo *entry, ITypeInfo **out)
{
    TYPEATTR *ta = nullptr;
    ASSERT_EQ(S_OK, entry->GetTypeAttr(&ta));
    TYPEKIND kind = ta->typekind;
    entry->ReleaseTypeAttr(ta);
    if (kind == TKIND_INTERFACE) {
        entry->AddRef();
        *out = entry;
        return;
    }
    HREFTYPE href;
    ASSERT_EQ(S_OK, entry->GetRefTypeOfImplType(-1, &href));
    ASSERT_EQ(S_OK, entry->GetRefTypeInfo(href, out));
}

TEST_F(TypeLibTest, LibraryAndClassCarryTheServerIdentities)
{
    TLIBATTR *la = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&la));
    EXPECT_EQ(GuidText(LIBID_QORDriverLib), GuidText(la->guid));
    EXPECT_EQ("{402D97D1-7270-11D6-B98B-0050DACA0D41}", GuidText(la->guid));
    EXPECT_EQ(7, la->wMajorVerNum);
    EXPECT_EQ(0, la->wMinorVerNum);
    // Neutral, so that a lookup by locale 9 falls back to it.
    EXPECT_EQ(0u, la->lcid);
    EXPECT_EQ(sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32, la->syskind);
    lib->ReleaseTLibAttr(la);

    Ref<ITypeInfo> cls;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(CLSID_QORDriver, cls.out()));
    EXPECT_EQ("{402D97D2-7270-11D6-B98B-0050DACA0D41}", GuidText(CLSID_QORDriver));
    TYPEATTR *ta = nullptr;
    ASSERT_EQ(S_OK, cls->GetTypeAttr(&ta));
    EXPECT_EQ(TKIND_COCLASS, ta->typekind);
    WORD impls = ta->cImplTypes;
    cls->ReleaseTypeAttr(ta);

    // The class's default interface is the one every client asks for.
    bool foundDefault = false;
    for (WORD i = 0; i < impls; ++i) {
        INT flags = 0;
        HREFTYPE href;
        ASSERT_EQ(S_OK, cls->GetImplTypeFlags(i, &flags));
        if (!(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
        ASSERT_EQ(S_OK, cls->GetRefTypeOfImplType(i, &href));
        Ref<ITypeInfo> def;
        ASSERT_EQ(S_OK, cls->GetRefTypeInfo(href, def.out()));
        TYPEATTR *da = nullptr;
        ASSERT_EQ(S_OK, def->GetTypeAttr(&da));
        EXPECT_EQ(GuidText(IID_IQORDriver), GuidText(da->guid));
        def->ReleaseTypeAttr(da);
        foundDefault = true;
    }
    EXPECT_TRUE(foundDefault);
}

enum class Kind { Dual, OleAutomation };

struct InterfaceRow {
    const IID *iid;
    const char *iidText;
    const char *name;
    Kind kind;
    const IID *base;
};

const InterfaceRow kInterfaces[] = {
    {&IID_IDriver, "{A5D44AB1-64CA-11D0-871F-00C04FD4268C}", "IDriver", Kind::Dual, &IID_IDispatch},
    {&IID_IQORDriver, "{402D97D0-7270-11D6-B98B-0050DACA0D41}", "IQORDriver", Kind::Dual, &IID_IDriver},
    {&IID_IDriverMessage, "{E4A4A297-F961-11D1-B846-0060971E5E37}", "IDriverMessage", Kind::Dual, &IID_IDispatch},
    {&IID_IOPCConnections, "{B9129AA5-2006-11D2-B86C-0060971E5E37}", "IOPCConnections", Kind::OleAutomation, &IID_IUnknown},
    {&IID_IConnectSink, "{C5ADE201-072B-11D3-8A9E-00105AA8866A}", "IConnectSink", Kind::OleAutomation, &IID_IUnknown},
    {&IID_IAlarmMessageSink, "{BC256801-25AE-11D3-8AAF-00105AA8866A}", "IAlarmMessageSink", Kind::OleAutomation, &IID_IUnknown},
    {&IID_ITracewellConnect, "{11F36D40-C89C-11D1-8165-006097329CCC}", "ITracewellConnect", Kind::Dual, &IID_IDispatch},
    {&IID_ITracewellSink, "{86E7A4E0-C596-11D1-8163-006097329CCC}", "ITracewellSink", Kind::Dual, &IID_IDispatch},
};

TEST_F(TypeLibTest, EachInterfaceIsMarshallableByTheTypeLibraryAndHasItsBase)
{
    for (const InterfaceRow &row : kInterfaces) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.iidText, GuidText(*row.iid));
        Ref<ITypeInfo> entry;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*row.iid, entry.out()));

        BSTR name = nullptr;
        ASSERT_EQ(S_OK, entry->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
        EXPECT_EQ(row.name, Narrow(name));
        SysFreeString(name);

        TYPEATTR *ta = nullptr;
        ASSERT_EQ(S_OK, entry->GetTypeAttr(&ta));
        if (row.kind == Kind::Dual) {
            EXPECT_EQ(TKIND_DISPATCH, ta->typekind);
            EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
        } else {
            EXPECT_EQ(TKIND_INTERFACE, ta->typekind);
        }
        entry->ReleaseTypeAttr(ta);

        Ref<ITypeInfo> vt;
        VtableInfo(entry.get(), vt.out());
        ASSERT_TRUE(vt);
        ASSERT_EQ(S_OK, vt->GetTypeAttr(&ta));
        EXPECT_EQ(TKIND_INTERFACE, ta->typekind);
        EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        EXPECT_EQ(1, ta->cImplTypes);
        vt->ReleaseTypeAttr(ta);

        HREFTYPE href;
        Ref<ITypeInfo> base;
        ASSERT_EQ(S_OK, vt->GetRefTypeOfImplType(0, &href));
        ASSERT_EQ(S_OK, vt->GetRefTypeInfo(href, base.out()));
        TYPEATTR *ba = nullptr;
        ASSERT_EQ(S_OK, base->GetTypeAttr(&ba));
        EXPECT_EQ(GuidText(*row.base), GuidText(ba->guid));
        base->ReleaseTypeAttr(ba);
    }
}

constexpr INVOKEKIND GET = INVOKE_PROPERTYGET;
constexpr INVOKEKIND PUT = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND FN = INVOKE_FUNC;
constexpr MEMBERID ANY_ID = MEMBERID_NIL; // not a dispatch interface: ids are not part of the contract

struct MemberRow {
    const char *name;
    INVOKEKIND kind;
    MEMBERID id;
    const char *params;
};

struct MemberTable {
    const IID *iid;
    const char *name;
    int firstSlot; // vtable slot of the first member
    std::vector<MemberRow> members;
};

const char *const kBlockArrays = "[in] long, [in,out] VARIANT*, [in,out] VARIANT*, [out] long*";

const MemberTable kMembers[] = {
    {&IID_IDriver, "IDriver", 7, {
        {"Application", GET, 1, "[out,retval] IDispatch**"},
        {"Name", GET, 2, "[out,retval] BSTR*"},
        {"Path", GET, 3, "[out,retval] BSTR*"},
        {"FullName", GET, 4, "[out,retval] BSTR*"},
        {"ConfigFileName", GET, 5, "[out,retval] BSTR*"},
        {"ConfigFilePath", GET, 6, "[out,retval] BSTR*"},
        {"FullConfigFileName", GET, 7, "[out,retval] BSTR*"},
        {"DefaultConfigFileName", PUT, 8, "[in] BSTR"},
        {"DefaultConfigFileName", GET, 8, "[out,retval] BSTR*"},
        {"DefaultConfigFilePath", PUT, 9, "[in] BSTR"},
        {"DefaultConfigFilePath", GET, 9, "[out,retval] BSTR*"},
        {"FullDefaultConfigFileName", GET, 10, "[out,retval] BSTR*"},
        {"FileSaved", GET, 11, "[out,retval] bool*"},
        {"Visible", PUT, 12, "[in] bool"},
        {"Visible", GET, 12, "[out,retval] bool*"},
        {"Running", GET, 13, "[out,retval] bool*"},
        {"KivRef", PUT, 14, "[in] long"},
        {"KivRef", GET, 14, "[out,retval] long*"},
        {"PollRef", PUT, 15, "[in] long"},
        {"PollRef", GET, 15, "[out,retval] long*"},
        {"FileNew", FN, 16, ""},
        {"FileSave", FN, 17, ""},
        {"FileSaveAs", FN, 18, "[in] BSTR"},
        {"FileOpen", FN, 19, "[in] BSTR"},
        {"Quit", FN, 20, ""},
        {"Poll", FN, 21, "[in] long"},
        {"Switch", FN, 22, "[in] long"},
        {"StartWait", FN, 23, ""},
        {"Stop", FN, 24, ""},
        {"AddChannel", FN, 25, "[in] VARIANT, [in] VARIANT, [in,out] VARIANT*, [out] long*"},
        {"RemoveChannel", FN, 26, "[in] long"},
        {"AddDevice", FN, 27, "[in] long, [in] VARIANT, [in] VARIANT, [in,out] VARIANT*, [out] long*"},
        {"RemoveDevice", FN, 28, "[in] long, [in] long"},
        {"CopyDevice", FN, 29, "[in] long, [in] BSTR, [in] long, [in] bool"},
        {"AddDataBlock", FN, 30, "[in] long, [in] VARIANT, [in] VARIANT, [in,out] VARIANT*, [out] long*"},
        {"RemoveDataBlock", FN, 31, "[in] long, [in] long"},
        {"SetPropertyData", FN, 32, "[in] long, [in] VARIANT, [in] VARIANT, [in,out] VARIANT*"},
        {"GetPropertyData", FN, 33, "[in] long, [in] VARIANT, [in,out] VARIANT*, [in,out] VARIANT*"},
        {"GetProperties", FN, 34, "[in] short, [in,out] VARIANT*, [out] long*"},
        {"GetChannels", FN, 35, "[in,out] VARIANT*, [in,out] VARIANT*, [out] long*"},
        {"GetDevices", FN, 36, kBlockArrays},
        {"GetDataBlocks", FN, 37, kBlockArrays},
        {"ReadData", FN, 38, "[in] long, [in] short, [in] long, [in] long, [in] long, [in] short, "
                             "[in] float, [in] float, [in,out] VARIANT*, [in,out] VARIANT*, [in,out] VARIANT*"},
        {"WriteData", FN, 39, "[in] long, [in] long, [in] long, [in] short, [in] float, [in] float, [in] VARIANT"},
        {"SetDataAddress", FN, 40, "[in] BSTR, [in] short, [in,out] long*, [out] long*, [out] long*, "
                                   "[out] long*, [out] short*"},
        {"GetDataAddress", FN, 41, "[in] long, [in] long, [in] long, [in] long, [in,out] BSTR*"},
        {"ReservedMethod1", FN, 42, "[in] long, [in] long, [in] long, [in] long, [in] long, [in] long"},
        {"SetPropertyData2", FN, 43, "[in] BSTR, [in] VARIANT, [in] VARIANT, [in,out] VARIANT*"},
        {"GetPropertyData2", FN, 44, "[in] BSTR, [in] VARIANT, [in,out] VARIANT*, [in,out] VARIANT*"},
        {"ReservedMethod2", FN, 45, "[in] long, [in] long, [in] long, [in] long, [in] long, [in] long, "
                                    "[in] long, [in] long, [in] long, [in] long, [in] long, [in] long"},
    }},
    {&IID_IQORDriver, "IQORDriver", 7 + 50, {
        {"RegisterException", FN, 46, "[in] long, [in] long, [in] long, [in] long, [in] byte, [in] short, "
                                      "[in] byte, [in] short"},
        {"GetConfiguredCPList", FN, 47, "[in,out] VARIANT*, [out] long*"},
        {"GetConfiguredVFDList", FN, 48, "[in] BSTR, [in,out] VARIANT*, [out] long*"},
        {"GetConfiguredCONNList", FN, 49, "[in] BSTR, [in] BSTR, [in,out] VARIANT*, [out] long*"},
        {"GetRawDataBlockContent", FN, 50, "[in] long, [in,out] VARIANT*"},
        {"FileOpenEx", FN, 51, "[in] BSTR, [in] long"},
        {"ObjectName2Handle", FN, 52, "[in] BSTR, [out] long*, [out] bool*"},
        {"Start", FN, 53, "[in] bool"},
    }},
    {&IID_IDriverMessage, "IDriverMessage", 7, {
        {"LogInfo", FN, 1, "[in] BSTR"},
        {"LogWarning", FN, 2, "[in] BSTR"},
        {"LogError", FN, 3, "[in] BSTR"},
        {"LogFatal", FN, 4, "[in] BSTR"},
    }},
    {&IID_IOPCConnections, "IOPCConnections", 3, {
        {"Connect", FN, ANY_ID, "[out] long*"},
        {"Disconnect", FN, ANY_ID, "[out] long*"},
        {"GetCount", FN, ANY_ID, "[out] long*"},
    }},
    {&IID_IConnectSink, "IConnectSink", 3, {
        {"Connect", FN, ANY_ID, "[in] GUID*, [in] IUnknown*, [in] long, [out] long*"},
        {"Disconnect", FN, ANY_ID, "[in] long"},
        {"Value", PUT, ANY_ID, "[in] long, [in] long"},
        {"Value", GET, ANY_ID, "[in] long, [out,retval] long*"},
    }},
    {&IID_IAlarmMessageSink, "IAlarmMessageSink", 3, {
        {"OnMessage", FN, ANY_ID, "[in] BSTR, [in] long, [in] BSTR"},
        {"OnMessage2", FN, ANY_ID, "[in] BSTR, [in] long, [in] BSTR"},
    }},
    {&IID_ITracewellConnect, "ITracewellConnect", 7, {
        {"Connect", FN, 1, "[in] IUnknown*, [in] long, [out] long*"},
        {"Disconnect", FN, 2, "[in] long"},
    }},
    {&IID_ITracewellSink, "ITracewellSink", 7, {
        {"FrameSent", FN, 1, "[in] BSTR"},
        {"FrameReceived", FN, 2, "[in] BSTR"},
    }},
};

const char *KindText(INVOKEKIND k)
{
    switch (k) {
    case INVOKE_FUNC: return "method";
    case INVOKE_PROPERTYGET: return "propget";
    case INVOKE_PROPERTYPUT: return "propput";
    default: return "propputref";
    }
}

TEST_F(TypeLibTest, MembersKeepTheirOrderSlotsIdsAndParameters)
{
    for (const MemberTable &table : kMembers) {
        SCOPED_TRACE(table.name);
        Ref<ITypeInfo> entry, vt;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*table.iid, entry.out()));
        VtableInfo(entry.get(), vt.out());
        ASSERT_TRUE(vt);
        TYPEATTR *ta = nullptr;
        ASSERT_EQ(S_OK, vt->GetTypeAttr(&ta));
        ASSERT_EQ(table.members.size(), ta->cFuncs) << "own members of the interface";
        vt->ReleaseTypeAttr(ta);

        for (UINT i = 0; i < table.members.size(); ++i) {
            const MemberRow &row = table.members[i];
            SCOPED_TRACE(std::string(row.name) + " " + KindText(row.kind));
            FUNCDESC *fd = nullptr;
            ASSERT_EQ(S_OK, vt->GetFuncDesc(i, &fd));

            BSTR names[1] = {nullptr};
            UINT got = 0;
            EXPECT_EQ(S_OK, vt->GetNames(fd->memid, names, 1, &got));
            EXPECT_EQ(row.name, Narrow(names[0]));
            SysFreeString(names[0]);

            EXPECT_EQ(row.kind, fd->invkind);
            if (row.id != ANY_ID) {
                EXPECT_EQ(row.id, fd->memid);
            }
            EXPECT_EQ(size_t(table.firstSlot + i), fd->oVft / sizeof(void *)) << "vtable slot";
            EXPECT_EQ(CC_STDCALL, fd->callconv);
            EXPECT_EQ(VT_HRESULT, fd->elemdescFunc.tdesc.vt);

            std::string params;
            for (SHORT p = 0; p < fd->cParams; ++p) {
                if (p) params += ", ";
                params += ParamText(vt.get(), fd->lprgelemdescParam[p]);
            }
            EXPECT_EQ(row.params, params);
            vt->ReleaseFuncDesc(fd);
        }
    }
}

// Dispatch clients reach the members by name: the dispatch half must resolve
// the same ids, including the inherited ones on IQORDriver.
TEST_F(TypeLibTest, DispatchNamesResolveToTheMemberIds)
{
    struct { const IID *iid; const wchar_t *name; MEMBERID id; } rows[] = {
        {&IID_IDriver, L"KivRef", 14},
        {&IID_IDriver, L"GetPropertyData2", 44},
        {&IID_IQORDriver, L"Stop", 24},
        {&IID_IQORDriver, L"Start", 53},
        {&IID_IDriverMessage, L"LogFatal", 4},
    };
    for (auto &row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        Ref<ITypeInfo> disp;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*row.iid, disp.out()));
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        MEMBERID id = MEMBERID_NIL;
        EXPECT_EQ(S_OK, disp->GetIDsOfNames(&name, 1, &id));
        EXPECT_EQ(row.id, id);
    }
}

// The resource fragment that programs use to embed the library: this test
// program carries it, so LoadTypeLib on the program file finds the library.
TEST_F(TypeLibTest, EmbeddedResourceHoldsTheSameLibrary)
{
    Ref<ITypeLib> embedded;
    ASSERT_EQ(S_OK, LoadTypeLibEx(ProgramPath().c_str(), REGKIND_NONE, embedded.out()));
    TLIBATTR *la = nullptr;
    ASSERT_EQ(S_OK, embedded->GetLibAttr(&la));
    EXPECT_EQ(GuidText(LIBID_QORDriverLib), GuidText(la->guid));
    embedded->ReleaseTLibAttr(la);
    Ref<ITypeInfo> ti;
    EXPECT_EQ(S_OK, embedded->GetTypeInfoOfGuid(IID_IQORDriver, ti.out()));
}

} // namespace
