// opc_stub_server.exe: a COM local server whose objects implement every OPC
// interface of our IDL as stubs. Each method checks its arguments against
// OpcStubData.h and answers E_INVALIDARG when one differs; its answers are
// the agreed values, so the client can check what crossed. Callbacks go to
// the client's sinks from inside the call that asks for them: IOPCShutdown at
// Advise, IOPCDataCallback from the IOPCAsyncIO2 methods. The process runs in
// the multithreaded apartment and ends when its last object is released.
#include "OpcStubData.h"

#include <vector>

namespace {

LONG g_live = 0;
HANDLE g_idle = nullptr;

void ObjectMade() { InterlockedIncrement(&g_live); }
void ObjectGone()
{
    if (InterlockedDecrement(&g_live) == 0)
        SetEvent(g_idle);
}

#define STUB_IUNKNOWN                                                          \
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override               \
    {                                                                          \
        if (!out)                                                              \
            return E_POINTER;                                                  \
        *out = Find(iid);                                                      \
        if (!*out)                                                             \
            return E_NOINTERFACE;                                              \
        AddRef();                                                              \
        return S_OK;                                                           \
    }                                                                          \
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); } \
    STDMETHODIMP_(ULONG) Release() override                                    \
    {                                                                          \
        ULONG n = InterlockedDecrement(&m_ref);                                \
        if (n == 0)                                                            \
            delete this;                                                       \
        return n;                                                              \
    }

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond))                                                           \
            return E_INVALIDARG;                                               \
    } while (0)

HRESULT ErrorArray(DWORD count, HRESULT **errors)
{
    *errors = stub::TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i)
        (*errors)[i] = stub::kItemErrors[i % 2];
    return S_FALSE;
}

bool AreItems(DWORD count, const OPCHANDLE *handles)
{
    return count == 2 && handles && handles[0] == stub::kItems[0] && handles[1] == stub::kItems[1];
}

