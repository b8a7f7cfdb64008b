#include "Rar4HeaderEncoder.h"

#include "ByteWriter.h"
#include "Crc32.h"
#include "RarWriteError.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <sys/stat.h>

namespace vorlo::rarwriter {

namespace {

constexpr std::string_view kMarker{"Rar!\x1A\x07\x00", 7};

enum BlockType : std::uint8_t { kMainBlock = 0x73, kFileBlock = 0x74, kEndBlock = 0x7B };

enum MainFlag : std::uint16_t { kVolume = 0x0001, kNumberedParts = 0x0010, kFirstVolume = 0x0100 };

enum FileFlag : std::uint16_t {
    kSplitBefore = 0x0001, kSplitAfter = 0x0002, kDirectoryEntry = 0x00E0,
    kLargeSizes = 0x0100, kUnicodeName = 0x0200, kHasAddSize = 0x8000
};

enum EndFlag : std::uint16_t { kNextVolume = 0x0001, kHasVolumeNumber = 0x0008 };

constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint8_t kVersionNeeded = 29;
constexpr std::uint8_t kMethodStore = 0x30;

// A base header: checksum, type, flags, size, then the type's own fields.
// The checksum is the low half of the CRC-32 of everything after it.
std::string block(std::uint8_t type, std::uint16_t flags, const ByteWriter &fields)
{
    const std::size_t size = 7 + fields.size();
    if (size > 0xFFFF)
        throw RarWriteError("a RAR 4 header cannot hold more than 65535 bytes (name too long?)");
    ByteWriter tail;
    tail.u8(type);
    tail.u16(flags);
    tail.u16(static_cast<std::uint16_t>(size));
    tail.bytes(fields.str());
    ByteWriter header;
    header.u16(static_cast<std::uint16_t>(Crc32::of(tail.str()) & 0xFFFF));
    header.bytes(tail.str());
    return header.str();
}

// The name field: plain bytes for an ASCII name; otherwise a byte-only
// stand-in, a zero byte and the UTF-16 name packed as the format's readers
// expect.
std::string encodeName(std::string_view utf8Name)
{
    const std::u16string units = utf8ToUtf16(utf8Name);
    if (std::all_of(units.begin(), units.end(), [](char16_t u) { return u < 0x80; }))
        return std::string(utf8Name);

    std::string out;
    for (char16_t u : units)
        out.push_back(u < 0x80 ? static_cast<char>(u) : '_');
    out.push_back('\0');

    // Characters whose high byte is 0 or the chosen "high byte" take one
    // byte each; the others take two. Pick the commonest high byte.
    std::array<std::size_t, 256> counts{};
    for (char16_t u : units)
        if (u >> 8)
            ++counts[u >> 8];
    std::uint8_t high = 0;
    for (unsigned h = 1; h < 256; ++h)
        if (counts[h] > counts[high])
            high = static_cast<std::uint8_t>(h);
    out.push_back(static_cast<char>(high));

    // Every four characters are preceded by a byte of four 2-bit modes,
    // first character in the top bits: 0 = low byte, high byte 0;
    // 1 = low byte, high byte `high`; 2 = both bytes follow.
    std::size_t flagsAt = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i % 4 == 0) {
            flagsAt = out.size();
            out.push_back('\0');
        }
        const std::uint8_t hi = units[i] >> 8;
        const unsigned mode = hi == 0 ? 0 : hi == high ? 1 : 2;
        out.push_back(static_cast<char>(units[i] & 0xFF));
        if (mode == 2)
            out.push_back(static_cast<char>(hi));
        out[flagsAt] = static_cast<char>(static_cast<std::uint8_t>(out[flagsAt]) | mode << (6 - 2 * (i % 4)));
    }
    return out;
}

// The MS-DOS date and time of a Unix time, in local time as RAR 4 keeps it.
std::uint32_t dosTime(std::int64_t unixTime)
{
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00, the earliest DOS time
    if (tm.tm_year > 207)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return static_cast<std::uint32_t>(tm.tm_year - 80) << 25 | static_cast<std::uint32_t>(tm.tm_mon + 1) << 21
        | static_cast<std::uint32_t>(tm.tm_mday) << 16 | static_cast<std::uint32_t>(tm.tm_hour) << 11
        | static_cast<std::uint32_t>(tm.tm_min) << 5 | static_cast<std::uint32_t>(tm.tm_sec / 2);
}

} // namespace

std::string Rar4HeaderEncoder::volumeStart(unsigned volumeIndex, bool multiVolume) const
{
    int flags = 0;
    if (multiVolume)
        flags = kVolume | kNumberedParts | (volumeIndex == 0 ? kFirstVolume : 0);
    ByteWriter fields;
    fields.u16(0); // reserved
    fields.u32(0); // reserved
    return std::string(kMarker) + block(kMainBlock, static_cast<std::uint16_t>(flags), fields);
}

std::string Rar4HeaderEncoder::entryHeader(const ArchiveEntry &entry, const DataPart &part) const
{
    const std::string name = encodeName(entry.name);
    const bool large = entry.size > 0xFFFFFFFFull;
    std::uint16_t flags = kHasAddSize;
    if (entry.directory)
        flags |= kDirectoryEntry;
    if (part.continuedFromPrevious)
        flags |= kSplitBefore;
    if (part.continuesInNext)
        flags |= kSplitAfter;
    if (large)
        flags |= kLargeSizes;
    if (name.size() != entry.name.size())
        flags |= kUnicodeName;

    ByteWriter fields;
    fields.u32(static_cast<std::uint32_t>(part.size));
    fields.u32(static_cast<std::uint32_t>(entry.size));
    fields.u8(kHostUnix);
    fields.u32(entry.directory ? 0 : part.crc);
    fields.u32(dosTime(entry.mtime));
    fields.u8(kVersionNeeded);
    fields.u8(kMethodStore);
    fields.u16(static_cast<std::uint16_t>(name.size()));
    fields.u32((entry.directory ? S_IFDIR : S_IFREG) | (entry.mode & 07777));
    if (large) {
        fields.u32(static_cast<std::uint32_t>(part.size >> 32));
        fields.u32(static_cast<std::uint32_t>(entry.size >> 32));
    }
    fields.bytes(name);
    return block(kFileBlock, flags, fields);
}

std::string Rar4HeaderEncoder::volumeEnd(unsigned volumeIndex, bool multiVolume, bool moreVolumes) const
{
    ByteWriter fields;
    std::uint16_t flags = 0;
    if (multiVolume) {
        flags |= kHasVolumeNumber | (moreVolumes ? kNextVolume : 0);
        fields.u16(static_cast<std::uint16_t>(volumeIndex));
    }
    return block(kEndBlock, flags, fields);
}

} // namespace vorlo::rarwriter
