// opc_da_client.exe: a generic OPC Data Access client. It creates a server
// by ProgID as any OPC client would, from a single-threaded or the
// multithreaded apartment, in-process or as a local server, and runs the
// steps given on its command line, printing one line per step:
//
//   opc_da_client [--sta|--mta] [--local] [--progid NAME] STEP...
//
//   create                  a new server object (IOPCServer), now the current one
//   release                 releases the current server object
//   status                  IOPCServer::GetStatus
//   locale                  IOPCCommon GetLocaleID and QueryAvailableLocaleIDs
//   errortext:CODE          IOPCServer::GetErrorString (CODE in hex)
//   clientname:TEXT         IOPCCommon::SetClientName
//   addgroup:NAME:RATE      IOPCServer::AddGroup (active; NAME may be empty)
//   findgroup:NAME          IOPCServer::GetGroupByName
//   removegroup:NAME[:force]  IOPCServer::RemoveGroup of a group added here
//   dropgroup:NAME          releases this client's pointer to the group
//   groups:SCOPE            IOPCServer::CreateGroupEnumerator, the names
//   shutdown                advises an IOPCShutdown sink on the current server
//   processes:PROGRAM       how many processes run PROGRAM
//   sleep:MS                waits, handling calls to this apartment
//   freeunused              CoFreeUnusedLibraries
//
// Browsing, item properties and the configuration file. These take the whole
// text after the first ':' (item IDs hold colons); '~' separates two parts.
//   org                     QueryOrganization
//   move:up | move:down~NAME | move:to~NAME   ChangeBrowsePosition
//   browse:branch~FILTER | browse:leaf~FILTER | browse:flat~FILTER
//                           BrowseOPCItemIDs, the texts joined by ';'
//   itemid:TEXT             GetItemID
//   accesspaths:ITEMID      BrowseAccessPaths
//   properties:ITEMID       QueryAvailableProperties: id:name:description:type
//   getprops:ID,ID~ITEMID   GetItemProperties: id=type/value/error
//   lookup:ID,ID~ITEMID     LookupItemIDs: id=itemid/error
//   classid | dirty | curfile   IPersistFile GetClassID, IsDirty, GetCurFile
//   load:FILE | save:FILE~REMEMBER | savecompleted:FILE
//   additem:GROUP:NAME:VT:ACTIVE:ID  IOPCItemMgt::AddItems of one item (VT
//                           the requested type as a number, ID the rest)
//   validate:GROUP:VT:ID    IOPCItemMgt::ValidateItems of one item
//   activate:GROUP:NAME[,NAME...]:0|1  IOPCItemMgt::SetActiveState
//   removeitem:GROUP:NAME   IOPCItemMgt::RemoveItems
//   items:GROUP             IOPCItemMgt::CreateEnumerator, the item IDs
//   active:GROUP:0|1        IOPCGroupStateMgt::SetState of the active flag
//   deadband:GROUP:PERCENT  IOPCGroupStateMgt::SetState of the deadband
//   setname:GROUP:NAME      IOPCGroupStateMgt::SetName
//   clone:GROUP:NAME        IOPCGroupStateMgt::CloneGroup (NAME may be empty)
//   advise:GROUP            advises an IOPCDataCallback sink on the group;
//                           each callback prints a line
//   read:GROUP:1|2:NAMES    IOPCSyncIO::Read from the cache (1) or device (2)
//   write:GROUP:NAME:VT:VALUE  IOPCSyncIO::Write of VALUE as type VT
//   aread:GROUP:NAMES:TID   IOPCAsyncIO2::Read with transaction id TID
//   awrite:GROUP:NAME:VT:VALUE:TID  IOPCAsyncIO2::Write
//   refresh:GROUP:1|2:TID   IOPCAsyncIO2::Refresh2
//   enable:GROUP:0|1        IOPCAsyncIO2::SetEnable, then GetEnable
//   dadvise:GROUP:data|time|write  IDataObject::DAdvise of an OPC 1.0 stream;
//                           each block that arrives prints a line
//   read1:GROUP:data|time:1|2:NAMES  IOPCAsyncIO::Read answered by that stream
//   write1:GROUP:NAME:VT:VALUE      IOPCAsyncIO::Write
#include <windows.h>
#include <ocidl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "OpcCommon.h"
#include "OpcDataAccess.h"

namespace {

std::vector<std::string> Split(const std::string &step)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = step.find(':', start);
        parts.push_back(step.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

std::wstring Wide(const std::string &text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    return wide;
}

std::string Narrow(const wchar_t *text)
{
    if (!text)
        return "(null)";
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], n, nullptr, nullptr);
    return narrow;
}

void Line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

// A sink object of this client: it lives as long as the client, so its
// count only tells how many references the server holds.
template <class I, const IID *Iid> class Sink : public I {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == *Iid) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_refs); }

private:
    LONG m_refs = 1;
};

// The client's IOPCShutdown sink: prints what the server tells it.
class ShutdownSink : public Sink<IOPCShutdown, &IID_IOPCShutdown> {
public:
    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override
    {
        Line("ShutdownRequest reason=\"%s\"", Narrow(reason).c_str());
        return S_OK;
    }
};

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The texts of an enumerator, joined by ';'.
std::string Texts(IEnumString *texts)
{
    std::string list;
    if (!texts)
        return list;
    LPOLESTR text = nullptr;
    for (bool first = true; texts->Next(1, &text, nullptr) == S_OK; first = false) {
        list += (first ? "" : ";") + Narrow(text);
        CoTaskMemFree(text);
    }
    texts->Release();
    return list;
}

