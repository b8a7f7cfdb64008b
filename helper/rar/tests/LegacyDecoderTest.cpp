// The RAR 1.5 and RAR 2.0 decoders on real archives: every compressed entry
// of the old fixtures checked against its stored CRC-32, with the packed data
// fed in pieces down to single bytes; then cut-off and damaged streams, which
// must end in a clean failure, and the solid chain rules.

#include "DecoderTestSupport.h"
#include "Rar15Decoder.h"
#include "Rar20Decoder.h"

#include <memory>

using rar::LegacyDecoder;

namespace {

Decoded decode(LegacyDecoder &decoder, bool solid, const std::vector<uint8_t> &packed, uint64_t unpackedSize,
               size_t feedPiece = 1000)
{
    return drain(decoder, decoder.beginEntry(solid, unpackedSize), packed, feedPiece);
}

bool legacy(const PackedEntry &e)
{
    return !e.entry.isDirectory && !e.entry.stored && e.entry.unpackVersion < 29;
}

std::unique_ptr<LegacyDecoder> decoderFor(const PackedEntry &e)
{
    if (e.entry.unpackVersion < 20) return std::make_unique<rar::Rar15Decoder>();
    return std::make_unique<rar::Rar20Decoder>();
}

// Every compressed entry decodes to its size and stored CRC-32, however the
// packed bytes arrive: in one piece, in kilobytes (split files across their
// volumes), or byte by byte.
void fixturesDecodeByteExact()
{
    int decoded = 0;
    forEachFixture('4', false, [&decoded](const std::string &label, const Opened &o) {
        for (const PackedEntry &e : o.entries) {
            if (!legacy(e) || e.entry.encrypted) continue;
            const std::vector<uint8_t> packed = e.packedData(o.volumes);
            for (size_t piece : {packed.size() + 1, size_t(1000), size_t(1)}) {
                const std::string what = label + " / " + e.entry.name + " in pieces of " + std::to_string(piece);
                const Decoded d = decode(*decoderFor(e), false, packed, e.entry.unpackedSize, piece);
                check(d.status == Status::Finished, what + ": " + d.error);
                check(d.data.size() == e.entry.unpackedSize, what + ": size " + std::to_string(d.data.size()));
                check(verified(e, d.data), what + ": checksum");
            }
            ++decoded;
        }
    });
    check(decoded == 9, "nine old compressed entries decoded, not " + std::to_string(decoded));
}

// Cut streams fail as cut, never as a success or with more than the file;
// flipped bits fail or give exactly the file's size (the checksum judges).
void damagedInputFailsCleanly()
{
    for (const char *name : {"rar/sharpcompress/Rar15.rar", "rar/sharpcompress/Rar2.rar"}) {
        Opened o;
        check(open({name}, o), std::string(name) + " opens");
        const auto it = std::find_if(o.entries.begin(), o.entries.end(), legacy);
        if (it == o.entries.end()) {
            check(false, std::string(name) + ": no compressed entry");
            continue;
        }
        const PackedEntry &e = *it;
        const std::vector<uint8_t> packed = e.packedData(o.volumes);
        cutAndFlipped(name, packed, e.entry.unpackedSize, {0, 1, 3, 100, packed.size() / 2, packed.size() - 40}, 331,
                      [&e](const std::vector<uint8_t> &data) { return decode(*decoderFor(e), false, data, e.entry.unpackedSize); });
    }
}

// A RAR 2.0 LZ table set: every main symbol of mainLength bits but the
// literals (9 bits), distances of 6 bits, length slots of 5; the lengths are
// sent with a level code of four 2-bit symbols (5, 6, 9 and 10).
void putTables(BitWriter &w, unsigned mainLength)
{
    w.put(0, 1);  // LZ
    w.put(0, 1);  // new lengths, not changes to the old ones
    const unsigned levels[4] = {5, 6, 9, 10};
    for (unsigned symbol = 0; symbol < 19; ++symbol) w.put(symbol == 5 || symbol == 6 || symbol == 9 || symbol == 10 ? 2 : 0, 4);
    auto level = [&](unsigned length) {
        for (unsigned i = 0; i < 4; ++i)
            if (levels[i] == length) w.put(i, 2);  // canonical: in symbol order
    };
    for (unsigned i = 0; i < 298; ++i) level(i < 256 ? 9 : mainLength);
    for (unsigned i = 0; i < 48; ++i) level(6);
    for (unsigned i = 0; i < 28; ++i) level(5);
}

// Puts main symbol s of tables made by putTables(w, mainLength).
void putMain(BitWriter &w, unsigned symbol, unsigned mainLength)
{
    if (symbol < 256 || mainLength == 9) w.put(symbol, 9);
    else w.put((256u << 1) + (symbol - 256), 10);
}

// The next file of a solid stream goes on with the window and with the
// tables in force, including tables sent after the last symbol of the file
// before; without its predecessor complete it is refused; a file that is
// not solid starts afresh.
void solidStreamCarriesWindowAndTables()
{
    std::vector<uint8_t> first;
    for (int i = 0; i < 300; ++i) first.push_back(uint8_t("solid streams of old archives "[i % 30] + i / 30));
    BitWriter a;
    putTables(a, 9);
    for (uint8_t b : first) putMain(a, b, 9);
    // Then the switch to tables in which matches have other codes.
    putMain(a, 269, 9);
    putTables(a, 10);
    a.put(0, 16);

    // A match 100 bytes back, into the first file: length slot 8 (+1 bit),
    // distance slot 13 (97 + 5 bits); then two literals.
    BitWriter b;
    putMain(b, 270 + 8, 10);
    b.put(1, 1);
    b.put(13, 6);
    b.put(100 - 97, 5);
    putMain(b, 'x', 10);
    putMain(b, 'y', 10);
    b.put(0, 16);
    std::vector<uint8_t> second(first.end() - 100, first.end() - 100 + 12);
    second.push_back('x');
    second.push_back('y');

    for (size_t piece : {size_t(1), size_t(1000)}) {
        rar::Rar20Decoder decoder;
        const Decoded d1 = decode(decoder, false, a.bytes, first.size(), piece);
        check(d1.status == Status::Finished && d1.data == first, "first file of the stream: " + d1.error);
        const Decoded d2 = decode(decoder, true, b.bytes, second.size(), piece);
        check(d2.status == Status::Finished && d2.data == second,
              "solid file reaching into the one before, with the tables sent after it: " + d2.error);
    }
    rar::Rar20Decoder alone;
    check(!decode(alone, true, b.bytes, second.size()).begun, "solid file alone refused");
    rar::Rar20Decoder cut;
    decode(cut, false, {a.bytes.begin(), a.bytes.begin() + ptrdiff_t(a.bytes.size() / 2)}, first.size());
    check(!decode(cut, true, b.bytes, second.size()).begun, "solid file after a cut one refused");
    const Decoded again = decode(cut, false, a.bytes, first.size());
    check(again.status == Status::Finished && again.data == first, "a file that is not solid after a failed one");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds")
        return writeFuzzSeeds(argv[2], '4', [](const PackedEntry &e) {
            if (!legacy(e) || e.entry.unpackedSize >= 0x1000000) return -1;
            return e.entry.unpackVersion < 20 ? 0 : 1;
        });
    fixturesDecodeByteExact();
    damagedInputFailsCleanly();
    solidStreamCarriesWindowAndTables();
    return testResult();
}
