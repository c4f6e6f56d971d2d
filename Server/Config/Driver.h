// The root of the configuration tree: one per server process. It owns the
// channels, keeps the tree-wide statistics and answers name searches over
// the whole tree.
#pragma once
#include "ConfigObject.h"
#include "Channel.h"

class CCommonMemory;
class COutputThread;

// The time and the sleep of the start rule (100 ns units since 1601, and
// ms); tests install their own (null restores the system's).
using DriverClockFn = ULONGLONG (*)();
using DriverSleepFn = void (*)(DWORD ms);
void SetDriverClock(DriverClockFn now, DriverSleepFn sleep);

// The hint text of HMI address entry.
extern const char kDataAddressHint[];

class CDriver : public CConfigObject {
    QOR_DECLARE_SERIAL(CDriver)
public:
    // The object's own fields in the configuration file (children are
    // written by the document, each after its parent).
    void Serialize(CArchive &archive) override;
    CDriver();
    // acronym: the driver's short name (registry key, named objects);
    // the display Name is "<product>, Version <version>".
    CDriver(const char *acronym, const char *productName, const char *versionText);
    ~CDriver() override;

    // The process's driver object (the latest constructed), or null.
    static CDriver *Current();

    const CPropertyTable &Properties() const override;
    void ResetCounter(PropertyId id) override;

    const std::string &Acronym() const { return m_acronym; }
    std::string DisplayName() const;
    void SetProduct(const std::string &productName, const std::string &versionText);

    // Polling state; the start and stop sequences set it.
    bool IsRunning() const { return m_running != 0; }
    void SetRunningState(bool running);

    // Start: 0 when running already or started; within 5 s of the last
    // stop CFG_E_START_TOO_SOON, or with wait the rest of the 5 s slept.
    // CFG_E_START_TOO_SOON (and a line) while processors of the last stop
    // are still being deleted, unless wait.
    LONG Start(bool wait);
    LONG Stop();
    // Forced poll of every enabled channel; E_FAIL without channels.
    LONG Poll();

    // The store the driver made and installed (null when it could not be
    // made), and its 250-byte status block.
    CCommonMemory *Store() const { return m_store; }
    bool HasStatusBlock() const { return m_statusExists; }
    unsigned short StatusBlockIndex() const { return m_statusIndex; }
    // The four words of the status block: E_FAIL without store, 1 without
    // status block.
    LONG PublishServerStatus(uint16_t serverState, uint16_t kivRefs, uint16_t opcClients, uint16_t pollRefs);

    // HMI address resolution: a data address "Dev:StartAddr[:Bit]" (any of
    // ";,./\" or blank also separates) gives the block's address word, the
    // bit, its store index and handle, creating or extending a block of the
    // device as needed; a control name "!Keyword:Object" gives keyword << 28
    // and the object's handle. deviceRef in: 0 or the reference of the
    // device asked for; out: the device's reference.
    LONG SetDataAddress(const char *text, uint32_t item, uint32_t *deviceRef, uint32_t *addressWord,
                        uint32_t *internalAddress, unsigned short *index, uint32_t *handle);
    // The canonical text of an HMI item: "!Keyword:Object" for a control
    // item (internal address 0x10000000 or more), "Device:StartAddr" for
    // a text item (S7ItemText in the low byte of item), with ":Bit" for a
    // digital one (S7ItemDigital); the hint text for anything else. Answers 0.
    LONG GetDataAddress(uint32_t addressWord, uint32_t internalAddress, uint32_t blockHandle, uint32_t item,
                        std::string *text) const;
    // Copy or move of a device with its data blocks to a channel under a new
    // name (empty: a default name for a copy, the old name for a move).
    LONG CopyDevice(CDevice *device, const std::string &newName, CChannel *channel, bool move);
    // on: add the HMI point's registration to the block, else remove it.
    LONG RegisterException(bool on, CDataBlock *block, uint32_t address, uint32_t internalAddress, uint8_t tag,
                           uint16_t id, uint8_t kind, uint32_t hmiValue);

    // The S7 configuration as VT_ARRAY | VT_BSTR with a count.
    LONG GetCpNames(VARIANT *names, LONG *count);
    LONG GetVfdNames(const char *cpName, VARIANT *names, LONG *count);
    LONG GetConnectionNames(const char *cpName, const char *vfdName, VARIANT *names, LONG *count);

    uint32_t SapiTimeout() const { return m_sapiTimeout; }
    uint32_t WriteQueueMaxSize() const { return m_writeQueueMaxSize; }
    bool AutoCreate() const { return m_autoCreate; }

    // Child list. AddChannel: CFG_E_NAME_USED for a channel of the same
    // name. RemoveChannel (null: the first): E_INVALIDARG for another class,
    // CFG_E_NO_CHANNELS, CFG_E_NOT_FOUND; disables silently and deletes.
    LONG AddChannel(CChannel *channel);
    LONG RemoveChannel(CObject *channel);
    // Element i: the channel's handle (VT_I4) and its name (VT_BSTR).
    LONG GetChannels(SAFEARRAY *handles, SAFEARRAY *names);
    std::vector<CChannel *> Channels() const;

    // The first object of the tree (channels, then each channel's devices,
    // then each device's blocks) named name, ignoring case; skip is passed
    // over. Null when none.
    CConfigObject *FindByName(const char *name, const CConfigObject *skip = nullptr) const;

protected:
    LONG GetValue(const PropertyInfo &info, VARIANT *value) override;
    LONG SetValue(const PropertyInfo &info, const VARIANT &value) override;

private:
    void ReadRegistry();
    void ReadWriteQueueMaxSize();
    void CreateStore();
    void DestroyStore();
    void StartOutputThread();
    void StopOutputThread();
    LONG ResolveControlName(const std::string &text, uint32_t *internalAddress, uint32_t *handle);
    LONG ResolveInDevice(CDevice *device, const std::string &addressText, uint32_t *addressWord,
                         uint32_t *internalAddress, unsigned short *index, uint32_t *handle);

    std::string m_acronym, m_productName, m_versionText;
    CChildList<CChannel> m_channels;
    uint32_t m_sapiTimeout = 1000;
    uint32_t m_writeQueueMaxSize = 2000;
    bool m_autoCreate = true;
    volatile LONG m_running = 0;
    FILETIME m_lastLoadTime{}, m_lastStartTime{}, m_lastStopTime{};
    ULONGLONG m_stopClock = 0;          // the start rule's clock at the last stop
    CCommonMemory *m_store = nullptr;
    unsigned short m_statusIndex = 0;
    bool m_statusExists = false;
    COutputThread *m_output = nullptr;
};
