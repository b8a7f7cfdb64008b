#pragma once
// What a RAR 5 file header's compression field says about the data that
// follows: algorithm version, solid continuation, method and dictionary.

#include <cstdint>

namespace rar {

struct Rar5Parameters {
    // 0: the RAR 5.0 algorithm; 1: the later variant with dictionaries past
    // 4 GiB, which needs 80 distance codes instead of 64.
    unsigned algorithm = 0;
    bool solid = false;   // continues the window and tables of the entry before
    unsigned method = 0;  // 0: stored, 1..5: compressed
    uint64_t dictionarySize = 0;

    bool extendedDistances() const { return algorithm == 1; }
    // False for an algorithm version this decoder does not know.
    static bool fromCompressionInfo(uint64_t info, Rar5Parameters &out);
};

}  // namespace rar
