#pragma once

#include <string>
#include <string_view>

namespace vorlo::rarwriter {

// Whether `bytes` is well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view bytes);
// Converts well-formed UTF-8 to UTF-16 (characters beyond the BMP become
// surrogate pairs). Throws RarWriteError on malformed input.
std::u16string utf8ToUtf16(std::string_view bytes);

} // namespace vorlo::rarwriter
