#pragma once

#include "ArchiveEntry.h"
#include "ByteSource.h"
#include "HeaderEncoder.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace vorlo::rarwriter {

class OutputFile;

struct WriterOptions {
    RarFormat format = RarFormat::Rar5;
    // Largest size of one volume in bytes; 0 writes a single archive file.
    std::uint64_t volumeSize = 0;
    // Digits of the volume number: 1 gives name.part1.rar, 2 name.part01.rar.
    unsigned volumeDigits = 1;
    // name.rar, name.r00, name.r01... instead of name.partN.rar.
    bool oldVolumeNames = false;
};

// Writes a RAR archive of stored (uncompressed) entries, in the order they
// are added, streaming each file's contents straight to disk. With a volume
// size the archive is split into volumes, a file's data running on from one
// volume into the next as it must.
//
// Like the volumes of the usual archivers, every volume but the last ends
// inside a file's data: when the next header does not fit, the file before
// it is shortened by a byte that moves to the next volume. libarchive 3.6
// depends on it: at a volume boundary between two entries it stops (RAR 4)
// or fails (RAR 5).
class RarWriter {
public:
    RarWriter(std::filesystem::path archivePath, WriterOptions options = {});
    ~RarWriter();
    RarWriter(const RarWriter &) = delete;
    RarWriter &operator=(const RarWriter &) = delete;

    void addDirectory(const ArchiveEntry &entry);
    // Stores exactly entry.size bytes read from `contents`.
    void addFile(const ArchiveEntry &entry, ByteSource &contents);
    void addFile(ArchiveEntry entry, std::string_view contents);
    // Ends the archive; without it the last volume has no end header.
    void finish();

    const std::vector<std::filesystem::path> &volumePaths() const { return volumePaths_; }
    static std::filesystem::path volumePath(const std::filesystem::path &archivePath, unsigned index,
                                            const WriterOptions &options);

private:
    // The last piece of file data written to the current volume, with what
    // it takes to move its last byte into the next volume.
    struct Piece {
        ArchiveEntry entry;
        DataPart part;
        std::uint64_t headerOffset = 0;
        std::size_t headerSize = 0;
        std::uint32_t crcBeforeLastByte = 0;
        std::uint32_t wholeCrc = 0;
        char lastByte = 0;
    };

    void addEntry(const ArchiveEntry &entry, ByteSource *contents);
    void nextVolume();
    void writeHeaderOnly(const ArchiveEntry &entry, const DataPart &part);
    void lengthenLastVolume();
    void openVolume();
    void closeVolume(bool moreVolumes);
    std::uint64_t roomLeft() const;

    std::filesystem::path archivePath_;
    WriterOptions options_;
    std::unique_ptr<HeaderEncoder> encoder_;
    std::unique_ptr<OutputFile> volume_;
    std::vector<std::filesystem::path> volumePaths_;
    std::vector<char> buffer_;
    std::uint64_t volumeStartSize_ = 0;
    std::size_t endReserve_ = 0;
    bool finished_ = false;
    std::optional<Piece> lastPiece_;
    std::vector<ArchiveEntry> entriesAfterLastPiece_;
    // The piece that ends the previous volume and the piece that continues
    // it at the start of the current one, for lengthenLastVolume().
    std::optional<Piece> previousVolumeEnd_;
    std::optional<Piece> volumeStartPiece_;
};

} // namespace vorlo::rarwriter
