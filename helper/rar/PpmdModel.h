#pragma once
// PPMd variant H as RAR 2.9 streams use it: the context model with its
// secondary escape estimation, decoded through RAR's own carry-less range
// coder (not the one 7z archives use). The model lives on from block to block
// and from entry to entry of a solid stream until a block restarts it.
//
// The model lives in a heap of exactly the size the stream declares, laid out
// and managed as the format's allocator does: when that memory runs out the
// encoder restarted its model, and so must the decoder at the very same
// symbol, so the allocator's every choice is part of the format.

#include "BitReader.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace rar {

class PpmdModel {
public:
    // Starts a fresh model of the given order (2..255) in memorySize bytes.
    // False when the memory cannot be had.
    bool restart(unsigned maxOrder, uint32_t memorySize);
    bool started() const { return m_started; }
    // Forgets the model, as a new stream that is not solid must, but keeps its
    // memory for the next restart of the same size: zeroing tens of
    // megabytes again for each small file would cost more than decoding it.
    // The format never reads memory its model has not written.
    void forget() { m_started = false; }
    // Starts the range coder on the bytes that follow (byte-aligned).
    void beginBlock(BitReader &in);
    // The next byte, or -1 when the data is damaged.
    int decodeSymbol(BitReader &in);

private:
    // Records in the heap: a context is one 12-byte unit; a context with
    // a single symbol keeps its state inside itself, others point to an
    // array of 6-byte states. Free blocks of units are chained by offset.
    struct State {
        uint8_t symbol;
        uint8_t freq;
        uint16_t successorLow, successorHigh;
    };
    struct Context {
        uint16_t numStats;
        uint16_t summFreq;
        uint32_t stats;
        uint32_t suffix;
    };
    struct FreeNode {
        uint16_t stamp;  // 0 for a free block while blocks are merged
        uint16_t units;
        uint32_t next;
    };
    struct See {
        uint16_t summ;
        uint8_t shift;
        uint8_t count;
        uint32_t mean();
        void update();
    };
    static constexpr unsigned kIndexes = 38;

    template <typename T> T *at(uint32_t offset) { return reinterpret_cast<T *>(m_heap.get() + offset); }
    Context *context(uint32_t offset) { return at<Context>(offset); }
    uint32_t offsetOf(const void *p) const { return uint32_t(static_cast<const uint8_t *>(p) - m_heap.get()); }
    static State *oneState(Context *c) { return reinterpret_cast<State *>(&c->summFreq); }
    State *stats(Context *c) { return at<State>(c->stats); }
    static uint32_t successor(const State *s) { return s->successorLow | uint32_t(s->successorHigh) << 16; }
    static void setSuccessor(State *s, uint32_t v)
    {
        s->successorLow = uint16_t(v);
        s->successorHigh = uint16_t(v >> 16);
    }

    // Range decoder.
    uint32_t count(uint32_t scale);
    void consume(BitReader &in, uint32_t low, uint32_t high);

    // Allocator.
    void insertNode(uint32_t node, unsigned index);
    uint32_t removeNode(unsigned index);
    void splitBlock(uint32_t block, unsigned oldIndex, unsigned newIndex);
    void glueFreeBlocks();
    uint32_t allocUnitsRare(unsigned index);
    uint32_t allocUnits(unsigned index);

    void restartModel();
    // Each gives the symbol, kEscape, or kDamaged.
    static constexpr int kEscape = -1, kDamaged = -2;
    int decodeBinary(BitReader &in);
    int decodeFirst(BitReader &in);
    int decodeMasked(BitReader &in, unsigned masked);
    void rescale();
    uint32_t createSuccessors();
    void updateModel();
    void nextContext();

    struct Free {
        void operator()(uint8_t *p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Free> m_heap;
    uint32_t m_size = 0;
    bool m_started = false;
    unsigned m_maxOrder = 0;
    uint32_t m_text = 0, m_unitsStart = 0, m_loUnit = 0, m_hiUnit = 0;
    uint32_t m_freeList[kIndexes] = {};
    unsigned m_glueCount = 0;
    uint8_t m_indexToUnits[kIndexes] = {};
    uint8_t m_unitsToIndex[128] = {};

    uint32_t m_minContext = 0, m_maxContext = 0;
    State *m_found = nullptr;
    int m_orderFall = 0;
    int32_t m_initRunLength = 0, m_runLength = 0;
    uint8_t m_prevSuccess = 0, m_escCount = 0, m_initEsc = 0;
    uint8_t m_charMask[256] = {};
    uint16_t m_binSumm[128][64] = {};
    See m_see[25][16] = {};
    See m_dummySee = {};

    uint32_t m_low = 0, m_code = 0, m_range = 0;
};

}  // namespace rar
