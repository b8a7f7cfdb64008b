#include "PpmdModel.h"

#include <algorithm>
#include <cstring>

namespace rar {

namespace {

constexpr uint32_t kTop = 1u << 24, kBottom = 1u << 15;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntervalBits = 7, kPeriodBits = 7;
constexpr uint32_t kBinScale = 1u << (kIntervalBits + kPeriodBits);
constexpr uint32_t kUnitSize = 12;
constexpr unsigned kMaxOrder = 64;

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[8] = {0x3cdd, 0x1f3f, 0x59bf, 0x48f3, 0x64a1, 0x5abc, 0x6632, 0x6051};

struct Tables {
    uint8_t ns2Index[256];
    uint8_t ns2BinIndex[256];
    constexpr Tables() : ns2Index(), ns2BinIndex()
    {
        ns2BinIndex[0] = 0;
        ns2BinIndex[1] = 2;
        for (int i = 2; i < 11; ++i) ns2BinIndex[i] = 4;
        for (int i = 11; i < 256; ++i) ns2BinIndex[i] = 6;
        unsigned i = 0;
        for (; i < 3; ++i) ns2Index[i] = uint8_t(i);
        for (unsigned m = i, k = 1; i < 256; ++i) {
            ns2Index[i] = uint8_t(m);
            if (--k == 0) k = ++m - 2;
        }
    }
};
constexpr Tables kTables;

// Symbols of the upper three quarters are told apart in the statistics.
unsigned highBits(uint8_t symbol) { return symbol >= 0x40 ? 8 : 0; }

}  // namespace

uint32_t PpmdModel::See::mean()
{
    const uint32_t r = summ >> shift;
    summ = uint16_t(summ - r);
    return r + (r == 0);
}

void PpmdModel::See::update()
{
    if (shift < kPeriodBits && --count == 0) {
        summ = uint16_t(summ * 2);
        count = uint8_t(3 << shift++);
    }
}

uint32_t PpmdModel::count(uint32_t scale)
{
    m_range /= scale;
    return m_range == 0 ? UINT32_MAX : (m_code - m_low) / m_range;
}

void PpmdModel::consume(BitReader &in, uint32_t low, uint32_t high)
{
    m_low += m_range * low;
    m_range *= high - low;
    for (;;) {
        if ((m_low ^ (m_low + m_range)) >= kTop) {
            if (m_range >= kBottom) return;
            m_range = (0u - m_low) & (kBottom - 1);
        }
        m_code = (m_code << 8) | in.bits(8);
        m_range <<= 8;
        m_low <<= 8;
    }
}

void PpmdModel::beginBlock(BitReader &in)
{
    m_low = 0;
    m_range = 0xffffffff;
    m_code = 0;
    for (int i = 0; i < 4; ++i) m_code = (m_code << 8) | in.bits(8);
}

// ---- Allocator: blocks of 1, 2, 3, 4, 6, 8, ... 128 units, one free list per size.

void PpmdModel::insertNode(uint32_t node, unsigned index)
{
    *at<uint32_t>(node) = m_freeList[index];
    m_freeList[index] = node;
}

uint32_t PpmdModel::removeNode(unsigned index)
{
    const uint32_t node = m_freeList[index];
    m_freeList[index] = *at<uint32_t>(node);
    return node;
}

void PpmdModel::splitBlock(uint32_t block, unsigned oldIndex, unsigned newIndex)
{
    const unsigned units = m_indexToUnits[oldIndex] - m_indexToUnits[newIndex];
    block += m_indexToUnits[newIndex] * kUnitSize;
    unsigned i = m_unitsToIndex[units - 1];
    if (m_indexToUnits[i] != units) {
        const unsigned k = m_indexToUnits[--i];
        insertNode(block + k * kUnitSize, units - k - 1);
    }
    insertNode(block, i);
}

// Merges free blocks that lie next to each other. The free blocks are first
// chained into one list; merging and refilling the lists must then walk it
// in the same direction, since a block merged into one before it is only
// dropped from the list when the walk meets it.
void PpmdModel::glueFreeBlocks()
{
    m_glueCount = 255;
    if (m_loUnit != m_hiUnit) at<FreeNode>(m_loUnit)->stamp = 1;  // guard: not free

    uint32_t n = 0;
    for (unsigned i = 0; i < kIndexes; ++i) {
        const uint16_t units = m_indexToUnits[i];
        uint32_t next = m_freeList[i];
        m_freeList[i] = 0;
        while (next != 0) {
            FreeNode *node = at<FreeNode>(next);
            const uint32_t self = next;
            next = *at<uint32_t>(self);
            node->stamp = 0;
            node->units = units;
            node->next = n;
            n = self;
        }
    }

    uint32_t head = n;
    uint32_t *previous = &head;
    while (n != 0) {
        FreeNode *node = at<FreeNode>(n);
        uint32_t units = node->units;
        n = node->next;
        if (units == 0) {
            *previous = n;
            continue;
        }
        previous = &node->next;
        for (;;) {
            FreeNode *after = at<FreeNode>(offsetOf(node) + units * kUnitSize);
            units += after->units;
            if (after->stamp != 0 || units >= 0x10000) break;
            node->units = uint16_t(units);
            after->units = 0;
        }
    }

    for (n = head; n != 0;) {
        uint32_t node = n;
        uint32_t units = at<FreeNode>(node)->units;
        n = at<FreeNode>(node)->next;
        if (units == 0) continue;
        for (; units > 128; units -= 128, node += 128 * kUnitSize) insertNode(node, kIndexes - 1);
        unsigned i = m_unitsToIndex[units - 1];
        if (m_indexToUnits[i] != units) {
            const unsigned k = m_indexToUnits[--i];
            insertNode(node + k * kUnitSize, units - k - 1);
        }
        insertNode(node, i);
    }
}

uint32_t PpmdModel::allocUnitsRare(unsigned index)
{
    if (m_glueCount == 0) {
        glueFreeBlocks();
        if (m_freeList[index] != 0) return removeNode(index);
    }
    unsigned i = index;
    do {
        if (++i == kIndexes) {
            // Last resort: units taken from the far end of the text area.
            const uint32_t bytes = m_indexToUnits[index] * kUnitSize;
            --m_glueCount;
            if (m_unitsStart - m_text > bytes) return m_unitsStart -= bytes;
            return 0;
        }
    } while (m_freeList[i] == 0);
    const uint32_t block = removeNode(i);
    splitBlock(block, i, index);
    return block;
}

uint32_t PpmdModel::allocUnits(unsigned index)
{
    if (m_freeList[index] != 0) return removeNode(index);
    const uint32_t bytes = m_indexToUnits[index] * kUnitSize;
    if (m_hiUnit - m_loUnit >= bytes) {
        const uint32_t block = m_loUnit;
        m_loUnit += bytes;
        return block;
    }
    return allocUnitsRare(index);
}

// ---- Model

bool PpmdModel::restart(unsigned maxOrder, uint32_t memorySize)
{
    m_started = false;
    if (!m_heap || m_size != memorySize) {
        m_heap.reset();
        m_size = 0;
        // calloc: a large model costs memory only as far as it grows.
        m_heap.reset(static_cast<uint8_t *>(std::calloc(size_t(memorySize) + kUnitSize, 1)));
        if (!m_heap) return false;
        m_size = memorySize;
    }
    for (unsigned i = 0, k = 0; i < kIndexes; ++i) {
        unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
        do {
            m_unitsToIndex[k++] = uint8_t(i);
        } while (--step);
        m_indexToUnits[i] = uint8_t(k);
    }
    m_maxOrder = std::min(maxOrder, kMaxOrder);
    restartModel();
    m_started = true;
    return true;
}

void PpmdModel::restartModel()
{
    std::fill(std::begin(m_freeList), std::end(m_freeList), 0);
    // The text grows from the bottom; units take the top seven eighths.
    m_text = 0;
    m_hiUnit = m_text + m_size;
    m_loUnit = m_unitsStart = m_hiUnit - m_size / 8 / kUnitSize * 7 * kUnitSize;
    m_glueCount = 0;

    m_orderFall = int(m_maxOrder);
    m_runLength = m_initRunLength = -int(std::min(m_maxOrder, 12u)) - 1;
    m_prevSuccess = 0;
    m_escCount = 1;
    std::fill(std::begin(m_charMask), std::end(m_charMask), 0);

    m_hiUnit -= kUnitSize;
    Context *root = context(m_hiUnit);
    const uint32_t states = m_loUnit;
    m_loUnit += 256 / 2 * kUnitSize;
    m_minContext = m_maxContext = m_hiUnit;
    root->numStats = 256;
    root->summFreq = 256 + 1;
    root->stats = states;
    root->suffix = 0;
    State *s = at<State>(states);
    m_found = s;
    for (unsigned i = 0; i < 256; ++i, ++s) {
        s->symbol = uint8_t(i);
        s->freq = 1;
        setSuccessor(s, 0);
    }

    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 8; ++k)
            for (unsigned m = 0; m < 64; m += 8) m_binSumm[i][k + m] = uint16_t(kBinScale - kInitBinEsc[k] / (i + 2));
    for (unsigned i = 0; i < 25; ++i)
        for (See &see : m_see[i]) see = {uint16_t((5 * i + 10) << (kPeriodBits - 4)), kPeriodBits - 4, 4};
    m_dummySee = {0, kPeriodBits, 64};
}

