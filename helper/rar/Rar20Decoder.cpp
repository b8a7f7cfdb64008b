#include "Rar20Decoder.h"

#include <cstdlib>
#include <cstring>

namespace rar {

namespace {

constexpr unsigned kLevelSymbols = 19;
constexpr unsigned kLzTableSymbols = 298 + 48 + 28;

constexpr uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct DistanceSlots {
    uint32_t base[48];
    uint8_t bits[48];
    constexpr DistanceSlots() : base(), bits()
    {
        // Two slots per bit count up to 15 bits, then 14 slots of 16 bits:
        // 1 MiB in all.
        uint32_t b = 0;
        for (unsigned i = 0; i < 48; ++i) {
            const uint8_t n = i < 4 ? 0 : i < 34 ? uint8_t(i / 2 - 1) : 16;
            base[i] = b;
            bits[i] = n;
            b += 1u << n;
        }
    }
};
constexpr DistanceSlots kDistances;

}  // namespace

void Rar20Decoder::resetModel()
{
    std::memset(m_lengths, 0, sizeof m_lengths);
    m_needTables = true;
    m_audioBlock = false;
    std::memset(m_recent, 0, sizeof m_recent);
    m_recentNext = 0;
    m_lastDistance = 0;
    m_lastLength = 0;
    for (Channel &c : m_channels) c = Channel();
    m_channelCount = 1;
    m_channel = 0;
    m_channelDelta = 0;
}

void Rar20Decoder::beginFile(bool solid)
{
    // Each file of a solid stream continues with the tables in force; any
    // other starts with its own.
    if (!solid) m_needTables = true;
}

bool Rar20Decoder::decodeStep()
{
    if (m_needTables) return readTables();
    return m_audioBlock ? decodeAudio() : decodeLz();
}

// The lengths of all the block's codes, themselves coded with a small code
// of 19 symbols: 0-15 add to the length in the same place of the last tables,
// 16 repeats the previous length, 17 and 18 write runs of zeros.
bool Rar20Decoder::readTables()
{
    m_audioBlock = m_bits.bits(1);
    if (!m_bits.bits(1)) std::memset(m_lengths, 0, sizeof m_lengths);
    unsigned count = kLzTableSymbols;
    if (m_audioBlock) {
        m_channelCount = m_bits.bits(2) + 1;
        if (m_channel >= m_channelCount) m_channel = 0;
        count = kAudioSymbols * m_channelCount;
    }
    uint8_t levels[kLevelSymbols];
    for (uint8_t &l : levels) l = uint8_t(m_bits.bits(4));
    HuffmanTable levelCode;
    if (!levelCode.build(levels, kLevelSymbols)) return fail(kDamaged);

    for (unsigned i = 0; i < count;) {
        const int symbol = levelCode.decode(m_bits);
        if (symbol < 0) return fail(kDamaged);
        if (symbol < 16) {
            m_lengths[i] = uint8_t((m_lengths[i] + symbol) & 0x0f);
            ++i;
        } else if (symbol == 16) {
            if (i == 0) return fail(kDamaged);
            for (unsigned n = m_bits.bits(2) + 3; n > 0 && i < count; --n, ++i) m_lengths[i] = m_lengths[i - 1];
        } else {
            const unsigned n = symbol == 17 ? m_bits.bits(3) + 3 : m_bits.bits(7) + 11;
            for (unsigned k = 0; k < n && i < count; ++k) m_lengths[i++] = 0;
        }
    }
    if (m_audioBlock) {
        for (unsigned c = 0; c < m_channelCount; ++c)
            if (!m_audio[c].build(m_lengths + c * kAudioSymbols, kAudioSymbols)) return fail(kDamaged);
    } else if (!m_main.build(m_lengths, kMainSymbols) ||
               !m_distance.build(m_lengths + kMainSymbols, kDistanceSymbols) ||
               !m_length.build(m_lengths + kMainSymbols + kDistanceSymbols, kLengthSymbols)) {
        return fail(kDamaged);
    }
    m_needTables = false;
    return true;
}

bool Rar20Decoder::match(uint64_t distance, uint64_t length)
{
    m_recent[m_recentNext++ & 3] = distance;
    m_lastDistance = distance;
    m_lastLength = length;
    return copyMatch(distance, length);
}

// 0-255 literals; 256 the last match again; 257-260 one of the last four
// distances with a new length; 261-268 a two-byte match at a short distance;
// 269 new tables; 270 on a length slot followed by a distance code.
bool Rar20Decoder::decodeLz()
{
    const int symbol = m_main.decode(m_bits);
    if (symbol < 0) return fail(kDamaged);
    if (symbol < 256) {
        putLiteral(uint8_t(symbol));
        return true;
    }
    if (symbol == 256) return match(m_lastDistance, m_lastLength);
    if (symbol <= 260) {
        const uint64_t distance = m_recent[(m_recentNext - unsigned(symbol - 256)) & 3];
        const int slot = m_length.decode(m_bits);
        if (slot < 0) return fail(kDamaged);
        uint64_t length = kLengthBase[slot] + 2 + m_bits.bits(kLengthBits[slot]);
        if (distance >= 0x101) ++length;
        if (distance >= 0x2000) ++length;
        if (distance >= 0x40000) ++length;
        return match(distance, length);
    }
    if (symbol <= 268) {
        const unsigned slot = unsigned(symbol - 261);
        return match(kShortBase[slot] + 1 + m_bits.bits(kShortBits[slot]), 2);
    }
    if (symbol == 269) {
        m_needTables = true;
        return true;
    }
    const unsigned slot = unsigned(symbol - 270);
    uint64_t length = kLengthBase[slot] + 3 + m_bits.bits(kLengthBits[slot]);
    const int d = m_distance.decode(m_bits);
    if (d < 0) return fail(kDamaged);
    const uint64_t distance = kDistances.base[d] + 1 + m_bits.bits(kDistances.bits[d]);
    if (distance >= 0x2000) ++length;
    if (distance >= 0x40000) ++length;
    return match(distance, length);
}

bool Rar20Decoder::decodeAudio()
{
    const int symbol = m_audio[m_channel].decode(m_bits);
    if (symbol < 0) return fail(kDamaged);
    if (symbol == 256) {
        m_needTables = true;
        return true;
    }
    putLiteral(predict(m_channels[m_channel], symbol));
    if (++m_channel >= m_channelCount) m_channel = 0;
    return true;
}

uint8_t Rar20Decoder::predict(Channel &c, int symbol)
{
    ++c.count;
    c.delta[3] = c.delta[2];
    c.delta[2] = c.delta[1];
    c.delta[1] = c.lastDelta - c.delta[0];
    c.delta[0] = c.lastDelta;
    const int prediction = ((8 * c.lastByte + c.weight[0] * c.delta[0] + c.weight[1] * c.delta[1] +
                             c.weight[2] * c.delta[2] + c.weight[3] * c.delta[3] + c.weight[4] * m_channelDelta) >>
                            3) &
                           0xff;
    const uint8_t byte = uint8_t(prediction - symbol);

    // How each weight, one step up or down, would have done on this byte.
    const int error = int(int8_t(uint8_t(symbol))) * 8;
    const int others[5] = {c.delta[0], c.delta[1], c.delta[2], c.delta[3], m_channelDelta};
    c.error[0] += unsigned(std::abs(error));
    for (int i = 0; i < 5; ++i) {
        c.error[1 + 2 * i] += unsigned(std::abs(error - others[i]));
        c.error[2 + 2 * i] += unsigned(std::abs(error + others[i]));
    }
    m_channelDelta = c.lastDelta = int8_t(uint8_t(byte - c.lastByte));
    c.lastByte = byte;

    if ((c.count & 0x1f) == 0) {
        unsigned best = 0;
        for (unsigned i = 1; i < 11; ++i)
            if (c.error[i] < c.error[best]) best = i;
        std::memset(c.error, 0, sizeof c.error);
        if (best > 0) {
            int &w = c.weight[(best - 1) / 2];
            if (best & 1) {
                if (w >= -16) --w;
            } else if (w < 16) {
                ++w;
            }
        }
    }
    return byte;
}

// The encoder may end a file with the switch to new tables for the next file
// of a solid stream; it does so only where at least five bytes are left.
bool Rar20Decoder::afterFile(uint64_t remaining)
{
    if (m_needTables || remaining < 5) return true;
    const int symbol = m_audioBlock ? m_audio[m_channel].decode(m_bits) : m_main.decode(m_bits);
    if (symbol != (m_audioBlock ? 256 : 269)) return true;
    m_needTables = true;
    return readTables();
}

}  // namespace rar
