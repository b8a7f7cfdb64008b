#include "Utf8.h"

#include "RarWriteError.h"

#include <cstdint>

namespace vorlo::rarwriter {

namespace {

// Decodes the character at `i`, advancing `i`; returns -1 when malformed.
long decodeOne(std::string_view s, std::size_t &i)
{
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    std::size_t len;
    std::uint32_t cp, min;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2; cp = b0 & 0x1F; min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3; cp = b0 & 0x0F; min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4; cp = b0 & 0x07; min = 0x10000;
    } else {
        return -1;
    }
    if (i + len > s.size())
        return -1;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return -1;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return -1;
    i += len;
    return static_cast<long>(cp);
}

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();)
        if (decodeOne(bytes, i) < 0)
            return false;
    return true;
}

std::u16string utf8ToUtf16(std::string_view bytes)
{
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const long cp = decodeOne(bytes, i);
        if (cp < 0)
            throw RarWriteError("name is not valid UTF-8: " + std::string(bytes));
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

} // namespace vorlo::rarwriter
