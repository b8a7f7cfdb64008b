#include "PpmdModel.h"

#include <algorithm>

namespace rar {

namespace {

constexpr uint32_t kTop = 1u << 24, kBottom = 1u << 15;
constexpr uint8_t kMaxFreq = 124;
constexpr unsigned kIntervalBits = 7, kPeriodBits = 7;
constexpr uint32_t kBinScale = 1u << (kIntervalBits + kPeriodBits);
constexpr uint32_t kUnitSize = 12;

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

// The allocator hands out blocks of 1, 2, 3, 4, 6, 8, ... 128 units.
uint64_t blockUnits(uint64_t units)
{
    if (units <= 4) return units;
    if (units <= 12) return (units + 1) & ~uint64_t(1);
    if (units <= 24) return (units + 2) / 3 * 3;
    return (units + 3) & ~uint64_t(3);
}

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

std::string PpmdModel::error() const
{
    return "the PPMd model outgrew its " + std::to_string(m_memorySize >> 20) +
           " MiB, which this reader cannot follow yet";
}

uint32_t PpmdModel::count(uint32_t scale)
{
    m_range /= scale;
    return (m_code - m_low) / m_range;
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

void PpmdModel::chargeUnits(uint64_t units)
{
    m_unitsCharged += units;
    const uint64_t unitsArea = uint64_t(m_memorySize) / 8 / kUnitSize * 7 * kUnitSize;
    if (m_unitsCharged * kUnitSize + kUnitSize * 256 >= unitsArea) m_outOfMemory = true;
}

void PpmdModel::restart(unsigned maxOrder, uint32_t memorySize)
{
    m_maxOrder = maxOrder;
    m_memorySize = memorySize;
    reset();
    m_started = true;
}

void PpmdModel::reset()
{
    m_outOfMemory = false;
    m_unitsCharged = 0;
    m_contexts.clear();
    m_contexts.emplace_back();
    m_text.clear();
    std::fill(std::begin(m_charMask), std::end(m_charMask), 0);
    m_escCount = 1;
    m_initRunLength = -int(std::min(m_maxOrder, 12u)) - 1;
    m_orderFall = int(m_maxOrder);
    m_runLength = m_initRunLength;
    m_prevSuccess = 0;
    m_prevSymbol = 0;
    m_initEsc = 0;

    Context root;
    root.summFreq = 257;
    root.states.resize(256);
    for (unsigned i = 0; i < 256; ++i) root.states[i] = {uint8_t(i), 1, 0};
    m_minContext = m_maxContext = newContext(std::move(root));
    chargeUnits(128);

    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 8; ++k)
            for (unsigned m = 0; m < 64; m += 8) m_binSumm[i][k + m] = uint16_t(kBinScale - kInitBinEsc[k] / (i + 2));
    for (unsigned i = 0; i < 25; ++i)
        for (auto &see : m_see[i]) see = {uint16_t((5 * i + 10) << (kPeriodBits - 4)), kPeriodBits - 4, 4};
}

int32_t PpmdModel::newContext(Context c)
{
    m_contexts.push_back(std::move(c));
    chargeUnits(1);
    return int32_t(m_contexts.size() - 1);
}

PpmdModel::State *PpmdModel::rescale(State *s)
{
    if (s->freq <= kMaxFreq) return s;
    Context &c = m_contexts[size_t(m_minContext)];
    std::vector<State> &states = c.states;
    // The found state moves to the front, all counts halve, and the order
    // by count is kept.
    s->freq = uint8_t(s->freq + 4);
    int escFreq = c.summFreq + 4;
    int summFreq = 0;
    const size_t found = size_t(s - states.data());
    std::rotate(states.begin(), states.begin() + ptrdiff_t(found), states.begin() + ptrdiff_t(found) + 1);
    for (size_t i = 0; i < states.size(); ++i) {
        uint8_t f = states[i].freq;
        escFreq -= f;
        if (m_orderFall != 0) ++f;
        f >>= 1;
        summFreq += f;
        states[i].freq = f;
        if (i == 0 || f <= states[i - 1].freq) continue;
        size_t j = i - 1;
        while (j > 0 && f > states[j - 1].freq) --j;
        const State t = states[i];
        std::move_backward(states.begin() + ptrdiff_t(j), states.begin() + ptrdiff_t(i), states.begin() + ptrdiff_t(i) + 1);
        states[j] = t;
    }
    size_t last = states.size() - 1;
    while (states[last].freq == 0) {
        --last;
        ++escFreq;
    }
    states.resize(last + 1);
    if (last == 0) {
        do {
            states[0].freq = uint8_t(states[0].freq - (states[0].freq >> 1));
            escFreq >>= 1;
        } while (escFreq > 1);
        return &states[0];
    }
    c.summFreq = uint16_t(summFreq + escFreq - (escFreq >> 1));
    return &states[0];
}

bool PpmdModel::decodeBinary(BitReader &in, State *&found)
{
    Context &c = m_contexts[size_t(m_minContext)];
    if (c.suffix <= 0) return false;
    State &s = c.states[0];
    const size_t suffixStates = m_contexts[size_t(c.suffix)].states.size();
    unsigned i = m_prevSuccess + kTables.ns2BinIndex[suffixStates - 1] + ((m_runLength >> 26) & 0x20);
    if (m_prevSymbol >= 64) i += 8;
    if (s.symbol >= 64) i += 16;
    uint16_t &bs = m_binSumm[s.freq - 1][i];
    const uint16_t mean = uint16_t((bs + (1u << (kPeriodBits - 2))) >> kPeriodBits);
    if (count(kBinScale) < bs) {
        consume(in, 0, bs);
        if (s.freq < 128) ++s.freq;
        bs = uint16_t(bs + (1u << kIntervalBits) - mean);
        m_prevSuccess = 1;
        ++m_runLength;
        found = &s;
        return true;
    }
    consume(in, bs, kBinScale);
    bs = uint16_t(bs - mean);
    m_initEsc = kExpEscape[bs >> 10];
    m_charMask[s.symbol] = m_escCount;
    m_prevSuccess = 0;
    found = nullptr;
    return true;
}

bool PpmdModel::decodeFirst(BitReader &in, State *&found)
{
    Context &c = m_contexts[size_t(m_minContext)];
    std::vector<State> &states = c.states;
    const uint32_t scale = c.summFreq;
    if (scale == 0) return false;
    const uint32_t target = count(scale);
    if (target >= scale) return false;
    m_prevSuccess = 0;
    uint32_t high = 0;
    for (size_t i = 0; i < states.size(); ++i) {
        State *s = &states[i];
        high += s->freq;
        if (high <= target) continue;
        consume(in, high - s->freq, high);
        s->freq = uint8_t(s->freq + 4);
        c.summFreq = uint16_t(scale + 4);
        if (i == 0) {
            if (2 * high > scale) {
                m_prevSuccess = 1;
                ++m_runLength;
            }
        } else {
            if (s->freq <= states[i - 1].freq) {
                found = s;
                return true;
            }
            std::swap(states[i - 1], states[i]);
            s = &states[i - 1];
        }
        found = rescale(s);
        return true;
    }
    for (const State &s : states) m_charMask[s.symbol] = m_escCount;
    consume(in, high, scale);
    found = nullptr;
    return true;
}

bool PpmdModel::decodeMasked(BitReader &in, unsigned masked, State *&found)
{
    Context &c = m_contexts[size_t(m_minContext)];
    const size_t ns = c.states.size();
    See *see = nullptr;
    uint32_t scale = 1;
    if (ns != 256) {
        const size_t left = ns - masked;
        unsigned i = m_prevSymbol >= 64 ? 8 : 0;
        if (left < m_contexts[size_t(c.suffix)].states.size() - ns) ++i;
        if (c.summFreq < 11 * ns) i += 2;
        if (masked > left) i += 4;
        see = &m_see[kTables.ns2Index[left - 1]][i];
        scale = see->mean();
    }
    State *candidates[256];
    size_t n = 0;
    uint32_t high = 0;
    for (State &s : c.states) {
        if (m_charMask[s.symbol] == m_escCount) continue;
        high += s.freq;
        candidates[n++] = &s;
    }
    scale += high;
    const uint32_t target = count(scale);
    if (target >= scale) return false;
    if (target >= high) {
        consume(in, high, scale);
        if (see) see->summ = uint16_t(see->summ + scale);
        for (size_t k = 0; k < n; ++k) m_charMask[candidates[k]->symbol] = m_escCount;
        found = nullptr;
        return true;
    }
    size_t k = 0;
    high = candidates[0]->freq;
    while (high <= target) high += candidates[++k]->freq;
    State *s = candidates[k];
    consume(in, high - s->freq, high);
    if (see) see->update();
    ++m_escCount;
    m_runLength = m_initRunLength;
    s->freq = uint8_t(s->freq + 4);
    c.summFreq = uint16_t(c.summFreq + 4);
    found = rescale(s);
    return true;
}

int32_t PpmdModel::createSuccessors(State *s, State *suffixState)
{
    State *chain[64];
    size_t n = 0;
    if (m_orderFall != 0) chain[n++] = s;
    int32_t c = m_minContext;
    const int32_t upBranch = s->successor;
    while (m_contexts[size_t(c)].suffix != 0) {
        c = m_contexts[size_t(c)].suffix;
        State *ss = suffixState;
        suffixState = nullptr;
        if (!ss) {
            std::vector<State> &states = m_contexts[size_t(c)].states;
            ss = &states[0];
            for (State &t : states)
                if (t.symbol == s->symbol) {
                    ss = &t;
                    break;
                }
        }
        if (ss->successor != upBranch) {
            c = ss->successor;
            break;
        }
        if (n >= 64) return 0;
        chain[n++] = ss;
    }
    if (n == 0) return c;
    if (c <= 0) return 0;

    // The successor so far was a place in the text: the symbol written
    // there becomes the one state of each new context.
    const size_t textAt = size_t(-1 - upBranch);
    if (upBranch >= 0 || textAt >= m_text.size()) return 0;
    State up{m_text[textAt], 0, -1 - int32_t(textAt + 1)};
    const Context &base = m_contexts[size_t(c)];
    if (base.states.size() > 1) {
        const State *t = &base.states[0];
        for (const State &x : base.states)
            if (x.symbol == up.symbol) {
                t = &x;
                break;
            }
        const uint32_t cf = t->freq - 1u;
        const uint32_t s0 = base.summFreq - uint32_t(base.states.size()) - cf;
        up.freq = uint8_t(1 + (2 * cf <= s0 ? (5 * cf > s0) : (2 * cf + 3 * s0 - 1) / (2 * s0)));
    } else {
        up.freq = base.states[0].freq;
    }
    while (n > 0) {
        Context child;
        child.states.push_back(up);
        child.suffix = c;
        c = newContext(std::move(child));
        chain[--n]->successor = c;
    }
    return c;
}

bool PpmdModel::update(State *s)
{
    if (m_escCount == 0) {
        m_escCount = 1;
        std::fill(std::begin(m_charMask), std::end(m_charMask), 0);
    }
    State *suffixState = nullptr;
    Context &minC = m_contexts[size_t(m_minContext)];
    if (s->freq < kMaxFreq / 4 && minC.suffix != 0) {
        Context &c = m_contexts[size_t(minC.suffix)];
        std::vector<State> &states = c.states;
        size_t i = 0;
        if (states.size() > 1) {
            while (i < states.size() && states[i].symbol != s->symbol) ++i;
            if (i == states.size()) return false;
            if (i > 0 && states[i].freq >= states[i - 1].freq) {
                std::swap(states[i - 1], states[i]);
                --i;
            }
            if (states[i].freq < kMaxFreq - 9) {
                states[i].freq = uint8_t(states[i].freq + 2);
                c.summFreq = uint16_t(c.summFreq + 2);
            }
        } else if (states[0].freq < 32) {
            ++states[0].freq;
        }
        suffixState = &states[i];
    }

    if (m_orderFall == 0) {
        const int32_t c = createSuccessors(s, suffixState);
        if (c <= 0) return false;
        m_minContext = m_maxContext = c;
        s->successor = c;
        return true;
    }

    m_text.push_back(s->symbol);
    int32_t successor = -1 - int32_t(m_text.size());
    const uint64_t textArea = m_memorySize - uint64_t(m_memorySize) / 8 / kUnitSize * 7 * kUnitSize;
    if (m_text.size() + 64 >= textArea || m_text.size() >= 0x7fffffff) m_outOfMemory = true;

    int32_t next;
    if (s->successor == 0) {
        s->successor = successor;
        next = m_minContext;
    } else {
        if (s->successor < 0) {
            next = createSuccessors(s, suffixState);
            if (next <= 0) return false;
        } else {
            next = s->successor;
        }
        if (--m_orderFall == 0) {
            successor = next;
            if (m_maxContext != m_minContext) m_text.pop_back();
        }
    }

    const size_t n = m_contexts[size_t(m_minContext)].states.size();
    const int s0 = int(m_contexts[size_t(m_minContext)].summFreq) - int(n) - (s->freq - 1);
    const uint8_t foundFreq = s->freq, foundSymbol = s->symbol;
    for (int32_t ci = m_maxContext; ci != m_minContext; ci = m_contexts[size_t(ci)].suffix) {
        if (ci <= 0) return false;
        Context &c = m_contexts[size_t(ci)];
        const size_t ns = c.states.size();
        uint32_t summFreq;
        if (ns != 1) {
            if ((ns & 1) == 0 && blockUnits(ns / 2 + 1) != blockUnits(ns / 2)) chargeUnits(blockUnits(ns / 2 + 1));
            summFreq = c.summFreq;
            if (4 * ns <= n && summFreq <= 8 * ns) summFreq += 2;
            if (2 * ns < n) ++summFreq;
        } else {
            chargeUnits(1);
            State &p = c.states[0];
            p.freq = p.freq < kMaxFreq / 4 - 1 ? uint8_t(p.freq * 2) : uint8_t(kMaxFreq - 4);
            summFreq = p.freq + m_initEsc + (n > 3);
        }
        const uint32_t cf = 2 * uint32_t(foundFreq) * (summFreq + 6);
        const uint32_t sf = uint32_t(s0) + summFreq;
        uint8_t freq;
        if (cf < 6 * sf) {
            freq = uint8_t(1 + (cf > sf) + (cf >= 4 * sf));
            summFreq += 3;
        } else {
            freq = uint8_t(4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf));
            summFreq += freq;
        }
        c.states.push_back({foundSymbol, freq, successor});
        c.summFreq = uint16_t(summFreq);
    }
    m_minContext = m_maxContext = next;
    return true;
}

int PpmdModel::decodeSymbol(BitReader &in)
{
    if (!m_started || m_outOfMemory || m_minContext <= 0) return -1;
    State *s = nullptr;
    bool ok = m_contexts[size_t(m_minContext)].states.size() == 1 ? decodeBinary(in, s) : decodeFirst(in, s);
    while (ok && !s) {
        const size_t masked = m_contexts[size_t(m_minContext)].states.size();
        do {
            ++m_orderFall;
            m_minContext = m_contexts[size_t(m_minContext)].suffix;
            if (m_minContext <= 0) return -1;
        } while (m_contexts[size_t(m_minContext)].states.size() == masked);
        ok = decodeMasked(in, unsigned(masked), s);
    }
    if (!ok) return -1;
    const uint8_t symbol = s->symbol;
    if (m_orderFall == 0 && s->successor > 0) {
        m_minContext = m_maxContext = s->successor;
    } else if (!update(s)) {
        return -1;
    }
    m_prevSymbol = symbol;
    // A model that ran out of memory fails the next symbol, not this one.
    return symbol;
}

}  // namespace rar
