// The RAR 1.5 and RAR 2.0 decoders on real archives: every compressed entry
// of the old fixtures checked against its stored CRC-32, with the packed data
// fed in pieces down to single bytes; then cut-off and damaged streams, which
// must end in a clean failure, and the solid chain rules.

#include "EntryVerifier.h"
#include "PackedEntries.h"
#include "Rar15Decoder.h"
#include "Rar20Decoder.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using rar::LegacyDecoder;

namespace {

int failures = 0;

void check(bool condition, const std::string &what)
{
    if (!condition) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

const std::string kFixtures = VORLO_FIXTURES_DIR;

struct Decoded {
    bool begun = false;
    LegacyDecoder::Status status = LegacyDecoder::Status::Failed;
    std::string error;
    std::vector<uint8_t> data;
};

Decoded decode(LegacyDecoder &decoder, bool solid, const std::vector<uint8_t> &packed, uint64_t unpackedSize,
               size_t feedPiece = 1000)
{
    Decoded out;
    out.begun = decoder.beginEntry(solid, unpackedSize);
    size_t fed = 0;
    uint8_t buffer[4093];
    for (int rounds = 0; out.begun && rounds < 10000000; ++rounds) {
        const size_t n = decoder.read(buffer, sizeof buffer);
        out.data.insert(out.data.end(), buffer, buffer + n);
        if (decoder.status() != LegacyDecoder::Status::NeedInput) {
            if (decoder.status() == LegacyDecoder::Status::Ready) continue;
            break;
        }
        if (fed == packed.size()) {
            decoder.finishInput();
            continue;
        }
        const size_t piece = std::min(feedPiece, packed.size() - fed);
        decoder.feed(packed.data() + fed, piece);
        fed += piece;
    }
    out.status = decoder.status();
    out.error = decoder.error();
    return out;
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

const std::vector<std::vector<std::string>> &archives()
{
    static const std::vector<std::vector<std::string>> list = {
        {"sharpcompress/Rar15.rar"},
        {"sharpcompress/Rar2.rar"},
        {"sharpcompress/Rar2.multi.rar", "sharpcompress/Rar2.multi.r00", "sharpcompress/Rar2.multi.r01",
         "sharpcompress/Rar2.multi.r02", "sharpcompress/Rar2.multi.r03", "sharpcompress/Rar2.multi.r04",
         "sharpcompress/Rar2.multi.r05"},
    };
    return list;
}

struct Opened {
    rarcontainer::VolumeSet volumes;
    std::vector<PackedEntry> entries;
    std::string error;
    bool walked = false;
};

bool open(const std::vector<std::string> &parts, Opened &o)
{
    std::vector<std::string> paths;
    for (const auto &p : parts) paths.push_back(kFixtures + "/rar/" + p);
    if (!o.volumes.open(paths, &o.error)) return false;
    o.walked = packedEntries(o.volumes, o.entries, o.error);
    return true;
}

bool verified(const PackedEntry &e, const std::vector<uint8_t> &data)
{
    rarcontainer::EntryVerifier verifier(e.entry);
    verifier.update(data.data(), data.size());
    return verifier.finish(e.entry) == rarcontainer::EntryVerifier::Verdict::Match;
}

// Every compressed entry decodes to its size and stored CRC-32, however the
// packed bytes arrive: in one piece, in kilobytes (split files across their
// volumes), or byte by byte.
void fixturesDecodeByteExact()
{
    int decoded = 0;
    for (const auto &parts : archives()) {
        Opened o;
        if (!open(parts, o)) {
            check(false, parts.front() + ": cannot open: " + o.error);
            continue;
        }
        check(o.walked, parts.front() + ": walk: " + o.error);
        for (const PackedEntry &e : o.entries) {
            if (!legacy(e)) continue;
            const std::vector<uint8_t> packed = e.packedData(o.volumes);
            for (size_t piece : {packed.size() + 1, size_t(1000), size_t(1)}) {
                const std::string what = parts.front() + " / " + e.entry.name + " in pieces of " + std::to_string(piece);
                auto decoder = decoderFor(e);
                const Decoded d = decode(*decoder, false, packed, e.entry.unpackedSize, piece);
                check(d.status == LegacyDecoder::Status::Finished, what + ": " + d.error);
                check(d.data.size() == e.entry.unpackedSize, what + ": size " + std::to_string(d.data.size()));
                check(verified(e, d.data), what + ": checksum");
            }
            ++decoded;
        }
    }
    check(decoded == 9, "nine old compressed entries decoded, not " + std::to_string(decoded));
}

// Cut streams fail as cut, never as a success or with more than the file;
// flipped bits fail or give exactly the file's size (the checksum judges).
void damagedInputFailsCleanly()
{
    for (const char *name : {"sharpcompress/Rar15.rar", "sharpcompress/Rar2.rar"}) {
        Opened o;
        check(open({name}, o), std::string(name) + " opens");
        const auto it = std::find_if(o.entries.begin(), o.entries.end(), legacy);
        if (it == o.entries.end()) {
            check(false, std::string(name) + ": no compressed entry");
            continue;
        }
        const PackedEntry &e = *it;
        const std::vector<uint8_t> packed = e.packedData(o.volumes);
        for (size_t cut : {size_t(0), size_t(1), size_t(3), size_t(100), packed.size() / 2, packed.size() - 40}) {
            auto decoder = decoderFor(e);
            const Decoded d = decode(*decoder, false, {packed.begin(), packed.begin() + ptrdiff_t(cut)},
                                     e.entry.unpackedSize);
            check(d.status == LegacyDecoder::Status::Failed && d.error.find("ends early") != std::string::npos,
                  std::string(name) + " cut at " + std::to_string(cut) + ": " + d.error);
            check(d.data.size() < e.entry.unpackedSize, "cut stream gives less than the file");
        }
        for (size_t bit = 0; bit < packed.size() * 8; bit += 331) {
            std::vector<uint8_t> flipped = packed;
            flipped[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
            auto decoder = decoderFor(e);
            const Decoded d = decode(*decoder, false, flipped, e.entry.unpackedSize);
            check(d.status == LegacyDecoder::Status::Failed ||
                      (d.status == LegacyDecoder::Status::Finished && d.data.size() == e.entry.unpackedSize),
                  std::string(name) + " flipped bit " + std::to_string(bit) + " ends cleanly");
        }
    }
}

// A solid entry needs the one before it decoded to its end in the same
// decoder; after a complete entry the stream goes on.
void solidChainRules()
{
    Opened o;
    check(open({"sharpcompress/Rar2.rar"}, o), "Rar2 opens");
    std::vector<const PackedEntry *> compressed;
    for (const PackedEntry &e : o.entries)
        if (legacy(e)) compressed.push_back(&e);
    if (compressed.size() < 2) {
        check(false, "two compressed entries");
        return;
    }
    const std::vector<uint8_t> first = compressed[0]->packedData(o.volumes);
    const std::vector<uint8_t> second = compressed[1]->packedData(o.volumes);

    rar::Rar20Decoder alone;
    check(!decode(alone, true, second, compressed[1]->entry.unpackedSize).begun, "solid entry alone refused");

    rar::Rar20Decoder cut;
    decode(cut, false, {first.begin(), first.begin() + ptrdiff_t(first.size() / 2)}, compressed[0]->entry.unpackedSize);
    check(!decode(cut, true, second, compressed[1]->entry.unpackedSize).begun, "solid entry after a failed one refused");

    // A new non-solid entry after a solid chain starts afresh.
    rar::Rar20Decoder chain;
    const Decoded a = decode(chain, false, first, compressed[0]->entry.unpackedSize);
    const Decoded b = decode(chain, false, second, compressed[1]->entry.unpackedSize);
    check(a.status == LegacyDecoder::Status::Finished && b.status == LegacyDecoder::Status::Finished &&
              verified(*compressed[1], b.data),
          "second entry through the same decoder");
}

// Bits most significant first, as the decoders read them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 0;  // bits used in the last byte
    void put(uint32_t value, unsigned count)
    {
        while (count-- > 0) {
            if (used == 0) bytes.push_back(0);
            if ((value >> count) & 1) bytes.back() |= uint8_t(0x80 >> used);
            used = (used + 1) & 7;
        }
    }
};

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
// before; and without its predecessor it is refused.
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
        check(d1.status == LegacyDecoder::Status::Finished && d1.data == first, "first file of the stream: " + d1.error);
        const Decoded d2 = decode(decoder, true, b.bytes, second.size(), piece);
        check(d2.status == LegacyDecoder::Status::Finished && d2.data == second,
              "solid file reaching into the one before, with the tables sent after it: " + d2.error);
    }
    rar::Rar20Decoder alone;
    check(!decode(alone, true, b.bytes, second.size()).begun, "solid file alone refused");
}

// Seeds for the fuzz target: a byte choosing the decoder and whether a solid
// second entry follows, three bytes of size, one of piece size, packed data.
int writeFuzzSeeds(const std::string &folder)
{
    int n = 0;
    for (const auto &parts : archives()) {
        Opened o;
        if (!open(parts, o)) continue;
        for (const PackedEntry &e : o.entries) {
            if (!legacy(e) || e.entry.unpackedSize >= 0x1000000) continue;
            std::vector<uint8_t> seed{uint8_t(e.entry.unpackVersion < 20 ? 0 : 1), uint8_t(e.entry.unpackedSize),
                                      uint8_t(e.entry.unpackedSize >> 8), uint8_t(e.entry.unpackedSize >> 16), 10};
            const std::vector<uint8_t> packed = e.packedData(o.volumes);
            seed.insert(seed.end(), packed.begin(), packed.end());
            FILE *f = std::fopen((folder + "/legacy-" + std::to_string(++n)).c_str(), "wb");
            if (!f) return 1;
            std::fwrite(seed.data(), 1, seed.size(), f);
            std::fclose(f);
        }
    }
    std::printf("%d seeds written\n", n);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds") return writeFuzzSeeds(argv[2]);
    fixturesDecodeByteExact();
    damagedInputFailsCleanly();
    solidChainRules();
    solidStreamCarriesWindowAndTables();
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
