#include "Rar5Parameters.h"

namespace rar {

bool Rar5Parameters::fromCompressionInfo(uint64_t info, Rar5Parameters &out)
{
    out.algorithm = unsigned(info & 0x3f);
    out.solid = info & 0x40;
    out.method = unsigned((info >> 7) & 0x07);
    const unsigned power = unsigned((info >> 10) & 0x1f);
    out.dictionarySize = uint64_t(0x20000) << power;
    if (out.algorithm == 1) {
        // The later variant adds 1/32 steps between the powers of two.
        const unsigned fraction = unsigned((info >> 15) & 0x1f);
        out.dictionarySize += (out.dictionarySize / 32) * fraction;
    }
    return out.algorithm <= 1;
}

}  // namespace rar
