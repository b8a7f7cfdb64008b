#pragma once
// Most-significant-bit-first reader over a byte buffer the caller owns. Bits
// past the end of the buffer read as zeros: the decoder decides separately
// whether a read strayed beyond its block, so no read here can fault.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rar {

class BitReader {
public:
    void reset(const uint8_t *data, size_t size)
    {
        m_data = data;
        m_size = size;
    }
    uint64_t position() const { return m_bit; }
    void setPosition(uint64_t bit) { m_bit = bit; }

    // The next 32 bits, left-aligned, without consuming them.
    uint32_t peek32() const
    {
        const uint64_t byte = m_bit >> 3;
        uint64_t word = 0;
        if (byte + 8 <= m_size) {
            // One unaligned load, byte-swapped: the symbol loops spend most
            // of their time here.
            std::memcpy(&word, m_data + byte, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            word = __builtin_bswap64(word);
#endif
        } else {
            for (uint64_t i = 0; i < 8; ++i) word = (word << 8) | (byte + i < m_size ? m_data[byte + i] : 0);
        }
        return uint32_t((word << (m_bit & 7)) >> 32);
    }
    uint32_t peek16() const { return peek32() >> 16; }
    void skip(unsigned n) { m_bit += n; }

    // n in 0..32.
    uint32_t bits(unsigned n)
    {
        if (n == 0) return 0;
        const uint32_t v = peek32() >> (32 - n);
        m_bit += n;
        return v;
    }
    // n in 0..64, for the widest distances of large dictionaries.
    uint64_t wideBits(unsigned n)
    {
        if (n <= 32) return bits(n);
        const uint64_t high = bits(n - 32);
        return (high << 32) | bits(32);
    }

private:
    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    uint64_t m_bit = 0;
};

}  // namespace rar
