// COPCDrvServer: the object an OPC DA client creates. It owns the client's
// groups, hands out its interfaces as tear-offs, and runs one poll thread in
// the multithreaded apartment that drives every group.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ConnectionPoint.h"
#include "ImpIOPCCommon.h"
#include "Object.h"
#include "OpcDataAccess.h"
#include "ServerTearOffs.h"

class COPCDrvGroup;
class CImpIOPCServer;

class COPCDrvServer : public IUnknown, public CObject {
    QOR_DECLARE_DYNAMIC(COPCDrvServer)
public:
    // How a group handle stands with this server.
    enum GroupStanding { GroupInList, GroupRemoved, GroupGone };

    COPCDrvServer();
    ~COPCDrvServer() override;

    HRESULT Init();

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // Groups. The list holds one reference on each group.
    HRESULT CreateGroup(COPCDrvGroup **group);
    void AddGroupToServer(COPCDrvGroup *group);
    // Under the server lock: names the group (a generated name when name is
    // empty) and enters it; OPC_E_DUPLICATENAME when another has the name.
    HRESULT EnterNamedGroup(COPCDrvGroup *group, const std::string &name);
    // S_OK, OPC_S_INUSE (the client still holds it), E_INVALIDARG (not a
    // group of this server).
    HRESULT RemoveGroupFromServer(OPCHANDLE handle, BOOL force);
    HRESULT RemoveAllGroups();
    // In the list, removed (answers E_FAIL) or gone (E_INVALIDARG).
    GroupStanding StandingOf(OPCHANDLE handle);
    // The group of that name in the list, AddRef'd, or null.
    COPCDrvGroup *FindGroup(const std::string &name);
    bool IsGroupName(const std::string &name) { COPCDrvGroup *g = FindGroup(name); return ReleaseFound(g); }
    HRESULT GenerateGroupName(std::string &name);
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, IUnknown **out);

    // What GetStatus reports; the pass counters restart at each call.
    void FillStatus(OPCSERVERSTATUS *status);
    void StopPollThread(const char *reason);
    // A data stream went to an OPC 1.0 client: GetStatus's last update.
    void NoteUpdate() { CoFileTimeNow(&m_ftLastUpdate); }

    DWORD SleepTime() const { return m_dwSleepTime; }
    IOPCCommon *Common();
    CImpIConnectionPoint *ShutdownPoint() { return m_pCImpIConnPoint; }

    // Test seams: the limit StopPollThread waits for the poll thread, and
    // how the poll thread joins its apartment.
    static DWORD s_dwStopLimitMs;
    static HRESULT (*s_pfnJoinApartment)();

private:
    static unsigned __stdcall PollThreadProc(void *self);
    void PollLoop();
    static bool ReleaseFound(COPCDrvGroup *group);

    LONG m_cRef = 0;
    void *m_position;  // in the class factory's list
    std::vector<COPCDrvGroup *> m_groups;
    CRITICAL_SECTION m_csServer;
    OPCSERVERSTATE m_state = OPC_STATUS_RUNNING;
    FILETIME m_ftLastUpdate;
    volatile LONG m_bRunning = 1;
    DWORD m_dwSleepTime;
    HANDLE m_hThread = nullptr;
    unsigned m_threadId = 0;
    HANDLE m_hShutdown = nullptr;
    bool m_threadKilled = false;
    ULONG m_passes = 0, m_duePasses = 0;

    CImpIOPCServer *m_pImpIOPCServer = nullptr;
    CImpIOPCCommon *m_pImpIOPCCommon = nullptr;
    CImpIConnectionPointContainer *m_pImpIConnPointContainer = nullptr;
    CImpIConnectionPoint *m_pCImpIConnPoint = nullptr;
    CServerTearOffs *m_pTearOffs = nullptr;

    friend class COPCDrvGroup;
};
