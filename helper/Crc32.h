#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 (the ZIP/RAR polynomial), slice-by-8, for checking extracted data
// against the checksum stored in the archive.
class Crc32 {
public:
    void update(const void* data, std::size_t size);
    std::uint32_t value() const { return ~state_; }

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};
