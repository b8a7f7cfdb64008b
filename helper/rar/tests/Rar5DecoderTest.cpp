// The RAR 5 decoder on real archives (every compressed entry of the fixture
// sets, checked against its stored CRC-32 or BLAKE2sp, solid ones entry after
// entry), on damaged and cut-off data, and on streams written here for what
// the fixtures do not show: a filter over the window's end and a dictionary
// claim far larger than the data.

#include "EntryVerifier.h"
#include "PackedEntries.h"
#include "Rar5Decoder.h"
#include "SlidingWindow.h"
#include "SyntheticRar5Stream.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using rar::Rar5Decoder;
using rar::Rar5Parameters;

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
    Rar5Decoder::Status status = Rar5Decoder::Status::Failed;
    std::string error;
    std::vector<uint8_t> data;
};

// Feeds the packed bytes in small pieces and reads in pieces of another size,
// as a caller reading volumes would; stops on anything but progress.
Decoded decode(Rar5Decoder &decoder, const Rar5Parameters &params, const std::vector<uint8_t> &packed,
               uint64_t unpackedSize, bool sizeKnown, size_t feedPiece = 1000)
{
    Decoded out;
    out.begun = decoder.beginEntry(params, unpackedSize, sizeKnown);
    size_t fed = 0;
    uint8_t buffer[4093];
    for (int rounds = 0; out.begun && rounds < 10000000; ++rounds) {
        const size_t n = decoder.read(buffer, sizeof buffer);
        out.data.insert(out.data.end(), buffer, buffer + n);
        if (decoder.status() != Rar5Decoder::Status::NeedInput) {
            if (decoder.status() == Rar5Decoder::Status::Ready) continue;
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

Rar5Parameters parameters(const PackedEntry &e)
{
    Rar5Parameters p;
    Rar5Parameters::fromCompressionInfo(e.compressionInfo, p);
    return p;
}

std::vector<std::string> paths(const std::vector<std::string> &names)
{
    std::vector<std::string> out;
    for (const auto &n : names) out.push_back(kFixtures + "/rar/" + n);
    return out;
}

struct Archive {
    std::vector<std::string> parts;
};

std::vector<std::string> numbered(const std::string &stem, int count, int width)
{
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i) {
        char n[16];
        std::snprintf(n, sizeof n, "%0*d", width, i);
        out.push_back(stem + n + ".rar");
    }
    return out;
}

const std::vector<Archive> &validArchives()
{
    static const std::vector<Archive> archives = [] {
        std::vector<Archive> a;
        for (const char *name : {"arm", "blake2", "compressed", "extra_field_version", "fileattr", "hardlink",
                                 "main_block_extra_bytes", "multiple_files", "multiple_files_solid", "owner",
                                 "skip_block_extra_bytes", "solid", "stored", "stored_manyfiles", "symlink",
                                 "unicode", "unsupported_exfld", "win32", "zip_in_rar"})
            a.push_back({{std::string("libarchive/test_read_format_rar5_") + name + ".rar"}});
        a.push_back({{"libarchive/test_read_format_rar5_sfx.exe"}});
        a.push_back({numbered("libarchive/test_read_format_rar5_multiarchive.part", 8, 2)});
        a.push_back({numbered("libarchive/test_read_format_rar5_multiarchive_solid.part", 4, 2)});
        for (const char *name : {"Large", "Rar.issue1050", "Rar5.comment", "Rar5.crc_blake2", "Rar5.none", "Rar5",
                                 "Rar5.solid"})
            a.push_back({{std::string("sharpcompress/") + name + ".rar"}});
        a.push_back({numbered("sharpcompress/Rar.multi.solid.part", 6, 2)});
        a.push_back({numbered("sharpcompress/Rar5.multi.part", 6, 2)});
        return a;
    }();
    return archives;
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
    for (const Archive &archive : validArchives()) {
        const std::string label = archive.parts.front();
        rarcontainer::VolumeSet volumes;
        std::string error;
        if (!volumes.open(paths(archive.parts), &error)) {
            check(false, label + ": cannot open: " + error);
            continue;
        }
        std::vector<PackedEntry> entries;
        check(packedEntries(volumes, entries, error), label + ": walk: " + error);
        Rar5Decoder decoder;
        int decoded = 0;
        for (const PackedEntry &e : entries) {
            if (!decodable(e)) continue;
            const std::string what = label + " / " + e.entry.name;
            const Rar5Parameters params = parameters(e);
            Decoded d = decode(decoder, params, e.packedData(volumes), e.entry.unpackedSize, !e.sizeUnknown);
            check(d.status == Rar5Decoder::Status::Finished, what + ": " + d.error);
            check(d.data.size() == e.entry.unpackedSize, what + ": size " + std::to_string(d.data.size()));
            rarcontainer::EntryVerifier verifier(e.entry);
            verifier.update(d.data.data(), d.data.size());
            check(verifier.finish(e.entry) == rarcontainer::EntryVerifier::Verdict::Match, what + ": checksum");
            if (!params.solid)
                check(decoder.windowSize() <= std::max<uint64_t>(e.entry.unpackedSize, 1),
                      what + ": window of " + std::to_string(decoder.windowSize()));
            ++decoded;
        }
        std::printf("%-60s %d compressed entries decoded\n", label.c_str(), decoded);
        total += decoded;
    }
    check(total > 40, "compressed entries found in the fixtures: " + std::to_string(total));
}

// A solid entry cannot be decoded alone: it fails at once with a message.
// A stream cut short or with bits flipped fails (or, for flips, at least
// ends); so does every entry the damaged fixtures let the walker reach.
void damagedInputFailsCleanly()
{
    rarcontainer::VolumeSet volumes;
    std::string error;
    check(volumes.open(paths({"sharpcompress/Rar5.solid.rar"}), &error), "open solid: " + error);
    std::vector<PackedEntry> entries;
    packedEntries(volumes, entries, error);
    std::vector<const PackedEntry *> files;
    for (const auto &e : entries)
        if (decodable(e)) files.push_back(&e);
    check(files.size() >= 3 && parameters(*files[2]).solid, "solid fixture has solid entries");
    if (files.size() >= 3) {
        Rar5Decoder alone;
        const Decoded d = decode(alone, parameters(*files[2]), files[2]->packedData(volumes), files[2]->entry.unpackedSize, true);
        check(!d.begun && d.status == Rar5Decoder::Status::Failed && !d.error.empty(), "solid entry alone refused");
    }

    // The first entry of a multi-block fixture, cut at several points.
    const PackedEntry &first = *files.front();
    const std::vector<uint8_t> packed = first.packedData(volumes);
    for (size_t cut : {size_t(0), size_t(1), size_t(3), packed.size() / 3, packed.size() / 2, packed.size() - 1}) {
        Rar5Decoder decoder;
        const std::vector<uint8_t> part(packed.begin(), packed.begin() + ptrdiff_t(cut));
        const Decoded d = decode(decoder, parameters(first), part, first.entry.unpackedSize, true);
        check(d.status == Rar5Decoder::Status::Failed && d.error.find("ends early") != std::string::npos,
              "cut at " + std::to_string(cut) + ": " + d.error);
        check(d.data.size() < first.entry.unpackedSize, "cut stream gives less than the file");
    }
    for (size_t bit = 0; bit < packed.size() * 8; bit += 7) {
        std::vector<uint8_t> flipped = packed;
        flipped[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
        Rar5Decoder decoder;
        const Decoded d = decode(decoder, parameters(first), flipped, first.entry.unpackedSize, true);
        check(d.status == Rar5Decoder::Status::Failed || d.status == Rar5Decoder::Status::Finished,
              "flipped bit " + std::to_string(bit) + " ends");
        if (d.status == Rar5Decoder::Status::Finished)
            check(d.data.size() == first.entry.unpackedSize, "a finished entry has its size");
    }

    std::set<std::string> valid;
    for (const Archive &a : validArchives())
        for (const auto &p : a.parts) valid.insert(p);
    DIR *dir = opendir((kFixtures + "/rar/libarchive").c_str());
    check(dir != nullptr, "fixture folder");
    int tried = 0;
    while (dirent *d = dir ? readdir(dir) : nullptr) {
        const std::string name = std::string("libarchive/") + d->d_name;
        if (name.find("rar5") == std::string::npos || valid.count(name) || name.find(".part") != std::string::npos)
            continue;
        rarcontainer::VolumeSet damaged;
        if (!damaged.open(paths({name}))) continue;
        std::vector<PackedEntry> found;
        packedEntries(damaged, found, error);
        Rar5Decoder decoder;
        for (const PackedEntry &e : found) {
            if (!decodable(e)) continue;
            const Decoded r = decode(decoder, parameters(e), e.packedData(damaged), e.entry.unpackedSize, !e.sizeUnknown);
            check(r.status == Rar5Decoder::Status::Failed || r.status == Rar5Decoder::Status::Finished,
                  name + " / " + e.entry.name + " ends");
            ++tried;
        }
    }
    if (dir) closedir(dir);
    std::printf("damaged fixtures: %d entries tried\n", tried);
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
    {
        std::vector<uint8_t> differences;
        for (unsigned c = 0; c < 3; ++c) {
            uint8_t previous = 0;
            for (size_t j = c; j < deltaLength; j += 3) {
                differences.push_back(uint8_t(previous - original[deltaStart + j]));
                previous = original[deltaStart + j];
            }
        }
        std::copy(differences.begin(), differences.end(), stream.begin() + deltaStart);
    }

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
        check(d.status == Rar5Decoder::Status::Finished, what + ": " + d.error);
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
    check(d.status == Rar5Decoder::Status::Finished && d.data == original, "1 GiB claim decodes: " + d.error);
    check(decoder.windowSize() == original.size(), "window no larger than the data");

    params.dictionarySize = uint64_t(64) << 30;
    Rar5Decoder unknownSize;
    const Decoded big = decode(unknownSize, params, packed, 0, false);
    check(!big.begun && big.error.find("dictionary") != std::string::npos, "64 GiB claim refused: " + big.error);
    Rar5Decoder knownSize;
    const Decoded small = decode(knownSize, params, packed, original.size(), true);
    check(small.status == Rar5Decoder::Status::Finished && small.data == original, "64 GiB claim over small data");
}

// Seeds for the decoder's fuzz target: each non-solid compressed entry of the
// valid fixtures, behind the five bytes the target reads its parameters from.
int writeFuzzSeeds(const std::string &folder)
{
    int n = 0;
    for (const Archive &archive : validArchives()) {
        rarcontainer::VolumeSet volumes;
        std::vector<PackedEntry> entries;
        std::string error;
        if (!volumes.open(paths(archive.parts), &error)) continue;
        packedEntries(volumes, entries, error);
        for (const PackedEntry &e : entries) {
            const Rar5Parameters params = parameters(e);
            if (!decodable(e) || params.solid) continue;
            unsigned power = 0;
            while (power < 7 && (uint64_t(0x20000) << power) < params.dictionarySize) ++power;
            const bool sized = !e.sizeUnknown && e.entry.unpackedSize < 0x1000000;
            std::vector<uint8_t> seed{uint8_t((power << 3) | (sized ? 2 : 0) | params.algorithm),
                                      uint8_t(e.entry.unpackedSize), uint8_t(e.entry.unpackedSize >> 8),
                                      uint8_t(e.entry.unpackedSize >> 16), 10};
            const std::vector<uint8_t> packed = e.packedData(volumes);
            seed.insert(seed.end(), packed.begin(), packed.end());
            FILE *f = std::fopen((folder + "/rar5-" + std::to_string(++n)).c_str(), "wb");
            if (!f) return 1;
            std::fwrite(seed.data(), 1, seed.size(), f);
            std::fclose(f);
        }
    }
    std::printf("%d seeds written\n", n);
    return 0;
}


// The window's copy paths (long and short, overlapping at every distance,
// across the window's end) and the bit reader's word loads near the end of
// its buffer, against byte-by-byte models of both.
void windowAndBitsAgainstModels()
{
    uint32_t seed = 7;
    const auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (const uint64_t size : {uint64_t(61), uint64_t(4096)}) {
        rar::SlidingWindow window;
        check(window.resize(size), "window of " + std::to_string(size));
        std::vector<uint8_t> model;
        int wrong = 0;
        for (int step = 0; step < 20000; ++step) {
            if (model.empty() || next() % 3 == 0) {
                const uint8_t byte = uint8_t(next());
                window.put(byte);
                model.push_back(byte);
                continue;
            }
            const uint64_t reach = std::min<uint64_t>(size, model.size());
            const uint64_t distance = next() % 4 ? 1 + next() % std::min<uint64_t>(reach, 20) : 1 + next() % reach;
            const uint64_t length = std::min<uint64_t>(next() % 4 ? 1 + next() % 40 : 1 + next() % 300, size);
            window.copyMatch(distance, length);
            for (uint64_t i = 0; i < length; ++i) model.push_back(model[model.size() - distance]);
            const uint64_t keep = std::min<uint64_t>(size, model.size());
            std::vector<uint8_t> got(keep);
            window.read(model.size() - keep, got.data(), size_t(keep));
            wrong += !std::equal(got.begin(), got.end(), model.end() - ptrdiff_t(keep));
        }
        check(wrong == 0, "window of " + std::to_string(size) + " matches its model (" + std::to_string(wrong) +
                              " differences)");
    }

    std::vector<uint8_t> bytes(40);
    for (uint8_t &b : bytes) b = uint8_t(next());
    const auto bit = [&bytes](uint64_t at) { return at / 8 < bytes.size() ? (bytes[at / 8] >> (7 - at % 8)) & 1 : 0; };
    rar::BitReader reader;
    reader.reset(bytes.data(), bytes.size());
    int wrong = 0;
    for (uint64_t at = 0; at < bytes.size() * 8 + 40; ++at) {
        reader.setPosition(at);
        uint64_t want = 0;
        for (unsigned i = 0; i < 45; ++i) want = want << 1 | uint64_t(bit(at + i));
        wrong += reader.peek32() != uint32_t(want >> 13);
        wrong += reader.wideBits(45) != want || reader.position() != at + 45;
    }
    check(wrong == 0, "bit reader matches its model near the buffer's end");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds") return writeFuzzSeeds(argv[2]);

    fixturesDecodeByteExact();
    damagedInputFailsCleanly();
    filterAcrossWindowEnd();
    dictionaryClaimFarAboveData();
    windowAndBitsAgainstModels();
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