// The found state's successor is a place in the text: make contexts of it,
// for it and for the same symbol in the suffix contexts that share it.
uint32_t PpmdModel::createSuccessors()
{
    uint32_t c = m_minContext;
    uint32_t upBranch = successor(m_found);
    State *chain[kMaxOrder];
    unsigned n = 0;
    if (m_orderFall != 0) chain[n++] = m_found;
    while (context(c)->suffix != 0) {
        c = context(c)->suffix;
        Context *cc = context(c);
        State *s;
        if (cc->numStats != 1) {
            for (s = stats(cc); s->symbol != m_found->symbol; ++s) {
            }
        } else {
            s = oneState(cc);
        }
        const uint32_t next = successor(s);
        if (next != upBranch) {
            c = next;
            if (n == 0) return c;
            break;
        }
        if (n == kMaxOrder) return 0;
        chain[n++] = s;
    }

    const uint8_t symbol = m_heap[upBranch];
    ++upBranch;
    Context *cc = context(c);
    uint8_t freq;
    if (cc->numStats == 1) {
        freq = oneState(cc)->freq;
    } else {
        State *s;
        for (s = stats(cc); s->symbol != symbol; ++s) {
        }
        const uint32_t cf = uint32_t(s->freq) - 1;
        const uint32_t s0 = std::max<uint32_t>(uint32_t(cc->summFreq) - cc->numStats - cf, 1);
        freq = uint8_t(1 + (2 * cf <= s0 ? (5 * cf > s0) : (2 * cf + s0 - 1) / (2 * s0) + 1));
    }

    do {
        uint32_t c1;
        if (m_hiUnit != m_loUnit) {
            c1 = m_hiUnit -= kUnitSize;
        } else if (m_freeList[0] != 0) {
            c1 = removeNode(0);
        } else {
            c1 = allocUnitsRare(0);
            if (c1 == 0) return 0;
        }
        Context *child = context(c1);
        child->numStats = 1;
        State *one = oneState(child);
        one->symbol = symbol;
        one->freq = freq;
        setSuccessor(one, upBranch);
        child->suffix = c;
        setSuccessor(chain[--n], c1);
        c = c1;
    } while (n != 0);
    return c;
}

