#pragma once

#include "HeaderEncoder.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlo::rarwriter {

// RAR 4 headers: seven-byte base headers with a 16-bit checksum, DOS times,
// and non-ASCII names in the format's compact UTF-16 encoding.
class Rar4HeaderEncoder final : public HeaderEncoder {
public:
    std::string volumeStart(unsigned volumeIndex, bool multiVolume, bool numberedParts) const override;
    std::string entryHeader(const ArchiveEntry &entry, const DataPart &part) const override;
    std::string volumeEnd(unsigned volumeIndex, bool multiVolume, bool moreVolumes) const override;

    // The name field: plain bytes for an ASCII name; otherwise a byte-only
    // stand-in, a zero byte and the UTF-16 name packed as the format's
    // readers expect.
    static std::string encodeName(std::string_view utf8Name);
    // The MS-DOS date and time of a Unix time, in local time as RAR 4 keeps it.
    static std::uint32_t dosTime(std::int64_t unixTime);
};

} // namespace vorlo::rarwriter
