#include "OPCDrvServer.h"

#include <process.h>

#include <algorithm>
#include <new>

#include "Brisko.h"
#include "ClassFactory.h"
#include "Enumerators.h"
#include "ImpIOPCServer.h"
#include "OPCDrvGroup.h"
#include "OpcKit.h"
#include "Oxley.h"
#include "Registration.h"

QOR_IMPLEMENT_DYNAMIC(COPCDrvServer, CObject)

DWORD COPCDrvServer::s_dwStopLimitMs = 10000;

namespace {

HRESULT JoinMultithreadedApartment() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

}  // namespace

HRESULT (*COPCDrvServer::s_pfnJoinApartment)() = &JoinMultithreadedApartment;

COPCDrvServer::COPCDrvServer() : m_dwSleepTime(g_dwThreadSleepTime)
{
    InitializeCriticalSection(&m_csServer);
    CoFileTimeNow(&m_ftLastUpdate);
    m_position = g_ClassFactory.AddServer(this);
}

COPCDrvServer::~COPCDrvServer()
{
    StopPollThread(nullptr);
    g_ClassFactory.RemoveServer(m_position);
    // With the last server object the library lets the I/O server go; the
    // connection through which Oxley parsed item IDs goes too, or the
    // I/O server would wait for this process's end (which Wine may not
    // report to it) and never exit.
    if (g_ClassFactory.GetServerCount() == 0) {
        KivStatus status = 0;
        kiv_CleanUp(&status);
    }
    // A poll thread killed inside its pass still owns the server lock, and
    // waiting for it would never end: the groups are then left unfreed.
    bool lockUsable = true;
    if (m_threadKilled) {
        lockUsable = TryEnterCriticalSection(&m_csServer) != FALSE;
        if (lockUsable)
            LeaveCriticalSection(&m_csServer);
        else
            ReportError("The OPC server poll thread was stopped while it held the server lock; its groups are not freed");
    }
    if (!lockUsable)
        for (COPCDrvGroup *group : m_groups)
            group->m_bRemoved = true;  // what a client still holds answers E_FAIL
    if (lockUsable)
        RemoveAllGroups();
    delete m_pImpIOPCServer;
    delete m_pImpIOPCCommon;
    delete m_pTearOffs;
    delete m_pImpIConnPointContainer;
    if (m_pCImpIConnPoint) {
        m_pCImpIConnPoint->DetachOwner();  // a client may hold the point longer
        m_pCImpIConnPoint->Release();
    }
    if (lockUsable)
        DeleteCriticalSection(&m_csServer);
}

HRESULT COPCDrvServer::Init()
{
    if (!m_position)
        return E_FAIL;
    m_hShutdown = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_hShutdown) {
        ReportError("Unable to create poll thread shutdown event");
        return E_FAIL;
    }
    m_hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &PollThreadProc, this, 0, &m_threadId));
    if (!m_hThread) {
        ReportError("Unable to create polling thread");
        return E_FAIL;
    }
    return S_OK;
}

unsigned __stdcall COPCDrvServer::PollThreadProc(void *self)
{
    COPCDrvServer *server = static_cast<COPCDrvServer *>(self);
    if (FAILED(s_pfnJoinApartment())) {
        ReportError("Fatal Error. Unable to initialize COM for OPC server poll thread");
        return 1;
    }
    server->PollLoop();
    CoUninitialize();
    SetEvent(server->m_hShutdown);
    return 0;
}

void COPCDrvServer::PollLoop()
{
    while (m_bRunning) {
        Sleep(m_dwSleepTime);
        if (!m_bRunning)
            break;
        EnterCriticalSection(&m_csServer);
        for (COPCDrvGroup *group : m_groups) {
            ++m_passes;
            if (group->GroupProcess())
                ++m_duePasses;
        }
        LeaveCriticalSection(&m_csServer);
    }
}