void PpmdModel::updateModel()
{
    const uint8_t symbol = m_found->symbol;
    if (m_found->freq < kMaxFreq / 4 && context(m_minContext)->suffix != 0) {
        Context *c = context(context(m_minContext)->suffix);
        if (c->numStats == 1) {
            State *s = oneState(c);
            if (s->freq < 32) ++s->freq;
        } else {
            State *s = stats(c);
            if (s->symbol != symbol) {
                do {
                    ++s;
                } while (s->symbol != symbol);
                if (s[0].freq >= s[-1].freq) {
                    std::swap(s[0], s[-1]);
                    --s;
                }
            }
            if (s->freq < kMaxFreq - 9) {
                s->freq = uint8_t(s->freq + 2);
                c->summFreq = uint16_t(c->summFreq + 2);
            }
        }
    }

    if (m_orderFall == 0) {
        m_minContext = m_maxContext = createSuccessors();
        if (m_minContext == 0) return restartModel();
        setSuccessor(m_found, m_minContext);
        return;
    }

    m_heap[m_text++] = symbol;
    if (m_text >= m_unitsStart) return restartModel();
    uint32_t maxSuccessor = m_text;
    uint32_t minSuccessor = successor(m_found);
    if (minSuccessor != 0) {
        if (minSuccessor <= maxSuccessor) {
            const uint32_t created = createSuccessors();
            if (created == 0) return restartModel();
            minSuccessor = created;
        }
        if (--m_orderFall == 0) {
            maxSuccessor = minSuccessor;
            if (m_maxContext != m_minContext) --m_text;
        }
    } else {
        setSuccessor(m_found, maxSuccessor);
        minSuccessor = m_minContext;
    }

    const uint32_t mc = m_minContext;
    uint32_t c = m_maxContext;
    m_minContext = m_maxContext = minSuccessor;
    if (c == mc) return;

    const unsigned ns = context(mc)->numStats;
    const uint32_t s0 = uint32_t(context(mc)->summFreq) - ns - (uint32_t(m_found->freq) - 1);
    do {
        Context *cc = context(c);
        const unsigned ns1 = cc->numStats;
        uint32_t sum;
        if (ns1 != 1) {
            if ((ns1 & 1) == 0) {
                // The array grows by one unit every second state.
                const unsigned oldUnits = ns1 >> 1;
                const unsigned i = m_unitsToIndex[oldUnits - 1];
                if (i != m_unitsToIndex[oldUnits]) {
                    const uint32_t block = allocUnits(i + 1);
                    if (block == 0) return restartModel();
                    std::memmove(m_heap.get() + block, m_heap.get() + cc->stats, oldUnits * kUnitSize);
                    insertNode(cc->stats, i);
                    cc->stats = block;
                }
            }
            sum = cc->summFreq;
            sum += uint32_t(2 * ns1 < ns) + 2 * (uint32_t(4 * ns1 <= ns) & uint32_t(sum <= 8 * ns1));
        } else {
            const uint32_t block = allocUnits(0);
            if (block == 0) return restartModel();
            State one = *oneState(cc);
            cc->stats = block;
            unsigned freq = one.freq;
            freq = freq < kMaxFreq / 4 - 1 ? freq * 2 : kMaxFreq - 4;
            one.freq = uint8_t(freq);
            *at<State>(block) = one;
            sum = freq + m_initEsc + (ns > 3);
        }
        State *s = stats(cc) + ns1;
        uint32_t cf = 2 * (sum + 6) * uint32_t(m_found->freq);
        const uint32_t sf = s0 + sum;
        s->symbol = symbol;
        cc->numStats = uint16_t(ns1 + 1);
        setSuccessor(s, maxSuccessor);
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            sum += 3;
        } else {
            cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
            sum += cf;
        }
        cc->summFreq = uint16_t(sum);
        s->freq = uint8_t(cf);
        c = cc->suffix;
    } while (c != mc);
}

