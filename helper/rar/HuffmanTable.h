#pragma once
// A canonical prefix code given by its code lengths (0..15 bits, 0 meaning
// unused), as the compressed streams transmit their tables. Most symbols
// decode with one look-up of the next ten bits.

#include "BitReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rar {

class HuffmanTable {
public:
    static constexpr unsigned kMaxLength = 15;

    // False when the lengths over-fill the code space (no valid stream does that).
    bool build(const uint8_t *lengths, size_t count);
    // The next symbol, or -1 when the bits match no code of an incomplete table.
    int decode(BitReader &in) const
    {
        const uint32_t v = in.peek16();
        const uint32_t q = v >> (16 - kQuickBits);
        if (m_quickLength[q] != 0) {
            in.skip(m_quickLength[q]);
            return m_quickSymbol[q];
        }
        return decodeSlow(in, v);
    }

    // The symbol whose code begins the 16 bits v (left-aligned) and the code's
    // length, for loops that keep their own bit buffer; -1 as for decode().
    int lookup(uint32_t v, unsigned &length) const
    {
        const uint32_t q = v >> (16 - kQuickBits);
        length = m_quickLength[q];
        if (length != 0) return m_quickSymbol[q];
        return lookupSlow(v, length);
    }

private:
    static constexpr unsigned kQuickBits = 10;
    int decodeSlow(BitReader &in, uint32_t v) const;
    int lookupSlow(uint32_t v, unsigned &length) const;

    // Left-aligned to 16 bits: the first code of each length, and the code
    // after the last code of that length or shorter.
    uint32_t m_start[kMaxLength + 1] = {};
    uint32_t m_limit[kMaxLength + 1] = {};
    uint32_t m_index[kMaxLength + 1] = {};  // position of the first symbol of each length
    std::vector<uint16_t> m_symbols;        // ordered by length, then value
    uint16_t m_quickSymbol[1u << kQuickBits] = {};
    uint8_t m_quickLength[1u << kQuickBits] = {};
};

}  // namespace rar
