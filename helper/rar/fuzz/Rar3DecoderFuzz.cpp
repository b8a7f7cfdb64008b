// libFuzzer target: the RAR 2.9 decoder on arbitrary packed data (see
// DecoderFuzz.h). The first byte: whether the size is known (bit 0), whether
// a second, solid entry follows (bit 1), the dictionary (bits 2 to 4).

#include "DecoderFuzz.h"
#include "Rar3Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DecoderFuzz input;
    if (!input.parse(data, size)) return 0;
    const bool sizeKnown = input.choice & 1;
    const uint64_t dictionary = rar::Rar3Decoder::dictionaryFromFlags(uint32_t(input.choice & 0x1c) << 3);
    rar::Rar3Decoder decoder;
    input.run(decoder, sizeKnown, input.choice & 2,
              [&](bool solid) { return decoder.beginEntry(dictionary, solid, input.unpacked, sizeKnown); });
    return 0;
}