// Halves the counts of the current context once one grows too large,
// keeping them sorted with the found state first; states that drop to zero
// (only possible at the highest order) leave the context.
void PpmdModel::rescale()
{
    Context *mc = context(m_minContext);
    State *first = stats(mc);
    State *s = m_found;
    if (s != first) {
        const State t = *s;
        for (; s != first; --s) s[0] = s[-1];
        *s = t;
    }
    unsigned sumFreq = s->freq;
    unsigned escFreq = mc->summFreq - sumFreq;
    const unsigned adder = m_orderFall != 0;
    sumFreq = (sumFreq + 4 + adder) >> 1;
    unsigned i = mc->numStats - 1u;
    s->freq = uint8_t(sumFreq);
    do {
        unsigned freq = (++s)->freq;
        escFreq -= freq;
        freq = (freq + adder) >> 1;
        sumFreq += freq;
        s->freq = uint8_t(freq);
        if (freq > s[-1].freq) {
            const State t = *s;
            State *s1 = s;
            do {
                s1[0] = s1[-1];
            } while (--s1 != first && freq > s1[-1].freq);
            *s1 = t;
        }
    } while (--i);

    if (s->freq == 0) {
        i = 0;
        do {
            ++i;
        } while ((--s)->freq == 0);
        escFreq += i;
        const unsigned numStats = mc->numStats, numStatsNew = numStats - i;
        mc->numStats = uint16_t(numStatsNew);
        const unsigned n0 = (numStats + 1) >> 1;
        if (numStatsNew == 1) {
            State one = *first;
            unsigned freq = one.freq;
            do {
                escFreq >>= 1;
                freq = (freq + 1) >> 1;
            } while (escFreq > 1);
            one.freq = uint8_t(freq);
            const uint32_t block = offsetOf(first);
            *oneState(mc) = one;
            m_found = oneState(mc);
            insertNode(block, m_unitsToIndex[n0 - 1]);
            return;
        }
        const unsigned n1 = (numStatsNew + 1) >> 1;
        if (n0 != n1) {
            const unsigned i0 = m_unitsToIndex[n0 - 1], i1 = m_unitsToIndex[n1 - 1];
            if (i0 != i1) {
                const uint32_t block = offsetOf(first);
                if (m_freeList[i1] != 0) {
                    const uint32_t moved = removeNode(i1);
                    mc->stats = moved;
                    std::memmove(m_heap.get() + moved, m_heap.get() + block, n1 * kUnitSize);
                    insertNode(block, i0);
                } else {
                    splitBlock(block, i0, i1);
                }
            }
        }
    }
    mc->summFreq = uint16_t(sumFreq + escFreq - (escFreq >> 1));
    m_found = stats(mc);
}

