#pragma once
// PPMd variant H as RAR 2.9 streams use it: the context model with its
// secondary escape estimation, decoded through RAR's own carry-less range
// coder (not the one 7z archives use). The model lives on from block to block
// and from entry to entry of a solid stream until a block restarts it.
//
// The model's memory is the size the stream declares. Contexts are kept here
// in ordinary containers while their footprint in that memory is counted as
// the format's allocator would at most lay it out; an encoder restarts its
// model when that memory runs full, and a stream that gets there fails with a
// message rather than decoding on with a model the encoder no longer had.

#include "BitReader.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace rar {

class PpmdModel {
public:
    // Starts a fresh model of the given order (2..255) in memorySize bytes.
    void restart(unsigned maxOrder, uint32_t memorySize);
    bool started() const { return m_started; }
    // Starts the range coder on the bytes that follow (byte-aligned).
    void beginBlock(BitReader &in);
    // The next byte, or -1 when the data is damaged or the memory ran full.
    int decodeSymbol(BitReader &in);
    bool outOfMemory() const { return m_outOfMemory; }
    std::string error() const;

private:
    struct State {
        uint8_t symbol;
        uint8_t freq;
        int32_t successor;  // 0 none, > 0 a context, < 0 a position in the text (-1 - position)
    };
    struct Context {
        uint16_t summFreq = 0;
        int32_t suffix = 0;
        std::vector<State> states;
    };
    struct See {
        uint16_t summ;
        uint8_t shift;
        uint8_t count;
        uint32_t mean();
        void update();
    };

    // Range decoder.
    uint32_t count(uint32_t scale);
    void consume(BitReader &in, uint32_t low, uint32_t high);

    void reset();
    int32_t newContext(Context c);
    bool decodeBinary(BitReader &in, State *&found);
    bool decodeFirst(BitReader &in, State *&found);
    bool decodeMasked(BitReader &in, unsigned masked, State *&found);
    State *rescale(State *s);
    int32_t createSuccessors(State *s, State *suffixState);
    bool update(State *s);
    void chargeUnits(uint64_t units);

    bool m_started = false;
    bool m_outOfMemory = false;
    unsigned m_maxOrder = 0;
    uint32_t m_memorySize = 0;
    uint64_t m_unitsCharged = 0;

    std::deque<Context> m_contexts;  // [0] unused: 0 means "none"
    std::vector<uint8_t> m_text;
    int32_t m_minContext = 0, m_maxContext = 0;
    int m_orderFall = 0, m_initRunLength = 0, m_runLength = 0;
    uint8_t m_prevSuccess = 0, m_escCount = 0, m_prevSymbol = 0, m_initEsc = 0;
    uint8_t m_charMask[256] = {};
    uint16_t m_binSumm[128][64] = {};
    See m_see[25][16] = {};

    uint32_t m_low = 0, m_code = 0, m_range = 0;
};

}  // namespace rar
