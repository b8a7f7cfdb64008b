#include "Utf8.h"

#include "RarWriteError.h"

#include <cstdint>

namespace vorlo::rarwriter {

std::u16string utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
        const std::uint8_t b0 = byte(i);
        const std::size_t len = b0 < 0x80           ? 1
                                : (b0 & 0xE0) == 0xC0 ? 2
                                : (b0 & 0xF0) == 0xE0 ? 3
                                : (b0 & 0xF8) == 0xF0 ? 4
                                                      : 0;
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        bool valid = len > 0 && i + len <= s.size();
        std::uint32_t cp = len == 1 ? b0 : b0 & (0x7F >> len);
        for (std::size_t k = 1; valid && k < len; ++k) {
            valid = (byte(i + k) & 0xC0) == 0x80;
            cp = cp << 6 | (byte(i + k) & 0x3F);
        }
        if (!valid || cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            throw RarWriteError("name is not valid UTF-8: " + std::string(s));
        i += len;
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