void PpmdModel::nextContext()
{
    const uint32_t c = successor(m_found);
    if (m_orderFall == 0 && c > m_text) m_minContext = m_maxContext = c;
    else updateModel();
}

int PpmdModel::decodeBinary(BitReader &in)
{
    Context *mc = context(m_minContext);
    State *s = oneState(mc);
    if (mc->suffix == 0 || s->freq == 0 || s->freq > 128) return kDamaged;
    const unsigned index = m_prevSuccess + kTables.ns2BinIndex[context(mc->suffix)->numStats - 1] +
                           highBits(m_found->symbol) + 2 * highBits(s->symbol) + ((m_runLength >> 26) & 0x20);
    uint16_t &probability = m_binSumm[s->freq - 1][index];
    const unsigned mean = (probability + (1u << (kPeriodBits - 2))) >> kPeriodBits;
    const uint32_t target = count(kBinScale);
    if (target == UINT32_MAX) return kDamaged;
    if (target < probability) {
        consume(in, 0, probability);
        probability = uint16_t(probability + (1u << kIntervalBits) - mean);
        m_found = s;
        const uint8_t symbol = s->symbol;
        s->freq = uint8_t(s->freq + (s->freq < 128));
        m_prevSuccess = 1;
        m_runLength = int32_t(uint32_t(m_runLength) + 1);  // wraps after 2^31 hits, as the encoder's
        nextContext();
        return symbol;
    }
    consume(in, probability, kBinScale);
    probability = uint16_t(probability - mean);
    m_initEsc = kExpEscape[probability >> 10];
    m_charMask[s->symbol] = m_escCount;
    m_prevSuccess = 0;
    return kEscape;
}

