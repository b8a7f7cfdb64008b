#include "Rar5Decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace rar {

namespace {

constexpr unsigned kMainSymbols = 306;
constexpr unsigned kDistanceSymbols = 64;
constexpr unsigned kExtendedDistanceSymbols = 80;
constexpr unsigned kLowDistanceSymbols = 16;
constexpr unsigned kLengthSymbols = 44;
constexpr unsigned kLevelSymbols = 20;
constexpr size_t kMaxPendingFilters = 8192;
// Packed bytes that always cover one symbol with its extra bits (a filter
// record is the longest, under 12 bytes), and a whole table description
// (under 1.3 KiB): below that, a block is decoded only once it is all there.
constexpr size_t kSymbolMargin = 32;
constexpr size_t kTableMargin = 2048;

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : UINT64_MAX;
}

}  // namespace

bool Rar5Decoder::beginEntry(const Rar5Parameters &params, uint64_t unpackedSize, bool sizeKnown)
{
    if (!openEntry(params.solid, m_stage == Stage::EndOfEntry)) return false;
    if (!params.solid) {
        m_haveTables = false;
        std::fill(std::begin(m_recent), std::end(m_recent), 0);
        m_lastLength = 0;
    }
    m_extended = params.extendedDistances();

    // The window must hold the declared dictionary (and a filter's stretch),
    // but never more than all the data the stream can have produced.
    const uint64_t want =
        windowFor(std::max<uint64_t>(params.dictionarySize, Rar5Filter::kMaxLength), unpackedSize, sizeKnown);
    if (want > m_windowLimit)
        return fail("the file needs a dictionary of " + mebibytes(want) + ", more than the " + mebibytes(m_windowLimit) +
                    " this reader allows");
    const std::string noMemory = "not enough memory for a dictionary of " + mebibytes(want);
    if (want > physicalMemory()) return fail(noMemory);
    if (!resizeWindow(want, noMemory)) return false;

    startInput(unpackedSize, sizeKnown);
    m_blockEndByte = 0;
    m_blockEndBit = 0;
    m_lastBlock = false;
    m_stage = Stage::BlockHeader;
    m_filters.clear();
    return true;
}

// Block ends are offsets into the input buffer.
void Rar5Decoder::inputReleased(uint64_t bytes)
{
    m_blockEndByte = m_blockEndByte > bytes ? m_blockEndByte - bytes : 0;
    m_blockEndBit = m_blockEndBit > bytes * 8 ? m_blockEndBit - bytes * 8 : 0;
}

void Rar5Decoder::decode()
{
    for (;;) {
        if (!resumeMatch()) return;
        switch (m_stage) {
        case Stage::BlockHeader:
            if (!readBlockHeader()) return;
            break;
        case Stage::Tables:
            if (!readTables()) return;
            break;
        case Stage::Symbols:
            if (!decodeSymbols()) return;
            break;
        case Stage::EndOfEntry:
            return;
        }
    }
}

bool Rar5Decoder::haveBytes(size_t margin)
{
    const uint64_t at = m_bits.position() >> 3;
    if (blockAvailable() || (at <= m_in.size() && m_in.size() - at >= margin)) return true;
    return m_inputEnded ? fail(kTruncated) : false;
}

bool Rar5Decoder::readBlockHeader()
{
    // Blocks start on a byte: flags, a check byte, then 1 to 3 bytes of size.
    const uint64_t at = m_bits.position() >> 3;
    if (m_inputEnded && at == m_in.size() && m_sizeKnown && m_window.position() == m_entryEnd) {
        // An empty file may come without any block.
        m_stage = Stage::EndOfEntry;
        return true;
    }
    if (m_in.size() < at + 2) return m_inputEnded ? fail(kTruncated) : false;
    const uint8_t flags = m_in[at];
    const unsigned sizeBytes = ((flags >> 3) & 3) + 1;
    if (sizeBytes == 4) return fail(kDamaged);
    if (m_in.size() < at + 2 + sizeBytes) return m_inputEnded ? fail(kTruncated) : false;
    uint8_t check = 0x5a ^ flags;
    uint64_t size = 0;
    for (unsigned i = 0; i < sizeBytes; ++i) {
        const uint8_t b = m_in[at + 2 + i];
        check ^= b;
        size |= uint64_t(b) << (8 * i);
    }
    if (check != m_in[at + 1]) return fail(kDamaged);

    const uint64_t dataStart = at + 2 + sizeBytes;
    m_blockEndByte = dataStart + size;
    m_blockEndBit = size == 0 ? dataStart * 8 : (m_blockEndByte - 1) * 8 + (flags & 7) + 1;
    m_lastBlock = flags & 0x40;
    m_bits.setPosition(dataStart * 8);
    if (flags & 0x80) m_stage = Stage::Tables;
    else if (m_haveTables) m_stage = Stage::Symbols;
    else return fail(kDamaged);
    return true;
}

