#pragma once
// The parts of a file header that say how an entry is written to disk: its
// Unix mode (from the attributes of the system that made the archive), its
// times and, for links, where they point.

#include "RarTypes.h"

#include <cstdint>
#include <vector>

namespace rarcontainer {

// A DOS date and time (a local time) in seconds since 1970, 0 when it
// cannot be one.
int64_t dosTimeToUnix(uint32_t dos);

// header: the whole RAR 4 file header in clear; flags: its HEAD_FLAGS.
void readRar4Attributes(const std::vector<uint8_t> &header, uint32_t flags, Entry &entry);
// header: the whole RAR 5 file or service header in clear.
void readRar5Attributes(const std::vector<uint8_t> &header, Entry &entry);

}  // namespace rarcontainer
