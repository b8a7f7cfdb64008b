#include "Rar15Decoder.h"

#include "HuffmanTable.h"

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace rar {

namespace {

// A canonical code given as (length, how many symbols) pairs, in symbol order.
HuffmanTable canonical(std::initializer_list<std::pair<uint8_t, unsigned>> runs)
{
    std::vector<uint8_t> lengths;
    for (const auto &[length, count] : runs) lengths.insert(lengths.end(), count, length);
    HuffmanTable t;
    t.build(lengths.data(), lengths.size());
    return t;
}

// The selector codes of short matches are not canonical: each symbol has its
// code written out (most significant bit first). Two variants lack symbol 14.
struct SelectorCode {
    uint8_t symbol[256] = {};
    uint8_t length[256] = {};  // 0: no code starts with these eight bits
    SelectorCode(std::initializer_list<std::pair<uint8_t, uint8_t>> codes)
    {
        uint8_t s = 0;
        for (const auto &[bits, code] : codes) {
            const unsigned shift = 8 - bits;
            for (unsigned low = 0; low < (1u << shift); ++low) {
                symbol[(code << shift) | low] = s;
                length[(code << shift) | low] = bits;
            }
            ++s;
        }
    }
    int decode(BitReader &in) const
    {
        const unsigned q = in.peek16() >> 8;
        if (length[q] == 0) return -1;
        in.skip(length[q]);
        return symbol[q];
    }
};

struct Codes {
    // Literals and distance ranks: which of the five depends on how high the
    // recent ranks ran.
    HuffmanTable rank[5] = {
        canonical({{4, 8}, {5, 8}, {6, 8}, {7, 9}, {12, 224}}),
        canonical({{5, 4}, {6, 40}, {7, 16}, {8, 16}, {9, 4}, {11, 47}, {12, 130}}),
        canonical({{5, 2}, {6, 5}, {7, 46}, {8, 64}, {9, 116}, {10, 24}}),
        canonical({{6, 2}, {7, 14}, {8, 202}, {9, 33}, {10, 6}}),
        canonical({{8, 255}, {9, 2}}),
    };
    HuffmanTable length1 = canonical({{2, 2}, {3, 1}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {12, 224}});
    HuffmanTable length2 = canonical({{3, 5}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {11, 2}, {12, 220}});
    // After short matches of small selectors, and after larger ones; each in
    // the variant with symbol 14 and the one without.
    SelectorCode selector[4] = {
        {{1, 0x00}, {4, 0x0a}, {4, 0x0d}, {4, 0x0e}, {5, 0x1e}, {6, 0x3e}, {7, 0x7e}, {8, 0xfe},
         {8, 0xff}, {4, 0x0c}, {4, 0x08}, {5, 0x12}, {6, 0x26}, {6, 0x27}, {4, 0x0b}},
        {{1, 0x00}, {3, 0x05}, {4, 0x0d}, {4, 0x0e}, {5, 0x1e}, {6, 0x3e}, {7, 0x7e}, {8, 0xfe},
         {8, 0xff}, {4, 0x0c}, {4, 0x08}, {5, 0x12}, {6, 0x26}, {6, 0x27}},
        {{2, 0x00}, {3, 0x02}, {3, 0x03}, {4, 0x0a}, {4, 0x0d}, {4, 0x0e}, {5, 0x1e}, {6, 0x3e},
         {6, 0x3f}, {4, 0x0c}, {4, 0x08}, {5, 0x12}, {6, 0x26}, {6, 0x27}, {4, 0x0b}},
        {{2, 0x00}, {3, 0x02}, {3, 0x03}, {3, 0x05}, {4, 0x0d}, {4, 0x0e}, {5, 0x1e}, {6, 0x3e},
         {6, 0x3f}, {4, 0x0c}, {4, 0x08}, {5, 0x12}, {6, 0x26}, {6, 0x27}},
    };
};

const Codes &codes()
{
    static const Codes c;
    return c;
}

}  // namespace

void Rar15Decoder::RankedList::renumber()
{
    // Eight classes of 32 places, counts 7 down to 0.
    for (unsigned i = 0; i < 256; ++i) entry[i] = uint16_t((entry[i] & 0xff00) | (7 - i / 32));
    std::memset(classStart, 0, sizeof classStart);
    for (unsigned c = 0; c < 7; ++c) classStart[c] = uint8_t((7 - c) * 32);
}

uint8_t Rar15Decoder::RankedList::take(unsigned index, unsigned countLimit)
{
    index &= 0xff;
    if ((entry[index] & 0xff) >= countLimit) renumber();
    const uint16_t value = entry[index];
    const uint8_t to = classStart[value & 0xff]++;
    entry[index] = entry[to];
    entry[to] = uint16_t(value + 1);
    return uint8_t(value >> 8);
}

void Rar15Decoder::resetModel()
{
    for (unsigned i = 0; i < 256; ++i) {
        m_literals.entry[i] = uint16_t(i << 8);
        m_distances.entry[i] = uint16_t(i << 8);
        m_flagValues.entry[i] = uint16_t(((-int(i)) & 0xff) << 8);
        m_shortDistances[i] = uint8_t(i);
    }
    std::memset(m_literals.classStart, 0, sizeof m_literals.classStart);
    std::memset(m_flagValues.classStart, 0, sizeof m_flagValues.classStart);
    m_distances.renumber();

    m_averageLiteral = 0x3500;
    m_averageDistance = 0;
    m_averageLongLength = 0;
    m_averageShortLength = 0;
    m_nearMatches = 0;
    m_maxShortDistance = 0x2001;
    m_literalWeight = m_matchWeight = 0x80;
    m_literalRun = 0;
    m_altShortCodes = false;
    std::memset(m_recent, 0, sizeof m_recent);
    m_recentNext = 0;
    m_lastDistance = 0;
    m_lastLength = 0;
}

void Rar15Decoder::beginFile(bool)
{
    // Each file's data starts with its own flag byte, outside literal-only mode.
    m_flagsLeft = 0;
    m_literalsOnly = false;
    m_repeats = 0;
}

bool Rar15Decoder::decodeStep()
{
    if (m_literalsOnly) return literal();
    // The weights predict which of a literal and a long match is likelier:
    // that one has flag 1, the other 01; a short match has 00.
    const bool expectMatch = m_matchWeight > m_literalWeight;
    int bit = flagBit();
    if (bit < 0) return false;
    if (bit) return expectMatch ? longMatch() : literal();
    if ((bit = flagBit()) < 0) return false;
    if (bit) return expectMatch ? literal() : longMatch();
    return shortMatch();
}

int Rar15Decoder::flagBit()
{
    if (m_flagsLeft == 0) {
        const int index = codes().rank[2].decode(m_bits);
        if (index < 0 || index > 255) {
            fail(kDamaged);
            return -1;
        }
        m_flags = m_flagValues.take(unsigned(index), 0xff);
        m_flagsLeft = 8;
    }
    --m_flagsLeft;
    return int((m_flags >> m_flagsLeft) & 1);
}

bool Rar15Decoder::match(uint64_t distance, uint64_t length)
{
    m_recent[m_recentNext++ & 3] = distance;
    m_lastDistance = distance;
    m_lastLength = length;
    return copyMatch(distance, length);
}

bool Rar15Decoder::literal()
{
    const unsigned table = m_averageLiteral < 0x0e00   ? 0
                           : m_averageLiteral < 0x3600 ? 1
                           : m_averageLiteral < 0x5e00 ? 2
                           : m_averageLiteral < 0x7600 ? 3
                                                       : 4;
    int index = codes().rank[table].decode(m_bits);
    if (index < 0) return fail(kDamaged);
    if (m_literalsOnly) {
        if (index == 0) {
            // Escape: back to flags, or a short match at a coded distance.
            if (m_bits.bits(1)) {
                m_literalsOnly = false;
                m_literalRun = 0;
                return true;
            }
            const uint64_t length = m_bits.bits(1) ? 4 : 3;
            const int high = codes().rank[2].decode(m_bits);
            if (high < 0) return fail(kDamaged);
            return copyMatch(uint64_t(high) << 5 | m_bits.bits(5), length);
        }
        --index;
    } else {
        // Symbol 256 means the same as 0 here.
        index &= 0xff;
        if (m_literalRun++ >= 16 && m_flagsLeft == 0) m_literalsOnly = true;
    }
    m_averageLiteral += unsigned(index);
    m_averageLiteral -= m_averageLiteral >> 8;
    m_literalWeight += 16;
    if (m_literalWeight > 0xff) {
        m_literalWeight = 0x90;
        m_matchWeight >>= 1;
    }
    putLiteral(m_literals.take(unsigned(index), 0xa1));
    return true;
}

bool Rar15Decoder::longMatch()
{
    m_literalRun = 0;
    m_matchWeight += 16;
    if (m_matchWeight > 0xff) {
        m_matchWeight = 0x90;
        m_literalWeight >>= 1;
    }

    int raw;
    if (m_averageLongLength >= 122) {
        raw = codes().length2.decode(m_bits);
    } else if (m_averageLongLength >= 64) {
        raw = codes().length1.decode(m_bits);
    } else {
        // Unary below 8, otherwise eight zeros and the value in 8 bits.
        raw = 0;
        while (raw < 8 && m_bits.bits(1) == 0) ++raw;
        if (raw == 8) raw = int(m_bits.bits(8));
    }
    if (raw < 0) return fail(kDamaged);

    const unsigned table = m_averageDistance < 0x700 ? 0 : m_averageDistance < 0x2900 ? 1 : 2;
    const int index = codes().rank[table].decode(m_bits);
    if (index < 0 || index > 255) return fail(kDamaged);
    const uint64_t distance = uint64_t(m_distances.take(unsigned(index), 0xff)) << 7 | m_bits.bits(7);

    uint64_t length = uint64_t(raw) + 3;
    if (distance >= m_maxShortDistance) ++length;
    if (distance <= 256) length += 8;

    // The distance beyond which a match is one byte longer moves with how
    // near and how short the matches have been.
    const unsigned previousMax = m_maxShortDistance;
    m_maxShortDistance =
        m_nearMatches > 0xb0 || (m_averageLiteral >= 0x2a00 && m_averageLongLength < 0x40) ? 0x7f00 : 0x2001;
    m_averageLongLength += unsigned(raw);
    m_averageLongLength -= m_averageLongLength >> 5;
    m_averageDistance += unsigned(index);
    m_averageDistance -= m_averageDistance >> 8;
    if (raw == 0 && distance <= previousMax) {
        ++m_nearMatches;
        m_nearMatches -= m_nearMatches >> 8;
    } else if (raw != 1 && raw != 4 && m_nearMatches > 0) {
        --m_nearMatches;
    }
    return match(distance, length);
}

bool Rar15Decoder::shortMatch()
{
    m_literalRun = 0;
    if (m_repeats == 2) {
        if (m_bits.bits(1)) return copyMatch(m_lastDistance, m_lastLength);
        m_repeats = 0;
    }
    const unsigned variant = (m_averageShortLength < 37 ? 0 : 2) + (m_altShortCodes ? 0 : 1);
    const int selector = codes().selector[variant].decode(m_bits);
    if (selector < 0) return fail(kDamaged);

    if (selector < 9) {
        // A short distance by rank, the rank list nudged towards its front.
        m_repeats = 0;
        m_averageShortLength += unsigned(selector);
        m_averageShortLength -= m_averageShortLength >> 4;
        const int coded = codes().rank[2].decode(m_bits);
        if (coded < 0) return fail(kDamaged);
        const unsigned index = unsigned(coded) & 0xff;
        const uint8_t distance = m_shortDistances[index];
        if (index > 0) {
            m_shortDistances[index] = m_shortDistances[index - 1];
            m_shortDistances[index - 1] = distance;
        }
        return match(uint64_t(distance) + 1, unsigned(selector) + 2);
    }
    if (selector == 9) {
        ++m_repeats;
        return copyMatch(m_lastDistance, m_lastLength);
    }
    m_repeats = 0;
    if (selector < 14) {
        const uint64_t distance = m_recent[(m_recentNext - unsigned(selector - 9)) & 3];
        const int coded = codes().length1.decode(m_bits);
        if (coded < 0) return fail(kDamaged);
        uint64_t length = uint64_t(coded) + 2;
        if (length == 0x101 && selector == 10) {
            // Not a match: a switch between the two variants of the selector code.
            m_altShortCodes = !m_altShortCodes;
            return true;
        }
        if (distance > 256) ++length;
        if (distance >= m_maxShortDistance) ++length;
        return match(distance, length);
    }
    const int coded = codes().length2.decode(m_bits);
    if (coded < 0) return fail(kDamaged);
    m_lastLength = uint64_t(coded) + 5;
    m_lastDistance = m_bits.bits(15) + 0x8000;
    return copyMatch(m_lastDistance, m_lastLength);
}

}  // namespace rar
