// The RAR 2.9 decoder (LZ, PPMd and the standard filters) on real archives:
// every compressed entry of the RAR 4 fixtures checked against its stored
// CRC-32, solid ones entry after entry; on cut-off and damaged data; and on a
// stream written here with a filter program that is not a standard one.

#include "DecoderTestSupport.h"
#include "Rar3Decoder.h"

using rar::Rar3Decoder;

namespace {

Decoded decode(Rar3Decoder &decoder, uint64_t dictionary, bool solid, const std::vector<uint8_t> &packed,
               uint64_t unpackedSize, bool sizeKnown = true, size_t feedPiece = 4000)
{
    return drain(decoder, decoder.beginEntry(dictionary, solid, unpackedSize, sizeKnown), packed, feedPiece);
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

// Every compressed, unencrypted RAR 2.9 entry decodes to its stored CRC-32 and
// size, the entries of solid archives through one decoder in archive order.
// Among them are the ones the library reader got wrong: solid archives,
// several LZ blocks, PPMd blocks turning into LZ ones and back, low-distance
// repeats across a table change, volumes and split files.
void fixturesDecodeByteExact()
{
    int total = 0;
    forEachFixture('4', false, [&total](const std::string &label, const Opened &o) {
        Rar3Decoder decoder;
        bool chainBroken = false;  // by an encrypted entry of a solid stream
        for (const PackedEntry &e : o.entries) {
            if (!rar29(e) || (chainBroken && e.entry.solid)) continue;
            chainBroken = e.entry.encrypted;
            if (e.entry.encrypted) continue;
            const std::string what = label + " / " + e.entry.name;
            const Decoded d = decode(decoder, e, o.volumes);
            check(d.status == Status::Finished, what + ": " + d.error);
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
                check(u.status == Status::Finished && u.data == d.data, what + ": without size: " + u.error);
            }
            ++total;
        }
    });
    check(total >= 45, "compressed entries found in the fixtures: " + std::to_string(total));
}

// The audio fixture's filters cover 32 KiB stretches on 32 KiB boundaries of
// a file larger than its 4 MiB dictionary. Decoded with a window of an odd
// size, several stretches straddle the point where the window wraps; the
// output must not change.
void filterAcrossWindowEnd()
{
    Opened o;
    check(open({"rar/sharpcompress/Rar.Audio_program.rar"}, o) && o.walked && o.entries.size() == 1, "audio fixture");
    if (o.entries.size() != 1) return;
    const PackedEntry &e = o.entries.front();
    for (uint64_t window : {uint64_t(4) << 20, (uint64_t(4) << 20) + 12345}) {
        Rar3Decoder decoder;
        const Decoded d = decode(decoder, window, false, e.packedData(o.volumes), e.entry.unpackedSize, true, 65536);
        const std::string what = "window " + std::to_string(window);
        check(decoder.windowSize() == window && window < e.entry.unpackedSize, what + ": the window wraps");
        check(d.status == Status::Finished && verified(e, d.data), what + ": " + d.error);
    }
}

// Streams cut short fail as such, LZ and PPMd alike; streams with bits
// flipped, and every entry the damaged fixtures let the walker reach, end
// (failed, or finished with exactly their size).
void damagedInputFailsCleanly()
{
    Opened lz, ppmd;
    check(open({"rar/sharpcompress/Rar.rar"}, lz) && !lz.entries.empty(), "LZ fixture");
    check(open({"rar/libarchive/test_read_format_rar_ppmd_lzss_conversion.rar"}, ppmd) && !ppmd.entries.empty(),
          "PPMd fixture");
    for (const Opened *o : {&lz, &ppmd}) {
        if (o->entries.empty()) continue;
        const PackedEntry &e = o->entries.front();
        const std::vector<uint8_t> packed = e.packedData(o->volumes);
        cutAndFlipped(e.entry.name, packed, e.entry.unpackedSize,
                      {0, 1, 3, 1000, packed.size() / 2, packed.size() * 9 / 10}, o == &lz ? 97 : packed.size() * 8,
                      [&e](const std::vector<uint8_t> &data) {
                          Rar3Decoder decoder;
                          return decode(decoder, Rar3Decoder::dictionaryFromFlags(e.rar4Flags), false, data,
                                        e.entry.unpackedSize);
                      });
    }

    forEachFixture('4', true, [](const std::string &label, const Opened &o) {
        Rar3Decoder decoder;
        for (const PackedEntry &e : o.entries) {
            if (!rar29(e) || e.entry.encrypted) continue;
            const Decoded d = decode(decoder, e, o.volumes);
            check(d.status == Status::Failed || (d.status == Status::Finished && d.data.size() == e.entry.unpackedSize),
                  label + " / " + e.entry.name + " ends");
        }
    });
}

// Writes an LZ block whose main code gives all its symbols nine bits (so a
// symbol's code is its number): the literals, a filter record, the end of
// the file.
class LzStreamWriter : BitWriter {
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
    void literals(const std::vector<uint8_t> &text)
    {
        for (uint8_t b : text) put(b, 9);
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
        return bytes;
    }
};

// A filter program that is not one of the six standard ones is refused with
// a message, never run; the same stream without it decodes.
void unknownFilterProgramRefused()
{
    const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'f', 'i', 'l', 't', 'e', 'r'};
    // Flags: program number given, length given, record length in the next
    // byte (plus 7). Then program 1 (number 1), offset 0, length 4 and five
    // bytes of code whose first is the XOR of the others, the numbers in six
    // bits (a 2-bit tag of 0, then four).
    BitWriter bits;
    for (unsigned n : {1, 0, 4, 5}) bits.put(n, 6);
    for (uint8_t b : {0x11 ^ 0x22 ^ 0x33 ^ 0x44, 0x11, 0x22, 0x33, 0x44}) bits.put(b, 8);
    std::vector<uint8_t> record = {0xa6, uint8_t(bits.bytes.size() - 7)};
    record.insert(record.end(), bits.bytes.begin(), bits.bytes.end());

    LzStreamWriter plain;
    plain.literals(text);
    Rar3Decoder decoder;
    Decoded d = decode(decoder, 1 << 16, false, plain.finish(), text.size());
    check(d.status == Status::Finished && d.data == text, "written stream decodes: " + d.error);

    LzStreamWriter filtered;
    filtered.filterRecord(record);
    filtered.literals(text);
    d = decode(decoder, 1 << 16, false, filtered.finish(), text.size());
    check(d.status == Status::Failed && d.error.find("filter program") != std::string::npos,
          "unknown program refused: " + d.error);
    check(d.data.empty(), "nothing of the filtered stretch comes out");
}

}  // namespace

int main(int argc, char **argv)
{
    // Seeds: each non-solid compressed entry below 1 MiB packed.
    if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds")
        return writeFuzzSeeds(argv[2], '4', [](const PackedEntry &e) {
            if (!rar29(e) || e.entry.encrypted || e.entry.solid || e.entry.packedSize > (1 << 20)) return -1;
            return int(((e.rar4Flags >> 5) & 7) << 2) | (e.entry.unpackedSize < 0x1000000 ? 1 : 0);
        });
    fixturesDecodeByteExact();
    filterAcrossWindowEnd();
    damagedInputFailsCleanly();
    unknownFilterProgramRefused();
    return testResult();
}
