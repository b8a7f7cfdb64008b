#include "StreamingDecoder.h"

#include <algorithm>
#include <cstring>

namespace rar {

const char *const StreamingDecoder::kTruncated = "the compressed data ends early";
const char *const StreamingDecoder::kDamaged = "the compressed data is damaged";
const char *const StreamingDecoder::kTooLong = "the compressed data is longer than the file";

bool StreamingDecoder::fail(const std::string &message)
{
    if (m_tentative) return false;
    // Whatever went wrong past the end of a stream cut short, the cut is the cause.
    const bool cut = m_blameCut && m_inputEnded && m_bits.position() > uint64_t(m_in.size()) * 8;
    if (m_status != Status::Failed) m_error = cut ? kTruncated : message;
    m_status = Status::Failed;
    return false;
}

bool StreamingDecoder::openEntry(bool solid, bool chainUsable)
{
    if (solid) {
        if (!m_windowUsed || !chainUsable || m_status != Status::Finished) {
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
    return true;
}

uint64_t StreamingDecoder::windowFor(uint64_t want, uint64_t unpackedSize, bool sizeKnown) const
{
    if (sizeKnown) {
        const uint64_t before = m_window.position();
        if (unpackedSize <= UINT64_MAX - before) want = std::min(want, before + unpackedSize);
    }
    return std::max<uint64_t>({want, 1, m_window.size()});
}

bool StreamingDecoder::resizeWindow(uint64_t size, const std::string &failure)
{
    if (!m_window.resize(size)) return fail(failure);
    m_windowUsed = true;
    return true;
}

void StreamingDecoder::startInput(uint64_t unpackedSize, bool sizeKnown)
{
    m_in.clear();
    m_inputEnded = false;
    m_bits.reset(nullptr, 0);
    m_bits.setPosition(0);
    m_pendingLength = 0;
    m_entryStart = m_window.position();
    m_flushed = m_entryStart;
    m_sizeKnown = sizeKnown;
    m_entryEnd = sizeKnown && unpackedSize <= UINT64_MAX - m_entryStart ? m_entryStart + unpackedSize : UINT64_MAX;
    m_filtered.clear();
    m_filteredServed = 0;
}

void StreamingDecoder::feed(const uint8_t *data, size_t size)
{
    if (m_status == Status::Failed || m_status == Status::Finished) return;
    // What the bit reader has passed goes, but not so often that the buffer
    // is copied down at every small feed.
    const uint64_t consumed = std::min<uint64_t>(m_bits.position() >> 3, m_in.size());
    if (consumed != 0 && (consumed >= (1 << 16) || consumed >= m_in.size() / 2)) {
        m_in.erase(m_in.begin(), m_in.begin() + ptrdiff_t(consumed));
        m_bits.setPosition(m_bits.position() - consumed * 8);
        inputReleased(consumed);
    }
    m_in.insert(m_in.end(), data, data + size);
    if (m_status == Status::NeedInput) m_status = Status::Ready;
}

size_t StreamingDecoder::read(uint8_t *out, size_t capacity)
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

        const uint64_t ready = outputLimit();
        if (m_status != Status::Ready) break;
        if (m_filteredServed < m_filtered.size()) continue;
        if (ready > m_flushed) {
            const size_t n = size_t(std::min<uint64_t>(capacity - produced, ready - m_flushed));
            m_window.read(m_flushed, out + produced, n);
            m_flushed += n;
            produced += n;
            continue;
        }
        if (entryDecoded() && m_pendingLength == 0) {
            if (filtersPending()) fail("a filter reaches past the end of the file");
            else if (m_sizeKnown && m_flushed != m_entryEnd) fail(kTruncated);
            else m_status = Status::Finished;
            break;
        }

        const uint64_t position = m_window.position(), bit = m_bits.position();
        const int before = stage();
        m_bits.reset(m_in.data(), m_in.size());
        decode();
        if (m_status == Status::Ready && position == m_window.position() && bit == m_bits.position() &&
            before == stage())
            m_status = Status::NeedInput;
    }
    return produced;
}

}  // namespace rar
