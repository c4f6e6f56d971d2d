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
        } else {
            Line("unknown step %s", step.c_str());
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
