#pragma once
// Bounds-checked little-endian reading and writing of header fields. Every
// read reports failure instead of running past the end of its buffer.

#include "Crc32.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rarcontainer {

class ByteReader {
public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }
    const uint8_t *here() const { return m_data + m_pos; }
    bool ok() const { return m_ok; }

    bool skip(uint64_t n)
    {
        if (!m_ok || n > remaining()) return m_ok = false;
        m_pos += size_t(n);
        return true;
    }
    uint64_t le(int bytes)
    {
        if (!m_ok || size_t(bytes) > remaining()) { m_ok = false; return 0; }
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(m_data[m_pos + i]) << (8 * i);
        m_pos += bytes;
        return v;
    }
    uint8_t u8() { return uint8_t(le(1)); }
    uint16_t u16() { return uint16_t(le(2)); }
    uint32_t u32() { return uint32_t(le(4)); }
    uint64_t u64() { return le(8); }
    // Variable-length integer: 7 bits per byte, high bit set on all but the last.
    uint64_t vint()
    {
        uint64_t v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (!m_ok || remaining() == 0) { m_ok = false; return 0; }
            uint8_t b = m_data[m_pos++];
            if (shift == 63 && (b & 0x7E)) { m_ok = false; return 0; }
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        m_ok = false;
        return 0;
    }
    bool copy(uint8_t *out, size_t n)
    {
        if (!m_ok || n > remaining()) return m_ok = false;
        for (size_t i = 0; i < n; ++i) out[i] = m_data[m_pos + i];
        m_pos += n;
        return true;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

inline void putLe(std::vector<uint8_t> &out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

inline void putVint(std::vector<uint8_t> &out, uint64_t v)
{
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}

inline size_t vintSize(uint64_t v)
{
    size_t n = 1;
    while (v >= 0x80) { v >>= 7; ++n; }
    return n;
}

inline uint32_t crc32Update(uint32_t crc, const uint8_t *data, size_t size)
{
    Crc32 running(crc);
    running.update(data, size);
    return running.value();
}
inline uint32_t crc32Of(const uint8_t *data, size_t size) { return Crc32::of(data, size); }

}  // namespace rarcontainer
