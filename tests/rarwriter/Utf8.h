#pragma once

#include <string>
#include <string_view>

namespace vorlo::rarwriter {

// Converts well-formed UTF-8 to UTF-16 (characters beyond the BMP become
// surrogate pairs). Throws RarWriteError on malformed input: overlongs,
// surrogates, truncated sequences.
std::u16string utf8ToUtf16(std::string_view bytes);

} // namespace vorlo::rarwriter
