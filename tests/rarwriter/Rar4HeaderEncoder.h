#pragma once

#include "HeaderEncoder.h"

#include <string>

namespace vorlo::rarwriter {

// RAR 4 headers: seven-byte base headers with a 16-bit checksum, DOS times,
// and non-ASCII names in the format's compact UTF-16 encoding.
class Rar4HeaderEncoder final : public HeaderEncoder {
public:
    std::string volumeStart(unsigned volumeIndex, bool multiVolume) const override;
    std::string entryHeader(const ArchiveEntry &entry, const DataPart &part) const override;
    std::string volumeEnd(unsigned volumeIndex, bool multiVolume, bool moreVolumes) const override;
};

} // namespace vorlo::rarwriter