void COPCDrvServer::StopPollThread(const char *reason)
{
    InterlockedExchange(&m_bRunning, 0);
    if (m_pCImpIConnPoint) {
        if (IUnknown *sink = m_pCImpIConnPoint->AcquireSink()) {
            // A null text cannot cross to a sink in another process (the
            // argument is a [string]): no reason goes as an empty text.
            std::wstring wide = reason ? TextToWide(reason) : std::wstring();
            try {
                static_cast<IOPCShutdown *>(sink)->ShutdownRequest(wide.c_str());
            } catch (...) {
            }
            sink->Release();
        }
    }
    if (m_hShutdown) {
        if (WaitForSingleObject(m_hShutdown, s_dwStopLimitMs) != WAIT_OBJECT_0 && m_hThread) {
            TerminateThread(m_hThread, 0);
            m_threadKilled = true;
        }
        CloseHandle(m_hShutdown);
        m_hShutdown = nullptr;
    }
    if (m_hThread) {
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
}

STDMETHODIMP COPCDrvServer::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown *self = static_cast<IUnknown *>(this);
    EnterCriticalSection(&m_csServer);
    HRESULT hr = S_OK;
    if (riid == IID_IUnknown) {
        *ppv = self;
    } else if (riid == IID_IOPCServer) {
        if (!m_pImpIOPCServer)
            m_pImpIOPCServer = new (std::nothrow) CImpIOPCServer(self, this);
        *ppv = static_cast<IOPCServer *>(m_pImpIOPCServer);
    } else if (riid == IID_IOPCCommon) {
        if (!m_pImpIOPCCommon)
            m_pImpIOPCCommon = new (std::nothrow) CImpIOPCCommon(self);
        *ppv = static_cast<IOPCCommon *>(m_pImpIOPCCommon);
    } else if (riid == IID_IConnectionPointContainer) {
        if (!m_pImpIConnPointContainer) {
            if (!m_pCImpIConnPoint) {
                m_pCImpIConnPoint = new (std::nothrow) CImpIConnectionPoint(self, IID_IOPCShutdown, nullptr);
                if (m_pCImpIConnPoint)
                    m_pCImpIConnPoint->AddRef();
            }
            if (m_pCImpIConnPoint)
                m_pImpIConnPointContainer =
                    new (std::nothrow) CImpIConnectionPointContainer(self, &m_pCImpIConnPoint, 1);
        }
        *ppv = static_cast<IConnectionPointContainer *>(m_pImpIConnPointContainer);
    } else if (CServerTearOffs::Serves(riid)) {
        if (!m_pTearOffs)
            m_pTearOffs = new (std::nothrow) CServerTearOffs(self, this);
        *ppv = m_pTearOffs ? m_pTearOffs->Get(riid) : nullptr;
    } else {
        hr = E_NOINTERFACE;
    }
    if (hr == S_OK && !*ppv)
        hr = E_OUTOFMEMORY;
    LeaveCriticalSection(&m_csServer);
    if (hr == S_OK)
        AddRef();
    return hr;
}

STDMETHODIMP_(ULONG) COPCDrvServer::AddRef() { return InterlockedIncrement(&m_cRef); }

STDMETHODIMP_(ULONG) COPCDrvServer::Release()
{
    ULONG count = InterlockedDecrement(&m_cRef);
    if (count == 0)
        delete this;
    return count;
}

IOPCCommon *COPCDrvServer::Common()
{
    IOPCCommon *common = nullptr;
    QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common));
    return common;
}

HRESULT COPCDrvServer::CreateGroup(COPCDrvGroup **group)
{
    if (!group)
        return E_INVALIDARG;
    *group = new (std::nothrow) COPCDrvGroup(this);
    return *group ? S_OK : E_OUTOFMEMORY;
}

void COPCDrvServer::AddGroupToServer(COPCDrvGroup *group)
{
    group->AddRef();
    EnterCriticalSection(&m_csServer);
    m_groups.push_back(group);
    EnterCriticalSection(&group->m_cs);
    group->m_bInServer = true;
    LeaveCriticalSection(&group->m_cs);
    m_state = OPC_STATUS_RUNNING;
    LeaveCriticalSection(&m_csServer);
}

HRESULT COPCDrvServer::EnterNamedGroup(COPCDrvGroup *group, const std::string &name)
{
    EnterCriticalSection(&m_csServer);
    std::string chosen = name;
    HRESULT hr = S_OK;
    if (chosen.empty())
        hr = GenerateGroupName(chosen) == S_OK ? S_OK : E_FAIL;
    else if (IsGroupName(chosen))
        hr = OPC_E_DUPLICATENAME;
    if (hr == S_OK) {
        group->SetNameText(chosen);
        AddGroupToServer(group);
    }
    LeaveCriticalSection(&m_csServer);
    return hr;
}

HRESULT COPCDrvServer::RemoveGroupFromServer(OPCHANDLE handle, BOOL force)
{
    EnterCriticalSection(&m_csServer);
    COPCDrvGroup *group = LiveObjectAs<COPCDrvGroup>(handle);
    auto it = std::find(m_groups.begin(), m_groups.end(), group);
    if (!group || it == m_groups.end()) {
        LeaveCriticalSection(&m_csServer);
        return E_INVALIDARG;
    }
    m_groups.erase(it);
    EnterCriticalSection(&group->m_cs);
    group->m_bInServer = false;
    group->m_bRemoved = true;
    LeaveCriticalSection(&group->m_cs);
    LeaveCriticalSection(&m_csServer);
    // Only the list's reference goes: what the client still holds stays
    // valid memory, answers E_FAIL, and frees the group at its last Release.
    ULONG left = group->Release();
    return left > 0 && !force ? OPC_S_INUSE : S_OK;
}

