#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorlo::rarwriter {

// The CRC-32 used by zip, gzip and both RAR container formats
// (reflected polynomial 0xEDB88320). Fed in pieces, so that a file can be
// checksummed while it streams through the writer.
class Crc32 {
public:
    void update(const void *data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    std::uint32_t value() const { return ~state_; }

    static std::uint32_t of(const void *data, std::size_t size);
    static std::uint32_t of(std::string_view bytes) { return of(bytes.data(), bytes.size()); }

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};

} // namespace vorlo::rarwriter
