#include "LegacyCipher.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rarcontainer {

namespace {

struct CrcTable {
    uint32_t v[256];
    constexpr CrcTable() : v()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            v[i] = c;
        }
    }
};
constexpr CrcTable kCrc;

uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
uint16_t rotr16(uint16_t x) { return uint16_t((x >> 1) | (x << 15)); }
uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void putLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The RAR 2.0 cipher's initial substitution table, which the password then shuffles.
constexpr uint8_t kInitialTable[256] = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,  232, 1,   177, 233, 14,  88,
    219, 25,  223, 195, 244, 90,  87,  239, 153, 137, 255, 199, 147, 70,  92,  66,  246, 13,  216, 40,  62,  29,
    217, 230, 86,  6,   71,  24,  171, 196, 101, 113, 218, 123, 93,  91,  163, 178, 202, 67,  44,  235, 107, 250,
    75,  234, 49,  167, 125, 211, 83,  114, 157, 144, 32,  193, 143, 36,  158, 124, 247, 187, 89,  214, 141, 47,
    121, 228, 61,  130, 213, 194, 174, 251, 97,  110, 54,  229, 115, 57,  152, 94,  105, 243, 212, 55,  209, 245,
    63,  11,  164, 200, 31,  156, 81,  176, 227, 21,  76,  99,  139, 188, 127, 17,  248, 51,  207, 120, 189, 210,
    8,   226, 41,  72,  183, 203, 135, 165, 166, 60,  98,  7,   122, 38,  155, 170, 69,  172, 252, 238, 39,  134,
    59,  128, 236, 27,  240, 80,  131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201, 133, 74,  64,  20,  129,
    224, 185, 138, 103, 173, 182, 43,  34,  254, 82,  198, 151, 231, 180, 58,  10,  118, 26,  102, 12,  50,  132,
    22,  191, 136, 111, 162, 179, 45,  4,   148, 108, 161, 56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241,
    181, 190, 77,  225, 0,   46,  169, 186, 68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,  116, 184,
    160, 96,  109, 37,  30,  106, 140, 104, 150, 5,   204, 117, 112, 84};

constexpr size_t kMaxPassword20 = 127;

}  // namespace

void LegacyCipher::start(Kind kind, const std::string &password)
{
    m_kind = kind;
    const auto *p = reinterpret_cast<const uint8_t *>(password.data());
    const size_t n = password.size();
    switch (kind) {
    case Kind::Rar13:
        std::memset(m_key13, 0, sizeof m_key13);
        for (size_t i = 0; i < n; ++i) {
            m_key13[0] = uint8_t(m_key13[0] + p[i]);
            m_key13[1] ^= p[i];
            const uint8_t k = uint8_t(m_key13[2] + p[i]);
            m_key13[2] = uint8_t((k << 1) | (k >> 7));
        }
        break;
    case Kind::Rar15: {
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) crc = kCrc.v[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
        m_key15[0] = uint16_t(crc);
        m_key15[1] = uint16_t(crc >> 16);
        m_key15[2] = m_key15[3] = 0;
        for (size_t i = 0; i < n; ++i) {
            m_key15[2] ^= uint16_t(p[i] ^ kCrc.v[p[i]]);
            m_key15[3] = uint16_t(m_key15[3] + p[i] + (kCrc.v[p[i]] >> 16));
        }
        break;
    }
    case Kind::Rar20: {
        uint8_t buffer[kMaxPassword20 + 1 + 16] = {};
        const size_t length = std::min(n, kMaxPassword20);
        std::memcpy(buffer, p, length);
        m_key20[0] = 0xD3A3B879u;
        m_key20[1] = 0x3F6D12F7u;
        m_key20[2] = 0x7515A235u;
        m_key20[3] = 0xA4E7F123u;
        std::memcpy(m_table20, kInitialTable, sizeof m_table20);
        for (unsigned j = 0; j < 256; ++j) {
            for (size_t i = 0; i < length; i += 2) {
                unsigned n1 = kCrc.v[(buffer[i] - j) & 0xff] & 0xff;
                const unsigned n2 = kCrc.v[(buffer[i + 1] + j) & 0xff] & 0xff;
                for (unsigned k = 1; n1 != n2; n1 = (n1 + 1) & 0xff, ++k)
                    std::swap(m_table20[n1], m_table20[(n1 + i + k) & 0xff]);
            }
        }
        for (size_t i = 0; i < length; i += 16) encryptBlock20(buffer + i);
        break;
    }
    }
}

