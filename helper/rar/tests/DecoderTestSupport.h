#pragma once
// What the decoder tests share: checks that count their failures, the
// fixtures as the manifest lists them, with their packed entries found by the
// container layer's block walker (the decoder library itself knows nothing of
// the container), a decoder fed and read in pieces as a caller reading
// volumes would, and the seeds of the fuzz targets.

#include "BlockWalker.h"
#include "Bytes.h"
#include "EntryVerifier.h"
#include "PasswordGate.h"
#include "StreamingDecoder.h"
#include "VolumeSet.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

inline int failures = 0;
inline const std::string kFixtures = VORLO_FIXTURES_DIR;

inline void check(bool condition, const std::string &what)
{
    if (!condition) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

inline int testResult()
{
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}

using Status = rar::StreamingDecoder::Status;

struct Decoded {
    bool begun = false;
    Status status = Status::Failed;
    std::string error;
    std::vector<uint8_t> data;
};

// After beginEntry() (begun: what it said): feeds the packed bytes in pieces
// and reads in pieces of another size; stops on anything but progress.
inline Decoded drain(rar::StreamingDecoder &decoder, bool begun, const std::vector<uint8_t> &packed, size_t feedPiece)
{
    Decoded out;
    out.begun = begun;
    size_t fed = 0;
    uint8_t buffer[4093];
    for (int rounds = 0; begun && rounds < 10000000; ++rounds) {
        const size_t n = decoder.read(buffer, sizeof buffer);
        out.data.insert(out.data.end(), buffer, buffer + n);
        if (decoder.status() == Status::Ready) continue;
        if (decoder.status() != Status::NeedInput) break;
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

struct Fixture {
    std::vector<std::string> parts;  // below the fixtures folder
    char version = 0;                // '4' or '5'
    bool damaged = false;
};

// The manifest read line by line: its layout is fixed (one key a line).
inline const std::vector<Fixture> &fixtures()
{
    static const std::vector<Fixture> list = [] {
        std::vector<Fixture> out;
        std::ifstream in(kFixtures + "/manifest.json");
        bool inParts = false;
        const auto value = [](const std::string &line) {
            const size_t end = line.rfind('"'), start = line.rfind('"', end - 1);
            return line.substr(start + 1, end - start - 1);
        };
        for (std::string line; std::getline(in, line);) {
            if (line.find("\"archive\":") != std::string::npos) out.emplace_back();
            else if (line.find("\"parts\":") != std::string::npos) inParts = true;
            else if (inParts && line.find(']') != std::string::npos) inParts = false;
            else if (inParts) out.back().parts.push_back(value(line));
            else if (line.find("\"rar_version\":") != std::string::npos) out.back().version = value(line)[0];
            else if (line.find("\"damaged\":") != std::string::npos)
                out.back().damaged = line.find("null") == std::string::npos;
        }
        return out;
    }();
    return list;
}

// The compressed data of a file entry: where its parts lie in the volumes
// and what the header says about the compression.
struct PackedEntry {
    rarcontainer::Entry entry;
    uint64_t compressionInfo = 0;  // RAR 5
    uint32_t rar4Flags = 0;        // RAR 4: dictionary size and solid flag
    bool sizeUnknown = false;
    struct Part {
        size_t volume;
        uint64_t offset, size;
    };
    std::vector<Part> parts;

    std::vector<uint8_t> packedData(const rarcontainer::VolumeSet &volumes) const
    {
        std::vector<uint8_t> data;
        for (const Part &p : parts) {
            const size_t at = data.size();
            data.resize(at + size_t(p.size));
            if (!volumes.readAt(p.volume, p.offset, data.data() + at, size_t(p.size))) data.resize(at);
        }
        return data;
    }
};

// Every file entry in archive order, found with the container layer's block
// walker; false (with error set) when the walk stops on an error.
inline bool packedEntries(const rarcontainer::VolumeSet &volumes, std::vector<PackedEntry> &out, std::string &error)
{
    rarcontainer::PasswordGate gate(nullptr, std::nullopt);
    rarcontainer::BlockWalker walker(volumes, gate);
    rarcontainer::Block block;
    while (walker.next(block)) {
        if (block.kind != rarcontainer::Block::Kind::File) continue;
        if (block.splitBefore && !out.empty()) {
            out.back().parts.push_back({block.volume, block.dataOffset, block.dataSize});
            // Checksums belong to the last part.
            out.back().entry.hasCrc = block.entry.hasCrc;
            out.back().entry.crc = block.entry.crc;
            out.back().entry.hasBlake2 = block.entry.hasBlake2;
            out.back().entry.blake2 = block.entry.blake2;
            continue;
        }
        PackedEntry e;
        e.entry = block.entry;
        if (e.entry.formatVersion == 5) rarcontainer::readRar5Compression(block.header, e.compressionInfo, e.sizeUnknown);
        else e.rar4Flags = block.flags;
        e.parts.push_back({block.volume, block.dataOffset, block.dataSize});
        out.push_back(std::move(e));
    }
    error = walker.message();
    return walker.status() == rarcontainer::Status::Ok;
}

struct Opened {
    rarcontainer::VolumeSet volumes;
    std::vector<PackedEntry> entries;
    std::string error;
    bool walked = false;
};

inline bool open(const std::vector<std::string> &parts, Opened &o)
{
    std::vector<std::string> paths;
    for (const auto &p : parts) paths.push_back(kFixtures + "/" + p);
    if (!o.volumes.open(paths, &o.error)) return false;
    o.walked = packedEntries(o.volumes, o.entries, o.error);
    return true;
}

inline bool verified(const PackedEntry &e, const std::vector<uint8_t> &data)
{
    rarcontainer::EntryVerifier verifier(e.entry);
    verifier.update(data.data(), data.size());
    return verifier.finish(e.entry) == rarcontainer::EntryVerifier::Verdict::Match;
}

// Streams cut short fail as such and give less than the file; streams with
// bits flipped fail, or give exactly the file's size (the checksum judges).
// decode(packed) decodes one of them afresh.
template <typename Decode>
void cutAndFlipped(const std::string &what, const std::vector<uint8_t> &packed, uint64_t unpackedSize,
                   std::vector<size_t> cuts, size_t flipStep, Decode decode)
{
    for (size_t cut : cuts) {
        const Decoded d = decode(std::vector<uint8_t>(packed.begin(), packed.begin() + ptrdiff_t(cut)));
        check(d.status == Status::Failed && d.error.find("ends early") != std::string::npos,
              what + " cut at " + std::to_string(cut) + ": " + d.error);
        check(d.data.size() < unpackedSize, what + " cut at " + std::to_string(cut) + " gives less than the file");
    }
    for (size_t bit = 0; bit < packed.size() * 8; bit += flipStep) {
        std::vector<uint8_t> flipped = packed;
        flipped[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
        const Decoded d = decode(flipped);
        check(d.status == Status::Failed || (d.status == Status::Finished && d.data.size() == unpackedSize),
              what + " flipped bit " + std::to_string(bit) + " ends cleanly");
    }
}

// Bits most significant first, as the decoders read them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    uint64_t bit = 0;
    void put(uint32_t value, unsigned count)
    {
        while (count-- > 0) {
            if (bit % 8 == 0) bytes.push_back(0);
            if ((value >> count) & 1) bytes.back() |= uint8_t(0x80 >> (bit % 8));
            ++bit;
        }
    }
};

// Each archive of the fixtures of one RAR version, valid or damaged, opened
// and walked: visit(label, opened). Archives with encrypted headers show no
// entries and are passed over.
template <typename Visit>
void forEachFixture(char version, bool damaged, Visit visit)
{
    for (const Fixture &f : fixtures()) {
        if (f.version != version || f.damaged != damaged) continue;
        Opened o;
        const bool opened = open(f.parts, o);
        check(opened || damaged, f.parts.front() + ": cannot open: " + o.error);
        if (!opened || (!o.walked && o.entries.empty())) continue;
        check(o.walked || damaged, f.parts.front() + ": walk: " + o.error);
        visit(f.parts.front(), o);
    }
}

// Seeds for a fuzz target: the entries of the valid fixtures of one version
// for which choice(entry) gives the byte the target reads its parameters
// from (negative: none), then a 24-bit unpacked size, pieces of 161 bytes,
// and the packed data.
template <typename Choice>
int writeFuzzSeeds(const std::string &folder, char version, Choice choice)
{
    int n = 0;
    bool written = true;
    forEachFixture(version, false, [&](const std::string &, const Opened &o) {
        for (const PackedEntry &e : o.entries) {
            const int first = choice(e);
            if (first < 0) continue;
            const uint64_t size = e.entry.unpackedSize;
            std::vector<uint8_t> seed{uint8_t(first), uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), 10};
            const std::vector<uint8_t> packed = e.packedData(o.volumes);
            seed.insert(seed.end(), packed.begin(), packed.end());
            std::ofstream out(folder + "/" + std::to_string(++n), std::ios::binary);
            out.write(reinterpret_cast<const char *>(seed.data()), std::streamsize(seed.size()));
            written = written && bool(out);
        }
    });
    std::printf("%d seeds written\n", n);
    return written ? 0 : 1;
}
