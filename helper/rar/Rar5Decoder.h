#pragma once
// Streaming decoder of RAR 5 compressed data (and of the later variant with
// larger dictionaries). Packed bytes go in as they are read from the volumes,
// unpacked bytes come out as the caller asks for them; neither side has to
// hold a whole entry. One decoder serves a whole solid stream: each entry is
// started with beginEntry(), and a solid one continues from the window,
// tables and match history the entry before it left.
//
//   Rar5Decoder d;
//   d.beginEntry(params, unpackedSize, true);
//   while (d.status() != Finished && d.status() != Failed) {
//       n = d.read(buffer, size);          // consume n bytes
//       if (n == 0 && d.status() == NeedInput) { d.feed(...) or d.finishInput(); }
//   }

#include "BitReader.h"
#include "HuffmanTable.h"
#include "Rar5Filter.h"
#include "Rar5Parameters.h"
#include "SlidingWindow.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace rar {

class Rar5Decoder {
public:
    // The largest window this reader allocates unless told otherwise. Archives
    // may declare dictionaries of up to 64 GiB; an entry that really needs
    // more than the limit, or than the machine's memory, fails with a message
    // instead of an allocation failure, while a large claim over small data
    // costs only the data's size.
    static constexpr uint64_t kDefaultWindowLimit = uint64_t(4) << 30;

    enum class Status {
        Ready,      // more output may follow
        NeedInput,  // feed() more packed bytes, or finishInput() if there are none
        Finished,   // the entry's data is complete
        Failed,     // see error()
    };

    explicit Rar5Decoder(uint64_t windowLimit = kDefaultWindowLimit) : m_windowLimit(windowLimit) {}

    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. When the
    // unpacked size is known, the window is never larger than it and the
    // output must match it exactly. False (status Failed) when the window
    // cannot be had.
    bool beginEntry(const Rar5Parameters &params, uint64_t unpackedSize, bool sizeKnown);
    void feed(const uint8_t *data, size_t size);
    void finishInput() { m_inputEnded = true; }

    // Up to capacity unpacked bytes; fewer only when status() is not Ready.
    size_t read(uint8_t *out, size_t capacity);

    Status status() const { return m_status; }
    const std::string &error() const { return m_error; }
    uint64_t windowSize() const { return m_window.size(); }

private:
    enum class Stage { BlockHeader, Tables, Symbols, EndOfEntry };

    void decode();
    bool readBlockHeader();
    bool readTables();
    bool decodeSymbols();
    bool readFilter();
    bool copyMatch(uint64_t distance, uint64_t length);
    bool haveBytes(size_t margin);
    bool blockAvailable() const { return m_blockEndByte <= m_in.size(); }
    uint64_t room() const { return m_window.size() - (m_window.position() - m_flushed); }
    void releaseConsumedInput();
    bool fail(const std::string &message);

    uint64_t m_windowLimit;
    Status m_status = Status::Failed;
    std::string m_error = "no entry started";
    Stage m_stage = Stage::BlockHeader;
    bool m_extended = false;

    std::vector<uint8_t> m_in;  // packed bytes from the current block on
    bool m_inputEnded = false;
    BitReader m_bits;
    uint64_t m_blockEndByte = 0;  // in m_in
    uint64_t m_blockEndBit = 0;
    bool m_lastBlock = false;

    bool m_haveTables = false;
    HuffmanTable m_main, m_distance, m_lowDistance, m_length;
    uint64_t m_recent[4] = {};
    uint64_t m_lastLength = 0;
    uint64_t m_pendingLength = 0;  // of a match cut short by a full window
    uint64_t m_pendingDistance = 0;

    SlidingWindow m_window;
    bool m_windowUsed = false;
    uint64_t m_entryStart = 0;  // absolute positions in the window
    uint64_t m_entryEnd = UINT64_MAX;
    bool m_sizeKnown = false;
    uint64_t m_flushed = 0;

    std::deque<Rar5Filter> m_filters;
    std::vector<uint8_t> m_filtered, m_scratch;
    size_t m_filteredServed = 0;
};

}  // namespace rar