// A string enumerator over fixed texts.
class StubEnumString : public IEnumString {
public:
    explicit StubEnumString(std::vector<std::wstring> texts, ULONG position = 0)
        : m_texts(std::move(texts)), m_position(position) { ObjectMade(); }
    virtual ~StubEnumString() { ObjectGone(); }
    STUB_IUNKNOWN
    STDMETHODIMP Next(ULONG celt, LPOLESTR *out, ULONG *fetched) override
    {
        ULONG n = 0;
        while (n < celt && m_position < m_texts.size())
            out[n++] = stub::TaskString(m_texts[m_position++].c_str());
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override
    {
        if (celt > m_texts.size() - m_position)
            return S_FALSE;
        m_position += celt;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumString **out) override
    {
        *out = new StubEnumString(m_texts, m_position);
        return S_OK;
    }

private:
    void *Find(REFIID iid)
    {
        return (iid == IID_IUnknown || iid == IID_IEnumString) ? static_cast<IEnumString *>(this) : nullptr;
    }
    LONG m_ref = 1;
    std::vector<std::wstring> m_texts;
    ULONG m_position;
};

// Two item records with every field set.
void FillAttributes(OPCITEMATTRIBUTES *a, int index)
{
    a->szAccessPath = stub::TaskString(stub::kAccessPath);
    a->szItemID = stub::TaskString(stub::kItemID);
    a->bActive = index == 0;
    a->hClient = stub::kClientItems[index];
    a->hServer = stub::kItems[index];
    a->dwAccessRights = OPC_READABLE | (index ? OPC_WRITEABLE : 0);
    a->dwBlobSize = sizeof(stub::kBlob);
    a->pBlob = static_cast<BYTE *>(CoTaskMemAlloc(sizeof(stub::kBlob)));
    std::memcpy(a->pBlob, stub::kBlob, sizeof(stub::kBlob));
    a->vtRequestedDataType = VT_I2;
    a->vtCanonicalDataType = VT_R4;
    a->dwEUType = OPC_ANALOG;
    stub::MakeRange(&a->vEUInfo);
}

class StubEnumAttributes : public IEnumOPCItemAttributes {
public:
    explicit StubEnumAttributes(ULONG position = 0) : m_position(position) { ObjectMade(); }
    virtual ~StubEnumAttributes() { ObjectGone(); }
    STUB_IUNKNOWN
    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES **items, ULONG *fetched) override
    {
        CHECK(items && fetched);
        ULONG n = 0;
        *items = stub::TaskArray<OPCITEMATTRIBUTES>(celt);
        while (n < celt && m_position < 2)
            FillAttributes(&(*items)[n++], static_cast<int>(m_position++));
        *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override
    {
        if (celt > 2 - m_position)
            return S_FALSE;
        m_position += celt;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumOPCItemAttributes **out) override
    {
        *out = new StubEnumAttributes(m_position);
        return S_OK;
    }

private:
    void *Find(REFIID iid)
    {
        return (iid == IID_IUnknown || iid == IID_IEnumOPCItemAttributes)
                   ? static_cast<IEnumOPCItemAttributes *>(this) : nullptr;
    }
    LONG m_ref = 1;
    ULONG m_position;
};

// One connection point per owner. IOPCShutdown sinks are called back at
// once from inside Advise; the group calls its IOPCDataCallback sink itself.
class StubPoint : public IConnectionPoint {
public:
    StubPoint(IConnectionPointContainer *owner, REFIID iid) : m_owner(owner), m_iid(iid) { ObjectMade(); }
    virtual ~StubPoint()
    {
        if (m_sink)
            m_sink->Release();
        ObjectGone();
    }
    STUB_IUNKNOWN
    STDMETHODIMP GetConnectionInterface(IID *iid) override
    {
        *iid = m_iid;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer **out) override
    {
        return m_owner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(out));
    }
    STDMETHODIMP Advise(IUnknown *sink, DWORD *cookie) override
    {
        CHECK(sink && cookie && !m_sink);
        HRESULT hr = sink->QueryInterface(m_iid, reinterpret_cast<void **>(&m_sink));
        if (FAILED(hr))
            return hr;
        *cookie = 0x5EED;
        if (m_iid == IID_IOPCShutdown)
            return static_cast<IOPCShutdown *>(m_sink)->ShutdownRequest(stub::kShutdownReason);
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override
    {
        if (cookie != 0x5EED || !m_sink)
            return CONNECT_E_NOCONNECTION;
        m_sink->Release();
        m_sink = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections **out) override { return E_NOTIMPL; }

    IUnknown *Sink() const { return m_sink; }

private:
    void *Find(REFIID iid)
    {
        return (iid == IID_IUnknown || iid == IID_IConnectionPoint) ? static_cast<IConnectionPoint *>(this) : nullptr;
    }
    LONG m_ref = 1;
    IConnectionPointContainer *m_owner;  // not counted: the owner outlives the client's use
    IID m_iid;
    IUnknown *m_sink = nullptr;
};

// The container part both stub objects share.
class PointOwner : public IConnectionPointContainer {
protected:
    explicit PointOwner(REFIID iid) : m_point(new StubPoint(this, iid)) {}
    virtual ~PointOwner() { m_point->Release(); }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints **out) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint **out) override
    {
        IID own;
        m_point->GetConnectionInterface(&own);
        if (iid != own)
            return CONNECT_E_NOCONNECTION;
        return m_point->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void **>(out));
    }
    StubPoint *m_point;
};

