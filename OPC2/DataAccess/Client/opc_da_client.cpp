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
#include <windows.h>
#include <ocidl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
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

// The client's IOPCShutdown sink: prints what the server tells it.
class ShutdownSink : public IOPCShutdown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IOPCShutdown) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_refs); }
    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override
    {
        Line("ShutdownRequest reason=\"%s\"", Narrow(reason).c_str());
        return S_OK;
    }

private:
    LONG m_refs = 1;
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
                DWORD rate, lcid;
                BOOL active;
                LPWSTR named = nullptr;
                LONG bias;
                FLOAT deadband;
                OPCHANDLE client, own;
                if (SUCCEEDED(group->GetState(&rate, &active, &named, &bias, &deadband, &lcid, &client, &own)))
                    actual = Narrow(named);
                CoTaskMemFree(named);
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
