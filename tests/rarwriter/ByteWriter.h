#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlo::rarwriter {

// Little-endian field packing shared by both header encoders.
class ByteWriter {
public:
    void u8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
    void u16(std::uint16_t v) { u8(v & 0xFF); u8(v >> 8); }
    void u32(std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
    // The variable-length integer of the RAR 5 headers: seven bits a byte,
    // low bits first, the top bit set on every byte but the last.
    // `width` pads the number with continuation bytes to that many bytes,
    // so that a smaller value can later be written in the same place.
    void vint(std::uint64_t v, std::size_t width = 1)
    {
        while (v >= 0x80 || width > 1) {
            u8(static_cast<std::uint8_t>((v & 0x7F) | 0x80));
            v >>= 7;
            if (width > 1)
                --width;
        }
        u8(static_cast<std::uint8_t>(v));
    }
    void bytes(std::string_view b) { bytes_.append(b); }

    std::size_t size() const { return bytes_.size(); }
    const std::string &str() const { return bytes_; }

private:
    std::string bytes_;
};

} // namespace vorlo::rarwriter
