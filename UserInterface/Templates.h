// The templates: the values the server gives a new channel, device or data
// block, kept under the driver key's "ChannelDefaults", "DeviceDefaults" and
// "DataBlockDefaults" on the server's machine, mapped to and from the three
// template proxies that the Templates dialog's panes edit.
#pragma once
#include <string>
#include "ObjectItems.h"
#include "SettingsKey.h"
#include "UiSinks.h"

struct TemplateValue {
    int kind;              // 0 channel, 1 device, 2 data block
    const char *name;      // the registry value
    const char *property;  // the proxy's property
    bool number;           // a 32-bit value, else text
    const char *fallback;  // when missing
    const char *emptyShown;  // what an empty text is shown as ("None", "Disabled"), or null
};
extern const TemplateValue TemplateValues[29];

class CTemplates {
public:
    static const char *const SubKeys[3];
    static const char OpenFailed[];      // "Open registry failed"
    static const char WriteFailed[];     // "Unable to write to registry"
    static const char MemoryFailed[];    // "Memory allocation failure"

    CTemplates(ISettingsKey &key, IMessageSink &messages) : m_key(key), m_messages(messages) {}

    // Fills the proxies from machine's registry (empty: this one); a missing
    // value takes its default. False when a kind could not be opened.
    bool Read(const std::string &machine, CChannelItem &channel, CDeviceItem &device, CDataBlockItem &block);
    // Writes every value; "None" and "Disabled" go as empty texts. False
    // (with the message shown) when a key could not be opened or a value
    // not written.
    bool Write(const std::string &machine, const CChannelItem &channel, const CDeviceItem &device,
               const CDataBlockItem &block);

private:
    ISettingsKey &m_key;
    IMessageSink &m_messages;
};