void LegacyCipher::decrypt(const uint8_t *in, uint8_t *out, size_t size)
{
    switch (m_kind) {
    case Kind::Rar13:
        for (size_t i = 0; i < size; ++i) {
            m_key13[1] = uint8_t(m_key13[1] + m_key13[2]);
            m_key13[0] = uint8_t(m_key13[0] + m_key13[1]);
            out[i] = uint8_t(in[i] - m_key13[0]);
        }
        break;
    case Kind::Rar15:
        for (size_t i = 0; i < size; ++i) {
            m_key15[0] = uint16_t(m_key15[0] + 0x1234);
            const uint32_t t = kCrc.v[(m_key15[0] >> 1) & 0xff];
            m_key15[1] ^= uint16_t(t);
            m_key15[2] = uint16_t(m_key15[2] - (t >> 16));
            m_key15[0] ^= m_key15[2];
            m_key15[3] = rotr16(uint16_t(rotr16(m_key15[3]) ^ m_key15[1]));
            m_key15[0] ^= m_key15[3];
            out[i] = uint8_t(in[i] ^ (m_key15[0] >> 8));
        }
        break;
    case Kind::Rar20:
        for (size_t i = 0; i + 16 <= size; i += 16) decryptBlock20(in + i, out + i);
        break;
    }
}

void LegacyCipher::encrypt(uint8_t *data, size_t size)
{
    switch (m_kind) {
    case Kind::Rar13:
        for (size_t i = 0; i < size; ++i) {
            m_key13[1] = uint8_t(m_key13[1] + m_key13[2]);
            m_key13[0] = uint8_t(m_key13[0] + m_key13[1]);
            data[i] = uint8_t(data[i] + m_key13[0]);
        }
        break;
    case Kind::Rar15:
        decrypt(data, data, size);  // a keystream: the same both ways
        break;
    case Kind::Rar20:
        for (size_t i = 0; i + 16 <= size; i += 16) encryptBlock20(data + i);
        break;
    }
}

uint32_t LegacyCipher::substitute(uint32_t t) const
{
    return uint32_t(m_table20[t & 0xff]) | uint32_t(m_table20[(t >> 8) & 0xff]) << 8 |
           uint32_t(m_table20[(t >> 16) & 0xff]) << 16 | uint32_t(m_table20[t >> 24]) << 24;
}

// 32 rounds over four words; decryption runs the rounds backwards. Each
// block's ciphertext then changes the key for the next.
void LegacyCipher::rounds20(const uint8_t in[16], uint8_t out[16], bool backwards) const
{
    uint32_t a = le32(in) ^ m_key20[0], b = le32(in + 4) ^ m_key20[1];
    uint32_t c = le32(in + 8) ^ m_key20[2], d = le32(in + 12) ^ m_key20[3];
    for (int step = 0; step < 32; ++step) {
        const int i = backwards ? 31 - step : step;
        const uint32_t ta = a ^ substitute((c + rotl(d, 11)) ^ m_key20[i & 3]);
        const uint32_t tb = b ^ substitute((d ^ rotl(c, 17)) + m_key20[i & 3]);
        a = c;
        b = d;
        c = ta;
        d = tb;
    }
    putLe32(out, c ^ m_key20[0]);
    putLe32(out + 4, d ^ m_key20[1]);
    putLe32(out + 8, a ^ m_key20[2]);
    putLe32(out + 12, b ^ m_key20[3]);
}

void LegacyCipher::encryptBlock20(uint8_t block[16])
{
    rounds20(block, block, false);
    updateKey20(block);
}

void LegacyCipher::decryptBlock20(const uint8_t in[16], uint8_t out[16])
{
    uint8_t cipher[16];
    std::memcpy(cipher, in, 16);
    rounds20(cipher, out, true);
    updateKey20(cipher);
}

void LegacyCipher::updateKey20(const uint8_t block[16])
{
    for (int i = 0; i < 16; i += 4)
        for (int k = 0; k < 4; ++k) m_key20[k] ^= kCrc.v[block[i + k]];
}

}  // namespace rarcontainer
