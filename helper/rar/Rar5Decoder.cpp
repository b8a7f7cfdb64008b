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

const char *const kTruncated = "the compressed data ends early";
const char *const kDamaged = "the compressed data is damaged";
const char *const kTooLong = "the compressed data is longer than the file";

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : UINT64_MAX;
}

}  // namespace

bool Rar5Decoder::fail(const std::string &message)
{
    if (m_status != Status::Failed) m_error = message;
    m_status = Status::Failed;
    return false;
}

bool Rar5Decoder::beginEntry(const Rar5Parameters &params, uint64_t unpackedSize, bool sizeKnown)
{
    if (params.solid) {
        if (!m_windowUsed || m_stage != Stage::EndOfEntry || m_status != Status::Finished) {
            m_status = Status::Failed;
            m_error = "a solid file cannot be decoded without the file before it";
            return false;
        }
    } else {
        m_window = SlidingWindow();
        m_windowUsed = false;
        m_haveTables = false;
        std::fill(std::begin(m_recent), std::end(m_recent), 0);
        m_lastLength = 0;
    }
    m_status = Status::Ready;
    m_error.clear();
    m_extended = params.extendedDistances();

    // The window must hold the declared dictionary (and a filter's stretch),
    // but never more than all the data the stream can have produced.
    uint64_t want = std::max<uint64_t>(params.dictionarySize, Rar5Filter::kMaxLength);
    if (sizeKnown) {
        const uint64_t before = m_window.position();
        if (unpackedSize <= UINT64_MAX - before) want = std::min(want, before + unpackedSize);
    }
    want = std::max<uint64_t>({want, 1, m_window.size()});
    if (want > m_windowLimit)
        return fail("the file needs a dictionary of " + mebibytes(want) + ", more than the " + mebibytes(m_windowLimit) +
                    " this reader allows");
    if (want > physicalMemory() || !m_window.resize(want))
        return fail("not enough memory for a dictionary of " + mebibytes(want));
    m_windowUsed = true;

    m_in.clear();
    m_inputEnded = false;
    m_bits.reset(nullptr, 0);
    m_bits.setPosition(0);
    m_blockEndByte = 0;
    m_blockEndBit = 0;
    m_lastBlock = false;
    m_stage = Stage::BlockHeader;
    m_pendingLength = 0;
    m_entryStart = m_window.position();
    m_flushed = m_entryStart;
    m_sizeKnown = sizeKnown;
    m_entryEnd = sizeKnown && unpackedSize <= UINT64_MAX - m_entryStart ? m_entryStart + unpackedSize : UINT64_MAX;
    m_filters.clear();
    m_filtered.clear();
    m_filteredServed = 0;
    return true;
}

void Rar5Decoder::feed(const uint8_t *data, size_t size)
{
    if (m_status == Status::Failed || m_status == Status::Finished) return;
    releaseConsumedInput();
    m_in.insert(m_in.end(), data, data + size);
    if (m_status == Status::NeedInput) m_status = Status::Ready;
}

void Rar5Decoder::releaseConsumedInput()
{
    const uint64_t consumed = std::min<uint64_t>(m_bits.position() >> 3, m_in.size());
    if (consumed == 0 || (consumed < (1 << 16) && consumed < m_in.size() / 2)) return;
    m_in.erase(m_in.begin(), m_in.begin() + ptrdiff_t(consumed));
    m_bits.setPosition(m_bits.position() - consumed * 8);
    m_blockEndByte = m_blockEndByte > consumed ? m_blockEndByte - consumed : 0;
    m_blockEndBit = m_blockEndBit > consumed * 8 ? m_blockEndBit - consumed * 8 : 0;
}

size_t Rar5Decoder::read(uint8_t *out, size_t capacity)
{
    if (m_status == Status::NeedInput) m_status = Status::Ready;
    size_t produced = 0;
    while (produced < capacity) {
        if (m_filteredServed < m_filtered.size()) {
            const size_t n = std::min(capacity - produced, m_filtered.size() - m_filteredServed);
            std::memcpy(out + produced, m_filtered.data() + m_filteredServed, n);
            m_filteredServed += n;
            produced += n;
            continue;
        }
        if (m_status != Status::Ready) break;

        // Output is ready up to the next filter's stretch; that stretch is
        // ready once it has been decoded whole, and leaves through the filter.
        uint64_t ready = m_window.position();
        if (!m_filters.empty()) {
            const Rar5Filter &f = m_filters.front();
            if (m_flushed >= f.start) {
                if (ready >= f.end()) {
                    m_filtered.resize(f.length);
                    m_window.read(f.start, m_filtered.data(), f.length);
                    f.apply(m_filtered, m_scratch, f.start - m_entryStart);
                    m_filteredServed = 0;
                    m_flushed = f.end();
                    m_filters.pop_front();
                    continue;
                }
                ready = m_flushed;
            } else {
                ready = std::min(ready, f.start);
            }
        }
        if (ready > m_flushed) {
            const size_t n = size_t(std::min<uint64_t>(capacity - produced, ready - m_flushed));
            m_window.read(m_flushed, out + produced, n);
            m_flushed += n;
            produced += n;
            continue;
        }
        if (m_stage == Stage::EndOfEntry && m_pendingLength == 0) {
            if (!m_filters.empty()) fail("a filter reaches past the end of the file");
            else if (m_sizeKnown && m_flushed != m_entryEnd) fail(kTruncated);
            else m_status = Status::Finished;
            break;
        }

        const uint64_t position = m_window.position(), bit = m_bits.position();
        const Stage stage = m_stage;
        decode();
        if (m_status == Status::Ready && position == m_window.position() && bit == m_bits.position() && stage == m_stage)
            m_status = Status::NeedInput;
    }
    return produced;
}

void Rar5Decoder::decode()
{
    m_bits.reset(m_in.data(), m_in.size());
    for (;;) {
        if (m_pendingLength > 0) {
            const uint64_t n = std::min(m_pendingLength, room());
            m_window.copyMatch(m_pendingDistance, n);
            m_pendingLength -= n;
            if (m_pendingLength > 0) return;
        }
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

bool Rar5Decoder::copyMatch(uint64_t distance, uint64_t length)
{
    if (distance == 0 || distance > m_window.size()) return fail(kDamaged);
    if (length > m_entryEnd - m_window.position()) return fail(kTooLong);
    const uint64_t n = std::min(length, room());
    m_window.copyMatch(distance, n);
    m_pendingLength = length - n;
    m_pendingDistance = distance;
    return true;
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
