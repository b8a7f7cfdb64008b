#include "Rar3Decoder.h"

#include <algorithm>
#include <cstring>

namespace rar {

namespace {

constexpr unsigned kMainSymbols = 299;
constexpr unsigned kDistanceSymbols = 60;
constexpr unsigned kLowDistanceSymbols = 17;
constexpr unsigned kLengthSymbols = 28;
constexpr unsigned kTableSymbols = kMainSymbols + kDistanceSymbols + kLowDistanceSymbols + kLengthSymbols;
constexpr unsigned kLevelSymbols = 20;
constexpr size_t kMaxPendingFilters = 8192;
constexpr size_t kMaxPrograms = 1024;
constexpr uint32_t kMaxProgramSize = 0x10000;
constexpr uint32_t kMaxGlobalData = 0x2000 - 0x40;
// Blocks carry no length, so a step (one symbol, a table, a filter record of
// up to 64 KiB, in PPMd blocks a few bytes per coded byte) is decoded only
// with this much input ahead, or once the input is complete.
constexpr size_t kInputMargin = size_t(1) << 20;

constexpr uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct DistanceSlots {
    uint32_t base[kDistanceSymbols];
    uint8_t bits[kDistanceSymbols];
    constexpr DistanceSlots() : base(), bits()
    {
        // Two slots per bit count up to 15 bits, then 14 slots of 16 bits and
        // the rest of 18.
        uint32_t b = 0;
        for (unsigned i = 0; i < kDistanceSymbols; ++i) {
            const uint8_t n = i < 4 ? 0 : i < 34 ? uint8_t(i / 2 - 1) : i < 48 ? 16 : 18;
            base[i] = b;
            bits[i] = n;
            b += 1u << n;
        }
    }
};
constexpr DistanceSlots kDistances;

constexpr int kNoSymbol = -2;

}  // namespace

void Rar3Decoder::resetState()
{
    m_needHeader = true;
    std::memset(m_lengths, 0, sizeof m_lengths);
    std::fill(std::begin(m_recent), std::end(m_recent), 0);
    m_lastLength = 0;
    m_lowDistance0 = 0;
    m_lowRepeats = 0;
    m_ppmd.forget();
    m_escape = 2;
    m_programs.clear();
    m_lastProgram = 0;
}

bool Rar3Decoder::beginEntry(uint64_t dictionarySize, bool solid, uint64_t unpackedSize, bool sizeKnown)
{
    if (!openEntry(solid, m_stage == Stage::EndOfEntry)) return false;
    if (!solid) resetState();
    if (dictionarySize > kMaxDictionary) return fail("the file declares a dictionary larger than its format allows");

    // The window must hold the dictionary and a filter's stretch.
    const uint64_t want = std::max<uint64_t>(dictionarySize, Rar3Filter::kMaxLength);
    if (!resizeWindow(windowFor(want, unpackedSize, sizeKnown), "not enough memory for the dictionary")) return false;
    startInput(unpackedSize, sizeKnown);
    m_stage = m_needHeader ? Stage::BlockHeader : Stage::Lz;
    m_filters.clear();
    return true;
}

void Rar3Decoder::decode()
{
    for (;;) {
        if (!resumeMatch()) return;
        bool progressed = false;
        switch (m_stage) {
        case Stage::BlockHeader:
            if (m_window.position() == m_entryEnd && m_inputEnded && m_bits.position() + 8 > uint64_t(m_in.size()) * 8) {
                // The file is complete and its data ends here (an empty file
                // may have no data at all).
                m_needHeader = true;
                m_stage = Stage::EndOfEntry;
                return;
            }
            progressed = haveInput(kInputMargin) && readBlockHeader();
            break;
        case Stage::Lz:
            progressed = decodeLz();
            break;
        case Stage::Ppmd:
            progressed = decodePpmd();
            break;
        case Stage::EndOfEntry:
            return;
        }
        if (m_status == Status::Failed || !withinInput() || !progressed) return;
    }
}

bool Rar3Decoder::readBlockHeader()
{
    m_bits.setPosition((m_bits.position() + 7) & ~uint64_t(7));
    if (m_bits.bits(1)) {
        // PPMd: the model's order, and whether it starts afresh with a new
        // memory size or continues; optionally a new escape byte.
        const unsigned flags = m_bits.bits(7);
        unsigned memoryMiB = 0;
        if (flags & 0x20) memoryMiB = m_bits.bits(8) + 1;
        if (flags & 0x40) m_escape = uint8_t(m_bits.bits(8));
        unsigned order = (flags & 0x1f) + 1;
        if (order > 16) order = 16 + (order - 16) * 3;
        if (flags & 0x20) {
            if (order < 2) return fail(kDamaged);
            if (!m_ppmd.restart(order, uint32_t(memoryMiB) << 20))
                return fail("not enough memory for a PPMd model of " + std::to_string(memoryMiB) + " MiB");
        } else if (!m_ppmd.started()) {
            return fail(kDamaged);
        }
        m_ppmd.beginBlock(m_bits);
        m_stage = Stage::Ppmd;
        return true;
    }
    return readTables();
}

bool Rar3Decoder::readTables()
{
    // A new table is sent as differences to the last one unless this bit
    // clears it; either way the low-distance repeats belong to the old table.
    m_lowDistance0 = 0;
    m_lowRepeats = 0;
    if (!m_bits.bits(1)) std::memset(m_lengths, 0, sizeof m_lengths);

    uint8_t levels[kLevelSymbols] = {};
    for (unsigned i = 0; i < kLevelSymbols;) {
        const uint8_t length = uint8_t(m_bits.bits(4));
        if (length == 15) {
            const unsigned zeros = m_bits.bits(4);
            if (zeros != 0) {
                for (unsigned n = 0; n < zeros + 2 && i < kLevelSymbols; ++n) levels[i++] = 0;
                continue;
            }
        }
        levels[i++] = length;
    }
    HuffmanTable levelCode;
    if (!levelCode.build(levels, kLevelSymbols)) return fail(kDamaged);

    for (unsigned i = 0; i < kTableSymbols;) {
        const int symbol = levelCode.decode(m_bits);
        if (symbol < 0) return fail(kDamaged);
        if (symbol < 16) {
            m_lengths[i] = uint8_t((m_lengths[i] + symbol) & 0x0f);
            ++i;
            continue;
        }
        const unsigned count = symbol == 16 || symbol == 18 ? m_bits.bits(3) + 3 : m_bits.bits(7) + 11;
        uint8_t value = 0;
        if (symbol < 18) {
            if (i == 0) return fail(kDamaged);
            value = m_lengths[i - 1];
        }
        for (unsigned n = 0; n < count && i < kTableSymbols; ++n) m_lengths[i++] = value;
    }
    const uint8_t *p = m_lengths;
    if (!m_main.build(p, kMainSymbols) || !m_distance.build(p += kMainSymbols, kDistanceSymbols) ||
        !m_lowDistance.build(p += kDistanceSymbols, kLowDistanceSymbols) ||
        !m_length.build(p + kLowDistanceSymbols, kLengthSymbols))
        return fail(kDamaged);
    m_stage = Stage::Lz;
    return true;
}

// Symbol 256: the block ends; new tables follow, or the file ends, with or
// without new tables for the next file of a solid stream.
bool Rar3Decoder::endOfLzBlock()
{
    if (m_bits.bits(1)) {
        m_stage = Stage::BlockHeader;
        return true;
    }
    m_needHeader = m_bits.bits(1);
    m_stage = Stage::EndOfEntry;
    return true;
}

bool Rar3Decoder::decodeLz()
{
    for (;;) {
        if (m_window.position() == m_entryEnd && m_inputEnded && m_bits.position() + 8 > uint64_t(m_in.size()) * 8) {
            m_stage = Stage::EndOfEntry;
            return true;
        }
        if (room() == 0 || !haveInput(kInputMargin)) return false;
        int symbol;
        if (m_window.position() < m_entryEnd) {
            symbol = decodeLiterals(std::min(room(), m_entryEnd - m_window.position()));
            if (symbol == kNoSymbol) continue;
        } else {
            const uint64_t at = m_bits.position();
            symbol = m_main.decode(m_bits);
            // The file is complete: only an end marker may follow. A stream
            // may also just stop, so anything else is left unread.
            if (symbol == 256) return endOfLzBlock();
            m_bits.setPosition(at);
            m_stage = Stage::EndOfEntry;
            return true;
        }
        if (symbol < 0) return fail(kDamaged);
        if (symbol < 256) {
            m_window.put(uint8_t(symbol));
            continue;
        }
        uint64_t distance, length;
        if (symbol >= 271) {
            const unsigned slot = unsigned(symbol - 271);
            length = kLengthBase[slot] + 3 + m_bits.bits(kLengthBits[slot]);
            const int d = m_distance.decode(m_bits);
            if (d < 0) return fail(kDamaged);
            distance = kDistances.base[d] + 1;
            const unsigned extra = kDistances.bits[d];
            if (extra >= 4) {
                // The lowest four bits have a code of their own, and a code
                // for "the same low bits again, fifteen more times".
                distance += uint64_t(m_bits.bits(extra - 4)) << 4;
                if (m_lowRepeats > 0) {
                    --m_lowRepeats;
                    distance += m_lowDistance0;
                } else {
                    const int low = m_lowDistance.decode(m_bits);
                    if (low < 0) return fail(kDamaged);
                    if (low == 16) {
                        m_lowRepeats = 15;
                    } else {
                        m_lowDistance0 = unsigned(low);
                    }
                    distance += m_lowDistance0;
                }
            } else {
                distance += m_bits.bits(extra);
            }
            if (distance >= 0x2000) length += distance >= 0x40000 ? 2 : 1;
            std::copy_backward(m_recent, m_recent + 3, m_recent + 4);
            m_recent[0] = distance;
        } else if (symbol >= 263) {
            const unsigned slot = unsigned(symbol - 263);
            distance = kShortBase[slot] + 1 + m_bits.bits(kShortBits[slot]);
            length = 2;
            std::copy_backward(m_recent, m_recent + 3, m_recent + 4);
            m_recent[0] = distance;
        } else if (symbol >= 259) {
            const unsigned index = unsigned(symbol - 259);
            distance = m_recent[index];
            for (unsigned i = index; i > 0; --i) m_recent[i] = m_recent[i - 1];
            m_recent[0] = distance;
            const int slot = m_length.decode(m_bits);
            if (slot < 0) return fail(kDamaged);
            length = kLengthBase[slot] + 2 + m_bits.bits(kLengthBits[slot]);
        } else if (symbol == 258) {
            if (m_lastLength == 0) continue;
            distance = m_recent[0];
            length = m_lastLength;
        } else if (symbol == 257) {
            if (!readFilterRecord(false)) return false;
            continue;
        } else {
            return endOfLzBlock();
        }
        m_lastLength = length;
        if (!copyMatch(distance, length)) return false;
    }
}

// Literals, most of the symbols of many streams, are decoded in a loop of its
// own: the next bits wait in a 64-bit buffer, so that a symbol costs a table
// look-up and shifts, not a load from the input, and the run is written to
// the window in one go. At most budget of them, each only with the input
// haveInput() asks for. Returns the first other symbol (or -1 for a damaged
// code), or kNoSymbol when the run stopped before one.
int Rar3Decoder::decodeLiterals(uint64_t budget)
{
    uint64_t limit;  // bit positions from here on fail haveInput()
    if (m_inputEnded) limit = uint64_t(m_in.size()) * 8;
    else limit = m_in.size() >= kInputMargin ? (uint64_t(m_in.size() - kInputMargin) + 1) * 8 : 0;
    const uint8_t *data = m_in.data();
    const size_t size = m_in.size();
    const auto load = [data, size](uint64_t byte) {
        uint64_t word = 0;
        if (byte + 8 <= size) {
            std::memcpy(&word, data + byte, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            word = __builtin_bswap64(word);
#endif
        } else {
            for (uint64_t i = 0; i < 8; ++i) word = (word << 8) | (byte + i < size ? data[byte + i] : 0);
        }
        return word;
    };
    uint64_t byte = m_bits.position() >> 3;  // the buffer's first byte
    unsigned used = unsigned(m_bits.position() & 7);
    uint64_t buffer = load(byte);

    constexpr size_t kRun = 512;
    uint8_t run[kRun];
    const size_t most = size_t(std::min<uint64_t>(budget, kRun));
    size_t n = 0;
    int symbol = kNoSymbol;
    while (n < most && byte * 8 + used < limit) {
        if (used > 48) {
            byte += used >> 3;
            used &= 7;
            buffer = load(byte);
        }
        unsigned length;
        const int s = m_main.lookup(uint32_t((buffer << used) >> 48), length);
        used += length;
        if (s < 0 || s >= 256) {
            symbol = s;
            break;
        }
        run[n++] = uint8_t(s);
    }
    m_window.write(run, n);
    m_bits.setPosition(byte * 8 + used);
    return symbol;
}

bool Rar3Decoder::decodePpmd()
{
    for (;;) {
        if (room() == 0 || !haveInput(kInputMargin)) return false;
        const bool complete = m_window.position() == m_entryEnd;
        if (complete && m_inputEnded && (m_bits.position() >> 3) >= m_in.size()) {
            // A stream that stops without an end marker: the next file of a
            // solid stream starts with a block header.
            m_needHeader = true;
            m_stage = Stage::EndOfEntry;
            return true;
        }
        int c = m_ppmd.decodeSymbol(m_bits);
        if (c < 0) return fail(kDamaged);
        if (c != m_escape) {
            if (complete) return endAfterCompleteFile();
            m_window.put(uint8_t(c));
            continue;
        }
        c = m_ppmd.decodeSymbol(m_bits);
        if (c < 0) return fail(kDamaged);
        switch (c) {
        case 0:  // new block
            m_stage = Stage::BlockHeader;
            return true;
        case 2:  // end of file
            m_needHeader = true;
            m_stage = Stage::EndOfEntry;
            return true;
        case 3:
            if (complete) return endAfterCompleteFile();
            if (!readFilterRecord(true)) return false;
            continue;
        case 4: {
            uint32_t distance = 0;
            for (int i = 0; i < 3; ++i) {
                const int b = m_ppmd.decodeSymbol(m_bits);
                if (b < 0) return fail(kDamaged);
                distance = (distance << 8) | uint32_t(b);
            }
            const int length = m_ppmd.decodeSymbol(m_bits);
            if (length < 0) return fail(kDamaged);
            if (complete) return endAfterCompleteFile();
            if (!copyMatch(distance + 2, uint64_t(length) + 32)) return false;
            continue;
        }
        case 5: {
            const int length = m_ppmd.decodeSymbol(m_bits);
            if (length < 0) return fail(kDamaged);
            if (complete) return endAfterCompleteFile();
            if (!copyMatch(1, uint64_t(length) + 4)) return false;
            continue;
        }
        default:  // the escape byte itself
            if (complete) return endAfterCompleteFile();
            m_window.put(m_escape);
            continue;
        }
    }
}

// The file has all its bytes but what follows in a PPMd block is no end
// marker: the bytes left are the coder's flush. The checksum judges the file;
// a solid stream goes on with a new block.
bool Rar3Decoder::endAfterCompleteFile()
{
    m_needHeader = true;
    m_stage = Stage::EndOfEntry;
    return true;
}

// A filter record: a flags byte, the record's length, the record. LZ blocks
// send its bytes as plain bits, PPMd blocks as coded bytes.
bool Rar3Decoder::readFilterRecord(bool fromPpmd)
{
    const auto next = [&]() -> int { return fromPpmd ? m_ppmd.decodeSymbol(m_bits) : int(m_bits.bits(8)); };
    const int flags = next();
    if (flags < 0) return fail(kDamaged);
    size_t size = size_t(flags & 7) + 1;
    if (size == 7) {
        const int b = next();
        if (b < 0) return fail(kDamaged);
        size = size_t(b) + 7;
    } else if (size == 8) {
        const int high = next(), low = next();
        if (high < 0 || low < 0) return fail(kDamaged);
        size = size_t(high) << 8 | size_t(low);
    }
    std::vector<uint8_t> record(size + 1);
    record[0] = uint8_t(flags);
    for (size_t i = 1; i <= size; ++i) {
        const int b = next();
        if (b < 0) return fail(kDamaged);
        record[i] = uint8_t(b);
    }
    return parseFilter(record);
}

bool Rar3Decoder::parseFilter(const std::vector<uint8_t> &record)
{
    const uint8_t flags = record[0];
    BitReader in;
    in.reset(record.data() + 1, record.size() - 1);
    const auto number = [&in]() -> uint32_t {
        switch (in.bits(2)) {
        case 0:
            return in.bits(4);
        case 1: {
            const uint32_t high = in.bits(4);
            if (high == 0) return 0xffffff00 | in.bits(8);
            return high << 4 | in.bits(4);
        }
        case 2:
            return in.bits(16);
        default:
            return in.bits(32);
        }
    };

    // Programs are numbered as they first appear; a record names one, or
    // reuses the last, and number 0 forgets them all.
    size_t index = m_lastProgram;
    if (flags & 0x80) {
        const uint32_t n = number();
        if (n == 0) {
            m_programs.clear();
            index = 0;
        } else {
            index = n - 1;
        }
    }
    if (index > m_programs.size() || index >= kMaxPrograms) return fail(kDamaged);
    const bool isNew = index == m_programs.size();
    m_lastProgram = index;

    Rar3Filter f;
    uint32_t offset = number();
    if (flags & 0x40) offset += 258;
    f.start = m_window.position() + offset;
    uint32_t length = isNew ? 0 : m_programs[index].lastLength;
    if (flags & 0x20) length = number();
    f.length = length;
    if (flags & 0x10) {
        const uint32_t given = in.bits(7);
        for (unsigned r = 0; r < 7; ++r) {
            if (!(given & (1u << r))) continue;
            const uint32_t value = number();
            if (r < 2) f.registers[r] = value;
        }
    }
    if (isNew) {
        const uint32_t size = number();
        if (size == 0 || size > kMaxProgramSize) return fail(kDamaged);
        std::vector<uint8_t> code(size);
        uint8_t check = 0;
        for (uint32_t i = 0; i < size; ++i) {
            code[i] = uint8_t(in.bits(8));
            if (i > 0) check ^= code[i];
        }
        if (in.position() > (record.size() - 1) * 8 || check != code[0]) return fail(kDamaged);
        const auto type = Rar3Filter::recognise(code.data(), code.size());
        if (!type)
            return fail("the compressed data asks for a filter program that is not one of the standard ones; "
                        "it is not run");
        m_programs.push_back({*type, length});
    }
    m_programs[index].lastLength = length;
    f.type = m_programs[index].type;
    if (flags & 0x08) {
        // Data for the program's own use, which the standard programs ignore.
        const uint32_t size = number();
        if (size > kMaxGlobalData) return fail(kDamaged);
        in.skip(size * 8);
    }
    if (in.position() > (record.size() - 1) * 8) return fail(kDamaged);

    if (f.length > Rar3Filter::kMaxLength || f.length > m_window.size()) return fail(kDamaged);
    if (!m_filters.empty() && f.start < m_filters.back().start) return fail(kDamaged);
    if (m_filters.size() >= kMaxPendingFilters) return fail(kDamaged);
    if (f.length > 0) m_filters.push_back(f);
    return true;
}

}  // namespace rar
