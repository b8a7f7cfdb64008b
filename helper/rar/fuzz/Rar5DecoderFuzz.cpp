// libFuzzer target: the RAR 5 decoder on arbitrary packed data. The first
// five bytes choose what a file header would: algorithm variant, whether the
// size is known, whether a second (solid) entry follows, the dictionary (kept
// at most 16 MiB so that runs stay fast) and the unpacked size. The rest is
// packed data, split between the two entries when there are two, and fed in
// pieces whose size also comes from the input.
// rar_decoder_tests --fuzz-seeds DIR writes the fixtures' entries in this form.

#include "Rar5Decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void run(rar::Rar5Decoder &decoder, const rar::Rar5Parameters &params, const uint8_t *data, size_t size,
         uint64_t unpacked, bool sizeKnown, size_t piece)
{
    if (!decoder.beginEntry(params, unpacked, sizeKnown)) return;
    static uint8_t out[6007];
    size_t fed = 0;
    uint64_t produced = 0;
    for (;;) {
        produced += decoder.read(out, sizeof out);
        if (sizeKnown && produced > unpacked) __builtin_trap();
        if (produced > (uint64_t(8) << 20)) break;  // without a size, only the caller can bound the output
        const auto status = decoder.status();
        if (status == rar::Rar5Decoder::Status::Ready) continue;
        if (status != rar::Rar5Decoder::Status::NeedInput) break;
        if (fed == size) {
            decoder.finishInput();
            continue;
        }
        const size_t n = std::min(piece, size - fed);
        decoder.feed(data + fed, n);
        fed += n;
    }
    if (decoder.status() == rar::Rar5Decoder::Status::Finished && sizeKnown && produced != unpacked) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5) return 0;
    rar::Rar5Parameters params;
    params.algorithm = data[0] & 1;
    params.method = 3;
    params.dictionarySize = uint64_t(0x20000) << ((data[0] >> 3) % 8);
    const bool sizeKnown = data[0] & 2;
    const bool twoEntries = data[0] & 4;
    const uint64_t unpacked = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
    const size_t piece = 1 + size_t(data[4]) * 16;
    data += 5;
    size -= 5;

    rar::Rar5Decoder decoder;
    const size_t first = twoEntries ? size / 2 : size;
    run(decoder, params, data, first, unpacked, sizeKnown, piece);
    if (twoEntries) {
        params.solid = true;
        run(decoder, params, data + first, size - first, unpacked, sizeKnown, piece);
    }
    return 0;
}
