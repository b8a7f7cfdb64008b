#include "LegacyDecoder.h"

#include <algorithm>
#include <cstring>

namespace rar {

namespace {
// A step (a symbol with its extra bits, or a whole set of tables of at most
// about two kilobytes) is decoded only with this much input ahead, or once
// the input is complete.
constexpr size_t kInputMargin = 8192;

const char *const kTruncated = "the compressed data ends early";
const char *const kTooLong = "the compressed data is longer than the file";
}  // namespace

const char *const LegacyDecoder::kDamaged = "the compressed data is damaged";

bool LegacyDecoder::fail(const char *message)
{
    if (m_tentative) return false;
    // Whatever went wrong past the end of a stream cut short, the cut is the cause.
    const bool cut = m_inputEnded && m_bits.position() > uint64_t(m_in.size()) * 8;
    if (m_status != Status::Failed) m_error = cut ? kTruncated : message;
    m_status = Status::Failed;
    return false;
}

bool LegacyDecoder::beginEntry(bool solid, uint64_t unpackedSize)
{
    if (solid) {
        if (!m_windowUsed || !m_chainUsable || m_status != Status::Finished) {
            m_status = Status::Failed;
            m_error = "a solid file cannot be decoded without the file before it";
            return false;
        }
    } else {
        m_window = SlidingWindow();
        m_windowUsed = false;
    }
    m_status = Status::Ready;
    m_error.clear();

    // Never more window than all the data the stream can have produced.
    const uint64_t before = m_window.position();
    uint64_t want = m_windowSize;
    if (unpackedSize <= UINT64_MAX - before) want = std::min(want, before + unpackedSize);
    want = std::max<uint64_t>({want, 1, m_window.size()});
    if (!m_window.resize(want)) return fail("not enough memory for the dictionary");
    if (!solid) resetModel();
    m_windowUsed = true;

    m_in.clear();
    m_inputEnded = false;
    m_bits.reset(nullptr, 0);
    m_bits.setPosition(0);
    m_pendingLength = 0;
    m_flushed = before;
    m_entryEnd = unpackedSize <= UINT64_MAX - before ? before + unpackedSize : UINT64_MAX;
    m_fileDone = false;
    m_chainUsable = false;
    beginFile(solid);
    return true;
}

void LegacyDecoder::feed(const uint8_t *data, size_t size)
{
    if (m_status == Status::Failed || m_status == Status::Finished) return;
    releaseConsumedInput();
    m_in.insert(m_in.end(), data, data + size);
    if (m_status == Status::NeedInput) m_status = Status::Ready;
}

void LegacyDecoder::releaseConsumedInput()
{
    const uint64_t consumed = std::min<uint64_t>(m_bits.position() >> 3, m_in.size());
    if (consumed == 0 || (consumed < (1 << 16) && consumed < m_in.size() / 2)) return;
    m_in.erase(m_in.begin(), m_in.begin() + ptrdiff_t(consumed));
    m_bits.setPosition(m_bits.position() - consumed * 8);
}

size_t LegacyDecoder::read(uint8_t *out, size_t capacity)
{
    if (m_status == Status::NeedInput) m_status = Status::Ready;
    size_t produced = 0;
    while (produced < capacity && m_status == Status::Ready) {
        const uint64_t ready = m_window.position();
        if (ready > m_flushed) {
            const size_t n = size_t(std::min<uint64_t>(capacity - produced, ready - m_flushed));
            m_window.read(m_flushed, out + produced, n);
            m_flushed += n;
            produced += n;
            continue;
        }
        if (m_fileDone && m_pendingLength == 0) {
            m_status = Status::Finished;
            break;
        }
        const uint64_t position = m_window.position(), bit = m_bits.position();
        const bool done = m_fileDone;
        decode();
        if (m_status == Status::Ready && position == m_window.position() && bit == m_bits.position() &&
            done == m_fileDone)
            m_status = Status::NeedInput;
    }
    return produced;
}

// Whether the next step may be decoded: enough input is buffered, or all of it.
bool LegacyDecoder::haveInput()
{
    const uint64_t at = m_bits.position() >> 3;
    if (m_inputEnded) return at < m_in.size() || fail(kTruncated);
    return at <= m_in.size() && m_in.size() - at >= kInputMargin;
}

void LegacyDecoder::decode()
{
    m_bits.reset(m_in.data(), m_in.size());
    for (;;) {
        if (m_pendingLength > 0) {
            const uint64_t n = std::min(m_pendingLength, room());
            m_window.copyMatch(m_pendingDistance, n);
            m_pendingLength -= n;
            if (m_pendingLength > 0) return;
        }
        if (m_fileDone) return;
        if (m_window.position() == m_entryEnd) {
            const uint64_t at = m_bits.position() >> 3;
            const uint64_t remaining = at < m_in.size() ? m_in.size() - at : 0;
            if (!m_inputEnded && remaining < kInputMargin) return;
            m_tentative = true;
            m_chainUsable = afterFile(remaining);
            m_tentative = false;
            // Trailing bits only matter to a solid entry after this one.
            if (m_bits.position() > uint64_t(m_in.size()) * 8) m_chainUsable = false;
            m_fileDone = true;
            return;
        }
        if (room() == 0 || !haveInput()) return;
        if (!decodeStep()) return;
        if (m_bits.position() > uint64_t(m_in.size()) * 8) {
            // Only a stream cut short reads beyond its end: the bits past it
            // read as zeros, and anything decoded from them is void.
            fail(m_inputEnded ? kTruncated : kDamaged);
            return;
        }
    }
}

bool LegacyDecoder::copyMatch(uint64_t distance, uint64_t length)
{
    if (length == 0) return true;
    if (distance == 0 || distance > m_window.size()) return fail(kDamaged);
    if (length > m_entryEnd - m_window.position()) return fail(kTooLong);
    const uint64_t n = std::min(length, room());
    m_window.copyMatch(distance, n);
    m_pendingLength = length - n;
    m_pendingDistance = distance;
    return true;
}

}  // namespace rar
