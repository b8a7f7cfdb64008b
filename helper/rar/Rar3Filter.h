#pragma once
// One of the transforms a RAR 2.9 stream asks to apply to a stretch of its
// output. The stream carries them as programs for a small virtual machine;
// the archivers only ever emit six standard ones, which are recognised by the
// CRC-32 and length of their code and carried out natively here. Any other
// program is refused: running or guessing it could only give wrong output.

#include <cstdint>
#include <optional>
#include <vector>

namespace rar {

struct Rar3Filter {
    enum class Type : uint8_t { E8, E8E9, Itanium, Delta, Rgb, Audio };
    // The machine's memory below its global area: no stretch is longer.
    static constexpr uint32_t kMaxLength = 0x3c000;

    Type type = Type::E8;
    uint32_t registers[2] = {};  // channels, width, position of red: what the program reads
    uint64_t start = 0;          // absolute position in the decoder's output
    uint32_t length = 0;

    uint64_t end() const { return start + length; }
    // The filter a program's code stands for; nullopt for any other program.
    static std::optional<Type> recognise(const uint8_t *code, size_t size);
    // Transforms data (length bytes) in place. entryOffset is where the
    // stretch starts within its entry, which the address filters count from.
    // False when the parameters are out of the range the program accepts.
    bool apply(std::vector<uint8_t> &data, std::vector<uint8_t> &scratch, uint64_t entryOffset) const;
};

}  // namespace rar
