#pragma once

#include "ArchiveEntry.h"

#include <memory>
#include <string>

namespace vorlo::rarwriter {

enum class RarFormat { Rar4, Rar5 };

// Turns archive structure into the header bytes of one container format.
// The writer decides what goes where (volumes, splits); an encoder only
// knows how each header is laid out.
class HeaderEncoder {
public:
    virtual ~HeaderEncoder() = default;

    // The marker and main header that open volume `volumeIndex` (0 = first).
    virtual std::string volumeStart(unsigned volumeIndex, bool multiVolume) const = 0;
    // A file or folder header; its length never depends on part.crc, so a
    // header written with a placeholder checksum can be patched in place.
    virtual std::string entryHeader(const ArchiveEntry &entry, const DataPart &part) const = 0;
    // The end-of-archive header closing volume `volumeIndex`.
    virtual std::string volumeEnd(unsigned volumeIndex, bool multiVolume, bool moreVolumes) const = 0;

    static std::unique_ptr<HeaderEncoder> create(RarFormat format);
};

} // namespace vorlo::rarwriter
