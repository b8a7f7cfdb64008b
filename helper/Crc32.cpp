#include "Crc32.h"

#include <array>
#include <cstring>

namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

Tables makeTables()
{
    Tables tables {};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        tables[0][i] = crc;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (std::size_t t = 1; t < 8; ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    return tables;
}

const Tables& tables()
{
    static const Tables instance = makeTables();
    return instance;
}

} // namespace

void Crc32::update(const void* data, std::size_t size)
{
    const Tables& t = tables();
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t crc = state_;
    while (size >= 8) {
        std::uint32_t low;
        std::uint32_t high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;  // little-endian hosts only, as every Linux target of Vorlo
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24]
            ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        p += 8;
        size -= 8;
    }
    while (size--)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    state_ = crc;
}