int PpmdModel::decodeFirst(BitReader &in)
{
    Context *mc = context(m_minContext);
    State *s = stats(mc);
    const uint32_t scale = mc->summFreq;
    if (scale == 0) return kDamaged;
    const uint32_t target = count(scale);
    if (target >= scale) return kDamaged;
    uint32_t high = s->freq;
    if (target < high) {
        consume(in, 0, high);
        m_found = s;
        const uint8_t symbol = s->symbol;
        m_prevSuccess = 2 * high > scale;
        m_runLength = int32_t(uint32_t(m_runLength) + m_prevSuccess);
        mc->summFreq = uint16_t(scale + 4);
        s->freq = uint8_t(high + 4);
        if (high + 4 > kMaxFreq) rescale();
        nextContext();
        return symbol;
    }
    m_prevSuccess = 0;
    for (unsigned i = mc->numStats - 1u; i > 0; --i) {
        ++s;
        high += s->freq;
        if (high <= target) continue;
        consume(in, high - s->freq, high);
        m_found = s;
        const uint8_t symbol = s->symbol;
        const unsigned freq = s->freq + 4u;
        mc->summFreq = uint16_t(mc->summFreq + 4);
        s->freq = uint8_t(freq);
        if (freq > s[-1].freq) {
            std::swap(s[0], s[-1]);
            m_found = s - 1;
            if (freq > kMaxFreq) rescale();
        }
        nextContext();
        return symbol;
    }
    consume(in, high, scale);
    s = stats(mc);
    for (unsigned i = 0; i < mc->numStats; ++i) m_charMask[s[i].symbol] = m_escCount;
    return kEscape;
}

int PpmdModel::decodeMasked(BitReader &in, unsigned masked)
{
    Context *mc = context(m_minContext);
    const unsigned numStats = mc->numStats;
    See *see = &m_dummySee;
    uint32_t escFreq = 1;
    if (numStats != 256) {
        const unsigned left = numStats - masked;
        const unsigned suffixStats = mc->suffix ? context(mc->suffix)->numStats : 0;
        see = &m_see[kTables.ns2Index[left - 1]][(left < suffixStats - numStats) + 2 * (mc->summFreq < 11 * numStats) +
                                                 4 * (masked > left) + highBits(m_found->symbol)];
        escFreq = see->mean();
    }
    State *candidates[256];
    unsigned n = 0;
    uint32_t high = 0;
    State *s = stats(mc);
    for (unsigned i = 0; i < numStats; ++i) {
        if (m_charMask[s[i].symbol] == m_escCount) continue;
        high += s[i].freq;
        candidates[n++] = &s[i];
    }
    if (n == 0) return kDamaged;
    const uint32_t total = escFreq + high;
    const uint32_t target = count(total);
    if (target >= total) return kDamaged;
    if (target < high) {
        unsigned k = 0;
        uint32_t upTo = candidates[0]->freq;
        while (upTo <= target) upTo += candidates[++k]->freq;
        State *found = candidates[k];
        consume(in, upTo - found->freq, upTo);
        see->update();
        m_found = found;
        const uint8_t symbol = found->symbol;
        const unsigned freq = found->freq + 4u;
        m_runLength = m_initRunLength;
        mc->summFreq = uint16_t(mc->summFreq + 4);
        found->freq = uint8_t(freq);
        ++m_escCount;
        if (freq > kMaxFreq) rescale();
        updateModel();
        return symbol;
    }
    consume(in, high, total);
    see->summ = uint16_t(see->summ + total);
    for (unsigned k = 0; k < n; ++k) m_charMask[candidates[k]->symbol] = m_escCount;
    return kEscape;
}

int PpmdModel::decodeSymbol(BitReader &in)
{
    if (!m_started) return -1;
    int symbol = context(m_minContext)->numStats == 1 ? decodeBinary(in) : decodeFirst(in);
    while (symbol == kEscape) {
        const unsigned masked = context(m_minContext)->numStats;
        do {
            // An escape from the order-0 context is an error (the stream has
            // nothing more to say in this model).
            if (context(m_minContext)->suffix == 0) return -1;
            ++m_orderFall;
            m_minContext = context(m_minContext)->suffix;
        } while (context(m_minContext)->numStats == masked);
        symbol = decodeMasked(in, masked);
    }
    if (symbol < 0) return -1;
    if (m_escCount == 0) {
        m_escCount = 1;
        std::fill(std::begin(m_charMask), std::end(m_charMask), 0);
    }
    return symbol;
}

}  // namespace rar