HRESULT COPCDrvServer::RemoveAllGroups()
{
    HRESULT result = S_OK;
    for (;;) {
        EnterCriticalSection(&m_csServer);
        OPCHANDLE handle = m_groups.empty() ? 0 : m_groups.front()->ServerHandle();
        LeaveCriticalSection(&m_csServer);
        if (!handle)
            break;
        if (FAILED(RemoveGroupFromServer(handle, TRUE))) {
            result = S_FALSE;
            break;
        }
    }
    return result;
}

COPCDrvServer::GroupStanding COPCDrvServer::StandingOf(OPCHANDLE handle)
{
    EnterCriticalSection(&m_csServer);
    GroupStanding standing = GroupGone;
    if (COPCDrvGroup *group = LiveObjectAs<COPCDrvGroup>(handle))
        standing = std::find(m_groups.begin(), m_groups.end(), group) != m_groups.end() ? GroupInList : GroupRemoved;
    LeaveCriticalSection(&m_csServer);
    return standing;
}

COPCDrvGroup *COPCDrvServer::FindGroup(const std::string &name)
{
    COPCDrvGroup *found = nullptr;
    EnterCriticalSection(&m_csServer);
    for (COPCDrvGroup *group : m_groups)
        if (group->Name() == name) {
            found = group;
            found->AddRef();
            break;
        }
    LeaveCriticalSection(&m_csServer);
    return found;
}

bool COPCDrvServer::ReleaseFound(COPCDrvGroup *group)
{
    if (!group)
        return false;
    group->Release();
    return true;
}

HRESULT COPCDrvServer::GenerateGroupName(std::string &name)
{
    // The base is read afresh, so a changed registry value counts at once.
    char base[RegistryValueSize] = {};
    std::string prefix = g_strGeneratedGroupName;
    if (QueryRegistryValue(BRISKO_DEFAULTS_KEY, "GroupDefaults", "GeneratedGroupName", base, REG_SZ))
        prefix = base;
    EnterCriticalSection(&m_csServer);
    size_t start = m_groups.size();
    bool found = false;
    for (size_t n = start; n <= start + m_groups.size() && !found; ++n) {
        name = prefix + std::to_string(n);
        found = !IsGroupName(name);
    }
    LeaveCriticalSection(&m_csServer);
    return found ? S_OK : E_FAIL;
}

HRESULT COPCDrvServer::CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, IUnknown **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (riid != IID_IEnumString && riid != IID_IEnumUnknown)
        return E_NOINTERFACE;
    bool privateScope = scope == OPC_ENUM_PRIVATE_CONNECTIONS || scope == OPC_ENUM_ALL_CONNECTIONS ||
                        scope == OPC_ENUM_PRIVATE || scope == OPC_ENUM_ALL;
    if (!privateScope && scope != OPC_ENUM_PUBLIC_CONNECTIONS && scope != OPC_ENUM_PUBLIC)
        return E_INVALIDARG;
    std::vector<std::wstring> names;
    std::vector<IUnknown *> groups;
    EnterCriticalSection(&m_csServer);
    if (privateScope)
        for (COPCDrvGroup *group : m_groups) {
            names.push_back(TextToWide(group->Name()));
            groups.push_back(static_cast<IUnknown *>(group));
        }
    IUnknown *self = static_cast<IUnknown *>(this);
    IUnknown *e = nullptr;
    if (riid == IID_IEnumString)
        e = new (std::nothrow) CImpIEnumString(self, ULONG(names.size()), names.data(), g_pIMalloc);
    else
        e = new (std::nothrow) CImpIEnumUnknown(self, ULONG(groups.size()), groups.data());
    LeaveCriticalSection(&m_csServer);
    if (!e)
        return E_OUTOFMEMORY;
    e->AddRef();
    HRESULT hr = e->QueryInterface(riid, reinterpret_cast<void **>(out));
    e->Release();
    if (FAILED(hr))
        return hr;
    return names.empty() ? S_FALSE : S_OK;
}

void COPCDrvServer::FillStatus(OPCSERVERSTATUS *status)
{
    EnterCriticalSection(&m_csServer);
    status->ftStartTime = g_ftServerStart;
    CoFileTimeNow(&status->ftCurrentTime);
    status->ftLastUpdateTime = m_ftLastUpdate;
    status->dwServerState = m_state;
    status->dwGroupCount = DWORD(m_groups.size());
    status->dwBandWidth = m_passes && m_duePasses ? DWORD(double(m_duePasses) * 100.0 / double(m_passes)) : 0;
    m_passes = m_duePasses = 0;
    status->wMajorVersion = 7;
    status->wMinorVersion = 20;
    status->wBuildNumber = 1;
    status->wReserved = 42;
    LeaveCriticalSection(&m_csServer);
}