class StubGroup : public PointOwner, public IOPCGroupStateMgt, public IOPCPublicGroupStateMgt,
                  public IOPCSyncIO, public IOPCAsyncIO, public IOPCAsyncIO2, public IOPCItemMgt {
public:
    StubGroup() : PointOwner(IID_IOPCDataCallback) { ObjectMade(); }
    virtual ~StubGroup() { ObjectGone(); }
    STUB_IUNKNOWN

    // IOPCGroupStateMgt
    STDMETHODIMP GetState(DWORD *rate, BOOL *active, LPWSTR *name, LONG *bias, FLOAT *deadband,
                          DWORD *lcid, OPCHANDLE *client, OPCHANDLE *server) override
    {
        *rate = stub::kRevisedRate;
        *active = TRUE;
        *name = stub::TaskString(stub::kGroupName);
        *bias = stub::kTimeBias;
        *deadband = stub::kDeadband;
        *lcid = stub::kLocale;
        *client = stub::kClientGroup;
        *server = stub::kServerGroup;
        return S_OK;
    }
    STDMETHODIMP SetState(DWORD *rate, DWORD *revised, BOOL *active, LONG *bias, FLOAT *deadband,
                          DWORD *lcid, OPCHANDLE *client) override
    {
        // The null pointers must stay null: "leave this one unchanged".
        CHECK(rate && *rate == stub::kRequestedRate && revised && !active && bias && *bias == stub::kTimeBias &&
              !deadband && lcid && *lcid == stub::kLocale && client && *client == stub::kClientGroup);
        *revised = stub::kRevisedRate;
        return OPC_S_UNSUPPORTEDRATE;
    }
    STDMETHODIMP SetName(LPCWSTR name) override
    {
        CHECK(stub::Same(name, stub::kNewName));
        return S_OK;
    }
    STDMETHODIMP CloneGroup(LPCWSTR name, REFIID iid, LPUNKNOWN *out) override
    {
        CHECK(stub::Same(name, stub::kCloneName));
        return QueryInterface(iid, reinterpret_cast<void **>(out));
    }

    // IOPCPublicGroupStateMgt
    STDMETHODIMP GetState(BOOL *isPublic) override
    {
        *isPublic = FALSE;
        return S_OK;
    }
    STDMETHODIMP MoveToPublic() override { return OPC_E_PUBLIC; }

    // IOPCSyncIO
    STDMETHODIMP Read(OPCDATASOURCE source, DWORD count, OPCHANDLE *items, OPCITEMSTATE **values,
                      HRESULT **errors) override
    {
        CHECK(source == OPC_DS_DEVICE && AreItems(count, items));
        *values = stub::TaskArray<OPCITEMSTATE>(count);
        for (int i = 0; i < 2; ++i) {
            (*values)[i].hClient = stub::kClientItems[i];
            (*values)[i].ftTimeStamp = stub::kTimes[i];
            (*values)[i].wQuality = stub::kQualities[i];
            (*values)[i].wReserved = 0;
            stub::MakeValue(i, &(*values)[i].vDataValue);
        }
        return ErrorArray(count, errors);
    }
    STDMETHODIMP Write(DWORD count, OPCHANDLE *items, VARIANT *values, HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && values && stub::IsValue(0, &values[0]) && stub::IsValue(1, &values[1]));
        return ErrorArray(count, errors);
    }

    // IOPCAsyncIO (OPC 1.0)
    STDMETHODIMP Read(DWORD connection, OPCDATASOURCE source, DWORD count, OPCHANDLE *items,
                      DWORD *transaction, HRESULT **errors) override
    {
        CHECK(connection == stub::kConnection && source == OPC_DS_CACHE && AreItems(count, items));
        *transaction = stub::kTransaction;
        return ErrorArray(count, errors);
    }
    STDMETHODIMP Write(DWORD connection, DWORD count, OPCHANDLE *items, VARIANT *values,
                       DWORD *transaction, HRESULT **errors) override
    {
        CHECK(connection == stub::kConnection && AreItems(count, items) && stub::IsValue(1, &values[1]));
        *transaction = stub::kTransaction;
        return ErrorArray(count, errors);
    }
    STDMETHODIMP Refresh(DWORD connection, OPCDATASOURCE source, DWORD *transaction) override
    {
        CHECK(connection == stub::kConnection && source == OPC_DS_DEVICE);
        *transaction = stub::kTransaction;
        return S_OK;
    }
    STDMETHODIMP Cancel(DWORD transaction) override
    {
        CHECK(transaction == stub::kTransaction);
        return S_OK;
    }

    // IOPCAsyncIO2: each call completes at once through the client's sink;
    // the sink's failure is the call's answer.
    STDMETHODIMP Read(DWORD count, OPCHANDLE *items, DWORD transaction, DWORD *cancel, HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && transaction == stub::kTransaction2);
        *cancel = stub::kCancelId;
        HRESULT hr = SendValues(false);
        if (FAILED(hr))
            return hr;
        return ErrorArray(count, errors);
    }
    STDMETHODIMP Write(DWORD count, OPCHANDLE *items, VARIANT *values, DWORD transaction, DWORD *cancel,
                       HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && stub::IsValue(0, &values[0]) && stub::IsValue(1, &values[1]) &&
              transaction == stub::kTransaction2);
        *cancel = stub::kCancelId;
        IOPCDataCallback *sink = Sink();
        CHECK(sink);
        HRESULT hr = sink->OnWriteComplete(stub::kTransaction2, stub::kClientGroup, S_FALSE, 2,
                                           const_cast<OPCHANDLE *>(stub::kClientItems),
                                           const_cast<HRESULT *>(stub::kItemErrors));
        if (FAILED(hr))
            return hr;
        return ErrorArray(count, errors);
    }
    STDMETHODIMP Refresh2(OPCDATASOURCE source, DWORD transaction, DWORD *cancel) override
    {
        CHECK(source == OPC_DS_CACHE && transaction == stub::kTransaction2);
        *cancel = stub::kCancelId;
        return SendValues(true);
    }
    STDMETHODIMP Cancel2(DWORD cancel) override
    {
        CHECK(cancel == stub::kCancelId);
        IOPCDataCallback *sink = Sink();
        CHECK(sink);
        return sink->OnCancelComplete(stub::kTransaction2, stub::kClientGroup);
    }
    STDMETHODIMP SetEnable(BOOL enable) override
    {
        CHECK(enable == FALSE);
        m_enabled = enable;
        return S_OK;
    }
    STDMETHODIMP GetEnable(BOOL *enable) override
    {
        *enable = m_enabled;
        return S_OK;
    }

    // IOPCItemMgt
    STDMETHODIMP AddItems(DWORD count, OPCITEMDEF *defs, OPCITEMRESULT **results, HRESULT **errors) override
    {
        CHECK(AreDefinitions(count, defs));
        FillResults(count, results);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP ValidateItems(DWORD count, OPCITEMDEF *defs, BOOL blobUpdate, OPCITEMRESULT **results,
                               HRESULT **errors) override
    {
        CHECK(AreDefinitions(count, defs) && blobUpdate == TRUE);
        FillResults(count, results);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP RemoveItems(DWORD count, OPCHANDLE *items, HRESULT **errors) override
    {
        CHECK(AreItems(count, items));
        return ErrorArray(count, errors);
    }
    STDMETHODIMP SetActiveState(DWORD count, OPCHANDLE *items, BOOL active, HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && active == TRUE);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP SetClientHandles(DWORD count, OPCHANDLE *items, OPCHANDLE *clients, HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && clients && clients[0] == stub::kClientItems[0] &&
              clients[1] == stub::kClientItems[1]);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP SetDatatypes(DWORD count, OPCHANDLE *items, VARTYPE *types, HRESULT **errors) override
    {
        CHECK(AreItems(count, items) && types && types[0] == VT_I4 && types[1] == VT_BSTR);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP CreateEnumerator(REFIID iid, LPUNKNOWN *out) override
    {
        CHECK(iid == IID_IEnumOPCItemAttributes);
        *out = new StubEnumAttributes;
        return S_OK;
    }

private:
    void *Find(REFIID iid)
    {
        if (iid == IID_IUnknown || iid == IID_IOPCGroupStateMgt)
            return static_cast<IOPCGroupStateMgt *>(this);
        if (iid == IID_IOPCPublicGroupStateMgt)
            return static_cast<IOPCPublicGroupStateMgt *>(this);
        if (iid == IID_IOPCSyncIO)
            return static_cast<IOPCSyncIO *>(this);
        if (iid == IID_IOPCAsyncIO)
            return static_cast<IOPCAsyncIO *>(this);
        if (iid == IID_IOPCAsyncIO2)
            return static_cast<IOPCAsyncIO2 *>(this);
        if (iid == IID_IOPCItemMgt)
            return static_cast<IOPCItemMgt *>(this);
        if (iid == IID_IConnectionPointContainer)
            return static_cast<IConnectionPointContainer *>(this);
        return nullptr;
    }
    IOPCDataCallback *Sink() const { return static_cast<IOPCDataCallback *>(m_point->Sink()); }
    HRESULT SendValues(bool change)
    {
        IOPCDataCallback *sink = Sink();
        CHECK(sink);
        VARIANT values[2];
        stub::MakeValue(0, &values[0]);
        stub::MakeValue(1, &values[1]);
        OPCHANDLE *clients = const_cast<OPCHANDLE *>(stub::kClientItems);
        WORD *qualities = const_cast<WORD *>(stub::kQualities);
        FILETIME *times = const_cast<FILETIME *>(stub::kTimes);
        HRESULT *errors = const_cast<HRESULT *>(stub::kItemErrors);
        HRESULT hr = change ? sink->OnDataChange(0, stub::kClientGroup, S_FALSE, S_FALSE, 2, clients, values,
                                                 qualities, times, errors)
                            : sink->OnReadComplete(stub::kTransaction2, stub::kClientGroup, S_FALSE, S_FALSE, 2,
                                                   clients, values, qualities, times, errors);
        VariantClear(&values[0]);
        VariantClear(&values[1]);
        return hr;
    }
    static bool AreDefinitions(DWORD count, const OPCITEMDEF *defs)
    {
        if (count != 2 || !defs)
            return false;
        for (int i = 0; i < 2; ++i) {
            const OPCITEMDEF &d = defs[i];
            if (!stub::Same(d.szItemID, stub::kItemID) || d.bActive != (i == 0) || d.hClient != stub::kClientItems[i] ||
                d.vtRequestedDataType != (i ? VT_BSTR : VT_R4))
                return false;
        }
        // The first has an access path and a blob, the second neither.
        return stub::Same(defs[0].szAccessPath, stub::kAccessPath) && stub::IsBlob(defs[0].dwBlobSize, defs[0].pBlob) &&
               defs[1].szAccessPath == nullptr && defs[1].dwBlobSize == 0 && defs[1].pBlob == nullptr;
    }
    static void FillResults(DWORD count, OPCITEMRESULT **results)
    {
        *results = stub::TaskArray<OPCITEMRESULT>(count);
        for (int i = 0; i < 2; ++i) {
            (*results)[i].hServer = stub::kItems[i];
            (*results)[i].vtCanonicalDataType = i ? VT_BSTR : VT_R4;
            (*results)[i].dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
        }
        (*results)[0].dwBlobSize = sizeof(stub::kBlob);
        (*results)[0].pBlob = static_cast<BYTE *>(CoTaskMemAlloc(sizeof(stub::kBlob)));
        std::memcpy((*results)[0].pBlob, stub::kBlob, sizeof(stub::kBlob));
    }
    LONG m_ref = 1;
    BOOL m_enabled = TRUE;
};

class StubServer : public PointOwner, public IOPCServer, public IOPCCommon, public IOPCServerPublicGroups,
                   public IOPCBrowseServerAddressSpace, public IOPCItemProperties {
public:
    StubServer() : PointOwner(IID_IOPCShutdown) { ObjectMade(); }
    virtual ~StubServer() { ObjectGone(); }
    STUB_IUNKNOWN

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR name, BOOL active, DWORD rate, OPCHANDLE client, LONG *bias, FLOAT *deadband,
                          DWORD lcid, OPCHANDLE *server, DWORD *revised, REFIID iid, LPUNKNOWN *out) override
    {
        CHECK(stub::Same(name, stub::kGroupName) && active == TRUE && rate == stub::kRequestedRate &&
              client == stub::kClientGroup && bias && *bias == stub::kTimeBias && !deadband &&
              lcid == stub::kLocale && server && revised && out);
        *server = stub::kServerGroup;
        *revised = stub::kRevisedRate;
        HRESULT hr = MakeGroup(iid, out);
        return FAILED(hr) ? hr : OPC_S_UNSUPPORTEDRATE;
    }
    STDMETHODIMP GetErrorString(HRESULT code, LCID locale, LPWSTR *text) override
    {
        CHECK(code == OPC_E_DUPLICATENAME && locale == 1033);
        *text = stub::TaskString(stub::kErrorText);
        return S_OK;
    }
    STDMETHODIMP GetGroupByName(LPCWSTR name, REFIID iid, LPUNKNOWN *out) override
    {
        if (!stub::Same(name, stub::kGroupName)) {
            *out = nullptr;
            return E_INVALIDARG;
        }
        return MakeGroup(iid, out);
    }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS **status) override
    {
        OPCSERVERSTATUS *s = stub::TaskArray<OPCSERVERSTATUS>(1);
        s->ftStartTime = stub::kStartTime;
        s->ftCurrentTime = stub::kTimes[0];
        s->ftLastUpdateTime = stub::kTimes[1];
        s->dwServerState = OPC_STATUS_RUNNING;
        s->dwGroupCount = 3;
        s->dwBandWidth = 0xFFFFFFFF;
        s->wMajorVersion = 7;
        s->wMinorVersion = 20;
        s->wBuildNumber = 1;
        s->wReserved = 42;
        s->szVendorInfo = stub::TaskString(stub::kVendor);
        *status = s;
        return S_OK;
    }
    STDMETHODIMP RemoveGroup(OPCHANDLE group, BOOL force) override
    {
        CHECK(group == stub::kServerGroup && force == TRUE);
        return OPC_S_INUSE;
    }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID iid, LPUNKNOWN *out) override
    {
        CHECK(scope == OPC_ENUM_ALL && iid == IID_IEnumString);
        *out = new StubEnumString({stub::kGroupName, L"Group1"});
        return S_OK;
    }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID lcid) override { return lcid == stub::kLocale ? S_OK : E_INVALIDARG; }
    STDMETHODIMP GetLocaleID(LCID *lcid) override
    {
        *lcid = stub::kLocale;
        return S_OK;
    }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD *count, LCID **lcids) override
    {
        *lcids = stub::TaskArray<LCID>(2);
        (*lcids)[0] = stub::kLocale;
        (*lcids)[1] = 1033;
        *count = 2;
        return S_OK;
    }
    STDMETHODIMP GetErrorString(HRESULT code, LPWSTR *text) override
    {
        CHECK(code == OPC_E_DUPLICATENAME);
        *text = stub::TaskString(stub::kErrorText);
        return S_OK;
    }
    STDMETHODIMP SetClientName(LPCWSTR name) override
    {
        CHECK(stub::Same(name, stub::kClientName));
        return S_OK;
    }

    // IOPCServerPublicGroups
    STDMETHODIMP GetPublicGroupByName(LPCWSTR name, REFIID iid, LPUNKNOWN *out) override
    {
        CHECK(stub::Same(name, stub::kPublicName));
        return MakeGroup(iid, out);
    }
    STDMETHODIMP RemovePublicGroup(OPCHANDLE group, BOOL force) override
    {
        CHECK(group == stub::kServerGroup && force == FALSE);
        return S_OK;
    }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE *type) override
    {
        *type = OPC_NS_HIERARCHIAL;
        return S_OK;
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR to) override
    {
        CHECK(direction == OPC_BROWSE_DOWN && stub::Same(to, stub::kBrowseTo));
        return S_OK;
    }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE vt, DWORD rights,
                                  LPENUMSTRING *out) override
    {
        CHECK(type == OPC_LEAF && stub::Same(filter, stub::kFilter) && vt == VT_I2 && rights == OPC_WRITEABLE);
        *out = new StubEnumString({stub::kLeaves[0], stub::kLeaves[1]});
        return S_OK;
    }
    STDMETHODIMP GetItemID(LPWSTR leaf, LPWSTR *id) override
    {
        CHECK(stub::Same(leaf, stub::kLeaves[0]));
        *id = stub::TaskString(stub::kItemID);
        return S_OK;
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR id, LPENUMSTRING *out) override
    {
        CHECK(stub::Same(id, stub::kItemID));
        *out = nullptr;
        return E_NOTIMPL;
    }

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR id, DWORD *count, DWORD **ids, LPWSTR **names,
                                          VARTYPE **types) override
    {
        CHECK(stub::Same(id, stub::kItemID));
        *count = 3;
        *ids = stub::TaskArray<DWORD>(3);
        *names = stub::TaskArray<LPWSTR>(3);
        *types = stub::TaskArray<VARTYPE>(3);
        for (int i = 0; i < 3; ++i) {
            (*ids)[i] = stub::kProperties[i];
            (*names)[i] = stub::TaskString(stub::kPropertyNames[i]);
            (*types)[i] = stub::kPropertyTypes[i];
        }
        return S_OK;
    }
    STDMETHODIMP GetItemProperties(LPWSTR id, DWORD count, DWORD *ids, VARIANT **data, HRESULT **errors) override
    {
        CHECK(stub::Same(id, stub::kItemID) && count == 3 && ids && ids[0] == 2 && ids[1] == 3 && ids[2] == 4);
        *data = stub::TaskArray<VARIANT>(3);
        stub::MakeValue(1, &(*data)[0]);
        V_VT(&(*data)[1]) = VT_I2;
        V_I2(&(*data)[1]) = 0xC0;
        stub::MakeRange(&(*data)[2]);
        return ErrorArray(count, errors);
    }
    STDMETHODIMP LookupItemIDs(LPWSTR id, DWORD count, DWORD *ids, LPWSTR **newIds, HRESULT **errors) override
    {
        CHECK(stub::Same(id, stub::kItemID) && count == 2 && ids && ids[0] == 2 && ids[1] == 3);
        *newIds = stub::TaskArray<LPWSTR>(2);
        (*newIds)[0] = stub::TaskString(stub::kLeaves[1]);
        (*newIds)[1] = nullptr;  // no item ID for this property
        return ErrorArray(count, errors);
    }

