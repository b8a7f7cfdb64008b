#pragma once
// One of the transforms a RAR 5 stream asks to apply to a stretch of its
// output: byte-wise delta over interleaved channels, or the undoing of x86
// call/jump and ARM branch addresses made absolute by the compressor.

#include <cstdint>
#include <vector>

namespace rar {

struct Rar5Filter {
    enum class Type : uint8_t { Delta = 0, E8 = 1, E8E9 = 2, Arm = 3 };
    static constexpr uint32_t kMaxLength = 0x400000;  // the format's limit for one stretch

    Type type = Type::Delta;
    unsigned channels = 0;  // Delta only, 1..32
    uint64_t start = 0;     // absolute position in the decoder's output
    uint32_t length = 0;

    uint64_t end() const { return start + length; }
    // Transforms data (length bytes) in place. entryOffset is where the
    // stretch starts within its entry: the address filters count from there.
    // Never fails: true, as a decoder's filter queue expects of any filter.
    bool apply(std::vector<uint8_t> &data, std::vector<uint8_t> &scratch, uint64_t entryOffset) const;
};

}  // namespace rar
