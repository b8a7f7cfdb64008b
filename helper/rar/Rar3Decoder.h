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

#include "HuffmanTable.h"
#include "PpmdModel.h"
#include "Rar3Filter.h"
#include "StreamingDecoder.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace rar {

class Rar3Decoder : public StreamingDecoder {
public:
    // Headers declare at most 4 MiB; a caller may ask for a larger window,
    // but not beyond this.
    static constexpr uint64_t kMaxDictionary = uint64_t(64) << 20;

    // The dictionary a RAR 4 file header's flags declare (bits 5 to 7).
    static uint64_t dictionaryFromFlags(uint32_t flags) { return uint64_t(0x10000) << ((flags >> 5) & 7); }

    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. When the
    // unpacked size is known, the window is never larger than it and the
    // output must match it exactly. False (status Failed) when the window
    // cannot be had.
    bool beginEntry(uint64_t dictionarySize, bool solid, uint64_t unpackedSize, bool sizeKnown);

private:
    enum class Stage { BlockHeader, Lz, Ppmd, EndOfEntry };
    struct Program {
        Rar3Filter::Type type;
        uint32_t lastLength;
    };

    void decode() override;
    int stage() const override { return int(m_stage); }
    bool entryDecoded() const override { return m_stage == Stage::EndOfEntry; }
    uint64_t outputLimit() override { return passFilters(m_filters); }
    bool filtersPending() const override { return !m_filters.empty(); }
    bool readBlockHeader();
    bool readTables();
    bool decodeLz();
    int decodeLiterals(uint64_t budget);
    bool decodePpmd();
    bool endAfterCompleteFile();
    bool endOfLzBlock();
    bool readFilterRecord(bool fromPpmd);
    bool parseFilter(const std::vector<uint8_t> &record);
    void resetState();

    Stage m_stage = Stage::BlockHeader;
    bool m_needHeader = true;  // the next entry of a solid stream starts with a block header

    // LZ: the code lengths carry over into the next table as differences.
    uint8_t m_lengths[299 + 60 + 17 + 28] = {};
    HuffmanTable m_main, m_distance, m_lowDistance, m_length;
    uint64_t m_recent[4] = {};
    uint64_t m_lastLength = 0;
    unsigned m_lowDistance0 = 0;     // the low distance bits last sent
    unsigned m_lowRepeats = 0;       // further matches that reuse them

    PpmdModel m_ppmd;
    uint8_t m_escape = 2;

    std::vector<Program> m_programs;
    size_t m_lastProgram = 0;
    std::deque<Rar3Filter> m_filters;
};

}  // namespace rar
