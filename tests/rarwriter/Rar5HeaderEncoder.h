#pragma once

#include "HeaderEncoder.h"

namespace vorlo::rarwriter {

// RAR 5 headers: a CRC-32, a size and variable-length fields, names in UTF-8.
class Rar5HeaderEncoder final : public HeaderEncoder {
public:
    std::string volumeStart(unsigned volumeIndex, bool multiVolume) const override;
    std::string entryHeader(const ArchiveEntry &entry, const DataPart &part) const override;
    std::string volumeEnd(unsigned volumeIndex, bool multiVolume, bool moreVolumes) const override;
};

} // namespace vorlo::rarwriter
