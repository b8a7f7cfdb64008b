#pragma once
// Streaming decoder of RAR 2.9 compressed data (archives of the 3.x and 4.x
// archivers, unpack version 29).
// The stream switches between blocks of LZ with Huffman tables and blocks of
// PPMd variant H, and may ask for standard filters over stretches of the
// output. Packed bytes go in as they are read from the volumes, unpacked bytes
// come out as the caller asks for them. One decoder serves a whole solid
// stream: the window, the tables, the PPMd model and the filter programs
// carry over from one entry to the next.
//
//   Rar3Decoder d;
//   d.beginEntry(dictionarySize, solid, unpackedSize, true);
//   while (d.status() != Finished && d.status() != Failed) {
//       n = d.read(buffer, size);          // consume n bytes
//       if (n == 0 && d.status() == NeedInput) { d.feed(...) or d.finishInput(); }
//   }

#include "BitReader.h"
#include "HuffmanTable.h"
#include "PpmdModel.h"
#include "Rar3Filter.h"
#include "SlidingWindow.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace rar {

class Rar3Decoder {
public:
    // Headers declare at most 4 MiB; a caller may ask for a larger window,
    // but not beyond this.
    static constexpr uint64_t kMaxDictionary = uint64_t(64) << 20;

    enum class Status {
        Ready,      // more output may follow
        NeedInput,  // feed() more packed bytes, or finishInput() if there are none
        Finished,   // the entry's data is complete
        Failed,     // see error()
    };

    // The dictionary a RAR 4 file header's flags declare (bits 5 to 7).
    static uint64_t dictionaryFromFlags(uint32_t flags) { return uint64_t(0x10000) << ((flags >> 5) & 7); }

    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. When the
    // unpacked size is known, the window is never larger than it and the
    // output must match it exactly. False (status Failed) when the window
    // cannot be had.
    bool beginEntry(uint64_t dictionarySize, bool solid, uint64_t unpackedSize, bool sizeKnown);
    void feed(const uint8_t *data, size_t size);
    void finishInput() { m_inputEnded = true; }

    // Up to capacity unpacked bytes; fewer only when status() is not Ready.
    size_t read(uint8_t *out, size_t capacity);

    Status status() const { return m_status; }
    const std::string &error() const { return m_error; }
    uint64_t windowSize() const { return m_window.size(); }

private:
    enum class Stage { BlockHeader, Lz, Ppmd, EndOfEntry };
    struct Program {
        Rar3Filter::Type type;
        uint32_t lastLength;
    };

    void decode();
    bool haveInput();
    bool readBlockHeader();
    bool readTables();
    bool decodeLz();
    int decodeLiterals(uint64_t budget);
    bool decodePpmd();
    bool endAfterCompleteFile();
    bool endOfLzBlock();
    bool readFilterRecord(bool fromPpmd);
    bool parseFilter(const std::vector<uint8_t> &record);
    bool copyMatch(uint64_t distance, uint64_t length);
    uint64_t room() const { return m_window.size() - (m_window.position() - m_flushed); }
    bool applyFilters();
    void releaseConsumedInput();
    void resetState();
    bool fail(const std::string &message);

    Status m_status = Status::Failed;
    std::string m_error = "no entry started";
    Stage m_stage = Stage::BlockHeader;
    bool m_needHeader = true;  // the next entry of a solid stream starts with a block header

    std::vector<uint8_t> m_in;  // packed bytes not yet consumed
    bool m_inputEnded = false;
    BitReader m_bits;

    // LZ: the code lengths carry over into the next table as differences.
    uint8_t m_lengths[299 + 60 + 17 + 28] = {};
    HuffmanTable m_main, m_distance, m_lowDistance, m_length;
    uint64_t m_recent[4] = {};
    uint64_t m_lastLength = 0;
    unsigned m_lowDistance0 = 0;     // the low distance bits last sent
    unsigned m_lowRepeats = 0;       // further matches that reuse them
    uint64_t m_pendingLength = 0;    // of a match cut short by a full window
    uint64_t m_pendingDistance = 0;

    PpmdModel m_ppmd;
    uint8_t m_escape = 2;

    std::vector<Program> m_programs;
    size_t m_lastProgram = 0;
    std::deque<Rar3Filter> m_filters;
    std::vector<uint8_t> m_filtered, m_scratch;
    size_t m_filteredServed = 0;

    SlidingWindow m_window;
    bool m_windowUsed = false;
    uint64_t m_entryStart = 0;  // absolute positions in the window
    uint64_t m_entryEnd = UINT64_MAX;
    bool m_sizeKnown = false;
    uint64_t m_flushed = 0;
};

}  // namespace rar