std::vector<DWORD> Numbers(const std::string &list)
{
    std::vector<DWORD> numbers;
    for (size_t start = 0; start < list.size();) {
        size_t comma = list.find(',', start);
        numbers.push_back(DWORD(std::strtoul(list.substr(start, comma - start).c_str(), nullptr, 10)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return numbers;
}

std::string ValueText(const VARIANT &value)
{
    VARIANT text;
    VariantInit(&text);
    std::string result = "?";
    if (V_VT(&value) == VT_EMPTY)
        result = "";
    else if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT *>(&value), 0, VT_BSTR)))
        result = Narrow(V_BSTR(&text));
    VariantClear(&text);
    return result;
}

std::string VariantText(const VARIANT &v)
{
    VARIANT text;
    VariantInit(&text);
    if (V_VT(&v) == VT_EMPTY)
        return "empty";
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT *>(&v), 0, VT_BSTR)))
        return "?";
    std::string result = Narrow(V_BSTR(&text));
    VariantClear(&text);
    return result;
}

// The client's IOPCDataCallback sink: prints each data change as
// "OnDataChange group=H mq=.. me=.. count=N items=CLIENT=VALUE/QUALITY/T,...",
// T being "t" when the time stamp is set.
class DataSink : public Sink<IOPCDataCallback, &IID_IOPCDataCallback> {
public:
    STDMETHODIMP OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT masterQuality, HRESULT masterError,
                              DWORD count, OPCHANDLE *clients, VARIANT *values, WORD *qualities, FILETIME *times,
                              HRESULT *errors) override
    {
        std::string items = Items(count, clients, values, qualities, times, errors);
        Line("OnDataChange trans=%lu group=%lu mq=0x%08lX me=0x%08lX count=%lu items=%s", transaction, group,
             masterQuality, masterError, count, items.c_str());
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT masterQuality, HRESULT masterError,
                                DWORD count, OPCHANDLE *clients, VARIANT *values, WORD *qualities, FILETIME *times,
                                HRESULT *errors) override
    {
        Line("OnReadComplete trans=%lu group=%lu mq=0x%08lX me=0x%08lX count=%lu items=%s", transaction, group,
             masterQuality, masterError, count, Items(count, clients, values, qualities, times, errors).c_str());
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD transaction, OPCHANDLE group, HRESULT masterError, DWORD count,
                                 OPCHANDLE *clients, HRESULT *errors) override
    {
        std::string items;
        for (DWORD i = 0; i < count; ++i) {
            char item[32];
            std::snprintf(item, sizeof(item), "%s%lu=0x%08lX", i ? "," : "", clients[i], errors[i]);
            items += item;
        }
        Line("OnWriteComplete trans=%lu group=%lu me=0x%08lX count=%lu items=%s", transaction, group, masterError,
             count, items.c_str());
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD transaction, OPCHANDLE group) override
    {
        Line("OnCancelComplete trans=%lu group=%lu", transaction, group);
        return S_OK;
    }
    static std::string Items(DWORD count, OPCHANDLE *clients, VARIANT *values, WORD *qualities, FILETIME *times,
                             HRESULT *errors)
    {
        std::string items;
        for (DWORD i = 0; i < count; ++i) {
            items += (i ? "," : "") + std::to_string(clients[i]) + "=" + VariantText(values[i]);
            char tail[48];
            std::snprintf(tail, sizeof(tail), "/0x%02X/%s/0x%08lX", qualities[i],
                          (times[i].dwLowDateTime || times[i].dwHighDateTime) ? "t" : "0", errors[i]);
            items += tail;
        }
        return items;
    }
};

// What IOPCGroupStateMgt::GetState tells of a group.
struct GroupState {
    DWORD rate = 0, lcid = 0;
    BOOL active = FALSE;
    std::string name;
    LONG bias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, own = 0;
    HRESULT hr;
    explicit GroupState(IOPCGroupStateMgt *group)
    {
        LPWSTR named = nullptr;
        hr = group->GetState(&rate, &active, &named, &bias, &deadband, &lcid, &client, &own);
        if (named)
            name = Narrow(named);
        CoTaskMemFree(named);
    }
};

