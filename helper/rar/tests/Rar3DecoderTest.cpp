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
    return !e.entry.isDirectory && !e.entry.stored && e.entry.unpackVersion == 29;
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
            if (!e.entry.solid) {
                check(decoder.windowSize() <= std::max<uint64_t>(e.entry.unpackedSize, 1),
                      what + ": window of " + std::to_string(decoder.windowSize()));
                // Without the size (archives written from a pipe), the end
                // marker alone ends the file.
                Rar3Decoder unsized;
                const Decoded u = decode(unsized, Rar3Decoder::dictionaryFromFlags(e.rar4Flags), false,
                                         e.packedData(o.volumes), 0, false);
                check(u.status == Rar3Decoder::Status::Finished && u.data == d.data, what + ": without size: " + u.error);
            }
            ++decoded;
        }
        std::printf("%-64s %d entries decoded\n", label.c_str(), decoded);
        total += decoded;
    }
    for (const auto &s : skipped) std::printf("skipped: %s\n", s.c_str());
    if (only.empty()) check(total >= 45, "compressed entries found in the fixtures: " + std::to_string(total));
}

// The audio fixture's filters cover 32 KiB stretches on 32 KiB boundaries of
// a file larger than its 4 MiB dictionary. Decoded with a window of an odd
// size, several stretches straddle the point where the window wraps; the
// output must not change.
void filterAcrossWindowEnd()
{
    Opened o;
    check(open({"sharpcompress/Rar.Audio_program.rar"}, o) && o.walked && o.entries.size() == 1, "audio fixture");
    if (o.entries.size() != 1) return;
    const PackedEntry &e = o.entries.front();
    for (uint64_t window : {uint64_t(4) << 20, (uint64_t(4) << 20) + 12345}) {
        Rar3Decoder decoder;
        const Decoded d = decode(decoder, window, false, e.packedData(o.volumes), e.entry.unpackedSize, true, 65536);
        const std::string what = "window " + std::to_string(window);
        check(decoder.windowSize() == window && window < e.entry.unpackedSize, what + ": the window wraps");
        check(d.status == Rar3Decoder::Status::Finished && verified(e, d.data), what + ": " + d.error);
    }
}

