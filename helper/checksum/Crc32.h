#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 (the ZIP/RAR polynomial): carry-less-multiply folding where the
// processor has it, slice-by-8 otherwise. Checks extracted data, archive
// headers and the decoders' filter programs alike.
class Crc32 {
public:
    Crc32() = default;
    // Continues from the CRC of the bytes before.
    explicit Crc32(std::uint32_t valueSoFar) : state_(~valueSoFar) {}

    void update(const void* data, std::size_t size);
    std::uint32_t value() const { return ~state_; }

    static std::uint32_t of(const void* data, std::size_t size)
    {
        Crc32 crc;
        crc.update(data, size);
        return crc.value();
    }

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};
