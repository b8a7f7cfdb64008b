#include "SyntheticRar5Stream.h"

void SyntheticRar5Stream::put(uint32_t value, unsigned count)
{
    for (unsigned i = count; i-- > 0;) {
        if ((m_bits & 7) == 0) m_bytes.push_back(0);
        if ((value >> i) & 1) m_bytes.back() |= uint8_t(0x80 >> (m_bits & 7));
        ++m_bits;
    }
}

void SyntheticRar5Stream::number(uint32_t value)
{
    const unsigned bytes = value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
    put(bytes - 1, 2);
    for (unsigned i = 0; i < bytes; ++i) put((value >> (8 * i)) & 0xff, 8);
}

void SyntheticRar5Stream::tables()
{
    if (m_bits != 0) return;
    // Level code: lengths 0 and 9 get one bit each; then 257 nines and zeros.
    for (unsigned i = 0; i < 20; ++i) put(i == 0 || i == 9 ? 1 : 0, 4);
    const unsigned total = 306 + (m_extended ? 80 : 64) + 16 + 44;
    for (unsigned i = 0; i < total; ++i) put(i <= 256 ? 1 : 0, 1);
}

void SyntheticRar5Stream::literals(const std::vector<uint8_t> &bytes)
{
    tables();
    for (uint8_t b : bytes) put(b, 9);
}

void SyntheticRar5Stream::filter(uint32_t offset, uint32_t length, unsigned type, unsigned channels)
{
    tables();
    put(256, 9);
    number(offset);
    number(length);
    put(type, 3);
    if (type == 0) put(channels - 1, 5);
}

std::vector<uint8_t> SyntheticRar5Stream::finish()
{
    const uint64_t size = m_bytes.size();
    const unsigned sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
    const unsigned lastBits = m_bits % 8 == 0 ? 8 : unsigned(m_bits % 8);
    const uint8_t flags = uint8_t(0x80 | 0x40 | ((sizeBytes - 1) << 3) | (lastBits - 1));
    std::vector<uint8_t> out{flags, 0};
    uint8_t check = 0x5a ^ flags;
    for (unsigned i = 0; i < sizeBytes; ++i) {
        out.push_back(uint8_t(size >> (8 * i)));
        check ^= out.back();
    }
    out[1] = check;
    out.insert(out.end(), m_bytes.begin(), m_bytes.end());
    return out;
}
