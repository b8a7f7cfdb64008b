#pragma once

#include <cstdint>
#include <string>

namespace vorlo::rarwriter {

// What the archive records about one entry, whatever the container format.
struct ArchiveEntry {
    std::string name;          // UTF-8, "/" between folders, no trailing "/"
    bool directory = false;
    std::uint64_t size = 0;    // bytes of a file's contents; 0 for a folder
    std::int64_t mtime = 0;    // seconds since 1970, UTC
    std::uint32_t mode = 0644; // Unix permission bits
};

// One header's share of an entry's data: a file split over volumes has one
// header per volume that holds a piece of it.
struct DataPart {
    std::uint64_t size = 0;
    // CRC-32 of this piece when more pieces follow, of the whole file in the
    // header of its last piece.
    std::uint32_t crc = 0;
    bool continuedFromPrevious = false;
    bool continuesInNext = false;
};

} // namespace vorlo::rarwriter
