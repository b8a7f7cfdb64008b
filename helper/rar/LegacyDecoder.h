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

#include "StreamingDecoder.h"

#include <cstddef>
#include <cstdint>

namespace rar {

class LegacyDecoder : public StreamingDecoder {
public:
    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. False
    // (status Failed) when it cannot start.
    bool beginEntry(bool solid, uint64_t unpackedSize);

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

    // These formats send empty matches, which copy nothing from anywhere.
    bool copyMatch(uint64_t distance, uint64_t length)
    {
        return length == 0 || StreamingDecoder::copyMatch(distance, length);
    }
    void putLiteral(uint8_t byte) { m_window.put(byte); }

private:
    void decode() final;
    int stage() const final { return m_fileDone; }
    bool entryDecoded() const final { return m_fileDone; }

    const uint64_t m_windowSize;
    bool m_fileDone = false;     // afterFile() has run
    bool m_chainUsable = false;  // a solid entry may follow this one
};

}  // namespace rar