private:
    void *Find(REFIID iid)
    {
        if (iid == IID_IUnknown || iid == IID_IOPCServer)
            return static_cast<IOPCServer *>(this);
        if (iid == IID_IOPCCommon)
            return static_cast<IOPCCommon *>(this);
        if (iid == IID_IOPCServerPublicGroups)
            return static_cast<IOPCServerPublicGroups *>(this);
        if (iid == IID_IOPCBrowseServerAddressSpace)
            return static_cast<IOPCBrowseServerAddressSpace *>(this);
        if (iid == IID_IOPCItemProperties)
            return static_cast<IOPCItemProperties *>(this);
        if (iid == IID_IConnectionPointContainer)
            return static_cast<IConnectionPointContainer *>(this);
        return nullptr;
    }
    static HRESULT MakeGroup(REFIID iid, LPUNKNOWN *out)
    {
        StubGroup *group = new StubGroup;
        HRESULT hr = group->QueryInterface(iid, reinterpret_cast<void **>(out));
        group->Release();
        return hr;
    }
    LONG m_ref = 1;
};

class StubFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        StubServer *server = new StubServer;
        HRESULT hr = server->QueryInterface(iid, out);
        server->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ObjectMade();
        else
            ObjectGone();
        return S_OK;
    }
};

}  // namespace

int main()
{
    g_idle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    static StubFactory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_OpcStubServer, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie)))
        return 2;
    // Ends once the last object has gone (and after a minute at most, so a
    // client that died leaves no process behind).
    for (;;) {
        DWORD wait = WaitForSingleObject(g_idle, 60000);
        if (wait != WAIT_OBJECT_0 || g_live == 0)
            break;
    }
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return 0;
}