bool Rar5Decoder::readTables()
{
    if (!haveBytes(kTableMargin)) return false;

    // First the code lengths of the code that sends the other code lengths,
    // four bits each, with 15 escaping a run of zeros.
    uint8_t levels[kLevelSymbols];
    for (unsigned i = 0; i < kLevelSymbols;) {
        const uint8_t length = uint8_t(m_bits.bits(4));
        if (length != 15) {
            levels[i++] = length;
            continue;
        }
        const unsigned zeros = m_bits.bits(4);
        if (zeros == 0) {
            levels[i++] = 15;
            continue;
        }
        for (unsigned n = 0; n < zeros + 2 && i < kLevelSymbols; ++n) levels[i++] = 0;
    }
    HuffmanTable levelCode;
    if (!levelCode.build(levels, kLevelSymbols)) return fail(kDamaged);

    const unsigned distanceSymbols = m_extended ? kExtendedDistanceSymbols : kDistanceSymbols;
    const unsigned total = kMainSymbols + distanceSymbols + kLowDistanceSymbols + kLengthSymbols;
    uint8_t lengths[kMainSymbols + kExtendedDistanceSymbols + kLowDistanceSymbols + kLengthSymbols];
    for (unsigned i = 0; i < total;) {
        const int symbol = levelCode.decode(m_bits);
        if (symbol < 0) return fail(kDamaged);
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            continue;
        }
        const unsigned count = (symbol & 1) ? m_bits.bits(7) + 11 : m_bits.bits(3) + 3;
        if (symbol < 18) {
            if (i == 0) return fail(kDamaged);
            for (unsigned n = 0; n < count && i < total; ++n, ++i) lengths[i] = lengths[i - 1];
        } else {
            for (unsigned n = 0; n < count && i < total; ++n) lengths[i++] = 0;
        }
    }
    const uint8_t *p = lengths;
    if (!m_main.build(p, kMainSymbols) || !m_distance.build(p += kMainSymbols, distanceSymbols) ||
        !m_lowDistance.build(p += distanceSymbols, kLowDistanceSymbols) ||
        !m_length.build(p + kLowDistanceSymbols, kLengthSymbols))
        return fail(kDamaged);
    if (m_bits.position() > m_blockEndBit) return fail(kDamaged);
    m_haveTables = true;
    m_stage = Stage::Symbols;
    return true;
}

bool Rar5Decoder::decodeSymbols()
{
    const bool whole = blockAvailable();
    const auto length = [this](unsigned slot) -> uint64_t {
        if (slot < 8) return slot + 2;
        const unsigned extra = slot / 4 - 1;
        return 2 + (uint64_t(4 | (slot & 3)) << extra) + m_bits.bits(extra);
    };
    for (;;) {
        if (room() == 0) return false;
        const uint64_t at = m_bits.position();
        if (at >= m_blockEndBit) {
            if (at > m_blockEndBit) return fail(kDamaged);
            if (m_lastBlock) {
                m_stage = Stage::EndOfEntry;
            } else {
                m_stage = Stage::BlockHeader;
                m_bits.setPosition(m_blockEndByte * 8);
            }
            return true;
        }
        if (!whole && (at >> 3) + kSymbolMargin > m_in.size()) return m_inputEnded ? fail(kTruncated) : false;

        const int symbol = m_main.decode(m_bits);
        if (symbol < 0) return fail(kDamaged);
        if (symbol < 256) {
            if (m_window.position() >= m_entryEnd) return fail(kTooLong);
            m_window.put(uint8_t(symbol));
            continue;
        }
        if (symbol >= 262) {
            uint64_t count = length(unsigned(symbol - 262));
            const int slot = m_distance.decode(m_bits);
            if (slot < 0) return fail(kDamaged);
            uint64_t distance = 1;
            if (slot < 4) {
                distance += unsigned(slot);
            } else {
                const unsigned extra = unsigned(slot) / 2 - 1;
                distance += uint64_t(2 | (slot & 1)) << extra;
                if (extra >= 4) {
                    // The lowest four bits have a code of their own.
                    distance += m_bits.wideBits(extra - 4) << 4;
                    const int low = m_lowDistance.decode(m_bits);
                    if (low < 0) return fail(kDamaged);
                    distance += unsigned(low);
                } else {
                    distance += m_bits.bits(extra);
                }
            }
            count += (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000);
            std::copy_backward(m_recent, m_recent + 3, m_recent + 4);
            m_recent[0] = distance;
            m_lastLength = count;
            if (!copyMatch(distance, count)) return false;
        } else if (symbol == 256) {
            if (!readFilter()) return false;
        } else if (symbol == 257) {
            if (m_lastLength != 0 && !copyMatch(m_recent[0], m_lastLength)) return false;
        } else {
            const unsigned index = unsigned(symbol - 258);
            const uint64_t distance = m_recent[index];
            for (unsigned i = index; i > 0; --i) m_recent[i] = m_recent[i - 1];
            m_recent[0] = distance;
            const int slot = m_length.decode(m_bits);
            if (slot < 0) return fail(kDamaged);
            m_lastLength = length(unsigned(slot));
            if (!copyMatch(distance, m_lastLength)) return false;
        }
    }
}

bool Rar5Decoder::readFilter()
{
    const auto number = [this]() {
        const unsigned bytes = m_bits.bits(2) + 1;
        uint32_t value = 0;
        for (unsigned i = 0; i < bytes; ++i) value |= m_bits.bits(8) << (8 * i);
        return value;
    };
    Rar5Filter f;
    const uint32_t offset = number();
    f.length = number();
    const unsigned type = m_bits.bits(3);
    if (type > unsigned(Rar5Filter::Type::Arm)) return fail("the compressed data asks for an unknown filter");
    f.type = Rar5Filter::Type(type);
    if (f.type == Rar5Filter::Type::Delta) f.channels = m_bits.bits(5) + 1;
    f.start = m_window.position() + offset;
    if (f.length > Rar5Filter::kMaxLength || f.length > m_window.size()) return fail(kDamaged);
    if (!m_filters.empty() && f.start < m_filters.back().end()) return fail(kDamaged);
    if (m_filters.size() >= kMaxPendingFilters) return fail(kDamaged);
    if (f.length > 0) m_filters.push_back(f);
    return true;
}

}  // namespace rar
