#include "Rar5Filter.h"

namespace rar {

namespace {

uint32_t load32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void store32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void undoX86(uint8_t *data, uint32_t length, uint64_t entryOffset, bool jumpsToo)
{
    // Addresses were made absolute modulo 16 MiB, counted from the byte after the opcode.
    constexpr uint32_t kSpan = 0x1000000;
    for (uint32_t i = 0; i + 4 < length;) {
        const uint8_t op = data[i++];
        if (op != 0xe8 && !(jumpsToo && op == 0xe9)) continue;
        const uint32_t here = uint32_t((entryOffset + i) % kSpan);
        const uint32_t address = load32(data + i);
        if (address & 0x80000000u) {
            if (((address + here) & 0x80000000u) == 0) store32(data + i, address + kSpan);
        } else if ((address - kSpan) & 0x80000000u) {
            store32(data + i, address - here);
        }
        i += 4;
    }
}

void undoArm(uint8_t *data, uint32_t length, uint64_t entryOffset)
{
    // BL instructions: a 24-bit word offset made absolute.
    for (uint32_t i = 0; i + 3 < length; i += 4) {
        if (data[i + 3] != 0xeb) continue;
        uint32_t offset = uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16;
        offset -= uint32_t((entryOffset + i) / 4);
        data[i] = uint8_t(offset);
        data[i + 1] = uint8_t(offset >> 8);
        data[i + 2] = uint8_t(offset >> 16);
    }
}

}  // namespace

bool Rar5Filter::apply(std::vector<uint8_t> &data, std::vector<uint8_t> &scratch, uint64_t entryOffset) const
{
    switch (type) {
    case Type::Delta: {
        // The stream holds each channel's differences one channel after another.
        scratch.resize(length);
        uint32_t from = 0;
        for (unsigned c = 0; c < channels; ++c) {
            uint8_t previous = 0;
            for (uint32_t to = c; to < length; to += channels) {
                previous = uint8_t(previous - data[from++]);
                scratch[to] = previous;
            }
        }
        data.swap(scratch);
        break;
    }
    case Type::E8:
        undoX86(data.data(), length, entryOffset, false);
        break;
    case Type::E8E9:
        undoX86(data.data(), length, entryOffset, true);
        break;
    case Type::Arm:
        undoArm(data.data(), length, entryOffset);
        break;
    }
    return true;
}

}  // namespace rar
