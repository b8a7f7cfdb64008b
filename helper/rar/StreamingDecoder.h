#pragma once
// What every RAR decoder shares: packed bytes in as they are read from the
// volumes, unpacked bytes out of a sliding window as the caller asks for them,
// and one decoder for a whole solid stream, whose window carries over from one
// entry to the next. A decoder of one format supplies the decoding proper and,
// where its format has them, filters over stretches of the output.
//
//   d.beginEntry(...);                     // the format's own parameters
//   while (d.status() != Finished && d.status() != Failed) {
//       n = d.read(buffer, size);          // consume n bytes
//       if (n == 0 && d.status() == NeedInput) { d.feed(...) or d.finishInput(); }
//   }

#include "BitReader.h"
#include "SlidingWindow.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace rar {

class StreamingDecoder {
public:
    enum class Status {
        Ready,      // more output may follow
        NeedInput,  // feed() more packed bytes, or finishInput() if there are none
        Finished,   // the entry's data is complete
        Failed,     // see error()
    };

    virtual ~StreamingDecoder() = default;
    StreamingDecoder(const StreamingDecoder &) = delete;
    StreamingDecoder &operator=(const StreamingDecoder &) = delete;

    void feed(const uint8_t *data, size_t size);
    void finishInput() { m_inputEnded = true; }

    // Up to capacity unpacked bytes; fewer only when status() is not Ready.
    size_t read(uint8_t *out, size_t capacity);

    Status status() const { return m_status; }
    const std::string &error() const { return m_error; }
    uint64_t windowSize() const { return m_window.size(); }

protected:
    StreamingDecoder() = default;

    // Decodes what the window's room and the buffered input allow.
    virtual void decode() = 0;
    // Changes whenever decoding moves on without reading or writing a byte.
    virtual int stage() const = 0;
    // The entry's last symbol is decoded.
    virtual bool entryDecoded() const = 0;
    // How far the window's output may leave as it is; formats with filters
    // hold back their stretches (see passFilters()).
    virtual uint64_t outputLimit() { return m_window.position(); }
    virtual bool filtersPending() const { return false; }
    // The first bytes of the input buffer were dropped.
    virtual void inputReleased(uint64_t bytes) { (void)bytes; }

    // The part of starting an entry every format shares. False (status Failed)
    // for a solid entry without a complete one before it (chainUsable: the
    // format's own state can carry the stream on).
    bool openEntry(bool solid, bool chainUsable);
    // want, but never more than all the data the stream can have produced.
    uint64_t windowFor(uint64_t want, uint64_t unpackedSize, bool sizeKnown) const;
    bool resizeWindow(uint64_t size, const std::string &failure);
    // The window is ready: the entry's input and output start here.
    void startInput(uint64_t unpackedSize, bool sizeKnown);

    // Whether the next step may be decoded: margin bytes of input are
    // buffered, or all of it.
    // Inline: these run at every symbol or step.
    bool haveInput(size_t margin)
    {
        const uint64_t at = m_bits.position() >> 3;
        if (m_inputEnded) return at < m_in.size() || fail(kTruncated);
        return at <= m_in.size() && m_in.size() - at >= margin;
    }
    // Only a stream cut short reads beyond its end: the bits past it read as
    // zeros, and anything decoded from them is void. False (status Failed)
    // when that happened.
    bool withinInput()
    {
        if (m_bits.position() <= uint64_t(m_in.size()) * 8) return true;
        return fail(m_inputEnded ? kTruncated : kDamaged);
    }
    // A match cut short by a full window goes on; false while it still waits.
    bool resumeMatch()
    {
        if (m_pendingLength == 0) return true;
        const uint64_t n = std::min(m_pendingLength, room());
        m_window.copyMatch(m_pendingDistance, n);
        m_pendingLength -= n;
        return m_pendingLength == 0;
    }
    bool copyMatch(uint64_t distance, uint64_t length)
    {
        if (distance == 0 || distance > m_window.size()) return fail(kDamaged);
        if (length > m_entryEnd - m_window.position()) return fail(kTooLong);
        const uint64_t n = std::min(length, room());
        m_window.copyMatch(distance, n);
        m_pendingLength = length - n;
        m_pendingDistance = distance;
        return true;
    }
    uint64_t room() const { return m_window.size() - (m_window.position() - m_flushed); }
    bool fail(const std::string &message);

    // The front filter's stretch leaves through it, and through any filters
    // queued for the very same stretch after it, once it is decoded whole.
    template <typename Filter>
    uint64_t passFilters(std::deque<Filter> &filters);

    static const char *const kTruncated;
    static const char *const kDamaged;
    static const char *const kTooLong;

    Status m_status = Status::Failed;
    std::string m_error = "no entry started";
    // Whether a failure past the end of a stream that ended is blamed on the cut.
    bool m_blameCut = true;
    // While set, fail() only returns false: for reading ahead where a failure
    // must not cost the entry already complete.
    bool m_tentative = false;

    std::vector<uint8_t> m_in;  // packed bytes not yet consumed
    bool m_inputEnded = false;
    BitReader m_bits;

    SlidingWindow m_window;
    bool m_windowUsed = false;
    uint64_t m_entryStart = 0;  // absolute positions in the window
    uint64_t m_entryEnd = UINT64_MAX;
    bool m_sizeKnown = false;
    uint64_t m_flushed = 0;
    uint64_t m_pendingLength = 0;  // of a match cut short by a full window
    uint64_t m_pendingDistance = 0;

private:
    std::vector<uint8_t> m_filtered, m_scratch;
    size_t m_filteredServed = 0;
};

template <typename Filter>
uint64_t StreamingDecoder::passFilters(std::deque<Filter> &filters)
{
    const uint64_t decoded = m_window.position();
    if (filters.empty()) return decoded;
    const Filter f = filters.front();
    if (m_flushed < f.start) return std::min(decoded, f.start);
    if (decoded < f.end()) return m_flushed;
    filters.pop_front();
    m_filtered.resize(f.length);
    m_window.read(f.start, m_filtered.data(), f.length);
    bool ok = f.apply(m_filtered, m_scratch, f.start - m_entryStart);
    while (ok && !filters.empty() && filters.front().start == f.start && filters.front().length == f.length) {
        ok = filters.front().apply(m_filtered, m_scratch, f.start - m_entryStart);
        filters.pop_front();
    }
    if (!ok || (!filters.empty() && filters.front().start < f.end())) {
        // Nothing of a stretch that failed its filters leaves.
        m_filtered.clear();
        m_filteredServed = 0;
        fail(kDamaged);
        return m_flushed;
    }
    m_filteredServed = 0;
    m_flushed = f.end();
    return m_flushed;
}

}  // namespace rar