// A solid entry cannot be decoded alone: it fails at once with a message.
// Streams cut short fail as such, LZ and PPMd alike; streams with bits
// flipped, and every entry the damaged fixtures let the walker reach, end
// (failed, or finished with exactly their size).
void damagedInputFailsCleanly()
{
    Opened solid;
    check(open({"sharpcompress/Rar.solid.rar"}, solid) && solid.entries.size() >= 3 && solid.entries[2].entry.solid,
          "solid fixture");
    if (solid.entries.size() >= 3) {
        Rar3Decoder alone;
        const Decoded d = decode(alone, solid.entries[2], solid.volumes);
        check(!d.begun && d.status == Rar3Decoder::Status::Failed && !d.error.empty(), "solid entry alone refused");
    }

    Opened lz, ppmd;
    check(open({"sharpcompress/Rar.rar"}, lz) && !lz.entries.empty(), "LZ fixture");
    check(open({"libarchive/test_read_format_rar_ppmd_lzss_conversion.rar"}, ppmd) && !ppmd.entries.empty(),
          "PPMd fixture");
    for (const Opened *o : {&lz, &ppmd}) {
        if (o->entries.empty()) continue;
        const PackedEntry &e = o->entries.front();
        const std::vector<uint8_t> packed = e.packedData(o->volumes);
        for (size_t cut : {size_t(0), size_t(1), size_t(3), size_t(1000), packed.size() / 2, packed.size() * 9 / 10}) {
            Rar3Decoder decoder;
            const Decoded d = decode(decoder, Rar3Decoder::dictionaryFromFlags(e.rar4Flags), false,
                                     {packed.begin(), packed.begin() + ptrdiff_t(cut)}, e.entry.unpackedSize);
            check(d.status == Rar3Decoder::Status::Failed && d.error.find("ends early") != std::string::npos,
                  e.entry.name + " cut at " + std::to_string(cut) + ": " + d.error);
            check(d.data.size() < e.entry.unpackedSize, "cut stream gives less than the file");
        }
    }

    if (!lz.entries.empty()) {
        const PackedEntry &e = lz.entries.front();
        const std::vector<uint8_t> packed = e.packedData(lz.volumes);
        for (size_t bit = 0; bit < packed.size() * 8; bit += 97) {
            std::vector<uint8_t> flipped = packed;
            flipped[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
            Rar3Decoder decoder;
            const Decoded d =
                decode(decoder, Rar3Decoder::dictionaryFromFlags(e.rar4Flags), false, flipped, e.entry.unpackedSize);
            check(d.status == Rar3Decoder::Status::Failed ||
                      (d.status == Rar3Decoder::Status::Finished && d.data.size() == e.entry.unpackedSize),
                  "flipped bit " + std::to_string(bit) + " ends");
        }
    }

    int tried = 0;
    for (const char *name :
         {"libarchive/test_read_format_rar_endarc_huge.rar", "libarchive/test_read_format_rar_invalid1.rar",
          "libarchive/test_read_format_rar_newsub_huge.rar", "libarchive/test_read_format_rar_newsub_rr_over_1m.rar",
          "libarchive/test_read_format_rar_overflow.rar", "libarchive/test_read_format_rar_ppmd_use_after_free.rar",
          "libarchive/test_read_format_rar_ppmd_use_after_free2.rar",
          "libarchive/test_read_format_rar_seek_data_cursor0.rar", "libarchive/test_read_format_rar_symlink_huge.rar",
          "libarchive/test_read_format_rar_unbound_staticdata.rar", "sharpcompress/Rar.malformed_512byte.rar",
          "sharpcompress/Rar.test_invalid_exttime.rar"}) {
        Opened o;
        if (!open({name}, o)) continue;
        Rar3Decoder decoder;
        for (const PackedEntry &e : o.entries) {
            if (!rar29(e) || e.entry.encrypted) continue;
            const Decoded d = decode(decoder, e, o.volumes);
            check(d.status == Rar3Decoder::Status::Failed ||
                      (d.status == Rar3Decoder::Status::Finished && d.data.size() == e.entry.unpackedSize),
                  std::string(name) + " / " + e.entry.name + " ends");
            ++tried;
        }
    }
    std::printf("damaged fixtures: %d entries tried\n", tried);
}

// Writes an LZ block whose main code gives all its symbols nine bits (so a
// symbol's code is its number): the literals, a filter record, the end of
// the file.
class LzStreamWriter {
public:
    LzStreamWriter()
    {
        put(0, 1);  // LZ
        put(0, 1);  // a fresh table
        for (int i = 0; i < 20; ++i) put(5, 4);  // every length code in five bits, numbered by its value
        for (int i = 0; i < 299; ++i) put(9, 5);
        put(19, 5);  // the other tables empty: a run of 11 + 94 zeros
        put(94, 7);
    }
    void literals(const std::vector<uint8_t> &bytes)
    {
        for (uint8_t b : bytes) put(b, 9);
    }
    void filterRecord(const std::vector<uint8_t> &record)
    {
        put(257, 9);
        for (uint8_t b : record) put(b, 8);
    }
    std::vector<uint8_t> finish()
    {
        put(256, 9);
        put(0, 2);  // end of file, tables kept
        return m_out;
    }

private:
    void put(uint32_t value, unsigned bits)
    {
        while (bits-- > 0) {
            if (m_bit % 8 == 0) m_out.push_back(0);
            if ((value >> bits) & 1) m_out.back() |= uint8_t(0x80 >> (m_bit % 8));
            ++m_bit;
        }
    }
    std::vector<uint8_t> m_out;
    uint64_t m_bit = 0;
};

// A filter program that is not one of the six standard ones is refused with
// a message, never run; the same stream without it decodes.
void unknownFilterProgramRefused()
{
    const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'f', 'i', 'l', 't', 'e', 'r'};
    // Flags: program number given, length given, record length in the next
    // byte (plus 7). Then program 1 (number 1), offset 0, length 4, and five
    // bytes of code whose first is the XOR of the others.
    const uint8_t code[5] = {0x11 ^ 0x22 ^ 0x33 ^ 0x44, 0x11, 0x22, 0x33, 0x44};
    std::vector<uint8_t> bits;
    const auto number4 = [&bits](unsigned v) {
        for (int i = 5; i >= 0; --i) bits.push_back(i >= 4 ? 0 : (v >> i) & 1);
    };
    number4(1);
    number4(0);
    number4(4);
    number4(5);
    for (uint8_t b : code)
        for (int i = 7; i >= 0; --i) bits.push_back((b >> i) & 1);
    std::vector<uint8_t> record = {0xa6, uint8_t(bits.size() / 8 - 7)};
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8; ++k) b = uint8_t(b << 1 | bits[i + k]);
        record.push_back(b);
    }

    LzStreamWriter plain;
    plain.literals(text);
    Rar3Decoder decoder;
    Decoded d = decode(decoder, 1 << 16, false, plain.finish(), text.size());
    check(d.status == Rar3Decoder::Status::Finished && d.data == text, "written stream decodes: " + d.error);

    LzStreamWriter filtered;
    filtered.filterRecord(record);
    filtered.literals(text);
    d = decode(decoder, 1 << 16, false, filtered.finish(), text.size());
    check(d.status == Rar3Decoder::Status::Failed && d.error.find("filter program") != std::string::npos,
          "unknown program refused: " + d.error);
    check(d.data.empty(), "nothing of the filtered stretch comes out");
}

// Seeds for the decoder's fuzz target: each non-solid compressed entry of the
// fixtures (below 1 MiB packed), behind the five bytes the target reads its
// parameters from.
int writeFuzzSeeds(const std::string &folder)
{
    int n = 0;
    for (const auto &parts : archives()) {
        Opened o;
        if (!open(parts, o)) continue;
        for (const PackedEntry &e : o.entries) {
            if (!rar29(e) || e.entry.encrypted || e.entry.solid || e.entry.packedSize > (1 << 20)) continue;
            const bool sized = e.entry.unpackedSize < 0x1000000;
            std::vector<uint8_t> seed{uint8_t((((e.rar4Flags >> 5) & 7) << 2) | (sized ? 1 : 0)),
                                      uint8_t(e.entry.unpackedSize), uint8_t(e.entry.unpackedSize >> 8),
                                      uint8_t(e.entry.unpackedSize >> 16), 10};
            const std::vector<uint8_t> packed = e.packedData(o.volumes);
            seed.insert(seed.end(), packed.begin(), packed.end());
            FILE *f = std::fopen((folder + "/rar3-" + std::to_string(++n)).c_str(), "wb");
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

    // An argument restricts the fixtures to those whose name contains it.
    fixturesDecodeByteExact(argc > 1 ? argv[1] : "");
    if (argc > 1) return failures ? 1 : 0;
    filterAcrossWindowEnd();
    damagedInputFailsCleanly();
    unknownFilterProgramRefused();
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
