#pragma once

#include "ArchiveEntry.h"
#include "ByteSource.h"
#include "HeaderEncoder.h"

#include <cstdint>
#include <filesystem>
#include <memory>
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
    void addEntry(const ArchiveEntry &entry, ByteSource *contents);
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
};

} // namespace vorlo::rarwriter
