#pragma once
// The headers of RAR 1.3 and 1.4 archives (signature "RE~^"): a main header
// that begins with the signature, then file headers of their own layout,
// none with a checksum of its own, and a 16-bit sum of each file's data.
// Each header is restated in the RAR 1.5 layout the rest of the layer reads:
// a file made on DOS, unpack version 13 (the RAR 1.5 decoder and the RAR 1.3
// cipher), its name converted from code page 437 to UTF-8.

#include "VolumeSet.h"

#include <cstdint>
#include <vector>

namespace rarcontainer {

class Rar14Layout {
public:
    enum class Result { Ok, Truncated, Damaged };

    // Whether a volume starts with this layout's signature and a main
    // header that fits in it.
    static bool startsVolume(const VolumeSet &volumes, size_t volume);

    // The header at pos of the volume, restated; `end` is where its data
    // (or the next header) starts. A main header starts at the signature.
    static Result readMain(const VolumeSet &volumes, size_t volume, uint64_t pos, std::vector<uint8_t> &header,
                           uint64_t &end);
    static Result readFile(const VolumeSet &volumes, size_t volume, uint64_t pos, std::vector<uint8_t> &header,
                           uint64_t &end);

    // The data checksum: each byte added, then the sum rotated left by one.
    static uint16_t checksum(uint16_t sum, const uint8_t *data, size_t size);
};

}  // namespace rarcontainer
