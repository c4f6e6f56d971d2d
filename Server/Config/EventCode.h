// The event code of a log record forwarded to the Alarm & Event connections:
// category, group and state packed as category | group << 8 | state << 16.
#pragma once
#include <cstdint>

class CEventCode {
public:
    CEventCode(uint8_t category, uint8_t group, uint8_t state)
        : m_category(category), m_group(group), m_state(state) {}

    uint32_t Value() const { return uint32_t(m_category) | uint32_t(m_group) << 8 | uint32_t(m_state) << 16; }
    uint8_t Category() const { return m_category; }
    uint8_t Group() const { return m_group; }
    uint8_t State() const { return m_state; }

    static CEventCode ObjectEnabled() { return CEventCode(2, 2, 1); }
    static CEventCode ObjectDisabled() { return CEventCode(2, 2, 2); }
    static CEventCode CommFailed() { return CEventCode(1, 1, 1); }
    static CEventCode CommRecovered() { return CEventCode(1, 1, 2); }

private:
    uint8_t m_category, m_group, m_state;
};
