#include "HuffmanTable.h"

#include <algorithm>

namespace rar {

bool HuffmanTable::build(const uint8_t *lengths, size_t count)
{
    uint32_t perLength[kMaxLength + 1] = {};
    for (size_t i = 0; i < count; ++i) perLength[lengths[i] & 0x0f]++;
    perLength[0] = 0;

    uint32_t code = 0;
    uint32_t index = 0;
    for (unsigned l = 1; l <= kMaxLength; ++l) {
        m_start[l] = code;
        m_index[l] = index;
        code += perLength[l] << (16 - l);
        index += perLength[l];
        m_limit[l] = code;
    }
    if (code > 0x10000) return false;

    m_symbols.assign(index, 0);
    uint32_t next[kMaxLength + 1];
    for (unsigned l = 0; l <= kMaxLength; ++l) next[l] = m_index[l];
    for (size_t i = 0; i < count; ++i) {
        const unsigned l = lengths[i] & 0x0f;
        if (l != 0) m_symbols[next[l]++] = uint16_t(i);
    }

    // Each code of up to kQuickBits bits fills the run of quick entries that
    // start with it; longer codes leave their entries to decodeSlow.
    std::fill(std::begin(m_quickLength), std::end(m_quickLength), uint8_t(0));
    for (unsigned l = 1; l <= kQuickBits; ++l) {
        const uint32_t run = 1u << (kQuickBits - l);
        uint32_t q = m_start[l] >> (16 - kQuickBits);
        for (uint32_t i = m_index[l]; i < m_index[l] + perLength[l]; ++i, q += run) {
            std::fill_n(m_quickSymbol + q, run, m_symbols[i]);
            std::fill_n(m_quickLength + q, run, uint8_t(l));
        }
    }
    return true;
}

int HuffmanTable::decodeSlow(BitReader &in, uint32_t v) const
{
    for (unsigned l = kQuickBits + 1; l <= kMaxLength; ++l) {
        if (v < m_limit[l]) {
            in.skip(l);
            return m_symbols[m_index[l] + ((v - m_start[l]) >> (16 - l))];
        }
    }
    return -1;
}

int HuffmanTable::lookupSlow(uint32_t v, unsigned &length) const
{
    for (unsigned l = kQuickBits + 1; l <= kMaxLength; ++l) {
        if (v < m_limit[l]) {
            length = l;
            return m_symbols[m_index[l] + ((v - m_start[l]) >> (16 - l))];
        }
    }
    length = 0;
    return -1;
}

}  // namespace rar
