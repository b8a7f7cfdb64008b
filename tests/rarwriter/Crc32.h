#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorlo::rarwriter {

// The CRC-32 of both RAR formats, zlib's own: an implementation apart from
// the helper's, so that the two cannot agree on a wrong checksum. Fed in
// pieces far below 4 GiB each (the writer's copy buffer).
class Crc32 {
public:
    void update(const void *data, std::size_t size)
    {
        value_ = ::crc32(value_, static_cast<const Bytef *>(data), static_cast<uInt>(size));
    }
    std::uint32_t value() const { return static_cast<std::uint32_t>(value_); }
    static std::uint32_t of(std::string_view bytes)
    {
        Crc32 crc;
        crc.update(bytes.data(), bytes.size());
        return crc.value();
    }

private:
    uLong value_ = 0;
};

} // namespace vorlo::rarwriter
