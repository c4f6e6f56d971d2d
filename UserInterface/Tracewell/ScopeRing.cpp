#include "ScopeRing.h"
#include <new>

bool CScopeRing::Allocate(unsigned columns, unsigned lines)
{
    Free();
    const size_t capacity = size_t(columns) * lines;
    if (capacity == 0)
        return false;
    m_data = new (std::nothrow) uint8_t[capacity];
    if (!m_data)
        return false;
    m_direction = new (std::nothrow) uint8_t[capacity];
    if (!m_direction) {
        Free();
        return false;
    }
    m_capacity = capacity;
    m_columns = columns;
    Clear();
    return true;
}

void CScopeRing::Free()
{
    delete[] m_data;
    delete[] m_direction;
    m_data = m_direction = nullptr;
    m_capacity = 0;
    m_write = m_start = 0;
}

size_t CScopeRing::Used() const
{
    return m_write >= m_start ? m_write - m_start : m_capacity - m_start + m_write;
}

size_t CScopeRing::LinesUsed() const
{
    if (!m_columns)
        return 0;
    return (Used() + m_columns - 1) / m_columns;
}

void CScopeRing::Append(const uint8_t *bytes, size_t length, int direction)
{
    if (!m_data || length == 0)
        return;
    if (length > m_capacity - 1) {
        // Only the frame's tail can be held; what was stored before would be
        // dropped line by line anyway.
        bytes += length - (m_capacity - 1);
        length = m_capacity - 1;
        Clear();
    }
    const size_t used = Used();
    size_t free = m_capacity - used - 1;
    if (free < length && used <= (length - free + m_columns - 1) / m_columns * m_columns) {
        // Every stored byte goes: moving the start past the write index would
        // hide the head of the new frame, so the ring starts over instead.
        Clear();
        free = m_capacity - 1;
    }
    while (free < length) {
        m_start += m_columns;
        if (m_start >= m_capacity)
            m_start = 0;
        free += m_columns;
    }
    const uint8_t mark = direction ? 1 : 0;
    for (size_t i = 0; i < length; ++i) {
        m_data[m_write] = bytes[i];
        m_direction[m_write] = mark;
        if (++m_write == m_capacity)
            m_write = 0;
    }
}
