#pragma once
// What the decoders of the oldest RAR data (RAR 1.3 to 2.0 archivers) share:
// packed bytes in, unpacked bytes out, through a fixed-size window. Their
// streams carry no end marker, so an entry's size must be known and ends it;
// a solid stream carries the window and the adaptive state of the algorithm
// from one entry to the next.
//
//   Rar20Decoder d;
//   d.beginEntry(solid, unpackedSize);
//   while (d.status() != Finished && d.status() != Failed) {
//       n = d.read(buffer, size);          // consume n bytes
//       if (n == 0 && d.status() == NeedInput) { d.feed(...) or d.finishInput(); }
//   }

#include "BitReader.h"
#include "SlidingWindow.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rar {

class LegacyDecoder {
public:
    enum class Status {
        Ready,      // more output may follow
        NeedInput,  // feed() more packed bytes, or finishInput() if there are none
        Finished,   // the entry's data is complete
        Failed,     // see error()
    };

    virtual ~LegacyDecoder() = default;
    LegacyDecoder(const LegacyDecoder &) = delete;
    LegacyDecoder &operator=(const LegacyDecoder &) = delete;

    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. False
    // (status Failed) when it cannot start.
    bool beginEntry(bool solid, uint64_t unpackedSize);
    void feed(const uint8_t *data, size_t size);
    void finishInput() { m_inputEnded = true; }

    // Up to capacity unpacked bytes; fewer only when status() is not Ready.
    size_t read(uint8_t *out, size_t capacity);

    Status status() const { return m_status; }
    const std::string &error() const { return m_error; }

protected:
    explicit LegacyDecoder(uint64_t windowSize) : m_windowSize(windowSize) {}

    // A stream starts afresh: the adaptive state returns to its initial values.
    virtual void resetModel() = 0;
    // Every entry, solid or not, after resetModel() for one that is not.
    virtual void beginFile(bool solid) = 0;
    // One literal, match or table; false when the stream failed (see fail()).
    virtual bool decodeStep() = 0;
    // The entry is complete; what follows its last symbol may still matter to
    // the next entry of a solid stream. remaining: packed bytes not yet read.
    // False when the state it leaves cannot carry a solid stream on.
    virtual bool afterFile(uint64_t remaining) { (void)remaining; return true; }

    bool copyMatch(uint64_t distance, uint64_t length);
    void putLiteral(uint8_t byte) { m_window.put(byte); }
    bool fail(const char *message);

    BitReader m_bits;
    // While set, fail() only returns false: for reading ahead where a failure
    // must not cost the entry already complete.
    bool m_tentative = false;
    static const char *const kDamaged;

private:
    void decode();
    bool haveInput();
    void releaseConsumedInput();
    uint64_t room() const { return m_window.size() - (m_window.position() - m_flushed); }

    const uint64_t m_windowSize;
    Status m_status = Status::Failed;
    std::string m_error = "no entry started";
    std::vector<uint8_t> m_in;  // packed bytes not yet consumed
    bool m_inputEnded = false;

    SlidingWindow m_window;
    bool m_windowUsed = false;
    bool m_fileDone = false;     // afterFile() has run
    bool m_chainUsable = false;  // a solid entry may follow this one
    uint64_t m_entryEnd = 0;     // absolute positions in the window
    uint64_t m_flushed = 0;
    uint64_t m_pendingLength = 0;  // of a match cut short by a full window
    uint64_t m_pendingDistance = 0;
};

}  // namespace rar