// The client's OPC 1.0 sink: parses each block and prints it as
// "stream data|time|write trans=T status=S count=N items=CLIENT=VALUE/QUALITY,..."
// (write blocks: CLIENT=ERROR).
class StreamSink : public Sink<IAdviseSink, &IID_IAdviseSink> {
public:
    UINT cfData = RegisterClipboardFormatA("OPCSTMFORMATDATA");
    UINT cfTime = RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
    UINT cfWrite = RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");
    STDMETHODIMP_(void) OnDataChange(FORMATETC *format, STGMEDIUM *medium) override
    {
        const BYTE *data = static_cast<const BYTE *>(GlobalLock(medium->hGlobal));
        if (!data)
            return;
        auto dword = [&](size_t offset) {
            DWORD value;
            std::memcpy(&value, data + offset, sizeof(value));
            return value;
        };
        std::string items;
        char text[96];
        if (format->cfFormat == cfWrite) {
            DWORD count = dword(0);
            for (DWORD i = 0; i < count; ++i) {
                std::snprintf(text, sizeof(text), "%s%lu=0x%08lX", i ? "," : "", dword(16 + 8 * i), dword(20 + 8 * i));
                items += text;
            }
            Line("stream write trans=%lu status=0x%08lX count=%lu items=%s", dword(8), dword(12), count, items.c_str());
        } else {
            bool withTime = format->cfFormat == cfTime;
            DWORD count = dword(4), step = withTime ? 20 : 12;
            for (DWORD i = 0; i < count; ++i) {
                size_t header = 20 + i * step;
                DWORD offset = dword(header + 4);
                WORD quality;
                std::memcpy(&quality, data + header + 8, sizeof(quality));
                VARIANT value;
                std::memcpy(&value, data + offset, sizeof(value));
                std::string shown = "empty";
                if (offset && V_VT(&value) == VT_BSTR) {
                    DWORD bytes = dword(offset + sizeof(VARIANT));
                    std::wstring wide(reinterpret_cast<const wchar_t *>(data + offset + sizeof(VARIANT) + 4), bytes / 2);
                    shown = Narrow(wide.c_str());
                } else if (offset) {
                    shown = VariantText(value);
                }
                std::snprintf(text, sizeof(text), "/0x%02X", quality);
                items += (i ? "," : "") + std::to_string(dword(header)) + "=" + shown + text;
            }
            Line("stream %s trans=%lu status=0x%08lX count=%lu items=%s", withTime ? "time" : "data", dword(12),
                 dword(16), count, items.c_str());
        }
        GlobalUnlock(medium->hGlobal);
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
    STDMETHODIMP_(void) OnRename(IMoniker *) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}
};

std::string Rest(const std::vector<std::string> &p, size_t from)
{
    std::string rest;
    for (size_t i = from; i < p.size(); ++i)
        rest += (i > from ? ":" : "") + p[i];
    return rest;
}

int CountProcesses(const std::string &program)
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, program.c_str()) == 0)
            ++count;
    CloseHandle(snapshot);
    return count;
}

