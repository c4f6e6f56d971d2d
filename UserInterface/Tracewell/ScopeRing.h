// The data monitor's byte ring: the bytes of the last frames with the
// direction of each byte, kept as whole lines of Columns bytes. One byte
// always stays free so that equal indices mean empty. The ring takes no lock
// itself: its owner holds the library's one critical section around it.
#pragma once
#include <cstddef>
#include <cstdint>

class CScopeRing {
public:
    CScopeRing() = default;
    ~CScopeRing() { Free(); }
    CScopeRing(const CScopeRing &) = delete;
    CScopeRing &operator=(const CScopeRing &) = delete;

    // Allocates both arrays for columns x lines bytes and empties the ring;
    // false when either allocation fails (nothing is then held).
    bool Allocate(unsigned columns, unsigned lines);
    void Free();
    bool IsAllocated() const { return m_data != nullptr; }

    // Appends a frame; direction non-zero marks the bytes as sent. When the
    // frame does not fit, whole lines go from the oldest end. A frame longer
    // than capacity - 1 empties the ring and keeps its last capacity - 1 bytes.
    void Append(const uint8_t *bytes, size_t length, int direction);
    // Both indices back to 0.
    void Clear() { m_write = m_start = 0; }

    size_t Capacity() const { return m_capacity; }
    unsigned Columns() const { return m_columns; }
    size_t Start() const { return m_start; }
    size_t Write() const { return m_write; }
    bool IsEmpty() const { return m_write == m_start; }
    size_t Used() const;
    // Lines in use: used bytes rounded up to whole lines.
    size_t LinesUsed() const;

    // The byte and its direction (1 sent, 0 received) at the position
    // offset bytes after the start index; offset < Used().
    uint8_t ByteAt(size_t offset) const { return m_data[Wrap(m_start + offset)]; }
    uint8_t DirectionAt(size_t offset) const { return m_direction[Wrap(m_start + offset)]; }

private:
    size_t Wrap(size_t index) const { return index >= m_capacity ? index - m_capacity : index; }

    uint8_t *m_data = nullptr;
    uint8_t *m_direction = nullptr;
    size_t m_capacity = 0;
    unsigned m_columns = 0;
    size_t m_write = 0;
    size_t m_start = 0;
};
