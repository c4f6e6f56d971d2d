// The root of the configuration tree: one per server process. It owns the
// channels, keeps the tree-wide statistics and answers name searches over
// the whole tree.
#pragma once
#include "ConfigObject.h"
#include "Channel.h"

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

    // Polling state; the start and stop sequences set it.
    bool IsRunning() const { return m_running != 0; }
    void SetRunningState(bool running);

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

    std::string m_acronym, m_productName, m_versionText;
    CChildList<CChannel> m_channels;
    uint32_t m_sapiTimeout = 1000;
    uint32_t m_writeQueueMaxSize = 2000;
    bool m_autoCreate = true;
    volatile LONG m_running = 0;
    FILETIME m_lastLoadTime{}, m_lastStartTime{}, m_lastStopTime{};
};