// Waits ms, dispatching the messages by which calls reach a single-threaded
// apartment.
void Pause(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    for (;;) {
        LONG left = LONG(end - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

struct Client {
    CLSID clsid = CLSID_NULL;
    DWORD context = CLSCTX_INPROC_SERVER;
    std::vector<IOPCServer *> servers;
    std::map<std::string, std::pair<IOPCGroupStateMgt *, OPCHANDLE>> groups;
    ShutdownSink sink;
    DataSink dataSink;
    StreamSink streamSink;
    std::map<std::string, DWORD> connections;  // by "GROUP/data|time|write"
    std::map<std::string, OPCHANDLE> items;  // by "GROUP/NAME"
    std::map<std::string, DWORD> clients;    // the client handle given to each item
    DWORD lastClient = 0;                    // each additem step gives the next

    template <class I> I *GroupAs(const std::string &group, REFIID iid)
    {
        auto it = groups.find(group);
        I *result = nullptr;
        if (it != groups.end())
            it->second.first->QueryInterface(iid, reinterpret_cast<void **>(&result));
        return result;
    }

    // The handles of a comma-separated list of item names (0 for unknown names).
    std::vector<OPCHANDLE> Handles(const std::string &group, const std::string &names)
    {
        std::vector<OPCHANDLE> handles;
        size_t start = 0;
        for (;;) {
            size_t comma = names.find(',', start);
            auto it = items.find(group + "/" + names.substr(start, comma - start));
            handles.push_back(it == items.end() ? 0 : it->second);
            if (comma == std::string::npos)
                return handles;
            start = comma + 1;
        }
    }
    static std::string Codes(const HRESULT *codes, size_t count)
    {
        std::string list;
        for (size_t i = 0; codes && i < count; ++i) {
            char code[16];
            std::snprintf(code, sizeof(code), "%s0x%08lX", i ? "," : "", codes[i]);
            list += code;
        }
        return list;
    }
    static VARIANT Value(VARTYPE type, const std::string &text)
    {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocString(Wide(text).c_str());
        if (type != VT_BSTR)
            VariantChangeType(&value, &value, 0, type);
        return value;
    }

    bool RunItemStep(const std::string &name, const std::vector<std::string> &p)
    {
        if (name == "additem" && p.size() > 5) {
            IOPCItemMgt *mgt = GroupAs<IOPCItemMgt>(p[1], IID_IOPCItemMgt);
            std::wstring id = Wide(Rest(p, 5));
            DWORD client = ++lastClient;
            OPCITEMDEF def = {};
            def.szAccessPath = const_cast<LPWSTR>(L"");
            def.szItemID = &id[0];
            def.bActive = std::atoi(p[4].c_str());
            def.hClient = client;
            def.vtRequestedDataType = VARTYPE(std::atoi(p[3].c_str()));
            OPCITEMRESULT *results = nullptr;
            HRESULT *errors = nullptr;
            HRESULT hr = mgt ? mgt->AddItems(1, &def, &results, &errors) : E_NOINTERFACE;
            HRESULT error = errors ? errors[0] : 0;
            VARTYPE type = results ? results[0].vtCanonicalDataType : 0;
            if (results && results[0].hServer) {
                items[p[1] + "/" + p[2]] = results[0].hServer;
                clients[p[1] + "/" + p[2]] = client;
            }
            Line("additem hr=0x%08lX error=0x%08lX type=%u client=%lu handle=%s rights=%lu", hr, error, type, client,
                 results && results[0].hServer ? "set" : "0", results ? results[0].dwAccessRights : 0);
            CoTaskMemFree(results);
            CoTaskMemFree(errors);
            if (mgt)
                mgt->Release();
        } else if (name == "validate" && p.size() > 3) {
            IOPCItemMgt *mgt = GroupAs<IOPCItemMgt>(p[1], IID_IOPCItemMgt);
            std::wstring id = Wide(Rest(p, 3));
            OPCITEMDEF def = {};
            def.szAccessPath = const_cast<LPWSTR>(L"");
            def.szItemID = &id[0];
            def.vtRequestedDataType = VARTYPE(std::atoi(p[2].c_str()));
            OPCITEMRESULT *results = nullptr;
            HRESULT *errors = nullptr;
            HRESULT hr = mgt ? mgt->ValidateItems(1, &def, FALSE, &results, &errors) : E_NOINTERFACE;
            Line("validate hr=0x%08lX error=0x%08lX type=%u handle=%s", hr, errors ? errors[0] : 0,
                 results ? results[0].vtCanonicalDataType : 0, results && results[0].hServer ? "set" : "0");
            CoTaskMemFree(results);
            CoTaskMemFree(errors);
            if (mgt)
                mgt->Release();
        } else if ((name == "activate" && p.size() > 3) || (name == "removeitem" && p.size() > 2)) {
            IOPCItemMgt *mgt = GroupAs<IOPCItemMgt>(p[1], IID_IOPCItemMgt);
            std::vector<OPCHANDLE> handles;
            size_t start = 0;
            for (;;) {
                size_t comma = p[2].find(',', start);
                auto it = items.find(p[1] + "/" + p[2].substr(start, comma - start));
                handles.push_back(it == items.end() ? 0 : it->second);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
            HRESULT *errors = nullptr;
            HRESULT hr = E_NOINTERFACE;
            if (mgt && name == "activate")
                hr = mgt->SetActiveState(DWORD(handles.size()), handles.data(), std::atoi(p[3].c_str()), &errors);
            else if (mgt)
                hr = mgt->RemoveItems(DWORD(handles.size()), handles.data(), &errors);
            std::string list;
            for (size_t i = 0; errors && i < handles.size(); ++i) {
                char code[16];
                std::snprintf(code, sizeof(code), "%s0x%08lX", i ? "," : "", errors[i]);
                list += code;
            }
            Line("%s hr=0x%08lX errors=%s", name.c_str(), hr, list.c_str());
            CoTaskMemFree(errors);
            if (mgt)
                mgt->Release();
        } else if (name == "items" && p.size() > 1) {
            IOPCItemMgt *mgt = GroupAs<IOPCItemMgt>(p[1], IID_IOPCItemMgt);
            IEnumOPCItemAttributes *e = nullptr;
            HRESULT hr = mgt ? mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown **>(&e))
                             : E_NOINTERFACE;
            std::string list;
            if (e) {
                OPCITEMATTRIBUTES *a = nullptr;
                ULONG fetched = 0;
                while (e->Next(1, &a, &fetched) == S_OK && fetched == 1) {
                    list += (list.empty() ? "" : ",") + Narrow(a->szItemID) + (a->bActive ? "/on" : "/off");
                    CoTaskMemFree(a->szItemID);
                    CoTaskMemFree(a->szAccessPath);
                    VariantClear(&a->vEUInfo);
                    CoTaskMemFree(a);
                }
                e->Release();
            }
            Line("items hr=0x%08lX ids=%s", hr, list.c_str());
            if (mgt)
                mgt->Release();
        } else if ((name == "active" || name == "deadband") && p.size() > 2) {
            auto it = groups.find(p[1]);
            DWORD revised = 0;
            BOOL active = std::atoi(p[2].c_str());
            FLOAT deadband = FLOAT(std::atof(p[2].c_str()));
            HRESULT hr = it == groups.end() ? E_INVALIDARG
                         : name == "active"
                             ? it->second.first->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr)
                             : it->second.first->SetState(nullptr, &revised, nullptr, nullptr, &deadband, nullptr, nullptr);
            Line("%s hr=0x%08lX", name.c_str(), hr);
        } else if (name == "setname" && p.size() > 2) {
            auto it = groups.find(p[1]);
            HRESULT hr = it == groups.end() ? E_INVALIDARG : it->second.first->SetName(Wide(p[2]).c_str());
            if (hr == S_OK && p[1] != p[2]) {
                groups[p[2]] = it->second;
                groups.erase(it);
            }
            Line("setname hr=0x%08lX", hr);
        } else if (name == "clone" && p.size() > 2) {
            auto it = groups.find(p[1]);
            IOPCGroupStateMgt *clone = nullptr;
            HRESULT hr = it == groups.end() ? E_INVALIDARG
                                            : it->second.first->CloneGroup(Wide(p[2]).c_str(), IID_IOPCGroupStateMgt,
                                                                           reinterpret_cast<IUnknown **>(&clone));
            std::string actual = "-";
            if (clone) {
                GroupState state(clone);
                actual = state.name;
                groups[actual] = {clone, state.own};
                Line("clone hr=0x%08lX name=%s active=%d rate=%lu", hr, actual.c_str(), state.active, state.rate);
            } else {
                Line("clone hr=0x%08lX", hr);
            }
        } else if (name == "read" && p.size() > 3) {
            IOPCSyncIO *io = GroupAs<IOPCSyncIO>(p[1], IID_IOPCSyncIO);
            std::vector<OPCHANDLE> handles = Handles(p[1], p[3]);
            OPCITEMSTATE *states = nullptr;
            HRESULT *errors = nullptr;
            HRESULT hr = io ? io->Read(OPCDATASOURCE(std::atoi(p[2].c_str())), DWORD(handles.size()), handles.data(),
                                       &states, &errors)
                            : E_NOINTERFACE;
            std::string list;
            for (size_t i = 0; states && i < handles.size(); ++i) {
                char tail[48];
                std::snprintf(tail, sizeof(tail), "/0x%02X/%s/0x%08lX", states[i].wQuality,
                              (states[i].ftTimeStamp.dwLowDateTime || states[i].ftTimeStamp.dwHighDateTime) ? "t" : "0",
                              errors[i]);
                list += (i ? "," : "") + std::to_string(states[i].hClient) + "=" + VariantText(states[i].vDataValue) + tail;
                VariantClear(&states[i].vDataValue);
            }
            Line("read hr=0x%08lX items=%s", hr, list.c_str());
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
            if (io)
                io->Release();
        } else if ((name == "write" && p.size() > 4) || (name == "awrite" && p.size() > 5)) {
            std::vector<OPCHANDLE> handles = Handles(p[1], p[2]);
            VARIANT value = Value(VARTYPE(std::atoi(p[3].c_str())), name == "write" ? Rest(p, 4) : p[4]);
            HRESULT *errors = nullptr;
            HRESULT hr = E_NOINTERFACE;
            DWORD cancel = 0;
            if (name == "write") {
                IOPCSyncIO *io = GroupAs<IOPCSyncIO>(p[1], IID_IOPCSyncIO);
                if (io) {
                    hr = io->Write(1, handles.data(), &value, &errors);
                    io->Release();
                }
            } else if (IOPCAsyncIO2 *io = GroupAs<IOPCAsyncIO2>(p[1], IID_IOPCAsyncIO2)) {
                hr = io->Write(1, handles.data(), &value, DWORD(std::atoi(p[5].c_str())), &cancel, &errors);
                io->Release();
            }
            Line("%s hr=0x%08lX error=0x%08lX%s", name.c_str(), hr, errors ? errors[0] : 0,
                 name == "awrite" ? (cancel ? " cancel=set" : " cancel=0") : "");
            VariantClear(&value);
            CoTaskMemFree(errors);
        } else if (name == "aread" && p.size() > 3) {
            IOPCAsyncIO2 *io = GroupAs<IOPCAsyncIO2>(p[1], IID_IOPCAsyncIO2);
            std::vector<OPCHANDLE> handles = Handles(p[1], p[2]);
            HRESULT *errors = nullptr;
            DWORD cancel = 0;
            HRESULT hr = io ? io->Read(DWORD(handles.size()), handles.data(), DWORD(std::atoi(p[3].c_str())), &cancel,
                                       &errors)
                            : E_NOINTERFACE;
            Line("aread hr=0x%08lX cancel=%s errors=%s", hr, cancel ? "set" : "0",
                 Codes(errors, handles.size()).c_str());
            CoTaskMemFree(errors);
            if (io)
                io->Release();
        } else if (name == "refresh" && p.size() > 3) {
            IOPCAsyncIO2 *io = GroupAs<IOPCAsyncIO2>(p[1], IID_IOPCAsyncIO2);
            DWORD cancel = 0;
            HRESULT hr = io ? io->Refresh2(OPCDATASOURCE(std::atoi(p[2].c_str())), DWORD(std::atoi(p[3].c_str())), &cancel)
                            : E_NOINTERFACE;
            Line("refresh hr=0x%08lX cancel=%s", hr, cancel ? "set" : "0");
            if (io)
                io->Release();
        } else if (name == "enable" && p.size() > 2) {
            IOPCAsyncIO2 *io = GroupAs<IOPCAsyncIO2>(p[1], IID_IOPCAsyncIO2);
            BOOL enabled = -1;
            HRESULT hr = io ? io->SetEnable(std::atoi(p[2].c_str())) : E_NOINTERFACE;
            HRESULT got = io ? io->GetEnable(&enabled) : E_NOINTERFACE;
            Line("enable hr=0x%08lX get=0x%08lX enabled=%d", hr, got, enabled);
            if (io)
                io->Release();
        } else if (name == "dadvise" && p.size() > 2) {
            IDataObject *data = GroupAs<IDataObject>(p[1], IID_IDataObject);
            UINT format = p[2] == "data" ? streamSink.cfData : p[2] == "time" ? streamSink.cfTime : streamSink.cfWrite;
            FORMATETC etc = {CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            DWORD connection = 0;
            HRESULT hr = data ? data->DAdvise(&etc, 0, &streamSink, &connection) : E_NOINTERFACE;
            if (SUCCEEDED(hr))
                connections[p[1] + "/" + p[2]] = connection;
            Line("dadvise hr=0x%08lX connection=%s", hr, connection == format ? "format" : "other");
            if (data)
                data->Release();
        } else if (name == "read1" && p.size() > 4) {
            IOPCAsyncIO *io = GroupAs<IOPCAsyncIO>(p[1], IID_IOPCAsyncIO);
            std::vector<OPCHANDLE> handles = Handles(p[1], p[4]);
            HRESULT *errors = nullptr;
            DWORD transaction = 0;
            HRESULT hr = io ? io->Read(connections[p[1] + "/" + p[2]], OPCDATASOURCE(std::atoi(p[3].c_str())),
                                       DWORD(handles.size()), handles.data(), &transaction, &errors)
                            : E_NOINTERFACE;
            Line("read1 hr=0x%08lX trans=%s errors=%s", hr, transaction ? "set" : "0",
                 Codes(errors, handles.size()).c_str());
            CoTaskMemFree(errors);
            if (io)
                io->Release();
        } else if (name == "write1" && p.size() > 4) {
            IOPCAsyncIO *io = GroupAs<IOPCAsyncIO>(p[1], IID_IOPCAsyncIO);
            std::vector<OPCHANDLE> handles = Handles(p[1], p[2]);
            VARIANT value = Value(VARTYPE(std::atoi(p[3].c_str())), Rest(p, 4));
            HRESULT *errors = nullptr;
            DWORD transaction = 0;
            HRESULT hr = io ? io->Write(connections[p[1] + "/write"], 1, handles.data(), &value, &transaction, &errors)
                            : E_NOINTERFACE;
            Line("write1 hr=0x%08lX trans=%s error=0x%08lX", hr, transaction ? "set" : "0", errors ? errors[0] : 0);
            VariantClear(&value);
            CoTaskMemFree(errors);
            if (io)
                io->Release();
        } else if (name == "advise" && p.size() > 1) {
            IConnectionPointContainer *container =
                GroupAs<IConnectionPointContainer>(p[1], IID_IConnectionPointContainer);
            IConnectionPoint *point = nullptr;
            DWORD cookie = 0;
            HRESULT hr = container ? container->FindConnectionPoint(IID_IOPCDataCallback, &point) : E_NOINTERFACE;
            if (SUCCEEDED(hr))
                hr = point->Advise(&dataSink, &cookie);
            if (point)
                point->Release();
            if (container)
                container->Release();
            Line("advise hr=0x%08lX", hr);
        } else {
            return false;
        }
        return true;
    }

    IOPCServer *Current() { return servers.empty() ? nullptr : servers.back(); }

    bool Run(const std::string &step)
    {
        std::vector<std::string> p = Split(step);
        const std::string &name = p[0];
        IOPCServer *server = Current();
        if (name == "create") {
            IOPCServer *created = nullptr;
            HRESULT hr = CoCreateInstance(clsid, nullptr, context, IID_IOPCServer, reinterpret_cast<void **>(&created));
            Line("create hr=0x%08lX", hr);
            if (SUCCEEDED(hr))
                servers.push_back(created);
        } else if (name == "sleep" && p.size() > 1) {
            Pause(DWORD(std::atoi(p[1].c_str())));
            Line("sleep");
        } else if (name == "freeunused") {
            CoFreeUnusedLibraries();
            Line("freeunused");
        } else if (name == "processes" && p.size() > 1) {
            Line("processes %s=%d", p[1].c_str(), CountProcesses(p[1]));
        } else if (!server) {
            Line("%s no server", name.c_str());
        } else if (name == "release") {
            for (auto &g : groups)
                g.second.first->Release();
            groups.clear();
            Line("release count=%lu", server->Release());
            servers.pop_back();
        } else if (name == "status") {
            OPCSERVERSTATUS *s = nullptr;
            HRESULT hr = server->GetStatus(&s);
            if (SUCCEEDED(hr) && s) {
                Line("status hr=0x%08lX state=%d groups=%lu bandwidth=%lu version=%u.%u.%u reserved=%u vendor=\"%s\"", hr,
                     int(s->dwServerState), s->dwGroupCount, s->dwBandWidth, s->wMajorVersion, s->wMinorVersion,
                     s->wBuildNumber, s->wReserved, Narrow(s->szVendorInfo).c_str());
                CoTaskMemFree(s->szVendorInfo);
                CoTaskMemFree(s);
            } else {
                Line("status hr=0x%08lX", hr);
            }
        } else if (name == "locale") {
            IOPCCommon *common = nullptr;
            HRESULT hr = server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common));
            LCID lcid = 0;
            DWORD count = 0;
            LCID *lcids = nullptr;
            if (SUCCEEDED(hr))
                hr = common->GetLocaleID(&lcid);
            if (SUCCEEDED(hr))
                hr = common->QueryAvailableLocaleIDs(&count, &lcids);
            std::string list;
            for (DWORD i = 0; i < count; ++i)
                list += (i ? "," : "") + std::to_string(lcids[i]);
            CoTaskMemFree(lcids);
            if (common)
                common->Release();
            Line("locale hr=0x%08lX lcid=%lu available=%s", hr, lcid, list.c_str());
        } else if (name == "errortext" && p.size() > 1) {
            LPWSTR text = nullptr;
            HRESULT hr = server->GetErrorString(HRESULT(std::strtoul(p[1].c_str(), nullptr, 16)), 2048, &text);
            Line("errortext hr=0x%08lX text=\"%s\"", hr, Narrow(text).c_str());
            CoTaskMemFree(text);
        } else if (name == "clientname" && p.size() > 1) {
            IOPCCommon *common = nullptr;
            HRESULT hr = server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common));
            if (SUCCEEDED(hr)) {
                hr = common->SetClientName(Wide(p[1]).c_str());
                common->Release();
            }
            Line("clientname hr=0x%08lX", hr);
        } else if (name == "addgroup" && p.size() > 2) {
            OPCHANDLE handle = 0;
            DWORD revised = 0;
            IOPCGroupStateMgt *group = nullptr;
            HRESULT hr = server->AddGroup(Wide(p[1]).c_str(), TRUE, DWORD(std::atoi(p[2].c_str())), 1, nullptr, nullptr,
                                          2048, &handle, &revised, IID_IOPCGroupStateMgt,
                                          reinterpret_cast<IUnknown **>(&group));
            std::string actual = p[1];
            if (group) {
                GroupState state(group);
                if (state.hr == S_OK)
                    actual = state.name;
                groups[actual] = {group, handle};
            }
            Line("addgroup hr=0x%08lX name=%s handle=%s revised=%lu", hr, actual.c_str(), handle ? "set" : "0", revised);
        } else if (name == "findgroup" && p.size() > 1) {
            IUnknown *found = nullptr;
            HRESULT hr = server->GetGroupByName(Wide(p[1]).c_str(), IID_IOPCGroupStateMgt, &found);
            if (found)
                found->Release();
            Line("findgroup hr=0x%08lX", hr);
        } else if (name == "removegroup" && p.size() > 1) {
            auto it = groups.find(p[1]);
            OPCHANDLE handle = it == groups.end() ? 0 : it->second.second;
            HRESULT hr = server->RemoveGroup(handle, p.size() > 2 && p[2] == "force");
            Line("removegroup hr=0x%08lX", hr);
        } else if (name == "dropgroup" && p.size() > 1) {
            auto it = groups.find(p[1]);
            ULONG left = it == groups.end() ? 0 : it->second.first->Release();
            if (it != groups.end())
                groups.erase(it);
            Line("dropgroup count=%lu", left);
        } else if (name == "groups" && p.size() > 1) {
            IEnumString *names = nullptr;
            HRESULT hr = server->CreateGroupEnumerator(OPCENUMSCOPE(std::atoi(p[1].c_str())), IID_IEnumString,
                                                       reinterpret_cast<IUnknown **>(&names));
            std::string list;
            if (names) {
                LPOLESTR text = nullptr;
                while (names->Next(1, &text, nullptr) == S_OK) {
                    list += (list.empty() ? "" : ",") + Narrow(text);
                    CoTaskMemFree(text);
                }
                names->Release();
            }
            Line("groups hr=0x%08lX names=%s", hr, list.c_str());
        } else if (name == "shutdown") {
            IConnectionPointContainer *container = nullptr;
            IConnectionPoint *point = nullptr;
            DWORD cookie = 0;
            HRESULT hr = server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
            if (SUCCEEDED(hr))
                hr = container->FindConnectionPoint(IID_IOPCShutdown, &point);
            if (SUCCEEDED(hr))
                hr = point->Advise(&sink, &cookie);
            if (point)
                point->Release();
            if (container)
                container->Release();
            Line("shutdown hr=0x%08lX", hr);
        } else if (RunItemStep(name, p)) {
        } else if (!RunAddressSpace(server, name, step)) {
            Line("unknown step %s", step.c_str());
            return false;
        }
        return true;
    }

    // A server interface of the current object, or null (the step's line
    // then tells the QueryInterface result).
    template <class I> I *Interface(IOPCServer *server, REFIID iid, const std::string &name)
    {
        I *found = nullptr;
        HRESULT hr = server->QueryInterface(iid, reinterpret_cast<void **>(&found));
        if (FAILED(hr))
            Line("%s QueryInterface hr=%s", name.c_str(), Hex(hr).c_str());
        return found;
    }

    bool RunAddressSpace(IOPCServer *server, const std::string &name, const std::string &step)
    {
        size_t colon = step.find(':');
        std::string arg = colon == std::string::npos ? std::string() : step.substr(colon + 1);
        size_t tilde = arg.find('~');
        std::string first = arg.substr(0, tilde);
        std::string second = tilde == std::string::npos ? std::string() : arg.substr(tilde + 1);
        if (name == "org" || name == "move" || name == "browse" || name == "itemid" || name == "accesspaths") {
            IOPCBrowseServerAddressSpace *browse =
                Interface<IOPCBrowseServerAddressSpace>(server, IID_IOPCBrowseServerAddressSpace, name);
            if (!browse)
                return true;
            if (name == "org") {
                OPCNAMESPACETYPE type = OPC_NS_FLAT;
                HRESULT hr = browse->QueryOrganization(&type);
                Line("org hr=%s organization=%d", Hex(hr).c_str(), int(type));
            } else if (name == "move") {
                OPCBROWSEDIRECTION direction = first == "up" ? OPC_BROWSE_UP
                                               : first == "down" ? OPC_BROWSE_DOWN
                                               : first == "to" ? OPC_BROWSE_TO
                                                               : OPCBROWSEDIRECTION(std::atoi(first.c_str()));
                HRESULT hr = browse->ChangeBrowsePosition(direction, Wide(second).c_str());
                Line("move hr=%s", Hex(hr).c_str());
            } else if (name == "browse") {
                OPCBROWSETYPE type = first == "branch" ? OPC_BRANCH
                                     : first == "leaf" ? OPC_LEAF
                                     : first == "flat" ? OPC_FLAT
                                                       : OPCBROWSETYPE(std::atoi(first.c_str()));
                IEnumString *texts = nullptr;
                HRESULT hr = browse->BrowseOPCItemIDs(type, Wide(second).c_str(), VT_EMPTY, 0, &texts);
                Line("browse hr=%s items=%s", Hex(hr).c_str(), Texts(texts).c_str());
            } else if (name == "itemid") {
                LPWSTR id = nullptr;
                HRESULT hr = browse->GetItemID(const_cast<LPWSTR>(Wide(arg).c_str()), &id);
                Line("itemid hr=%s id=\"%s\"", Hex(hr).c_str(), Narrow(id).c_str());
                CoTaskMemFree(id);
            } else {
                IEnumString *paths = nullptr;
                HRESULT hr = browse->BrowseAccessPaths(Wide(arg).c_str(), &paths);
                Line("accesspaths hr=%s", Hex(hr).c_str());
                if (paths)
                    paths->Release();
            }
            browse->Release();
        } else if (name == "properties" || name == "getprops" || name == "lookup") {
            IOPCItemProperties *properties = Interface<IOPCItemProperties>(server, IID_IOPCItemProperties, name);
            if (!properties)
                return true;
            if (name == "properties") {
                DWORD count = 0, *ids = nullptr;
                LPWSTR *descriptions = nullptr;
                VARTYPE *types = nullptr;
                HRESULT hr = properties->QueryAvailableProperties(const_cast<LPWSTR>(Wide(arg).c_str()), &count, &ids,
                                                                  &descriptions, &types);
                std::string list;
                for (DWORD i = 0; ids && i < count; ++i) {
                    list += (i ? "," : "") + std::to_string(ids[i]) + ":" + Narrow(descriptions[i]) + ":" +
                            std::to_string(types[i]);
                    CoTaskMemFree(descriptions[i]);
                }
                CoTaskMemFree(ids);
                CoTaskMemFree(descriptions);
                CoTaskMemFree(types);
                Line("properties hr=%s count=%lu %s", Hex(hr).c_str(), count, list.c_str());
            } else {
                std::vector<DWORD> ids = Numbers(first);
                std::wstring item = Wide(second);
                std::string list;
                HRESULT *errors = nullptr, hr;
                if (name == "getprops") {
                    VARIANT *values = nullptr;
                    hr = properties->GetItemProperties(const_cast<LPWSTR>(item.c_str()), DWORD(ids.size()), ids.data(),
                                                       &values, &errors);
                    for (size_t i = 0; values && i < ids.size(); ++i) {
                        list += (i ? "," : "") + std::to_string(ids[i]) + "=" + std::to_string(V_VT(&values[i])) +
                                "/" + ValueText(values[i]) + "/" + Hex(errors[i]);
                        VariantClear(&values[i]);
                    }
                    CoTaskMemFree(values);
                } else {
                    LPWSTR *names = nullptr;
                    hr = properties->LookupItemIDs(const_cast<LPWSTR>(item.c_str()), DWORD(ids.size()), ids.data(),
                                                   &names, &errors);
                    for (size_t i = 0; names && i < ids.size(); ++i) {
                        list += (i ? "," : "") + std::to_string(ids[i]) + "=" + Narrow(names[i]) + "/" +
                                Hex(errors[i]);
                        CoTaskMemFree(names[i]);
                    }
                    CoTaskMemFree(names);
                }
                CoTaskMemFree(errors);
                Line("%s hr=%s %s", name.c_str(), Hex(hr).c_str(), list.c_str());
            }
            properties->Release();
        } else if (name == "classid" || name == "dirty" || name == "curfile" || name == "load" || name == "save" ||
                   name == "savecompleted") {
            IPersistFile *file = Interface<IPersistFile>(server, IID_IPersistFile, name);
            if (!file)
                return true;
            std::wstring wide = Wide(first);
            if (name == "classid") {
                CLSID clsid = CLSID_NULL;
                HRESULT hr = file->GetClassID(&clsid);
                wchar_t text[64] = L"";
                StringFromGUID2(clsid, text, 64);
                Line("classid hr=%s clsid=%s", Hex(hr).c_str(), Narrow(text).c_str());
            } else if (name == "dirty") {
                Line("dirty hr=%s", Hex(file->IsDirty()).c_str());
            } else if (name == "curfile") {
                LPOLESTR current = nullptr;
                HRESULT hr = file->GetCurFile(&current);
                Line("curfile hr=%s name=\"%s\"", Hex(hr).c_str(), Narrow(current).c_str());
                CoTaskMemFree(current);
            } else if (name == "load") {
                Line("load hr=%s", Hex(file->Load(wide.c_str(), STGM_READ)).c_str());
            } else if (name == "save") {
                Line("save hr=%s", Hex(file->Save(wide.c_str(), second == "1")).c_str());
            } else {
                Line("savecompleted hr=%s", Hex(file->SaveCompleted(wide.c_str())).c_str());
            }
            file->Release();
        } else {
            return false;
        }
        return true;
    }
};

}  // namespace

int main(int argc, char **argv)
{
    DWORD apartment = COINIT_MULTITHREADED;
    Client client;
    std::string progId = "Veltrane.Brisko";
    std::vector<std::string> steps;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--sta")
            apartment = COINIT_APARTMENTTHREADED;
        else if (arg == "--mta")
            apartment = COINIT_MULTITHREADED;
        else if (arg == "--local")
            client.context = CLSCTX_LOCAL_SERVER;
        else if (arg == "--progid" && i + 1 < argc)
            progId = argv[++i];
        else
            steps.push_back(arg);
    }
    HRESULT hr = CoInitializeEx(nullptr, apartment);
    if (FAILED(hr)) {
        Line("CoInitializeEx hr=0x%08lX", hr);
        return 2;
    }
    hr = CLSIDFromProgID(Wide(progId).c_str(), &client.clsid);
    Line("progid %s hr=0x%08lX", progId.c_str(), hr);
    int result = SUCCEEDED(hr) ? 0 : 3;
    for (const std::string &step : steps)
        if (result == 0 && !client.Run(step))
            result = 1;
    while (!client.servers.empty())
        client.Run("release");
    CoUninitialize();
    return result;
}
