#include "Rar3Filter.h"

#include "Crc32.h"

#include <cstdlib>

namespace rar {

namespace {

struct Signature {
    uint32_t length;
    uint32_t crc;
    Rar3Filter::Type type;
};

constexpr Signature kStandardPrograms[] = {
    {53, 0xad576887, Rar3Filter::Type::E8},       {57, 0x3cd7e57e, Rar3Filter::Type::E8E9},
    {120, 0x3769893f, Rar3Filter::Type::Itanium}, {29, 0x0e06077d, Rar3Filter::Type::Delta},
    {149, 0x1c2c5dc8, Rar3Filter::Type::Rgb},     {216, 0xbc85e701, Rar3Filter::Type::Audio},
};

// Addresses are made absolute within a 16 MiB span of the file.
constexpr int32_t kAddressSpan = 0x1000000;

uint32_t le32(const uint8_t *p) { return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void putLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void undoCalls(std::vector<uint8_t> &data, bool jumpsToo, uint64_t entryOffset)
{
    const size_t n = data.size();
    for (size_t i = 0; i + 4 < n;) {
        const uint8_t op = data[i++];
        if (op != 0xe8 && !(jumpsToo && op == 0xe9)) continue;
        const int32_t at = int32_t(uint32_t(entryOffset + i));
        const int32_t address = int32_t(le32(&data[i]));
        if (address < 0) {
            if (int32_t(uint32_t(address) + uint32_t(at)) >= 0) putLe32(&data[i], uint32_t(address + kAddressSpan));
        } else if (address < kAddressSpan) {
            putLe32(&data[i], uint32_t(address) - uint32_t(at));
        }
        i += 4;
    }
}

// Itanium bundles: 16 bytes, a 5-bit template saying which of the three
// 41-bit slots hold branches whose 20-bit target was made absolute.
void undoItaniumBranches(std::vector<uint8_t> &data, uint64_t entryOffset)
{
    static constexpr uint8_t kBranchSlots[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
    const auto field = [](const uint8_t *b, unsigned bit, unsigned count) {
        return (le32(b + bit / 8) >> (bit & 7)) & (0xffffffffu >> (32 - count));
    };
    uint32_t bundle = uint32_t(entryOffset) >> 4;
    for (size_t pos = 0; data.size() - pos > 21; pos += 16, ++bundle) {
        uint8_t *b = &data[pos];
        const int kind = int(b[0] & 0x1f) - 0x10;
        if (kind < 0) continue;
        const unsigned slots = kBranchSlots[kind];
        for (unsigned slot = 0; slot < 3; ++slot) {
            if (!(slots & (1u << slot))) continue;
            const unsigned bit = slot * 41 + 18;
            if (field(b, bit + 24, 4) != 5) continue;
            const uint32_t target = (field(b, bit, 20) - bundle) & 0xfffff;
            const uint32_t mask = 0xfffffu << (bit & 7);
            const uint32_t word = le32(b + bit / 8);
            putLe32(b + bit / 8, (word & ~mask) | (target << (bit & 7)));
        }
    }
}

}  // namespace

std::optional<Rar3Filter::Type> Rar3Filter::recognise(const uint8_t *code, size_t size)
{
    const uint32_t crc = Crc32::of(code, size);
    for (const Signature &s : kStandardPrograms)
        if (s.length == size && s.crc == crc) return s.type;
    return std::nullopt;
}

bool Rar3Filter::apply(std::vector<uint8_t> &data, std::vector<uint8_t> &scratch, uint64_t entryOffset) const
{
    const size_t n = data.size();
    switch (type) {
    case Type::E8:
    case Type::E8E9:
        undoCalls(data, type == Type::E8E9, entryOffset);
        return true;
    case Type::Itanium:
        undoItaniumBranches(data, entryOffset);
        return true;
    case Type::Delta: {
        // Bytes arrive channel after channel, each as differences.
        const uint32_t channels = registers[0];
        if (channels == 0 || channels > 1024 || n > kMaxLength / 2) return false;
        scratch.resize(n);
        size_t in = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            uint8_t previous = 0;
            for (size_t i = c; i < n; i += channels) scratch[i] = previous = uint8_t(previous - data[in++]);
        }
        data.swap(scratch);
        return true;
    }
    case Type::Rgb: {
        // Each of three planes predicted from its left, upper and upper-left
        // neighbours (the Paeth predictor), then red and blue stored as
        // differences from green.
        if (registers[0] < 3 || registers[1] > 2 || n < 3 || n > kMaxLength / 2 || registers[0] - 3 > n) return false;
        const long width = long(registers[0] - 3);
        scratch.resize(n);
        size_t in = 0;
        for (size_t c = 0; c < 3; ++c) {
            int previous = 0;
            for (size_t i = c; i < n; i += 3) {
                int predicted = previous;
                const long upper = long(i) - width;
                if (upper >= 3) {
                    const int up = scratch[size_t(upper)], upLeft = scratch[size_t(upper) - 3];
                    predicted = previous + up - upLeft;
                    const int pa = std::abs(predicted - previous), pb = std::abs(predicted - up),
                              pc = std::abs(predicted - upLeft);
                    predicted = pa <= pb && pa <= pc ? previous : pb <= pc ? up : upLeft;
                }
                previous = (predicted - data[in++]) & 0xff;
                scratch[i] = uint8_t(previous);
            }
        }
        for (size_t i = registers[1]; i + 2 < n; i += 3) {
            scratch[i] = uint8_t(scratch[i] + scratch[i + 1]);
            scratch[i + 2] = uint8_t(scratch[i + 2] + scratch[i + 1]);
        }
        data.swap(scratch);
        return true;
    }
    case Type::Audio: {
        // Per channel, an adaptive linear predictor whose three weights move
        // every 32 samples towards whichever change would have erred least.
        const uint32_t channels = registers[0];
        if (channels == 0 || channels > 128 || n > kMaxLength / 2) return false;
        scratch.resize(n);
        size_t in = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            int previous = 0, count = 0;
            int error[7] = {}, delta[3] = {}, weight[3] = {};
            for (size_t i = c; i < n; i += channels, ++count) {
                int predicted = previous * 8 + weight[0] * delta[0] + weight[1] * delta[1] + weight[2] * delta[2];
                predicted = int8_t(uint8_t(predicted >> 3));
                const int sample = int8_t(data[in++]);
                predicted -= sample;
                scratch[i] = uint8_t(predicted);
                const int d = sample * 8;
                error[0] += std::abs(d);
                error[1] += std::abs(d - delta[0]);
                error[2] += std::abs(d + delta[0]);
                error[3] += std::abs(d - delta[1]);
                error[4] += std::abs(d + delta[1]);
                error[5] += std::abs(d - delta[2]);
                error[6] += std::abs(d + delta[2]);
                const int change = int8_t(uint8_t(predicted - previous));
                previous = predicted;
                delta[2] = delta[1];
                delta[1] = change - delta[0];
                delta[0] = change;
                if ((count & 0x1f) == 0) {
                    int best = 0, least = error[0];
                    error[0] = 0;
                    for (int j = 1; j < 7; ++j) {
                        if (error[j] < least) {
                            least = error[j];
                            best = j;
                        }
                        error[j] = 0;
                    }
                    if (best > 0) {
                        int &w = weight[(best - 1) / 2];
                        if ((best - 1) % 2 == 0) {
                            if (w >= -16) --w;
                        } else if (w < 16) {
                            ++w;
                        }
                    }
                }
            }
        }
        data.swap(scratch);
        return true;
    }
    }
    return false;
}

}  // namespace rar
