// libFuzzer target: the RAR 1.5 and RAR 2.0 decoders on arbitrary packed data
// (see DecoderFuzz.h). The first byte: the decoder (bit 0) and whether a
// second, solid entry follows (bit 1); these streams always know their size.

#include "DecoderFuzz.h"
#include "Rar15Decoder.h"
#include "Rar20Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DecoderFuzz input;
    if (!input.parse(data, size)) return 0;
    rar::Rar15Decoder rar15;
    rar::Rar20Decoder rar20;
    rar::LegacyDecoder &decoder = input.choice & 1 ? static_cast<rar::LegacyDecoder &>(rar20) : rar15;
    input.run(decoder, true, input.choice & 2,
              [&](bool solid) { return decoder.beginEntry(solid, input.unpacked); });
    return 0;
}
