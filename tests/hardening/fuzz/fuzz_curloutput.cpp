// curl's progress output and error lines.
#include "CurlOutput.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray piece(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto value = CurlOutput::percentage(piece)) {
        if (!std::isfinite(*value) || *value < 0 || *value >= 100)
            __builtin_trap();
    }
    (void)CurlOutput::errorMessage(piece);
    return 0;
}
