// The RAR 5 decoder on real archives (every compressed entry of the fixture
// sets, checked against its stored CRC-32 or BLAKE2sp, solid ones entry after
// entry), on damaged and cut-off data, and on streams written here for what
// the fixtures do not show: a filter over the window's end and a dictionary
// claim far larger than the data.

#include "DecoderTestSupport.h"
#include "Rar5Decoder.h"
#include "SyntheticRar5Stream.h"

using rar::Rar5Decoder;
using rar::Rar5Parameters;

namespace {

Decoded decode(Rar5Decoder &decoder, const Rar5Parameters &params, const std::vector<uint8_t> &packed,
               uint64_t unpackedSize, bool sizeKnown, size_t feedPiece = 1000)
{
    return drain(decoder, decoder.beginEntry(params, unpackedSize, sizeKnown), packed, feedPiece);
}

Rar5Parameters parameters(const PackedEntry &e)
{
    Rar5Parameters p;
    Rar5Parameters::fromCompressionInfo(e.compressionInfo, p);
    return p;
}

bool decodable(const PackedEntry &e)
{
    return !e.entry.isDirectory && !e.entry.encrypted && !e.entry.stored;
}

// Every compressed entry of every valid RAR 5 fixture decodes to its stored
// checksum and size; solid archives go through one decoder entry after entry,
// and a non-solid entry never gets a window larger than its data.
void fixturesDecodeByteExact()
{
    int total = 0;
    forEachFixture('5', false, [&total](const std::string &label, const Opened &o) {
        Rar5Decoder decoder;
        for (const PackedEntry &e : o.entries) {
            if (!decodable(e)) continue;
            const std::string what = label + " / " + e.entry.name;
            const Rar5Parameters params = parameters(e);
            Decoded d = decode(decoder, params, e.packedData(o.volumes), e.entry.unpackedSize, !e.sizeUnknown);
            check(d.status == Status::Finished, what + ": " + d.error);
            check(d.data.size() == e.entry.unpackedSize, what + ": size " + std::to_string(d.data.size()));
            check(verified(e, d.data), what + ": checksum");
            if (!params.solid)
                check(decoder.windowSize() <= std::max<uint64_t>(e.entry.unpackedSize, 1),
                      what + ": window of " + std::to_string(decoder.windowSize()));
            ++total;
        }
    });
    check(total > 40, "compressed entries found in the fixtures: " + std::to_string(total));
}

// A stream cut short or with bits flipped fails (or, for flips, at least
// ends); so does every entry the damaged fixtures let the walker reach.
void damagedInputFailsCleanly()
{
    Opened solid;
    check(open({"rar/sharpcompress/Rar5.solid.rar"}, solid) && !solid.entries.empty(), "open: " + solid.error);
    const auto firstFile = std::find_if(solid.entries.begin(), solid.entries.end(), decodable);
    if (firstFile == solid.entries.end()) return;

    // The first entry of a multi-block fixture.
    const PackedEntry &first = *firstFile;
    const std::vector<uint8_t> packed = first.packedData(solid.volumes);
    cutAndFlipped("first entry", packed, first.entry.unpackedSize,
                  {0, 1, 3, packed.size() / 3, packed.size() / 2, packed.size() - 1}, 7,
                  [&first](const std::vector<uint8_t> &data) {
                      Rar5Decoder decoder;
                      return decode(decoder, parameters(first), data, first.entry.unpackedSize, true);
                  });

    forEachFixture('5', true, [](const std::string &label, const Opened &o) {
        Rar5Decoder decoder;
        for (const PackedEntry &e : o.entries) {
            if (!decodable(e)) continue;
            const Decoded r = decode(decoder, parameters(e), e.packedData(o.volumes), e.entry.unpackedSize, !e.sizeUnknown);
            check(r.status == Status::Failed || r.status == Status::Finished, label + " / " + e.entry.name + " ends");
        }
    });
}

// E8 and delta filters written here as the compressor would, one of them over
// the point where the window wraps: the output is the original data whether
// the window wraps or not.
void filterAcrossWindowEnd()
{
    const size_t window = rar::Rar5Filter::kMaxLength;  // the smallest window a large file gets
    std::vector<uint8_t> original(window + 4096);
    uint32_t seed = 12345;
    for (auto &b : original) {
        seed = seed * 1103515245 + 12345;
        b = uint8_t(seed >> 16);
        if (b == 0xe8 || b == 0xe9) b = 0x90;
    }
    // A call whose address straddles the window end, and a 3-channel delta stretch.
    const size_t call = window - 2;
    const uint32_t relative = 0x00012345;
    original[call] = 0xe8;
    for (int i = 0; i < 4; ++i) original[call + 1 + i] = uint8_t(relative >> (8 * i));
    const size_t deltaStart = 1000, deltaLength = 300;

    std::vector<uint8_t> stream = original;
    const uint32_t absolute = relative + uint32_t(call + 1);
    for (int i = 0; i < 4; ++i) stream[call + 1 + i] = uint8_t(absolute >> (8 * i));
    auto out = stream.begin() + ptrdiff_t(deltaStart);  // each channel's differences in turn
    for (size_t c = 0; c < 3; ++c)
        for (size_t j = c, previous = 0; j < deltaLength; previous = original[deltaStart + j], j += 3)
            *out++ = uint8_t(previous - original[deltaStart + j]);

    SyntheticRar5Stream writer;
    const size_t filterStart = window - 100;
    writer.literals({stream.begin(), stream.begin() + deltaStart});
    writer.filter(0, deltaLength, 0, 3);
    writer.literals({stream.begin() + deltaStart, stream.begin() + filterStart});
    writer.filter(0, 200, 1);
    writer.literals({stream.begin() + filterStart, stream.end()});
    const std::vector<uint8_t> packed = writer.finish();

    for (uint64_t dictionary : {uint64_t(128) << 10, uint64_t(64) << 20}) {
        Rar5Parameters params;
        params.method = 3;
        params.dictionarySize = dictionary;
        Rar5Decoder decoder;
        const Decoded d = decode(decoder, params, packed, original.size(), true, 65536);
        const std::string what = "dictionary " + std::to_string(dictionary);
        check(d.status == Status::Finished, what + ": " + d.error);
        check(d.data == original, what + ": output matches the original");
        check(decoder.windowSize() == (dictionary < window ? window : original.size()), what + ": window size");
    }
}

// A dictionary claim far above the data costs only the data's size; a claim
// above the limit that the data could really need fails with a message.
void dictionaryClaimFarAboveData()
{
    std::vector<uint8_t> original(1000);
    for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(i * 7);
    SyntheticRar5Stream writer(true);
    writer.literals(original);
    const std::vector<uint8_t> packed = writer.finish();

    Rar5Parameters params;
    // The later variant, 1 GiB and a fraction: 128 KiB << 13, plus 5/32.
    check(Rar5Parameters::fromCompressionInfo(1 | (1 << 7) | (13 << 10) | (5 << 15), params), "variant known");
    check(params.extendedDistances() && params.dictionarySize == (uint64_t(1) << 30) + (uint64_t(5) << 25),
          "dictionary size from the header");
    Rar5Decoder decoder;
    const Decoded d = decode(decoder, params, packed, original.size(), true);
    check(d.status == Status::Finished && d.data == original, "1 GiB claim decodes: " + d.error);
    check(decoder.windowSize() == original.size(), "window no larger than the data");

    params.dictionarySize = uint64_t(64) << 30;
    Rar5Decoder unknownSize;
    const Decoded big = decode(unknownSize, params, packed, 0, false);
    check(!big.begun && big.error.find("dictionary") != std::string::npos, "64 GiB claim refused: " + big.error);
    Rar5Decoder knownSize;
    const Decoded small = decode(knownSize, params, packed, original.size(), true);
    check(small.status == Status::Finished && small.data == original, "64 GiB claim over small data");
}

}  // namespace

int main(int argc, char **argv)
{
    // Seeds: each non-solid compressed entry.
    if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds")
        return writeFuzzSeeds(argv[2], '5', [](const PackedEntry &e) {
            const Rar5Parameters params = parameters(e);
            if (!decodable(e) || params.solid) return -1;
            unsigned power = 0;
            while (power < 7 && (uint64_t(0x20000) << power) < params.dictionarySize) ++power;
            const bool sized = !e.sizeUnknown && e.entry.unpackedSize < 0x1000000;
            return int(power << 3) | (sized ? 2 : 0) | int(params.algorithm);
        });
    fixturesDecodeByteExact();
    damagedInputFailsCleanly();
    filterAcrossWindowEnd();
    dictionaryClaimFarAboveData();
    return testResult();
}
