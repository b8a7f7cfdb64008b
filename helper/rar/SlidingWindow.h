#pragma once
// The circular history the LZ decoder copies from. Positions are absolute
// (bytes decoded since the window was created, across the entries of a solid
// stream); the buffer keeps the latest size() of them. Unwritten bytes read as
// zeros so that a damaged stream can never expose stale memory.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace rar {

class SlidingWindow {
public:
    // Makes the window hold size bytes, keeping the latest ones written. False
    // (window unchanged) when the memory cannot be had.
    bool resize(uint64_t size);
    uint64_t size() const { return m_size; }
    uint64_t position() const { return m_position; }

    void put(uint8_t byte)
    {
        m_data[m_index] = byte;
        if (++m_index == m_size) m_index = 0;
        ++m_position;
    }
    // Appends n bytes (n <= size()).
    void write(const uint8_t *bytes, size_t n)
    {
        const size_t first = size_t(std::min<uint64_t>(n, m_size - m_index));
        std::memcpy(m_data.get() + m_index, bytes, first);
        std::memcpy(m_data.get(), bytes + first, n - first);
        m_index = (m_index + n) % m_size;
        m_position += n;
    }
    // Copies length bytes from distance back (1 <= distance <= size()),
    // overlapping forwards as LZ matches do.
    void copyMatch(uint64_t distance, uint64_t length)
    {
        // Most matches are short, and neither end wraps: eight bytes a step,
        // never past the match's end (each step reads bytes at least eight
        // behind those it writes, so an overlapping match repeats as it must).
        if (distance >= 8 && distance <= m_index && length <= 64 && m_index + length < m_size) {
            uint8_t *out = m_data.get() + m_index;
            copyEightAtATime(out, out - distance, length);
            m_index += length;
            m_position += length;
            return;
        }
        copyLongMatch(distance, length);
    }
    // Bytes at absolute positions [from, from + n), all within the latest size().
    void read(uint64_t from, uint8_t *out, size_t n) const;

private:
    void copyLongMatch(uint64_t distance, uint64_t length);
    // Forwards, eight bytes a step: right for an overlapping match as long
    // as `in` is at least eight bytes behind `out`.
    static void copyEightAtATime(uint8_t *out, const uint8_t *in, uint64_t length)
    {
        uint64_t i = 0;
        for (; i + 8 <= length; i += 8) {
            uint64_t word;
            std::memcpy(&word, in + i, 8);
            std::memcpy(out + i, &word, 8);
        }
        for (; i < length; ++i) out[i] = in[i];
    }

    struct Free {
        void operator()(uint8_t *p) const { std::free(p); }
    };
    // calloc: a large window costs memory only as far as it gets written.
    std::unique_ptr<uint8_t[], Free> m_data;
    uint64_t m_size = 0;
    uint64_t m_index = 0;     // m_position modulo m_size
    uint64_t m_position = 0;
};

}  // namespace rar
