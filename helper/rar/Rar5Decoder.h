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

#include "HuffmanTable.h"
#include "Rar5Filter.h"
#include "Rar5Parameters.h"
#include "StreamingDecoder.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace rar {

class Rar5Decoder : public StreamingDecoder {
public:
    // The largest window this reader allocates unless told otherwise. Archives
    // may declare dictionaries of up to 64 GiB; an entry that really needs
    // more than the limit, or than the machine's memory, fails with a message
    // instead of an allocation failure, while a large claim over small data
    // costs only the data's size.
    static constexpr uint64_t kDefaultWindowLimit = uint64_t(4) << 30;

    // Block checks of their own catch reads beyond the data, so a failure is
    // never put down to the input's end.
    explicit Rar5Decoder(uint64_t windowLimit = kDefaultWindowLimit) : m_windowLimit(windowLimit) { m_blameCut = false; }

    // Starts an entry whose packed bytes follow. A solid entry needs the entry
    // before it decoded to its end; any other entry starts afresh. When the
    // unpacked size is known, the window is never larger than it and the
    // output must match it exactly. False (status Failed) when the window
    // cannot be had.
    bool beginEntry(const Rar5Parameters &params, uint64_t unpackedSize, bool sizeKnown);

private:
    enum class Stage { BlockHeader, Tables, Symbols, EndOfEntry };

    void decode() override;
    int stage() const override { return int(m_stage); }
    bool entryDecoded() const override { return m_stage == Stage::EndOfEntry; }
    uint64_t outputLimit() override { return passFilters(m_filters); }
    bool filtersPending() const override { return !m_filters.empty(); }
    void inputReleased(uint64_t bytes) override;
    bool readBlockHeader();
    bool readTables();
    bool decodeSymbols();
    bool readFilter();
    bool haveBytes(size_t margin);
    bool blockAvailable() const { return m_blockEndByte <= m_in.size(); }

    uint64_t m_windowLimit;
    Stage m_stage = Stage::BlockHeader;
    bool m_extended = false;

    uint64_t m_blockEndByte = 0;  // in m_in
    uint64_t m_blockEndBit = 0;
    bool m_lastBlock = false;

    bool m_haveTables = false;
    HuffmanTable m_main, m_distance, m_lowDistance, m_length;
    uint64_t m_recent[4] = {};
    uint64_t m_lastLength = 0;

    std::deque<Rar5Filter> m_filters;
};

}  // namespace rar
