// libFuzzer target: the RAR 1.5 and RAR 2.0 decoders on arbitrary packed
// data. The first five bytes choose what a file header would: the decoder
// (bit 0) and whether a second, solid entry follows (bit 1), the unpacked
// size, and the size of the pieces the data is fed in. The rest is packed
// data, split between the two entries when there are two.
// legacy_decoder_tests --fuzz-seeds DIR writes the fixtures' entries in this form.

#include "Rar15Decoder.h"
#include "Rar20Decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void run(rar::LegacyDecoder &decoder, bool solid, const uint8_t *data, size_t size, uint64_t unpacked, size_t piece)
{
    if (!decoder.beginEntry(solid, unpacked)) return;
    static uint8_t out[6007];
    size_t fed = 0;
    uint64_t produced = 0;
    for (;;) {
        produced += decoder.read(out, sizeof out);
        if (produced > unpacked) __builtin_trap();
        const auto status = decoder.status();
        if (status == rar::LegacyDecoder::Status::Ready) continue;
        if (status != rar::LegacyDecoder::Status::NeedInput) break;
        if (fed == size) {
            decoder.finishInput();
            continue;
        }
        const size_t n = std::min(piece, size - fed);
        decoder.feed(data + fed, n);
        fed += n;
    }
    if (decoder.status() == rar::LegacyDecoder::Status::Finished && produced != unpacked) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5) return 0;
    const bool rar20 = data[0] & 1;
    const bool twoEntries = data[0] & 2;
    const uint64_t unpacked = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
    const size_t piece = 1 + size_t(data[4]) * 16;
    data += 5;
    size -= 5;

    rar::Rar15Decoder rar15;
    rar::Rar20Decoder rar20decoder;
    rar::LegacyDecoder &decoder = rar20 ? static_cast<rar::LegacyDecoder &>(rar20decoder) : rar15;
    const size_t first = twoEntries ? size / 2 : size;
    run(decoder, false, data, first, unpacked, piece);
    if (twoEntries) run(decoder, true, data + first, size - first, unpacked, piece);
    return 0;
}
