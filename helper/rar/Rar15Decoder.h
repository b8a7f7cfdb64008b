#pragma once
// Streaming decoder of RAR 1.5 compressed data (unpack version 15; RAR 1.3
// and 1.4 archives hold the same kind of data). There are no transmitted
// tables: fixed prefix codes are chosen by running averages of what was
// decoded lately, and small move-towards-front lists map the codes to bytes
// and distance bits, so that frequent values get short codes. Flag bits,
// coded in bytes of eight, tell literals from long and short matches; after
// long runs of literals the stream may switch to a literals-only mode.

#include "LegacyDecoder.h"

#include <cstdint>

namespace rar {

class Rar15Decoder : public LegacyDecoder {
public:
    // Distances reach 64 KiB at most.
    static constexpr uint64_t kWindowSize = uint64_t(1) << 16;

    Rar15Decoder() : LegacyDecoder(kWindowSize) {}

private:
    // A value list kept roughly by frequency: entry i holds a value in its
    // high byte and a use count in its low byte; the used entry moves to the
    // first place of its count class.
    struct RankedList {
        uint16_t entry[256];
        uint8_t classStart[256];
        void renumber();
        // The value at index, moved forward; countLimit: the count at which
        // all counts are folded back into eight classes.
        uint8_t take(unsigned index, unsigned countLimit);
    };

    void resetModel() override;
    void beginFile(bool solid) override;
    bool decodeStep() override;

    int flagBit();
    bool literal();
    bool longMatch();
    bool shortMatch();
    bool match(uint64_t distance, uint64_t length);

    RankedList m_literals, m_distances, m_flagValues;
    uint8_t m_shortDistances[256];

    unsigned m_averageLiteral = 0;
    unsigned m_averageDistance = 0;
    unsigned m_averageLongLength = 0;
    unsigned m_averageShortLength = 0;
    unsigned m_nearMatches = 0;  // running count of short long-matches
    unsigned m_maxShortDistance = 0;
    unsigned m_literalWeight = 0;
    unsigned m_matchWeight = 0;
    unsigned m_literalRun = 0;
    bool m_altShortCodes = false;

    unsigned m_flags = 0;
    unsigned m_flagsLeft = 0;
    bool m_literalsOnly = false;
    unsigned m_repeats = 0;  // last-match repeats in a row

    uint64_t m_recent[4] = {};
    unsigned m_recentNext = 0;
    uint64_t m_lastDistance = 0;
    uint64_t m_lastLength = 0;
};

}  // namespace rar
