// libFuzzer target: the RAR 5 decoder on arbitrary packed data (see
// DecoderFuzz.h). The first byte: the algorithm variant (bit 0), whether the
// size is known (bit 1), whether a second, solid entry follows (bit 2), the
// dictionary (bits 3 to 5, kept at most 16 MiB so that runs stay fast).

#include "DecoderFuzz.h"
#include "Rar5Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DecoderFuzz input;
    if (!input.parse(data, size)) return 0;
    rar::Rar5Parameters params;
    params.algorithm = input.choice & 1;
    params.method = 3;
    params.dictionarySize = uint64_t(0x20000) << ((input.choice >> 3) % 8);
    const bool sizeKnown = input.choice & 2;
    rar::Rar5Decoder decoder;
    input.run(decoder, sizeKnown, input.choice & 4, [&](bool solid) {
        params.solid = solid;
        return decoder.beginEntry(params, input.unpacked, sizeKnown);
    });
    return 0;
}
