// COPCDrvItem: one item of an OPC group. Its item ID becomes Oxley's item
// records (address, signal conditioning, options); it keeps the last value
// with quality and time, decides what counts as a change, and reads and
// writes through Oxley.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "KivRecords.h"
#include "Object.h"
#include "OpcDataAccess.h"

class CBlockAnswers;
class COPCDrvGroup;

// Change flags: how the client is still to be told of an item's change.
enum : WORD { CHANGE_CALLBACK = 1, CHANGE_DATA = 2, CHANGE_DATATIME = 4, CHANGE_ALL = 7 };
// Where a value is taken from.
enum : DWORD { SOURCE_CACHE = 1, SOURCE_DEVICE = 2 };

class COPCDrvItem : public IUnknown, public CObject {
    QOR_DECLARE_DYNAMIC(COPCDrvItem)
public:
    explicit COPCDrvItem(COPCDrvGroup *group);
    ~COPCDrvItem() override;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // The group list's own reference, which does not hold the group (the
    // group frees its items at its end); every other reference holds it.
    ULONG ListAddRef();
    ULONG ListRelease();

    OPCHANDLE ServerHandle() const { return Handle(); }

    // AddItems / ValidateItems: takes the definition, fills the result
    // record; the first failing step's code. The items of one call share
    // the I/O server's answers about their blocks.
    HRESULT SetUp(const OPCITEMDEF *def, OPCITEMRESULT *result, CBlockAnswers &answers);
    // Splits an item ID into its parts (upper-cased); OPC_E_INVALIDITEMID
    // when empty.
    HRESULT ParseItemID(const std::string &id);
    HRESULT ParseAddress(VARTYPE requested, CBlockAnswers &answers);
    HRESULT ParseSignalConditioning();
    HRESULT ParseHardwareOptions();
    void SetUpEgu();
    HRESULT SetRequestedType(VARTYPE requested);
    std::string BuildItemID();

    // Decides the new active state under the item lock; true when it
    // changed. The caller marks the group afterwards (group before item).
    bool SetActive(BOOL active);
    BOOL IsActive();
    void SetClientHandle(OPCHANDLE handle);
    OPCHANDLE ClientHandle();

    HRESULT GetValue(DWORD source, VARIANT *value, WORD *quality, FILETIME *timestamp, DATE *date = nullptr);
    HRESULT WriteValue(const VARIANT *value);
    // The clone's copy; the caller adds it to its group.
    void CopyFrom(COPCDrvItem &from);
    HRESULT GetAttributes(OPCITEMATTRIBUTES *attributes, IMalloc *malloc);

    void ReadDevice();
    // The poll pass's read: true when the value, quality or status changed.
    bool UpdateCache();
    bool HasChanged(const VARIANT &value, WORD oldQuality, WORD oldStatus);
    bool ExceedsDeadband(float oldValue, float newValue);

    COPCDrvGroup *Group() const { return m_pGroup; }

    // Parts of the item ID, upper-cased.
    std::string m_itemID, m_address, m_signal, m_loEgu, m_hiEgu, m_options;
    std::string m_stateTexts[2];  // a digital item's two state texts
    BYTE m_decimals = 0;
    short m_valueLength = 1;
    VARTYPE m_vtCanonical = VT_R4;
    VARTYPE m_vtRequested = VT_EMPTY;
    WORD m_wChangeFlags = 0;      // guarded by the group's lock

    // The cache, under the item lock.
    VARIANT m_value;
    WORD m_wQuality = OPC_QUALITY_CONFIG_ERROR;
    FILETIME m_ftTimestamp = {0, 0};
    bool m_bCacheValid = false;
    WORD m_wStatus = 0;

    KivBlock m_block;
    KivDevice m_device;
    KivAddress m_addressRecord;
    KivKind m_kind;

private:
    void Lock() { EnterCriticalSection(&m_cs); }
    void Unlock() { LeaveCriticalSection(&m_cs); }
    // kiv_readEx into value; status and quality of the read.
    void ReadKiv(VARIANT *value, WORD *quality, FILETIME *time, WORD *status);

    LONG m_cRef = 0;
    COPCDrvGroup *m_pGroup;
    OPCHANDLE m_hClient = 0;
    BOOL m_bActive = FALSE;
    CRITICAL_SECTION m_cs;
};

// The kind and canonical type a requested (or block) type gives.
void KindForType(VARTYPE type, bool digitalAddress, BYTE *kind, VARTYPE *canonical);

// An item was activated: with "AutoStart" set, the I/O server is started
// and waited for when it does not poll. Call it holding no OPC lock.
void StartPollingIfAsked();
