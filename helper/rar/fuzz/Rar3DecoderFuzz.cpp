// libFuzzer target: the RAR 2.9 decoder on arbitrary packed data. The first
// five bytes choose what a file header would: whether the size is known,
// whether a second (solid) entry follows, the dictionary and the unpacked
// size. The rest is packed data, split between the two entries when there
// are two, and fed in pieces whose size also comes from the input.
// rar3_decoder_tests --fuzz-seeds DIR writes the fixtures' entries in this form.

#include "Rar3Decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void run(rar::Rar3Decoder &decoder, uint64_t dictionary, bool solid, const uint8_t *data, size_t size,
         uint64_t unpacked, bool sizeKnown, size_t piece)
{
    if (!decoder.beginEntry(dictionary, solid, unpacked, sizeKnown)) return;
    static uint8_t out[6007];
    size_t fed = 0;
    uint64_t produced = 0;
    for (;;) {
        produced += decoder.read(out, sizeof out);
        if (sizeKnown && produced > unpacked) __builtin_trap();
        if (produced > (uint64_t(8) << 20)) break;  // without a size, only the caller can bound the output
        const auto status = decoder.status();
        if (status == rar::Rar3Decoder::Status::Ready) continue;
        if (status != rar::Rar3Decoder::Status::NeedInput) break;
        if (fed == size) {
            decoder.finishInput();
            continue;
        }
        const size_t n = std::min(piece, size - fed);
        decoder.feed(data + fed, n);
        fed += n;
    }
    if (decoder.status() == rar::Rar3Decoder::Status::Finished && sizeKnown && produced != unpacked) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5) return 0;
    const bool sizeKnown = data[0] & 1;
    const bool twoEntries = data[0] & 2;
    const uint64_t dictionary = rar::Rar3Decoder::dictionaryFromFlags(uint32_t(data[0] & 0x1c) << 3);
    const uint64_t unpacked = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
    const size_t piece = 1 + size_t(data[4]) * 16;
    data += 5;
    size -= 5;

    rar::Rar3Decoder decoder;
    const size_t first = twoEntries ? size / 2 : size;
    run(decoder, dictionary, false, data, first, unpacked, sizeKnown, piece);
    if (twoEntries) run(decoder, dictionary, true, data + first, size - first, unpacked, sizeKnown, piece);
    return 0;
}
