#include "Rar5HeaderEncoder.h"

#include "ByteWriter.h"
#include "Crc32.h"

#include <sys/stat.h>

namespace vorlo::rarwriter {

namespace {

constexpr std::string_view kSignature{"Rar!\x1A\x07\x01\x00", 8};

enum HeaderType : std::uint8_t { kMainHeader = 1, kFileHeader = 2, kEndHeader = 5 };

enum HeaderFlag : std::uint32_t { kHasDataArea = 0x0002, kDataFromPreviousVolume = 0x0008, kDataInNextVolume = 0x0010 };

enum ArchiveFlag : std::uint32_t { kVolume = 0x0001, kHasVolumeNumber = 0x0002 };
enum FileFlag : std::uint32_t { kDirectory = 0x0001, kHasUnixTime = 0x0002, kHasCrc = 0x0004 };
enum EndFlag : std::uint32_t { kNotLastVolume = 0x0001 };

constexpr std::uint32_t kHostUnix = 1;

// Frames a header body (type onwards) with its size and the CRC-32 that
// covers the size and the body.
std::string framed(const ByteWriter &body)
{
    ByteWriter sized;
    sized.vint(body.size());
    sized.bytes(body.str());
    ByteWriter header;
    header.u32(Crc32::of(sized.str()));
    header.bytes(sized.str());
    return header.str();
}

} // namespace

std::string Rar5HeaderEncoder::volumeStart(unsigned volumeIndex, bool multiVolume) const
{
    ByteWriter body;
    body.vint(kMainHeader);
    body.vint(0);
    std::uint32_t flags = 0;
    if (multiVolume)
        flags |= volumeIndex > 0 ? kVolume | kHasVolumeNumber : kVolume;
    body.vint(flags);
    if (flags & kHasVolumeNumber)
        body.vint(volumeIndex);
    return std::string(kSignature) + framed(body);
}

std::string Rar5HeaderEncoder::entryHeader(const ArchiveEntry &entry, const DataPart &part) const
{
    ByteWriter body;
    body.vint(kFileHeader);
    // Folders carry an empty data area too: readers expect the field.
    std::uint32_t headerFlags = kHasDataArea;
    if (part.continuedFromPrevious)
        headerFlags |= kDataFromPreviousVolume;
    if (part.continuesInNext)
        headerFlags |= kDataInNextVolume;
    body.vint(headerFlags);
    // Sized for the whole file, so that a piece's header is as long.
    ByteWriter whole;
    whole.vint(entry.size);
    body.vint(part.size, whole.size());

    const bool unixTime = entry.mtime >= 0 && entry.mtime <= 0xFFFFFFFFll;
    std::uint32_t fileFlags = entry.directory ? std::uint32_t{kDirectory} : std::uint32_t{kHasCrc};
    if (unixTime)
        fileFlags |= kHasUnixTime;
    body.vint(fileFlags);
    body.vint(entry.directory ? 0 : entry.size);
    body.vint((entry.directory ? S_IFDIR : S_IFREG) | (entry.mode & 07777));
    if (unixTime)
        body.u32(static_cast<std::uint32_t>(entry.mtime));
    if (fileFlags & kHasCrc)
        body.u32(part.crc);
    body.vint(0); // compression: version 0, method 0 (stored)
    body.vint(kHostUnix);
    body.vint(entry.name.size());
    body.bytes(entry.name);
    return framed(body);
}

std::string Rar5HeaderEncoder::volumeEnd(unsigned, bool multiVolume, bool moreVolumes) const
{
    ByteWriter body;
    body.vint(kEndHeader);
    body.vint(0);
    body.vint(multiVolume && moreVolumes ? std::uint32_t{kNotLastVolume} : 0u);
    return framed(body);
}

} // namespace vorlo::rarwriter
